#include "cefsim/renderer_harness.h"

#include <algorithm>
#include <optional>

#include "bridge/bridge_message.h"
#include "cefsim/browser_side.h"
#include "cefsim/peer.h"
#include "cefsim/process_roles.h"
#include "cefsim/transit.h"
#include "cefsim/value_text.h"

namespace cefsim {

RendererHarness::RendererHarness(CefRefPtr<CefApp> application)
    : process(std::make_unique<RendererProcess>(std::move(application))) {
  // A new renderer process starts with the program's process-wide state
  // fresh: its call ids count from 0 again.
  nextCallId = 0;
  hostSide = std::make_unique<BrowserSide>(*process);
  process->SetOutbox(
      [this](const std::string& frameId, const WireMessage& wire) {
        // The browser process sees a fresh read-only message per receipt.
        sent.push_back(SentMessage{frameId, Receive(wire)});
        hostSide->FromRenderer(frameId, wire);
      });
  peer = std::make_unique<BrowserPeer>(*this);
}

RendererHarness::~RendererHarness() {
  // Contexts are released while the browser side can still record.
  process.reset();
  hostSide.reset();
}

BrowserInfo RendererHarness::OpenBrowser(
    const std::vector<FrameSpec>& frames,
    CefRefPtr<CefDictionaryValue> extraInfo) {
  BrowserInfo info = process->OpenBrowser(frames, extraInfo);
  hostSide->BrowserOpened(info.id);
  return info;
}

void RendererHarness::CloseBrowser(int browserId) {
  // What the renderer sent before reaches the browser before the close.
  hostSide->Pump();
  process->CloseBrowser(browserId);
  hostSide->SyncFrames();
}

std::string RendererHarness::AddFrame(const std::string& parentId,
                                      const FrameSpec& frameSpec) {
  std::string frameId = process->AddFrame(parentId, frameSpec);
  hostSide->SyncFrames();
  return frameId;
}

void RendererHarness::RemoveFrame(const std::string& frameId) {
  hostSide->Pump();
  process->RemoveFrame(frameId);
  hostSide->SyncFrames();
}

void RendererHarness::Navigate(const std::string& frameId,
                               const std::string& url) {
  process->Navigate(frameId, url);
  hostSide->DocumentCommitted(frameId);
}

std::string RendererHarness::NavigateWithSwap(const std::string& frameId,
                                              const std::string& url) {
  hostSide->Pump();
  std::string newFrameId = process->NavigateWithSwap(frameId, url);
  hostSide->SyncFrames();
  return newFrameId;
}

void RendererHarness::SetClient(CefRefPtr<CefClient> client) {
  hostSide->SetClient(std::move(client));
}

CefRefPtr<CefBrowser> RendererHarness::HostBrowser(int browserId) {
  return hostSide->Browser(browserId);
}

CefRefPtr<CefFrame> RendererHarness::HostFrame(const std::string& frameId) {
  return hostSide->Frame(frameId);
}

void RendererHarness::TerminateRenderer(cef_termination_status_t status) {
  hostSide->TerminateRenderer(status);
}

void RendererHarness::AdvanceTime(int64_t timeMs) {
  const int64_t until = process->Now() + std::max<int64_t>(timeMs, 0);
  // Like RunUntilIdle, but page timers run only once they are due.
  auto settle = [this] {
    for (;;) {
      int handled = peer->Pump() + hostSide->Pump();
      if (!hostSide->RendererTerminated() &&
          process->RunNextTask(process->Now())) {
        ++handled;
      }
      if (handled == 0) {
        return;
      }
    }
  };
  settle();
  for (;;) {
    // Page timers and UI tasks in the order they fall due.
    const std::optional<int64_t> uiDue = hostSide->NextTaskDue();
    const int64_t limit = uiDue && *uiDue < until ? *uiDue : until;
    if (!hostSide->RendererTerminated() && process->RunNextTask(limit)) {
      settle();
      continue;
    }
    if (uiDue && *uiDue <= until) {
      process->AdvanceClock(*uiDue);
      settle();
      continue;
    }
    break;
  }
  process->AdvanceClock(until);
  settle();
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
    int handled = peer->Pump() + hostSide->Pump();
    // A dead renderer runs nothing more.
    if (!hostSide->RendererTerminated()) {
      handled += process->RunPendingTasks();
    }
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
