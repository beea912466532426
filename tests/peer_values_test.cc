// The peer library's value builders, the keyed-collection reader and the
// text form, checked on the wire and in the page.

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "bridge/bridge_message.h"

#include "peer/value_text.h"
#include "peer/values.h"
#include "tests/peer_test_client.h"

namespace {

using namespace cef_launcher_peer;

TEST(PeerValuesTest, BuildersMakeTheWireForm) {
  const uint8_t bytes[] = {1, 2, 255};
  struct Case {
    CefRefPtr<CefValue> value;
    std::string text;
  };
  const std::vector<Case> cases = {
      {Null(), "NULL"},
      {Bool(true), "BOOL true"},
      {Int(-2147483647 - 1), "INT -2147483648"},
      {Double(5), "DOUBLE 5"},
      {Double(-0.0), "DOUBLE -0"},
      {String("a\"\n\xC3\xA9"), "STRING \"a\\\"\\n\xC3\xA9\""},
      {Binary(bytes, 3), "BINARY 3 bytes 01 02 ff"},
      {Binary(std::vector<uint8_t>{}), "NULL"},
      {List({Int(1), nullptr, List({})}), "LIST [INT 1, NULL, LIST []]"},
      {Object({{"b", Int(1)}, {"a", String("x")}}),
       "DICTIONARY {\"isObject\": BOOL true, \"keys\": LIST [STRING \"b\", "
       "STRING \"a\"], \"values\": LIST [INT 1, STRING \"x\"]}"},
      {Map({{Int(1), Bool(false)}, {String("1"), Null()}}),
       "DICTIONARY {\"keys\": LIST [INT 1, STRING \"1\"], \"values\": LIST "
       "[BOOL false, NULL]}"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ValueText(c.value), c.text);
  }
  // Builders copy: the caller's containers stay usable.
  CefRefPtr<CefValue> inner = List({Int(1)});
  CefRefPtr<CefValue> outer = List({inner, inner});
  EXPECT_TRUE(inner->IsValid());
  EXPECT_EQ(ValueText(outer), "LIST [LIST [INT 1], LIST [INT 1]]");
}

// Limits cut long strings between characters and long binaries, inside
// containers too; 0 shows everything.
TEST(PeerValuesTest, TextLimitsCutLongPayloads) {
  const std::vector<uint8_t> bytes(70, 0xab);
  std::string hex;
  for (size_t i = 0; i < bytes.size(); ++i) {
    hex += " ab";
  }
  struct Case {
    TextLimits limits;
    CefRefPtr<CefValue> value;
    std::string text;
  };
  const std::vector<Case> cases = {
      {{},
       String(std::string(300, 'x')),
       "STRING \"" + std::string(300, 'x') + "\""},
      {{}, Binary(bytes), "BINARY 70 bytes" + hex.substr(0, 64 * 3) + " ..."},
      {{4, 2}, String("abcd"), "STRING \"abcd\""},
      // "é" is two bytes; a cut after its first moves before it.
      {{4, 2},
       List({String("abc\xC3\xA9z")}),
       "LIST [STRING \"abc\"... (6 bytes)]"},
      {{4, 2},
       Object({{"k", Binary(bytes)}}),
       "DICTIONARY {\"isObject\": BOOL true, \"keys\": LIST [STRING \"k\"], "
       "\"values\": LIST [BINARY 70 bytes ab ab ...]}"},
      {{0, 0}, Binary(bytes), "BINARY 70 bytes" + hex},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ValueText(c.value, c.limits), c.text);
  }
}

