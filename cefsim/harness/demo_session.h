#pragma once

#include <ostream>
#include <string>

#include "include/cef_app.h"

// One demo run of the renderer role: a page script in a simulated renderer
// around the program's application object, and a peer script playing the
// browser process, with a trace of everything that crosses between them.
namespace cefsim {

struct DemoOptions {
  std::string pageFile;  // empty: a blank page
  std::string peerFile;  // empty: nobody answers
  std::string url = "https://game.ui/";
  int timeoutSeconds = 30;  // 0: none
  // Long strings and binaries whole in the trace, not cut.
  bool fullTrace = false;
};

// Exit codes of a run.
inline constexpr int kDemoPassed = 0;
inline constexpr int kDemoExpectationFailed = 1;
inline constexpr int kDemoScriptError = 2;
inline constexpr int kDemoTimedOut = 124;

// Opens a browser on `options.url`, runs the page script as a task, then
// the peer script, then delivers messages and runs page tasks until nothing
// is left or the peer ends the run. Prints the trace to `out`; returns the
// exit code (peer.end's code, or one of the above).
int RunDemoRenderer(CefRefPtr<CefApp> application,
                    const DemoOptions& options,
                    std::ostream& out);

}  // namespace cefsim
