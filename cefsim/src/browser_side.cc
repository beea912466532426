#include "cefsim/browser_side.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "cefsim/fatal.h"
#include "cefsim/renderer_process.h"
#include "include/cef_load_handler.h"

namespace cefsim {

// The browser process's CefFrameHostImpl: one per RenderFrameHost, under the
// identifier the renderer uses too.
class BrowserSideFrame : public virtual CefBaseRefCounted {
 public:
  std::string id;
  std::string name;
  std::string url;
  std::string parentId;
  bool isMain = false;
  // Detached (or its browser closed): IsValid() is false.
  bool detached = false;
  // The renderer died: still IsValid(), but there is no RenderFrameHost.
  bool noRenderFrame = false;
  // Kept after a detach; the cycle with the browser's frame list ends when
  // the frame leaves it, or when the browser side goes.
  CefRefPtr<BrowserSideBrowser> browser;
  BrowserSide* side = nullptr;  // cleared when the side goes

  IMPLEMENT_REFCOUNTING(BrowserSideFrame);
};

class BrowserSideBrowser : public virtual CefBaseRefCounted {
 public:
  int id = 0;
  bool valid = true;
  CefRefPtr<CefClient> client;
  // GetFrameHandler() is read once, when the browser is created.
  CefRefPtr<CefFrameHandler> frameHandler;
  std::vector<CefRefPtr<BrowserSideFrame>> frames;  // attached, main first
  CefRefPtr<BrowserSideFrame> mainFrame;            // kept after a crash

  BrowserSideFrame* FindFrame(const std::string& frameId) const {
    for (const CefRefPtr<BrowserSideFrame>& frame : frames) {
      if (frame->id == frameId) {
        return frame.get();
      }
    }
    return nullptr;
  }

  IMPLEMENT_REFCOUNTING(BrowserSideBrowser);
};

namespace {

// Browser sides alive on this thread, newest last: the newest is TID_UI.
thread_local std::vector<BrowserSide*> browserSides;

// Browser sides alive on every thread, newest last, and the tasks other
// threads posted to them: CefPostTask works from any thread.
std::mutex& PostingLock() {
  static std::mutex lock;
  return lock;
}
std::vector<BrowserSide*>& AllBrowserSides() {
  static std::vector<BrowserSide*> sides;
  return sides;
}

[[noreturn]] void NotSimulated(const std::string& what) {
  Fatal("cefsim: " + what +
        " on the browser side is not simulated; the peer library and its "
        "tests do not need it");
}

CefRefPtr<CefBrowser> WrapHostBrowser(BrowserSideBrowser* browser);

// The browser process's delegate for a browser-side object, or a loud stop.
BrowserHostDelegate* DelegateFor(BrowserSide* side, const std::string& what) {
  BrowserHostDelegate* delegate = side ? side->HostDelegate() : nullptr;
  if (!delegate) {
    NotSimulated(what);
  }
  return delegate;
}

class HostBrowserHost : public CefBrowserHost {
 public:
  explicit HostBrowserHost(CefRefPtr<BrowserSideBrowser> browserModel)
      : model(std::move(browserModel)) {}

  CefRefPtr<CefBrowser> GetBrowser() override {
    return WrapHostBrowser(model.get());
  }
  void CloseBrowser(bool force_close) override {
    DelegateFor(BrowserSide::Current(), "CefBrowserHost::CloseBrowser")
        ->CloseBrowser(model->id, force_close);
  }
  bool TryCloseBrowser() override {
    NotSimulated("CefBrowserHost::TryCloseBrowser");
  }
  void SetFocus(bool focus) override {
    DelegateFor(BrowserSide::Current(), "CefBrowserHost::SetFocus")
        ->SetFocus(model->id, focus);
  }

 private:
  CefRefPtr<BrowserSideBrowser> model;
  IMPLEMENT_REFCOUNTING(HostBrowserHost);
};

// A new wrapper per hand-out, as CEF's C++ wrapper makes: frames compare by
// GetIdentifier(), never by pointer.
class HostFrame : public CefFrame {
 public:
  explicit HostFrame(CefRefPtr<BrowserSideFrame> frameModel)
      : model(std::move(frameModel)) {}

