#pragma once

// The browser side of the "qrx" bridge for a host module: answers the page's
// calls by function name, calls page functions by path and reports focus
// changes. One Peer serves any number of browsers and frames.
//
// Threading: every public function of Peer and Reply may be called on any
// thread. The library's state belongs to the browser process UI thread (the
// thread CEF calls CefClient on); called elsewhere, a function posts its work
// there with CefPostTask and says so (kPosted). Handlers, callbacks, cancel
// handlers, the focus observer and the log sink run only on the UI thread,
// never inside the library call that started them. Nothing here blocks.
//
// Compiles as C++17 and C++20, without exceptions or RTTI.

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>

#include "include/cef_browser.h"
#include "include/cef_frame.h"
#include "include/cef_process_message.h"
#include "include/cef_values.h"
#include "peer/origins.h"

namespace cef_launcher_peer {

// The Error text a page call gets when its Reply is destroyed unanswered.
inline constexpr char kUnansweredText[] =
    "The host dropped the call unanswered";
// The Error text for a function with no handler while no fallback is set;
// the function name follows.
inline constexpr char kNoHandlerText[] = "No handler for function ";
// The Error text page calls get once the Peer is shut down.
inline constexpr char kShutDownText[] = "The host shut the bridge down";

// What became of a message the library was asked to send.
enum class SendStatus {
  kSent,             // handed to CEF (which may still drop it silently)
  kAlreadyAnswered,  // a Reply that was answered, or moved from
  kFrameGone,        // the frame detached, its renderer terminated, or it
                     // now shows another document
  kTooLarge,         // the message would exceed the channel's limits
  kNoFrame,          // a null frame
  kNoTimer,          // the time-out could not be posted (CEF not running)
  kPosted,           // called off the UI thread: the work was posted there
  kNotRunning,       // off the UI thread and CEF no longer runs: nothing done
  kShutDown,         // the Peer was shut down or is being destroyed
  kBadTimeout,       // CallOptions::timeoutMs is not positive
  kTooDeep,          // the page would receive part of a value as null: it
                     // converts containers nested at most 96 levels deep
                     // (a list is one level, an Object or Map two)
};
// Short text for logs, e.g. "frame gone".
const char* SendStatusText(SendStatus status);

// A call the page made (squirrel.call, or "compilestring" for squirrel.eval).
struct PageCall {
  CefRefPtr<CefBrowser> browser;
  CefRefPtr<CefFrame> frame;
  std::string frameId;   // the frame's GetIdentifier()
  int32_t id = 0;        // the renderer's id for this call
  std::string function;  // UTF-8
  // The arguments, read-only. They refer into `message`: keep the message
  // (or Copy() them) to use them after the handler returns.
  CefRefPtr<CefListValue> arguments;
  CefRefPtr<CefProcessMessage> message;
  // The frame's URL when the call arrived (CefFrame::GetURL(): its last
  // committed document's) and that URL's origin as OriginOf reads it.
  std::string url;
  std::string origin;
};

class Peer;
struct PeerCore;
struct ReplyLink;

// Runs once, on the UI thread, when a held call can no longer be answered.
using CancelHandler = std::function<void()>;

// The one answer a page call gets. Move-only. Answers at most once, now or
// later, on the frame the call came from. Destroyed unanswered, it sends the
// Error kUnansweredText so that no page promise is left pending. Any thread;
// one thread at a time per Reply.
class Reply {
 public:
  Reply() = default;
  Reply(Reply&& other) noexcept;
  Reply& operator=(Reply&& other) noexcept;
  Reply(const Reply&) = delete;
  Reply& operator=(const Reply&) = delete;
  // Sends the Error kUnansweredText if still unanswered (posted when off
  // the UI thread).
  ~Reply();

  // Answers with a Result holding a copy of `value` (null: NULL). kTooLarge
  // and kTooDeep leave the reply unanswered, so an answer can follow; every
  // other status answers it for good (kFrameGone: nothing was sent; kPosted:
  // the message, already built, is sent from the UI thread unless the frame
  // is gone by then).
  SendStatus Result(CefRefPtr<CefValue> value);
  // Answers with an Error whose text is `text` (UTF-8). Same statuses.
  SendStatus Error(const std::string& text);

  // `handler` runs once on the UI thread when the call can no longer be
  // answered: its frame detached, its renderer terminated, its document was
  // replaced, or the Peer was shut down. Not after an answer. Set after the
  // fact, it runs from a posted task. Replaces an earlier handler.
  void SetCancelHandler(CancelHandler handler);
  // True once an answer could no longer reach the call's document (the
  // cases above); an answer then sends nothing.
  bool frameGone() const;

  // False once answered (whatever the status) and for a moved-from Reply.
  bool pending() const { return core != nullptr && !answered; }
  int32_t id() const { return callId; }
  const std::string& frameId() const { return callFrameId; }

 private:
  friend struct PeerCore;
  Reply(std::shared_ptr<PeerCore> peerCore,
        CefRefPtr<CefFrame> callFrame,
        std::string frameId,
        int32_t id);
  SendStatus Answer(CefRefPtr<CefProcessMessage> message);

