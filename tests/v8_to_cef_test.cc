#include "convert/v8_to_cef.h"

#include <algorithm>
#include <functional>
#include <string>

#include "convert/keyed_collection.h"
#include "page_fixture.h"

namespace {

// Lists and dictionaries nested in `value`, counting itself.
int Nesting(const CefRefPtr<CefValue>& value) {
  int deepest = 0;
  if (value->GetType() == VTYPE_LIST) {
    CefRefPtr<CefListValue> list = value->GetList();
    for (size_t i = 0; i < list->GetSize(); ++i) {
      deepest = std::max(deepest, Nesting(list->GetValue(i)));
    }
    return deepest + 1;
  }
  if (value->GetType() == VTYPE_DICTIONARY) {
    CefRefPtr<CefDictionaryValue> dictionary = value->GetDictionary();
    CefDictionaryValue::KeyList keys;
    dictionary->GetKeys(keys);
    for (const CefString& key : keys) {
      deepest = std::max(deepest, Nesting(dictionary->GetValue(key)));
    }
    return deepest + 1;
  }
  return 0;
}

class OutgoingTest : public PageTest {
 protected:
  CefRefPtr<CefValue> Convert(const std::string& script) {
    CefRefPtr<CefV8Value> value = Run(script);
    if (!value) {
      return nullptr;
    }
    CefRefPtr<CefV8Context> context = Context();
    context->Enter();
    CefRefPtr<CefValue> result = V8ValueToCefValue(context, value);
    context->Exit();
    // The conversion itself never leaves a context entered.
    EXPECT_FALSE(CefV8Context::InContext());
    EXPECT_TRUE(result);
    return result;
  }

