// Received "qrx" messages of every shape through ParseBridgeMessage: the
// decoder accepts exactly the messages the protocol allows, and an accepted
// record re-encodes to an equal message.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <variant>

#include "bridge/bridge_message.h"
#include "cefsim/transit.h"
#include "cefsim/value_text.h"
#include "fuzz/fuzz_values.h"

namespace {

constexpr const char* kNames[] = {"qrx", "QRX", "qrx ", "qr", "qrxx", "x"};

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
      list->SetString(2, ConsumeText(data, 24));
      list->SetList(3, ConsumeList(data, shape));
      break;
    case 1:
      list->SetInt(1, data.ConsumeIntegral<int32_t>());
      list->SetValue(2, ConsumeValue(data, shape));
      break;
    case 2:
      list->SetInt(1, data.ConsumeIntegral<int32_t>());
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
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
