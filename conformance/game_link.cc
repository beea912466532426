#include "conformance/game_link.h"

#include <utility>
#include <variant>

#include "bridge/bridge_message.h"
#include "conformance/page_host.h"

namespace conformance {

std::string PageReply::Text() const {
  switch (kind) {
    case Kind::kResult:
      return "Result " + WireText(value);
    case Kind::kError:
      return "Error \"" + text + "\"";
    case Kind::kNoReply:
      break;
  }
  return "no reply (" + text + ")";
}

namespace {

class FrameAnswer : public CallAnswer {
 public:
  FrameAnswer(CefRefPtr<CefFrame> callFrame, int32_t callId)
      : frame(std::move(callFrame)), id(callId) {}
  ~FrameAnswer() override {
    if (!answered) {
      Error("the conformance client did not answer this call");
    }
  }

  void Result(CefRefPtr<CefValue> value) override {
    if (answered) {
      return;
    }
    answered = true;
    frame->SendProcessMessage(PID_RENDERER,
                              ResultMessage{id, value}.ToProcessMessage());
  }
  void Error(const std::string& text) override {
    if (answered) {
      return;
    }
    answered = true;
    frame->SendProcessMessage(
        PID_RENDERER, ErrorMessage{id, CefString(text)}.ToProcessMessage());
  }

 private:
  CefRefPtr<CefFrame> frame;
  int32_t id;
  bool answered = false;
};

}  // namespace

GameLink::GameLink(PageHost& pageHost) : host(pageHost) {}

void GameLink::Answer(const std::string& function, CallHandler handler) {
  handlers[function] = std::move(handler);
}

void GameLink::CallPage(CefRefPtr<CefFrame> frame,
                        const std::string& path,
                        CefRefPtr<CefListValue> arguments,
                        int64_t timeoutMs,
                        ReplyCallback done) {
  const int32_t id = nextId++;
  pending[id] = PendingCall{frame->GetIdentifier().ToString(), done};
  if (!arguments) {
    arguments = CefListValue::Create();
  }
  frame->SendProcessMessage(
      PID_RENDERER, CallMessage(path, arguments, id).ToProcessMessage());
  host.PostDelayed(
      [this, id, timeoutMs] {
        PageReply reply;
        reply.text = "none within " + std::to_string(timeoutMs) + " ms";
        Settle(id, reply);
      },
      timeoutMs);
}

void GameLink::SendRaw(CefRefPtr<CefFrame> frame,
                       CefRefPtr<CefProcessMessage> message) {
  frame->SendProcessMessage(PID_RENDERER, message);
}

void GameLink::OnProcessMessageReceived(CefRefPtr<CefBrowser> /*browser*/,
                                        CefRefPtr<CefFrame> frame,
                                        CefRefPtr<CefProcessMessage> message) {
  if (onMessage) {
    onMessage(frame, WireText(message));
  }
  std::optional<BridgeMessage> decoded = ParseBridgeMessage(message);
  if (!decoded) {
    return;
  }
  if (auto* call = std::get_if<CallMessage>(&*decoded)) {
    PageCall received{frame, call->id, call->function, call->arguments->Copy()};
    auto answer = std::make_shared<FrameAnswer>(frame, call->id);
    auto handler = handlers.find(call->function);
    if (handler == handlers.end()) {
      answer->Error("the conformance client has no function " + call->function);
      return;
    }
    handler->second(received, answer);
  } else if (auto* result = std::get_if<ResultMessage>(&*decoded)) {
    PageReply reply;
    reply.kind = PageReply::Kind::kResult;
    reply.value = result->value->Copy();
    Settle(result->id, reply);
  } else if (auto* error = std::get_if<ErrorMessage>(&*decoded)) {
    PageReply reply;
    reply.kind = PageReply::Kind::kError;
    reply.text = error->message.ToString();
    Settle(error->id, reply);
  } else if (auto* focus = std::get_if<FocusChangeMessage>(&*decoded)) {
    if (onFocus) {
      onFocus(frame, focus->elementFocused);
    }
  }
}

void GameLink::OnFrameDetached(CefRefPtr<CefBrowser> /*browser*/,
                               CefRefPtr<CefFrame> frame) {
  const std::string frameId = frame->GetIdentifier().ToString();
  FailWhere([&](const PendingCall& call) { return call.frameId == frameId; },
            "the frame detached");
}

void GameLink::OnRenderProcessTerminated(CefRefPtr<CefBrowser> /*browser*/,
                                         int status) {
  FailWhere([](const PendingCall&) { return true; },
            "the renderer ended, status " + std::to_string(status));
}

void GameLink::Settle(int32_t id, const PageReply& reply) {
  auto found = pending.find(id);
  if (found == pending.end()) {
    return;
  }
  ReplyCallback done = std::move(found->second.done);
  pending.erase(found);
  done(reply);
}

void GameLink::FailWhere(const std::function<bool(const PendingCall&)>& matches,
                         const std::string& reason) {
  std::vector<int32_t> ids;
  for (const auto& entry : pending) {
    if (matches(entry.second)) {
      ids.push_back(entry.first);
    }
  }
  PageReply reply;
  reply.text = reason;
  for (int32_t id : ids) {
    Settle(id, reply);
  }
}

}  // namespace conformance
