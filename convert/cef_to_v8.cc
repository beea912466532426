#include "convert/cef_to_v8.h"

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "convert/keyed_collection.h"

namespace {

constexpr char kNewMapCode[] = "new Map();";
constexpr char kNewMapScriptUrl[] = "CEF_MODULE";

class IncomingConversion {
 public:
  explicit IncomingConversion(const CefRefPtr<CefV8Context>& v8Context)
      : context(v8Context) {}

  // `depth` is the number of lists and dictionaries around the value.
  CefRefPtr<CefV8Value> Convert(const CefRefPtr<CefValue>& value, int depth) {
    if (!value) {
      return nullptr;
    }
    switch (value->GetType()) {
      case VTYPE_INVALID:
      case VTYPE_NULL:
        return CefV8Value::CreateNull();
      case VTYPE_BOOL:
        return CefV8Value::CreateBool(value->GetBool());
      case VTYPE_INT:
        return CefV8Value::CreateInt(value->GetInt());
      case VTYPE_DOUBLE:
        return CefV8Value::CreateDouble(value->GetDouble());
      case VTYPE_STRING:
        return CefV8Value::CreateString(value->GetString());
      case VTYPE_BINARY:
        return ConvertBinary(value->GetBinary());
      // Past the nesting bound a container arrives as null, never as a hole:
      // the page is promised that nothing arrives as undefined.
      case VTYPE_LIST:
        if (depth >= kMaxValueNesting) {
          return CefV8Value::CreateNull();
        }
        return ConvertList(value->GetList(), depth);
      case VTYPE_DICTIONARY:
        if (depth + 1 >= kMaxValueNesting) {
          return CefV8Value::CreateNull();
        }
        return ConvertDictionary(value->GetDictionary(), depth);
      default:
        return nullptr;
    }
  }

 private:
  static CefRefPtr<CefV8Value> ConvertBinary(
      const CefRefPtr<CefBinaryValue>& binary) {
    if (!binary) {
      return nullptr;
    }
    // CEF takes a mutable pointer but only copies from it.
    return CefV8Value::CreateArrayBufferWithCopy(
        const_cast<void*>(binary->GetRawData()), binary->GetSize());
  }

  CefRefPtr<CefV8Value> ConvertList(const CefRefPtr<CefListValue>& list,
                                    int depth) {
    if (!list) {
      return nullptr;
    }
    const size_t size = list->GetSize();
    CefRefPtr<CefV8Value> array =
        CefV8Value::CreateArray(static_cast<int>(size));
    if (!array) {
      return nullptr;
    }
    for (size_t i = 0; i < size; ++i) {
      // An element without a value leaves its index unset.
      array->SetValue(static_cast<int>(i),
                      Convert(list->GetValue(i), depth + 1));
    }
    return array;
  }

  CefRefPtr<CefV8Value> ConvertDictionary(
      const CefRefPtr<CefDictionaryValue>& dictionary,
      int depth) {
    if (!dictionary) {
      return nullptr;
    }
    if (dictionary->GetBool(KeyedCollection::kIsObject)) {
      return ConvertPlainObject(dictionary, depth);
    }
    return ConvertMap(dictionary, depth);
  }

  // Calls `insert(key, value)` with the message values of every entry that
  // has both. Malformed input stays safe: a missing list yields no entries,
  // and keys past the end of the values are dropped.
  template <typename Insert>
  static void ForEachEntry(const CefRefPtr<CefDictionaryValue>& dictionary,
                           Insert&& insert) {
    CefRefPtr<CefListValue> keys = dictionary->GetList(KeyedCollection::kKeys);
    CefRefPtr<CefListValue> values =
        dictionary->GetList(KeyedCollection::kValues);
    if (!keys || !values) {
      return;
    }
    for (size_t i = 0; i < keys->GetSize() && i < values->GetSize(); ++i) {
      insert(keys->GetValue(i), values->GetValue(i));
    }
  }

