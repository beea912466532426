#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "include/cef_client.h"
#include "include/cef_process_message.h"
#include "include/cef_values.h"
#include "peer/peer.h"

// The browser-side peer for tests: the project's peer library
// (peer/peer.h) wired into the harness's browser side as the host module
// would wire it. The library answers the renderer's Calls by function name,
// calls page paths and hears focus reports; the peer keeps a record of what
// the renderer sent. Besides, it injects raw messages (chosen ids, any
// content) for tests of the renderer's handling of hostile input.
namespace cefsim {

class RendererHarness;

// A Result or an Error, either way.
struct PeerReply {
  static PeerReply Result(CefRefPtr<CefValue> value);
  static PeerReply Error(const std::string& message);

  bool isError = false;
  CefRefPtr<CefValue> value;  // a Result's value
  std::string error;          // an Error's text, UTF-8
  // "Result INT 2" or "Error \"text\"".
  std::string Text() const;
};

class BrowserPeer {
 public:
  // A Call the renderer sent.
  struct Call {
    std::string frameId;
    int32_t id = 0;
    std::string function;
    CefRefPtr<CefListValue> arguments;  // valid while `message` is held
    CefRefPtr<CefProcessMessage> message;
  };
  // Answers a Call; no reply leaves the page's promise pending (the peer
  // holds the library's reply until Reply answers it).
  using CallHandler = std::function<std::optional<PeerReply>(const Call&)>;

  // Becomes the client of the harness's browsers opened from now on.
  explicit BrowserPeer(RendererHarness& owner);
  // Calls still held are dropped without an answer: the browser side is
  // gone by then.
  ~BrowserPeer();
  BrowserPeer(const BrowserPeer&) = delete;
  BrowserPeer& operator=(const BrowserPeer&) = delete;

  // Answers every later Call of `function` (e.g. "compilestring"). Calls
  // of other functions stay pending.
  void Answer(const std::string& function, CallHandler handler);
  void AnswerWith(const std::string& function, PeerReply reply);

  // Answers the renderer's Call `id` from `frameId` by hand: through the
  // library's reply when the peer holds the call, else as a raw Result or
  // Error message. Returns the renderer hook's result (false when nothing
  // was sent).
  bool Reply(const std::string& frameId, int32_t id, const PeerReply& reply);

  // Calls the page function or value at `path` in a frame through the
  // library (its own ids, from 0) and returns the reply, if the page sent
  // one before the browser side went idle.
  std::optional<PeerReply> CallPage(
      const std::string& frameId,
      const std::string& path,
      CefRefPtr<CefListValue> arguments = nullptr);
  // Raw: a Call with a chosen id, outside the library (which drops the
  // reply to it; replies() has it). Returns the hook's result.
  bool SendCall(const std::string& frameId,
                const std::string& path,
                CefRefPtr<CefListValue> arguments,
                int32_t id);
  // Raw: any message at all; returns the hook's result.
  bool SendRaw(const std::string& frameId,
               CefRefPtr<CefProcessMessage> message);
  // Raw: a "qrx" message whose argument list is `arguments`.
  bool SendRaw(const std::string& frameId, CefRefPtr<CefListValue> arguments);

  // Delivers what the browser side holds (the library answers) and records
  // what the renderer sent; returns how many renderer messages were new.
  int Pump();

  // What the renderer sent, decoded.
  const std::vector<Call>& calls() const { return renderCalls; }
  // Replies the renderer sent, by id (the latest one per id).
  std::optional<PeerReply> ReplyFor(int32_t id) const;
  const std::vector<std::pair<int32_t, PeerReply>>& replies() const {
    return pageReplies;
  }
  const std::vector<bool>& focusReports() const { return focus; }
  // Messages that were not bridge messages.
  const std::vector<std::string>& rejected() const { return unparsed; }
  // What the library logged (dropped or refused messages).
  const std::vector<std::string>& libraryLog() const { return log; }

 private:
  void OnCall(const cef_launcher_peer::PageCall& call,
              cef_launcher_peer::Reply reply);
  int Record();

  RendererHarness& harness;
  std::unique_ptr<cef_launcher_peer::Peer> library;
  CefRefPtr<CefClient> client;
  std::map<std::string, CallHandler> handlers;
  // Calls the library handed over and nobody answered yet.
  std::map<std::pair<std::string, int32_t>, cef_launcher_peer::Reply> held;
  std::vector<Call> renderCalls;
  std::vector<std::pair<int32_t, PeerReply>> pageReplies;
  std::vector<bool> focus;
  std::vector<std::string> unparsed;
  std::vector<std::string> log;
  size_t seen = 0;
};

}  // namespace cefsim
