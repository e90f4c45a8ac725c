// Events and waits.
//
// Events are real (set from any thread, manual or auto reset). A wait that nothing on another
// thread can end costs no real time: it runs the actions due within its time-out, moves the
// clock on and times out. The buffer event of a running stream is ended by the next scripted
// burst instead (simulated_audio.cpp). Only a completion under way on an engine thread is
// waited for in real time.
#include "platform/audio_services.h"
#include "platform/simulated/simulated_internal.h"

namespace platform {

namespace {

using sim::detail::HandleKind;
using sim::detail::Mutex;

constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;

enum class Signal { Taken, NotSignalled, NotAnEvent };

// Takes the signal if it is there; an auto-reset event clears as it is taken.
// The caller holds the lock.
Signal TakeSignal(Handle event) {
  sim::detail::HandleEntry* entry = sim::detail::FindHandle(event);
  if (entry == nullptr || entry->kind != HandleKind::Event) return Signal::NotAnEvent;
  if (!entry->signalled) return Signal::NotSignalled;
  if (!entry->manualReset) entry->signalled = false;
  return Signal::Taken;
}

Signal TakeSignalLocked(Handle event) {
  std::lock_guard lock(Mutex());
  return TakeSignal(event);
}

// While the engine completes on its own thread, the program's wait really waits for it.
Signal AwaitCompletion(Handle event) {
  std::unique_lock lock(Mutex());
  Signal signal = TakeSignal(event);
  sim::detail::Changed().wait_for(lock, sim::detail::kRealWaitLimit, [&] {
    signal = TakeSignal(event);
    return signal != Signal::NotSignalled || !sim::detail::CompletionUnderWay();
  });
  return signal;
}

// Nothing else can end this wait: actions due within it run (one of them may set the
// event), then it times out, and a completion held back for this moment starts.
std::uint32_t WaitOutInSimulatedTime(Handle event, std::uint32_t milliseconds) {
  const std::uint64_t deadline = sim::Now() + milliseconds;
  for (auto next = sim::detail::NextActionTime(); next && *next <= deadline;
       next = sim::detail::NextActionTime()) {
    sim::detail::RunNextAction();
    if (TakeSignalLocked(event) == Signal::Taken) return kWaitObject0;
  }
  sim::detail::SetClock(deadline);
  sim::detail::StartCompletionsAfterGivingUp();
  return kWaitTimeout;
}

}  // namespace

Handle CreateEventW(bool manualReset, bool initialState) {
  const int number = sim::detail::NextCreateEventNumber();
  if (sim::detail::CreateEventFails(number)) return nullptr;
  sim::detail::HandleEntry entry;
  entry.kind = HandleKind::Event;
  entry.manualReset = manualReset;
  entry.signalled = initialState;
  std::lock_guard lock(Mutex());
  return sim::detail::AddHandle(std::move(entry));
}

bool SetEvent(Handle event) {
  std::lock_guard lock(Mutex());
  sim::detail::HandleEntry* entry = sim::detail::FindHandle(event);
  if (entry == nullptr || entry->kind != HandleKind::Event) return false;
  entry->signalled = true;
  sim::detail::Changed().notify_all();
  return true;
}

std::uint32_t WaitForSingleObject(Handle object, std::uint32_t milliseconds) {
  if (object == nullptr) return kWaitFailed;
  sim::detail::WaitUntilProgramThreadsSettle();
  const Signal signal = TakeSignalLocked(object);
  if (signal == Signal::NotAnEvent) return kWaitFailed;
  if (signal == Signal::Taken) return kWaitObject0;
  if (sim::detail::IsRunningBufferEvent(object)) return sim::detail::WaitForBuffer(milliseconds);

  const std::uint64_t startedAt = sim::Now();
  std::uint32_t result = kWaitObject0;
  if (AwaitCompletion(object) != Signal::Taken)
    result = WaitOutInSimulatedTime(object, milliseconds);
  sim::detail::NoteActivationWait(startedAt, sim::Now());
  return result;
}

}  // namespace platform
