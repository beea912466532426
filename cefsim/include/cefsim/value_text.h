#pragma once

#include <string>

#include "include/cef_process_message.h"
#include "include/cef_values.h"

// Readable, exact text forms of message values for tests and traces:
//   [INT 0, INT 1, STRING "f", LIST [INT 1]]
//   {"keys": LIST [STRING "a"], "values": LIST [NULL]}
//   BINARY 3 bytes 01 02 03, DOUBLE 0.1 (shortest round-trip), BOOL true
// Invalid objects print as "<invalid>", null references as "nullptr".
namespace cefsim {

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

}  // namespace cefsim
