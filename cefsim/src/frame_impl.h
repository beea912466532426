#pragma once

#include <string>
#include <vector>

#include "cefsim/transit.h"
#include "include/cef_browser.h"
#include "include/cef_frame.h"

namespace cefsim {

class BrowserModel;
struct WindowRecord;

// The library-side frame (CEF's CefFrameImpl with its Blink frame). The
// program only ever sees fresh CefFrame wrappers around it.
class FrameModel : public virtual CefBaseRefCounted {
 public:
  FrameModel() = default;
  FrameModel(const FrameModel&) = delete;
  FrameModel& operator=(const FrameModel&) = delete;

  std::string id;
  std::string name;
  std::string url;
  std::string title;
  CefRefPtr<FrameModel> parent;  // cleared on detach
  std::vector<CefRefPtr<FrameModel>> children;
  CefRefPtr<BrowserModel> browser;
  bool attached = true;
  bool runsScript = true;
  WindowRecord* mainWorld = nullptr;  // the current document's, if made
  std::vector<WindowRecord*> isolatedWorlds;
  std::vector<std::string> console;
  // CEF queues the frame's sends until the browser acknowledges its
  // connection, and drops the queue if the frame detaches first.
  bool connectionAcknowledged = true;
  std::vector<WireMessage> queuedSends;
  // The frame this one replaced in a swap, so that the browser side can
  // tell a swap from a removal and an addition.
  std::string swappedOut;

  IMPLEMENT_REFCOUNTING(FrameModel);
};

// The library-side browser (CEF's renderer CefBrowserImpl).
class BrowserModel : public virtual CefBaseRefCounted {
 public:
  BrowserModel() = default;
  BrowserModel(const BrowserModel&) = delete;
  BrowserModel& operator=(const BrowserModel&) = delete;

  int id = 0;
  bool valid = true;
  // Every attached frame, main frame first; cleared when the browser goes.
  std::vector<CefRefPtr<FrameModel>> frames;
  FrameModel* focusedFrame = nullptr;

  FrameModel* MainFrame() const {
    return frames.empty() ? nullptr : frames.front().get();
  }

  IMPLEMENT_REFCOUNTING(BrowserModel);
};

// A new client-side wrapper per hand-out, as CEF's C++ wrapper makes.
CefRefPtr<CefFrame> WrapFrame(FrameModel* frame);
CefRefPtr<CefBrowser> WrapBrowser(BrowserModel* browser);

// CEF_CURRENTLY_ON_RT(): the render main thread exists on this thread.
bool OnRenderThread();

}  // namespace cefsim
