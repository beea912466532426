// cefsim's browser process as CEF 130 runs one: start-up order and settings,
// windowless browsers through their life, pages loaded through scheme
// handler factories, and the places where CEF crashes or hangs.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "cefsim/browser_process.h"
#include "include/cef_app.h"
#include "include/cef_client.h"
#include "include/cef_scheme.h"
#include "include/cef_stream.h"
#include "include/cef_task.h"
#include "include/wrapper/cef_stream_resource_handler.h"

namespace {

using Calls = std::vector<std::string>;

class LambdaTask : public CefTask {
 public:
  explicit LambdaTask(std::function<void()> function)
      : task(std::move(function)) {}
  void Execute() override { task(); }

 private:
  std::function<void()> task;
  IMPLEMENT_REFCOUNTING(LambdaTask);
};

void PostUi(std::function<void()> task, int64_t delayMs = 0) {
  CefPostDelayedTask(TID_UI, new LambdaTask(std::move(task)), delayMs);
}

class BrowserApp : public CefApp, public CefBrowserProcessHandler {
 public:
  Calls calls;
  std::string browserCommandLine;
  std::vector<std::string> children;
  std::function<void()> contextReady;

  void OnBeforeCommandLineProcessing(
      const CefString& process_type,
      CefRefPtr<CefCommandLine> command_line) override {
    calls.push_back("OnBeforeCommandLineProcessing(" + process_type.ToString() +
                    ")");
    if (process_type.empty()) {
      browserCommandLine = command_line->GetCommandLineString().ToString();
    }
  }
  void OnRegisterCustomSchemes(
      CefRawPtr<CefSchemeRegistrar> registrar) override {
    calls.push_back("OnRegisterCustomSchemes");
    registrar->AddCustomScheme("app", CEF_SCHEME_OPTION_STANDARD |
                                          CEF_SCHEME_OPTION_CORS_ENABLED |
                                          CEF_SCHEME_OPTION_FETCH_ENABLED);
  }
  CefRefPtr<CefBrowserProcessHandler> GetBrowserProcessHandler() override {
    return this;
  }
  void OnContextInitialized() override {
    calls.push_back("OnContextInitialized");
    if (contextReady) {
      contextReady();
    }
  }
  void OnBeforeChildProcessLaunch(
      CefRefPtr<CefCommandLine> command_line) override {
    calls.push_back("OnBeforeChildProcessLaunch(" +
                    command_line->GetSwitchValue("type").ToString() + ")");
    children.push_back(command_line->GetCommandLineString().ToString());
  }

 private:
  IMPLEMENT_REFCOUNTING(BrowserApp);
};

// Records the events of its browsers; closes them on request.
class Client : public CefClient,
               public CefRenderHandler,
               public CefLifeSpanHandler,
               public CefLoadHandler,
               public CefDisplayHandler {
 public:
  Calls events;
  CefRect viewRect{0, 0, 800, 600};
  bool giveRenderHandler = true;
  std::vector<CefRefPtr<CefBrowser>> browsers;
  std::function<void(CefRefPtr<CefBrowser>)> afterLoad;
  std::function<void()> afterClose;

  CefRefPtr<CefRenderHandler> GetRenderHandler() override {
    return giveRenderHandler ? this : nullptr;
  }
  CefRefPtr<CefLifeSpanHandler> GetLifeSpanHandler() override { return this; }
  CefRefPtr<CefLoadHandler> GetLoadHandler() override { return this; }
  CefRefPtr<CefDisplayHandler> GetDisplayHandler() override { return this; }

  void GetViewRect(CefRefPtr<CefBrowser>, CefRect& rect) override {
    events.push_back("GetViewRect");
    rect = viewRect;
  }
  void OnPaint(CefRefPtr<CefBrowser>,
               PaintElementType,
               const RectList&,
               const void*,
               int,
               int) override {}

  void OnAfterCreated(CefRefPtr<CefBrowser> browser) override {
    events.push_back("OnAfterCreated");
    browsers.push_back(browser);
  }
  void OnBeforeClose(CefRefPtr<CefBrowser> browser) override {
    events.push_back("OnBeforeClose");
    for (auto it = browsers.begin(); it != browsers.end(); ++it) {
      if ((*it)->IsSame(browser)) {
        browsers.erase(it);
        break;
      }
    }
    if (afterClose) {
      afterClose();
    }
  }

  void OnLoadStart(CefRefPtr<CefBrowser>,
                   CefRefPtr<CefFrame> frame,
                   TransitionType) override {
    events.push_back("OnLoadStart " + frame->GetURL().ToString());
  }
  void OnLoadEnd(CefRefPtr<CefBrowser> browser,
                 CefRefPtr<CefFrame>,
                 int httpStatusCode) override {
    events.push_back("OnLoadEnd " + std::to_string(httpStatusCode));
    if (afterLoad) {
      afterLoad(browser);
    }
  }
  void OnLoadError(CefRefPtr<CefBrowser> browser,
                   CefRefPtr<CefFrame>,
                   ErrorCode errorCode,
                   const CefString& errorText,
                   const CefString& failedUrl) override {
    events.push_back("OnLoadError " + std::to_string(errorCode) + " " +
                     errorText.ToString() + " " + failedUrl.ToString());
    if (afterLoad) {
      afterLoad(browser);
    }
  }

  bool OnConsoleMessage(CefRefPtr<CefBrowser>,
                        cef_log_severity_t level,
                        const CefString& message,
                        const CefString& source,
                        int) override {
    events.push_back("console " + std::to_string(level) + " " +
                     message.ToString() + " @" + source.ToString());
    return true;
  }

 private:
  IMPLEMENT_REFCOUNTING(Client);
};

// Pages from memory, with a response shape per URL.
class Pages : public CefSchemeHandlerFactory {
 public:
  struct Page {
    int status = 200;
    std::string mimeType = "text/html";
    std::string body;
    CefResponse::HeaderMap headers;
    bool noHandler = false;
  };
  std::map<std::string, Page> pages;
  std::vector<std::string> created;

