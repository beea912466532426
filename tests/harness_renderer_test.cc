// The renderer harness: the order in which it fires the render-process hooks
// around browsers, frames and navigations, focus changes, page tasks and
// per-frame message capture.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cefsim/hook_recorder.h"
#include "cefsim/process_roles.h"
#include "cefsim/renderer_harness.h"
#include "include/cef_v8.h"

namespace {

using cefsim::FocusTarget;
using cefsim::FrameSpec;
using cefsim::FunctionHandler;
using cefsim::HookRecorder;
using cefsim::RendererHarness;
using Events = std::vector<std::string>;

class HarnessTest : public testing::Test {
 protected:
  void SetUp() override {
    app = new HookRecorder();
    harness = std::make_unique<RendererHarness>(app);
  }
  void TearDown() override {
    app->onContextCreated = nullptr;
    app->onContextReleased = nullptr;
    app->onFocusedNodeChanged = nullptr;
    app->onProcessMessageReceived = nullptr;
    harness.reset();
  }

  // Events recorded since the last call.
  Events TakeEvents() {
    Events taken(app->events.begin() + static_cast<long>(consumed),
                 app->events.end());
    consumed = app->events.size();
    return taken;
  }

  CefRefPtr<HookRecorder> app;
  std::unique_ptr<RendererHarness> harness;
  size_t consumed = 0;
};

TEST_F(HarnessTest, OpeningABrowserLoadsFramesTopDown) {
  cefsim::BrowserInfo browser = harness->OpenBrowser(
      {FrameSpec{"main"}, FrameSpec{"left", "https://page.test/l", 0},
       FrameSpec{"inner", "https://page.test/i", 1},
       FrameSpec{"quiet", "https://page.test/q", 0, false}});
  ASSERT_EQ(browser.frameIds.size(), 4u);
  const std::string& main = browser.frameIds[0];
  EXPECT_EQ(TakeEvents(), (Events{"WebKitInitialized", "BrowserCreated 1",
                                  "ContextCreated " + main,
                                  "ContextCreated " + browser.frameIds[1],
                                  "ContextCreated " + browser.frameIds[2]}));
  CefRefPtr<CefBrowser> cefBrowser = harness->Browser(browser.id);
  EXPECT_EQ(cefBrowser->GetFrameCount(), 4u);
  EXPECT_TRUE(cefBrowser->GetMainFrame()->IsMain());
  CefRefPtr<CefFrame> inner = cefBrowser->GetFrameByName("inner");
  ASSERT_TRUE(inner);
  EXPECT_FALSE(inner->IsMain());
  EXPECT_EQ(inner->GetParent()->GetName(), CefString("left"));
  EXPECT_EQ(inner->GetURL(), CefString("https://page.test/i"));
  // Every hand-out is a new wrapper; identifiers are what compares.
  EXPECT_NE(harness->Frame(main).get(), harness->Frame(main).get());
  EXPECT_EQ(cefBrowser->GetMainFrame()->GetIdentifier(), CefString(main));
  EXPECT_TRUE(cefBrowser->IsSame(inner->GetBrowser()));
}

TEST_F(HarnessTest, ContextCreatedArrivesEntered) {
  struct Seen {
    bool inContext = false;
    bool currentIsContext = false;
    bool frameMatches = false;
    bool canCreateObjects = false;
    bool evalWorks = false;
  } seen;
  app->onContextCreated = [&](CefRefPtr<CefBrowser>, CefRefPtr<CefFrame> frame,
                              CefRefPtr<CefV8Context> context) {
    seen.inContext = CefV8Context::InContext();
    seen.currentIsContext = CefV8Context::GetCurrentContext()->IsSame(context);
    seen.frameMatches =
        context->GetFrame()->GetIdentifier() == frame->GetIdentifier();
    CefRefPtr<CefV8Value> object = CefV8Value::CreateObject(nullptr, nullptr);
    seen.canCreateObjects =
        object && context->GetGlobal()->SetValue("installed", object,
                                                 V8_PROPERTY_ATTRIBUTE_NONE);
    CefRefPtr<CefV8Value> retval;
    CefRefPtr<CefV8Exception> exception;
    seen.evalWorks =
        context->Eval("typeof installed", "", 1, retval, exception) &&
        retval->GetStringValue() == CefString("object");
  };
  const std::string frame = harness->OpenBrowser().frameIds[0];
  EXPECT_TRUE(seen.inContext);
  EXPECT_TRUE(seen.currentIsContext);
  EXPECT_TRUE(seen.frameMatches);
  EXPECT_TRUE(seen.canCreateObjects);
  EXPECT_TRUE(seen.evalWorks);
  EXPECT_FALSE(CefV8Context::InContext());
  EXPECT_EQ(
      harness->RunScript(frame, "typeof installed").value->GetStringValue(),
      CefString("object"));
}

TEST_F(HarnessTest, NavigationReleasesChildrenThenTheFrameThenCreates) {
  cefsim::BrowserInfo browser = harness->OpenBrowser(
      {FrameSpec{"main"}, FrameSpec{"child", "https://page.test/c", 0}});
  const std::string& main = browser.frameIds[0];
  const std::string& child = browser.frameIds[1];
  CefRefPtr<CefFrame> childFrame = harness->Frame(child);
  CefRefPtr<CefV8Context> before = harness->Frame(main)->GetV8Context();
  bool childValidWhileReleased = false;
  bool oldValidInsideHook = false;
  app->onContextReleased = [&](CefRefPtr<CefBrowser>, CefRefPtr<CefFrame> frame,
                               CefRefPtr<CefV8Context> context) {
    if (frame->GetIdentifier() == CefString(child)) {
      childValidWhileReleased = frame->IsValid();
    } else {
      oldValidInsideHook = before->IsValid() && context->IsSame(before);
    }
  };
  TakeEvents();
  harness->Navigate(main, "https://page.test/next");
  EXPECT_EQ(TakeEvents(),
            (Events{"ContextReleased " + child, "ContextReleased " + main,
                    "ContextCreated " + main}));
  EXPECT_TRUE(childValidWhileReleased);
  EXPECT_TRUE(oldValidInsideHook);
  EXPECT_FALSE(before->IsValid());
  EXPECT_FALSE(childFrame->IsValid());
  EXPECT_EQ(childFrame->GetV8Context(), nullptr);
  EXPECT_EQ(harness->Browser(browser.id)->GetFrameCount(), 1u);
  EXPECT_EQ(harness->Frame(main)->GetURL(),
            CefString("https://page.test/next"));
  EXPECT_TRUE(harness->Frame(main)->GetV8Context()->IsValid());
}

TEST_F(HarnessTest, ScriptlessFrameGetsItsContextInsideGetV8Context) {
  const std::string frame =
      harness->OpenBrowser({FrameSpec{"main", "https://page.test/", -1, false}})
          .frameIds[0];
  TakeEvents();
  app->events.push_back("before");
  CefRefPtr<CefV8Context> context = harness->Frame(frame)->GetV8Context();
  app->events.push_back("after");
  EXPECT_EQ(TakeEvents(),
            (Events{"before", "ContextCreated " + frame, "after"}));
  EXPECT_TRUE(context->IsValid());
  // A navigation away from a document that had a context makes the next
  // one at commit.
  harness->Navigate(frame, "https://page.test/2");
  EXPECT_EQ(TakeEvents(),
            (Events{"ContextReleased " + frame, "ContextCreated " + frame}));
}

TEST_F(HarnessTest, IsolatedWorldsFireHooksButGetV8ContextIsMainWorld) {
  const std::string frame = harness->OpenBrowser().frameIds[0];
  CefRefPtr<CefV8Context> isolated;
  app->onContextCreated = [&](CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                              CefRefPtr<CefV8Context> context) {
    isolated = context;
  };
  TakeEvents();
  harness->renderer().CreateIsolatedWorld(frame, 1);
  app->onContextCreated = nullptr;
  EXPECT_EQ(TakeEvents(), (Events{"ContextCreated " + frame}));
  ASSERT_TRUE(isolated);
  EXPECT_EQ(isolated->GetFrame()->GetIdentifier(), CefString(frame));
  EXPECT_FALSE(harness->Frame(frame)->GetV8Context()->IsSame(isolated));
  harness->Navigate(frame, "https://page.test/2");
  EXPECT_FALSE(isolated->IsValid());
  EXPECT_EQ(TakeEvents(),
            (Events{"ContextReleased " + frame, "ContextReleased " + frame,
                    "ContextCreated " + frame}));
}

TEST_F(HarnessTest, RemovingAFrameAndClosingTheBrowser) {
  cefsim::BrowserInfo browser = harness->OpenBrowser(
      {FrameSpec{"main"}, FrameSpec{"child", "https://page.test/c", 0}});
  const std::string& child = browser.frameIds[1];
  CefRefPtr<CefFrame> childFrame = harness->Frame(child);
  TakeEvents();
  harness->RemoveFrame(child);
  EXPECT_EQ(TakeEvents(), (Events{"ContextReleased " + child}));
  EXPECT_FALSE(childFrame->IsValid());
  EXPECT_EQ(childFrame->GetName(), CefString());
  EXPECT_EQ(childFrame->GetIdentifier(), CefString(child));

  CefRefPtr<CefBrowser> cefBrowser = harness->Browser(browser.id);
  harness->CloseBrowser(browser.id);
  EXPECT_EQ(TakeEvents(), (Events{"ContextReleased " + browser.frameIds[0],
                                  "BrowserDestroyed 1"}));
  EXPECT_FALSE(cefBrowser->IsValid());
  EXPECT_EQ(cefBrowser->GetMainFrame(), nullptr);
}

TEST_F(HarnessTest, FocusChanges) {
  cefsim::BrowserInfo browser = harness->OpenBrowser(
      {FrameSpec{"main"}, FrameSpec{"child", "https://page.test/c", 0}});
  const std::string& child = browser.frameIds[1];
  struct Call {
    std::string frame;
    bool hasNode = false;
    bool isElement = false;
    std::string tag;
    bool inContext = false;
  };
  std::vector<Call> calls;
  std::vector<CefRefPtr<CefDOMNode>> kept;
  app->onFocusedNodeChanged = [&](CefRefPtr<CefBrowser>,
                                  CefRefPtr<CefFrame> frame,
                                  CefRefPtr<CefDOMNode> node) {
    Call call;
    call.frame = frame->GetIdentifier().ToString();
    call.hasNode = node != nullptr;
    call.isElement = node && node->IsElement();
    call.tag = node ? node->GetElementTagName().ToString() : "";
    call.inContext = CefV8Context::InContext();
    calls.push_back(call);
    kept.push_back(node);
  };
  harness->ChangeFocus(child, FocusTarget::kElement, "INPUT");
  harness->ChangeFocus(child, FocusTarget::kNothing);
  // Focus moved by page script arrives inside that script.
  harness->RunScript(browser.frameIds[0],
                     "document.createElement('textarea').focus()");
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].frame, child);
  EXPECT_TRUE(calls[0].isElement);
  EXPECT_EQ(calls[0].tag, "INPUT");
  EXPECT_FALSE(calls[0].inContext);
  EXPECT_FALSE(calls[1].hasNode);
  EXPECT_EQ(calls[2].frame, browser.frameIds[0]);
  EXPECT_TRUE(calls[2].isElement);
  EXPECT_EQ(calls[2].tag, "TEXTAREA");
  EXPECT_TRUE(calls[2].inContext);
  // Nodes are valid only during the call.
  EXPECT_FALSE(kept[0]->IsElement());
  EXPECT_EQ(kept[0]->GetType(), DOM_NODE_TYPE_UNSUPPORTED);
}

