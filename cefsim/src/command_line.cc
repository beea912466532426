#include <algorithm>

#include "command_line_internal.h"

namespace cefsim {
namespace {

constexpr char16_t kSwitchTerminator[] = u"--";
// CEF quirk: the target is Windows, where "/" also starts a switch.
constexpr const char16_t* kSwitchPrefixes[] = {u"--", u"-", u"/"};

bool IsAsciiWhitespace(char16_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' ||
         c == '\f';
}

std::u16string TrimWhitespace(const std::u16string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsAsciiWhitespace(text[begin])) {
    ++begin;
  }
  while (end > begin && IsAsciiWhitespace(text[end - 1])) {
    --end;
  }
  return text.substr(begin, end - begin);
}

size_t SwitchPrefixLength(const std::u16string& text) {
  for (const char16_t* prefix : kSwitchPrefixes) {
    std::u16string_view view(prefix);
    if (text.compare(0, view.size(), view) == 0) {
      return view.size();
    }
  }
  return 0;
}

// A lone prefix ("-", "--") is not a switch; the first "=" ends the name.
bool IsSwitch(const std::u16string& text,
              std::u16string& name,
              std::u16string& value) {
  name.clear();
  value.clear();
  size_t prefix = SwitchPrefixLength(text);
  if (prefix == 0 || prefix == text.size()) {
    return false;
  }
  size_t equals = text.find(u'=');
  name = text.substr(0, equals);
  if (equals != std::u16string::npos) {
    value = text.substr(equals + 1);
  }
  return true;
}

std::string ToUtf8(const std::u16string& text) {
  return CefString(text).ToString();
}

// Windows quoting for CommandLineToArgvW.
std::u16string QuoteForCommandLine(const std::u16string& arg) {
  if (arg.find_first_of(u" \\\"%") == std::u16string::npos) {
    return arg;
  }
  std::u16string out = u"\"";
  for (size_t i = 0; i < arg.size(); ++i) {
    if (arg[i] == '\\') {
      size_t end = i + 1;
      while (end < arg.size() && arg[end] == '\\') {
        ++end;
      }
      size_t count = end - i;
      // Backslashes escape only before a quote, and one closes the string.
      if (end == arg.size() || arg[end] == '"') {
        count *= 2;
      }
      out.append(count, u'\\');
      i = end - 1;
    } else if (arg[i] == '"') {
      out += u"\\\"";
    } else {
      out.push_back(arg[i]);
    }
  }
  out.push_back(u'"');
  return out;
}

// CommandLineToArgvW: the program name knows only quotes; later arguments
// follow the backslash-and-quote rules.
std::vector<std::u16string> SplitWindowsCommandLine(const std::u16string& s) {
  std::vector<std::u16string> args;
  size_t i = 0;
  std::u16string program;
  bool quoted = false;
  for (; i < s.size(); ++i) {
    if (s[i] == '"') {
      quoted = !quoted;
    } else if (!quoted && (s[i] == ' ' || s[i] == '\t')) {
      break;
    } else {
      program.push_back(s[i]);
    }
  }
  args.push_back(program);
  while (true) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) {
      ++i;
    }
    if (i >= s.size()) {
      break;
    }
    std::u16string arg;
    quoted = false;
    for (; i < s.size(); ++i) {
      char16_t c = s[i];
      if (c == '\\') {
        size_t end = i;
        while (end < s.size() && s[end] == '\\') {
          ++end;
        }
        size_t count = end - i;
        if (end < s.size() && s[end] == '"') {
          arg.append(count / 2, u'\\');
          if (count % 2 == 1) {
            arg.push_back(u'"');
            i = end;
          } else {
            i = end - 1;
          }
        } else {
          arg.append(count, u'\\');
          i = end - 1;
        }
      } else if (c == '"') {
        if (quoted && i + 1 < s.size() && s[i + 1] == '"') {
          arg.push_back(u'"');
          ++i;
        } else {
          quoted = !quoted;
        }
      } else if (!quoted && (c == ' ' || c == '\t')) {
        break;
      } else {
        arg.push_back(c);
      }
    }
    args.push_back(arg);
  }
  return args;
}

}  // namespace

std::string ToLowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return text;
}

