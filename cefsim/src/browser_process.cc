// CefInitialize, the message loop, CefShutdown and windowless browsers.

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <thread>

#include "browser_process_internal.h"
#include "cefsim/browser_process.h"
#include "cefsim/browser_side.h"
#include "cefsim/fatal.h"
#include "cefsim/process_roles.h"
#include "cefsim/renderer_process.h"
#include "command_line_internal.h"
#include "include/cef_app.h"
#include "include/cef_client.h"
#include "scheme_registrar_internal.h"

namespace cefsim {
namespace {

// CEF_RESULT_CODE_NORMAL_EXIT and the codes CefInitialize can leave.
constexpr int kExitNormal = 0;
constexpr int kExitBadSettings = 1;

class BrowserProcess;

struct ProcessGlobals {
  SubprocessApplication subprocessApplication;
  std::vector<std::string> log;
  std::vector<std::string> children;
  int exitCode = kExitNormal;
  // Set by CefInitialize; cleared by CefShutdown.
  std::unique_ptr<BrowserProcess> process;
  std::vector<SchemeRegistration> browserSchemes;
  std::vector<SchemeRegistration> rendererSchemes;
};

ProcessGlobals& Globals() {
  static ProcessGlobals globals;
  return globals;
}

std::string FromUtf16(const std::u16string& text) {
  return CefString(text).ToString();
}

// Chromium's severity names, and what DEFAULT means (INFO).
const char* SeverityName(cef_log_severity_t severity) {
  switch (severity) {
    case LOGSEVERITY_VERBOSE:
      return "VERBOSE";
    case LOGSEVERITY_WARNING:
      return "WARNING";
    case LOGSEVERITY_ERROR:
      return "ERROR";
    case LOGSEVERITY_FATAL:
      return "FATAL";
    default:
      return "INFO";
  }
}

cef_log_severity_t ConsoleSeverity(const std::string& line) {
  if (line.rfind("error:", 0) == 0) {
    return LOGSEVERITY_ERROR;
  }
  if (line.rfind("warn:", 0) == 0) {
    return LOGSEVERITY_WARNING;
  }
  return LOGSEVERITY_INFO;
}

// The message text of a renderer console line ("warn: text" -> "text").
std::string ConsoleText(const std::string& line) {
  const size_t colon = line.find(':');
  if (colon == std::string::npos) {
    return line;
  }
  return line.substr(colon + (line.size() > colon + 1 ? 2 : 1));
}

// Inline scripts of an HTML document, in document order; scripts with a src
// attribute load nothing here and are skipped with a log line.
struct InlineScript {
  std::string code;
  int line = 1;
};

std::vector<InlineScript> InlineScripts(const std::string& html,
                                        std::vector<std::string>& skipped) {
  std::vector<InlineScript> scripts;
  std::string lower = html;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  });
  size_t at = 0;
  for (;;) {
    const size_t open = lower.find("<script", at);
    if (open == std::string::npos) {
      break;
    }
    const size_t tagEnd = lower.find('>', open);
    if (tagEnd == std::string::npos) {
      break;
    }
    const size_t close = lower.find("</script", tagEnd);
    if (close == std::string::npos) {
      break;
    }
    const std::string tag = lower.substr(open, tagEnd - open);
    if (tag.find(" src=") != std::string::npos) {
      skipped.push_back(html.substr(open, tagEnd - open + 1));
    } else {
      InlineScript script;
      script.code = html.substr(tagEnd + 1, close - tagEnd - 1);
      script.line = 1 + static_cast<int>(std::count(
                            html.begin(), html.begin() + tagEnd + 1, '\n'));
      scripts.push_back(std::move(script));
    }
    at = close;
  }
  return scripts;
}

std::string NetErrorName(cef_errorcode_t error) {
  switch (error) {
    case ERR_UNKNOWN_URL_SCHEME:
      return "ERR_UNKNOWN_URL_SCHEME";
    case ERR_ABORTED:
      return "ERR_ABORTED";
    case ERR_FILE_NOT_FOUND:
      return "ERR_FILE_NOT_FOUND";
    default:
      return "ERR_FAILED";
  }
}

bool RendererSchemeHas(const std::string& scheme, int option) {
  for (const SchemeRegistration& registration : Globals().rendererSchemes) {
    if (registration.accepted && ToLowerAscii(registration.name) == scheme &&
        (registration.options & option) == option) {
      return true;
    }
  }
  return false;
}

