#pragma once

// What a process message costs on Chromium's channel. Its argument list
// travels as a mojo ListValue: every value is a 16-byte union inline in its
// parent's array, and strings, binaries, lists and dictionaries add
// out-of-line structs and arrays. The renderer's outgoing budget and the
// browser-side peer's size guard both count with these rules.
//
// C++17: the peer library shares this header.

#include <cstddef>

#include "include/cef_process_message.h"
#include "include/cef_values.h"

// content's cap on one mojo message; a larger one loses the process that
// sent it (renderer) or is refused (browser).
inline constexpr size_t kMaxMessageBytes = size_t{128} << 20;
// Room left for what travels beside the argument list and the message's
// name: the message header, its parameters and the list's own struct.
// Generous: the real envelope, with a short name, is under 100 bytes.
inline constexpr size_t kMessageEnvelopeBytes = 4096;
// Mojo validates at most this many nested lists and dictionaries; the
// argument list itself is the first.
inline constexpr int kMaxMessageNesting = 200;

// The union every value takes inline in its parent's array.
inline constexpr size_t kEncodedValueBytes = 16;

constexpr size_t RoundUpTo8(size_t bytes) {
  return (bytes + 7) & ~size_t{7};
}
// A string's or a binary's out-of-line array.
constexpr size_t EncodedBytesArray(size_t bytes) {
  return 8 + RoundUpTo8(bytes);
}
// A list's struct and array, without what its elements add out of line.
constexpr size_t EncodedListBytes(size_t elements) {
  return 16 + 8 + kEncodedValueBytes * elements;
}
// A dictionary's struct, map struct, key-pointer array and value array,
// without its key strings and what its values add out of line.
constexpr size_t EncodedDictionaryBytes(size_t entries) {
  return 16 + 24 + (8 + 8 * entries) + (8 + kEncodedValueBytes * entries);
}

// At least the UTF-8 bytes `text` travels as: up to three per UTF-16 unit
// (a lone surrogate becomes U+FFFD; a pair, four bytes, counts as six).
size_t Utf8BytesAtMost(const CefString& text);

// Encoded size of one value with its own union, and the nesting of lists and
// dictionaries it contains (a list of scalars is 1, a scalar 0). Stops
// descending past kMaxMessageNesting: such a message is refused anyway.
struct EncodedSize {
  size_t bytes = 0;
  int nesting = 0;
  // The levels the renderer's incoming conversion counts against its bound
  // (kMaxValueNesting, convert/keyed_collection.h): a list takes one, a
  // dictionary two (itself and its "keys" and "values" lists, the only
  // entries converted, keys counted like values).
  int incomingNesting = 0;
};
EncodedSize MeasureValue(const CefRefPtr<CefValue>& value);

// A whole message: envelope, name, argument list and everything in it.
// `nesting` and `incomingNesting` count the argument list as the first level.
EncodedSize MeasureMessage(const CefRefPtr<CefProcessMessage>& message);

// True when the channel carries the message: within kMaxMessageBytes and
// kMaxMessageNesting.
bool FitsChannel(const EncodedSize& size);