  bool IsValid() override { return !model->detached; }
  void Undo() override { NotSimulated("CefFrame::Undo"); }
  void Redo() override { NotSimulated("CefFrame::Redo"); }
  void Cut() override { NotSimulated("CefFrame::Cut"); }
  void Copy() override { NotSimulated("CefFrame::Copy"); }
  void Paste() override { NotSimulated("CefFrame::Paste"); }
  void Delete() override { NotSimulated("CefFrame::Delete"); }
  void SelectAll() override { NotSimulated("CefFrame::SelectAll"); }
  void ViewSource() override { NotSimulated("CefFrame::ViewSource"); }
  void GetSource(CefRefPtr<CefStringVisitor>) override {
    NotSimulated("CefFrame::GetSource");
  }
  void GetText(CefRefPtr<CefStringVisitor>) override {
    NotSimulated("CefFrame::GetText");
  }
  void LoadRequest(CefRefPtr<CefRequest>) override {
    NotSimulated("CefFrame::LoadRequest");
  }
  void LoadURL(const CefString& url) override {
    DelegateFor(model->side, "CefFrame::LoadURL")
        ->LoadUrl(model->id, url.ToString());
  }
  void ExecuteJavaScript(const CefString& code,
                         const CefString& script_url,
                         int start_line) override {
    DelegateFor(model->side, "CefFrame::ExecuteJavaScript")
        ->ExecuteJavaScript(model->id, code.ToString(), script_url.ToString(),
                            start_line);
  }
  bool IsMain() override { return model->isMain; }
  bool IsFocused() override { return model->isMain; }
  CefString GetName() override { return model->name; }
  CefString GetIdentifier() override { return model->id; }
  CefRefPtr<CefFrame> GetParent() override {
    if (model->parentId.empty() || !model->browser) {
      return nullptr;
    }
    BrowserSideFrame* parent = model->browser->FindFrame(model->parentId);
    return parent ? new HostFrame(parent) : nullptr;
  }
  CefString GetURL() override {
    // CEF refreshes a kept frame's URL when a navigation commits in it; a
    // detached or crashed frame keeps its last one.
    if (!model->detached && !model->noRenderFrame && model->side) {
      if (CefRefPtr<CefFrame> live = model->side->renderer().Frame(model->id)) {
        model->url = live->GetURL().ToString();
      }
    }
    return model->url;
  }
  CefRefPtr<CefBrowser> GetBrowser() override {
    return model->browser ? WrapHostBrowser(model->browser.get()) : nullptr;
  }
  // CEF: NOTREACHED() in the browser process, which a release build passes.
  CefRefPtr<CefV8Context> GetV8Context() override { return nullptr; }
  // CEF: NOTREACHED() in the browser process; the visitor is never called.
  void VisitDOM(CefRefPtr<CefDOMVisitor>) override {}
  CefRefPtr<CefURLRequest> CreateURLRequest(
      CefRefPtr<CefRequest>,
      CefRefPtr<CefURLRequestClient>) override {
    NotSimulated("CefFrame::CreateURLRequest");
  }

  void SendProcessMessage(CefProcessId /*target_process*/,
                          CefRefPtr<CefProcessMessage> message) override {
    // CEF only DCHECKs the target: in release everything goes to the
    // renderer, whatever `target_process` says.
    BrowserSide* side = model->side;
    if (!BrowserSide::Current()) {
      Fatal(
          "CefFrame::SendProcessMessage on the browser side with no browser "
          "side on this thread (CEF would post it to a UI thread that does "
          "not exist)");
    }
    if (!message) {
      return;  // the C++ wrapper ignores a null message
    }
    // The arguments are taken at the call: the message is invalid afterwards
    // even when the send is dropped below. An invalid message is a no-op.
    std::optional<WireMessage> wire = TakeForSending(message);
    if (!wire) {
      return;
    }
    // A detached frame, or one whose renderer died, has no RenderFrameHost:
    // CEF drops the message with only a log warning.
    if (!side) {
      return;  // the simulated browser process has ended
    }
    if (model->detached || model->noRenderFrame) {
      side->AddLog("dropped a message to frame " + model->id +
                   (model->detached ? ", which is detached"
                                    : ", whose renderer is gone"));
      return;
    }
    side->ToRenderer(model->id, *wire);
  }