// The origin the renderer gives a URL: scheme, host and port for standard
// schemes (by the renderer's registration), opaque ("null") otherwise.
std::string OriginOf(const std::string& url) {
  const std::string scheme = SchemeOf(url);
  if (scheme != "http" && scheme != "https" &&
      !RendererSchemeHas(scheme, CEF_SCHEME_OPTION_STANDARD)) {
    return "null";
  }
  const size_t start = url.find("://");
  if (start == std::string::npos) {
    return "null";
  }
  std::string authority = url.substr(start + 3);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  const size_t at = authority.rfind('@');
  if (at != std::string::npos) {
    authority = authority.substr(at + 1);
  }
  return scheme + "://" + ToLowerAscii(authority);
}

class FunctionTask : public CefTask {
 public:
  explicit FunctionTask(std::function<void()> function)
      : task(std::move(function)) {}
  void Execute() override { task(); }

 private:
  std::function<void()> task;
  IMPLEMENT_REFCOUNTING(FunctionTask);
};

struct HostedBrowser {
  CefRefPtr<CefClient> client;
  std::string url;
  bool closing = false;
};

class BrowserProcess : public BrowserHostDelegate {
 public:
  BrowserProcess(CefRefPtr<CefApp> application,
                 CefRefPtr<CefApp> rendererApplication)
      : app(std::move(application)),
        uiThread(std::this_thread::get_id()),
        renderer(std::make_unique<RendererProcess>(rendererApplication)),
        side(std::make_unique<BrowserSide>(*renderer)) {
    side->SetHostDelegate(this);
    renderer->SetOutbox(
        [this](const std::string& frameId, const WireMessage& wire) {
          side->FromRenderer(frameId, wire);
        });
    renderer->SetConsoleSink(
        [this](const std::string& frameId, const std::string& line) {
          Console(frameId, line);
        });
    renderer->SetFetchSink(
        [this](const std::string& frameId, const std::string& url) {
          return Fetch(frameId, url);
        });
  }

  ~BrowserProcess() override {
    // Contexts are released while the browser side can still record.
    renderer.reset();
    side.reset();
  }

  bool OnUiThread() const { return std::this_thread::get_id() == uiThread; }
  CefRefPtr<CefApp> Application() const { return app; }

  void Post(std::function<void()> task, int64_t delayMs = 0) {
    side->PostTask(new FunctionTask(std::move(task)), delayMs);
  }

  // Runs messages, page tasks and UI tasks until the loop quits; time moves
  // to the next due task when nothing else is left.
  void Run() {
    running = true;
    quitRequested = false;
    while (!quitRequested) {
      Settle();
      if (quitRequested) {
        break;
      }
      const std::optional<int64_t> uiDue = side->NextTaskDue();
      const int64_t limit =
          uiDue ? *uiDue : std::numeric_limits<int64_t>::max();
      if (!side->RendererTerminated() && renderer->RunNextTask(limit)) {
        continue;
      }
      if (uiDue) {
        renderer->AdvanceClock(*uiDue);
        continue;
      }
      Fatal(
          "CefRunMessageLoop has nothing left to run and CefQuitMessageLoop "
          "was not called: CEF would wait forever");
    }
    running = false;
  }

  void Quit() {
    // A quit while the loop is not running does nothing.
    if (running) {
      quitRequested = true;
    }
  }

  void CreateBrowser(CefRefPtr<CefClient> client, const std::string& url) {
    Post([this, client, url] { OpenBrowser(client, url); });
  }

  // Every browser still open goes, with OnBeforeClose (CefShutdown).
  void DestroyAllBrowsers() {
    std::vector<int> open;
    for (const auto& [id, browser] : browsers) {
      open.push_back(id);
    }
    for (int id : open) {
      Destroy(id);
    }
  }

  // BrowserHostDelegate methods:
  void CloseBrowser(int browserId, bool /*forceClose*/) override {
    auto found = browsers.find(browserId);
    if (found == browsers.end() || found->second.closing) {
      return;
    }
    found->second.closing = true;
    CefRefPtr<CefClient> client = found->second.client;
    CefRefPtr<CefLifeSpanHandler> lifeSpan = client->GetLifeSpanHandler();
    if (lifeSpan && lifeSpan->DoClose(side->Browser(browserId))) {
      Fatal(
          "DoClose returned true for a windowless browser: there is no "
          "window to close, so CEF would wait for one forever");
    }
    // A windowless browser is destroyed at once.
    Destroy(browserId);
  }

