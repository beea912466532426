// cefsim's browser side against CEF 130's: frame notifications, navigations
// that swap frames, sends to detached, swapped-out and crashed frames, the
// message taken at the call, and UI tasks on the simulated clock.

#include <string>
#include <vector>

#include "cefsim/browser_side.h"
#include "cefsim/hook_recorder.h"
#include "cefsim/renderer_harness.h"
#include "cefsim/value_text.h"
#include "gtest/gtest.h"
#include "include/cef_client.h"
#include "include/cef_task.h"

namespace {

using cefsim::FrameSpec;
using cefsim::RendererHarness;
using Texts = std::vector<std::string>;

std::string Id(const CefRefPtr<CefFrame>& frame) {
  return frame ? frame->GetIdentifier().ToString() : "null";
}

class RecordingClient : public CefClient,
                        public CefFrameHandler,
                        public CefRequestHandler {
 public:
  CefRefPtr<CefFrameHandler> GetFrameHandler() override {
    ++frameHandlerReads;
    return this;
  }
  CefRefPtr<CefRequestHandler> GetRequestHandler() override { return this; }
  bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser,
                                CefRefPtr<CefFrame> frame,
                                CefProcessId source,
                                CefRefPtr<CefProcessMessage> message) override {
    events.push_back("message " + Id(frame) + " " +
                     (source == PID_RENDERER ? "renderer " : "? ") +
                     (message->IsReadOnly() ? "read-only " : "writable ") +
                     cefsim::MessageText(message));
    EXPECT_TRUE(browser->IsValid());
    return false;
  }
  void OnFrameCreated(CefRefPtr<CefBrowser>,
                      CefRefPtr<CefFrame> frame) override {
    events.push_back("created " + Id(frame));
  }
  void OnFrameAttached(CefRefPtr<CefBrowser>,
                       CefRefPtr<CefFrame> frame,
                       bool reattached) override {
    events.push_back("attached " + Id(frame) + (reattached ? " again" : ""));
  }
  void OnFrameDetached(CefRefPtr<CefBrowser>,
                       CefRefPtr<CefFrame> frame) override {
    events.push_back("detached " + Id(frame) +
                     (frame->IsValid() ? " valid" : " invalid"));
  }
  void OnMainFrameChanged(CefRefPtr<CefBrowser>,
                          CefRefPtr<CefFrame> oldFrame,
                          CefRefPtr<CefFrame> newFrame) override {
    events.push_back("main " + Id(oldFrame) + " -> " + Id(newFrame));
  }
  void OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser,
                                 TerminationStatus status,
                                 int,
                                 const CefString&) override {
    events.push_back("terminated " + std::to_string(browser->GetIdentifier()) +
                     " " + std::to_string(status));
  }

  Texts events;
  int frameHandlerReads = 0;

 private:
  IMPLEMENT_REFCOUNTING(RecordingClient);
};

class BrowserSideTest : public testing::Test {
 protected:
  void SetUp() override {
    app = new cefsim::HookRecorder();
    harness = std::make_unique<RendererHarness>(app);
    client = new RecordingClient();
    harness->SetClient(client);
  }
  void TearDown() override { harness.reset(); }

  Texts RendererReceived() {
    Texts received;
    for (const std::string& event : app->events) {
      if (event.rfind("ProcessMessageReceived", 0) == 0) {
        received.push_back(event);
      }
    }
    return received;
  }

  CefRefPtr<cefsim::HookRecorder> app;
  std::unique_ptr<RendererHarness> harness;
  CefRefPtr<RecordingClient> client;
};

TEST_F(BrowserSideTest, FrameNotificationsFollowCefsOrder) {
  const cefsim::BrowserInfo info = harness->OpenBrowser(
      {FrameSpec{"main"}, FrameSpec{"a", "https://a/", 0}});
  const std::string main = info.frameIds[0];
  const std::string sub = info.frameIds[1];
  const std::string added = harness->AddFrame(main, FrameSpec{"b"});
  harness->RemoveFrame(sub);
  harness->CloseBrowser(info.id);
  EXPECT_EQ(
      client->events,
      (Texts{"created " + main, "main null -> " + main, "attached " + main,
             "created " + sub, "attached " + sub, "created " + added,
             "attached " + added, "detached " + sub + " invalid",
             "detached " + added + " invalid", "detached " + main + " invalid",
             "main " + main + " -> null"}));
  // GetFrameHandler is read once, when the browser is created.
  EXPECT_EQ(client->frameHandlerReads, 1);
  EXPECT_EQ(harness->HostBrowser(info.id), nullptr);
}

