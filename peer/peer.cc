#include "peer/peer.h"

#include <limits>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

#include "bridge/bridge_message.h"
#include "convert/keyed_collection.h"
#include "convert/message_size.h"
#include "include/cef_task.h"

namespace cef_launcher_peer {

namespace {

struct PendingPageCall {
  std::string frameId;
  int browserId = 0;
  uint64_t serial = 0;
  PageCallback callback;
};

std::string FrameIdOf(const CefRefPtr<CefFrame>& frame) {
  return frame ? frame->GetIdentifier().ToString() : std::string();
}

// A handler and the origins that may reach it.
struct Registered {
  CallHandler run;
  Origins from;
};

// How deep the values the page converts reach, from the message's measure
// (which counts its argument list as a level): a Result's value, the
// deepest of a Call's arguments (inside their own list).
int PageValueNesting(const EncodedSize& size,
                     const CefRefPtr<CefProcessMessage>& message) {
  CefRefPtr<CefListValue> list = message->GetArgumentList();
  switch (static_cast<BridgeMessageType>(list->GetInt(0))) {
    case BridgeMessageType::Call:
      return size.incomingNesting - 2;
    case BridgeMessageType::Result:
      return size.incomingNesting - 1;
    case BridgeMessageType::Error:
    case BridgeMessageType::FocusChange:
      break;
  }
  return 0;
}

std::string TooDeepText() {
  return "a value nested deeper than the " + std::to_string(kMaxValueNesting) +
         " levels the page converts";
}

}  // namespace

struct PeerCore {
  std::map<std::string, Registered> handlers;
  Registered fallback;
  FocusObserver focusObserver;
  LogSink logSink;
  std::map<int32_t, PendingPageCall> pending;
  // Ids the library treats as gone. A detached frame reports itself invalid
  // for good, so its id is kept only while a pending Reply refers to it; a
  // frame that still looks valid (a crashed renderer's) stays until it
  // detaches. A long session that navigates many times keeps none of them.
  std::set<std::string> goneFrames;
  std::map<std::string, int> replyHolds;  // pending Replies per frame id
  int32_t nextId = 0;
  uint64_t nextSerial = 1;
  // The last URL a call came from and its origin: calls mostly come from
  // one document, and its origin need not be read again each time.
  std::string lastUrl;
  std::string lastOrigin;

  const std::string& OriginFor(const std::string& url) {
    if (url != lastUrl || lastUrl.empty()) {
      lastUrl = url;
      lastOrigin = OriginOf(url);
    }
    return lastOrigin;
  }

  void Log(const std::string& line) const {
    if (logSink) {
      logSink(line);
    }
  }

  // CEF keeps a crashed renderer's main frame IsValid() and drops what is
  // sent to it, so validity alone cannot tell.
  bool FrameGone(const CefRefPtr<CefFrame>& frame) const {
    return !frame->IsValid() ||
           goneFrames.count(frame->GetIdentifier().ToString()) != 0;
  }

  SendStatus Send(const CefRefPtr<CefFrame>& frame,
                  const CefRefPtr<CefProcessMessage>& message,
                  std::string* why) const {
    if (!frame) {
      *why = "no frame";
      return SendStatus::kNoFrame;
    }
    if (FrameGone(frame)) {
      *why = "frame " + FrameIdOf(frame) + " is gone";
      return SendStatus::kFrameGone;
    }
    const EncodedSize size = MeasureMessage(message);
    if (!FitsChannel(size)) {
      // A larger message can take the browser process down with it.
      *why = "message of " + std::to_string(size.bytes) + " bytes, nesting " +
             std::to_string(size.nesting) + ", exceeds the channel's limits";
      return SendStatus::kTooLarge;
    }
    if (PageValueNesting(size, message) > kMaxValueNesting) {
      // The page would receive null in its place, and nobody would know.
      *why = TooDeepText();
      return SendStatus::kTooDeep;
    }
    frame->SendProcessMessage(PID_RENDERER, message);
    return SendStatus::kSent;
  }

  // A handler the caller's origin may not use is as if it did not exist, so
  // a frame learns nothing about what it may not call.
  CallHandler HandlerFor(const std::string& function,
                         const std::string& origin) const {
    auto it = handlers.find(function);
    if (it != handlers.end() && it->second.from.Allows(origin)) {
      return it->second.run;
    }
    if (it != handlers.end()) {
      Log("call of '" + function + "' from " + origin +
          " treated as unknown: that origin may not call it");
    }
    if (fallback.run && fallback.from.Allows(origin)) {
      return fallback.run;
    }
    return nullptr;
  }