 private:
  CefRefPtr<BrowserSideFrame> model;
  IMPLEMENT_REFCOUNTING(HostFrame);
};

class HostBrowser : public CefBrowser {
 public:
  explicit HostBrowser(CefRefPtr<BrowserSideBrowser> browserModel)
      : model(std::move(browserModel)) {}

  bool IsValid() override { return model->valid; }
  CefRefPtr<CefBrowserHost> GetHost() override {
    return new HostBrowserHost(model);
  }
  bool CanGoBack() override { return false; }
  void GoBack() override { NotSimulated("CefBrowser::GoBack"); }
  bool CanGoForward() override { return false; }
  void GoForward() override { NotSimulated("CefBrowser::GoForward"); }
  bool IsLoading() override { return false; }
  void Reload() override { NotSimulated("CefBrowser::Reload"); }
  void ReloadIgnoreCache() override {
    NotSimulated("CefBrowser::ReloadIgnoreCache");
  }
  void StopLoad() override { NotSimulated("CefBrowser::StopLoad"); }
  int GetIdentifier() override { return model->id; }
  bool IsSame(CefRefPtr<CefBrowser> that) override {
    return that && that->GetIdentifier() == model->id;
  }
  bool IsPopup() override { return false; }
  bool HasDocument() override { return model->valid; }
  // After a renderer crash CEF still returns the old main frame, valid.
  CefRefPtr<CefFrame> GetMainFrame() override {
    return model->mainFrame && !model->mainFrame->detached
               ? new HostFrame(model->mainFrame)
               : nullptr;
  }
  CefRefPtr<CefFrame> GetFocusedFrame() override { return GetMainFrame(); }
  CefRefPtr<CefFrame> GetFrameByIdentifier(
      const CefString& identifier) override {
    BrowserSideFrame* frame = model->FindFrame(identifier.ToString());
    return frame ? new HostFrame(frame) : nullptr;
  }
  CefRefPtr<CefFrame> GetFrameByName(const CefString& name) override {
    for (const CefRefPtr<BrowserSideFrame>& frame : model->frames) {
      if (frame->name == name.ToString()) {
        return new HostFrame(frame);
      }
    }
    return nullptr;
  }
  size_t GetFrameCount() override { return model->frames.size(); }
  void GetFrameIdentifiers(std::vector<CefString>& identifiers) override {
    identifiers.clear();
    for (const CefRefPtr<BrowserSideFrame>& frame : model->frames) {
      identifiers.push_back(frame->id);
    }
  }
  void GetFrameNames(std::vector<CefString>& names) override {
    names.clear();
    for (const CefRefPtr<BrowserSideFrame>& frame : model->frames) {
      names.push_back(frame->name);
    }
  }