TEST_F(BrowserSideTest, BrowserSideObjectsMatchTheRenderersByIdentifier) {
  const cefsim::BrowserInfo info = harness->OpenBrowser(
      {FrameSpec{"main"}, FrameSpec{"kid", "https://k/", 0}});
  CefRefPtr<CefBrowser> browser = harness->HostBrowser(info.id);
  ASSERT_TRUE(browser);
  CefRefPtr<CefFrame> main = browser->GetMainFrame();
  // A new wrapper per hand-out: compare by identifier, never by pointer.
  EXPECT_NE(main.get(), browser->GetMainFrame().get());
  EXPECT_EQ(Id(main), info.frameIds[0]);
  EXPECT_EQ(Id(main), Id(harness->Frame(info.frameIds[0])));
  CefRefPtr<CefFrame> kid = browser->GetFrameByName("kid");
  EXPECT_EQ(Id(kid), info.frameIds[1]);
  EXPECT_EQ(Id(kid->GetParent()), info.frameIds[0]);
  EXPECT_FALSE(kid->IsMain());
  EXPECT_EQ(kid->GetURL().ToString(), "https://k/");
  EXPECT_EQ(browser->GetFrameCount(), 2u);
  EXPECT_EQ(kid->GetBrowser()->GetIdentifier(), info.id);
  EXPECT_EQ(main->GetV8Context(), nullptr);
}

TEST_F(BrowserSideTest, MessagesCrossTheChannelInOrderBothWays) {
  const std::string frame = harness->OpenBrowser().frameIds[0];
  for (int i = 0; i < 3; ++i) {
    CefRefPtr<CefProcessMessage> message = CefProcessMessage::Create("up");
    message->GetArgumentList()->SetInt(0, i);
    harness->Frame(frame)->SendProcessMessage(PID_BROWSER, message);
  }
  CefRefPtr<CefProcessMessage> down = CefProcessMessage::Create("down");
  CefRefPtr<CefListValue> arguments = down->GetArgumentList();
  arguments->SetString(0, "x");
  // The target is only DCHECKed: PID_BROWSER still goes to the renderer.
  harness->HostFrame(frame)->SendProcessMessage(PID_BROWSER, down);
  // Taken at the call.
  EXPECT_FALSE(down->IsValid());
  EXPECT_FALSE(arguments->IsValid());
  EXPECT_TRUE(RendererReceived().empty());
  client->events.clear();
  harness->RunUntilIdle();
  EXPECT_EQ(client->events,
            (Texts{"message " + frame + " renderer read-only up [INT 0]",
                   "message " + frame + " renderer read-only up [INT 1]",
                   "message " + frame + " renderer read-only up [INT 2]"}));
  ASSERT_EQ(RendererReceived().size(), 1u);
  EXPECT_NE(RendererReceived()[0].find("down [STRING \"x\"]"),
            std::string::npos)
      << RendererReceived()[0];
}

TEST_F(BrowserSideTest, SendsToDetachedFramesAreDroppedSilently) {
  const std::string main = harness->OpenBrowser().frameIds[0];
  const std::string sub = harness->AddFrame(main, FrameSpec{"sub"});
  CefRefPtr<CefFrame> kept = harness->HostFrame(sub);
  // Queued before the detach, discarded with it.
  CefRefPtr<CefProcessMessage> early = CefProcessMessage::Create("early");
  kept->SendProcessMessage(PID_RENDERER, early);
  harness->renderer().RemoveFrame(sub);
  harness->RunUntilIdle();
  EXPECT_FALSE(kept->IsValid());
  CefRefPtr<CefProcessMessage> late = CefProcessMessage::Create("late");
  late->GetArgumentList()->SetInt(0, 1);
  kept->SendProcessMessage(PID_RENDERER, late);
  // Invalidated even though it went nowhere.
  EXPECT_FALSE(late->IsValid());
  harness->RunUntilIdle();
  EXPECT_TRUE(RendererReceived().empty());
  EXPECT_EQ(harness->browserSide().Log(), (Texts{"dropped a message to frame " +
                                                 sub + ", which is detached"}));
}

