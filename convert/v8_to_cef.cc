#include "convert/v8_to_cef.h"

#include <cmath>
#include <vector>

#include "convert/keyed_collection.h"
#include "convert/message_size.h"

namespace {

// What a keyed collection adds around its two lists: the dictionary, its two
// entries and their key strings.
constexpr size_t kKeyedCollectionBytes =
    EncodedDictionaryBytes(2) +
    EncodedBytesArray(sizeof(KeyedCollection::kKeys) - 1) +
    EncodedBytesArray(sizeof(KeyedCollection::kValues) - 1);

// Walks one value tree; `remaining` is what is left of its size budget,
// counted as the channel encodes the message.
class OutgoingConversion {
 public:
  OutgoingConversion(const CefRefPtr<CefV8Context>& v8Context, size_t budget)
      : context(v8Context), remaining(budget) {}

  // `depth` is the number of lists and dictionaries around the value;
  // `prepaid` when its slot in the parent's array was paid for with the
  // parent.
  CefRefPtr<CefValue> Convert(const CefRefPtr<CefV8Value>& value,
                              int depth,
                              bool prepaid = false) {
    CefRefPtr<CefValue> result = CefValue::Create();
    if (!value || (!prepaid && !Spend(kEncodedValueBytes))) {
      return result;
    }
    if (value->IsNull() || value->IsUndefined()) {
      result->SetNull();
    } else if (value->IsBool()) {
      result->SetBool(value->GetBoolValue());
    } else if (value->IsInt()) {
      result->SetInt(value->GetIntValue());
    } else if (value->IsDouble()) {
      // CEF would store NaN and infinities as 0.0; NULL says "no number".
      const double number = value->GetDoubleValue();
      if (std::isfinite(number)) {
        result->SetDouble(number);
      }
    } else if (value->IsString()) {
      CefString text = value->GetStringValue();
      if (Spend(EncodedBytesArray(Utf8BytesAtMost(text)))) {
        result->SetString(text);
      }
    } else if (value->IsArrayBuffer()) {
      ConvertArrayBuffer(value, result);
    } else if (value->IsArray()) {
      if (depth < kMaxValueNesting && EnterContainer(value)) {
        ConvertArray(value, depth, result);
        LeaveContainer();
      }
    } else if (value->IsObject()) {
      if (depth + 1 < kMaxValueNesting && EnterContainer(value)) {
        ConvertObject(value, depth, result);
        LeaveContainer();
      }
    }
    return result;
  }

  // True once the budget is spent: whatever follows stays NULL.
  bool Exhausted() const { return remaining == 0; }

 private:
  // False when the walk is already inside `container`: a container that
  // recurs within itself (a cycle) is NULL where it recurs. Unrolled to the
  // nesting bound instead, two links back (a node's parent and its
  // children) would multiply at every level until the size budget.
  bool EnterContainer(const CefRefPtr<CefV8Value>& container) {
    for (const CefRefPtr<CefV8Value>& outer : path) {
      if (outer->IsSame(container)) {
        return false;
      }
    }
    path.push_back(container);
    return true;
  }

  void LeaveContainer() { path.pop_back(); }

  void ConvertArrayBuffer(const CefRefPtr<CefV8Value>& buffer,
                          const CefRefPtr<CefValue>& result) {
    const size_t size = buffer->GetArrayBufferByteLength();
    const void* data = buffer->GetArrayBufferData();
    // CEF refuses empty binaries; an empty or detached buffer stays NULL.
    if (!data || size == 0 || !Spend(EncodedBytesArray(size))) {
      return;
    }
    result->SetBinary(CefBinaryValue::Create(data, size));
  }

  void ConvertArray(const CefRefPtr<CefV8Value>& array,
                    int depth,
                    const CefRefPtr<CefValue>& result) {
    CefRefPtr<CefListValue> list = ConvertElements(array, depth);
    if (list) {
      result->SetList(list);
    }
  }

  // The list for a page array, or empty when the array is too long for the
  // bound or the budget.
  CefRefPtr<CefListValue> ConvertElements(const CefRefPtr<CefV8Value>& array,
                                          int depth) {
    // A length without elements (a.length = 2e9) must not size the list.
    // CEF returns the length as an int: from 2^31 on it is negative.
    const int length = array->GetArrayLength();
    if (length < 0 || length > kMaxArrayLength) {
      return nullptr;
    }
    // Every entry exists from SetSize on, converted or not.
    if (!Spend(EncodedListBytes(static_cast<size_t>(length)))) {
      return nullptr;
    }
    CefRefPtr<CefListValue> list = CefListValue::Create();
    if (length == 0) {
      return list;
    }
    list->SetSize(static_cast<size_t>(length));
    // Once the budget is spent the rest stays the NULL padding of SetSize.
    for (int i = 0; i < length && remaining > 0; ++i) {
      // A hole or a throwing element reads as undefined or null: NULL.
      list->SetValue(static_cast<size_t>(i),
                     Convert(array->GetValue(i), depth + 1, true));
    }
    return list;
  }

  void ConvertObject(const CefRefPtr<CefV8Value>& object,
                     int depth,
                     const CefRefPtr<CefValue>& result) {
    CefRefPtr<CefV8Value> constructor = object->GetValue("constructor");
    if (!constructor || !constructor->IsObject()) {
      return;
    }
    CefRefPtr<CefV8Value> name = constructor->GetValue("name");
    if (!name || !name->IsString()) {
      return;
    }
    const CefString constructorName = name->GetStringValue();
    if (constructorName == "Map") {
      ConvertMap(object, depth, result);
    } else if (constructorName == "Object") {
      ConvertPlainObject(object, depth, result);
    }
  }

