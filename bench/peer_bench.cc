// The peer library's own cost: one received Call decoded, dispatched and
// answered (the Result encoded and sent), and a CallPage round trip through
// cefsim's browser side and the real renderer. Each is paired with the same
// work done by hand with the bare codec and frame send, so that the two run
// side by side and their difference is what the library adds.

#include <benchmark/benchmark.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "bridge/bridge_message.h"
#include "cefsim/renderer_harness.h"
#include "include/cef_client.h"
#include "launcher/cef_launcher_application.h"
#include "peer/peer.h"
#include "peer/values.h"

namespace {

using cef_launcher_peer::PageCall;
using cef_launcher_peer::PageReply;
using cef_launcher_peer::Peer;
using cef_launcher_peer::Reply;

class BenchClient : public CefClient {
 public:
  explicit BenchClient(Peer& bridgePeer) : peer(bridgePeer) {}
  bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser,
                                CefRefPtr<CefFrame> frame,
                                CefProcessId source,
                                CefRefPtr<CefProcessMessage> message) override {
    return peer.OnProcessMessageReceived(browser, frame, source, message);
  }

 private:
  Peer& peer;
  IMPLEMENT_REFCOUNTING(BenchClient);
};

struct PeerPage {
  PeerPage()
      : application(new CefLauncherApplication()),
        harness(std::make_unique<cefsim::RendererHarness>(application)) {
    nextCallId = 0;
    harness->SetClient(new BenchClient(peer));
    const cefsim::BrowserInfo info = harness->OpenBrowser();
    frameId = info.frameIds[0];
    harness->RunScript(frameId, "window.add = (a, b) => a + b;");
  }
  ~PeerPage() {
    harness.reset();
    nextCallId = 0;
  }

  Peer peer;
  CefRefPtr<CefLauncherApplication> application;
  std::unique_ptr<cefsim::RendererHarness> harness;
  std::string frameId;
};

