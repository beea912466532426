#pragma once

// The text forms of message values are the peer library's; cefsim's traces
// and tests use the same ones.
#include "peer/value_text.h"

namespace cefsim {

using cef_launcher_peer::MessageText;
using cef_launcher_peer::ValueText;

}  // namespace cefsim
