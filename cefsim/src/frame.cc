// The renderer-side CefFrame as CEF 130's release build behaves: every
// method checks the render thread first, a detached frame answers defaults.

#include "frame_impl.h"

#include "cefsim/renderer_process.h"
#include "cefsim/transit.h"
#include "v8_context.h"
#include "v8_isolate.h"

namespace cefsim {
namespace {

class FrameImpl : public CefFrame {
 public:
  explicit FrameImpl(FrameModel* model) : model(model) {}
  FrameImpl(const FrameImpl&) = delete;
  FrameImpl& operator=(const FrameImpl&) = delete;

  // CefFrame methods:
  bool IsValid() override { return OnRenderThread() && model->attached; }
  // Editing commands and loads go to the browser process; nothing here
  // observes them.
  void Undo() override {}
  void Redo() override {}
  void Cut() override {}
  void Copy() override {}
  void Paste() override {}
  void Delete() override {}
  void SelectAll() override {}
  void ViewSource() override {}
  void GetSource(CefRefPtr<CefStringVisitor>) override {}
  void GetText(CefRefPtr<CefStringVisitor>) override {}
  void LoadRequest(CefRefPtr<CefRequest>) override {}
  void LoadURL(const CefString&) override {}
  void ExecuteJavaScript(const CefString& code,
                         const CefString& script_url,
                         int start_line) override;
  bool IsMain() override {
    return OnRenderThread() && model->attached && !model->parent;
  }
  bool IsFocused() override {
    return OnRenderThread() && model->attached && model->browser &&
           model->browser->focusedFrame == model.get();
  }
  CefString GetName() override {
    if (!OnRenderThread() || !model->attached) {
      return CefString();
    }
    return CefString(model->name);
  }
  CefString GetIdentifier() override {
    return OnRenderThread() ? CefString(model->id) : CefString();
  }
  CefRefPtr<CefFrame> GetParent() override {
    if (!OnRenderThread() || !model->attached || !model->parent) {
      return nullptr;
    }
    return WrapFrame(model->parent.get());
  }
  CefString GetURL() override {
    if (!OnRenderThread() || !model->attached) {
      return CefString();
    }
    return CefString(model->url);
  }
  CefRefPtr<CefBrowser> GetBrowser() override {
    if (!OnRenderThread() || !model->browser) {
      return nullptr;
    }
    return WrapBrowser(model->browser.get());
  }
  CefRefPtr<CefV8Context> GetV8Context() override;
  void VisitDOM(CefRefPtr<CefDOMVisitor>) override {
    Fatal("CefFrame::VisitDOM is not simulated");
  }
  CefRefPtr<CefURLRequest> CreateURLRequest(
      CefRefPtr<CefRequest>,
      CefRefPtr<CefURLRequestClient>) override {
    return nullptr;
  }
  void SendProcessMessage(CefProcessId target_process,
                          CefRefPtr<CefProcessMessage> message) override;

 private:
  CefRefPtr<FrameModel> model;

  IMPLEMENT_REFCOUNTING(FrameImpl);
};

void FrameImpl::ExecuteJavaScript(const CefString& code,
                                  const CefString& script_url,
                                  int start_line) {
  RendererProcess* process = RendererProcess::Current();
  if (!process || !model->attached || code.empty()) {
    return;
  }
  // CEF runs it as a task of the frame, not synchronously.
  CefRefPtr<FrameModel> frame = model;
  const std::string source = code.ToString();
  const std::string url = script_url.ToString();
  process->PostTask([process, frame, source, url, start_line] {
    if (frame->attached) {
      process->RunScript(frame->id, source, url, start_line);
    }
  });
}

// Always the main world, created on demand (OnContextCreated may fire from
// inside this call); a new wrapper every time.
CefRefPtr<CefV8Context> FrameImpl::GetV8Context() {
  RendererProcess* process = RendererProcess::Current();
  if (!process || !model->attached) {
    return nullptr;
  }
  WindowRecord* window = process->EnsureMainWorld(model.get());
  if (!window) {
    return nullptr;
  }
  IsolateManager* manager = process->manager();
  v8::HandleScope scope(manager->isolate());
  return new V8ContextImpl(manager, window->context.Get(manager->isolate()));
}

// The target process is ignored in release builds; the message loses its
// arguments even when the frame turns out to be detached.
void FrameImpl::SendProcessMessage(CefProcessId,
                                   CefRefPtr<CefProcessMessage> message) {
  RendererProcess* process = RendererProcess::Current();
  if (!process || !message) {
    return;
  }
  std::optional<WireMessage> wire = TakeForSending(message);
  if (!wire) {
    return;
  }
  if (!model->attached) {
    process->manager()->Log(
        "WARNING: Dropping process message for a detached frame");
    return;
  }
  process->SendFromFrame(model.get(), *wire);
}

}  // namespace

CefRefPtr<CefFrame> WrapFrame(FrameModel* frame) {
  return frame ? new FrameImpl(frame) : nullptr;
}

bool OnRenderThread() {
  return RendererProcess::Current() != nullptr;
}

}  // namespace cefsim
