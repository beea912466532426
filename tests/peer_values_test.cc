// The peer library's value builders, the keyed-collection reader and the
// text form, checked on the wire and in the page.

#include <string>
#include <vector>

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
    std::optional<KeyedCollection> read = ReadKeyed(c.value);
    ASSERT_EQ(read.has_value(), c.readable);
    if (!read) {
      continue;
    }
    EXPECT_EQ(read->isObject, c.isObject);
    EXPECT_EQ(read->entries.size(), c.entries);
    EXPECT_EQ(read->malformed, c.malformed);
  }
  std::optional<KeyedCollection> object =
      ReadKeyed(Object({{"name", String("Alice")}, {"name", Int(2)}}));
  ASSERT_TRUE(object);
  EXPECT_EQ(ValueText(object->Find("name")), "STRING \"Alice\"");
  EXPECT_EQ(object->Find("missing"), nullptr);
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
  std::optional<KeyedCollection> state;
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
  std::optional<KeyedCollection> tags = ReadKeyed(state->Find("tags"));
  ASSERT_TRUE(tags);
  ASSERT_EQ(tags->entries.size(), 2u);
  EXPECT_EQ(ValueText(tags->entries[0].first), "INT 1");
  EXPECT_EQ(ValueText(tags->entries[1].first), "STRING \"1\"");
}

}  // namespace
