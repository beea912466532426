// Received "qrx" messages of every shape through ParseBridgeMessage: the
// decoder accepts exactly the messages the protocol allows, and an accepted
// record re-encodes to an equal message. Then the same message reaches the
// render-process hook of a live page: a Call gets exactly one reply with its
// id, anything else gets none, and a pending page call settles at most once,
// only by a reply carrying its id.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "bridge/bridge_message.h"
#include "bridge/path_segments.h"
#include "cefsim/transit.h"
#include "cefsim/value_text.h"
#include "fuzz/fuzz_page.h"
#include "fuzz/fuzz_values.h"

namespace {

constexpr const char* kNames[] = {"qrx", "QRX", "qrx ", "qr", "qrxx", "x"};

// Paths into the page below, and near misses.
constexpr const char* kPaths[] = {
    "",
    "echo",
    "ui.toast.show",
    "..ui..toast.show.",
    "ui.missing",
    "ui.missing.x",
    "thrower",
    "bad.x",
    "bad.x.y",
    "proxy.a",
    "cycle",
    "squirrel.call",
    "squirrel",
    "later",
    "nested.fn",
    "echo.length",
    "list[0]",
    "0",
    "constructor.name",
    "Map",
    "{}",
    "deep",
    "calls",
    "settled.length",
};

// Functions and values the peer's Calls reach; `calls` and `pending` make
// page calls of their own so that replies have something to settle.
constexpr char kPageScript[] = R"JS(
  // Blink's global object is a Window, which converts to NULL; without this
  // an empty path would convert the whole global as a plain object.
  Object.defineProperty(globalThis, 'constructor', {value: function Window() {}});
  globalThis.settled = [];
  globalThis.issue = function (count) {
    for (let i = 0; i < count; i++) {
      squirrel.call('f', i).then(
          v => settled.push(['result', v]), e => settled.push(['error', e.message]));
    }
  };
  globalThis.echo = (...args) => args;
  globalThis.ui = {toast: {show(text) { return [this === ui.toast, text]; }}};
  globalThis.thrower = () => { throw new Error('boom'); };
  Object.defineProperty(globalThis, 'bad', {get() { throw new Error('get'); }});
  globalThis.proxy = new Proxy({}, {get() { throw 1; }});
  globalThis.cycle = (() => { const a = [1]; a.push(a); return a; })();
  globalThis.later = async () => 1;
  globalThis.nested = {fn() {
    return squirrel.call('inner').then(
        v => settled.push(['result', v]), e => settled.push(['error', e.message]));
  }};
  globalThis.calls = () => { issue(2); return settled.length; };
  globalThis.deep = () => { let v = 0; for (let i = 0; i < 200; i++) v = [v]; return v; };
  globalThis['list[0]'] = 'bracket';
  globalThis['0'] = 'digit';
)JS";

// The ids of page calls still waiting for a reply: those whose settlement
// the page records, and those made through a Call to squirrel.call itself,
// whose promise went to the peer.
std::set<int32_t> pendingIds;
std::set<int32_t> unrecordedIds;
bool pageReady = false;

void PreparePage(FuzzPage& page) {
  constexpr int kInputsPerProcess = 2000;
  static int inputs = 0;
  if (++inputs % kInputsPerProcess == 0) {
    page.Restart();
    pendingIds.clear();
    unrecordedIds.clear();
    pageReady = false;
  }
  if (!pageReady) {
    page.Run(kPageScript);
    pageReady = true;
  }
  // Keep a few calls waiting, with ids the fuzzer can hit.
  if (pendingIds.size() < 4) {
    const int32_t first = nextCallId;
    page.Run("issue(4)");
    for (int32_t id = first; id != nextCallId; ++id) {
      pendingIds.insert(id);
    }
  }
}

int32_t ConsumeId(FuzzedDataProvider& data) {
  if (!pendingIds.empty() && data.ConsumeBool()) {
    // Near the waiting calls.
    return *pendingIds.begin() + data.ConsumeIntegralInRange(-1, 6);
  }
  return data.ConsumeIntegral<int32_t>();
}

