// CefProcessMessage and its journey between processes as CEF 130 makes it:
// the sender's message dies on sending, the receiver's is read-only.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "cefsim/transit.h"
#include "cefsim/value_text.h"
#include "include/cef_process_message.h"

namespace {

using cefsim::MessageText;
using cefsim::ValueText;

// A message after one trip: what the other process's handler gets.
CefRefPtr<CefProcessMessage> Deliver(CefRefPtr<CefProcessMessage> message) {
  auto wire = cefsim::TakeForSending(message);
  return wire ? cefsim::Receive(*wire) : nullptr;
}

CefRefPtr<CefProcessMessage> MessageWithNestedList() {
  auto message = CefProcessMessage::Create("qrx");
  auto args = message->GetArgumentList();
  args->SetInt(0, 0);
  auto inner = CefListValue::Create();
  inner->SetInt(0, 1);
  args->SetList(1, inner);
  return message;
}

TEST(ProcessMessage, CreateRefusesEmptyName) {
  EXPECT_EQ(CefProcessMessage::Create(""), nullptr);
  auto message = CefProcessMessage::Create("qrx");
  EXPECT_TRUE(message->IsValid());
  EXPECT_FALSE(message->IsReadOnly());
  EXPECT_EQ(message->GetSharedMemoryRegion(), nullptr);
  EXPECT_EQ(message->GetArgumentList()->GetSize(), 0u);
}

TEST(ProcessMessage, ArgumentListIsTheSameLiveOwnedList) {
  auto message = CefProcessMessage::Create("qrx");
  auto first = message->GetArgumentList();
  auto second = message->GetArgumentList();
  EXPECT_NE(first.get(), second.get());
  EXPECT_TRUE(first->IsSame(second));
  EXPECT_FALSE(first->IsOwned());
  first->SetString(0, "f");
  EXPECT_EQ(MessageText(message), "qrx [STRING \"f\"]");
}

TEST(ProcessMessage, SendingInvalidatesMessageAndEveryReference) {
  auto message = MessageWithNestedList();
  auto args = message->GetArgumentList();
  auto inner = args->GetList(1);
  ASSERT_TRUE(cefsim::TakeForSending(message).has_value());
  EXPECT_FALSE(message->IsValid());
  EXPECT_FALSE(args->IsValid());
  EXPECT_FALSE(inner->IsValid());
  // Still there after sending, as in CEF.
  EXPECT_NE(message->GetArgumentList(), nullptr);
  EXPECT_EQ(message->GetName().ToString(), "qrx");
  EXPECT_FALSE(message->IsReadOnly());
  EXPECT_EQ(message->Copy(), nullptr);
  // Re-sending is a silent no-op.
  EXPECT_FALSE(cefsim::TakeForSending(message).has_value());
  EXPECT_FALSE(cefsim::TakeForSending(nullptr).has_value());
}

TEST(ProcessMessage, ArgumentListKeepsDataAliveWithoutTheMessage) {
  CefRefPtr<CefListValue> args;
  {
    auto message = MessageWithNestedList();
    args = message->GetArgumentList();
  }
  EXPECT_TRUE(args->IsValid());
  EXPECT_EQ(ValueText(args), "[INT 0, LIST [INT 1]]");
}

TEST(ProcessMessage, MovingArgumentListIntoContainerInvalidatesMessage) {
  auto message = MessageWithNestedList();
  auto holder = CefListValue::Create();
  holder->SetList(0, message->GetArgumentList());
  EXPECT_FALSE(message->IsValid());
  EXPECT_EQ(ValueText(holder), "[LIST [INT 0, LIST [INT 1]]]");
}

TEST(ProcessMessage, ReceivedMessageIsReadOnlyThroughout) {
  auto received = Deliver(MessageWithNestedList());
  ASSERT_NE(received, nullptr);
  EXPECT_TRUE(received->IsValid());
  EXPECT_TRUE(received->IsReadOnly());
  auto args = received->GetArgumentList();
  EXPECT_TRUE(args->IsReadOnly());
  EXPECT_FALSE(args->IsOwned());
  EXPECT_FALSE(args->SetInt(0, 5));
  EXPECT_FALSE(args->Remove(0));
  EXPECT_FALSE(args->Clear());
  auto inner = args->GetList(1);
  EXPECT_TRUE(inner->IsReadOnly());
  EXPECT_FALSE(inner->SetInt(0, 5));
  // Simple values read from it are independent, writable copies.
  auto value = args->GetValue(0);
  EXPECT_FALSE(value->IsReadOnly());
  EXPECT_TRUE(value->SetInt(9));
  auto nested = args->GetValue(1);
  EXPECT_TRUE(nested->IsReadOnly());
  EXPECT_EQ(MessageText(received), "qrx [INT 0, LIST [INT 1]]");
}

TEST(ProcessMessage, CopyOfReceivedMessageIsWritable) {
  auto received = Deliver(MessageWithNestedList());
  auto copy = received->Copy();
  EXPECT_FALSE(copy->IsReadOnly());
  EXPECT_TRUE(copy->GetArgumentList()->GetList(1)->SetInt(0, 2));
  EXPECT_EQ(MessageText(received), "qrx [INT 0, LIST [INT 1]]");
  EXPECT_EQ(MessageText(copy), "qrx [INT 0, LIST [INT 2]]");
}

TEST(ProcessMessage, ForwardingReceivedMessageWorksAndInvalidatesIt) {
  auto received = Deliver(MessageWithNestedList());
  auto forwarded = Deliver(received);
  EXPECT_FALSE(received->IsValid());
  EXPECT_TRUE(received->IsReadOnly());
  EXPECT_EQ(MessageText(forwarded), "qrx [INT 0, LIST [INT 1]]");
}

TEST(ProcessMessage, ReceivedTreeSharesNothingWithAnotherDelivery) {
  auto message = MessageWithNestedList();
  auto wire = cefsim::TakeForSending(message);
  auto first = cefsim::Receive(*wire);
  auto second = cefsim::Receive(*wire);
  EXPECT_FALSE(first->GetArgumentList()->IsSame(second->GetArgumentList()));
  EXPECT_TRUE(first->GetArgumentList()->IsEqual(second->GetArgumentList()));
}

TEST(Transit, EveryTypeArrivesUnchanged) {
  auto message = CefProcessMessage::Create("qrx");
  auto args = message->GetArgumentList();
  args->SetNull(0);
  args->SetBool(1, true);
  args->SetInt(2, -2147483647 - 1);
  args->SetDouble(3, -0.0);
  args->SetDouble(4, 1.0);
  args->SetString(5, std::string("a\0b", 3));
  const unsigned char bytes[] = {0, 255, 7};
  args->SetBinary(6, CefBinaryValue::Create(bytes, sizeof(bytes)));
  auto dictionary = CefDictionaryValue::Create();
  dictionary->SetInt("z", 1);
  dictionary->SetInt("a", 2);
  args->SetDictionary(7, dictionary);
  args->SetInt(9, 3);
  auto received = Deliver(message)->GetArgumentList();
  EXPECT_EQ(ValueText(received),
            "[NULL, BOOL true, INT -2147483648, DOUBLE -0, DOUBLE 1, "
            "STRING \"a\\u0000b\", BINARY 3 bytes 00 ff 07, "
            "DICTIONARY {\"a\": INT 2, \"z\": INT 1}, NULL, INT 3]");
  EXPECT_EQ(received->GetType(4), VTYPE_DOUBLE);
  EXPECT_TRUE(std::signbit(received->GetDouble(3)));
}

// The name is kept as given (UTF-16) until sending; the channel carries
// UTF-8, so only the receiver sees U+FFFD for a lone surrogate.
TEST(Transit, NameStaysUtf16UntilSent) {
  const std::u16string name = u"q\xD800";
  auto message = CefProcessMessage::Create(name);
  EXPECT_EQ(message->GetName().ToString16(), name);
  EXPECT_EQ(message->Copy()->GetName().ToString16(), name);
  auto wire = cefsim::TakeForSending(message);
  ASSERT_TRUE(wire.has_value());
  EXPECT_EQ(wire->name, "q\xEF\xBF\xBD");
  EXPECT_EQ(message->GetName().ToString16(), name) << "after sending too";
  EXPECT_EQ(cefsim::Receive(*wire)->GetName().ToString16(), u"q\uFFFD");
}

// A message whose argument list holds `levels` containers, each in the one
// before; with `dictionaries`, every second one is a dictionary.
CefRefPtr<CefProcessMessage> NestedMessage(int levels, bool dictionaries) {
  auto message = CefProcessMessage::Create("qrx");
  CefRefPtr<CefListValue> list = message->GetArgumentList();
  for (int level = 1; level <= levels; ++level) {
    if (dictionaries && level % 2 == 0 && level < levels) {
      list->SetDictionary(0, CefDictionaryValue::Create());
      CefRefPtr<CefDictionaryValue> dictionary = list->GetDictionary(0);
      dictionary->SetList("l", CefListValue::Create());
      list = dictionary->GetList("l");
      ++level;
    } else {
      list->SetList(0, CefListValue::Create());
      list = list->GetList(0);
    }
  }
  return message;
}

// Mojo validates 200 struct levels; the argument list is the first, and
// each list or dictionary below it one more.
TEST(TransitLimits, DeepNestingIsRefusedLoudly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (bool dictionaries : {false, true}) {
    EXPECT_DEATH(Deliver(NestedMessage(200, dictionaries)),
                 "more than 200 levels")
        << dictionaries;
    EXPECT_NE(Deliver(NestedMessage(199, dictionaries)), nullptr)
        << dictionaries;
  }
}

// Sizes by hand from Mojo's layout: header 48, parameters 24, the name's
// array 8 + its bytes padded to 8, the argument list's struct 16 and array
// 8 + 16 a value; strings and binaries add 8 + bytes padded to 8, lists 16 +
// 8 + 16 an element, dictionaries 16 + 24 + (8 + 8 a key) + (8 + 16 a value)
// and 8 + bytes padded to 8 for each key.
TEST(TransitLimits, SizeIsMojosEncoding) {
  const auto withArgument = [](const std::function<void(CefListValue&)>& fill,
                               std::string name = "qrx") {
    auto message = CefProcessMessage::Create(name);
    fill(*message->GetArgumentList());
    return message;
  };
  auto emptyKeyed = [](CefListValue& list) {
    auto dictionary = CefDictionaryValue::Create();
    dictionary->SetList("keys", CefListValue::Create());
    dictionary->SetList("values", CefListValue::Create());
    list.SetDictionary(0, dictionary);
  };
  const unsigned char bytes[9] = {};
  const struct {
    const char* name;
    CefRefPtr<CefProcessMessage> message;
    size_t bytes;
  } cases[] = {
      {"empty", withArgument([](CefListValue&) {}), 112},
      {"a 9-byte name", withArgument([](CefListValue&) {}, "abcdefghi"), 120},
      {"int", withArgument([](CefListValue& l) { l.SetInt(0, 1); }), 128},
      {"NULL padding", withArgument([](CefListValue& l) { l.SetSize(3); }),
       160},
      {"empty string",
       withArgument([](CefListValue& l) { l.SetString(0, ""); }), 136},
      {"1-byte string",
       withArgument([](CefListValue& l) { l.SetString(0, "a"); }), 144},
      {"8-byte string",
       withArgument([](CefListValue& l) { l.SetString(0, "abcdefgh"); }), 144},
      {"9-byte string",
       withArgument([](CefListValue& l) { l.SetString(0, "abcdefghi"); }), 152},
      {"5 characters, 9 bytes of UTF-8", withArgument([](CefListValue& l) {
         l.SetString(0, std::u16string(u"\u20ac\u20acabc"));
       }),
       152},
      {"9-byte binary", withArgument([&bytes](CefListValue& l) {
         l.SetBinary(0, CefBinaryValue::Create(bytes, 9));
       }),
       152},
      {"empty list", withArgument([](CefListValue& l) {
         l.SetList(0, CefListValue::Create());
       }),
       152},
      {"empty dictionary", withArgument([](CefListValue& l) {
         l.SetDictionary(0, CefDictionaryValue::Create());
       }),
       184},
      {"empty keyed collection", withArgument(emptyKeyed), 312},
  };
  for (const auto& sizeCase : cases) {
    EXPECT_EQ(cefsim::EncodedMessageBytes(sizeCase.message), sizeCase.bytes)
        << sizeCase.name;
  }
}

// 500,000 empty lists (40 bytes each as Mojo encodes them, 16 as a flat
// per-value estimate would count) beside a binary that brings the message
// to exactly the 128 MiB limit:
//   envelope 48 + 24 + 16, argument list 16 + 8 + 2 * 16,
//   inner list 16 + 8 + 16 * 500,000, its elements 24 * 500,000,
//   binary 8 + its bytes = 20,000,176 + binary bytes.
CefRefPtr<CefProcessMessage> MessageAtLimit(size_t binaryBytes) {
  auto message = CefProcessMessage::Create("qrx");
  auto args = message->GetArgumentList();
  std::vector<unsigned char> data(binaryBytes, 0x5a);
  args->SetBinary(0, CefBinaryValue::Create(data.data(), data.size()));
  auto lists = CefListValue::Create();
  lists->SetSize(500'000);
  for (size_t i = 0; i < 500'000; ++i) {
    lists->SetList(i, CefListValue::Create());
  }
  args->SetList(1, lists);
  return message;
}

TEST(TransitLimits, MessagesPastTheLimitAreRefusedLoudly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  constexpr size_t kLimit = 134'217'728;
  constexpr size_t kFill = kLimit - 20'000'176;
  EXPECT_DEATH(Deliver(MessageAtLimit(kFill + 1)),
               "134217736 bytes in Mojo's encoding.*limit of 134217728");

  auto atLimit = MessageAtLimit(kFill);
  EXPECT_EQ(cefsim::EncodedMessageBytes(atLimit), kLimit);
  auto received = Deliver(atLimit);
  ASSERT_NE(received, nullptr);
  EXPECT_EQ(received->GetArgumentList()->GetBinary(0)->GetSize(), kFill);
  EXPECT_EQ(received->GetArgumentList()->GetList(1)->GetSize(), 500'000u);
}

}  // namespace