  void SetFocus(int browserId, bool focus) override {
    if (browsers.count(browserId)) {
      focused[browserId] = focus;
    }
  }

  void LoadUrl(const std::string& frameId, const std::string& url) override {
    Post([this, frameId, url] { Navigate(frameId, url); });
  }

  void ExecuteJavaScript(const std::string& frameId,
                         const std::string& code,
                         const std::string& scriptUrl,
                         int startLine) override {
    // Sent to the renderer, which runs it as a task in the main world.
    Post([this, frameId, code, scriptUrl, startLine] {
      if (renderer->Frame(frameId)) {
        renderer->RunScript(frameId, code, scriptUrl, startLine);
      }
    });
  }

 private:
  void Settle() {
    for (;;) {
      int handled = side->Pump();
      if (!side->RendererTerminated() &&
          renderer->RunNextTask(renderer->Now())) {
        ++handled;
      }
      if (handled == 0 || quitRequested) {
        return;
      }
    }
  }

  void OpenBrowser(CefRefPtr<CefClient> client, const std::string& url) {
    FrameSpec blank;
    blank.url = "about:blank";
    blank.runsScript = false;
    const BrowserInfo info = renderer->OpenBrowser({blank});
    browsers[info.id] = HostedBrowser{client, url, false};
    side->SetClient(client);
    side->BrowserOpened(info.id);
    CefRefPtr<CefBrowser> browser = side->Browser(info.id);
    CefRect rect;
    client->GetRenderHandler()->GetViewRect(browser, rect);
    if (rect.width <= 0 || rect.height <= 0) {
      Fatal("CefRenderHandler::GetViewRect gave an empty rect (" +
            std::to_string(rect.width) + "x" + std::to_string(rect.height) +
            "): CEF CHECK-fails on it and the browser process crashes");
    }
    if (CefRefPtr<CefLifeSpanHandler> lifeSpan = client->GetLifeSpanHandler()) {
      lifeSpan->OnAfterCreated(browser);
    }
    if (!url.empty()) {
      Navigate(info.frameIds.front(), url);
    }
  }

  void Navigate(const std::string& frameId, const std::string& url) {
    CefRefPtr<CefFrame> frame = side->Frame(frameId);
    if (!frame) {
      return;
    }
    CefRefPtr<CefBrowser> browser = frame->GetBrowser();
    const int browserId = browser->GetIdentifier();
    auto found = browsers.find(browserId);
    if (found == browsers.end()) {
      return;
    }
    CefRefPtr<CefClient> client = found->second.client;
    const LoadedResource resource = LoadResource(browser, frame, url, "GET");
    CefRefPtr<CefLoadHandler> load = client->GetLoadHandler();
    if (resource.error != ERR_NONE) {
      // Fails before commit: only OnLoadError, and the old document stays.
      const std::string errorText = NetErrorName(resource.error);
      BrowserLog(LOGSEVERITY_WARNING,
                 "load of " + url + " failed: net::" + errorText);
      if (load) {
        load->OnLoadError(browser, frame, resource.error, errorText, url);
      }
      return;
    }
    // Commit: the frame's new document, then its scripts as the parser
    // meets them.
    renderer->Navigate(frameId, url);
    side->SyncFrames();
    side->CommitUrl(frameId, url);
    if (load) {
      load->OnLoadStart(browser, frame,
                        frame->IsMain() ? TT_EXPLICIT : TT_AUTO_SUBFRAME);
    }
    if (resource.mimeType == "text/html") {
      std::vector<std::string> skipped;
      for (const InlineScript& script : InlineScripts(resource.body, skipped)) {
        if (!renderer->Frame(frameId)) {
          return;
        }
        renderer->RunScript(frameId, script.code, url, script.line);
        side->Pump();
      }
      for (const std::string& tag : skipped) {
        BrowserLog(LOGSEVERITY_WARNING,
                   "external script not loaded by cefsim: " + tag);
      }
    }
    if (load && renderer->Frame(frameId)) {
      load->OnLoadEnd(browser, side->Frame(frameId), resource.status);
    }
  }

