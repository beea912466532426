#pragma once

#include <string>

#include "include/cef_process_message.h"
#include "include/cef_values.h"

// The demo trace's text of message values: the exact form of ValueText
// (`LIST [INT 1, STRING "a"]`), except that long strings and binaries show
// their first part and their total size, so that a value of many megabytes
// prints a short line.
namespace cefsim {

struct TraceLimits {
  // Bytes of a string shown before it is cut; 0: whole strings.
  size_t stringBytes = 256;
  // Bytes of a binary shown; 0: every byte.
  size_t binaryBytes = 64;
};

// Everything whole: `--cefsim-trace=full`.
inline constexpr TraceLimits kFullTrace{0, 0};

// "TYPE payload", e.g. `STRING "abc"... (3000000 bytes)`.
std::string TraceText(CefRefPtr<CefValue> value, const TraceLimits& limits);
// "[...]" for a list.
std::string TraceText(CefRefPtr<CefListValue> list, const TraceLimits& limits);
// "name [...]".
std::string TraceText(CefRefPtr<CefProcessMessage> message,
                      const TraceLimits& limits);

}  // namespace cefsim
