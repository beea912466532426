#include "conformance/sim_page_host.h"

#include <algorithm>
#include <utility>

#include "cefsim/transit.h"
#include "conformance/page_scripts.h"

namespace conformance {

// The browser's view of one simulated frame: sends go to the renderer as a
// later task, as over CEF's channel.
class SimBrowserFrame : public CefFrame {
 public:
  SimBrowserFrame(SimPageHost& pageHost, std::string frameId)
      : host(pageHost), id(std::move(frameId)) {}
  SimBrowserFrame(const SimBrowserFrame&) = delete;
  SimBrowserFrame& operator=(const SimBrowserFrame&) = delete;

  void SetUrl(const std::string& address) { url = address; }

  // CefFrame methods:
  bool IsValid() override { return true; }
  void Undo() override {}
  void Redo() override {}
  void Cut() override {}
  void Copy() override {}
  void Paste() override {}
  void Delete() override {}
  void SelectAll() override {}
  void ViewSource() override {}
  void GetSource(CefRefPtr<CefStringVisitor>) override {}
  void GetText(CefRefPtr<CefStringVisitor>) override {}
  void LoadRequest(CefRefPtr<CefRequest>) override {}
  void LoadURL(const CefString&) override {}
  void ExecuteJavaScript(const CefString&, const CefString&, int) override {}
  bool IsMain() override { return false; }
  bool IsFocused() override { return false; }
  CefString GetName() override { return CefString(); }
  CefString GetIdentifier() override { return id; }
  CefRefPtr<CefFrame> GetParent() override { return nullptr; }
  CefString GetURL() override { return url; }
  CefRefPtr<CefBrowser> GetBrowser() override { return nullptr; }
  CefRefPtr<CefV8Context> GetV8Context() override { return nullptr; }
  void VisitDOM(CefRefPtr<CefDOMVisitor>) override {}
  CefRefPtr<CefURLRequest> CreateURLRequest(
      CefRefPtr<CefRequest>,
      CefRefPtr<CefURLRequestClient>) override {
    return nullptr;
  }
  void SendProcessMessage(CefProcessId,
                          CefRefPtr<CefProcessMessage> message) override {
    // CEF takes the arguments at the call and delivers later.
    std::optional<cefsim::WireMessage> wire = cefsim::TakeForSending(message);
    if (!wire) {
      return;
    }
    SimPageHost* pageHost = &host;
    const std::string frameId = id;
    host.Post([pageHost, frameId, wire] {
      pageHost->Harness().renderer().DeliverMessage(frameId, *wire);
    });
  }

 private:
  SimPageHost& host;
  std::string id;
  std::string url;

  IMPLEMENT_REFCOUNTING(SimBrowserFrame);
};

SimPageHost::SimPageHost(CefRefPtr<CefApp> application)
    : harness(std::move(application)) {}

SimPageHost::~SimPageHost() = default;

bool SimPageHost::Run(const std::function<bool()>& finished) {
  while (!finished()) {
    if (DeliverRendererMessages()) {
      continue;
    }
    if (harness.renderer().RunPendingTasks() > 0) {
      continue;
    }
    if (!tasks.empty()) {
      std::function<void()> task = std::move(tasks.front());
      tasks.pop_front();
      task();
      continue;
    }
    if (delayed.empty()) {
      return false;
    }
    // Nothing else to do: time passes to the next delayed task.
    auto next = std::min_element(
        delayed.begin(), delayed.end(), [](const Delayed& a, const Delayed& b) {
          return a.due != b.due ? a.due < b.due : a.order < b.order;
        });
    Delayed task = std::move(*next);
    delayed.erase(next);
    nowMs = std::max(nowMs, task.due);
    task.task();
  }
  return true;
}

bool SimPageHost::DeliverRendererMessages() {
  bool delivered = false;
  while (seen < harness.SentMessages().size()) {
    const cefsim::SentMessage entry = harness.SentMessages()[seen++];
    delivered = true;
    if (events) {
      events->OnProcessMessageReceived(nullptr, FrameFor(entry.frameId),
                                       entry.message);
    }
  }
  return delivered;
}

CefRefPtr<SimBrowserFrame> SimPageHost::FrameFor(const std::string& frameId) {
  CefRefPtr<SimBrowserFrame>& frame = frames[frameId];
  if (!frame) {
    frame = new SimBrowserFrame(*this, frameId);
  }
  return frame;
}

void SimPageHost::RunPageScript(const std::string& frameId,
                                const std::string& pageName,
                                const std::string& script) {
  FrameFor(frameId)->SetUrl(PageUrl(pageName));
  Post([this, frameId, pageName, script] {
    for (const std::string& code : {PageScripts::Prelude(), script}) {
      cefsim::ScriptOutcome outcome =
          harness.RunScript(frameId, code, PageUrl(pageName));
      if (!outcome.ok && log) {
        log("page " + pageName + ": " + outcome.exception + " (line " +
            std::to_string(outcome.line) + ")");
      }
    }
  });
}

void SimPageHost::OpenPage(const std::string& pageName,
                           const std::string& script) {
  cefsim::FrameSpec spec;
  spec.url = PageUrl(pageName);
  const std::string frameId = harness.OpenBrowser({spec}).frameIds.front();
  RunPageScript(frameId, pageName, script);
}

void SimPageHost::AddFrame(CefRefPtr<CefFrame> parent,
                           const std::string& pageName,
                           const std::string& script) {
  cefsim::FrameSpec spec;
  spec.url = PageUrl(pageName);
  spec.parent = 0;
  const std::string frameId =
      harness.AddFrame(parent->GetIdentifier().ToString(), spec);
  RunPageScript(frameId, pageName, script);
}

void SimPageHost::Navigate(CefRefPtr<CefFrame> frame,
                           const std::string& pageName,
                           const std::string& script) {
  const std::string frameId = frame->GetIdentifier().ToString();
  Post([this, frameId, pageName, script] {
    harness.Navigate(frameId, PageUrl(pageName));
    RunPageScript(frameId, pageName, script);
  });
}

void SimPageHost::Focus(CefRefPtr<CefFrame> frame, bool element) {
  const std::string frameId = frame->GetIdentifier().ToString();
  Post([this, frameId, element] {
    harness.RunScript(frameId,
                      std::string("(window.conformanceInput ||= "
                                  "document.createElement('input')).") +
                          (element ? "focus();" : "blur();"));
  });
}

void SimPageHost::PostDelayed(std::function<void()> task, int64_t delayMs) {
  if (delayMs <= 0) {
    Post(std::move(task));
    return;
  }
  delayed.push_back(Delayed{nowMs + delayMs, nextOrder++, std::move(task)});
}

bool SimPageHost::CanFetchCustomSchemes(std::string& whyNot) const {
  whyNot =
      "cefsim pages have no network stack and no fetch(); the launcher's "
      "scheme registration is checked against cefsim's registrar in the "
      "unit tests";
  return false;
}

bool SimPageHost::CanCheckAudio(std::string& whyNot) const {
  whyNot =
      "the audio service is a process CEF starts; on cefsim its role is run "
      "by the demo and the audio tests";
  return false;
}

std::string SimPageHost::Description() const {
  return "cefsim (the program's renderer hooks in a simulated CEF 130 "
         "renderer, in this process)";
}

}  // namespace conformance
