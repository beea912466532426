#pragma once

#include <cstddef>

// The keyed collection: the dictionary form in which Maps and plain objects
// cross the bridge. Parallel lists "keys" and "values", and an optional
// "isObject" that only the browser writes (true: build a plain object,
// otherwise a Map).
struct KeyedCollection {
  static constexpr char kKeys[] = "keys";
  static constexpr char kValues[] = "values";
  static constexpr char kIsObject[] = "isObject";
};
// Earlier names of the same three keys.
inline constexpr auto& kKeyedCollectionKeys = KeyedCollection::kKeys;
inline constexpr auto& kKeyedCollectionValues = KeyedCollection::kValues;
inline constexpr auto& kKeyedCollectionIsObject = KeyedCollection::kIsObject;

// Deepest nesting of lists and dictionaries either conversion builds. A Map
// or plain object takes two levels: its dictionary and its lists. Chromium's
// channel refuses messages nested past about 100 levels (and kills a renderer
// that sends one); a value sits inside up to two lists of its message and its
// leaves take a level of their own, so 96 keeps every message within reach.
inline constexpr int kMaxValueNesting = 96;

// Longest page array that is converted; anything longer could not cross the
// 128 MiB IPC limit anyway.
inline constexpr int kMaxArrayLength = 4'194'304;

// The most content one outgoing conversion produces, counted as 16 bytes per
// value (the least a serialized value takes) plus string bytes (as UTF-8)
// and binary bytes; a call's arguments share it.
// Beyond it the rest of the value is NULL: the message must stay well inside
// Chromium's 128 MiB IPC limit, and shared sub-structures (the same array
// twice in each of ten levels) must not multiply without bound.
inline constexpr size_t kMaxConvertedBytes = size_t{96} << 20;
inline constexpr size_t kConvertedValueBytes = 16;
