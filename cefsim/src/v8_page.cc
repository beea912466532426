// The few Blink globals page scripts under test use: window/self, document
// (title, createElement with focus/blur), console, setTimeout/clearTimeout
// and queueMicrotask. A bare V8 context has none of them.

#include "v8_page.h"

#include <memory>
#include <string>
#include <vector>

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
}

}  // namespace cefsim