  // fetch() from a page, with Chromium's rules for custom schemes: the
  // renderer's registration must make the scheme fetch-enabled, a
  // cross-origin request needs the browser's CORS-enabled registration and a
  // matching Access-Control-Allow-Origin.
  RendererProcess::FetchOutcome Fetch(const std::string& frameId,
                                      const std::string& url) {
    RendererProcess::FetchOutcome outcome;
    auto refuse = [&outcome](const std::string& line) {
      outcome.failed = true;
      outcome.consoleError = line;
      return outcome;
    };
    CefRefPtr<CefFrame> frame = side->Frame(frameId);
    CefRefPtr<CefBrowser> browser = frame ? frame->GetBrowser() : nullptr;
    const std::string pageUrl = frame ? frame->GetURL().ToString() : "";
    const std::string scheme = SchemeOf(url);
    if (scheme == "http" || scheme == "https" || scheme == "file") {
      Fatal("cefsim has no network: fetch() of " + url);
    }
    if (!RendererSchemeHas(scheme, CEF_SCHEME_OPTION_FETCH_ENABLED)) {
      return refuse("Fetch API cannot load " + url + ". URL scheme \"" +
                    scheme + "\" is not supported.");
    }
    const std::string origin = OriginOf(pageUrl);
    const bool sameOrigin = origin != "null" && OriginOf(url) == origin;
    const std::string blocked = "Access to fetch at '" + url +
                                "' from origin '" + origin +
                                "' has been blocked by CORS policy: ";
    CefRequest::HeaderMap headers;
    if (!sameOrigin) {
      if (!BrowserSchemeHas(scheme, CEF_SCHEME_OPTION_CORS_ENABLED)) {
        return refuse(blocked +
                      "Cross origin requests are only supported for "
                      "protocol schemes the browser made CORS-enabled.");
      }
      headers.insert(std::make_pair(CefString("Origin"), CefString(origin)));
    }
    const LoadedResource resource =
        LoadResource(browser, frame, url, "GET", headers);
    if (resource.error != ERR_NONE) {
      return refuse("Failed to load resource: net::" +
                    NetErrorName(resource.error));
    }
    if (!sameOrigin) {
      bool present = false;
      std::string allowed;
      for (const auto& [name, value] : resource.headers) {
        if (ToLowerAscii(name) == "access-control-allow-origin") {
          present = true;
          allowed = value;
        }
      }
      if (!present) {
        return refuse(blocked +
                      "No 'Access-Control-Allow-Origin' header is present on "
                      "the requested resource.");
      }
      if (allowed != "*" && allowed != origin) {
        return refuse(blocked +
                      "The 'Access-Control-Allow-Origin' header has a value '" +
                      allowed + "' that is not equal to the supplied origin.");
      }
    }
    outcome.status = resource.status;
    outcome.statusText = resource.statusText;
    outcome.body = resource.body;
    return outcome;
  }

  void Destroy(int browserId) {
    auto found = browsers.find(browserId);
    if (found == browsers.end()) {
      return;
    }
    CefRefPtr<CefClient> client = found->second.client;
    CefRefPtr<CefBrowser> browser = side->Browser(browserId);
    // What the renderer sent before reaches the browser before the close.
    side->Pump();
    renderer->CloseBrowser(browserId);
    side->SyncFrames();
    browsers.erase(found);
    focused.erase(browserId);
    if (CefRefPtr<CefLifeSpanHandler> lifeSpan = client->GetLifeSpanHandler()) {
      lifeSpan->OnBeforeClose(browser);
    }
  }

  void Console(const std::string& frameId, const std::string& line) {
    CefRefPtr<CefFrame> frame = side->Frame(frameId);
    if (!frame) {
      return;
    }
    CefRefPtr<CefBrowser> browser = frame->GetBrowser();
    auto found =
        browser ? browsers.find(browser->GetIdentifier()) : browsers.end();
    if (found == browsers.end()) {
      return;
    }
    const cef_log_severity_t level = ConsoleSeverity(line);
    const std::string text = ConsoleText(line);
    const std::string source = frame->GetURL().ToString();
    CefRefPtr<CefClient> client = found->second.client;
    // Reported over IPC: the display handler hears it as a UI task.
    Post([browser, client, level, text, source] {
      CefRefPtr<CefDisplayHandler> display = client->GetDisplayHandler();
      if (display && display->OnConsoleMessage(browser, level, text, source,
                                               /*line=*/0)) {
        return;
      }
      BrowserLog(LOGSEVERITY_INFO,
                 "CONSOLE: \"" + text + "\", source: " + source);
    });
  }

