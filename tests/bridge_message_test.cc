#include "bridge/bridge_message.h"

#include <functional>
#include <limits>
#include <string>
#include <variant>

#include "cefsim/transit.h"
#include "cefsim/value_text.h"
#include "gtest/gtest.h"

namespace {

using ListFiller = std::function<void(CefRefPtr<CefListValue>)>;

// A message as the browser delivers it: built, sent, received read-only.
CefRefPtr<CefProcessMessage> Delivered(CefRefPtr<CefProcessMessage> message) {
  std::optional<cefsim::WireMessage> wire =
      cefsim::TakeForSending(std::move(message));
  EXPECT_TRUE(wire.has_value());
  return wire ? cefsim::Receive(*wire) : nullptr;
}

CefRefPtr<CefProcessMessage> Received(const std::string& name,
                                      const ListFiller& fill) {
  CefRefPtr<CefProcessMessage> message = CefProcessMessage::Create(name);
  fill(message->GetArgumentList());
  return Delivered(message);
}

CefRefPtr<CefListValue> ListOf(int value) {
  CefRefPtr<CefListValue> list = CefListValue::Create();
  list->SetInt(0, value);
  return list;
}

struct RejectedCase {
  const char* name;
  std::string messageName;
  ListFiller fill;
};

class RejectedMessageTest : public testing::TestWithParam<RejectedCase> {};

TEST_P(RejectedMessageTest, IsNotABridgeMessage) {
  CefRefPtr<CefProcessMessage> message =
      Received(GetParam().messageName, GetParam().fill);
  ASSERT_TRUE(message);
  EXPECT_FALSE(ParseBridgeMessage(message).has_value())
      << cefsim::MessageText(message);
}

const ListFiller kValidCall = [](CefRefPtr<CefListValue> l) {
  l->SetInt(0, 0);
  l->SetInt(1, 7);
  l->SetString(2, "f");
  l->SetList(3, CefListValue::Create());
};

INSTANTIATE_TEST_SUITE_P(
    Decoder,
    RejectedMessageTest,
    testing::Values(
        RejectedCase{"NameOffByOneCharacter", "qry", kValidCall},
        RejectedCase{"NameLonger", "qrxx", kValidCall},
        RejectedCase{"NameInUpperCase", "QRX", kValidCall},
        RejectedCase{"NameMixedCase", "qRx", kValidCall},
        RejectedCase{"EmptyList", "qrx", [](CefRefPtr<CefListValue>) {}},
        RejectedCase{"DoubleAtIndexZero", "qrx",
                     [](CefRefPtr<CefListValue> l) {
                       l->SetDouble(0, 1.0);
                       l->SetInt(1, 7);
                       l->SetNull(2);
                     }},
        RejectedCase{"StringAtIndexZero", "qrx",
                     [](CefRefPtr<CefListValue> l) {
                       l->SetString(0, "1");
                       l->SetInt(1, 7);
                       l->SetNull(2);
                     }},
        RejectedCase{"NullAtIndexZero", "qrx",
                     [](CefRefPtr<CefListValue> l) { l->SetNull(0); }},
        RejectedCase{"TypeFour", "qrx",
                     [](CefRefPtr<CefListValue> l) {
                       l->SetInt(0, 4);
                       l->SetBool(1, true);
                     }},
        RejectedCase{"TypeMinusOne", "qrx",
                     [](CefRefPtr<CefListValue> l) {
                       l->SetInt(0, -1);
                       l->SetBool(1, true);
                     }},
        RejectedCase{"TypeIntMin", "qrx",
                     [](CefRefPtr<CefListValue> l) {
                       l->SetInt(0, std::numeric_limits<int>::min());
                       l->SetBool(1, true);
                     }},
        RejectedCase{"CallWithThreeEntries", "qrx",
                     [](CefRefPtr<CefListValue> l) {
                       l->SetInt(0, 0);
                       l->SetInt(1, 7);
                       l->SetString(2, "f");
                     }},
        RejectedCase{"CallWithFiveEntries", "qrx",
                     [](CefRefPtr<CefListValue> l) {
                       kValidCall(l);
                       l->SetNull(4);
                     }},
        RejectedCase{"CallIdDouble", "qrx",
                     [](CefRefPtr<CefListValue> l) {
                       kValidCall(l);
                       l->SetDouble(1, 7.0);
                     }},
        RejectedCase{"CallFunctionNotString", "qrx",
                     [](CefRefPtr<CefListValue> l) {
                       kValidCall(l);
                       l->SetInt(2, 5);
                     }},
        RejectedCase{"CallArgumentsNotList", "qrx",
                     [](CefRefPtr<CefListValue> l) {
                       kValidCall(l);
                       l->SetDictionary(3, CefDictionaryValue::Create());
                     }},
        RejectedCase{"CallArgumentsNull", "qrx",
                     [](CefRefPtr<CefListValue> l) {
                       kValidCall(l);
                       l->SetNull(3);
                     }},
        RejectedCase{"ResultWithTwoEntries", "qrx",
                     [](CefRefPtr<CefListValue> l) {
                       l->SetInt(0, 1);
                       l->SetInt(1, 7);
                     }},
        RejectedCase{"ResultWithFourEntries", "qrx",
                     [](CefRefPtr<CefListValue> l) {
                       l->SetInt(0, 1);
                       l->SetInt(1, 7);
                       l->SetInt(2, 1);
                       l->SetInt(3, 1);
                     }},
        RejectedCase{"ResultIdNotInt", "qrx",
                     [](CefRefPtr<CefListValue> l) {
                       l->SetInt(0, 1);
                       l->SetString(1, "7");
                       l->SetInt(2, 1);
                     }},
        RejectedCase{"ErrorWithTwoEntries", "qrx",
                     [](CefRefPtr<CefListValue> l) {
                       l->SetInt(0, 2);
                       l->SetInt(1, 7);
                     }},
        RejectedCase{"ErrorWithFourEntries", "qrx",
                     [](CefRefPtr<CefListValue> l) {
                       l->SetInt(0, 2);
                       l->SetInt(1, 7);
                       l->SetString(2, "boom");
                       l->SetNull(3);
                     }},
        RejectedCase{"ErrorIdNotInt", "qrx",
                     [](CefRefPtr<CefListValue> l) {
                       l->SetInt(0, 2);
                       l->SetBool(1, true);
                       l->SetString(2, "boom");
                     }},
        RejectedCase{"ErrorTextNotString", "qrx",
                     [](CefRefPtr<CefListValue> l) {
                       l->SetInt(0, 2);
                       l->SetInt(1, 7);
                       l->SetInt(2, 3);
                     }},
        RejectedCase{"ErrorTextNull", "qrx",
                     [](CefRefPtr<CefListValue> l) {
                       l->SetInt(0, 2);
                       l->SetInt(1, 7);
                       l->SetNull(2);
                     }},
        RejectedCase{"FocusChangeWithOneEntry", "qrx",
                     [](CefRefPtr<CefListValue> l) { l->SetInt(0, 3); }},
        RejectedCase{"FocusChangeWithThreeEntries", "qrx",
                     [](CefRefPtr<CefListValue> l) {
                       l->SetInt(0, 3);
                       l->SetBool(1, true);
                       l->SetBool(2, true);
                     }},
        RejectedCase{"FocusChangeIntInsteadOfBool", "qrx",
                     [](CefRefPtr<CefListValue> l) {
                       l->SetInt(0, 3);
                       l->SetInt(1, 1);
                     }}),
    [](const testing::TestParamInfo<RejectedCase>& info) {
      return std::string(info.param.name);
    });

TEST(DecoderTest, NullMessageIsRejected) {
  EXPECT_FALSE(ParseBridgeMessage(nullptr).has_value());
}

TEST(DecoderTest, AcceptsCallWithEmptyFunction) {
  CefRefPtr<CefProcessMessage> message = Received("qrx", [](auto l) {
    l->SetInt(0, 0);
    l->SetInt(1, -5);
    l->SetString(2, "");
    l->SetList(3, ListOf(1));
  });
  auto decoded = ParseBridgeMessage(message);
  ASSERT_TRUE(decoded.has_value());
  const auto& call = std::get<CallMessage>(*decoded);
  EXPECT_EQ(call.function, "");
  EXPECT_EQ(call.id, -5);
  EXPECT_EQ(cefsim::ValueText(call.arguments), "[INT 1]");
}

TEST(DecoderTest, AcceptsResultsOfEveryValueType) {
  struct Case {
    const char* name;
    std::function<void(CefRefPtr<CefListValue>)> setValue;
    const char* text;
  };
  const Case cases[] = {
      {"null", [](auto l) { l->SetNull(2); }, "NULL"},
      {"double", [](auto l) { l->SetDouble(2, 2.5); }, "DOUBLE 2.5"},
      {"list", [](auto l) { l->SetList(2, ListOf(3)); }, "LIST [INT 3]"},
      {"dictionary",
       [](auto l) {
         CefRefPtr<CefDictionaryValue> d = CefDictionaryValue::Create();
         d->SetString("k", "v");
         l->SetDictionary(2, d);
       },
       "DICTIONARY {\"k\": STRING \"v\"}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CefRefPtr<CefProcessMessage> message = Received("qrx", [&](auto l) {
      l->SetInt(0, 1);
      l->SetInt(1, 9);
      c.setValue(l);
    });
    auto decoded = ParseBridgeMessage(message);
    ASSERT_TRUE(decoded.has_value());
    const auto& result = std::get<ResultMessage>(*decoded);
    EXPECT_EQ(result.id, 9);
    EXPECT_EQ(cefsim::ValueText(result.value), c.text);
  }
}

