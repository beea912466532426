#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>

class SimulatedAudioSystem;

// The audio operations the audio-service hook needs from the platform.
class AudioSystem {
 public:
  virtual ~AudioSystem() = default;

  // Starts a silent output stream in the process's default session on the
  // default console output device and keeps it running until the process
  // ends, so that the process owns a session whose volume can be set.
  virtual void KeepAudioSessionAlive() = 0;

  // Sets `level` as the master volume of every session that belongs to
  // `processId` on the default multimedia output device.
  virtual void SetProcessVolume(uint32_t processId, float level) = 0;
};

// The platform seam, chosen at build time: audio_system_win.cc (Core Audio,
// wide-path CRT) or audio_system_posix.cc (the simulated endpoint).

// The process-wide audio system.
AudioSystem& PlatformAudioSystem();

// PlatformAudioSystem() when it is the simulated endpoint; null where the
// platform's own audio is used.
SimulatedAudioSystem* SimulatedPlatformAudioSystem();

uint32_t CurrentProcessId();

enum class SharedFileMode { kReadText, kWriteText };

// Opens a text-mode stream that other processes may read and write while it
// is open; kWriteText creates or truncates. Null on failure.
std::FILE* OpenSharedFile(const std::filesystem::path& path,
                          SharedFileMode mode);
