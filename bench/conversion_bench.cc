// Both conversions on three payloads, next to V8's own structured clone of
// the same value (serialize + deserialize in the same context).

#include <benchmark/benchmark.h>
#include <v8.h>

#include <memory>
#include <string>

#include "cefsim/renderer_harness.h"
#include "convert/cef_to_v8.h"
#include "convert/v8_to_cef.h"
#include "include/cef_v8.h"

namespace {

constexpr char kIntegers[] = "Array.from({length: 10000}, (_, i) => i % 1000)";

// About 1 MiB once converted: 5,000 items of 8 fields.
constexpr char kInventory[] = R"JS(
  Array.from({length: 5000}, (_, i) => ({
    id: i,
    name: 'item-' + i,
    kind: ['sword', 'shield', 'potion', 'scroll'][i % 4],
    weight: i * 0.25 + 0.5,
    stack: i % 64,
    owner: 'player-' + (i % 7),
    tags: ['rare', 'bound'].slice(0, i % 3),
    stats: [i % 10, i % 13, i % 17],
  })))JS";

constexpr char kMap[] =
    "new Map(Array.from({length: 10000}, (_, i) => ['key' + i, i]))";

// A scene graph of 1,365 nodes, each linked to its parent and children.
constexpr char kLinkedTree[] = R"JS(
  (() => {
    const node = (parent, depth) => {
      const n = {name: 'node', parent, children: []};
      if (depth > 0) {
        for (let i = 0; i < 4; i++) n.children.push(node(n, depth - 1));
      }
      return n;
    };
    return node(null, 5);
  })())JS";

// 100,000 empty arrays: what each container costs, 4 MB once converted.
constexpr char kEmptyArrays[] = "Array.from({length: 100000}, () => [])";

// The same array twice in each of 30 levels: 2^30 references, which only the
// size budget ends. The most one page value can cost.
constexpr char kSharedToTheBudget[] =
    "(() => { let a = [1]; for (let i = 0; i < 30; i++) a = [a, a]; "
    "return a; })()";

// A page with `payload` built from `script`, its context entered.
class Payload {
 public:
  explicit Payload(const char* script)
      : harness(std::make_unique<cefsim::RendererHarness>(nullptr)) {
    frame = harness->OpenBrowser().frameIds[0];
    harness->RunScript(frame, std::string("var payload = ") + script + ";");
    context = harness->Frame(frame)->GetV8Context();
    context->Enter();
    value = context->GetGlobal()->GetValue("payload");
  }
  ~Payload() {
    value = nullptr;
    context->Exit();
    context = nullptr;
    harness.reset();
  }

  std::unique_ptr<cefsim::RendererHarness> harness;
  std::string frame;
  CefRefPtr<CefV8Context> context;
  CefRefPtr<CefV8Value> value;
};

void PageToMessage(benchmark::State& state, const char* script) {
  Payload payload(script);
  for (auto _ : state) {
    CefRefPtr<CefValue> message =
        V8ValueToCefValue(payload.context, payload.value);
    benchmark::DoNotOptimize(message.get());
  }
}

void MessageToPage(benchmark::State& state, const char* script) {
  Payload payload(script);
  CefRefPtr<CefValue> message =
      V8ValueToCefValue(payload.context, payload.value);
  for (auto _ : state) {
    CefRefPtr<CefV8Value> value = CefValueToV8Value(payload.context, message);
    benchmark::DoNotOptimize(value.get());
  }
}

// V8's structured clone of the same value, for scale.
void StructuredClone(benchmark::State& state, const char* script) {
  Payload payload(script);
  v8::Isolate* isolate = v8::Isolate::GetCurrent();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  v8::Local<v8::Value> value =
      context->Global()
          ->Get(context, v8::String::NewFromUtf8Literal(isolate, "payload"))
          .ToLocalChecked();
  for (auto _ : state) {
    v8::HandleScope iteration(isolate);
    v8::ValueSerializer serializer(isolate);
    serializer.WriteHeader();
    serializer.WriteValue(context, value).Check();
    std::pair<uint8_t*, size_t> buffer = serializer.Release();
    {
      v8::ValueDeserializer deserializer(isolate, buffer.first, buffer.second);
      deserializer.ReadHeader(context).Check();
      v8::Local<v8::Value> copy =
          deserializer.ReadValue(context).ToLocalChecked();
      benchmark::DoNotOptimize(*copy);
    }
    free(buffer.first);
  }
}

BENCHMARK_CAPTURE(PageToMessage, Integers10k, kIntegers);
BENCHMARK_CAPTURE(MessageToPage, Integers10k, kIntegers);
BENCHMARK_CAPTURE(StructuredClone, Integers10k, kIntegers);
BENCHMARK_CAPTURE(PageToMessage, Inventory1MiB, kInventory);
BENCHMARK_CAPTURE(MessageToPage, Inventory1MiB, kInventory);
BENCHMARK_CAPTURE(StructuredClone, Inventory1MiB, kInventory);
BENCHMARK_CAPTURE(PageToMessage, Map10k, kMap);
BENCHMARK_CAPTURE(MessageToPage, Map10k, kMap);
BENCHMARK_CAPTURE(StructuredClone, Map10k, kMap);
BENCHMARK_CAPTURE(PageToMessage, LinkedTree, kLinkedTree);
BENCHMARK_CAPTURE(PageToMessage, EmptyArrays100k, kEmptyArrays)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PageToMessage, SharedToTheBudget, kSharedToTheBudget)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
