#include "conformance/scenario_cases.h"

#include "bridge/bridge_message.h"
#include "peer/values.h"

namespace conformance {

using cef_launcher_peer::Binary;
using cef_launcher_peer::Bool;
using cef_launcher_peer::Double;
using cef_launcher_peer::Int;
using cef_launcher_peer::List;
using cef_launcher_peer::MakeList;
using cef_launcher_peer::Null;
using cef_launcher_peer::String;

CefRefPtr<CefValue> KeyedValue(const std::vector<CefRefPtr<CefValue>>& keys,
                               const std::vector<CefRefPtr<CefValue>>& values,
                               bool isObject) {
  CefRefPtr<CefDictionaryValue> dictionary = CefDictionaryValue::Create();
  if (!keys.empty() || !values.empty()) {
    dictionary->SetList("keys", MakeList(keys));
    dictionary->SetList("values", MakeList(values));
  }
  if (isObject) {
    dictionary->SetBool("isObject", true);
  }
  CefRefPtr<CefValue> value = CefValue::Create();
  value->SetDictionary(dictionary);
  return value;
}

std::string NestedListText(int levels, const std::string& innermost) {
  std::string text;
  for (int i = 0; i < levels; ++i) {
    text += "LIST [";
  }
  text += innermost;
  for (int i = 0; i < levels; ++i) {
    text += "]";
  }
  return text;
}

namespace {

std::string Nested(int levels) {
  return "(() => { let a = 1; for (let i = 0; i < " + std::to_string(levels) +
         "; i++) a = [a]; return a; })()";
}

// Keyed collections as the renderer writes them (CEF sorts dictionary keys).
std::string Keyed(const std::string& keys, const std::string& values) {
  return "DICTIONARY {\"keys\": LIST [" + keys + "], \"values\": LIST [" +
         values + "]}";
}

}  // namespace

const std::vector<ValueCase>& PageValueCases() {
  static const std::vector<ValueCase> cases = {
      {"null", "null", "NULL"},
      {"undefined", "undefined", "NULL"},
      {"true", "true", "BOOL true"},
      {"false", "false", "BOOL false"},
      {"int32 max", "2147483647", "INT 2147483647"},
      {"int32 min", "-2147483648", "INT -2147483648"},
      {"just past int32 max", "2147483648", "DOUBLE 2147483648"},
      {"just below int32 min", "-2147483649", "DOUBLE -2147483649"},
      {"whole double", "5.0", "INT 5"},
      {"fraction", "0.1", "DOUBLE 0.1"},
      {"minus zero", "-0", "DOUBLE -0"},
      {"large double", "1e300", "DOUBLE 1e+300"},
      {"NaN", "NaN", "NULL"},
      {"Infinity", "Infinity", "NULL"},
      {"-Infinity", "-Infinity", "NULL"},
      {"empty string", "\"\"", "STRING \"\""},
      {"non-ASCII string",
       "\"gr\xC3\xBC\xC3\x9F"
       "e \xE2\x9C\x93 \xF0\x9F\x98\x80\"",
       "STRING \"gr\xC3\xBC\xC3\x9F"
       "e \xE2\x9C\x93 \xF0\x9F\x98\x80\""},
      {"lone surrogates", "\"a\\ud800b\\udfff\"",
       "STRING \"a\xEF\xBF\xBD"
       "b\xEF\xBF\xBD\""},
      {"quotes and control characters", "\"q\\\"\\\\\\n\\t\\u0001\"",
       "STRING \"q\\\"\\\\\\n\\t\\u0001\""},
      {"ArrayBuffer", "new Uint8Array([1, 2, 255]).buffer",
       "BINARY 3 bytes 01 02 ff"},
      {"empty ArrayBuffer", "new ArrayBuffer(0)", "NULL"},
      {"typed array", "new Uint8Array([1, 2])", "NULL"},
      {"array with holes", "[1, , \"x\", , ]",
       "LIST [INT 1, NULL, STRING \"x\", NULL]"},
      {"empty array", "[]", "LIST []"},
      {"NaN inside an array", "[NaN, 1]", "LIST [NULL, INT 1]"},
      {"Map with keys of several types",
       "new Map([[1, \"one\"], [\"1\", true], [2.5, null]])",
       Keyed("INT 1, STRING \"1\", DOUBLE 2.5",
             "STRING \"one\", BOOL true, NULL")},
      {"plain object", "({b: 1, a: [true]})",
       Keyed("STRING \"b\", STRING \"a\"", "INT 1, LIST [BOOL true]")},
      {"nested Maps and plain objects",
       "new Map([[\"outer\", {inner: new Map([[7, []]])}]])",
       Keyed("STRING \"outer\"",
             Keyed("STRING \"inner\"", Keyed("INT 7", "LIST []")))},
      {"array containing itself",
       "(() => { const a = [1]; a.push(a); return a; })()",
       "LIST [INT 1, NULL]"},
      {"object containing itself",
       "(() => { const o = {name: \"n\"}; o.self = o; return o; })()",
       Keyed("STRING \"name\", STRING \"self\"", "STRING \"n\", NULL")},
      {"shared array, no cycle", "(() => { const s = [1]; return [s, s]; })()",
       "LIST [LIST [INT 1], LIST [INT 1]]"},
      {"function", "() => 1", "NULL"},
      {"Date", "new Date(0)", "NULL"},
      {"Set", "new Set([1])", "NULL"},
      {"class instance",
       "new (class Point { constructor() { this.x = 1; } })()", "NULL"},
      {"Map subclass", "new (class Sub extends Map {})([[1, 2]])", "NULL"},
      {"Object.create(null)", "Object.create(null)", "NULL"},
      {"symbol", "Symbol(\"s\")", "NULL"},
      {"BigInt", "10n", "NULL"},
      {"boxed number", "new Number(5)", "NULL"},
      {"promise", "Promise.resolve(1)", "NULL"},
      {"getter that throws", "({a: 1, get b() { throw new Error(\"no\"); }})",
       "NULL"},
      {"nested to the bound", Nested(96), NestedListText(96, "INT 1")},
      {"nested one level past the bound", Nested(97),
       NestedListText(96, "NULL")},
  };
  return cases;
}

const std::vector<ThrowCase>& ThrowCases() {
  static const std::vector<ThrowCase> cases = {
      {"call without arguments", "squirrel.call()",
       "First argument of call must be of string type"},
      {"call with a number for the name", "squirrel.call(5, 1)",
       "First argument of call must be of string type"},
      {"eval without arguments", "squirrel.eval()",
       "First argument if eval() must be of string type"},
      {"eval with a number", "squirrel.eval(1)",
       "First argument if eval() must be of string type"},
      {"eval with two strings", "squirrel.eval(\"a\", \"b\")",
       "First argument if eval() must be of string type"},
  };
  return cases;
}

const std::vector<ReplyCase>& ReplyCases() {
  static const std::vector<ReplyCase> cases = {
      {"NULL", [] { return Null(); }, "", "null"},
      {"BOOL", [] { return Bool(true); }, "", "boolean true"},
      {"INT", [] { return Int(-7); }, "", "number -7"},
      {"INT max", [] { return Int(2147483647); }, "", "number 2147483647"},
      {"DOUBLE", [] { return Double(2.5); }, "", "number 2.5"},
      {"whole DOUBLE", [] { return Double(5.0); }, "", "number 5"},
      {"DOUBLE -0", [] { return Double(-0.0); }, "", "number -0"},
      {"non-ASCII STRING",
       [] {
         return String(
             "gr\xC3\xBC\xC3\x9F"
             "e \xE2\x9C\x93 \xF0\x9F\x98\x80");
       },
       "",
       "string \"gr\xC3\xBC\xC3\x9F"
       "e \xE2\x9C\x93 \xF0\x9F\x98\x80\""},
      {"empty STRING", [] { return String(""); }, "", "string \"\""},
      {"BINARY",
       [] {
         return Binary({0, 1, 255});
       },
       "", "ArrayBuffer [0,1,255]"},
      {"LIST",
       [] {
         return List({Int(1), Null(), List({String("x")})});
       },
       "", "Array [number 1, null, Array [string \"x\"]]"},
      {"keyed collection",
       [] {
         return KeyedValue({Int(1), String("1")}, {String("a"), Bool(false)},
                           false);
       },
       "", "Map {number 1 => string \"a\", string \"1\" => boolean false}"},
      {"keyed collection marked isObject",
       [] {
         return KeyedValue({String("b"), String("a")}, {Int(2), Int(1)}, true);
       },
       "", "Object {\"b\": number 2, \"a\": number 1}"},
      {"isObject that is not BOOL true",
       [] {
         CefRefPtr<CefValue> value = KeyedValue({String("k")}, {Int(1)}, false);
         value->GetDictionary()->SetInt("isObject", 1);
         return value;
       },
       "", "Map {string \"k\" => number 1}"},
      {"keyed collections nested in a list",
       [] {
         return List({KeyedValue(
             {String("x")}, {KeyedValue({Int(1)}, {Int(2)}, false)}, true)});
       },
       "", "Array [Object {\"x\": Map {number 1 => number 2}}]"},
      {"keyed collection without its lists",
       [] { return KeyedValue({}, {}, false); }, "", "Map {}"},
      {"more keys than values",
       [] {
         return KeyedValue({String("a"), String("b")}, {Int(1)}, false);
       },
       "", "Map {string \"a\" => number 1}"},
      {"plain object with a repeated key",
       [] {
         return KeyedValue({String("a"), String("a")}, {Int(1), Int(2)}, true);
       },
       "", "Object {\"a\": number 2}"},
      {"Error", nullptr, "boom \xE2\x9C\x93",
       "rejected Error \"boom \xE2\x9C\x93\""},
      {"Error with an empty text", nullptr, "",
       "rejected Error \"Unknown error\""},
  };
  return cases;
}

std::string GameCallsPageScript() {
  return R"js(
window.api = {
  name: "api object",
  whoAmI() { return this.name; },
  value: 42,
  text: "gr\u00fc\u00dfe",
  nothing: null,
  nested: { deeper: { answer() { return "deep"; } } },
  sum(a, b) { return a + b; },
  echo(...args) { return args; },
  thrower() { throw new Error("a text the game must not see"); },
  later() { return Promise.resolve(1); },
  "{odd}": "braces",
  ping() { return 1; },
  takeBig(text) { return text.length; },
  sendBig() { squirrel.call("big.arrived", "x".repeat(1048576)); return true; },
};
window.topLevel = function () { return this === window; };
conformance.ready("calls");
)js";
}

