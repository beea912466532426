#pragma once

#include "include/cef_base.h"
#include "include/cef_browser.h"

// The subset of CEF's browser request handler that cefsim's browser side
// calls, UI thread.
class CefRequestHandler : public virtual CefBaseRefCounted {
 public:
  typedef cef_termination_status_t TerminationStatus;

  virtual void OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser,
                                         TerminationStatus status,
                                         int error_code,
                                         const CefString& error_string) {}
};
