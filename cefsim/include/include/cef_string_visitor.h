#pragma once

#include "include/cef_base.h"

// Receives a string asynchronously.
class CefStringVisitor : public virtual CefBaseRefCounted {
 public:
  virtual void Visit(const CefString& string) = 0;
};
