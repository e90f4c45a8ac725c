#include "audio_client.h"

#include "engine_script.h"

extern "C" LONG NTAPI NtQueryEvent(HANDLE event, int informationClass, PVOID information,
                                   ULONG length, PULONG returned);

namespace engine {

namespace {

constexpr DWORD kKnownStreamFlags =
    AUDCLNT_STREAMFLAGS_CROSSPROCESS | AUDCLNT_STREAMFLAGS_LOOPBACK |
    AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_NOPERSIST |
    AUDCLNT_STREAMFLAGS_RATEADJUST | 0x08000000 /* SRC_DEFAULT_QUALITY */ |
    0x80000000 /* AUTOCONVERTPCM */ | AUDCLNT_SESSIONFLAGS_EXPIREWHENUNOWNED |
    AUDCLNT_SESSIONFLAGS_DISPLAY_HIDE | AUDCLNT_SESSIONFLAGS_DISPLAY_HIDEWHENEXPIRED;

// The event handed to SetEventHandle last, looked at again at exit: was it closed?
HANDLE GivenEvent = nullptr;

struct EventBasicInformation {
  int type;  // 0 manual reset (notification), 1 auto reset (synchronization)
  LONG state;
};

// -1 when the handle names no event.
int EventResetKind(HANDLE event) {
  EventBasicInformation information{};
  ULONG returned = 0;
  if (event == nullptr || NtQueryEvent(event, 0, &information, sizeof information, &returned) < 0)
    return -1;
  return information.type;
}

// The engine makes 48 kHz 16-bit stereo PCM and nothing else; the client asks for it with
// automatic conversion, and a format that does not describe itself consistently is refused.
bool IsConsistentPcm(const WAVEFORMATEX& format) {
  return format.wFormatTag == WAVE_FORMAT_PCM && format.nChannels >= 1 && format.nChannels <= 8 &&
         (format.wBitsPerSample == 8 || format.wBitsPerSample == 16 ||
          format.wBitsPerSample == 24 || format.wBitsPerSample == 32) &&
         format.nBlockAlign == format.nChannels * format.wBitsPerSample / 8 &&
         format.nAvgBytesPerSec == format.nSamplesPerSec * format.nBlockAlign &&
         format.nSamplesPerSec >= 8000 && format.nSamplesPerSec <= 384000;
}

bool IsWhatTheEngineMakes(const WAVEFORMATEX& format) {
  return format.nChannels == 2 && format.wBitsPerSample == 16 && format.nSamplesPerSec == 48000;
}

bool Failing(FailurePoint point) { return TheScript().failure == point; }

}  // namespace

HRESULT AudioClient::Initialize(AUDCLNT_SHAREMODE shareMode, DWORD flags, REFERENCE_TIME duration,
                                REFERENCE_TIME periodicity, const WAVEFORMATEX* format,
                                LPCGUID session) {
  HRESULT status = S_OK;
  if (initialized_)
    status = AUDCLNT_E_ALREADY_INITIALIZED;
  else if (format == nullptr)
    status = E_POINTER;
  else if (shareMode != AUDCLNT_SHAREMODE_SHARED)
    status = AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED;
  else if ((flags & ~kKnownStreamFlags) != 0)
    status = AUDCLNT_E_INVALID_STREAM_FLAG;
  else if ((flags & AUDCLNT_STREAMFLAGS_LOOPBACK) == 0)
    status = AUDCLNT_E_WRONG_ENDPOINT_TYPE;
  else if (periodicity != 0 || duration < 0)
    status = E_INVALIDARG;
  else if (format->cbSize != 0 || !IsConsistentPcm(*format))
    status = AUDCLNT_E_UNSUPPORTED_FORMAT;
  else if (!IsWhatTheEngineMakes(*format))
    status = AUDCLNT_E_UNSUPPORTED_FORMAT;
  else if (Failing(FailurePoint::Initialize))
    status = AUDCLNT_E_UNSUPPORTED_FORMAT;

  if (format != nullptr) {
    ENGINE_CALL(
        "initialize share=%d flags=0x%08lX duration=%lld periodicity=%lld "
        "format=%u,%u,%lu,%lu,%u,%u,%u session=%s status=%s",
        static_cast<int>(shareMode), static_cast<unsigned long>(flags),
        static_cast<long long>(duration), static_cast<long long>(periodicity), format->wFormatTag,
        format->nChannels, static_cast<unsigned long>(format->nSamplesPerSec),
        static_cast<unsigned long>(format->nAvgBytesPerSec), format->nBlockAlign,
        format->wBitsPerSample, format->cbSize, session == nullptr ? "null" : "given",
        StatusText(status).c_str());
  } else {
    ENGINE_CALL("initialize format=null status=%s", StatusText(status).c_str());
  }
  if (status < 0) return status;

  initialized_ = true;
  flags_ = flags;
  const Script& script = TheScript();
  bufferFrames_ = static_cast<UINT32>((duration * 48000 + 9999999) / 10000000);
  std::uint32_t packets = script.bufferPackets;
  if (packets == 0) packets = (bufferFrames_ + script.packetFrames - 1) / script.packetFrames;
  if (packets == 0) packets = 1;
  clock_->Prepare(packets);
  return S_OK;
}

HRESULT AudioClient::GetBufferSize(UINT32* frames) {
  if (frames == nullptr) return E_POINTER;
  if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
  *frames = bufferFrames_;
  return S_OK;
}

HRESULT AudioClient::GetStreamLatency(REFERENCE_TIME* latency) {
  if (latency == nullptr) return E_POINTER;
  if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
  *latency = 100000;
  return S_OK;
}

HRESULT AudioClient::GetCurrentPadding(UINT32* frames) {
  if (frames == nullptr) return E_POINTER;
  if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
  ReadyPacket packet;
  *frames = clock_->Front(&packet) ? packet.frames : 0;
  return S_OK;
}

HRESULT AudioClient::IsFormatSupported(AUDCLNT_SHAREMODE, const WAVEFORMATEX* format,
                                       WAVEFORMATEX** closest) {
  if (format == nullptr) return E_POINTER;
  if (closest != nullptr) *closest = nullptr;
  return IsConsistentPcm(*format) && IsWhatTheEngineMakes(*format) ? S_OK
                                                                   : AUDCLNT_E_UNSUPPORTED_FORMAT;
}

HRESULT AudioClient::GetMixFormat(WAVEFORMATEX** format) {
  if (format != nullptr) *format = nullptr;
  return E_NOTIMPL;  // a process-loopback client has no mix format of its own
}

HRESULT AudioClient::GetDevicePeriod(REFERENCE_TIME* defaultPeriod, REFERENCE_TIME* minimumPeriod) {
  if (defaultPeriod == nullptr && minimumPeriod == nullptr) return E_POINTER;
  const REFERENCE_TIME period = REFERENCE_TIME{TheScript().periodMs} * 10000;
  if (defaultPeriod != nullptr) *defaultPeriod = period;
  if (minimumPeriod != nullptr) *minimumPeriod = period;
  return S_OK;
}

HRESULT AudioClient::Start() {
  HRESULT status = S_OK;
  if (!initialized_)
    status = AUDCLNT_E_NOT_INITIALIZED;
  else if (clock_->Running())
    status = AUDCLNT_E_NOT_STOPPED;
  else if ((flags_ & AUDCLNT_STREAMFLAGS_EVENTCALLBACK) != 0 && clock_->Event() == nullptr)
    status = AUDCLNT_E_EVENTHANDLE_NOT_SET;
  else if (Failing(FailurePoint::Start))
    status = AUDCLNT_E_DEVICE_IN_USE;
  ENGINE_CALL("start status=%s", StatusText(status).c_str());
  if (status >= 0) clock_->Start();
  return status;
}

HRESULT AudioClient::Stop() {
  HRESULT status = S_OK;
  if (!initialized_)
    status = AUDCLNT_E_NOT_INITIALIZED;
  else if (!clock_->Running())
    status = S_FALSE;
  if (status == S_OK) clock_->Stop();
  ENGINE_CALL("stop status=%s", StatusText(status).c_str());
  return status;
}

HRESULT AudioClient::Reset() {
  if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
  return clock_->Running() ? AUDCLNT_E_NOT_STOPPED : S_OK;
}

HRESULT AudioClient::SetEventHandle(HANDLE event) {
  const int kind = EventResetKind(event);
  HRESULT status = S_OK;
  if (!initialized_)
    status = AUDCLNT_E_NOT_INITIALIZED;
  else if ((flags_ & AUDCLNT_STREAMFLAGS_EVENTCALLBACK) == 0)
    status = AUDCLNT_E_EVENTHANDLE_NOT_EXPECTED;
  else if (kind < 0)
    status = E_INVALIDARG;
  else if (Failing(FailurePoint::SetEvent))
    status = E_INVALIDARG;
  ENGINE_CALL("set-event-handle event=%s reset=%s status=%s", event == nullptr ? "null" : "given",
              kind == 1   ? "auto"
              : kind == 0 ? "manual"
                          : "none",
              StatusText(status).c_str());
  if (event != nullptr) GivenEvent = event;
  if (status < 0) return status;
  clock_->AttachEvent(event);
  return S_OK;
}

HRESULT AudioClient::GetService(REFIID iid, void** out) {
  HRESULT status = S_OK;
  if (out == nullptr)
    status = E_POINTER;
  else if (!initialized_)
    status = AUDCLNT_E_NOT_INITIALIZED;
  else if (!IsEqualIID(iid, __uuidof(IAudioCaptureClient)))
    status = E_NOINTERFACE;
  else if (Failing(FailurePoint::GetService))
    status = E_NOINTERFACE;
  ENGINE_CALL("get-service iid=%s status=%s", GuidText(iid).c_str(), StatusText(status).c_str());
  if (out != nullptr) *out = nullptr;
  if (status < 0) return status;
  *out = static_cast<IAudioCaptureClient*>(new CaptureClient(clock_));
  return S_OK;
}

void LogEventAtExit() {
  if (GivenEvent == nullptr) return;
  ENGINE_CALL("exit event %s", EventResetKind(GivenEvent) < 0 ? "closed" : "open");
}

}  // namespace engine