  void HoldFrame(const std::string& frameId) { ++replyHolds[frameId]; }

  void ReleaseFrame(const std::string& frameId,
                    const CefRefPtr<CefFrame>& frame) {
    auto it = replyHolds.find(frameId);
    if (it == replyHolds.end() || --it->second > 0) {
      return;
    }
    replyHolds.erase(it);
    if (!frame || !frame->IsValid()) {
      goneFrames.erase(frameId);
    }
  }

  int32_t TakeId() {
    // After a wrap, ids still in flight are skipped.
    for (;;) {
      const int32_t id = nextId;
      nextId = id == std::numeric_limits<int32_t>::max() ? 0 : id + 1;
      if (pending.count(id) == 0) {
        return id;
      }
    }
  }

  // Removes the call first: the callback may start new calls.
  void Settle(int32_t id, PageReply reply) {
    auto it = pending.find(id);
    if (it == pending.end()) {
      return;
    }
    PageCallback callback = std::move(it->second.callback);
    pending.erase(it);
    reply.id = id;
    if (callback) {
      callback(reply);
    }
  }

  template <typename Predicate>
  void FailWhere(Predicate matches,
                 PageReply::Outcome outcome,
                 const std::string& text) {
    std::vector<int32_t> ids;
    for (const auto& entry : pending) {
      if (matches(entry.second)) {
        ids.push_back(entry.first);
      }
    }
    for (int32_t id : ids) {
      PageReply reply;
      reply.outcome = outcome;
      reply.text = text;
      Settle(id, std::move(reply));
    }
  }
};

namespace {

class TimeoutTask : public CefTask {
 public:
  TimeoutTask(std::weak_ptr<PeerCore> peerCore, int32_t id, uint64_t serial)
      : core(std::move(peerCore)), callId(id), callSerial(serial) {}

  void Execute() override {
    std::shared_ptr<PeerCore> locked = core.lock();
    if (!locked) {
      return;
    }
    auto it = locked->pending.find(callId);
    // The id may have been reused by a later call after a wrap.
    if (it == locked->pending.end() || it->second.serial != callSerial) {
      return;
    }
    PageReply reply;
    reply.outcome = PageReply::Outcome::kTimedOut;
    reply.text = "no reply within the time-out";
    locked->Settle(callId, std::move(reply));
  }

 private:
  std::weak_ptr<PeerCore> core;
  int32_t callId;
  uint64_t callSerial;

