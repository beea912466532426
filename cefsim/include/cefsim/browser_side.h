#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cefsim/transit.h"
#include "include/cef_client.h"
#include "include/cef_task.h"

// The browser process's view of a simulated renderer: browser-side
// CefBrowser and CefFrame objects for the renderer's browsers and frames, a
// CefClient per browser that gets the renderer's messages, frame and
// render-process notifications, and the UI thread's task queue on the
// simulated clock. Everything runs on the thread that made it (its UI
// thread); messages travel one step at a time, when Pump runs. Tasks may be
// posted from any thread (CefPostTask).
namespace cefsim {

class RendererProcess;
class BrowserSideBrowser;
class BrowserSideFrame;

// What a browser process adds to the browser side: the host calls and
// frame commands that need more than the message channel. Without one they
// stop loudly, as before.
class BrowserHostDelegate {
 public:
  virtual ~BrowserHostDelegate() = default;
  virtual void CloseBrowser(int browserId, bool forceClose) = 0;
  virtual void SetFocus(int browserId, bool focus) = 0;
  virtual void LoadUrl(const std::string& frameId, const std::string& url) = 0;
  virtual void ExecuteJavaScript(const std::string& frameId,
                                 const std::string& code,
                                 const std::string& scriptUrl,
                                 int startLine) = 0;
};

class BrowserSide {
 public:
  // Becomes TID_UI (CefPostTask, CefCurrentlyOn) on this thread until
  // destroyed; with several alive, the newest is. Other threads post to the
  // newest of all threads.
  explicit BrowserSide(RendererProcess& process);
  ~BrowserSide();
  BrowserSide(const BrowserSide&) = delete;
  BrowserSide& operator=(const BrowserSide&) = delete;

  // The client of browsers the renderer opens from now on (CEF takes the
  // client at CreateBrowser). Null: messages from them go nowhere.
  void SetClient(CefRefPtr<CefClient> client);

  // The renderer opened a browser (RendererProcess::OpenBrowser): the
  // browser side creates it and its frames now.
  void BrowserOpened(int browserId);

  // Brings the browser side up to date with the renderer's browsers and
  // frames: new ones are created and attached, vanished ones detached
  // (sub-frames first), with the CefFrameHandler notifications CEF sends.
  void SyncFrames();

  // Browser-side objects, new wrappers per call as CEF's C++ wrapper hands
  // out. Null when unknown, closed or detached.
  CefRefPtr<CefBrowser> Browser(int browserId);
  CefRefPtr<CefFrame> Frame(const std::string& frameId);

  // The renderer sent `wire` from a frame: queued for the client.
  void FromRenderer(const std::string& frameId, const WireMessage& wire);
  // A browser-side frame sent `wire`: queued for the renderer.
  void ToRenderer(const std::string& frameId, const WireMessage& wire);
  // Delivers what is queued in both directions, in order, and runs UI tasks
  // due now. Returns how many things happened.
  int Pump();

  // The renderer committed a new document in a frame that stays (same
  // RenderFrameHost): the client's load handler hears OnLoadStart once what
  // the renderer sent before it has been delivered.
  void DocumentCommitted(const std::string& frameId);

  // The renderer process ends abnormally: nothing more is delivered either
  // way, frames stay valid but sends to them are dropped, and each browser's
  // request handler hears OnRenderProcessTerminated.
  void TerminateRenderer(cef_termination_status_t status);
  bool RendererTerminated() const { return terminated; }

  // UI-thread tasks on the renderer's simulated clock. Any thread; a task
  // posted from another thread counts its delay from when the UI thread
  // takes it in (at its next Pump, RunDueTasks or NextTaskDue).
  void PostTask(CefRefPtr<CefTask> task, int64_t delayMs);
  // The due time of the earliest delayed task, if any.
  std::optional<int64_t> NextTaskDue();
  // Runs the tasks due at the current time; returns how many ran.
  int RunDueTasks();

  // Whether the renderer's hook handled the last message delivered to it
  // (false when none was, or it was dropped). CEF never tells the browser;
  // tests of the renderer read it.
  bool LastDeliveryHandled() const { return lastDeliveryHandled; }
  void ForgetLastDelivery() { lastDeliveryHandled = false; }

  // What the browser side dropped, as CEF logs it ("dropped ...").
  const std::vector<std::string>& Log() const { return log; }

  // The browser process's part, if one runs (null: none).
  void SetHostDelegate(BrowserHostDelegate* delegate) {
    hostDelegate = delegate;
  }
  BrowserHostDelegate* HostDelegate() const { return hostDelegate; }
  // A navigation of the frame committed: its browser-side URL follows.
  void CommitUrl(const std::string& frameId, const std::string& url);

  // Internal to cefsim.
  struct Task {
    int64_t due = 0;
    uint64_t order = 0;
    CefRefPtr<CefTask> task;
  };
  RendererProcess& renderer() { return process; }
  void AddLog(const std::string& line) { log.push_back(line); }
  static BrowserSide* Current();
  // CefPostDelayedTask to TID_UI from any thread: to this thread's browser
  // side, else to the newest of all. False when none is alive.
  static bool PostToUi(CefRefPtr<CefTask> task, int64_t delayMs);

 private:
  struct Queued {
    std::string frameId;
    WireMessage wire;
    bool toRenderer = false;
    bool loadStart = false;  // not a message: the frame's OnLoadStart
  };

  void Detach(BrowserSideFrame* frame);
  // A browser-side frame for the renderer's frame, not yet listed.
  CefRefPtr<BrowserSideFrame> MakeFrame(BrowserSideBrowser* browser,
                                        const std::string& frameId);
  void SyncSwaps();
  // The one place that tells the client's load handler of a commit.
  void NotifyLoadStart(BrowserSideBrowser* browser,
                       BrowserSideFrame* frame,
                       cef_transition_type_t transition);
  // Tasks other threads posted, onto the simulated clock.
  void TakeIncoming();

  RendererProcess& process;
  CefRefPtr<CefClient> client;
  std::vector<int> openedBrowsers;
  std::vector<CefRefPtr<BrowserSideBrowser>> browsers;
  std::deque<Queued> queue;
  std::vector<Task> tasks;  // a heap: the next to run first
  // Posted from other threads, guarded by the process-wide lock.
  std::vector<std::pair<CefRefPtr<CefTask>, int64_t>> incoming;
  uint64_t nextTaskOrder = 0;
  bool terminated = false;
  bool lastDeliveryHandled = false;
  std::vector<std::string> log;
  BrowserHostDelegate* hostDelegate = nullptr;
};

}  // namespace cefsim
