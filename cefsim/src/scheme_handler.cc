// Scheme handler factories and the loads that run through them.

#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "browser_process_internal.h"
#include "cefsim/fatal.h"
#include "command_line_internal.h"
#include "include/cef_scheme.h"

namespace cefsim {
namespace {

struct Factories {
  std::mutex lock;
  // (scheme, domain) -> factory; domain empty for "any host".
  std::map<std::pair<std::string, std::string>,
           CefRefPtr<CefSchemeHandlerFactory>>
      byKey;
};

Factories& Registered() {
  static Factories factories;
  return factories;
}

class RequestImpl : public CefRequest {
 public:
  RequestImpl(std::string requestUrl,
              std::string requestMethod,
              HeaderMap requestHeaders)
      : url(std::move(requestUrl)),
        method(std::move(requestMethod)),
        headers(std::move(requestHeaders)) {}

  bool IsReadOnly() override { return true; }
  CefString GetURL() override { return url; }
  CefString GetMethod() override { return method; }
  CefString GetHeaderByName(const CefString& name) override {
    const std::string wanted = ToLowerAscii(name.ToString());
    for (const auto& [key, value] : headers) {
      if (ToLowerAscii(key.ToString()) == wanted) {
        return value;
      }
    }
    return CefString();
  }
  void GetHeaderMap(HeaderMap& headerMap) override { headerMap = headers; }

 private:
  std::string url;
  std::string method;
  HeaderMap headers;
  IMPLEMENT_REFCOUNTING(RequestImpl);
};

class ResponseImpl : public CefResponse {
 public:
  ResponseImpl() = default;

  bool IsReadOnly() override { return false; }
  cef_errorcode_t GetError() override { return error; }
  void SetError(cef_errorcode_t value) override { error = value; }
  int GetStatus() override { return status; }
  void SetStatus(int value) override { status = value; }
  CefString GetStatusText() override { return statusText; }
  void SetStatusText(const CefString& value) override { statusText = value; }
  CefString GetMimeType() override { return mimeType; }
  void SetMimeType(const CefString& value) override { mimeType = value; }
  CefString GetCharset() override { return charset; }
  void SetCharset(const CefString& value) override { charset = value; }
  CefString GetHeaderByName(const CefString& name) override {
    const std::string wanted = ToLowerAscii(name.ToString());
    for (const auto& [key, value] : headers) {
      if (ToLowerAscii(key.ToString()) == wanted) {
        return value;
      }
    }
    return CefString();
  }
  void SetHeaderByName(const CefString& name,
                       const CefString& value,
                       bool overwrite) override {
    const std::string wanted = ToLowerAscii(name.ToString());
    for (auto it = headers.begin(); it != headers.end(); ++it) {
      if (ToLowerAscii(it->first.ToString()) == wanted) {
        if (!overwrite) {
          return;
        }
        it->second = value;
        return;
      }
    }
    headers.insert(std::make_pair(name, value));
  }
  void GetHeaderMap(HeaderMap& headerMap) override { headerMap = headers; }
  void SetHeaderMap(const HeaderMap& headerMap) override {
    headers = headerMap;
  }
  CefString GetURL() override { return url; }
  void SetURL(const CefString& value) override { url = value; }

