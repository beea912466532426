#include <string>
#include <vector>

#include "cefsim/process_roles.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "include/cef_app.h"
#include "include/cef_scheme.h"
#include "launcher/cef_launcher_application.h"

namespace {

using testing::ElementsAre;
using testing::Field;

constexpr char kRemoteOriginsSwitch[] =
    "--remote-allow-origins=http://127.0.0.1:9222";

int RunProcess(CefRefPtr<CefApp> application, std::vector<std::string> args) {
  args.insert(args.begin(), "cef-launcher");
  std::vector<char*> argv;
  for (std::string& arg : args) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
  return CefExecuteProcess(
      CefMainArgs(static_cast<int>(args.size()), argv.data()), application,
      nullptr);
}

class ApplicationTest : public testing::Test {
 protected:
  void TearDown() override { cefsim::ResetProcessState(); }
};

struct ProcessTypeCase {
  const char* name;
  std::vector<std::string> args;
};

class EveryProcessTypeTest
    : public ApplicationTest,
      public testing::WithParamInterface<ProcessTypeCase> {};

TEST_P(EveryProcessTypeTest, AppendsOriginSwitchAndRegistersBothSchemes) {
  CefRefPtr<CefLauncherApplication> application = new CefLauncherApplication();
  RunProcess(application, GetParam().args);

  const cefsim::ProcessRecord& record = cefsim::LastProcess();
  EXPECT_THAT(record.argvAfterCommandLineHook,
              testing::Contains(kRemoteOriginsSwitch));
  EXPECT_THAT(
      record.schemes,
      ElementsAre(
          testing::AllOf(Field(&cefsim::SchemeRegistration::name, "cef"),
                         Field(&cefsim::SchemeRegistration::options, 81),
                         Field(&cefsim::SchemeRegistration::accepted, true)),
          testing::AllOf(Field(&cefsim::SchemeRegistration::name, "vdfs"),
                         Field(&cefsim::SchemeRegistration::options, 81),
                         Field(&cefsim::SchemeRegistration::accepted, true))));
}

INSTANTIATE_TEST_SUITE_P(
    Application,
    EveryProcessTypeTest,
    testing::Values(ProcessTypeCase{"Renderer", {"--type=renderer"}},
                    ProcessTypeCase{"Gpu", {"--type=gpu-process"}},
                    ProcessTypeCase{
                        "NetworkUtility",
                        {"--type=utility",
                         "--utility-sub-type=network.mojom.NetworkService"}},
                    ProcessTypeCase{"Zygote", {"--type=zygote"}},
                    ProcessTypeCase{"Unknown", {"--type=something-new"}}),
    [](const testing::TestParamInfo<ProcessTypeCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(ApplicationTest, BrowserProcessRunsNoHook) {
  CefRefPtr<CefLauncherApplication> application = new CefLauncherApplication();
  EXPECT_EQ(RunProcess(application, {}), -1);
  EXPECT_TRUE(cefsim::LastProcess().hooks.empty());
  EXPECT_TRUE(cefsim::LastProcess().schemes.empty());
}

TEST_F(ApplicationTest, ExitCodeOfTheRoleIsReturnedUnchanged) {
  for (int code : {0, 3, -7, 255}) {
    cefsim::SetProcessRole("gpu-process",
                           [code](CefRefPtr<CefApp>) { return code; });
    CefRefPtr<CefLauncherApplication> application =
        new CefLauncherApplication();
    EXPECT_EQ(RunProcess(application, {"--type=gpu-process"}), code);
  }
  cefsim::SetProcessRole("gpu-process", nullptr);
}

TEST_F(ApplicationTest, IsItsOwnRenderProcessHandlerAndNothingElse) {
  CefRefPtr<CefLauncherApplication> application = new CefLauncherApplication();
  CefRefPtr<CefApp> app = application;
  CefRefPtr<CefRenderProcessHandler> handler = app->GetRenderProcessHandler();
  EXPECT_EQ(handler.get(),
            static_cast<CefRenderProcessHandler*>(application.get()));
  EXPECT_EQ(app->GetRenderProcessHandler().get(), handler.get());
  EXPECT_FALSE(app->GetBrowserProcessHandler());
  EXPECT_FALSE(app->GetResourceBundleHandler());
}

// Both bases share one count: the object lives while either view is held.
TEST_F(ApplicationTest, OneReferenceCountForBothInterfaces) {
  CefRefPtr<CefRenderProcessHandler> handler;
  {
    CefRefPtr<CefApp> app = new CefLauncherApplication();
    handler = app->GetRenderProcessHandler();
    EXPECT_FALSE(app->HasOneRef());
  }
  EXPECT_TRUE(handler->HasOneRef());
}

// Records calls and refuses the first, to show the second still happens.
class RefusingRegistrar : public CefSchemeRegistrar {
 public:
  bool AddCustomScheme(const CefString& scheme_name, int options) override {
    calls.push_back(scheme_name.ToString() + ":" + std::to_string(options));
    return calls.size() > 1;
  }
  std::vector<std::string> calls;
};

TEST_F(ApplicationTest, SecondSchemeIsRegisteredWhenTheFirstIsRefused) {
  CefRefPtr<CefLauncherApplication> application = new CefLauncherApplication();
  RefusingRegistrar registrar;
  application->OnRegisterCustomSchemes(&registrar);
  EXPECT_THAT(registrar.calls, ElementsAre("cef:81", "vdfs:81"));
}

}  // namespace
