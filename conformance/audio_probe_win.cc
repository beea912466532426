#include "conformance/audio_probe_win.h"

#include <windows.h>

#include <audiopolicy.h>
#include <mmdeviceapi.h>

#include <cstdio>

#include "include/cef_base.h"

namespace conformance {
namespace {

std::string Hex(HRESULT result) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08lx",
                static_cast<unsigned long>(result));
  return text;
}

// Releases a COM pointer when it goes out of scope.
template <typename T>
class ComPointer {
 public:
  ComPointer() = default;
  ~ComPointer() {
    if (pointer) {
      pointer->Release();
    }
  }
  ComPointer(const ComPointer&) = delete;
  ComPointer& operator=(const ComPointer&) = delete;

  T** Receive() { return &pointer; }
  T* operator->() const { return pointer; }
  T* get() const { return pointer; }

 private:
  T* pointer = nullptr;
};

// Adds the volumes of `processId`'s sessions on one endpoint.
bool EndpointSessions(IMMDevice* device,
                      uint32_t processId,
                      std::vector<float>& volumes,
                      std::string& error) {
  ComPointer<IAudioSessionManager2> manager;
  HRESULT result =
      device->Activate(__uuidof(IAudioSessionManager2), CLSCTX_ALL, nullptr,
                       reinterpret_cast<void**>(manager.Receive()));
  if (FAILED(result)) {
    error = "IAudioSessionManager2 not available: " + Hex(result);
    return false;
  }
  ComPointer<IAudioSessionEnumerator> sessions;
  result = manager->GetSessionEnumerator(sessions.Receive());
  if (FAILED(result)) {
    error = "GetSessionEnumerator failed: " + Hex(result);
    return false;
  }
  int count = 0;
  sessions->GetCount(&count);
  for (int i = 0; i < count; ++i) {
    ComPointer<IAudioSessionControl> control;
    if (FAILED(sessions->GetSession(i, control.Receive()))) {
      continue;
    }
    ComPointer<IAudioSessionControl2> control2;
    if (FAILED(control->QueryInterface(
            __uuidof(IAudioSessionControl2),
            reinterpret_cast<void**>(control2.Receive())))) {
      continue;
    }
    DWORD owner = 0;
    // A session spanning processes answers with a success code that is not
    // S_OK; it is not this process's own.
    if (control2->GetProcessId(&owner) != S_OK || owner != processId) {
      continue;
    }
    ComPointer<ISimpleAudioVolume> volume;
    float level = -1;
    if (SUCCEEDED(control->QueryInterface(
            __uuidof(ISimpleAudioVolume),
            reinterpret_cast<void**>(volume.Receive()))) &&
        SUCCEEDED(volume->GetMasterVolume(&level))) {
      volumes.push_back(level);
    }
  }
  return true;
}

}  // namespace

bool RunningProcessImage(uint32_t processId, std::string& image) {
  HANDLE process =
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (!process) {
    return false;
  }
  DWORD exitCode = 0;
  wchar_t path[MAX_PATH * 4];
  DWORD size = sizeof(path) / sizeof(path[0]);
  const bool running = GetExitCodeProcess(process, &exitCode) &&
                       exitCode == STILL_ACTIVE &&
                       QueryFullProcessImageNameW(process, 0, path, &size);
  CloseHandle(process);
  if (running) {
    image = CefString(std::wstring(path, size)).ToString();
  }
  return running;
}

bool AudioSessionVolumes(uint32_t processId,
                         std::vector<float>& volumes,
                         std::string& error) {
  volumes.clear();
  // CEF's UI thread has COM already; either answer leaves it usable.
  const HRESULT initialized = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  bool ok = false;
  {
    ComPointer<IMMDeviceEnumerator> enumerator;
    ComPointer<IMMDeviceCollection> endpoints;
    UINT count = 0;
    HRESULT result =
        CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                         __uuidof(IMMDeviceEnumerator),
                         reinterpret_cast<void**>(enumerator.Receive()));
    if (FAILED(result)) {
      error = "no MMDeviceEnumerator: " + Hex(result);
    } else if (FAILED(result = enumerator->EnumAudioEndpoints(
                          eRender, DEVICE_STATE_ACTIVE, endpoints.Receive()))) {
      error = "EnumAudioEndpoints failed: " + Hex(result);
    } else if (FAILED(endpoints->GetCount(&count)) || count == 0) {
      error = "no active audio render endpoint on this machine";
    } else {
      // An endpoint that cannot be read (unplugged meanwhile, a driver
      // without session management) is left out; the others still count.
      std::string unread;
      for (UINT i = 0; i < count; ++i) {
        ComPointer<IMMDevice> device;
        std::string endpointError;
        result = endpoints->Item(i, device.Receive());
        if (FAILED(result)) {
          endpointError = "Item failed: " + Hex(result);
        } else if (EndpointSessions(device.get(), processId, volumes,
                                    endpointError)) {
          ok = true;
          continue;
        }
        unread += (unread.empty() ? "" : "; ") + std::string("endpoint ") +
                  std::to_string(i) + ": " + endpointError;
      }
      if (!ok) {
        error = "no audio render endpoint could be read: " + unread;
      }
    }
  }
  if (SUCCEEDED(initialized)) {
    CoUninitialize();
  }
  return ok;
}

}  // namespace conformance
