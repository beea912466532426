// cef-launcher-conformance.exe: starts CEF 130 with cef-launcher.exe as its
// subprocess and checks the launcher's behaviour from the browser side.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "conformance/audio_probe_win.h"
#include "conformance/check_report.h"
#include "conformance/real_cef_host.h"
#include "conformance/runner.h"
#include "include/cef_api_hash.h"
#include "include/cef_app.h"
#include "include/cef_browser_process_handler.h"
#include "include/cef_version.h"

namespace conformance {
namespace {

constexpr int kExitFailed = 1;
constexpr int kExitNotStarted = 2;
constexpr int kExitWatchdog = 3;
// The whole run, CEF's start and shutdown included; every check has its own
// shorter time-out, this only catches CEF itself hanging.
constexpr DWORD kWatchdogMs = 10 * 60 * 1000;
// After the checks, browsers get this long to close before the loop quits.
constexpr int64_t kCloseTimeoutMs = 10 * 1000;
constexpr int kCustomSchemeOptions = CEF_SCHEME_OPTION_STANDARD |
                                     CEF_SCHEME_OPTION_CORS_ENABLED |
                                     CEF_SCHEME_OPTION_FETCH_ENABLED;

void PrintLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// Without CefString, which converts inside libcef.dll: these texts also
// explain a libcef.dll that does not work.
std::string Utf8(const std::wstring& text) {
  if (text.empty()) {
    return std::string();
  }
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(),
                                       static_cast<int>(text.size()), nullptr,
                                       0, nullptr, nullptr);
  std::string result(size > 0 ? size : 0, '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                        &result[0], size, nullptr, nullptr);
  }
  return result;
}

std::wstring ExecutableFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  return path.substr(0, path.find_last_of(L"\\/"));
}

// The system's text for an error code, without the line end.
std::string ErrorText(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = length > 0 ? std::wstring(text, length) : L"";
  if (text) {
    LocalFree(text);
  }
  while (!message.empty() &&
         (message.back() == L'\n' || message.back() == L'\r' ||
          message.back() == L' ' || message.back() == L'.')) {
    message.pop_back();
  }
  return "error " + std::to_string(code) +
         (message.empty() ? "" : " (" + Utf8(message) + ")");
}

// A fresh absolute folder per run: a second CEF on the same cache folder
// would exit at once. False, with the reason, when it cannot be made.
bool NewRunFolder(const std::wstring& base,
                  std::wstring& folder,
                  std::string& error) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t name[64];
  swprintf(name, 64, L"\\conformance-run-%04u%02u%02u-%02u%02u%02u-%lu",
           now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
           GetCurrentProcessId());
  folder = base + name;
  if (!CreateDirectoryW(folder.c_str(), nullptr)) {
    error = ErrorText(GetLastError());
    return false;
  }
  return true;
}

DWORD WINAPI Watchdog(LPVOID) {
  Sleep(kWatchdogMs);
  PrintLine("FAIL  conformance run: still running after " +
            std::to_string(kWatchdogMs / 1000) + " s; stopped");
  TerminateProcess(GetCurrentProcess(), kExitWatchdog);
  return 0;
}

class ConformanceApp : public CefApp, public CefBrowserProcessHandler {
 public:
  explicit ConformanceApp(std::function<void()> contextReady)
      : onContextInitialized(std::move(contextReady)) {}
  ConformanceApp(const ConformanceApp&) = delete;
  ConformanceApp& operator=(const ConformanceApp&) = delete;

  // The command line CEF gave the audio service, once it started.
  std::string AudioServiceCommandLine() {
    std::lock_guard<std::mutex> guard(lock);
    return audioCommandLine;
  }