// A message as the peer could build it: mostly a bridge kind with the right
// shape, often one entry off in type or count.
CefRefPtr<CefProcessMessage> ConsumeMessage(FuzzedDataProvider& data) {
  std::string name = kNames[0];
  if (data.ConsumeIntegralInRange(0, 7) == 0) {
    name = data.ConsumeBool() ? kNames[data.ConsumeIntegralInRange<size_t>(
                                    1, std::size(kNames) - 1)]
                              : ConsumeText(data, 6);
  }
  CefRefPtr<CefProcessMessage> message = CefProcessMessage::Create(name);
  if (!message) {
    return nullptr;
  }
  CefRefPtr<CefListValue> list = message->GetArgumentList();
  const ValueShape shape{.maxDepth = 6, .maxEntries = 5};
  if (data.ConsumeIntegralInRange(0, 5) == 0) {
    // Anything at all.
    const size_t size = data.ConsumeIntegralInRange<size_t>(0, 6);
    for (size_t i = 0; i < size; ++i) {
      list->SetValue(i, ConsumeValue(data, shape));
    }
    return message;
  }
  const int kind = data.ConsumeIntegralInRange(0, 3);
  static constexpr size_t kSizes[] = {4, 3, 3, 2};
  list->SetInt(0, kind);
  switch (kind) {
    case 0:
      list->SetInt(1, data.ConsumeIntegral<int32_t>());
      list->SetString(
          2, data.ConsumeBool()
                 ? std::string(kPaths[data.ConsumeIntegralInRange<size_t>(
                       0, std::size(kPaths) - 1)])
                 : ConsumeText(data, 24));
      list->SetList(3, ConsumeList(data, shape));
      break;
    case 1:
      list->SetInt(1, ConsumeId(data));
      list->SetValue(2, ConsumeValue(data, shape));
      break;
    case 2:
      list->SetInt(1, ConsumeId(data));
      list->SetString(2, ConsumeText(data, 24));
      break;
    default:
      list->SetBool(1, data.ConsumeBool());
      break;
  }
  // Perturbations: a size one off, or one entry replaced by any value.
  switch (data.ConsumeIntegralInRange(0, 5)) {
    case 0:
      list->SetSize(kSizes[kind] + 1);
      break;
    case 1:
      list->SetSize(kSizes[kind] - 1);
      break;
    case 2:
      list->SetValue(
          data.ConsumeIntegralInRange<size_t>(0, kSizes[kind] - 1),
          ConsumeValue(data, ValueShape{.maxDepth = 1, .maxEntries = 2}));
      break;
    case 3:
      list->SetInt(0, data.ConsumeBool() ? -1 : data.ConsumeIntegral<int>());
      break;
    default:
      break;
  }
  return message;
}

// The protocol's acceptance rules, written from the documentation.
bool Acceptable(const CefRefPtr<CefProcessMessage>& message) {
  if (message->GetName().ToString() != kBridgeMessageName) {
    return false;
  }
  CefRefPtr<CefListValue> list = message->GetArgumentList();
  if (!list || !list->IsValid() || list->GetSize() < 1 ||
      list->GetType(0) != VTYPE_INT) {
    return false;
  }
  const int kind = list->GetInt(0);
  const size_t size = list->GetSize();
  switch (kind) {
    case 0:
      return size == 4 && list->GetType(1) == VTYPE_INT &&
             list->GetType(2) == VTYPE_STRING && list->GetType(3) == VTYPE_LIST;
    case 1:
      return size == 3 && list->GetType(1) == VTYPE_INT;
    case 2:
      return size == 3 && list->GetType(1) == VTYPE_INT &&
             list->GetType(2) == VTYPE_STRING;
    case 3:
      return size == 2 && list->GetType(1) == VTYPE_BOOL;
    default:
      return false;
  }
}

// The record's fields are the message's entries.
void CheckFields(const CefRefPtr<CefListValue>& list,
                 const BridgeMessage& record) {
  Check(record.index() == static_cast<size_t>(list->GetInt(0)),
        "record kind is index 0");
  if (const auto* call = std::get_if<CallMessage>(&record)) {
    Check(call->id == list->GetInt(1), "call id");
    CheckSameText("call function", list->GetString(2).ToString(),
                  call->function);
    CheckSameText("call arguments", cefsim::ValueText(list->GetList(3)),
                  cefsim::ValueText(call->arguments));
  } else if (const auto* result = std::get_if<ResultMessage>(&record)) {
    Check(result->id == list->GetInt(1), "result id");
    CheckSameText("result value", cefsim::ValueText(list->GetValue(2)),
                  cefsim::ValueText(result->value));
  } else if (const auto* error = std::get_if<ErrorMessage>(&record)) {
    Check(error->id == list->GetInt(1), "error id");
    CheckSameText("error text", list->GetString(2).ToString(),
                  error->message.ToString());
  } else {
    const auto& focus = std::get<FocusChangeMessage>(record);
    Check(focus.elementFocused == list->GetBool(1), "focus flag");
  }
}

CefRefPtr<CefProcessMessage> Encode(const BridgeMessage& record) {
  return std::visit([](const auto& r) { return r.ToProcessMessage(); }, record);
}