  IMPLEMENT_REFCOUNTING(TimeoutTask);
};

}  // namespace

const char* SendStatusText(SendStatus status) {
  switch (status) {
    case SendStatus::kSent:
      return "sent";
    case SendStatus::kAlreadyAnswered:
      return "already answered";
    case SendStatus::kFrameGone:
      return "frame gone";
    case SendStatus::kTooLarge:
      return "too large";
    case SendStatus::kNoFrame:
      return "no frame";
    case SendStatus::kNoTimer:
      return "no timer";
    case SendStatus::kWrongThread:
      return "wrong thread";
    case SendStatus::kTooDeep:
      return "too deep";
  }
  return "unknown";
}

Reply::Reply(std::shared_ptr<PeerCore> peerCore,
             CefRefPtr<CefFrame> callFrame,
             int32_t id)
    : core(std::move(peerCore)),
      frame(std::move(callFrame)),
      callFrameId(FrameIdOf(frame)),
      callId(id) {
  core->HoldFrame(callFrameId);
}

Reply::Reply(Reply&& other) noexcept
    : core(std::move(other.core)),
      frame(std::move(other.frame)),
      callFrameId(std::move(other.callFrameId)),
      callId(other.callId),
      answered(other.answered) {
  other.core.reset();
  other.frame = nullptr;
}

Reply& Reply::operator=(Reply&& other) noexcept {
  if (this != &other) {
    // The reply replaced here would otherwise be lost unanswered.
    if (pending()) {
      Error(kUnansweredText);
    }
    core = std::move(other.core);
    frame = std::move(other.frame);
    callFrameId = std::move(other.callFrameId);
    callId = other.callId;
    answered = other.answered;
    other.core.reset();
    other.frame = nullptr;
  }
  return *this;
}

Reply::~Reply() {
  if (pending()) {
    Error(kUnansweredText);
  }
}

SendStatus Reply::Result(CefRefPtr<CefValue> value) {
  if (!pending()) {
    return Answer(nullptr);
  }
  return Answer(ResultMessage{callId, value}.ToProcessMessage());
}

SendStatus Reply::Error(const std::string& text) {
  if (!pending()) {
    return Answer(nullptr);
  }
  return Answer(ErrorMessage{callId, CefString(text)}.ToProcessMessage());
}

SendStatus Reply::Answer(CefRefPtr<CefProcessMessage> message) {
  if (!pending()) {
    if (core) {
      core->Log("second answer to page call " + std::to_string(callId) +
                " on frame " + callFrameId + " refused");
    }
    return SendStatus::kAlreadyAnswered;
  }
  // The peer's state is the UI thread's alone.
  if (!CefCurrentlyOn(TID_UI)) {
    core->Log("answer to page call " + std::to_string(callId) +
              " refused: not on the UI thread");
    return SendStatus::kWrongThread;
  }
  std::string why;
  const SendStatus status = core->Send(frame, message, &why);
  if (status == SendStatus::kTooLarge || status == SendStatus::kTooDeep) {
    // Still pending: the handler can answer with an Error instead.
    core->Log("answer to page call " + std::to_string(callId) +
              " refused: " + why);
    return status;
  }
  answered = true;
  core->ReleaseFrame(callFrameId, frame);
  if (status != SendStatus::kSent) {
    core->Log("answer to page call " + std::to_string(callId) +
              " not sent: " + why);
  }
  return status;
}

Peer::Peer() : core(std::make_shared<PeerCore>()) {}

Peer::~Peer() {
  std::shared_ptr<PeerCore> keep = core;
  keep->FailWhere([](const PendingPageCall&) { return true; },
                  PageReply::Outcome::kRefused, "peer destroyed");
  // Replies may outlive the Peer; what the host handed in may not.
  keep->handlers.clear();
  keep->fallback = Registered();
  keep->focusObserver = nullptr;
  keep->logSink = nullptr;
}

bool Peer::OnProcessMessageReceived(CefRefPtr<CefBrowser> browser,
                                    CefRefPtr<CefFrame> frame,
                                    CefProcessId sourceProcess,
                                    CefRefPtr<CefProcessMessage> message) {
  if (!message || message->GetName() != kBridgeMessageName) {
    return false;
  }
  // Keeps the core alive through handlers that destroy the Peer.
  std::shared_ptr<PeerCore> keep = core;
  const std::string frameId = FrameIdOf(frame);
  std::optional<BridgeMessage> decoded = ParseBridgeMessage(message);
  if (!decoded || sourceProcess != PID_RENDERER || !frame) {
    keep->Log("dropped a malformed bridge message from frame " + frameId);
    return true;
  }
  if (auto* call = std::get_if<CallMessage>(&*decoded)) {
    std::string url = frame->GetURL().ToString();
    std::string origin = keep->OriginFor(url);
    PageCall pageCall{browser,  frame,          frameId,
                      call->id, call->function, call->arguments,
                      message,  std::move(url), std::move(origin)};
    Reply reply(keep, frame, call->id);
    // A copy: the handler may replace itself.
    if (CallHandler run = keep->HandlerFor(call->function, pageCall.origin)) {
      run(pageCall, std::move(reply));
    } else {
      reply.Error(kNoHandlerText + ("'" + call->function + "'"));
    }
    return true;
  }
  if (auto* result = std::get_if<ResultMessage>(&*decoded)) {
    auto it = keep->pending.find(result->id);
    if (it == keep->pending.end() || it->second.frameId != frameId) {
      keep->Log("dropped a Result for no pending call " +
                std::to_string(result->id) + " from frame " + frameId);
      return true;
    }
    PageReply reply;
    reply.value = result->value;
    reply.message = message;
    keep->Settle(result->id, std::move(reply));
    return true;
  }
  if (auto* error = std::get_if<ErrorMessage>(&*decoded)) {
    auto it = keep->pending.find(error->id);
    if (it == keep->pending.end() || it->second.frameId != frameId) {
      keep->Log("dropped an Error for no pending call " +
                std::to_string(error->id) + " from frame " + frameId);
      return true;
    }
    PageReply reply;
    reply.outcome = PageReply::Outcome::kError;
    reply.text = error->message.ToString();
    reply.message = message;
    keep->Settle(error->id, std::move(reply));
    return true;
  }
  const auto& focus = std::get<FocusChangeMessage>(*decoded);
  if (keep->focusObserver) {
    FocusObserver observer = keep->focusObserver;
    observer(browser, frame, focus.elementFocused);
  }
  return true;
}

void Peer::OnFrameDetached(CefRefPtr<CefBrowser> /*browser*/,
                           CefRefPtr<CefFrame> frame) {
  if (!frame) {
    return;
  }
  std::shared_ptr<PeerCore> keep = core;
  const std::string frameId = FrameIdOf(frame);
  if (frame->IsValid() || keep->replyHolds.count(frameId) != 0) {
    keep->goneFrames.insert(frameId);
  } else {
    keep->goneFrames.erase(frameId);
  }
  keep->FailWhere(
      [&frameId](const PendingPageCall& call) {
        return call.frameId == frameId;
      },
      PageReply::Outcome::kFrameDetached, "frame " + frameId + " detached");
}

void Peer::OnFrameAttached(CefRefPtr<CefBrowser> /*browser*/,
                           CefRefPtr<CefFrame> frame,
                           bool /*reattached*/) {
  if (frame) {
    core->goneFrames.erase(FrameIdOf(frame));
  }
}

void Peer::OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser) {
  if (!browser) {
    return;
  }
  std::shared_ptr<PeerCore> keep = core;
  std::vector<CefString> frameIds;
  browser->GetFrameIdentifiers(frameIds);
  for (const CefString& frameId : frameIds) {
    keep->goneFrames.insert(frameId.ToString());
  }
  if (CefRefPtr<CefFrame> main = browser->GetMainFrame()) {
    keep->goneFrames.insert(FrameIdOf(main));
  }
  const int browserId = browser->GetIdentifier();
  keep->FailWhere(
      [browserId](const PendingPageCall& call) {
        return call.browserId == browserId;
      },
      PageReply::Outcome::kRendererTerminated, "the renderer terminated");
}

