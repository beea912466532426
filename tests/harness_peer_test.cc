// The browser-side peer: decoding what the renderer sends, answering Calls
// by name, calling page paths, and the whole loop with the real program.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/bridge_message.h"
#include "cefsim/hook_recorder.h"
#include "cefsim/peer.h"
#include "cefsim/renderer_harness.h"
#include "cefsim/value_text.h"
#include "launcher/cef_launcher_application.h"

namespace {

using cefsim::BrowserPeer;
using cefsim::FocusTarget;
using cefsim::HookRecorder;
using cefsim::PeerReply;
using cefsim::RendererHarness;
using Texts = std::vector<std::string>;

CefRefPtr<CefValue> Int(int value) {
  CefRefPtr<CefValue> result = CefValue::Create();
  result->SetInt(value);
  return result;
}

CefRefPtr<CefListValue> Ints(const std::vector<int>& values) {
  CefRefPtr<CefListValue> list = CefListValue::Create();
  for (size_t i = 0; i < values.size(); ++i) {
    list->SetInt(i, values[i]);
  }
  return list;
}

// The peer against a renderer that sends bridge messages by hand.
class PeerTest : public testing::Test {
 protected:
  void SetUp() override {
    app = new HookRecorder();
    harness = std::make_unique<RendererHarness>(app);
    frame = harness->OpenBrowser().frameIds[0];
  }
  void TearDown() override { harness.reset(); }

  void RendererSends(CefRefPtr<CefProcessMessage> message) {
    harness->Frame(frame)->SendProcessMessage(PID_BROWSER, message);
  }
  std::vector<std::string> Received() {
    std::vector<std::string> received;
    for (const std::string& event : app->events) {
      if (event.rfind("ProcessMessageReceived", 0) == 0) {
        received.push_back(event.substr(event.find(' ', 23) + 1));
      }
    }
    return received;
  }

  CefRefPtr<HookRecorder> app;
  std::unique_ptr<RendererHarness> harness;
  std::string frame;
};

TEST_F(PeerTest, AnswersCallsByNameAndLeavesOthersPending) {
  BrowserPeer& peer = harness->Peer();
  peer.Answer("add", [](const BrowserPeer::Call& call) {
    return PeerReply::Result(
        Int(call.arguments->GetInt(0) + call.arguments->GetInt(1)));
  });
  peer.AnswerWith("fail", PeerReply::Error("no {luck}"));
  RendererSends(CallMessage("add", Ints({2, 3}), 10).ToProcessMessage());
  RendererSends(CallMessage("fail", Ints({}), 11).ToProcessMessage());
  RendererSends(CallMessage("unknown", Ints({}), 12).ToProcessMessage());
  EXPECT_EQ(harness->RunUntilIdle(), 3);
  EXPECT_EQ(Received(), (Texts{"qrx [INT 1, INT 10, INT 5]",
                               "qrx [INT 2, INT 11, STRING \"no {luck}\"]"}));
  ASSERT_EQ(peer.calls().size(), 3u);
  EXPECT_EQ(peer.calls()[2].function, "unknown");
  EXPECT_EQ(peer.calls()[2].id, 12);
  EXPECT_EQ(peer.calls()[2].frameId, frame);
  // A pending call can still be answered by hand, once, through the
  // library's reply; another answer goes out raw. Either way the result is
  // the recording renderer's hook's: false.
  EXPECT_FALSE(peer.Reply(frame, 12, PeerReply::Result(Int(0))));
  EXPECT_EQ(Received().back(), "qrx [INT 1, INT 12, INT 0]");
  EXPECT_FALSE(peer.Reply(frame, 12, PeerReply::Error("late")));
  EXPECT_EQ(Received().back(), "qrx [INT 2, INT 12, STRING \"late\"]");
}

TEST_F(PeerTest, CollectsPageRepliesFocusReportsAndRejects) {
  BrowserPeer& peer = harness->Peer();
  app->onProcessMessageReceived = [this](CefRefPtr<CefBrowser>,
                                         CefRefPtr<CefFrame>, CefProcessId,
                                         CefRefPtr<CefProcessMessage>) {
    // A page answering the peer's Call with id 0.
    RendererSends(ResultMessage{0, Int(42)}.ToProcessMessage());
    return true;
  };
  std::optional<PeerReply> reply =
      peer.CallPage(frame, "answer.get", Ints({1}));
  app->onProcessMessageReceived = nullptr;
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->Text(), "Result INT 42");
  EXPECT_EQ(Received(),
            (Texts{"qrx [INT 0, INT 0, STRING \"answer.get\", LIST [INT 1]]"}));
  // The peer's ids are its own sequence and leave the program's alone.
  const int32_t before = nextCallId;
  peer.CallPage(frame, "x");
  EXPECT_EQ(nextCallId, before);
  EXPECT_EQ(Received().back(), "qrx [INT 0, INT 1, STRING \"x\", LIST []]");

  RendererSends(FocusChangeMessage{true}.ToProcessMessage());
  RendererSends(FocusChangeMessage{false}.ToProcessMessage());
  RendererSends(ErrorMessage{7, CefString("bad")}.ToProcessMessage());
  CefRefPtr<CefProcessMessage> odd = CefProcessMessage::Create("other");
  odd->GetArgumentList()->SetDouble(0, 1.0);
  RendererSends(odd);
  peer.Pump();
  EXPECT_EQ(peer.focusReports(), (std::vector<bool>{true, false}));
  ASSERT_TRUE(peer.ReplyFor(7));
  EXPECT_EQ(peer.ReplyFor(7)->Text(), "Error \"bad\"");
  EXPECT_EQ(peer.rejected(), (Texts{"other [DOUBLE 1]"}));
}

