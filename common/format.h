#pragma once

// Text formatting with "{}" replacement fields. Uses std::format where the
// standard library has it and {fmt} (header-only) where it does not.

#include <string>
#include <string_view>

#if __has_include(<format>)
#include <format>
#endif

#if defined(__cpp_lib_format)
namespace text_format = std;
#else
#ifndef FMT_HEADER_ONLY
#define FMT_HEADER_ONLY
#endif
#include <fmt/format.h>
namespace text_format = fmt;
#endif

// Formats `pattern` with `args`; only the pattern is interpreted, so braces
// inside the arguments are copied verbatim.
template <typename... Args>
std::string FormatText(text_format::format_string<Args...> pattern,
                       Args&&... args) {
  return text_format::format(pattern, std::forward<Args>(args)...);
}
