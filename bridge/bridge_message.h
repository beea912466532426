#pragma once

// The "qrx" bridge protocol: the four message records, their encoding into a
// CEF process message and the decoder for received messages.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "include/cef_process_message.h"
#include "include/cef_values.h"

inline constexpr char kBridgeMessageName[] = "qrx";

// Stored at index 0 of every bridge message; equals the variant index of the
// matching record in BridgeMessage.
enum class BridgeMessageType : int32_t {
  Call = 0,
  Result = 1,
  Error = 2,
  FocusChange = 3,
};

// Process-wide source of the ids of Calls this process sends. Only the
// renderer main thread touches it.
extern int32_t nextCallId;

// Returns the next call id and advances the counter; after INT32_MAX it
// wraps to 0 instead of overflowing.
int32_t TakeNextCallId();

// Decoded records refer into the received message (CEF's getters return
// live references that do not keep their parent alive): use them only while
// the message is held, as the render-process hook does.
//
// Encoding never changes a record: containers are copied into the message,
// because CEF moves a created container into its new parent and leaves the
// caller's handle dead. A record can therefore be encoded more than once.

struct CallMessage {
  // A Call to send: takes its id from nextCallId.
  CallMessage(std::string functionName, CefRefPtr<CefListValue> argumentList);
  // A Call as decoded, or with an id chosen by the caller.
  CallMessage(std::string functionName,
              CefRefPtr<CefListValue> argumentList,
              int32_t callId);

  CefRefPtr<CefProcessMessage> ToProcessMessage() const;
  static std::optional<CallMessage> FromProcessMessage(
      const CefRefPtr<CefProcessMessage>& message);

  std::string function;
  CefRefPtr<CefListValue> arguments;
  int32_t id;
};

struct ResultMessage {
  CefRefPtr<CefProcessMessage> ToProcessMessage() const;
  static std::optional<ResultMessage> FromProcessMessage(
      const CefRefPtr<CefProcessMessage>& message);

  int32_t id;
  CefRefPtr<CefValue> value;
};

struct ErrorMessage {
  CefRefPtr<CefProcessMessage> ToProcessMessage() const;
  static std::optional<ErrorMessage> FromProcessMessage(
      const CefRefPtr<CefProcessMessage>& processMessage);

  int32_t id;
  CefString message;
};

struct FocusChangeMessage {
  CefRefPtr<CefProcessMessage> ToProcessMessage() const;
  static std::optional<FocusChangeMessage> FromProcessMessage(
      const CefRefPtr<CefProcessMessage>& message);

  bool elementFocused;
};

using BridgeMessage =
    std::variant<CallMessage, ResultMessage, ErrorMessage, FocusChangeMessage>;

// Decodes a received process message; empty unless it is a well-formed
// bridge message.
std::optional<BridgeMessage> ParseBridgeMessage(
    const CefRefPtr<CefProcessMessage>& message);
