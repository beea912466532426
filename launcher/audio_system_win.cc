#include <windows.h>

#include <audioclient.h>
#include <audiopolicy.h>
#include <mmdeviceapi.h>
#include <objbase.h>
#include <share.h>

#include "launcher/audio_system.h"

namespace {

// One second, in the 100 ns units of REFERENCE_TIME.
constexpr REFERENCE_TIME kKeepAliveBufferDuration = 10000000;

// Holds one COM reference and releases it when the operation that obtained
// it returns.
template <typename Interface>
class ScopedComPtr {
 public:
  ScopedComPtr() = default;
  ScopedComPtr(const ScopedComPtr&) = delete;
  ScopedComPtr& operator=(const ScopedComPtr&) = delete;
  ~ScopedComPtr() {
    if (pointer) {
      pointer->Release();
    }
  }

  Interface* Get() const { return pointer; }
  Interface* operator->() const { return pointer; }
  explicit operator bool() const { return pointer != nullptr; }
  Interface** Receive() { return &pointer; }
  void** ReceiveVoid() { return reinterpret_cast<void**>(&pointer); }

 private:
  Interface* pointer = nullptr;
};

bool CreateDeviceEnumerator(ScopedComPtr<IMMDeviceEnumerator>& enumerator) {
  const HRESULT result =
      CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                       __uuidof(IMMDeviceEnumerator), enumerator.ReceiveVoid());
  return SUCCEEDED(result) && enumerator;
}

// Gives one session the level if `processId` owns it; any failure skips it.
void SetSessionVolume(IAudioSessionEnumerator& sessions,
                      int index,
                      DWORD processId,
                      float level) {
  ScopedComPtr<IAudioSessionControl> session;
  if (FAILED(sessions.GetSession(index, session.Receive())) || !session) {
    return;
  }
  ScopedComPtr<IAudioSessionControl2> control;
  if (FAILED(session->QueryInterface(__uuidof(IAudioSessionControl2),
                                     control.ReceiveVoid())) ||
      !control) {
    return;
  }
  DWORD owner = 0;
  if (FAILED(control->GetProcessId(&owner)) || owner != processId) {
    return;
  }
  ScopedComPtr<ISimpleAudioVolume> volume;
  if (FAILED(session->QueryInterface(__uuidof(ISimpleAudioVolume),
                                     volume.ReceiveVoid())) ||
      !volume) {
    return;
  }
  // A level the session refuses changes nothing; the next session still
  // gets its turn.
  volume->SetMasterVolume(level, nullptr);
}

// Windows Core Audio on the default output device.
class CoreAudioSystem : public AudioSystem {
 public:
  // AudioSystem methods:
  void KeepAudioSessionAlive() override;
  void SetProcessVolume(uint32_t processId, float level) override;

 private:
  // Never released or stopped: the session lives as long as its stream.
  IAudioClient* keepAliveClient = nullptr;
};

void CoreAudioSystem::KeepAudioSessionAlive() {
  // Apartment-threaded, for the life of the thread; SetProcessVolume runs on
  // the same thread and relies on it.
  CoInitialize(nullptr);

  ScopedComPtr<IMMDeviceEnumerator> enumerator;
  if (!CreateDeviceEnumerator(enumerator)) {
    return;
  }
  ScopedComPtr<IMMDevice> device;
  enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.Receive());
  if (!device) {
    return;
  }
  device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                   reinterpret_cast<void**>(&keepAliveClient));
  if (!keepAliveClient) {
    return;
  }
  WAVEFORMATEX* mixFormat = nullptr;
  keepAliveClient->GetMixFormat(&mixFormat);
  if (!mixFormat) {
    return;
  }
  // The stream is never fed: it exists only so that the process owns a
  // session. NOPERSIST keeps the level set here out of the user's settings.
  keepAliveClient->Initialize(AUDCLNT_SHAREMODE_SHARED,
                              AUDCLNT_STREAMFLAGS_NOPERSIST,
                              kKeepAliveBufferDuration, 0, mixFormat, nullptr);
  keepAliveClient->Start();
  CoTaskMemFree(mixFormat);
}

void CoreAudioSystem::SetProcessVolume(uint32_t processId, float level) {
  ScopedComPtr<IMMDeviceEnumerator> enumerator;
  if (!CreateDeviceEnumerator(enumerator)) {
    return;
  }
  ScopedComPtr<IMMDevice> device;
  if (FAILED(enumerator->GetDefaultAudioEndpoint(eRender, eMultimedia,
                                                 device.Receive())) ||
      !device) {
    return;
  }
  ScopedComPtr<IAudioSessionManager2> manager;
  if (FAILED(device->Activate(__uuidof(IAudioSessionManager2), CLSCTX_ALL,
                              nullptr, manager.ReceiveVoid())) ||
      !manager) {
    return;
  }
  ScopedComPtr<IAudioSessionEnumerator> sessions;
  if (FAILED(manager->GetSessionEnumerator(sessions.Receive())) || !sessions) {
    return;
  }
  int count = 0;
  if (FAILED(sessions->GetCount(&count))) {
    return;
  }
  // Every session of the process, not just the first.
  for (int index = 0; index < count; ++index) {
    SetSessionVolume(*sessions.Get(), index, processId, level);
  }
}

}  // namespace

AudioSystem& PlatformAudioSystem() {
  // Never destroyed: the keep-alive client must outlive everything.
  static CoreAudioSystem* audio = new CoreAudioSystem;
  return *audio;
}

SimulatedAudioSystem* SimulatedPlatformAudioSystem() {
  return nullptr;
}

uint32_t CurrentProcessId() {
  return GetCurrentProcessId();
}

std::FILE* OpenSharedFile(const std::filesystem::path& path,
                          SharedFileMode mode) {
  // A narrow name would go through the ANSI code page; the wide one reaches
  // every profile folder. "t" asks for text mode whatever _fmode says.
  return _wfsopen(path.c_str(),
                  mode == SharedFileMode::kWriteText ? L"wt" : L"rt",
                  _SH_DENYNO);
}
