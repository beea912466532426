// Hybrid-graphics drivers look these values up by name in the executable's
// export table and run the process on the discrete GPU when they are 1.
// Nothing in the program reads them.

#include <windows.h>

extern "C" {
__declspec(dllexport) DWORD NvOptimusEnablement = 1;
__declspec(dllexport) DWORD AmdPowerXpressRequestHighPerformance = 1;
}
