#include "launcher/audio_simulated_system.h"

#include <algorithm>

SimulatedAudioSystem::SimulatedAudioSystem(uint32_t processId)
    : ownProcessId(processId) {}

void SimulatedAudioSystem::KeepAudioSessionAlive() {
  auto session = std::find_if(
      sessions.begin(), sessions.end(), [this](const Session& candidate) {
        return candidate.processDefault && candidate.processId == ownProcessId;
      });
  if (session == sessions.end()) {
    Session created;
    created.processId = ownProcessId;
    created.processDefault = true;
    session = sessions.insert(sessions.end(), created);
  }
  ++session->runningStreams;
  session->persistsVolume = false;
}

void SimulatedAudioSystem::SetProcessVolume(uint32_t processId, float level) {
  for (Session& session : sessions) {
    if (session.processId == processId) {
      session.masterVolume = level;
    }
  }
}

size_t SimulatedAudioSystem::AddSession(uint32_t processId) {
  Session added;
  added.processId = processId;
  sessions.push_back(added);
  return sessions.size() - 1;
}

void SimulatedAudioSystem::PrintRecord(std::ostream& out) const {
  out << "simulated audio endpoint: " << sessions.size() << " session(s)\n";
  for (size_t index = 0; index < sessions.size(); ++index) {
    const Session& session = sessions[index];
    out << "  session " << index << ": process " << session.processId
        << (session.processDefault ? " (default session)" : "") << ", "
        << session.runningStreams << " stream(s) running, volume ";
    if (session.masterVolume) {
      out << *session.masterVolume;
    } else {
      out << "never set";
    }
    out << (session.persistsVolume ? "" : ", not persisted") << "\n";
  }
}

void PrintSimulatedAudioRecord(std::ostream& out) {
  const SimulatedAudioSystem* audio = SimulatedPlatformAudioSystem();
  if (!audio) {
    out << "no simulated audio endpoint: the platform's audio is in use\n";
    return;
  }
  audio->PrintRecord(out);
}
