#pragma once

#include <cstdint>

#include "include/cef_base.h"

typedef cef_thread_id_t CefThreadId;

// A unit of work posted to a thread.
class CefTask : public virtual CefBaseRefCounted {
 public:
  virtual void Execute() = 0;
};

// Runs tasks on one thread; in a renderer, the render main thread.
class CefTaskRunner : public virtual CefBaseRefCounted {
 public:
  virtual bool IsSame(CefRefPtr<CefTaskRunner> that) = 0;
  virtual bool BelongsToCurrentThread() = 0;
  virtual bool BelongsToThread(CefThreadId threadId) = 0;
  virtual bool PostTask(CefRefPtr<CefTask> task) = 0;
  virtual bool PostDelayedTask(CefRefPtr<CefTask> task, int64_t delay_ms) = 0;
};
