#include <algorithm>
#include <array>
#include <string_view>

#include "cefsim/fatal.h"
#include "command_line_internal.h"
#include "scheme_registrar_internal.h"

namespace cefsim {
namespace {

// Schemes Chromium handles itself. CEF quirk: "ftp" is not among them,
// although CEF's header says not to register it.
constexpr std::array<std::string_view, 14> kInternalSchemes = {
    "about",
    "blob",
    "chrome",
    "chrome-untrusted",
    "chrome-extension",
    "data",
    "devtools",
    "file",
    "filesystem",
    "http",
    "https",
    "javascript",
    "ws",
    "wss"};

bool Accepts(const std::vector<std::string>& accepted,
             const std::string& name) {
  if (std::find(kInternalSchemes.begin(), kInternalSchemes.end(), name) !=
      kInternalSchemes.end()) {
    return false;
  }
  return std::find(accepted.begin(), accepted.end(), name) == accepted.end();
}

}  // namespace

// CEF quirk: the name is lower-cased (ASCII only) and never checked for
// syntax; a case-insensitive duplicate in the same call is refused.
bool SchemeRegistrarImpl::AddCustomScheme(const CefString& scheme_name,
                                          int options) {
  if (!open) {
    Fatal(
        "the CefSchemeRegistrar was used after OnRegisterCustomSchemes "
        "returned: CEF deletes it then, so a kept pointer dangles");
  }
  SchemeRegistration registration;
  registration.name = scheme_name.ToString();
  registration.options = options;
  // The wrapper refuses an empty name before CEF sees it.
  if (!scheme_name.empty()) {
    std::string lower = ToLowerAscii(registration.name);
    registration.accepted = Accepts(accepted, lower);
    if (registration.accepted) {
      accepted.push_back(lower);
    }
  }
  registrations.push_back(registration);
  return registration.accepted;
}

}  // namespace cefsim
