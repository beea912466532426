// One group per trap of CEF 130's V8 integration that the program can meet,
// each checked against real script running in cefsim's V8.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cefsim/hook_recorder.h"
#include "cefsim/renderer_harness.h"
#include "include/cef_v8.h"

namespace {

using cefsim::FunctionHandler;
using cefsim::HookRecorder;
using cefsim::RendererHarness;

class V8Fidelity : public testing::Test {
 protected:
  void SetUp() override {
    app = new HookRecorder();
    harness = std::make_unique<RendererHarness>(app);
    frame = harness->OpenBrowser().frameIds[0];
  }
  void TearDown() override {
    // Hooks capture the test body's locals; closing the browser fires them.
    app->onContextReleased = nullptr;
    app->onProcessMessageReceived = nullptr;
    harness.reset();
  }

  CefRefPtr<CefFrame> Frame() { return harness->Frame(frame); }

  // Runs page script as a task; its completion value.
  CefRefPtr<CefV8Value> Page(const std::string& code) {
    cefsim::ScriptOutcome outcome = harness->RunScript(frame, code);
    EXPECT_TRUE(outcome.ok) << code << ": " << outcome.exception;
    return outcome.value;
  }

  // Evaluates inside the entered context (no task boundary).
  CefRefPtr<CefV8Value> Eval(const CefRefPtr<CefV8Context>& context,
                             const std::string& code) {
    CefRefPtr<CefV8Value> retval;
    CefRefPtr<CefV8Exception> exception;
    EXPECT_TRUE(context->Eval(code, "", 1, retval, exception))
        << code << ": "
        << (exception ? exception->GetMessage().ToString() : "");
    return retval;
  }

  // A Date value's time in ms since 1970, as C++ reads it.
  static int64_t MillisecondsOf(const CefRefPtr<CefV8Value>& date) {
    constexpr int64_t kUnixEpochMicros = 11644473600LL * 1000000LL;
    return date && date->IsDate()
               ? (date->GetDateValue().val - kUnixEpochMicros) / 1000
               : -1;
  }

  // Installs a CEF function on the page's global object.
  void InstallFunction(const std::string& name, FunctionHandler::Body body) {
    CefRefPtr<CefV8Context> context = Frame()->GetV8Context();
    ASSERT_TRUE(context->Enter());
    CefRefPtr<CefV8Value> function =
        CefV8Value::CreateFunction(name, new FunctionHandler(std::move(body)));
    ASSERT_TRUE(function);
    EXPECT_TRUE(context->GetGlobal()->SetValue(name, function,
                                               V8_PROPERTY_ATTRIBUTE_NONE));
    ASSERT_TRUE(context->Exit());
  }

  CefRefPtr<HookRecorder> app;
  std::unique_ptr<RendererHarness> harness;
  std::string frame;
};

// Holds a frame's context entered for a scope, through one wrapper.
class Entered {
 public:
  explicit Entered(CefRefPtr<CefFrame> frame) : context(frame->GetV8Context()) {
    EXPECT_TRUE(context->Enter());
  }
  ~Entered() { EXPECT_TRUE(context->Exit()); }
  CefRefPtr<CefV8Context> context;
};

// Trap 3: CEF's tags, not JS numbers.
TEST_F(V8Fidelity, NumberTagsAreCefsNotJavaScripts) {
  struct Row {
    const char* script;
    bool isInt;
    bool isUInt;
    int32_t intValue;
    uint32_t uintValue;
    double doubleValue;
  };
  const Row rows[] = {
      {"5", true, true, 5, 5u, 5.0},
      {"5.0", true, true, 5, 5u, 5.0},
      {"-0", false, false, 0, 0u, -0.0},
      {"-1", true, false, -1, 0u, -1.0},
      {"-2147483648", true, false, INT32_MIN, 0u, -2147483648.0},
      {"2**31", false, true, 0, 2147483648u, 2147483648.0},
      {"2**32-1", false, true, 0, 4294967295u, 4294967295.0},
      {"2**32", false, false, 0, 0u, 4294967296.0},
      {"1.5", false, false, 0, 0u, 1.5},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.script);
    CefRefPtr<CefV8Value> value = Page(row.script);
    EXPECT_EQ(value->IsInt(), row.isInt);
    EXPECT_EQ(value->IsUInt(), row.isUInt);
    EXPECT_TRUE(value->IsDouble());
    EXPECT_EQ(value->GetIntValue(), row.intValue);
    EXPECT_EQ(value->GetUIntValue(), row.uintValue);
    EXPECT_EQ(value->GetDoubleValue(), row.doubleValue);
    EXPECT_EQ(std::signbit(value->GetDoubleValue()),
              std::signbit(row.doubleValue));
  }
  EXPECT_TRUE(Page("NaN")->IsDouble());
  EXPECT_FALSE(Page("NaN")->IsInt());
}

TEST_F(V8Fidelity, CreatedNumbersKeepTheirTag) {
  EXPECT_FALSE(CefV8Value::CreateDouble(5.0)->IsInt());
  EXPECT_EQ(CefV8Value::CreateDouble(5.0)->GetIntValue(), 0);
  EXPECT_TRUE(CefV8Value::CreateUInt(5)->IsInt());
  EXPECT_FALSE(CefV8Value::CreateInt(-12)->IsUInt());
  EXPECT_FALSE(CefV8Value::CreateUInt(2147483648u)->IsInt());
  EXPECT_FALSE(CefV8Value::CreateInt(5)->IsSame(CefV8Value::CreateUInt(5)));
  EXPECT_FALSE(CefV8Value::CreateInt(5)->IsSame(CefV8Value::CreateDouble(5)));
  EXPECT_TRUE(CefV8Value::CreateInt(5)->IsSame(Page("5")));
  EXPECT_FALSE(
      CefV8Value::CreateDouble(NAN)->IsSame(CefV8Value::CreateDouble(NAN)));
}

