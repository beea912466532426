// The peer library under the patterns a host uses: destroyed with calls in
// flight, shut down, used from worker threads, across navigations that keep
// the frame, with held calls that become moot.

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bridge/bridge_message.h"
#include "cefsim/hook_recorder.h"
#include "include/cef_load_handler.h"
#include "include/cef_task.h"
#include "peer/peer.h"
#include "peer/value_text.h"
#include "peer/values.h"
#include "tests/peer_test_client.h"

namespace {

using cef_launcher_peer::CallOptions;
using cef_launcher_peer::Int;
using cef_launcher_peer::kShutDownText;
using cef_launcher_peer::kUnansweredText;
using cef_launcher_peer::kWaitForever;
using cef_launcher_peer::PageCall;
using cef_launcher_peer::PageReply;
using cef_launcher_peer::Reply;
using cef_launcher_peer::SendStatus;
using cef_launcher_peer::String;
using cef_launcher_peer::ValueText;
using Outcome = PageReply::Outcome;

constexpr char kRecordSettlements[] = R"JS(
  window.settled = [];
  window.track = (tag, promise) => promise.then(
      v => settled.push(tag + ' ok ' + JSON.stringify(v)),
      e => settled.push(tag + ' error ' + e.message));
)JS";

// Every settlement of page calls, with the thread it ran on.
struct Recorder {
  std::vector<std::string> lines;
  std::vector<std::thread::id> threads;
  cef_launcher_peer::PageCallback Callback(const std::string& tag) {
    return [this, tag](const PageReply& reply) {
      threads.push_back(std::this_thread::get_id());
      std::string line = tag + " ";
      switch (reply.outcome) {
        case Outcome::kResult:
          line += "Result " + ValueText(reply.value);
          break;
        case Outcome::kError:
          line += "Error " + reply.text;
          break;
        case Outcome::kFrameDetached:
          line += "FrameDetached";
          break;
        case Outcome::kRendererTerminated:
          line += "RendererTerminated";
          break;
        case Outcome::kTimedOut:
          line += "TimedOut";
          break;
        case Outcome::kRefused:
          line += "Refused " + reply.text;
          break;
        case Outcome::kNavigated:
          line += "Navigated";
          break;
      }
      lines.push_back(line);
    };
  }
};

// Also records the frame and load notifications, in order with the rest.
class OrderClient : public PeerTestClient {
 public:
  explicit OrderClient(cef_launcher_peer::Peer& bridgePeer)
      : PeerTestClient(bridgePeer) {}
  void OnFrameCreated(CefRefPtr<CefBrowser>,
                      CefRefPtr<CefFrame> frame) override {
    events.push_back("created " + frame->GetIdentifier().ToString());
  }
  void OnMainFrameChanged(CefRefPtr<CefBrowser>,
                          CefRefPtr<CefFrame> oldFrame,
                          CefRefPtr<CefFrame> newFrame) override {
    events.push_back(
        "main " +
        (oldFrame ? oldFrame->GetIdentifier().ToString() : std::string("-")) +
        " > " +
        (newFrame ? newFrame->GetIdentifier().ToString() : std::string("-")));
  }
  void OnLoadStart(CefRefPtr<CefBrowser> browser,
                   CefRefPtr<CefFrame> frame,
                   TransitionType transitionType) override {
    events.push_back("loadstart " + frame->GetIdentifier().ToString() + " " +
                     frame->GetURL().ToString());
    PeerTestClient::OnLoadStart(browser, frame, transitionType);
  }
  bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser,
                                CefRefPtr<CefFrame> frame,
                                CefProcessId sourceProcess,
                                CefRefPtr<CefProcessMessage> message) override {
    events.push_back("message " + frame->GetIdentifier().ToString());
    return PeerTestClient::OnProcessMessageReceived(browser, frame,
                                                    sourceProcess, message);
  }
};

class PeerLifecycleTest : public PeerLibraryTest {
 protected:
  void SetUp() override {
    nextCallId = 0;
    application = new CefLauncherApplication();
    harness = std::make_unique<cefsim::RendererHarness>(application);
    order = new OrderClient(peer);
    client = order;
    harness->SetClient(client);
    peer.SetLogSink([this](const std::string& line) {
      log.push_back(line);
      logThreads.push_back(std::this_thread::get_id());
    });
    cefsim::BrowserInfo info = harness->OpenBrowser();
    browserId = info.id;
    frameId = info.frameIds.front();
    harness->RunUntilIdle();
  }

