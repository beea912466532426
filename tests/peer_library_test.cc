// The peer library on cefsim's browser side, against the real program in
// the renderer: answering page calls, calling the page, and every way a call
// can end.

#include <algorithm>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bridge/bridge_message.h"
#include "cefsim/hook_recorder.h"
#include "peer/peer.h"
#include "peer/value_text.h"
#include "peer/values.h"
#include "tests/peer_test_client.h"

namespace {

using cef_launcher_peer::CallOptions;
using cef_launcher_peer::Int;
using cef_launcher_peer::kNoHandlerText;
using cef_launcher_peer::kUnansweredText;
using cef_launcher_peer::MakeList;
using cef_launcher_peer::PageCall;
using cef_launcher_peer::PageReply;
using cef_launcher_peer::Reply;
using cef_launcher_peer::SendStatus;
using cef_launcher_peer::String;
using cef_launcher_peer::ValueText;
using Outcome = PageReply::Outcome;

// Records every settlement of one page call.
struct Settled {
  std::vector<PageReply> replies;
  cef_launcher_peer::PageCallback Callback() {
    return [this](const PageReply& reply) { replies.push_back(reply); };
  }
  std::string Text() const {
    if (replies.size() != 1) {
      return "settled " + std::to_string(replies.size()) + " times";
    }
    const PageReply& reply = replies.front();
    switch (reply.outcome) {
      case Outcome::kResult:
        return "Result " + ValueText(reply.value);
      case Outcome::kError:
        return "Error " + reply.text;
      case Outcome::kFrameDetached:
        return "FrameDetached";
      case Outcome::kRendererTerminated:
        return "RendererTerminated";
      case Outcome::kTimedOut:
        return "TimedOut";
      case Outcome::kRefused:
        return "Refused " + reply.text;
      case Outcome::kNavigated:
        return "Navigated";
    }
    return "?";
  }
};

// The page records how each of its calls settled, in settle order.
constexpr char kRecordSettlements[] = R"JS(
  window.settled = [];
  window.track = (tag, promise) => promise.then(
      v => settled.push(tag + ' ok ' + JSON.stringify(v)),
      e => settled.push(tag + ' error ' + e.message));
)JS";

CefRefPtr<CefListValue> NestedLists(int depth) {
  CefRefPtr<CefListValue> inner = CefListValue::Create();
  for (int i = 0; i < depth; ++i) {
    CefRefPtr<CefListValue> outer = CefListValue::Create();
    outer->SetList(0, inner);
    inner = outer;
  }
  return inner;
}

TEST_F(PeerLibraryTest, HandlersAnswerCallsAndEvalByNameWithFallback) {
  peer.Handle("add", [](const PageCall& call, Reply reply) {
    EXPECT_EQ(reply.Result(
                  Int(call.arguments->GetInt(0) + call.arguments->GetInt(1))),
              SendStatus::kSent);
  });
  std::vector<std::string> evaluated;
  peer.Handle("compilestring", [&](const PageCall& call, Reply reply) {
    evaluated.push_back(call.arguments->GetString(0).ToString());
    reply.Result(String("evaluated"));
  });
  std::vector<std::string> fallbackNames;
  Page(kRecordSettlements);
  Page(R"JS(
    track('add', squirrel.call('add', 2, 3));
    track('eval', squirrel.eval('return 1;'));
    track('unknown', squirrel.call('nobody'));
  )JS");
  EXPECT_EQ(evaluated, std::vector<std::string>{"return 1;"});
  EXPECT_EQ(PageJson("settled"),
            "[\"add ok 5\",\"eval ok \\\"evaluated\\\"\",\"unknown error " +
                std::string(kNoHandlerText) + "'nobody'\"]");

  peer.SetFallback([&](const PageCall& call, Reply reply) {
    fallbackNames.push_back(call.function);
    EXPECT_EQ(call.frameId, frameId);
    reply.Error("fallback for " + call.function);
  });
  Page("settled = []; track('other', squirrel.call('other', 1));");
  EXPECT_EQ(fallbackNames, std::vector<std::string>{"other"});
  EXPECT_EQ(PageJson("settled"), "[\"other error fallback for other\"]");
}

