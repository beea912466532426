// Page code that runs inside the bridge's own CEF calls: the page's error
// listeners, which CEF's verbose TryCatch lets Blink run synchronously when a
// browser Call's function throws, a getter throws in the middle of an
// outgoing conversion or a page setter throws while a Result is built, and a
// Date's valueOf, which CEF runs when it wraps the Date. A page can start a
// new call from there; every call must keep its own id and get its own
// reply.

#include <string>
#include <vector>

#include "bridge/bridge_message.h"
#include "cefsim/peer.h"
#include "convert/keyed_collection.h"
#include "gtest/gtest.h"
#include "page_fixture.h"

namespace {

class ReentrantTest : public PageTest {
 protected:
  std::vector<std::string> Sent() { return harness->SentMessageTexts(frame); }

  std::string Outcomes() {
    CefRefPtr<CefV8Value> value = Run("outcomes.join('|')");
    return value && value->IsString() ? value->GetStringValue().ToString()
                                      : "<not a string>";
  }

  bool Reply(int32_t id, const std::string& text) {
    CefRefPtr<CefValue> value = CefValue::Create();
    value->SetString(text);
    return Peer().Reply(frame, id, cefsim::PeerReply::Result(value));
  }
};

// CEF sends the Call made by the page's onerror before the Error reply to
// the browser's Call, inside the same ExecuteFunction.
TEST_F(ReentrantTest, OnErrorCallsWhileABrowserCallsFunctionThrows) {
  Run(R"JS(
    globalThis.outcomes = [];
    window.onerror = function (message) {
      squirrel.call('reportError', message)
          .then(v => outcomes.push('report ' + v));
    };
    addEventListener('error', event => {
      squirrel.call('logError', event.error.message)
          .then(v => outcomes.push('log ' + v));
    });
    window.ui = {fail() { throw new Error('broken'); }, ok() { return 5; }};
  )JS");

  std::optional<cefsim::PeerReply> failed = Peer().CallPage(frame, "ui.fail");
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->Text(),
            "Error \"Function execution failed in path 'ui.fail'.\"");
  EXPECT_EQ(
      Sent(),
      (std::vector<std::string>{
          "qrx [INT 0, INT 0, STRING \"reportError\", LIST [STRING "
          "\"Uncaught Error: broken\"]]",
          "qrx [INT 0, INT 1, STRING \"logError\", LIST [STRING \"broken\"]]",
          "qrx [INT 2, INT 0, STRING \"Function execution failed in path "
          "'ui.fail'.\"]"}));

  // The page's calls settle by their own ids, in the order of the replies;
  // the browser's next call is answered under its own id.
  EXPECT_TRUE(Reply(1, "logged"));
  EXPECT_TRUE(Reply(0, "reported"));
  EXPECT_EQ(Outcomes(), "log logged|report reported");
  std::optional<cefsim::PeerReply> ok = Peer().CallPage(frame, "ui.ok");
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->Text(), "Result INT 5");
  EXPECT_EQ(Sent().back(), "qrx [INT 1, INT 1, INT 5]");
}

