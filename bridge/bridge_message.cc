#include "bridge/bridge_message.h"

#include <limits>
#include <utility>

int32_t nextCallId = 0;

int32_t TakeNextCallId() {
  const int32_t id = nextCallId;
  nextCallId = id == std::numeric_limits<int32_t>::max() ? 0 : id + 1;
  return id;
}

namespace {

constexpr size_t kCallSize = 4;
constexpr size_t kResultSize = 3;
constexpr size_t kErrorSize = 3;
constexpr size_t kFocusChangeSize = 2;

// The argument list of a new message of `type`, sized for its kind.
CefRefPtr<CefListValue> StartMessage(
    const CefRefPtr<CefProcessMessage>& message,
    BridgeMessageType type,
    size_t size) {
  CefRefPtr<CefListValue> list = message->GetArgumentList();
  list->SetSize(size);
  list->SetInt(0, static_cast<int>(type));
  return list;
}

// The argument list when it is present and has exactly `size` entries.
CefRefPtr<CefListValue> ArgumentsOfSize(
    const CefRefPtr<CefProcessMessage>& message,
    size_t size) {
  CefRefPtr<CefListValue> list = message->GetArgumentList();
  if (!list || !list->IsValid() || list->GetSize() != size) {
    return nullptr;
  }
  return list;
}

template <typename Record>
std::optional<BridgeMessage> Decode(
    const CefRefPtr<CefProcessMessage>& message) {
  std::optional<Record> record = Record::FromProcessMessage(message);
  if (!record) {
    return std::nullopt;
  }
  return BridgeMessage(std::in_place_type<Record>, std::move(*record));
}

}  // namespace

CallMessage::CallMessage(std::string callFunction,
                         CefRefPtr<CefListValue> callArguments)
    : CallMessage(std::move(callFunction),
                  std::move(callArguments),
                  TakeNextCallId()) {}

CallMessage::CallMessage(std::string callFunction,
                         CefRefPtr<CefListValue> callArguments,
                         int32_t callId)
    : function(std::move(callFunction)),
      arguments(std::move(callArguments)),
      id(callId) {}

CefRefPtr<CefProcessMessage> CallMessage::ToProcessMessage() const {
  CefRefPtr<CefProcessMessage> message =
      CefProcessMessage::Create(kBridgeMessageName);
  CefRefPtr<CefListValue> list =
      StartMessage(message, BridgeMessageType::Call, kCallSize);
  list->SetInt(1, id);
  list->SetString(2, function);
  list->SetList(3, arguments ? arguments->Copy() : CefListValue::Create());
  return message;
}

std::optional<CallMessage> CallMessage::FromProcessMessage(
    const CefRefPtr<CefProcessMessage>& message) {
  CefRefPtr<CefListValue> list = ArgumentsOfSize(message, kCallSize);
  if (!list || list->GetType(1) != VTYPE_INT ||
      list->GetType(2) != VTYPE_STRING || list->GetType(3) != VTYPE_LIST) {
    return std::nullopt;
  }
  return CallMessage(list->GetString(2).ToString(), list->GetList(3),
                     list->GetInt(1));
}

CefRefPtr<CefProcessMessage> ResultMessage::ToProcessMessage() const {
  CefRefPtr<CefProcessMessage> message =
      CefProcessMessage::Create(kBridgeMessageName);
  CefRefPtr<CefListValue> list =
      StartMessage(message, BridgeMessageType::Result, kResultSize);
  list->SetInt(1, id);
  // An absent value stays the NULL padding that SetSize left.
  if (value) {
    list->SetValue(2, value->Copy());
  }
  return message;
}

std::optional<ResultMessage> ResultMessage::FromProcessMessage(
    const CefRefPtr<CefProcessMessage>& message) {
  CefRefPtr<CefListValue> list = ArgumentsOfSize(message, kResultSize);
  if (!list || list->GetType(1) != VTYPE_INT) {
    return std::nullopt;
  }
  return ResultMessage{list->GetInt(1), list->GetValue(2)};
}

CefRefPtr<CefProcessMessage> ErrorMessage::ToProcessMessage() const {
  CefRefPtr<CefProcessMessage> processMessage =
      CefProcessMessage::Create(kBridgeMessageName);
  CefRefPtr<CefListValue> list =
      StartMessage(processMessage, BridgeMessageType::Error, kErrorSize);
  list->SetInt(1, id);
  list->SetString(2, message);
  return processMessage;
}

std::optional<ErrorMessage> ErrorMessage::FromProcessMessage(
    const CefRefPtr<CefProcessMessage>& message) {
  CefRefPtr<CefListValue> list = ArgumentsOfSize(message, kErrorSize);
  if (!list || list->GetType(1) != VTYPE_INT ||
      list->GetType(2) != VTYPE_STRING) {
    return std::nullopt;
  }
  return ErrorMessage{list->GetInt(1), list->GetString(2)};
}

CefRefPtr<CefProcessMessage> FocusChangeMessage::ToProcessMessage() const {
  CefRefPtr<CefProcessMessage> message =
      CefProcessMessage::Create(kBridgeMessageName);
  CefRefPtr<CefListValue> list =
      StartMessage(message, BridgeMessageType::FocusChange, kFocusChangeSize);
  list->SetBool(1, elementFocused);
  return message;
}

std::optional<FocusChangeMessage> FocusChangeMessage::FromProcessMessage(
    const CefRefPtr<CefProcessMessage>& message) {
  CefRefPtr<CefListValue> list = ArgumentsOfSize(message, kFocusChangeSize);
  if (!list || list->GetType(1) != VTYPE_BOOL) {
    return std::nullopt;
  }
  return FocusChangeMessage{list->GetBool(1)};
}

std::optional<BridgeMessage> ParseBridgeMessage(
    const CefRefPtr<CefProcessMessage>& message) {
  if (!message || message->GetName() != kBridgeMessageName) {
    return std::nullopt;
  }
  CefRefPtr<CefListValue> list = message->GetArgumentList();
  if (!list || !list->IsValid() || list->GetSize() < 1 ||
      list->GetType(0) != VTYPE_INT) {
    return std::nullopt;
  }
  // Negative values become large when read unsigned and fail the bound too.
  switch (static_cast<uint32_t>(list->GetInt(0))) {
    case static_cast<uint32_t>(BridgeMessageType::Call):
      return Decode<CallMessage>(message);
    case static_cast<uint32_t>(BridgeMessageType::Result):
      return Decode<ResultMessage>(message);
    case static_cast<uint32_t>(BridgeMessageType::Error):
      return Decode<ErrorMessage>(message);
    case static_cast<uint32_t>(BridgeMessageType::FocusChange):
      return Decode<FocusChangeMessage>(message);
    default:
      return std::nullopt;
  }
}
