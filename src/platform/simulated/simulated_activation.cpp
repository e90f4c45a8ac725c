// The scripted audio engine, activation half: component runtime, process-loopback activation
// and its completion thread, the activated object. The stream half is simulated_stream.cpp.
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
#include <mutex>

#include "platform/simulated/simulated_audio_state.h"

namespace sim::detail {

AudioState& Audio() {
  static AudioState state;
  return state;
}

namespace {

// What the engine reads through the activation pointer, on its own thread after the request
// returned: the record must still be alive then.
void ReadActivationRecord(const platform::PropVariantBlob* params) {
  if (params == nullptr) return;
  AudioRecord& record = Audio().record;
  record.propVariantType = params->vt;
  record.blobSize = params->cbSize;
  if (params->pBlobData != nullptr)
    record.blobBytes.assign(params->pBlobData, params->pBlobData + params->cbSize);
}

// The engine thread: one completion call, then the engine lets go of the handler.
void Complete(Activation* activation) {
  ReadActivationRecord(activation->params);
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
      activation->due = true;
}

void StartDueCompletions() {
  std::lock_guard lock(Mutex());
  for (auto& activation : Audio().activations) {
    if (activation->due && !activation->started) {
      activation->due = false;
      StartCompletion(*activation);
    }
  }
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
  audio.handlerAliveAtReset = false;
  detail::ResetStream();
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

constexpr Status kEIllegalMethodCall = static_cast<Status>(0x8000000Eu);

// What the engine takes at the request; the activation record it reads later, on its thread.
void RecordActivation(const wchar_t* devicePath, const Guid& iid, bool handlerPassed) {
  sim::AudioRecord& record = Audio().record;
  Call("ActivateAudioInterfaceAsync");
  record.devicePath = devicePath != nullptr ? devicePath : L"";
  record.activateIid = iid;
  record.handlerPassed = handlerPassed;
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
  RecordActivation(devicePath, iid, handler != nullptr);
  if (Audio().script.activateRequest < 0) return Audio().script.activateRequest;
  if (operation == nullptr) return kEPointer;
  auto activation = std::make_unique<Activation>();
  activation->handler = handler;
  activation->params = activationParams;
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

}  // namespace platform
