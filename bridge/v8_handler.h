#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>

#include "bridge/bridge_message.h"
#include "bridge/callback.h"
#include "include/cef_frame.h"
#include "include/cef_v8.h"

// Settles a pending call with the value of its Result.
using ResultCallback = Callback<void(const CefRefPtr<CefFrame>& frame,
                                     CefRefPtr<CefV8Value> value)>;
// Settles a pending call with the text of its Error.
using ErrorCallback =
    Callback<void(const CefRefPtr<CefFrame>& frame, const CefString& message)>;

// The handler behind "squirrel.call" and "squirrel.eval": sends each call to
// the browser and keeps the calls awaiting a reply. One per renderer process.
class V8Handler : public CefV8Handler {
 public:
  V8Handler() = default;
  V8Handler(const V8Handler&) = delete;
  V8Handler& operator=(const V8Handler&) = delete;

  // CefV8Handler methods:
  bool Execute(const CefString& name,
               CefRefPtr<CefV8Value> object,
               const CefV8ValueList& arguments,
               CefRefPtr<CefV8Value>& retval,
               CefString& exception) override;

  // Registers the call under its id, then sends it through the current
  // context's frame. False when nothing could be sent. A call given the
  // `promise` it settles ends with that promise's context (see
  // OnContextReleased); one without lasts until its reply.
  bool SendCall(const CallMessage& message,
                ResultCallback&& onResult,
                ErrorCallback&& onError,
                const CefRefPtr<CefV8Value>& promise = nullptr);

  // A script context went away. Its calls' promises turn invalid only after
  // the hook returns, so they are removed later: by the next SendCall or
  // OnContextCreated, whichever comes first.
  void OnContextReleased() { sweepDue = true; }
  void OnContextCreated() { SweepReleasedCalls(); }

  // Copies, so that a callback may start new calls while it runs.
  std::optional<ResultCallback> FindResultCallback(int32_t id) const;
  std::optional<ErrorCallback> FindErrorCallback(int32_t id) const;
  void RemovePendingCall(int32_t id);

 private:
  // Removes the calls whose promise's context has been released, once per
  // release: a held promise keeps its whole dead page alive.
  void SweepReleasedCalls();

  std::unordered_map<int32_t, ResultCallback> resultCallbacks;
  std::unordered_map<int32_t, ErrorCallback> errorCallbacks;
  // The promise of each call that ends with its context.
  std::unordered_map<int32_t, CefRefPtr<CefV8Value>> callPromises;
  bool sweepDue = false;

  IMPLEMENT_REFCOUNTING(V8Handler);
};

// Installs the global "squirrel" object with "call" and "eval" bound to
// `handler` into `context`.
void InstallScriptObject(const CefRefPtr<CefV8Context>& context,
                         const CefRefPtr<V8Handler>& handler);
