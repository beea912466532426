#include "launcher/cef_application.h"

#include "include/cef_command_line.h"
#include "include/cef_scheme.h"

namespace {

constexpr char kRemoteAllowOriginsSwitch[] = "remote-allow-origins";
// Origin of the local remote-debugging endpoint.
constexpr char kRemoteDebuggingOrigin[] = "http://127.0.0.1:9222";

constexpr int kCustomSchemeOptions = CEF_SCHEME_OPTION_STANDARD |
                                     CEF_SCHEME_OPTION_CORS_ENABLED |
                                     CEF_SCHEME_OPTION_FETCH_ENABLED;
static_assert(kCustomSchemeOptions == 81);

}  // namespace

void CefApplication::OnBeforeCommandLineProcessing(
    const CefString& /*process_type*/,
    CefRefPtr<CefCommandLine> command_line) {
  if (!command_line) {
    return;
  }
  command_line->AppendSwitchWithValue(kRemoteAllowOriginsSwitch,
                                      kRemoteDebuggingOrigin);
}

void CefApplication::OnRegisterCustomSchemes(
    CefRawPtr<CefSchemeRegistrar> registrar) {
  if (!registrar) {
    return;
  }
  // Each registration stands alone: a refused "cef" does not skip "vdfs".
  registrar->AddCustomScheme("cef", kCustomSchemeOptions);
  registrar->AddCustomScheme("vdfs", kCustomSchemeOptions);
}