 private:
  cef_errorcode_t error = ERR_NONE;
  int status = 0;
  CefString statusText;
  CefString mimeType;
  CefString charset;
  HeaderMap headers;
  CefString url;
  IMPLEMENT_REFCOUNTING(ResponseImpl);
};

// Callbacks for handlers that would answer later: cefsim loads in one go.
class DeferredCallback : public CefCallback,
                         public CefResourceReadCallback,
                         public CefResourceSkipCallback {
 public:
  DeferredCallback() = default;
  void Continue() override { Deferred(); }
  void Cancel() override { Deferred(); }
  void Continue(int /*bytes_read*/) override { Deferred(); }
  void Continue(int64_t /*bytes_skipped*/) override { Deferred(); }

 private:
  [[noreturn]] static void Deferred() {
    Fatal("a resource handler answering through its callback is not simulated");
  }
  IMPLEMENT_REFCOUNTING(DeferredCallback);
};

// "host" of "scheme://host/path" (after any user info, before any port).
std::string HostOf(const std::string& url) {
  const size_t start = url.find("://");
  if (start == std::string::npos) {
    return std::string();
  }
  std::string rest = url.substr(start + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  const size_t at = rest.rfind('@');
  if (at != std::string::npos) {
    rest = rest.substr(at + 1);
  }
  return ToLowerAscii(rest.substr(0, rest.find(':')));
}

bool IsStandard(const std::string& scheme) {
  return scheme == "http" || scheme == "https" ||
         BrowserSchemeHas(scheme, CEF_SCHEME_OPTION_STANDARD);
}

CefRefPtr<CefSchemeHandlerFactory> FactoryFor(const std::string& url) {
  const std::string scheme = SchemeOf(url);
  Factories& factories = Registered();
  std::lock_guard<std::mutex> guard(factories.lock);
  // Domains only narrow standard schemes; others ignore them.
  if (IsStandard(scheme)) {
    auto exact = factories.byKey.find({scheme, HostOf(url)});
    if (exact != factories.byKey.end()) {
      return exact->second;
    }
  }
  auto any = factories.byKey.find({scheme, std::string()});
  return any != factories.byKey.end() ? any->second : nullptr;
}

}  // namespace

LoadedResource LoadResource(CefRefPtr<CefBrowser> browser,
                            CefRefPtr<CefFrame> frame,
                            const std::string& url,
                            const std::string& method,
                            const CefRequest::HeaderMap& headers) {
  LoadedResource result;
  const std::string scheme = SchemeOf(url);
  CefRefPtr<CefSchemeHandlerFactory> factory = FactoryFor(url);
  if (!factory) {
    if (scheme == "http" || scheme == "https" || scheme == "file") {
      Fatal("cefsim has no network: a load of " + url +
            " needs a scheme handler factory");
    }
    result.error = ERR_UNKNOWN_URL_SCHEME;
    return result;
  }
  CefRefPtr<CefRequest> request = new RequestImpl(url, method, headers);
  CefRefPtr<CefResourceHandler> handler =
      factory->Create(browser, frame, scheme, request);
  if (!handler) {
    // No handler: the request goes on to the network, which has no such
    // scheme.
    result.error = ERR_UNKNOWN_URL_SCHEME;
    return result;
  }
  CefRefPtr<DeferredCallback> callback = new DeferredCallback();
  bool handleRequest = false;
  const bool opened = handler->Open(request, handleRequest, callback.get());
  if (!handleRequest) {
    if (opened) {
      Fatal(
          "a resource handler that decides later (Open with "
          "handle_request=false) is not simulated");
    }
    // The deprecated path.
    if (!handler->ProcessRequest(request, callback.get())) {
      handler->Cancel();
      result.error = ERR_ABORTED;
      return result;
    }
    Fatal("the deprecated ProcessRequest path is not simulated");
  }
  if (!opened) {
    handler->Cancel();
    result.error = ERR_ABORTED;
    return result;
  }
  CefRefPtr<CefResponse> response = new ResponseImpl();
  int64_t length = -1;
  CefString redirect;
  handler->GetResponseHeaders(response, length, redirect);
  if (!redirect.empty()) {
    Fatal("redirects from resource handlers are not simulated");
  }
  if (response->GetError() != ERR_NONE) {
    handler->Cancel();
    result.error = response->GetError();
    return result;
  }
  result.status = response->GetStatus();
  result.statusText = response->GetStatusText().ToString();
  result.mimeType = response->GetMimeType().ToString();
  CefResponse::HeaderMap responseHeaders;
  response->GetHeaderMap(responseHeaders);
  for (const auto& [key, value] : responseHeaders) {
    result.headers.insert(std::make_pair(key.ToString(), value.ToString()));
  }
  char buffer[32 * 1024];
  for (;;) {
    if (length >= 0 && static_cast<int64_t>(result.body.size()) >= length) {
      break;
    }
    int bytesRead = 0;
    const bool more = handler->Read(buffer, static_cast<int>(sizeof(buffer)),
                                    bytesRead, callback.get());
    if (more && bytesRead == 0) {
      Fatal(
          "a resource handler reading later (Read returning true with no "
          "bytes) is not simulated");
    }
    if (!more) {
      if (bytesRead == -1) {
        Fatal("the deprecated ReadResponse path is not simulated");
      }
      if (bytesRead < 0) {
        handler->Cancel();
        result.error = static_cast<cef_errorcode_t>(bytesRead);
        return result;
      }
      break;
    }
    result.body.append(buffer, static_cast<size_t>(bytesRead));
  }
  if (length >= 0 && static_cast<int64_t>(result.body.size()) > length) {
    result.body.resize(static_cast<size_t>(length));
  }
  return result;
}

void ClearSchemeHandlerFactories() {
  Factories& factories = Registered();
  std::lock_guard<std::mutex> guard(factories.lock);
  factories.byKey.clear();
}

}  // namespace cefsim

bool CefRegisterSchemeHandlerFactory(
    const CefString& scheme_name,
    const CefString& domain_name,
    CefRefPtr<CefSchemeHandlerFactory> factory) {
  using namespace cefsim;
  // Refused (a DCHECK in debug) outside a running browser process.
  if (!BrowserProcessRunning()) {
    return false;
  }
  const std::string scheme = ToLowerAscii(scheme_name.ToString());
  const std::string domain =
      IsStandard(scheme) ? ToLowerAscii(domain_name.ToString()) : std::string();
  Factories& factories = Registered();
  std::lock_guard<std::mutex> guard(factories.lock);
  if (factory) {
    factories.byKey[{scheme, domain}] = factory;
  } else {
    factories.byKey.erase({scheme, domain});
  }
  return true;
}

bool CefClearSchemeHandlerFactories() {
  if (!cefsim::BrowserProcessRunning()) {
    return false;
  }
  cefsim::ClearSchemeHandlerFactories();
  return true;
}

CefRefPtr<CefResponse> CefResponse::Create() {
  return new cefsim::ResponseImpl();
}
