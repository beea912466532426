#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace conformance {

// The full path of the program process `processId` runs; false when no such
// process is running.
bool RunningProcessImage(uint32_t processId, std::string& image);

// The master volume of every Core Audio session of process `processId` on
// every active render endpoint that can be read. False, with the reason,
// when Core Audio is not available or no render endpoint could be read.
bool AudioSessionVolumes(uint32_t processId,
                         std::vector<float>& volumes,
                         std::string& error);

}  // namespace conformance