  CefRefPtr<CefResourceHandler> Create(CefRefPtr<CefBrowser>,
                                       CefRefPtr<CefFrame>,
                                       const CefString& scheme_name,
                                       CefRefPtr<CefRequest> request) override {
    const std::string url = request->GetURL().ToString();
    created.push_back(scheme_name.ToString() + " " + url);
    auto found = pages.find(url);
    if (found == pages.end() || found->second.noHandler) {
      return nullptr;
    }
    Page& page = found->second;
    return new CefStreamResourceHandler(
        page.status, "OK", page.mimeType, page.headers,
        CefStreamReader::CreateForData(page.body.data(), page.body.size()));
  }

 private:
  IMPLEMENT_REFCOUNTING(Pages);
};

class CefsimBrowserProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = std::filesystem::temp_directory_path() /
           ("cefsim-browser-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(root);
    app = new BrowserApp();
    client = new Client();
    pages = new Pages();
    cefsim::SetInProcessRenderer(nullptr);
  }
  void TearDown() override {
    CefShutdown();
    std::filesystem::remove_all(root);
  }

  CefSettings Settings() {
    CefSettings settings;
    settings.no_sandbox = true;
    settings.windowless_rendering_enabled = true;
    CefString(&settings.root_cache_path) = (root / "cache").string();
    CefString(&settings.log_file) = (root / "cef.log").string();
    settings.log_severity = LOGSEVERITY_WARNING;
    return settings;
  }

  bool Start(const CefSettings& settings) {
    static char program[] = "browser";
    static char* argv[] = {program, nullptr};
    return CefInitialize(CefMainArgs(1, argv), settings, app, nullptr);
  }

  // Opens `url` once the context is up, and runs the loop until the load
  // ends or fails and every browser has closed.
  void LoadAndClose(const std::string& url) {
    client->afterLoad = [](CefRefPtr<CefBrowser> browser) {
      browser->GetHost()->CloseBrowser(true);
    };
    client->afterClose = [] { CefQuitMessageLoop(); };
    app->contextReady = [this, url] {
      EXPECT_TRUE(CefRegisterSchemeHandlerFactory("app", "", pages));
      CefWindowInfo windowInfo;
      windowInfo.SetAsWindowless(kNullWindowHandle);
      EXPECT_TRUE(CefBrowserHost::CreateBrowser(
          windowInfo, client, url, CefBrowserSettings(), nullptr, nullptr));
    };
    ASSERT_TRUE(Start(Settings()));
    CefRunMessageLoop();
  }

