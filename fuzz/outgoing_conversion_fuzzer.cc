// Page values written as script from the fuzz bytes (nested arrays, objects
// and Maps, cycles, throwing getters, Proxies, huge sparse arrays, NaN, ...)
// through V8ValueToCefValue: the result is a value, never nests deeper than
// the bound, holds only finite numbers and well-formed keyed collections,
// and fits in a Result the channel carries, by the program's count and by
// the channel's.

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "bridge/bridge_message.h"
#include "cefsim/transit.h"
#include "cefsim/value_text.h"
#include "convert/keyed_collection.h"
#include "convert/message_size.h"
#include "convert/v8_to_cef.h"
#include "fuzz/fuzz_page.h"
#include "fuzz/fuzz_values.h"

namespace {

constexpr const char* kScalars[] = {
    "null",
    "undefined",
    "true",
    "false",
    "0",
    "-0",
    "1",
    "-1",
    "2.5",
    "5.0",
    "2147483647",
    "2147483648",
    "-2147483648",
    "-2147483649",
    "4294967295",
    "1e308",
    "NaN",
    "Infinity",
    "-Infinity",
    "Number.MIN_VALUE",
    "''",
    "'a'",
    "'\\uD800'",
    "'x\\uDC00'",
    "'\\u{1F600}'",
    "'a\\0b'",
    "Symbol('s')",
    "10n",
    "new Date(0)",
    "Promise.resolve(1)",
    "new Set([1])",
    "new Uint8Array(3)",
    "Object(1)",
    "Object('s')",
    "function f() {}",
    "() => 1",
    "new ArrayBuffer(0)",
    "new Uint8Array([1, 2, 3]).buffer",
    "Object.create(null)",
    "new (class A {})()",
    "new (class M extends Map {})([[1, 2]])",
    "globalThis",
    "squirrel",
    "squirrel.call",
    "new Error('e')",
    "/re/",
};

// "['__proto__']" is an own property of that name. The literal form, which
// sets the prototype, is left out: under a fake Map constructor a huge sparse
// array as prototype hands its keys() to Array.from, page script that walks
// two billion indices (a minute and gigabytes, page's own doing).
constexpr const char* kKeys[] = {
    "a",          "b",    "'0'",       "'1'",         "'4294967295'",
    "length",     "keys", "values",    "constructor", "['__proto__']",
    "'toString'", "''",   "'\\uD800'", "then",
};

// Array lengths around the limits; 4194304 itself (a full conversion of
// four million holes) is left to the tests.
constexpr const char* kLengths[] = {
    "0", "1", "7", "1000", "4194305", "2 ** 31 - 1", "2 ** 31", "2 ** 32 - 1",
};

class ScriptWriter {
 public:
  explicit ScriptWriter(FuzzedDataProvider& data) : data(data) {}

  std::string Expression(int depth) {
    if (depth >= 6 || data.remaining_bytes() == 0) {
      return Pick(kScalars);
    }
    switch (data.ConsumeIntegralInRange(0, 15)) {
      case 0:
      case 1:
        return Pick(kScalars);
      case 2:
      case 3:
        return "[" + List(depth) + "]";
      case 4:
      case 5:
        return "({" + Properties(depth) + "})";
      case 6:
        return "new Map([" + Entries(depth) + "])";
      case 7:
        // A cycle through an array, an object or a Map.
        switch (data.ConsumeIntegralInRange(0, 2)) {
          case 0:
            return "(() => { const a = [" + List(depth) +
                   "]; a.push(a); return a; })()";
          case 1:
            return "(() => { const o = {" + Properties(depth) +
                   "}; o.self = o; return o; })()";
          default:
            return "(() => { const m = new Map([" + Entries(depth) +
                   "]); m.set(m, m); return m; })()";
        }
      case 8:
        // A throwing getter, in an object or on an array index.
        return data.ConsumeBool()
                   ? "({get x() { throw new Error('g'); }, " +
                         Properties(depth) + "})"
                   : "(() => { const a = [" + List(depth) +
                         "]; Object.defineProperty(a, " +
                         std::to_string(data.ConsumeIntegralInRange(0, 3)) +
                         ", {get() { throw 1; }}); return a; })()";
      case 9: {
        // Proxies with throwing or lying traps.
        const std::string target = data.ConsumeBool()
                                       ? "[" + List(depth) + "]"
                                       : "{" + Properties(depth) + "}";
        switch (data.ConsumeIntegralInRange(0, 4)) {
          case 0:
            return "new Proxy(" + target + ", {get() { throw 1; }})";
          case 1:
            return "new Proxy(" + target + ", {ownKeys() { throw 1; }})";
          case 2:
            return "new Proxy(" + target + ", {})";
          case 3:
            return "new Proxy(" + target +
                   ", {get(t, k) { return k === 'length' ? 1e9 : t[k]; }})";
          default:
            return "(() => { const r = Proxy.revocable(" + target +
                   ", {}); r.revoke(); return r.proxy; })()";
        }
      }
      case 10: {
        // A sparse array, maybe with one element set near its end.
        const std::string length = Pick(kLengths);
        std::string code = "(() => { const a = [" + List(depth) +
                           "]; a.length = " + length + ";";
        if (data.ConsumeBool()) {
          code +=
              " if (a.length > 0) a[a.length - 1] = " + Expression(depth + 1) +
              ";";
        }
        return code + " return a; })()";
      }
      case 11:
        // A getter that changes the object while it is read.
        return "({get a() { delete this.b; this.c = 1; return 1; }, b: " +
               Expression(depth + 1) + "})";
      case 12:
        // A constructor that lies about what the object is.
        switch (data.ConsumeIntegralInRange(0, 3)) {
          case 0:
            return "(() => { const o = {" + Properties(depth) +
                   "}; o.constructor = {name: 'Map'}; return o; })()";
          case 1:
            return "(() => { const m = new Map([" + Entries(depth) +
                   "]); m.constructor = Object; return m; })()";
          case 2:
            return "(() => { const m = new Map([" + Entries(depth) +
                   "]); m.keys = () => [1, 2, 3].values(); return m; })()";
          default:
            return "Object.assign(Object.create({constructor: Map}), {" +
                   Properties(depth) + "})";
        }
      case 13:
        // A getter that builds a new level on every read.
        return "({get next() { return {next: this}; }})";
      case 14:
        // An array buffer that was detached.
        return "(() => { const b = new ArrayBuffer(4); structuredClone(b, "
               "{transfer: [b]}); return b; })()";
      default:
        return "[" + List(depth) + "].concat([" + List(depth) + "])";
    }
  }