  // CefApp methods:
  void OnBeforeCommandLineProcessing(
      const CefString& process_type,
      CefRefPtr<CefCommandLine> command_line) override {
    if (!process_type.empty()) {
      return;
    }
    // Autoplay is decided in the browser process; the audio check needs a
    // page that plays without a user gesture.
    command_line->AppendSwitchWithValue("autoplay-policy",
                                        "no-user-gesture-required");
    command_line->AppendSwitch("disable-gpu");
    command_line->AppendSwitch("disable-gpu-compositing");
  }
  void OnRegisterCustomSchemes(
      CefRawPtr<CefSchemeRegistrar> registrar) override {
    // The browser needs the launcher's registration too (CORS, web-safe).
    registrar->AddCustomScheme("cef", kCustomSchemeOptions);
    registrar->AddCustomScheme("vdfs", kCustomSchemeOptions);
  }
  CefRefPtr<CefBrowserProcessHandler> GetBrowserProcessHandler() override {
    return this;
  }

  // CefBrowserProcessHandler methods:
  void OnContextInitialized() override {
    if (onContextInitialized) {
      onContextInitialized();
    }
  }
  void OnBeforeChildProcessLaunch(
      CefRefPtr<CefCommandLine> command_line) override {
    if (command_line->GetSwitchValue("utility-sub-type") ==
        "audio.mojom.AudioService") {
      std::lock_guard<std::mutex> guard(lock);
      audioCommandLine = command_line->GetCommandLineString().ToString();
    }
  }

 private:
  std::function<void()> onContextInitialized;
  std::mutex lock;
  std::string audioCommandLine;

  IMPLEMENT_REFCOUNTING(ConformanceApp);
};

std::string VersionText() {
  return "libcef.dll: CEF " + std::to_string(cef_version_info(0)) + "." +
         std::to_string(cef_version_info(1)) + "." +
         std::to_string(cef_version_info(2)) + " (commit " +
         std::to_string(cef_version_info(3)) + "), Chromium " +
         std::to_string(cef_version_info(4)) + "." +
         std::to_string(cef_version_info(5)) + "." +
         std::to_string(cef_version_info(6)) + "." +
         std::to_string(cef_version_info(7)) + ", API hash " + cef_api_hash(0) +
         " (built against " CEF_VERSION ", API hash " CEF_API_HASH_PLATFORM ")";
}

