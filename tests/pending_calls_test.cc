// Pending calls against page lifetimes: a call whose page has gone away
// must not keep that page alive, while every reply that could still settle
// something behaves as before.

#include <string>
#include <vector>

#include "cefsim/v8_heap.h"
#include "page_fixture.h"

namespace {

constexpr size_t kBallastBytes = 40'000 * sizeof(double);
constexpr char kBallastPage[] =
    "globalThis.ballast = Array.from({length: 40000}, (_, i) => i + 0.5);";
constexpr int kCallsPerPage = 20;

class PendingCallsTest : public PageTest {
 protected:
  bool Reply(const std::string& frameId, int32_t id, int value) {
    return Peer().Reply(frameId, id,
                        cefsim::PeerReply::Result(IntValue(value)));
  }

  // A new document that leaves kCallsPerPage calls unanswered.
  void LoadPageWithPendingCalls() {
    harness->Navigate(frame, "https://page.test/");
    RunIn(frame, std::string(kBallastPage) +
                     "for (let i = 0; i < 20; i++) squirrel.call('never', i);");
  }
};

TEST_F(PendingCallsTest, NavigationsLeavingCallsUnansweredKeepTheHeapFlat) {
  for (int i = 0; i < 10; ++i) {
    LoadPageWithPendingCalls();
  }
  const size_t start = cefsim::UsedHeapAfterFullGc();
  for (int i = 0; i < 300; ++i) {
    LoadPageWithPendingCalls();
  }
  const size_t end = cefsim::UsedHeapAfterFullGc();
  // Each page kept alive would add its ballast and its whole context.
  EXPECT_LT(end, start + 4 * kBallastBytes)
      << "start " << start << " end " << end;

  // Only the live page's calls are left: every earlier id finds nothing.
  const int32_t live = nextCallId - kCallsPerPage;
  ASSERT_EQ(live, 309 * kCallsPerPage);
  int answeredOld = 0;
  for (int32_t id = 0; id < live; ++id) {
    answeredOld += Reply(frame, id, 1) ? 1 : 0;
  }
  EXPECT_EQ(answeredOld, 0);
  for (int32_t id = live; id < nextCallId; ++id) {
    EXPECT_TRUE(Reply(frame, id, 1)) << id;
  }
}

// A released context's calls stay until the next call or context creation;
// replies to the calls of live contexts are not touched by the sweep.
TEST_F(PendingCallsTest, ReleasedCallsGoAtTheNextCallOrContextCreation) {
  enum class Between { kNothing, kCall, kNewContext };
  struct Case {
    const char* name;
    Between between;  // after the child frame's removal, before the replies
    bool releasedCallFound;
  };
  const Case cases[] = {
      {"the reply comes before the sweep", Between::kNothing, true},
      {"a call from the live page", Between::kCall, false},
      {"a new context (another frame loads)", Between::kNewContext, false},
  };
  for (const Case& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    const std::string child =
        harness->AddFrame(frame, cefsim::FrameSpec{"child"});
    const int32_t liveId = nextCallId;
    Run("globalThis.got = 'pending';"
        "squirrel.call('live').then(v => { globalThis.got = v; });");
    const int32_t releasedId = nextCallId;
    RunIn(child, "squirrel.call('stranded')");
    harness->RemoveFrame(child);

    if (testCase.between == Between::kCall) {
      Run("squirrel.call('later')");
    } else if (testCase.between == Between::kNewContext) {
      harness->AddFrame(frame, cefsim::FrameSpec{"other"});
    }
    // Replies arrive on the frame that is left: as before, a found call is
    // answered true though its promise can settle nothing.
    EXPECT_EQ(Reply(frame, releasedId, 2), testCase.releasedCallFound);
    EXPECT_FALSE(Reply(frame, releasedId, 2));
    EXPECT_TRUE(Reply(frame, liveId, 7));
    EXPECT_EQ(Describe("got"), "number 7");
  }
}

// What the docs promise page authors about ids and replies.
TEST_F(PendingCallsTest, ACallMadeWhileArgumentsAreReadTakesItsIdFirst) {
  Run("squirrel.call('outer', {get x() { squirrel.call('inner'); return 1; "
      "}})");
  const std::vector<std::string> sent = harness->SentMessageTexts(frame);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_THAT(sent[0], testing::StartsWith(
                           "qrx [INT 0, INT 0, STRING \"inner\", LIST []]"));
  EXPECT_THAT(sent[1],
              testing::StartsWith("qrx [INT 0, INT 1, STRING \"outer\""));
}

TEST_F(PendingCallsTest, AReplyOnAnotherFrameSettlesALivePagesCall) {
  const std::string child =
      harness->AddFrame(frame, cefsim::FrameSpec{"child"});
  InstallDescribe(child);
  RunIn(child,
        "globalThis.got = 'pending';"
        "squirrel.call('f').then(v => { globalThis.got = v; });");
  EXPECT_TRUE(Reply(frame, 0, 5));
  EXPECT_EQ(RunIn(child, "describe(got)")->GetStringValue().ToString(),
            "number 5");
}

}  // namespace
