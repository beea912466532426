/* The parts of the stand-in libcef.dll that the smoke run looks at. Every
 * other export of libcef.def is a generated function returning 0
 * (scripts/wine-smoke.sh). Hashes come from the headers, in stub_hashes.h. */

#include <stdlib.h>
#include <windows.h>

#include "include/capi/cef_app_capi.h"
#include "include/internal/cef_app_win.h"
#include "stub_hashes.h"

enum {
  kExitReached = 42, /* cef_execute_process got what a launcher must pass */
  kExitWrongInstance = 60,
  kExitNoApplication = 61,
  kExitSandboxInfo = 62,
  kExitSmallStack = 63,
  kExitNoRenderHandler = 64,
  kExitCalledAgain = 65, /* cef_execute_process ran twice in one process */
};

/* How many times cef_execute_process ran in this process. */
static int executeCalls;

/* The least stack that CEF's main thread needs. Without the fiber a 32-bit
 * main thread has 0.5 MiB (1 MiB under wine). */
static const SIZE_T kMinimumStack = 3 * 512 * 1024;

const char* cef_api_hash(int entry) {
  switch (entry) {
    case 0:
      return STUB_API_HASH_PLATFORM;
    case 1:
      return STUB_API_HASH_UNIVERSAL;
    case 2:
      return STUB_COMMIT_HASH;
    default:
      return "";
  }
}

#if !defined(_WIN64)
/* The fiber stack of the real library. */
static const SIZE_T kPreferredStack = 4 * 1024 * 1024;

static struct {
  wWinMainPtr entry;
  HINSTANCE instance;
  LPWSTR commandLine;
  int showCommand;
  mainPtr consoleEntry; /* the main() variant, for console programs */
  int argc;
  char** argv;
  int result;
  LPVOID mainFiber;
} fiberRun;

static void WINAPI FiberMain(LPVOID unused) {
  (void)unused;
  fiberRun.result =
      fiberRun.consoleEntry
          ? fiberRun.consoleEntry(fiberRun.argc, fiberRun.argv)
          : fiberRun.entry(fiberRun.instance, NULL, fiberRun.commandLine,
                           fiberRun.showCommand);
  SwitchToFiber(fiberRun.mainFiber);
}

static int RunOnFiber(void);

/* Runs the entry on a 4 MiB fiber, or returns -1 (STUB_NO_FIBER set, or
 * already on a fiber) so that the caller runs it on its own stack. */
int cef_run_winmain_with_preferred_stack_size(wWinMainPtr entry,
                                              HINSTANCE instance,
                                              LPWSTR commandLine,
                                              int showCommand) {
  if (GetEnvironmentVariableA("STUB_NO_FIBER", NULL, 0) || IsThreadAFiber())
    return -1;
  fiberRun.entry = entry;
  fiberRun.instance = instance;
  fiberRun.commandLine = commandLine;
  fiberRun.showCommand = showCommand;
  return RunOnFiber();
}

/* The same for a main() entry point. */
int cef_run_main_with_preferred_stack_size(mainPtr entry,
                                           int argc,
                                           char* argv[]) {
  if (GetEnvironmentVariableA("STUB_NO_FIBER", NULL, 0) || IsThreadAFiber())
    return -1;
  fiberRun.consoleEntry = entry;
  fiberRun.argc = argc;
  fiberRun.argv = argv;
  return RunOnFiber();
}

static int RunOnFiber(void) {
  fiberRun.mainFiber = ConvertThreadToFiber(NULL);
  if (!fiberRun.mainFiber)
    return -1;
  LPVOID fiber = CreateFiberEx(0, kPreferredStack, FIBER_FLAG_FLOAT_SWITCH,
                               FiberMain, NULL);
  if (!fiber) {
    ConvertFiberToThread();
    return -1;
  }
  SwitchToFiber(fiber);
  DeleteFiber(fiber);
  ConvertFiberToThread();
  return fiberRun.result;
}
#else
/* Declared for 32-bit builds only; a 64-bit program never calls them. */
int cef_run_winmain_with_preferred_stack_size(void) {
  return -1;
}
int cef_run_main_with_preferred_stack_size(void) {
  return -1;
}
#endif

int cef_execute_process(const cef_main_args_t* args,
                        cef_app_t* application,
                        void* windows_sandbox_info) {
  if (++executeCalls > 1)
    return kExitCalledAgain;
  if (!args || args->instance != GetModuleHandleW(NULL))
    return kExitWrongInstance;
  if (!application || application->base.size != sizeof(cef_app_t))
    return kExitNoApplication;
  if (windows_sandbox_info)
    return kExitSandboxInfo;

  ULONG_PTR low = 0, high = 0;
  GetCurrentThreadStackLimits(&low, &high);
  if (high - low < kMinimumStack)
    return kExitSmallStack;

  /* The application object answers through the wrapper's C translation. */
  cef_render_process_handler_t* handler =
      application->get_render_process_handler(application);
  if (!handler)
    return kExitNoRenderHandler;
  handler->base.release(&handler->base);
  application->base.release(&application->base);
  /* STUB_EXECUTE_RESULT: what CEF returns instead, e.g. -1 as for a launch
   * without a process type. */
  char result[16];
  DWORD length = GetEnvironmentVariableA("STUB_EXECUTE_RESULT", result,
                                         sizeof(result));
  if (length > 0 && length < sizeof(result))
    return atoi(result);
  return kExitReached;
}
