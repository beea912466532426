#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "conformance/browser_events.h"
#include "include/cef_frame.h"
#include "include/cef_process_message.h"
#include "include/cef_values.h"
#include "peer/peer.h"

namespace conformance {

// The text form of message values used in every check (the peer
// library's ValueText).
std::string WireText(CefRefPtr<CefValue> value);
std::string WireText(CefRefPtr<CefListValue> list);
std::string WireText(CefRefPtr<CefProcessMessage> message);

// A Call from a page, as the game side received it.
struct PageCall {
  CefRefPtr<CefFrame> frame;
  int32_t id = 0;
  std::string function;
  // Read-only, inside `message`, which the record keeps alive.
  CefRefPtr<CefListValue> arguments;
  CefRefPtr<CefProcessMessage> message;
};

// The game's answer to one page Call; answers at most once. Each says what
// became of the answer (sent, or why not).
class CallAnswer {
 public:
  virtual ~CallAnswer() = default;
  virtual cef_launcher_peer::SendStatus Result(CefRefPtr<CefValue> value) = 0;
  virtual cef_launcher_peer::SendStatus Error(const std::string& text) = 0;
};

// The outcome of a game call into a page: its reply, or why none came.
struct PageReply {
  enum class Kind { kResult, kError, kNoReply };
  Kind kind = Kind::kNoReply;
  CefRefPtr<CefValue> value;  // kResult
  std::string text;           // kError: the text; kNoReply: the reason
  // "Result INT 5", "Error \"text\"" or "no reply (reason)".
  std::string Text() const;
};

// The game's side of the bridge for the runner, on the peer library:
// answers page Calls by function name, calls into pages, and reports focus
// changes; besides, it sends raw messages and shows every message received,
// which the library does not. UI thread.
class GameLink : public BrowserEvents {
 public:
  using CallHandler = std::function<void(const PageCall& call,
                                         std::shared_ptr<CallAnswer> answer)>;
  using ReplyCallback = std::function<void(const PageReply& reply)>;
  using FocusObserver =
      std::function<void(CefRefPtr<CefFrame> frame, bool elementFocused)>;
  using MessageObserver =
      std::function<void(CefRefPtr<CefFrame> frame,
                         CefRefPtr<CefProcessMessage> message)>;

  GameLink();
  GameLink(const GameLink&) = delete;
  GameLink& operator=(const GameLink&) = delete;

  // Answers later Calls of `function`; replaces an earlier handler.
  void Answer(const std::string& function, CallHandler handler);
  // Calls `path` in `frame`; `done` runs exactly once, with the reply or,
  // after `timeoutMs`, a frame detach or a renderer's end, without one.
  void CallPage(CefRefPtr<CefFrame> frame,
                const std::string& path,
                CefRefPtr<CefListValue> arguments,
                int64_t timeoutMs,
                ReplyCallback done);
  // Sends any message to the frame's renderer.
  void SendRaw(CefRefPtr<CefFrame> frame, CefRefPtr<CefProcessMessage> message);
  void SetFocusObserver(FocusObserver observer);
  // Sees every message from any renderer first.
  void SetMessageObserver(MessageObserver observer) { onMessage = observer; }

  // BrowserEvents methods:
  void OnProcessMessageReceived(CefRefPtr<CefBrowser> browser,
                                CefRefPtr<CefFrame> frame,
                                CefRefPtr<CefProcessMessage> message) override;
  void OnFrameAttached(CefRefPtr<CefBrowser> browser,
                       CefRefPtr<CefFrame> frame,
                       bool reattached) override;
  void OnFrameDetached(CefRefPtr<CefBrowser> browser,
                       CefRefPtr<CefFrame> frame) override;
  void OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser,
                                 int status) override;

 private:
  cef_launcher_peer::Peer peer;
  MessageObserver onMessage;
};

}  // namespace conformance