// Trap 4: no getter coerces.
TEST_F(V8Fidelity, GettersNeverCoerce) {
  EXPECT_EQ(Page("5")->GetStringValue(), CefString());
  EXPECT_FALSE(Page("1")->GetBoolValue());
  EXPECT_EQ(Page("'7'")->GetIntValue(), 0);
  EXPECT_EQ(Page("true")->GetDoubleValue(), 0.0);
  CefRefPtr<CefV8Value> boxed = Page("new String('s')");
  EXPECT_TRUE(boxed->IsObject());
  EXPECT_FALSE(boxed->IsString());
  EXPECT_EQ(boxed->GetStringValue(), CefString());
  EXPECT_TRUE(Page("''")->IsString());
  EXPECT_EQ(Page("''")->GetStringValue().c_str(), nullptr);
  // UTF-16 code units survive exactly, lone surrogates included.
  EXPECT_EQ(Page("'a\\uD800\\u{1F600}'")->GetStringValue().ToString16(),
            std::u16string(u"a\xD800\U0001F600"));
}

// Trap 5: Dates are not objects; Symbols and BigInts are invalid.
TEST_F(V8Fidelity, DatesAreNotObjectsAndSymbolsAreInvalid) {
  CefRefPtr<CefV8Value> date = Page("new Date(86400000)");
  EXPECT_TRUE(date->IsValid());
  EXPECT_TRUE(date->IsDate());
  EXPECT_FALSE(date->IsObject());
  EXPECT_EQ(date->GetDateValue().val, (11644473600LL + 86400LL) * 1000000LL);
  {
    Entered entered(Frame());
    EXPECT_EQ(date->GetValue("getTime"), nullptr);
  }
  for (const char* script : {"Symbol('s')", "10n"}) {
    SCOPED_TRACE(script);
    CefRefPtr<CefV8Value> value = Page(script);
    ASSERT_TRUE(value);
    EXPECT_FALSE(value->IsValid());
    EXPECT_FALSE(value->IsUndefined());
    EXPECT_FALSE(value->IsObject());
    EXPECT_FALSE(value->IsString());
    EXPECT_FALSE(value->IsDouble());
  }
}

// CEF reads a Date through ToNumber wherever it wraps one, so the page's
// own valueOf or Symbol.toPrimitive runs, and decides the time C++ sees.
TEST_F(V8Fidelity, WrappingADateRunsThePagesConversion) {
  std::vector<int64_t> seenMs;
  InstallFunction("take", [&](const CefString&, CefRefPtr<CefV8Value> object,
                              const CefV8ValueList& arguments,
                              CefRefPtr<CefV8Value>&, CefString&) {
    if (object->IsDate()) {
      seenMs.push_back(MillisecondsOf(object));
    }
    for (const CefRefPtr<CefV8Value>& argument : arguments) {
      seenMs.push_back(argument->IsDate() ? MillisecondsOf(argument) : -1);
    }
    return false;
  });
  Page(R"JS(
    globalThis.calls = [];
    globalThis.byValueOf = new Date(1000);
    byValueOf.valueOf = function () { calls.push('valueOf'); return 5000; };
    globalThis.byPrimitive = new Date(2000);
    // Date.prototype's own is read-only: only a define shadows it.
    Object.defineProperty(byPrimitive, Symbol.toPrimitive, {
      value(hint) {
        calls.push('toPrimitive ' + hint);
        return 7000;
      },
    });
    take(byValueOf, byPrimitive, new Date(3000));
    take.call(byValueOf);
  )JS");
  EXPECT_EQ(seenMs, (std::vector<int64_t>{5000, 7000, 3000, 5000}));
  EXPECT_EQ(Page("calls.join()")->GetStringValue(),
            CefString("valueOf,toPrimitive number,valueOf"));

  // GetValue, ExecuteFunction and Eval results are wrapped the same way.
  Page("calls.length = 0");
  Entered entered(Frame());
  CefRefPtr<CefV8Value> global = entered.context->GetGlobal();
  EXPECT_EQ(MillisecondsOf(global->GetValue("byValueOf")), 5000);
  CefRefPtr<CefV8Value> getter =
      Eval(entered.context, "(function () { return byPrimitive; })");
  EXPECT_EQ(MillisecondsOf(getter->ExecuteFunction(nullptr, {})), 7000);
  EXPECT_EQ(MillisecondsOf(Eval(entered.context, "byValueOf")), 5000);
  EXPECT_EQ(Eval(entered.context, "calls.join()")->GetStringValue(),
            CefString("valueOf,toPrimitive number,valueOf"));
}

// Trap 6: a missing key is a valid undefined; null means something failed.
TEST_F(V8Fidelity, GetValueMissingKeyThrowingGetterAndPrimitiveReceiver) {
  Entered entered(Frame());
  CefRefPtr<CefV8Value> object = Eval(
      entered.context, "({a: 1, get boom() { throw new Error('boom'); }})");
  CefRefPtr<CefV8Value> missing = object->GetValue("missing");
  ASSERT_TRUE(missing);
  EXPECT_TRUE(missing->IsValid());
  EXPECT_TRUE(missing->IsUndefined());
  EXPECT_FALSE(object->HasException());

  EXPECT_EQ(object->GetValue("boom"), nullptr);
  ASSERT_TRUE(object->HasException());
  EXPECT_EQ(object->GetException()->GetMessage(),
            CefString("Uncaught Error: boom"));
  // The next successful operation clears the record.
  EXPECT_EQ(object->GetValue("a")->GetIntValue(), 1);
  EXPECT_FALSE(object->HasException());

  CefRefPtr<CefV8Value> text = Eval(entered.context, "'text'");
  EXPECT_EQ(text->GetValue("length"), nullptr);
  EXPECT_EQ(object->GetValue(-1), nullptr);
  // Index and numeric-string keys are the same property.
  Eval(entered.context, "var arr = ['x', 'y']");
  CefRefPtr<CefV8Value> array = entered.context->GetGlobal()->GetValue("arr");
  EXPECT_EQ(array->GetValue(1)->GetStringValue(), CefString("y"));
  EXPECT_EQ(array->GetValue("1")->GetStringValue(), CefString("y"));
  EXPECT_EQ(array->GetArrayLength(), 2);
}

TEST_F(V8Fidelity, ObjectMethodsNeedACurrentContext) {
  CefRefPtr<CefV8Value> object = Page("({a: 1})");
  ASSERT_FALSE(CefV8Context::InContext());
  EXPECT_EQ(CefV8Context::GetCurrentContext(), nullptr);
  EXPECT_EQ(object->GetValue("a"), nullptr);
  EXPECT_FALSE(object->SetValue("a", CefV8Value::CreateInt(2),
                                V8_PROPERTY_ATTRIBUTE_NONE));
  EXPECT_EQ(CefV8Value::CreateObject(nullptr, nullptr), nullptr);
  EXPECT_EQ(CefV8Value::CreatePromise(), nullptr);
  EXPECT_TRUE(CefV8Value::CreateInt(1));
}

