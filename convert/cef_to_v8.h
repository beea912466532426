#pragma once

#include "include/cef_v8.h"
#include "include/cef_values.h"

// Converts a message value into a page value of `context`, which must be
// entered. Empty where no value can be made (unknown types, Map forms
// without a context).
CefRefPtr<CefV8Value> CefValueToV8Value(const CefRefPtr<CefV8Context>& context,
                                        const CefRefPtr<CefValue>& value);

// One entry per list element, empty entries kept in place.
CefV8ValueList CefListToV8ValueList(const CefRefPtr<CefV8Context>& context,
                                    const CefRefPtr<CefListValue>& list);
