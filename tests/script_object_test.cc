#include <string>

#include "bridge/v8_handler.h"
#include "page_fixture.h"

namespace {

using testing::ElementsAre;

class ScriptObjectTest : public PageTest {
 protected:
  void SetUp() override {
    PageTest::SetUp();
    Run("globalThis.log = [];"
        "globalThis.track = (name, p) => p.then("
        "  v => log.push(name + ' resolved ' + describe(v)),"
        "  e => log.push(name + ' rejected ' + describe(e)));");
  }

  std::vector<std::string> Sent() { return harness->SentMessageTexts(frame); }
  std::string Log() { return Describe("log"); }

  bool ReplyResult(int32_t id, CefRefPtr<CefValue> value) {
    return Peer().Reply(frame, id, cefsim::PeerReply::Result(value));
  }
  bool ReplyError(int32_t id, const std::string& text) {
    return Peer().Reply(frame, id, cefsim::PeerReply::Error(text));
  }
};

TEST_F(ScriptObjectTest, CallSendsTheCallAndReturnsAPendingPromise) {
  EXPECT_EQ(Describe("(globalThis.p = squirrel.call('f')) instanceof Promise"),
            "true");
  Run("track('f', p)");
  EXPECT_THAT(Sent(), ElementsAre("qrx [INT 0, INT 0, STRING \"f\", LIST []]"));
  EXPECT_EQ(Log(), "[]");
}

TEST_F(ScriptObjectTest, CallConvertsItsArgumentsInOrder) {
  Run("squirrel.call('f', 1, 'x', [2.5, null], {k: true})");
  EXPECT_THAT(Sent(),
              ElementsAre("qrx [INT 0, INT 0, STRING \"f\", LIST [INT 1, "
                          "STRING \"x\", LIST [DOUBLE 2.5, NULL], DICTIONARY "
                          "{\"keys\": LIST [STRING \"k\"], \"values\": LIST "
                          "[BOOL true]}]]"));
}

TEST_F(ScriptObjectTest, EvalIsACallOfCompilestring) {
  Run("squirrel.eval('return 1 + 1;')");
  EXPECT_THAT(Sent(),
              ElementsAre("qrx [INT 0, INT 0, STRING \"compilestring\", "
                          "LIST [STRING \"return 1 + 1;\"]]"));
}

TEST_F(ScriptObjectTest, ResultResolvesAndThenCodeRuns) {
  Run("track('f', squirrel.call('f'))");
  EXPECT_TRUE(ReplyResult(0, IntValue(5)));
  EXPECT_EQ(Log(), "[\"f resolved number 5\"]");
}

TEST_F(ScriptObjectTest, ErrorRejectsWithExactlyTheText) {
  Run("track('f', squirrel.call('f'))");
  EXPECT_TRUE(ReplyError(0, "the index 'x' does not exist"));
  EXPECT_EQ(Log(),
            "[\"f rejected Error(\\\"the index 'x' does not exist\\\")\"]");
}

TEST_F(ScriptObjectTest, EmptyErrorTextStillRejects) {
  Run("track('f', squirrel.call('f'))");
  EXPECT_TRUE(ReplyError(0, ""));
  EXPECT_EQ(Log(), "[\"f rejected Error(\\\"Unknown error\\\")\"]");
}

TEST_F(ScriptObjectTest, RepliesInEitherOrderSettleOnlyTheirOwnPromise) {
  Run("track('a', squirrel.call('a')); track('b', squirrel.call('b'));");
  EXPECT_TRUE(ReplyError(1, "b failed"));
  EXPECT_TRUE(ReplyResult(0, IntValue(1)));
  EXPECT_EQ(
      Log(),
      "[\"b rejected Error(\\\"b failed\\\")\", \"a resolved number 1\"]");
}

TEST_F(ScriptObjectTest, SecondReplyForTheSameIdChangesNothing) {
  Run("track('f', squirrel.call('f'))");
  EXPECT_TRUE(ReplyResult(0, IntValue(7)));
  EXPECT_FALSE(ReplyError(0, "late"));
  EXPECT_FALSE(ReplyResult(0, IntValue(8)));
  EXPECT_EQ(Log(), "[\"f resolved number 7\"]");
}

TEST_F(ScriptObjectTest, ReplyForAnUnknownIdIsNotHandled) {
  Run("track('f', squirrel.call('f'))");
  EXPECT_FALSE(ReplyResult(5, IntValue(1)));
  EXPECT_FALSE(ReplyError(-1, "x"));
  EXPECT_EQ(Log(), "[]");
  EXPECT_TRUE(ReplyResult(0, IntValue(1)));
}

struct ArgumentErrorCase {
  const char* name;
  const char* call;
  const char* message;
};

class ArgumentErrorTest
    : public ScriptObjectTest,
      public testing::WithParamInterface<ArgumentErrorCase> {};

// The page gets an Error it can catch, nothing is sent and no id is used.
TEST_P(ArgumentErrorTest, ThrowsWithTheExactText) {
  EXPECT_EQ(Describe(std::string("(() => { try { ") + GetParam().call +
                     "; return 'no throw'; } catch (e) { return e; } })()"),
            std::string("Error(\"") + GetParam().message + "\")");
  EXPECT_TRUE(Sent().empty());
  Run("squirrel.call('next')");
  EXPECT_THAT(Sent(),
              ElementsAre("qrx [INT 0, INT 0, STRING \"next\", LIST []]"));
}

INSTANTIATE_TEST_SUITE_P(
    ScriptObject,
    ArgumentErrorTest,
    testing::Values(
        ArgumentErrorCase{"CallWithoutArguments", "squirrel.call()",
                          "First argument of call must be of string type"},
        ArgumentErrorCase{"CallWithNumber", "squirrel.call(5)",
                          "First argument of call must be of string type"},
        ArgumentErrorCase{"CallWithBoxedString",
                          "squirrel.call(new String('f'))",
                          "First argument of call must be of string type"},
        ArgumentErrorCase{"EvalWithoutArguments", "squirrel.eval()",
                          "First argument if eval() must be of string type"},
        ArgumentErrorCase{"EvalWithNumber", "squirrel.eval(1)",
                          "First argument if eval() must be of string type"},
        ArgumentErrorCase{"EvalWithTwoStrings", "squirrel.eval('a', 'b')",
                          "First argument if eval() must be of string type"}),
    [](const testing::TestParamInfo<ArgumentErrorCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(ScriptObjectTest, FailedThenCallSurfacesTheRealError) {
  EXPECT_EQ(Describe("(() => { try { squirrel.call(5).then(() => {}); } "
                     "catch (e) { return e; } })()"),
            "Error(\"First argument of call must be of string type\")");
}

TEST_F(ScriptObjectTest, IdsRunAcrossFramesAndCallAndEval) {
  cefsim::BrowserInfo second = harness->OpenBrowser();
  const std::string other = second.frameIds.front();
  InstallDescribe(other);
  Run("squirrel.call('a')");
  RunIn(other, "squirrel.eval('b')");
  Run("squirrel.call('c')");
  EXPECT_THAT(Sent(), ElementsAre("qrx [INT 0, INT 0, STRING \"a\", LIST []]",
                                  "qrx [INT 0, INT 2, STRING \"c\", LIST []]"));
  EXPECT_THAT(harness->SentMessageTexts(other),
              ElementsAre("qrx [INT 0, INT 1, STRING \"compilestring\", LIST "
                          "[STRING \"b\"]]"));
}

TEST_F(ScriptObjectTest, ChildFramesShareTheSequence) {
  cefsim::FrameSpec child;
  child.name = "child";
  child.parent = 0;
  cefsim::BrowserInfo browser =
      harness->OpenBrowser({cefsim::FrameSpec{}, child});
  Run("squirrel.call('first')");
  RunIn(browser.frameIds[1], "squirrel.call('second')");
  EXPECT_THAT(harness->SentMessageTexts(browser.frameIds[1]),
              ElementsAre("qrx [INT 0, INT 1, STRING \"second\", LIST []]"));
}

TEST_F(ScriptObjectTest, DetachedFunctionWorksLikeTheMethod) {
  Run("const c = squirrel.call; track('d', c('f', 1));");
  EXPECT_THAT(Sent(),
              ElementsAre("qrx [INT 0, INT 0, STRING \"f\", LIST [INT 1]]"));
  EXPECT_TRUE(ReplyResult(0, IntValue(2)));
  EXPECT_EQ(Log(), "[\"d resolved number 2\"]");
}

TEST_F(ScriptObjectTest, ScriptObjectCanBeReplacedByThePage) {
  EXPECT_EQ(Describe("(() => { const d = Object.getOwnPropertyDescriptor("
                     "globalThis, 'squirrel'); return [d.writable, "
                     "d.enumerable, d.configurable]; })()"),
            "[true, true, true]");
  Run("squirrel.call = 1; delete squirrel.eval;");
  EXPECT_EQ(Describe("[squirrel.call, squirrel.eval]"),
            "[number 1, undefined]");
  Run("delete globalThis.squirrel;");
  EXPECT_EQ(Describe("typeof squirrel"), "\"undefined\"");
}

// Page code run while a reply is settled makes calls of its own: the tables
// change in the middle of the receipt.
TEST_F(ScriptObjectTest, CallsStartedWhileSettlingAreNotLostOrDoubled) {
  Run("squirrel.call('first').then(v => {"
      "  log.push('first ' + v);"
      "  track('second', squirrel.call('second'));"
      "  track('third', squirrel.call('third'));"
      "});");
  EXPECT_TRUE(ReplyResult(0, IntValue(1)));
  EXPECT_EQ(Sent().size(), 3u);
  EXPECT_FALSE(ReplyResult(0, IntValue(9)));
  EXPECT_TRUE(ReplyResult(2, IntValue(3)));
  EXPECT_TRUE(ReplyResult(1, IntValue(2)));
  EXPECT_EQ(Log(),
            "[\"first 1\", \"third resolved number 3\", \"second resolved "
            "number 2\"]");
}

// The reply converts inside the frame's context: Maps are the page's own.
TEST_F(ScriptObjectTest, ResultValueIsConvertedForThePage) {
  Run("squirrel.call('f').then(v => log.push(v instanceof Map, v.get('hp')))");
  CefRefPtr<CefDictionaryValue> dictionary = CefDictionaryValue::Create();
  CefRefPtr<CefListValue> keys = CefListValue::Create();
  keys->SetString(0, "hp");
  CefRefPtr<CefListValue> values = CefListValue::Create();
  values->SetInt(0, 80);
  dictionary->SetList("keys", keys);
  dictionary->SetList("values", values);
  CefRefPtr<CefValue> value = CefValue::Create();
  value->SetDictionary(dictionary);
  EXPECT_TRUE(ReplyResult(0, value));
  EXPECT_EQ(Log(), "[true, number 80]");
}

TEST_F(ScriptObjectTest, ReplyAfterNavigationFindsNothing) {
  Run("squirrel.call('f')");
  harness->Navigate(frame, "https://page.test/next");
  InstallDescribe(frame);
  Run("globalThis.log = [];");
  EXPECT_FALSE(ReplyResult(0, IntValue(1)));
  EXPECT_FALSE(ReplyResult(0, IntValue(1)));
  EXPECT_EQ(Describe("log"), "[]");
  // The new page shares the handler and the id sequence.
  Run("squirrel.call('g')");
  EXPECT_EQ(Sent().back(), "qrx [INT 0, INT 1, STRING \"g\", LIST []]");
}

TEST_F(ScriptObjectTest, ErrorAfterNavigationFindsNothingToo) {
  Run("squirrel.call('f')");
  harness->Navigate(frame, "https://page.test/next");
  EXPECT_FALSE(ReplyError(0, "gone"));
  EXPECT_FALSE(ReplyError(0, "gone"));
}

}  // namespace
