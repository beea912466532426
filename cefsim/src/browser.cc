// The renderer-side CefBrowser, and the simulated renderer process that
// plays Blink's frame and window lifecycle around the render-process hooks.

#include <algorithm>
#include <cstddef>
#include <limits>
#include <string>

#include "cefsim/fatal.h"
#include "cefsim/renderer_process.h"
#include "dom_impl.h"
#include "frame_impl.h"
#include "v8_context.h"
#include "v8_isolate.h"
#include "v8_page.h"
#include "v8_value.h"

namespace cefsim {
namespace {

thread_local RendererProcess* currentProcess = nullptr;

// Page tasks that keep posting more tasks would never let a test finish.
constexpr int kMaxTasksPerRun = 100000;

class BrowserImpl : public CefBrowser {
 public:
  explicit BrowserImpl(BrowserModel* model) : model(model) {}
  BrowserImpl(const BrowserImpl&) = delete;
  BrowserImpl& operator=(const BrowserImpl&) = delete;

  // CefBrowser methods:
  bool IsValid() override { return OnRenderThread() && model->valid; }
  // A renderer has no browser host.
  CefRefPtr<CefBrowserHost> GetHost() override { return nullptr; }
  bool CanGoBack() override { return false; }
  void GoBack() override {}
  bool CanGoForward() override { return false; }
  void GoForward() override {}
  bool IsLoading() override { return false; }
  void Reload() override {}
  void ReloadIgnoreCache() override {}
  void StopLoad() override {}
  int GetIdentifier() override { return OnRenderThread() ? model->id : 0; }
  bool IsSame(CefRefPtr<CefBrowser> that) override {
    return that && OnRenderThread() && that->GetIdentifier() == model->id;
  }
  bool IsPopup() override { return false; }
  bool HasDocument() override {
    return IsValid() && model->MainFrame() != nullptr;
  }
  CefRefPtr<CefFrame> GetMainFrame() override {
    return IsValid() ? WrapFrame(model->MainFrame()) : nullptr;
  }
  CefRefPtr<CefFrame> GetFocusedFrame() override {
    if (!IsValid()) {
      return nullptr;
    }
    return WrapFrame(model->focusedFrame ? model->focusedFrame
                                         : model->MainFrame());
  }
  CefRefPtr<CefFrame> GetFrameByIdentifier(
      const CefString& identifier) override {
    if (!IsValid()) {
      return nullptr;
    }
    const std::string id = identifier.ToString();
    for (const CefRefPtr<FrameModel>& frame : model->frames) {
      if (frame->id == id) {
        return WrapFrame(frame.get());
      }
    }
    return nullptr;
  }
  CefRefPtr<CefFrame> GetFrameByName(const CefString& name) override {
    if (!IsValid()) {
      return nullptr;
    }
    const std::string wanted = name.ToString();
    for (const CefRefPtr<FrameModel>& frame : model->frames) {
      if (frame->name == wanted) {
        return WrapFrame(frame.get());
      }
    }
    return nullptr;
  }
  size_t GetFrameCount() override {
    return IsValid() ? model->frames.size() : 0;
  }
  void GetFrameIdentifiers(std::vector<CefString>& identifiers) override {
    if (!IsValid()) {
      return;
    }
    for (const CefRefPtr<FrameModel>& frame : model->frames) {
      identifiers.push_back(CefString(frame->id));
    }
  }
  void GetFrameNames(std::vector<CefString>& names) override {
    if (!IsValid()) {
      return;
    }
    for (const CefRefPtr<FrameModel>& frame : model->frames) {
      names.push_back(CefString(frame->name));
    }
  }

 private:
  CefRefPtr<BrowserModel> model;

