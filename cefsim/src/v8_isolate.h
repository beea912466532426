#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include <v8.h>

#include "cefsim/fatal.h"
#include "include/cef_base.h"
#include "include/cef_v8.h"

// The renderer's V8 machinery shared by every cefsim V8 class: the one
// isolate of the render main thread, CEF's per-context validity states, and
// the few Blink scopes CEF's code consults.
namespace cefsim {

class FrameModel;
class IsolateManager;

// CEF's shared "context state": every context and object wrapper bound to a
// context holds it, and releasing the context flips it for all of them.
class ContextState : public virtual CefBaseRefCounted {
 public:
  ContextState() = default;
  ContextState(const ContextState&) = delete;
  ContextState& operator=(const ContextState&) = delete;

  bool valid = true;

  IMPLEMENT_REFCOUNTING(ContextState);
};

// Blink's side of one script context: the window it belongs to. Lives as
// long as the isolate, because functions of a dead context stay callable.
struct WindowRecord {
  FrameModel* frame = nullptr;  // null once the window left its frame
  // A context of no frame (the browser side's own script): always runs.
  bool standalone = false;
  int worldId = 0;
  bool mainWorld = true;
  // CEF's map entry for this context; null after release (a later lookup
  // makes a fresh, valid state, as CEF's identity-hash map does).
  CefRefPtr<ContextState> state;
  v8::Global<v8::Context> context;

  // The window's event listeners in registration order; an `onerror`-style
  // handler attribute keeps the place where it was first set.
  struct EventListener {
    std::string type;
    bool attribute = false;
    v8::Global<v8::Function> function;
  };
  std::vector<EventListener> listeners;
  // Blink's guard while the error event is dispatched: errors of its
  // listeners are logged, never dispatched again.
  bool dispatchingError = false;
};

// A wrapper that holds V8 handles; the manager resets them before the
// isolate goes away so late releases by the program stay harmless.
class V8Tracked {
 public:
  V8Tracked() = default;
  V8Tracked(const V8Tracked&) = delete;
  V8Tracked& operator=(const V8Tracked&) = delete;

  IsolateManager* manager() const { return owner; }

 protected:
  ~V8Tracked();
  void StartTracking(IsolateManager* manager);
  // Drops every V8 handle; the object stays alive but inert.
  virtual void OnIsolateTeardown() = 0;

 private:
  friend class IsolateManager;
  IsolateManager* owner = nullptr;
  V8Tracked* prev = nullptr;
  V8Tracked* next = nullptr;
};

// What CEF keeps per user-created object (accessor, handler, user data...).
// Freed when V8 collects the object, or with the isolate.
struct V8Tracker {
  CefString functionName;
  CefRefPtr<CefV8Handler> handler;
  CefRefPtr<CefV8Accessor> accessor;
  CefRefPtr<CefV8Interceptor> interceptor;
  CefRefPtr<CefBaseRefCounted> userData;
  CefRefPtr<CefV8ArrayBufferReleaseCallback> releaseCallback;
  int externalMemory = 0;
  v8::Global<v8::Object> weakObject;
  IsolateManager* manager = nullptr;
};

// CEF's CefV8IsolateManager: exists only on the render main thread.
class IsolateManager {
 public:
  // Embedder-data slot of every cefsim context holding its WindowRecord.
  static constexpr int kWindowSlot = 1;
  // Blink refuses nested script entry at this microtask-scope depth.
  static constexpr int kMaxScriptDepth = 44;

  IsolateManager();
  ~IsolateManager();
  IsolateManager(const IsolateManager&) = delete;
  IsolateManager& operator=(const IsolateManager&) = delete;

  // The manager of the calling thread, or null (CEF's thread-local guard).
  static IsolateManager* Current();

  v8::Isolate* isolate() const { return iso; }

  // A new context for a frame's window, with its WindowRecord attached.
  v8::Local<v8::Context> NewContext(FrameModel* frame,
                                    int worldId,
                                    WindowRecord** record);
  static WindowRecord* WindowOf(v8::Local<v8::Context> context);

  // CEF's state lookup: creates a state when none is registered.
  CefRefPtr<ContextState> GetContextState(v8::Local<v8::Context> context);
  // The state of the current context, or null when none is current.
  CefRefPtr<ContextState> CurrentContextState();
  // CefV8ReleaseContext: invalidates the state and forgets it.
  void ReleaseContext(v8::Local<v8::Context> context);

  // Blink's ScriptForbiddenScope, active around OnContextReleased.
  bool IsScriptForbidden() const { return scriptForbidden > 0; }
  void ForbidScript() { ++scriptForbidden; }
  void AllowScript() { --scriptForbidden; }

  // CEF's LOG(ERROR)/LOG(WARNING): kept for tests, printed under
  // CEFSIM_TRACE=1.
  void Log(const std::string& line);
  const std::vector<std::string>& log() const { return logLines; }

  // Called for every message V8 reports (uncaught or verbose TryCatch),
  // with the exception that caused it.
  std::function<void(v8::Local<v8::Message>, v8::Local<v8::Value>)> onMessage;
  // V8 has one promise-rejection callback per isolate; Blink's use of it
  // goes to `onPromiseReject`, then a watch (the demo's) may see it too.
  std::function<void(v8::PromiseRejectMessage&)> onPromiseReject;
  void (*promiseRejectWatch)(v8::PromiseRejectMessage) = nullptr;

  // The per-object tracker CEF attaches with a private property.
  // A tracker is made first (interceptors need it as callback data), then
  // attached; V8 collecting the object frees it.
  V8Tracker* NewTracker();
  void AttachTracker(v8::Local<v8::Context> context,
                     v8::Local<v8::Object> object,
                     V8Tracker* tracker);
  V8Tracker* TrackerOf(v8::Local<v8::Context> context,
                       v8::Local<v8::Object> object);

 private:
  friend class V8Tracked;
  static void OnMessage(v8::Local<v8::Message> message,
                        v8::Local<v8::Value> data);
  static void OnPromiseReject(v8::PromiseRejectMessage message);
  static void OnTrackerCollected(const v8::WeakCallbackInfo<V8Tracker>& info);
  static void FreeTracker(const v8::WeakCallbackInfo<V8Tracker>& info);

  v8::Isolate* iso = nullptr;
  v8::ArrayBuffer::Allocator* allocator = nullptr;
  int scriptForbidden = 0;
  std::vector<std::string> logLines;
  std::vector<std::unique_ptr<WindowRecord>> windows;
  std::unordered_set<V8Tracker*> trackers;
  v8::Global<v8::Private> trackerKey;
  V8Tracked* tracked = nullptr;  // head of the intrusive list
};

// UTF-16 CefString <-> V8 string, code unit for code unit.
v8::Local<v8::String> ToV8String(v8::Isolate* isolate, const CefString& text);
CefString FromV8String(v8::Isolate* isolate, v8::Local<v8::Value> value);

}  // namespace cefsim
