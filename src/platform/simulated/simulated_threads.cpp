// Program threads, thread ids, priorities and standard input.
//
// CreateThread starts a real thread, since the input watcher really runs beside the main
// thread. To keep tests deterministic the simulation waits for such threads to settle
// (blocked on an open stdin, or finished) before it lets simulated time pass, and CloseStdin
// returns only once they have finished: whatever they post is queued by then.
#include <atomic>

#include "platform/simulated/simulated_internal.h"

namespace sim::detail {

namespace {

std::atomic<ThreadId> nextThreadId{1000};
thread_local ThreadId callerId = 0;
thread_local bool callerIsProgramThread = false;

// The handle GetStdHandle gives for standard input; it is not in the handle table, as the
// program never closes it.
char stdinObject;

bool AllProgramThreadsFinished() { return State().threadsFinished == State().threadsStarted; }

void RunProgramThread(platform::ThreadProc procedure, void* argument) {
  callerIsProgramThread = true;
  procedure(argument);
  std::lock_guard lock(Mutex());
  ++State().threadsFinished;
  Changed().notify_all();
}

// The caller holds the lock; aborts if the threads do not get there in real time.
void WaitForThreads(std::unique_lock<std::mutex>& lock, bool (*done)(), const char* what) {
  if (!Changed().wait_for(lock, kRealWaitLimit, done)) Abort(what);
}

}  // namespace

bool CallerIsProgramThread() { return callerIsProgramThread; }

// Pseudo handles: distinct from the invalid handle value, so closing that one still shows.
Handle CurrentProcessPseudoHandle() { return reinterpret_cast<Handle>(~std::uintptr_t{0} - 0x10); }
Handle CurrentThreadPseudoHandle() { return reinterpret_cast<Handle>(~std::uintptr_t{0} - 0x11); }

bool IsPseudoHandle(Handle handle) {
  return handle == CurrentProcessPseudoHandle() || handle == CurrentThreadPseudoHandle();
}

void WaitUntilProgramThreadsSettle() {
  if (CallerIsProgramThread()) return;  // it would wait for itself
  std::unique_lock lock(Mutex());
  WaitForThreads(
      lock,
      [] {
        const DesktopState& s = State();
        return s.threadsStarted - s.threadsFinished - s.readersBlocked == 0;
      },
      "a program thread neither blocked on standard input nor finished within 5 s");
}

void EndStdinAndJoinThreads() {
  std::vector<std::thread> threads;
  {
    std::unique_lock lock(Mutex());
    State().model.stdinState = StdinState::AtEnd;
    Changed().notify_all();
    WaitForThreads(lock, AllProgramThreadsFinished,
                   "a program thread did not finish within 5 s of the end of standard input");
    threads.swap(State().threads);
  }
  for (std::thread& thread : threads) thread.join();
}

}  // namespace sim::detail

namespace sim {

using detail::Mutex;
using detail::State;

platform::ThreadId ThreadIdOfCaller() {
  if (detail::callerId == 0) detail::callerId = detail::nextThreadId++;
  return detail::callerId;
}

void CloseStdin() {
  std::unique_lock lock(Mutex());
  State().model.stdinState = StdinState::AtEnd;
  detail::Changed().notify_all();
  if (detail::CallerIsProgramThread()) return;  // it would wait for itself
  detail::WaitForThreads(lock, detail::AllProgramThreadsFinished,
                         "a program thread did not finish within 5 s of the end of standard input");
}

}  // namespace sim

namespace platform {

ThreadId GetCurrentThreadId() { return sim::ThreadIdOfCaller(); }

Handle CreateThread(ThreadProc procedure, void* argument) {
  if (sim::Model().threadCreationFails || procedure == nullptr) return nullptr;
  std::lock_guard lock(sim::detail::Mutex());
  sim::detail::DesktopState& s = sim::detail::State();
  ++s.threadsStarted;
  s.threads.emplace_back(sim::detail::RunProgramThread, procedure, argument);
  sim::detail::HandleEntry entry;
  entry.kind = sim::detail::HandleKind::Thread;
  return sim::detail::AddHandle(std::move(entry));
}

Handle GetCurrentProcess() { return sim::detail::CurrentProcessPseudoHandle(); }
Handle GetCurrentThread() { return sim::detail::CurrentThreadPseudoHandle(); }

bool SetPriorityClass(Handle, std::uint32_t priorityClass) {
  sim::Recorded().priorityClasses.push_back(priorityClass);
  return true;
}

bool SetThreadPriority(Handle, std::int32_t priority) {
  sim::Recorded().threadPriorities.push_back(priority);
  return true;
}

Handle GetStdHandle(std::uint32_t which) {
  if (which != kStdInputHandle) return nullptr;  // the program reads only standard input raw
  std::lock_guard lock(sim::detail::Mutex());
  if (sim::Model().stdinState == sim::StdinState::NoHandle) return nullptr;
  return &sim::detail::stdinObject;
}

// Standard input never carries data in the simulation: a read waits while it is open and
// then reports how it ended.
bool ReadFile(Handle file, void*, std::uint32_t, std::uint32_t* read) {
  if (read != nullptr) *read = 0;
  if (file != &sim::detail::stdinObject) return false;
  std::unique_lock lock(sim::detail::Mutex());
  const bool counted = sim::detail::CallerIsProgramThread();
  auto& state = sim::Model().stdinState;
  if (counted) ++sim::detail::State().readersBlocked;
  sim::detail::Changed().notify_all();
  sim::detail::Changed().wait(lock, [&state] { return state != sim::StdinState::Open; });
  if (counted) --sim::detail::State().readersBlocked;
  return state == sim::StdinState::AtEnd;
}

}  // namespace platform
