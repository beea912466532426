#pragma once

// Exact, readable text forms of message values, for logs and traces:
//   LIST [INT 1, STRING "a"], DOUBLE 0.1 (shortest round trip), BOOL true,
//   DICTIONARY {"keys": LIST [STRING "a"], "values": LIST [NULL]},
//   BINARY 3 bytes 01 02 03 (the first 64 bytes, then " ...").
// TextLimits shortens long strings and binaries, for traces.
// Invalid objects print as "<invalid>", null references as "nullptr". Any
// thread, one at a time per value.

#include <string>

#include "include/cef_process_message.h"
#include "include/cef_values.h"

namespace cef_launcher_peer {

struct TextLimits {
  // Bytes of a string shown before it is cut, followed by
  // `... (n bytes)`; 0: whole strings. The cut never splits a character.
  size_t stringBytes = 0;
  // Bytes of a binary shown, followed by " ..."; 0: every byte.
  size_t binaryBytes = 64;
};

// "[...]" for a list.
std::string ValueText(CefRefPtr<CefListValue> list,
                      const TextLimits& limits = {});
// "{...}" for a dictionary, keys in stored order.
std::string ValueText(CefRefPtr<CefDictionaryValue> dictionary,
                      const TextLimits& limits = {});
// "BINARY n bytes ..".
std::string ValueText(CefRefPtr<CefBinaryValue> binary,
                      const TextLimits& limits = {});
// "TYPE payload", e.g. "INT 1" or "LIST [...]".
std::string ValueText(CefRefPtr<CefValue> value, const TextLimits& limits = {});
// "name [...]".
std::string MessageText(CefRefPtr<CefProcessMessage> message,
                        const TextLimits& limits = {});

}  // namespace cef_launcher_peer
