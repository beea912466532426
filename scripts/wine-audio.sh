#!/usr/bin/env bash
# Runs the Windows audio backend and the audio-service file handling once
# under wine, on an ALSA null device: the keep-alive stream, SetProcessVolume
# read back through ISimpleAudioVolume, CR LF pid files, wide paths, and a
# deletion refused by another process's sharing mode.
# Usage: scripts/wine-audio.sh [build folder]   (default build/wine-audio)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=$(mkdir -p "${1:-$root/build/wine-audio}" && cd "${1:-$root/build/wine-audio}" && pwd)
step() { echo "wine-audio: $*"; }
fail() {
  echo "wine-audio: FAILED: $*" >&2
  exit 1
}

# The target is 32-bit; where the machine cannot run 32-bit Linux programs
# (wine's 32-bit loader then fails to start), the same sources are checked as
# a 64-bit build under wine64.
arch=i686 loader=/usr/lib/wine/wine winearch=win32
if [ -x "$loader" ] && ! "$loader" --version >/dev/null 2>&1; then
  step "this machine cannot run wine's 32-bit loader; checking a 64-bit build under wine64"
  arch=x86_64 loader=/usr/lib/wine/wine64 winearch=win64
fi
cxx=$arch-w64-mingw32-g++-posix
for tool in "$cxx" "$loader" wineserver; do
  if ! command -v "$tool" >/dev/null; then
    step "skipped ($tool is not installed)"
    exit 0
  fi
done

step "writing the check program to $out/check.cc"
cat >"$out/check.cc" <<'EOF'
// Drives the Windows audio backend and the file handling as the hook does.
#include <windows.h>

#include <audioclient.h>
#include <audiopolicy.h>
#include <mmdeviceapi.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "launcher/audio_files.h"
#include "launcher/audio_level.h"
#include "launcher/audio_system.h"

namespace {

int passes = 0;
int failures = 0;

void Check(bool passed, const std::string& what) {
  std::printf("%s: %s\n", passed ? "ok" : "FAIL", what.c_str());
  ++(passed ? passes : failures);
}

template <typename Interface>
void Release(Interface*& pointer) {
  if (pointer) {
    pointer->Release();
    pointer = nullptr;
  }
}

// The session manager of the default multimedia output device, obtained
// independently of the backend under test.
IAudioSessionManager2* SessionManager() {
  IMMDeviceEnumerator* enumerator = nullptr;
  IMMDevice* device = nullptr;
  IAudioSessionManager2* manager = nullptr;
  if (SUCCEEDED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr,
                                 CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                                 reinterpret_cast<void**>(&enumerator))) &&
      SUCCEEDED(
          enumerator->GetDefaultAudioEndpoint(eRender, eMultimedia, &device))) {
    device->Activate(__uuidof(IAudioSessionManager2), CLSCTX_ALL, nullptr,
                     reinterpret_cast<void**>(&manager));
  }
  Release(device);
  Release(enumerator);
  return manager;
}

// The volumes of every session of `processId`, or nothing when the session
// list cannot be had.
std::vector<float> SessionVolumesOf(IAudioSessionManager2& manager,
                                    DWORD processId) {
  std::vector<float> volumes;
  IAudioSessionEnumerator* sessions = nullptr;
  int count = 0;
  if (SUCCEEDED(manager.GetSessionEnumerator(&sessions)) &&
      SUCCEEDED(sessions->GetCount(&count))) {
    for (int index = 0; index < count; ++index) {
      IAudioSessionControl* session = nullptr;
      IAudioSessionControl2* control = nullptr;
      ISimpleAudioVolume* volume = nullptr;
      DWORD owner = 0;
      float level = -1.0f;
      if (SUCCEEDED(sessions->GetSession(index, &session)) &&
          SUCCEEDED(
              session->QueryInterface(__uuidof(IAudioSessionControl2),
                                      reinterpret_cast<void**>(&control))) &&
          SUCCEEDED(control->GetProcessId(&owner)) && owner == processId &&
          SUCCEEDED(
              session->QueryInterface(__uuidof(ISimpleAudioVolume),
                                      reinterpret_cast<void**>(&volume))) &&
          SUCCEEDED(volume->GetMasterVolume(&level))) {
        volumes.push_back(level);
      }
      Release(volume);
      Release(control);
      Release(session);
    }
  }
  Release(sessions);
  return volumes;
}

bool AllAt(const std::vector<float>& volumes, float level) {
  for (float volume : volumes) {
    if (volume != level) {
      return false;
    }
  }
  return !volumes.empty();
}

