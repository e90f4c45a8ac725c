// The audio client that process-loopback activation hands out, and the capture client it
// serves. Each checks its arguments and its state as the real engine documents, logs every
// call with its arguments and result, and fails where the script says.
#pragma once

#include <windows.h>
#include <audioclient.h>

#include <memory>

#include "live_objects.h"
#include "packet_clock.h"

namespace engine {

class AudioClient final : public IAudioClient, public LiveObject {
 public:
  AudioClient() : LiveObject("client"), clock_(std::make_shared<PacketClock>()) {}
  ENGINE_IUNKNOWN(IAudioClient)

  HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE shareMode, DWORD flags,
                                       REFERENCE_TIME duration, REFERENCE_TIME periodicity,
                                       const WAVEFORMATEX* format, LPCGUID session) override;
  HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32* frames) override;
  HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME* latency) override;
  HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32* frames) override;
  HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE shareMode,
                                              const WAVEFORMATEX* format,
                                              WAVEFORMATEX** closest) override;
  HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** format) override;
  HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME* defaultPeriod,
                                            REFERENCE_TIME* minimumPeriod) override;
  HRESULT STDMETHODCALLTYPE Start() override;
  HRESULT STDMETHODCALLTYPE Stop() override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE event) override;
  HRESULT STDMETHODCALLTYPE GetService(REFIID iid, void** out) override;

 private:
  ~AudioClient() override = default;

  bool initialized_ = false;
  DWORD flags_ = 0;
  UINT32 bufferFrames_ = 0;
  std::shared_ptr<PacketClock> clock_;  // shared with the capture client
};

// An activated object that is not an audio client (the "no-client" failure point).
class ForeignObject final : public IUnknown, public LiveObject {
 public:
  ForeignObject() : LiveObject("activated") {}
  ENGINE_IUNKNOWN(IUnknown)

 private:
  ~ForeignObject() override = default;
};

class CaptureClient final : public IAudioCaptureClient, public LiveObject {
 public:
  explicit CaptureClient(std::shared_ptr<PacketClock> clock)
      : LiveObject("capture"), clock_(std::move(clock)) {}
  ENGINE_IUNKNOWN(IAudioCaptureClient)

  HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** data, UINT32* frames, DWORD* flags,
                                      UINT64* devicePosition, UINT64* qpcPosition) override;
  HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 frames) override;
  HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32* frames) override;

 private:
  ~CaptureClient() override = default;

  std::shared_ptr<PacketClock> clock_;
  bool outstanding_ = false;  // a packet handed out and not yet released
  UINT32 outstandingFrames_ = 0;
};

// "summary fetched=<packets> empty-size-queries=<n>" at exit.
void LogCaptureSummaryAtExit();
// "exit event open" or "exit event closed": the event last given, as the program left it.
void LogEventAtExit();

}  // namespace engine
