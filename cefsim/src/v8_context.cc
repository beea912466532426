// CefV8Context, CefV8Exception and CefV8StackTrace as CEF 130's release
// build behaves, and the two Blink script-runner entry points CEF uses.

#include "v8_context.h"

#include "cefsim/renderer_process.h"
#include "frame_impl.h"
#include "v8_value.h"

namespace cefsim {
namespace {

IsolateManager* Manager() {
  return IsolateManager::Current();
}

// Blink's refusals before script runs; true when one was thrown.
bool RefuseScriptEntry(IsolateManager* manager) {
  v8::Isolate* isolate = manager->isolate();
  if (v8::MicrotasksScope::GetCurrentDepth(isolate) >=
      IsolateManager::kMaxScriptDepth) {
    isolate->ThrowException(
        v8::Exception::RangeError(v8::String::NewFromUtf8Literal(
            isolate, "Maximum call stack size exceeded.")));
    return true;
  }
  if (manager->IsScriptForbidden()) {
    isolate->ThrowException(v8::Exception::Error(v8::String::NewFromUtf8Literal(
        isolate, "Script execution is forbidden.")));
    return true;
  }
  return false;
}

bool WindowDisplayed(v8::Local<v8::Context> context) {
  WindowRecord* window = IsolateManager::WindowOf(context);
  return window &&
         (window->standalone || (window->frame && window->frame->attached));
}

// The render thread's task runner; tasks run as page tasks.
class RendererTaskRunner : public CefTaskRunner {
 public:
  RendererTaskRunner() = default;
  RendererTaskRunner(const RendererTaskRunner&) = delete;
  RendererTaskRunner& operator=(const RendererTaskRunner&) = delete;

  // CefTaskRunner methods:
  bool IsSame(CefRefPtr<CefTaskRunner> that) override {
    return that && that->BelongsToThread(TID_RENDERER);
  }
  bool BelongsToCurrentThread() override {
    return RendererProcess::Current() != nullptr;
  }
  bool BelongsToThread(CefThreadId threadId) override {
    return threadId == TID_RENDERER;
  }
  bool PostTask(CefRefPtr<CefTask> task) override {
    RendererProcess* process = RendererProcess::Current();
    if (!process || !task) {
      return false;
    }
    process->PostTask([task] { task->Execute(); });
    return true;
  }
  bool PostDelayedTask(CefRefPtr<CefTask> task, int64_t) override {
    return PostTask(task);
  }