TEST_F(PeerLibraryTest, RepliesHeldLaterAnswerManyCallsOutOfOrder) {
  std::vector<Reply> held;
  peer.Handle("slow", [&](const PageCall& call, Reply reply) {
    EXPECT_EQ(reply.id(), call.id);
    held.push_back(std::move(reply));
  });
  Page(kRecordSettlements);
  Page("for (let i = 0; i < 40; i++) track(i, squirrel.call('slow', i));");
  ASSERT_EQ(held.size(), 40u);
  EXPECT_EQ(PageJson("settled.length"), "0");
  // Answered in reverse order, every fifth with an Error.
  for (size_t i = held.size(); i-- > 0;) {
    const SendStatus status =
        i % 5 == 0 ? held[i].Error("no " + std::to_string(i))
                   : held[i].Result(Int(static_cast<int>(i) * 10));
    EXPECT_EQ(status, SendStatus::kSent);
  }
  harness->RunUntilIdle();
  std::string expected = "[";
  for (int i = 39; i >= 0; --i) {
    expected += "\"" + std::to_string(i) +
                (i % 5 == 0 ? " error no " + std::to_string(i)
                            : " ok " + std::to_string(i * 10)) +
                "\"" + (i ? "," : "]");
  }
  EXPECT_EQ(PageJson("settled"), expected);
}

TEST_F(PeerLibraryTest, ReplyAnswersOnceAndAnUnansweredOneSendsTheFixedError) {
  std::optional<Reply> kept;
  peer.Handle("twice", [&](const PageCall&, Reply reply) {
    EXPECT_EQ(reply.Result(Int(1)), SendStatus::kSent);
    EXPECT_FALSE(reply.pending());
    EXPECT_EQ(reply.Result(Int(2)), SendStatus::kAlreadyAnswered);
    EXPECT_EQ(reply.Error("late"), SendStatus::kAlreadyAnswered);
  });
  peer.Handle("dropped", [](const PageCall&, Reply) {});
  peer.Handle("moved", [&](const PageCall&, Reply reply) {
    Reply other = std::move(reply);
    EXPECT_FALSE(reply.pending());
    EXPECT_EQ(reply.Result(Int(3)), SendStatus::kAlreadyAnswered);
    kept.emplace(std::move(other));
  });
  Page(kRecordSettlements);
  Page(R"JS(
    track('twice', squirrel.call('twice'));
    track('dropped', squirrel.call('dropped'));
    track('moved', squirrel.call('moved'));
  )JS");
  EXPECT_EQ(PageJson("settled"), "[\"twice ok 1\",\"dropped error " +
                                     std::string(kUnansweredText) + "\"]");
  ASSERT_TRUE(kept && kept->pending());
  kept.reset();
  harness->RunUntilIdle();
  EXPECT_EQ(PageJson("settled[2]"),
            "\"moved error " + std::string(kUnansweredText) + "\"");
  EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& line) {
    return line.find("second answer to page call 0") != std::string::npos;
  }));
}

TEST_F(PeerLibraryTest, AnsweringAFrameThatIsGoneSendsNothingAndSaysSo) {
  const std::string child =
      harness->AddFrame(frameId, cefsim::FrameSpec{"child"});
  std::vector<Reply> held;
  peer.Handle("wait", [&](const PageCall&, Reply reply) {
    held.push_back(std::move(reply));
  });
  Page("squirrel.call('wait')", child);
  ASSERT_EQ(held.size(), 1u);
  harness->RemoveFrame(child);
  EXPECT_TRUE(held[0].frameGone());
  harness->RunUntilIdle();
  log.clear();
  EXPECT_EQ(held[0].Result(Int(1)), SendStatus::kFrameGone);
  EXPECT_FALSE(held[0].pending());
  harness->RunUntilIdle();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("frame " + child + " is gone"), std::string::npos)
      << log[0];
  // Nothing reached the browser side's channel for it.
  EXPECT_TRUE(harness->browserSide().Log().empty());
}

