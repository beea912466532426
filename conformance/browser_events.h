#pragma once

#include "include/cef_browser.h"
#include "include/cef_frame.h"
#include "include/cef_process_message.h"

namespace conformance {

// The browser-process events the runner follows, forwarded by whichever
// CefClient the backend uses. UI thread.
class BrowserEvents {
 public:
  virtual ~BrowserEvents() = default;

  virtual void OnProcessMessageReceived(
      CefRefPtr<CefBrowser> browser,
      CefRefPtr<CefFrame> frame,
      CefRefPtr<CefProcessMessage> message) = 0;
  virtual void OnFrameAttached(CefRefPtr<CefBrowser> browser,
                               CefRefPtr<CefFrame> frame,
                               bool reattached) = 0;
  virtual void OnFrameDetached(CefRefPtr<CefBrowser> browser,
                               CefRefPtr<CefFrame> frame) = 0;
  virtual void OnRenderProcessTerminated(
      CefRefPtr<CefBrowser> browser,
      int status) = 0;  // a cef_termination_status_t
};

}  // namespace conformance
