#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "include/cef_process_message.h"
#include "include/cef_values.h"

// The browser-side peer for tests and the demo: decodes the renderer's
// bridge messages with the program's own codec, answers the renderer's
// Calls by function name, calls page paths and collects their replies.
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
    CefRefPtr<CefListValue> arguments;
  };
  // Answers a Call; no reply leaves the page's promise pending.
  using CallHandler = std::function<std::optional<PeerReply>(const Call&)>;

  explicit BrowserPeer(RendererHarness& harness);
  BrowserPeer(const BrowserPeer&) = delete;
  BrowserPeer& operator=(const BrowserPeer&) = delete;

  // Answers every later Call of `function` (e.g. "compilestring").
  void Answer(const std::string& function, CallHandler handler);
  void AnswerWith(const std::string& function, PeerReply reply);

  // Sends Result or Error for a renderer Call by hand.
  bool Reply(const std::string& frameId, int32_t id, const PeerReply& reply);

  // Calls the page function or value at `path` in a frame with the peer's
  // next id (its own sequence, from 0) and returns the reply, if the page
  // sent one.
  std::optional<PeerReply> CallPage(
      const std::string& frameId,
      const std::string& path,
      CefRefPtr<CefListValue> arguments = nullptr);
  // The same with a chosen id; returns the hook's result.
  bool SendCall(const std::string& frameId,
                const std::string& path,
                CefRefPtr<CefListValue> arguments,
                int32_t id);
  // Any message at all; returns the hook's result.
  bool SendRaw(const std::string& frameId,
               CefRefPtr<CefProcessMessage> message);
  // A "qrx" message whose argument list is `arguments`.
  bool SendRaw(const std::string& frameId, CefRefPtr<CefListValue> arguments);

  // Handles the renderer's messages not seen yet; returns how many.
  int Pump();

  // What the renderer sent, decoded.
  const std::vector<Call>& calls() const { return renderCalls; }
  // Replies to the peer's calls, by id (the latest one per id).
  std::optional<PeerReply> ReplyFor(int32_t id) const;
  const std::vector<std::pair<int32_t, PeerReply>>& replies() const {
    return pageReplies;
  }
  const std::vector<bool>& focusReports() const { return focus; }
  // Messages that were not bridge messages.
  const std::vector<std::string>& rejected() const { return unparsed; }

 private:
  RendererHarness& harness;
  std::map<std::string, CallHandler> handlers;
  std::vector<Call> renderCalls;
  std::vector<std::pair<int32_t, PeerReply>> pageReplies;
  std::vector<bool> focus;
  std::vector<std::string> unparsed;
  size_t seen = 0;
  int32_t nextPeerCallId = 0;
};

}  // namespace cefsim