  CefRefPtr<CefApp> app;
  std::thread::id uiThread;
  std::unique_ptr<RendererProcess> renderer;
  std::unique_ptr<BrowserSide> side;
  std::map<int, HostedBrowser> browsers;
  std::map<int, bool> focused;
  bool running = false;
  bool quitRequested = false;
};

// CEF's own handling of the path settings: absolute or nothing, no
// trailing separator.
std::string NormalizedPath(const std::string& name, const std::string& path) {
  if (path.empty()) {
    return path;
  }
  std::filesystem::path value(path);
  if (!value.is_absolute()) {
    BrowserLog(LOGSEVERITY_ERROR,
               "The " + name + " directory (" + path +
                   ") is invalid. Relative paths are not supported.");
    return std::string();
  }
  std::string text = value.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') {
    text.pop_back();
  }
  return text;
}

struct ResolvedSettings {
  std::string subprocessPath;
  std::string rootCachePath;
  std::string logFile;
  cef_log_severity_t logSeverity = LOGSEVERITY_DEFAULT;
};

ResolvedSettings& Resolved() {
  static ResolvedSettings resolved;
  return resolved;
}

CefRefPtr<CefApp> RendererApplication(CefRefPtr<CefApp> browserApplication,
                                      const std::string& subprocessPath) {
  // No subprocess path: CEF launches this program again for every child.
  if (subprocessPath.empty()) {
    return browserApplication;
  }
  if (!Globals().subprocessApplication) {
    Fatal(
        "cefsim runs the renderer in the browser process, but nothing said "
        "what " +
        subprocessPath +
        " runs there (cefsim::SetInProcessRenderer was not called)");
  }
  return Globals().subprocessApplication();
}

// A child's command line as CEF builds it before OnBeforeChildProcessLaunch.
std::shared_ptr<CommandLineData> ChildCommandLine(const std::string& type) {
  const ResolvedSettings& settings = Resolved();
  auto commandLine = std::make_shared<CommandLineData>();
  commandLine->SetProgram(Utf8ToUtf16(settings.subprocessPath.empty()
                                          ? std::string("cefsim-program")
                                          : settings.subprocessPath));
  commandLine->AppendSwitchNative("type", Utf8ToUtf16(type));
  if (type != "renderer") {
    commandLine->AppendSwitchNative("utility-sub-type",
                                    Utf8ToUtf16("audio.mojom.AudioService"));
  }
  commandLine->AppendSwitchNative("no-sandbox", std::u16string());
  commandLine->AppendSwitchNative("user-data-dir",
                                  Utf8ToUtf16(settings.rootCachePath));
  if (std::shared_ptr<CommandLineData> global = GlobalCommandLine()) {
    for (const char* name : {"log-severity", "log-file"}) {
      if (const std::u16string* value = global->FindSwitch(name)) {
        commandLine->AppendSwitchNative(name, *value);
      }
    }
  }
  return commandLine;
}

void BeforeChildLaunch(CefRefPtr<CefApp> application,
                       const std::shared_ptr<CommandLineData>& commandLine) {
  if (CefRefPtr<CefBrowserProcessHandler> handler =
          application ? application->GetBrowserProcessHandler() : nullptr) {
    CefRefPtr<CommandLineImpl> writable =
        new CommandLineImpl(commandLine, false);
    RecordHook("OnBeforeChildProcessLaunch");
    handler->OnBeforeChildProcessLaunch(writable.get());
    writable->Detach();
  }
  Globals().children.push_back(FromUtf16(commandLine->CommandLineString()));
}

