#pragma once

#include <functional>
#include <string>
#include <vector>

#include "include/cef_app.h"

// Simulated process roles for CefExecuteProcess, plus what the last
// sub-process run recorded, so tests can see what the program's hooks did.
namespace cefsim {

// Runs one sub-process role after OnBeforeCommandLineProcessing and
// OnRegisterCustomSchemes; its result is the process exit code.
using RoleRunner = std::function<int(CefRefPtr<CefApp> application)>;

// Installs the renderer role (the V8 harness does); an empty runner restores
// the default shell, which calls OnWebKitInitialized through a fresh
// GetRenderProcessHandler() and returns 0.
void SetRendererRole(RoleRunner runner);

// Installs the role for any other --type value; an empty runner restores the
// default shell, which returns 0.
void SetProcessRole(const std::string& type, RoleRunner runner);

// One AddCustomScheme call as the registrar saw it.
struct SchemeRegistration {
  std::string name;  // as passed, UTF-8
  int options = 0;
  bool accepted = false;
};

// What the latest CefExecuteProcess call did.
struct ProcessRecord {
  int result = 0;
  std::string type;
  std::vector<std::string> hooks;  // CEF calls into the application, in order
  std::vector<SchemeRegistration> schemes;
  std::vector<std::string> argvAfterCommandLineHook;  // the global command line
};

const ProcessRecord& LastProcess();

// Notes a CEF call into the application in LastProcess().hooks (and the
// trace); roles record the events they drive with it.
void RecordHook(const std::string& hook);

// Sets up the process-global command line the way CefExecuteProcess does,
// for tests that call hooks directly. argv[0] is the program.
void InitGlobalCommandLine(int argc, const char* const* argv);
// Back to the state before any CefExecuteProcess: no global command line,
// an empty record. Installed roles stay.
void ResetProcessState();

// Trace lines ("cefsim: ...") describing each hook call go to `sink`; with
// no sink they go to stderr when the environment has CEFSIM_TRACE=1.
void SetTraceSink(std::function<void(const std::string& line)> sink);
void Trace(const std::string& line);

}  // namespace cefsim
