#pragma once

#include "include/cef_app.h"

// The CEF hooks that every subprocess shares: the remote-debugging origin
// switch and the two custom URL schemes.
class CefApplication : public CefApp {
 public:
  CefApplication() = default;
  CefApplication(const CefApplication&) = delete;
  CefApplication& operator=(const CefApplication&) = delete;

  // CefApp methods:
  void OnBeforeCommandLineProcessing(
      const CefString& process_type,
      CefRefPtr<CefCommandLine> command_line) override;
  void OnRegisterCustomSchemes(
      CefRawPtr<CefSchemeRegistrar> registrar) override;

 private:
  IMPLEMENT_REFCOUNTING(CefApplication);
};
