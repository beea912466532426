#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cefsim/transit.h"
#include "include/cef_app.h"
#include "include/cef_v8.h"

namespace v8 {
class Isolate;
class PromiseRejectMessage;
}  // namespace v8

// The simulated renderer process: one V8 isolate on the calling thread, the
// browsers and frames Blink would hold, and the render-process hooks CEF
// calls around them. The renderer harness drives it; program code only ever
// sees the CEF interfaces it hands out.
namespace cefsim {

class BrowserModel;
class FrameModel;
class IsolateManager;
struct WindowRecord;

// One frame to create: its parent is an index into the same list (-1 for
// the main frame, which must come first).
struct FrameSpec {
  std::string name;
  std::string url = "https://page.test/";
  int parent = -1;
  // A document with script gets its main-world context at load; one
  // without gets it only when something asks (GetV8Context, a script).
  bool runsScript = true;
  // The browser does not acknowledge the frame's connection until
  // RendererProcess::AcknowledgeConnection; what the frame sends meanwhile
  // waits in CEF's queue, and is lost if the frame goes first.
  bool holdConnection = false;
};

struct BrowserInfo {
  int id = 0;
  std::vector<std::string> frameIds;  // in FrameSpec order
};

// The outcome of page script run as a task.
struct ScriptOutcome {
  bool ok = false;
  CefRefPtr<CefV8Value> value;  // the completion value, bound to the context
  std::string exception;        // "Uncaught ..." when !ok
  int line = 0;
};

// What a focus change hands to OnFocusedNodeChanged: CEF passes an element
// or nothing, never another kind of node.
enum class FocusTarget { kElement, kNothing };

class RendererProcess {
 public:
  // Where messages sent by the renderer go: the browser side of a frame's
  // channel, in send order.
  using Outbox =
      std::function<void(const std::string& frameId, const WireMessage& wire)>;

  // Creates the isolate on this thread and calls OnWebKitInitialized.
  explicit RendererProcess(CefRefPtr<CefApp> application);
  // Closes every browser (releasing contexts), then disposes the isolate.
  ~RendererProcess();
  RendererProcess(const RendererProcess&) = delete;
  RendererProcess& operator=(const RendererProcess&) = delete;

  // The process of the calling thread (the render main thread), or null.
  static RendererProcess* Current();

  void SetOutbox(Outbox outbox) { this->outbox = std::move(outbox); }
  // Console lines also go here as they are written ("warn: ..."); the
  // browser process forwards them to the display handler.
  using ConsoleSink =
      std::function<void(const std::string& frameId, const std::string& line)>;
  void SetConsoleSink(ConsoleSink sink) { consoleSink = std::move(sink); }
  // What a page's fetch() got: a response, or a network error with the
  // line the page's console shows for it.
  struct FetchOutcome {
    bool failed = false;
    std::string consoleError;
    int status = 0;
    std::string statusText;
    std::string body;
  };
  // The browser process answers fetch() requests; without it fetch() stops
  // loudly.
  using FetchSink = std::function<FetchOutcome(const std::string& frameId,
                                               const std::string& url)>;
  void SetFetchSink(FetchSink sink) { fetchSink = std::move(sink); }
  FetchOutcome Fetch(const std::string& frameId, const std::string& url);

  // Browsers and frames. OnBrowserCreated fires, then the frames load.
  BrowserInfo OpenBrowser(const std::vector<FrameSpec>& frames,
                          CefRefPtr<CefDictionaryValue> extraInfo = nullptr);
  void CloseBrowser(int browserId);
  std::string AddFrame(const std::string& parentId, const FrameSpec& frameSpec);
  // Releases the frame's contexts (frame still valid meanwhile), detaches.
  void RemoveFrame(const std::string& frameId);
  // A cross-document navigation: child frames go, every context of the
  // frame is released, then the new document gets its context.
  void Navigate(const std::string& frameId, const std::string& url);
  // A navigation that swaps the RenderFrame (cross-site, or same-origin
  // under the back/forward cache): child frames go, the old document's
  // contexts are released, the old frame detaches (its CefFrame invalid,
  // its queue dropped), and a new frame with a new identifier takes its
  // place and gets its context. Returns the new frame's identifier.
  std::string NavigateWithSwap(const std::string& frameId,
                               const std::string& url);
  // The frame a swap replaced with `frameId`; empty if none.
  std::string SwappedOutFrame(const std::string& frameId) const;
  // The browser acknowledges a held connection (FrameSpec::holdConnection):
  // the frame's queued messages go out in order.
  void AcknowledgeConnection(const std::string& frameId);
  // A context of another world for the frame (content scripts and the
  // like); OnContextCreated fires for it too.
  void CreateIsolatedWorld(const std::string& frameId, int worldId);