  CefRefPtr<OrderClient> order;
  std::vector<std::thread::id> logThreads;
  const std::thread::id uiThread = std::this_thread::get_id();
};

// --- Destruction and Shutdown ---

// A host as one would write it: the Peer first, the state its callbacks
// touch after it, so that state goes first. Under ASan a callback run by
// ~Peer is a use after free; without it, the record says it ran.
struct Host {
  explicit Host(std::vector<std::string>* outside) : ran(outside) {
    peer.SetLogSink([this](const std::string& line) { seen.push_back(line); });
  }
  ~Host() { alive = false; }

  cef_launcher_peer::Peer peer;
  std::vector<std::string> seen;
  std::vector<std::string>* ran;
  bool alive = true;
};

TEST(PeerDestructionTest, DestroyingAHostWithCallsInFlightRunsNoHostCode) {
  nextCallId = 0;
  CefRefPtr<CefLauncherApplication> application = new CefLauncherApplication();
  auto harness = std::make_unique<cefsim::RendererHarness>(application);
  std::vector<std::string> ran;
  auto host = std::make_unique<Host>(&ran);
  CefRefPtr<PeerTestClient> client = new PeerTestClient(host->peer);
  harness->SetClient(client);
  const std::string frameId = harness->OpenBrowser().frameIds[0];
  std::optional<Reply> kept;
  host->peer.Handle("keep", [&](const PageCall&, Reply reply) {
    reply.SetCancelHandler([&ran] { ran.push_back("cancel"); });
    kept.emplace(std::move(reply));
  });
  harness->RunScript(frameId, std::string(kRecordSettlements) +
                                  "track('keep', squirrel.call('keep'));"
                                  "window.v = 1;");
  harness->RunUntilIdle();
  ASSERT_TRUE(kept);
  Host* raw = host.get();
  for (int i = 0; i < 3; ++i) {
    host->peer.CallPage(
        harness->HostFrame(frameId), "v", nullptr,
        [raw, &ran](const PageReply&) {
          ran.push_back(raw->alive ? "callback" : "callback after free");
          raw->seen.push_back("settled");
          // A call from here would be sent with no callback.
          raw->peer.CallPage(nullptr, "v", nullptr, nullptr);
        });
  }
  // The reply goes with the Peer: its log line has no sink to reach.
  client->Detach();
  host.reset();
  harness->RunUntilIdle();
  EXPECT_TRUE(ran.empty()) << ran.front();
  // Held Replies still answer.
  EXPECT_EQ(kept->Result(Int(5)), SendStatus::kSent);
  harness->RunUntilIdle();
  cefsim::ScriptOutcome settled =
      harness->RunScript(frameId, "JSON.stringify(settled)");
  ASSERT_TRUE(settled.ok);
  EXPECT_EQ(settled.value->GetStringValue().ToString(), "[\"keep ok 5\"]");
  kept.reset();
  harness.reset();
  nextCallId = 0;
}

