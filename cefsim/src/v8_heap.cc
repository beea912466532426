#include "cefsim/v8_heap.h"

#include "v8_isolate.h"

namespace cefsim {

size_t UsedHeapAfterFullGc() {
  IsolateManager* manager = IsolateManager::Current();
  if (!manager) {
    Fatal("UsedHeapAfterFullGc: no renderer isolate on this thread");
  }
  v8::Isolate* isolate = manager->isolate();
  // Weak callbacks of the first collection free trackers whose objects the
  // second one can then take.
  isolate->LowMemoryNotification();
  isolate->LowMemoryNotification();
  v8::HeapStatistics statistics;
  isolate->GetHeapStatistics(&statistics);
  return statistics.used_heap_size();
}

}  // namespace cefsim
