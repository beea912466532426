#include "cefsim/conformance/sim_page_host.h"

#include <utility>

#include "cefsim/browser_side.h"
#include "conformance/page_scripts.h"
#include "include/cef_task.h"

namespace conformance {
SimPageHost::SimPageHost(CefRefPtr<CefApp> application)
    : harness(std::move(application)), client(new SimClient()) {
  harness.SetClient(client);
}

bool SimPageHost::Run(const std::function<bool()>& finished) {
  for (;;) {
    harness.RunUntilIdle();
    if (finished()) {
      return true;
    }
    // Nothing else to do: time passes to the next UI task.
    std::optional<int64_t> due = harness.browserSide().NextTaskDue();
    if (!due) {
      return false;
    }
    harness.AdvanceTime(*due - harness.renderer().Now());
  }
}

void SimPageHost::RunPageScript(const std::string& frameId,
                                const std::string& pageName,
                                const std::string& script) {
  for (const std::string& code : {PageScripts::Prelude(), script}) {
    cefsim::ScriptOutcome outcome =
        harness.RunScript(frameId, code, PageUrl(pageName));
    if (!outcome.ok && log) {
      log("page " + pageName + ": " + outcome.exception + " (line " +
          std::to_string(outcome.line) + ")");
    }
  }
}

// Page work runs as UI tasks, as CEF's calls return before the renderer
// acts on them.
void SimPageHost::OpenPage(const std::string& pageName,
                           const std::string& script) {
  PostDelayed(
      [this, pageName, script] {
        cefsim::FrameSpec frameSpec;
        frameSpec.url = PageUrl(pageName);
        const std::string frameId =
            harness.OpenBrowser({frameSpec}).frameIds.front();
        RunPageScript(frameId, pageName, script);
      },
      0);
}

void SimPageHost::AddFrame(CefRefPtr<CefFrame> parent,
                           const std::string& pageName,
                           const std::string& script) {
  const std::string parentId = parent->GetIdentifier().ToString();
  PostDelayed(
      [this, parentId, pageName, script] {
        cefsim::FrameSpec frameSpec;
        frameSpec.url = PageUrl(pageName);
        const std::string frameId = harness.AddFrame(parentId, frameSpec);
        RunPageScript(frameId, pageName, script);
      },
      0);
}

void SimPageHost::Navigate(CefRefPtr<CefFrame> frame,
                           const std::string& pageName,
                           const std::string& script) {
  const std::string frameId = frame->GetIdentifier().ToString();
  PostDelayed(
      [this, frameId, pageName, script] {
        harness.Navigate(frameId, PageUrl(pageName));
        RunPageScript(frameId, pageName, script);
      },
      0);
}

void SimPageHost::Focus(CefRefPtr<CefFrame> frame, bool element) {
  const std::string frameId = frame->GetIdentifier().ToString();
  PostDelayed(
      [this, frameId, element] {
        // cefsim's document has no body; a created input takes focus.
        harness.RunScript(frameId,
                          std::string("(window.conformanceInput ||= "
                                      "document.createElement('input')).") +
                              (element ? "focus();" : "blur();"));
      },
      0);
}

void SimPageHost::PostDelayed(std::function<void()> task, int64_t delayMs) {
  CefPostDelayedTask(TID_UI, new FunctionTask(std::move(task)), delayMs);
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
         "renderer, cefsim's browser side, in this process)";
}

}  // namespace conformance