TEST_F(V8Fidelity, SetValueRefusesEmptyAndInvalidValues) {
  Entered entered(Frame());
  CefRefPtr<CefV8Value> object = CefV8Value::CreateObject(nullptr, nullptr);
  EXPECT_FALSE(object->SetValue("k", nullptr, V8_PROPERTY_ATTRIBUTE_NONE));
  EXPECT_FALSE(object->SetValue(0, nullptr));
  EXPECT_FALSE(object->SetValue("k", Eval(entered.context, "Symbol()"),
                                V8_PROPERTY_ATTRIBUTE_NONE));
  EXPECT_FALSE(object->SetValue(-1, CefV8Value::CreateInt(1)));
  EXPECT_FALSE(object->HasValue("k"));
  // NONE is [[Set]]: true on a frozen object, nothing written.
  CefRefPtr<CefV8Value> frozen = Eval(entered.context, "Object.freeze({})");
  EXPECT_TRUE(frozen->SetValue("k", CefV8Value::CreateInt(1),
                               V8_PROPERTY_ATTRIBUTE_NONE));
  EXPECT_FALSE(frozen->HasValue("k"));
  EXPECT_FALSE(frozen->SetValue("k", CefV8Value::CreateInt(1),
                                V8_PROPERTY_ATTRIBUTE_READONLY));
}

