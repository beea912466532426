#pragma once

#include <vector>

#include "include/cef_base.h"
#include "include/cef_frame.h"
#include "include/cef_request_context.h"
#include "include/cef_values.h"
#include "include/internal/cef_types_wrappers.h"

class CefBrowser;
class CefClient;

// The browser-process side of a browser; never available in a renderer.
class CefBrowserHost : public virtual CefBaseRefCounted {
 public:
  // Asynchronous: the browser exists from OnAfterCreated on. False when
  // the request is refused at once. Windowless browsers only.
  static bool CreateBrowser(const CefWindowInfo& windowInfo,
                            CefRefPtr<CefClient> client,
                            const CefString& url,
                            const CefBrowserSettings& settings,
                            CefRefPtr<CefDictionaryValue> extra_info,
                            CefRefPtr<CefRequestContext> request_context);

  virtual CefRefPtr<CefBrowser> GetBrowser() = 0;
  virtual void CloseBrowser(bool force_close) = 0;
  virtual bool TryCloseBrowser() = 0;
  virtual void SetFocus(bool focus) = 0;
};

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