TEST_F(BrowserSideTest, ACrashedRendererKeepsItsFramesValidButDeaf) {
  const cefsim::BrowserInfo first = harness->OpenBrowser();
  const cefsim::BrowserInfo second = harness->OpenBrowser();
  CefRefPtr<CefFrame> main = harness->HostFrame(first.frameIds[0]);
  // A message from the renderer still queued when it dies never arrives.
  harness->Frame(first.frameIds[0])
      ->SendProcessMessage(PID_BROWSER, CefProcessMessage::Create("lost"));
  client->events.clear();
  harness->TerminateRenderer(TS_PROCESS_OOM);
  EXPECT_EQ(client->events,
            (Texts{"terminated " + std::to_string(first.id) + " 3",
                   "terminated " + std::to_string(second.id) + " 3"}));
  EXPECT_TRUE(main->IsValid());
  EXPECT_EQ(Id(harness->HostBrowser(first.id)->GetMainFrame()),
            first.frameIds[0]);
  main->SendProcessMessage(PID_RENDERER, CefProcessMessage::Create("hello"));
  harness->RunUntilIdle();
  EXPECT_TRUE(RendererReceived().empty());
  EXPECT_EQ(client->events.size(), 2u);
}

// The browser side sends through the same channel as the renderer, with its
// checks: what the channel would refuse stops the run.
TEST_F(BrowserSideTest, AMessageTheChannelRefusesStopsLoudly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string frame = harness->OpenBrowser().frameIds[0];
  CefRefPtr<CefProcessMessage> deep = CefProcessMessage::Create("qrx");
  CefRefPtr<CefListValue> list = deep->GetArgumentList();
  for (int i = 0; i < 250; ++i) {
    list->SetList(0, CefListValue::Create());
    list = list->GetList(0);
  }
  EXPECT_DEATH(
      harness->HostFrame(frame)->SendProcessMessage(PID_RENDERER, deep),
      "cefsim");
}

// A navigation that swaps the frame: the renderer unloads the old document in
// the old frame and gives the new document a new frame; the browser side
// creates and attaches the new frame before the old one (sub-frames first)
// detaches, then changes the main frame.
TEST_F(BrowserSideTest, AMainFrameSwapGivesANewFrameOnBothSidesInCefsOrder) {
  const cefsim::BrowserInfo info = harness->OpenBrowser(
      {FrameSpec{"main"}, FrameSpec{"kid", "https://k/", 0}});
  const std::string old = info.frameIds[0];
  const std::string kid = info.frameIds[1];
  CefRefPtr<CefFrame> oldRenderer = harness->Frame(old);
  CefRefPtr<CefFrame> oldHost = harness->HostFrame(old);
  Texts validInRelease;
  app->onContextReleased = [&](CefRefPtr<CefBrowser>, CefRefPtr<CefFrame> frame,
                               CefRefPtr<CefV8Context>) {
    validInRelease.push_back(Id(frame) + (frame->IsValid() ? " valid" : ""));
  };
  app->events.clear();
  client->events.clear();

  const std::string fresh =
      harness->NavigateWithSwap(old, "https://other.test/");
  EXPECT_NE(fresh, old);
  EXPECT_EQ(app->events,
            (Texts{"ContextReleased " + kid, "ContextReleased " + old,
                   "ContextCreated " + fresh}));
  EXPECT_EQ(validInRelease, (Texts{kid + " valid", old + " valid"}));
  EXPECT_EQ(client->events, (Texts{"created " + fresh, "attached " + fresh,
                                   "detached " + kid + " invalid",
                                   "detached " + old + " invalid",
                                   "main " + old + " -> " + fresh}));

  // Old objects on both sides are invalid; the new frame has one identifier
  // on both sides and is each side's main frame.
  EXPECT_FALSE(oldRenderer->IsValid());
  EXPECT_FALSE(oldHost->IsValid());
  EXPECT_EQ(Id(oldRenderer), old);
  EXPECT_EQ(harness->Frame(old), nullptr);
  EXPECT_EQ(harness->HostFrame(old), nullptr);
  CefRefPtr<CefFrame> renderer = harness->Browser(info.id)->GetMainFrame();
  CefRefPtr<CefFrame> host = harness->HostBrowser(info.id)->GetMainFrame();
  EXPECT_EQ(Id(renderer), fresh);
  EXPECT_EQ(Id(host), fresh);
  EXPECT_TRUE(renderer->IsMain() && host->IsMain());
  EXPECT_EQ(host->GetURL().ToString(), "https://other.test/");
  EXPECT_EQ(renderer->GetName().ToString(), "main");
  EXPECT_EQ(harness->HostBrowser(info.id)->GetFrameCount(), 1u);

  // Closing later detaches the new frame, not the old one again.
  client->events.clear();
  harness->CloseBrowser(info.id);
  EXPECT_EQ(client->events, (Texts{"detached " + fresh + " invalid",
                                   "main " + fresh + " -> null"}));
}

