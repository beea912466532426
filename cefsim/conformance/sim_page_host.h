#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "cefsim/renderer_harness.h"
#include "conformance/browser_events.h"
#include "conformance/events_client.h"
#include "conformance/page_host.h"
#include "include/cef_client.h"

namespace conformance {

// The client of every simulated browser: forwards what the runner follows.
class SimClient : public EventsClient {
 public:
  SimClient() = default;

 private:
  IMPLEMENT_REFCOUNTING(SimClient);
};

// PageHost on cefsim: the program's renderer hooks in a renderer harness,
// cefsim's browser side as the browser process, and its UI tasks on the
// simulated clock, which moves only when nothing else is left to do.
class SimPageHost : public PageHost {
 public:
  explicit SimPageHost(CefRefPtr<CefApp> application);
  SimPageHost(const SimPageHost&) = delete;
  SimPageHost& operator=(const SimPageHost&) = delete;

  void SetEvents(BrowserEvents* browserEvents) {
    client->SetEvents(browserEvents);
  }
  // Page script errors go here.
  void SetLog(std::function<void(const std::string&)> logSink) {
    log = std::move(logSink);
  }
  // Runs messages, tasks and timers until `finished` holds (true) or
  // nothing is left to run (false).
  bool Run(const std::function<bool()>& finished);

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
  std::string Description() const override;

 private:
  void RunPageScript(const std::string& frameId,
                     const std::string& pageName,
                     const std::string& script);

  cefsim::RendererHarness harness;
  CefRefPtr<SimClient> client;
  std::function<void(const std::string&)> log;
};

}  // namespace conformance