TEST_F(PeerLifecycleTest, ShutdownSettlesOnceThenRefusesEverything) {
  Page("window.count = 0; window.v = () => ++count;");
  std::optional<Reply> held;
  int cancels = 0;
  peer.Handle("wait", [&](const PageCall&, Reply reply) {
    reply.SetCancelHandler([&cancels] { ++cancels; });
    held.emplace(std::move(reply));
  });
  Page(kRecordSettlements);
  Page("track('held', squirrel.call('wait'));");
  ASSERT_TRUE(held);
  // Two calls in flight.
  Recorder recorder;
  std::vector<SendStatus> fromCallback;
  peer.CallPage(HostFrame(), "v", nullptr, [&](const PageReply& reply) {
    recorder.Callback("first")(reply);
    // Started while shutting down: refused, nothing sent or kept.
    fromCallback.push_back(
        peer.CallPage(HostFrame(), "v", nullptr, recorder.Callback("inner")));
  });
  peer.CallPage(HostFrame(), "v", nullptr, recorder.Callback("second"));

  peer.Shutdown();
  peer.Shutdown();
  EXPECT_EQ(recorder.lines,
            (std::vector<std::string>{"first Refused peer shut down",
                                      "second Refused peer shut down"}));
  EXPECT_EQ(fromCallback, std::vector<SendStatus>{SendStatus::kShutDown});
  EXPECT_EQ(cancels, 1);
  EXPECT_EQ(peer.PendingPageCalls(), 0u);
  EXPECT_EQ(peer.CallPage(HostFrame(), "v", nullptr, recorder.Callback("late")),
            SendStatus::kShutDown);
  harness->RunUntilIdle();
  EXPECT_EQ(recorder.lines.size(), 2u);
  EXPECT_EQ(peer.PendingPageCalls(), 0u);
  // Only the two calls sent before ran in the page; their Results went
  // nowhere.
  EXPECT_EQ(PageJson("count"), "2");

  // The page's calls get a plain Error; a held Reply still answers.
  Page("track('after', squirrel.call('wait'));");
  EXPECT_EQ(held->Result(Int(1)), SendStatus::kSent);
  harness->RunUntilIdle();
  EXPECT_EQ(
      PageJson("settled"),
      "[\"after error " + std::string(kShutDownText) + "\",\"held ok 1\"]");
}

// --- Threads ---

// What a worker does with a Reply handed to it.
struct WorkerCase {
  const char* name;
  std::function<SendStatus(Reply&)> work;
  std::string settled;
};

TEST_F(PeerLifecycleTest, RepliesHandedToWorkersSettleThePageOnce) {
  const std::vector<WorkerCase> cases = {
      {"answered", [](Reply& reply) { return reply.Result(Int(7)); }, "ok 7"},
      {"failed", [](Reply& reply) { return reply.Error("nope"); },
       "error nope"},
      {"dropped",
       [](Reply& reply) {
         // Destroyed here, on the worker, unanswered.
         Reply gone = std::move(reply);
         return SendStatus::kPosted;
       },
       std::string("error ") + kUnansweredText},
  };
  for (const WorkerCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<Reply> held;
    peer.Handle("work", [&](const PageCall&, Reply reply) {
      held.emplace(std::move(reply));
    });
    Page(kRecordSettlements);
    Page("track('w', squirrel.call('work'));");
    ASSERT_TRUE(held);
    SendStatus status = SendStatus::kSent;
    SendStatus second = SendStatus::kSent;
    std::thread worker([&] {
      status = c.work(*held);
      second = held->Result(Int(99));
      held.reset();
    });
    worker.join();
    EXPECT_EQ(status, SendStatus::kPosted);
    EXPECT_EQ(second, SendStatus::kAlreadyAnswered);
    EXPECT_EQ(PageJson("settled"), "[]");
    log.clear();
    logThreads.clear();
    harness->RunUntilIdle();
    EXPECT_EQ(PageJson("settled"), "[\"w " + c.settled + "\"]");
    // The refused second answer is logged, on the UI thread.
    EXPECT_EQ(log.empty(), std::string(c.name) == "dropped");
    for (std::thread::id thread : logThreads) {
      EXPECT_EQ(thread, uiThread);
    }
  }
}

TEST_F(PeerLifecycleTest, CallPageFromAWorkerSettlesOnTheUiThreadOnce) {
  Page("window.add = (a, b) => a + b;");
  Recorder recorder;
  SendStatus sent = SendStatus::kSent;
  SendStatus refused = SendStatus::kSent;
  CefRefPtr<CefFrame> frame = HostFrame();
  std::thread worker([&] {
    CefRefPtr<CefListValue> arguments =
        cef_launcher_peer::MakeList({Int(2), Int(3)});
    sent = peer.CallPage(frame, "add", arguments, recorder.Callback("add"));
    // The caller's list is its own again at once.
    arguments->SetInt(0, 40);
    refused = peer.CallPage(nullptr, "add", nullptr, recorder.Callback("no"));
  });
  worker.join();
  EXPECT_EQ(sent, SendStatus::kPosted);
  EXPECT_EQ(refused, SendStatus::kPosted);
  EXPECT_TRUE(recorder.lines.empty());
  harness->RunUntilIdle();
  EXPECT_EQ(recorder.lines, (std::vector<std::string>{"no Refused no frame",
                                                      "add Result INT 5"}));
  for (std::thread::id thread : recorder.threads) {
    EXPECT_EQ(thread, uiThread);
  }
}

