#include "conformance/real_cef_host_win.h"

#include <utility>

#include "conformance/audio_probe_win.h"
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
  // CreateForData copies the bytes; an empty body still needs a pointer.
  static const char kNothing = 0;
  CefRefPtr<CefStreamReader> stream = CefStreamReader::CreateForData(
      body.empty() ? const_cast<char*>(&kNothing)
                   : const_cast<char*>(body.data()),
      body.size());
  return new CefStreamResourceHandler(status, statusText, mimeType, headers,
                                      stream);
}

}  // namespace

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

RealCefHost::RealCefHost(CefRefPtr<ConformanceClient> browserClient,
                         CefRefPtr<PageServer> pageServer,
                         std::string backendDescription)
    : client(std::move(browserClient)),
      server(std::move(pageServer)),
      description(std::move(backendDescription)) {}

void RealCefHost::RegisterSchemeHandlers() {
  server->Add(PageScripts::kDataUrl, "application/json",
              PageScripts::kDataJson);
  CefRegisterSchemeHandlerFactory("cef", "", server);
  CefRegisterSchemeHandlerFactory("vdfs", "", server);
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
  windowInfo.SetAsWindowless(nullptr);
  CefBrowserSettings settings;
  settings.windowless_frame_rate = 10;
  CefBrowserHost::CreateBrowser(windowInfo, client, url, settings, nullptr,
                                nullptr);
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

bool RealCefHost::CanCheckAudio(std::string& /*whyNot*/) const {
  return true;
}

bool RealCefHost::RunningProcessImage(uint32_t processId,
                                      std::string& image) const {
  return conformance::RunningProcessImage(processId, image);
}

bool RealCefHost::AudioSessionVolumes(uint32_t processId,
                                      std::vector<float>& volumes,
                                      std::string& error) const {
  return conformance::AudioSessionVolumes(processId, volumes, error);
}

}  // namespace conformance
