// CefExecuteProcess as CEF 130 runs a sub-process: -1 and no hooks without a
// role, the hooks in CEF's order otherwise, then the role's exit code.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cefsim/process_roles.h"
#include "include/cef_app.h"

namespace {

using Hooks = std::vector<std::string>;

// Records every CEF call it gets; registers the schemes it is given.
class RecordingApp : public CefApp, public CefRenderProcessHandler {
 public:
  explicit RecordingApp(std::vector<std::string> schemesToAdd = {})
      : schemes(std::move(schemesToAdd)) {}

  Hooks calls;
  std::vector<std::string> schemes;
  std::vector<bool> schemeResults;
  bool giveHandler = true;
  CefRefPtr<CefCommandLine> keptCommandLine;
  CefRawPtr<CefSchemeRegistrar> keptRegistrar = nullptr;
  std::string globalDuringHook;

  // CefApp methods:
  void OnBeforeCommandLineProcessing(
      const CefString& process_type,
      CefRefPtr<CefCommandLine> command_line) override {
    calls.push_back("OnBeforeCommandLineProcessing(" + process_type.ToString() +
                    ")");
    keptCommandLine = command_line;
    command_line->AppendSwitchWithValue("added", "1");
    auto global = CefCommandLine::GetGlobalCommandLine();
    globalDuringHook = std::string(global->IsReadOnly() ? "read-only " : "") +
                       global->GetSwitchValue("added").ToString();
  }
  void OnRegisterCustomSchemes(
      CefRawPtr<CefSchemeRegistrar> registrar) override {
    calls.push_back("OnRegisterCustomSchemes");
    keptRegistrar = registrar;
    for (const std::string& scheme : schemes) {
      schemeResults.push_back(registrar->AddCustomScheme(scheme, 81));
    }
  }
  CefRefPtr<CefRenderProcessHandler> GetRenderProcessHandler() override {
    calls.push_back("GetRenderProcessHandler");
    return giveHandler ? this : nullptr;
  }
  CefRefPtr<CefBrowserProcessHandler> GetBrowserProcessHandler() override {
    calls.push_back("GetBrowserProcessHandler");
    return nullptr;
  }

  // CefRenderProcessHandler methods:
  void OnWebKitInitialized() override {
    calls.push_back("OnWebKitInitialized");
  }

