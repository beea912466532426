#include <random>
#include <set>
#include <string>

#include "page_fixture.h"

namespace {

using testing::ElementsAre;

class RenderHooksTest : public PageTest {};

TEST_F(RenderHooksTest, FocusReportsEveryChange) {
  harness->ChangeFocus(frame, cefsim::FocusTarget::kElement);
  harness->ChangeFocus(frame, cefsim::FocusTarget::kElement, "BUTTON");
  harness->ChangeFocus(frame, cefsim::FocusTarget::kNothing);
  EXPECT_THAT(harness->SentMessageTexts(frame),
              ElementsAre("qrx [INT 3, BOOL true]", "qrx [INT 3, BOOL true]",
                          "qrx [INT 3, BOOL false]"));
}

TEST_F(RenderHooksTest, FocusIsReportedOnTheFrameItHappenedIn) {
  cefsim::FrameSpec child;
  child.name = "child";
  child.parent = 0;
  cefsim::BrowserInfo browser =
      harness->OpenBrowser({cefsim::FrameSpec{}, child});
  harness->ChangeFocus(browser.frameIds[1], cefsim::FocusTarget::kElement);
  EXPECT_THAT(harness->SentMessageTexts(browser.frameIds[1]),
              ElementsAre("qrx [INT 3, BOOL true]"));
  EXPECT_TRUE(harness->SentMessageTexts(browser.frameIds[0]).empty());
}

// What OnProcessMessageReceived answers CEF for each kind of message.
TEST_F(RenderHooksTest, HookResultPerMessage) {
  Run("squirrel.call('pending')");
  struct Case {
    const char* name;
    std::function<bool()> send;
    bool handled;
  };
  auto raw = [this](const std::string& name,
                    std::function<void(CefRefPtr<CefListValue>)> fill) {
    CefRefPtr<CefProcessMessage> message = CefProcessMessage::Create(name);
    fill(message->GetArgumentList());
    return harness->DeliverMessage(frame, message);
  };
  const Case cases[] = {
      {"OtherName",
       [&] { return raw("other", [](auto l) { l->SetInt(0, 3); }); }, false},
      {"Malformed", [&] { return raw("qrx", [](auto l) { l->SetInt(0, 9); }); },
       false},
      {"FocusChangeFromTheBrowser",
       [&] {
         return raw("qrx", [](auto l) {
           l->SetInt(0, 3);
           l->SetBool(1, true);
         });
       },
       false},
      {"ResultForAnUnknownId",
       [&] {
         return Peer().Reply(frame, 42, cefsim::PeerReply::Result(IntValue(1)));
       },
       false},
      {"ErrorForAnUnknownId",
       [&] { return Peer().Reply(frame, 42, cefsim::PeerReply::Error("x")); },
       false},
      {"ResultForAPendingCall",
       [&] {
         return Peer().Reply(frame, 0, cefsim::PeerReply::Result(IntValue(1)));
       },
       true},
      {"CallAnsweredWithResult",
       [&] { return Peer().SendCall(frame, "Math.abs", nullptr, 1); }, true},
      {"CallAnsweredWithError",
       [&] { return Peer().SendCall(frame, "no.such.path", nullptr, 2); },
       true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.send(), c.handled) << c.name;
  }
}

// CEF drops messages to a detached frame; the hook itself must also neither
// answer nor report the Call as handled when handed one.
TEST_F(RenderHooksTest, CallToAFrameWithoutContextGetsNoReply) {
  cefsim::FrameSpec child;
  child.name = "child";
  child.parent = 0;
  cefsim::BrowserInfo browser =
      harness->OpenBrowser({cefsim::FrameSpec{}, child});
  CefRefPtr<CefFrame> detached = harness->Frame(browser.frameIds[1]);
  harness->RemoveFrame(browser.frameIds[1]);
  const size_t before = harness->SentMessages().size();
  CefRefPtr<CefProcessMessage> call =
      CallMessage("Math.max", CefListValue::Create(), 3).ToProcessMessage();
  EXPECT_FALSE(application->OnProcessMessageReceived(
      harness->Browser(browser.id), detached, PID_BROWSER, call));
  EXPECT_EQ(harness->SentMessages().size(), before);
}

TEST_F(RenderHooksTest, OneHandlerServesEveryContextOfTheProcess) {
  Run("globalThis.first = squirrel.call;");
  harness->Navigate(frame, "https://page.test/2");
  cefsim::BrowserInfo other = harness->OpenBrowser();
  // Different script objects, one handler: the call ids keep counting.
  Run("squirrel.call('a')");
  RunIn(other.frameIds.front(), "squirrel.call('b')");
  EXPECT_EQ(harness->SentMessageTexts(frame).back(),
            "qrx [INT 0, INT 0, STRING \"a\", LIST []]");
  EXPECT_EQ(harness->SentMessageTexts(other.frameIds.front()).back(),
            "qrx [INT 0, INT 1, STRING \"b\", LIST []]");
}

TEST_F(RenderHooksTest, ReleasingAContextDropsItsPendingCallsByTheNextOne) {
  Run("squirrel.call('f')");
  harness->Navigate(frame, "https://page.test/2");
  EXPECT_FALSE(Peer().Reply(frame, 0, cefsim::PeerReply::Result(IntValue(1))));
}

class NoContextYetTest : public testing::Test {};

TEST_F(NoContextYetTest, RepliesBeforeAnyContextAreNotHandled) {
  CefRefPtr<CefLauncherApplication> application = new CefLauncherApplication();
  cefsim::RendererHarness harness(application);
  cefsim::FrameSpec frameSpec;
  frameSpec.runsScript = false;
  const std::string frame = harness.OpenBrowser({frameSpec}).frameIds.front();
  EXPECT_FALSE(
      harness.Peer().Reply(frame, 0, cefsim::PeerReply::Result(IntValue(1))));
  EXPECT_FALSE(harness.Peer().Reply(frame, 0, cefsim::PeerReply::Error("e")));
}

TEST(ApplicationLifetimeTest, DestroyingWithoutHandlerReleasesNothing) {
  CefRefPtr<CefLauncherApplication> application = new CefLauncherApplication();
  EXPECT_TRUE(application->HasOneRef());
  application = nullptr;
}

// Random page calls, replies (some errors, duplicates and strangers, in any
// order) and navigations: every call of a surviving page is settled exactly
// once, with its own reply.
TEST_F(RenderHooksTest, RandomTrafficSettlesEachSurvivingCallOnce) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    TearDown();
    SetUp();
    Run("globalThis.settled = {};"
        "globalThis.place = (id, p) => p.then("
        "  v => { (settled[id] = settled[id] || []).push('ok ' + v); },"
        "  e => { (settled[id] = settled[id] || []).push('err ' + e.message); "
        "});");