// The library's share of answering one page call: OnProcessMessageReceived
// decodes a received Call (read-only, as CEF delivers it), finds the
// handler, and the Reply encodes a Result, measures it and sends it through
// the browser-side frame (which takes its arguments). Nothing reaches the
// renderer inside the loop.
void BM_PeerAnswerCall(benchmark::State& state) {
  PeerPage page;
  page.peer.Handle("getPlayer", [](const PageCall& call, Reply reply) {
    reply.Result(
        cef_launcher_peer::Object({{"name", cef_launcher_peer::String("Alice")},
                                   {"level", call.arguments->GetValue(0)}}));
  });
  CefRefPtr<CefBrowser> browser = page.harness->HostBrowser(1);
  CefRefPtr<CefFrame> frame = page.harness->HostFrame(page.frameId);
  CefRefPtr<CefListValue> arguments =
      cef_launcher_peer::MakeList({cef_launcher_peer::Int(7)});
  // A received message as CEF hands it over, made once and reused.
  CefRefPtr<CefProcessMessage> received =
      CallMessage("getPlayer", arguments, 1).ToProcessMessage()->Copy();
  int sent = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(page.peer.OnProcessMessageReceived(
        browser, frame, PID_RENDERER, received));
    // The queue to the renderer is drained outside the measurement now and
    // then, so that it does not grow without bound.
    if (++sent == 4096) {
      state.PauseTiming();
      page.harness->RunUntilIdle();
      sent = 0;
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PeerAnswerCall);

// CallPage → Call through the channel → the program looks up and calls the
// page function → Result back through the channel → callback.
void BM_PeerCallPageRoundTrip(benchmark::State& state) {
  PeerPage page;
  CefRefPtr<CefFrame> frame = page.harness->HostFrame(page.frameId);
  int total = 0;
  for (auto _ : state) {
    page.peer.CallPage(
        frame, "add",
        cef_launcher_peer::MakeList(
            {cef_launcher_peer::Int(1), cef_launcher_peer::Int(2)}),
        [&total](const PageReply& reply) { total += reply.value->GetInt(); });
    page.harness->RunUntilIdle();
  }
  if (total != 3 * static_cast<int>(state.iterations())) {
    state.SkipWithError("a call went unanswered");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PeerCallPageRoundTrip);

// A host without the library: decodes with the codec, keeps its own table
// of calls by id and answers Calls by name, nothing more.
class BareClient : public CefClient {
 public:
  using Answer = std::function<CefRefPtr<CefValue>(const CallMessage&)>;

  bool OnProcessMessageReceived(CefRefPtr<CefBrowser> /*browser*/,
                                CefRefPtr<CefFrame> frame,
                                CefProcessId /*source*/,
                                CefRefPtr<CefProcessMessage> message) override {
    std::optional<BridgeMessage> decoded = ParseBridgeMessage(message);
    if (!decoded) {
      return false;
    }
    if (auto* call = std::get_if<CallMessage>(&*decoded)) {
      auto handler = answers.find(call->function);
      if (handler != answers.end()) {
        frame->SendProcessMessage(
            PID_RENDERER,
            ResultMessage{call->id, handler->second(*call)}.ToProcessMessage());
      }
      return true;
    }
    if (auto* result = std::get_if<ResultMessage>(&*decoded)) {
      auto it = calls.find(result->id);
      if (it != calls.end()) {
        std::function<void(CefRefPtr<CefValue>)> done = std::move(it->second);
        calls.erase(it);
        done(result->value);
      }
    }
    return true;
  }

  void Call(CefRefPtr<CefFrame> frame,
            const std::string& path,
            CefRefPtr<CefListValue> arguments,
            std::function<void(CefRefPtr<CefValue>)> done) {
    const int32_t id = nextId++;
    calls[id] = std::move(done);
    frame->SendProcessMessage(
        PID_RENDERER, CallMessage(path, arguments, id).ToProcessMessage());
  }

  std::map<std::string, Answer> answers;
  std::map<int32_t, std::function<void(CefRefPtr<CefValue>)>> calls;
  int32_t nextId = 0;

 private:
  IMPLEMENT_REFCOUNTING(BareClient);
};

struct BarePage {
  BarePage()
      : application(new CefLauncherApplication()),
        harness(std::make_unique<cefsim::RendererHarness>(application)),
        client(new BareClient()) {
    harness->SetClient(client);
    const cefsim::BrowserInfo info = harness->OpenBrowser();
    frameId = info.frameIds[0];
    harness->RunScript(frameId, "window.add = (a, b) => a + b;");
  }

  CefRefPtr<CefLauncherApplication> application;
  std::unique_ptr<cefsim::RendererHarness> harness;
  CefRefPtr<BareClient> client;
  std::string frameId;
};

// BM_PeerAnswerCall's work by hand.
void BM_BareAnswerCall(benchmark::State& state) {
  BarePage page;
  page.client->answers["getPlayer"] = [](const CallMessage& call) {
    return cef_launcher_peer::Object(
        {{"name", cef_launcher_peer::String("Alice")},
         {"level", call.arguments->GetValue(0)}});
  };
  CefRefPtr<CefBrowser> browser = page.harness->HostBrowser(1);
  CefRefPtr<CefFrame> frame = page.harness->HostFrame(page.frameId);
  CefRefPtr<CefListValue> arguments =
      cef_launcher_peer::MakeList({cef_launcher_peer::Int(7)});
  CefRefPtr<CefProcessMessage> received =
      CallMessage("getPlayer", arguments, 1).ToProcessMessage()->Copy();
  int sent = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(page.client->OnProcessMessageReceived(
        browser, frame, PID_RENDERER, received));
    if (++sent == 4096) {
      state.PauseTiming();
      page.harness->RunUntilIdle();
      sent = 0;
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareAnswerCall);

// BM_PeerCallPageRoundTrip's round trip by hand.
void BM_BareCallPageRoundTrip(benchmark::State& state) {
  BarePage page;
  CefRefPtr<CefFrame> frame = page.harness->HostFrame(page.frameId);
  int total = 0;
  for (auto _ : state) {
    page.client->Call(
        frame, "add",
        cef_launcher_peer::MakeList(
            {cef_launcher_peer::Int(1), cef_launcher_peer::Int(2)}),
        [&total](CefRefPtr<CefValue> value) { total += value->GetInt(); });
    page.harness->RunUntilIdle();
  }
  if (total != 3 * static_cast<int>(state.iterations())) {
    state.SkipWithError("a call went unanswered");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareCallPageRoundTrip);

}  // namespace