void Peer::Handle(const std::string& function,
                  CallHandler handler,
                  Origins from) {
  if (handler) {
    core->handlers[function] = Registered{std::move(handler), std::move(from)};
  } else {
    core->handlers.erase(function);
  }
}

void Peer::SetFallback(CallHandler handler, Origins from) {
  core->fallback = Registered{std::move(handler), std::move(from)};
}

SendStatus Peer::CallPage(CefRefPtr<CefFrame> frame,
                          const std::string& path,
                          CefRefPtr<CefListValue> arguments,
                          PageCallback callback,
                          CallOptions options) {
  std::shared_ptr<PeerCore> keep = core;
  auto refuse = [&](SendStatus status, const std::string& why, int32_t id) {
    keep->Log("call of '" + path + "' refused: " + why);
    PageReply reply;
    reply.outcome = PageReply::Outcome::kRefused;
    reply.text = why;
    reply.id = id;
    if (callback) {
      callback(reply);
    }
    return status;
  };
  // The peer's state is the UI thread's alone.
  if (!CefCurrentlyOn(TID_UI)) {
    return refuse(SendStatus::kWrongThread, "not on the UI thread", -1);
  }
  const int32_t id = keep->TakeId();
  CefRefPtr<CefProcessMessage> message =
      CallMessage(path, arguments ? arguments : CefListValue::Create(), id)
          .ToProcessMessage();
  if (!frame) {
    return refuse(SendStatus::kNoFrame, "no frame", id);
  }
  if (keep->FrameGone(frame)) {
    return refuse(SendStatus::kFrameGone,
                  "frame " + FrameIdOf(frame) + " is gone", id);
  }
  const EncodedSize size = MeasureMessage(message);
  if (!FitsChannel(size)) {
    return refuse(SendStatus::kTooLarge,
                  "message of " + std::to_string(size.bytes) +
                      " bytes, nesting " + std::to_string(size.nesting) +
                      ", exceeds the channel's limits",
                  id);
  }
  if (PageValueNesting(size, message) > kMaxValueNesting) {
    return refuse(SendStatus::kTooDeep, TooDeepText(), id);
  }
  const uint64_t serial = keep->nextSerial++;
  if (options.timeoutMs > 0 &&
      !CefPostDelayedTask(TID_UI, new TimeoutTask(keep, id, serial),
                          options.timeoutMs)) {
    return refuse(SendStatus::kNoTimer, "the time-out could not be posted", id);
  }
  CefRefPtr<CefBrowser> browser = frame->GetBrowser();
  keep->pending[id] =
      PendingPageCall{FrameIdOf(frame), browser ? browser->GetIdentifier() : 0,
                      serial, std::move(callback)};
  frame->SendProcessMessage(PID_RENDERER, message);
  return SendStatus::kSent;
}

void Peer::SetFocusObserver(FocusObserver observer) {
  core->focusObserver = std::move(observer);
}

void Peer::SetLogSink(LogSink sink) {
  core->logSink = std::move(sink);
}

size_t Peer::PendingPageCalls() const {
  return core->pending.size();
}

bool Peer::IsFrameGone(const std::string& frameId) const {
  return core->goneFrames.count(frameId) != 0;
}

}  // namespace cef_launcher_peer
