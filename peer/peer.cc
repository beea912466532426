#include "peer/peer.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <unordered_map>
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
  uint64_t serial = 0;
  PageCallback callback;
};

std::string FrameIdOf(const CefRefPtr<CefFrame>& frame) {
  return frame ? frame->GetIdentifier().ToString() : std::string();
}

class FunctionTask : public CefTask {
 public:
  explicit FunctionTask(std::function<void()> work) : run(std::move(work)) {}
  void Execute() override {
    std::function<void()> once = std::move(run);
    run = nullptr;
    if (once) {
      once();
    }
  }

 private:
  std::function<void()> run;
  IMPLEMENT_REFCOUNTING(FunctionTask);
};

// False when CEF no longer runs; `work` is then dropped unrun.
bool PostToUi(std::function<void()> work) {
  return CefPostTask(TID_UI, new FunctionTask(std::move(work)));
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

// What a Reply shares with the peer: whether its document is gone and the
// host's cancel handler.
struct ReplyLink {
  std::atomic<bool> gone{false};
  std::mutex lock;
  CancelHandler onCancel;
  bool cancelled = false;
  bool settled = false;  // answered: no cancel notice any more

  void Cancel() {
    CancelHandler run;
    {
      std::lock_guard<std::mutex> guard(lock);
      if (cancelled || settled) {
        return;
      }
      cancelled = true;
      run = std::move(onCancel);
      onCancel = nullptr;
    }
    if (run) {
      run();
    }
  }

  void Settle() {
    CancelHandler drop;
    std::lock_guard<std::mutex> guard(lock);
    settled = true;
    drop = std::move(onCancel);
    onCancel = nullptr;
  }
};

struct PeerCore {
  std::map<std::string, Registered> handlers;
  Registered fallback;
  FocusObserver focusObserver;
  LogSink logSink;
  std::map<int32_t, PendingPageCall> pending;
  std::atomic<size_t> pendingCount{0};
  // Frames of a terminated renderer: CEF keeps them IsValid() and drops
  // what is sent to them. Forgotten when they detach.
  std::set<std::string> goneFrames;
  // Replies not answered yet, by frame id; each leaves when answered.
  std::unordered_map<std::string, std::vector<std::shared_ptr<ReplyLink>>>
      links;
  int32_t nextId = 0;
  uint64_t nextSerial = 1;
  bool shutDown = false;
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

  // The sink runs from a task of its own: never inside a host's call, never
  // off the UI thread. Any thread.
  void Log(std::string line) {
    std::weak_ptr<PeerCore> weak = self;
    PostToUi([weak, text = std::move(line)] {
      if (std::shared_ptr<PeerCore> locked = weak.lock()) {
        if (locked->logSink) {
          LogSink sink = locked->logSink;
          sink(text);
        }
      }
    });
  }

  // CEF keeps a crashed renderer's main frame IsValid() and drops what is
  // sent to it, so validity alone cannot tell.
  bool FrameGone(const CefRefPtr<CefFrame>& frame) const {
    return !frame->IsValid() ||
           (!goneFrames.empty() &&
            goneFrames.count(frame->GetIdentifier().ToString()) != 0);
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
    frame->SendProcessMessage(PID_RENDERER, message);
    return SendStatus::kSent;
  }

  // A handler the caller's origin may not use is as if it did not exist, so
  // a frame learns nothing about what it may not call.
  CallHandler HandlerFor(const std::string& function,
                         const std::string& origin) {
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

  std::shared_ptr<ReplyLink> Link(const std::string& frameId) {
    auto link = std::make_shared<ReplyLink>();
    links[frameId].push_back(link);
    return link;
  }

  void Unlink(const std::string& frameId, const ReplyLink* link) {
    auto it = links.find(frameId);
    if (it == links.end()) {
      return;
    }
    auto& list = it->second;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [link](const std::shared_ptr<ReplyLink>& entry) {
                                return entry.get() == link;
                              }),
               list.end());
    if (list.empty()) {
      links.erase(it);
    }
  }

  // Replies of the frame can no longer reach their document: they send
  // nothing from now on, and their cancel handlers run.
  void CancelReplies(const std::string& frameId) {
    auto it = links.find(frameId);
    if (it == links.end()) {
      return;
    }
    std::vector<std::shared_ptr<ReplyLink>> going = std::move(it->second);
    links.erase(it);
    for (const auto& link : going) {
      link->gone = true;
    }
    for (const auto& link : going) {
      link->Cancel();
    }
  }

  // Shut down: the host hears that held calls are moot, yet an answer it
  // still gives is delivered rather than lost.
  void CancelAllReplies() {
    std::vector<std::shared_ptr<ReplyLink>> going;
    for (const auto& entry : links) {
      going.insert(going.end(), entry.second.begin(), entry.second.end());
    }
    for (const auto& link : going) {
      link->Cancel();
    }
  }

  // The answer of a Reply, on the UI thread.
  SendStatus Deliver(const std::shared_ptr<ReplyLink>& link,
                     const std::string& frameId,
                     int32_t callId,
                     const CefRefPtr<CefFrame>& frame,
                     const CefRefPtr<CefProcessMessage>& message) {
    if (link) {
      link->Settle();
      Unlink(frameId, link.get());
    }
    std::string why;
    SendStatus status;
    if (link && link->gone) {
      why = "frame " + frameId + " is gone";
      status = SendStatus::kFrameGone;
    } else {
      status = Send(frame, message, &why);
    }
    if (status != SendStatus::kSent) {
      Log("answer to page call " + std::to_string(callId) +
          " not sent: " + why);
    }
    return status;
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

  void Add(int32_t id, PendingPageCall call) {
    pending[id] = std::move(call);
    pendingCount = pending.size();
  }

  // Removes the call first: the callback may start new calls.
  void Settle(int32_t id, PageReply reply) {
    auto it = pending.find(id);
    if (it == pending.end()) {
      return;
    }
    PageCallback callback = std::move(it->second.callback);
    pending.erase(it);
    pendingCount = pending.size();
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

  // The callback of a refused call runs from a task: never inside CallPage.
  void Refuse(const std::string& path,
              const std::string& why,
              int32_t id,
              PageCallback callback) {
    Log("call of '" + path + "' refused: " + why);
    if (!callback) {
      return;
    }
    PageReply reply;
    reply.outcome = PageReply::Outcome::kRefused;
    reply.text = why;
    reply.id = id;
    PostToUi([run = std::move(callback), reply] { run(reply); });
  }

  SendStatus CallPage(const CefRefPtr<CefFrame>& frame,
                      const std::string& path,
                      const CefRefPtr<CefListValue>& arguments,
                      PageCallback callback,
                      const CallOptions& options);

  static Reply MakeReply(std::shared_ptr<PeerCore> peerCore,
                         CefRefPtr<CefFrame> frame,
                         const std::string& frameId,
                         int32_t id) {
    return Reply(std::move(peerCore), std::move(frame), frameId, id);
  }

  std::weak_ptr<PeerCore> self;
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

SendStatus PeerCore::CallPage(const CefRefPtr<CefFrame>& frame,
                              const std::string& path,
                              const CefRefPtr<CefListValue>& arguments,
                              PageCallback callback,
                              const CallOptions& options) {
  if (shutDown) {
    Log("call of '" + path + "' refused: the peer is shut down");
    return SendStatus::kShutDown;
  }
  if (options.timeoutMs <= 0) {
    Refuse(path,
           "time-out of " + std::to_string(options.timeoutMs) +
               " ms: give a positive time-out or kWaitForever",
           -1, std::move(callback));
    return SendStatus::kBadTimeout;
  }
  const int32_t id = TakeId();
  if (!frame) {
    Refuse(path, "no frame", id, std::move(callback));
    return SendStatus::kNoFrame;
  }
  if (FrameGone(frame)) {
    Refuse(path, "frame " + FrameIdOf(frame) + " is gone", id,
           std::move(callback));
    return SendStatus::kFrameGone;
  }
  CefRefPtr<CefProcessMessage> message =
      CallMessage(path, arguments ? arguments : CefListValue::Create(), id)
          .ToProcessMessage();
  const EncodedSize size = MeasureMessage(message);
  if (!FitsChannel(size)) {
    Refuse(path,
           "message of " + std::to_string(size.bytes) + " bytes, nesting " +
               std::to_string(size.nesting) + ", exceeds the channel's limits",
           id, std::move(callback));
    return SendStatus::kTooLarge;
  }
  if (PageValueNesting(size, message) > kMaxValueNesting) {
    Refuse(path, TooDeepText(), id, std::move(callback));
    return SendStatus::kTooDeep;
  }
  const uint64_t serial = nextSerial++;
  if (options.timeoutMs != kWaitForever &&
      !CefPostDelayedTask(TID_UI, new TimeoutTask(self, id, serial),
                          options.timeoutMs)) {
    Refuse(path, "the time-out could not be posted", id, std::move(callback));
    return SendStatus::kNoTimer;
  }
  Add(id, PendingPageCall{FrameIdOf(frame), serial, std::move(callback)});
  frame->SendProcessMessage(PID_RENDERER, message);
  return SendStatus::kSent;
}

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
    case SendStatus::kPosted:
      return "posted";
    case SendStatus::kNotRunning:
      return "not running";
    case SendStatus::kShutDown:
      return "shut down";
    case SendStatus::kTooDeep:
      return "too deep";
    case SendStatus::kBadTimeout:
      return "bad time-out";
  }
  return "unknown";
}

Reply::Reply(std::shared_ptr<PeerCore> peerCore,
             CefRefPtr<CefFrame> callFrame,
             std::string frameId,
             int32_t id)
    : core(std::move(peerCore)),
      frame(std::move(callFrame)),
      callFrameId(std::move(frameId)),
      callId(id) {
  link = core->Link(callFrameId);
}

Reply::Reply(Reply&& other) noexcept
    : core(std::move(other.core)),
      link(std::move(other.link)),
      frame(std::move(other.frame)),
      callFrameId(std::move(other.callFrameId)),
      callId(other.callId),
      answered(other.answered) {
  other.core.reset();
  other.link.reset();
  other.frame = nullptr;
}

Reply& Reply::operator=(Reply&& other) noexcept {
  if (this != &other) {
    // The reply replaced here would otherwise be lost unanswered.
    if (pending()) {
      Error(kUnansweredText);
    }
    core = std::move(other.core);
    link = std::move(other.link);
    frame = std::move(other.frame);
    callFrameId = std::move(other.callFrameId);
    callId = other.callId;
    answered = other.answered;
    other.core.reset();
    other.link.reset();
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

void Reply::SetCancelHandler(CancelHandler handler) {
  if (!link) {
    return;
  }
  {
    std::lock_guard<std::mutex> guard(link->lock);
    if (link->settled) {
      return;
    }
    if (!link->cancelled) {
      link->onCancel = std::move(handler);
      return;
    }
  }
  // Already moot: told from a task, never inside this call.
  if (handler) {
    PostToUi(std::move(handler));
  }
}

bool Reply::frameGone() const {
  return link && link->gone;
}

SendStatus Reply::Answer(CefRefPtr<CefProcessMessage> message) {
  if (!pending()) {
    if (core) {
      core->Log("second answer to page call " + std::to_string(callId) +
                " on frame " + callFrameId + " refused");
    }
    return SendStatus::kAlreadyAnswered;
  }
  // The message is complete here (the value copied into it), so its size
  // is known on any thread.
  const EncodedSize size = MeasureMessage(message);
  if (!FitsChannel(size)) {
    // Still pending: the handler can answer with an Error instead.
    core->Log("answer to page call " + std::to_string(callId) +
              " refused: message of " + std::to_string(size.bytes) +
              " bytes, nesting " + std::to_string(size.nesting) +
              ", exceeds the channel's limits");
    return SendStatus::kTooLarge;
  }
  if (PageValueNesting(size, message) > kMaxValueNesting) {
    core->Log("answer to page call " + std::to_string(callId) +
              " refused: " + TooDeepText());
    return SendStatus::kTooDeep;
  }
  answered = true;
  if (CefCurrentlyOn(TID_UI)) {
    return core->Deliver(link, callFrameId, callId, frame, message);
  }
  const bool posted =
      PostToUi([peerCore = core, replyLink = link, frameId = callFrameId,
                id = callId, target = frame, message] {
        peerCore->Deliver(replyLink, frameId, id, target, message);
      });
  return posted ? SendStatus::kPosted : SendStatus::kNotRunning;
}

Peer::Peer() : core(std::make_shared<PeerCore>()) {
  core->self = core;
}

Peer::~Peer() {
  std::shared_ptr<PeerCore> owned = std::move(core);
  auto drop = [](const std::shared_ptr<PeerCore>& peerCore) {
    // What the host handed in goes without being run; Replies keep the core.
    peerCore->shutDown = true;
    std::map<int32_t, PendingPageCall> dropped = std::move(peerCore->pending);
    peerCore->pending.clear();
    peerCore->pendingCount = 0;
    std::map<std::string, Registered> handlers = std::move(peerCore->handlers);
    peerCore->handlers.clear();
    Registered fallback = std::move(peerCore->fallback);
    FocusObserver observer = std::move(peerCore->focusObserver);
    LogSink sink = std::move(peerCore->logSink);
    peerCore->fallback = Registered();
    peerCore->focusObserver = nullptr;
    peerCore->logSink = nullptr;
  };
  if (CefCurrentlyOn(TID_UI) || !PostToUi([owned, drop] { drop(owned); })) {
    drop(owned);
  }
}

void Peer::Shutdown() {
  auto run = [](const std::shared_ptr<PeerCore>& peerCore) {
    if (peerCore->shutDown) {
      return;
    }
    peerCore->shutDown = true;
    peerCore->FailWhere([](const PendingPageCall&) { return true; },
                        PageReply::Outcome::kRefused, "peer shut down");
    peerCore->CancelAllReplies();
  };
  std::shared_ptr<PeerCore> keep = core;
  // With CEF gone there is no UI thread left to race with.
  if (CefCurrentlyOn(TID_UI) || !PostToUi([keep, run] { run(keep); })) {
    run(keep);
  }
}

namespace {

bool ReceiveOnUi(const std::shared_ptr<PeerCore>& keep,
                 CefRefPtr<CefBrowser> browser,
                 CefRefPtr<CefFrame> frame,
                 CefProcessId sourceProcess,
                 CefRefPtr<CefProcessMessage> message) {
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
    Reply reply = PeerCore::MakeReply(keep, frame, frameId, call->id);
    if (keep->shutDown) {
      reply.Error(kShutDownText);
      return true;
    }
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
  if (keep->focusObserver && !keep->shutDown) {
    FocusObserver observer = keep->focusObserver;
    observer(browser, frame, focus.elementFocused);
  }
  return true;
}

void DetachOnUi(const std::shared_ptr<PeerCore>& keep,
                CefRefPtr<CefFrame> frame) {
  const std::string frameId = FrameIdOf(frame);
  // A frame still valid after its detach keeps being refused.
  if (frame->IsValid()) {
    keep->goneFrames.insert(frameId);
  } else {
    keep->goneFrames.erase(frameId);
  }
  keep->FailWhere(
      [&frameId](const PendingPageCall& call) {
        return call.frameId == frameId;
      },
      PageReply::Outcome::kFrameDetached, "frame " + frameId + " detached");
  keep->CancelReplies(frameId);
}

}  // namespace

bool Peer::OnProcessMessageReceived(CefRefPtr<CefBrowser> browser,
                                    CefRefPtr<CefFrame> frame,
                                    CefProcessId sourceProcess,
                                    CefRefPtr<CefProcessMessage> message) {
  if (!message || message->GetName() != kBridgeMessageName) {
    return false;
  }
  // Keeps the core alive through handlers that destroy the Peer.
  std::shared_ptr<PeerCore> keep = core;
  if (!CefCurrentlyOn(TID_UI)) {
    PostToUi([keep, browser, frame, sourceProcess, message] {
      ReceiveOnUi(keep, browser, frame, sourceProcess, message);
    });
    return true;
  }
  return ReceiveOnUi(keep, browser, frame, sourceProcess, message);
}

void Peer::OnFrameDetached(CefRefPtr<CefBrowser> /*browser*/,
                           CefRefPtr<CefFrame> frame) {
  if (!frame) {
    return;
  }
  std::shared_ptr<PeerCore> keep = core;
  if (!CefCurrentlyOn(TID_UI)) {
    PostToUi([keep, frame] { DetachOnUi(keep, frame); });
    return;
  }
  DetachOnUi(keep, frame);
}

void Peer::OnFrameAttached(CefRefPtr<CefBrowser> /*browser*/,
                           CefRefPtr<CefFrame> frame,
                           bool /*reattached*/) {
  if (!frame) {
    return;
  }
  std::shared_ptr<PeerCore> keep = core;
  std::string frameId = FrameIdOf(frame);
  if (!CefCurrentlyOn(TID_UI)) {
    PostToUi([keep, frameId] { keep->goneFrames.erase(frameId); });
    return;
  }
  keep->goneFrames.erase(frameId);
}

void Peer::OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser) {
  if (!browser) {
    return;
  }
  std::shared_ptr<PeerCore> keep = core;
  auto run = [keep, browser] {
    std::vector<CefString> ids;
    browser->GetFrameIdentifiers(ids);
    std::vector<std::string> frameIds(ids.begin(), ids.end());
    if (CefRefPtr<CefFrame> main = browser->GetMainFrame()) {
      frameIds.push_back(FrameIdOf(main));
    }
    for (const std::string& frameId : frameIds) {
      keep->goneFrames.insert(frameId);
    }
    // The browser's frames as CEF lists them now: calls to frames that went
    // earlier have failed already.
    keep->FailWhere(
        [&frameIds](const PendingPageCall& call) {
          return std::find(frameIds.begin(), frameIds.end(), call.frameId) !=
                 frameIds.end();
        },
        PageReply::Outcome::kRendererTerminated, "the renderer terminated");
    for (const std::string& frameId : frameIds) {
      keep->CancelReplies(frameId);
    }
  };
  if (!CefCurrentlyOn(TID_UI)) {
    PostToUi(run);
    return;
  }
  run();
}

void Peer::OnLoadStart(CefRefPtr<CefBrowser> /*browser*/,
                       CefRefPtr<CefFrame> frame) {
  if (!frame) {
    return;
  }
  std::shared_ptr<PeerCore> keep = core;
  auto run = [keep, frameId = FrameIdOf(frame)] {
    keep->FailWhere(
        [&frameId](const PendingPageCall& call) {
          return call.frameId == frameId;
        },
        PageReply::Outcome::kNavigated,
        "frame " + frameId + " started another document");
    keep->CancelReplies(frameId);
  };
  if (!CefCurrentlyOn(TID_UI)) {
    PostToUi(run);
    return;
  }
  run();
}

void Peer::Handle(const std::string& function,
                  CallHandler handler,
                  Origins from) {
  std::shared_ptr<PeerCore> keep = core;
  auto run = [keep, function, from](CallHandler given) {
    if (given) {
      keep->handlers[function] = Registered{std::move(given), from};
    } else {
      keep->handlers.erase(function);
    }
  };
  if (!CefCurrentlyOn(TID_UI)) {
    PostToUi(
        [run, given = std::move(handler)]() mutable { run(std::move(given)); });
    return;
  }
  run(std::move(handler));
}

void Peer::SetFallback(CallHandler handler, Origins from) {
  std::shared_ptr<PeerCore> keep = core;
  if (!CefCurrentlyOn(TID_UI)) {
    PostToUi([keep, given = std::move(handler), from]() mutable {
      keep->fallback = Registered{std::move(given), std::move(from)};
    });
    return;
  }
  keep->fallback = Registered{std::move(handler), std::move(from)};
}

SendStatus Peer::CallPage(CefRefPtr<CefFrame> frame,
                          const std::string& path,
                          CefRefPtr<CefListValue> arguments,
                          PageCallback callback,
                          CallOptions options) {
  std::shared_ptr<PeerCore> keep = core;
  if (CefCurrentlyOn(TID_UI)) {
    return keep->CallPage(frame, path, arguments, std::move(callback), options);
  }
  // The arguments are the caller's: copied before the call returns.
  CefRefPtr<CefListValue> copied = arguments ? arguments->Copy() : nullptr;
  const bool posted = PostToUi([keep, frame, path, copied,
                                run = std::move(callback), options]() mutable {
    keep->CallPage(frame, path, copied, std::move(run), options);
  });
  return posted ? SendStatus::kPosted : SendStatus::kNotRunning;
}

void Peer::SetFocusObserver(FocusObserver observer) {
  std::shared_ptr<PeerCore> keep = core;
  if (!CefCurrentlyOn(TID_UI)) {
    PostToUi([keep, given = std::move(observer)]() mutable {
      keep->focusObserver = std::move(given);
    });
    return;
  }
  keep->focusObserver = std::move(observer);
}

void Peer::SetLogSink(LogSink sink) {
  std::shared_ptr<PeerCore> keep = core;
  if (!CefCurrentlyOn(TID_UI)) {
    PostToUi([keep, given = std::move(sink)]() mutable {
      keep->logSink = std::move(given);
    });
    return;
  }
  keep->logSink = std::move(sink);
}

size_t Peer::PendingPageCalls() const {
  return core->pendingCount;
}

}  // namespace cef_launcher_peer