TEST(PeerValuesTest, ReadKeyedToleratesMalformedCollections) {
  auto dictionary =
      [](std::vector<std::pair<std::string, CefRefPtr<CefValue>>> fields) {
        CefRefPtr<CefDictionaryValue> d = CefDictionaryValue::Create();
        for (auto& field : fields) {
          d->SetValue(field.first, field.second->Copy());
        }
        CefRefPtr<CefValue> value = CefValue::Create();
        value->SetDictionary(d);
        return value;
      };
  struct Case {
    const char* what;
    CefRefPtr<CefValue> value;
    bool readable;
    bool isObject;
    size_t entries;
    bool malformed;
  };
  const std::vector<Case> cases = {
      {"null", nullptr, false, false, 0, false},
      {"not a dictionary", List({}), false, false, 0, false},
      {"empty dictionary", dictionary({}), true, false, 0, true},
      {"keys only", dictionary({{"keys", List({Int(1)})}}), true, false, 0,
       true},
      {"keys not a list",
       dictionary({{"keys", String("k")}, {"values", List({Int(1)})}}), true,
       false, 0, true},
      {"values shorter",
       dictionary(
           {{"keys", List({Int(1), Int(2)})}, {"values", List({Null()})}}),
       true, false, 1, true},
      {"isObject not BOOL",
       dictionary(
           {{"keys", List({})}, {"values", List({})}, {"isObject", Int(1)}}),
       true, false, 0, false},
      {"object", Object({{"a", Int(1)}}), true, true, 1, false},
      {"map", Map({{Int(1), Int(2)}, {Null(), Null()}}), true, false, 2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ReadResult<KeyedCollection> read = ReadKeyed(c.value);
    ASSERT_EQ(read.has_value(), c.readable);
    if (!read) {
      continue;
    }
    EXPECT_EQ(read->isObject, c.isObject);
    EXPECT_EQ(read->entries.size(), c.entries);
    EXPECT_EQ(read->malformed, c.malformed);
  }
  ReadResult<KeyedCollection> object =
      ReadKeyed(Object({{"name", String("Alice")}, {"name", Int(2)}}));
  ASSERT_TRUE(object);
  EXPECT_EQ(ValueText(object->Find("name")), "STRING \"Alice\"");
  EXPECT_EQ(object->Find("missing"), nullptr);
}

// Edges of the 32-bit INT, of the integers a DOUBLE holds exactly (2^53) and
// of int64 (2^63): no reader may turn a number into another one.
TEST(PeerValuesTest, NumberReadersLoseNothing) {
  constexpr double kTwo53 = 9007199254740992.0;
  constexpr double kTwo63 = 9223372036854775808.0;
  struct Case {
    const char* what;
    CefRefPtr<CefValue> value;
    ReadStatus numberStatus;
    double number;
    ReadStatus integerStatus;
    int64_t integer;
  };
  const std::vector<Case> cases = {
      {"INT 0", Int(0), ReadStatus::kOk, 0, ReadStatus::kOk, 0},
      {"INT max", Int(std::numeric_limits<int32_t>::max()), ReadStatus::kOk,
       2147483647.0, ReadStatus::kOk, 2147483647},
      {"INT min", Int(std::numeric_limits<int32_t>::min()), ReadStatus::kOk,
       -2147483648.0, ReadStatus::kOk, -2147483648LL},
      {"DOUBLE 2.5", Double(2.5), ReadStatus::kOk, 2.5, ReadStatus::kWrongType,
       0},
      {"DOUBLE 2^31", Double(2147483648.0), ReadStatus::kOk, 2147483648.0,
       ReadStatus::kOk, 2147483648LL},
      {"DOUBLE 2^53", Double(kTwo53), ReadStatus::kOk, kTwo53, ReadStatus::kOk,
       9007199254740992LL},
      {"DOUBLE -2^53", Double(-kTwo53), ReadStatus::kOk, -kTwo53,
       ReadStatus::kOk, -9007199254740992LL},
      {"DOUBLE 2^63 (no int64)", Double(kTwo63), ReadStatus::kOk, kTwo63,
       ReadStatus::kWrongType, 0},
      {"DOUBLE -2^63", Double(-kTwo63), ReadStatus::kOk, -kTwo63,
       ReadStatus::kOk, std::numeric_limits<int64_t>::min()},
      {"DOUBLE 1e300", Double(1e300), ReadStatus::kOk, 1e300,
       ReadStatus::kWrongType, 0},
      {"STRING \"1\"", String("1"), ReadStatus::kWrongType, 0,
       ReadStatus::kWrongType, 0},
      {"BOOL true", Bool(true), ReadStatus::kWrongType, 0,
       ReadStatus::kWrongType, 0},
      {"NULL", Null(), ReadStatus::kWrongType, 0, ReadStatus::kWrongType, 0},
      {"null reference", nullptr, ReadStatus::kNoValue, 0, ReadStatus::kNoValue,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ReadResult<double> number = ReadNumber(c.value);
    EXPECT_EQ(number.status(), c.numberStatus);
    EXPECT_EQ(number.has_value(), c.numberStatus == ReadStatus::kOk);
    if (number) {
      EXPECT_EQ(*number, c.number);
    }
    ReadResult<int64_t> integer = ReadInteger(c.value);
    EXPECT_EQ(integer.status(), c.integerStatus);
    if (integer) {
      EXPECT_EQ(*integer, c.integer);
    }
  }
  // -0 stays -0.
  ReadResult<double> negativeZero = ReadNumber(Double(-0.0));
  ASSERT_TRUE(negativeZero);
  EXPECT_TRUE(std::signbit(*negativeZero));
}

TEST(PeerValuesTest, Int64GivesIntOrAnExactDoubleOrNothing) {
  struct Case {
    const char* what;
    int64_t input;
    CefValueType type;  // VTYPE_INVALID: refused (null)
  };
  constexpr int64_t kTwo53 = int64_t{1} << 53;
  const std::vector<Case> cases = {
      {"0", 0, VTYPE_INT},
      {"INT max", std::numeric_limits<int32_t>::max(), VTYPE_INT},
      {"INT min", std::numeric_limits<int32_t>::min(), VTYPE_INT},
      {"INT max + 1", int64_t{std::numeric_limits<int32_t>::max()} + 1,
       VTYPE_DOUBLE},
      {"INT min - 1", int64_t{std::numeric_limits<int32_t>::min()} - 1,
       VTYPE_DOUBLE},
      {"2^53 - 1", kTwo53 - 1, VTYPE_DOUBLE},
      {"2^53", kTwo53, VTYPE_DOUBLE},
      {"2^53 + 1", kTwo53 + 1, VTYPE_INVALID},
      {"-(2^53 + 1)", -(kTwo53 + 1), VTYPE_INVALID},
      {"2^53 + 2", kTwo53 + 2, VTYPE_DOUBLE},
      {"2^62", int64_t{1} << 62, VTYPE_DOUBLE},
      {"2^63 - 1 (rounds to 2^63)", std::numeric_limits<int64_t>::max(),
       VTYPE_INVALID},
      {"-2^63", std::numeric_limits<int64_t>::min(), VTYPE_DOUBLE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CefRefPtr<CefValue> value = Int64(c.input);
    if (c.type == VTYPE_INVALID) {
      EXPECT_EQ(value, nullptr);
      continue;
    }
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->GetType(), c.type);
    // Read back, the number is the same integer.
    ReadResult<int64_t> back = ReadInteger(value);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, c.input);
  }
}

// Values a handler keeps from a PageCall refer into its message: once that
// is released, a kept container has no data left. It must read as such, not
// as some other type, and scalars (always copies) still read.
TEST(PeerValuesTest, AContainerKeptWithoutItsMessageReadsAsInvalid) {
  CefRefPtr<CefValue> keyed;
  CefRefPtr<CefValue> list;
  CefRefPtr<CefValue> text;
  {
    CefRefPtr<CefProcessMessage> message =
        CallMessage("f",
                    MakeList({Map({{String("a"), Int(1)}}), List({Int(2)}),
                              String("kept")}),
                    0)
            .ToProcessMessage();
    CefRefPtr<CefListValue> arguments = message->GetArgumentList()->GetList(3);
    keyed = arguments->GetValue(0);
    list = arguments->GetValue(1);
    text = arguments->GetValue(2);
    ASSERT_TRUE(ReadKeyed(keyed));
  }
  struct Case {
    const char* what;
    ReadStatus status;
    ReadStatus expected;
  };
  const std::vector<Case> cases = {
      {"keyed collection", ReadKeyed(keyed).status(), ReadStatus::kInvalid},
      {"its dictionary", ReadKeyed(keyed->GetDictionary()).status(),
       ReadStatus::kInvalid},
      {"list as keyed", ReadKeyed(list).status(), ReadStatus::kInvalid},
      {"list as number", ReadNumber(list).status(), ReadStatus::kInvalid},
      {"list as string", ReadString(list).status(), ReadStatus::kInvalid},
      {"string", ReadString(text).status(), ReadStatus::kOk},
      {"a fresh list as keyed", ReadKeyed(List({})).status(),
       ReadStatus::kWrongType},
      {"no value as keyed", ReadKeyed(CefRefPtr<CefDictionaryValue>()).status(),
       ReadStatus::kNoValue},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.status, c.expected) << ReadStatusText(c.status);
  }
  EXPECT_EQ(ReadString(text).value_or(""), "kept");
  EXPECT_STREQ(ReadStatusText(ReadStatus::kInvalid),
               "invalid (its message was released)");
}

