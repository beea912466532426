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
  // Before any file is touched: once the pid file appears, the browser side
  // may look for this process's session.
  audio.KeepAudioSessionAlive();

  const AudioServiceFiles files = AudioServiceFilesBeside(
      commandLine.GetSwitchValue(kUserDataDirSwitch).ToString());
  const uint32_t processId = CurrentProcessId();
  WritePidFile(files.pidFile, processId);
  const float level = ParseVolumeLevel(ReadAndRemoveFile(files.volumeFile));
  audio.SetProcessVolume(processId, level);
}