 private:
  CefRefPtr<BrowserSideBrowser> model;
  IMPLEMENT_REFCOUNTING(HostBrowser);
};

CefRefPtr<CefBrowser> WrapHostBrowser(BrowserSideBrowser* browser) {
  return new HostBrowser(browser);
}

// The renderer's frames of a browser, in its order (parents first).
std::vector<std::string> FrameIds(CefRefPtr<CefBrowser> rendererBrowser) {
  std::vector<CefString> ids;
  rendererBrowser->GetFrameIdentifiers(ids);
  return std::vector<std::string>(ids.begin(), ids.end());
}

}  // namespace

BrowserSide::BrowserSide(RendererProcess& rendererProcess)
    : process(rendererProcess) {
  browserSides.push_back(this);
  std::lock_guard<std::mutex> guard(PostingLock());
  AllBrowserSides().push_back(this);
}

BrowserSide::~BrowserSide() {
  // Objects the host still holds outlive the simulated browser process.
  for (const CefRefPtr<BrowserSideBrowser>& browser : browsers) {
    browser->valid = false;
    for (const CefRefPtr<BrowserSideFrame>& frame : browser->frames) {
      frame->detached = true;
      frame->side = nullptr;
      frame->browser = nullptr;
    }
    if (browser->mainFrame) {
      browser->mainFrame->side = nullptr;
      browser->mainFrame->browser = nullptr;
    }
  }
  browserSides.erase(
      std::remove(browserSides.begin(), browserSides.end(), this),
      browserSides.end());
  std::vector<std::pair<CefRefPtr<CefTask>, int64_t>> unrun;
  {
    std::lock_guard<std::mutex> guard(PostingLock());
    std::vector<BrowserSide*>& all = AllBrowserSides();
    all.erase(std::remove(all.begin(), all.end(), this), all.end());
    unrun.swap(incoming);
  }
}

BrowserSide* BrowserSide::Current() {
  return browserSides.empty() ? nullptr : browserSides.back();
}

bool BrowserSide::PostToUi(CefRefPtr<CefTask> task, int64_t delayMs) {
  if (BrowserSide* own = Current()) {
    own->PostTask(std::move(task), delayMs);
    return true;
  }
  // Found and queued under one lock: the side cannot go in between.
  std::lock_guard<std::mutex> guard(PostingLock());
  if (AllBrowserSides().empty()) {
    return false;
  }
  AllBrowserSides().back()->incoming.emplace_back(std::move(task), delayMs);
  return true;
}

void BrowserSide::SetClient(CefRefPtr<CefClient> browserClient) {
  client = std::move(browserClient);
}

void BrowserSide::SyncFrames() {
  if (!terminated) {
    SyncSwaps();
  }
  // Vanished frames first, sub-frames before their main frame.
  for (size_t b = 0; b < browsers.size();) {
    CefRefPtr<BrowserSideBrowser> browser = browsers[b];
    CefRefPtr<CefBrowser> rendererBrowser = process.Browser(browser->id);
    std::vector<CefString> live;
    if (rendererBrowser) {
      rendererBrowser->GetFrameIdentifiers(live);
    }
    auto isLive = [&live](const std::string& frameId) {
      return std::any_of(live.begin(), live.end(), [&](const CefString& id) {
        return id.ToString() == frameId;
      });
    };
    std::vector<CefRefPtr<BrowserSideFrame>> frames = browser->frames;
    for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
      if (!(*it)->isMain && !isLive((*it)->id)) {
        Detach(it->get());
      }
    }
    if (!rendererBrowser) {
      // Closed: the main frame detaches last, then the main frame is gone.
      CefRefPtr<BrowserSideFrame> main = browser->mainFrame;
      if (main && !main->detached) {
        Detach(main.get());
      }
      browser->valid = false;
      if (browser->frameHandler) {
        browser->frameHandler->OnMainFrameChanged(
            WrapHostBrowser(browser.get()),
            main ? new HostFrame(main) : nullptr, nullptr);
      }
      browser->mainFrame = nullptr;
      openedBrowsers.erase(std::remove(openedBrowsers.begin(),
                                       openedBrowsers.end(), browser->id),
                           openedBrowsers.end());
      browsers.erase(browsers.begin() + static_cast<std::ptrdiff_t>(b));
      continue;
    }
    ++b;
  }
  if (terminated) {
    return;
  }
  // New browsers and frames, in the renderer's order (parents first).
  for (int id : openedBrowsers) {
    CefRefPtr<CefBrowser> rendererBrowser = process.Browser(id);
    if (!rendererBrowser) {
      continue;
    }
    CefRefPtr<BrowserSideBrowser> browser;
    for (const CefRefPtr<BrowserSideBrowser>& known : browsers) {
      if (known->id == id) {
        browser = known;
      }
    }
    if (!browser) {
      browser = new BrowserSideBrowser();
      browser->id = id;
      browser->client = client;
      browser->frameHandler = client ? client->GetFrameHandler() : nullptr;
      browsers.push_back(browser);
    }
    for (const std::string& frameId : FrameIds(rendererBrowser)) {
      // Looked up each time: the handlers called below run host code.
      if (browser->FindFrame(frameId)) {
        continue;
      }
      CefRefPtr<BrowserSideFrame> frame = MakeFrame(browser.get(), frameId);
      if (!frame) {
        continue;
      }
      if (frame->isMain) {
        browser->frames.insert(browser->frames.begin(), frame);
        browser->mainFrame = frame;
      } else {
        browser->frames.push_back(frame);
      }
      if (CefRefPtr<CefFrameHandler> handler = browser->frameHandler) {
        CefRefPtr<CefBrowser> wrapped = WrapHostBrowser(browser.get());
        handler->OnFrameCreated(wrapped, new HostFrame(frame));
        if (frame->isMain) {
          handler->OnMainFrameChanged(wrapped, nullptr, new HostFrame(frame));
        }
        handler->OnFrameAttached(wrapped, new HostFrame(frame), false);
      }
      // The first document commits once the frame is connected.
      NotifyLoadStart(browser.get(), frame.get(),
                      frame->isMain ? TT_EXPLICIT : TT_AUTO_SUBFRAME);
    }
  }
}

