// cefsim's V8 heap against CEF's handle rules: a value wrapper holds a
// strong handle, so a held promise keeps its object and, through it, the
// whole context of a page that has navigated away; once nothing holds the
// page, V8 collects it.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cefsim/hook_recorder.h"
#include "cefsim/renderer_harness.h"
#include "cefsim/v8_heap.h"
#include "include/cef_v8.h"

namespace {

// Each page holds this much in a global, so that a page kept alive shows.
constexpr size_t kBallastBytes = 40'000 * sizeof(double);
constexpr char kBallastPage[] =
    "globalThis.ballast = Array.from({length: 40000}, (_, i) => i + 0.5);";

TEST(CefsimV8Heap, AHeldPromiseKeepsItsReleasedPageAlive) {
  CefRefPtr<cefsim::HookRecorder> application = new cefsim::HookRecorder();
  cefsim::RendererHarness harness(application);
  const std::string frame = harness.OpenBrowser().frameIds[0];
  // A new document whose completion value is a promise that never settles.
  auto loadPage = [&] {
    harness.Navigate(frame, "https://page.test/");
    cefsim::ScriptOutcome outcome = harness.RunScript(
        frame, std::string(kBallastPage) + "new Promise(() => {});");
    EXPECT_TRUE(outcome.ok) << outcome.exception;
    return outcome.value;
  };

  loadPage();
  const size_t start = cefsim::UsedHeapAfterFullGc();
  std::vector<CefRefPtr<CefV8Value>> held;
  for (int i = 0; i < 20; ++i) {
    held.push_back(loadPage());
  }
  harness.Navigate(frame, "https://page.test/last");
  const size_t holding = cefsim::UsedHeapAfterFullGc();
  for (const CefRefPtr<CefV8Value>& promise : held) {
    EXPECT_TRUE(promise->IsPromise());
    EXPECT_FALSE(promise->IsValid());
  }
  EXPECT_GT(holding, start + 20 * kBallastBytes);

  held.clear();
  const size_t released = cefsim::UsedHeapAfterFullGc();
  EXPECT_LT(released, start + kBallastBytes);
}

}  // namespace
