// The scripted audio engine: component runtime, process-loopback activation, audio client,
// capture client and the packets of the scripted bursts.
//
// Names recorded in AudioRecorded().calls, one per call, in call order:
//   "CoInitializeEx", "CoUninitialize",
//   "ActivateAudioInterfaceAsync", "GetActivateResult", "Release operation",
//   "QueryInterface IAudioClient" (or "QueryInterface" for any other identifier),
//   "Release activated", "Initialize", "SetEventHandle", "GetService", "Start", "Stop",
//   "Release IAudioCaptureClient", "Release IAudioClient",
//   "CloseHandle event" (closing the event attached with SetEventHandle).
// A Release of a null pointer is recorded with " (null)" appended and counts nothing.
// Packet calls are counted (packetsFetched, packetsReleased), not listed.
//
// Every reference handed to the program counts +1 in OutstandingReferences and every Release
// -1, also past zero, so a double release shows as a negative balance. Objects stay allocated
// until ResetAudio, so a release too many is seen, never a crash.
#include <algorithm>
#include <atomic>
#include <memory>

#include "platform/simulated/simulated_audio.h"
#include "platform/simulated/simulated_internal.h"

namespace sim::detail {
struct Activation;
}

struct IUnknown {
  int references = 0;
  IAudioClient* client = nullptr;  // what QueryInterface gives for IID_IAudioClient
};

struct IAudioClient {
  int references = 0;
  IAudioCaptureClient* capture = nullptr;
};

struct IAudioCaptureClient {
  int references = 0;
};

struct IActivateAudioInterfaceAsyncOperation {
  int references = 0;
  sim::detail::Activation* activation = nullptr;
};

