// Hostile input that fuzzing reaches slowly: huge paths, reply storms,
// calls stranded by navigation, pages that replace the built-ins the bridge
// uses, page values at the limits, and peers that talk before any script
// context exists. Each case checks that the renderer survives and that what
// it sends is still right.

#include <optional>
#include <string>
#include <vector>

#include "bridge/bridge_message.h"
#include "cefsim/peer.h"
#include "cefsim/value_text.h"
#include "convert/keyed_collection.h"
#include "gtest/gtest.h"
#include "page_fixture.h"

namespace {

// PageTest's live page, with helpers for counting what the frame sent.
class HostileTest : public PageTest {
 protected:
  int RunInt(const std::string& code) {
    CefRefPtr<CefV8Value> value = Run(code);
    return value && value->IsInt() ? value->GetIntValue() : -1;
  }

  std::string RunText(const std::string& code) {
    CefRefPtr<CefV8Value> value = Run(code);
    return value && value->IsString() ? value->GetStringValue().ToString()
                                      : "<not a string>";
  }

  size_t SentCount() { return harness->SentMessages(frame).size(); }

  // Texts of the messages the frame sent from index `from` on.
  std::vector<std::string> SentSince(size_t from) {
    std::vector<std::string> texts = harness->SentMessageTexts(frame);
    return std::vector<std::string>(texts.begin() + from, texts.end());
  }

  bool SendResult(int32_t id, CefRefPtr<CefValue> value = nullptr) {
    return harness->DeliverMessage(frame,
                                   ResultMessage{id, value}.ToProcessMessage());
  }

