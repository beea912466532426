#include "conformance/game_link.h"

#include <utility>

#include "peer/value_text.h"

namespace conformance {

std::string WireText(CefRefPtr<CefValue> value) {
  return cef_launcher_peer::ValueText(value);
}

std::string WireText(CefRefPtr<CefListValue> list) {
  return cef_launcher_peer::ValueText(list);
}

std::string WireText(CefRefPtr<CefProcessMessage> message) {
  return cef_launcher_peer::MessageText(message);
}

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

// The library's move-only Reply, shareable by the runner's callbacks.
class LibraryAnswer : public CallAnswer {
 public:
  explicit LibraryAnswer(cef_launcher_peer::Reply libraryReply)
      : reply(std::move(libraryReply)) {}

  cef_launcher_peer::SendStatus Result(CefRefPtr<CefValue> value) override {
    return reply.Result(value);
  }
  cef_launcher_peer::SendStatus Error(const std::string& text) override {
    return reply.Error(text);
  }

 private:
  cef_launcher_peer::Reply reply;
};

PageReply FromLibrary(const cef_launcher_peer::PageReply& reply) {
  using Outcome = cef_launcher_peer::PageReply::Outcome;
  PageReply result;
  switch (reply.outcome) {
    case Outcome::kResult:
      result.kind = PageReply::Kind::kResult;
      result.value = reply.value ? reply.value->Copy() : nullptr;
      return result;
    case Outcome::kError:
      result.kind = PageReply::Kind::kError;
      result.text = reply.text;
      return result;
    case Outcome::kFrameDetached:
      result.text = "the frame detached";
      break;
    case Outcome::kRendererTerminated:
      result.text = "the renderer ended";
      break;
    case Outcome::kTimedOut:
      result.text = "timed out";
      break;
    case Outcome::kNavigated:
      result.text = "the frame started another document";
      break;
    case Outcome::kRefused:
      result.text = "not sent: " + reply.text;
      break;
  }
  result.kind = PageReply::Kind::kNoReply;
  return result;
}

}  // namespace

GameLink::GameLink() = default;

void GameLink::Answer(const std::string& function, CallHandler handler) {
  peer.Handle(function, [handler](const cef_launcher_peer::PageCall& call,
                                  cef_launcher_peer::Reply reply) {
    PageCall received{call.frame, call.id, call.function, call.arguments,
                      call.message};
    handler(received, std::make_shared<LibraryAnswer>(std::move(reply)));
  });
}

void GameLink::CallPage(CefRefPtr<CefFrame> frame,
                        const std::string& path,
                        CefRefPtr<CefListValue> arguments,
                        int64_t timeoutMs,
                        ReplyCallback done) {
  cef_launcher_peer::CallOptions options;
  options.timeoutMs =
      timeoutMs > 0 ? timeoutMs : cef_launcher_peer::kWaitForever;
  peer.CallPage(
      frame, path, arguments,
      [done](const cef_launcher_peer::PageReply& reply) {
        done(FromLibrary(reply));
      },
      options);
}

void GameLink::SendRaw(CefRefPtr<CefFrame> frame,
                       CefRefPtr<CefProcessMessage> message) {
  frame->SendProcessMessage(PID_RENDERER, message);
}

void GameLink::SetFocusObserver(FocusObserver observer) {
  if (!observer) {
    peer.SetFocusObserver(nullptr);
    return;
  }
  peer.SetFocusObserver(
      [observer](CefRefPtr<CefBrowser>, CefRefPtr<CefFrame> frame,
                 bool elementFocused) { observer(frame, elementFocused); });
}

void GameLink::OnProcessMessageReceived(CefRefPtr<CefBrowser> browser,
                                        CefRefPtr<CefFrame> frame,
                                        CefRefPtr<CefProcessMessage> message) {
  if (onMessage) {
    onMessage(frame, message);
  }
  peer.OnProcessMessageReceived(browser, frame, PID_RENDERER, message);
}

void GameLink::OnFrameAttached(CefRefPtr<CefBrowser> browser,
                               CefRefPtr<CefFrame> frame,
                               bool reattached) {
  peer.OnFrameAttached(browser, frame, reattached);
}

void GameLink::OnFrameDetached(CefRefPtr<CefBrowser> browser,
                               CefRefPtr<CefFrame> frame) {
  peer.OnFrameDetached(browser, frame);
}

void GameLink::OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser,
                                         int /*status*/) {
  peer.OnRenderProcessTerminated(browser);
}

}  // namespace conformance