  IMPLEMENT_REFCOUNTING(BrowserImpl);
};

// A read-only, owned copy of extra_info, kept alive with its carrier.
struct ReadOnlyDictionary {
  CefRefPtr<CefProcessMessage> carrier;
  CefRefPtr<CefDictionaryValue> dictionary;
};

ReadOnlyDictionary MakeReadOnly(CefRefPtr<CefDictionaryValue> dictionary) {
  ReadOnlyDictionary result;
  if (!dictionary) {
    return result;
  }
  CefRefPtr<CefProcessMessage> message =
      CefProcessMessage::Create("extra_info");
  message->GetArgumentList()->SetDictionary(0, dictionary->Copy(false));
  std::optional<WireMessage> wire = TakeForSending(message);
  if (!wire) {
    return result;
  }
  result.carrier = Receive(*wire);
  result.dictionary = result.carrier->GetArgumentList()->GetDictionary(0);
  return result;
}

}  // namespace

// A promise rejected with no handler, until its report is due.
struct RendererProcess::UnhandledRejection {
  WindowRecord* window = nullptr;
  v8::Global<v8::Promise> promise;
  v8::Global<v8::Value> reason;
};

CefRefPtr<CefBrowser> WrapBrowser(BrowserModel* browser) {
  return browser ? new BrowserImpl(browser) : nullptr;
}

RendererProcess::RendererProcess(CefRefPtr<CefApp> application)
    : application(std::move(application)) {
  if (currentProcess) {
    Fatal("a second renderer process on one thread");
  }
  isolate = std::make_unique<IsolateManager>();
  currentProcess = this;
  isolate->onMessage = [this](v8::Local<v8::Message> message,
                              v8::Local<v8::Value> exception) {
    v8::Isolate* iso = isolate->isolate();
    if (!iso->InContext()) {
      return;
    }
    v8::HandleScope scope(iso);
    v8::Local<v8::Context> context = iso->GetCurrentContext();
    WindowRecord* window = IsolateManager::WindowOf(context);
    if (!window || !window->frame) {
      return;
    }
    // Blink's message handler dispatches the error event right here, so
    // an exception that CEF's verbose TryCatch catches for the program
    // (ExecuteFunction, GetValue, SetValue, settling) runs the page's error
    // listeners inside that CEF call. The console line follows, after the
    // lines of whatever the listeners did.
    if (message->ErrorLevel() == v8::Isolate::kMessageError) {
      DispatchErrorEvent(context, message, exception);
    }
    if (window->frame) {
      AddConsoleLine(window->frame,
                     "error: " + FromV8String(iso, message->Get()).ToString());
    }
  };
  isolate->onPromiseReject = [this](v8::PromiseRejectMessage& message) {
    OnPromiseRejected(message);
  };
  isolate->isolate()->AddMicrotasksCompletedCallback(
      &RendererProcess::OnMicrotasksCompleted, this);
  if (CefRefPtr<CefRenderProcessHandler> handler = Handler()) {
    handler->OnWebKitInitialized();
  }
}

RendererProcess::~RendererProcess() {
  while (!browsers.empty()) {
    CloseBrowser(browsers.front()->id);
  }
  tasks.clear();
  timers.clear();
  unhandledRejections.clear();
  isolate->isolate()->RemoveMicrotasksCompletedCallback(
      &RendererProcess::OnMicrotasksCompleted, this);
  isolate.reset();
  currentProcess = nullptr;
}

RendererProcess* RendererProcess::Current() {
  return currentProcess;
}

CefRefPtr<CefRenderProcessHandler> RendererProcess::Handler() {
  // Asked afresh for every event, as CEF does.
  return application ? application->GetRenderProcessHandler() : nullptr;
}

BrowserInfo RendererProcess::OpenBrowser(
    const std::vector<FrameSpec>& frames,
    CefRefPtr<CefDictionaryValue> extraInfo) {
  if (frames.empty() || frames.front().parent != -1) {
    Fatal("OpenBrowser needs the main frame first");
  }
  CefRefPtr<BrowserModel> browser = new BrowserModel();
  browser->id = nextBrowserId++;
  browsers.push_back(browser);
  if (CefRefPtr<CefRenderProcessHandler> handler = Handler()) {
    ReadOnlyDictionary info = MakeReadOnly(extraInfo);
    handler->OnBrowserCreated(WrapBrowser(browser.get()), info.dictionary);
  }
  BrowserInfo result;
  result.id = browser->id;
  std::vector<FrameModel*> made;
  for (const FrameSpec& frameSpec : frames) {
    FrameModel* parent = nullptr;
    if (frameSpec.parent >= 0) {
      if (static_cast<size_t>(frameSpec.parent) >= made.size()) {
        Fatal("FrameSpec parent must come before its child");
      }
      parent = made[static_cast<size_t>(frameSpec.parent)];
    } else if (!made.empty()) {
      Fatal("only the first FrameSpec can be the main frame");
    }
    made.push_back(AttachFrame(browser.get(), parent, frameSpec));
    result.frameIds.push_back(made.back()->id);
  }
  // Documents load top-down; a document with script gets its context.
  for (FrameModel* frame : made) {
    if (frame->attached && frame->runsScript && !frame->mainWorld) {
      CreateContext(frame, 0);
    }
  }
  Checkpoint();
  return result;
}

FrameModel* RendererProcess::AttachFrame(BrowserModel* browser,
                                         FrameModel* parent,
                                         const FrameSpec& frameSpec) {
  CefRefPtr<FrameModel> frame = new FrameModel();
  frame->id =
      std::to_string(browser->id) + "-" + std::to_string(nextFrameSerial++);
  frame->name = frameSpec.name;
  frame->url = frameSpec.url;
  frame->runsScript = frameSpec.runsScript;
  frame->connectionAcknowledged = !frameSpec.holdConnection;
  frame->browser = browser;
  frame->parent = parent;
  if (parent) {
    parent->children.push_back(frame);
  }
  browser->frames.push_back(frame);
  return frame.get();
}

void RendererProcess::CloseBrowser(int browserId) {
  auto it = std::find_if(browsers.begin(), browsers.end(),
                         [browserId](const CefRefPtr<BrowserModel>& browser) {
                           return browser->id == browserId;
                         });
  if (it == browsers.end()) {
    return;
  }
  CefRefPtr<BrowserModel> browser = *it;
  if (FrameModel* main = browser->MainFrame()) {
    CefRefPtr<FrameModel> keep = main;
    for (const CefRefPtr<FrameModel>& child :
         std::vector<CefRefPtr<FrameModel>>(main->children)) {
      RemoveFrame(child->id);
    }
    ReleaseAllContexts(main);
    DetachFrame(main);
  }
  if (CefRefPtr<CefRenderProcessHandler> handler = Handler()) {
    handler->OnBrowserDestroyed(WrapBrowser(browser.get()));
  }
  browser->valid = false;
  browser->frames.clear();
  browsers.erase(std::find(browsers.begin(), browsers.end(), browser));
  Checkpoint();
}

std::string RendererProcess::AddFrame(const std::string& parentId,
                                      const FrameSpec& frameSpec) {
  FrameModel* parent = FindFrame(parentId);
  if (!parent) {
    Fatal("AddFrame: no attached frame " + parentId);
  }
  FrameModel* frame = AttachFrame(parent->browser.get(), parent, frameSpec);
  if (frame->runsScript) {
    CreateContext(frame, 0);
  }
  Checkpoint();
  return frame->id;
}

void RendererProcess::RemoveFrame(const std::string& frameId) {
  FrameModel* frame = FindFrame(frameId);
  if (!frame) {
    return;
  }
  if (!frame->parent) {
    Fatal("RemoveFrame of a main frame; close the browser instead");
  }
  CefRefPtr<FrameModel> keep = frame;
  // A document's shutdown detaches its child frames first.
  for (const CefRefPtr<FrameModel>& child :
       std::vector<CefRefPtr<FrameModel>>(frame->children)) {
    RemoveFrame(child->id);
  }
  // Released while the frame is still valid, then detached.
  ReleaseAllContexts(frame);
  DetachFrame(frame);
  Checkpoint();
}

void RendererProcess::Navigate(const std::string& frameId,
                               const std::string& url) {
  FrameModel* frame = FindFrame(frameId);
  if (!frame) {
    Fatal("Navigate: no attached frame " + frameId);
  }
  CefRefPtr<FrameModel> keep = frame;
  const bool hadContext = frame->mainWorld != nullptr;
  for (const CefRefPtr<FrameModel>& child :
       std::vector<CefRefPtr<FrameModel>>(frame->children)) {
    RemoveFrame(child->id);
  }
  ReleaseAllContexts(frame);
  frame->url = url;
  frame->title.clear();
  // Blink re-initialises a window proxy that had a context at commit.
  if (hadContext || frame->runsScript) {
    CreateContext(frame, 0);
  }
  Checkpoint();
}

std::string RendererProcess::NavigateWithSwap(const std::string& frameId,
                                              const std::string& url) {
  FrameModel* old = FindFrame(frameId);
  if (!old) {
    Fatal("NavigateWithSwap: no attached frame " + frameId);
  }
  CefRefPtr<FrameModel> keep = old;
  CefRefPtr<BrowserModel> browser = old->browser;
  CefRefPtr<FrameModel> parent = old->parent;
  for (const CefRefPtr<FrameModel>& child :
       std::vector<CefRefPtr<FrameModel>>(old->children)) {
    RemoveFrame(child->id);
  }
  // The old document unloads in its own frame, still valid in the hooks;
  // then that frame detaches like a removed one.
  ReleaseAllContexts(old);
  const auto framePosition =
      std::find(browser->frames.begin(), browser->frames.end(), keep) -
      browser->frames.begin();
  std::ptrdiff_t siblingPosition = 0;
  if (parent) {
    siblingPosition =
        std::find(parent->children.begin(), parent->children.end(), keep) -
        parent->children.begin();
  }
  DetachFrame(old);

  // The new RenderFrame takes the old one's place in the tree under an
  // identifier of its own; its document starts with no context.
  CefRefPtr<FrameModel> frame = new FrameModel();
  frame->id =
      std::to_string(browser->id) + "-" + std::to_string(nextFrameSerial++);
  frame->name = old->name;
  frame->url = url;
  frame->runsScript = old->runsScript;
  frame->browser = browser;
  frame->parent = parent;
  frame->swappedOut = old->id;
  browser->frames.insert(browser->frames.begin() + framePosition, frame);
  if (parent) {
    parent->children.insert(parent->children.begin() + siblingPosition, frame);
  }
  if (frame->runsScript) {
    CreateContext(frame.get(), 0);
  }
  Checkpoint();
  return frame->id;
}

std::string RendererProcess::SwappedOutFrame(const std::string& frameId) const {
  FrameModel* frame = FindFrame(frameId);
  return frame ? frame->swappedOut : std::string();
}

void RendererProcess::CreateIsolatedWorld(const std::string& frameId,
                                          int worldId) {
  FrameModel* frame = FindFrame(frameId);
  if (!frame || worldId <= 0) {
    Fatal("CreateIsolatedWorld needs an attached frame and a world > 0");
  }
  CreateContext(frame, worldId);
  Checkpoint();
}

CefRefPtr<CefV8Context> RendererProcess::NewStandaloneContext() {
  v8::Isolate* iso = isolate->isolate();
  v8::HandleScope scope(iso);
  WindowRecord* window = nullptr;
  v8::Local<v8::Context> context = isolate->NewContext(nullptr, 0, &window);
  window->standalone = true;
  window->mainWorld = false;
  InstallPageGlobals(context, window);
  return new V8ContextImpl(isolate.get(), context);
}

WindowRecord* RendererProcess::EnsureMainWorld(FrameModel* frame) {
  if (!frame->attached) {
    return nullptr;
  }
  if (frame->mainWorld) {
    return frame->mainWorld;
  }
  return CreateContext(frame, 0);
}

WindowRecord* RendererProcess::CreateContext(FrameModel* frame, int worldId) {
  v8::Isolate* iso = isolate->isolate();
  v8::HandleScope scope(iso);
  WindowRecord* window = nullptr;
  v8::Local<v8::Context> context = isolate->NewContext(frame, worldId, &window);
  InstallPageGlobals(context, window);
  if (worldId == 0) {
    frame->mainWorld = window;
  } else {
    frame->isolatedWorlds.push_back(window);
  }
  if (CefRefPtr<CefRenderProcessHandler> handler = Handler()) {
    // CEF enters the context and opens a microtask scope around the call.
    v8::Context::Scope contextScope(context);
    v8::MicrotasksScope microtasks(iso, v8::MicrotasksScope::kRunMicrotasks);
    handler->OnContextCreated(WrapBrowser(frame->browser.get()),
                              WrapFrame(frame),
                              new V8ContextImpl(isolate.get(), context));
  }
  return window;
}

void RendererProcess::ReleaseContext(FrameModel* frame, WindowRecord* window) {
  v8::Isolate* iso = isolate->isolate();
  v8::HandleScope scope(iso);
  v8::Local<v8::Context> context = window->context.Get(iso);
  if (CefRefPtr<CefRenderProcessHandler> handler = Handler()) {
    // Blink has the context entered and forbids script meanwhile.
    v8::Context::Scope contextScope(context);
    isolate->ForbidScript();
    handler->OnContextReleased(WrapBrowser(frame->browser.get()),
                               WrapFrame(frame),
                               new V8ContextImpl(isolate.get(), context));
    isolate->AllowScript();
  }
  // Only after the hook returns: wrappers bound to it turn invalid now.
  isolate->ReleaseContext(context);
  window->frame = nullptr;
  window->context.Reset();
  window->listeners.clear();
}

void RendererProcess::ReleaseAllContexts(FrameModel* frame) {
  std::vector<WindowRecord*> worlds;
  worlds.swap(frame->isolatedWorlds);
  for (WindowRecord* window : worlds) {
    ReleaseContext(frame, window);
  }
  if (WindowRecord* main = frame->mainWorld) {
    frame->mainWorld = nullptr;
    ReleaseContext(frame, main);
  }
}

void RendererProcess::DetachFrame(FrameModel* frame) {
  CefRefPtr<FrameModel> keep = frame;
  frame->attached = false;
  // What waited for the browser's acknowledgement is never sent.
  frame->queuedSends.clear();
  if (BrowserModel* browser = frame->browser.get()) {
    auto& frames = browser->frames;
    frames.erase(std::remove(frames.begin(), frames.end(), keep), frames.end());
    if (browser->focusedFrame == frame) {
      browser->focusedFrame = nullptr;
    }
  }
  if (FrameModel* parent = frame->parent.get()) {
    auto& siblings = parent->children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), keep),
                   siblings.end());
  }
  frame->parent = nullptr;
  frame->children.clear();
}

