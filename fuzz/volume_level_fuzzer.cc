// The volume file's first line against C's strtof in the "C" locale, which
// is what the level is defined by.

#include <cerrno>
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
  if (!SameFloat(expected, actual)) {
    std::fprintf(stderr, "level of \"%s\": strtof %a, parsed %a\n",
                 text.c_str(), static_cast<double>(expected),
                 static_cast<double>(actual));
    std::abort();
  }
  return 0;
}
