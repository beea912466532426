#include "v8_isolate.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include <libplatform/libplatform.h>

namespace cefsim {
namespace {

thread_local IsolateManager* currentManager = nullptr;

// V8 can be initialised once per process; the platform lives until exit.
void InitializeV8Once() {
  static std::once_flag once;
  std::call_once(once, [] {
    v8::Platform* platform = v8::platform::NewDefaultPlatform().release();
    v8::V8::InitializePlatform(platform);
    v8::V8::Initialize();
  });
}

bool TraceEnabled() {
  const char* value = std::getenv("CEFSIM_TRACE");
  return value && std::string(value) == "1";
}

}  // namespace

v8::Local<v8::String> ToV8String(v8::Isolate* isolate, const CefString& text) {
  if (text.empty()) {
    return v8::String::Empty(isolate);
  }
  return v8::String::NewFromTwoByte(
             isolate, reinterpret_cast<const uint16_t*>(text.c_str()),
             v8::NewStringType::kNormal, static_cast<int>(text.length()))
      .ToLocalChecked();
}

CefString FromV8String(v8::Isolate* isolate, v8::Local<v8::Value> value) {
  if (value.IsEmpty() || !value->IsString()) {
    return CefString();
  }
  v8::Local<v8::String> string = value.As<v8::String>();
  const int length = string->Length();
  if (length == 0) {
    return CefString();
  }
  std::u16string units(static_cast<size_t>(length), u'\0');
  string->Write(isolate, reinterpret_cast<uint16_t*>(units.data()), 0, length,
                v8::String::NO_NULL_TERMINATION);
  return CefString(units);
}

V8Tracked::~V8Tracked() {
  if (!owner) {
    return;
  }
  if (prev) {
    prev->next = next;
  } else {
    owner->tracked = next;
  }
  if (next) {
    next->prev = prev;
  }
}

void V8Tracked::StartTracking(IsolateManager* manager) {
  owner = manager;
  next = manager->tracked;
  if (next) {
    next->prev = this;
  }
  manager->tracked = this;
}

IsolateManager::IsolateManager() {
  if (currentManager) {
    Fatal("a second renderer isolate on one thread");
  }
  InitializeV8Once();
  allocator = v8::ArrayBuffer::Allocator::NewDefaultAllocator();
  v8::Isolate::CreateParams params;
  params.array_buffer_allocator = allocator;
  iso = v8::Isolate::New(params);
  iso->Enter();
  // Blink's policy; a bare V8 isolate would default to kAuto.
  iso->SetMicrotasksPolicy(v8::MicrotasksPolicy::kScoped);
  iso->AddMessageListenerWithErrorLevel(
      &IsolateManager::OnMessage,
      v8::Isolate::kMessageError | v8::Isolate::kMessageWarning);
  iso->SetPromiseRejectCallback(&IsolateManager::OnPromiseReject);
  currentManager = this;
}

IsolateManager::~IsolateManager() {
  // Nothing may run script while the isolate goes away.
  iso->SetMicrotasksPolicy(v8::MicrotasksPolicy::kExplicit);
  while (tracked) {
    V8Tracked* node = tracked;
    tracked = node->next;
    node->owner = nullptr;
    node->prev = node->next = nullptr;
    node->OnIsolateTeardown();
  }
  {
    v8::HandleScope scope(iso);
    // Contexts a program entered and never left (CEF leaves them entered).
    while (iso->InContext()) {
      iso->GetEnteredOrMicrotaskContext()->Exit();
    }
  }
  // Program objects released here may still call into cefsim.
  std::unordered_set<V8Tracker*> remaining;
  remaining.swap(trackers);
  for (V8Tracker* tracker : remaining) {
    tracker->weakObject.Reset();
    delete tracker;
  }
  trackerKey.Reset();
  windows.clear();
  iso->RemoveMessageListeners(&IsolateManager::OnMessage);
  iso->SetPromiseRejectCallback(nullptr);
  currentManager = nullptr;
  iso->Exit();
  iso->Dispose();
  delete allocator;
}

IsolateManager* IsolateManager::Current() {
  return currentManager;
}

v8::Local<v8::Context> IsolateManager::NewContext(FrameModel* frame,
                                                  int worldId,
                                                  WindowRecord** record) {
  v8::EscapableHandleScope scope(iso);
  // Blink's global object is a Window: its constructor is named "Window",
  // not "Object", and page code and conversions see that.
  v8::Local<v8::FunctionTemplate> windowTemplate =
      v8::FunctionTemplate::New(iso);
  windowTemplate->SetClassName(v8::String::NewFromUtf8Literal(iso, "Window"));
  v8::Local<v8::Context> context =
      v8::Context::New(iso, nullptr, windowTemplate->InstanceTemplate());
  auto window = std::make_unique<WindowRecord>();
  window->frame = frame;
  window->worldId = worldId;
  window->mainWorld = worldId == 0;
  window->context.Reset(iso, context);
  context->SetAlignedPointerInEmbedderData(kWindowSlot, window.get());
  *record = window.get();
  windows.push_back(std::move(window));
  return scope.Escape(context);
}

WindowRecord* IsolateManager::WindowOf(v8::Local<v8::Context> context) {
  return static_cast<WindowRecord*>(
      context->GetAlignedPointerFromEmbedderData(kWindowSlot));
}

CefRefPtr<ContextState> IsolateManager::GetContextState(
    v8::Local<v8::Context> context) {
  WindowRecord* window = WindowOf(context);
  if (!window) {
    return nullptr;
  }
  if (!window->state) {
    window->state = new ContextState();
  }
  return window->state;
}

CefRefPtr<ContextState> IsolateManager::CurrentContextState() {
  if (!iso->InContext()) {
    return nullptr;
  }
  v8::HandleScope scope(iso);
  return GetContextState(iso->GetCurrentContext());
}

void IsolateManager::ReleaseContext(v8::Local<v8::Context> context) {
  WindowRecord* window = WindowOf(context);
  if (!window || !window->state) {
    return;
  }
  window->state->valid = false;
  window->state = nullptr;
}

void IsolateManager::Log(const std::string& line) {
  logLines.push_back(line);
  if (TraceEnabled()) {
    std::fprintf(stderr, "cefsim: %s\n", line.c_str());
  }
}

// With no data of its own, a listener gets the exception as `data`.
void IsolateManager::OnMessage(v8::Local<v8::Message> message,
                               v8::Local<v8::Value> exception) {
  IsolateManager* self = currentManager;
  if (self && self->onMessage) {
    self->onMessage(message, exception);
  }
}

void IsolateManager::OnPromiseReject(v8::PromiseRejectMessage message) {
  IsolateManager* self = currentManager;
  if (!self) {
    return;
  }
  if (self->onPromiseReject) {
    self->onPromiseReject(message);
  }
  if (self->promiseRejectWatch) {
    self->promiseRejectWatch(message);
  }
}

V8Tracker* IsolateManager::NewTracker() {
  auto* tracker = new V8Tracker();
  tracker->manager = this;
  trackers.insert(tracker);
  return tracker;
}

void IsolateManager::AttachTracker(v8::Local<v8::Context> context,
                                   v8::Local<v8::Object> object,
                                   V8Tracker* tracker) {
  if (trackerKey.IsEmpty()) {
    trackerKey.Reset(iso, v8::Private::New(iso, v8::String::NewFromUtf8Literal(
                                                    iso, "Cef::TrackObject")));
  }
  tracker->weakObject.Reset(iso, object);
  tracker->weakObject.SetWeak(tracker, &IsolateManager::OnTrackerCollected,
                              v8::WeakCallbackType::kParameter);
  object
      ->SetPrivate(context, trackerKey.Get(iso),
                   v8::External::New(iso, tracker))
      .Check();
}

V8Tracker* IsolateManager::TrackerOf(v8::Local<v8::Context> context,
                                     v8::Local<v8::Object> object) {
  if (trackerKey.IsEmpty()) {
    return nullptr;
  }
  v8::Local<v8::Value> value;
  if (!object->GetPrivate(context, trackerKey.Get(iso)).ToLocal(&value) ||
      !value->IsExternal()) {
    return nullptr;
  }
  return static_cast<V8Tracker*>(value.As<v8::External>()->Value());
}

void IsolateManager::OnTrackerCollected(
    const v8::WeakCallbackInfo<V8Tracker>& info) {
  info.GetParameter()->weakObject.Reset();
  // Releasing program objects may call V8, which the first pass forbids.
  info.SetSecondPassCallback(&IsolateManager::FreeTracker);
}

void IsolateManager::FreeTracker(const v8::WeakCallbackInfo<V8Tracker>& info) {
  V8Tracker* tracker = info.GetParameter();
  tracker->manager->trackers.erase(tracker);
  delete tracker;
}

}  // namespace cefsim
