#include "peer/values.h"

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

std::optional<KeyedCollection> ReadKeyed(CefRefPtr<CefValue> value) {
  if (!value || !value->IsValid() || value->GetType() != VTYPE_DICTIONARY) {
    return std::nullopt;
  }
  return ReadKeyed(value->GetDictionary());
}

std::optional<KeyedCollection> ReadKeyed(
    CefRefPtr<CefDictionaryValue> dictionary) {
  if (!dictionary || !dictionary->IsValid()) {
    return std::nullopt;
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
