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

// CEF's x86 executable settings reserve only 0.5 MiB of stack, and its main
// thread needs at least 1.5 MiB: CEF runs this on a 4 MiB fiber. CEF calls
// it, so nothing may throw out of it.
int APIENTRY RunOnPreferredStack(HINSTANCE hInstance,
                                 HINSTANCE /*hPrevInstance*/,
                                 LPWSTR /*lpCmdLine*/,
                                 int /*nCmdShow*/) noexcept {
  return RunSubprocess(CefMainArgs(hInstance));
}

}  // namespace
#endif

int APIENTRY WinMain(HINSTANCE hInstance,
                     HINSTANCE /*hPrevInstance*/,
                     LPSTR /*lpCmdLine*/,
                     int nCmdShow) {
#if !defined(_WIN64)
  // -1: no fiber could be made, so run on the thread's own stack instead.
  const int fiberExitCode = CefRunWinMainWithPreferredStackSize(
      RunOnPreferredStack, hInstance, nullptr, nCmdShow);
  if (fiberExitCode >= 0) {
    return fiberExitCode;
  }
#endif
  return RunSubprocess(CefMainArgs(hInstance));
}

#else

int main(int argc, char* argv[]) {
  return RunSubprocess(CefMainArgs(argc, argv));
}

#endif
