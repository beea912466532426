// What cefsim's V8 layer costs per call, so benchmarks built on it can tell
// the simulator's overhead from the program's.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "cefsim/renderer_harness.h"
#include "include/cef_v8.h"

namespace {

// One renderer with a page whose context stays entered through one wrapper.
class EnteredPage {
 public:
  EnteredPage() : harness(std::make_unique<cefsim::RendererHarness>(nullptr)) {
    frame = harness->OpenBrowser().frameIds[0];
    harness->RunScript(frame,
                       "var target = {a: 1, b: 'text'};"
                       "function add(x, y) { return x + y; }");
    context = harness->Frame(frame)->GetV8Context();
    context->Enter();
    global = context->GetGlobal();
  }
  ~EnteredPage() {
    global = nullptr;
    context->Exit();
    context = nullptr;
    harness.reset();
  }

  std::unique_ptr<cefsim::RendererHarness> harness;
  std::string frame;
  CefRefPtr<CefV8Context> context;
  CefRefPtr<CefV8Value> global;
};

void BM_GetValue(benchmark::State& state) {
  EnteredPage page;
  CefRefPtr<CefV8Value> target = page.global->GetValue("target");
  const CefString key("a");
  for (auto _ : state) {
    CefRefPtr<CefV8Value> value = target->GetValue(key);
    benchmark::DoNotOptimize(value.get());
  }
}
BENCHMARK(BM_GetValue);

void BM_GetValueOfObject(benchmark::State& state) {
  EnteredPage page;
  const CefString key("target");
  for (auto _ : state) {
    CefRefPtr<CefV8Value> value = page.global->GetValue(key);
    benchmark::DoNotOptimize(value.get());
  }
}
BENCHMARK(BM_GetValueOfObject);

void BM_ExecuteFunction(benchmark::State& state) {
  EnteredPage page;
  CefRefPtr<CefV8Value> add = page.global->GetValue("add");
  const CefV8ValueList arguments = {CefV8Value::CreateInt(1),
                                    CefV8Value::CreateInt(2)};
  for (auto _ : state) {
    CefRefPtr<CefV8Value> result = add->ExecuteFunction(nullptr, arguments);
    benchmark::DoNotOptimize(result.get());
  }
}
BENCHMARK(BM_ExecuteFunction);

void BM_CreateInt(benchmark::State& state) {
  EnteredPage page;
  for (auto _ : state) {
    CefRefPtr<CefV8Value> value = CefV8Value::CreateInt(7);
    benchmark::DoNotOptimize(value.get());
  }
}
BENCHMARK(BM_CreateInt);

void BM_CreateObjectAndSetValue(benchmark::State& state) {
  EnteredPage page;
  CefRefPtr<CefV8Value> one = CefV8Value::CreateInt(1);
  const CefString key("k");
  for (auto _ : state) {
    CefRefPtr<CefV8Value> object = CefV8Value::CreateObject(nullptr, nullptr);
    object->SetValue(key, one, V8_PROPERTY_ATTRIBUTE_NONE);
    benchmark::DoNotOptimize(object.get());
  }
}
BENCHMARK(BM_CreateObjectAndSetValue);

}  // namespace
