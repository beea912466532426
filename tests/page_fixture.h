#pragma once

#include <memory>
#include <string>

#include "cefsim/peer.h"
#include "cefsim/renderer_harness.h"
#include "cefsim/value_text.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "include/cef_v8.h"
#include "launcher/cef_launcher_application.h"

inline CefRefPtr<CefValue> IntValue(int value) {
  CefRefPtr<CefValue> v = CefValue::Create();
  v->SetInt(value);
  return v;
}

// A renderer with one browser whose main frame holds a live page, run by the
// real application object, with the browser-side peer on the other end.
class PageTest : public testing::Test {
 protected:
  void SetUp() override {
    nextCallId = 0;
    application = new CefLauncherApplication();
    harness = std::make_unique<cefsim::RendererHarness>(application);
    frame = harness->OpenBrowser().frameIds.front();
    InstallDescribe(frame);
  }

  void TearDown() override {
    harness.reset();
    application = nullptr;
    nextCallId = 0;
  }

  cefsim::BrowserPeer& Peer() { return harness->Peer(); }

  CefRefPtr<CefV8Context> Context() {
    return harness->Frame(frame)->GetV8Context();
  }

  // Runs page script as a task and returns its completion value.
  CefRefPtr<CefV8Value> Run(const std::string& code) {
    return RunIn(frame, code);
  }

  CefRefPtr<CefV8Value> RunIn(const std::string& frameId,
                              const std::string& code) {
    cefsim::ScriptOutcome outcome = harness->RunScript(frameId, code);
    EXPECT_TRUE(outcome.ok) << code << "\n" << outcome.exception;
    return outcome.value;
  }

  // The completion value of `code`, as a readable string from describe().
  std::string Describe(const std::string& code) {
    CefRefPtr<CefV8Value> value = Run("describe(" + code + ")");
    return value && value->IsString() ? value->GetStringValue().ToString()
                                      : "<not a string>";
  }

  // Installs describe(v): a type-exact text of a page value.
  void InstallDescribe(const std::string& frameId) {
    RunIn(frameId, R"JS(
      globalThis.describe = function describe(v) {
        if (v === null) return 'null';
        if (v === undefined) return 'undefined';
        switch (typeof v) {
          case 'number': return Object.is(v, -0) ? 'number -0' : 'number ' + v;
          case 'string': return JSON.stringify(v);
          case 'boolean': return String(v);
        }
        if (v instanceof ArrayBuffer)
          return 'ArrayBuffer[' + Array.from(new Uint8Array(v)).join(',') + ']';
        if (Array.isArray(v)) {
          const parts = [];
          for (let i = 0; i < v.length; i++)
            parts.push(i in v ? describe(v[i]) : '<hole>');
          return '[' + parts.join(', ') + ']';
        }
        if (v instanceof Map)
          return 'Map{' + Array.from(v, ([k, x]) =>
              describe(k) + ' => ' + describe(x)).join(', ') + '}';
        if (Object.getPrototypeOf(v) === Object.prototype)
          return '{' + Object.keys(v).map(k =>
              k + ': ' + describe(v[k])).join(', ') + '}';
        if (v instanceof Error) return 'Error(' + JSON.stringify(v.message) + ')';
        return 'other ' + Object.prototype.toString.call(v);
      };
    )JS");
  }

  CefRefPtr<CefLauncherApplication> application;
  std::unique_ptr<cefsim::RendererHarness> harness;
  std::string frame;
};
