#pragma once

#include <map>

#include "include/cef_base.h"

// A web request as a resource handler sees it; read-only in cefsim.
class CefRequest : public virtual CefBaseRefCounted {
 public:
  typedef std::multimap<CefString, CefString> HeaderMap;

  virtual bool IsReadOnly() = 0;
  virtual CefString GetURL() = 0;
  virtual CefString GetMethod() = 0;
  virtual CefString GetHeaderByName(const CefString& name) = 0;
  virtual void GetHeaderMap(HeaderMap& headerMap) = 0;
};