TEST_F(BrowserSideTest, ASubFrameSwapKeepsItsPlaceAndTheMainFrame) {
  const cefsim::BrowserInfo info =
      harness->OpenBrowser({FrameSpec{"main"}, FrameSpec{"a", "https://a/", 0},
                            FrameSpec{"b", "https://b/", 0}});
  const std::string main = info.frameIds[0];
  client->events.clear();
  const std::string fresh =
      harness->NavigateWithSwap(info.frameIds[1], "https://c/");
  EXPECT_EQ(client->events,
            (Texts{"created " + fresh, "attached " + fresh,
                   "detached " + info.frameIds[1] + " invalid"}));
  CefRefPtr<CefBrowser> host = harness->HostBrowser(info.id);
  std::vector<CefString> hostIds;
  host->GetFrameIdentifiers(hostIds);
  EXPECT_EQ(Texts(hostIds.begin(), hostIds.end()),
            (Texts{main, fresh, info.frameIds[2]}));
  std::vector<CefString> rendererIds;
  harness->Browser(info.id)->GetFrameIdentifiers(rendererIds);
  EXPECT_EQ(Texts(rendererIds.begin(), rendererIds.end()),
            (Texts{main, fresh, info.frameIds[2]}));
  EXPECT_EQ(Id(host->GetFrameByName("a")->GetParent()), main);
  EXPECT_EQ(Id(harness->Frame(fresh)->GetParent()), main);
  EXPECT_FALSE(harness->HostFrame(fresh)->IsMain());
}

// The navigation that keeps the RenderFrameHost keeps the frame on both
// sides: same identifier, no frame notifications, sends still arrive.
TEST_F(BrowserSideTest, ANavigationThatKeepsTheFrameKeepsItOnBothSides) {
  const std::string frame = harness->OpenBrowser().frameIds[0];
  CefRefPtr<CefFrame> host = harness->HostFrame(frame);
  client->events.clear();
  app->events.clear();
  harness->Navigate(frame, "https://page.test/next");
  harness->RunUntilIdle();
  EXPECT_EQ(app->events,
            (Texts{"ContextReleased " + frame, "ContextCreated " + frame}));
  EXPECT_TRUE(client->events.empty());
  EXPECT_TRUE(host->IsValid());
  host->SendProcessMessage(PID_RENDERER, CefProcessMessage::Create("after"));
  harness->RunUntilIdle();
  EXPECT_EQ(RendererReceived(),
            (Texts{"ProcessMessageReceived " + frame + " after []"}));
}

