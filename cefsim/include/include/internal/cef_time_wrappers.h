#pragma once

#include <cstdint>

// Microseconds since the Windows epoch (1601-01-01 UTC).
typedef struct _cef_basetime_t {
  int64_t val;
} cef_basetime_t;

// Point in time as CEF passes it.
class CefBaseTime : public cef_basetime_t {
 public:
  CefBaseTime() : cef_basetime_t{} {}
  CefBaseTime(const cef_basetime_t& value) : cef_basetime_t(value) {}
};
