#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cefsim/renderer_harness.h"
#include "conformance/browser_events.h"
#include "conformance/page_host.h"

namespace conformance {

class SimBrowserFrame;

// PageHost on cefsim: the program's renderer in a renderer harness, and a
// browser side that delivers messages one task at a time, with delayed
// tasks on a simulated clock that moves only when nothing else is left.
class SimPageHost : public PageHost {
 public:
  explicit SimPageHost(CefRefPtr<CefApp> application);
  ~SimPageHost() override;
  SimPageHost(const SimPageHost&) = delete;
  SimPageHost& operator=(const SimPageHost&) = delete;

  void SetEvents(BrowserEvents* browserEvents) { events = browserEvents; }
  // Page script errors and similar go here.
  void SetLog(std::function<void(const std::string&)> logSink) {
    log = std::move(logSink);
  }
  // Runs tasks, messages and timers until `finished` holds (true) or
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

  // Used by the browser-side frames.
  void Post(std::function<void()> task) { tasks.push_back(std::move(task)); }
  cefsim::RendererHarness& Harness() { return harness; }

 private:
  CefRefPtr<SimBrowserFrame> FrameFor(const std::string& frameId);
  void RunPageScript(const std::string& frameId,
                     const std::string& pageName,
                     const std::string& script);
  bool DeliverRendererMessages();

  cefsim::RendererHarness harness;
  BrowserEvents* events = nullptr;
  std::function<void(const std::string&)> log;
  std::deque<std::function<void()>> tasks;
  struct Delayed {
    int64_t due = 0;
    uint64_t order = 0;
    std::function<void()> task;
  };
  std::vector<Delayed> delayed;
  uint64_t nextOrder = 0;
  int64_t nowMs = 0;
  size_t seen = 0;
  std::map<std::string, CefRefPtr<SimBrowserFrame>> frames;
};

}  // namespace conformance