TEST_F(PeerLibraryTest, OversizedAnswerIsRefusedAndTheReplyStaysOpen) {
  peer.Handle("deep", [&](const PageCall&, Reply reply) {
    CefRefPtr<CefValue> deep = CefValue::Create();
    deep->SetList(NestedLists(250));
    EXPECT_EQ(reply.Result(deep), SendStatus::kTooLarge);
    EXPECT_TRUE(reply.pending());
    EXPECT_EQ(reply.Error("too deep"), SendStatus::kSent);
  });
  Page(kRecordSettlements);
  Page("track('deep', squirrel.call('deep'))");
  EXPECT_EQ(PageJson("settled"), "[\"deep error too deep\"]");
}

TEST_F(PeerLibraryTest, CallPageSettlesWithResultOrErrorText) {
  Page(R"JS(
    window.ui = { scale: 2, times(x) { return x * this.scale; },
                  fail() { throw new Error('secret'); } };
  )JS");
  Settled times, missing, failing, value;
  EXPECT_EQ(peer.CallPage(HostFrame(), "ui.times", MakeList({Int(21)}),
                          times.Callback()),
            SendStatus::kSent);
  peer.CallPage(HostFrame(), "ui.nothing.here", nullptr, missing.Callback());
  peer.CallPage(HostFrame(), "ui.fail", nullptr, failing.Callback());
  peer.CallPage(HostFrame(), "ui.scale", nullptr, value.Callback());
  EXPECT_EQ(peer.PendingPageCalls(), 4u);
  harness->RunUntilIdle();
  EXPECT_EQ(times.Text(), "Result INT 42");
  EXPECT_EQ(missing.Text(),
            "Error Object 'here' is not valid in path 'ui.nothing.here'.");
  EXPECT_EQ(failing.Text(),
            "Error Function execution failed in path 'ui.fail'.");
  EXPECT_EQ(value.Text(), "Result INT 2");
  EXPECT_EQ(peer.PendingPageCalls(), 0u);
  // The peer's own ids, from 0, independent of the page's.
  EXPECT_EQ(times.replies[0].id, 0);
  EXPECT_EQ(value.replies[0].id, 3);
}

TEST_F(PeerLibraryTest, CallPageFailsOnceWhenTheFrameDetaches) {
  const std::string child =
      harness->AddFrame(frameId, cefsim::FrameSpec{"child"});
  Page("window.v = 1;", child);
  Settled settled;
  EXPECT_EQ(peer.CallPage(harness->HostFrame(child), "v", nullptr,
                          settled.Callback()),
            SendStatus::kSent);
  // The frame goes before the Call reaches it; CEF discards the Call.
  harness->renderer().RemoveFrame(child);
  harness->RunUntilIdle();
  EXPECT_EQ(settled.Text(), "FrameDetached");
  EXPECT_EQ(peer.PendingPageCalls(), 0u);

  // Refusals settle from a task, after CallPage returned.
  Settled refused;
  EXPECT_EQ(peer.CallPage(nullptr, "x", nullptr, refused.Callback()),
            SendStatus::kNoFrame);
  EXPECT_TRUE(refused.replies.empty());
  harness->RunUntilIdle();
  EXPECT_EQ(refused.Text(), "Refused no frame");
}