FrameModel* RendererProcess::FindFrame(const std::string& frameId) const {
  for (const CefRefPtr<BrowserModel>& browser : browsers) {
    for (const CefRefPtr<FrameModel>& frame : browser->frames) {
      if (frame->id == frameId && frame->attached) {
        return frame.get();
      }
    }
  }
  return nullptr;
}

ScriptOutcome RendererProcess::RunScript(const std::string& frameId,
                                         const std::string& code,
                                         const std::string& url,
                                         int startLine) {
  ScriptOutcome outcome;
  FrameModel* frame = FindFrame(frameId);
  if (!frame) {
    outcome.exception = "cefsim: no attached frame " + frameId;
    return outcome;
  }
  WindowRecord* window = EnsureMainWorld(frame);
  v8::Isolate* iso = isolate->isolate();
  {
    v8::HandleScope scope(iso);
    v8::Local<v8::Context> context = window->context.Get(iso);
    v8::Context::Scope contextScope(context);
    // Top-level page errors are uncaught errors: reported to the console.
    v8::TryCatch tryCatch(iso);
    tryCatch.SetVerbose(true);
    v8::MaybeLocal<v8::Value> result = RunScriptLikeBlink(
        isolate.get(), context, CefString(code), CefString(url), startLine);
    if (tryCatch.HasCaught()) {
      v8::Local<v8::Message> message = tryCatch.Message();
      if (!message.IsEmpty()) {
        outcome.exception = FromV8String(iso, message->Get()).ToString();
        outcome.line = message->GetLineNumber(context).FromMaybe(0);
      }
    } else if (!result.IsEmpty()) {
      outcome.ok = true;
      outcome.value = V8ValueImpl::Wrap(isolate.get(), result.ToLocalChecked());
    }
  }
  Checkpoint();
  return outcome;
}

