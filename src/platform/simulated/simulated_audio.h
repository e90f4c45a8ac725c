// The simulated audio engine behind audio_services.h. A test scripts what each call returns
// and which packets arrive, runs the capture mode, and reads back the arguments the program
// passed, the order of its calls and the balance of every reference and event it was given.
//
// Waits use the simulated clock of simulated_desktop.h: a wait that nothing can end advances
// the clock by its time-out and times out; a wait for a completion under way on another thread
// blocks for real until it arrives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/audio_services.h"

namespace sim {

enum class Completion {
  Success,                  // completes on another thread with an audio client
  FailureStatus,            // completes with a failure activation status
  SuccessWithoutInterface,  // completes with success but a null interface
  Never,                    // never completes
  AfterWaitGivesUp,         // completes on another thread once the program stopped waiting and
                            // moved on (at its next write to standard error)
};

struct Packet {
  std::vector<std::int16_t> samples;  // interleaved left, right; frames = size / 2
  std::uint32_t flags = 0;
  bool nullData = false;              // data pointer null, frame count still given
  std::uint32_t frames = UINT32_MAX;  // frame count GetBuffer returns; default size / 2
  std::uint32_t reportedSize = 0;     // GetNextPacketSize; 0 means the frame count (or 1)
  platform::Status sizeStatus = 0;    // GetNextPacketSize result for this packet
  platform::Status bufferStatus = 0;  // GetBuffer result for this packet
  bool endsStdinWhenFetched = false;  // standard input ends while this packet is in hand
};

// A burst is what the engine has ready when it signals the buffer event once.
struct Burst {
  std::uint64_t atMs = 0;  // signalled once the clock reaches this
  std::vector<Packet> packets;
};

struct AudioScript {
  platform::Status coInitialize = 0;
  platform::Status activateRequest = 0;
  Completion completion = Completion::Success;
  platform::Status getActivateResult = 0;
  platform::Status activateStatus = 0;  // status reported by a completion marked Success
  bool activatedLacksAudioClient = false;
  platform::Status initialize = 0;
  platform::Status setEventHandle = 0;
  platform::Status getService = 0;
  bool getServiceGivesNull = false;
  platform::Status start = 0;
  std::vector<int> failingCreateEvents;  // 1-based numbers of CreateEventW calls that fail
  std::vector<Burst> bursts;
};

struct AudioRecord {
  std::wstring devicePath;
  platform::Guid activateIid{};
  std::uint16_t propVariantType = 0;
  std::uint32_t blobSize = 0;
  std::vector<std::uint8_t> blobBytes;
  bool handlerPassed = false;
  std::uint32_t shareMode = 0;
  std::uint32_t streamFlags = 0;
  std::int64_t bufferDuration = -1;
  std::int64_t periodicity = -1;
  platform::WaveFormatEx format{};
  bool sessionGuidNull = false;
  platform::Guid serviceIid{};
  bool bufferEventManualReset = true;
  std::vector<std::string> calls;  // "CoInitializeEx", "Start", "Stop", "Release IAudioClient",
                                   // "CloseHandle event", "CoUninitialize", ...
  int packetsFetched = 0;
  int packetsReleased = 0;
  std::vector<std::uint32_t> releasedFrames;
  std::vector<std::uint32_t> bufferWaits;  // time-outs passed to waits on the buffer event
  std::uint64_t activationWaitStartedAt = 0;
  std::uint64_t activationWaitEndedAt = 0;
  bool handlerAliveAtEnd = false;  // the handler was not yet destroyed at Reset
};

// Clears script and record; call together with sim::Reset().
void ResetAudio();
AudioScript& Script();
AudioRecord& AudioRecorded();
// References handed out by the engine and not yet released; negative after a double release.
int OutstandingReferences();
// References the engine holds on the program's completion handler.
int HandlerReferencesHeldByEngine();
// Waits (for real, bounded) until a completion started on another thread has finished.
void WaitForCompletionThread();

}  // namespace sim
