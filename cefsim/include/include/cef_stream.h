#pragma once

#include <cstddef>
#include <cstdint>

#include "include/cef_base.h"

// Reads data; only memory streams are simulated.
class CefStreamReader : public virtual CefBaseRefCounted {
 public:
  // Copies `size` bytes of `data`.
  static CefRefPtr<CefStreamReader> CreateForData(void* data, size_t size);

  virtual size_t Read(void* ptr, size_t size, size_t n) = 0;
  virtual int Seek(int64_t offset, int whence) = 0;
  virtual int64_t Tell() = 0;
  virtual int Eof() = 0;
  virtual bool MayBlock() = 0;
};
