#pragma once

#include "include/internal/cef_string.h"
#include "include/internal/cef_types.h"
#include "include/internal/cef_types_geometry.h"

// Process arguments as the POSIX entry point received them.
typedef struct _cef_main_args_t {
  int argc;
  char** argv;
} cef_main_args_t;

// Arguments handed to CefExecuteProcess.
class CefMainArgs : public cef_main_args_t {
 public:
  CefMainArgs() : cef_main_args_t{0, nullptr} {}
  CefMainArgs(const cef_main_args_t& r) : cef_main_args_t(r) {}
  CefMainArgs(int argc_arg, char** argv_arg)
      : cef_main_args_t{argc_arg, argv_arg} {}
};

typedef unsigned long cef_window_handle_t;
#define kNullWindowHandle 0

// How a browser is shown. cefsim simulates windowless browsers only.
class CefWindowInfo {
 public:
  cef_string_t window_name;
  CefRect bounds;
  cef_window_handle_t parent_window = 0;
  int windowless_rendering_enabled = 0;
  int shared_texture_enabled = 0;
  int external_begin_frame_enabled = 0;
  cef_window_handle_t window = 0;
  cef_runtime_style_t runtime_style = CEF_RUNTIME_STYLE_DEFAULT;

  void SetAsWindowless(cef_window_handle_t parent) {
    windowless_rendering_enabled = 1;
    parent_window = parent;
    runtime_style = CEF_RUNTIME_STYLE_ALLOY;
  }
};
