// CefStreamReader over a copy of memory.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "include/cef_stream.h"

namespace {

class DataReader : public CefStreamReader {
 public:
  DataReader(const void* data, size_t size)
      : bytes(static_cast<const char*>(data),
              static_cast<const char*>(data) + size) {}

  size_t Read(void* ptr, size_t size, size_t n) override {
    if (size == 0) {
      return 0;
    }
    const size_t count = std::min(n, (bytes.size() - offset) / size);
    std::memcpy(ptr, bytes.data() + offset, count * size);
    offset += count * size;
    return count;
  }
  int Seek(int64_t to, int whence) override {
    int64_t base = whence == SEEK_CUR   ? static_cast<int64_t>(offset)
                   : whence == SEEK_END ? static_cast<int64_t>(bytes.size())
                                        : 0;
    const int64_t target = base + to;
    if (target < 0 || target > static_cast<int64_t>(bytes.size())) {
      return -1;
    }
    offset = static_cast<size_t>(target);
    return 0;
  }
  int64_t Tell() override { return static_cast<int64_t>(offset); }
  int Eof() override { return offset >= bytes.size() ? 1 : 0; }
  bool MayBlock() override { return false; }

 private:
  std::vector<char> bytes;
  size_t offset = 0;
  IMPLEMENT_REFCOUNTING(DataReader);
};

}  // namespace

CefRefPtr<CefStreamReader> CefStreamReader::CreateForData(void* data,
                                                          size_t size) {
  // CEF refuses a null buffer or an empty one.
  if (!data || size == 0) {
    return nullptr;
  }
  return new DataReader(data, size);
}