const std::vector<PathCase>& PathCases() {
  static const std::vector<PathCase> cases = {
      {"function called with its object as this", "api.whoAmI", nullptr,
       "Result STRING \"api object\""},
      {"top-level function called with the global object as this", "topLevel",
       nullptr, "Result BOOL true"},
      {"arguments arrive converted", "api.sum",
       [] {
         return MakeList({Int(2), Double(0.5)});
       },
       "Result DOUBLE 2.5"},
      {"arguments and result round trip", "api.echo",
       [] {
         return MakeList({String("a"), List({Null()}), Binary({7})});
       },
       "Result LIST [STRING \"a\", LIST [NULL], BINARY 1 bytes 07]"},
      {"plain value", "api.value", nullptr, "Result INT 42"},
      {"plain value, arguments ignored", "api.text",
       [] { return MakeList({Int(1)}); },
       "Result STRING \"gr\xC3\xBC\xC3\x9F"
       "e\""},
      {"deep path", "api.nested.deeper.answer", nullptr,
       "Result STRING \"deep\""},
      {"missing last segment", "api.missing", nullptr, "Result NULL"},
      {"missing middle segment", "api.missing.deeper", nullptr,
       "Error \"Object 'deeper' is not valid in path 'api.missing.deeper'.\""},
      {"null middle segment", "api.nothing.x", nullptr,
       "Error \"Object 'x' is not valid in path 'api.nothing.x'.\""},
      {"segment of a number", "api.value.toFixed", nullptr,
       "Error \"Object 'toFixed' is not valid in path "
       "'api.value.toFixed'.\""},
      {"throwing function", "api.thrower", nullptr,
       "Error \"Function execution failed in path 'api.thrower'.\""},
      {"doubled dots", "api..value", nullptr, "Result INT 42"},
      {"leading and trailing dots", ".api.value.", nullptr, "Result INT 42"},
      {"braces in a segment", "api.{odd}", nullptr, "Result STRING \"braces\""},
      {"braces in an error text", "api.{none}.x", nullptr,
       "Error \"Object 'x' is not valid in path 'api.{none}.x'.\""},
      {"function returning a promise", "api.later", nullptr, "Result NULL"},
  };
  return cases;
}

