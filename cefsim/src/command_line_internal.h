#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "include/cef_command_line.h"

namespace cefsim {

// Chromium's base::CommandLine as it behaves on Windows, the program's
// target: switch names lower-cased, "--", "-" and "/" prefixes, values and
// arguments kept as UTF-16 (the native wide strings).
struct CommandLineData {
  std::vector<std::u16string> argv{std::u16string()};  // program first
  std::map<std::string, std::u16string> switches;      // lower-case keys
  size_t beginArgs = 1;  // switches come before the plain arguments

  void InitFromArgv(const std::vector<std::u16string>& args);
  void ParseFromString(const std::u16string& commandLine);
  void SetProgram(const std::u16string& program);
  void AppendSwitchNative(const std::string& name, const std::u16string& value);
  void AppendArg(const std::u16string& arg);
  void PrependWrapper(const std::u16string& wrapper);
  const std::u16string* FindSwitch(const std::string& name) const;
  std::u16string CommandLineString() const;
};

// A CefCommandLine view onto command-line data.
class CommandLineImpl : public CefCommandLine {
 public:
  CommandLineImpl(std::shared_ptr<CommandLineData> commandLine, bool readOnly)
      : data(std::move(commandLine)), readOnly(readOnly) {}
  CommandLineImpl(const CommandLineImpl&) = delete;
  CommandLineImpl& operator=(const CommandLineImpl&) = delete;

  // After this every method returns defaults and changes nothing.
  void Detach() { data.reset(); }

  // CefCommandLine methods:
  bool IsValid() override { return data != nullptr; }
  bool IsReadOnly() override { return readOnly; }
  CefRefPtr<CefCommandLine> Copy() override;
  void InitFromArgv(int argc, const char* const* argv) override;
  void InitFromString(const CefString& command_line) override;
  void Reset() override;
  void GetArgv(std::vector<CefString>& argv) override;
  CefString GetCommandLineString() override;
  CefString GetProgram() override;
  void SetProgram(const CefString& program) override;
  bool HasSwitches() override;
  bool HasSwitch(const CefString& name) override;
  CefString GetSwitchValue(const CefString& name) override;
  void GetSwitches(SwitchMap& switches) override;
  void AppendSwitch(const CefString& name) override;
  void AppendSwitchWithValue(const CefString& name,
                             const CefString& value) override;
  bool HasArguments() override;
  void GetArguments(ArgumentList& arguments) override;
  void AppendArgument(const CefString& argument) override;
  void PrependWrapper(const CefString& wrapper) override;

 private:
  CommandLineData* Writable() { return readOnly ? nullptr : data.get(); }

  std::shared_ptr<CommandLineData> data;
  const bool readOnly;

  IMPLEMENT_REFCOUNTING(CommandLineImpl);
};

// The process-global command line; null until a sub-process sets it up.
std::shared_ptr<CommandLineData>& GlobalCommandLine();

std::string ToLowerAscii(std::string text);
std::u16string Utf8ToUtf16(const std::string& text);

}  // namespace cefsim
