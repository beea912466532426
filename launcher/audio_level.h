#pragma once

#include <string>

// The level used when the volume file gives none.
inline constexpr float kDefaultVolumeLevel = 1.0f;

// Converts the volume file's first line as strtof does in the "C" locale,
// whatever the process locale: leading white space skipped, the longest
// number prefix taken, the rest ignored. Nothing convertible, or a value
// that overflows or underflows float, gives kDefaultVolumeLevel. No clamping.
float ParseVolumeLevel(const std::string& text);
