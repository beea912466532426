// The bridge end to end on cefsim: a page call's round trip through the
// browser-side peer, and settling one call among a million pending ones.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <memory>
#include <string>
#include <unordered_map>

#include "bridge/v8_handler.h"
#include "cefsim/peer.h"
#include "cefsim/renderer_harness.h"
#include "launcher/cef_launcher_application.h"

namespace {

CefRefPtr<CefValue> IntValue(int value) {
  CefRefPtr<CefValue> v = CefValue::Create();
  v->SetInt(value);
  return v;
}

class BridgePage {
 public:
  BridgePage()
      : application(new CefLauncherApplication()),
        harness(std::make_unique<cefsim::RendererHarness>(application)) {
    nextCallId = 0;
    frame = harness->OpenBrowser().frameIds[0];
    harness->RunScript(frame, "var settled = 0;");
  }
  ~BridgePage() {
    harness.reset();
    nextCallId = 0;
  }

  CefRefPtr<CefLauncherApplication> application;
  std::unique_ptr<cefsim::RendererHarness> harness;
  std::string frame;
};

// Page call → Call message → peer decodes and answers → Result → promise
// settled and its reaction run.
void BM_CallRoundTrip(benchmark::State& state) {
  BridgePage page;
  page.harness->Peer().AnswerWith("f", cefsim::PeerReply::Result(IntValue(1)));
  for (auto _ : state) {
    page.harness->RunScript(
        page.frame, "squirrel.call('f', 1).then(v => { settled += v; })");
    page.harness->Peer().Pump();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CallRoundTrip)->Iterations(20000);

// Settling one call when a million are pending.
void BM_SettleOneOfAMillionPending(benchmark::State& state) {
  BridgePage page;
  page.harness->RunScript(
      page.frame,
      "for (let i = 0; i < 1000000; i++) squirrel.call('p').then(() => { "
      "settled++; });");
  // The browser side takes the calls in before the timing starts.
  page.harness->Peer().Pump();
  int32_t id = 0;
  for (auto _ : state) {
    page.harness->Peer().Reply(page.frame, id++,
                               cefsim::PeerReply::Result(IntValue(1)));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SettleOneOfAMillionPending)->Iterations(100000);

// Heap bytes per pending call held by the two tables, with the callback
// types V8Handler stores (a counted promise reference each).
void BM_PendingCallTableBytes(benchmark::State& state) {
  constexpr int32_t kCalls = 1000000;
  for (auto _ : state) {
    const size_t before = mallinfo2().uordblks;
    {
      std::unordered_map<int32_t, ResultCallback> results;
      std::unordered_map<int32_t, ErrorCallback> errors;
      CefRefPtr<CefV8Value> promise;
      for (int32_t id = 0; id < kCalls; ++id) {
        results.try_emplace(id, [promise](const CefRefPtr<CefFrame>&,
                                          CefRefPtr<CefV8Value>) {});
        errors.try_emplace(
            id, [promise](const CefRefPtr<CefFrame>&, const CefString&) {});
      }
      state.counters["bytes_per_call"] =
          static_cast<double>(mallinfo2().uordblks - before) / kCalls;
    }
  }
}
BENCHMARK(BM_PendingCallTableBytes)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
