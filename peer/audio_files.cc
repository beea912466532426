#include "peer/audio_files.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <limits>
#include <system_error>

namespace cef_launcher_peer {

namespace {

// The audio hook's names (launcher/audio_files.cc), relative to the
// --user-data-dir it gets.
constexpr char kPidFileSuffix[] = "/../AudioService.pid";
constexpr char kVolumeFileSuffix[] = "/../AudioService.vol";

// UTF-8 text as a path; on Windows a wide one, so that names outside the
// ANSI code page resolve.
std::filesystem::path PathFromUtf8(const std::string& text) {
#if defined(__cpp_char8_t)
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
#else
  return std::filesystem::u8path(text);
#endif
}

}  // namespace

std::string AudioServicePidFile(const std::string& userDataDir) {
  return userDataDir + kPidFileSuffix;
}

std::string AudioServiceVolumeFile(const std::string& userDataDir) {
  return userDataDir + kVolumeFileSuffix;
}

bool WriteVolumeFile(const std::string& userDataDir, float level) {
  // strtof reports a subnormal result as an underflow, which the audio hook
  // treats as no level at all.
  if (!(level >= 0.0f && level <= 1.0f) ||
      (level != 0.0f && level < std::numeric_limits<float>::min())) {
    return false;
  }
  // to_chars ignores the locale and gives the shortest text that reads back
  // as the same float.
  char text[32];
  const std::to_chars_result written =
      std::to_chars(text, text + sizeof(text) - 1, level);
  if (written.ec != std::errc()) {
    return false;
  }
  char* end = written.ptr;
  *end++ = '\n';

  const std::filesystem::path target =
      PathFromUtf8(AudioServiceVolumeFile(userDataDir));
  std::filesystem::path temporary = target;
  temporary += ".tmp";
  {
    std::ofstream stream(temporary, std::ios::binary | std::ios::trunc);
    if (!stream) {
      return false;
    }
    stream.write(text, end - text);
    stream.close();
    if (!stream) {
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      return false;
    }
  }
  // Rename replaces the old file in one step: the audio process reads the
  // old line or the new one, never half of one.
  std::error_code error;
  std::filesystem::rename(temporary, target, error);
  if (error) {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    return false;
  }
  return true;
}

std::optional<uint32_t> ReadAudioServicePid(const std::string& userDataDir) {
  std::ifstream stream(PathFromUtf8(AudioServicePidFile(userDataDir)),
                       std::ios::binary);
  if (!stream) {
    return std::nullopt;
  }
  char text[32];
  stream.read(text, sizeof(text));
  const size_t size = static_cast<size_t>(stream.gcount());
  uint32_t pid = 0;
  const std::from_chars_result parsed = std::from_chars(text, text + size, pid);
  if (parsed.ec != std::errc() || parsed.ptr == text) {
    return std::nullopt;
  }
  // Only a whole line counts: a file still being written has no newline.
  const char* rest = parsed.ptr;
  const char* last = text + size;
  if (rest < last && *rest == '\r') {
    ++rest;
  }
  if (rest + 1 != last || *rest != '\n') {
    return std::nullopt;
  }
  return pid;
}

}  // namespace cef_launcher_peer
