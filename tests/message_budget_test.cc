// Page values far past what one message carries, sent both ways the
// program sends them: as the arguments of squirrel.call and as the Result
// of a page function the browser calls. Each message must arrive (the
// channel stops the process on one it refuses), cut where the budget ends
// and using the channel well.

#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "bridge/bridge_message.h"
#include "cefsim/transit.h"
#include "convert/keyed_collection.h"
#include "convert/message_size.h"
#include "gtest/gtest.h"
#include "page_fixture.h"

namespace {

struct BudgetCase {
  const char* name;
  // Script that builds the value.
  const char* value;
  // What it becomes.
  CefValueType type = VTYPE_LIST;
};

const BudgetCase kCases[] = {
    {"4,194,304 empty arrays", "Array.from({length: 4194304}, () => [])"},
    {"1,000,000 empty objects", "Array.from({length: 1000000}, () => ({}))"},
    // Split in two: one array takes at most 4,194,304 elements.
    {"6,000,000 one-character strings",
     "[new Array(4194304).fill('x'), new Array(1805696).fill('x')]"},
    // In this order the budget runs out among the objects.
    {"a mix",
     "({text: 'x'.repeat(40 << 20), buffer: new ArrayBuffer(32 << 20), "
     "strings: new Array(1000000).fill('\\u20ac'), "
     "arrays: Array.from({length: 500000}, () => []), "
     "objects: Array.from({length: 200000}, () => ({})), "
     "maps: new Map(Array.from({length: 100000}, (_, i) => ['k' + i, "
     "new Map()]))})",
     VTYPE_DICTIONARY},
};

// The budget leaves room for the envelope; a message cut by it still fills
// the channel to within that room.
constexpr size_t kWellUsedBytes = kMaxMessageBytes - (64 << 10);

// The last entry of the value's outermost container (a keyed collection's
// values): NULL when the value was cut.
CefValueType LastEntryType(const CefRefPtr<CefValue>& value) {
  CefRefPtr<CefListValue> list;
  if (value->GetType() == VTYPE_LIST) {
    list = value->GetList();
  } else if (value->GetType() == VTYPE_DICTIONARY) {
    list = value->GetDictionary()->GetList(KeyedCollection::kValues);
  }
  return list && list->GetSize() > 0 ? list->GetType(list->GetSize() - 1)
                                     : VTYPE_INVALID;
}

class MessageBudgetTest : public PageTest,
                          public testing::WithParamInterface<BudgetCase> {
 protected:
  // The last message the page's frame sent, as the browser received it.
  CefRefPtr<CefProcessMessage> LastSent() {
    return harness->SentMessages(frame).back();
  }

  void ExpectCutAndWellUsed(const CefRefPtr<CefProcessMessage>& message,
                            const CefRefPtr<CefValue>& value) {
    const size_t channel = cefsim::EncodedMessageBytes(message);
    EXPECT_LE(channel, kMaxMessageBytes);
    EXPECT_GT(channel, kWellUsedBytes);
    EXPECT_TRUE(FitsChannel(MeasureMessage(message)));
    EXPECT_EQ(value->GetType(), GetParam().type);
    EXPECT_EQ(LastEntryType(value), VTYPE_NULL) << "cut at the end";
  }
};

// Both ways, one test each (two such messages at once would double the
// memory a test needs): as the argument of a page call, and as the Result of
// a page function the browser calls.
TEST_P(MessageBudgetTest, SentByTheCallArrivesCut) {
  Run(std::string("globalThis.big = ") + GetParam().value + ";");
  const size_t before = harness->SentMessages(frame).size();
  Run("squirrel.call('f', big);");
  ASSERT_EQ(harness->SentMessages(frame).size(), before + 1);
  Peer().Pump();
  ASSERT_FALSE(Peer().calls().empty());
  const cefsim::BrowserPeer::Call& call = Peer().calls().back();
  EXPECT_EQ(call.function, "f");
  ASSERT_EQ(call.arguments->GetSize(), 1u);
  ExpectCutAndWellUsed(LastSent(), call.arguments->GetValue(0));
}

TEST_P(MessageBudgetTest, ReturnedToTheBrowserArrivesCut) {
  Run(std::string("globalThis.give = () => ") + GetParam().value + ";");
  std::optional<cefsim::PeerReply> reply = Peer().CallPage(frame, "give");
  ASSERT_TRUE(reply.has_value());
  ASSERT_FALSE(reply->isError) << reply->error;
  ExpectCutAndWellUsed(LastSent(), reply->value);
}

std::string CaseName(const testing::TestParamInfo<BudgetCase>& info) {
  std::string name;
  for (const char* c = info.param.name; *c; ++c) {
    if (std::isalnum(static_cast<unsigned char>(*c))) {
      name += *c;
    }
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(PastOneMessage,
                         MessageBudgetTest,
                         testing::ValuesIn(kCases),
                         CaseName);

// The same cuts after one buffer that takes all but 256 KiB of the budget:
// they fall among 40,000 small entries, a fraction of the work above.
std::vector<BudgetCase> CutAfterBufferCases() {
  constexpr size_t kEntries = 40000;
  constexpr size_t kLeft = 256 << 10;
  static const std::string buffer =
      "new ArrayBuffer(" +
      std::to_string(kMaxConvertedBytes - EncodedListBytes(kEntries + 1) -
                     kLeft) +
      ")";
  static const std::string entries =
      "Array.from({length: " + std::to_string(kEntries) + "}, () => ";
  static const std::string arrays =
      "[" + buffer + "].concat(" + entries + "[]))";
  static const std::string objects =
      "[" + buffer + "].concat(" + entries + "({})))";
  static const std::string strings =
      "[" + buffer + "].concat(" + entries + "'x'))";
  // The Maps run out the budget; the list after them no longer fits.
  static const std::string maps = "({buffer: " + buffer + ", maps: " + entries +
                                  "new Map()), rest: " + entries + "0)})";
  return {{"empty arrays", arrays.c_str()},
          {"empty objects", objects.c_str()},
          {"one-character strings", strings.c_str()},
          {"Maps in an object", maps.c_str(), VTYPE_DICTIONARY}};
}

INSTANTIATE_TEST_SUITE_P(CutAfterOneBuffer,
                         MessageBudgetTest,
                         testing::ValuesIn(CutAfterBufferCases()),
                         CaseName);

using ErrorReplyTest = PageTest;

// An Error reply names the segment that failed and the Call's whole path,
// so it can carry a huge segment twice; it must still be one message.
TEST_F(ErrorReplyTest, HugePathsStayWithinOneMessage) {
  const std::string segment(kMaxMessageBytes / 2, 'x');
  std::optional<cefsim::PeerReply> reply =
      Peer().CallPage(frame, "missing." + segment);
  ASSERT_TRUE(reply.has_value());
  ASSERT_TRUE(reply->isError);
  EXPECT_EQ(reply->error.rfind("Object 'xxx", 0), 0u);
  EXPECT_LT(reply->error.size(), 2 * segment.size()) << "cut";
  EXPECT_TRUE(FitsChannel(MeasureMessage(harness->SentMessages(frame).back())));
}

// The channel refuses a message past its limit the other way too: a
// browser that sends one loses the renderer's connection. A Call of "f"
// with one string of n bytes: envelope 48 + 24 + 16, argument list 16 + 8 +
// 4 * 16, "f" 16, the arguments 16 + 8 + 16, the string 8 + n padded to 8:
// 240 + n.
TEST(MessageBudgetChannelTest, BrowserMessagePastTheLimitIsRefused) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto send = [](size_t bytes) {
    CefRefPtr<CefLauncherApplication> application =
        new CefLauncherApplication();
    cefsim::RendererHarness harness(application);
    const std::string frame = harness.OpenBrowser().frameIds.front();
    CefRefPtr<CefListValue> arguments = CefListValue::Create();
    arguments->SetString(0, std::string(bytes, 'x'));
    harness.Peer().SendCall(frame, "f", arguments, 1);
    // The renderer's answer: f is not there, a NULL Result.
    return harness.SentMessageTexts(frame);
  };
  EXPECT_DEATH(send(kMaxMessageBytes - 239), "limit of 134217728");
  EXPECT_EQ(send(kMaxMessageBytes - 240),
            std::vector<std::string>{"qrx [INT 1, INT 1, NULL]"});
}

}  // namespace