// A navigation that swaps the main frame: calls still in the channel to the
// old frame fail once, with kFrameDetached, and the old frame is refused from
// then on; the new frame, under its own identifier, answers.
TEST_F(PeerLibraryTest, CallPageInFlightAcrossAFrameSwapFailsAsDetached) {
  Page("window.v = 1;");
  CefRefPtr<CefFrame> oldFrame = HostFrame();
  Settled answered, inFlight, timed;
  peer.CallPage(oldFrame, "v", nullptr, answered.Callback());
  harness->RunUntilIdle();
  EXPECT_EQ(answered.Text(), "Result INT 1");
  CallOptions options;
  options.timeoutMs = 100;
  ASSERT_EQ(peer.CallPage(oldFrame, "v", nullptr, inFlight.Callback()),
            SendStatus::kSent);
  ASSERT_EQ(peer.CallPage(oldFrame, "v", nullptr, timed.Callback(), options),
            SendStatus::kSent);
  // The renderer swaps before the Calls reach it.
  const std::string fresh =
      harness->renderer().NavigateWithSwap(frameId, "https://other.test/");
  harness->AdvanceTime(1000);
  EXPECT_EQ(inFlight.Text(), "FrameDetached");
  EXPECT_EQ(timed.Text(), "FrameDetached");
  EXPECT_EQ(peer.PendingPageCalls(), 0u);
  EXPECT_EQ(client->events.back(), "detached " + frameId);

  Settled refused, fromNew;
  EXPECT_EQ(peer.CallPage(oldFrame, "v", nullptr, refused.Callback()),
            SendStatus::kFrameGone);
  harness->RunUntilIdle();
  EXPECT_EQ(refused.Text(), "Refused frame " + frameId + " is gone");
  Page("window.v = 2;", fresh);
  CefRefPtr<CefFrame> main = harness->HostBrowser(browserId)->GetMainFrame();
  ASSERT_EQ(main->GetIdentifier().ToString(), fresh);
  EXPECT_EQ(peer.CallPage(main, "v", nullptr, fromNew.Callback()),
            SendStatus::kSent);
  harness->RunUntilIdle();
  EXPECT_EQ(fromNew.Text(), "Result INT 2");
}

// A Reply to a call the old document made reports the frame gone, and its
// answer never reaches the new document; calls from the new document work.
TEST_F(PeerLibraryTest, AReplyFromBeforeASwapNeverReachesTheNewDocument) {
  std::vector<Reply> held;
  std::vector<std::string> callFrames;
  peer.Handle("wait", [&](const PageCall& call, Reply reply) {
    callFrames.push_back(call.frameId);
    held.push_back(std::move(reply));
  });
  Page(kRecordSettlements);
  Page("track('old', squirrel.call('wait'));");
  ASSERT_EQ(held.size(), 1u);
  const std::string fresh =
      harness->NavigateWithSwap(frameId, "https://other.test/");
  EXPECT_TRUE(held[0].frameGone());
  Page(kRecordSettlements, fresh);
  Page("track('new', squirrel.call('wait'));", fresh);
  ASSERT_EQ(held.size(), 2u);
  EXPECT_EQ(callFrames, (std::vector<std::string>{frameId, fresh}));

  log.clear();
  EXPECT_EQ(held[0].Result(String("late")), SendStatus::kFrameGone);
  harness->RunUntilIdle();
  EXPECT_EQ(PageJson("settled", fresh), "[]");
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("frame " + frameId + " is gone"), std::string::npos)
      << log[0];
  // Not even handed to CEF.
  EXPECT_TRUE(harness->browserSide().Log().empty());

  EXPECT_EQ(held[1].Result(Int(2)), SendStatus::kSent);
  harness->RunUntilIdle();
  EXPECT_EQ(PageJson("settled", fresh), "[\"new ok 2\"]");
}

// A document that navigated away leaves calls no reply will come for (the
// peer knows the frame is gone). They must not outlive it: once the call ids
// come round, a new call under such an id would be registered nowhere and
// its promise never settle. Setting nextCallId stands for the 2^31 calls in
// between.
TEST_F(PeerLibraryTest,
       ANewDocumentsCallSettlesWhenAnOldDocumentsIdComesRound) {
  std::vector<Reply> held;
  peer.Handle("wait", [&](const PageCall&, Reply reply) {
    held.push_back(std::move(reply));
  });
  Page("squirrel.call('wait');");
  ASSERT_EQ(held.size(), 1u);
  const std::string fresh =
      harness->NavigateWithSwap(frameId, "https://other.test/");
  EXPECT_EQ(held[0].Result(Int(1)), SendStatus::kFrameGone);
  nextCallId = held[0].id();
  Page(kRecordSettlements, fresh);
  Page("track('new', squirrel.call('wait'));", fresh);
  ASSERT_EQ(held.size(), 2u);
  ASSERT_EQ(held[1].id(), held[0].id());
  EXPECT_EQ(held[1].Result(Int(2)), SendStatus::kSent);
  harness->RunUntilIdle();
  EXPECT_EQ(PageJson("settled", fresh), "[\"new ok 2\"]");
}