  std::string ConvertText(const std::string& script) {
    CefRefPtr<CefValue> result = Convert(script);
    return result ? cefsim::ValueText(result) : "nullptr";
  }
};

struct OutgoingCase {
  const char* name;
  const char* script;
  const char* message;
};

class OutgoingTableTest : public OutgoingTest,
                          public testing::WithParamInterface<OutgoingCase> {};

TEST_P(OutgoingTableTest, Converts) {
  EXPECT_EQ(ConvertText(GetParam().script), GetParam().message)
      << GetParam().script;
}

INSTANTIATE_TEST_SUITE_P(
    PageToMessage,
    OutgoingTableTest,
    testing::Values(
        OutgoingCase{"Null", "null", "NULL"},
        OutgoingCase{"Undefined", "undefined", "NULL"},
        OutgoingCase{"True", "true", "BOOL true"},
        OutgoingCase{"False", "false", "BOOL false"},
        OutgoingCase{"Int", "42", "INT 42"},
        OutgoingCase{"NegativeInt", "-1", "INT -1"},
        OutgoingCase{"WholeDoubleLiteralIsInt", "5.0", "INT 5"},
        OutgoingCase{"IntMax", "2147483647", "INT 2147483647"},
        OutgoingCase{"IntMin", "-2147483648", "INT -2147483648"},
        OutgoingCase{"JustAboveIntMax", "2147483648", "DOUBLE 2147483648"},
        OutgoingCase{"UintMax", "4294967295", "DOUBLE 4294967295"},
        OutgoingCase{"JustBelowIntMin", "-2147483649", "DOUBLE -2147483649"},
        OutgoingCase{"Fraction", "2.5", "DOUBLE 2.5"},
        OutgoingCase{"NegativeZero", "-0", "DOUBLE -0"},
        OutgoingCase{"NaN", "NaN", "NULL"},
        OutgoingCase{"Infinity", "Infinity", "NULL"},
        OutgoingCase{"MinusInfinity", "-Infinity", "NULL"},
        OutgoingCase{"String", "'abc'", "STRING \"abc\""},
        OutgoingCase{"EmptyString", "''", "STRING \"\""},
        OutgoingCase{"ArrayBuffer",
                     "new Uint8Array([1, 2, 3, 4, 5, 6, 7, 8]).buffer",
                     "BINARY 8 bytes 01 02 03 04 05 06 07 08"},
        OutgoingCase{"EmptyArrayBuffer", "new ArrayBuffer(0)", "NULL"},
        OutgoingCase{"MixedArray", "[1, 'a', null, undefined]",
                     "LIST [INT 1, STRING \"a\", NULL, NULL]"},
        OutgoingCase{"HoleAtIndexZero", "[, 2]", "LIST [NULL, INT 2]"},
        OutgoingCase{"EmptyArray", "[]", "LIST []"},
        OutgoingCase{"PlainObject", "({a: 1, b: {c: true}})",
                     "DICTIONARY {\"keys\": LIST [STRING \"a\", STRING \"b\"], "
                     "\"values\": LIST [INT 1, DICTIONARY {\"keys\": LIST "
                     "[STRING \"c\"], \"values\": LIST [BOOL true]}]}"},
        OutgoingCase{"ObjectKeysOrder", "({b: 1, a: 2, 1: 3})",
                     "DICTIONARY {\"keys\": LIST [STRING \"1\", STRING \"b\", "
                     "STRING \"a\"], \"values\": LIST [INT 3, INT 1, INT 2]}"},
        OutgoingCase{"Map", "new Map([[1, 'x'], ['k', [2]]])",
                     "DICTIONARY {\"keys\": LIST [INT 1, STRING \"k\"], "
                     "\"values\": LIST [STRING \"x\", LIST [INT 2]]}"},
        OutgoingCase{"MapWithObjectAndBoolKeys",
                     "new Map([[{}, 1], [true, 2], [null, 3]])",
                     "DICTIONARY {\"keys\": LIST [DICTIONARY {\"keys\": LIST "
                     "[], \"values\": LIST []}, BOOL true, NULL], \"values\": "
                     "LIST [INT 1, INT 2, INT 3]}"},
        OutgoingCase{"EmptyObject", "({})",
                     "DICTIONARY {\"keys\": LIST [], \"values\": LIST []}"},
        OutgoingCase{"EmptyMap", "new Map()",
                     "DICTIONARY {\"keys\": LIST [], \"values\": LIST []}"},
        OutgoingCase{"NoPrototype", "Object.create(null)", "NULL"},
        OutgoingCase{"OwnConstructorIsString", "({constructor: 'Map'})",
                     "NULL"},
        OutgoingCase{"Set", "new Set([1])", "NULL"},
        OutgoingCase{"Date", "new Date(0)", "NULL"},
        OutgoingCase{"Function", "(function f() {})", "NULL"},
        OutgoingCase{"Promise", "Promise.resolve(1)", "NULL"},
        OutgoingCase{"TypedArray", "new Uint8Array(2)", "NULL"},
        OutgoingCase{"ClassInstance",
                     "new (class Point { constructor() { this.x = 1; } })()",
                     "NULL"},
        OutgoingCase{"SubclassOfMap",
                     "new (class Registry extends Map {})([[1, 2]])", "NULL"},
        OutgoingCase{"Symbol", "Symbol('s')", "NULL"},
        OutgoingCase{"BigInt", "10n", "NULL"},
        OutgoingCase{"BoxedString", "new String('x')", "NULL"},
        OutgoingCase{
            "SymbolAndHiddenPropertiesAbsent",
            "(() => { const o = {a: 1}; o[Symbol('s')] = 2; "
            "Object.defineProperty(o, 'h', {value: 3, enumerable: false}); "
            "return o; })()",
            "DICTIONARY {\"keys\": LIST [STRING \"a\"], \"values\": LIST "
            "[INT 1]}"},
        OutgoingCase{
            "NaNInsideNestedObject", "({a: {b: [NaN, 1]}})",
            "DICTIONARY {\"keys\": LIST [STRING \"a\"], \"values\": LIST "
            "[DICTIONARY {\"keys\": LIST [STRING \"b\"], \"values\": LIST "
            "[LIST [NULL, INT 1]]}]}"},
        OutgoingCase{"GetterThatThrowsInTheMiddleOfAnObject",
                     "({a: 1, get b() { throw new Error('no'); }, c: 3})",
                     "NULL"},
        OutgoingCase{
            "GetterThatThrowsInAnArray",
            "(() => { const a = [1, 2, 3]; Object.defineProperty(a, 1, "
            "{get() { throw new Error('no'); }}); return a; })()",
            "LIST [INT 1, NULL, INT 3]"},
        OutgoingCase{
            "ProxyWithThrowingTraps",
            "new Proxy({}, {get() { throw 1; }, ownKeys() { throw 2; }, "
            "has() { throw 3; }, getOwnPropertyDescriptor() { throw 4; }})",
            "NULL"},
        OutgoingCase{"ProxyOfArrayIsNotAnArray", "new Proxy([1], {})", "NULL"},
        OutgoingCase{"HugeSparseArray",
                     "(() => { const a = []; a.length = 2e9; return a; })()",
                     "NULL"},
        OutgoingCase{
            "LengthTwoToThe31",
            "(() => { const a = []; a.length = 2 ** 31; return a; })()",
            "NULL"},
        OutgoingCase{
            "LongestPossibleArray",
            "(() => { const a = []; a.length = 2 ** 32 - 1; return a; })()",
            "NULL"},
        OutgoingCase{
            "JustOverTheArrayBound",
            "(() => { const a = []; a.length = 4194305; return a; })()",
            "NULL"},
        OutgoingCase{"PatchedObjectKeys",
                     "(() => { Object.keys = () => 'nope'; return {a: 1}; })()",
                     "NULL"},
        OutgoingCase{
            "ThrowingObjectValues",
            "(() => { Object.values = () => { throw 1; }; return {a: 1}; })()",
            "NULL"},
        OutgoingCase{"PatchedArrayFrom",
                     "(() => { Array.from = () => { throw 1; }; return new "
                     "Map([[1, 2]]); })()",
                     "NULL"},
        OutgoingCase{"KeysAndValuesOfDifferentLengths",
                     "(() => { Object.values = () => [1]; return {a: 1, b: 2}; "
                     "})()",
                     "NULL"}),
    [](const testing::TestParamInfo<OutgoingCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(OutgoingTest, ArrayBufferIsCopied) {
  Run("globalThis.buffer = new Uint8Array([1, 2, 3]).buffer;");
  CefRefPtr<CefValue> message = Convert("buffer");
  Run("new Uint8Array(buffer)[0] = 9;");
  EXPECT_EQ(cefsim::ValueText(message), "BINARY 3 bytes 01 02 03");
}

// A container met again inside itself is NULL where it recurs; the same
// container beside itself (shared, no cycle) is sent in full each time.
TEST_F(OutgoingTest, CyclesAreCutWhereTheyRecur) {
  const OutgoingCase cases[] = {
      {"array in itself", "(() => { const a = [1]; a.push(a); return a; })()",
       "LIST [INT 1, NULL]"},
      {"object in itself",
       "(() => { const o = {n: 1}; o.self = o; return o; })()",
       "DICTIONARY {\"keys\": LIST [STRING \"n\", STRING \"self\"], "
       "\"values\": LIST [INT 1, NULL]}"},
      {"Map as its own key and value",
       "(() => { const m = new Map(); m.set(m, m); return m; })()",
       "DICTIONARY {\"keys\": LIST [NULL], \"values\": LIST [NULL]}"},
      {"through an object",
       "(() => { const a = [1]; a.push({a}); return a; })()",
       "LIST [INT 1, DICTIONARY {\"keys\": LIST [STRING \"a\"], "
       "\"values\": LIST [NULL]}]"},
      {"a getter that builds a level per read",
       "({get next() { return {next: this}; }})",
       "DICTIONARY {\"keys\": LIST [STRING \"next\"], \"values\": LIST "
       "[DICTIONARY {\"keys\": LIST [STRING \"next\"], \"values\": LIST "
       "[NULL]}]}"},
      {"shared, not cyclic", "(() => { const s = [1]; return [s, [s], s]; })()",
       "LIST [LIST [INT 1], LIST [LIST [INT 1]], LIST [INT 1]]"},
      {"a parent link",
       "(() => { const p = {c: []}; p.c.push({p}, {p}); return p; })()",
       "DICTIONARY {\"keys\": LIST [STRING \"c\"], \"values\": LIST [LIST "
       "[DICTIONARY {\"keys\": LIST [STRING \"p\"], \"values\": LIST "
       "[NULL]}, DICTIONARY {\"keys\": LIST [STRING \"p\"], \"values\": "
       "LIST [NULL]}]]}"},
  };
  for (const OutgoingCase& cycle : cases) {
    EXPECT_EQ(ConvertText(cycle.script), cycle.message) << cycle.name;
  }
}

// A scene graph whose every node links to its parent and its children: cut
// at each link back, it converts to the tree it is (unrolled, it would run
// to the size budget).
TEST_F(OutgoingTest, ParentLinkedTreeConvertsToItsTree) {
  CefRefPtr<CefValue> message = Convert(R"JS((() => {
    const node = (parent, depth) => {
      const n = {parent, children: []};
      if (depth > 0) {
        for (let i = 0; i < 4; i++) n.children.push(node(n, depth - 1));
      }
      return n;
    };
    return node(null, 5);
  })())JS");
  int nodes = 0;
  std::function<void(const CefRefPtr<CefValue>&)> count =
      [&](const CefRefPtr<CefValue>& value) {
        if (value->GetType() == VTYPE_DICTIONARY) {
          ++nodes;
          count(value->GetDictionary()->GetValue(KeyedCollection::kValues));
        } else if (value->GetType() == VTYPE_LIST) {
          for (size_t i = 0; i < value->GetList()->GetSize(); ++i) {
            count(value->GetList()->GetValue(i));
          }
        }
      };
  count(message);
  EXPECT_EQ(nodes, 1 + 4 + 16 + 64 + 256 + 1024);
}

TEST_F(OutgoingTest, DeepArrayIsCutAtTheBound) {
  CefRefPtr<CefValue> message = Convert(
      "(() => { let a = [7]; for (let i = 1; i < 100000; i++) a = [a]; "
      "return a; })()");
  EXPECT_EQ(Nesting(message), kMaxValueNesting);
  // The innermost list that fits holds NULL where the next array was.
  CefRefPtr<CefValue> inner = message;
  for (int level = 1; level < kMaxValueNesting; ++level) {
    inner = inner->GetList()->GetValue(0);
  }
  EXPECT_EQ(cefsim::ValueText(inner), "LIST [NULL]");
}

// An array nested exactly to the bound arrives whole; one level more is cut.
TEST_F(OutgoingTest, NestingBoundIsExact) {
  auto nested = [](int levels) {
    return "(() => { let a = 1; for (let i = 0; i < " + std::to_string(levels) +
           "; i++) a = [a]; return a; })()";
  };
  CefRefPtr<CefValue> atBound = Convert(nested(kMaxValueNesting));
  EXPECT_EQ(Nesting(atBound), kMaxValueNesting);
  CefRefPtr<CefValue> innermost = atBound;
  for (int level = 1; level < kMaxValueNesting; ++level) {
    innermost = innermost->GetList()->GetValue(0);
  }
  EXPECT_EQ(cefsim::ValueText(innermost), "LIST [INT 1]");
  EXPECT_EQ(Nesting(Convert(nested(kMaxValueNesting + 1))), kMaxValueNesting);
}

// A Map needs two levels; with one left it becomes NULL whole rather than
// a dictionary without its lists.
TEST_F(OutgoingTest, MapThatDoesNotFitBecomesNull) {
  const std::string around = std::to_string(kMaxValueNesting - 1);
  CefRefPtr<CefValue> message =
      Convert("(() => { let a = new Map([[1, 2]]); for (let i = 0; i < " +
              around + "; i++) a = [a]; return a; })()");
  CefRefPtr<CefValue> inner = message;
  for (int level = 1; level < kMaxValueNesting - 1; ++level) {
    inner = inner->GetList()->GetValue(0);
  }
  EXPECT_EQ(cefsim::ValueText(inner), "LIST [NULL]");
}

// Shared sub-arrays multiply at every level (4^10 references to one 1 MiB
// string); the size budget ends the walk with the rest NULL.
TEST_F(OutgoingTest, SharedSubstructuresStopAtTheSizeBudget) {
  CefRefPtr<CefValue> message = Convert(
      "(() => { let a = ['x'.repeat(1 << 20)]; "
      "for (let i = 0; i < 10; i++) a = [a, a, a, a]; return a; })()");
  int strings = 0;
  std::function<void(const CefRefPtr<CefValue>&)> count =
      [&](const CefRefPtr<CefValue>& value) {
        if (value->GetType() == VTYPE_STRING) {
          ++strings;
        } else if (value->GetType() == VTYPE_LIST) {
          for (size_t i = 0; i < value->GetList()->GetSize(); ++i) {
            count(value->GetList()->GetValue(i));
          }
        }
      };
  count(message);
  EXPECT_GT(strings, 0);
  EXPECT_LE(static_cast<size_t>(strings) << 20, kMaxConvertedBytes);
}

// The budget counts what the channel encodes: a value exactly at it
// arrives whole, one byte more is NULL. A value takes its 16-byte slot,
// a string or binary 8 + its bytes padded to 8, a list 24 + 16 an element.
TEST_F(OutgoingTest, ValuesAtTheBudgetArriveWhole) {
  const size_t payload = kMaxConvertedBytes - 16 - 8;
  const struct {
    const char* name;
    std::string script;
    CefValueType type;
  } cases[] = {
      {"binary at the budget",
       "new ArrayBuffer(" + std::to_string(payload) + ")", VTYPE_BINARY},
      {"binary a byte past it",
       "new ArrayBuffer(" + std::to_string(payload + 1) + ")", VTYPE_NULL},
      {"three bytes a character, at the budget",
       "'\\u20ac'.repeat(" + std::to_string(payload / 3) + ")", VTYPE_STRING},
      {"three bytes a character, a character past it",
       "'\\u20ac'.repeat(" + std::to_string(payload / 3 + 1) + ")", VTYPE_NULL},
  };
  static_assert((kMaxConvertedBytes - 16 - 8) % 24 == 0,
                "both strings hit the budget exactly");
  for (const auto& budgetCase : cases) {
    EXPECT_EQ(Convert(budgetCase.script)->GetType(), budgetCase.type)
        << budgetCase.name;
  }

  // Empty arrays, 40 bytes each with their slots, after a string that
  // leaves room for 1,000 of them: [string, [[], [], ...]] takes 16 + 24 +
  // 2 * 16, the string 8 + its bytes, the inner array 24 + 16 an element.
  const size_t filler =
      kMaxConvertedBytes - 16 - 24 - 2 * 16 - 8 - 24 - 1000 * 40;
  // The type of element `index` of the inner array of `count`.
  const auto arrayElement = [&](size_t count, int index) {
    CefRefPtr<CefValue> value = Convert(
        "['x'.repeat(" + std::to_string(filler) +
        "), Array.from({length: " + std::to_string(count) + "}, () => [])]");
    return value->GetList()->GetList(1)->GetType(index);
  };
  EXPECT_EQ(arrayElement(1000, 999), VTYPE_LIST);
  EXPECT_EQ(arrayElement(1001, 1000), VTYPE_NULL);
}

TEST_F(OutgoingTest, EmptyContextMakesCollectionsNull) {
  CefRefPtr<CefV8Value> value = Run("[{a: 1}, new Map(), 3]");
  CefRefPtr<CefV8Context> context = Context();
  context->Enter();
  CefRefPtr<CefValue> message = V8ValueToCefValue(nullptr, value);
  context->Exit();
  EXPECT_EQ(cefsim::ValueText(message), "LIST [NULL, NULL, INT 3]");
}

}  // namespace

namespace {

// The page sees the conversion's calls: keys are always collected before
// values, whatever order the compiler evaluates call arguments in.
TEST_F(OutgoingTest, KeysAreCollectedBeforeValues) {
  Run(R"JS(
    window.calls = [];
    const keys = Object.keys, values = Object.values, from = Array.from;
    Object.keys = (o) => { calls.push('Object.keys'); return keys(o); };
    Object.values = (o) => { calls.push('Object.values'); return values(o); };
    Array.from = (it) => { calls.push('from ' + it.tag); return from(it); };
  )JS");
  Convert("({a: 1})");
  Convert(R"JS((() => {
    const map = new Map([[1, 2]]);
    map.keys = function () {
      const it = Map.prototype.keys.call(this); it.tag = 'keys'; return it;
    };
    map.values = function () {
      const it = Map.prototype.values.call(this); it.tag = 'values'; return it;
    };
    return map;
  })())JS");
  CefRefPtr<CefV8Value> calls = Run("calls.join(', ')");
  ASSERT_TRUE(calls);
  EXPECT_EQ(calls->GetStringValue().ToString(),
            "Object.keys, Object.values, from keys, from values");
}

}  // namespace
