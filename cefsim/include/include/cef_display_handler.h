#pragma once

#include "include/cef_base.h"
#include "include/cef_browser.h"

// Display callbacks (UI thread); cefsim calls the console one only.
class CefDisplayHandler : public virtual CefBaseRefCounted {
 public:
  virtual bool OnConsoleMessage(CefRefPtr<CefBrowser> browser,
                                cef_log_severity_t level,
                                const CefString& message,
                                const CefString& source,
                                int line) {
    return false;
  }
};
