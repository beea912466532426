#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace conformance {

// The verdicts of one conformance run. Every line is handed to the sink as
// it is made (so a run that dies half-way still shows how far it got) and
// kept for the report file.
class CheckReport {
 public:
  using Sink = std::function<void(const std::string& line)>;

  explicit CheckReport(Sink lineSink);
  CheckReport(const CheckReport&) = delete;
  CheckReport& operator=(const CheckReport&) = delete;

  void Pass(const std::string& name);
  void Fail(const std::string& name, const std::string& reason);
  // PASS when `seen` equals `expected`; otherwise FAIL showing both texts.
  // A `note` (what the check looked at) ends the line either way.
  bool Compare(const std::string& name,
               const std::string& seen,
               const std::string& expected,
               const std::string& note = "");
  // A figure or fact that is not a check.
  void Info(const std::string& text);
  // A check this backend cannot make, with the reason.
  void NotRun(const std::string& name, const std::string& reason);
  // A line that is no verdict (why the run could not start, where the
  // report is), shown and kept as it is.
  void Say(const std::string& line);

  int passed() const { return passCount; }
  int failed() const { return failCount; }
  // True when at least one check ran and none failed.
  bool AllPassed() const { return passCount > 0 && failCount == 0; }

  // Emits the summary and the verdict; call once, at the end.
  void Finish();
  const std::vector<std::string>& Lines() const { return lines; }
  // Writes every line to `path` (UTF-8, "\n" line ends). False on failure.
  bool WriteTo(const std::string& path) const;

  // Texts longer than this are shortened in lines: a 1 MiB value must not
  // print a megabyte.
  static constexpr size_t kMaxShownText = 600;
  static std::string Shorten(const std::string& text);

 private:
  void Emit(const std::string& line);

  Sink sink;
  std::vector<std::string> lines;
  int passCount = 0;
  int failCount = 0;
  int notRunCount = 0;
};

// The report file, written as the run goes: each line is flushed as it is
// added, so a run that dies still leaves every line printed before.
class ReportFile {
 public:
  ReportFile() = default;
  ~ReportFile();
  ReportFile(const ReportFile&) = delete;
  ReportFile& operator=(const ReportFile&) = delete;

  // Creates or truncates `path` (a wide path on Windows). False, with the
  // reason, on failure.
  bool Open(const std::filesystem::path& path, std::string& error);
  bool IsOpen() const { return file != nullptr; }
  // Appends the line and "\n" (UTF-8, the same bytes on every system).
  // False once any write failed.
  bool Append(const std::string& line);

 private:
  std::FILE* file = nullptr;
  bool writeFailed = false;
};

}  // namespace conformance
