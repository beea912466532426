#pragma once

#include "peer/value_text.h"

// The demo trace prints message values in ValueText's form, except that long
// strings and binaries show their first part and their total size, so that a
// value of many megabytes prints a short line.
namespace cefsim {

inline constexpr cef_launcher_peer::TextLimits kShortTrace{256, 64};
// Everything whole: `--cefsim-trace=full`.
inline constexpr cef_launcher_peer::TextLimits kFullTrace{0, 0};

}  // namespace cefsim