  std::shared_ptr<PeerCore> core;
  std::shared_ptr<ReplyLink> link;
  CefRefPtr<CefFrame> frame;
  std::string callFrameId;
  int32_t callId = 0;
  bool answered = false;
};

// How a call into the page ended.
struct PageReply {
  enum class Outcome {
    kResult,              // the page answered with a value
    kError,               // the page answered with an Error
    kFrameDetached,       // the frame went away first
    kRendererTerminated,  // its renderer process ended first
    kTimedOut,            // no answer within CallOptions::timeoutMs
    kRefused,             // never sent (too large or deep, frame gone), or
                          // the Peer was shut down: `text`
    kNavigated,           // the frame started another document first; the
                          // call may already have run in the new one
  };
  Outcome outcome = Outcome::kResult;
  // kResult: the value, read-only; it refers into `message`, keep that (or
  // Copy() the value) to use it after the callback returns.
  CefRefPtr<CefValue> value;
  std::string text;  // kError: the page's text (UTF-8); others: why
  int32_t id = 0;    // the peer's id of the call
  CefRefPtr<CefProcessMessage> message;

  bool ok() const { return outcome == Outcome::kResult; }
};

// CallOptions::timeoutMs that never times out.
inline constexpr int64_t kWaitForever = std::numeric_limits<int64_t>::max();

struct CallOptions {
  // The call fails with kTimedOut after this many milliseconds (a task
  // posted with CefPostDelayedTask on TID_UI), or never with kWaitForever.
  // Other values below 1 are refused (kBadTimeout).
  int64_t timeoutMs = 10000;
};

using CallHandler = std::function<void(const PageCall& call, Reply reply)>;
using PageCallback = std::function<void(const PageReply& reply)>;
// `elementFocused`: the newly focused node is an element.
using FocusObserver = std::function<void(CefRefPtr<CefBrowser> browser,
                                         CefRefPtr<CefFrame> frame,
                                         bool elementFocused)>;
// One line per thing the library dropped or refused, for the host's log.
using LogSink = std::function<void(const std::string& line)>;

class Peer {
 public:
  Peer();
  // Runs no host code: pending page calls are dropped without their
  // callbacks, cancel handlers do not run. Replies still held by the host
  // keep working, without a log sink. Call Shutdown() first for callbacks
  // that should see the end.
  ~Peer();
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // Settles every pending page call with kRefused ("peer shut down") and
  // runs the cancel handlers of held Replies, once, inside this call (on
  // the UI thread; posted there from elsewhere). From then on the Peer
  // refuses everything: CallPage sends and keeps nothing (kShutDown), page
  // calls get the Error kShutDownText, replies from the page are dropped.
  void Shutdown();

  // --- Wiring: call these from the host's CefClient and handlers. ---

  // From CefClient::OnProcessMessageReceived. Returns true when the message
  // is named "qrx" (it was handled, or dropped as malformed and logged);
  // false for any other message, which the host handles itself.
  bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser,
                                CefRefPtr<CefFrame> frame,
                                CefProcessId sourceProcess,
                                CefRefPtr<CefProcessMessage> message);
  // From CefFrameHandler::OnFrameDetached: calls into the frame fail with
  // kFrameDetached, replies to it report kFrameGone.
  void OnFrameDetached(CefRefPtr<CefBrowser> browser,
                       CefRefPtr<CefFrame> frame);
  // From CefFrameHandler::OnFrameAttached: a frame restored from the
  // back/forward cache (`reattached`) can be addressed again.
  void OnFrameAttached(CefRefPtr<CefBrowser> browser,
                       CefRefPtr<CefFrame> frame,
                       bool reattached);
  // From CefRequestHandler::OnRenderProcessTerminated: every frame the
  // browser has now is treated as gone (CEF keeps reporting its main frame
  // valid but drops what is sent to it); a reload brings new frames.
  void OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser);
  // From CefLoadHandler::OnLoadStart: the frame committed a new document.
  // Calls in flight to it fail with kNavigated; Replies to calls of the old
  // document send nothing.
  void OnLoadStart(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame);

  // --- Answering the page. ---

  // Handles later calls of `function` (UTF-8; "compilestring" for
  // squirrel.eval) from frames of the origins `from` allows. Replaces an
  // earlier handler; an empty one removes it. A call from another origin
  // goes on as if there were no handler: to the fallback, or the Error.
  void Handle(const std::string& function,
              CallHandler handler,
              Origins from = Origins::Any());
  // Handles calls no handler takes, from frames of the origins `from`
  // allows. Other calls get the Error kNoHandlerText + "'<function>'".
  void SetFallback(CallHandler handler, Origins from = Origins::Any());

  // --- Calling the page. ---

  // Calls the page value at the dotted `path` in `frame` with `arguments`
  // (copied; null: none) under the peer's next id. `callback` runs exactly
  // once on the UI thread, never inside CallPage: with the page's Result or
  // Error, or with a failure. A call that cannot be sent (null or gone
  // frame, too large or deep, bad time-out) is refused: the callback gets
  // kRefused from a posted task. After Shutdown the callback never runs.
  SendStatus CallPage(CefRefPtr<CefFrame> frame,
                      const std::string& path,
                      CefRefPtr<CefListValue> arguments,
                      PageCallback callback,
                      CallOptions options = {});

  // --- Focus and diagnostics. ---

  // Receives every focus report; replaces an earlier observer.
  void SetFocusObserver(FocusObserver observer);
  // Receives a line for every message dropped or refused, from a task
  // posted to the UI thread.
  void SetLogSink(LogSink sink);

  // Page calls sent and not settled yet.
  size_t PendingPageCalls() const;

 private:
  std::shared_ptr<PeerCore> core;
};

}  // namespace cef_launcher_peer
