#include "convert/cef_to_v8.h"

#include <functional>
#include <string>

#include "convert/keyed_collection.h"
#include "convert/v8_to_cef.h"
#include "page_fixture.h"
#include "peer/values.h"

namespace {

// The peer library's builders, under the short names the tables use.
using cef_launcher_peer::Bool;
using cef_launcher_peer::Int;
using cef_launcher_peer::Null;
CefRefPtr<CefValue> Str(const std::string& text) {
  return cef_launcher_peer::String(text);
}
CefRefPtr<CefValue> Dbl(double number) {
  return cef_launcher_peer::Double(number);
}

CefRefPtr<CefListValue> ListValue(
    std::initializer_list<CefRefPtr<CefValue>> entries) {
  CefRefPtr<CefListValue> list = CefListValue::Create();
  size_t i = 0;
  for (const CefRefPtr<CefValue>& entry : entries) {
    list->SetValue(i++, entry->Copy());
  }
  return list;
}

CefRefPtr<CefValue> List(std::initializer_list<CefRefPtr<CefValue>> entries) {
  CefRefPtr<CefValue> v = CefValue::Create();
  v->SetList(ListValue(entries));
  return v;
}

// A keyed collection; `isObject` is written only when given.
CefRefPtr<CefValue> Keyed(
    std::initializer_list<CefRefPtr<CefValue>> keys,
    std::initializer_list<CefRefPtr<CefValue>> values,
    std::function<void(CefRefPtr<CefDictionaryValue>)> extra = nullptr) {
  CefRefPtr<CefDictionaryValue> dictionary = CefDictionaryValue::Create();
  dictionary->SetList(KeyedCollection::kKeys, ListValue(keys));
  dictionary->SetList(KeyedCollection::kValues, ListValue(values));
  if (extra) {
    extra(dictionary);
  }
  CefRefPtr<CefValue> v = CefValue::Create();
  v->SetDictionary(dictionary);
  return v;
}

void MarkObject(CefRefPtr<CefDictionaryValue> dictionary) {
  dictionary->SetBool(KeyedCollection::kIsObject, true);
}

class IncomingTest : public PageTest {
 protected:
  // What the page sees of `value`, converted in `context`; "<empty>" when
  // the conversion gave no value.
  std::string Deliver(const CefRefPtr<CefValue>& value,
                      bool withContext = true) {
    CefRefPtr<CefV8Context> context = Context();
    context->Enter();
    CefRefPtr<CefV8Value> converted =
        CefValueToV8Value(withContext ? context : nullptr, value);
    if (converted) {
      context->GetGlobal()->SetValue("received", converted,
                                     V8_PROPERTY_ATTRIBUTE_NONE);
    }
    context->Exit();
    EXPECT_FALSE(CefV8Context::InContext());
    return converted ? Describe("received") : "<empty>";
  }
};

struct IncomingCase {
  const char* name;
  std::function<CefRefPtr<CefValue>()> make;
  const char* page;
};

class IncomingTableTest : public IncomingTest,
                          public testing::WithParamInterface<IncomingCase> {};

TEST_P(IncomingTableTest, Converts) {
  EXPECT_EQ(Deliver(GetParam().make()), GetParam().page);
}

INSTANTIATE_TEST_SUITE_P(
    MessageToPage,
    IncomingTableTest,
    testing::Values(
        IncomingCase{"Null", Null, "null"},
        IncomingCase{"Bool",
                     [] {
                       auto v = CefValue::Create();
                       v->SetBool(false);
                       return v;
                     },
                     "false"},
        IncomingCase{"Int", [] { return Int(7); }, "number 7"},
        IncomingCase{"Double",
                     [] {
                       auto v = CefValue::Create();
                       v->SetDouble(2.5);
                       return v;
                     },
                     "number 2.5"},
        IncomingCase{"NegativeZero",
                     [] {
                       auto v = CefValue::Create();
                       v->SetDouble(-0.0);
                       return v;
                     },
                     "number -0"},
        IncomingCase{"EmptyString", [] { return Str(""); }, "\"\""},
        IncomingCase{"Binary",
                     [] {
                       const unsigned char bytes[] = {1, 2, 3};
                       auto v = CefValue::Create();
                       v->SetBinary(CefBinaryValue::Create(bytes, 3));
                       return v;
                     },
                     "ArrayBuffer[1,2,3]"},
        IncomingCase{"EmptyList", [] { return List({}); }, "[]"},
        IncomingCase{"MixedList",
                     [] {
                       return List({Int(1), Null(), Str("a")});
                     },
                     "[number 1, null, \"a\"]"},
        IncomingCase{"PlainObject",
                     [] {
                       return Keyed({Str("a"), Str("b")}, {Int(1), Str("x")},
                                    MarkObject);
                     },
                     "{a: number 1, b: \"x\"}"},
        IncomingCase{"WithoutIsObjectAMap",
                     [] {
                       return Keyed({Str("a"), Str("b")}, {Int(1), Str("x")});
                     },
                     "Map{\"a\" => number 1, \"b\" => \"x\"}"},
        IncomingCase{"IsObjectFalseAMap",
                     [] {
                       return Keyed({Str("a")}, {Int(1)}, [](auto d) {
                         d->SetBool(KeyedCollection::kIsObject, false);
                       });
                     },
                     "Map{\"a\" => number 1}"},
        IncomingCase{"IsObjectNotABoolAMap",
                     [] {
                       return Keyed({Str("a")}, {Int(1)}, [](auto d) {
                         d->SetInt(KeyedCollection::kIsObject, 1);
                       });
                     },
                     "Map{\"a\" => number 1}"},
        IncomingCase{"MapKeysKeepTheirTypes",
                     [] {
                       return Keyed({Int(1), Str("1")}, {Str("i"), Str("s")});
                     },
                     "Map{number 1 => \"i\", \"1\" => \"s\"}"},
        IncomingCase{
            "RepeatedObjectKeyKeepsTheLaterValue",
            [] {
              return Keyed({Str("a"), Str("a")}, {Int(1), Int(2)}, MarkObject);
            },
            "{a: number 2}"},
        IncomingCase{"ExtraValuesIgnored",
                     [] {
                       return Keyed({Str("a")}, {Int(1), Int(2)}, MarkObject);
                     },
                     "{a: number 1}"},
        IncomingCase{"MissingValuesSkipTheirEntries",
                     [] {
                       return Keyed({Str("a"), Str("b")}, {Int(1)});
                     },
                     "Map{\"a\" => number 1}"},
        IncomingCase{"MissingKeysList",
                     [] {
                       auto v = Keyed({Str("a")}, {Int(1)}, MarkObject);
                       v->GetDictionary()->Remove(KeyedCollection::kKeys);
                       return v;
                     },
                     "{}"},
        IncomingCase{"MissingValuesList",
                     [] {
                       auto v = Keyed({Str("a")}, {Int(1)});
                       v->GetDictionary()->Remove(KeyedCollection::kValues);
                       return v;
                     },
                     "Map{}"},
        IncomingCase{"KeysNotAList",
                     [] {
                       auto v = Keyed({}, {});
                       v->GetDictionary()->SetInt(KeyedCollection::kKeys, 3);
                       return v;
                     },
                     "Map{}"},
        IncomingCase{"OtherEntriesIgnored",
                     [] {
                       return Keyed({Str("a")}, {Int(1)}, [](auto d) {
                         MarkObject(d);
                         d->SetString("comment", "x");
                       });
                     },
                     "{a: number 1}"},
        // A table indexed by numbers: obj[1] names property "1".
        IncomingCase{"ObjectIntKeysNameTheirDecimalText",
                     [] {
                       return Keyed({Int(1), Int(2)},
                                    {Str("first"), Str("second")}, MarkObject);
                     },
                     "{1: \"first\", 2: \"second\"}"},
        IncomingCase{"ObjectKeysFollowJavaScriptPropertyNames",
                     [] {
                       constexpr double kMaxSafe = 9007199254740991.0;
                       return Keyed({Str("s"), Int(-7), Dbl(2.0), Dbl(-0.0),
                                     Dbl(kMaxSafe), Dbl(-kMaxSafe)},
                                    {Str("s"), Str("int"), Str("two"),
                                     Str("zero"), Str("max"), Str("min")},
                                    MarkObject);
                     },
                     // Object.keys lists index-like names first, ascending.
                     "{0: \"zero\", 2: \"two\", s: \"s\", -7: \"int\", "
                     "9007199254740991: \"max\", -9007199254740991: \"min\"}"},
        IncomingCase{"ObjectSkipsKeysThatNameNoProperty",
                     [] {
                       // (A message holds no NaN or infinity: CEF
                       // stores them as 0.)
                       return Keyed(
                           {Dbl(2.5), Dbl(-1e-300), Dbl(9007199254740992.0),
                            Null(), Bool(true), List({}), Keyed({}, {}),
                            Str("kept")},
                           {Int(1), Int(2), Int(3), Int(4), Int(5), Int(6),
                            Int(7), Int(8)},
                           MarkObject);
                     },
                     "{kept: number 8}"},
        IncomingCase{"ObjectNumberAndTextOfOneNameKeepTheLater",
                     [] {
                       return Keyed({Int(1), Str("1")}, {Str("i"), Str("s")},
                                    MarkObject);
                     },
                     "{1: \"s\"}"},
        IncomingCase{"NestedDepthFirst",
                     [] {
                       return List({Keyed(
                           {Str("k")},
                           {List({Int(1), Keyed({Int(2)}, {Null()})})})});
                     },
                     "[Map{\"k\" => [number 1, Map{number 2 => null}]}]"}),
    [](const testing::TestParamInfo<IncomingCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(IncomingTest, ArrayBufferDoesNotShareTheMessageBytes) {
  const unsigned char bytes[] = {1, 2, 3};
  CefRefPtr<CefValue> value = CefValue::Create();
  value->SetBinary(CefBinaryValue::Create(bytes, 3));
  EXPECT_EQ(Deliver(value), "ArrayBuffer[1,2,3]");
  Run("new Uint8Array(received)[0] = 9;");
  EXPECT_EQ(cefsim::ValueText(value), "BINARY 3 bytes 01 02 03");
}

TEST_F(IncomingTest, InsertionOrderOfObjectProperties) {
  Deliver(Keyed({Str("z"), Str("a")}, {Int(1), Int(2)}, MarkObject));
  EXPECT_EQ(Describe("Object.keys(received)"), "[\"z\", \"a\"]");
}

TEST_F(IncomingTest, WithoutContextOnlyMapFormsAreLost) {
  EXPECT_EQ(Deliver(Keyed({Str("a")}, {Int(1)}), false), "<empty>");
  EXPECT_EQ(Deliver(List({Int(1), Keyed({}, {}), Int(3)}), false),
            "[number 1, <hole>, number 3]");
  EXPECT_EQ(Deliver(Keyed({Str("a")}, {Int(1)}, MarkObject), false),
            "{a: number 1}");
  EXPECT_EQ(Deliver(Keyed({Str("a")}, {Keyed({}, {})}, MarkObject), false),
            "{}");
}

TEST_F(IncomingTest, ListConversionKeepsEmptyEntriesInPlace) {
  CefRefPtr<CefListValue> list = ListValue({Int(1), Keyed({}, {}), Str("x")});
  CefRefPtr<CefV8Context> context = Context();
  context->Enter();
  CefV8ValueList withoutContext = CefListToV8ValueList(nullptr, list);
  CefV8ValueList withContext = CefListToV8ValueList(context, list);
  context->Exit();
  ASSERT_EQ(withoutContext.size(), 3u);
  EXPECT_TRUE(withoutContext[0]);
  EXPECT_FALSE(withoutContext[1]);
  EXPECT_TRUE(withoutContext[2]);
  ASSERT_EQ(withContext.size(), 3u);
  EXPECT_TRUE(withContext[1] && withContext[1]->IsObject());
}

// Maps come from the page's own Map, created under a fixed script URL.
TEST_F(IncomingTest, MapsAreMadeByThePagesMapConstructor) {
  Run(R"JS(
    const RealMap = Map;
    globalThis.madeAt = [];
    globalThis.Map = function(...args) {
      madeAt.push(new Error().stack.includes('CEF_MODULE'));
      return new RealMap(...args);
    };
  )JS");
  Deliver(Keyed({Str("a")}, {Int(1)}));
  EXPECT_EQ(Describe("madeAt"), "[true]");
  EXPECT_EQ(Describe("received.get('a')"), "number 1");
}

TEST_F(IncomingTest, MapsAreFilledThroughTheirSetFunction) {
  Run(R"JS(
    globalThis.setCalls = [];
    const realSet = Map.prototype.set;
    Map.prototype.set = function(k, v) {
      setCalls.push([k, v]);
      return realSet.call(this, k, v);
    };
  )JS");
  Deliver(Keyed({Int(1), Str("b")}, {Str("x"), Null()}));
  EXPECT_EQ(Describe("setCalls"), "[[number 1, \"x\"], [\"b\", null]]");
}

// What the bound cuts arrives as null, never as a hole: elements, Map
// values and object properties alike.
TEST_F(IncomingTest, ValuesPastTheBoundArriveAsNull) {
  struct Case {
    const char* name;
    std::function<CefRefPtr<CefValue>(CefRefPtr<CefValue>)> wrap;
    const char* inner;  // the page expression one level further in
    int containers;     // how many arrive before the cut
  };
  const Case cases[] = {
      {"array elements", [](CefRefPtr<CefValue> v) { return List({v}); },
       "a[0]", kMaxValueNesting},
      {"Map values",
       [](CefRefPtr<CefValue> v) { return Keyed({Str("k")}, {v}); },
       "a.get('k')", kMaxValueNesting / 2},
      {"object properties",
       [](CefRefPtr<CefValue> v) { return Keyed({Str("k")}, {v}, MarkObject); },
       "a.k", kMaxValueNesting / 2},
  };
  for (const Case& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    CefRefPtr<CefValue> value = Int(1);
    for (int level = 0; level < 200; ++level) {
      value = testCase.wrap(value);
    }
    Deliver(value);
    // Walks in while the next value is a container; ends on the cut.
    EXPECT_EQ(Describe(std::string(R"JS((() => {
      let depth = 1, a = received;
      for (;;) {
        const next = )JS") +
                       testCase.inner + R"JS(;
        if (next === null || typeof next !== 'object') return [depth, next];
        depth++;
        a = next;
      }
    })())JS"),
              "[number " + std::to_string(testCase.containers) + ", null]");
  }
}

// Outgoing conversions never write "isObject", so a page object sent to the
// browser and echoed back unchanged returns as a Map.
TEST_F(IncomingTest, PlainObjectRoundTripComesBackAsMap) {
  CefRefPtr<CefV8Value> page =
      Run("({a: 1, list: [true, 'x'], m: new Map([[2, 3]])})");
  CefRefPtr<CefV8Context> context = Context();
  context->Enter();
  CefRefPtr<CefValue> message = V8ValueToCefValue(context, page);
  context->Exit();
  EXPECT_EQ(Deliver(message),
            "Map{\"a\" => number 1, \"list\" => [true, \"x\"], \"m\" => "
            "Map{number 2 => number 3}}");
}

}  // namespace