void RendererProcess::PostTask(std::function<void()> task) {
  tasks.push_back(std::move(task));
}

int RendererProcess::PostDelayedTask(std::function<void()> task,
                                     int64_t delayMs) {
  Timer timer;
  timer.id = nextTimerId++;
  timer.due = clockMs + delayMs;
  timer.task = std::move(task);
  timers.push_back(std::move(timer));
  return timers.back().id;
}

void RendererProcess::CancelDelayedTask(int timerId) {
  timers.erase(std::remove_if(timers.begin(), timers.end(),
                              [timerId](const Timer& timer) {
                                return timer.id == timerId;
                              }),
               timers.end());
}

int RendererProcess::RunPendingTasks() {
  int ran = 0;
  while (HasPendingTasks()) {
    if (++ran > kMaxTasksPerRun) {
      Fatal("page tasks keep posting tasks; giving up");
    }
    RunNextTask(std::numeric_limits<int64_t>::max());
  }
  return ran;
}

bool RendererProcess::RunNextTask(int64_t untilMs) {
  std::function<void()> task;
  if (!tasks.empty()) {
    task = std::move(tasks.front());
    tasks.pop_front();
  } else {
    // The earliest timer, first posted first among equals.
    auto next = std::min_element(
        timers.begin(), timers.end(), [](const Timer& a, const Timer& b) {
          return a.due != b.due ? a.due < b.due : a.id < b.id;
        });
    if (next == timers.end() || next->due > untilMs) {
      return false;
    }
    clockMs = std::max(clockMs, next->due);
    task = std::move(next->task);
    timers.erase(next);
  }
  task();
  Checkpoint();
  return true;
}

