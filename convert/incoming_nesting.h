#pragma once

// How deep a message value reaches in the renderer's incoming conversion,
// counted as that conversion counts (convert/cef_to_v8.cc): a list takes one
// level, a keyed collection two (its dictionary and its lists). Past
// kMaxValueNesting the page receives null in place of a container, so a
// sender that must not lose data checks first.
//
// C++17: the peer library shares this header.

#include "include/cef_values.h"

// Levels `value` takes: 0 for a scalar, 1 for a list of scalars, 2 for a
// keyed collection of scalars. Counts keys as well as values, and stops
// descending once kMaxValueNesting is passed (the result is then
// kMaxValueNesting + 1).
int IncomingNesting(const CefRefPtr<CefValue>& value);
// The same for entry `index` of `list`, read in place.
int IncomingNestingOfEntry(const CefRefPtr<CefListValue>& list, size_t index);
// The deepest of the list's entries, each counted as a value of its own (a
// Call's arguments are converted one by one).
int IncomingNestingOfEntries(const CefRefPtr<CefListValue>& list);

// True when the page receives `value` without a container cut to null.
bool ArrivesWhole(const CefRefPtr<CefValue>& value);
