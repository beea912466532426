#pragma once

#include <functional>
#include <string>
#include <vector>

#include "include/cef_app.h"

// The browser process CefInitialize starts: its UI thread is the calling
// thread, time is simulated and moves only when nothing else is left to
// run, and the renderer runs inside this process on the same thread.
namespace cefsim {

// The application the subprocess executable hands to CefExecuteProcess in a
// renderer. The renderer runs in this process, so the program embedding
// cefsim says what its subprocess would run; without it, a browser process
// with a browser_subprocess_path stops loudly at start-up.
using SubprocessApplication = std::function<CefRefPtr<CefApp>()>;
void SetInProcessRenderer(SubprocessApplication application);

// The lines the browser process wrote to its log (settings.log_file), in
// order, whatever the file; cleared by CefInitialize.
const std::vector<std::string>& BrowserProcessLog();

// The command lines the browser process launched children with, in order.
const std::vector<std::string>& LaunchedChildren();

}  // namespace cefsim
