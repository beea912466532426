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

// The browser side's task functions. In cefsim only TID_UI exists, played by
// the harness's browser side on the simulated clock: with no browser side
// on this thread, CEF's answer for a thread that is not running, false.
bool CefCurrentlyOn(CefThreadId threadId);
bool CefPostTask(CefThreadId threadId, CefRefPtr<CefTask> task);
bool CefPostDelayedTask(CefThreadId threadId,
                        CefRefPtr<CefTask> task,
                        int64_t delay_ms);
