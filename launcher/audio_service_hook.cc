#include "launcher/audio_service_hook.h"

#include <string>

#include "launcher/audio_files.h"
#include "launcher/audio_level.h"
#include "launcher/audio_system.h"

namespace {

constexpr char kProcessTypeSwitch[] = "type";
constexpr char kUtilitySubTypeSwitch[] = "utility-sub-type";
constexpr char kUserDataDirSwitch[] = "user-data-dir";
constexpr char kUtilityProcessType[] = "utility";
constexpr char kAudioServiceSubType[] = "audio.mojom.AudioService";

bool IsAudioServiceProcess(CefCommandLine& commandLine) {
  return commandLine.GetSwitchValue(kProcessTypeSwitch).ToString() ==
             kUtilityProcessType &&
         commandLine.GetSwitchValue(kUtilitySubTypeSwitch).ToString() ==
             kAudioServiceSubType;
}

}  // namespace

void RunAudioServiceHook() {
  CefRefPtr<CefCommandLine> commandLine =
      CefCommandLine::GetGlobalCommandLine();
  // Without CEF's global command line there is no process role to act on.
  if (!commandLine) {
    return;
  }
  RunAudioServiceHook(*commandLine, PlatformAudioSystem());
}

void RunAudioServiceHook(CefCommandLine& commandLine, AudioSystem& audio) {
  if (!IsAudioServiceProcess(commandLine)) {
    return;
  }
  // The session must exist before the browser side, woken by the pid file,
  // looks for it.
  audio.KeepAudioSessionAlive();

  const AudioServiceFiles files = AudioServiceFilesBeside(
      commandLine.GetSwitchValue(kUserDataDirSwitch).ToString());
  const uint32_t processId = CurrentProcessId();
  WritePidFile(files.pidFile, processId);
  const float level = ParseVolumeLevel(ReadAndRemoveFile(files.volumeFile));
  audio.SetProcessVolume(processId, level);
}