TEST_F(HarnessTest, MessagesAreCapturedPerFrameInOrder) {
  cefsim::BrowserInfo browser = harness->OpenBrowser(
      {FrameSpec{"main"}, FrameSpec{"child", "https://page.test/c", 0}});
  const std::string& main = browser.frameIds[0];
  const std::string& child = browser.frameIds[1];
  // send(n) sends qrx [INT n] through the calling context's frame.
  auto install = [&](const std::string& frame) {
    CefRefPtr<CefV8Context> context = harness->Frame(frame)->GetV8Context();
    ASSERT_TRUE(context->Enter());
    context->GetGlobal()->SetValue(
        "send",
        CefV8Value::CreateFunction(
            "send",
            new FunctionHandler([](const CefString&, CefRefPtr<CefV8Value>,
                                   const CefV8ValueList& arguments,
                                   CefRefPtr<CefV8Value>&, CefString&) {
              CefRefPtr<CefProcessMessage> message =
                  CefProcessMessage::Create("qrx");
              message->GetArgumentList()->SetInt(0,
                                                 arguments[0]->GetIntValue());
              CefV8Context::GetCurrentContext()->GetFrame()->SendProcessMessage(
                  PID_BROWSER, message);
              return true;
            })),
        V8_PROPERTY_ATTRIBUTE_NONE);
    ASSERT_TRUE(context->Exit());
  };
  install(main);
  install(child);
  harness->RunScript(main, "send(1); send(2)");
  harness->RunScript(child, "send(3)");
  harness->RunScript(main, "send(4)");
  EXPECT_EQ(harness->SentMessageTexts(main),
            (Events{"qrx [INT 1]", "qrx [INT 2]", "qrx [INT 4]"}));
  EXPECT_EQ(harness->SentMessageTexts(child), (Events{"qrx [INT 3]"}));
  ASSERT_EQ(harness->SentMessages().size(), 4u);
  EXPECT_EQ(harness->SentMessages()[2].frameId, child);
  for (const cefsim::SentMessage& sent : harness->SentMessages()) {
    EXPECT_TRUE(sent.message->IsReadOnly());
  }
  // A detached frame's sends are dropped after taking the message.
  CefRefPtr<CefFrame> childFrame = harness->Frame(child);
  harness->RemoveFrame(child);
  CefRefPtr<CefProcessMessage> late = CefProcessMessage::Create("qrx");
  childFrame->SendProcessMessage(PID_BROWSER, late);
  EXPECT_FALSE(late->IsValid());
  EXPECT_EQ(harness->SentMessages().size(), 4u);
}

