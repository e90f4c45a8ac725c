#include "audio_client.h"
#include "engine_script.h"

namespace engine {

namespace {

volatile LONG64 Fetched = 0;       // packets handed out
volatile LONG64 EmptyQueries = 0;  // size queries that found nothing: one ends each drain
volatile LONG64 Fetches = 0;       // GetBuffer calls, for the scripted failure

}  // namespace

HRESULT CaptureClient::GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64* devicePosition,
                                 UINT64* qpcPosition) {
  const std::uint64_t fetch = static_cast<std::uint64_t>(InterlockedIncrement64(&Fetches));
  ReadyPacket packet;
  HRESULT status = S_OK;
  if (data == nullptr || frames == nullptr || flags == nullptr)
    status = E_POINTER;
  else if (outstanding_)
    status = AUDCLNT_E_OUT_OF_ORDER;
  else if (TheScript().failure == FailurePoint::GetBuffer && fetch == TheScript().failingFetch)
    status = AUDCLNT_E_DEVICE_INVALIDATED;
  else if (!clock_->Front(&packet))
    status = AUDCLNT_S_BUFFER_EMPTY;
  if (status == S_OK) {
    *data = packet.data;
    *frames = packet.frames;
    *flags = packet.flags;
    if (devicePosition != nullptr) *devicePosition = packet.firstFrame;
    if (qpcPosition != nullptr) *qpcPosition = 0;
    outstanding_ = true;
    outstandingFrames_ = packet.frames;
    InterlockedIncrement64(&Fetched);
    ENGINE_CALL(
        "get-buffer packet=%llu frame=%llu frames=%u flags=0x%lX data=%s positions=%s,%s "
        "status=%s",
        static_cast<unsigned long long>(packet.number),
        static_cast<unsigned long long>(packet.firstFrame), packet.frames,
        static_cast<unsigned long>(packet.flags), packet.data ? "given" : "null",
        devicePosition ? "asked" : "null", qpcPosition ? "asked" : "null",
        StatusText(status).c_str());
    return S_OK;
  }
  if (frames != nullptr && status == AUDCLNT_S_BUFFER_EMPTY) *frames = 0;
  ENGINE_CALL("get-buffer status=%s", StatusText(status).c_str());
  return status;
}

HRESULT CaptureClient::ReleaseBuffer(UINT32 frames) {
  HRESULT status = S_OK;
  if (!outstanding_)
    status = AUDCLNT_E_OUT_OF_ORDER;
  else if (frames != 0 && frames != outstandingFrames_)
    status = AUDCLNT_E_INVALID_SIZE;
  ENGINE_CALL("release-buffer frames=%u status=%s", frames, StatusText(status).c_str());
  if (status < 0) return status;
  outstanding_ = false;
  if (frames != 0) clock_->PopFront();  // 0 keeps the packet for the next GetBuffer
  return S_OK;
}

HRESULT CaptureClient::GetNextPacketSize(UINT32* frames) {
  if (frames == nullptr) {
    ENGINE_CALL("next-packet-size status=%s", StatusText(E_POINTER).c_str());
    return E_POINTER;
  }
  ReadyPacket packet;
  *frames = clock_->Front(&packet) ? packet.frames : 0;
  if (*frames == 0) InterlockedIncrement64(&EmptyQueries);
  ENGINE_CALL("next-packet-size frames=%u status=0x00000000", *frames);
  return S_OK;
}

void LogCaptureSummaryAtExit() {
  TheLog().Line("summary fetched=%lld empty-size-queries=%lld", static_cast<long long>(Fetched),
                static_cast<long long>(EmptyQueries));
}

}  // namespace engine