TEST_F(PeerTest, SendsRawMessages) {
  BrowserPeer& peer = harness->Peer();
  CefRefPtr<CefListValue> arguments = CefListValue::Create();
  arguments->SetInt(0, 9);
  arguments->SetString(1, "x");
  peer.SendRaw(frame, arguments);
  peer.SendRaw(frame, CefProcessMessage::Create("QRX"));
  EXPECT_EQ(Received(), (Texts{"qrx [INT 9, STRING \"x\"]", "QRX []"}));
}

// The peer driving the real program end to end.
class PeerWithProgramTest : public testing::Test {
 protected:
  void SetUp() override {
    harness = std::make_unique<RendererHarness>(new CefLauncherApplication());
    frame = harness->OpenBrowser().frameIds[0];
  }
  void TearDown() override { harness.reset(); }

  std::string Page(const std::string& code) {
    cefsim::ScriptOutcome outcome = harness->RunScript(frame, code);
    EXPECT_TRUE(outcome.ok) << outcome.exception;
    return outcome.value ? outcome.value->GetStringValue().ToString() : "";
  }

  std::unique_ptr<RendererHarness> harness;
  std::string frame;
};

TEST_F(PeerWithProgramTest, SquirrelCallIsAnsweredThroughThePeer) {
  BrowserPeer& peer = harness->Peer();
  peer.Answer("add", [](const BrowserPeer::Call& call) {
    return PeerReply::Result(
        Int(call.arguments->GetInt(0) + call.arguments->GetInt(1)));
  });
  peer.AnswerWith("compilestring", PeerReply::Error("no compiler"));
  Page(
      "var got = []; squirrel.call('add', 1, 2).then(v => got.push(v));"
      "squirrel.eval('1+1').catch(e => got.push(e.message))");
  harness->RunUntilIdle();
  EXPECT_EQ(Page("got.join()"), "3,no compiler");
  ASSERT_EQ(peer.calls().size(), 2u);
  EXPECT_EQ(cefsim::ValueText(peer.calls()[0].arguments), "[INT 1, INT 2]");
  EXPECT_EQ(peer.calls()[1].function, "compilestring");
}

TEST_F(PeerWithProgramTest, PagePathsAndFocusReports) {
  BrowserPeer& peer = harness->Peer();
  std::optional<PeerReply> max = peer.CallPage(frame, "Math.max", Ints({1, 2}));
  ASSERT_TRUE(max);
  EXPECT_EQ(max->Text(), "Result INT 2");
  std::optional<PeerReply> missing = peer.CallPage(frame, "ui.panel.close");
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->Text(),
            "Error \"Object 'panel' is not valid in path 'ui.panel.close'.\"");
  harness->ChangeFocus(frame, FocusTarget::kElement);
  harness->ChangeFocus(frame, FocusTarget::kNothing);
  peer.Pump();
  EXPECT_EQ(peer.focusReports(), (std::vector<bool>{true, false}));
}

// The library in the loop: neither a held call whose frame went nor a call
// into that frame is sent.
TEST_F(PeerWithProgramTest, FramesThatGoEndTheirCalls) {
  BrowserPeer& peer = harness->Peer();
  cefsim::FrameSpec childSpec;
  childSpec.url = "https://page.test/child";
  const std::string child = harness->AddFrame(frame, childSpec);
  ASSERT_TRUE(harness->RunScript(child, "squirrel.call('later')").ok);
  peer.Pump();
  ASSERT_EQ(peer.calls().size(), 1u);
  harness->RemoveFrame(child);
  EXPECT_FALSE(
      peer.Reply(child, peer.calls()[0].id, PeerReply::Result(Int(1))));
  EXPECT_THAT(peer.libraryLog(), testing::Contains(testing::HasSubstr(
                                     "not sent: frame " + child + " is gone")));

  // A frame that is gone gets no call.
  EXPECT_FALSE(peer.CallPage(child, "Math.max"));
  EXPECT_THAT(peer.libraryLog(),
              testing::Contains(testing::HasSubstr("call of 'Math.max' "
                                                   "refused")));
  // The main frame still answers.
  std::optional<PeerReply> max = peer.CallPage(frame, "Math.max", Ints({4}));
  ASSERT_TRUE(max);
  EXPECT_EQ(max->Text(), "Result INT 4");
}

TEST_F(PeerWithProgramTest, AfterTheRendererDiesNothingIsSent) {
  BrowserPeer& peer = harness->Peer();
  ASSERT_TRUE(harness->RunScript(frame, "squirrel.call('later')").ok);
  peer.Pump();
  ASSERT_EQ(peer.calls().size(), 1u);
  harness->TerminateRenderer();
  EXPECT_FALSE(peer.Reply(frame, peer.calls()[0].id, PeerReply::Error("x")));
  EXPECT_FALSE(peer.CallPage(frame, "Math.max"));
  EXPECT_THAT(peer.libraryLog(),
              testing::ElementsAre(testing::HasSubstr("is gone"),
                                   testing::HasSubstr("is gone")));
}

}  // namespace