 private:
  IMPLEMENT_REFCOUNTING(RendererTaskRunner);
};

}  // namespace

v8::MaybeLocal<v8::Value> CallFunctionLikeBlink(
    IsolateManager* manager,
    v8::Local<v8::Context> context,
    v8::Local<v8::Function> function,
    v8::Local<v8::Value> receiver,
    int argc,
    v8::Local<v8::Value>* argv) {
  if (!WindowDisplayed(context)) {
    return {};  // detached frame: nothing runs, nothing is thrown
  }
  if (RefuseScriptEntry(manager)) {
    return {};
  }
  v8::MicrotasksScope microtasks(manager->isolate(),
                                 v8::MicrotasksScope::kRunMicrotasks);
  return function->Call(context, receiver, argc, argv);
}

v8::MaybeLocal<v8::Value> RunScriptLikeBlink(IsolateManager* manager,
                                             v8::Local<v8::Context> context,
                                             const CefString& code,
                                             const CefString& scriptUrl,
                                             int startLine) {
  v8::Isolate* isolate = manager->isolate();
  v8::EscapableHandleScope scope(isolate);
  if (!WindowDisplayed(context)) {
    return {};
  }
  if (RefuseScriptEntry(manager)) {
    return {};
  }
  if (startLine < 1) {
    startLine = 1;
  }
  v8::ScriptOrigin origin(isolate, ToV8String(isolate, scriptUrl),
                          startLine - 1, 0);
  v8::MicrotasksScope microtasks(isolate, v8::MicrotasksScope::kRunMicrotasks);
  v8::Local<v8::Script> script;
  if (!v8::Script::Compile(context, ToV8String(isolate, code), &origin)
           .ToLocal(&script)) {
    return {};
  }
  v8::Local<v8::Value> result;
  if (!script->Run(context).ToLocal(&result)) {
    return {};
  }
  return scope.Escape(result);
}

V8ContextImpl::V8ContextImpl(IsolateManager* manager,
                             v8::Local<v8::Context> context)
    : handle(manager->isolate(), context),
      state(manager->GetContextState(context)) {
  StartTracking(manager);
}

V8ContextImpl::~V8ContextImpl() {
  // Dropping an entered wrapper closes its microtask scope at once.
  microtasks.reset();
  handle.Reset();
}

void V8ContextImpl::OnIsolateTeardown() {
  microtasks.reset();
  handle.Reset();
}

bool V8ContextImpl::PassesValid() const {
  IsolateManager* current = Manager();
  return current && manager() == current && !handle.IsEmpty() && state &&
         state->valid;
}

FrameModel* V8ContextImpl::DisplayedFrame() const {
  v8::Isolate* isolate = Manager()->isolate();
  v8::HandleScope scope(isolate);
  WindowRecord* window = IsolateManager::WindowOf(handle.Get(isolate));
  if (!window || !window->frame || !window->frame->attached) {
    return nullptr;
  }
  return window->frame;
}

CefRefPtr<CefTaskRunner> V8ContextImpl::GetTaskRunner() {
  return new RendererTaskRunner();
}

bool V8ContextImpl::IsValid() {
  return PassesValid();
}

// Both null while script is forbidden, i.e. inside OnContextReleased.
CefRefPtr<CefBrowser> V8ContextImpl::GetBrowser() {
  if (!PassesValid() || Manager()->IsScriptForbidden()) {
    return nullptr;
  }
  FrameModel* frame = DisplayedFrame();
  if (!frame || !frame->browser || !frame->browser->valid) {
    return nullptr;
  }
  return WrapBrowser(frame->browser.get());
}

CefRefPtr<CefFrame> V8ContextImpl::GetFrame() {
  if (!PassesValid() || Manager()->IsScriptForbidden()) {
    return nullptr;
  }
  FrameModel* frame = DisplayedFrame();
  return frame ? WrapFrame(frame) : nullptr;
}

// The global proxy (window); no Enter needed.
CefRefPtr<CefV8Value> V8ContextImpl::GetGlobal() {
  if (!PassesValid() || Manager()->IsScriptForbidden()) {
    return nullptr;
  }
  v8::Isolate* isolate = Manager()->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Context> context = handle.Get(isolate);
  v8::Context::Scope contextScope(context);
  return V8ValueImpl::Wrap(Manager(), context->Global());
}

bool V8ContextImpl::Enter() {
  if (!PassesValid() || Manager()->IsScriptForbidden()) {
    return false;
  }
  v8::Isolate* isolate = Manager()->isolate();
  if (!microtasks) {
    microtasks = std::make_unique<v8::MicrotasksScope>(
        isolate, v8::MicrotasksScope::kRunMicrotasks);
  }
  ++enterCount;
  v8::HandleScope scope(isolate);
  handle.Get(isolate)->Enter();
  return true;
}

// The count belongs to this wrapper: exiting a context entered through
// another wrapper fails, and V8 stays inside it.
bool V8ContextImpl::Exit() {
  if (!PassesValid() || Manager()->IsScriptForbidden()) {
    return false;
  }
  if (enterCount <= 0) {
    Manager()->Log(
        "ERROR: CefV8ContextImpl::Exit() without matching call to "
        "CefV8ContextImpl::Enter()");
    return false;
  }
  v8::Isolate* isolate = Manager()->isolate();
  {
    v8::HandleScope scope(isolate);
    v8::Local<v8::Context> context = handle.Get(isolate);
    if (isolate->GetEnteredOrMicrotaskContext() != context) {
      Fatal(
          "CefV8Context::Exit() of a context that is not the last entered "
          "one; V8 fails 'Cannot exit non-entered context'");
    }
    context->Exit();
  }
  if (--enterCount == 0) {
    microtasks.reset();  // outermost scope: pending reactions run here
  }
  return true;
}

bool V8ContextImpl::IsSame(CefRefPtr<CefV8Context> that) {
  if (!that || !PassesValid() || !that->IsValid()) {
    return false;
  }
  return handle == From(that)->handle;
}

bool V8ContextImpl::Eval(const CefString& code,
                         const CefString& script_url,
                         int start_line,
                         CefRefPtr<CefV8Value>& retval,
                         CefRefPtr<CefV8Exception>& exception) {
  // The wrapper returns before touching the out-parameters.
  if (code.empty()) {
    return false;
  }
  retval = nullptr;
  exception = nullptr;
  if (!PassesValid() || Manager()->IsScriptForbidden()) {
    return false;
  }
  IsolateManager* current = Manager();
  v8::Isolate* isolate = current->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Context> context = handle.Get(isolate);
  v8::Context::Scope contextScope(context);
  v8::TryCatch outer(isolate);
  outer.SetVerbose(true);
  v8::MaybeLocal<v8::Value> result;
  {
    // Blink catches quietly and re-throws into CEF's handler, so Eval
    // errors are never reported as uncaught.
    v8::TryCatch inner(isolate);
    result = RunScriptLikeBlink(current, context, code, script_url, start_line);
    if (inner.HasCaught()) {
      inner.ReThrow();
    }
  }
  if (outer.HasCaught()) {
    exception = new V8ExceptionImpl(context, outer.Message());
    return false;
  }
  if (result.IsEmpty()) {
    return false;
  }
  retval = V8ValueImpl::Wrap(current, result.ToLocalChecked());
  return true;
}

V8ExceptionImpl::V8ExceptionImpl(v8::Local<v8::Context> context,
                                 v8::Local<v8::Message> v8Message) {
  if (v8Message.IsEmpty()) {
    return;
  }
  v8::Isolate* isolate = context->GetIsolate();
  message = FromV8String(isolate, v8Message->Get());
  v8::Local<v8::String> source;
  if (v8Message->GetSourceLine(context).ToLocal(&source)) {
    sourceLine = FromV8String(isolate, source);
  }
  scriptResourceName =
      FromV8String(isolate, v8Message->GetScriptResourceName());
  lineNumber = v8Message->GetLineNumber(context).FromMaybe(0);
  startPosition = v8Message->GetStartPosition();
  endPosition = v8Message->GetEndPosition();
  startColumn = v8Message->GetStartColumn(context).FromMaybe(0);
  endColumn = v8Message->GetEndColumn(context).FromMaybe(0);
}

namespace {

class V8StackFrameImpl : public CefV8StackFrame {
 public:
  V8StackFrameImpl(v8::Isolate* isolate, v8::Local<v8::StackFrame> frame)
      : scriptName(FromV8String(isolate, frame->GetScriptName())),
        scriptNameOrSourceUrl(
            FromV8String(isolate, frame->GetScriptNameOrSourceURL())),
        functionName(FromV8String(isolate, frame->GetFunctionName())),
        lineNumber(frame->GetLineNumber()),
        column(frame->GetColumn()),
        isEval(frame->IsEval()),
        isConstructor(frame->IsConstructor()) {}
  V8StackFrameImpl(const V8StackFrameImpl&) = delete;
  V8StackFrameImpl& operator=(const V8StackFrameImpl&) = delete;

