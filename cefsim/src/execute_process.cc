#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

#include "cefsim/process_roles.h"
#include "command_line_internal.h"
#include "include/cef_app.h"
#include "scheme_registrar_internal.h"

namespace cefsim {
namespace {

struct Roles {
  RoleRunner renderer;
  std::map<std::string, RoleRunner> others;
};

Roles& InstalledRoles() {
  static Roles roles;
  return roles;
}

ProcessRecord& Record() {
  static ProcessRecord record;
  return record;
}

std::function<void(const std::string&)>& TraceSink() {
  static std::function<void(const std::string&)> sink;
  return sink;
}

// Registrars stay allocated so that a pointer kept past the callback hits a
// loud check instead of freed memory.
std::vector<std::unique_ptr<SchemeRegistrarImpl>>& ClosedRegistrars() {
  static std::vector<std::unique_ptr<SchemeRegistrarImpl>> registrars;
  return registrars;
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

std::string ArgvText(const CommandLineData& commandLine) {
  std::string text;
  for (const std::u16string& arg : commandLine.argv) {
    text += (text.empty() ? "" : " ") + CefString(arg).ToString();
  }
  return text;
}

// Chromium's GetSwitchValueASCII: a non-ASCII value reads as empty.
std::string SwitchValueAscii(const CommandLineData& commandLine,
                             const std::string& name) {
  const std::u16string* value = commandLine.FindSwitch(name);
  if (!value) {
    return std::string();
  }
  for (char16_t c : *value) {
    if (c > 0x7F) {
      return std::string();
    }
  }
  return CefString(*value).ToString();
}

// The renderer shell: WebKit comes up and nothing else happens.
int DefaultRendererRole(CefRefPtr<CefApp> application) {
  if (!application) {
    return 0;
  }
  RecordHook("GetRenderProcessHandler");
  CefRefPtr<CefRenderProcessHandler> handler =
      application->GetRenderProcessHandler();
  if (!handler) {
    Trace("cefsim: no render process handler; OnWebKitInitialized skipped");
    return 0;
  }
  RecordHook("OnWebKitInitialized");
  handler->OnWebKitInitialized();
  return 0;
}

RoleRunner RoleFor(const std::string& type) {
  Roles& roles = InstalledRoles();
  if (type == "renderer") {
    return roles.renderer ? roles.renderer : DefaultRendererRole;
  }
  auto it = roles.others.find(type);
  if (it != roles.others.end() && it->second) {
    return it->second;
  }
  return [](CefRefPtr<CefApp>) { return 0; };
}

void RunCommandLineHook(CefRefPtr<CefApp> application,
                        const std::string& type,
                        const std::shared_ptr<CommandLineData>& commandLine) {
  ProcessRecord& record = Record();
  // CEF quirk: the hook gets a writable view of the global command line
  // that is detached as soon as it returns.
  CefRefPtr<CommandLineImpl> writable = new CommandLineImpl(commandLine, false);
  RecordHook("OnBeforeCommandLineProcessing(" + Quoted(type) + ")");
  application->OnBeforeCommandLineProcessing(CefString(type), writable.get());
  writable->Detach();
  for (const std::u16string& arg : commandLine->argv) {
    record.argvAfterCommandLineHook.push_back(CefString(arg).ToString());
  }
  Trace("cefsim:   command line now: " + ArgvText(*commandLine));
}

void RunSchemesHook(CefRefPtr<CefApp> application) {
  auto registrar = std::make_unique<SchemeRegistrarImpl>();
  RecordHook("OnRegisterCustomSchemes");
  application->OnRegisterCustomSchemes(registrar.get());
  registrar->Close();
  Record().schemes = registrar->Registrations();
  for (const SchemeRegistration& scheme : Record().schemes) {
    Trace("cefsim:   AddCustomScheme(" + Quoted(scheme.name) + ", " +
          std::to_string(scheme.options) + ") -> " +
          (scheme.accepted ? "true" : "false"));
  }
  ClosedRegistrars().push_back(std::move(registrar));
}

}  // namespace

void SetRendererRole(RoleRunner runner) {
  InstalledRoles().renderer = std::move(runner);
}

void SetProcessRole(const std::string& type, RoleRunner runner) {
  InstalledRoles().others[type] = std::move(runner);
}

const ProcessRecord& LastProcess() {
  return Record();
}

void RecordHook(const std::string& hook) {
  Record().hooks.push_back(hook);
  Trace("cefsim: " + hook);
}

void InitGlobalCommandLine(int argc, const char* const* argv) {
  std::vector<std::u16string> args;
  for (int i = 0; i < argc; ++i) {
    args.push_back(Utf8ToUtf16(argv[i] ? argv[i] : ""));
  }
  auto commandLine = std::make_shared<CommandLineData>();
  commandLine->InitFromArgv(args);
  GlobalCommandLine() = commandLine;
}

void ResetProcessState() {
  GlobalCommandLine().reset();
  Record() = ProcessRecord();
}

void SetTraceSink(std::function<void(const std::string& line)> sink) {
  TraceSink() = std::move(sink);
}

void Trace(const std::string& line) {
  if (TraceSink()) {
    TraceSink()(line);
    return;
  }
  static const bool enabled = [] {
    const char* value = std::getenv("CEFSIM_TRACE");
    return value && std::string(value) == "1";
  }();
  if (enabled) {
    std::fprintf(stderr, "%s\n", line.c_str());
  }
}

}  // namespace cefsim

int CefExecuteProcess(const CefMainArgs& args,
                      CefRefPtr<CefApp> application,
                      void* /*windows_sandbox_info*/) {
  using namespace cefsim;
  ResetProcessState();
  ProcessRecord& record = Record();

  // CEF reads the role from a private parse of the process arguments.
  std::vector<std::u16string> argv;
  for (int i = 0; i < args.argc && args.argv; ++i) {
    argv.push_back(Utf8ToUtf16(args.argv[i] ? args.argv[i] : ""));
  }
  auto commandLine = std::make_shared<CommandLineData>();
  commandLine->InitFromArgv(argv);
  Trace("cefsim: CefExecuteProcess " + ArgvText(*commandLine));

  // CEF quirk: no (or an empty, or a non-ASCII) --type is the browser
  // process: -1 at once, and no application method is called.
  std::string type = SwitchValueAscii(*commandLine, "type");
  if (type.empty()) {
    record.result = -1;
    Trace("cefsim: no process type: browser process, returns -1");
    return -1;
  }
  record.type = type;
  GlobalCommandLine() = commandLine;

  // CEF quirk: the crashpad handler runs without calling the application.
  if (type != "crashpad-handler" && application) {
    RunCommandLineHook(application, type, commandLine);
    RunSchemesHook(application);
  }
  int exitCode = type == "crashpad-handler" ? 0 : RoleFor(type)(application);
  record.result = exitCode;
  Trace("cefsim: " + type + " process ends with exit code " +
        std::to_string(exitCode));
  return exitCode;
}
