#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "include/cef_process_message.h"

// The journey of a process message between two simulated processes, as CEF
// makes it: the sender loses its message, the receiver gets a new read-only
// tree that shares nothing with the sender's.
namespace cefsim {

class WirePayload;

// A message on the channel: name and serialised arguments.
struct WireMessage {
  std::string name;
  std::shared_ptr<const WirePayload> payload;
};

// content's cap on one message in Mojo's encoding.
inline constexpr size_t kMaxMessageBytesOnChannel = size_t{128} << 20;

// The size of `message` as Mojo encodes it for the channel: header, name and
// the argument list as base.mojom.ListValue. Aborts on an invalid message
// and on nesting the channel refuses.
size_t EncodedMessageBytes(CefRefPtr<CefProcessMessage> message);

// What SendProcessMessage does to the sender's message: takes its argument
// list (the message and every reference into it become invalid). Returns
// nothing for an invalid or null message, which CEF silently ignores.
// Aborts on content the channel would refuse (nesting or size limits).
std::optional<WireMessage> TakeForSending(CefRefPtr<CefProcessMessage> message);

// The message as the receiving process's handler sees it: valid, owned and
// read-only. Each call builds a new, independent message.
CefRefPtr<CefProcessMessage> Receive(const WireMessage& wire);

}  // namespace cefsim
