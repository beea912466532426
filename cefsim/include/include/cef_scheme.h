#pragma once

#include "include/cef_base.h"
#include "include/cef_request.h"
#include "include/cef_resource_handler.h"

class CefBrowser;
class CefFrame;

// Registers custom schemes; valid only during OnRegisterCustomSchemes.
class CefSchemeRegistrar : public CefBaseScoped {
 public:
  virtual bool AddCustomScheme(const CefString& scheme_name, int options) = 0;
};

// Makes resource handlers for one scheme (IO thread).
class CefSchemeHandlerFactory : public virtual CefBaseRefCounted {
 public:
  virtual CefRefPtr<CefResourceHandler> Create(
      CefRefPtr<CefBrowser> browser,
      CefRefPtr<CefFrame> frame,
      const CefString& scheme_name,
      CefRefPtr<CefRequest> request) = 0;
};

// Browser process only, after CefInitialize. For a standard scheme a
// non-empty `domain_name` limits the factory to that host.
bool CefRegisterSchemeHandlerFactory(
    const CefString& scheme_name,
    const CefString& domain_name,
    CefRefPtr<CefSchemeHandlerFactory> factory);
bool CefClearSchemeHandlerFactories();