  // A page call of `function` whose outcome lands in `outcomes`.
  void InstallRecorder() {
    Run(R"JS(
      globalThis.outcomes = [];
      globalThis.record = p => p.then(v => outcomes.push('ok ' + v),
                                      e => outcomes.push('error ' + e.message));
    )JS");
  }
};

// --- Paths -----------------------------------------------------------------

struct PathCase {
  const char* name;
  std::string path;
  // The one reply the Call must get, as text, or a prefix of it.
  std::string replyPrefix;
};

TEST_F(HostileTest, HugePathsGetExactlyOneReply) {
  Run("globalThis.a = {b: 7};");
  std::string manySegments;
  for (int i = 0; i < 100'000; ++i) {
    manySegments += "a.";
  }
  std::string alternating;
  for (int i = 0; i < 50'000; ++i) {
    alternating += i % 2 ? "b." : "a.";
  }
  const PathCase cases[] = {
      {"1 MiB single segment, missing", std::string(1 << 20, 'x'),
       "qrx [INT 1, INT 5, NULL]"},
      {"1 MiB of full stops names the global", std::string(1 << 20, '.'),
       "qrx [INT 1, INT 5, "},
      {"100,000 segments, the second lookup fails", manySegments,
       "qrx [INT 2, INT 5, STRING \"Object 'a' is not valid in path 'a.a.a."},
      {"100,000 segments through a number", alternating,
       "qrx [INT 2, INT 5, STRING \"Object 'a' is not valid in path 'a.b.a."},
  };
  for (const PathCase& pathCase : cases) {
    const size_t before = SentCount();
    harness->Peer().SendCall(frame, pathCase.path, nullptr, 5);
    const std::vector<std::string> sent = SentSince(before);
    ASSERT_EQ(1u, sent.size()) << pathCase.name;
    EXPECT_EQ(pathCase.replyPrefix,
              sent[0].substr(0, pathCase.replyPrefix.size()))
        << pathCase.name;
  }
}

// --- Replies ---------------------------------------------------------------

TEST_F(HostileTest, AStormOfRepliesForUnknownIdsChangesNothing) {
  InstallRecorder();
  Run("record(squirrel.call('f'));");  // id 0 stays pending
  const size_t before = SentCount();
  int handled = 0;
  for (int32_t id = 1; id <= 100'000; ++id) {
    handled += SendResult(id) ? 1 : 0;
  }
  for (int32_t id : {-1, INT32_MIN, INT32_MAX}) {
    handled += harness->DeliverMessage(
                   frame, ErrorMessage{id, "late"}.ToProcessMessage())
                   ? 1
                   : 0;
  }
  EXPECT_EQ(0, handled);
  EXPECT_EQ(before, SentCount()) << "a reply is never answered";
  EXPECT_EQ(0, RunInt("outcomes.length"));

  // The one real call still settles, once.
  CefRefPtr<CefValue> value = CefValue::Create();
  value->SetInt(3);
  EXPECT_TRUE(SendResult(0, value));
  EXPECT_FALSE(SendResult(0, value));
  EXPECT_EQ("ok 3", RunText("outcomes.join()"));
}

TEST_F(HostileTest, CallsStrandedByNavigationGoWithTheirPage) {
  constexpr int kCalls = 100'000;
  Run("for (let i = 0; i < " + std::to_string(kCalls) +
      "; i++) squirrel.call('f', i);");
  ASSERT_EQ(kCalls, nextCallId);
  harness->Navigate(frame, "https://page.test/next");
  InstallRecorder();
  Run("record(squirrel.call('g'));");  // id 100000, in the new page

  // The new page's context creation swept the old page's calls: no old id is
  // known any more, and none settles anything in the new page.
  const size_t before = SentCount();
  int handled = 0;
  for (int32_t id = 0; id < kCalls; ++id) {
    handled += SendResult(id) ? 1 : 0;
  }
  EXPECT_EQ(0, handled);
  int handledAgain = 0;
  for (int32_t id = 0; id < kCalls; ++id) {
    handledAgain += harness->DeliverMessage(
                        frame, ErrorMessage{id, "again"}.ToProcessMessage())
                        ? 1
                        : 0;
  }
  EXPECT_EQ(0, handledAgain);
  EXPECT_EQ(before, SentCount());
  EXPECT_EQ(0, RunInt("outcomes.length"));

  EXPECT_TRUE(harness->DeliverMessage(
      frame, ErrorMessage{kCalls, ""}.ToProcessMessage()));
  EXPECT_EQ("error Unknown error", RunText("outcomes.join()"));
}

// --- Pages that replace what the bridge uses -------------------------------

struct PatchCase {
  const char* name;
  const char* patch;
  // squirrel.call('f', <argument>): the argument list the peer receives.
  const char* argument;
  const char* sentArguments;
};

TEST_F(HostileTest, PagesThatReplaceBuiltInsStillGetWellFormedMessages) {
  const PatchCase cases[] = {
      {"Object.keys throws", "Object.keys = () => { throw 1; };", "{a: 1}",
       "LIST [NULL]"},
      {"Object.keys lies about the length",
       "Object.keys = () => ['a', 'b', 'c'];", "{a: 1}", "LIST [NULL]"},
      {"Object.keys returns no array", "Object.keys = () => 5;", "{a: 1}",
       "LIST [NULL]"},
      {"Array.from throws", "Array.from = () => { throw 1; };",
       "new Map([[1, 2]])", "LIST [NULL]"},
      {"Array.from is not a function", "Array.from = 7;", "new Map([[1, 2]])",
       "LIST [NULL]"},
      {"Map.prototype.keys throws", "Map.prototype.keys = () => { throw 1; };",
       "new Map([[1, 2]])", "LIST [NULL]"},
      {"Map replaced: an old Map still converts", "Map = function Map() {};",
       "oldMap",
       "LIST [DICTIONARY {\"keys\": LIST [INT 1], \"values\": LIST "
       "[INT 2]}]"},
      {"Object replaced", "Object = 5;", "{a: 1}", "LIST [NULL]"},
      {"Array replaced", "Array = undefined;", "new Map([[1, 2]])",
       "LIST [NULL]"},
  };
  for (const PatchCase& patchCase : cases) {
    harness->Navigate(frame, "https://page.test/patched");
    Run("globalThis.oldMap = new Map([[1, 2]]);");
    Run(patchCase.patch);
    const size_t before = SentCount();
    Run(std::string("squirrel.call('f', ") + patchCase.argument + ");");
    const std::vector<std::string> sent = SentSince(before);
    ASSERT_EQ(1u, sent.size()) << patchCase.name;
    EXPECT_NE(std::string::npos, sent[0].find(patchCase.sentArguments))
        << patchCase.name << ": " << sent[0];
  }
}

TEST_F(HostileTest, PagesThatReplaceBuiltInsSurviveIncomingValues) {
  // A Result holding a Map-form and an object-form collection.
  CefRefPtr<CefListValue> keys = CefListValue::Create();
  keys->SetString(0, "k");
  CefRefPtr<CefListValue> values = CefListValue::Create();
  values->SetInt(0, 1);
  CefRefPtr<CefDictionaryValue> map = CefDictionaryValue::Create();
  map->SetList(KeyedCollection::kKeys, keys->Copy());
  map->SetList(KeyedCollection::kValues, values->Copy());
  CefRefPtr<CefDictionaryValue> object = map->Copy(false);
  object->SetBool(KeyedCollection::kIsObject, true);
  CefRefPtr<CefListValue> both = CefListValue::Create();
  both->SetDictionary(0, map);
  both->SetDictionary(1, object);
  CefRefPtr<CefValue> result = CefValue::Create();
  result->SetList(both);

  const struct {
    const char* name;
    const char* patch;
    const char* outcome;
  } cases[] = {
      {"Map.prototype.set throws", "Map.prototype.set = () => { throw 1; };",
       "Map{} {k:1}"},
      {"Map.prototype.set records",
       "Map.prototype.set = function (k, v) { "
       "this.seen = k + '=' + v; };",
       "Map{} {k:1}"},
      {"Map is no constructor", "Map = 5;", "undefined {k:1}"},
      {"Map throws", "Map = function () { throw 1; };", "undefined {k:1}"},
      {"Object.prototype has a setter for k",
       "Object.defineProperty(Object.prototype, 'k', {set() { throw 1; }});",
       "Map{k=1} {}"},
  };
  for (const auto& patchCase : cases) {
    harness->Navigate(frame, "https://page.test/patched");
    InstallRecorder();
    Run("const RealMap = Map; globalThis.show = v => (v instanceof RealMap ? "
        "'Map{' + [...RealMap.prototype.entries.call(v)].map(e => e.join('='))"
        ".join() + '}' : v && typeof v === 'object' ? '{' + "
        "Object.getOwnPropertyNames(v).map(k => k + ':' + v[k]).join() + '}' "
        ": String(v));");
    Run("squirrel.call('f').then(v => outcomes.push(show(v[0]) + ' ' + "
        "show(v[1])), e => outcomes.push('error ' + e));");
    Run(patchCase.patch);
    EXPECT_TRUE(SendResult(nextCallId - 1, result)) << patchCase.name;
    EXPECT_EQ(patchCase.outcome, RunText("outcomes.join()")) << patchCase.name;
  }
}

TEST_F(HostileTest, APageThatReplacesTheScriptObject) {
  InstallRecorder();
  Run("record(squirrel.call('f'));");  // id 0, before the swap
  const struct {
    const char* name;
    const char* swap;
  } cases[] = {
      {"replaced by a plain object",
       "globalThis.squirrel = {call: () => 'fake'};"},
      {"deleted", "delete globalThis.squirrel;"},
      {"made a throwing getter",
       "Object.defineProperty(globalThis, 'squirrel', {get() { throw 1; }, "
       "configurable: true});"},
  };
  int32_t id = 100;
  for (const auto& swapCase : cases) {
    Run(swapCase.swap);
    const size_t before = SentCount();
    harness->Peer().SendCall(frame, "squirrel.call", nullptr, id);
    const std::vector<std::string> sent = SentSince(before);
    ASSERT_EQ(1u, sent.size()) << swapCase.name;
    EXPECT_EQ(0u, sent[0].find("qrx [INT ")) << swapCase.name;
    EXPECT_NE(std::string::npos, sent[0].find("INT " + std::to_string(id)))
        << swapCase.name;
    ++id;
  }
  // The page's own earlier call is unaffected.
  EXPECT_TRUE(SendResult(0));
  EXPECT_EQ("ok null", RunText("outcomes.join()"));
}

// --- Page values at the limits ---------------------------------------------

struct LimitCase {
  const char* name;
  const char* argument;
  // What the argument becomes inside the Call's argument list.
  const char* sent;
};

TEST_F(HostileTest, PageValuesAtTheLimitsReachThePeer) {
  const LimitCase cases[] = {
      {"array longer than the limit",
       "(() => { const a = []; a.length = "
       "4194305; return a; })()",
       "LIST [NULL]"},
      {"array of 2^31 elements",
       "(() => { const a = []; a.length = 2 ** 31; "
       "return a; })()",
       "LIST [NULL]"},
      {"array of 2^32 - 1 elements",
       "(() => { const a = []; a.length = 2 ** "
       "32 - 1; return a; })()",
       "LIST [NULL]"},
      {"array length faked by a Proxy",
       "new Proxy([], {get(t, k) { return k === 'length' ? 2 ** 32 - 1 : "
       "t[k]; }})",
       "LIST [NULL]"},
  };
  for (const LimitCase& limitCase : cases) {
    const size_t before = SentCount();
    Run(std::string("squirrel.call('f', ") + limitCase.argument + ");");
    const std::vector<std::string> sent = SentSince(before);
    ASSERT_EQ(1u, sent.size()) << limitCase.name;
    EXPECT_NE(std::string::npos, sent[0].find(limitCase.sent))
        << limitCase.name << ": " << sent[0].substr(0, 200);
  }
}

// Strings count as the UTF-8 they travel as, and a call's arguments share
// one budget, so no page call makes a message the channel refuses.
TEST_F(HostileTest, LargeArgumentsStayWithinOneMessage) {
  const struct {
    const char* name;
    const char* arguments;
    std::vector<cef_value_type_t> sent;
  } cases[] = {
      {"arguments past the budget together",
       "big, big, big, 1",
       {VTYPE_STRING, VTYPE_STRING, VTYPE_NULL, VTYPE_NULL}},
      {"three bytes a character",
       "big, '\\u20ac'.repeat(30 << 20)",
       {VTYPE_STRING, VTYPE_NULL}},
      {"one byte a character",
       "big, 'x'.repeat(30 << 20)",
       {VTYPE_STRING, VTYPE_STRING}},
  };
  // 50 MiB: two fit in a message, three do not; 30 Mi characters beside it
  // fit as one byte a character, but not as three.
  Run("globalThis.big = 'x'.repeat(50 << 20);");
  for (const auto& sizeCase : cases) {
    Run(std::string("squirrel.call('f', ") + sizeCase.arguments + ");");
    harness->Peer().Pump();
    ASSERT_FALSE(harness->Peer().calls().empty()) << sizeCase.name;
    CefRefPtr<CefListValue> arguments =
        harness->Peer().calls().back().arguments;
    std::vector<cef_value_type_t> types;
    for (size_t i = 0; i < arguments->GetSize(); ++i) {
      types.push_back(arguments->GetType(i));
    }
    EXPECT_EQ(types, sizeCase.sent) << sizeCase.name;
  }

  // The function name shares the budget. With room for the name but not
  // for its argument's slot, the call is refused in page script and nothing
  // is sent; with the slot and 8 bytes to spare, it is sent, but a
  // one-character string (16 bytes more) no longer fits beside the name.
  const size_t before = SentCount();
  EXPECT_EQ(RunText("(() => { try { squirrel.call('f'.repeat(" +
                    std::to_string(kMaxConvertedBytes - 8 - 24) +
                    "), 'x'); } catch (e) { return e.message; } })()"),
            "Function name of call is too long");
  EXPECT_EQ(SentCount(), before);
  Run("squirrel.call('f'.repeat(" +
      std::to_string(kMaxConvertedBytes - 8 - 24 - 16 - 8) + "), 'x');");
  ASSERT_EQ(SentCount(), before + 1);
  harness->Peer().Pump();
  ASSERT_EQ(harness->Peer().calls().back().arguments->GetSize(), 1u);
  EXPECT_EQ(harness->Peer().calls().back().arguments->GetType(0), VTYPE_NULL);
}

// Cycles are cut where they recur, and the message that carries them must
// be one the channel delivers, in both directions.
TEST_F(HostileTest, SelfContainingValuesCrossTheChannel) {
  const char* cycles[] = {
      "(() => { const a = []; a.push(a); return a; })()",
      "(() => { const o = {}; o.self = o; return o; })()",
      "(() => { const m = new Map(); m.set('m', m); return m; })()",
      "(() => { const a = [1]; const o = {a}; a.push(o); return a; })()",
  };
  for (const char* cycle : cycles) {
    const size_t before = SentCount();
    Run(std::string("globalThis.cycle = ") + cycle + ";");
    Run("squirrel.call('f', cycle);");
    harness->Peer().SendCall(frame, "cycle", nullptr, 9);
    EXPECT_EQ(2u, SentSince(before).size()) << cycle;
  }
}

// --- A peer that talks before any script context exists --------------------

TEST_F(HostileTest, APeerThatCallsBeforeAnyContextExists) {
  // A document without script has no context until something asks.
  cefsim::FrameSpec quiet;
  quiet.runsScript = false;
  const std::string silent = harness->OpenBrowser({quiet}).frameIds.front();

  std::vector<std::string> before = harness->SentMessageTexts(silent);
  EXPECT_FALSE(harness->DeliverMessage(
      silent, ResultMessage{0, nullptr}.ToProcessMessage()));
  EXPECT_FALSE(
      harness->DeliverMessage(silent, ErrorMessage{0, "x"}.ToProcessMessage()));
  EXPECT_EQ(before, harness->SentMessageTexts(silent));

  // A Call makes the context and is answered once.
  harness->Peer().SendCall(silent, "missing", nullptr, 4);
  std::vector<std::string> after = harness->SentMessageTexts(silent);
  ASSERT_EQ(before.size() + 1, after.size());
  EXPECT_EQ("qrx [INT 1, INT 4, NULL]", after.back());
}

TEST_F(HostileTest, RepliesBeforeTheFirstContextOfTheProcess) {
  // A fresh renderer whose only frame has never had a context: there is no
  // handler yet, so no reply can be matched.
  harness.reset();
  application = new CefLauncherApplication();
  harness = std::make_unique<cefsim::RendererHarness>(application);
  cefsim::FrameSpec quiet;
  quiet.runsScript = false;
  frame = harness->OpenBrowser({quiet}).frameIds.front();
  for (int32_t id : {0, 1, -1}) {
    EXPECT_FALSE(SendResult(id));
  }
  EXPECT_EQ(0u, SentCount());
}

}  // namespace
