#pragma once

#include "include/cef_v8.h"
#include "include/cef_values.h"

// Converts a page value into a message value. Never returns an empty
// reference: whatever cannot be expressed becomes NULL. Runs page script
// (Map iterators, Object.keys/values, getters), so `context` must be entered.
CefRefPtr<CefValue> V8ValueToCefValue(const CefRefPtr<CefV8Context>& context,
                                      const CefRefPtr<CefV8Value>& value);
