#include "cefsim/peer.h"

#include <variant>

#include "bridge/bridge_message.h"
#include "cefsim/renderer_harness.h"
#include "cefsim/value_text.h"

namespace cefsim {

PeerReply PeerReply::Result(CefRefPtr<CefValue> value) {
  PeerReply reply;
  reply.value = std::move(value);
  return reply;
}

PeerReply PeerReply::Error(const std::string& message) {
  PeerReply reply;
  reply.isError = true;
  reply.error = message;
  return reply;
}

std::string PeerReply::Text() const {
  if (isError) {
    return "Error \"" + error + "\"";
  }
  return "Result " + ValueText(value);
}

BrowserPeer::BrowserPeer(RendererHarness& harness) : harness(harness) {}

void BrowserPeer::Answer(const std::string& function, CallHandler handler) {
  handlers[function] = std::move(handler);
}

void BrowserPeer::AnswerWith(const std::string& function, PeerReply reply) {
  Answer(function, [reply](const Call&) { return reply; });
}

bool BrowserPeer::Reply(const std::string& frameId,
                        int32_t id,
                        const PeerReply& reply) {
  CefRefPtr<CefProcessMessage> message =
      reply.isError
          ? ErrorMessage{id, CefString(reply.error)}.ToProcessMessage()
          : ResultMessage{id, reply.value}.ToProcessMessage();
  return harness.DeliverMessage(frameId, message);
}

std::optional<PeerReply> BrowserPeer::CallPage(
    const std::string& frameId,
    const std::string& path,
    CefRefPtr<CefListValue> arguments) {
  const int32_t id = nextPeerCallId++;
  SendCall(frameId, path, arguments, id);
  return ReplyFor(id);
}

bool BrowserPeer::SendCall(const std::string& frameId,
                           const std::string& path,
                           CefRefPtr<CefListValue> arguments,
                           int32_t id) {
  if (!arguments) {
    arguments = CefListValue::Create();
  }
  // The peer's ids are its own; the program's counter is not touched.
  CallMessage call(path, arguments, id);
  const bool handled = harness.DeliverMessage(frameId, call.ToProcessMessage());
  Pump();
  return handled;
}

bool BrowserPeer::SendRaw(const std::string& frameId,
                          CefRefPtr<CefProcessMessage> message) {
  const bool handled = harness.DeliverMessage(frameId, message);
  Pump();
  return handled;
}

bool BrowserPeer::SendRaw(const std::string& frameId,
                          CefRefPtr<CefListValue> arguments) {
  CefRefPtr<CefProcessMessage> message =
      CefProcessMessage::Create(kBridgeMessageName);
  CefRefPtr<CefListValue> list = message->GetArgumentList();
  const size_t size = arguments ? arguments->GetSize() : 0;
  for (size_t i = 0; i < size; ++i) {
    list->SetValue(i, arguments->GetValue(i));
  }
  return SendRaw(frameId, message);
}

std::optional<PeerReply> BrowserPeer::ReplyFor(int32_t id) const {
  for (auto it = pageReplies.rbegin(); it != pageReplies.rend(); ++it) {
    if (it->first == id) {
      return it->second;
    }
  }
  return std::nullopt;
}

int BrowserPeer::Pump() {
  int handled = 0;
  // Answers may make the renderer send more; the log grows while we walk.
  while (seen < harness.SentMessages().size()) {
    const SentMessage entry = harness.SentMessages()[seen++];
    ++handled;
    std::optional<BridgeMessage> decoded = ParseBridgeMessage(entry.message);
    if (!decoded) {
      unparsed.push_back(MessageText(entry.message));
      continue;
    }
    if (auto* call = std::get_if<CallMessage>(&*decoded)) {
      Call received{entry.frameId, call->id, call->function, call->arguments};
      renderCalls.push_back(received);
      auto handler = handlers.find(call->function);
      if (handler == handlers.end()) {
        continue;
      }
      if (std::optional<PeerReply> reply = handler->second(received)) {
        Reply(entry.frameId, call->id, *reply);
      }
    } else if (auto* result = std::get_if<ResultMessage>(&*decoded)) {
      pageReplies.emplace_back(result->id, PeerReply::Result(result->value));
    } else if (auto* error = std::get_if<ErrorMessage>(&*decoded)) {
      pageReplies.emplace_back(error->id,
                               PeerReply::Error(error->message.ToString()));
    } else if (auto* report = std::get_if<FocusChangeMessage>(&*decoded)) {
      focus.push_back(report->elementFocused);
    }
  }
  return handled;
}

}  // namespace cefsim
