#pragma once

// Exact, readable text forms of message values, for logs and traces:
//   LIST [INT 1, STRING "a"], DOUBLE 0.1 (shortest round trip), BOOL true,
//   DICTIONARY {"keys": LIST [STRING "a"], "values": LIST [NULL]},
//   BINARY 3 bytes 01 02 03 (the first 64 bytes, then " ...").
// Invalid objects print as "<invalid>", null references as "nullptr". Any
// thread, one at a time per value.

#include <string>

#include "include/cef_process_message.h"
#include "include/cef_values.h"

namespace cef_launcher_peer {

// "[...]" for a list.
std::string ValueText(CefRefPtr<CefListValue> list);
// "{...}" for a dictionary, keys in stored order.
std::string ValueText(CefRefPtr<CefDictionaryValue> dictionary);
// "BINARY n bytes ..".
std::string ValueText(CefRefPtr<CefBinaryValue> binary);
// "TYPE payload", e.g. "INT 1" or "LIST [...]".
std::string ValueText(CefRefPtr<CefValue> value);
// "name [...]".
std::string MessageText(CefRefPtr<CefProcessMessage> message);

}  // namespace cef_launcher_peer