std::u16string Utf8ToUtf16(const std::string& text) {
  return CefString(text).ToString16();
}

void CommandLineData::InitFromArgv(const std::vector<std::u16string>& args) {
  argv.assign(1, std::u16string());
  switches.clear();
  beginArgs = 1;
  SetProgram(args.empty() ? std::u16string() : args[0]);
  bool parseSwitches = true;
  for (size_t i = 1; i < args.size(); ++i) {
    std::u16string arg = TrimWhitespace(args[i]);
    std::u16string name;
    std::u16string value;
    // A bare "--" ends switch parsing and is kept as an argument.
    parseSwitches = parseSwitches && arg != kSwitchTerminator;
    if (parseSwitches && IsSwitch(arg, name, value)) {
      AppendSwitchNative(ToUtf8(name), value);
    } else {
      AppendArg(arg);
    }
  }
}

void CommandLineData::ParseFromString(const std::u16string& commandLine) {
  std::u16string trimmed = TrimWhitespace(commandLine);
  if (trimmed.empty()) {
    return;
  }
  InitFromArgv(SplitWindowsCommandLine(trimmed));
}

void CommandLineData::SetProgram(const std::u16string& program) {
  argv[0] = TrimWhitespace(program);
}

// CEF quirk (Windows): names are lower-cased when stored; the last value of
// a repeated switch wins while argv keeps every occurrence.
void CommandLineData::AppendSwitchNative(const std::string& name,
                                         const std::u16string& value) {
  std::u16string combined = Utf8ToUtf16(ToLowerAscii(name));
  size_t prefix = SwitchPrefixLength(combined);
  std::string key = ToUtf8(combined.substr(prefix));
  switches[key] = value;
  if (prefix == 0) {
    combined.insert(0, u"--");
  }
  if (!value.empty()) {
    combined += u"=" + value;
  }
  argv.insert(argv.begin() + static_cast<std::ptrdiff_t>(beginArgs), combined);
  ++beginArgs;
}

void CommandLineData::AppendArg(const std::u16string& arg) {
  argv.push_back(arg);
}

void CommandLineData::PrependWrapper(const std::u16string& wrapper) {
  std::vector<std::u16string> pieces;
  size_t i = 0;
  while (i < wrapper.size()) {
    size_t end = wrapper.find(u' ', i);
    if (end == std::u16string::npos) {
      end = wrapper.size();
    }
    std::u16string piece = TrimWhitespace(wrapper.substr(i, end - i));
    if (!piece.empty()) {
      pieces.push_back(piece);
    }
    i = end + 1;
  }
  argv.insert(argv.begin(), pieces.begin(), pieces.end());
  beginArgs += pieces.size();
}

const std::u16string* CommandLineData::FindSwitch(
    const std::string& name) const {
  auto it = switches.find(name);
  return it == switches.end() ? nullptr : &it->second;
}

std::u16string CommandLineData::CommandLineString() const {
  std::u16string out = QuoteForCommandLine(argv[0]);
  bool parseSwitches = true;
  for (size_t i = 1; i < argv.size(); ++i) {
    out.push_back(u' ');
    const std::u16string& arg = argv[i];
    std::u16string name;
    std::u16string value;
    parseSwitches = parseSwitches && arg != kSwitchTerminator;
    if (parseSwitches && IsSwitch(arg, name, value)) {
      out += name;
      if (!value.empty()) {
        out += u"=" + QuoteForCommandLine(value);
      }
    } else {
      out += QuoteForCommandLine(arg);
    }
  }
  return out;
}

CefRefPtr<CefCommandLine> CommandLineImpl::Copy() {
  if (!data) {
    return nullptr;
  }
  auto copy = std::make_shared<CommandLineData>();
  copy->InitFromArgv(data->argv);
  return new CommandLineImpl(copy, false);
}

// CEF quirk (Windows): InitFromArgv is not available there and does nothing.
void CommandLineImpl::InitFromArgv(int /*argc*/, const char* const* /*argv*/) {}

void CommandLineImpl::InitFromString(const CefString& command_line) {
  if (command_line.empty()) {
    return;
  }
  if (CommandLineData* target = Writable()) {
    target->ParseFromString(command_line.ToString16());
  }
}

