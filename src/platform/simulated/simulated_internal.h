// Shared state of the simulated platform, private to platform/simulated.
//
// One mutex guards everything another thread can touch: the message queues, the handle table
// (events included), standard input and the thread registry. Callbacks into test or program
// code (actions, hooks, thread procedures, completion handlers) always run with it released.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/simulated/simulated_desktop.h"

namespace sim::detail {

using platform::Handle;
using platform::HookHandle;
using platform::ThreadId;

// Past this the test is waiting for something that never comes: abort rather than spin.
constexpr std::uint64_t kRunawayMs = 10ull * 60 * 60 * 1000;
// Bound on every real wait for another thread; hitting it is a test bug.
constexpr auto kRealWaitLimit = std::chrono::seconds(5);

[[noreturn]] void Abort(const char* why);

std::mutex& Mutex();
// Notified on every change another thread may wait for: an event set, a reader blocked, a
// thread finished, stdin ended.
std::condition_variable& Changed();

struct Action {
  std::uint64_t atMs = 0;
  std::uint64_t order = 0;  // actions due at the same time run in the order they were added
  std::function<void()> run;
};

struct Timer {
  ThreadId owner = 0;
  std::uintptr_t id = 0;
  std::uint32_t period = 0;
  std::uint64_t nextDue = 0;
};

struct Hook {
  HookHandle handle = nullptr;
  ThreadId owner = 0;
  std::uint32_t eventMin = 0;
  std::uint32_t eventMax = 0;
  platform::WinEventProc callback = nullptr;
};

enum class HandleKind { Process, Snapshot, Thread, Event };

struct HandleEntry {
  HandleKind kind = HandleKind::Event;
  ProcessId pid = 0;                              // Process
  std::vector<platform::ProcessEntry32> entries;  // Snapshot
  std::size_t cursor = 0;                         // Snapshot: next entry to hand out
  bool manualReset = false;                       // Event
  bool signalled = false;                         // Event
};

struct DesktopState {
  Desktop model;
  Record record;
  std::uint64_t now = 0;
  std::uint64_t nextActionOrder = 0;
  std::vector<Action> actions;
  std::vector<Timer> timers;
  std::uintptr_t nextTimerId = 1;
  std::vector<Hook> hooks;
  std::uintptr_t nextHookId = 1;
  int pendingForegroundEvents = 0;
  std::map<ThreadId, std::deque<platform::Message>> queues;
  std::map<std::uintptr_t, HandleEntry> handles;
  std::uintptr_t nextHandle = 0x1000;
  std::size_t stdoutTaken = 0;  // raw bytes the stream accepted, against stdoutCapacity
  bool stdoutError = false;     // a short write happened: sticks like a stream error flag
  std::vector<std::thread> threads;
  int threadsStarted = 0;
  int threadsFinished = 0;
  int readersBlocked = 0;  // program threads parked in ReadFile on an open stdin
};

DesktopState& State();
void ClearDesktopState();  // after the threads are joined

// Clock (simulated_clock.cpp).
std::optional<std::uint64_t> NextActionTime();
void SetClock(std::uint64_t ms);  // never goes back; aborts past the runaway limit
void RunNextAction();             // the earliest action, with the clock moved to its time
void RunActionsUpTo(std::uint64_t ms);

// Threads (simulated_threads.cpp).
bool CallerIsProgramThread();
// Waits until every program thread is blocked on stdin or finished, so what they post is
// queued before simulated time moves on.
void WaitUntilProgramThreadsSettle();
void EndStdinAndJoinThreads();
Handle CurrentProcessPseudoHandle();
Handle CurrentThreadPseudoHandle();
bool IsPseudoHandle(Handle handle);

// Handle table (simulated_handles.cpp); the caller holds Mutex().
Handle AddHandle(HandleEntry entry);
HandleEntry* FindHandle(Handle handle);

// Audio engine hooks (simulated_activation.cpp, simulated_stream.cpp).
void ReleaseEngineLeftovers();         // joins completion threads, drops the engine's references
bool CompletionUnderWay();             // caller holds Mutex()
void StartCompletionsAfterGivingUp();  // a wait for activation timed out: completions now due
void StartDueCompletions();            // the program has moved on: due completions start
bool IsRunningBufferEvent(Handle event);
std::uint32_t WaitForBuffer(std::uint32_t milliseconds);
void NoteHandleClosed(Handle handle);
void NoteActivationWait(std::uint64_t startedAt, std::uint64_t endedAt);
int NextCreateEventNumber();
bool CreateEventFails(int number);

}  // namespace sim::detail
