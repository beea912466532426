// The example of docs/peer.md, compiled and run: a host's CefClient wired to
// the peer library. The part between the markers is the documentation's
// code, word for word; the test below checks that they agree.

#include <fstream>
#include <sstream>
#include <string>

#include "cefsim/renderer_harness.h"
#include "gtest/gtest.h"
#include "launcher/cef_launcher_application.h"

// example begin
#include <deque>

#include "include/cef_client.h"
#include "include/cef_frame_handler.h"
#include "include/cef_load_handler.h"
#include "include/cef_request_handler.h"
#include "peer/peer.h"
#include "peer/values.h"

namespace game {

using namespace cef_launcher_peer;

// One client for every browser the game opens.
class GameClient : public CefClient,
                   public CefFrameHandler,
                   public CefLoadHandler,
                   public CefRequestHandler {
 public:
  GameClient() {
    // squirrel.call("getPlayerName") in the page.
    peer.Handle("getPlayerName", [](const PageCall&, Reply reply) {
      reply.Result(String("Alice"));
    });
    // squirrel.eval(code) arrives as "compilestring". A Reply can be kept
    // and answered later, on any thread; one dropped unanswered sends an
    // Error. Every eval is kept, so none is lost to the next.
    peer.Handle("compilestring", [this](const PageCall& call, Reply reply) {
      if (call.arguments->GetSize() != 1) {
        reply.Error("eval takes one string");
        return;
      }
      evals.push_back(std::move(reply));
    });
    peer.SetFocusObserver([this](CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                                 bool element) { textInputActive = element; });
    peer.SetLogSink([](const std::string& line) {
      // Hand to the game's log: dropped and refused messages.
      (void)line;
    });
  }
  // Callbacks still due see the end while this object is whole.
  ~GameClient() override { peer.Shutdown(); }

  // Shows a toast in the page; the callback runs exactly once.
  void ShowToast(CefRefPtr<CefBrowser> browser, const std::string& text) {
    CallOptions options;
    options.timeoutMs = 2000;  // a hung renderer never answers
    peer.CallPage(
        browser->GetMainFrame(), "ui.toast.show",
        MakeList({String(text), Object({{"seconds", Int(3)}})}),
        [this](const PageReply& reply) {
          lastToast = reply.ok() ? "shown" : "failed: " + reply.text;
        },
        options);
  }

  // Answers the oldest eval still waiting.
  void FinishEval(CefRefPtr<CefValue> result) {
    if (!evals.empty()) {
      evals.front().Result(result);
      evals.pop_front();
    }
  }

  // CefClient:
  CefRefPtr<CefFrameHandler> GetFrameHandler() override { return this; }
  CefRefPtr<CefLoadHandler> GetLoadHandler() override { return this; }
  CefRefPtr<CefRequestHandler> GetRequestHandler() override { return this; }
  bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser,
                                CefRefPtr<CefFrame> frame,
                                CefProcessId source,
                                CefRefPtr<CefProcessMessage> message) override {
    if (peer.OnProcessMessageReceived(browser, frame, source, message)) {
      return true;
    }
    return false;  // the host's own messages
  }
  // CefFrameHandler:
  void OnFrameAttached(CefRefPtr<CefBrowser> browser,
                       CefRefPtr<CefFrame> frame,
                       bool reattached) override {
    peer.OnFrameAttached(browser, frame, reattached);
  }
  void OnFrameDetached(CefRefPtr<CefBrowser> browser,
                       CefRefPtr<CefFrame> frame) override {
    peer.OnFrameDetached(browser, frame);
  }
  // CefLoadHandler:
  void OnLoadStart(CefRefPtr<CefBrowser> browser,
                   CefRefPtr<CefFrame> frame,
                   TransitionType) override {
    peer.OnLoadStart(browser, frame);
  }
  // CefRequestHandler:
  void OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser,
                                 TerminationStatus,
                                 int,
                                 const CefString&) override {
    peer.OnRenderProcessTerminated(browser);
  }

  bool textInputActive = false;
  std::string lastToast;

 private:
  Peer peer;
  std::deque<Reply> evals;
  IMPLEMENT_REFCOUNTING(GameClient);
};

}  // namespace game
// example end

namespace {

TEST(PeerExampleTest, TheDocumentedClientWorks) {
  nextCallId = 0;
  CefRefPtr<CefLauncherApplication> application = new CefLauncherApplication();
  auto harness = std::make_unique<cefsim::RendererHarness>(application);
  CefRefPtr<game::GameClient> client = new game::GameClient();
  harness->SetClient(client);
  const cefsim::BrowserInfo info = harness->OpenBrowser();
  const std::string frame = info.frameIds[0];
  harness->RunScript(frame, R"JS(
    window.ui = { toast: { show(text, options) {
      window.toast = text + ' for ' + options.seconds; } } };
    squirrel.call('getPlayerName').then(name => { window.name = name; });
    squirrel.eval('return 1 + 1;').then(v => { window.sum = v; });
    squirrel.eval('return 2 + 2;').then(v => { window.other = v; });
    document.createElement('input').focus();
  )JS");
  harness->RunUntilIdle();
  client->FinishEval(cef_launcher_peer::Int(2));
  client->FinishEval(cef_launcher_peer::Int(4));
  client->ShowToast(harness->HostBrowser(info.id), "Saved");
  harness->RunUntilIdle();
  auto page = [&](const std::string& expression) {
    cefsim::ScriptOutcome outcome =
        harness->RunScript(frame, "JSON.stringify(" + expression + ")");
    return outcome.value ? outcome.value->GetStringValue().ToString() : "";
  };
  EXPECT_EQ(page("[name, sum, other, toast]"),
            "[\"Alice\",2,4,\"Saved for 3\"]");
  EXPECT_TRUE(client->textInputActive);
  EXPECT_EQ(client->lastToast, "shown");
  // A toast sent as the page moves on fails once, and says why.
  client->ShowToast(harness->HostBrowser(info.id), "Lost");
  harness->Navigate(frame, "https://page.test/next");
  harness->RunUntilIdle();
  EXPECT_EQ(client->lastToast,
            "failed: frame " + frame + " started another document");
  harness.reset();
  nextCallId = 0;
}

std::string Between(const std::string& text,
                    const std::string& begin,
                    const std::string& end) {
  const size_t from = text.find(begin);
  const size_t to = text.find(end, from == std::string::npos ? 0 : from);
  if (from == std::string::npos || to == std::string::npos) {
    return "<markers missing>";
  }
  return text.substr(from + begin.size(), to - from - begin.size());
}

std::string Read(const std::string& path) {
  std::ifstream stream(path);
  std::stringstream text;
  text << stream.rdbuf();
  return text.str();
}

TEST(PeerExampleTest, TheDocumentationShowsThisCode) {
  const std::string source = CEF_LAUNCHER_SOURCE_DIR;
  EXPECT_EQ(Between(Read(source + "/docs/peer.md"), "```cpp\n", "```\n"),
            Between(Read(source + "/tests/peer_example_test.cc"),
                    "// example begin\n", "// example end\n"));
}

}  // namespace
