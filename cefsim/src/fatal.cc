#include "cefsim/fatal.h"

#include <cstdio>
#include <cstdlib>

namespace cefsim {

void Fatal(std::string_view hazard) {
  std::fprintf(stderr,
               "cefsim: FATAL: %.*s\ncefsim: real CEF would crash or hang "
               "here; stopping the process.\n",
               static_cast<int>(hazard.size()), hazard.data());
  std::fflush(stderr);
  std::abort();
}

}  // namespace cefsim
