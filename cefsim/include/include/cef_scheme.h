#pragma once

#include "include/cef_base.h"

// Registers custom schemes; valid only during OnRegisterCustomSchemes.
class CefSchemeRegistrar : public CefBaseScoped {
 public:
  virtual bool AddCustomScheme(const CefString& scheme_name, int options) = 0;
};
