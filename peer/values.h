#pragma once

// Message values for the bridge: builders for what the page should receive,
// and a safe reader for the keyed collections (Maps and plain objects) it
// sends. Any thread; CEF values are not thread-safe, so one thread at a time.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "include/cef_values.h"

namespace cef_launcher_peer {

// Scalars. String is UTF-8; the page receives a number for Int and Double
// alike, the wire keeps them apart.
CefRefPtr<CefValue> Null();
CefRefPtr<CefValue> Bool(bool value);
CefRefPtr<CefValue> Int(int32_t value);
CefRefPtr<CefValue> Double(double value);
CefRefPtr<CefValue> String(const std::string& value);
// BINARY: the page receives an ArrayBuffer. Empty data gives NULL, as CEF
// cannot make an empty binary.
CefRefPtr<CefValue> Binary(const void* data, size_t size);
CefRefPtr<CefValue> Binary(const std::vector<uint8_t>& bytes);

// A list holding copies of `items` (null items become NULL).
CefRefPtr<CefListValue> MakeList(
    std::initializer_list<CefRefPtr<CefValue>> items);
CefRefPtr<CefListValue> MakeList(const std::vector<CefRefPtr<CefValue>>& items);
// The same list wrapped as a LIST value.
CefRefPtr<CefValue> List(std::initializer_list<CefRefPtr<CefValue>> items);
CefRefPtr<CefValue> List(const std::vector<CefRefPtr<CefValue>>& items);

using ObjectFields = std::vector<std::pair<std::string, CefRefPtr<CefValue>>>;
using MapEntries =
    std::vector<std::pair<CefRefPtr<CefValue>, CefRefPtr<CefValue>>>;
// A plain object for the page: keyed form with STRING keys and
// "isObject": true. A repeated key keeps the later value in the page.
CefRefPtr<CefValue> Object(const ObjectFields& fields);
// A Map for the page: keyed form, keys of any type, no "isObject".
CefRefPtr<CefValue> Map(const MapEntries& entries);

// One keyed collection as read from a message. Entries refer into the value
// they were read from: use them while it is held.
struct KeyedCollection {
  bool isObject = false;  // "isObject" is BOOL true
  std::vector<std::pair<CefRefPtr<CefValue>, CefRefPtr<CefValue>>> entries;
  // The collection was not well formed: a "keys" or "values" entry missing
  // or not a LIST, or the lists differ in length (entries past the shorter
  // one are left out).
  bool malformed = false;

  // The value of the first entry whose key is STRING `key`, or null.
  CefRefPtr<CefValue> Find(const std::string& key) const;
};

// Reads a DICTIONARY value in the keyed form; empty for anything else
// (null, invalid, not a dictionary). Malformed input never crashes: it
// reads as the page would, see KeyedCollection::malformed.
std::optional<KeyedCollection> ReadKeyed(CefRefPtr<CefValue> value);
std::optional<KeyedCollection> ReadKeyed(
    CefRefPtr<CefDictionaryValue> dictionary);

}  // namespace cef_launcher_peer
