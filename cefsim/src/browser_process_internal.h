#pragma once

#include <map>
#include <string>
#include <vector>

#include "include/cef_browser.h"
#include "include/cef_frame.h"
#include "include/cef_request.h"

// Shared between the browser process and its resource loading.
namespace cefsim {

// A response as the network service hands it to the page.
struct LoadedResource {
  // net error; ERR_NONE when a response came.
  cef_errorcode_t error = ERR_NONE;
  int status = 0;
  std::string statusText;
  std::string mimeType;
  std::multimap<std::string, std::string> headers;
  std::string body;
};

// Runs the scheme handler factory registered for `url`'s scheme (and host,
// for standard schemes) to completion; ERR_UNKNOWN_URL_SCHEME without one.
LoadedResource LoadResource(CefRefPtr<CefBrowser> browser,
                            CefRefPtr<CefFrame> frame,
                            const std::string& url,
                            const std::string& method,
                            const CefRequest::HeaderMap& headers = {});

// Whether the browser process registered `scheme` with `option`
// (CEF_SCHEME_OPTION_*) in its OnRegisterCustomSchemes.
bool BrowserSchemeHas(const std::string& scheme, int option);

// Drops every factory (CefShutdown, CefClearSchemeHandlerFactories).
void ClearSchemeHandlerFactories();

// Writes one line to the browser process's log at `severity`.
void BrowserLog(cef_log_severity_t severity, const std::string& line);

// Whether CefInitialize succeeded and CefShutdown has not run.
bool BrowserProcessRunning();

// "scheme" of "scheme://rest", lower-cased; empty for none.
std::string SchemeOf(const std::string& url);

}  // namespace cefsim