void Note(const char* call, HRESULT result) {
  std::printf("note: %s returns %08lx\n", call,
              static_cast<unsigned long>(result));
}

// The keep-alive sequence once more on a client of its own, to show which
// steps this system supports; returns that client's session volume.
ISimpleAudioVolume* ProbeStreamVolume() {
  IMMDeviceEnumerator* enumerator = nullptr;
  IMMDevice* device = nullptr;
  IAudioClient* client = nullptr;
  WAVEFORMATEX* format = nullptr;
  ISimpleAudioVolume* volume = nullptr;
  Note("CoCreateInstance(MMDeviceEnumerator)",
       CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                        __uuidof(IMMDeviceEnumerator),
                        reinterpret_cast<void**>(&enumerator)));
  if (enumerator) {
    Note("GetDefaultAudioEndpoint(eRender, eConsole)",
         enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &device));
  }
  if (device) {
    Note("Activate(IAudioClient)",
         device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                          reinterpret_cast<void**>(&client)));
  }
  if (client) {
    Note("GetMixFormat", client->GetMixFormat(&format));
  }
  if (format) {
    std::printf("note: mix format %lu Hz, %u channels\n",
                static_cast<unsigned long>(format->nSamplesPerSec),
                static_cast<unsigned>(format->nChannels));
    HRESULT result = client->Initialize(AUDCLNT_SHAREMODE_SHARED,
                                        AUDCLNT_STREAMFLAGS_NOPERSIST, 10000000,
                                        0, format, nullptr);
    Note("Initialize(shared, NOPERSIST, 1 s)", result);
    Check(SUCCEEDED(result), "the keep-alive stream can be initialised");
    result = client->Start();
    Note("Start", result);
    Check(SUCCEEDED(result), "the keep-alive stream can be started");
    client->GetService(__uuidof(ISimpleAudioVolume),
                       reinterpret_cast<void**>(&volume));
    CoTaskMemFree(format);
  }
  Release(device);
  Release(enumerator);
  // The client stays, like the backend's.
  return volume;
}

void CheckAudio() {
  const DWORD self = CurrentProcessId();
  AudioSystem& audio = PlatformAudioSystem();
  audio.KeepAudioSessionAlive();
  Check(true, "KeepAudioSessionAlive returned");

  ISimpleAudioVolume* streamVolume = ProbeStreamVolume();
  Check(streamVolume != nullptr, "the stream's session volume is reachable");
  IAudioSessionManager2* manager = SessionManager();
  Check(manager != nullptr, "the default output device has a session manager");
  if (!streamVolume || !manager) {
    Release(streamVolume);
    Release(manager);
    return;
  }
  float level = -1.0f;
  const HRESULT quarter = streamVolume->SetMasterVolume(0.25f, nullptr);
  streamVolume->GetMasterVolume(&level);
  Check(SUCCEEDED(quarter) && level == 0.25f,
        "SetMasterVolume(0.25) on a stream's session reads back as 0.25");
  Note("SetMasterVolume(2.0)", streamVolume->SetMasterVolume(2.0f, nullptr));
  streamVolume->SetMasterVolume(1.0f, nullptr);

  IAudioSessionEnumerator* probe = nullptr;
  const HRESULT listing = manager->GetSessionEnumerator(&probe);
  Release(probe);
  Note("IAudioSessionManager2::GetSessionEnumerator", listing);
  if (FAILED(listing)) {
    std::printf("note: without the session list SetProcessVolume ends there\n");
    audio.SetProcessVolume(self, 0.25f);
    streamVolume->GetMasterVolume(&level);
    Check(level == 1.0f,
          "SetProcessVolume ends silently, the volume stays 1.0");
  } else {
    audio.SetProcessVolume(self, 0.25f);
    const std::vector<float> volumes = SessionVolumesOf(*manager, self);
    std::printf("note: the process has %zu session(s)\n", volumes.size());
    Check(AllAt(volumes, 0.25f),
          "SetProcessVolume(0.25) reads back as 0.25 in every session");
    audio.SetProcessVolume(self, 2.0f);
    Check(AllAt(SessionVolumesOf(*manager, self), 0.25f),
          "a refused level (2.0) leaves the volume at 0.25");
    audio.SetProcessVolume(self + 4, 0.5f);
    Check(AllAt(SessionVolumesOf(*manager, self), 0.25f),
          "another process id changes nothing");
  }
  Release(streamVolume);
  Release(manager);
}

