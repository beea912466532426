#include "conformance/real_cef_host.h"

#include <utility>

#include "conformance/page_scripts.h"
#include "include/cef_stream.h"
#include "include/cef_task.h"
#include "include/wrapper/cef_stream_resource_handler.h"

namespace conformance {
namespace {

// The address without query or fragment, as the page server keys it.
std::string ResourceKey(const std::string& url) {
  return url.substr(0, url.find_first_of("?#"));
}

CefRefPtr<CefResourceHandler> Respond(int status,
                                      const std::string& statusText,
                                      const std::string& mimeType,
                                      const std::string& body) {
  CefResponse::HeaderMap headers;
  // The pages fetch vdfs:// data cross-origin; CEF checks CORS on handler
  // responses itself.
  headers.insert(std::make_pair("Access-Control-Allow-Origin", "*"));
  headers.insert(std::make_pair("Cache-Control", "no-store"));
  // CreateForData copies the bytes but gives no stream for zero of them,
  // and the handler needs one: an empty body goes out as one newline.
  std::string bytes = body.empty() ? std::string("\n") : body;
  CefRefPtr<CefStreamReader> stream =
      CefStreamReader::CreateForData(bytes.data(), bytes.size());
  return new CefStreamResourceHandler(status, statusText, mimeType, headers,
                                      stream);
}

}  // namespace

std::string ScenarioPageName(const std::string& url) {
  const std::string prefix = PageHost::PageUrl("");
  const std::string suffix = ".html";
  const std::string key = ResourceKey(url);
  if (key.rfind(prefix.substr(0, prefix.size() - suffix.size()), 0) != 0 ||
      key.size() < prefix.size() ||
      key.compare(key.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return url;
  }
  const size_t start = prefix.size() - suffix.size();
  return key.substr(start, key.size() - start - suffix.size());
}

void PageServer::Add(const std::string& url,
                     const std::string& mimeType,
                     const std::string& body) {
  std::lock_guard<std::mutex> guard(lock);
  resources[ResourceKey(url)] = Resource{mimeType, body};
}

CefRefPtr<CefResourceHandler> PageServer::Create(
    CefRefPtr<CefBrowser> /*browser*/,
    CefRefPtr<CefFrame> /*frame*/,
    const CefString& /*scheme_name*/,
    CefRefPtr<CefRequest> request) {
  const std::string key = ResourceKey(request->GetURL().ToString());
  std::lock_guard<std::mutex> guard(lock);
  auto found = resources.find(key);
  if (found == resources.end()) {
    return Respond(404, "Not Found", "text/plain", "no such resource");
  }
  return Respond(200, "OK", found->second.mimeType, found->second.body);
}

void ConformanceClient::CloseAll(std::function<void()> closed) {
  onAllClosed = std::move(closed);
  closing = true;
  if (browsers.empty()) {
    std::function<void()> done = std::move(onAllClosed);
    if (done) {
      done();
    }
    return;
  }
  // A copy: OnBeforeClose may run inside CloseBrowser for windowless ones.
  std::vector<CefRefPtr<CefBrowser>> open = browsers;
  for (CefRefPtr<CefBrowser>& browser : open) {
    browser->GetHost()->CloseBrowser(true);
  }
}

void ConformanceClient::GetViewRect(CefRefPtr<CefBrowser> /*browser*/,
                                    CefRect& rect) {
  // An empty view crashes the browser process (CHECK in CEF).
  rect = CefRect(0, 0, 800, 600);
}

void ConformanceClient::OnAfterCreated(CefRefPtr<CefBrowser> browser) {
  browsers.push_back(browser);
}

void ConformanceClient::OnBeforeClose(CefRefPtr<CefBrowser> browser) {
  for (auto it = browsers.begin(); it != browsers.end(); ++it) {
    if ((*it)->IsSame(browser)) {
      browsers.erase(it);
      break;
    }
  }
  if (closing && browsers.empty() && onAllClosed) {
    std::function<void()> done = std::move(onAllClosed);
    done();
  }
}

void ConformanceClient::OnLoadError(CefRefPtr<CefBrowser> /*browser*/,
                                    CefRefPtr<CefFrame> /*frame*/,
                                    ErrorCode errorCode,
                                    const CefString& errorText,
                                    const CefString& failedUrl) {
  const std::string url = failedUrl.ToString();
  Diagnose("page " + ScenarioPageName(url) + ": load of " + url +
           " failed: " + errorText.ToString() + " (" +
           std::to_string(static_cast<int>(errorCode)) + ")");
}

bool ConformanceClient::OnConsoleMessage(CefRefPtr<CefBrowser> /*browser*/,
                                         cef_log_severity_t level,
                                         const CefString& message,
                                         const CefString& source,
                                         int line) {
  if (level >= LOGSEVERITY_WARNING) {
    const std::string url = source.ToString();
    Diagnose("page " + ScenarioPageName(url) + ": console " +
             (level >= LOGSEVERITY_ERROR ? "error" : "warning") + ": " +
             message.ToString() + " (" + url + ":" + std::to_string(line) +
             ")");
  }
  // CEF still writes it to its log.
  return false;
}

RealCefHost::RealCefHost(CefRefPtr<ConformanceClient> browserClient,
                         CefRefPtr<PageServer> pageServer,
                         std::string backendDescription)
    : client(std::move(browserClient)),
      server(std::move(pageServer)),
      description(std::move(backendDescription)) {}

bool RealCefHost::RegisterSchemeHandlers() {
  server->Add(PageScripts::kDataUrl, "application/json",
              PageScripts::kDataJson);
  bool registered = true;
  for (const char* scheme : {"cef", "vdfs"}) {
    if (!CefRegisterSchemeHandlerFactory(scheme, "", server)) {
      client->Diagnose(std::string("CefRegisterSchemeHandlerFactory(\"") +
                       scheme + "\") failed: its pages cannot load");
      registered = false;
    }
  }
  return registered;
}

std::string RealCefHost::AddPage(const std::string& pageName,
                                 const std::string& script) {
  const std::string url = PageUrl(pageName);
  server->Add(url, "text/html", PageScripts::Html(pageName, script));
  return url;
}

void RealCefHost::OpenPage(const std::string& pageName,
                           const std::string& script) {
  const std::string url = AddPage(pageName, script);
  CefWindowInfo windowInfo;
  windowInfo.SetAsWindowless(kNullWindowHandle);
  CefBrowserSettings settings;
  settings.windowless_frame_rate = 10;
  if (!CefBrowserHost::CreateBrowser(windowInfo, client, url, settings, nullptr,
                                     nullptr)) {
    client->Diagnose("page " + pageName +
                     ": CefBrowserHost::CreateBrowser failed");
  }
}

void RealCefHost::AddFrame(CefRefPtr<CefFrame> parent,
                           const std::string& pageName,
                           const std::string& script) {
  const std::string url = AddPage(pageName, script);
  parent->ExecuteJavaScript(
      "(() => { const frame = document.createElement('iframe');"
      " frame.src = '" +
          url + "'; document.body.appendChild(frame); })();",
      parent->GetURL(), 0);
}

void RealCefHost::Navigate(CefRefPtr<CefFrame> frame,
                           const std::string& pageName,
                           const std::string& script) {
  frame->LoadURL(AddPage(pageName, script));
}

void RealCefHost::Focus(CefRefPtr<CefFrame> frame, bool element) {
  // Script focus() reports without host focus too; with it the DOM focus
  // events fire as well.
  frame->GetBrowser()->GetHost()->SetFocus(true);
  frame->ExecuteJavaScript(
      std::string("document.getElementById('conformance-input').") +
          (element ? "focus();" : "blur();"),
      frame->GetURL(), 0);
}

void RealCefHost::PostDelayed(std::function<void()> task, int64_t delayMs) {
  CefPostDelayedTask(TID_UI, new FunctionTask(std::move(task)), delayMs);
}

bool RealCefHost::CanFetchCustomSchemes(std::string& /*whyNot*/) const {
  return true;
}

bool RealCefHost::CanCheckAudio(std::string& whyNot) const {
  if (!audio.runningProcessImage || !audio.sessionVolumes) {
    whyNot = "no way to read audio sessions on this backend";
    return false;
  }
  return true;
}

bool RealCefHost::RunningProcessImage(uint32_t processId,
                                      std::string& image) const {
  return audio.runningProcessImage &&
         audio.runningProcessImage(processId, image);
}

bool RealCefHost::AudioSessionVolumes(uint32_t processId,
                                      std::vector<float>& volumes,
                                      std::string& error) const {
  if (!audio.sessionVolumes) {
    error = "no audio on this backend";
    return false;
  }
  return audio.sessionVolumes(processId, volumes, error);
}

}  // namespace conformance
