#pragma once

#include <vector>

#include "include/cef_base.h"
#include "include/cef_frame.h"

// The browser-process side of a browser; never available in a renderer.
class CefBrowserHost : public virtual CefBaseRefCounted {};

// A browser window's renderer-side representation.
class CefBrowser : public virtual CefBaseRefCounted {
 public:
  virtual bool IsValid() = 0;
  virtual CefRefPtr<CefBrowserHost> GetHost() = 0;
  virtual bool CanGoBack() = 0;
  virtual void GoBack() = 0;
  virtual bool CanGoForward() = 0;
  virtual void GoForward() = 0;
  virtual bool IsLoading() = 0;
  virtual void Reload() = 0;
  virtual void ReloadIgnoreCache() = 0;
  virtual void StopLoad() = 0;
  virtual int GetIdentifier() = 0;
  virtual bool IsSame(CefRefPtr<CefBrowser> that) = 0;
  virtual bool IsPopup() = 0;
  virtual bool HasDocument() = 0;
  virtual CefRefPtr<CefFrame> GetMainFrame() = 0;
  virtual CefRefPtr<CefFrame> GetFocusedFrame() = 0;
  virtual CefRefPtr<CefFrame> GetFrameByIdentifier(
      const CefString& identifier) = 0;
  virtual CefRefPtr<CefFrame> GetFrameByName(const CefString& name) = 0;
  virtual size_t GetFrameCount() = 0;
  virtual void GetFrameIdentifiers(std::vector<CefString>& identifiers) = 0;
  virtual void GetFrameNames(std::vector<CefString>& names) = 0;
};
