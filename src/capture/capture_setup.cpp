#include "capture/capture_setup.h"

#include <cstdio>
#include <string>

#include "app/entry.h"
#include "capture/activated.h"
#include "capture/capture_pump.h"
#include "identity/image_name.h"
#include "identity/process_family.h"
#include "identity/utf8.h"
#include "identity/window_owner.h"
#include "platform/audio_services.h"

namespace {

constexpr std::uint32_t kActivationWaitMs = 5000;
constexpr std::int64_t kBufferDuration = 200000;  // 20 ms in 100-nanosecond units
constexpr std::uint32_t kStreamFlags = platform::AUDCLNT_STREAMFLAGS_LOOPBACK |
                                       platform::AUDCLNT_STREAMFLAGS_EVENTCALLBACK |
                                       platform::AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY |
                                       platform::AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM;
// The virtual device of process loopback.
constexpr wchar_t kProcessLoopbackDevice[] = L"VAD\\Process_Loopback";

// The engine converts whatever the application renders to this.
constexpr platform::WaveFormatEx kCaptureFormat = {
    platform::WAVE_FORMAT_PCM, 2, 48000, 48000 * 4, 4, 16, 0};

void WriteStatusLine(const std::string& line) {
  platform::WriteStderr(line.data(), line.size());
  platform::FlushStderr();
}

int Fail(const char* word) {
  WriteStatusLine(std::string("error ") + word + "\n");
  return kExitCaptureFailed;
}

// The engine's objects behind a started stream.
struct CaptureStream {
  ::IAudioClient* client = nullptr;
  ::IAudioCaptureClient* capture = nullptr;
  platform::Handle bufferEvent = nullptr;
};

// What the activation request points the engine at. The engine reads it on its own thread,
// after the request has returned and possibly after the wait for it gave up, so it lives as
// long as the process (one capture per process).
struct ActivationRecord {
  platform::AudioClientActivationParams params;
  platform::PropVariantBlob property;
};
ActivationRecord TheActivationRecord;

// Requests process-loopback activation for the root's tree and waits for its completion.
// Returns the error word, or nullptr with the audio client.
const char* ActivateLoopbackClient(platform::ProcessId root, ::IAudioClient** client) {
  platform::AudioClientActivationParams& params = TheActivationRecord.params;
  params = {platform::AUDIOCLIENT_ACTIVATION_TYPE_PROCESS_LOOPBACK, root,
            platform::PROCESS_LOOPBACK_MODE_INCLUDE_TARGET_PROCESS_TREE};
  platform::PropVariantBlob& property = TheActivationRecord.property;
  property = {platform::VT_BLOB, 0, 0, 0, sizeof params, reinterpret_cast<std::uint8_t*>(&params)};
  Activated* handler = new Activated();
  ::IActivateAudioInterfaceAsyncOperation* operation = nullptr;
  if (platform::ActivateAudioInterfaceAsync(kProcessLoopbackDevice, platform::IID_IAudioClient,
                                            &property, handler, &operation) < 0) {
    handler->Release();
    return "activate";
  }
  // The platform keeps its own references to the handler; a late completion only signals.
  if (platform::WaitForSingleObject(handler->CompletionEvent(), kActivationWaitMs) !=
      platform::kWaitObject0) {
    handler->Release();
    return "activate-timeout";
  }
  platform::Status activateStatus = platform::kEFail;
  ::IUnknown* activated = nullptr;
  platform::Status result = platform::GetActivateResult(operation, &activateStatus, &activated);
  platform::Release(operation);
  handler->Release();
  if (result < 0 || activateStatus < 0 || activated == nullptr) return "unsupported";
  void* audioClient = nullptr;
  platform::Status query =
      platform::QueryInterface(activated, platform::IID_IAudioClient, &audioClient);
  platform::Release(activated);
  if (query < 0 || audioClient == nullptr) return "client";
  *client = static_cast<::IAudioClient*>(audioClient);
  return nullptr;
}

// Initialises the client for the capture format, attaches the buffer event and starts it.
const char* StartStream(CaptureStream& stream) {
  if (platform::Initialize(stream.client, platform::AUDCLNT_SHAREMODE_SHARED, kStreamFlags,
                           kBufferDuration, 0, &kCaptureFormat, nullptr) < 0) {
    platform::Release(stream.client);
    return "initialize";
  }
  // A failed creation gives a null event, which the engine refuses to attach: "service".
  stream.bufferEvent = platform::CreateEventW(false, false);
  void* capture = nullptr;
  if (platform::SetEventHandle(stream.client, stream.bufferEvent) < 0 ||
      platform::GetService(stream.client, platform::IID_IAudioCaptureClient, &capture) < 0 ||
      capture == nullptr) {
    platform::Release(stream.client);
    return "service";
  }
  stream.capture = static_cast<::IAudioCaptureClient*>(capture);
  if (platform::Start(stream.client) < 0) {
    platform::Release(stream.capture);
    platform::Release(stream.client);
    return "start";
  }
  return nullptr;
}

void TearDown(CaptureStream& stream) {
  platform::Stop(stream.client);
  platform::Release(stream.capture);
  platform::Release(stream.client);
  platform::CloseHandle(stream.bufferEvent);
  platform::CoUninitialize();
}

}  // namespace

int RunCapture(std::uint64_t window, platform::ProcessId excludedPid) {
  if (!platform::IsWindow(window)) return Fail("no-window");
  platform::ProcessId pid = WindowProcessId(window);
  if (pid == 0) return Fail("no-process");
  CaptureRoot root = ResolveCaptureRoot(pid, excludedPid);
  if (root.isSelf) return Fail("self");
  if (platform::CoInitializeEx() < 0) return Fail("com");
  CaptureStream stream;
  if (const char* word = ActivateLoopbackClient(root.rootPid, &stream.client)) return Fail(word);
  if (const char* word = StartStream(stream)) return Fail(word);
  WriteStatusLine("ok " + std::to_string(root.rootPid) + " " +
                  WideToUtf8(ProcessImageName(root.rootPid)) + "\n");
  MonoBuffer mono;
  PumpCapture(stream.capture, stream.bufferEvent, mono);
  TearDown(stream);
  return kExitOk;
}
