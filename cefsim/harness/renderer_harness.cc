#include "cefsim/renderer_harness.h"

#include "cefsim/peer.h"
#include "cefsim/process_roles.h"
#include "cefsim/transit.h"
#include "cefsim/value_text.h"

namespace cefsim {

RendererHarness::RendererHarness(CefRefPtr<CefApp> application)
    : process(std::make_unique<RendererProcess>(std::move(application))) {
  process->SetOutbox(
      [this](const std::string& frameId, const WireMessage& wire) {
        // The browser process sees a fresh read-only message per receipt.
        sent.push_back(SentMessage{frameId, Receive(wire)});
      });
  peer = std::make_unique<BrowserPeer>(*this);
}

RendererHarness::~RendererHarness() {
  // Contexts are released while the browser side can still record.
  process.reset();
}

BrowserInfo RendererHarness::OpenBrowser(
    const std::vector<FrameSpec>& frames,
    CefRefPtr<CefDictionaryValue> extraInfo) {
  return process->OpenBrowser(frames, extraInfo);
}

bool RendererHarness::DeliverMessage(const std::string& frameId,
                                     CefRefPtr<CefProcessMessage> message) {
  if (!message) {
    return false;
  }
  std::optional<WireMessage> wire = TakeForSending(message);
  if (!wire) {
    return false;
  }
  return process->DeliverMessage(frameId, *wire);
}

std::vector<CefRefPtr<CefProcessMessage>> RendererHarness::SentMessages(
    const std::string& frameId) const {
  std::vector<CefRefPtr<CefProcessMessage>> result;
  for (const SentMessage& entry : sent) {
    if (entry.frameId == frameId) {
      result.push_back(entry.message);
    }
  }
  return result;
}

std::vector<std::string> RendererHarness::SentMessageTexts(
    const std::string& frameId) const {
  std::vector<std::string> result;
  for (const SentMessage& entry : sent) {
    if (entry.frameId == frameId) {
      result.push_back(MessageText(entry.message));
    }
  }
  return result;
}

int RendererHarness::RunUntilIdle() {
  int steps = 0;
  for (;;) {
    const int handled = peer->Pump() + process->RunPendingTasks();
    if (handled == 0) {
      return steps;
    }
    steps += handled;
  }
}

void InstallRendererHarnessRole(std::function<int(RendererHarness&)> session) {
  SetRendererRole([session](CefRefPtr<CefApp> application) {
    RendererHarness harness(application);
    return session ? session(harness) : 0;
  });
}

}  // namespace cefsim