 private:
  template <size_t N>
  std::string Pick(const char* const (&choices)[N]) {
    return choices[data.ConsumeIntegralInRange<size_t>(0, N - 1)];
  }

  std::string List(int depth) {
    std::string code;
    const int count = data.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < count; ++i) {
      code += (i ? ", " : "") + (data.ConsumeIntegralInRange(0, 7) == 0
                                     ? std::string()  // a hole
                                     : Expression(depth + 1));
    }
    return code;
  }

  std::string Properties(int depth) {
    std::string code;
    const int count = data.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < count; ++i) {
      code += (i ? ", " : "") + std::string(Pick(kKeys)) + ": " +
              Expression(depth + 1);
    }
    return code;
  }

  std::string Entries(int depth) {
    std::string code;
    const int count = data.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < count; ++i) {
      code += (i ? ", " : "") + std::string("[") + Expression(depth + 1) +
              ", " + Expression(depth + 1) + "]";
    }
    return code;
  }

  FuzzedDataProvider& data;
};

// The keyed form: exactly "keys" and "values", two lists of equal length.
void CheckWellFormed(const CefRefPtr<CefValue>& value) {
  if (value->GetType() == VTYPE_DOUBLE) {
    Check(std::isfinite(value->GetDouble()), "finite numbers only");
  }
  if (value->GetType() == VTYPE_LIST) {
    CefRefPtr<CefListValue> list = value->GetList();
    for (size_t i = 0; i < list->GetSize(); ++i) {
      CheckWellFormed(list->GetValue(i));
    }
  }
  if (value->GetType() == VTYPE_DICTIONARY) {
    CefRefPtr<CefDictionaryValue> dictionary = value->GetDictionary();
    Check(dictionary->GetSize() == 2 &&
              dictionary->GetType(KeyedCollection::kKeys) == VTYPE_LIST &&
              dictionary->GetType(KeyedCollection::kValues) == VTYPE_LIST,
          "a keyed collection has exactly its two lists");
    Check(dictionary->GetList(KeyedCollection::kKeys)->GetSize() ==
              dictionary->GetList(KeyedCollection::kValues)->GetSize(),
          "keys and values line up");
    CheckWellFormed(dictionary->GetValue(KeyedCollection::kKeys));
    CheckWellFormed(dictionary->GetValue(KeyedCollection::kValues));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  FuzzPage& page = FuzzPage::Get();
  const std::string code = "(" + ScriptWriter(data).Expression(0) + ")";

  cefsim::ScriptOutcome outcome = page.harness().RunScript(page.frame(), code);
  if (!outcome.ok) {
    // Script the writer got wrong (a BigInt mixed into arithmetic and the
    // like) is no input for the conversion.
    return 0;
  }
  CefRefPtr<CefV8Context> context = page.Context();
  Check(context && context->Enter(), "the page context can be entered");
  CefRefPtr<CefValue> converted = V8ValueToCefValue(context, outcome.value);
  context->Exit();

  Check(converted != nullptr, "a conversion always gives a value");
  const int depth = NestingDepth(converted);
  if (depth > kMaxValueNesting) {
    std::fprintf(stderr, "%d levels from %s\n", depth, code.c_str());
    std::abort();
  }
  CheckWellFormed(converted);

  // The reply that carries it fits the channel by the program's own count,
  // which never falls below the channel's, and reaches the browser.
  CefRefPtr<CefProcessMessage> result =
      ResultMessage{INT32_MAX, converted}.ToProcessMessage();
  const EncodedSize counted = MeasureMessage(result);
  Check(FitsChannel(counted),
        "the program counts the Result within the channel");
  const size_t channelBytes = cefsim::EncodedMessageBytes(result);
  Check(channelBytes <= counted.bytes, "the program never counts less");
  Check(channelBytes <= cefsim::kMaxMessageBytesOnChannel,
        "the channel counts the Result within its limit");
  std::optional<cefsim::WireMessage> wire = cefsim::TakeForSending(result);
  Check(wire.has_value(), "the Result is sent");
  return 0;
}
