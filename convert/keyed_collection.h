#pragma once

#include <cstddef>

#include "convert/message_size.h"

// The keyed collection: the dictionary form in which Maps and plain objects
// cross the bridge. Parallel lists "keys" and "values", and an optional
// "isObject" that only the browser writes (true: build a plain object,
// otherwise a Map).
struct KeyedCollection {
  static constexpr char kKeys[] = "keys";
  static constexpr char kValues[] = "values";
  static constexpr char kIsObject[] = "isObject";
};

// Deepest nesting of lists and dictionaries either conversion builds. A Map
// or plain object takes two levels: its dictionary and its lists. Chromium's
// channel refuses messages nested past 200 levels (and kills a renderer that
// sends one), the argument list being the first; a value sits inside up to
// two lists of its message, so 96 stays far within reach.
inline constexpr int kMaxValueNesting = 96;

// Longest page array that is converted: a length alone (a.length = 2e9) must
// not size the list, and the budget would cut anything longer anyway.
inline constexpr int kMaxArrayLength = 4'194'304;

// Room in a message for what the bridge writes around converted values: the
// record's type and id, a Call's list around its arguments and their slots
// in the message's argument list (a Call's function name is reserved by the
// caller).
inline constexpr size_t kBridgeFramingBytes = 1024;

// The most one outgoing conversion may add to a message, counted in the
// channel's encoding (convert/message_size.h); a call's arguments share it.
// Beyond it the rest of the value is NULL: the message stays within
// Chromium's 128 MiB limit, and shared sub-structures (the same array twice
// in each of ten levels) do not multiply without bound.
inline constexpr size_t kMaxConvertedBytes =
    kMaxMessageBytes - kMessageEnvelopeBytes - kBridgeFramingBytes;
