#pragma once

#include "include/cef_base.h"
#include "include/cef_shared_memory_region.h"
#include "include/cef_values.h"

typedef cef_process_id_t CefProcessId;

// A named message with an argument list, sent between processes.
class CefProcessMessage : public virtual CefBaseRefCounted {
 public:
  static CefRefPtr<CefProcessMessage> Create(const CefString& name);

  virtual bool IsValid() = 0;
  virtual bool IsReadOnly() = 0;
  virtual CefRefPtr<CefProcessMessage> Copy() = 0;
  virtual CefString GetName() = 0;
  virtual CefRefPtr<CefListValue> GetArgumentList() = 0;
  virtual CefRefPtr<CefSharedMemoryRegion> GetSharedMemoryRegion() = 0;
};