// A game session navigates many times: the peer forgets each swapped-out
// frame once nothing refers to it, and still refuses it.
TEST_F(PeerLibraryTest, GoneFramesAreForgottenOnceNothingRefersToThem) {
  std::optional<Reply> kept;
  peer.Handle("wait", [&](const PageCall&, Reply reply) {
    kept.emplace(std::move(reply));
  });
  CefRefPtr<CefFrame> first = HostFrame();
  std::vector<std::string> old;
  std::string current = frameId;
  for (int i = 0; i < 40; ++i) {
    if (i == 10) {
      Page("squirrel.call('wait');", current);
    }
    old.push_back(current);
    current = harness->NavigateWithSwap(
        current, "https://page.test/" + std::to_string(i));
  }
  ASSERT_TRUE(kept);
  EXPECT_TRUE(kept->frameGone());
  EXPECT_EQ(kept->Result(Int(1)), SendStatus::kFrameGone);
  // Forgotten, yet still refused: a detached frame says it is invalid.
  Settled refused;
  EXPECT_EQ(peer.CallPage(first, "v", nullptr, refused.Callback()),
            SendStatus::kFrameGone);
  Page("window.v = 3;", current);
  Settled answered;
  peer.CallPage(harness->HostFrame(current), "v", nullptr, answered.Callback());
  harness->RunUntilIdle();
  EXPECT_EQ(answered.Text(), "Result INT 3");
}

// A crashed renderer's frames still look valid, so they stay gone until
// they detach; then they too are forgotten.
TEST_F(PeerLibraryTest, ACrashedFrameStaysGoneUntilItDetaches) {
  CefRefPtr<CefFrame> main = HostFrame();
  // Refusals settle later: the record outlives the calls.
  Settled refused;
  harness->TerminateRenderer();
  EXPECT_EQ(peer.CallPage(main, "v", nullptr, refused.Callback()),
            SendStatus::kFrameGone);
  harness->CloseBrowser(browserId);
  EXPECT_EQ(client->events.back(), "detached " + frameId);
  EXPECT_EQ(peer.CallPage(main, "v", nullptr, refused.Callback()),
            SendStatus::kFrameGone);
}

// A renderer that never answers, as one whose frame has no script context.
TEST(PeerTimeoutTest, CallPageTimesOutOnTheUiThreadClock) {
  // Before the peer: its destruction fails the call still waiting.
  Settled settled, answered, never;
  cef_launcher_peer::Peer peer;
  CefRefPtr<cefsim::HookRecorder> silent = new cefsim::HookRecorder();
  auto harness = std::make_unique<cefsim::RendererHarness>(silent);
  harness->SetClient(new PeerTestClient(peer));
  const std::string frameId = harness->OpenBrowser().frameIds[0];
  CallOptions options;
  options.timeoutMs = 500;
  ASSERT_EQ(peer.CallPage(harness->HostFrame(frameId), "x", nullptr,
                          settled.Callback(), options),
            SendStatus::kSent);
  harness->AdvanceTime(200);
  // One answered in time is not failed by its timer later; one told to
  // wait for ever never settles.
  ASSERT_EQ(peer.CallPage(harness->HostFrame(frameId), "y", nullptr,
                          answered.Callback(), options),
            SendStatus::kSent);
  CallOptions forever;
  forever.timeoutMs = cef_launcher_peer::kWaitForever;
  peer.CallPage(harness->HostFrame(frameId), "z", nullptr, never.Callback(),
                forever);
  harness->RunUntilIdle();
  CefRefPtr<CefProcessMessage> result =
      ResultMessage{1, cef_launcher_peer::Int(7)}.ToProcessMessage();
  harness->Frame(frameId)->SendProcessMessage(PID_BROWSER, result);
  harness->AdvanceTime(299);
  EXPECT_TRUE(settled.replies.empty());
  EXPECT_EQ(answered.Text(), "Result INT 7");
  harness->AdvanceTime(1);
  EXPECT_EQ(settled.Text(), "TimedOut");
  // A reply after the time-out settles nothing more.
  result = ResultMessage{0, cef_launcher_peer::Int(8)}.ToProcessMessage();
  harness->Frame(frameId)->SendProcessMessage(PID_BROWSER, result);
  harness->AdvanceTime(100000);
  EXPECT_EQ(settled.replies.size(), 1u);
  EXPECT_EQ(answered.replies.size(), 1u);
  EXPECT_TRUE(never.replies.empty());
  EXPECT_EQ(peer.PendingPageCalls(), 1u);
}