  std::filesystem::path root;
  CefRefPtr<BrowserApp> app;
  CefRefPtr<Client> client;
  CefRefPtr<Pages> pages;
};

TEST_F(CefsimBrowserProcessTest, StartsInCefOrderWithSettingsAsSwitches) {
  ASSERT_TRUE(Start(Settings()));
  EXPECT_EQ(app->calls,
            (Calls{"OnBeforeCommandLineProcessing()", "OnRegisterCustomSchemes",
                   "OnBeforeChildProcessLaunch(renderer)",
                   "OnBeforeCommandLineProcessing(renderer)",
                   "OnRegisterCustomSchemes", "OnContextInitialized"}));
  // The settings are switches before the application's hook sees them.
  EXPECT_NE(app->browserCommandLine.find("--log-severity=warning"),
            std::string::npos)
      << app->browserCommandLine;
  EXPECT_NE(
      app->browserCommandLine.find("--log-file=" + (root / "cef.log").string()),
      std::string::npos);
  ASSERT_EQ(app->children.size(), 1u);
  EXPECT_NE(
      app->children[0].find("--user-data-dir=" + (root / "cache").string()),
      std::string::npos)
      << app->children[0];
  EXPECT_TRUE(std::filesystem::is_directory(root / "cache"));
  // A second call while running succeeds without doing anything.
  EXPECT_TRUE(Start(Settings()));
  EXPECT_EQ(app->calls.size(), 6u);
}

TEST_F(CefsimBrowserProcessTest, SettingsCefRejectsOrIgnores) {
  CefSettings badSize = Settings();
  badSize.size = 8;
  EXPECT_FALSE(Start(badSize));
  EXPECT_NE(CefGetExitCode(), 0);
  EXPECT_TRUE(app->calls.empty());

  // A relative subprocess path is logged and dropped: this program's own
  // application then runs the renderer.
  CefSettings relative = Settings();
  CefString(&relative.browser_subprocess_path) = "cef-launcher";
  ASSERT_TRUE(Start(relative));
  EXPECT_EQ(CefGetExitCode(), 0);
  bool logged = false;
  for (const std::string& line : cefsim::BrowserProcessLog()) {
    logged |=
        line.find("Relative paths are not supported") != std::string::npos;
  }
  EXPECT_TRUE(logged);
  EXPECT_NE(std::find(app->calls.begin(), app->calls.end(),
                      "OnBeforeCommandLineProcessing(renderer)"),
            app->calls.end());
}

TEST_F(CefsimBrowserProcessTest, SubprocessApplicationRunsTheRenderer) {
  CefRefPtr<BrowserApp> subprocess = new BrowserApp();
  cefsim::SetInProcessRenderer([subprocess] { return subprocess; });
  CefSettings settings = Settings();
  CefString(&settings.browser_subprocess_path) = (root / "helper").string();
  ASSERT_TRUE(Start(settings));
  EXPECT_EQ(subprocess->calls, (Calls{"OnBeforeCommandLineProcessing(renderer)",
                                      "OnRegisterCustomSchemes"}));
  ASSERT_EQ(app->children.size(), 1u);
  EXPECT_EQ(app->children[0].rfind((root / "helper").string(), 0), 0u);
}

TEST_F(CefsimBrowserProcessTest, PageLoadsThroughItsFactoryAndRunsScripts) {
  pages->pages["app://site/page.html"].body =
      "<html><head><script>console.log('first');</script></head>"
      "<body><script>console.warn('second');"
      "console.error('third');</script></body></html>";
  LoadAndClose("app://site/page.html");
  EXPECT_EQ(client->events, (Calls{"GetViewRect", "OnAfterCreated",
                                   "OnLoadStart app://site/page.html",
                                   "console 2 first @app://site/page.html",
                                   "console 3 second @app://site/page.html",
                                   "console 4 third @app://site/page.html",
                                   "OnLoadEnd 200", "OnBeforeClose"}));
  EXPECT_EQ(pages->created, (Calls{"app app://site/page.html"}));
  EXPECT_TRUE(client->browsers.empty());
}