int Run() {
  SetConsoleOutputCP(CP_UTF8);
  CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr);

  const std::wstring folder = ExecutableFolder();
  const std::wstring launcher = folder + L"\\cef-launcher.exe";
  std::wstring runFolder;
  std::string runFolderError;
  if (!NewRunFolder(folder, runFolder, runFolderError)) {
    PrintLine("CEF could not be started: cannot create the run folder " +
              Utf8(runFolder) + ": " + runFolderError);
    return kExitNotStarted;
  }
  // Wide: the folder may have any name the user gave it.
  const std::wstring reportFileName = runFolder + L"\\report.txt";
  const std::string reportPath = Utf8(reportFileName);
  ReportFile reportFile;
  std::string reportError;
  if (!reportFile.Open(std::filesystem::path(reportFileName), reportError)) {
    PrintLine("CEF could not be started: cannot write " + reportPath + ": " +
              reportError);
    return kExitNotStarted;
  }
  bool reportWritten = true;
  CheckReport report([&](const std::string& line) {
    PrintLine(line);
    reportWritten = reportFile.Append(line) && reportWritten;
  });
  report.Info(VersionText());
  report.Info("run folder: " + Utf8(runFolder));
  // With another API hash CEF's wrapper calls nothing in libcef.dll and
  // CefExecuteProcess returns 0, which would read as a finished run.
  const char* libraryHash = cef_api_hash(0);
  if (!libraryHash || std::strcmp(libraryHash, CEF_API_HASH_PLATFORM) != 0) {
    report.Say(
        std::string("CEF could not be started: libcef.dll has API hash ") +
        (libraryHash ? libraryHash : "(none)") +
        ", this program needs " CEF_API_HASH_PLATFORM
        " (a CEF 130.1.x release for 32-bit Windows)");
    return kExitNotStarted;
  }
  if (GetFileAttributesW(launcher.c_str()) == INVALID_FILE_ATTRIBUTES) {
    report.Say("CEF could not be started: no cef-launcher.exe in " +
               Utf8(folder));
    return kExitNotStarted;
  }
  const std::wstring cacheFolder = runFolder + L"\\cache";

  CefRefPtr<ConformanceClient> client = new ConformanceClient();
  RealCefHost host(client, new PageServer(), VersionText());
  host.SetAudioProbe(AudioProbe{conformance::RunningProcessImage,
                                conformance::AudioSessionVolumes});
  std::unique_ptr<Runner> runner;
  CefRefPtr<ConformanceApp> app;
  app = new ConformanceApp([&] {
    host.RegisterSchemeHandlers();
    runner->Start([&] {
      client->CloseAll([] { CefQuitMessageLoop(); });
      host.PostDelayed([] { CefQuitMessageLoop(); }, kCloseTimeoutMs);
    });
  });
  Runner::Options options;
  options.userDataDir = Utf8(cacheFolder);
  options.audioCommandLine = [&] { return app->AudioServiceCommandLine(); };
  options.launcherPath = Utf8(launcher);
  runner = std::make_unique<Runner>(host, report, options);
  client->SetDiagnostics([&](const std::string& line) { report.Info(line); });
  client->SetEvents(&runner->Events());
  runner->PrepareBeforeStart();

  CefMainArgs mainArgs(GetModuleHandleW(nullptr));
  const int processResult = CefExecuteProcess(mainArgs, app, nullptr);
  if (processResult >= 0) {
    report.Say("CEF could not be started: CefExecuteProcess returned " +
               std::to_string(processResult) + " in the browser process");
    return kExitNotStarted;
  }

  CefSettings settings;
  settings.no_sandbox = true;
  settings.windowless_rendering_enabled = true;
  // Absolute, or CEF would start this program for every subprocess.
  CefString(&settings.browser_subprocess_path) = launcher;
  CefString(&settings.root_cache_path) = cacheFolder;
  CefString(&settings.cache_path) = cacheFolder;
  CefString(&settings.log_file) = runFolder + L"\\cef.log";
  // INFO: Chromium logs page console messages, child process launches and
  // load failures at INFO; WARNING would leave only crashes and errors.
  settings.log_severity = LOGSEVERITY_INFO;
  if (!CefInitialize(mainArgs, settings, app, nullptr)) {
    report.Say("CEF could not be started: CefInitialize failed, exit code " +
               std::to_string(CefGetExitCode()) + " (log: " + Utf8(runFolder) +
               "\\cef.log)");
    return kExitNotStarted;
  }
  CefRunMessageLoop();
  client->SetEvents(nullptr);
  runner.reset();
  client->DropBrowsers();
  CefShutdown();

  report.Finish();
  PrintLine(reportWritten ? "report: " + reportPath
                          : "report: could not write all of " + reportPath);
  return report.AllPassed() ? 0 : kExitFailed;
}

}  // namespace
}  // namespace conformance

namespace {

bool entryRan = false;

int RunConformance(int, char*[]) {
  entryRan = true;
  return conformance::Run();
}

}  // namespace

int main(int argc, char* argv[]) {
#if defined(ARCH_CPU_32_BITS)
  // CEF's main thread needs more stack than the 0.5 MiB the linker gives
  // every thread; this reruns the entry point on a 4 MiB fiber.
  const int fiberResult =
      CefRunMainWithPreferredStackSize(RunConformance, argc, argv);
  if (entryRan) {
    return fiberResult;
  }
  // The entry never ran: a libcef.dll with another API hash (the wrapper
  // then returns 0 untouched), or no fiber. Run() checks the hash first and
  // says why before it starts anything of CEF.
#endif
  return RunConformance(argc, argv);
}
