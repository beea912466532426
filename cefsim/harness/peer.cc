#include "cefsim/peer.h"

#include <variant>

#include "bridge/bridge_message.h"
#include "cefsim/browser_side.h"
#include "cefsim/peer_client.h"
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

BrowserPeer::BrowserPeer(RendererHarness& owner)
    : harness(owner), library(std::make_unique<cef_launcher_peer::Peer>()) {
  library->SetLogSink([this](const std::string& line) { log.push_back(line); });
  // Calls nobody answers stay pending, held until Reply answers them.
  library->SetFallback([this](const cef_launcher_peer::PageCall& call,
                              cef_launcher_peer::Reply reply) {
    OnCall(call, std::move(reply));
  });
  library->SetFocusObserver(
      [this](CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>, bool elementFocused) {
        focus.push_back(elementFocused);
      });
  client = new PeerClient(library.get());
  harness.SetClient(client);
}

BrowserPeer::~BrowserPeer() {
  // The harness has closed its browser side by now: the held replies' frames
  // are invalid, so their Errors are not sent.
  held.clear();
  static_cast<PeerClient*>(client.get())->Detach();
}

void BrowserPeer::OnCall(const cef_launcher_peer::PageCall& call,
                         cef_launcher_peer::Reply reply) {
  auto handler = handlers.find(call.function);
  if (handler != handlers.end()) {
    const Call received{call.frameId, call.id, call.function, call.arguments,
                        call.message};
    if (std::optional<PeerReply> answer = handler->second(received)) {
      if (answer->isError) {
        reply.Error(answer->error);
      } else {
        reply.Result(answer->value);
      }
      return;
    }
  }
  held[{call.frameId, call.id}] = std::move(reply);
}

void BrowserPeer::Answer(const std::string& function, CallHandler handler) {
  handlers[function] = std::move(handler);
  library->Handle(function, [this](const cef_launcher_peer::PageCall& call,
                                   cef_launcher_peer::Reply reply) {
    OnCall(call, std::move(reply));
  });
}

void BrowserPeer::AnswerWith(const std::string& function, PeerReply reply) {
  Answer(function, [reply](const Call&) { return reply; });
}

bool BrowserPeer::Reply(const std::string& frameId,
                        int32_t id,
                        const PeerReply& reply) {
  auto call = held.find({frameId, id});
  if (call == held.end()) {
    // Calls still on their way reach the library first.
    Pump();
    call = held.find({frameId, id});
  }
  if (call == held.end()) {
    CefRefPtr<CefProcessMessage> message =
        reply.isError
            ? ErrorMessage{id, CefString(reply.error)}.ToProcessMessage()
            : ResultMessage{id, reply.value}.ToProcessMessage();
    return SendRaw(frameId, message);
  }
  cef_launcher_peer::Reply& answer = call->second;
  harness.browserSide().ForgetLastDelivery();
  const cef_launcher_peer::SendStatus status =
      reply.isError ? answer.Error(reply.error) : answer.Result(reply.value);
  if (!answer.pending()) {
    held.erase(call);
  }
  Pump();
  // As for a raw send: what the renderer's hook made of the answer.
  return status == cef_launcher_peer::SendStatus::kSent &&
         harness.browserSide().LastDeliveryHandled();
}

std::optional<PeerReply> BrowserPeer::CallPage(
    const std::string& frameId,
    const std::string& path,
    CefRefPtr<CefListValue> arguments) {
  // Shared: a reply may come after this returns, or never.
  auto settled = std::make_shared<std::optional<PeerReply>>();
  library->CallPage(harness.HostFrame(frameId), path, arguments,
                    [settled](const cef_launcher_peer::PageReply& reply) {
                      using Outcome = cef_launcher_peer::PageReply::Outcome;
                      if (reply.outcome == Outcome::kResult) {
                        *settled = PeerReply::Result(reply.value->Copy());
                      } else if (reply.outcome == Outcome::kError) {
                        *settled = PeerReply::Error(reply.text);
                      }
                    });
  Pump();
  return *settled;
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
  return SendRaw(frameId, call.ToProcessMessage());
}

bool BrowserPeer::SendRaw(const std::string& frameId,
                          CefRefPtr<CefProcessMessage> message) {
  // What the browser side holds goes first, in order.
  Pump();
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
  int recorded = Record();
  // Answers may make the renderer send more.
  while (harness.browserSide().Pump() > 0) {
    recorded += Record();
  }
  return recorded;
}

// Decodes the renderer's messages not seen yet into the record.
int BrowserPeer::Record() {
  int recorded = 0;
  while (seen < harness.SentMessages().size()) {
    const SentMessage entry = harness.SentMessages()[seen++];
    ++recorded;
    std::optional<BridgeMessage> decoded = ParseBridgeMessage(entry.message);
    if (!decoded) {
      unparsed.push_back(MessageText(entry.message));
      continue;
    }
    if (auto* call = std::get_if<CallMessage>(&*decoded)) {
      renderCalls.push_back(Call{entry.frameId, call->id, call->function,
                                 call->arguments, entry.message});
    } else if (auto* result = std::get_if<ResultMessage>(&*decoded)) {
      pageReplies.emplace_back(result->id, PeerReply::Result(result->value));
    } else if (auto* error = std::get_if<ErrorMessage>(&*decoded)) {
      pageReplies.emplace_back(error->id,
                               PeerReply::Error(error->message.ToString()));
    }
  }
  return recorded;
}

}  // namespace cefsim