void RendererProcess::ChangeFocus(const std::string& frameId,
                                  FocusTarget target,
                                  const std::string& tagName) {
  FrameModel* frame = FindFrame(frameId);
  if (!frame) {
    return;
  }
  DispatchFocus(frame, target, tagName);
  Checkpoint();
}

void RendererProcess::FocusFromScript(FrameModel* frame,
                                      FocusTarget target,
                                      const std::string& tagName) {
  if (frame->attached) {
    DispatchFocus(frame, target, tagName);
  }
}

void RendererProcess::DispatchFocus(FrameModel* frame,
                                    FocusTarget target,
                                    const std::string& tagName) {
  BrowserModel* browser = frame->browser.get();
  if (target == FocusTarget::kNothing) {
    if (browser->focusedFrame == frame) {
      browser->focusedFrame = nullptr;
    }
  } else {
    browser->focusedFrame = frame;
  }
  CefRefPtr<CefRenderProcessHandler> handler = Handler();
  if (!handler) {
    return;
  }
  auto documentAlive = std::make_shared<bool>(true);
  CefRefPtr<CefDOMNode> node;
  if (target != FocusTarget::kNothing) {
    node = NewFocusedNode(documentAlive, tagName);
  }
  handler->OnFocusedNodeChanged(WrapBrowser(browser), WrapFrame(frame), node);
  // CEF detaches the document and its nodes right after the call.
  *documentAlive = false;
}

