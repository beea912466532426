#pragma once

// Message values for the bridge: builders for what the page should receive,
// and readers for what it sends that lose nothing and say why they failed.
// Any thread; CEF values are not thread-safe, so one thread at a time.

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
// A 64-bit integer: INT when it fits 32 bits, else a DOUBLE holding it
// exactly (every integer up to 2^53 in magnitude, and larger ones that are
// multiples of a high enough power of two). Null for an integer no DOUBLE
// holds, such as 2^53 + 1: the page would see a neighbouring number.
CefRefPtr<CefValue> Int64(int64_t value);
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

// Which received keyed collections become plain objects on the way back.
enum class NestedCollections {
  kKeepAsMaps,            // only the outermost one
  kStringKeyedAsObjects,  // every one whose keys are all STRING
};
// A copy of a keyed collection the page sent (its Maps and plain objects
// arrive alike, without "isObject") marked so that the page receives a plain
// object again. Null unless `received` is a well-formed keyed collection
// whose keys are all STRING, as a page's plain object always is.
CefRefPtr<CefValue> AsPlainObject(
    CefRefPtr<CefValue> received,
    NestedCollections nested = NestedCollections::kKeepAsMaps);

// Why a reader found nothing.
enum class ReadStatus {
  kOk,
  kNoValue,    // a null reference, or an entry that does not exist
  kInvalid,    // a container kept after the message that held it was
               // released: keep the message, or Copy() the value
  kWrongType,  // another type (for ReadInteger: not a whole number)
};
// Short text for logs, e.g. "invalid (its message was released)".
const char* ReadStatusText(ReadStatus status);

// What a reader returns: the value, or the reason there is none.
template <typename T>
class ReadResult {
 public:
  ReadResult(T value)  // NOLINT: a reader returns its value as it is
      : stored(std::move(value)), readStatus(ReadStatus::kOk) {}
  ReadResult(ReadStatus status)  // NOLINT: and its failure likewise
      : readStatus(status) {}

  explicit operator bool() const { return stored.has_value(); }
  bool has_value() const { return stored.has_value(); }
  const T& operator*() const { return *stored; }
  T& operator*() { return *stored; }
  const T* operator->() const { return &*stored; }
  T* operator->() { return &*stored; }
  // `fallback` when there is no value.
  T value_or(T fallback) const { return stored.value_or(std::move(fallback)); }
  ReadStatus status() const { return readStatus; }

 private:
  std::optional<T> stored;
  ReadStatus readStatus;
};

// INT or DOUBLE as a double: every INT and every DOUBLE exactly. (CEF's
// GetInt() reads a DOUBLE as 0 and GetDouble() an INT as 0.0; the page sends
// every number that is not a 32-bit integer as DOUBLE.)
ReadResult<double> ReadNumber(CefRefPtr<CefValue> value);
// INT, or a DOUBLE that is a whole number within 64 bits, as an integer.
ReadResult<int64_t> ReadInteger(CefRefPtr<CefValue> value);
// STRING as UTF-8.
ReadResult<std::string> ReadString(CefRefPtr<CefValue> value);

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

// Reads a DICTIONARY value in the keyed form; nothing for anything else,
// with the reason (kNoValue, kInvalid, kWrongType). Malformed input never
// crashes: it reads as the page would, see KeyedCollection::malformed.
ReadResult<KeyedCollection> ReadKeyed(CefRefPtr<CefValue> value);
ReadResult<KeyedCollection> ReadKeyed(CefRefPtr<CefDictionaryValue> dictionary);

}  // namespace cef_launcher_peer
