#pragma once

#include <memory>
#include <string>
#include <vector>

// The script problems of a demo run, with their place: uncaught errors and
// unhandled promise rejections, told apart by side. The browser side is
// script in a standalone context (RendererProcess::NewStandaloneContext);
// every other context is a page's.
namespace cefsim {

struct ScriptProblem {
  bool browserSide = false;
  std::string text;    // "Uncaught TypeError: ...", "Uncaught (in promise) ..."
  std::string script;  // the script's URL or file, as run
  int line = 0;        // 1-based; 0 when unknown
  std::string sourceLine;  // the line's text, when known
};

class ScriptProblemWatch {
 public:
  // Watches the isolate of this thread's renderer process. Stack frames of
  // `internalScript` (the browser side's own API) never count as the place
  // of a problem.
  explicit ScriptProblemWatch(const std::string& internalScript);
  // Must go before the renderer process does.
  ~ScriptProblemWatch();
  ScriptProblemWatch(const ScriptProblemWatch&) = delete;
  ScriptProblemWatch& operator=(const ScriptProblemWatch&) = delete;

  // Errors of one side that V8 reported as uncaught, in order.
  std::vector<ScriptProblem> TakeUncaughtErrors(bool browserSide);
  // Promises of one side rejected without a handler that still have none,
  // in order of rejection; a later handler no longer withdraws them.
  std::vector<ScriptProblem> TakeUnhandledRejections(bool browserSide);

  // Internal to cefsim (its V8 callbacks reach it).
  struct State;

 private:
  std::unique_ptr<State> state;
};

}  // namespace cefsim
