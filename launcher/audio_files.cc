#include "launcher/audio_files.h"

#include <charconv>
#include <cstdio>
#include <optional>
#include <system_error>

#include "launcher/audio_system.h"

namespace {

constexpr char kPidFileSuffix[] = "/../AudioService.pid";
constexpr char kVolumeFileSuffix[] = "/../AudioService.vol";

// Strict UTF-8: no overlong forms, surrogates or values past U+10FFFF. The
// Windows path conversion would otherwise fail, and it cannot fail quietly.
bool IsValidUtf8(const std::string& text) {
  size_t index = 0;
  while (index < text.size()) {
    const unsigned char lead = static_cast<unsigned char>(text[index]);
    if (lead < 0x80) {
      ++index;
      continue;
    }
    size_t length = 0;
    char32_t codePoint = 0;
    char32_t smallest = 0;
    if ((lead & 0xE0) == 0xC0) {
      length = 2;
      codePoint = lead & 0x1F;
      smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3;
      codePoint = lead & 0x0F;
      smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4;
      codePoint = lead & 0x07;
      smallest = 0x10000;
    } else {
      return false;
    }
    if (text.size() - index < length) {
      return false;
    }
    for (size_t offset = 1; offset < length; ++offset) {
      const unsigned char trail =
          static_cast<unsigned char>(text[index + offset]);
      if ((trail & 0xC0) != 0x80) {
        return false;
      }
      codePoint = (codePoint << 6) | (trail & 0x3F);
    }
    if (codePoint < smallest || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
      return false;
    }
    index += length;
  }
  return true;
}

// One line as std::getline reads it: none at the end of the file, otherwise
// everything up to the newline or the end.
std::optional<std::string> ReadLine(std::FILE* stream) {
  int next = std::fgetc(stream);
  if (next == EOF) {
    return std::nullopt;
  }
  std::string line;
  while (next != EOF && next != '\n') {
    line.push_back(static_cast<char>(next));
    next = std::fgetc(stream);
  }
  return line;
}

}  // namespace

AudioServiceFiles AudioServiceFilesBeside(const std::string& userDataDir) {
  return {userDataDir + kPidFileSuffix, userDataDir + kVolumeFileSuffix};
}

std::filesystem::path PathFromUtf8(const std::string& text) {
  // A NUL would cut the name short at the C library and open another file.
  if (text.find('\0') != std::string::npos || !IsValidUtf8(text)) {
    return {};
  }
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

void WritePidFile(const std::string& path, uint32_t processId) {
  std::FILE* stream =
      OpenSharedFile(PathFromUtf8(path), SharedFileMode::kWriteText);
  if (!stream) {
    return;
  }
  char text[16];
  char* end = std::to_chars(text, text + sizeof(text) - 1, processId).ptr;
  *end++ = '\n';
  std::fwrite(text, 1, static_cast<size_t>(end - text), stream);
  std::fclose(stream);
}

std::string ReadAndRemoveFile(const std::string& path) {
  const std::filesystem::path file = PathFromUtf8(path);
  std::FILE* stream = OpenSharedFile(file, SharedFileMode::kReadText);
  if (!stream) {
    return {};
  }
  std::optional<std::string> line = ReadLine(stream);
  std::fclose(stream);
  if (!line) {
    return {};
  }
  // A file that cannot be deleted keeps its level: the line was read.
  std::error_code ignored;
  std::filesystem::remove(file, ignored);
  return *line;
}
