#pragma once

#include "include/base/cef_atomic_ref_count.h"
#include "include/internal/cef_linux.h"
#include "include/internal/cef_ptr.h"
#include "include/internal/cef_string.h"
#include "include/internal/cef_time_wrappers.h"
#include "include/internal/cef_types.h"
#include "include/internal/cef_types_geometry.h"

// Base of every reference-counted CEF interface; derived from virtually.
class CefBaseRefCounted {
 public:
  virtual void AddRef() const = 0;
  // Returns true when this call dropped the last reference.
  virtual bool Release() const = 0;
  virtual bool HasOneRef() const = 0;
  virtual bool HasAtLeastOneRef() const = 0;

 protected:
  virtual ~CefBaseRefCounted() {}
};

// Base of framework objects that are not reference counted.
class CefBaseScoped {
 public:
  virtual ~CefBaseScoped() {}
};

// The counter IMPLEMENT_REFCOUNTING embeds; it starts at zero.
class CefRefCount {
 public:
  CefRefCount() = default;
  CefRefCount(const CefRefCount&) = delete;
  CefRefCount& operator=(const CefRefCount&) = delete;

  void AddRef() const { refCount.Increment(); }
  bool Release() const { return !refCount.Decrement(); }
  bool HasOneRef() const { return refCount.IsOne(); }
  bool HasAtLeastOneRef() const { return !refCount.IsZero(); }

 private:
  mutable base::AtomicRefCount refCount{0};
};

// Leaves the class body in "private:", exactly like CEF's macro.
#define IMPLEMENT_REFCOUNTING(ClassName)          \
 public:                                          \
  void AddRef() const override {                  \
    cefRefCount.AddRef();                         \
  }                                               \
  bool Release() const override {                 \
    if (cefRefCount.Release()) {                  \
      delete static_cast<const ClassName*>(this); \
      return true;                                \
    }                                             \
    return false;                                 \
  }                                               \
  bool HasOneRef() const override {               \
    return cefRefCount.HasOneRef();               \
  }                                               \
  bool HasAtLeastOneRef() const override {        \
    return cefRefCount.HasAtLeastOneRef();        \
  }                                               \
                                                  \
 private:                                         \
  CefRefCount cefRefCount
