#pragma once

// A small copyable owning callable. Pending calls keep two of these per call
// id; the captures they hold (a counted promise reference) fit the inline
// buffer, so registering a call allocates nothing beyond the table nodes.

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>

template <typename Signature>
class Callback;

template <typename Result, typename... Args>
class Callback<Result(Args...)> {
 public:
  Callback() = default;

  template <typename Functor,
            typename = std::enable_if_t<
                !std::is_same_v<std::decay_t<Functor>, Callback>>>
  Callback(Functor&& functor) {  // NOLINT: implicit like std::function
    using Stored = std::decay_t<Functor>;
    if constexpr (FitsInline<Stored>()) {
      ::new (static_cast<void*>(storage))
          Stored(std::forward<Functor>(functor));
      ops = &InlineOps<Stored>::kOps;
    } else {
      Stored* heap = new Stored(std::forward<Functor>(functor));
      ::new (static_cast<void*>(storage)) Stored*(heap);
      ops = &HeapOps<Stored>::kOps;
    }
  }

  Callback(const Callback& other) {
    if (other.ops) {
      other.ops->copy(storage, other.storage);
      ops = other.ops;
    }
  }

  Callback(Callback&& other) noexcept {
    if (other.ops) {
      other.ops->move(storage, other.storage);
      ops = other.ops;
      other.Reset();
    }
  }

  Callback& operator=(const Callback& other) {
    if (this != &other) {
      Callback copy(other);
      *this = std::move(copy);
    }
    return *this;
  }

  Callback& operator=(Callback&& other) noexcept {
    if (this != &other) {
      Reset();
      if (other.ops) {
        other.ops->move(storage, other.storage);
        ops = other.ops;
        other.Reset();
      }
    }
    return *this;
  }

  ~Callback() { Reset(); }

  explicit operator bool() const { return ops != nullptr; }

  Result operator()(Args... args) const {
    return ops->invoke(storage, std::forward<Args>(args)...);
  }

 private:
  static constexpr size_t kInlineSize = 2 * sizeof(void*);

  struct Ops {
    Result (*invoke)(const void* storage, Args&&... args);
    void (*copy)(void* to, const void* from);
    void (*move)(void* to, void* from);
    void (*destroy)(void* storage);
  };

  template <typename Stored>
  static constexpr bool FitsInline() {
    return sizeof(Stored) <= kInlineSize && alignof(Stored) <= alignof(void*) &&
           std::is_nothrow_move_constructible_v<Stored>;
  }

  template <typename Stored>
  struct InlineOps {
    static Stored* Get(void* storage) { return static_cast<Stored*>(storage); }
    static const Stored* Get(const void* storage) {
      return static_cast<const Stored*>(storage);
    }
    static constexpr Ops kOps = {
        [](const void* storage, Args&&... args) -> Result {
          return (*Get(storage))(std::forward<Args>(args)...);
        },
        [](void* to, const void* from) { ::new (to) Stored(*Get(from)); },
        [](void* to, void* from) { ::new (to) Stored(std::move(*Get(from))); },
        [](void* storage) { Get(storage)->~Stored(); },
    };
  };

  template <typename Stored>
  struct HeapOps {
    static Stored* Get(const void* storage) {
      return *static_cast<Stored* const*>(storage);
    }
    static constexpr Ops kOps = {
        [](const void* storage, Args&&... args) -> Result {
          return (*Get(storage))(std::forward<Args>(args)...);
        },
        [](void* to, const void* from) {
          ::new (to) Stored*(new Stored(*Get(from)));
        },
        [](void* to, void* from) {
          ::new (to) Stored*(Get(from));
          *static_cast<Stored**>(from) = nullptr;
        },
        [](void* storage) { delete Get(storage); },
    };
  };

  void Reset() {
    if (ops) {
      ops->destroy(storage);
      ops = nullptr;
    }
  }

  alignas(void*) unsigned char storage[kInlineSize];
  const Ops* ops = nullptr;
};
