#include "conformance/check_report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace conformance {

CheckReport::CheckReport(Sink lineSink) : sink(std::move(lineSink)) {}

void CheckReport::Pass(const std::string& name) {
  ++passCount;
  Emit("PASS  " + name);
}

void CheckReport::Fail(const std::string& name, const std::string& reason) {
  ++failCount;
  Emit("FAIL  " + name + ": " + reason);
}

bool CheckReport::Compare(const std::string& name,
                          const std::string& seen,
                          const std::string& expected,
                          const std::string& note) {
  const std::string noted = note.empty() ? "" : " (" + note + ")";
  if (seen == expected) {
    Pass(name + noted);
    return true;
  }
  Fail(name,
       "seen " + Shorten(seen) + " expected " + Shorten(expected) + noted);
  return false;
}

void CheckReport::Info(const std::string& text) {
  Emit("INFO  " + text);
}

void CheckReport::NotRun(const std::string& name, const std::string& reason) {
  ++notRunCount;
  Emit("SKIP  " + name + ": not run here: " + reason);
}

void CheckReport::Say(const std::string& line) {
  Emit(line);
}

void CheckReport::Finish() {
  Emit("conformance: " + std::to_string(passCount) + " passed, " +
       std::to_string(failCount) + " failed, " + std::to_string(notRunCount) +
       " not run here");
  Emit(AllPassed() ? "conformance: PASSED" : "conformance: FAILED");
}

bool CheckReport::WriteTo(const std::string& path) const {
  // Binary mode: the same bytes on every system.
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    return false;
  }
  bool ok = true;
  for (const std::string& line : lines) {
    ok = std::fwrite(line.data(), 1, line.size(), file) == line.size() &&
         std::fputc('\n', file) != EOF && ok;
  }
  return std::fclose(file) == 0 && ok;
}

std::string CheckReport::Shorten(const std::string& text) {
  if (text.size() <= kMaxShownText) {
    return text;
  }
  // Cut on a UTF-8 character boundary.
  size_t cut = kMaxShownText;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
    --cut;
  }
  return text.substr(0, cut) + "... (" + std::to_string(text.size()) +
         " bytes in all)";
}

void CheckReport::Emit(const std::string& line) {
  lines.push_back(line);
  if (sink) {
    sink(line);
  }
}

ReportFile::~ReportFile() {
  if (file) {
    std::fclose(file);
  }
}

bool ReportFile::Open(const std::filesystem::path& path, std::string& error) {
  if (file) {
    std::fclose(file);
  }
  writeFailed = false;
  // Binary mode: the same bytes on every system.
#if defined(_WIN32)
  file = _wfopen(path.c_str(), L"wb");
#else
  file = std::fopen(path.c_str(), "wb");
#endif
  if (!file) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}

bool ReportFile::Append(const std::string& line) {
  if (!file) {
    return false;
  }
  const bool written =
      std::fwrite(line.data(), 1, line.size(), file) == line.size() &&
      std::fputc('\n', file) != EOF && std::fflush(file) == 0;
  writeFailed = writeFailed || !written;
  return !writeFailed;
}

}  // namespace conformance