CefRefPtr<BrowserSideFrame> BrowserSide::MakeFrame(BrowserSideBrowser* browser,
                                                   const std::string& frameId) {
  CefRefPtr<CefFrame> rendererFrame = process.Frame(frameId);
  if (!rendererFrame) {
    return nullptr;
  }
  CefRefPtr<BrowserSideFrame> frame = new BrowserSideFrame();
  frame->id = frameId;
  frame->name = rendererFrame->GetName().ToString();
  frame->url = rendererFrame->GetURL().ToString();
  frame->isMain = rendererFrame->IsMain();
  if (CefRefPtr<CefFrame> parent = rendererFrame->GetParent()) {
    frame->parentId = parent->GetIdentifier().ToString();
  }
  frame->browser = browser;
  frame->side = this;
  return frame;
}

// A swap is one transition, not a removal plus an addition: the new frame is
// created and attached first, then the old one and its sub-frames detach
// (sub-frames first), then a main frame changes.
void BrowserSide::SyncSwaps() {
  for (const CefRefPtr<BrowserSideBrowser>& browser :
       std::vector<CefRefPtr<BrowserSideBrowser>>(browsers)) {
    CefRefPtr<CefBrowser> rendererBrowser = process.Browser(browser->id);
    if (!rendererBrowser) {
      continue;
    }
    for (const std::string& frameId : FrameIds(rendererBrowser)) {
      // Looked up each time: the handlers called below run host code.
      if (browser->FindFrame(frameId)) {
        continue;
      }
      const std::string oldId = process.SwappedOutFrame(frameId);
      if (oldId.empty()) {
        continue;
      }
      CefRefPtr<BrowserSideFrame> old = browser->FindFrame(oldId);
      if (!old) {
        // The frame in between was never seen here, so the notifications
        // CEF would have sent for it cannot be told.
        NotSimulated(
            "a frame swapped twice before the browser side caught up (" +
            oldId + " replaced by " + frameId + ")");
      }
      CefRefPtr<BrowserSideFrame> frame = MakeFrame(browser.get(), frameId);
      if (!frame) {
        continue;
      }
      auto& frames = browser->frames;
      frames.insert(std::find(frames.begin(), frames.end(), old) + 1, frame);
      CefRefPtr<CefFrameHandler> handler = browser->frameHandler;
      if (handler) {
        CefRefPtr<CefBrowser> wrapped = WrapHostBrowser(browser.get());
        handler->OnFrameCreated(wrapped, new HostFrame(frame));
        handler->OnFrameAttached(wrapped, new HostFrame(frame), false);
      }
      // The old frame's sub-frames, deepest first, then the old frame.
      std::vector<CefRefPtr<BrowserSideFrame>> going;
      for (const CefRefPtr<BrowserSideFrame>& candidate : frames) {
        for (BrowserSideFrame* up = candidate.get(); up;
             up = up->parentId.empty() ? nullptr
                                       : browser->FindFrame(up->parentId)) {
          if (up == old.get()) {
            going.push_back(candidate);
            break;
          }
        }
      }
      for (auto it = going.rbegin(); it != going.rend(); ++it) {
        Detach(it->get());
      }
      if (old->isMain) {
        browser->mainFrame = frame;
        if (handler) {
          handler->OnMainFrameChanged(WrapHostBrowser(browser.get()),
                                      new HostFrame(old), new HostFrame(frame));
        }
      }
      // The commit is reported after the swap.
      NotifyLoadStart(browser.get(), frame.get(),
                      frame->isMain ? TT_EXPLICIT : TT_MANUAL_SUBFRAME);
    }
  }
}

