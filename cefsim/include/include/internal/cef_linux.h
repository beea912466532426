#pragma once

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
