// The conformance client's CEF host on cefsim's browser process, with the
// launcher as the renderer: pages load through its page server and reach the
// launcher, and what goes wrong with a page is reported by page name.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cefsim/browser_process.h"
#include "conformance/browser_events.h"
#include "conformance/real_cef_host.h"
#include "include/cef_app.h"
#include "launcher/cef_launcher_application.h"

namespace {

using Lines = std::vector<std::string>;

class HostApp : public CefApp, public CefBrowserProcessHandler {
 public:
  std::function<void()> contextReady;

  void OnRegisterCustomSchemes(
      CefRawPtr<CefSchemeRegistrar> registrar) override {
    const int options = CEF_SCHEME_OPTION_STANDARD |
                        CEF_SCHEME_OPTION_CORS_ENABLED |
                        CEF_SCHEME_OPTION_FETCH_ENABLED;
    registrar->AddCustomScheme("cef", options);
    registrar->AddCustomScheme("vdfs", options);
  }
  CefRefPtr<CefBrowserProcessHandler> GetBrowserProcessHandler() override {
    return this;
  }
  void OnContextInitialized() override {
    if (contextReady) {
      contextReady();
    }
  }

 private:
  IMPLEMENT_REFCOUNTING(HostApp);
};

class Events : public conformance::BrowserEvents {
 public:
  Lines messages;
  CefRefPtr<CefFrame> lastFrame;

  void OnProcessMessageReceived(CefRefPtr<CefBrowser>,
                                CefRefPtr<CefFrame> frame,
                                CefRefPtr<CefProcessMessage> message) override {
    lastFrame = frame;
    messages.push_back(message->GetName().ToString() + " from " +
                       frame->GetURL().ToString());
  }
  void OnFrameAttached(CefRefPtr<CefBrowser>,
                       CefRefPtr<CefFrame>,
                       bool) override {}
  void OnFrameDetached(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>) override {}
  void OnRenderProcessTerminated(CefRefPtr<CefBrowser>, int) override {}
};

class ConformanceHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = std::filesystem::temp_directory_path() /
           ("conformance-host-" + std::to_string(::getpid()));
    cefsim::SetInProcessRenderer(
        [] { return CefRefPtr<CefApp>(new CefLauncherApplication()); });
    client = new conformance::ConformanceClient();
    client->SetEvents(&events);
    client->SetDiagnostics(
        [this](const std::string& line) { diagnostics.push_back(line); });
    app = new HostApp();
  }
  void TearDown() override {
    events.lastFrame = nullptr;
    client->SetEvents(nullptr);
    client->DropBrowsers();
    CefShutdown();
    cefsim::SetInProcessRenderer(nullptr);
    std::filesystem::remove_all(root);
  }

  // Runs `start` once the context is up; every browser closes after
  // `closeAfterMs` of (simulated) time, then the loop ends.
  void Run(conformance::RealCefHost& host,
           std::function<void()> start,
           int64_t closeAfterMs = 1000) {
    app->contextReady = [&, start] {
      start();
      host.PostDelayed(
          [this] { client->CloseAll([] { CefQuitMessageLoop(); }); },
          closeAfterMs);
    };
    CefSettings settings;
    settings.no_sandbox = true;
    settings.windowless_rendering_enabled = true;
    CefString(&settings.browser_subprocess_path) =
        (root / "cef-launcher").string();
    CefString(&settings.root_cache_path) = (root / "cache").string();
    static char program[] = "conformance";
    static char* argv[] = {program, nullptr};
    ASSERT_TRUE(CefInitialize(CefMainArgs(1, argv), settings, app, nullptr));
    CefRunMessageLoop();
  }

  std::filesystem::path root;
  Events events;
  Lines diagnostics;
  CefRefPtr<conformance::ConformanceClient> client;
  CefRefPtr<HostApp> app;
};

TEST_F(ConformanceHostTest, PageReachesTheLauncherAndItsWarningsAreReported) {
  conformance::RealCefHost host(client, new conformance::PageServer(), "test");
  Run(host, [&] {
    EXPECT_TRUE(host.RegisterSchemeHandlers());
    host.OpenPage("values",
                  "console.log('quiet');\n"
                  "console.warn('careful');\n"
                  "conformance.ready('values');\n"
                  "undefinedFunction();\n");
  });
  ASSERT_FALSE(events.messages.empty());
  EXPECT_NE(events.messages[0].find("from cef://conformance/values.html"),
            std::string::npos)
      << events.messages[0];
  ASSERT_EQ(diagnostics.size(), 2u) << testing::PrintToString(diagnostics);
  EXPECT_EQ(diagnostics[0].rfind("page values: console warning: careful", 0),
            0u)
      << diagnostics[0];
  EXPECT_EQ(diagnostics[1].rfind("page values: console error: ", 0), 0u)
      << diagnostics[1];
  EXPECT_NE(diagnostics[1].find("undefinedFunction"), std::string::npos);
}

