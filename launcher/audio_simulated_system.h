#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <vector>

#include "launcher/audio_system.h"

// An in-process stand-in for the default output endpoint: its sessions, the
// process each belongs to, the streams started in them and the master volume
// each was given.
class SimulatedAudioSystem : public AudioSystem {
 public:
  struct Session {
    uint32_t processId = 0;
    // The session a process's streams join when they name none.
    bool processDefault = false;
    int runningStreams = 0;
    // A stream opened without persistence turns it off for its session.
    bool persistsVolume = true;
    // The last level set; empty while it was never set.
    std::optional<float> masterVolume;
  };

  // `processId` is the process whose streams KeepAudioSessionAlive opens.
  explicit SimulatedAudioSystem(uint32_t processId);
  SimulatedAudioSystem(const SimulatedAudioSystem&) = delete;
  SimulatedAudioSystem& operator=(const SimulatedAudioSystem&) = delete;

  // AudioSystem methods:
  void KeepAudioSessionAlive() override;
  void SetProcessVolume(uint32_t processId, float level) override;

  // Adds a further session of `processId`, as a stream opened with a session
  // of its own would; returns its index.
  size_t AddSession(uint32_t processId);
  const std::vector<Session>& Sessions() const { return sessions; }
  // Back to an endpoint without sessions.
  void Reset() { sessions.clear(); }

  // One line per session.
  void PrintRecord(std::ostream& out) const;

 private:
  uint32_t ownProcessId;
  std::vector<Session> sessions;
};

// Prints the record of the process's simulated endpoint, or says that the
// platform's own audio is in use.
void PrintSimulatedAudioRecord(std::ostream& out);
