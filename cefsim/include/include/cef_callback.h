#pragma once

#include "include/cef_base.h"

// Continues or cancels an asynchronous request.
class CefCallback : public virtual CefBaseRefCounted {
 public:
  virtual void Continue() = 0;
  virtual void Cancel() = 0;
};