bool RendererProcess::DeliverMessage(const std::string& frameId,
                                     const WireMessage& wire) {
  FrameModel* frame = FindFrame(frameId);
  if (!frame) {
    return false;
  }
  CefRefPtr<CefRenderProcessHandler> handler = Handler();
  if (!handler) {
    return false;
  }
  // A mojo task: no context entered, no microtask scope open.
  const bool handled = handler->OnProcessMessageReceived(
      WrapBrowser(frame->browser.get()), WrapFrame(frame), PID_BROWSER,
      Receive(wire));
  Checkpoint();
  return handled;
}

void RendererProcess::SendFromFrame(FrameModel* frame,
                                    const WireMessage& wire) {
  // CEF quirk: until the browser acknowledges the frame's connection,
  // CefFrameImpl queues what the frame sends.
  if (!frame->connectionAcknowledged) {
    frame->queuedSends.push_back(wire);
    return;
  }
  if (outbox) {
    outbox(frame->id, wire);
  }
}

void RendererProcess::AcknowledgeConnection(const std::string& frameId) {
  FrameModel* frame = FindFrame(frameId);
  if (!frame || frame->connectionAcknowledged) {
    return;
  }
  frame->connectionAcknowledged = true;
  // Flushed in send order, before anything sent later.
  std::vector<WireMessage> queued;
  queued.swap(frame->queuedSends);
  for (const WireMessage& wire : queued) {
    SendFromFrame(frame, wire);
  }
}

