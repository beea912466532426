#pragma once

#include <string_view>

namespace cefsim {

// Stops the process where real CEF would crash or hang, saying why, so that a
// test can never pass code that would fail in the real thing.
[[noreturn]] void Fatal(std::string_view hazard);

}  // namespace cefsim
