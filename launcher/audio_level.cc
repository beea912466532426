#include "launcher/audio_level.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace {

// White space as isspace sees it in the "C" locale.
bool IsCSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') ||
         (c >= 'A' && c <= 'F');
}

// strtof reads "0x" as a hexadecimal number only when a hex digit follows,
// directly or after the point; otherwise it converts just the "0".
bool StartsHexNumber(const char* text, const char* end) {
  if (end - text < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) {
    return false;
  }
  return IsHexDigit(text[2]) ||
         (text[2] == '.' && end - text >= 4 && IsHexDigit(text[3]));
}

}  // namespace

// std::from_chars is strtof in the "C" locale without the sign, the "0x"
// prefix and the leading white space, and it reports errors without throwing;
// those three are handled here.
float ParseVolumeLevel(const std::string& text) {
  // strtof stops at the first NUL.
  const char* next = text.c_str();
  const char* end = next + std::strlen(next);
  while (next != end && IsCSpace(*next)) {
    ++next;
  }
  bool negative = false;
  if (next != end && (*next == '+' || *next == '-')) {
    negative = *next == '-';
    ++next;
  }
  // One sign only: from_chars would take a second '-' as its own.
  if (next == end || *next == '+' || *next == '-') {
    return kDefaultVolumeLevel;
  }

  float value = 0.0f;
  const std::from_chars_result result =
      StartsHexNumber(next, end)
          ? std::from_chars(next + 2, end, value, std::chars_format::hex)
          : std::from_chars(next, end, value);
  if (result.ec != std::errc()) {
    return kDefaultVolumeLevel;
  }
  // strtof reports a subnormal result as an underflow (ERANGE), as it does a
  // nonzero value rounding to zero; from_chars reports only the latter.
  if (std::fpclassify(value) == FP_SUBNORMAL) {
    return kDefaultVolumeLevel;
  }
  return negative ? -value : value;
}