// Each step of answering a browser Call can run the page's error listener:
// walking the path, running the function, converting its result. The
// listener's Call always goes out first, then the one reply, under the
// browser's id.
TEST_F(ReentrantTest, EveryStepOfABrowserCallCanCallBackIntoTheBridge) {
  Run(R"JS(
    window.onerror = function (message) { squirrel.call('seen', message); };
    window.ui = {
      get broken() { throw new Error('on the path'); },
      fail() { throw new Error('in the function'); },
      returnsBad() { return [1, {get x() { throw new Error('in the result'); }}]; },
    };
  )JS");
  struct Case {
    const char* path;
    const char* message;
    const char* reply;  // after "qrx [", with the browser's id
  };
  const Case cases[] = {
      {"ui.broken.x", "on the path",
       "INT 2, INT 0, STRING \"Object 'broken' is not valid in path "
       "'ui.broken.x'.\""},
      {"ui.fail", "in the function",
       "INT 2, INT 1, STRING \"Function execution failed in path "
       "'ui.fail'.\""},
      {"ui.returnsBad", "in the result", "INT 1, INT 2, LIST [INT 1, NULL]"},
  };
  int32_t pageId = 0;
  for (const Case& step : cases) {
    SCOPED_TRACE(step.path);
    const size_t before = Sent().size();
    ASSERT_TRUE(Peer().CallPage(frame, step.path));
    const std::vector<std::string> sent = Sent();
    ASSERT_EQ(sent.size(), before + 2);
    EXPECT_EQ(sent[before], "qrx [INT 0, INT " + std::to_string(pageId++) +
                                ", STRING \"seen\", LIST [STRING \"Uncaught "
                                "Error: " +
                                step.message + "\"]]");
    EXPECT_EQ(sent[before + 1], std::string("qrx [") + step.reply + "]");
  }
}

// A value whose reading runs page code that calls squirrel.call: the inner
// call is sent first and takes the first id; the outer one takes the next,
// with what failed to read as NULL (a whole object, an array's element).
struct NestedCase {
  const char* name;
  const char* setup;     // defines `arg`
  const char* argument;  // the outer call's argument, as sent
};

TEST_F(ReentrantTest, ACallStartedInsideTheConversionOfAnother) {
  const NestedCase cases[] = {
      {"a property getter throws; onerror calls",
       "window.onerror = () => { inner('onerror'); };"
       "globalThis.arg = {before: 1, get bad() { throw new Error('g'); },"
       " after: 2};",
       "NULL"},
      {"an array element's getter throws; a listener calls",
       "addEventListener('error', () => inner('listener'));"
       "globalThis.arg = [1, 2];"
       "Object.defineProperty(arg, 1, {get() { throw new Error('e'); }});",
       "LIST [INT 1, NULL]"},
      {"a Proxy trap throws; onerror calls",
       "window.onerror = () => { inner('proxy'); };"
       "globalThis.arg = [new Proxy({}, {get() { throw new Error('p'); }})];",
       "LIST [NULL]"},
      {"a Date's valueOf calls, nothing throws",
       "globalThis.arg = new Date(0);"
       "arg.valueOf = () => { inner('valueOf'); return 0; };",
       "NULL"},
  };
  for (const NestedCase& nested : cases) {
    SCOPED_TRACE(nested.name);
    // A fresh page per case: one renderer per thread, so the old one goes
    // first.
    harness.reset();
    harness = std::make_unique<cefsim::RendererHarness>(application);
    frame = harness->OpenBrowser().frameIds.front();
    const int32_t firstId = nextCallId;
    Run(std::string(R"JS(
      globalThis.outcomes = [];
      globalThis.inner = from => squirrel.call('inner', from)
          .then(v => outcomes.push('inner ' + v));
    )JS") +
        nested.setup +
        "squirrel.call('outer', arg).then(v => outcomes.push('outer ' + v));");

    const std::vector<std::string> sent = Sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].rfind("qrx [INT 0, INT " + std::to_string(firstId) +
                                ", STRING \"inner\", LIST [STRING ",
                            0),
              0u)
        << sent[0];
    EXPECT_EQ(sent[1], "qrx [INT 0, INT " + std::to_string(firstId + 1) +
                           ", STRING \"outer\", LIST [" + nested.argument +
                           "]]");
    // Replies in the other order still reach the right promises.
    EXPECT_TRUE(Reply(firstId + 1, "O"));
    EXPECT_TRUE(Reply(firstId, "I"));
    EXPECT_EQ(Outcomes(), "outer O|inner I");
  }
}

