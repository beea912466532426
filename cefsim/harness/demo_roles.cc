#include "demo_roles.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "cefsim/process_roles.h"
#include "demo_session.h"
#include "include/cef_command_line.h"
#include "launcher/audio_files.h"
#include "launcher/audio_simulated_system.h"
#include "launcher/audio_system.h"

namespace cefsim {
namespace {

constexpr char kSwitchPrefix[] = "cefsim-";
constexpr char kPageSwitch[] = "cefsim-page";
constexpr char kPeerSwitch[] = "cefsim-peer";
constexpr char kUrlSwitch[] = "cefsim-url";
constexpr char kTimeoutSwitch[] = "cefsim-timeout";
constexpr char kTraceSwitch[] = "cefsim-trace";
constexpr char kAudioServiceSubType[] = "audio.mojom.AudioService";

std::string Switch(CefCommandLine& commandLine, const char* name) {
  return commandLine.GetSwitchValue(name).ToString();
}

// Fills `options` from the cefsim switches; false, having said why, on a
// switch it does not know or a value it cannot use.
bool ReadOptions(CefCommandLine& commandLine, DemoOptions& options) {
  CefCommandLine::SwitchMap switches;
  commandLine.GetSwitches(switches);
  for (const auto& entry : switches) {
    const std::string name = entry.first.ToString();
    if (name.rfind(kSwitchPrefix, 0) == 0 && name != kPageSwitch &&
        name != kPeerSwitch && name != kUrlSwitch && name != kTimeoutSwitch &&
        name != kTraceSwitch) {
      std::cout << "demo: FAILED: unknown switch --" << name << " (known: --"
                << kPageSwitch << ", --" << kPeerSwitch << ", --" << kUrlSwitch
                << ", --" << kTimeoutSwitch << ", --" << kTraceSwitch << ")"
                << std::endl;
      return false;
    }
  }
  options.pageFile = Switch(commandLine, kPageSwitch);
  options.peerFile = Switch(commandLine, kPeerSwitch);
  if (commandLine.HasSwitch(kUrlSwitch)) {
    options.url = Switch(commandLine, kUrlSwitch);
  }
  if (commandLine.HasSwitch(kTimeoutSwitch)) {
    const std::string text = Switch(commandLine, kTimeoutSwitch);
    int seconds = -1;
    auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (error != std::errc() || end != text.data() + text.size() ||
        seconds < 0) {
      std::cout << "demo: FAILED: --" << kTimeoutSwitch
                << " takes whole seconds (0: no limit), not \"" << text << "\""
                << std::endl;
      return false;
    }
    options.timeoutSeconds = seconds;
  }
  if (commandLine.HasSwitch(kTraceSwitch)) {
    const std::string trace = Switch(commandLine, kTraceSwitch);
    if (trace != "full" && trace != "short") {
      std::cout << "demo: FAILED: --" << kTraceSwitch
                << " is \"full\" or \"short\", not \"" << trace << "\""
                << std::endl;
      return false;
    }
    options.fullTrace = trace == "full";
  }
  return true;
}

int RendererRole(CefRefPtr<CefApp> application) {
  CefRefPtr<CefCommandLine> commandLine =
      CefCommandLine::GetGlobalCommandLine();
  DemoOptions options;
  if (!commandLine || !ReadOptions(*commandLine, options)) {
    return kDemoScriptError;
  }
  return RunDemoRenderer(application, options, std::cout);
}

std::string FirstLine(const std::filesystem::path& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
}

// The audio hook ran inside OnBeforeCommandLineProcessing; this shows what
// it left behind.
int UtilityRole(CefRefPtr<CefApp> /*application*/) {
  CefRefPtr<CefCommandLine> commandLine =
      CefCommandLine::GetGlobalCommandLine();
  if (!commandLine ||
      Switch(*commandLine, "utility-sub-type") != kAudioServiceSubType) {
    return 0;
  }
  const AudioServiceFiles files =
      AudioServiceFilesBeside(Switch(*commandLine, "user-data-dir"));
  const std::filesystem::path pidFile =
      PathFromUtf8(files.pidFile).lexically_normal();
  const std::filesystem::path volumeFile =
      PathFromUtf8(files.volumeFile).lexically_normal();
  std::error_code error;
  std::cout << "audio service: process " << CurrentProcessId() << "\n";
  if (std::filesystem::exists(pidFile, error)) {
    std::cout << "  " << pidFile.string() << ": written, holds \""
              << FirstLine(pidFile) << "\"\n";
  } else {
    std::cout << "  " << pidFile.string() << ": not written\n";
  }
  if (std::filesystem::exists(volumeFile, error)) {
    std::cout << "  " << volumeFile.string() << ": still there, holds \""
              << FirstLine(volumeFile) << "\"\n";
  } else {
    std::cout << "  " << volumeFile.string()
              << ": not there (read and deleted, or never written)\n";
  }
  std::ostringstream record;
  PrintSimulatedAudioRecord(record);
  std::istringstream lines(record.str());
  for (std::string line; std::getline(lines, line);) {
    std::cout << "  " << line << "\n";
  }
  std::cout << std::flush;
  return 0;
}

}  // namespace

void InstallDemoRoles() {
  SetRendererRole(&RendererRole);
  SetProcessRole("utility", &UtilityRole);
}

}  // namespace cefsim