TEST(PeerValuesTest, AsPlainObjectTakesOnlyStringKeyedCollections) {
  auto keyed = [](CefRefPtr<CefListValue> keys,
                  CefRefPtr<CefListValue> values) {
    CefRefPtr<CefDictionaryValue> dictionary = CefDictionaryValue::Create();
    dictionary->SetList("keys", keys);
    dictionary->SetList("values", values);
    CefRefPtr<CefValue> value = CefValue::Create();
    value->SetDictionary(dictionary);
    return value;
  };
  struct Case {
    const char* what;
    CefRefPtr<CefValue> value;
    const char* expected;  // nullptr: refused
  };
  const std::vector<Case> cases = {
      {"string keys", Map({{String("a"), Int(1)}, {String("b"), Null()}}),
       "DICTIONARY {\"isObject\": BOOL true, \"keys\": LIST [STRING \"a\", "
       "STRING \"b\"], \"values\": LIST [INT 1, NULL]}"},
      {"empty", Map({}),
       "DICTIONARY {\"isObject\": BOOL true, \"keys\": LIST [], \"values\": "
       "LIST []}"},
      {"an INT key", Map({{Int(1), Int(1)}}), nullptr},
      {"values shorter", keyed(MakeList({String("a")}), MakeList({})), nullptr},
      {"no lists", keyed(nullptr, nullptr), nullptr},
      {"a list", List({String("a")}), nullptr},
      {"null reference", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CefRefPtr<CefValue> object = AsPlainObject(c.value);
    if (!c.expected) {
      EXPECT_EQ(object, nullptr);
    } else {
      EXPECT_EQ(ValueText(object), c.expected);
    }
  }
}

// What the page makes of built values, and what the library reads back from
// the page's Maps and objects.
TEST_F(PeerLibraryTest, PageSeesObjectsAndMapsAsBuilt) {
  Page(R"JS(
    window.kinds = (...args) => args.map(a =>
        a instanceof Map ? 'Map ' + JSON.stringify([...a])
        : a instanceof ArrayBuffer ? 'ArrayBuffer ' + a.byteLength
        : typeof a + ' ' + JSON.stringify(a));
    window.state = () => ({ name: 'Alice', score: 3,
                            tags: new Map([[1, 'one'], ['1', 'text']]) });
  )JS");
  const uint8_t bytes[] = {7, 8};
  std::string kinds;
  peer.CallPage(
      HostFrame(), "kinds",
      MakeList({Object({{"a", Int(1)}}), Map({{Int(1), String("x")}}),
                Binary(bytes, 2), Double(2)}),
      [&](const PageReply& reply) { kinds = ValueText(reply.value); });
  ReadResult<KeyedCollection> state = ReadStatus::kNoValue;
  CefRefPtr<CefValue> stateValue;
  peer.CallPage(HostFrame(), "state", nullptr, [&](const PageReply& reply) {
    stateValue = reply.value->Copy();
  });
  harness->RunUntilIdle();
  EXPECT_EQ(
      kinds,
      "LIST [STRING \"object {\\\"a\\\":1}\", STRING \"Map "
      "[[1,\\\"x\\\"]]\", STRING \"ArrayBuffer 2\", STRING \"number 2\"]");
  state = ReadKeyed(stateValue);
  ASSERT_TRUE(state);
  EXPECT_FALSE(state->isObject);  // the renderer never writes isObject
  EXPECT_EQ(ValueText(state->Find("score")), "INT 3");
  ReadResult<KeyedCollection> tags = ReadKeyed(state->Find("tags"));
  ASSERT_TRUE(tags);
  ASSERT_EQ(tags->entries.size(), 2u);
  EXPECT_EQ(ValueText(tags->entries[0].first), "INT 1");
  EXPECT_EQ(ValueText(tags->entries[1].first), "STRING \"1\"");
}

// A page's plain object comes back to it as a plain object, not a Map, and
// nested ones too when asked.
TEST_F(PeerLibraryTest, APlainObjectEchoedBackStaysAPlainObject) {
  std::vector<std::string> statuses;
  peer.Handle("echo", [&](const PageCall& call, Reply reply) {
    const NestedCollections nested =
        call.arguments->GetBool(1) ? NestedCollections::kStringKeyedAsObjects
                                   : NestedCollections::kKeepAsMaps;
    CefRefPtr<CefValue> object =
        AsPlainObject(call.arguments->GetValue(0), nested);
    statuses.push_back(object ? SendStatusText(reply.Result(object))
                              : "refused");
  });
  Page(R"JS(
    window.kind = v => v instanceof Map ? 'Map'
        : Array.isArray(v) ? 'Array'
        : Object.getPrototypeOf(v) === Object.prototype ? 'Object' : typeof v;
    window.echoed = [];
    const sent = { name: 'Alice', inner: { score: 3 }, list: [{ x: 1 }],
                   tags: new Map([[1, 'one']]) };
    for (const deep of [false, true]) {
      squirrel.call('echo', sent, deep).then(v => echoed.push([
          kind(v), v.name, kind(v.inner), kind(v.list[0]), kind(v.tags),
          v.inner instanceof Map ? v.inner.get('score') : v.inner.score]));
    }
    squirrel.call('echo', new Map([[1, 'one']]), false)
        .catch(e => echoed.push(e.message));
  )JS");
  EXPECT_EQ(statuses, (std::vector<std::string>{"sent", "sent", "refused"}));
  EXPECT_EQ(PageJson("echoed"),
            "[[\"Object\",\"Alice\",\"Map\",\"Map\",\"Map\",3],"
            "[\"Object\",\"Alice\",\"Object\",\"Object\",\"Map\",3],"
            "\"" +
                std::string(kUnansweredText) + "\"]");
}

}  // namespace
