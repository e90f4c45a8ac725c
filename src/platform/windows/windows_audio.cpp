// Component runtime, process-loopback activation and the audio engine's interfaces.
#include "platform/audio_services.h"

#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>
#include <objbase.h>

#include <cstddef>

namespace {

static_assert(sizeof(platform::Guid) == sizeof(GUID));
static_assert(sizeof(platform::WaveFormatEx) == sizeof(WAVEFORMATEX));
static_assert(sizeof(platform::PropVariantBlob) == sizeof(PROPVARIANT));
static_assert(offsetof(platform::PropVariantBlob, vt) == offsetof(PROPVARIANT, vt));
static_assert(offsetof(platform::PropVariantBlob, cbSize) ==
              offsetof(PROPVARIANT, blob) + offsetof(BLOB, cbSize));
static_assert(offsetof(platform::PropVariantBlob, pBlobData) ==
              offsetof(PROPVARIANT, blob) + offsetof(BLOB, pBlobData));

const IID& ToIid(const platform::Guid& guid) { return reinterpret_cast<const IID&>(guid); }

using ActivateAudioInterfaceAsyncFn = HRESULT(WINAPI*)(LPCWSTR, REFIID, PROPVARIANT*,
                                                       ::IActivateAudioInterfaceCompletionHandler*,
                                                       ::IActivateAudioInterfaceAsyncOperation**);

// Bound once, by ordinal, from the system directory's MMDevAPI: there is no import library for
// it, and systems without process loopback simply lack the export.
ActivateAudioInterfaceAsyncFn BindActivateAudioInterfaceAsync() {
  static const ActivateAudioInterfaceAsyncFn bound = []() -> ActivateAudioInterfaceAsyncFn {
    HMODULE module = ::GetModuleHandleW(L"MMDevAPI.DLL");
    if (module == nullptr)
      module = ::LoadLibraryExW(L"MMDevAPI.DLL", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) return nullptr;
    FARPROC found = ::GetProcAddress(module, MAKEINTRESOURCEA(17));
    if (found == nullptr) return nullptr;
    return reinterpret_cast<ActivateAudioInterfaceAsyncFn>(reinterpret_cast<void (*)()>(found));
  }();
  return bound;
}

}  // namespace