TEST_F(PeerLibraryTest, RendererTerminationFailsCallsAndSilencesTheFrame) {
  std::vector<Reply> held;
  peer.Handle("wait", [&](const PageCall&, Reply reply) {
    held.push_back(std::move(reply));
  });
  Page("squirrel.call('wait')");
  ASSERT_EQ(held.size(), 1u);
  Page("window.v = 1;");
  Settled pending;
  peer.CallPage(HostFrame(), "v", nullptr, pending.Callback());

  harness->TerminateRenderer();
  EXPECT_EQ(pending.Text(), "RendererTerminated");
  // CEF still calls the main frame valid; the library knows better.
  CefRefPtr<CefFrame> main = HostFrame();
  ASSERT_TRUE(main && main->IsValid());
  Settled after;
  EXPECT_EQ(peer.CallPage(main, "x", nullptr, after.Callback()),
            SendStatus::kFrameGone);
  harness->RunUntilIdle();
  EXPECT_EQ(after.Text(), "Refused frame " + frameId + " is gone");
  EXPECT_EQ(held[0].Result(Int(1)), SendStatus::kFrameGone);
}

TEST_F(PeerLibraryTest, OversizedCallIsRefusedNeverSent) {
  Settled settled;
  EXPECT_EQ(
      peer.CallPage(HostFrame(), "f", NestedLists(200), settled.Callback()),
      SendStatus::kTooLarge);
  harness->RunUntilIdle();
  ASSERT_EQ(settled.replies.size(), 1u);
  EXPECT_EQ(settled.replies[0].outcome, Outcome::kRefused);
  EXPECT_NE(settled.replies[0].text.find("exceeds the channel's limits"),
            std::string::npos);
  EXPECT_EQ(peer.PendingPageCalls(), 0u);
  // Deep but within the channel's limits still goes.
  Page("window.f = (x) => 1;");
  Settled inside;
  EXPECT_EQ(peer.CallPage(HostFrame(), "f", NestedLists(50), inside.Callback()),
            SendStatus::kSent);
  harness->RunUntilIdle();
  EXPECT_EQ(inside.Text(), "Result INT 1");
}

TEST_F(PeerLibraryTest, FocusReportsReachTheObserver) {
  std::vector<std::string> reports;
  peer.SetFocusObserver([&](CefRefPtr<CefBrowser> browser,
                            CefRefPtr<CefFrame> frame, bool elementFocused) {
    reports.push_back(std::to_string(browser->GetIdentifier()) + " " +
                      frame->GetIdentifier().ToString() + " " +
                      (elementFocused ? "element" : "other"));
  });
  harness->ChangeFocus(frameId, cefsim::FocusTarget::kElement);
  harness->ChangeFocus(frameId, cefsim::FocusTarget::kNothing);
  harness->RunUntilIdle();
  const std::string prefix = std::to_string(browserId) + " " + frameId;
  EXPECT_EQ(reports,
            (std::vector<std::string>{prefix + " element", prefix + " other"}));
}