// Traps 1 and 2: what page script sees of Execute, and what the handler
// gets as receiver.
TEST_F(V8Fidelity, ExecuteResultAsPageScriptSeesIt) {
  struct Row {
    const char* name;
    bool result;
    const char* exception;
    bool withValue;
    const char* pageSees;
  };
  const Row rows[] = {
      {"true with text throws Error(text)", true, "bad", true,
       "threw Error bad"},
      {"false with text gives undefined", false, "bad", true, "undefined"},
      {"true with a value gives it", true, "", true, "7"},
      {"true without a value gives undefined", true, "", false, "undefined"},
      {"false with a value gives undefined", false, "", true, "undefined"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    InstallFunction(
        "f",
        [&row](const CefString&, CefRefPtr<CefV8Value>, const CefV8ValueList&,
               CefRefPtr<CefV8Value>& retval, CefString& exception) {
          if (row.withValue) {
            retval = CefV8Value::CreateInt(7);
          }
          exception = row.exception;
          return row.result;
        });
    EXPECT_EQ(Page("try { String(f()) } catch (e) {"
                   " 'threw ' + e.constructor.name + ' ' + e.message }")
                  ->GetStringValue(),
              CefString(row.pageSees));
  }
}

TEST_F(V8Fidelity, HandlerReceiverIsNeverUndefinedOrPrimitive) {
  std::vector<CefRefPtr<CefV8Value>> receivers;
  std::vector<size_t> argumentCounts;
  std::vector<std::string> names;
  InstallFunction("f", [&](const CefString& name, CefRefPtr<CefV8Value> object,
                           const CefV8ValueList& arguments,
                           CefRefPtr<CefV8Value>&, CefString&) {
    receivers.push_back(object);
    argumentCounts.push_back(arguments.size());
    names.push_back(name.ToString());
    return false;
  });
  Page(
      "const g = f; g(); f.call(undefined); (function() { 'use strict'; "
      "f(); })(); f.call(5, 1, 2); f.call('s'); new f(); f.call(new "
      "Date(0)); var renamed = {}; renamed.h = f; renamed.h(undefined)");
  ASSERT_EQ(receivers.size(), 8u);
  CefRefPtr<CefV8Value> global = Frame()->GetV8Context()->GetGlobal();
  for (size_t i : {0u, 1u, 2u}) {
    EXPECT_TRUE(receivers[i]->IsSame(global)) << i;
  }
  EXPECT_TRUE(receivers[3]->IsObject());  // a Number object
  EXPECT_TRUE(receivers[4]->IsObject());  // a String object
  EXPECT_EQ(receivers[4]->GetStringValue(), CefString());
  EXPECT_TRUE(receivers[5]->IsObject());  // the new object of `new f()`
  EXPECT_FALSE(receivers[5]->IsSame(global));
  EXPECT_TRUE(receivers[6]->IsDate());
  EXPECT_EQ(argumentCounts, (std::vector<size_t>{0, 0, 0, 2, 0, 0, 0, 1}));
  EXPECT_EQ(names, std::vector<std::string>(8, "f"));
}

TEST_F(V8Fidelity, CreateFunctionRefusalsAndIdentity) {
  Entered entered(Frame());
  CefRefPtr<CefV8Handler> handler = new FunctionHandler(
      [](const CefString&, CefRefPtr<CefV8Value>, const CefV8ValueList&,
         CefRefPtr<CefV8Value>&, CefString&) { return false; });
  EXPECT_EQ(CefV8Value::CreateFunction("", handler), nullptr);
  EXPECT_EQ(CefV8Value::CreateFunction("f", nullptr), nullptr);
  CefRefPtr<CefV8Value> function = CefV8Value::CreateFunction("call", handler);
  EXPECT_TRUE(function->IsFunction());
  EXPECT_TRUE(function->IsUserCreated());
  EXPECT_EQ(function->GetFunctionName(), CefString("call"));
  EXPECT_EQ(function->GetFunctionHandler().get(), handler.get());
  entered.context->GetGlobal()->SetValue("fn", function,
                                         V8_PROPERTY_ATTRIBUTE_NONE);
  EXPECT_EQ(Eval(entered.context,
                 "[typeof fn, fn.name, fn.length, typeof fn.prototype].join()")
                ->GetStringValue(),
            CefString("function,call,0,object"));
  // Each lookup is a new wrapper of the same object.
  CefRefPtr<CefV8Value> again = entered.context->GetGlobal()->GetValue("fn");
  EXPECT_NE(again.get(), function.get());
  EXPECT_TRUE(again->IsSame(function));
  EXPECT_EQ(again->GetFunctionHandler().get(), handler.get());
}

// Trap 7: RejectPromise("") is refused; rejections are Errors.
TEST_F(V8Fidelity, RejectPromiseWithEmptyTextIsRefused) {
  Page("var outcome = 'pending'");
  CefRefPtr<CefV8Value> promise;
  {
    Entered entered(Frame());
    promise = CefV8Value::CreatePromise();
    ASSERT_TRUE(promise->IsPromise());
    EXPECT_TRUE(promise->IsObject());
    EXPECT_FALSE(promise->IsFunction());
    entered.context->GetGlobal()->SetValue("p", promise,
                                           V8_PROPERTY_ATTRIBUTE_NONE);
    Eval(entered.context,
         "p.then(v => { outcome = 'resolved ' + v }, e => { outcome = "
         "'rejected ' + (e instanceof Error) + ' ' + e.message })");
    EXPECT_FALSE(promise->RejectPromise(""));
  }
  EXPECT_EQ(Page("outcome")->GetStringValue(), CefString("pending"));
  {
    Entered entered(Frame());
    EXPECT_TRUE(promise->RejectPromise("no such function"));
    // Settling twice changes nothing and still succeeds.
    EXPECT_TRUE(promise->ResolvePromise(CefV8Value::CreateInt(1)));
  }
  EXPECT_EQ(Page("outcome")->GetStringValue(),
            CefString("rejected true no such function"));
}

// Trap 8: reactions run when the outermost scope closes, not at settle.
TEST_F(V8Fidelity, ThenRunsOnOutermostExitNotInsideResolve) {
  Page("var log = []; var p1, p2");
  CefRefPtr<CefV8Value> first;
  CefRefPtr<CefV8Value> second;
  {
    Entered entered(Frame());
    first = CefV8Value::CreatePromise();
    second = CefV8Value::CreatePromise();
    CefRefPtr<CefV8Value> global = entered.context->GetGlobal();
    global->SetValue("p1", first, V8_PROPERTY_ATTRIBUTE_NONE);
    global->SetValue("p2", second, V8_PROPERTY_ATTRIBUTE_NONE);
    Eval(entered.context,
         "p1.then(v => log.push('p1 ' + v)); p2.then(v => log.push('p2 ' + "
         "v))");
  }
  // As a message handler does it: one wrapper entered around the settle.
  CefRefPtr<CefV8Context> context = Frame()->GetV8Context();
  ASSERT_TRUE(context->Enter());
  EXPECT_TRUE(first->ResolvePromise(CefV8Value::CreateInt(1)));
  CefRefPtr<CefV8Value> log = context->GetGlobal()->GetValue("log");
  EXPECT_EQ(log->GetArrayLength(), 0);
  ASSERT_TRUE(context->Exit());
  {
    Entered entered(Frame());
    EXPECT_EQ(log->GetArrayLength(), 1);
  }

  // Another wrapper still entered around it: only its Exit runs them.
  CefRefPtr<CefV8Context> outer = Frame()->GetV8Context();
  CefRefPtr<CefV8Context> inner = Frame()->GetV8Context();
  ASSERT_TRUE(outer->Enter());
  ASSERT_TRUE(inner->Enter());
  EXPECT_TRUE(second->ResolvePromise(CefV8Value::CreateInt(2)));
  ASSERT_TRUE(inner->Exit());
  EXPECT_EQ(log->GetArrayLength(), 1);
  ASSERT_TRUE(outer->Exit());
  {
    Entered entered(Frame());
    EXPECT_EQ(Eval(entered.context, "log.join()")->GetStringValue(),
              CefString("p1 1,p2 2"));
  }
}

TEST_F(V8Fidelity, ThenAfterResolveInsideExecuteRunsAfterThePageTask) {
  InstallFunction("make", [&](const CefString&, CefRefPtr<CefV8Value>,
                              const CefV8ValueList&,
                              CefRefPtr<CefV8Value>& retval, CefString&) {
    retval = CefV8Value::CreatePromise();
    retval->ResolvePromise(CefV8Value::CreateString("done"));
    return true;
  });
  EXPECT_EQ(Page("var seen = []; make().then(v => seen.push(v)); seen.length")
                ->GetIntValue(),
            0);
  EXPECT_EQ(Page("seen.join()")->GetStringValue(), CefString("done"));
}

// Trap 9: the Enter count belongs to the wrapper object.
TEST_F(V8Fidelity, EnterOnOneWrapperExitOnAnotherFails) {
  ASSERT_FALSE(CefV8Context::InContext());
  EXPECT_TRUE(Frame()->GetV8Context()->Enter());
  EXPECT_FALSE(Frame()->GetV8Context()->Exit());
  EXPECT_TRUE(CefV8Context::InContext());  // V8 stays inside for ever
  ASSERT_FALSE(harness->renderer().Log().empty());
  EXPECT_EQ(harness->renderer().Log().back(),
            "ERROR: CefV8ContextImpl::Exit() without matching call to "
            "CefV8ContextImpl::Enter()");
}

TEST_F(V8Fidelity, NestedEnterOnOneWrapperBalances) {
  CefRefPtr<CefV8Context> context = Frame()->GetV8Context();
  EXPECT_TRUE(context->Enter());
  EXPECT_TRUE(context->Enter());
  EXPECT_TRUE(context->Exit());
  EXPECT_TRUE(CefV8Context::InContext());
  EXPECT_TRUE(context->Exit());
  EXPECT_FALSE(CefV8Context::InContext());
  EXPECT_FALSE(context->Exit());
}

// Trap 14: invalidation happens after OnContextReleased returns.
TEST_F(V8Fidelity, ReleasedContextAndItsObjectsTurnInvalidAfterTheHook) {
  CefRefPtr<CefV8Context> old = Frame()->GetV8Context();
  CefRefPtr<CefV8Value> global;
  CefRefPtr<CefV8Value> function;
  {
    Entered entered(Frame());
    global = entered.context->GetGlobal();
    function = Eval(entered.context, "(function () { return 1; })");
  }
  CefRefPtr<CefV8Value> number = Page("42");

  struct Inside {
    bool valid = false;
    bool inContext = false;
    bool currentIsReleased = false;
    bool frameNull = false;
    bool enter = true;
    bool globalNull = false;
    bool evalOk = true;
    bool globalStillValid = false;
    std::string callError;
  } inside;
  app->onContextReleased = [&](CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                               CefRefPtr<CefV8Context> context) {
    inside.valid = context->IsValid();
    inside.inContext = CefV8Context::InContext();
    inside.currentIsReleased =
        CefV8Context::GetCurrentContext()->IsSame(context);
    inside.frameNull = context->GetFrame() == nullptr;
    inside.enter = context->Enter();
    inside.globalNull = context->GetGlobal() == nullptr;
    CefRefPtr<CefV8Value> retval;
    CefRefPtr<CefV8Exception> exception;
    inside.evalOk = context->Eval("1", "", 1, retval, exception);
    inside.globalStillValid = global->IsValid();
    EXPECT_EQ(function->ExecuteFunction(nullptr, {}), nullptr);
    if (function->HasException()) {
      inside.callError = function->GetException()->GetMessage().ToString();
    }
  };
  harness->Navigate(frame, "https://page.test/next");

  EXPECT_TRUE(inside.valid);
  EXPECT_TRUE(inside.inContext);
  EXPECT_TRUE(inside.currentIsReleased);
  EXPECT_TRUE(inside.frameNull);
  EXPECT_FALSE(inside.enter);
  EXPECT_TRUE(inside.globalNull);
  EXPECT_FALSE(inside.evalOk);
  EXPECT_TRUE(inside.globalStillValid);
  EXPECT_EQ(inside.callError, "Uncaught Error: Script execution is forbidden.");

  EXPECT_FALSE(old->IsValid());
  EXPECT_FALSE(old->Enter());
  EXPECT_FALSE(global->IsValid());
  EXPECT_TRUE(global->IsObject());
  EXPECT_FALSE(function->IsValid());
  EXPECT_TRUE(function->IsFunction());
  EXPECT_TRUE(number->IsValid());
  EXPECT_EQ(number->GetIntValue(), 42);
  CefRefPtr<CefV8Context> fresh = Frame()->GetV8Context();
  EXPECT_TRUE(fresh->IsValid());
  EXPECT_FALSE(fresh->IsSame(old));
  Entered entered(Frame());
  EXPECT_EQ(global->GetValue("window"), nullptr);
  EXPECT_EQ(function->ExecuteFunction(nullptr, {}), nullptr);
}

// Trap 20: a function of a released context still reaches its handler,
// with valid-looking wrappers and no frame.
TEST_F(V8Fidelity, HandlerStillRunsForAFunctionOfAReleasedContext) {
  const std::string child =
      harness->AddFrame(frame, cefsim::FrameSpec{"child"});
  struct Seen {
    int calls = 0;
    bool contextValid = false;
    bool frameNull = false;
    bool argumentValid = false;
  } seen;
  CefRefPtr<CefV8Handler> handler =
      new FunctionHandler([&seen](const CefString&, CefRefPtr<CefV8Value>,
                                  const CefV8ValueList& arguments,
                                  CefRefPtr<CefV8Value>& retval, CefString&) {
        ++seen.calls;
        CefRefPtr<CefV8Context> current = CefV8Context::GetCurrentContext();
        seen.contextValid = current->IsValid();
        seen.frameNull = current->GetFrame() == nullptr;
        seen.argumentValid = !arguments.empty() && arguments[0]->IsValid();
        retval = CefV8Value::CreateString("still here");
        return true;
      });
  CefRefPtr<CefV8Value> function;
  {
    Entered entered(harness->Frame(child));
    function = CefV8Value::CreateFunction("late", handler);
  }
  {
    Entered entered(Frame());
    entered.context->GetGlobal()->SetValue("late", function,
                                           V8_PROPERTY_ATTRIBUTE_NONE);
  }
  harness->RemoveFrame(child);
  EXPECT_EQ(Page("late({})")->GetStringValue(), CefString("still here"));
  EXPECT_EQ(seen.calls, 1);
  EXPECT_TRUE(seen.contextValid);
  EXPECT_TRUE(seen.frameNull);
  EXPECT_TRUE(seen.argumentValid);
}

// Trap 15: binding follows the context current when the wrapper is made.
TEST_F(V8Fidelity, WrapperIsBoundToTheContextCurrentAtWrapTime) {
  const std::string child =
      harness->AddFrame(frame, cefsim::FrameSpec{"child"});
  CefRefPtr<CefV8Value> inMain;
  {
    Entered entered(Frame());
    inMain = Eval(entered.context, "var shared = {x: 1}; shared");
  }
  CefRefPtr<CefV8Value> inChild;
  {
    Entered entered(harness->Frame(child));
    entered.context->GetGlobal()->SetValue("shared", inMain,
                                           V8_PROPERTY_ATTRIBUTE_NONE);
    inChild = entered.context->GetGlobal()->GetValue("shared");
    EXPECT_TRUE(inChild->IsSame(inMain));
  }
  harness->RemoveFrame(child);
  EXPECT_FALSE(inChild->IsValid());
  EXPECT_TRUE(inMain->IsValid());
}

// Traps 10 and 11: ExecuteFunction's refusals.
TEST_F(V8Fidelity, ExecuteFunctionRefusals) {
  Page(
      "var calls = 0; function count(fail) { calls++; if (fail) throw new "
      "Error('failed'); return calls; }");
  Entered entered(Frame());
  CefRefPtr<CefV8Value> count = entered.context->GetGlobal()->GetValue("count");
  // A stale exception from an earlier call...
  EXPECT_EQ(count->ExecuteFunction(nullptr, {CefV8Value::CreateBool(true)}),
            nullptr);
  ASSERT_TRUE(count->HasException());
  struct Row {
    const char* name;
    CefRefPtr<CefV8Value> object;
    CefV8ValueList arguments;
  };
  const Row rows[] = {
      {"a null argument", nullptr, {CefV8Value::CreateInt(1), nullptr}},
      {"a Symbol argument", nullptr, {Eval(entered.context, "Symbol()")}},
      {"an undefined receiver", CefV8Value::CreateUndefined(), {}},
      {"a null receiver", CefV8Value::CreateNull(), {}},
      {"a number receiver", CefV8Value::CreateInt(3), {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(count->ExecuteFunction(row.object, row.arguments), nullptr);
    // ...survives a refused call: guards leave the record alone.
    EXPECT_TRUE(count->HasException());
  }
  EXPECT_EQ(Eval(entered.context, "calls")->GetIntValue(), 1);
  EXPECT_EQ(count->ExecuteFunctionWithContext(nullptr, nullptr, {}), nullptr);
  EXPECT_EQ(Page("1")->ExecuteFunction(nullptr, {}), nullptr);

  CefRefPtr<CefV8Value> result = count->ExecuteFunction(nullptr, {});
  ASSERT_TRUE(result);
  EXPECT_EQ(result->GetIntValue(), 2);
  EXPECT_FALSE(count->HasException());
}

TEST_F(V8Fidelity, ExecuteFunctionNullObjectMeansGlobalEvenWhenStrict) {
  Entered entered(Frame());
  CefRefPtr<CefV8Value> strict =
      Eval(entered.context,
           "(function () { 'use strict'; return this === window; })");
  EXPECT_TRUE(strict->ExecuteFunction(nullptr, {})->GetBoolValue());
  CefRefPtr<CefV8Value> returnsNothing =
      Eval(entered.context, "(function () {})");
  CefRefPtr<CefV8Value> undefinedResult =
      returnsNothing->ExecuteFunction(nullptr, {});
  ASSERT_TRUE(undefinedResult);
  EXPECT_TRUE(undefinedResult->IsUndefined());
}

// Trap 12: exceptions are recorded on the wrapper the call was made on.
TEST_F(V8Fidelity, ExceptionsAreRecordedPerWrapper) {
  Page("function thrower() { throw new Error('My error'); }");
  Entered entered(Frame());
  CefRefPtr<CefV8Value> first =
      entered.context->GetGlobal()->GetValue("thrower");
  CefRefPtr<CefV8Value> second =
      entered.context->GetGlobal()->GetValue("thrower");
  EXPECT_EQ(first->ExecuteFunction(nullptr, {}), nullptr);
  ASSERT_TRUE(first->HasException());
  EXPECT_EQ(first->GetException()->GetMessage(),
            CefString("Uncaught Error: My error"));
  EXPECT_FALSE(second->HasException());
  EXPECT_TRUE(first->ClearException());
  EXPECT_FALSE(first->HasException());
  // Trap 24: caught for the caller, yet also reported as uncaught.
  EXPECT_EQ(harness->Console(frame),
            std::vector<std::string>{"error: Uncaught Error: My error"});
}

// Trap 13: Eval's out-parameters.
TEST_F(V8Fidelity, EvalOutParametersAndLineNumbers) {
  CefRefPtr<CefV8Context> context = Frame()->GetV8Context();
  CefRefPtr<CefV8Value> retval = CefV8Value::CreateInt(-1);
  CefRefPtr<CefV8Exception> exception;
  EXPECT_FALSE(context->Eval("", "", 1, retval, exception));
  ASSERT_TRUE(retval);  // untouched
  EXPECT_EQ(retval->GetIntValue(), -1);

  EXPECT_TRUE(context->Eval("var declared = 1", "", 1, retval, exception));
  ASSERT_TRUE(retval);
  EXPECT_TRUE(retval->IsUndefined());
  EXPECT_EQ(exception, nullptr);

  EXPECT_FALSE(context->Eval("\n\n\n1+foo", "https://page.test/x.js", 0, retval,
                             exception));
  EXPECT_EQ(retval, nullptr);
  ASSERT_TRUE(exception);
  EXPECT_EQ(exception->GetMessage(),
            CefString("Uncaught ReferenceError: foo is not defined"));
  EXPECT_EQ(exception->GetLineNumber(), 4);
  EXPECT_EQ(exception->GetScriptResourceName(),
            CefString("https://page.test/x.js"));
  // Eval errors are not reported as uncaught.
  EXPECT_TRUE(harness->Console(frame).empty());
  EXPECT_FALSE(CefV8Context::InContext());
}

TEST_F(V8Fidelity, ArrayBufferWithCopy) {
  Entered entered(Frame());
  char bytes[] = {'a', 'b', 'c'};
  CefRefPtr<CefV8Value> buffer =
      CefV8Value::CreateArrayBufferWithCopy(bytes, sizeof bytes);
  ASSERT_TRUE(buffer);
  bytes[1] = 'x';
  EXPECT_TRUE(buffer->IsArrayBuffer());
  EXPECT_EQ(buffer->GetArrayBufferByteLength(), 3u);
  ASSERT_NE(buffer->GetArrayBufferData(), nullptr);
  EXPECT_EQ(std::memcmp(buffer->GetArrayBufferData(), "abc", 3), 0);
  entered.context->GetGlobal()->SetValue("buf", buffer,
                                         V8_PROPERTY_ATTRIBUTE_NONE);
  EXPECT_EQ(Eval(entered.context, "new Uint8Array(buf)[1]")->GetIntValue(),
            'b');
  CefRefPtr<CefV8Value> empty =
      CefV8Value::CreateArrayBufferWithCopy(nullptr, 0);
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->GetArrayBufferByteLength(), 0u);
  EXPECT_EQ(Eval(entered.context, "({})")->GetArrayBufferByteLength(), 0u);
}

TEST_F(V8Fidelity, CreateArrayIsHoley) {
  Entered entered(Frame());
  CefRefPtr<CefV8Value> array = CefV8Value::CreateArray(3);
  EXPECT_TRUE(array->IsArray());
  EXPECT_EQ(array->GetArrayLength(), 3);
  EXPECT_FALSE(array->HasValue(0));
  EXPECT_EQ(CefV8Value::CreateArray(-5)->GetArrayLength(), 0);
  std::vector<CefString> keys = {"kept"};
  Eval(entered.context,
       "var keyed = Object.create({inherited: 1}); keyed.b = "
       "1; keyed[2] = 1; keyed.a = 1; keyed");
  EXPECT_TRUE(entered.context->GetGlobal()->GetValue("keyed")->GetKeys(keys));
  EXPECT_EQ(keys, (std::vector<CefString>{"kept", "2", "b", "a", "inherited"}));
}

// Trap 17, sending side: the message is consumed.
TEST_F(V8Fidelity, SendProcessMessageInvalidatesTheMessage) {
  CefRefPtr<CefProcessMessage> message = CefProcessMessage::Create("qrx");
  CefRefPtr<CefListValue> arguments = message->GetArgumentList();
  arguments->SetInt(0, 3);
  arguments->SetBool(1, true);
  // The target is ignored in release builds: it goes to the browser.
  Frame()->SendProcessMessage(PID_RENDERER, message);
  EXPECT_FALSE(message->IsValid());
  EXPECT_FALSE(arguments->IsValid());
  EXPECT_FALSE(message->IsReadOnly());
  EXPECT_EQ(message->GetName(), CefString("qrx"));
  Frame()->SendProcessMessage(PID_BROWSER, message);  // silently dropped
  EXPECT_EQ(harness->SentMessageTexts(frame),
            std::vector<std::string>{"qrx [INT 3, BOOL true]"});
  ASSERT_EQ(harness->SentMessages(frame).size(), 1u);
  EXPECT_TRUE(harness->SentMessages(frame)[0]->IsReadOnly());
}

// Trap 17, receiving side.
TEST_F(V8Fidelity, ReceivedMessagesAreReadOnlyWithNoContext) {
  struct Seen {
    bool readOnly = false;
    bool listReadOnly = false;
    bool setterWorked = true;
    bool inContext = true;
    CefProcessId source = PID_RENDERER;
  } seen;
  app->onProcessMessageReceived = [&](CefRefPtr<CefBrowser>,
                                      CefRefPtr<CefFrame>, CefProcessId source,
                                      CefRefPtr<CefProcessMessage> message) {
    seen.readOnly = message->IsReadOnly();
    seen.listReadOnly = message->GetArgumentList()->IsReadOnly();
    seen.setterWorked = message->GetArgumentList()->SetInt(0, 9);
    seen.inContext = CefV8Context::InContext();
    seen.source = source;
    return true;
  };
  CefRefPtr<CefProcessMessage> message = CefProcessMessage::Create("qrx");
  message->GetArgumentList()->SetInt(0, 1);
  EXPECT_TRUE(harness->DeliverMessage(frame, message));
  EXPECT_FALSE(message->IsValid());  // the browser side sent it away
  EXPECT_TRUE(seen.readOnly);
  EXPECT_TRUE(seen.listReadOnly);
  EXPECT_FALSE(seen.setterWorked);
  EXPECT_FALSE(seen.inContext);
  EXPECT_EQ(seen.source, PID_BROWSER);
  EXPECT_EQ(app->events.back(),
            "ProcessMessageReceived " + frame + " qrx [INT 1]");
}

// Trap 25: nothing works off the render main thread.
TEST_F(V8Fidelity, NothingWorksOffTheRenderThread) {
  CefRefPtr<CefV8Value> text = Page("'s'");
  CefRefPtr<CefFrame> mainFrame = Frame();
  bool isString = true;
  bool created = true;
  bool context = true;
  std::thread other([&] {
    isString = text->IsString();
    created = CefV8Value::CreateInt(1) != nullptr;
    context = mainFrame->GetV8Context() != nullptr;
  });
  other.join();
  EXPECT_FALSE(isString);
  EXPECT_FALSE(created);
  EXPECT_FALSE(context);
  EXPECT_TRUE(text->IsString());
}

// Trap 24: what CEF's verbose TryCatch catches for the caller is reported
// too, and Blink turns the report into the page's error event, dispatched
// inside the CEF call; Eval's errors are not reported.
TEST_F(V8Fidelity, CaughtExceptionsReachThePagesErrorListeners) {
  Page(R"JS(
    globalThis.seen = [];
    window.onerror = function (message, source, line, column, error) {
      seen.push('onerror ' + message + ' @' + line + ':' + column + ' ' +
                (error instanceof Error) + ' ' + (this === window));
    };
    globalThis.listener = function (event) {
      seen.push('listener ' + event.type + ' ' + event.message + ' ' +
                event.error.message + ' ' + event.lineno);
    };
    addEventListener('error', listener);
    addEventListener('error', listener);  // kept once
    globalThis.thrower = function () {
      throw new Error('from call');
    };
    globalThis.target = {
      get boom() { throw new Error('from getter'); },
      set boom(v) { throw new Error('from setter'); },
    };
  )JS");
  Entered entered(Frame());
  CefRefPtr<CefV8Value> global = entered.context->GetGlobal();
  CefRefPtr<CefV8Value> target = global->GetValue("target");
  struct Row {
    const char* name;
    std::function<void()> call;
    std::vector<std::string> seen;
  };
  const Row rows[] = {
      {"ExecuteFunction",
       [&] {
         EXPECT_EQ(global->GetValue("thrower")->ExecuteFunction(nullptr, {}),
                   nullptr);
       },
       {"onerror Uncaught Error: from call @14:7 true true",
        "listener error Uncaught Error: from call from call 14"}},
      {"GetValue through a getter",
       [&] { EXPECT_EQ(target->GetValue("boom"), nullptr); },
       {"onerror Uncaught Error: from getter @17:20 true true",
        "listener error Uncaught Error: from getter from getter 17"}},
      {"SetValue through a setter",
       [&] {
         EXPECT_FALSE(target->SetValue("boom", CefV8Value::CreateInt(1),
                                       V8_PROPERTY_ATTRIBUTE_NONE));
       },
       {"onerror Uncaught Error: from setter @18:21 true true",
        "listener error Uncaught Error: from setter from setter 18"}},
      {"Eval does not report",
       [&] {
         CefRefPtr<CefV8Value> retval;
         CefRefPtr<CefV8Exception> exception;
         EXPECT_FALSE(entered.context->Eval("throw new Error('in eval')", "", 1,
                                            retval, exception));
       },
       {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Eval(entered.context, "seen.length = 0");
    row.call();
    // Read before any task or checkpoint: the listeners ran inside the call.
    std::vector<std::string> seen;
    CefRefPtr<CefV8Value> list = global->GetValue("seen");
    for (int i = 0; i < list->GetArrayLength(); ++i) {
      seen.push_back(list->GetValue(i)->GetStringValue().ToString());
    }
    EXPECT_EQ(seen, row.seen);
  }

  // A listener's own error is logged (before the error it handled), never
  // dispatched again; removed listeners and a cleared handler no longer
  // run.
  Eval(entered.context, R"JS(
    seen.length = 0;
    removeEventListener('error', listener);
    window.onerror = function (message) {
      seen.push('once ' + message);
      throw new Error('from the handler');
    };
  )JS");
  global->GetValue("thrower")->ExecuteFunction(nullptr, {});
  EXPECT_EQ(Eval(entered.context, "seen.join('|')")->GetStringValue(),
            CefString("once Uncaught Error: from call"));
  EXPECT_EQ(Eval(entered.context, "window.onerror = null; onerror")->IsNull(),
            true);
  global->GetValue("thrower")->ExecuteFunction(nullptr, {});
  EXPECT_EQ(Eval(entered.context, "seen.length")->GetIntValue(), 1);
  const std::vector<std::string> console = harness->Console(frame);
  ASSERT_GE(console.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(console.end() - 3, console.end()),
            (std::vector<std::string>{"error: Uncaught Error: from the handler",
                                      "error: Uncaught Error: from call",
                                      "error: Uncaught Error: from call"}));
}

// A promise rejected with no handler is reported later, as a task of its
// own, and not at all if a handler comes first.
TEST_F(V8Fidelity, UnhandledRejectionFiresLaterAsATask) {
  Page(R"JS(
    globalThis.rejections = [];
    addEventListener('unhandledrejection', event => rejections.push(
        event.type + ' ' + event.reason.message + ' ' +
        (event.promise instanceof Promise)));
    window.onunhandledrejection = event => rejections.push('handler');
  )JS");
  CefRefPtr<CefV8Value> lost;
  CefRefPtr<CefV8Value> caughtLate;
  {
    Entered entered(Frame());
    lost = CefV8Value::CreatePromise();
    caughtLate = CefV8Value::CreatePromise();
    EXPECT_TRUE(lost->RejectPromise("nobody listens"));
    EXPECT_TRUE(caughtLate->RejectPromise("caught later"));
    EXPECT_EQ(Eval(entered.context, "rejections.length")->GetIntValue(), 0);
  }
  {
    // After the checkpoint, before the report's task runs.
    Entered entered(Frame());
    entered.context->GetGlobal()->SetValue("late", caughtLate,
                                           V8_PROPERTY_ATTRIBUTE_NONE);
    Eval(entered.context, "late.catch(() => {})");
  }
  EXPECT_EQ(Page("rejections.join('|')")->GetStringValue(), CefString());
  EXPECT_GT(harness->renderer().RunPendingTasks(), 0);
  EXPECT_EQ(Page("rejections.join('|')")->GetStringValue(),
            CefString("unhandledrejection nobody listens true|handler"));

  // A rejection in page script that is handled in the same task is never
  // reported.
  Page("Promise.reject(new Error('x')).catch(() => {}); rejections.length = 0");
  harness->renderer().RunPendingTasks();
  EXPECT_EQ(Page("rejections.length")->GetIntValue(), 0);
}

// CefFrameImpl queues a frame's sends until the browser acknowledges the
// frame's connection, and drops the queue if the frame detaches first.
TEST_F(V8Fidelity, SendsWaitForTheFramesConnection) {
  auto send = [this](const std::string& frameId, int value) {
    CefRefPtr<CefProcessMessage> message = CefProcessMessage::Create("qrx");
    message->GetArgumentList()->SetInt(0, value);
    harness->Frame(frameId)->SendProcessMessage(PID_BROWSER, message);
    // Taken at once, sent or not.
    EXPECT_FALSE(message->IsValid());
  };
  cefsim::FrameSpec heldSpec{"held"};
  heldSpec.holdConnection = true;
  const std::string held = harness->AddFrame(frame, heldSpec);
  send(held, 1);
  send(held, 2);
  send(frame, 9);  // another frame's channel is not held up
  EXPECT_TRUE(harness->SentMessageTexts(held).empty());
  EXPECT_EQ(harness->SentMessageTexts(frame),
            std::vector<std::string>{"qrx [INT 9]"});
  harness->renderer().AcknowledgeConnection(held);
  send(held, 3);
  EXPECT_EQ(
      harness->SentMessageTexts(held),
      (std::vector<std::string>{"qrx [INT 1]", "qrx [INT 2]", "qrx [INT 3]"}));

  const std::string gone = harness->AddFrame(frame, heldSpec);
  send(gone, 4);
  harness->RemoveFrame(gone);
  harness->renderer().AcknowledgeConnection(gone);
  EXPECT_TRUE(harness->SentMessageTexts(gone).empty());
}

using V8FidelityDeathTest = V8Fidelity;

// Trap 10 and LIFO exits: where CEF crashes, cefsim stops loudly.
TEST_F(V8FidelityDeathTest, CrashesWhereCefCrashes) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  CefRefPtr<CefV8Value> promise;
  CefRefPtr<CefV8Value> function;
  {
    Entered entered(Frame());
    promise = CefV8Value::CreatePromise();
    function = Eval(entered.context, "(function () {})");
  }
  EXPECT_DEATH(promise->ResolvePromise(nullptr), "no context current");
  EXPECT_DEATH(promise->RejectPromise("x"), "no context current");
  EXPECT_DEATH(function->ExecuteFunction(nullptr, {}), "no context current");
  const std::string child =
      harness->AddFrame(frame, cefsim::FrameSpec{"child"});
  EXPECT_DEATH(
      {
        CefRefPtr<CefV8Context> a = Frame()->GetV8Context();
        CefRefPtr<CefV8Context> b = harness->Frame(child)->GetV8Context();
        a->Enter();
        b->Enter();
        a->Exit();
      },
      "not the last entered");
}

// A Date whose conversion throws meets CEF's ToLocalChecked wherever CEF
// wraps it: the renderer crashes.
TEST_F(V8FidelityDeathTest, ADateWhoseValueOfThrowsCrashesTheRenderer) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  InstallFunction(
      "take", [](const CefString&, CefRefPtr<CefV8Value>, const CefV8ValueList&,
                 CefRefPtr<CefV8Value>&, CefString&) { return false; });
  Page(R"JS(
    globalThis.bad = new Date(0);
    bad.valueOf = () => { throw new Error('no time'); };
  )JS");
  constexpr char kCause[] = "valueOf or Symbol.toPrimitive threw";
  EXPECT_DEATH(harness->RunScript(frame, "take(1, bad)"), kCause);
  Entered entered(Frame());
  CefRefPtr<CefV8Value> array = Eval(entered.context, "[1, bad]");
  EXPECT_DEATH(array->GetValue(1), kCause);
  CefRefPtr<CefV8Value> object = Eval(entered.context, "({when: bad})");
  EXPECT_DEATH(object->GetValue("when"), kCause);
}

}  // namespace