TEST_F(ConformanceHostTest, LoadErrorsAndRefusalsNameThePage) {
  conformance::RealCefHost host(client, new conformance::PageServer(), "test");
  // Before CefInitialize CEF refuses both.
  EXPECT_FALSE(host.RegisterSchemeHandlers());
  host.OpenPage("early", "");
  // Without the page server the scheme has no handler.
  Run(host, [&] { host.OpenPage("values", "conformance.ready('values');"); });
  EXPECT_EQ(diagnostics,
            (Lines{"CefRegisterSchemeHandlerFactory(\"cef\") failed: its pages "
                   "cannot load",
                   "CefRegisterSchemeHandlerFactory(\"vdfs\") failed: its "
                   "pages cannot load",
                   "page early: CefBrowserHost::CreateBrowser failed",
                   "page values: load of cef://conformance/values.html failed: "
                   "ERR_UNKNOWN_URL_SCHEME (-302)"}));
  EXPECT_TRUE(events.messages.empty());
}

// A launcher that registers its schemes without letting fetch() use them.
class NoFetchApplication : public CefLauncherApplication {
 public:
  void OnRegisterCustomSchemes(
      CefRawPtr<CefSchemeRegistrar> registrar) override {
    const int options =
        CEF_SCHEME_OPTION_STANDARD | CEF_SCHEME_OPTION_CORS_ENABLED;
    registrar->AddCustomScheme("cef", options);
    registrar->AddCustomScheme("vdfs", options);
  }
};

TEST_F(ConformanceHostTest, DataFetchFailsWhenTheLauncherLeavesOutFetch) {
  struct Case {
    bool faulty;
    const char* expected;
  };
  const Case cases[] = {
      {false, "page schemes: console warning: got from vdfs"},
      {true,
       "page schemes: console error: Fetch API cannot load "
       "vdfs://conformance-data/data.json."},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.faulty ? "without fetch" : "as shipped");
    diagnostics.clear();
    if (test.faulty) {
      cefsim::SetInProcessRenderer(
          [] { return CefRefPtr<CefApp>(new NoFetchApplication()); });
    }
    conformance::RealCefHost host(client, new conformance::PageServer(),
                                  "test");
    Run(host, [&] {
      host.RegisterSchemeHandlers();
      host.OpenPage("schemes",
                    "fetch('vdfs://conformance-data/data.json')"
                    ".then((r) => r.json())"
                    ".then((d) => console.warn('got ' + d.served));\n");
    });
    CefShutdown();
    ASSERT_FALSE(diagnostics.empty());
    EXPECT_EQ(diagnostics[0].rfind(test.expected, 0), 0u)
        << testing::PrintToString(diagnostics);
  }
}

// The host's Navigate loads the next page into the same frame, through the
// page server, and the launcher answers from the new document.
TEST_F(ConformanceHostTest, NavigateLoadsTheNextPageIntoTheFrame) {
  conformance::RealCefHost host(client, new conformance::PageServer(), "test");
  Run(
      host,
      [&] {
        host.RegisterSchemeHandlers();
        host.OpenPage("first", "conformance.ready('first');\n");
        host.PostDelayed(
            [&] {
              ASSERT_TRUE(events.lastFrame);
              host.Navigate(events.lastFrame, "second",
                            "conformance.ready('second');\n");
            },
            500);
      },
      2000);
  ASSERT_GE(events.messages.size(), 2u);
  EXPECT_NE(events.messages.front().find("cef://conformance/first.html"),
            std::string::npos);
  EXPECT_NE(events.messages.back().find("cef://conformance/second.html"),
            std::string::npos);
  EXPECT_TRUE(diagnostics.empty()) << testing::PrintToString(diagnostics);
}

TEST(ConformanceHostPageName, NamesScenarioPagesOnly) {
  struct Case {
    const char* url;
    const char* name;
  };
  const Case cases[] = {
      {"cef://conformance/values.html", "values"},
      {"cef://conformance/ids-child.html?x=1#y", "ids-child"},
      {"vdfs://data/values.json", "vdfs://data/values.json"},
      {"cef://conformance/", "cef://conformance/"},
  };
  for (const Case& test : cases) {
    EXPECT_EQ(conformance::ScenarioPageName(test.url), test.name) << test.url;
  }
}

}  // namespace
