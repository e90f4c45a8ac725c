// Audio capture services: the component runtime, process-loopback activation and the audio
// engine's client and capture interfaces, plus the events the capture waits on.
//
// The program's own code calls only what is declared here. Engine objects are opaque pointers
// named after the platform's interfaces and driven through the functions below; the Windows
// backend (platform/windows) calls the real interface methods, the simulated backend
// (platform/simulated, see simulated_audio.h) scripts an engine for the unit tests.
//
// The completion handler is the one object the program implements itself, so its two
// interfaces are declared here with the platform's table layout: three IUnknown slots, then
// the interface's own methods, all in the platform's calling convention.
#pragma once

#include <cstdint>

#include "platform/desktop_services.h"

#if defined(_WIN32) && !defined(_WIN64)
#define TESSIK_COMCALL __stdcall
#else
#define TESSIK_COMCALL
#endif

struct IUnknown;
struct IAudioClient;
struct IAudioCaptureClient;
struct IActivateAudioInterfaceAsyncOperation;

namespace platform {

using Status = std::int32_t;  // negative is failure

constexpr Status kSOk = 0;
constexpr Status kEPointer = static_cast<Status>(0x80004003u);
constexpr Status kENoInterface = static_cast<Status>(0x80004002u);
constexpr Status kEFail = static_cast<Status>(0x80004005u);

// Same layout as the platform's GUID.
struct Guid {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};

inline bool operator==(const Guid& a, const Guid& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}

constexpr Guid IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr Guid IID_IActivateAudioInterfaceCompletionHandler = {
    0x41D949AB, 0x9862, 0x444A, {0x80, 0xF6, 0xC2, 0x61, 0x33, 0x4D, 0xA5, 0xEB}};
constexpr Guid IID_IAgileObject = {
    0x94EA2B94, 0xE9CC, 0x49E0, {0xC0, 0xFF, 0xEE, 0x64, 0xCA, 0x8F, 0x5B, 0x90}};
constexpr Guid IID_IAudioClient = {
    0x1CB9AD4C, 0xDBFA, 0x4C32, {0xB1, 0x78, 0xC2, 0xF5, 0x68, 0xA7, 0x03, 0xB2}};
constexpr Guid IID_IAudioCaptureClient = {
    0xC8ADBD64, 0xE71E, 0x48A0, {0xA4, 0xDE, 0x18, 0x5C, 0x39, 0x5C, 0xD3, 0x17}};

struct IActivateAudioInterfaceCompletionHandler {
  virtual Status TESSIK_COMCALL QueryInterface(const Guid& iid, void** out) = 0;
  virtual std::uint32_t TESSIK_COMCALL AddRef() = 0;
  virtual std::uint32_t TESSIK_COMCALL Release() = 0;
  virtual Status TESSIK_COMCALL
  ActivateCompleted(::IActivateAudioInterfaceAsyncOperation* operation) = 0;
};

struct IAgileObject {
  virtual Status TESSIK_COMCALL QueryInterface(const Guid& iid, void** out) = 0;
  virtual std::uint32_t TESSIK_COMCALL AddRef() = 0;
  virtual std::uint32_t TESSIK_COMCALL Release() = 0;
};

// AUDIOCLIENT_ACTIVATION_PARAMS with a process-loopback target: 12 bytes.
constexpr std::uint32_t AUDIOCLIENT_ACTIVATION_TYPE_PROCESS_LOOPBACK = 1;
constexpr std::uint32_t PROCESS_LOOPBACK_MODE_INCLUDE_TARGET_PROCESS_TREE = 0;
struct AudioClientActivationParams {
  std::uint32_t ActivationType;
  std::uint32_t TargetProcessId;
  std::uint32_t ProcessLoopbackMode;
};
static_assert(sizeof(AudioClientActivationParams) == 12);

// PROPVARIANT holding a VT_BLOB: type tag, three reserved words, then size and pointer; the
// same size and layout as the platform's, so it is handed over as it is.
constexpr std::uint16_t VT_BLOB = 65;
struct PropVariantBlob {
  std::uint16_t vt;
  std::uint16_t wReserved1;
  std::uint16_t wReserved2;
  std::uint16_t wReserved3;
  std::uint32_t cbSize;
  std::uint8_t* pBlobData;
};

// WAVEFORMATEX, packed as the platform packs it (18 bytes).
constexpr std::uint16_t WAVE_FORMAT_PCM = 1;
#pragma pack(push, 2)
struct WaveFormatEx {
  std::uint16_t wFormatTag;
  std::uint16_t nChannels;
  std::uint32_t nSamplesPerSec;
  std::uint32_t nAvgBytesPerSec;
  std::uint16_t nBlockAlign;
  std::uint16_t wBitsPerSample;
  std::uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WaveFormatEx) == 18);

