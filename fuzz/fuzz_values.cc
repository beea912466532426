#include "fuzz/fuzz_values.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

#include "convert/keyed_collection.h"

namespace {

// The keys a keyed collection has, and near misses of them.
constexpr const char* kDictionaryKeys[] = {KeyedCollection::kKeys,
                                           KeyedCollection::kValues,
                                           KeyedCollection::kIsObject,
                                           "Keys",
                                           "value",
                                           "",
                                           "__proto__",
                                           "constructor",
                                           "0",
                                           "keys "};

constexpr double kDoubles[] = {
    0.0,
    -0.0,
    0.5,
    1.0,
    -1.0,
    2147483647.0,
    2147483648.0,
    -2147483648.0,
    -2147483649.0,
    4294967295.0,
    1e308,
    std::numeric_limits<double>::denorm_min(),
    std::numeric_limits<double>::quiet_NaN(),
    std::numeric_limits<double>::infinity(),
    -std::numeric_limits<double>::infinity(),
};

CefRefPtr<CefValue> ConsumeValueAt(FuzzedDataProvider& data,
                                   const ValueShape& shape,
                                   int depth);

CefRefPtr<CefListValue> ConsumeListAt(FuzzedDataProvider& data,
                                      const ValueShape& shape,
                                      int depth) {
  CefRefPtr<CefListValue> list = CefListValue::Create();
  const size_t size = data.ConsumeIntegralInRange<size_t>(0, shape.maxEntries);
  // Sometimes padded first, so that untouched entries stay NULL.
  if (data.ConsumeBool()) {
    list->SetSize(size);
  }
  for (size_t i = 0; i < size && data.remaining_bytes() > 0; ++i) {
    list->SetValue(i, ConsumeValueAt(data, shape, depth + 1));
  }
  return list;
}

CefRefPtr<CefDictionaryValue> ConsumeKeyedCollection(FuzzedDataProvider& data,
                                                     const ValueShape& shape,
                                                     int depth) {
  CefRefPtr<CefDictionaryValue> dictionary = CefDictionaryValue::Create();
  const uint8_t form = data.ConsumeIntegral<uint8_t>();
  // Bits: keys list, values list, isObject, a stray entry, wrong-type lists.
  if ((form & 1) == 0) {
    dictionary->SetList(KeyedCollection::kKeys,
                        ConsumeListAt(data, shape, depth + 1));
  }
  if ((form & 2) == 0) {
    dictionary->SetList(KeyedCollection::kValues,
                        ConsumeListAt(data, shape, depth + 1));
  }
  if (form & 4) {
    switch (data.ConsumeIntegralInRange(0, 3)) {
      case 0:
        dictionary->SetBool(KeyedCollection::kIsObject, true);
        break;
      case 1:
        dictionary->SetBool(KeyedCollection::kIsObject, false);
        break;
      case 2:
        dictionary->SetInt(KeyedCollection::kIsObject, 1);
        break;
      default:
        dictionary->SetString(KeyedCollection::kIsObject, "true");
        break;
    }
  }
  if (form & 8) {
    const char* key = kDictionaryKeys[data.ConsumeIntegralInRange<size_t>(
        0, std::size(kDictionaryKeys) - 1)];
    dictionary->SetValue(key, ConsumeValueAt(data, shape, depth + 1));
  }
  if (form & 16) {
    // "keys" as something other than a list.
    dictionary->SetValue(
        form & 32 ? KeyedCollection::kKeys : KeyedCollection::kValues,
        ConsumeValueAt(data, shape, depth + 1));
  }
  return dictionary;
}

CefRefPtr<CefDictionaryValue> ConsumeDictionary(FuzzedDataProvider& data,
                                                const ValueShape& shape,
                                                int depth) {
  if (shape.keyedCollections && data.ConsumeIntegralInRange(0, 3) != 0) {
    return ConsumeKeyedCollection(data, shape, depth);
  }
  CefRefPtr<CefDictionaryValue> dictionary = CefDictionaryValue::Create();
  const size_t size = data.ConsumeIntegralInRange<size_t>(0, shape.maxEntries);
  for (size_t i = 0; i < size && data.remaining_bytes() > 0; ++i) {
    const std::string key =
        data.ConsumeBool()
            ? kDictionaryKeys[data.ConsumeIntegralInRange<size_t>(
                  0, std::size(kDictionaryKeys) - 1)]
            : ConsumeText(data, 8);
    dictionary->SetValue(key, ConsumeValueAt(data, shape, depth + 1));
  }
  return dictionary;
}

CefRefPtr<CefValue> ConsumeValueAt(FuzzedDataProvider& data,
                                   const ValueShape& shape,
                                   int depth) {
  CefRefPtr<CefValue> value = CefValue::Create();
  const bool nest = depth < shape.maxDepth;
  switch (data.ConsumeIntegralInRange(0, nest ? 9 : 6)) {
    case 0:
      value->SetNull();
      break;
    case 1:
      value->SetBool(data.ConsumeBool());
      break;
    case 2:
      value->SetInt(data.ConsumeBool() ? data.ConsumeIntegralInRange(-2, 4)
                                       : data.ConsumeIntegral<int32_t>());
      break;
    case 3:
      value->SetDouble(data.ConsumeBool()
                           ? kDoubles[data.ConsumeIntegralInRange<size_t>(
                                 0, std::size(kDoubles) - 1)]
                           : data.ConsumeFloatingPoint<double>());
      break;
    case 4:
      value->SetString(ConsumeText(data, 16));
      break;
    case 5: {
      // CEF refuses an empty binary, so there is always one byte.
      std::string bytes = data.ConsumeRandomLengthString(16);
      bytes.push_back('\x7f');
      value->SetBinary(CefBinaryValue::Create(bytes.data(), bytes.size()));
      break;
    }
    case 6:
      // Left as CefValue::Create() made it: INVALID.
      break;
    case 7:
    case 8:
      value->SetList(ConsumeListAt(data, shape, depth));
      break;
    default:
      value->SetDictionary(ConsumeDictionary(data, shape, depth));
      break;
  }
  return value;
}

int DepthOfList(const CefRefPtr<CefListValue>& list);

int DepthOfDictionary(const CefRefPtr<CefDictionaryValue>& dictionary) {
  CefDictionaryValue::KeyList keys;
  dictionary->GetKeys(keys);
  int deepest = 0;
  for (const CefString& key : keys) {
    deepest = std::max(deepest, NestingDepth(dictionary->GetValue(key)));
  }
  return deepest + 1;
}

int DepthOfList(const CefRefPtr<CefListValue>& list) {
  int deepest = 0;
  for (size_t i = 0; i < list->GetSize(); ++i) {
    deepest = std::max(deepest, NestingDepth(list->GetValue(i)));
  }
  return deepest + 1;
}

}  // namespace