TEST(DecoderTest, AlternativeIndexIsTheMessageType) {
  const ListFiller fills[] = {
      kValidCall,
      [](auto l) {
        l->SetInt(0, 1);
        l->SetInt(1, 1);
        l->SetNull(2);
      },
      [](auto l) {
        l->SetInt(0, 2);
        l->SetInt(1, 1);
        l->SetString(2, "e");
      },
      [](auto l) {
        l->SetInt(0, 3);
        l->SetBool(1, false);
      },
  };
  for (size_t type = 0; type < std::size(fills); ++type) {
    auto decoded = ParseBridgeMessage(Received("qrx", fills[type]));
    ASSERT_TRUE(decoded.has_value()) << type;
    EXPECT_EQ(decoded->index(), type);
  }
}

// Every record survives encoding, sending and decoding with its fields.
TEST(RoundTripTest, EveryRecordComesBackEqual) {
  CefRefPtr<CefListValue> arguments = CefListValue::Create();
  arguments->SetInt(0, 1);
  arguments->SetString(1, "x");
  CefRefPtr<CefListValue> nested = CefListValue::Create();
  nested->SetBool(0, true);
  arguments->SetList(2, nested);
  const CallMessage call("ui.toast.show", arguments, 41);

  CefRefPtr<CefProcessMessage> received = Delivered(call.ToProcessMessage());
  auto decoded = ParseBridgeMessage(received);
  ASSERT_TRUE(decoded.has_value());
  const auto& callBack = std::get<CallMessage>(*decoded);
  EXPECT_EQ(callBack.id, 41);
  EXPECT_EQ(callBack.function, "ui.toast.show");
  EXPECT_EQ(cefsim::ValueText(callBack.arguments),
            "[INT 1, STRING \"x\", LIST [BOOL true]]");

  CefRefPtr<CefValue> value = CefValue::Create();
  value->SetList(ListOf(5));
  received = Delivered(ResultMessage{-3, value}.ToProcessMessage());
  decoded = ParseBridgeMessage(received);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(std::get<ResultMessage>(*decoded).id, -3);
  EXPECT_EQ(cefsim::ValueText(std::get<ResultMessage>(*decoded).value),
            "LIST [INT 5]");

  decoded = ParseBridgeMessage(
      Delivered(ErrorMessage{std::numeric_limits<int32_t>::max(), "Ünïcode {}"}
                    .ToProcessMessage()));
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(std::get<ErrorMessage>(*decoded).id,
            std::numeric_limits<int32_t>::max());
  EXPECT_EQ(std::get<ErrorMessage>(*decoded).message.ToString(), "Ünïcode {}");

  for (bool focused : {true, false}) {
    decoded = ParseBridgeMessage(
        Delivered(FocusChangeMessage{focused}.ToProcessMessage()));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(std::get<FocusChangeMessage>(*decoded).elementFocused, focused);
  }
}

