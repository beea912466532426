// Entry point of every subprocess: hands CEF the application object and
// returns CEF's exit code unchanged.

#include "include/cef_app.h"
#include "launcher/cef_launcher_application.h"

namespace {

int RunSubprocess(const CefMainArgs& args) {
  CefRefPtr<CefLauncherApplication> application = new CefLauncherApplication();
  const int exitCode = CefExecuteProcess(args, application, nullptr);
  application = nullptr;
  return exitCode;
}

}  // namespace

#if defined(_WIN32)

#include <windows.h>

#if !defined(_WIN64)
namespace {

// Whether RunOnPreferredStack ran, and what CefExecuteProcess returned
// there.
bool ranOnPreferredStack = false;
int preferredStackExitCode = 0;

// CEF's x86 executable settings reserve only 0.5 MiB of stack, and its main
// thread needs at least 1.5 MiB: CEF runs this on a 4 MiB fiber. CEF calls
// it, so nothing may throw out of it.
int APIENTRY RunOnPreferredStack(HINSTANCE hInstance,
                                 HINSTANCE /*hPrevInstance*/,
                                 LPWSTR /*lpCmdLine*/,
                                 int /*nCmdShow*/) noexcept {
  ranOnPreferredStack = true;
  preferredStackExitCode = RunSubprocess(CefMainArgs(hInstance));
  return preferredStackExitCode;
}

}  // namespace
#endif

int APIENTRY WinMain(HINSTANCE hInstance,
                     HINSTANCE /*hPrevInstance*/,
                     LPSTR /*lpCmdLine*/,
                     int nCmdShow) {
#if !defined(_WIN64)
  // Blocks until the function has run on the fiber and returns its result,
  // or returns -1 without running it when this thread already is a fiber:
  // then the process goes on below, on the stack it has. The result itself
  // cannot say which happened, as CEF's own may be -1.
  CefRunWinMainWithPreferredStackSize(RunOnPreferredStack, hInstance, nullptr,
                                      nCmdShow);
  if (ranOnPreferredStack) {
    return preferredStackExitCode;
  }
#endif
  return RunSubprocess(CefMainArgs(hInstance));
}

#else

int main(int argc, char* argv[]) {
  return RunSubprocess(CefMainArgs(argc, argv));
}

#endif
