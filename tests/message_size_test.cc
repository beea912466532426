// The program's count of a message in the channel's encoding: exact for
// values, conservative for strings and the envelope, never below what the
// channel itself counts.

#include "convert/message_size.h"

#include <functional>
#include <string>

#include "cefsim/transit.h"
#include "convert/keyed_collection.h"
#include "gtest/gtest.h"

namespace {

CefRefPtr<CefValue> StringValue(const CefString& text) {
  CefRefPtr<CefValue> value = CefValue::Create();
  value->SetString(text);
  return value;
}

CefRefPtr<CefValue> ListOf(std::function<void(CefListValue&)> fill) {
  CefRefPtr<CefListValue> list = CefListValue::Create();
  fill(*list);
  CefRefPtr<CefValue> value = CefValue::Create();
  value->SetList(list);
  return value;
}

CefRefPtr<CefValue> KeyedCollection(std::function<void(CefListValue&)> keys,
                                    std::function<void(CefListValue&)> values) {
  CefRefPtr<CefDictionaryValue> dictionary = CefDictionaryValue::Create();
  dictionary->SetValue(KeyedCollection::kKeys, ListOf(keys));
  dictionary->SetValue(KeyedCollection::kValues, ListOf(values));
  CefRefPtr<CefValue> value = CefValue::Create();
  value->SetDictionary(dictionary);
  return value;
}

const auto kNothing = [](CefListValue&) {};

struct SizeCase {
  const char* name;
  CefRefPtr<CefValue> value;
  size_t bytes;
  int nesting;
};

// By hand: a value is a 16-byte union; strings and binaries add 8 + bytes
// padded to 8; a list 16 + 8 + 16 an element; a dictionary 16 + 24 +
// (8 + 8 a key) + (8 + 16 a value) and 8 + its bytes padded to 8 per key.
TEST(MessageSize, ValuesCostWhatTheChannelEncodes) {
  const unsigned char bytes[9] = {};
  CefRefPtr<CefValue> binary = CefValue::Create();
  binary->SetBinary(CefBinaryValue::Create(bytes, sizeof(bytes)));
  CefRefPtr<CefValue> integer = CefValue::Create();
  integer->SetInt(7);
  CefRefPtr<CefValue> emptyDictionary = CefValue::Create();
  emptyDictionary->SetDictionary(CefDictionaryValue::Create());

  const SizeCase cases[] = {
      {"NULL", CefValue::Create(), 16, 0},
      {"int", integer, 16, 0},
      {"empty string", StringValue(""), 24, 0},
      {"1-byte string", StringValue("a"), 32, 0},
      {"8-byte string", StringValue("abcdefgh"), 32, 0},
      {"9-byte string", StringValue("abcdefghi"), 40, 0},
      {"2-byte character", StringValue(std::u16string(u"\u00e9")), 32, 0},
      {"3-byte characters, 9 bytes",
       StringValue(std::u16string(u"\u20ac\u20ac\u20ac")), 40, 0},
      // Stored as U+FFFD, three bytes.
      {"lone surrogate", StringValue(std::u16string(u"ab\xD800")), 32, 0},
      // Four bytes on the wire, counted as six (two units of three).
      {"two pairs: 8 bytes, counted 12",
       StringValue(std::u16string(u"\U0001F600\U0001F600")), 40, 0},
      {"three pairs: 12 bytes, counted 18",
       StringValue(std::u16string(u"\U0001F600\U0001F600\U0001F600")), 48, 0},
      {"9-byte binary", binary, 40, 0},
      {"empty list", ListOf(kNothing), 40, 1},
      {"list of three NULLs", ListOf([](CefListValue& l) { l.SetSize(3); }), 88,
       1},
      {"list in a list",
       ListOf([](CefListValue& l) { l.SetList(0, CefListValue::Create()); }),
       16 + 24 + 16 + 24, 2},
      {"empty dictionary", emptyDictionary, 72, 1},
      {"empty keyed collection", KeyedCollection(kNothing, kNothing), 200, 2},
      {"keyed collection of one entry",
       KeyedCollection([](CefListValue& l) { l.SetString(0, "k"); },
                       [](CefListValue& l) { l.SetInt(0, 1); }),
       200 + 16 + 16 + 16, 2},
      {"keyed collection in a list", ListOf([](CefListValue& l) {
         l.SetValue(0, KeyedCollection(kNothing, kNothing));
       }),
       16 + 24 + 16 + 200 - 16, 3},
  };
  for (const SizeCase& sizeCase : cases) {
    const EncodedSize size = MeasureValue(sizeCase.value);
    EXPECT_EQ(size.bytes, sizeCase.bytes) << sizeCase.name;
    EXPECT_EQ(size.nesting, sizeCase.nesting) << sizeCase.name;
  }
}

CefRefPtr<CefProcessMessage> Message(const CefString& name,
                                     std::function<void(CefListValue&)> fill) {
  CefRefPtr<CefProcessMessage> message = CefProcessMessage::Create(name);
  fill(*message->GetArgumentList());
  return message;
}

// The channel's own count (cefsim's, from Mojo's layout) is the reference:
// the program may count more, by its envelope and by surrogate pairs, but
// never less. Long names are outside the envelope.
TEST(MessageSize, MessagesNeverCountLessThanTheChannel) {
  const struct {
    const char* name;
    CefRefPtr<CefProcessMessage> message;
  } cases[] = {
      {"empty", Message("qrx", kNothing)},
      {"a 64 KiB name", Message(std::string(64 << 10, 'n'), kNothing)},
      {"a name of lone surrogates",
       Message(std::u16string(9000, u'\xD83D') + u"x", kNothing)},
      {"scalars and strings",
       Message("qrx",
               [](CefListValue& l) {
                 l.SetInt(0, 1);
                 l.SetString(1, std::u16string(u"\U0001F600 \u20ac"));
                 l.SetSize(6);
               })},
      {"nested collections",
       Message("qrx",
               [](CefListValue& l) {
                 l.SetValue(0, KeyedCollection(
                                   [](CefListValue& k) {
                                     k.SetString(0, "a");
                                     k.SetString(1, "bcdefghijk");
                                   },
                                   [](CefListValue& v) {
                                     v.SetList(0, CefListValue::Create());
                                     v.SetDouble(1, 2.5);
                                   }));
                 CefRefPtr<CefDictionaryValue> odd =
                     CefDictionaryValue::Create();
                 odd->SetNull("z");
                 odd->SetString("\xC3\xA9t\xC3\xA9", "x");
                 l.SetDictionary(1, odd);
               })},
  };
  for (const auto& messageCase : cases) {
    const EncodedSize size = MeasureMessage(messageCase.message);
    const size_t channel = cefsim::EncodedMessageBytes(messageCase.message);
    EXPECT_GE(size.bytes, channel) << messageCase.name;
    EXPECT_LE(size.bytes, channel + kMessageEnvelopeBytes + 8)
        << messageCase.name;
  }
}

// A message is measured with its argument list as level 1; the channel
// takes 200 levels and at most 128 MiB.
TEST(MessageSize, FitsChannelAtItsLimits) {
  CefRefPtr<CefProcessMessage> message = CefProcessMessage::Create("qrx");
  CefRefPtr<CefListValue> list = message->GetArgumentList();
  for (int level = 2; level <= kMaxMessageNesting; ++level) {
    list->SetList(0, CefListValue::Create());
    list = list->GetList(0);
  }
  EncodedSize size = MeasureMessage(message);
  EXPECT_EQ(size.nesting, kMaxMessageNesting);
  EXPECT_TRUE(FitsChannel(size));
  list->SetList(0, CefListValue::Create());
  size = MeasureMessage(message);
  EXPECT_EQ(size.nesting, kMaxMessageNesting + 1);
  EXPECT_FALSE(FitsChannel(size));
  // Far deeper still is refused, counted to just past the limit.
  for (int level = 0; level < 1000; ++level) {
    list = list->GetList(0);
    list->SetList(0, CefListValue::Create());
  }
  size = MeasureMessage(message);
  EXPECT_EQ(size.nesting, kMaxMessageNesting + 1);
  EXPECT_FALSE(FitsChannel(size));

  EXPECT_TRUE(FitsChannel({kMaxMessageBytes, 1}));
  EXPECT_FALSE(FitsChannel({kMaxMessageBytes + 1, 1}));
}

}  // namespace
