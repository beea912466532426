#pragma once

#include <vector>

#include "cefsim/process_roles.h"
#include "include/cef_scheme.h"

namespace cefsim {

// The registrar handed to OnRegisterCustomSchemes: applies CEF's rules and
// records every call. Kept alive afterwards only to catch a kept pointer.
class SchemeRegistrarImpl : public CefSchemeRegistrar {
 public:
  SchemeRegistrarImpl() = default;
  SchemeRegistrarImpl(const SchemeRegistrarImpl&) = delete;
  SchemeRegistrarImpl& operator=(const SchemeRegistrarImpl&) = delete;

  // CefSchemeRegistrar methods:
  bool AddCustomScheme(const CefString& scheme_name, int options) override;

  // Called when OnRegisterCustomSchemes returns; later use aborts.
  void Close() { open = false; }
  const std::vector<SchemeRegistration>& Registrations() const {
    return registrations;
  }

 private:
  bool open = true;
  std::vector<std::string> accepted;  // lower-cased names
  std::vector<SchemeRegistration> registrations;
};

}  // namespace cefsim