// The renderer's own start: its command-line and scheme hooks, in the
// renderer's application.
void StartRendererHooks(CefRefPtr<CefApp> rendererApplication,
                        const std::shared_ptr<CommandLineData>& commandLine) {
  if (!rendererApplication) {
    return;
  }
  CefRefPtr<CommandLineImpl> writable = new CommandLineImpl(commandLine, false);
  rendererApplication->OnBeforeCommandLineProcessing("renderer",
                                                     writable.get());
  writable->Detach();
  auto registrar = std::make_unique<SchemeRegistrarImpl>();
  rendererApplication->OnRegisterCustomSchemes(registrar.get());
  registrar->Close();
  Globals().rendererSchemes = registrar->Registrations();
  // Kept so that a registrar pointer kept past the hook stays loud.
  static std::vector<std::unique_ptr<SchemeRegistrarImpl>> closed;
  closed.push_back(std::move(registrar));
}

BrowserProcess* Running() {
  return Globals().process.get();
}

}  // namespace

void SetInProcessRenderer(SubprocessApplication application) {
  Globals().subprocessApplication = std::move(application);
}

const std::vector<std::string>& BrowserProcessLog() {
  return Globals().log;
}

const std::vector<std::string>& LaunchedChildren() {
  return Globals().children;
}

bool BrowserProcessRunning() {
  return Running() != nullptr;
}

std::string SchemeOf(const std::string& url) {
  const size_t colon = url.find(':');
  if (colon == std::string::npos || colon == 0) {
    return std::string();
  }
  return ToLowerAscii(url.substr(0, colon));
}

bool BrowserSchemeHas(const std::string& scheme, int option) {
  for (const SchemeRegistration& registration : Globals().browserSchemes) {
    if (registration.accepted && ToLowerAscii(registration.name) == scheme &&
        (registration.options & option) == option) {
      return true;
    }
  }
  return false;
}

void BrowserLog(cef_log_severity_t severity, const std::string& line) {
  const ResolvedSettings& settings = Resolved();
  const cef_log_severity_t threshold =
      settings.logSeverity == LOGSEVERITY_DEFAULT ? LOGSEVERITY_INFO
                                                  : settings.logSeverity;
  // DISABLE leaves only FATAL, on stderr.
  if (severity < threshold || settings.logSeverity == LOGSEVERITY_DISABLE) {
    return;
  }
  const std::string text =
      std::string("[") + SeverityName(severity) + ":cefsim] " + line;
  Globals().log.push_back(text);
  if (!settings.logFile.empty()) {
    std::ofstream file(settings.logFile, std::ios::app);
    file << text << '\n';
  }
}

}  // namespace cefsim

