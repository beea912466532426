#pragma once

// The dictionary form in which Maps and plain objects cross the bridge:
// parallel lists "keys" and "values", and an optional "isObject" that only
// the browser writes (true: build a plain object, otherwise a Map).

#include <cstddef>

inline constexpr char kKeyedCollectionKeys[] = "keys";
inline constexpr char kKeyedCollectionValues[] = "values";
inline constexpr char kKeyedCollectionIsObject[] = "isObject";

// Deepest nesting of lists and dictionaries either conversion builds. A Map
// or plain object takes two levels: its dictionary and its lists. Chromium
// refuses messages nested much deeper, and the bound also ends cycles.
inline constexpr int kMaxValueNesting = 128;

// Longest page array that is converted; anything longer could not cross the
// 128 MiB IPC limit anyway.
inline constexpr int kMaxArrayLength = 4'194'304;

// Most values one outgoing conversion produces: 128 MiB at the 16 bytes a
// serialized value takes at least. Shared sub-structures (an array holding
// itself twice) would otherwise multiply without bound.
inline constexpr size_t kMaxConvertedValues = 8'388'608;