CefRefPtr<CefValue> ConsumeValue(FuzzedDataProvider& data,
                                 const ValueShape& shape) {
  return ConsumeValueAt(data, shape, 0);
}

CefRefPtr<CefListValue> ConsumeList(FuzzedDataProvider& data,
                                    const ValueShape& shape) {
  return ConsumeListAt(data, shape, 0);
}

std::string ConsumeText(FuzzedDataProvider& data, size_t maxLength) {
  switch (data.ConsumeIntegralInRange(0, 7)) {
    case 0:
      return "";
    case 1:
      // A lone surrogate and a character outside the BMP, as UTF-8.
      return "\xed\xa0\x80x\xf0\x9f\x98\x80";
    case 2:
      return std::string(data.ConsumeIntegralInRange<size_t>(0, 4), '.') +
             std::string("a\0b", 3);
    default:
      return data.ConsumeRandomLengthString(maxLength);
  }
}

int NestingDepth(const CefRefPtr<CefValue>& value) {
  if (!value || !value->IsValid()) {
    return 0;
  }
  switch (value->GetType()) {
    case VTYPE_LIST:
      return DepthOfList(value->GetList());
    case VTYPE_DICTIONARY:
      return DepthOfDictionary(value->GetDictionary());
    default:
      return 0;
  }
}

int NestingDepth(const CefRefPtr<CefListValue>& list) {
  return list ? DepthOfList(list) : 0;
}

void CheckSameText(const std::string& what,
                   const std::string& expected,
                   const std::string& actual) {
  if (expected == actual) {
    return;
  }
  std::fprintf(stderr, "%s differs\n  expected: %s\n  actual:   %s\n",
               what.c_str(), expected.c_str(), actual.c_str());
  std::abort();
}

void Check(bool condition, const std::string& what) {
  if (condition) {
    return;
  }
  std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
  std::abort();
}
