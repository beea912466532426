#pragma once

#include <cstdint>
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
#include "include/cef_display_handler.h"
#include "include/cef_life_span_handler.h"
#include "include/cef_load_handler.h"
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

// The scenario page a URL shows ("values" for cef://conformance/values.html),
// or the URL itself when it is no scenario page.
std::string ScenarioPageName(const std::string& url);

// The client of every conformance browser: windowless rendering into
// nothing, the events the runner follows, and what pages report about
// their own failures.
class ConformanceClient : public EventsClient,
                          public CefRenderHandler,
                          public CefLifeSpanHandler,
                          public CefLoadHandler,
                          public CefDisplayHandler {
 public:
  ConformanceClient() = default;
  ConformanceClient(const ConformanceClient&) = delete;
  ConformanceClient& operator=(const ConformanceClient&) = delete;

  // Closes every browser; `closed` runs after the last OnBeforeClose.
  void CloseAll(std::function<void()> closed);
  // Lets go of browsers that never closed; before CefShutdown, which must
  // not outlive references to CEF's objects.
  void DropBrowsers() { browsers.clear(); }
  // Load errors and console messages of warning level and above go here,
  // one line each, naming the scenario page.
  void SetDiagnostics(std::function<void(const std::string&)> sink) {
    diagnostics = std::move(sink);
  }
  void Diagnose(const std::string& line) {
    if (diagnostics) {
      diagnostics(line);
    }
  }

  // CefClient methods:
  CefRefPtr<CefRenderHandler> GetRenderHandler() override { return this; }
  CefRefPtr<CefLifeSpanHandler> GetLifeSpanHandler() override { return this; }
  CefRefPtr<CefLoadHandler> GetLoadHandler() override { return this; }
  CefRefPtr<CefDisplayHandler> GetDisplayHandler() override { return this; }

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

  // CefLoadHandler methods:
  void OnLoadError(CefRefPtr<CefBrowser> browser,
                   CefRefPtr<CefFrame> frame,
                   ErrorCode errorCode,
                   const CefString& errorText,
                   const CefString& failedUrl) override;

  // CefDisplayHandler methods:
  bool OnConsoleMessage(CefRefPtr<CefBrowser> browser,
                        cef_log_severity_t level,
                        const CefString& message,
                        const CefString& source,
                        int line) override;

 private:
  std::vector<CefRefPtr<CefBrowser>> browsers;
  std::function<void()> onAllClosed;
  std::function<void(const std::string&)> diagnostics;
  bool closing = false;

  IMPLEMENT_REFCOUNTING(ConformanceClient);
};

// How the audio check sees processes and their sessions; Core Audio on
// Windows.
struct AudioProbe {
  std::function<bool(uint32_t processId, std::string& image)>
      runningProcessImage;
  std::function<
      bool(uint32_t processId, std::vector<float>& volumes, std::string& error)>
      sessionVolumes;
};

// PageHost on CEF: windowless browsers on pages served from memory.
class RealCefHost : public PageHost {
 public:
  RealCefHost(CefRefPtr<ConformanceClient> browserClient,
              CefRefPtr<PageServer> pageServer,
              std::string description);

  // Without a probe the audio check does not run here.
  void SetAudioProbe(AudioProbe probe) { audio = std::move(probe); }

  // Registers the page server for both schemes; after CefInitialize. False,
  // with a diagnostic line, when CEF refused either.
  bool RegisterSchemeHandlers();

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
  AudioProbe audio;
};

}  // namespace conformance