namespace sim::detail {

// One activation request and the engine thread that completes it. The thread's fields
// (started, finished) are guarded by Mutex().
struct Activation {
  platform::IActivateAudioInterfaceCompletionHandler* handler = nullptr;
  IActivateAudioInterfaceAsyncOperation* operation = nullptr;
  Completion completion = Completion::Success;
  IUnknown* activated = nullptr;
  bool engineHoldsHandler = false;  // the reference taken at the request, until the thread ends
  bool started = false;
  bool finished = false;
  std::thread thread;
};

namespace {

struct AudioState {
  AudioScript script;
  AudioRecord record;
  int outstanding = 0;
  std::atomic<int> handlerReferences{0};
  std::atomic<int> createEventCalls{0};
  std::vector<std::unique_ptr<IUnknown>> unknowns;
  std::vector<std::unique_ptr<IAudioClient>> clients;
  std::vector<std::unique_ptr<IAudioCaptureClient>> captures;
  std::vector<std::unique_ptr<IActivateAudioInterfaceAsyncOperation>> operations;
  std::vector<std::unique_ptr<Activation>> activations;  // guarded by Mutex()
  Handle bufferEvent = nullptr;                          // guarded by Mutex()
  bool running = false;                                  // between Start and Stop
  // The packets ready are those of the bursts signalled so far, from readyPacket of
  // readyBurst on; they stay in the script, so handing them out allocates nothing.
  std::size_t nextBurst = 0;
  std::size_t readyBurst = 0;
  std::size_t readyPacket = 0;
  bool handlerAliveAtReset = false;
};

AudioState& Audio() {
  static AudioState state;
  return state;
}

void Call(const char* name) { Audio().record.calls.emplace_back(name); }

template <typename T>
T* HandOut(T* object) {
  ++object->references;
  ++Audio().outstanding;
  return object;
}

template <typename T>
T* Make(std::vector<std::unique_ptr<T>>& store) {
  return store.emplace_back(std::make_unique<T>()).get();
}

template <typename T>
std::uint32_t ReleaseObject(T* object, const char* name) {
  if (object == nullptr) {
    Audio().record.calls.push_back(std::string(name) + " (null)");
    return 0;
  }
  Call(name);
  --Audio().outstanding;
  if (object->references > 0) --object->references;
  return static_cast<std::uint32_t>(object->references);
}

// The engine thread: one completion call, then the engine lets go of the handler.
void Complete(Activation* activation) {
  if (activation->handler != nullptr) {
    activation->handler->ActivateCompleted(activation->operation);
    activation->handler->Release();
    --Audio().handlerReferences;
  }
  std::lock_guard lock(Mutex());
  activation->finished = true;
  Changed().notify_all();
}

// The caller holds Mutex().
void StartCompletion(Activation& activation) {
  activation.started = true;
  activation.engineHoldsHandler = false;  // the thread releases it
  activation.thread = std::thread(Complete, &activation);
}

bool AllCompletionsFinished() {
  for (const auto& activation : Audio().activations)
    if (activation->started && !activation->finished) return false;
  return true;
}

void AwaitCompletions(std::unique_lock<std::mutex>& lock) {
  if (!Changed().wait_for(lock, kRealWaitLimit, AllCompletionsFinished))
    Abort("an activation completion did not finish within 5 s");
}

void JoinCompletions() {
  std::vector<std::thread> threads;
  {
    std::unique_lock lock(Mutex());
    AwaitCompletions(lock);
    for (auto& activation : Audio().activations)
      if (activation->thread.joinable()) threads.push_back(std::move(activation->thread));
  }
  for (std::thread& thread : threads) thread.join();
}

std::uint32_t FramesOf(const Packet& packet) {
  return packet.frames != UINT32_MAX ? packet.frames
                                     : static_cast<std::uint32_t>(packet.samples.size() / 2);
}

// Skips bursts that are used up, so readyBurst names the one holding the next packet.
void SkipDrainedBursts() {
  AudioState& audio = Audio();
  while (audio.readyBurst < audio.nextBurst &&
         audio.readyPacket >= audio.script.bursts[audio.readyBurst].packets.size()) {
    ++audio.readyBurst;
    audio.readyPacket = 0;
  }
}

Packet* ReadyPacket() {
  AudioState& audio = Audio();
  SkipDrainedBursts();
  if (audio.readyBurst >= audio.nextBurst) return nullptr;
  return &audio.script.bursts[audio.readyBurst].packets[audio.readyPacket];
}

void DropReadyPacket() {
  if (ReadyPacket() != nullptr) ++Audio().readyPacket;
}

// The burst's packets become ready; data is padded so the program never reads past it.
void SignalNextBurst() {
  AudioState& audio = Audio();
  for (Packet& packet : audio.script.bursts[audio.nextBurst].packets) {
    const std::size_t needed = std::size_t{FramesOf(packet)} * 2;
    if (!packet.nullData && packet.samples.size() < needed) packet.samples.resize(needed);
  }
  ++audio.nextBurst;
}

std::optional<std::uint64_t> NextBurstTime() {
  const AudioState& audio = Audio();
  if (audio.nextBurst >= audio.script.bursts.size()) return std::nullopt;
  return audio.script.bursts[audio.nextBurst].atMs;
}

}  // namespace

void ReleaseEngineLeftovers() {
  JoinCompletions();
  std::vector<platform::IActivateAudioInterfaceCompletionHandler*> held;
  {
    std::lock_guard lock(Mutex());
    for (auto& activation : Audio().activations) {
      if (activation->engineHoldsHandler) {
        activation->engineHoldsHandler = false;
        held.push_back(activation->handler);
      }
    }
  }
  // A handler that outlives the engine's last reference was leaked by the program.
  for (auto* handler : held) {
    Audio().handlerAliveAtReset = handler->Release() != 0 || Audio().handlerAliveAtReset;
    --Audio().handlerReferences;
  }
}

bool CompletionUnderWay() { return !AllCompletionsFinished(); }

void StartCompletionsAfterGivingUp() {
  std::lock_guard lock(Mutex());
  for (auto& activation : Audio().activations)
    if (activation->completion == Completion::AfterWaitGivesUp && !activation->started)
      StartCompletion(*activation);
}

bool IsRunningBufferEvent(Handle event) {
  std::lock_guard lock(Mutex());
  return Audio().running && event != nullptr && event == Audio().bufferEvent;
}

// Actions due before the next burst run first; the burst ends the wait if it comes within
// the time-out, else the wait times out with the clock moved on by it.
std::uint32_t WaitForBuffer(std::uint32_t milliseconds) {
  Audio().record.bufferWaits.push_back(milliseconds);
  const std::uint64_t deadline = sim::Now() + milliseconds;
  for (;;) {
    const std::optional<std::uint64_t> burst = NextBurstTime();
    const std::optional<std::uint64_t> action = NextActionTime();
    if (action && *action <= deadline && (!burst || *action <= std::max(*burst, sim::Now()))) {
      RunNextAction();
      continue;
    }
    if (burst && *burst <= deadline) {
      SetClock(*burst);
      SignalNextBurst();
      return platform::kWaitObject0;
    }
    SetClock(deadline);
    return platform::kWaitTimeout;
  }
}

void NoteHandleClosed(Handle handle) {
  std::lock_guard lock(Mutex());
  if (handle == nullptr || handle != Audio().bufferEvent) return;
  Audio().bufferEvent = nullptr;
  Call("CloseHandle event");
}

void NoteActivationWait(std::uint64_t startedAt, std::uint64_t endedAt) {
  Audio().record.activationWaitStartedAt = startedAt;
  Audio().record.activationWaitEndedAt = endedAt;
}

int NextCreateEventNumber() { return ++Audio().createEventCalls; }

bool CreateEventFails(int number) {
  const std::vector<int>& failing = Audio().script.failingCreateEvents;
  return std::find(failing.begin(), failing.end(), number) != failing.end();
}

}  // namespace sim::detail

