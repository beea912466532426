// A small stand-in for the launcher executable. Each macro takes away one
// property that scripts/check-pe.py must notice.

#include <windows.h>

extern "C" int cef_execute_process(const void*, void*, void*);

#if defined(USE_CXX_RUNTIME)
#include <sstream>

// Linked without -static, this imports the C++ runtime's DLL.
static int RuntimeText() {
  std::ostringstream text;
  text << GetTickCount();
  return static_cast<int>(text.str().size());
}
#endif

#if defined(EXPORTS_IN_NAMESPACE)
// C++ linkage: exported under a mangled name.
namespace gpu {
#else
extern "C" {
#endif

#if defined(EXPORT_FUNCTIONS)
__declspec(dllexport) DWORD NvOptimusEnablement() {
  return 1;
}
__declspec(dllexport) DWORD AmdPowerXpressRequestHighPerformance() {
  return 1;
}
#elif !defined(NO_EXPORTS)
__declspec(dllexport) DWORD NvOptimusEnablement = NV_VALUE;
#if !defined(NO_AMD_EXPORT)
__declspec(dllexport) DWORD AmdPowerXpressRequestHighPerformance = 1;
#endif
#endif

}  // extern "C" or namespace gpu

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
#if defined(USE_CXX_RUNTIME)
  if (RuntimeText() == 0)
    return 1;
#endif
#if defined(NO_CEF_CALL)
  return 0;
#else
  return cef_execute_process(nullptr, nullptr, nullptr);
#endif
}
