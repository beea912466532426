#include "convert/cef_to_v8.h"

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
      case VTYPE_LIST:
        if (depth >= kMaxValueNesting) {
          return nullptr;
        }
        return ConvertList(value->GetList(), depth);
      case VTYPE_DICTIONARY:
        if (depth + 1 >= kMaxValueNesting) {
          return nullptr;
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
    if (dictionary->GetBool(kKeyedCollectionIsObject)) {
      return ConvertPlainObject(dictionary, depth);
    }
    return ConvertMap(dictionary, depth);
  }

  // Calls `insert(key, value)` for every complete entry of the collection.
  // Malformed input stays safe: a missing list yields no entries, and an
  // entry whose value is missing or whose key or value converts to nothing
  // is skipped.
  template <typename Insert>
  void ForEachEntry(const CefRefPtr<CefDictionaryValue>& dictionary,
                    int depth,
                    Insert&& insert) {
    CefRefPtr<CefListValue> keys = dictionary->GetList(kKeyedCollectionKeys);
    CefRefPtr<CefListValue> values =
        dictionary->GetList(kKeyedCollectionValues);
    if (!keys || !values) {
      return;
    }
    // Entries live two levels down: in the lists of this dictionary.
    const int entryDepth = depth + 2;
    for (size_t i = 0; i < keys->GetSize(); ++i) {
      if (i >= values->GetSize()) {
        return;
      }
      CefRefPtr<CefV8Value> key = Convert(keys->GetValue(i), entryDepth);
      if (!key) {
        continue;
      }
      CefRefPtr<CefV8Value> value = Convert(values->GetValue(i), entryDepth);
      if (!value) {
        continue;
      }
      insert(key, value);
    }
  }

  CefRefPtr<CefV8Value> ConvertPlainObject(
      const CefRefPtr<CefDictionaryValue>& dictionary,
      int depth) {
    CefRefPtr<CefV8Value> object = CefV8Value::CreateObject(nullptr, nullptr);
    if (!object) {
      return nullptr;
    }
    ForEachEntry(dictionary, depth,
                 [&object](const CefRefPtr<CefV8Value>& key,
                           const CefRefPtr<CefV8Value>& value) {
                   object->SetValue(key->GetStringValue(), value,
                                    V8_PROPERTY_ATTRIBUTE_NONE);
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
    ForEachEntry(dictionary, depth,
                 [&map, &set](const CefRefPtr<CefV8Value>& key,
                              const CefRefPtr<CefV8Value>& value) {
                   set->ExecuteFunction(map, {key, value});
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