namespace sim {

using detail::Audio;

void ResetAudio() {
  detail::ReleaseEngineLeftovers();
  const bool handlerAlive = Audio().handlerAliveAtReset;
  {
    std::lock_guard lock(detail::Mutex());
    detail::AudioState& audio = Audio();
    audio.activations.clear();
    audio.bufferEvent = nullptr;
  }
  detail::AudioState& audio = Audio();
  audio.script = AudioScript{};
  audio.record = AudioRecord{};
  audio.record.handlerAliveAtEnd = handlerAlive;
  audio.outstanding = 0;
  audio.handlerReferences = 0;
  audio.createEventCalls = 0;
  audio.unknowns.clear();
  audio.clients.clear();
  audio.captures.clear();
  audio.operations.clear();
  audio.running = false;
  audio.nextBurst = 0;
  audio.readyBurst = 0;
  audio.readyPacket = 0;
  audio.handlerAliveAtReset = false;
}

AudioScript& Script() { return Audio().script; }
AudioRecord& AudioRecorded() { return Audio().record; }
int OutstandingReferences() { return Audio().outstanding; }
int HandlerReferencesHeldByEngine() { return Audio().handlerReferences; }
void WaitForCompletionThread() { detail::JoinCompletions(); }

}  // namespace sim

namespace platform {

namespace {

using sim::detail::Activation;
using sim::detail::Audio;
using sim::detail::Call;
using sim::detail::HandOut;
using sim::detail::Make;
using sim::detail::Mutex;

constexpr Status kEInvalidArg = static_cast<Status>(0x80070057u);
constexpr Status kEIllegalMethodCall = static_cast<Status>(0x8000000Eu);
constexpr Status kSBufferEmpty = static_cast<Status>(0x08890001u);

void RecordActivation(const wchar_t* devicePath, const Guid& iid,
                      const PropVariantBlob* activationParams, bool handlerPassed) {
  sim::AudioRecord& record = Audio().record;
  Call("ActivateAudioInterfaceAsync");
  record.devicePath = devicePath != nullptr ? devicePath : L"";
  record.activateIid = iid;
  record.handlerPassed = handlerPassed;
  if (activationParams == nullptr) return;
  record.propVariantType = activationParams->vt;
  record.blobSize = activationParams->cbSize;
  const std::uint8_t* bytes = activationParams->pBlobData;
  if (bytes != nullptr) record.blobBytes.assign(bytes, bytes + activationParams->cbSize);
}

// Waits (for real) until the engine thread of this activation has finished, so the result is
// fetched after the engine let go of the handler, as it would be on a real system.
void AwaitCompletionOf(const Activation& activation) {
  std::unique_lock lock(Mutex());
  if (!sim::detail::Changed().wait_for(lock, sim::detail::kRealWaitLimit,
                                       [&] { return activation.finished; }))
    sim::detail::Abort("an activation completion did not finish within 5 s");
}

// What a finished activation reports: a failure status or no interface leave it null.
void FillActivateResult(Activation& activation, Status* activateStatus, ::IUnknown** activated) {
  *activated = nullptr;
  switch (activation.completion) {
    case sim::Completion::FailureStatus:
      *activateStatus = kEFail;
      return;
    case sim::Completion::SuccessWithoutInterface:
      *activateStatus = kSOk;
      return;
    default:
      *activateStatus = Audio().script.activateStatus;
      if (*activateStatus < 0) return;
      if (activation.activated == nullptr) activation.activated = Make(Audio().unknowns);
      *activated = HandOut(activation.activated);
  }
}

}  // namespace

Status CoInitializeEx() {
  Call("CoInitializeEx");
  return Audio().script.coInitialize;
}

void CoUninitialize() { Call("CoUninitialize"); }

Status ActivateAudioInterfaceAsync(const wchar_t* devicePath, const Guid& iid,
                                   const PropVariantBlob* activationParams,
                                   IActivateAudioInterfaceCompletionHandler* handler,
                                   ::IActivateAudioInterfaceAsyncOperation** operation) {
  RecordActivation(devicePath, iid, activationParams, handler != nullptr);
  if (Audio().script.activateRequest < 0) return Audio().script.activateRequest;
  if (operation == nullptr) return kEPointer;
  auto activation = std::make_unique<Activation>();
  activation->handler = handler;
  activation->completion = Audio().script.completion;
  activation->operation = HandOut(Make(Audio().operations));
  activation->operation->activation = activation.get();
  if (handler != nullptr) {
    handler->AddRef();
    ++Audio().handlerReferences;
    activation->engineHoldsHandler = true;
  }
  *operation = activation->operation;
  std::lock_guard lock(Mutex());
  const sim::Completion completion = activation->completion;
  if (completion != sim::Completion::Never && completion != sim::Completion::AfterWaitGivesUp)
    sim::detail::StartCompletion(*activation);
  Audio().activations.push_back(std::move(activation));
  return kSOk;
}

Status GetActivateResult(::IActivateAudioInterfaceAsyncOperation* operation, Status* activateStatus,
                         ::IUnknown** activated) {
  Call("GetActivateResult");
  if (operation == nullptr || activateStatus == nullptr || activated == nullptr) return kEPointer;
  Activation& activation = *operation->activation;
  {
    std::lock_guard lock(Mutex());
    if (!activation.started) return kEIllegalMethodCall;  // not completed yet
  }
  AwaitCompletionOf(activation);
  const Status result = Audio().script.getActivateResult;
  if (result >= 0) FillActivateResult(activation, activateStatus, activated);
  return result;
}

std::uint32_t Release(::IActivateAudioInterfaceAsyncOperation* operation) {
  return sim::detail::ReleaseObject(operation, "Release operation");
}

Status QueryInterface(::IUnknown* object, const Guid& iid, void** out) {
  const bool forClient = iid == IID_IAudioClient;
  Call(forClient ? "QueryInterface IAudioClient" : "QueryInterface");
  if (out == nullptr || object == nullptr) return kEPointer;
  *out = nullptr;
  if (iid == IID_IUnknown) {
    *out = HandOut(object);
    return kSOk;
  }
  if (!forClient || Audio().script.activatedLacksAudioClient) return kENoInterface;
  if (object->client == nullptr) object->client = Make(Audio().clients);
  *out = HandOut(object->client);
  return kSOk;
}

std::uint32_t Release(::IUnknown* object) {
  return sim::detail::ReleaseObject(object, "Release activated");
}

Status Initialize(::IAudioClient*, std::uint32_t shareMode, std::uint32_t streamFlags,
                  std::int64_t bufferDuration, std::int64_t periodicity, const WaveFormatEx* format,
                  const Guid* sessionGuid) {
  Call("Initialize");
  sim::AudioRecord& record = Audio().record;
  record.shareMode = shareMode;
  record.streamFlags = streamFlags;
  record.bufferDuration = bufferDuration;
  record.periodicity = periodicity;
  if (format != nullptr) record.format = *format;
  record.sessionGuidNull = sessionGuid == nullptr;
  if (format == nullptr) return kEPointer;
  return Audio().script.initialize;
}

// Attaches the event only when the script lets the call succeed.
Status SetEventHandle(::IAudioClient*, Handle event) {
  Call("SetEventHandle");
  if (event == nullptr) return kEInvalidArg;
  std::lock_guard lock(Mutex());
  const sim::detail::HandleEntry* entry = sim::detail::FindHandle(event);
  if (entry == nullptr || entry->kind != sim::detail::HandleKind::Event) return kEInvalidArg;
  Audio().record.bufferEventManualReset = entry->manualReset;
  const Status status = Audio().script.setEventHandle;
  if (status >= 0) Audio().bufferEvent = event;
  return status;
}

Status GetService(::IAudioClient* client, const Guid& iid, void** out) {
  Call("GetService");
  Audio().record.serviceIid = iid;
  if (out == nullptr || client == nullptr) return kEPointer;
  *out = nullptr;
  const Status status = Audio().script.getService;
  if (status < 0 || Audio().script.getServiceGivesNull) return status;
  if (!(iid == IID_IAudioCaptureClient)) return kENoInterface;
  if (client->capture == nullptr) client->capture = Make(Audio().captures);
  *out = HandOut(client->capture);
  return status;
}

Status Start(::IAudioClient*) {
  Call("Start");
  const Status status = Audio().script.start;
  if (status >= 0) {
    std::lock_guard lock(Mutex());
    Audio().running = true;
  }
  return status;
}

Status Stop(::IAudioClient*) {
  Call("Stop");
  std::lock_guard lock(Mutex());
  Audio().running = false;
  return kSOk;
}

std::uint32_t Release(::IAudioClient* client) {
  return sim::detail::ReleaseObject(client, "Release IAudioClient");
}

// A packet whose size query fails is reported once and dropped, so the next drain goes on.
Status GetNextPacketSize(::IAudioCaptureClient*, std::uint32_t* frames) {
  if (frames == nullptr) return kEPointer;
  *frames = 0;
  const sim::Packet* packet = sim::detail::ReadyPacket();
  if (packet == nullptr) return kSOk;
  if (packet->sizeStatus < 0) {
    const Status status = packet->sizeStatus;
    sim::detail::DropReadyPacket();
    return status;
  }
  const std::uint32_t count = sim::detail::FramesOf(*packet);
  *frames = packet->reportedSize != 0 ? packet->reportedSize : (count != 0 ? count : 1);
  return kSOk;
}

Status GetBuffer(::IAudioCaptureClient*, std::uint8_t** data, std::uint32_t* frames,
                 std::uint32_t* flags, std::uint64_t* devicePosition, std::uint64_t* qpcPosition) {
  if (data == nullptr || frames == nullptr || flags == nullptr) return kEPointer;
  sim::Packet* packet = sim::detail::ReadyPacket();
  if (packet == nullptr) {
    *frames = 0;
    return kSBufferEmpty;
  }
  if (packet->bufferStatus < 0) return packet->bufferStatus;  // nothing handed out; it stays
  *data = packet->nullData ? nullptr : reinterpret_cast<std::uint8_t*>(packet->samples.data());
  *frames = sim::detail::FramesOf(*packet);
  *flags = packet->flags;
  if (devicePosition != nullptr) *devicePosition = 0;
  if (qpcPosition != nullptr) *qpcPosition = 0;
  ++Audio().record.packetsFetched;
  if (packet->endsStdinWhenFetched) sim::CloseStdin();
  return kSOk;
}

Status ReleaseBuffer(::IAudioCaptureClient*, std::uint32_t frames) {
  sim::AudioRecord& record = Audio().record;
  record.releasedFrames.push_back(frames);
  ++record.packetsReleased;
  sim::detail::DropReadyPacket();
  return kSOk;
}

std::uint32_t Release(::IAudioCaptureClient* capture) {
  return sim::detail::ReleaseObject(capture, "Release IAudioCaptureClient");
}

}  // namespace platform