  // JavaScript's own property name for `key`, as `object[key]` would give:
  // a string as it is, a whole number by its decimal text. Other keys name
  // no property.
  static std::optional<CefString> PropertyName(const CefRefPtr<CefValue>& key) {
    if (!key) {
      return std::nullopt;
    }
    switch (key->GetType()) {
      case VTYPE_STRING:
        return key->GetString();
      case VTYPE_INT:
        return CefString(std::to_string(key->GetInt()));
      case VTYPE_DOUBLE: {
        const double number = key->GetDouble();
        // Past 2^53 a double no longer tells neighbouring integers apart.
        constexpr double kMaxSafeInteger = 9007199254740991.0;
        if (!(std::abs(number) <= kMaxSafeInteger) ||
            number != std::trunc(number)) {
          return std::nullopt;
        }
        // -0 names property "0", as in JavaScript.
        return CefString(std::to_string(static_cast<int64_t>(number)));
      }
      default:
        return std::nullopt;
    }
  }

  CefRefPtr<CefV8Value> ConvertPlainObject(
      const CefRefPtr<CefDictionaryValue>& dictionary,
      int depth) {
    CefRefPtr<CefV8Value> object = CefV8Value::CreateObject(nullptr, nullptr);
    if (!object) {
      return nullptr;
    }
    // Entries live two levels down: in the lists of this dictionary.
    const int entryDepth = depth + 2;
    ForEachEntry(dictionary, [this, &object, entryDepth](
                                 const CefRefPtr<CefValue>& key,
                                 const CefRefPtr<CefValue>& value) {
      std::optional<CefString> name = PropertyName(key);
      if (!name) {
        return;
      }
      if (CefRefPtr<CefV8Value> converted = Convert(value, entryDepth)) {
        object->SetValue(*name, converted, V8_PROPERTY_ATTRIBUTE_NONE);
      }
    });
    return object;
  }

  CefRefPtr<CefV8Value> ConvertMap(
      const CefRefPtr<CefDictionaryValue>& dictionary,
      int depth) {
    if (!context) {
      return nullptr;
    }
    CefRefPtr<CefV8Value> map;
    CefRefPtr<CefV8Exception> ignored;
    if (!context->Eval(kNewMapCode, kNewMapScriptUrl, 0, map, ignored) ||
        !map) {
      return nullptr;
    }
    CefRefPtr<CefV8Value> set = map->GetValue("set");
    if (!set) {
      return map;
    }
    const int entryDepth = depth + 2;
    ForEachEntry(dictionary, [this, &map, &set, entryDepth](
                                 const CefRefPtr<CefValue>& key,
                                 const CefRefPtr<CefValue>& value) {
      // An entry whose key or value converts to nothing is skipped.
      CefRefPtr<CefV8Value> mapKey = Convert(key, entryDepth);
      if (!mapKey) {
        return;
      }
      if (CefRefPtr<CefV8Value> mapValue = Convert(value, entryDepth)) {
        set->ExecuteFunction(map, {mapKey, mapValue});
      }
    });
    return map;
  }

  const CefRefPtr<CefV8Context>& context;
};

}  // namespace

CefRefPtr<CefV8Value> CefValueToV8Value(const CefRefPtr<CefV8Context>& context,
                                        const CefRefPtr<CefValue>& value) {
  return IncomingConversion(context).Convert(value, 0);
}

CefV8ValueList CefListToV8ValueList(const CefRefPtr<CefV8Context>& context,
                                    const CefRefPtr<CefListValue>& list) {
  CefV8ValueList result;
  if (!list) {
    return result;
  }
  IncomingConversion conversion(context);
  for (size_t i = 0; i < list->GetSize(); ++i) {
    // The arguments are themselves inside the Call's list.
    result.push_back(conversion.Convert(list->GetValue(i), 0));
  }
  return result;
}