// An error listener whose own call meets a throwing getter: Blink logs that
// error without dispatching it again, so the page cannot recurse through
// the bridge.
TEST_F(ReentrantTest, AnErrorInsideTheErrorListenerIsNotDispatchedAgain) {
  Run(R"JS(
    globalThis.listenerRuns = 0;
    const throwing = {get bad() { throw new Error('again'); }};
    window.onerror = () => {
      ++listenerRuns;
      squirrel.call('fromListener', throwing);
    };
    squirrel.call('outer', throwing);
  )JS");
  EXPECT_EQ(Run("listenerRuns")->GetIntValue(), 1);
  EXPECT_EQ(Sent(),
            (std::vector<std::string>{
                "qrx [INT 0, INT 0, STRING \"fromListener\", LIST [NULL]]",
                "qrx [INT 0, INT 1, STRING \"outer\", LIST [NULL]]"}));
}

// The incoming side: the program builds a Result's value with CEF calls
// that can meet page setters and page replacements of Map.prototype.set.
// Their errors run onerror inside the reply's handling; the Call it starts
// goes out under a new id and is answered on its own.
TEST_F(ReentrantTest, ACallStartedWhileAResultIsConverted) {
  CefRefPtr<CefListValue> keys = CefListValue::Create();
  keys->SetString(0, "k");
  keys->SetString(1, "j");
  CefRefPtr<CefListValue> values = CefListValue::Create();
  values->SetInt(0, 1);
  values->SetInt(1, 2);
  CefRefPtr<CefDictionaryValue> map = CefDictionaryValue::Create();
  map->SetList(KeyedCollection::kKeys, keys);
  map->SetList(KeyedCollection::kValues, values);
  CefRefPtr<CefDictionaryValue> object = map->Copy(false);
  object->SetBool(KeyedCollection::kIsObject, true);

  struct Case {
    const char* name;
    const char* patch;
    CefRefPtr<CefDictionaryValue> result;
    int failedWrites;   // each one an error event, so a new call
    const char* outer;  // what the outer call's promise got
  };
  const Case cases[] = {
      {"a setter on Object.prototype throws",
       "Object.defineProperty(Object.prototype, 'k', {set() { throw new "
       "Error('setter'); }});",
       object, 1, "outer j"},
      {"Map.prototype.set throws",
       "Map.prototype.set = () => { throw new Error('set'); };", map, 2,
       "outer a Map"},
  };
  for (const Case& incoming : cases) {
    SCOPED_TRACE(incoming.name);
    harness.reset();
    harness = std::make_unique<cefsim::RendererHarness>(application);
    frame = harness->OpenBrowser().frameIds.front();
    const int32_t outerId = nextCallId;
    Run(std::string(R"JS(
      globalThis.outcomes = [];
      const RealMap = Map;
      window.onerror = () => {
        squirrel.call('inner').then(v => outcomes.push('inner ' + v));
      };
      squirrel.call('outer').then(v => outcomes.push('outer ' +
          (v instanceof RealMap ? 'a Map' : Object.keys(v).join())));
    )JS") +
        incoming.patch);
    CefRefPtr<CefValue> value = CefValue::Create();
    value->SetDictionary(incoming.result->Copy(false));
    EXPECT_TRUE(Peer().Reply(frame, outerId, cefsim::PeerReply::Result(value)));

    std::vector<std::string> expected = {"qrx [INT 0, INT " +
                                         std::to_string(outerId) +
                                         ", STRING \"outer\", LIST []]"};
    std::string outcomes = incoming.outer;
    for (int i = 1; i <= incoming.failedWrites; ++i) {
      expected.push_back("qrx [INT 0, INT " + std::to_string(outerId + i) +
                         ", STRING \"inner\", LIST []]");
      outcomes += "|inner I";
    }
    EXPECT_EQ(Sent(), expected);
    for (int i = incoming.failedWrites; i >= 1; --i) {
      EXPECT_TRUE(Reply(outerId + i, "I"));
    }
    EXPECT_EQ(Outcomes(), outcomes);
  }
}

}  // namespace