TEST_F(HarnessTest, PageScriptTasksTimersAndMicrotasks) {
  const std::string frame = harness->OpenBrowser().frameIds[0];
  cefsim::ScriptOutcome outcome = harness->RunScript(
      frame,
      "var order = []; setTimeout(() => order.push('late'), 50);"
      "setTimeout((a, b) => order.push('soon ' + a + b), 0, 1, 2);"
      "queueMicrotask(() => order.push('micro'));"
      "Promise.resolve().then(() => order.push('then'));"
      "order.push('sync'); order.length");
  ASSERT_TRUE(outcome.ok);
  EXPECT_EQ(outcome.value->GetIntValue(), 1);
  EXPECT_EQ(harness->RunScript(frame, "order.join()").value->GetStringValue(),
            CefString("sync,micro,then"));
  EXPECT_EQ(harness->RunUntilIdle(), 2);
  EXPECT_EQ(harness->RunScript(frame, "order.join()").value->GetStringValue(),
            CefString("sync,micro,then,soon 12,late"));

  outcome = harness->RunScript(frame, "\nthrow new TypeError('nope')");
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.exception, "Uncaught TypeError: nope");
  EXPECT_EQ(outcome.line, 2);
  harness->RunScript(frame, "console.log('a', 1, {}); undefinedName");
  EXPECT_EQ(
      harness->Console(frame),
      (Events{"error: Uncaught TypeError: nope", "log: a 1 [object Object]",
              "error: Uncaught ReferenceError: undefinedName is not "
              "defined"}));
  EXPECT_TRUE(harness
                  ->RunScript(frame,
                              "window === globalThis && self === "
                              "window && typeof document.title")
                  .value->IsString());
}

