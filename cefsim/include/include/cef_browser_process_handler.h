#pragma once

#include "include/cef_base.h"
#include "include/cef_command_line.h"

// Browser-process callbacks; never called in a sub-process.
class CefBrowserProcessHandler : public virtual CefBaseRefCounted {
 public:
  virtual void OnContextInitialized() {}

  virtual void OnBeforeChildProcessLaunch(
      CefRefPtr<CefCommandLine> command_line) {}

  virtual bool OnAlreadyRunningAppRelaunch(
      CefRefPtr<CefCommandLine> command_line,
      const CefString& current_directory) {
    return false;
  }

  virtual void OnScheduleMessagePumpWork(int64_t delay_ms) {}
};