void BrowserSide::NotifyLoadStart(BrowserSideBrowser* browser,
                                  BrowserSideFrame* frame,
                                  cef_transition_type_t transition) {
  // The frame's URL is the committed document's from now on.
  if (CefRefPtr<CefFrame> rendererFrame = process.Frame(frame->id)) {
    frame->url = rendererFrame->GetURL().ToString();
  }
  // A browser created through CefBrowserHost loads through the browser
  // process, which reports its loads itself; the initial about:blank of a
  // new frame gets no OnLoadStart there, as in CEF.
  if (!browser->client || hostDelegate) {
    return;
  }
  // Read on every notification, as CEF does.
  if (CefRefPtr<CefLoadHandler> handler = browser->client->GetLoadHandler()) {
    CefRefPtr<BrowserSideFrame> keepFrame = frame;
    handler->OnLoadStart(WrapHostBrowser(browser), new HostFrame(keepFrame),
                         transition);
  }
}

void BrowserSide::DocumentCommitted(const std::string& frameId) {
  if (terminated) {
    return;
  }
  Queued entry;
  entry.frameId = frameId;
  entry.loadStart = true;
  queue.push_back(std::move(entry));
}

void BrowserSide::CommitUrl(const std::string& frameId,
                            const std::string& url) {
  for (const CefRefPtr<BrowserSideBrowser>& browser : browsers) {
    if (BrowserSideFrame* frame = browser->FindFrame(frameId)) {
      frame->url = url;
    }
  }
}

void BrowserSide::BrowserOpened(int browserId) {
  openedBrowsers.push_back(browserId);
  SyncFrames();
}

void BrowserSide::Detach(BrowserSideFrame* frame) {
  CefRefPtr<BrowserSideFrame> keep = frame;
  BrowserSideBrowser* browser = frame->browser.get();
  frame->detached = true;
  // Queued messages to a frame that detaches are discarded.
  queue.erase(std::remove_if(queue.begin(), queue.end(),
                             [&](const Queued& entry) {
                               return entry.toRenderer &&
                                      entry.frameId == frame->id;
                             }),
              queue.end());
  if (!browser) {
    return;
  }
  auto& frames = browser->frames;
  frames.erase(std::remove(frames.begin(), frames.end(), keep), frames.end());
  if (browser->frameHandler) {
    browser->frameHandler->OnFrameDetached(WrapHostBrowser(browser),
                                           new HostFrame(keep));
  }
}

CefRefPtr<CefBrowser> BrowserSide::Browser(int browserId) {
  for (const CefRefPtr<BrowserSideBrowser>& browser : browsers) {
    if (browser->id == browserId) {
      return WrapHostBrowser(browser.get());
    }
  }
  return nullptr;
}

CefRefPtr<CefFrame> BrowserSide::Frame(const std::string& frameId) {
  for (const CefRefPtr<BrowserSideBrowser>& browser : browsers) {
    if (BrowserSideFrame* frame = browser->FindFrame(frameId)) {
      return new HostFrame(frame);
    }
  }
  return nullptr;
}

void BrowserSide::FromRenderer(const std::string& frameId,
                               const WireMessage& wire) {
  if (terminated) {
    return;
  }
  queue.push_back(Queued{frameId, wire, false});
}

void BrowserSide::ToRenderer(const std::string& frameId,
                             const WireMessage& wire) {
  queue.push_back(Queued{frameId, wire, true});
}

int BrowserSide::Pump() {
  int handled = 0;
  // Frames the renderer made meanwhile exist before their messages arrive.
  SyncFrames();
  while (!queue.empty()) {
    Queued entry = std::move(queue.front());
    queue.pop_front();
    if (terminated) {
      continue;
    }
    if (entry.toRenderer) {
      ++handled;
      lastDeliveryHandled = process.DeliverMessage(entry.frameId, entry.wire);
      if (!lastDeliveryHandled && !process.Frame(entry.frameId)) {
        AddLog("dropped a message to frame " + entry.frameId +
               ", which the renderer no longer has");
      }
      continue;
    }
    BrowserSideBrowser* owner = nullptr;
    BrowserSideFrame* frame = nullptr;
    for (const CefRefPtr<BrowserSideBrowser>& browser : browsers) {
      if ((frame = browser->FindFrame(entry.frameId)) != nullptr) {
        owner = browser.get();
        break;
      }
    }
    // Nothing is called when the frame lost its browser or the browser has
    // no client.
    if (entry.loadStart) {
      if (frame && !frame->detached) {
        ++handled;
        CefRefPtr<BrowserSideBrowser> keepBrowser = owner;
        NotifyLoadStart(owner, frame,
                        frame->isMain ? TT_EXPLICIT : TT_MANUAL_SUBFRAME);
      }
      continue;
    }
    if (!frame) {
      AddLog("dropped a message from frame " + entry.frameId +
             ", which the browser side does not have (detached)");
      continue;
    }
    if (!owner->client) {
      continue;
    }
    ++handled;
    CefRefPtr<CefClient> browserClient = owner->client;
    CefRefPtr<BrowserSideBrowser> keepBrowser = owner;
    // The return value is ignored, as CEF ignores it.
    browserClient->OnProcessMessageReceived(WrapHostBrowser(owner),
                                            new HostFrame(frame), PID_RENDERER,
                                            Receive(entry.wire));
  }
  handled += RunDueTasks();
  return handled;
}

