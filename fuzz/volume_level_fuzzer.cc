// The volume file's first line against C's strtof in the "C" locale, which
// is what the level is defined by.

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "launcher/audio_level.h"

namespace {

float StrtofLevel(const std::string& text) {
  const char* start = text.c_str();
  char* end = nullptr;
  errno = 0;
  const float value = std::strtof(start, &end);
  if (end == start || errno == ERANGE) {
    return kDefaultVolumeLevel;
  }
  return value;
}

// Hexadecimal text after white space and a sign.
bool IsHexNumber(const std::string& text) {
  size_t i = text.find_first_not_of(" \t\n\v\f\r");
  if (i == std::string::npos) {
    return false;
  }
  if (text[i] == '+' || text[i] == '-') {
    ++i;
  }
  return text.compare(i, 2, "0x") == 0 || text.compare(i, 2, "0X") == 0;
}

bool SameFloat(float a, float b) {
  if (std::isnan(a) || std::isnan(b)) {
    return std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b);
  }
  return a == b && std::signbit(a) == std::signbit(b);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  const std::string text(reinterpret_cast<const char*>(bytes), size);
  const float expected = StrtofLevel(text);
  const float actual = ParseVolumeLevel(text);
  // glibc's hexadecimal reading leaves ERANGE unset for some inexact
  // subnormals (0x1.702719p-128) and sets it for others (0x1.8p-149); the
  // level treats every inexact one as an underflow, as the C standard and
  // the decimal reading do.
  const bool tiny = std::fabs(expected) <= FLT_MIN && expected != 0.0f;
  if (tiny && IsHexNumber(text) && actual == kDefaultVolumeLevel) {
    return 0;
  }
  if (!SameFloat(expected, actual)) {
    std::fprintf(stderr, "level of \"%s\": strtof %a, parsed %a\n",
                 text.c_str(), static_cast<double>(expected),
                 static_cast<double>(actual));
    std::abort();
  }
  return 0;
}
