#pragma once

#include <cstddef>

namespace cefsim {

// For tests: collects all the garbage V8 can find in the calling thread's
// renderer isolate, then returns its used heap in bytes. What stays is what
// something still holds, as in CEF: a wrapper's strong handle keeps its
// object, and through it the object's whole context.
size_t UsedHeapAfterFullGc();

}  // namespace cefsim