// The kind and id of a bridge reply the renderer sent, if it is one.
std::optional<std::pair<int, int32_t>> ReplyOf(
    const CefRefPtr<CefProcessMessage>& message) {
  std::optional<BridgeMessage> record = ParseBridgeMessage(message);
  if (const auto* result =
          record ? std::get_if<ResultMessage>(&*record) : nullptr) {
    return std::make_pair(1, result->id);
  }
  if (const auto* error =
          record ? std::get_if<ErrorMessage>(&*record) : nullptr) {
    return std::make_pair(2, error->id);
  }
  return std::nullopt;
}

// Delivers the message to the page and checks what came back.
void DeliverToPage(FuzzPage& page,
                   const cefsim::WireMessage& wire,
                   const std::optional<BridgeMessage>& record) {
  const size_t sentBefore = page.harness().SentMessages().size();
  const size_t settledBefore =
      static_cast<size_t>(page.Run("settled.length")->GetIntValue());
  page.harness().renderer().DeliverMessage(page.frame(), wire);

  const auto* call = record ? std::get_if<CallMessage>(&*record) : nullptr;
  const std::vector<std::string_view> segments =
      call ? SplitPathSegments(call->function)
           : std::vector<std::string_view>();
  const bool reachesScriptObject =
      !segments.empty() && segments.front() == "squirrel";
  std::vector<std::pair<int, int32_t>> replies;
  const auto& sent = page.harness().SentMessages();
  for (size_t i = sentBefore; i < sent.size(); ++i) {
    Check(sent[i].frameId == page.frame(), "replies go to the same frame");
    if (auto reply = ReplyOf(sent[i].message)) {
      replies.push_back(*reply);
    } else if (std::optional<BridgeMessage> own =
                   ParseBridgeMessage(sent[i].message)) {
      if (const auto* pageCall = std::get_if<CallMessage>(&*own)) {
        (reachesScriptObject ? unrecordedIds : pendingIds).insert(pageCall->id);
      }
    }
  }
  if (call) {
    Check(replies.size() == 1, "a Call gets exactly one reply, got " +
                                   std::to_string(replies.size()));
    Check(replies[0].second == call->id, "the reply carries the Call's id");
  } else {
    Check(replies.empty(), "only Calls are answered");
  }

  // A reply settles the call of its id if that is still waiting, and
  // nothing else.
  const size_t settled =
      static_cast<size_t>(page.Run("settled.length")->GetIntValue());
  int32_t replyId = 0;
  const bool isReply =
      record && (std::holds_alternative<ResultMessage>(*record) ||
                 std::holds_alternative<ErrorMessage>(*record));
  if (isReply) {
    replyId = std::visit(
        [](const auto& r) -> int32_t {
          if constexpr (requires { r.id; }) {
            return r.id;
          } else {
            return 0;
          }
        },
        *record);
  }
  const bool settles = isReply && pendingIds.erase(replyId) == 1;
  if (isReply) {
    unrecordedIds.erase(replyId);
  }
  // A Call's page function may start and settle nothing synchronously.
  Check(settled == settledBefore + (settles ? 1 : 0),
        "one settlement per reply to a waiting call, and only then");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  FuzzPage& page = FuzzPage::Get();
  PreparePage(page);
  CefRefPtr<CefProcessMessage> built = ConsumeMessage(data);
  if (!built) {
    return 0;
  }
  std::optional<cefsim::WireMessage> wire = cefsim::TakeForSending(built);
  Check(wire.has_value(), "a fresh message is sendable");
  CefRefPtr<CefProcessMessage> received = cefsim::Receive(*wire);
  const std::string receivedText = cefsim::MessageText(received);

  const std::optional<BridgeMessage> record = ParseBridgeMessage(received);
  if (record.has_value() != Acceptable(received)) {
    std::fprintf(stderr, "%s: %s\n", receivedText.c_str(),
                 record ? "accepted" : "rejected");
    std::abort();
  }
  DeliverToPage(page, *wire, record);
  if (!record) {
    return 0;
  }
  CheckFields(received->GetArgumentList(), *record);

  // Encoding leaves the record as it was, so a second encoding is equal too.
  CefRefPtr<CefProcessMessage> encoded = Encode(*record);
  CheckSameText("re-encoded message", receivedText,
                cefsim::MessageText(encoded));
  CheckSameText("second encoding", receivedText,
                cefsim::MessageText(Encode(*record)));

  // And the re-encoded message crosses the channel and decodes the same.
  std::optional<cefsim::WireMessage> again = cefsim::TakeForSending(encoded);
  Check(again.has_value(), "the re-encoded message is sendable");
  // Decoded records hold references into their message: keep it alive.
  CefRefPtr<CefProcessMessage> receivedAgain = cefsim::Receive(*again);
  const std::optional<BridgeMessage> second = ParseBridgeMessage(receivedAgain);
  Check(second.has_value(), "the re-encoded message decodes");
  CheckSameText("decoded twice", receivedText,
                cefsim::MessageText(Encode(*second)));
  return 0;
}
