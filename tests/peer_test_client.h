#pragma once

// A host's CefClient wired to the peer library, on cefsim's browser side,
// with the real program in the renderer.

#include <memory>
#include <string>
#include <vector>

#include "cefsim/browser_side.h"
#include "cefsim/peer_client.h"
#include "cefsim/renderer_harness.h"
#include "gtest/gtest.h"
#include "include/cef_client.h"
#include "launcher/cef_launcher_application.h"
#include "peer/peer.h"

// Records what reaches the host's client before the library sees it.
class PeerTestClient : public cefsim::PeerClient {
 public:
  explicit PeerTestClient(cef_launcher_peer::Peer& bridgePeer)
      : PeerClient(&bridgePeer) {}

  bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser,
                                CefRefPtr<CefFrame> frame,
                                CefProcessId sourceProcess,
                                CefRefPtr<CefProcessMessage> message) override {
    const bool bridge = PeerClient::OnProcessMessageReceived(
        browser, frame, sourceProcess, message);
    if (!bridge) {
      events.push_back("not bridge " + message->GetName().ToString());
    }
    return bridge;
  }
  void OnFrameAttached(CefRefPtr<CefBrowser> browser,
                       CefRefPtr<CefFrame> frame,
                       bool reattached) override {
    events.push_back("attached " + frame->GetIdentifier().ToString());
    PeerClient::OnFrameAttached(browser, frame, reattached);
  }
  void OnFrameDetached(CefRefPtr<CefBrowser> browser,
                       CefRefPtr<CefFrame> frame) override {
    events.push_back("detached " + frame->GetIdentifier().ToString());
    PeerClient::OnFrameDetached(browser, frame);
  }
  void OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser,
                                 TerminationStatus status,
                                 int errorCode,
                                 const CefString& errorString) override {
    events.push_back("terminated " + std::to_string(status));
    PeerClient::OnRenderProcessTerminated(browser, status, errorCode,
                                          errorString);
  }

  std::vector<std::string> events;
};

// One browser with a live page in its main frame; the peer answers for the
// game.
class PeerLibraryTest : public testing::Test {
 protected:
  void SetUp() override {
    StartRenderer();
    cefsim::BrowserInfo info = harness->OpenBrowser();
    browserId = info.id;
    frameId = info.frameIds.front();
  }

  // A simulated renderer whose browsers' messages reach the peer, and a log
  // of what the peer reported.
  void StartRenderer() {
    nextCallId = 0;
    application = new CefLauncherApplication();
    harness = std::make_unique<cefsim::RendererHarness>(application);
    client = new PeerTestClient(peer);
    harness->SetClient(client);
    peer.SetLogSink([this](const std::string& line) { log.push_back(line); });
  }

  void TearDown() override {
    harness.reset();
    application = nullptr;
    nextCallId = 0;
  }

  CefRefPtr<CefFrame> HostFrame() { return harness->HostFrame(frameId); }

  // Runs page script as a task, then lets everything settle.
  void Page(const std::string& code, const std::string& inFrame = "") {
    cefsim::ScriptOutcome outcome =
        harness->RunScript(inFrame.empty() ? frameId : inFrame, code);
    ASSERT_TRUE(outcome.ok) << code << "\n" << outcome.exception;
    harness->RunUntilIdle();
  }

  // A page global as JSON text.
  std::string PageJson(const std::string& expression,
                       const std::string& inFrame = "") {
    cefsim::ScriptOutcome outcome =
        harness->RunScript(inFrame.empty() ? frameId : inFrame,
                           "JSON.stringify(" + expression + ")");
    if (!outcome.ok || !outcome.value || !outcome.value->IsString()) {
      return "<" + outcome.exception + ">";
    }
    return outcome.value->GetStringValue().ToString();
  }

  cef_launcher_peer::Peer peer;
  CefRefPtr<CefLauncherApplication> application;
  std::unique_ptr<cefsim::RendererHarness> harness;
  CefRefPtr<PeerTestClient> client;
  std::vector<std::string> log;
  int browserId = 0;
  std::string frameId;
};
