#include "peer/values.h"

#include <cmath>
#include <limits>

#include "convert/keyed_collection.h"

namespace cef_launcher_peer {

namespace {

CefRefPtr<CefValue> Wrap(CefRefPtr<CefListValue> list) {
  CefRefPtr<CefValue> value = CefValue::Create();
  value->SetList(list);
  return value;
}

CefRefPtr<CefValue> WrapDictionary(CefRefPtr<CefDictionaryValue> dictionary) {
  CefRefPtr<CefValue> value = CefValue::Create();
  value->SetDictionary(dictionary);
  return value;
}

// Copies: CEF moves a container into its new parent and leaves the caller's
// handle dead, and the caller may still use its values.
void Append(const CefRefPtr<CefListValue>& list,
            const CefRefPtr<CefValue>& item) {
  const size_t index = list->GetSize();
  if (item && item->IsValid()) {
    list->SetValue(index, item->Copy());
  } else {
    list->SetNull(index);
  }
}

CefRefPtr<CefValue> Keyed(const CefRefPtr<CefListValue>& keys,
                          const CefRefPtr<CefListValue>& values,
                          bool isObject) {
  CefRefPtr<CefDictionaryValue> dictionary = CefDictionaryValue::Create();
  dictionary->SetList(::KeyedCollection::kKeys, keys);
  dictionary->SetList(::KeyedCollection::kValues, values);
  if (isObject) {
    dictionary->SetBool(::KeyedCollection::kIsObject, true);
  }
  return WrapDictionary(dictionary);
}

}  // namespace

CefRefPtr<CefValue> Null() {
  CefRefPtr<CefValue> value = CefValue::Create();
  value->SetNull();
  return value;
}

CefRefPtr<CefValue> Bool(bool flag) {
  CefRefPtr<CefValue> value = CefValue::Create();
  value->SetBool(flag);
  return value;
}

CefRefPtr<CefValue> Int(int32_t number) {
  CefRefPtr<CefValue> value = CefValue::Create();
  value->SetInt(number);
  return value;
}

CefRefPtr<CefValue> Double(double number) {
  CefRefPtr<CefValue> value = CefValue::Create();
  value->SetDouble(number);
  return value;
}

CefRefPtr<CefValue> Int64(int64_t number) {
  if (number >= std::numeric_limits<int32_t>::min() &&
      number <= std::numeric_limits<int32_t>::max()) {
    return Int(static_cast<int32_t>(number));
  }
  const double held = static_cast<double>(number);
  // 2^63 itself is a double but no int64: the round trip must not overflow.
  if (held >= 0x1p63 || static_cast<int64_t>(held) != number) {
    return nullptr;
  }
  return Double(held);
}

CefRefPtr<CefValue> String(const std::string& text) {
  CefRefPtr<CefValue> value = CefValue::Create();
  value->SetString(text);
  return value;
}

CefRefPtr<CefValue> Binary(const void* data, size_t size) {
  // CefBinaryValue::Create returns null for empty data.
  if (!data || size == 0) {
    return Null();
  }
  CefRefPtr<CefValue> value = CefValue::Create();
  value->SetBinary(CefBinaryValue::Create(data, size));
  return value;
}

CefRefPtr<CefValue> Binary(const std::vector<uint8_t>& bytes) {
  return Binary(bytes.data(), bytes.size());
}

CefRefPtr<CefListValue> MakeList(
    std::initializer_list<CefRefPtr<CefValue>> items) {
  CefRefPtr<CefListValue> list = CefListValue::Create();
  for (const CefRefPtr<CefValue>& item : items) {
    Append(list, item);
  }
  return list;
}

CefRefPtr<CefListValue> MakeList(
    const std::vector<CefRefPtr<CefValue>>& items) {
  CefRefPtr<CefListValue> list = CefListValue::Create();
  for (const CefRefPtr<CefValue>& item : items) {
    Append(list, item);
  }
  return list;
}

CefRefPtr<CefValue> List(std::initializer_list<CefRefPtr<CefValue>> items) {
  return Wrap(MakeList(items));
}

CefRefPtr<CefValue> List(const std::vector<CefRefPtr<CefValue>>& items) {
  return Wrap(MakeList(items));
}

CefRefPtr<CefValue> Object(const ObjectFields& fields) {
  CefRefPtr<CefListValue> keys = CefListValue::Create();
  CefRefPtr<CefListValue> values = CefListValue::Create();
  for (const auto& field : fields) {
    keys->SetString(keys->GetSize(), field.first);
    Append(values, field.second);
  }
  return Keyed(keys, values, true);
}

CefRefPtr<CefValue> Map(const MapEntries& entries) {
  CefRefPtr<CefListValue> keys = CefListValue::Create();
  CefRefPtr<CefListValue> values = CefListValue::Create();
  for (const auto& entry : entries) {
    Append(keys, entry.first);
    Append(values, entry.second);
  }
  return Keyed(keys, values, false);
}

CefRefPtr<CefValue> KeyedCollection::Find(const std::string& key) const {
  for (const auto& entry : entries) {
    if (entry.first && entry.first->GetType() == VTYPE_STRING &&
        entry.first->GetString().ToString() == key) {
      return entry.second;
    }
  }
  return nullptr;
}

namespace {

// The reason a value of the wrong kind cannot be read; kOk when it can.
ReadStatus Check(const CefRefPtr<CefValue>& value,
                 std::initializer_list<CefValueType> types) {
  if (!value) {
    return ReadStatus::kNoValue;
  }
  // A kept container keeps its type but not its data.
  if (!value->IsValid()) {
    return ReadStatus::kInvalid;
  }
  const CefValueType type = value->GetType();
  for (CefValueType wanted : types) {
    if (type == wanted) {
      return ReadStatus::kOk;
    }
  }
  return ReadStatus::kWrongType;
}

bool AllKeysAreStrings(const CefRefPtr<CefListValue>& keys) {
  for (size_t i = 0; i < keys->GetSize(); ++i) {
    if (keys->GetType(i) != VTYPE_STRING) {
      return false;
    }
  }
  return true;
}

// Marks every STRING-keyed collection among `list`'s entries, in place.
void MarkObjectsIn(const CefRefPtr<CefListValue>& list);

void MarkObject(const CefRefPtr<CefDictionaryValue>& dictionary, bool nested) {
  dictionary->SetBool(::KeyedCollection::kIsObject, true);
  if (nested) {
    MarkObjectsIn(dictionary->GetList(::KeyedCollection::kValues));
  }
}

void MarkObjectsIn(const CefRefPtr<CefListValue>& list) {
  if (!list) {
    return;
  }
  for (size_t i = 0; i < list->GetSize(); ++i) {
    if (list->GetType(i) == VTYPE_LIST) {
      MarkObjectsIn(list->GetList(i));
      continue;
    }
    if (list->GetType(i) != VTYPE_DICTIONARY) {
      continue;
    }
    CefRefPtr<CefDictionaryValue> dictionary = list->GetDictionary(i);
    CefRefPtr<CefListValue> keys =
        dictionary->GetList(::KeyedCollection::kKeys);
    CefRefPtr<CefListValue> values =
        dictionary->GetList(::KeyedCollection::kValues);
    if (keys && values && keys->GetSize() == values->GetSize() &&
        AllKeysAreStrings(keys)) {
      MarkObject(dictionary, true);
    } else {
      MarkObjectsIn(values);
    }
  }
}

}  // namespace

CefRefPtr<CefValue> AsPlainObject(CefRefPtr<CefValue> received,
                                  NestedCollections nested) {
  ReadResult<KeyedCollection> read = ReadKeyed(received);
  if (!read || read->malformed) {
    return nullptr;
  }
  for (const auto& entry : read->entries) {
    if (!entry.first || entry.first->GetType() != VTYPE_STRING) {
      return nullptr;
    }
  }
  // A copy: the received value may be read-only and stays as it was.
  CefRefPtr<CefDictionaryValue> copy = received->GetDictionary()->Copy(false);
  MarkObject(copy, nested == NestedCollections::kStringKeyedAsObjects);
  return WrapDictionary(copy);
}

const char* ReadStatusText(ReadStatus status) {
  switch (status) {
    case ReadStatus::kOk:
      return "ok";
    case ReadStatus::kNoValue:
      return "no value";
    case ReadStatus::kInvalid:
      return "invalid (its message was released)";
    case ReadStatus::kWrongType:
      return "wrong type";
  }
  return "unknown";
}

ReadResult<double> ReadNumber(CefRefPtr<CefValue> value) {
  const ReadStatus status = Check(value, {VTYPE_INT, VTYPE_DOUBLE});
  if (status != ReadStatus::kOk) {
    return status;
  }
  if (value->GetType() == VTYPE_INT) {
    return static_cast<double>(value->GetInt());
  }
  return value->GetDouble();
}

ReadResult<int64_t> ReadInteger(CefRefPtr<CefValue> value) {
  const ReadStatus status = Check(value, {VTYPE_INT, VTYPE_DOUBLE});
  if (status != ReadStatus::kOk) {
    return status;
  }
  if (value->GetType() == VTYPE_INT) {
    return static_cast<int64_t>(value->GetInt());
  }
  const double number = value->GetDouble();
  // [-2^63, 2^63): every double in it converts without overflow.
  if (number != std::trunc(number) || !(number >= -0x1p63) ||
      !(number < 0x1p63)) {
    return ReadStatus::kWrongType;
  }
  return static_cast<int64_t>(number);
}

ReadResult<std::string> ReadString(CefRefPtr<CefValue> value) {
  const ReadStatus status = Check(value, {VTYPE_STRING});
  if (status != ReadStatus::kOk) {
    return status;
  }
  return value->GetString().ToString();
}

ReadResult<KeyedCollection> ReadKeyed(CefRefPtr<CefValue> value) {
  const ReadStatus status = Check(value, {VTYPE_DICTIONARY});
  if (status != ReadStatus::kOk) {
    return status;
  }
  return ReadKeyed(value->GetDictionary());
}

ReadResult<KeyedCollection> ReadKeyed(
    CefRefPtr<CefDictionaryValue> dictionary) {
  if (!dictionary) {
    return ReadStatus::kNoValue;
  }
  if (!dictionary->IsValid()) {
    return ReadStatus::kInvalid;
  }
  KeyedCollection collection;
  collection.isObject =
      dictionary->GetType(::KeyedCollection::kIsObject) == VTYPE_BOOL &&
      dictionary->GetBool(::KeyedCollection::kIsObject);
  // Typed getters return null for a missing key or another type.
  const bool haveLists =
      dictionary->GetType(::KeyedCollection::kKeys) == VTYPE_LIST &&
      dictionary->GetType(::KeyedCollection::kValues) == VTYPE_LIST;
  if (!haveLists) {
    collection.malformed = true;
    return collection;
  }
  CefRefPtr<CefListValue> keys = dictionary->GetList(::KeyedCollection::kKeys);
  CefRefPtr<CefListValue> values =
      dictionary->GetList(::KeyedCollection::kValues);
  if (!keys || !values) {
    collection.malformed = true;
    return collection;
  }
  const size_t keyCount = keys->GetSize();
  const size_t valueCount = values->GetSize();
  collection.malformed = keyCount != valueCount;
  const size_t count = keyCount < valueCount ? keyCount : valueCount;
  collection.entries.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    collection.entries.emplace_back(keys->GetValue(i), values->GetValue(i));
  }
  return collection;
}

}  // namespace cef_launcher_peer