TEST_F(PeerLifecycleTest, ARefusedCallSettlesAfterCallPageReturns) {
  struct Case {
    const char* name;
    CefRefPtr<CefFrame> frame;
    int64_t timeoutMs;
    SendStatus status;
  };
  const std::vector<Case> cases = {
      {"no frame", nullptr, 1000, SendStatus::kNoFrame},
      {"zero time-out", HostFrame(), 0, SendStatus::kBadTimeout},
      {"negative time-out", HostFrame(), -1, SendStatus::kBadTimeout},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Recorder recorder;
    CallOptions options;
    options.timeoutMs = c.timeoutMs;
    EXPECT_EQ(
        peer.CallPage(c.frame, "v", nullptr, recorder.Callback("x"), options),
        c.status);
    EXPECT_TRUE(recorder.lines.empty());
    harness->RunUntilIdle();
    ASSERT_EQ(recorder.lines.size(), 1u);
    EXPECT_EQ(recorder.lines[0].rfind("x Refused ", 0), 0u)
        << recorder.lines[0];
  }
}

TEST(PeerThreadTest, AnswerAfterCefStoppedSendsNothingAndDoesNotCrash) {
  nextCallId = 0;
  CefRefPtr<CefLauncherApplication> application = new CefLauncherApplication();
  auto harness = std::make_unique<cefsim::RendererHarness>(application);
  cef_launcher_peer::Peer peer;
  CefRefPtr<PeerTestClient> client = new PeerTestClient(peer);
  harness->SetClient(client);
  const std::string frameId = harness->OpenBrowser().frameIds[0];
  std::optional<Reply> kept;
  peer.Handle("keep", [&](const PageCall&, Reply reply) {
    kept.emplace(std::move(reply));
  });
  harness->RunScript(frameId, "squirrel.call('keep');");
  harness->RunUntilIdle();
  ASSERT_TRUE(kept);
  harness.reset();
  SendStatus status = SendStatus::kSent;
  std::thread worker([&] {
    status = kept->Result(Int(1));
    kept.reset();
  });
  worker.join();
  EXPECT_EQ(status, SendStatus::kNotRunning);
  nextCallId = 0;
}

class CountingTask : public CefTask {
 public:
  CountingTask(std::atomic<int>* runs, std::vector<std::thread::id>* threads)
      : counter(runs), seen(threads) {}
  void Execute() override {
    ++*counter;
    seen->push_back(std::this_thread::get_id());
  }

 private:
  std::atomic<int>* counter;
  std::vector<std::thread::id>* seen;
  IMPLEMENT_REFCOUNTING(CountingTask);
};

// CEF's CefPostTask works from any thread; so does cefsim's.
TEST(PeerThreadTest, TasksPostedFromWorkersRunOnTheUiThreadOnce) {
  CefRefPtr<cefsim::HookRecorder> silent = new cefsim::HookRecorder();
  auto harness = std::make_unique<cefsim::RendererHarness>(silent);
  std::atomic<int> runs{0};
  std::vector<std::thread::id> threads;
  constexpr int kWorkers = 4;
  constexpr int kTasks = 500;
  std::atomic<int> posted{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&] {
      EXPECT_FALSE(CefCurrentlyOn(TID_UI));
      for (int i = 0; i < kTasks; ++i) {
        if (CefPostTask(TID_UI, new CountingTask(&runs, &threads))) {
          ++posted;
        }
      }
    });
  }
  // The UI thread runs what has come in while the workers post.
  while (posted < kWorkers * kTasks) {
    harness->RunUntilIdle();
  }
  for (std::thread& worker : workers) {
    worker.join();
  }
  harness->RunUntilIdle();
  EXPECT_EQ(runs, kWorkers * kTasks);
  for (std::thread::id thread : threads) {
    ASSERT_EQ(thread, std::this_thread::get_id());
  }
  harness.reset();
  // With no browser side alive, a post is refused.
  bool accepted = true;
  std::thread late([&] {
    accepted = CefPostTask(TID_UI, new CountingTask(&runs, &threads));
  });
  late.join();
  EXPECT_FALSE(accepted);
}

// --- Navigations ---

