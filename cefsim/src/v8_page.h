#pragma once

#include <v8.h>

#include "v8_isolate.h"

namespace cefsim {

// Installs the Blink globals cefsim offers page scripts into a new context
// of `window`, before OnContextCreated sees it.
void InstallPageGlobals(v8::Local<v8::Context> context, WindowRecord* window);

}  // namespace cefsim
