// Uncaught errors and unhandled rejections of demo runs, with the place the
// demo reports them at.

#include "cefsim/demo_script_watch.h"

#include <algorithm>

#include <v8.h>

#include "cefsim/fatal.h"
#include "cefsim/renderer_process.h"
#include "v8_isolate.h"

namespace cefsim {

struct ScriptProblemWatch::State {
  struct Rejection {
    v8::Global<v8::Promise> promise;
    v8::Global<v8::Value> reason;
    ScriptProblem place;  // known at rejection time
  };

  IsolateManager* manager = nullptr;
  std::string internalScript;
  std::vector<ScriptProblem> errors;
  std::vector<Rejection> rejections;
};

namespace {

thread_local ScriptProblemWatch::State* currentWatch = nullptr;

std::string Utf8(v8::Isolate* isolate, v8::Local<v8::Value> value) {
  return FromV8String(isolate, value).ToString();
}

bool IsBrowserSide(v8::Local<v8::Context> context) {
  WindowRecord* window = IsolateManager::WindowOf(context);
  return window && window->standalone;
}

template <typename Entry, typename Side>
std::vector<Entry> TakeSide(std::vector<Entry>& entries, Side side) {
  std::vector<Entry> taken;
  auto kept =
      std::stable_partition(entries.begin(), entries.end(),
                            [&](const Entry& entry) { return !side(entry); });
  std::move(kept, entries.end(), std::back_inserter(taken));
  entries.erase(kept, entries.end());
  return taken;
}

// The first frame outside the internal script; false when there is none.
bool PlaceFromStack(v8::Isolate* isolate,
                    v8::Local<v8::StackTrace> trace,
                    const std::string& internalScript,
                    ScriptProblem& place) {
  if (trace.IsEmpty()) {
    return false;
  }
  for (int i = 0; i < trace->GetFrameCount(); ++i) {
    v8::Local<v8::StackFrame> frame = trace->GetFrame(isolate, i);
    const std::string script = Utf8(isolate, frame->GetScriptNameOrSourceURL());
    if (script == internalScript) {
      continue;
    }
    place.script = script;
    place.line = frame->GetLineNumber();
    return true;
  }
  return false;
}

void PlaceFromMessage(v8::Local<v8::Context> context,
                      v8::Local<v8::Message> message,
                      const std::string& internalScript,
                      ScriptProblem& place) {
  v8::Isolate* isolate = context->GetIsolate();
  const std::string script = Utf8(isolate, message->GetScriptResourceName());
  if (script == internalScript &&
      PlaceFromStack(isolate, message->GetStackTrace(), internalScript,
                     place)) {
    return;
  }
  place.script = script;
  place.line = message->GetLineNumber(context).FromMaybe(0);
  v8::Local<v8::String> source;
  if (message->GetSourceLine(context).ToLocal(&source)) {
    place.sourceLine = Utf8(isolate, source);
  }
}

void OnMessage(v8::Local<v8::Message> message, v8::Local<v8::Value>) {
  ScriptProblemWatch::State* watch = currentWatch;
  if (!watch) {
    return;
  }
  v8::Isolate* isolate = watch->manager->isolate();
  if (!isolate->InContext()) {
    return;
  }
  v8::HandleScope scope(isolate);
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  ScriptProblem problem;
  problem.browserSide = IsBrowserSide(context);
  problem.text = Utf8(isolate, message->Get());
  PlaceFromMessage(context, message, watch->internalScript, problem);
  watch->errors.push_back(problem);
}

void OnPromiseReject(v8::PromiseRejectMessage message) {
  ScriptProblemWatch::State* watch = currentWatch;
  if (!watch) {
    return;
  }
  v8::Isolate* isolate = watch->manager->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Promise> promise = message.GetPromise();
  auto& rejections = watch->rejections;
  if (message.GetEvent() == v8::kPromiseHandlerAddedAfterReject) {
    rejections.erase(
        std::remove_if(rejections.begin(), rejections.end(),
                       [&](const ScriptProblemWatch::State::Rejection& entry) {
                         return entry.promise == promise;
                       }),
        rejections.end());
    return;
  }
  if (message.GetEvent() != v8::kPromiseRejectWithNoHandler) {
    return;
  }
  ScriptProblemWatch::State::Rejection rejection;
  rejection.promise.Reset(isolate, promise);
  rejection.reason.Reset(isolate, message.GetValue());
  v8::Local<v8::Context> creation;
  rejection.place.browserSide =
      promise->GetCreationContext().ToLocal(&creation) &&
      IsBrowserSide(creation);
  // An Error knows where it was made; anything else was thrown here.
  if (!PlaceFromStack(isolate, v8::Exception::GetStackTrace(message.GetValue()),
                      watch->internalScript, rejection.place)) {
    PlaceFromStack(isolate, v8::StackTrace::CurrentStackTrace(isolate, 16),
                   watch->internalScript, rejection.place);
  }
  rejections.push_back(std::move(rejection));
}

}  // namespace

ScriptProblemWatch::ScriptProblemWatch(const std::string& internalScript)
    : state(std::make_unique<State>()) {
  RendererProcess* process = RendererProcess::Current();
  if (!process || currentWatch) {
    Fatal("ScriptProblemWatch needs a renderer process and is one per thread");
  }
  state->manager = process->manager();
  state->internalScript = internalScript;
  v8::Isolate* isolate = state->manager->isolate();
  // Errors then carry the stack of where they were made.
  isolate->SetCaptureStackTraceForUncaughtExceptions(true, 16);
  isolate->AddMessageListenerWithErrorLevel(&OnMessage,
                                            v8::Isolate::kMessageError);
  // The isolate's one rejection callback is cefsim's; it passes these on.
  state->manager->promiseRejectWatch = &OnPromiseReject;
  currentWatch = state.get();
}

ScriptProblemWatch::~ScriptProblemWatch() {
  v8::Isolate* isolate = state->manager->isolate();
  currentWatch = nullptr;
  state->manager->promiseRejectWatch = nullptr;
  isolate->RemoveMessageListeners(&OnMessage);
  isolate->SetCaptureStackTraceForUncaughtExceptions(false);
}

std::vector<ScriptProblem> ScriptProblemWatch::TakeUncaughtErrors(
    bool browserSide) {
  return TakeSide(state->errors, [browserSide](const ScriptProblem& problem) {
    return problem.browserSide == browserSide;
  });
}

std::vector<ScriptProblem> ScriptProblemWatch::TakeUnhandledRejections(
    bool browserSide) {
  std::vector<State::Rejection> pending =
      TakeSide(state->rejections, [browserSide](const State::Rejection& entry) {
        return entry.place.browserSide == browserSide;
      });
  std::vector<ScriptProblem> taken;
  v8::Isolate* isolate = state->manager->isolate();
  v8::HandleScope scope(isolate);
  for (State::Rejection& rejection : pending) {
    ScriptProblem problem = rejection.place;
    std::string reasonText = "<unprintable>";
    v8::Local<v8::Context> context;
    if (rejection.promise.Get(isolate)->GetCreationContext().ToLocal(
            &context)) {
      v8::Context::Scope contextScope(context);
      v8::TryCatch tryCatch(isolate);
      v8::Local<v8::String> text;
      if (rejection.reason.Get(isolate)->ToString(context).ToLocal(&text)) {
        reasonText = Utf8(isolate, text);
      }
    }
    problem.text = "Uncaught (in promise) " + reasonText;
    taken.push_back(std::move(problem));
  }
  return taken;
}

}  // namespace cefsim