void BrowserSide::TerminateRenderer(cef_termination_status_t status) {
  if (terminated) {
    return;
  }
  terminated = true;
  queue.clear();
  std::vector<CefRefPtr<BrowserSideBrowser>> current = browsers;
  for (const CefRefPtr<BrowserSideBrowser>& browser : current) {
    for (const CefRefPtr<BrowserSideFrame>& frame : browser->frames) {
      frame->noRenderFrame = true;
    }
  }
  for (const CefRefPtr<BrowserSideBrowser>& browser : current) {
    if (!browser->client) {
      continue;
    }
    if (CefRefPtr<CefRequestHandler> handler =
            browser->client->GetRequestHandler()) {
      handler->OnRenderProcessTerminated(WrapHostBrowser(browser.get()), status,
                                         1, "");
    }
  }
}

namespace {

// Orders the task heap: earliest due first, then in posting order.
bool RunsLater(const BrowserSide::Task& a, const BrowserSide::Task& b) {
  return a.due != b.due ? a.due > b.due : a.order > b.order;
}

}  // namespace

void BrowserSide::PostTask(CefRefPtr<CefTask> task, int64_t delayMs) {
  if (!task) {
    return;
  }
  if (Current() != this) {
    std::lock_guard<std::mutex> guard(PostingLock());
    incoming.emplace_back(std::move(task), delayMs);
    return;
  }
  tasks.push_back(Task{process.Now() + std::max<int64_t>(delayMs, 0),
                       nextTaskOrder++, std::move(task)});
  std::push_heap(tasks.begin(), tasks.end(), RunsLater);
}

void BrowserSide::TakeIncoming() {
  std::vector<std::pair<CefRefPtr<CefTask>, int64_t>> taken;
  {
    std::lock_guard<std::mutex> guard(PostingLock());
    taken.swap(incoming);
  }
  for (auto& entry : taken) {
    tasks.push_back(Task{process.Now() + std::max<int64_t>(entry.second, 0),
                         nextTaskOrder++, std::move(entry.first)});
    std::push_heap(tasks.begin(), tasks.end(), RunsLater);
  }
}

std::optional<int64_t> BrowserSide::NextTaskDue() {
  TakeIncoming();
  if (tasks.empty()) {
    return std::nullopt;
  }
  return tasks.front().due;
}

int BrowserSide::RunDueTasks() {
  int ran = 0;
  for (;;) {
    TakeIncoming();
    if (tasks.empty() || tasks.front().due > process.Now()) {
      return ran;
    }
    std::pop_heap(tasks.begin(), tasks.end(), RunsLater);
    CefRefPtr<CefTask> task = std::move(tasks.back().task);
    tasks.pop_back();
    task->Execute();
    ++ran;
  }
}

}  // namespace cefsim

bool CefCurrentlyOn(CefThreadId threadId) {
  switch (threadId) {
    case TID_UI:
      return cefsim::BrowserSide::Current() != nullptr;
    case TID_RENDERER:
      return cefsim::RendererProcess::Current() != nullptr;
    default:
      return false;
  }
}

bool CefPostTask(CefThreadId threadId, CefRefPtr<CefTask> task) {
  return CefPostDelayedTask(threadId, task, 0);
}

bool CefPostDelayedTask(CefThreadId threadId,
                        CefRefPtr<CefTask> task,
                        int64_t delay_ms) {
  if (threadId != TID_UI) {
    cefsim::Fatal(
        "cefsim: CefPostTask to a thread other than TID_UI is not simulated");
  }
  if (!task) {
    return false;
  }
  return cefsim::BrowserSide::PostToUi(task, delay_ms);
}