  // A context of no frame in the same isolate, for script that plays the
  // browser side (a peer written in JavaScript). No hooks fire for it; it
  // lives until the process ends. Returned entered-free, like GetV8Context.
  CefRefPtr<CefV8Context> NewStandaloneContext();

  // Page script as one task in the frame's main world: Blink's script
  // runner, then the end-of-task microtask checkpoint.
  ScriptOutcome RunScript(const std::string& frameId,
                          const std::string& code,
                          const std::string& url = "",
                          int startLine = 1);
  // Runs queued page tasks (timers, posted tasks) until none is left.
  // Returns how many ran.
  int RunPendingTasks();
  bool HasPendingTasks() const { return !tasks.empty() || !timers.empty(); }
  // One page task: the first posted one, else the earliest timer due by
  // `untilMs` (the clock moves to its due time). False when none is due.
  bool RunNextTask(int64_t untilMs);
  // The simulated clock timers run on, in ms; it only moves forward.
  int64_t Now() const { return clockMs; }
  void AdvanceClock(int64_t timeMs) {
    clockMs = timeMs > clockMs ? timeMs : clockMs;
  }

  // Focus moves inside the frame's document (user input: no context).
  void ChangeFocus(const std::string& frameId,
                   FocusTarget target,
                   const std::string& tagName = "INPUT");

  // A message from the browser to a frame, as CEF delivers it: read-only,
  // no context current. Returns what the hook returned (CEF ignores it);
  // false when the frame is gone or there is no handler.
  bool DeliverMessage(const std::string& frameId, const WireMessage& wire);

  CefRefPtr<CefBrowser> Browser(int browserId);
  CefRefPtr<CefFrame> Frame(const std::string& frameId);
  // Console lines of a frame ("log: ...", "error: Uncaught ...").
  std::vector<std::string> Console(const std::string& frameId);
  // document.title of the frame's current document.
  void SetTitle(const std::string& frameId, const std::string& title);
  // CEF's error and warning log lines, in order.
  const std::vector<std::string>& Log() const;

  // Internal to cefsim: used by the frame, context and page-global code.
  IsolateManager* manager() const { return isolate.get(); }
  WindowRecord* EnsureMainWorld(FrameModel* frame);
  void SendFromFrame(FrameModel* frame, const WireMessage& wire);
  void PostTask(std::function<void()> task);
  // A timer on the simulated clock; RunPendingTasks advances the clock.
  int PostDelayedTask(std::function<void()> task, int64_t delayMs);
  void CancelDelayedTask(int timerId);
  void FocusFromScript(FrameModel* frame,
                       FocusTarget target,
                       const std::string& tagName);
  void AddConsoleLine(FrameModel* frame, const std::string& line);

 private:
  CefRefPtr<CefRenderProcessHandler> Handler();
  FrameModel* FindFrame(const std::string& frameId) const;
  FrameModel* AttachFrame(BrowserModel* browser,
                          FrameModel* parent,
                          const FrameSpec& frameSpec);
  WindowRecord* CreateContext(FrameModel* frame, int worldId);
  void ReleaseContext(FrameModel* frame, WindowRecord* window);
  void ReleaseAllContexts(FrameModel* frame);
  void DetachFrame(FrameModel* frame);
  void DispatchFocus(FrameModel* frame,
                     FocusTarget target,
                     const std::string& tagName);
  void Checkpoint();
  // Blink's rejected-promise bookkeeping (V8's promise-reject callback).
  struct UnhandledRejection;
  void OnPromiseRejected(v8::PromiseRejectMessage& message);
  static void OnMicrotasksCompleted(v8::Isolate* isolate, void* process);
  void PostRejectionReport();
  void ReportRejections(
      const std::vector<std::shared_ptr<UnhandledRejection>>& batch);

  CefRefPtr<CefApp> application;
  std::unique_ptr<IsolateManager> isolate;
  Outbox outbox;
  ConsoleSink consoleSink;
  FetchSink fetchSink;
  std::vector<CefRefPtr<BrowserModel>> browsers;
  struct Timer {
    int id = 0;
    int64_t due = 0;
    std::function<void()> task;
  };
  std::deque<std::function<void()>> tasks;
  std::vector<Timer> timers;
  int64_t clockMs = 0;
  int nextTimerId = 1;
  int nextBrowserId = 1;
  int nextFrameSerial = 1;
  std::vector<std::shared_ptr<UnhandledRejection>> unhandledRejections;
};

}  // namespace cefsim