// The default time-out is finite; waiting for ever is asked for by name.
TEST(PeerTimeoutTest, DefaultTimeOutIsTenSecondsAndForeverIsExplicit) {
  CefRefPtr<cefsim::HookRecorder> silent = new cefsim::HookRecorder();
  cef_launcher_peer::Peer quiet;
  auto other = std::make_unique<cefsim::RendererHarness>(silent);
  other->SetClient(new PeerTestClient(quiet));
  const std::string silentFrame = other->OpenBrowser().frameIds[0];
  Recorder recorder;
  CallOptions forever;
  forever.timeoutMs = kWaitForever;
  ASSERT_EQ(quiet.CallPage(other->HostFrame(silentFrame), "x", nullptr,
                           recorder.Callback("default")),
            SendStatus::kSent);
  ASSERT_EQ(quiet.CallPage(other->HostFrame(silentFrame), "x", nullptr,
                           recorder.Callback("forever"), forever),
            SendStatus::kSent);
  other->AdvanceTime(9999);
  EXPECT_TRUE(recorder.lines.empty());
  other->AdvanceTime(1);
  EXPECT_EQ(recorder.lines, std::vector<std::string>{"default TimedOut"});
  other->AdvanceTime(1000LL * 3600 * 24 * 365);
  EXPECT_EQ(recorder.lines.size(), 1u);
  EXPECT_EQ(quiet.PendingPageCalls(), 1u);
  quiet.Shutdown();
  other.reset();
}

// A navigation that keeps the frame: a Call sent before the browser learned
// of the commit may run in the new document; its answer is not taken for
// the old document's.
TEST_F(PeerLifecycleTest, ACallOvertakenByANavigationFailsAsNavigated) {
  Page("window.who = () => 'old document';");
  Recorder recorder;
  ASSERT_EQ(
      peer.CallPage(HostFrame(), "who", nullptr, recorder.Callback("call")),
      SendStatus::kSent);
  harness->Navigate(frameId, "https://page.test/next");
  ASSERT_TRUE(
      harness->RunScript(frameId, "window.who = () => 'NEW document';").ok);
  harness->RunUntilIdle();
  EXPECT_EQ(recorder.lines, std::vector<std::string>{"call Navigated"});
  EXPECT_EQ(peer.PendingPageCalls(), 0u);
  // Calls made after the commit are the new document's.
  peer.CallPage(HostFrame(), "who", nullptr, recorder.Callback("after"));
  harness->RunUntilIdle();
  ASSERT_EQ(recorder.lines.size(), 2u);
  EXPECT_EQ(recorder.lines[1], "after Result STRING \"NEW document\"");
}

TEST_F(PeerLifecycleTest, AReplyOfTheOldDocumentSendsNothingToTheNewOne) {
  std::vector<Reply> held;
  peer.Handle("wait", [&](const PageCall&, Reply reply) {
    held.push_back(std::move(reply));
  });
  Page(kRecordSettlements);
  Page("track('old', squirrel.call('wait'));");
  ASSERT_EQ(held.size(), 1u);
  harness->Navigate(frameId, "https://page.test/next");
  harness->RunUntilIdle();
  EXPECT_TRUE(held[0].frameGone());
  // The new document's call has the old one's id: the ids are the
  // renderer's and start again with a new renderer process.
  nextCallId = held[0].id();
  Page(kRecordSettlements);
  Page("track('new', squirrel.call('wait'));");
  ASSERT_EQ(held.size(), 2u);
  ASSERT_EQ(held[1].id(), held[0].id());
  EXPECT_FALSE(held[1].frameGone());
  EXPECT_EQ(held[0].Result(String("stale")), SendStatus::kFrameGone);
  harness->RunUntilIdle();
  EXPECT_EQ(PageJson("settled"), "[]");
  EXPECT_EQ(held[1].Result(String("fresh")), SendStatus::kSent);
  harness->RunUntilIdle();
  EXPECT_EQ(PageJson("settled"), "[\"new ok \\\"fresh\\\"\"]");
}

