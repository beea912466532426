#pragma once

#include "include/cef_base.h"
#include "include/cef_browser.h"

// Browser life-span callbacks (UI thread); popups are not simulated.
class CefLifeSpanHandler : public virtual CefBaseRefCounted {
 public:
  virtual void OnAfterCreated(CefRefPtr<CefBrowser> browser) {}
  virtual bool DoClose(CefRefPtr<CefBrowser> browser) { return false; }
  virtual void OnBeforeClose(CefRefPtr<CefBrowser> browser) {}
};
