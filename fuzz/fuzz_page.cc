#include "fuzz/fuzz_page.h"

#include <cstdio>
#include <cstdlib>

namespace {

// Breadth-first, so that a deep value cannot exhaust the page's stack.
constexpr char kHelpers[] = R"JS(
  globalThis.__fuzzDepth = function (root) {
    let deepest = 0;
    const pending = [[root, 0]];
    const seen = new Map();
    while (pending.length > 0) {
      const [value, depth] = pending.pop();
      if (value === null || typeof value !== 'object') {
        deepest = Math.max(deepest, depth);
        continue;
      }
      // A shared or cyclic part measured once at its deepest position is
      // enough: a cycle in a converted value is itself a failure.
      if ((seen.get(value) ?? -1) >= depth) continue;
      seen.set(value, depth);
      if (seen.size > 100000) return 1e9;
      if (Array.isArray(value)) {
        deepest = Math.max(deepest, depth + 1);
        for (let i = 0; i < value.length; i++) pending.push([value[i], depth + 1]);
      } else if (value instanceof Map) {
        deepest = Math.max(deepest, depth + 2);
        for (const [k, v] of value) pending.push([k, depth + 2], [v, depth + 2]);
      } else if (value instanceof ArrayBuffer) {
        deepest = Math.max(deepest, depth);
      } else {
        deepest = Math.max(deepest, depth + 2);
        for (const k of Object.keys(value)) pending.push([value[k], depth + 2]);
      }
    }
    return deepest;
  };
)JS";

}  // namespace

FuzzPage& FuzzPage::Get() {
  // Never destroyed: the isolate outlives every input.
  static FuzzPage* page = new FuzzPage();
  return *page;
}

FuzzPage::FuzzPage() {
  Start();
}

void FuzzPage::Start() {
  nextCallId = 0;
  application = new CefLauncherApplication();
  harnessPointer = std::make_unique<cefsim::RendererHarness>(application);
  frameId = harnessPointer->OpenBrowser().frameIds.front();
  InstallHelpers();
}

void FuzzPage::Restart() {
  harnessPointer.reset();
  application = nullptr;
  Start();
}

void FuzzPage::InstallHelpers() {
  Run(kHelpers);
}

void FuzzPage::Reload() {
  harness().Navigate(frameId, "https://page.test/again");
  InstallHelpers();
}

CefRefPtr<CefV8Context> FuzzPage::Context() {
  return harness().Frame(frameId)->GetV8Context();
}

CefRefPtr<CefV8Value> FuzzPage::Run(const std::string& code) {
  cefsim::ScriptOutcome outcome = harness().RunScript(frameId, code);
  if (!outcome.ok) {
    std::fprintf(stderr, "page script failed: %s\n%s\n",
                 outcome.exception.c_str(), code.c_str());
    std::abort();
  }
  return outcome.value;
}

int FuzzPage::NestingDepth(const CefRefPtr<CefV8Context>& context,
                           const CefRefPtr<CefV8Value>& value) {
  CefRefPtr<CefV8Value> measure = context->GetGlobal()->GetValue("__fuzzDepth");
  CefRefPtr<CefV8Value> depth = measure->ExecuteFunction(
      nullptr, {value ? value : CefV8Value::CreateUndefined()});
  if (!depth || !depth->IsInt()) {
    std::fprintf(stderr, "could not measure a page value\n");
    std::abort();
  }
  return depth->GetIntValue();
}
