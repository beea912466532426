#include "launcher/audio_level.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
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

// The value of number text as 0.d1d2d3... times base^exponent, without
// leading or trailing zero digits; hexadecimal text is read as bits, base 2.
struct Significand {
  std::string digits;
  int64_t exponent = 0;
};

int DigitValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  return (c | 0x20) - 'a' + 10;
}

// Reads the unsigned text that from_chars accepted: digits, an optional point
// and digits, an optional exponent ("e", or "p" in powers of two for hex).
Significand ReadSignificand(const char* text, const char* end, bool hex) {
  constexpr int64_t kLimit = int64_t{1} << 40;
  Significand result;
  int64_t unitsBeforePoint = 0;
  bool afterPoint = false;
  while (text != end && (IsHexDigit(*text) || *text == '.')) {
    if (!hex && (*text == 'e' || *text == 'E')) {
      break;
    }
    if (*text == '.') {
      afterPoint = true;
    } else if (hex) {
      const int digit = DigitValue(*text);
      for (int bit = 3; bit >= 0; --bit) {
        result.digits.push_back(static_cast<char>('0' + ((digit >> bit) & 1)));
      }
      unitsBeforePoint += afterPoint ? 0 : 4;
    } else {
      result.digits.push_back(*text);
      unitsBeforePoint += afterPoint ? 0 : 1;
    }
    ++text;
  }
  int64_t exponent = 0;
  if (text != end) {
    ++text;  // 'e' or 'p'
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') {
      ++text;
    }
    for (; text != end; ++text) {
      exponent = std::min(kLimit, exponent * 10 + (*text - '0'));
    }
    exponent = negative ? -exponent : exponent;
  }
  const size_t first = result.digits.find_first_not_of('0');
  if (first == std::string::npos) {
    return {};
  }
  result.digits.erase(result.digits.find_last_not_of('0') + 1);
  result.digits.erase(0, first);
  result.exponent = unitsBeforePoint - static_cast<int64_t>(first) + exponent;
  return result;
}

// The exact value of `value` in the same form.
Significand ExactSignificand(double value, bool hex) {
  char text[256];
  const std::to_chars_result written =
      hex ? std::to_chars(text, text + sizeof(text), value,
                          std::chars_format::hex)
          : std::to_chars(text, text + sizeof(text), value,
                          std::chars_format::scientific, 200);
  return ReadSignificand(text, written.ptr, hex);
}

// Compares two nonzero magnitudes.
int Compare(const Significand& a, const Significand& b) {
  if (a.exponent != b.exponent) {
    return a.exponent < b.exponent ? -1 : 1;
  }
  return a.digits.compare(b.digits);
}

// strtof's underflow (ERANGE) for a result `value` at most FLT_MIN read from
// [text, end): the result is inexact and the number, rounded to float
// precision with an unbounded exponent, stays below FLT_MIN. An exact
// subnormal is no underflow.
bool Underflows(float value, const char* text, const char* end, bool hex) {
  const Significand number = ReadSignificand(text, end, hex);
  if (value < FLT_MIN) {
    return Compare(number, ExactSignificand(value, hex)) != 0;
  }
  // Halfway between FLT_MIN and the float below it, which rounds up.
  constexpr double kHalfwayBelowMinimum = 0x1.ffffffp-127;
  return Compare(number, ExactSignificand(kHalfwayBelowMinimum, hex)) < 0;
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
  const bool hex = StartsHexNumber(next, end);
  const char* number = hex ? next + 2 : next;
  std::from_chars_result result =
      hex ? std::from_chars(number, end, value, std::chars_format::hex)
          : std::from_chars(number, end, value);
  // libstdc++ reads a hexadecimal exponent with two signs ("0x1p+-3") as a
  // negative one, out of range or not; strtof stops before such a "p".
  if (hex) {
    const char* exponent = std::find_if(
        number, result.ptr, [](char c) { return c == 'p' || c == 'P'; });
    if (result.ptr - exponent > 2 && exponent[1] == '+' && exponent[2] == '-') {
      result = std::from_chars(number, exponent, value, std::chars_format::hex);
    }
  }
  if (result.ec != std::errc()) {
    return kDefaultVolumeLevel;
  }
  // from_chars reports only a nonzero value rounding to zero; strtof also
  // reports inexact results in and just above the subnormal range.
  if (value != 0.0f && value <= FLT_MIN &&
      Underflows(value, number, result.ptr, hex)) {
    return kDefaultVolumeLevel;
  }
  return negative ? -value : value;
}
