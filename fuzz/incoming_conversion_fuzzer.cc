// Message values of every shape, malformed keyed collections and chains
// past the nesting bound among them, through CefValueToV8Value into a live
// page: the page value never nests deeper than the bound, and values
// without dictionaries come back unchanged through V8ValueToCefValue.

#include <cmath>
#include <cstdint>
#include <string>

#include "cefsim/value_text.h"
#include "convert/cef_to_v8.h"
#include "convert/keyed_collection.h"
#include "convert/v8_to_cef.h"
#include "fuzz/fuzz_page.h"
#include "fuzz/fuzz_values.h"

namespace {

// Lists and keyed collections nested around a leaf, to `levels` levels.
CefRefPtr<CefValue> ConsumeChain(FuzzedDataProvider& data, int levels) {
  CefRefPtr<CefValue> value =
      ConsumeValue(data, ValueShape{.maxDepth = 0, .maxEntries = 1});
  int depth = 0;
  while (depth < levels) {
    CefRefPtr<CefListValue> list = CefListValue::Create();
    list->SetValue(0, value);
    CefRefPtr<CefValue> outer = CefValue::Create();
    if (depth + 2 <= levels && data.ConsumeIntegralInRange(0, 3) == 0) {
      CefRefPtr<CefListValue> keys = CefListValue::Create();
      keys->SetString(0, "k");
      CefRefPtr<CefDictionaryValue> collection = CefDictionaryValue::Create();
      const bool keyIsValue = data.ConsumeBool();
      collection->SetList(KeyedCollection::kKeys, keyIsValue ? list : keys);
      collection->SetList(KeyedCollection::kValues, keyIsValue ? keys : list);
      if (data.ConsumeBool()) {
        collection->SetBool(KeyedCollection::kIsObject, true);
      }
      outer->SetDictionary(collection);
      depth += 2;
    } else {
      outer->SetList(list);
      depth += 1;
    }
    value = outer;
  }
  return value;
}

bool HasDictionary(const CefRefPtr<CefValue>& value) {
  if (value->GetType() == VTYPE_DICTIONARY) {
    return true;
  }
  if (value->GetType() != VTYPE_LIST) {
    return false;
  }
  CefRefPtr<CefListValue> list = value->GetList();
  for (size_t i = 0; i < list->GetSize(); ++i) {
    if (HasDictionary(list->GetValue(i))) {
      return true;
    }
  }
  return false;
}

// What a dictionary-free value is after a trip into the page and back: page
// numbers that are int32 come back as INT, lists past the bound are left
// out (so read as NULL), INVALID becomes null.
CefRefPtr<CefValue> RoundTripped(const CefRefPtr<CefValue>& value, int depth) {
  CefRefPtr<CefValue> result = CefValue::Create();
  switch (value->GetType()) {
    case VTYPE_DOUBLE: {
      // The top-level page value is the one CEF created with a double tag;
      // read back from the page, an integral number is an integer.
      const double number = value->GetDouble();
      if (depth == 0) {
        return value->Copy();
      }
      if (number == std::trunc(number) && number >= -2147483648.0 &&
          number <= 2147483647.0 && !(number == 0 && std::signbit(number))) {
        result->SetInt(static_cast<int>(number));
      } else {
        result->SetDouble(number);
      }
      return result;
    }
    case VTYPE_LIST: {
      if (depth >= kMaxValueNesting) {
        result->SetNull();
        return result;
      }
      CefRefPtr<CefListValue> list = value->GetList();
      CefRefPtr<CefListValue> copy = CefListValue::Create();
      copy->SetSize(list->GetSize());
      for (size_t i = 0; i < list->GetSize(); ++i) {
        copy->SetValue(i, RoundTripped(list->GetValue(i), depth + 1));
      }
      result->SetList(copy);
      return result;
    }
    case VTYPE_INVALID:
    case VTYPE_NULL:
      result->SetNull();
      return result;
    default:
      return value->Copy();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  FuzzPage& page = FuzzPage::Get();
  CefRefPtr<CefValue> value;
  if (data.ConsumeIntegralInRange(0, 7) == 0) {
    value = ConsumeChain(data, data.ConsumeIntegralInRange(
                                   kMaxValueNesting - 8, kMaxValueNesting + 8));
  } else {
    value = ConsumeValue(data, ValueShape{.maxDepth = 7, .maxEntries = 6});
  }

  CefRefPtr<CefV8Context> context = page.Context();
  Check(context && context->Enter(), "the page context can be entered");
  CefRefPtr<CefV8Value> converted = CefValueToV8Value(context, value);
  const int depth = page.NestingDepth(context, converted);
  if (depth > kMaxValueNesting) {
    std::fprintf(stderr, "page value %d levels deep from %s\n", depth,
                 cefsim::ValueText(value).c_str());
    std::abort();
  }
  if (!HasDictionary(value)) {
    CheckSameText("round trip of " + cefsim::ValueText(value),
                  cefsim::ValueText(RoundTripped(value, 0)),
                  cefsim::ValueText(V8ValueToCefValue(context, converted)));
  }
  context->Exit();
  return 0;
}