namespace platform {

Status CoInitializeEx() { return ::CoInitializeEx(nullptr, COINIT_MULTITHREADED); }

void CoUninitialize() { ::CoUninitialize(); }

Status ActivateAudioInterfaceAsync(const wchar_t* devicePath, const Guid& iid,
                                   const PropVariantBlob* activationParams,
                                   IActivateAudioInterfaceCompletionHandler* handler,
                                   ::IActivateAudioInterfaceAsyncOperation** operation) {
  const ActivateAudioInterfaceAsyncFn activate = BindActivateAudioInterfaceAsync();
  if (activate == nullptr) return E_NOTIMPL;

  // Passed through as it is: the engine reads the record on its own thread, after this call
  // has returned, so a copy made here would be gone by then.
  auto* params = reinterpret_cast<PROPVARIANT*>(const_cast<PropVariantBlob*>(activationParams));

  // The handler interface we declare has the OS interface's four slots in the same order and
  // calling convention, so a pointer to it is a valid pointer to the OS interface.
  auto* nativeHandler = reinterpret_cast<::IActivateAudioInterfaceCompletionHandler*>(handler);
  return activate(devicePath, ToIid(iid), params, nativeHandler, operation);
}

Status GetActivateResult(::IActivateAudioInterfaceAsyncOperation* operation, Status* activateStatus,
                         ::IUnknown** activated) {
  if (operation == nullptr) return E_POINTER;
  HRESULT result = activateStatus != nullptr ? *activateStatus : E_FAIL;
  const HRESULT status = operation->GetActivateResult(&result, activated);
  if (activateStatus != nullptr) *activateStatus = result;
  return status;
}

std::uint32_t Release(::IActivateAudioInterfaceAsyncOperation* operation) {
  return operation != nullptr ? operation->Release() : 0;
}

Status QueryInterface(::IUnknown* object, const Guid& iid, void** out) {
  if (object == nullptr) return E_POINTER;
  return object->QueryInterface(ToIid(iid), out);
}

std::uint32_t Release(::IUnknown* object) { return object != nullptr ? object->Release() : 0; }

Status Initialize(::IAudioClient* client, std::uint32_t shareMode, std::uint32_t streamFlags,
                  std::int64_t bufferDuration, std::int64_t periodicity, const WaveFormatEx* format,
                  const Guid* sessionGuid) {
  if (client == nullptr) return E_POINTER;
  WAVEFORMATEX wave{};
  const WAVEFORMATEX* wavePointer = nullptr;
  if (format != nullptr) {
    wave.wFormatTag = format->wFormatTag;
    wave.nChannels = format->nChannels;
    wave.nSamplesPerSec = format->nSamplesPerSec;
    wave.nAvgBytesPerSec = format->nAvgBytesPerSec;
    wave.nBlockAlign = format->nBlockAlign;
    wave.wBitsPerSample = format->wBitsPerSample;
    wave.cbSize = format->cbSize;
    wavePointer = &wave;
  }
  return client->Initialize(static_cast<AUDCLNT_SHAREMODE>(shareMode), streamFlags,
                            static_cast<REFERENCE_TIME>(bufferDuration),
                            static_cast<REFERENCE_TIME>(periodicity), wavePointer,
                            reinterpret_cast<const GUID*>(sessionGuid));
}

Status SetEventHandle(::IAudioClient* client, Handle event) {
  if (client == nullptr) return E_POINTER;
  return client->SetEventHandle(event);
}

Status GetService(::IAudioClient* client, const Guid& iid, void** out) {
  if (client == nullptr) return E_POINTER;
  return client->GetService(ToIid(iid), out);
}

Status Start(::IAudioClient* client) { return client != nullptr ? client->Start() : E_POINTER; }

Status Stop(::IAudioClient* client) { return client != nullptr ? client->Stop() : E_POINTER; }

std::uint32_t Release(::IAudioClient* client) { return client != nullptr ? client->Release() : 0; }

Status GetNextPacketSize(::IAudioCaptureClient* capture, std::uint32_t* frames) {
  if (capture == nullptr) return E_POINTER;
  UINT32 next = 0;
  const HRESULT status = capture->GetNextPacketSize(&next);
  if (frames != nullptr) *frames = next;
  return status;
}

Status GetBuffer(::IAudioCaptureClient* capture, std::uint8_t** data, std::uint32_t* frames,
                 std::uint32_t* flags, std::uint64_t* devicePosition, std::uint64_t* qpcPosition) {
  if (capture == nullptr) return E_POINTER;
  BYTE* buffer = data != nullptr ? *data : nullptr;
  UINT32 count = frames != nullptr ? *frames : 0;
  DWORD bufferFlags = flags != nullptr ? *flags : 0;
  UINT64 device = 0;
  UINT64 qpc = 0;
  const HRESULT status = capture->GetBuffer(&buffer, &count, &bufferFlags,
                                            devicePosition != nullptr ? &device : nullptr,
                                            qpcPosition != nullptr ? &qpc : nullptr);
  if (data != nullptr) *data = buffer;
  if (frames != nullptr) *frames = count;
  if (flags != nullptr) *flags = bufferFlags;
  if (devicePosition != nullptr) *devicePosition = device;
  if (qpcPosition != nullptr) *qpcPosition = qpc;
  return status;
}

Status ReleaseBuffer(::IAudioCaptureClient* capture, std::uint32_t frames) {
  if (capture == nullptr) return E_POINTER;
  return capture->ReleaseBuffer(frames);
}

std::uint32_t Release(::IAudioCaptureClient* capture) {
  return capture != nullptr ? capture->Release() : 0;
}

}  // namespace platform
