// Values nested past what the page converts: the renderer would put null in
// place of the deepest containers, so the peer library refuses to send them,
// as a Result and as CallPage arguments alike.

#include <string>
#include <vector>

#include "convert/keyed_collection.h"
#include "convert/message_size.h"
#include "peer/peer.h"
#include "peer/value_text.h"
#include "peer/values.h"
#include "tests/peer_test_client.h"

namespace {

using namespace cef_launcher_peer;

// `levels` lists around INT 7.
CefRefPtr<CefValue> Lists(int levels) {
  CefRefPtr<CefValue> value = Int(7);
  for (int i = 0; i < levels; ++i) {
    value = List({value});
  }
  return value;
}

// `objects` plain objects {x: ...} around `inner`.
CefRefPtr<CefValue> Objects(int objects, CefRefPtr<CefValue> inner) {
  CefRefPtr<CefValue> value = inner;
  for (int i = 0; i < objects; ++i) {
    value = Object({{"x", value}});
  }
  return value;
}

// A Map whose only key is `key`.
CefRefPtr<CefValue> MapKeyedBy(CefRefPtr<CefValue> key) {
  return Map({{key, Int(1)}});
}

// A dictionary with one entry `name`.
CefRefPtr<CefValue> DictionaryWith(const std::string& name,
                                   CefRefPtr<CefValue> entry) {
  CefRefPtr<CefDictionaryValue> dictionary = CefDictionaryValue::Create();
  dictionary->SetValue(name, entry);
  CefRefPtr<CefValue> value = CefValue::Create();
  value->SetDictionary(dictionary);
  return value;
}

struct DepthCase {
  const char* what;
  CefRefPtr<CefValue> value;
  int levels;  // as the page counts them: a list 1, an Object or Map 2
};

std::vector<DepthCase> DepthCases() {
  const int bound = kMaxValueNesting;
  return {
      {"scalar", Int(1), 0},
      {"lists at the bound", Lists(bound), bound},
      {"lists one over", Lists(bound + 1), bound + 1},
      {"objects at the bound", Objects(bound / 2, Int(7)), bound},
      {"objects and a list one over", Objects(bound / 2, Lists(1)), bound + 1},
      {"list in objects at the bound", Objects(bound / 2 - 1, Lists(2)), bound},
      {"a Map key at the bound", MapKeyedBy(Lists(bound - 2)), bound},
      {"a Map key one over", MapKeyedBy(Lists(bound - 1)), bound + 1},
  };
}

TEST(IncomingNestingTest, CountsLevelsAsThePageConverts) {
  for (const DepthCase& c : DepthCases()) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(MeasureValue(c.value).incomingNesting, c.levels);
  }
  // Only the keyed form's two lists are converted; the rest of a dictionary
  // never reaches the page, however deep.
  struct Case {
    const char* what;
    CefRefPtr<CefValue> value;
    int levels;
  };
  const std::vector<Case> cases = {
      {"another entry", DictionaryWith("other", Lists(120)), 2},
      {"\"keys\" not a list", DictionaryWith("keys", Objects(60, Int(1))), 2},
      {"\"values\" as a list", DictionaryWith("values", Lists(120)), 121},
      {"far past the channel's bound", Lists(1000), kMaxMessageNesting + 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(MeasureValue(c.value).incomingNesting, c.levels);
  }
}

// The page's view: the levels it received and what it found at the bottom
// (7 when whole, null where the renderer cut). A Map is followed through an
// object key, else its value.
constexpr char kMeasure[] = R"JS(
  window.measure = v => {
    let levels = 0;
    for (;;) {
      if (Array.isArray(v)) { levels += 1; v = v[0]; continue; }
      if (v instanceof Map) {
        levels += 2;
        const [key, value] = [...v][0];
        v = key !== null && typeof key === 'object' ? key : value;
        continue;
      }
      if (v !== null && typeof v === 'object') { levels += 2; v = v.x; continue; }
      return levels + ':' + JSON.stringify(v);
    }
  };
  window.measured = [];
)JS";

TEST_F(PeerLibraryTest, AResultThePageWouldCutIsRefusedAndStaysOpen) {
  CefRefPtr<CefValue> answer;
  std::vector<SendStatus> statuses;
  peer.Handle("deep", [&](const PageCall&, Reply reply) {
    statuses.push_back(reply.Result(answer));
    if (reply.pending()) {
      EXPECT_EQ(reply.Error("refused"), SendStatus::kSent);
    }
  });
  Page(kMeasure);
  for (const DepthCase& c : DepthCases()) {
    SCOPED_TRACE(c.what);
    answer = c.value;
    statuses.clear();
    Page(
        "measured = []; squirrel.call('deep').then(v => measured.push("
        "measure(v)), e => measured.push(e.message));");
    const bool whole = c.levels <= kMaxValueNesting;
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_EQ(statuses[0], whole ? SendStatus::kSent : SendStatus::kTooDeep)
        << SendStatusText(statuses[0]);
    const std::string received = PageJson("measured[0]");
    if (whole) {
      // Every level arrived, down to the scalar.
      EXPECT_EQ(received.substr(1, received.find(':') - 1),
                std::to_string(c.levels));
      EXPECT_EQ(received.find("null"), std::string::npos) << received;
    } else {
      EXPECT_EQ(received, "\"refused\"");
    }
  }
}

TEST_F(PeerLibraryTest, CallPageArgumentsThePageWouldCutAreRefused) {
  Page(kMeasure);
  Page("window.take = (first, v) => measure(v);");
  for (const DepthCase& c : DepthCases()) {
    SCOPED_TRACE(c.what);
    const bool whole = c.levels <= kMaxValueNesting;
    std::vector<PageReply> replies;
    const SendStatus status = peer.CallPage(
        HostFrame(), "take", MakeList({Int(0), c.value}),
        [&](const PageReply& reply) { replies.push_back(reply); });
    EXPECT_EQ(status, whole ? SendStatus::kSent : SendStatus::kTooDeep)
        << SendStatusText(status);
    harness->RunUntilIdle();
    ASSERT_EQ(replies.size(), 1u);
    if (whole) {
      ASSERT_EQ(replies[0].outcome, PageReply::Outcome::kResult);
      const std::string received = ReadString(replies[0].value).value_or("");
      EXPECT_EQ(received.substr(0, received.find(':')),
                std::to_string(c.levels));
      EXPECT_EQ(received.find("null"), std::string::npos) << received;
    } else {
      EXPECT_EQ(replies[0].outcome, PageReply::Outcome::kRefused);
      EXPECT_NE(replies[0].text.find("levels the page converts"),
                std::string::npos)
          << replies[0].text;
    }
  }
  EXPECT_EQ(peer.PendingPageCalls(), 0u);
}

}  // namespace