  void ConvertMap(const CefRefPtr<CefV8Value>& map,
                  int depth,
                  const CefRefPtr<CefValue>& result) {
    CefRefPtr<CefV8Value> keysFunction = map->GetValue("keys");
    CefRefPtr<CefV8Value> valuesFunction = map->GetValue("values");
    CefRefPtr<CefV8Value> arrayConstructor = GlobalProperty("Array");
    if (!keysFunction || !valuesFunction || !arrayConstructor) {
      return;
    }
    CefRefPtr<CefV8Value> from = arrayConstructor->GetValue("from");
    if (!from) {
      return;
    }
    CefRefPtr<CefV8Value> keysIterator = keysFunction->ExecuteFunction(map, {});
    CefRefPtr<CefV8Value> valuesIterator =
        valuesFunction->ExecuteFunction(map, {});
    if (!keysIterator || !valuesIterator) {
      return;
    }
    // Keys first, then values: separate statements, because the order in
    // which a call's arguments are evaluated is the compiler's choice and
    // the page can observe it.
    CefRefPtr<CefV8Value> keys =
        from->ExecuteFunction(arrayConstructor, {keysIterator});
    CefRefPtr<CefV8Value> values =
        from->ExecuteFunction(arrayConstructor, {valuesIterator});
    StoreCollection(keys, values, depth, result);
  }

  void ConvertPlainObject(const CefRefPtr<CefV8Value>& object,
                          int depth,
                          const CefRefPtr<CefValue>& result) {
    CefRefPtr<CefV8Value> objectConstructor = GlobalProperty("Object");
    if (!objectConstructor) {
      return;
    }
    CefRefPtr<CefV8Value> keysFunction = objectConstructor->GetValue("keys");
    CefRefPtr<CefV8Value> valuesFunction =
        objectConstructor->GetValue("values");
    if (!keysFunction || !valuesFunction) {
      return;
    }
    // Keys first, then values, as for a Map.
    CefRefPtr<CefV8Value> keys =
        keysFunction->ExecuteFunction(objectConstructor, {object});
    CefRefPtr<CefV8Value> values =
        valuesFunction->ExecuteFunction(objectConstructor, {object});
    StoreCollection(keys, values, depth, result);
  }

  // Writes the keyed form of two collected arrays. Anything but two arrays
  // of equal length (a patched Object.keys, a getter deleting properties)
  // leaves the collection NULL rather than sending mismatched lists.
  void StoreCollection(const CefRefPtr<CefV8Value>& keys,
                       const CefRefPtr<CefV8Value>& values,
                       int depth,
                       const CefRefPtr<CefValue>& result) {
    if (!keys || !values || !keys->IsArray() || !values->IsArray() ||
        !Spend(kKeyedCollectionBytes)) {
      return;
    }
    CefRefPtr<CefListValue> keyList = ConvertElements(keys, depth + 1);
    CefRefPtr<CefListValue> valueList = ConvertElements(values, depth + 1);
    if (!keyList || !valueList || keyList->GetSize() != valueList->GetSize()) {
      return;
    }
    CefRefPtr<CefDictionaryValue> dictionary = CefDictionaryValue::Create();
    dictionary->SetList(KeyedCollection::kKeys, keyList);
    dictionary->SetList(KeyedCollection::kValues, valueList);
    result->SetDictionary(dictionary);
  }

  // Takes `bytes` from the budget; once it does not fit, nothing more does.
  bool Spend(size_t bytes) {
    if (bytes > remaining) {
      remaining = 0;
      return false;
    }
    remaining -= bytes;
    return true;
  }

  CefRefPtr<CefV8Value> GlobalProperty(const char* name) {
    if (!context) {
      return nullptr;
    }
    CefRefPtr<CefV8Value> global = context->GetGlobal();
    return global ? global->GetValue(name) : nullptr;
  }

  const CefRefPtr<CefV8Context>& context;
  size_t remaining;
  // The arrays, Maps and objects from the root down to the current value.
  std::vector<CefRefPtr<CefV8Value>> path;
};

}  // namespace

CefRefPtr<CefValue> V8ValueToCefValue(const CefRefPtr<CefV8Context>& context,
                                      const CefRefPtr<CefV8Value>& value) {
  return OutgoingConversion(context, kMaxConvertedBytes).Convert(value, 0);
}

CefRefPtr<CefListValue> V8ValuesToCefList(
    const CefRefPtr<CefV8Context>& context,
    std::span<const CefRefPtr<CefV8Value>> values,
    size_t reservedBytes) {
  // The list and a slot for every value come first: without them no
  // message can carry the values, not even as NULLs.
  const size_t listBytes = EncodedListBytes(values.size());
  if (reservedBytes > kMaxConvertedBytes ||
      listBytes > kMaxConvertedBytes - reservedBytes) {
    return nullptr;
  }
  CefRefPtr<CefListValue> list = CefListValue::Create();
  if (values.empty()) {
    return list;
  }
  list->SetSize(values.size());
  OutgoingConversion conversion(context,
                                kMaxConvertedBytes - reservedBytes - listBytes);
  for (size_t i = 0; i < values.size() && !conversion.Exhausted(); ++i) {
    list->SetValue(i, conversion.Convert(values[i], 0, true));
  }
  return list;
}
