#pragma once

// The files through which the browser side talks to the audio-service
// process. CEF passes every child, the audio service included, the browser's
// user-data directory as --user-data-dir: the normalised root_cache_path
// (else cache_path, else %LOCALAPPDATA%\CEF\User Data). The audio process
// uses "<that>/../AudioService.pid" and "<that>/../AudioService.vol", so pass
// the same directory here. Any thread.

#include <cstdint>
#include <optional>
#include <string>

namespace cef_launcher_peer {

// "<userDataDir>/../AudioService.pid" and ".vol", as the audio hook builds
// them (UTF-8; the "/../" stays for the file system to resolve).
std::string AudioServicePidFile(const std::string& userDataDir);
std::string AudioServiceVolumeFile(const std::string& userDataDir);

// Writes `level` (0 to 1) to the volume file, for an audio process started
// later: the shortest decimal text that strtof reads back as exactly
// `level`, independent of the locale, and one newline. Written to a
// temporary file beside it, then renamed over it, so that the audio process
// never reads half a line. Returns false, leaving any old file, for a level
// outside 0 to 1, NaN, a subnormal level (strtof reports those as an
// underflow) and on any file-system failure.
bool WriteVolumeFile(const std::string& userDataDir, float level);

// The process id the audio process wrote at start-up; empty while the file
// is missing or does not hold decimal digits and a newline.
std::optional<uint32_t> ReadAudioServicePid(const std::string& userDataDir);

}  // namespace cef_launcher_peer
