#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "conformance/browser_events.h"
#include "conformance/events_client.h"
#include "conformance/page_host.h"
#include "include/cef_app.h"
#include "include/cef_client.h"
#include "include/cef_render_handler.h"
#include "include/cef_scheme.h"

namespace conformance {

// Serves the scenario pages and data from memory for cef:// and vdfs://.
// Pages are added on the UI thread and read on the IO thread.
class PageServer : public CefSchemeHandlerFactory {
 public:
  PageServer() = default;
  PageServer(const PageServer&) = delete;
  PageServer& operator=(const PageServer&) = delete;

  void Add(const std::string& url,
           const std::string& mimeType,
           const std::string& body);

  // CefSchemeHandlerFactory methods:
  CefRefPtr<CefResourceHandler> Create(CefRefPtr<CefBrowser> browser,
                                       CefRefPtr<CefFrame> frame,
                                       const CefString& scheme_name,
                                       CefRefPtr<CefRequest> request) override;

 private:
  struct Resource {
    std::string mimeType;
    std::string body;
  };
  std::mutex lock;
  std::map<std::string, Resource> resources;

  IMPLEMENT_REFCOUNTING(PageServer);
};

// The client of every conformance browser: windowless rendering into
// nothing, and the events the runner follows.
class ConformanceClient : public EventsClient,
                          public CefRenderHandler,
                          public CefLifeSpanHandler {
 public:
  ConformanceClient() = default;
  ConformanceClient(const ConformanceClient&) = delete;
  ConformanceClient& operator=(const ConformanceClient&) = delete;

  // Closes every browser; `closed` runs after the last OnBeforeClose.
  void CloseAll(std::function<void()> closed);
  // Lets go of browsers that never closed; before CefShutdown, which must
  // not outlive references to CEF's objects.
  void DropBrowsers() { browsers.clear(); }

  // CefClient methods:
  CefRefPtr<CefRenderHandler> GetRenderHandler() override { return this; }
  CefRefPtr<CefLifeSpanHandler> GetLifeSpanHandler() override { return this; }

  // CefRenderHandler methods:
  void GetViewRect(CefRefPtr<CefBrowser> browser, CefRect& rect) override;
  void OnPaint(CefRefPtr<CefBrowser> /*browser*/,
               PaintElementType /*type*/,
               const RectList& /*dirtyRects*/,
               const void* /*buffer*/,
               int /*width*/,
               int /*height*/) override {}

  // CefLifeSpanHandler methods:
  void OnAfterCreated(CefRefPtr<CefBrowser> browser) override;
  void OnBeforeClose(CefRefPtr<CefBrowser> browser) override;

 private:
  std::vector<CefRefPtr<CefBrowser>> browsers;
  std::function<void()> onAllClosed;
  bool closing = false;

  IMPLEMENT_REFCOUNTING(ConformanceClient);
};

// PageHost on a real CEF: windowless browsers on pages served from memory.
class RealCefHost : public PageHost {
 public:
  RealCefHost(CefRefPtr<ConformanceClient> browserClient,
              CefRefPtr<PageServer> pageServer,
              std::string description);

  // Registers the page server for both schemes; after CefInitialize.
  void RegisterSchemeHandlers();

  // PageHost methods:
  void OpenPage(const std::string& pageName,
                const std::string& script) override;
  void AddFrame(CefRefPtr<CefFrame> parent,
                const std::string& pageName,
                const std::string& script) override;
  void Navigate(CefRefPtr<CefFrame> frame,
                const std::string& pageName,
                const std::string& script) override;
  void Focus(CefRefPtr<CefFrame> frame, bool element) override;
  void PostDelayed(std::function<void()> task, int64_t delayMs) override;
  bool CanFetchCustomSchemes(std::string& whyNot) const override;
  bool CanCheckAudio(std::string& whyNot) const override;
  bool RunningProcessImage(uint32_t processId,
                           std::string& image) const override;
  bool AudioSessionVolumes(uint32_t processId,
                           std::vector<float>& volumes,
                           std::string& error) const override;
  std::string Description() const override { return description; }

 private:
  std::string AddPage(const std::string& pageName, const std::string& script);

  CefRefPtr<ConformanceClient> client;
  CefRefPtr<PageServer> server;
  std::string description;
};

}  // namespace conformance