TEST_F(HarnessTest, TimersOfAReplacedDocumentNeverFire) {
  const std::string frame = harness->OpenBrowser().frameIds[0];
  harness->RunScript(frame, "setTimeout(() => console.log('fired'), 0)");
  harness->Navigate(frame, "https://page.test/next");
  harness->RunUntilIdle();
  EXPECT_TRUE(harness->Console(frame).empty());
}

TEST_F(HarnessTest, StandaloneContextSharesTheIsolateWithPages) {
  const std::string frame = harness->OpenBrowser().frameIds[0];
  TakeEvents();
  CefRefPtr<CefV8Context> browserSide =
      harness->renderer().NewStandaloneContext();
  EXPECT_TRUE(TakeEvents().empty());
  EXPECT_TRUE(browserSide->IsValid());
  EXPECT_EQ(browserSide->GetFrame(), nullptr);
  CefRefPtr<CefV8Value> retval;
  CefRefPtr<CefV8Exception> exception;
  ASSERT_TRUE(
      browserSide->Eval("({answer: 40 + 2})", "", 1, retval, exception));
  // Its values can go straight into a page's context.
  CefRefPtr<CefV8Context> page = harness->Frame(frame)->GetV8Context();
  ASSERT_TRUE(page->Enter());
  EXPECT_TRUE(page->GetGlobal()->SetValue("fromPeer", retval,
                                          V8_PROPERTY_ATTRIBUTE_NONE));
  ASSERT_TRUE(page->Exit());
  EXPECT_EQ(harness->RunScript(frame, "fromPeer.answer").value->GetIntValue(),
            42);
  harness->Navigate(frame, "https://page.test/next");
  EXPECT_TRUE(browserSide->IsValid());
}

TEST_F(HarnessTest, RunsAsTheRendererRoleOfExecuteProcess) {
  harness.reset();
  std::vector<std::string> seen;
  cefsim::InstallRendererHarnessRole([&](RendererHarness& session) {
    const std::string frame = session.OpenBrowser().frameIds[0];
    seen.push_back(
        session.RunScript(frame, "'ran ' + (1 + 1)").value->GetStringValue());
    return 7;
  });
  std::vector<char*> argv;
  std::string program = "cef-launcher";
  std::string type = "--type=renderer";
  argv.push_back(program.data());
  argv.push_back(type.data());
  CefMainArgs args(static_cast<int>(argv.size()), argv.data());
  CefRefPtr<HookRecorder> roleApp = new HookRecorder();
  EXPECT_EQ(CefExecuteProcess(args, roleApp, nullptr), 7);
  cefsim::SetRendererRole(nullptr);
  cefsim::ResetProcessState();
  EXPECT_EQ(seen, (Events{"ran 2"}));
  ASSERT_GE(roleApp->events.size(), 3u);
  EXPECT_EQ(roleApp->events[0], "WebKitInitialized");
  harness = std::make_unique<RendererHarness>(app);
}

}  // namespace