// Sends to the old frame after a swap go nowhere; the new frame's channel
// works both ways under its own identifier.
TEST_F(BrowserSideTest, SendsToTheOldFrameAfterASwapAreDropped) {
  const std::string old = harness->OpenBrowser().frameIds[0];
  CefRefPtr<CefFrame> oldHost = harness->HostFrame(old);
  CefRefPtr<CefFrame> oldRenderer = harness->Frame(old);
  // Still queued when the renderer swaps: discarded with the old frame.
  oldHost->SendProcessMessage(PID_RENDERER,
                              CefProcessMessage::Create("queued"));
  const std::string fresh =
      harness->renderer().NavigateWithSwap(old, "https://other.test/");
  harness->RunUntilIdle();
  CefRefPtr<CefProcessMessage> late = CefProcessMessage::Create("late");
  late->GetArgumentList()->SetInt(0, 1);
  oldHost->SendProcessMessage(PID_RENDERER, late);
  EXPECT_FALSE(late->IsValid());
  // The renderer's old frame cannot send either.
  client->events.clear();
  oldRenderer->SendProcessMessage(PID_BROWSER,
                                  CefProcessMessage::Create("from old"));
  harness->RunUntilIdle();
  EXPECT_TRUE(RendererReceived().empty());
  EXPECT_TRUE(client->events.empty());
  EXPECT_EQ(harness->browserSide().Log(), (Texts{"dropped a message to frame " +
                                                 old + ", which is detached"}));
  EXPECT_EQ(harness->renderer().Log().back(),
            "WARNING: Dropping process message for a detached frame");

  harness->HostFrame(fresh)->SendProcessMessage(
      PID_RENDERER, CefProcessMessage::Create("down"));
  harness->Frame(fresh)->SendProcessMessage(PID_BROWSER,
                                            CefProcessMessage::Create("up"));
  harness->RunUntilIdle();
  EXPECT_EQ(RendererReceived(),
            (Texts{"ProcessMessageReceived " + fresh + " down []"}));
  EXPECT_EQ(client->events,
            (Texts{"message " + fresh + " renderer read-only up []"}));
}

// What was in flight when the harness swaps reaches the unloading document
// first, as it would in a browser that sent it before the navigation.
TEST_F(BrowserSideTest, AMessageSentBeforeTheSwapReachesTheOldDocument) {
  const std::string old = harness->OpenBrowser().frameIds[0];
  harness->HostFrame(old)->SendProcessMessage(
      PID_RENDERER, CefProcessMessage::Create("before"));
  const std::string fresh = harness->NavigateWithSwap(old, "https://x/");
  harness->RunUntilIdle();
  EXPECT_EQ(RendererReceived(),
            (Texts{"ProcessMessageReceived " + old + " before []"}));
  EXPECT_NE(fresh, old);
}

// The browser side sees each swap as one transition; two swaps it never saw
// in between are beyond the simulation, and it says so.
TEST_F(BrowserSideTest, TwoSwapsTheBrowserSideNeverSawStopLoudly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string first = harness->OpenBrowser().frameIds[0];
  const std::string second =
      harness->renderer().NavigateWithSwap(first, "https://b/");
  harness->renderer().NavigateWithSwap(second, "https://c/");
  EXPECT_DEATH(harness->RunUntilIdle(), "swapped twice");
}

class Counter : public CefTask {
 public:
  Counter(Texts& log, std::string name) : out(log), label(std::move(name)) {}
  void Execute() override { out.push_back(label); }

 private:
  Texts& out;
  std::string label;
  IMPLEMENT_REFCOUNTING(Counter);
};

TEST_F(BrowserSideTest, UiTasksRunInDueOrderOnTheSimulatedClock) {
  const std::string frame = harness->OpenBrowser().frameIds[0];
  Texts ran;
  EXPECT_TRUE(CefCurrentlyOn(TID_UI));
  EXPECT_TRUE(CefPostDelayedTask(TID_UI, new Counter(ran, "ui 30"), 30));
  EXPECT_TRUE(CefPostDelayedTask(TID_UI, new Counter(ran, "ui 10"), 10));
  EXPECT_TRUE(CefPostTask(TID_UI, new Counter(ran, "ui now")));
  harness->RunScript(frame, "setTimeout(() => console.log('page 20'), 20);");
  harness->AdvanceTime(0);
  EXPECT_EQ(ran, Texts{"ui now"});
  EXPECT_TRUE(harness->Console(frame).empty());
  harness->AdvanceTime(25);
  EXPECT_EQ(ran, (Texts{"ui now", "ui 10"}));
  EXPECT_EQ(harness->Console(frame), Texts{"log: page 20"});
  EXPECT_EQ(harness->renderer().Now(), 25);
  harness->AdvanceTime(5);
  EXPECT_EQ(ran, (Texts{"ui now", "ui 10", "ui 30"}));
}

TEST(BrowserSideThreadTest, WithoutABrowserSideThereIsNoUiThread) {
  Texts ran;
  EXPECT_FALSE(CefCurrentlyOn(TID_UI));
  EXPECT_FALSE(CefPostDelayedTask(TID_UI, new Counter(ran, "never"), 1));
  EXPECT_TRUE(ran.empty());
}

}  // namespace