constexpr std::uint32_t AUDCLNT_SHAREMODE_SHARED = 0;
constexpr std::uint32_t AUDCLNT_STREAMFLAGS_LOOPBACK = 0x00020000;
constexpr std::uint32_t AUDCLNT_STREAMFLAGS_EVENTCALLBACK = 0x00040000;
constexpr std::uint32_t AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY = 0x08000000;
constexpr std::uint32_t AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM = 0x80000000;
constexpr std::uint32_t AUDCLNT_BUFFERFLAGS_SILENT = 0x2;

constexpr std::uint32_t kWaitObject0 = 0;
constexpr std::uint32_t kWaitTimeout = 258;

// Component runtime.
Status CoInitializeEx();  // multithreaded model for the calling thread
void CoUninitialize();

// Process-loopback activation. The Windows backend binds the function from "MMDevAPI.DLL" by
// ordinal at run time; a missing library or export is a failure status. The engine may read
// activationParams and the blob it points to on its own thread at any time until it completes,
// also after this call has returned and after the caller stopped waiting: both must outlive it.
Status ActivateAudioInterfaceAsync(const wchar_t* devicePath, const Guid& iid,
                                   const PropVariantBlob* activationParams,
                                   IActivateAudioInterfaceCompletionHandler* handler,
                                   ::IActivateAudioInterfaceAsyncOperation** operation);
Status GetActivateResult(::IActivateAudioInterfaceAsyncOperation* operation, Status* activateStatus,
                         ::IUnknown** activated);
std::uint32_t Release(::IActivateAudioInterfaceAsyncOperation* operation);

// The activated object.
Status QueryInterface(::IUnknown* object, const Guid& iid, void** out);
std::uint32_t Release(::IUnknown* object);

// Audio client.
Status Initialize(::IAudioClient* client, std::uint32_t shareMode, std::uint32_t streamFlags,
                  std::int64_t bufferDuration, std::int64_t periodicity, const WaveFormatEx* format,
                  const Guid* sessionGuid);
Status SetEventHandle(::IAudioClient* client, Handle event);
Status GetService(::IAudioClient* client, const Guid& iid, void** out);
Status Start(::IAudioClient* client);
Status Stop(::IAudioClient* client);
std::uint32_t Release(::IAudioClient* client);

// Capture client.
Status GetNextPacketSize(::IAudioCaptureClient* capture, std::uint32_t* frames);
Status GetBuffer(::IAudioCaptureClient* capture, std::uint8_t** data, std::uint32_t* frames,
                 std::uint32_t* flags, std::uint64_t* devicePosition, std::uint64_t* qpcPosition);
Status ReleaseBuffer(::IAudioCaptureClient* capture, std::uint32_t frames);
std::uint32_t Release(::IAudioCaptureClient* capture);

// Events and waits.
Handle CreateEventW(bool manualReset, bool initialState);  // null on failure
bool SetEvent(Handle event);
std::uint32_t WaitForSingleObject(Handle object, std::uint32_t milliseconds);

}  // namespace platform
