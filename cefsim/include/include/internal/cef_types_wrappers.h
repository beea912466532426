#pragma once

#include <cstddef>

#include "include/internal/cef_string.h"
#include "include/internal/cef_types.h"

// Global settings read by CefInitialize: the fields cefsim reads, under
// CEF's names. Everything else CEF has keeps its default.
struct CefSettings {
  size_t size = sizeof(CefSettings);
  int no_sandbox = 0;
  cef_string_t browser_subprocess_path;
  int multi_threaded_message_loop = 0;
  int external_message_pump = 0;
  int windowless_rendering_enabled = 0;
  int command_line_args_disabled = 0;
  cef_string_t cache_path;
  cef_string_t root_cache_path;
  cef_string_t log_file;
  cef_log_severity_t log_severity = LOGSEVERITY_DEFAULT;
  int remote_debugging_port = 0;
};

// Per-browser settings; only the windowless frame rate is read.
struct CefBrowserSettings {
  size_t size = sizeof(CefBrowserSettings);
  int windowless_frame_rate = 0;
};
