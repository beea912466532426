#pragma once

#include <atomic>

namespace base {

// Thread-safe reference count with CEF's memory orders.
class AtomicRefCount {
 public:
  constexpr AtomicRefCount() : refCount(0) {}
  explicit constexpr AtomicRefCount(int initial) : refCount(initial) {}

  void Increment() { Increment(1); }
  void Increment(int increment) {
    refCount.fetch_add(increment, std::memory_order_relaxed);
  }
  int SubtleRefCountForDebug() const {
    return refCount.load(std::memory_order_relaxed);
  }
  // True while the count stays above zero after the decrement.
  bool Decrement() {
    return refCount.fetch_sub(1, std::memory_order_acq_rel) != 1;
  }
  bool IsOne() const { return refCount.load(std::memory_order_acquire) == 1; }
  bool IsZero() const { return refCount.load(std::memory_order_acquire) == 0; }

 private:
  std::atomic_int refCount;
};

}  // namespace base
