// The few Blink globals page scripts under test use: window/self, document
// (title, createElement with focus/blur), console, setTimeout/clearTimeout,
// queueMicrotask, fetch() through the browser process, and the window's error
// and unhandledrejection events. A bare V8 context has none of them.

#include "v8_page.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "cefsim/fatal.h"
#include "cefsim/renderer_process.h"
#include "frame_impl.h"
#include "v8_context.h"

namespace cefsim {
namespace {

WindowRecord* WindowFromData(const v8::FunctionCallbackInfo<v8::Value>& info) {
  return static_cast<WindowRecord*>(info.Data().As<v8::External>()->Value());
}

std::string Utf8(v8::Isolate* isolate, v8::Local<v8::Value> value) {
  return FromV8String(isolate, value).ToString();
}

// String(value) for console output; values that refuse (Symbols) print as
// their description would in a real console.
std::string Printable(v8::Local<v8::Context> context,
                      v8::Local<v8::Value> value) {
  v8::Isolate* isolate = context->GetIsolate();
  if (value->IsSymbol()) {
    return "Symbol()";
  }
  v8::TryCatch tryCatch(isolate);
  v8::Local<v8::String> text;
  if (!value->ToString(context).ToLocal(&text)) {
    return "<unprintable>";
  }
  return Utf8(isolate, text);
}

void ConsoleMethod(const v8::FunctionCallbackInfo<v8::Value>& info,
                   const char* level) {
  WindowRecord* window = WindowFromData(info);
  RendererProcess* process = RendererProcess::Current();
  if (!process || !window->frame) {
    return;
  }
  v8::Local<v8::Context> context = info.GetIsolate()->GetCurrentContext();
  std::string line = level;
  line += ":";
  for (int i = 0; i < info.Length(); ++i) {
    line += " " + Printable(context, info[i]);
  }
  process->AddConsoleLine(window->frame, line);
}

void ConsoleLog(const v8::FunctionCallbackInfo<v8::Value>& info) {
  ConsoleMethod(info, "log");
}
void ConsoleInfo(const v8::FunctionCallbackInfo<v8::Value>& info) {
  ConsoleMethod(info, "info");
}
void ConsoleWarn(const v8::FunctionCallbackInfo<v8::Value>& info) {
  ConsoleMethod(info, "warn");
}
void ConsoleError(const v8::FunctionCallbackInfo<v8::Value>& info) {
  ConsoleMethod(info, "error");
}

// One timer callback with its arguments, run later as a page task.
struct TimerCall {
  WindowRecord* window = nullptr;
  v8::Global<v8::Function> function;
  std::vector<v8::Global<v8::Value>> arguments;
};

void RunTimer(const std::shared_ptr<TimerCall>& call) {
  RendererProcess* process = RendererProcess::Current();
  // Timers of a document that left its frame never fire.
  if (!process || call->window->context.IsEmpty() ||
      (!call->window->frame && !call->window->standalone)) {
    return;
  }
  v8::Isolate* isolate = process->manager()->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Context> context = call->window->context.Get(isolate);
  v8::Context::Scope contextScope(context);
  std::vector<v8::Local<v8::Value>> argv;
  for (const v8::Global<v8::Value>& argument : call->arguments) {
    argv.push_back(argument.Get(isolate));
  }
  v8::TryCatch tryCatch(isolate);
  tryCatch.SetVerbose(true);
  (void)CallFunctionLikeBlink(process->manager(), context,
                              call->function.Get(isolate), context->Global(),
                              static_cast<int>(argv.size()), argv.data());
}

void SetTimeout(const v8::FunctionCallbackInfo<v8::Value>& info) {
  RendererProcess* process = RendererProcess::Current();
  v8::Isolate* isolate = info.GetIsolate();
  if (!process || info.Length() < 1 || !info[0]->IsFunction()) {
    info.GetReturnValue().Set(0);
    return;
  }
  auto call = std::make_shared<TimerCall>();
  call->window = WindowFromData(info);
  call->function.Reset(isolate, info[0].As<v8::Function>());
  for (int i = 2; i < info.Length(); ++i) {
    call->arguments.emplace_back(isolate, info[i]);
  }
  int64_t delay = 0;
  if (info.Length() > 1) {
    delay = info[1]->IntegerValue(isolate->GetCurrentContext()).FromMaybe(0);
  }
  const int id = process->PostDelayedTask([call] { RunTimer(call); },
                                          delay < 0 ? 0 : delay);
  info.GetReturnValue().Set(id);
}

void ClearTimeout(const v8::FunctionCallbackInfo<v8::Value>& info) {
  RendererProcess* process = RendererProcess::Current();
  if (process && info.Length() > 0) {
    process->CancelDelayedTask(static_cast<int>(
        info[0]
            ->IntegerValue(info.GetIsolate()->GetCurrentContext())
            .FromMaybe(0)));
  }
}

void QueueMicrotask(const v8::FunctionCallbackInfo<v8::Value>& info) {
  v8::Isolate* isolate = info.GetIsolate();
  if (info.Length() < 1 || !info[0]->IsFunction()) {
    isolate->ThrowException(
        v8::Exception::TypeError(v8::String::NewFromUtf8Literal(
            isolate,
            "Failed to execute 'queueMicrotask' on 'Window': parameter 1 is "
            "not of type 'Function'.")));
    return;
  }
  isolate->EnqueueMicrotask(info[0].As<v8::Function>());
}

void TitleGetter(v8::Local<v8::Name>,
                 const v8::PropertyCallbackInfo<v8::Value>& info) {
  auto* window =
      static_cast<WindowRecord*>(info.Data().As<v8::External>()->Value());
  const std::string title = window->frame ? window->frame->title : "";
  info.GetReturnValue().Set(
      v8::String::NewFromUtf8(info.GetIsolate(), title.c_str(),
                              v8::NewStringType::kNormal,
                              static_cast<int>(title.size()))
          .ToLocalChecked());
}

void TitleSetter(v8::Local<v8::Name>,
                 v8::Local<v8::Value> value,
                 const v8::PropertyCallbackInfo<void>& info) {
  auto* window =
      static_cast<WindowRecord*>(info.Data().As<v8::External>()->Value());
  if (window->frame) {
    window->frame->title =
        Printable(info.GetIsolate()->GetCurrentContext(), value);
  }
}

// element.focus() and blur() move focus synchronously, inside the script.
void ElementFocus(const v8::FunctionCallbackInfo<v8::Value>& info, bool focus) {
  RendererProcess* process = RendererProcess::Current();
  WindowRecord* window = WindowFromData(info);
  if (!process || !window->frame) {
    return;
  }
  v8::Isolate* isolate = info.GetIsolate();
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  std::string tagName = "DIV";
  v8::Local<v8::Value> tag;
  if (info.This()
          ->Get(context, v8::String::NewFromUtf8Literal(isolate, "tagName"))
          .ToLocal(&tag) &&
      tag->IsString()) {
    tagName = Utf8(isolate, tag);
  }
  process->FocusFromScript(
      window->frame, focus ? FocusTarget::kElement : FocusTarget::kNothing,
      tagName);
}

void Focus(const v8::FunctionCallbackInfo<v8::Value>& info) {
  ElementFocus(info, true);
}

void Blur(const v8::FunctionCallbackInfo<v8::Value>& info) {
  ElementFocus(info, false);
}

v8::Local<v8::Function> NewFunction(v8::Local<v8::Context> context,
                                    v8::FunctionCallback callback,
                                    v8::Local<v8::Value> data,
                                    const char* name) {
  v8::Isolate* isolate = context->GetIsolate();
  v8::Local<v8::Function> function =
      v8::Function::New(context, callback, data, 0,
                        v8::ConstructorBehavior::kThrow)
          .ToLocalChecked();
  function->SetName(v8::String::NewFromUtf8(isolate, name).ToLocalChecked());
  return function;
}

void SetMethod(v8::Local<v8::Context> context,
               v8::Local<v8::Object> target,
               const char* name,
               v8::FunctionCallback callback,
               v8::Local<v8::Value> data) {
  v8::Isolate* isolate = context->GetIsolate();
  target
      ->Set(context, v8::String::NewFromUtf8(isolate, name).ToLocalChecked(),
            NewFunction(context, callback, data, name))
      .Check();
}

void CreateElement(const v8::FunctionCallbackInfo<v8::Value>& info) {
  v8::Isolate* isolate = info.GetIsolate();
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  std::string tagName = "DIV";
  if (info.Length() > 0) {
    tagName = Printable(context, info[0]);
    for (char& c : tagName) {
      if (c >= 'a' && c <= 'z') {
        c = static_cast<char>(c - 'a' + 'A');
      }
    }
  }
  v8::Local<v8::Object> element = v8::Object::New(isolate);
  element
      ->Set(context, v8::String::NewFromUtf8Literal(isolate, "tagName"),
            v8::String::NewFromUtf8(isolate, tagName.c_str()).ToLocalChecked())
      .Check();
  element
      ->Set(context, v8::String::NewFromUtf8Literal(isolate, "nodeType"),
            v8::Integer::New(isolate, 1))
      .Check();
  SetMethod(context, element, "focus", &Focus, info.Data());
  SetMethod(context, element, "blur", &Blur, info.Data());
  info.GetReturnValue().Set(element);
}

v8::Local<v8::String> V8Text(v8::Isolate* isolate, const std::string& text) {
  return v8::String::NewFromUtf8(isolate, text.c_str(),
                                 v8::NewStringType::kNormal,
                                 static_cast<int>(text.size()))
      .ToLocalChecked();
}

// Only callable listeners are kept; Blink would also take objects with a
// handleEvent method, which no page under test uses.
void AddEventListener(const v8::FunctionCallbackInfo<v8::Value>& info) {
  v8::Isolate* isolate = info.GetIsolate();
  if (info.Length() < 2) {
    isolate->ThrowException(v8::Exception::TypeError(V8Text(
        isolate,
        "Failed to execute 'addEventListener' on 'EventTarget': 2 arguments "
        "required, but only " +
            std::to_string(info.Length()) + " present.")));
    return;
  }
  if (!info[1]->IsFunction()) {
    return;
  }
  WindowRecord* window = WindowFromData(info);
  const std::string type = Printable(isolate->GetCurrentContext(), info[0]);
  v8::Local<v8::Function> function = info[1].As<v8::Function>();
  for (const WindowRecord::EventListener& listener : window->listeners) {
    if (!listener.attribute && listener.type == type &&
        listener.function.Get(isolate) == function) {
      return;  // the same listener twice is kept once
    }
  }
  WindowRecord::EventListener listener;
  listener.type = type;
  listener.function.Reset(isolate, function);
  window->listeners.push_back(std::move(listener));
}

void RemoveEventListener(const v8::FunctionCallbackInfo<v8::Value>& info) {
  v8::Isolate* isolate = info.GetIsolate();
  if (info.Length() < 2 || !info[1]->IsFunction()) {
    return;
  }
  WindowRecord* window = WindowFromData(info);
  const std::string type = Printable(isolate->GetCurrentContext(), info[0]);
  v8::Local<v8::Function> function = info[1].As<v8::Function>();
  auto& listeners = window->listeners;
  listeners.erase(
      std::remove_if(listeners.begin(), listeners.end(),
                     [&](const WindowRecord::EventListener& listener) {
                       return !listener.attribute && listener.type == type &&
                              listener.function.Get(isolate) == function;
                     }),
      listeners.end());
}

// `onerror` and `onunhandledrejection`: the property name less "on".
std::string HandlerType(v8::Isolate* isolate, v8::Local<v8::Name> property) {
  return Utf8(isolate, property).substr(2);
}

std::vector<WindowRecord::EventListener>::iterator FindHandler(
    WindowRecord* window,
    const std::string& type) {
  return std::find_if(window->listeners.begin(), window->listeners.end(),
                      [&](const WindowRecord::EventListener& listener) {
                        return listener.attribute && listener.type == type;
                      });
}

void HandlerGetter(v8::Local<v8::Name> property,
                   const v8::PropertyCallbackInfo<v8::Value>& info) {
  v8::Isolate* isolate = info.GetIsolate();
  auto* window =
      static_cast<WindowRecord*>(info.Data().As<v8::External>()->Value());
  auto handler = FindHandler(window, HandlerType(isolate, property));
  if (handler == window->listeners.end()) {
    info.GetReturnValue().SetNull();
    return;
  }
  info.GetReturnValue().Set(handler->function.Get(isolate));
}

// A function takes the handler's place (or the end of the list); anything
// else removes it.
void HandlerSetter(v8::Local<v8::Name> property,
                   v8::Local<v8::Value> value,
                   const v8::PropertyCallbackInfo<void>& info) {
  v8::Isolate* isolate = info.GetIsolate();
  auto* window =
      static_cast<WindowRecord*>(info.Data().As<v8::External>()->Value());
  const std::string type = HandlerType(isolate, property);
  auto handler = FindHandler(window, type);
  if (!value->IsFunction()) {
    if (handler != window->listeners.end()) {
      window->listeners.erase(handler);
    }
    return;
  }
  if (handler != window->listeners.end()) {
    handler->function.Reset(isolate, value.As<v8::Function>());
    return;
  }
  WindowRecord::EventListener listener;
  listener.type = type;
  listener.attribute = true;
  listener.function.Reset(isolate, value.As<v8::Function>());
  window->listeners.push_back(std::move(listener));
}

void PreventDefault(const v8::FunctionCallbackInfo<v8::Value>& info) {
  v8::Isolate* isolate = info.GetIsolate();
  info.Data()
      .As<v8::Object>()
      ->CreateDataProperty(
          isolate->GetCurrentContext(),
          v8::String::NewFromUtf8Literal(isolate, "defaultPrevented"),
          v8::True(isolate))
      .Check();
}

void SetField(v8::Local<v8::Context> context,
              v8::Local<v8::Object> object,
              const char* name,
              v8::Local<v8::Value> value) {
  object
      ->CreateDataProperty(
          context,
          v8::String::NewFromUtf8(context->GetIsolate(), name).ToLocalChecked(),
          value)
      .Check();
}

v8::Local<v8::Object> NewEvent(v8::Local<v8::Context> context,
                               const std::string& type) {
  v8::Isolate* isolate = context->GetIsolate();
  v8::Local<v8::Object> event = v8::Object::New(isolate);
  SetField(context, event, "type", V8Text(isolate, type));
  SetField(context, event, "cancelable", v8::True(isolate));
  SetField(context, event, "defaultPrevented", v8::False(isolate));
  SetField(context, event, "preventDefault",
           NewFunction(context, &PreventDefault, event, "preventDefault"));
  return event;
}

// Every listener of `type` registered when dispatch starts, each as its own
// script entry; a handler attribute gets `handlerArguments`, the others the
// event. A listener's throw is reported like any uncaught error.
void CallListeners(v8::Local<v8::Context> context,
                   WindowRecord* window,
                   const std::string& type,
                   v8::Local<v8::Object> event,
                   std::vector<v8::Local<v8::Value>> handlerArguments) {
  IsolateManager* manager = IsolateManager::Current();
  v8::Isolate* isolate = context->GetIsolate();
  std::vector<std::pair<bool, v8::Local<v8::Function>>> targets;
  for (const WindowRecord::EventListener& listener : window->listeners) {
    if (listener.type == type) {
      targets.emplace_back(listener.attribute, listener.function.Get(isolate));
    }
  }
  for (const auto& [attribute, function] : targets) {
    std::vector<v8::Local<v8::Value>> argv =
        attribute ? handlerArguments : std::vector<v8::Local<v8::Value>>{event};
    v8::TryCatch tryCatch(isolate);
    tryCatch.SetVerbose(true);
    (void)CallFunctionLikeBlink(manager, context, function, context->Global(),
                                static_cast<int>(argv.size()), argv.data());
  }
}

}  // namespace

void DispatchErrorEvent(v8::Local<v8::Context> context,
                        v8::Local<v8::Message> message,
                        v8::Local<v8::Value> exception) {
  IsolateManager* manager = IsolateManager::Current();
  WindowRecord* window = IsolateManager::WindowOf(context);
  // Listeners cannot run while script is forbidden.
  if (!manager || manager->IsScriptForbidden() || !window || !window->frame ||
      window->dispatchingError) {
    return;
  }
  v8::Isolate* isolate = context->GetIsolate();
  v8::HandleScope scope(isolate);
  v8::Context::Scope contextScope(context);
  v8::Local<v8::Value> text = message->Get();
  v8::Local<v8::Value> source = message->GetScriptResourceName();
  if (!source->IsString()) {
    source = v8::String::Empty(isolate);
  }
  const int line = message->GetLineNumber(context).FromMaybe(0);
  // Blink's columns are 1-based.
  const int column = message->GetStartColumn(context).FromMaybe(-1) + 1;
  v8::Local<v8::Value> error =
      exception.IsEmpty() ? v8::Local<v8::Value>(v8::Undefined(isolate))
                          : exception;
  v8::Local<v8::Object> event = NewEvent(context, "error");
  SetField(context, event, "message", text);
  SetField(context, event, "filename", source);
  SetField(context, event, "lineno", v8::Integer::New(isolate, line));
  SetField(context, event, "colno", v8::Integer::New(isolate, column));
  SetField(context, event, "error", error);
  window->dispatchingError = true;
  CallListeners(context, window, "error", event,
                {text, source, v8::Integer::New(isolate, line),
                 v8::Integer::New(isolate, column), error});
  window->dispatchingError = false;
}

void DispatchUnhandledRejection(v8::Local<v8::Context> context,
                                v8::Local<v8::Promise> promise,
                                v8::Local<v8::Value> reason) {
  WindowRecord* window = IsolateManager::WindowOf(context);
  // A handler attached since the rejection withdraws the report.
  if (!window || !window->frame || promise->HasHandler()) {
    return;
  }
  v8::Isolate* isolate = context->GetIsolate();
  v8::HandleScope scope(isolate);
  v8::Context::Scope contextScope(context);
  v8::Local<v8::Object> event = NewEvent(context, "unhandledrejection");
  SetField(context, event, "promise", promise);
  SetField(context, event, "reason", reason);
  CallListeners(context, window, "unhandledrejection", event, {event});
}

namespace {

// One fetch() call, answered later as a page task.
struct FetchCall {
  WindowRecord* window = nullptr;
  v8::Global<v8::Promise::Resolver> resolver;
  std::string url;
};

// Response.text() and .json(): the body, already complete.
void ResponseText(const v8::FunctionCallbackInfo<v8::Value>& info) {
  v8::Local<v8::Context> context = info.GetIsolate()->GetCurrentContext();
  v8::Local<v8::Promise::Resolver> resolver =
      v8::Promise::Resolver::New(context).ToLocalChecked();
  resolver->Resolve(context, info.Data()).Check();
  info.GetReturnValue().Set(resolver->GetPromise());
}

void ResponseJson(const v8::FunctionCallbackInfo<v8::Value>& info) {
  v8::Isolate* isolate = info.GetIsolate();
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  v8::Local<v8::Promise::Resolver> resolver =
      v8::Promise::Resolver::New(context).ToLocalChecked();
  v8::TryCatch tryCatch(isolate);
  v8::Local<v8::Value> parsed;
  if (v8::JSON::Parse(context, info.Data().As<v8::String>()).ToLocal(&parsed)) {
    resolver->Resolve(context, parsed).Check();
  } else {
    resolver->Reject(context, tryCatch.Exception()).Check();
  }
  info.GetReturnValue().Set(resolver->GetPromise());
}

v8::Local<v8::Object> NewResponse(v8::Local<v8::Context> context,
                                  const RendererProcess::FetchOutcome& outcome,
                                  const std::string& url) {
  v8::Isolate* isolate = context->GetIsolate();
  v8::Local<v8::Object> response = v8::Object::New(isolate);
  SetField(
      context, response, "ok",
      v8::Boolean::New(isolate, outcome.status >= 200 && outcome.status < 300));
  SetField(context, response, "status",
           v8::Integer::New(isolate, outcome.status));
  SetField(context, response, "statusText",
           V8Text(isolate, outcome.statusText));
  SetField(context, response, "url", V8Text(isolate, url));
  v8::Local<v8::String> body = V8Text(isolate, outcome.body);
  SetMethod(context, response, "text", &ResponseText, body);
  SetMethod(context, response, "json", &ResponseJson, body);
  return response;
}

void RunFetch(const std::shared_ptr<FetchCall>& call) {
  RendererProcess* process = RendererProcess::Current();
  // A document that left its frame hears nothing more.
  if (!process || call->window->context.IsEmpty() || !call->window->frame) {
    return;
  }
  const RendererProcess::FetchOutcome outcome =
      process->Fetch(call->window->frame->id, call->url);
  v8::Isolate* isolate = process->manager()->isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Context> context = call->window->context.Get(isolate);
  v8::Context::Scope contextScope(context);
  v8::Local<v8::Promise::Resolver> resolver = call->resolver.Get(isolate);
  if (outcome.failed) {
    if (!outcome.consoleError.empty()) {
      process->AddConsoleLine(call->window->frame,
                              "error: " + outcome.consoleError);
    }
    resolver
        ->Reject(context,
                 v8::Exception::TypeError(V8Text(isolate, "Failed to fetch")))
        .Check();
    return;
  }
  resolver->Resolve(context, NewResponse(context, outcome, call->url)).Check();
}

void Fetch(const v8::FunctionCallbackInfo<v8::Value>& info) {
  RendererProcess* process = RendererProcess::Current();
  v8::Isolate* isolate = info.GetIsolate();
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  v8::Local<v8::Promise::Resolver> resolver =
      v8::Promise::Resolver::New(context).ToLocalChecked();
  info.GetReturnValue().Set(resolver->GetPromise());
  if (info.Length() < 1 || !info[0]->IsString()) {
    Fatal("fetch() with anything but a URL string is not simulated");
  }
  auto call = std::make_shared<FetchCall>();
  call->window = WindowFromData(info);
  call->resolver.Reset(isolate, resolver);
  call->url = Utf8(isolate, info[0]);
  if (process) {
    process->PostTask([call] { RunFetch(call); });
  }
}

}  // namespace

void InstallPageGlobals(v8::Local<v8::Context> context, WindowRecord* window) {
  v8::Isolate* isolate = context->GetIsolate();
  v8::HandleScope scope(isolate);
  v8::Context::Scope contextScope(context);
  v8::Local<v8::Object> global = context->Global();
  v8::Local<v8::External> data = v8::External::New(isolate, window);
  const auto readOnly =
      static_cast<v8::PropertyAttribute>(v8::ReadOnly | v8::DontDelete);

  // In Blink the global object is the window itself.
  for (const char* name : {"window", "self"}) {
    global
        ->DefineOwnProperty(
            context, v8::String::NewFromUtf8(isolate, name).ToLocalChecked(),
            global, readOnly)
        .Check();
  }

  v8::Local<v8::Object> document = v8::Object::New(isolate);
  document
      ->SetAccessor(context, v8::String::NewFromUtf8Literal(isolate, "title"),
                    &TitleGetter, &TitleSetter, data)
      .Check();
  SetMethod(context, document, "createElement", &CreateElement, data);
  global
      ->DefineOwnProperty(context,
                          v8::String::NewFromUtf8Literal(isolate, "document"),
                          document, readOnly)
      .Check();

  v8::Local<v8::Object> console = v8::Object::New(isolate);
  SetMethod(context, console, "log", &ConsoleLog, data);
  SetMethod(context, console, "info", &ConsoleInfo, data);
  SetMethod(context, console, "debug", &ConsoleLog, data);
  SetMethod(context, console, "warn", &ConsoleWarn, data);
  SetMethod(context, console, "error", &ConsoleError, data);
  global
      ->Set(context, v8::String::NewFromUtf8Literal(isolate, "console"),
            console)
      .Check();

  SetMethod(context, global, "setTimeout", &SetTimeout, data);
  SetMethod(context, global, "clearTimeout", &ClearTimeout, data);
  SetMethod(context, global, "queueMicrotask", &QueueMicrotask, data);
  SetMethod(context, global, "fetch", &Fetch, data);
  SetMethod(context, global, "addEventListener", &AddEventListener, data);
  SetMethod(context, global, "removeEventListener", &RemoveEventListener, data);
  for (const char* name : {"onerror", "onunhandledrejection"}) {
    global
        ->SetAccessor(context,
                      v8::String::NewFromUtf8(isolate, name).ToLocalChecked(),
                      &HandlerGetter, &HandlerSetter, data)
        .Check();
  }
}

}  // namespace cefsim