bool CefInitialize(const CefMainArgs& args,
                   const CefSettings& settings,
                   CefRefPtr<CefApp> application,
                   void* /*windows_sandbox_info*/) {
  using namespace cefsim;
  ProcessGlobals& globals = Globals();
  if (globals.process) {
    return true;  // already initialised
  }
  globals.log.clear();
  globals.children.clear();
  globals.exitCode = kExitNormal;
  if (settings.size != sizeof(CefSettings)) {
    globals.exitCode = kExitBadSettings;
    return false;
  }
  if (settings.multi_threaded_message_loop || settings.external_message_pump) {
    Fatal(
        "cefsim simulates CefRunMessageLoop only (multi_threaded_message_loop "
        "and external_message_pump are not simulated)");
  }

  ResolvedSettings& resolved = Resolved();
  resolved = ResolvedSettings();
  resolved.logSeverity = settings.log_severity;
  resolved.logFile = FromUtf16(settings.log_file.text);
  resolved.subprocessPath =
      NormalizedPath("browser_subprocess_path",
                     FromUtf16(settings.browser_subprocess_path.text));
  std::string root = NormalizedPath("root_cache_path",
                                    FromUtf16(settings.root_cache_path.text));
  std::string cache =
      NormalizedPath("cache_path", FromUtf16(settings.cache_path.text));
  if (root.empty()) {
    root = cache;
  }
  if (!cache.empty() && cache != root && cache.rfind(root + "/", 0) != 0) {
    BrowserLog(LOGSEVERITY_ERROR,
               "The cache_path directory (" + cache +
                   ") is not a child of the root_cache_path directory (" +
                   root + ")");
  }
  if (root.empty()) {
    const char* home = std::getenv("HOME");
    root = std::string(home ? home : "") + "/.config/cef_user_data";
    BrowserLog(LOGSEVERITY_WARNING,
               "Please customize CefSettings.root_cache_path for your "
               "application. Use of the default value may lead to unintended "
               "process singleton behavior.");
  }
  resolved.rootCachePath = root;
  std::error_code error;
  std::filesystem::create_directories(root, error);

  // The process's command line, with the settings CEF turns into switches
  // unless they are there already, before the application's hook.
  std::vector<const char*> argv;
  for (int i = 0; i < args.argc && args.argv; ++i) {
    argv.push_back(args.argv[i]);
  }
  if (argv.empty()) {
    argv.push_back("cefsim-program");
  }
  InitGlobalCommandLine(static_cast<int>(argv.size()), argv.data());
  std::shared_ptr<CommandLineData> global = GlobalCommandLine();
  if (!resolved.logFile.empty() && !global->FindSwitch("log-file")) {
    global->AppendSwitchNative("log-file", Utf8ToUtf16(resolved.logFile));
  }
  if (settings.log_severity != LOGSEVERITY_DEFAULT &&
      !global->FindSwitch("log-severity")) {
    const char* value = settings.log_severity == LOGSEVERITY_DISABLE
                            ? "disable"
                            : SeverityName(settings.log_severity);
    std::string lower = ToLowerAscii(value);
    global->AppendSwitchNative("log-severity", Utf8ToUtf16(lower));
  }

  if (application) {
    CefRefPtr<CommandLineImpl> writable = new CommandLineImpl(global, false);
    RecordHook("OnBeforeCommandLineProcessing(\"\")");
    application->OnBeforeCommandLineProcessing(CefString(), writable.get());
    writable->Detach();
    auto registrar = std::make_unique<SchemeRegistrarImpl>();
    RecordHook("OnRegisterCustomSchemes");
    application->OnRegisterCustomSchemes(registrar.get());
    registrar->Close();
    globals.browserSchemes = registrar->Registrations();
    static std::vector<std::unique_ptr<SchemeRegistrarImpl>> closed;
    closed.push_back(std::move(registrar));
  }

  // The renderer starts with the browser process and runs inside it.
  CefRefPtr<CefApp> rendererApplication =
      RendererApplication(application, resolved.subprocessPath);
  std::shared_ptr<CommandLineData> rendererLine = ChildCommandLine("renderer");
  BeforeChildLaunch(application, rendererLine);
  StartRendererHooks(rendererApplication, rendererLine);
  globals.process =
      std::make_unique<BrowserProcess>(application, rendererApplication);

  if (CefRefPtr<CefBrowserProcessHandler> handler =
          application ? application->GetBrowserProcessHandler() : nullptr) {
    RecordHook("OnContextInitialized");
    handler->OnContextInitialized();
  }
  return true;
}

int CefGetExitCode() {
  return cefsim::Globals().exitCode;
}

void CefRunMessageLoop() {
  cefsim::BrowserProcess* process = cefsim::Running();
  // Off the initialising thread, CEF does nothing at all.
  if (!process || !process->OnUiThread()) {
    return;
  }
  process->Run();
}

void CefQuitMessageLoop() {
  cefsim::BrowserProcess* process = cefsim::Running();
  if (!process || !process->OnUiThread()) {
    return;
  }
  process->Quit();
}

void CefShutdown() {
  cefsim::ProcessGlobals& globals = cefsim::Globals();
  if (!globals.process || !globals.process->OnUiThread()) {
    return;
  }
  globals.process->DestroyAllBrowsers();
  cefsim::ClearSchemeHandlerFactories();
  globals.process.reset();
  globals.browserSchemes.clear();
  globals.rendererSchemes.clear();
}

bool CefBrowserHost::CreateBrowser(
    const CefWindowInfo& windowInfo,
    CefRefPtr<CefClient> client,
    const CefString& url,
    const CefBrowserSettings& /*settings*/,
    CefRefPtr<CefDictionaryValue> /*extra_info*/,
    CefRefPtr<CefRequestContext> request_context) {
  using namespace cefsim;
  BrowserProcess* process = Running();
  if (!process) {
    // CEF logs "context not valid" and refuses.
    return false;
  }
  if (!windowInfo.windowless_rendering_enabled) {
    Fatal("cefsim simulates windowless browsers only");
  }
  if (request_context) {
    Fatal("cefsim has only the global request context");
  }
  if (!client || !client->GetRenderHandler()) {
    BrowserLog(LOGSEVERITY_ERROR,
               "Window rendering is disabled and no CefRenderHandler provided");
    return false;
  }
  process->CreateBrowser(client, url.ToString());
  return true;
}
