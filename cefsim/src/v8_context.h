#pragma once

#include <memory>

#include <v8.h>

#include "include/cef_v8.h"
#include "v8_isolate.h"

namespace cefsim {

// CEF's CefV8ContextImpl. Enter/Exit are counted per wrapper object, and the
// first Enter opens a microtask scope that the last Exit closes.
class V8ContextImpl : public CefV8Context, public V8Tracked {
 public:
  V8ContextImpl(IsolateManager* manager, v8::Local<v8::Context> context);
  V8ContextImpl(const V8ContextImpl&) = delete;
  V8ContextImpl& operator=(const V8ContextImpl&) = delete;

  static V8ContextImpl* From(const CefRefPtr<CefV8Context>& context) {
    return static_cast<V8ContextImpl*>(context.get());
  }
  v8::Local<v8::Context> Context(v8::Isolate* isolate) const {
    return handle.Get(isolate);
  }

  // CefV8Context methods:
  CefRefPtr<CefTaskRunner> GetTaskRunner() override;
  bool IsValid() override;
  CefRefPtr<CefBrowser> GetBrowser() override;
  CefRefPtr<CefFrame> GetFrame() override;
  CefRefPtr<CefV8Value> GetGlobal() override;
  bool Enter() override;
  bool Exit() override;
  bool IsSame(CefRefPtr<CefV8Context> that) override;
  bool Eval(const CefString& code,
            const CefString& script_url,
            int start_line,
            CefRefPtr<CefV8Value>& retval,
            CefRefPtr<CefV8Exception>& exception) override;

 private:
  ~V8ContextImpl();
  void OnIsolateTeardown() override;
  bool PassesValid() const;
  FrameModel* DisplayedFrame() const;

  v8::Global<v8::Context> handle;
  CefRefPtr<ContextState> state;
  int enterCount = 0;
  std::unique_ptr<v8::MicrotasksScope> microtasks;

  IMPLEMENT_REFCOUNTING(V8ContextImpl);
};

// CEF's CefV8ExceptionImpl: copied out of the V8 message at once.
class V8ExceptionImpl : public CefV8Exception {
 public:
  V8ExceptionImpl(v8::Local<v8::Context> context,
                  v8::Local<v8::Message> message);
  V8ExceptionImpl(const V8ExceptionImpl&) = delete;
  V8ExceptionImpl& operator=(const V8ExceptionImpl&) = delete;

  // CefV8Exception methods:
  CefString GetMessage() override { return message; }
  CefString GetSourceLine() override { return sourceLine; }
  CefString GetScriptResourceName() override { return scriptResourceName; }
  int GetLineNumber() override { return lineNumber; }
  int GetStartPosition() override { return startPosition; }
  int GetEndPosition() override { return endPosition; }
  int GetStartColumn() override { return startColumn; }
  int GetEndColumn() override { return endColumn; }

 private:
  CefString message;
  CefString sourceLine;
  CefString scriptResourceName;
  int lineNumber = 0;
  int startPosition = 0;
  int endPosition = 0;
  int startColumn = 0;
  int endColumn = 0;

  IMPLEMENT_REFCOUNTING(V8ExceptionImpl);
};

// Blink's V8ScriptRunner as CEF's glue reaches it. Both refuse to run in a
// detached window (empty result, no exception), refuse nested entry at
// depth 44 and forbidden script, and open a kRunMicrotasks scope.
v8::MaybeLocal<v8::Value> CallFunctionLikeBlink(
    IsolateManager* manager,
    v8::Local<v8::Context> context,
    v8::Local<v8::Function> function,
    v8::Local<v8::Value> receiver,
    int argc,
    v8::Local<v8::Value>* argv);
v8::MaybeLocal<v8::Value> RunScriptLikeBlink(IsolateManager* manager,
                                             v8::Local<v8::Context> context,
                                             const CefString& code,
                                             const CefString& scriptUrl,
                                             int startLine);

}  // namespace cefsim
