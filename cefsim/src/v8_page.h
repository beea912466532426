#pragma once

#include <v8.h>

#include "v8_isolate.h"

namespace cefsim {

// Installs the Blink globals cefsim offers page scripts into a new context
// of `window`, before OnContextCreated sees it.
void InstallPageGlobals(v8::Local<v8::Context> context, WindowRecord* window);

// Blink's message handler: the window's `error` event (ErrorEvent fields;
// `onerror` gets message, source, line, column and error) for a reported
// exception, dispatched at once in `context`, the current one.
void DispatchErrorEvent(v8::Local<v8::Context> context,
                        v8::Local<v8::Message> message,
                        v8::Local<v8::Value> exception);
// Blink's rejected-promise task: the window's `unhandledrejection` event
// for a promise that still has no handler.
void DispatchUnhandledRejection(v8::Local<v8::Context> context,
                                v8::Local<v8::Promise> promise,
                                v8::Local<v8::Value> reason);

}  // namespace cefsim