namespace {

CefRefPtr<CefProcessMessage> Message(
    const std::string& name,
    const std::vector<CefRefPtr<CefValue>>& items) {
  CefRefPtr<CefProcessMessage> message = CefProcessMessage::Create(name);
  CefRefPtr<CefListValue> list = message->GetArgumentList();
  for (size_t i = 0; i < items.size(); ++i) {
    list->SetValue(i, items[i]);
  }
  return message;
}

CefRefPtr<CefProcessMessage> Bridge(
    const std::vector<CefRefPtr<CefValue>>& items) {
  return Message(kBridgeMessageName, items);
}

// A Call that would be answered, were it well-formed.
std::vector<CefRefPtr<CefValue>> GoodCall() {
  return {Int(0), Int(900), String("api.value"), List({})};
}

}  // namespace

const std::vector<MalformedCase>& MalformedCases() {
  static const std::vector<MalformedCase> cases = {
      {"another name", [] { return Message("QRX", GoodCall()); }},
      {"no arguments", [] { return Bridge({}); }},
      {"kind as DOUBLE",
       [] {
         std::vector<CefRefPtr<CefValue>> items = GoodCall();
         items[0] = Double(0);
         return Bridge(items);
       }},
      {"kind as STRING",
       [] {
         std::vector<CefRefPtr<CefValue>> items = GoodCall();
         items[0] = String("0");
         return Bridge(items);
       }},
      {"unknown kind 4",
       [] {
         return Bridge({Int(4), Int(1)});
       }},
      {"negative kind",
       [] {
         return Bridge({Int(-1), Int(1)});
       }},
      {"Call one entry short",
       [] {
         std::vector<CefRefPtr<CefValue>> items = GoodCall();
         items.pop_back();
         return Bridge(items);
       }},
      {"Call one entry long",
       [] {
         std::vector<CefRefPtr<CefValue>> items = GoodCall();
         items.push_back(Null());
         return Bridge(items);
       }},
      {"Call id as DOUBLE",
       [] {
         std::vector<CefRefPtr<CefValue>> items = GoodCall();
         items[1] = Double(900);
         return Bridge(items);
       }},
      {"Call path as INT",
       [] {
         std::vector<CefRefPtr<CefValue>> items = GoodCall();
         items[2] = Int(5);
         return Bridge(items);
       }},
      {"Call arguments as NULL",
       [] {
         std::vector<CefRefPtr<CefValue>> items = GoodCall();
         items[3] = Null();
         return Bridge(items);
       }},
      {"Result for an id never issued",
       [] {
         return Bridge({Int(1), Int(123456), String("x")});
       }},
      {"Error text as INT",
       [] {
         return Bridge({Int(2), Int(0), Int(5)});
       }},
      {"FocusChange sent to the renderer",
       [] {
         return Bridge({Int(3), Bool(true)});
       }},
      {"FocusChange with an INT",
       [] {
         return Bridge({Int(3), Int(1)});
       }},
  };
  return cases;
}

}  // namespace conformance
