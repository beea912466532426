#pragma once

#include <cstddef>
#include <utility>

// Smart pointer that holds one reference on a counted object.
template <class T>
class scoped_refptr {
 public:
  typedef T element_type;

  constexpr scoped_refptr() = default;
  constexpr scoped_refptr(std::nullptr_t) {}

  scoped_refptr(T* p) : ptr(p) {
    if (ptr) {
      ptr->AddRef();
    }
  }

  scoped_refptr(const scoped_refptr& r) : scoped_refptr(r.ptr) {}

  template <typename U>
  scoped_refptr(const scoped_refptr<U>& r) : scoped_refptr(r.get()) {}

  scoped_refptr(scoped_refptr&& r) noexcept : ptr(r.ptr) { r.ptr = nullptr; }

  template <typename U>
  scoped_refptr(scoped_refptr<U>&& r) noexcept : ptr(r.release()) {}

  ~scoped_refptr() {
    if (ptr) {
      ptr->Release();
    }
  }

  T* get() const { return ptr; }

  // Null is not checked, as in a release build: dereferencing null crashes.
  T& operator*() const { return *ptr; }
  T* operator->() const { return ptr; }

  scoped_refptr& operator=(std::nullptr_t) {
    reset();
    return *this;
  }
  scoped_refptr& operator=(T* p) { return *this = scoped_refptr(p); }
  scoped_refptr& operator=(scoped_refptr r) noexcept {
    swap(r);
    return *this;
  }

  void reset() { scoped_refptr().swap(*this); }

  // Hands the pointer over without releasing it.
  [[nodiscard]] T* release() {
    T* p = ptr;
    ptr = nullptr;
    return p;
  }

  void swap(scoped_refptr& r) noexcept { std::swap(ptr, r.ptr); }

  explicit operator bool() const { return ptr != nullptr; }

  template <typename U>
  bool operator==(const scoped_refptr<U>& rhs) const {
    return ptr == rhs.get();
  }
  template <typename U>
  bool operator!=(const scoped_refptr<U>& rhs) const {
    return !operator==(rhs);
  }
  template <typename U>
  bool operator<(const scoped_refptr<U>& rhs) const {
    return ptr < rhs.get();
  }

 private:
  template <typename U>
  friend class scoped_refptr;

  T* ptr = nullptr;
};

template <typename T, typename U>
bool operator==(const scoped_refptr<T>& lhs, const U* rhs) {
  return lhs.get() == rhs;
}
template <typename T, typename U>
bool operator==(const T* lhs, const scoped_refptr<U>& rhs) {
  return lhs == rhs.get();
}
template <typename T>
bool operator==(const scoped_refptr<T>& lhs, std::nullptr_t) {
  return !static_cast<bool>(lhs);
}
template <typename T>
bool operator==(std::nullptr_t, const scoped_refptr<T>& rhs) {
  return !static_cast<bool>(rhs);
}
template <typename T, typename U>
bool operator!=(const scoped_refptr<T>& lhs, const U* rhs) {
  return !operator==(lhs, rhs);
}
template <typename T, typename U>
bool operator!=(const T* lhs, const scoped_refptr<U>& rhs) {
  return !operator==(lhs, rhs);
}
template <typename T>
bool operator!=(const scoped_refptr<T>& lhs, std::nullptr_t null) {
  return !operator==(lhs, null);
}
template <typename T>
bool operator!=(std::nullptr_t null, const scoped_refptr<T>& rhs) {
  return !operator==(null, rhs);
}

template <typename T>
void swap(scoped_refptr<T>& lhs, scoped_refptr<T>& rhs) noexcept {
  lhs.swap(rhs);
}