  // CefV8StackFrame methods:
  bool IsValid() override { return Manager() != nullptr; }
  CefString GetScriptName() override { return scriptName; }
  CefString GetScriptNameOrSourceURL() override {
    return scriptNameOrSourceUrl;
  }
  CefString GetFunctionName() override { return functionName; }
  int GetLineNumber() override { return lineNumber; }
  int GetColumn() override { return column; }
  bool IsEval() override { return isEval; }
  bool IsConstructor() override { return isConstructor; }

 private:
  CefString scriptName;
  CefString scriptNameOrSourceUrl;
  CefString functionName;
  int lineNumber;
  int column;
  bool isEval;
  bool isConstructor;

  IMPLEMENT_REFCOUNTING(V8StackFrameImpl);
};

class V8StackTraceImpl : public CefV8StackTrace {
 public:
  V8StackTraceImpl(v8::Isolate* isolate, v8::Local<v8::StackTrace> trace) {
    const int count = trace->GetFrameCount();
    for (int i = 0; i < count; ++i) {
      frames.push_back(
          new V8StackFrameImpl(isolate, trace->GetFrame(isolate, i)));
    }
  }
  V8StackTraceImpl(const V8StackTraceImpl&) = delete;
  V8StackTraceImpl& operator=(const V8StackTraceImpl&) = delete;

  // CefV8StackTrace methods:
  bool IsValid() override { return Manager() != nullptr; }
  int GetFrameCount() override { return static_cast<int>(frames.size()); }
  CefRefPtr<CefV8StackFrame> GetFrame(int index) override {
    if (index < 0 || index >= GetFrameCount()) {
      return nullptr;
    }
    return frames[static_cast<size_t>(index)];
  }

 private:
  std::vector<CefRefPtr<CefV8StackFrame>> frames;

  IMPLEMENT_REFCOUNTING(V8StackTraceImpl);
};

}  // namespace

}  // namespace cefsim

using cefsim::IsolateManager;
using cefsim::V8ContextImpl;

CefRefPtr<CefV8Context> CefV8Context::GetCurrentContext() {
  IsolateManager* manager = IsolateManager::Current();
  if (!manager || !manager->isolate()->InContext()) {
    return nullptr;
  }
  v8::HandleScope scope(manager->isolate());
  return new V8ContextImpl(manager, manager->isolate()->GetCurrentContext());
}

CefRefPtr<CefV8Context> CefV8Context::GetEnteredContext() {
  IsolateManager* manager = IsolateManager::Current();
  if (!manager || !manager->isolate()->InContext()) {
    return nullptr;
  }
  v8::HandleScope scope(manager->isolate());
  return new V8ContextImpl(manager,
                           manager->isolate()->GetEnteredOrMicrotaskContext());
}

bool CefV8Context::InContext() {
  IsolateManager* manager = IsolateManager::Current();
  return manager && manager->isolate()->InContext();
}

CefRefPtr<CefV8StackTrace> CefV8StackTrace::GetCurrent(int frame_limit) {
  IsolateManager* manager = IsolateManager::Current();
  if (!manager || !manager->isolate()->InContext()) {
    return nullptr;
  }
  v8::Isolate* isolate = manager->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::StackTrace> trace = v8::StackTrace::CurrentStackTrace(
      isolate, frame_limit, v8::StackTrace::kDetailed);
  if (trace.IsEmpty()) {
    return nullptr;
  }
  return new cefsim::V8StackTraceImpl(isolate, trace);
}

bool CefRegisterExtension(const CefString&,
                          const CefString&,
                          CefRefPtr<CefV8Handler>) {
  // Extensions must be registered in OnWebKitInitialized; the program
  // registers none, so cefsim does not run them.
  cefsim::Fatal("CefRegisterExtension is not simulated");
}
