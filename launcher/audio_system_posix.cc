#include <unistd.h>

#include "launcher/audio_simulated_system.h"
#include "launcher/audio_system.h"

AudioSystem& PlatformAudioSystem() {
  return *SimulatedPlatformAudioSystem();
}

SimulatedAudioSystem* SimulatedPlatformAudioSystem() {
  static SimulatedAudioSystem audio(CurrentProcessId());
  return &audio;
}

uint32_t CurrentProcessId() {
  return static_cast<uint32_t>(getpid());
}

std::FILE* OpenSharedFile(const std::filesystem::path& path,
                          SharedFileMode mode) {
  // POSIX opens never lock others out.
  return std::fopen(path.c_str(),
                    mode == SharedFileMode::kWriteText ? "w" : "r");
}