// Messages the renderer's frame sends by hand: only "qrx" is the library's,
// and a malformed one is dropped with a log line.
TEST_F(PeerLibraryTest, MalformedAndForeignMessagesAreDropped) {
  struct Case {
    const char* name;
    std::vector<CefRefPtr<CefValue>> arguments;
  };
  const std::vector<Case> cases = {
      {"qrx", {}},
      {"qrx", {Int(9)}},
      {"qrx", {Int(0), Int(1), String("f")}},
      {"qrx", {Int(1), String("id"), Int(1)}},
      {"qrx", {Int(2), Int(0), Int(5)}},
      {"qrx", {cef_launcher_peer::Double(1), Int(0), Int(5)}},
      {"qrx", {Int(3), Int(1)}},
  };
  bool handled = false;
  peer.SetFallback([&](const PageCall&, Reply) { handled = true; });
  for (const Case& c : cases) {
    CefRefPtr<CefProcessMessage> message = CefProcessMessage::Create(c.name);
    CefRefPtr<CefListValue> list = message->GetArgumentList();
    for (const auto& value : c.arguments) {
      list->SetValue(list->GetSize(), value->Copy());
    }
    harness->Frame(frameId)->SendProcessMessage(PID_BROWSER, message);
  }
  CefRefPtr<CefProcessMessage> foreign = CefProcessMessage::Create("other");
  foreign->GetArgumentList()->SetInt(0, 0);
  harness->Frame(frameId)->SendProcessMessage(PID_BROWSER, foreign);
  harness->RunUntilIdle();
  EXPECT_FALSE(handled);
  EXPECT_EQ(client->events.back(), "not bridge other");
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& line) {
                            return line.find("malformed") != std::string::npos;
                          }),
            static_cast<long>(cases.size()));
}

TEST_F(PeerLibraryTest, StrayRepliesSettleNothing) {
  const std::string child =
      harness->AddFrame(frameId, cefsim::FrameSpec{"child"});
  Page("window.v = 1;");
  Settled settled;
  peer.CallPage(HostFrame(), "v", nullptr, settled.Callback());
  // A Result for the pending id, but from another frame, and one for an id
  // never used, change nothing.
  for (const auto& fake :
       {std::make_pair(child, 0), std::make_pair(frameId, 77)}) {
    CefRefPtr<CefProcessMessage> message = CefProcessMessage::Create("qrx");
    CefRefPtr<CefListValue> list = message->GetArgumentList();
    list->SetInt(0, 1);
    list->SetInt(1, fake.second);
    list->SetString(2, "forged");
    harness->Frame(fake.first)->SendProcessMessage(PID_BROWSER, message);
  }
  harness->RunUntilIdle();
  EXPECT_EQ(settled.Text(), "Result INT 1");
}

}  // namespace

namespace {

class ForwardingClient : public CefClient {
 public:
  bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser,
                                CefRefPtr<CefFrame> frame,
                                CefProcessId source,
                                CefRefPtr<CefProcessMessage> message) override {
    return target &&
           target->OnProcessMessageReceived(browser, frame, source, message);
  }
  cef_launcher_peer::Peer* target = nullptr;

 private:
  IMPLEMENT_REFCOUNTING(ForwardingClient);
};

TEST(PeerLifetimeTest, RepliesOutliveThePeerAndCallsInFlightAreRefused) {
  nextCallId = 0;
  CefRefPtr<CefLauncherApplication> application = new CefLauncherApplication();
  auto harness = std::make_unique<cefsim::RendererHarness>(application);
  CefRefPtr<ForwardingClient> client = new ForwardingClient();
  harness->SetClient(client);
  const std::string frameId = harness->OpenBrowser().frameIds[0];
  auto peer = std::make_unique<cef_launcher_peer::Peer>();
  client->target = peer.get();
  std::optional<Reply> kept;
  peer->Handle("keep", [&](const PageCall&, Reply reply) {
    kept.emplace(std::move(reply));
  });
  harness->RunScript(frameId, std::string(kRecordSettlements) +
                                  "track('keep', squirrel.call('keep'));"
                                  "window.v = 1;");
  harness->RunUntilIdle();
  ASSERT_TRUE(kept && kept->pending());
  Settled inFlight;
  peer->CallPage(harness->HostFrame(frameId), "v", nullptr,
                 inFlight.Callback());
  client->target = nullptr;
  peer.reset();
  // Destruction runs no host code: the call is dropped unsettled.
  harness->RunUntilIdle();
  EXPECT_TRUE(inFlight.replies.empty());
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

}  // namespace