void CommandLineImpl::Reset() {
  if (CommandLineData* target = Writable()) {
    std::u16string program = target->argv[0];
    target->InitFromArgv({program});
  }
}

// CEF quirk: appends to the caller's vector.
void CommandLineImpl::GetArgv(std::vector<CefString>& argv) {
  if (!data) {
    return;
  }
  for (const std::u16string& arg : data->argv) {
    argv.push_back(CefString(arg));
  }
}

CefString CommandLineImpl::GetCommandLineString() {
  return data ? CefString(data->CommandLineString()) : CefString();
}

CefString CommandLineImpl::GetProgram() {
  return data ? CefString(data->argv[0]) : CefString();
}

void CommandLineImpl::SetProgram(const CefString& program) {
  if (program.empty()) {
    return;
  }
  if (CommandLineData* target = Writable()) {
    target->SetProgram(program.ToString16());
  }
}

bool CommandLineImpl::HasSwitches() {
  return data && !data->switches.empty();
}

// CEF quirk: queries look up the lower-cased name, given without prefix.
bool CommandLineImpl::HasSwitch(const CefString& name) {
  if (name.empty() || !data) {
    return false;
  }
  return data->FindSwitch(ToLowerAscii(name.ToString())) != nullptr;
}

// CEF quirk: a missing switch and a switch without a value both give an
// empty string with no buffer.
CefString CommandLineImpl::GetSwitchValue(const CefString& name) {
  if (name.empty() || !data) {
    return CefString();
  }
  const std::u16string* value = data->FindSwitch(ToLowerAscii(name.ToString()));
  return value ? CefString(*value) : CefString();
}

// CEF quirk: existing entries are kept and not overwritten.
void CommandLineImpl::GetSwitches(SwitchMap& switches) {
  if (!data) {
    return;
  }
  for (const auto& [key, value] : data->switches) {
    switches.insert({CefString(key), CefString(value)});
  }
}

// CEF quirk: CEF itself does not lower-case here; on Windows
// base::CommandLine does.
void CommandLineImpl::AppendSwitch(const CefString& name) {
  if (name.empty()) {
    return;
  }
  if (CommandLineData* target = Writable()) {
    target->AppendSwitchNative(name.ToString(), std::u16string());
  }
}

// CEF quirk: the wrapper drops the call when the value is empty, although
// the header suggests an empty value for a switch without one.
void CommandLineImpl::AppendSwitchWithValue(const CefString& name,
                                            const CefString& value) {
  if (name.empty() || value.empty()) {
    return;
  }
  if (CommandLineData* target = Writable()) {
    target->AppendSwitchNative(name.ToString(), value.ToString16());
  }
}

bool CommandLineImpl::HasArguments() {
  return data && data->argv.size() > data->beginArgs;
}

void CommandLineImpl::GetArguments(ArgumentList& arguments) {
  if (!data) {
    return;
  }
  for (size_t i = data->beginArgs; i < data->argv.size(); ++i) {
    arguments.push_back(CefString(data->argv[i]));
  }
}

void CommandLineImpl::AppendArgument(const CefString& argument) {
  if (argument.empty()) {
    return;
  }
  if (CommandLineData* target = Writable()) {
    target->AppendArg(argument.ToString16());
  }
}

void CommandLineImpl::PrependWrapper(const CefString& wrapper) {
  if (wrapper.empty()) {
    return;
  }
  if (CommandLineData* target = Writable()) {
    target->PrependWrapper(wrapper.ToString16());
  }
}

std::shared_ptr<CommandLineData>& GlobalCommandLine() {
  static std::shared_ptr<CommandLineData> global;
  return global;
}

}  // namespace cefsim

// CEF quirk: a new command line has an empty program.
CefRefPtr<CefCommandLine> CefCommandLine::CreateCommandLine() {
  return new cefsim::CommandLineImpl(
      std::make_shared<cefsim::CommandLineData>(), false);
}

// CEF quirk: a read-only view in a new object per call; null until the
// process has a global command line.
CefRefPtr<CefCommandLine> CefCommandLine::GetGlobalCommandLine() {
  auto& global = cefsim::GlobalCommandLine();
  if (!global) {
    return nullptr;
  }
  return new cefsim::CommandLineImpl(global, true);
}
