#pragma once

#include <span>

#include "include/cef_v8.h"
#include "include/cef_values.h"

// Converts a page value into a message value. Never returns an empty
// reference: whatever cannot be expressed becomes NULL. Runs page script
// (Map iterators, Object.keys/values, getters), so `context` must be entered.
CefRefPtr<CefValue> V8ValueToCefValue(const CefRefPtr<CefV8Context>& context,
                                      const CefRefPtr<CefV8Value>& value);

// Converts page values into one list, as V8ValueToCefValue converts each,
// except that they share one size budget, less `reservedBytes` for what
// travels beside them: the list as a whole (a call's arguments) stays within
// what a message can carry. Empty when the reservation leaves no room for
// the list and a slot for each value.
CefRefPtr<CefListValue> V8ValuesToCefList(
    const CefRefPtr<CefV8Context>& context,
    std::span<const CefRefPtr<CefV8Value>> values,
    size_t reservedBytes = 0);