  IMPLEMENT_REFCOUNTING(RecordingApp);
};

int ExecuteProcess(std::vector<std::string> args, CefRefPtr<CefApp> app) {
  std::vector<char*> argv;
  for (std::string& arg : args) {
    argv.push_back(arg.data());
  }
  CefMainArgs mainArgs(static_cast<int>(argv.size()), argv.data());
  return CefExecuteProcess(mainArgs, app, nullptr);
}

class ExecuteProcessTest : public testing::Test {
 protected:
  void TearDown() override {
    cefsim::SetProcessRole("utility", nullptr);
    cefsim::SetRendererRole(nullptr);
    cefsim::ResetProcessState();
  }
};

struct BrowserCase {
  const char* name;
  std::vector<std::string> args;
};

class BrowserProcessTest : public testing::TestWithParam<BrowserCase> {};

TEST_P(BrowserProcessTest, ReturnsMinusOneAndCallsNothing) {
  CefRefPtr<RecordingApp> app = new RecordingApp();
  EXPECT_EQ(ExecuteProcess(GetParam().args, app), -1);
  EXPECT_EQ(app->calls, Hooks());
  EXPECT_EQ(cefsim::LastProcess().hooks, Hooks());
  EXPECT_EQ(CefCommandLine::GetGlobalCommandLine(), nullptr);
}

const BrowserCase kBrowserCases[] = {
    {"NoType", {"cef-launcher.exe"}},
    {"EmptyType", {"cef-launcher.exe", "--type="}},
    {"NonAsciiType", {"cef-launcher.exe", "--type=r\xC3\xA9nderer"}},
    {"TypeAfterTerminator", {"cef-launcher.exe", "--", "--type=renderer"}},
    {"NoArguments", {}},
};

INSTANTIATE_TEST_SUITE_P(Table,
                         BrowserProcessTest,
                         testing::ValuesIn(kBrowserCases),
                         [](const auto& info) { return info.param.name; });

TEST_F(ExecuteProcessTest, RendererRunsHooksInCefOrder) {
  CefRefPtr<RecordingApp> app = new RecordingApp();
  EXPECT_EQ(ExecuteProcess({"cef-launcher.exe", "--type=renderer"}, app), 0);
  const Hooks expected = {"OnBeforeCommandLineProcessing(renderer)",
                          "OnRegisterCustomSchemes", "GetRenderProcessHandler",
                          "OnWebKitInitialized"};
  EXPECT_EQ(app->calls, expected);
  EXPECT_EQ(cefsim::LastProcess().hooks,
            (Hooks{"OnBeforeCommandLineProcessing(\"renderer\")",
                   "OnRegisterCustomSchemes", "GetRenderProcessHandler",
                   "OnWebKitInitialized"}));
  EXPECT_EQ(cefsim::LastProcess().type, "renderer");
}

TEST_F(ExecuteProcessTest, SwitchNameCaseDoesNotMatterOnWindows) {
  CefRefPtr<RecordingApp> app = new RecordingApp();
  ExecuteProcess({"cef-launcher.exe", "--TYPE=renderer"}, app);
  EXPECT_EQ(app->calls.back(), "OnWebKitInitialized");
}

TEST_F(ExecuteProcessTest, NullRenderHandlerSkipsTheEvent) {
  CefRefPtr<RecordingApp> app = new RecordingApp();
  app->giveHandler = false;
  ExecuteProcess({"cef-launcher.exe", "--type=renderer"}, app);
  EXPECT_EQ(app->calls.back(), "GetRenderProcessHandler");
}

TEST_F(ExecuteProcessTest, OtherRolesRunOnlyTheCommonHooks) {
  CefRefPtr<RecordingApp> app = new RecordingApp();
  EXPECT_EQ(ExecuteProcess({"cef-launcher.exe", "--type=gpu-process"}, app), 0);
  EXPECT_EQ(app->calls, (Hooks{"OnBeforeCommandLineProcessing(gpu-process)",
                               "OnRegisterCustomSchemes"}));
}

TEST_F(ExecuteProcessTest, CrashpadHandlerCallsNoHooks) {
  CefRefPtr<RecordingApp> app = new RecordingApp();
  EXPECT_EQ(
      ExecuteProcess({"cef-launcher.exe", "--type=crashpad-handler"}, app), 0);
  EXPECT_EQ(app->calls, Hooks());
}

TEST_F(ExecuteProcessTest, ExitCodeIsTheRolesResult) {
  CefRefPtr<RecordingApp> app = new RecordingApp();
  cefsim::SetProcessRole("utility", [](CefRefPtr<CefApp>) { return 7; });
  EXPECT_EQ(ExecuteProcess({"cef-launcher.exe", "--type=utility"}, app), 7);
  EXPECT_EQ(cefsim::LastProcess().result, 7);
}

TEST_F(ExecuteProcessTest, RendererRoleCanBeReplaced) {
  CefRefPtr<RecordingApp> app = new RecordingApp();
  cefsim::SetRendererRole([](CefRefPtr<CefApp> application) {
    application->GetRenderProcessHandler();
    application->GetRenderProcessHandler();
    return 3;
  });
  EXPECT_EQ(ExecuteProcess({"cef-launcher.exe", "--type=renderer"}, app), 3);
  EXPECT_EQ(app->calls.size(), 4u);
}

TEST_F(ExecuteProcessTest, NullApplicationIsAccepted) {
  EXPECT_EQ(ExecuteProcess({"cef-launcher.exe", "--type=renderer"}, nullptr),
            0);
  EXPECT_EQ(cefsim::LastProcess().hooks, Hooks());
}

TEST_F(ExecuteProcessTest, CommandLineHookGetsWritableGlobalDetachedAfter) {
  CefRefPtr<RecordingApp> app = new RecordingApp();
  ExecuteProcess({"cef-launcher.exe", "--type=utility"}, app);
  EXPECT_EQ(app->globalDuringHook, "read-only 1");
  EXPECT_FALSE(app->keptCommandLine->IsValid());
  EXPECT_FALSE(app->keptCommandLine->HasSwitch("type"));
  auto global = CefCommandLine::GetGlobalCommandLine();
  EXPECT_EQ(global->GetSwitchValue("added").ToString(), "1");
  EXPECT_EQ(cefsim::LastProcess().argvAfterCommandLineHook,
            (std::vector<std::string>{"cef-launcher.exe", "--type=utility",
                                      "--added=1"}));
}

TEST_F(ExecuteProcessTest, EachCallStartsFromAFreshProcess) {
  CefRefPtr<RecordingApp> first = new RecordingApp({"cef"});
  ExecuteProcess({"cef-launcher.exe", "--type=renderer", "--a"}, first);
  CefRefPtr<RecordingApp> second = new RecordingApp({"cef"});
  ExecuteProcess({"cef-launcher.exe", "--type=utility"}, second);
  EXPECT_EQ(second->schemeResults, std::vector<bool>{true});
  EXPECT_FALSE(CefCommandLine::GetGlobalCommandLine()->HasSwitch("a"));
  EXPECT_EQ(cefsim::LastProcess().type, "utility");
}

TEST_F(ExecuteProcessTest, SchemeRegistrationFollowsCefRules) {
  const std::vector<std::string> names = {"cef",
                                          "vdfs",
                                          "CEF",
                                          "http",
                                          "HTTPS",
                                          "ftp",
                                          "",
                                          "chrome",
                                          "blob",
                                          "ws",
                                          "chrome-extension",
                                          "My Scheme!",
                                          "\xC3\x84x",
                                          "\xC3\xA4x",
                                          "Data",
                                          "file",
                                          "javascript",
                                          "about"};
  CefRefPtr<RecordingApp> app = new RecordingApp(names);
  ExecuteProcess({"cef-launcher.exe", "--type=renderer"}, app);
  const std::vector<bool> expected = {true,  true,  false, false, false, true,
                                      false, false, false, false, false, true,
                                      true,  true,  false, false, false, false};
  EXPECT_EQ(app->schemeResults, expected);
  const auto& recorded = cefsim::LastProcess().schemes;
  ASSERT_EQ(recorded.size(), names.size());
  EXPECT_EQ(recorded[2].name, "CEF");
  EXPECT_EQ(recorded[0].options, 81);
}

TEST_F(ExecuteProcessTest, KeptRegistrarAbortsWhenUsed) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  CefRefPtr<RecordingApp> app = new RecordingApp();
  ExecuteProcess({"cef-launcher.exe", "--type=renderer"}, app);
  EXPECT_DEATH(app->keptRegistrar->AddCustomScheme("late", 0),
               "after OnRegisterCustomSchemes");
}

TEST_F(ExecuteProcessTest, TraceDescribesEachHook) {
  std::vector<std::string> lines;
  cefsim::SetTraceSink([&](const std::string& line) { lines.push_back(line); });
  CefRefPtr<RecordingApp> app = new RecordingApp({"cef"});
  ExecuteProcess({"cef-launcher.exe", "--type=utility"}, app);
  cefsim::SetTraceSink(nullptr);
  std::string all;
  for (const std::string& line : lines) {
    all += line + "\n";
  }
  EXPECT_NE(all.find("OnBeforeCommandLineProcessing(\"utility\")"),
            std::string::npos);
  EXPECT_NE(all.find("AddCustomScheme(\"cef\", 81) -> true"),
            std::string::npos);
  EXPECT_NE(all.find("exit code 0"), std::string::npos);
}

}  // namespace