    // Ids of calls made by the current page, and which ones no longer wait
    // (answered, or gone with their page).
    std::vector<int> live;
    std::set<int> answered;
    std::map<int, std::string> expected;
    int nextId = 0;
    for (int step = 0; step < 200; ++step) {
      const int action = static_cast<int>(random() % 10);
      if (action < 4) {
        Run("place(" + std::to_string(nextId) + ", squirrel.call('f'))");
        live.push_back(nextId++);
      } else if (action < 8 && nextId > 0) {
        const int id = static_cast<int>(random() % (nextId + 3)) - 1;
        const bool error = random() % 3 == 0;
        const bool ok =
            error ? Peer().Reply(
                        frame, id,
                        cefsim::PeerReply::Error("e" + std::to_string(id)))
                  : Peer().Reply(frame, id,
                                 cefsim::PeerReply::Result(IntValue(id * 10)));
        const bool pending = id >= 0 && id < nextId && !answered.count(id);
        EXPECT_EQ(ok, pending) << "id " << id;
        if (pending) {
          answered.insert(id);
          if (std::find(live.begin(), live.end(), id) != live.end()) {
            expected[id] = error ? "err e" + std::to_string(id)
                                 : "ok " + std::to_string(id * 10);
          }
        }
      } else if (action == 9) {
        harness->Navigate(frame, "https://page.test/" + std::to_string(step));
        InstallDescribe(frame);
        Run("globalThis.settled = {};"
            "globalThis.place = (id, p) => p.then("
            "  v => { (settled[id] = settled[id] || []).push('ok ' + v); },"
            "  e => { (settled[id] = settled[id] || []).push('err ' + "
            "e.message); });");
        // A page's unanswered calls go with it.
        answered.insert(live.begin(), live.end());
        live.clear();
        expected.clear();
      }
    }
    std::string want = "{";
    for (const auto& [id, outcome] : expected) {
      want += (want.size() > 1 ? ", " : "") + std::to_string(id) + ": [\"" +
              outcome + "\"]";
    }
    want += "}";
    // Object.keys orders integer-like keys ascending, as std::map does.
    EXPECT_EQ(Describe("settled"), want);
  }
}

}  // namespace