TEST_F(CefsimBrowserProcessTest, FailedLoadsReportOnlyTheError) {
  struct Case {
    const char* url;
    bool noHandler;
    const char* expected;
  };
  const Case cases[] = {
      {"none://site/page.html", false,
       "OnLoadError -302 ERR_UNKNOWN_URL_SCHEME none://site/page.html"},
      {"app://site/null.html", true,
       "OnLoadError -302 ERR_UNKNOWN_URL_SCHEME app://site/null.html"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.url);
    client = new Client();
    app = new BrowserApp();
    pages = new Pages();
    if (test.noHandler) {
      pages->pages[test.url].noHandler = true;
    }
    LoadAndClose(test.url);
    EXPECT_EQ(client->events, (Calls{"GetViewRect", "OnAfterCreated",
                                     test.expected, "OnBeforeClose"}));
    CefShutdown();
  }
}

TEST_F(CefsimBrowserProcessTest, CreateBrowserRefusals) {
  CefWindowInfo windowInfo;
  windowInfo.SetAsWindowless(kNullWindowHandle);
  // Before CefInitialize there is no context.
  EXPECT_FALSE(CefBrowserHost::CreateBrowser(
      windowInfo, client, "app://x/", CefBrowserSettings(), nullptr, nullptr));
  EXPECT_FALSE(CefRegisterSchemeHandlerFactory("app", "", pages));
  ASSERT_TRUE(Start(Settings()));
  client->giveRenderHandler = false;
  EXPECT_FALSE(CefBrowserHost::CreateBrowser(
      windowInfo, client, "app://x/", CefBrowserSettings(), nullptr, nullptr));
}

TEST_F(CefsimBrowserProcessTest, QuitBeforeTheLoopRunsIsIgnored) {
  bool ran = false;
  app->contextReady = [&] {
    CefQuitMessageLoop();
    PostUi(
        [&] {
          ran = true;
          CefQuitMessageLoop();
        },
        5000);
  };
  ASSERT_TRUE(Start(Settings()));
  CefRunMessageLoop();
  EXPECT_TRUE(ran);
}

TEST_F(CefsimBrowserProcessTest, StandardSchemeFactoriesMatchTheirDomain) {
  CefRefPtr<Pages> other = new Pages();
  pages->pages["app://mine/a.html"].body = "<p>a</p>";
  other->pages["app://theirs/a.html"].body = "<p>b</p>";
  client->afterLoad = [](CefRefPtr<CefBrowser> browser) {
    browser->GetHost()->CloseBrowser(true);
  };
  int closed = 0;
  client->afterClose = [&] {
    if (++closed == 2) {
      CefQuitMessageLoop();
    }
  };
  app->contextReady = [&] {
    EXPECT_TRUE(CefRegisterSchemeHandlerFactory("APP", "Mine", pages));
    EXPECT_TRUE(CefRegisterSchemeHandlerFactory("app", "", other));
    CefWindowInfo windowInfo;
    windowInfo.SetAsWindowless(kNullWindowHandle);
    for (const char* url : {"app://mine/a.html", "app://theirs/a.html"}) {
      CefBrowserHost::CreateBrowser(windowInfo, client, url,
                                    CefBrowserSettings(), nullptr, nullptr);
    }
  };
  ASSERT_TRUE(Start(Settings()));
  CefRunMessageLoop();
  EXPECT_EQ(pages->created, (Calls{"app app://mine/a.html"}));
  EXPECT_EQ(other->created, (Calls{"app app://theirs/a.html"}));
}

// Registers each scheme with the options it is given (browser or renderer).
class SchemeApp : public BrowserApp {
 public:
  std::map<std::string, int> options;

  void OnRegisterCustomSchemes(
      CefRawPtr<CefSchemeRegistrar> registrar) override {
    for (const auto& [scheme, value] : options) {
      registrar->AddCustomScheme(scheme, value);
    }
  }

 private:
  IMPLEMENT_REFCOUNTING(SchemeApp);
};