std::string ReadBytes(const std::string& utf8Path) {
  std::string bytes;
  if (std::FILE* file = _wfopen(PathFromUtf8(utf8Path).c_str(), L"rb")) {
    for (int next = std::fgetc(file); next != EOF; next = std::fgetc(file)) {
      bytes.push_back(static_cast<char>(next));
    }
    std::fclose(file);
  }
  return bytes;
}

void WriteBytes(const std::string& utf8Path, const std::string& bytes) {
  if (std::FILE* file = _wfopen(PathFromUtf8(utf8Path).c_str(), L"wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }
}

bool Exists(const std::string& utf8Path) {
  std::error_code ignored;
  return std::filesystem::exists(PathFromUtf8(utf8Path), ignored);
}

void CheckFiles() {
  const std::string pid = std::to_string(CurrentProcessId());
  // "José 日本", which no ANSI code page holds.
  const std::string game = "Jos\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC";
  std::error_code ignored;
  std::filesystem::remove_all(PathFromUtf8(game), ignored);
  std::filesystem::create_directories(PathFromUtf8(game + "/User Data"));
  const AudioServiceFiles files = AudioServiceFilesBeside(game + "/User Data");

  WriteBytes(game + "/AudioService.pid", "99999999999 from an earlier run\r\n");
  WritePidFile(files.pidFile, CurrentProcessId());
  Check(ReadBytes(game + "/AudioService.pid") == pid + "\r\n",
        "pid file in a non-ASCII folder, truncated, ending in CR LF");

  WriteBytes(game + "/AudioService.vol", "0.5\r\nrest\r\n");
  const std::string line = ReadAndRemoveFile(files.volumeFile);
  Check(line == "0.5", "volume file's first line without its CR LF");
  Check(ParseVolumeLevel(line) == 0.5f, "level 0.5");
  Check(!Exists(game + "/AudioService.vol"), "volume file deleted");

  // Another process holding the file without delete sharing.
  WriteBytes(game + "/AudioService.vol", "0.75\r\n");
  HANDLE holder = CreateFileW(PathFromUtf8(game + "/AudioService.vol").c_str(),
                              GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  Check(holder != INVALID_HANDLE_VALUE, "volume file held open elsewhere");
  Check(ReadAndRemoveFile(files.volumeFile) == "0.75",
        "a file that cannot be deleted still gives its line");
  Check(Exists(game + "/AudioService.vol"), "and stays in place");
  CloseHandle(holder);

  // Windows resolves ".." in the text, so a profile folder that does not
  // exist yet still leads to its parent.
  const AudioServiceFiles early =
      AudioServiceFilesBeside(game + "/Not Created Yet");
  WritePidFile(early.pidFile, CurrentProcessId());
  std::printf("note: pid file beside a missing profile folder %s\n",
              ReadBytes(game + "/AudioService.pid") == pid + "\r\n"
                  ? "was written (\"..\" resolved in the text)"
                  : "was not written");
}

}  // namespace

int main() {
  CheckAudio();
  CheckFiles();
  std::printf("%d passed, %d failed\n", passes, failures);
  return failures == 0 ? 0 : 1;
}
EOF

step "cross-compiling check.exe ($cxx)"
"$cxx" -std=c++20 -O2 -Wall -Wextra -Werror \
  -D__MINGW_USE_VC2005_COMPAT -DUNICODE -D_UNICODE -DNOMINMAX \
  -DWIN32_LEAN_AND_MEAN -DWINVER=0x0A00 -D_WIN32_WINNT=0x0A00 -I"$root" \
  "$out/check.cc" "$root/launcher/audio_system_win.cc" \
  "$root/launcher/audio_files.cc" "$root/launcher/audio_level.cc" \
  "$root/launcher/audio_simulated_system.cc" \
  -static -lole32 -o "$out/check.exe" || fail "the check program does not build"

export HOME="$out/home" WINEPREFIX="$out/prefix-$winearch" WINEARCH=$winearch
export WINELOADER=$loader WINEDEBUG=-all WINEDLLOVERRIDES=winedbg.exe=d
step "ALSA null device as the default output ($HOME/.asoundrc)"
mkdir -p "$HOME" "$out/run"
echo 'pcm.!default { type null }' >"$HOME/.asoundrc"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  step "creating a $winearch wine prefix in $WINEPREFIX"
  "$loader" wineboot -i >/dev/null 2>&1 || fail "wineboot -i did not create the prefix"
fi

step "running check.exe under $("$loader" --version)"
status=0
(cd "$out/run" && "$loader" "$out/check.exe") || status=$?
wineserver -k || true
[ "$status" -eq 0 ] || fail "check.exe exited with $status"
step "passed"