TEST(RoundTripTest, WireLayoutOfEachKind) {
  const CallMessage call("f", ListOf(1), 0);
  EXPECT_EQ(cefsim::MessageText(call.ToProcessMessage()),
            "qrx [INT 0, INT 0, STRING \"f\", LIST [INT 1]]");
  EXPECT_EQ(cefsim::MessageText(
                ResultMessage{2, CefValue::Create()}.ToProcessMessage()),
            "qrx [INT 1, INT 2, NULL]");
  EXPECT_EQ(cefsim::MessageText(ErrorMessage{3, "no"}.ToProcessMessage()),
            "qrx [INT 2, INT 3, STRING \"no\"]");
  EXPECT_EQ(cefsim::MessageText(FocusChangeMessage{true}.ToProcessMessage()),
            "qrx [INT 3, BOOL true]");
}

// CEF moves a created list into the message it is stored in; encoding must
// not take the record's arguments or value away with it.
TEST(RoundTripTest, EncodingLeavesTheRecordIntact) {
  const CallMessage call("f", ListOf(1), 0);
  CefRefPtr<CefProcessMessage> first = call.ToProcessMessage();
  ASSERT_TRUE(cefsim::TakeForSending(first).has_value());
  EXPECT_TRUE(call.arguments->IsValid());
  EXPECT_EQ(cefsim::ValueText(call.arguments), "[INT 1]");
  EXPECT_EQ(cefsim::MessageText(call.ToProcessMessage()),
            "qrx [INT 0, INT 0, STRING \"f\", LIST [INT 1]]");

  CefRefPtr<CefValue> value = CefValue::Create();
  value->SetList(ListOf(2));
  const ResultMessage result{1, value};
  ASSERT_TRUE(cefsim::TakeForSending(result.ToProcessMessage()).has_value());
  EXPECT_EQ(cefsim::ValueText(result.value), "LIST [INT 2]");
  EXPECT_EQ(cefsim::MessageText(result.ToProcessMessage()),
            "qrx [INT 1, INT 1, LIST [INT 2]]");
}