// cefsim's browser side reports the commit where CEF does: after what the
// old document sent, and after the frame notifications of a swap.
TEST_F(PeerLifecycleTest, LoadStartComesInCefsOrderForBothNavigations) {
  order->events.clear();
  // Sent by the old document, still in the channel at the commit.
  ASSERT_TRUE(harness->RunScript(frameId, "squirrel.call('x');").ok);
  harness->Navigate(frameId, "https://page.test/same");
  harness->RunUntilIdle();
  EXPECT_EQ(order->events,
            (std::vector<std::string>{
                "message " + frameId,
                "loadstart " + frameId + " https://page.test/same"}));

  order->events.clear();
  const std::string fresh =
      harness->NavigateWithSwap(frameId, "https://other.test/");
  harness->RunUntilIdle();
  EXPECT_EQ(order->events,
            (std::vector<std::string>{
                "created " + fresh, "attached " + fresh, "detached " + frameId,
                "main " + frameId + " > " + fresh,
                "loadstart " + fresh + " https://other.test/"}));
}

// --- Held calls that become moot ---

struct MootCase {
  const char* name;
  void (*end)(PeerLifecycleTest& test, const std::string& child);
  bool everyFrame;  // the main frame's Reply is moot too
  bool frameGone;
};

class PeerMootTest : public PeerLifecycleTest,
                     public testing::WithParamInterface<MootCase> {
 public:
  static void RemoveChild(PeerLifecycleTest& test, const std::string& child) {
    static_cast<PeerMootTest&>(test).harness->RemoveFrame(child);
  }
  static void NavigateChild(PeerLifecycleTest& test, const std::string& child) {
    static_cast<PeerMootTest&>(test).harness->Navigate(
        child, "https://page.test/next");
  }
  static void Terminate(PeerLifecycleTest& test, const std::string&) {
    static_cast<PeerMootTest&>(test).harness->TerminateRenderer();
  }
  static void ShutDown(PeerLifecycleTest& test, const std::string&) {
    static_cast<PeerMootTest&>(test).peer.Shutdown();
  }
};

TEST_P(PeerMootTest, HeldRepliesHearOnceWhenTheirCallBecomesMoot) {
  const MootCase& c = GetParam();
  const std::string child =
      harness->AddFrame(frameId, cefsim::FrameSpec{"child"});
  std::vector<Reply> held;
  peer.Handle("wait", [&](const PageCall&, Reply reply) {
    held.push_back(std::move(reply));
  });
  Page("squirrel.call('wait'); squirrel.call('wait');", child);
  Page("squirrel.call('wait');");
  ASSERT_EQ(held.size(), 3u);
  std::vector<std::string> told;
  std::vector<std::thread::id> threads;
  auto notice = [&](const std::string& tag) {
    return [&told, &threads, tag] {
      told.push_back(tag);
      threads.push_back(std::this_thread::get_id());
    };
  };
  held[0].SetCancelHandler(notice("child"));
  held[1].SetCancelHandler(notice("answered"));
  EXPECT_EQ(held[1].Result(Int(1)), SendStatus::kSent);
  held[2].SetCancelHandler(notice("main"));
  c.end(*this, child);
  harness->RunUntilIdle();
  EXPECT_EQ(held[0].frameGone(), c.frameGone);
  EXPECT_EQ(held[2].frameGone(), c.frameGone && c.everyFrame);
  std::sort(told.begin(), told.end());
  EXPECT_EQ(told, c.everyFrame ? (std::vector<std::string>{"child", "main"})
                               : std::vector<std::string>{"child"});
  for (std::thread::id thread : threads) {
    EXPECT_EQ(thread, uiThread);
  }
  // Set afterwards, the notice comes from a task, once.
  told.clear();
  held[0].SetCancelHandler(notice("late"));
  EXPECT_TRUE(told.empty());
  harness->RunUntilIdle();
  EXPECT_EQ(told, std::vector<std::string>{"late"});
  EXPECT_EQ(held[0].Result(Int(2)),
            c.frameGone ? SendStatus::kFrameGone : SendStatus::kSent);
  harness->RunUntilIdle();
}

INSTANTIATE_TEST_SUITE_P(
    Reasons,
    PeerMootTest,
    testing::Values(
        MootCase{"frame detached", &PeerMootTest::RemoveChild, false, true},
        MootCase{"document replaced", &PeerMootTest::NavigateChild, false,
                 true},
        MootCase{"renderer terminated", &PeerMootTest::Terminate, true, true},
        MootCase{"peer shut down", &PeerMootTest::ShutDown, true, false}));

}  // namespace