void RendererProcess::OnPromiseRejected(v8::PromiseRejectMessage& message) {
  v8::Isolate* iso = isolate->isolate();
  v8::HandleScope scope(iso);
  v8::Local<v8::Promise> promise = message.GetPromise();
  if (message.GetEvent() == v8::kPromiseHandlerAddedAfterReject) {
    unhandledRejections.erase(
        std::remove_if(unhandledRejections.begin(), unhandledRejections.end(),
                       [&](const std::shared_ptr<UnhandledRejection>& entry) {
                         return entry->promise == promise;
                       }),
        unhandledRejections.end());
    return;
  }
  if (message.GetEvent() != v8::kPromiseRejectWithNoHandler ||
      !iso->InContext()) {
    return;
  }
  // Blink files the rejection under the window current at that moment.
  WindowRecord* window = IsolateManager::WindowOf(iso->GetCurrentContext());
  if (!window || !window->frame) {
    return;
  }
  auto entry = std::make_shared<UnhandledRejection>();
  entry->window = window;
  entry->promise.Reset(iso, promise);
  entry->reason.Reset(iso, message.GetValue());
  unhandledRejections.push_back(std::move(entry));
}

void RendererProcess::ReportRejections(
    const std::vector<std::shared_ptr<UnhandledRejection>>& batch) {
  v8::Isolate* iso = isolate->isolate();
  for (const std::shared_ptr<UnhandledRejection>& entry : batch) {
    WindowRecord* window = entry->window;
    if (!window->frame || window->context.IsEmpty()) {
      continue;
    }
    v8::HandleScope scope(iso);
    DispatchUnhandledRejection(window->context.Get(iso),
                               entry->promise.Get(iso), entry->reason.Get(iso));
  }
}

CefRefPtr<CefBrowser> RendererProcess::Browser(int browserId) {
  for (const CefRefPtr<BrowserModel>& browser : browsers) {
    if (browser->id == browserId) {
      return WrapBrowser(browser.get());
    }
  }
  return nullptr;
}

CefRefPtr<CefFrame> RendererProcess::Frame(const std::string& frameId) {
  return WrapFrame(FindFrame(frameId));
}

std::vector<std::string> RendererProcess::Console(const std::string& frameId) {
  FrameModel* frame = FindFrame(frameId);
  return frame ? frame->console : std::vector<std::string>();
}

void RendererProcess::SetTitle(const std::string& frameId,
                               const std::string& title) {
  if (FrameModel* frame = FindFrame(frameId)) {
    frame->title = title;
  }
}

const std::vector<std::string>& RendererProcess::Log() const {
  return isolate->log();
}

RendererProcess::FetchOutcome RendererProcess::Fetch(const std::string& frameId,
                                                     const std::string& url) {
  if (!fetchSink) {
    Fatal("fetch() of " + url +
          " needs a browser process to answer it (cefsim's CefInitialize)");
  }
  return fetchSink(frameId, url);
}

void RendererProcess::AddConsoleLine(FrameModel* frame,
                                     const std::string& line) {
  frame->console.push_back(line);
  if (consoleSink) {
    consoleSink(frame->id, line);
  }
}

void RendererProcess::Checkpoint() {
  // Blink's end-of-task checkpoint; a no-op while any scope is still open.
  isolate->isolate()->PerformMicrotaskCheckpoint();
  PostRejectionReport();
}

void RendererProcess::OnMicrotasksCompleted(v8::Isolate*, void* process) {
  static_cast<RendererProcess*>(process)->PostRejectionReport();
}

// Blink, at the end of every microtask checkpoint: promises rejected with no
// handler are reported in a task of their own, so `unhandledrejection`
// fires later, never inside the call that rejected.
void RendererProcess::PostRejectionReport() {
  if (unhandledRejections.empty() ||
      v8::MicrotasksScope::GetCurrentDepth(isolate->isolate()) > 0) {
    return;
  }
  std::vector<std::shared_ptr<UnhandledRejection>> batch;
  batch.swap(unhandledRejections);
  PostTask([this, batch] { ReportRejections(batch); });
}

}  // namespace cefsim