// Decoded records refer into the received message, as CEF's Get* do.
TEST(DecoderTest, DecodedContainersLiveOnlyWithTheirMessage) {
  CefRefPtr<CefProcessMessage> message =
      Delivered(CallMessage("f", ListOf(1), 0).ToProcessMessage());
  auto decoded = ParseBridgeMessage(message);
  ASSERT_TRUE(decoded.has_value());
  CefRefPtr<CefListValue> arguments = std::get<CallMessage>(*decoded).arguments;
  EXPECT_TRUE(arguments->IsValid());
  message = nullptr;
  EXPECT_FALSE(arguments->IsValid());
}

// A decoded Call refers into a read-only received message; answering or
// forwarding it must still work.
TEST(RoundTripTest, DecodedRecordReencodesToAnEqualMessage) {
  CefRefPtr<CefProcessMessage> received =
      Delivered(CallMessage("a.b", ListOf(4), 12).ToProcessMessage());
  const std::string before = cefsim::MessageText(received);
  auto decoded = ParseBridgeMessage(received);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(
      cefsim::MessageText(std::get<CallMessage>(*decoded).ToProcessMessage()),
      before);
}

class CallIdTest : public testing::Test {
 protected:
  void SetUp() override { nextCallId = 0; }
  void TearDown() override { nextCallId = 0; }
};

TEST_F(CallIdTest, BuiltCallsNumberFromZero) {
  EXPECT_EQ(CallMessage("a", CefListValue::Create()).id, 0);
  EXPECT_EQ(CallMessage("b", CefListValue::Create()).id, 1);
  EXPECT_EQ(CallMessage("c", CefListValue::Create()).id, 2);
  EXPECT_EQ(nextCallId, 3);
}

TEST_F(CallIdTest, DecodedCallsLeaveTheCounterAlone) {
  CallMessage("a", CefListValue::Create());
  auto decoded = ParseBridgeMessage(
      Delivered(CallMessage("x", ListOf(1), 99).ToProcessMessage()));
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(std::get<CallMessage>(*decoded).id, 99);
  EXPECT_EQ(nextCallId, 1);
}

TEST_F(CallIdTest, WrapsToZeroInsteadOfOverflowing) {
  nextCallId = std::numeric_limits<int32_t>::max();
  EXPECT_EQ(CallMessage("a", CefListValue::Create()).id,
            std::numeric_limits<int32_t>::max());
  EXPECT_EQ(CallMessage("b", CefListValue::Create()).id, 0);
  EXPECT_EQ(CallMessage("c", CefListValue::Create()).id, 1);
}

}  // namespace