// fetch() in a page follows Chromium's rules for custom schemes; each rule
// refuses on its own, with the console line Chromium prints.
TEST_F(CefsimBrowserProcessTest, FetchFollowsTheCustomSchemeRules) {
  constexpr int kAll = CEF_SCHEME_OPTION_STANDARD |
                       CEF_SCHEME_OPTION_CORS_ENABLED |
                       CEF_SCHEME_OPTION_FETCH_ENABLED;
  struct Case {
    const char* name;
    int rendererOptions;
    int browserOptions;
    const char* pageUrl;
    const char* allowOrigin;  // null: no header
    const char* expected;
  };
  const Case cases[] = {
      {"any origin allowed", kAll, kAll, "app://site/page.html", "*",
       "console 2 got {\"v\":1}"},
      {"this origin allowed", kAll, kAll, "app://site/page.html", "app://site",
       "console 2 got {\"v\":1}"},
      {"same origin needs no header", kAll, 0, "vault://store/page.html",
       nullptr, "console 2 got {\"v\":1}"},
      {"renderer without fetch", kAll & ~CEF_SCHEME_OPTION_FETCH_ENABLED, kAll,
       "app://site/page.html", "*",
       "console 4 Fetch API cannot load vault://store/x.json. URL scheme "
       "\"vault\" is not supported."},
      {"browser without cors", kAll, kAll & ~CEF_SCHEME_OPTION_CORS_ENABLED,
       "app://site/page.html", "*", "blocked by CORS policy: Cross origin"},
      {"no allow-origin header", kAll, kAll, "app://site/page.html", nullptr,
       "No 'Access-Control-Allow-Origin' header"},
      {"another origin allowed", kAll, kAll, "app://site/page.html",
       "app://other", "has a value 'app://other' that is not equal"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    client = new Client();
    CefRefPtr<SchemeApp> browserApp = new SchemeApp();
    browserApp->options = {{"app", kAll}, {"vault", test.browserOptions}};
    CefRefPtr<SchemeApp> rendererApp = new SchemeApp();
    rendererApp->options = {{"app", kAll}, {"vault", test.rendererOptions}};
    cefsim::SetInProcessRenderer([rendererApp] { return rendererApp; });
    pages = new Pages();
    const std::string script =
        "<script>fetch('vault://store/x.json').then((r) => r.text()).then("
        "(t) => console.log('got ' + t),"
        "(e) => console.log('refused ' + e.name + ': ' + e.message));"
        "</script>";
    pages->pages[test.pageUrl].body = script;
    Pages::Page& data = pages->pages["vault://store/x.json"];
    data.mimeType = "application/json";
    data.body = "{\"v\":1}";
    if (test.allowOrigin) {
      data.headers.insert(
          std::make_pair("Access-Control-Allow-Origin", test.allowOrigin));
    }
    browserApp->contextReady = [&] {
      CefRegisterSchemeHandlerFactory("app", "", pages);
      CefRegisterSchemeHandlerFactory("vault", "", pages);
      CefWindowInfo windowInfo;
      windowInfo.SetAsWindowless(kNullWindowHandle);
      CefBrowserHost::CreateBrowser(windowInfo, client, test.pageUrl,
                                    CefBrowserSettings(), nullptr, nullptr);
      PostUi(
          [this] {
            for (CefRefPtr<CefBrowser>& browser : client->browsers) {
              browser->GetHost()->CloseBrowser(true);
            }
          },
          1000);
    };
    client->afterClose = [] { CefQuitMessageLoop(); };
    app = browserApp.get();
    CefSettings settings = Settings();
    CefString(&settings.browser_subprocess_path) = (root / "helper").string();
    ASSERT_TRUE(Start(settings));
    CefRunMessageLoop();
    CefShutdown();
    std::string console;
    for (const std::string& event : client->events) {
      if (event.rfind("console", 0) == 0) {
        console += event + "\n";
      }
    }
    EXPECT_NE(console.find(test.expected), std::string::npos) << console;
    const bool refused =
        std::string(test.expected).find("got") == std::string::npos;
    EXPECT_EQ(
        console.find("refused TypeError: Failed to fetch") != std::string::npos,
        refused)
        << console;
  }
}

using CefsimBrowserProcessDeathTest = CefsimBrowserProcessTest;

TEST_F(CefsimBrowserProcessDeathTest, StopsWhereCefCrashesOrHangs) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  client->viewRect = CefRect(0, 0, 0, 600);
  EXPECT_DEATH(LoadAndClose("app://site/page.html"), "empty rect");
  EXPECT_DEATH(
      {
        Start(Settings());
        CefRunMessageLoop();
      },
      "wait forever");
  static char nothing = 0;
  EXPECT_DEATH(CefRefPtr<CefResourceHandler>(new CefStreamResourceHandler(
                   "text/html", CefStreamReader::CreateForData(&nothing, 0))),
               "null stream");
}

}  // namespace
