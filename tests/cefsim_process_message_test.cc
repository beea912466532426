// CefProcessMessage and its journey between processes as CEF 130 makes it:
// the sender's message dies on sending, the receiver's is read-only.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>

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

TEST(Transit, NameLosesLoneSurrogates) {
  auto message = CefProcessMessage::Create(std::u16string(u"q\xD800"));
  EXPECT_EQ(message->GetName().ToString16(), u"q\uFFFD");
  EXPECT_EQ(Deliver(message)->GetName().ToString16(), u"q\uFFFD");
}

TEST(TransitLimits, DeepNestingIsRefusedLoudly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto build = [](int depth) {
    auto message = CefProcessMessage::Create("qrx");
    auto list = message->GetArgumentList();
    for (int i = 0; i < depth; ++i) {
      list->SetList(0, CefListValue::Create());
      list = list->GetList(0);
    }
    return message;
  };
  EXPECT_NE(Deliver(build(90)), nullptr);
  EXPECT_DEATH(Deliver(build(150)), "nests lists or dictionaries");
}

}  // namespace
