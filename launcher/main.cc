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

int APIENTRY WinMain(HINSTANCE hInstance,
                     HINSTANCE /*hPrevInstance*/,
                     LPSTR /*lpCmdLine*/,
                     int /*nCmdShow*/) {
  return RunSubprocess(CefMainArgs(hInstance));
}

#else

int main(int argc, char* argv[]) {
  return RunSubprocess(CefMainArgs(argc, argv));
}

#endif
