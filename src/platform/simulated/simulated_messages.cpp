// Event hooks, timers and per-thread message queues.
//
// GetMessageW is where simulated time passes for the foreground mode: with nothing queued it
// jumps to the next timer period or scheduled action, whichever comes first, so a test of
// minutes of desktop activity runs in microseconds of real time.
#include <algorithm>

#include "platform/simulated/simulated_internal.h"

namespace platform {

namespace {

using sim::detail::Mutex;
using sim::detail::State;

// Hooks installed by this thread that want foreground events; copied so a callback may
// unhook without upsetting the walk.
std::vector<sim::detail::Hook> ForegroundHooksOf(ThreadId thread) {
  std::vector<sim::detail::Hook> hooks;
  for (const sim::detail::Hook& hook : State().hooks) {
    if (hook.owner == thread && hook.eventMin <= kEventSystemForeground &&
        kEventSystemForeground <= hook.eventMax)
      hooks.push_back(hook);
  }
  return hooks;
}

// The window manager calls out-of-context hooks while their thread retrieves messages.
void DeliverForegroundEvents(ThreadId thread) {
  for (;;) {
    std::vector<sim::detail::Hook> hooks;
    WindowHandle foreground = 0;
    std::uint32_t time = 0;
    {
      std::lock_guard lock(Mutex());
      if (State().pendingForegroundEvents == 0) return;
      --State().pendingForegroundEvents;
      hooks = ForegroundHooksOf(thread);
      foreground = State().model.foreground;
      time = static_cast<std::uint32_t>(State().now);
    }
    for (const sim::detail::Hook& hook : hooks)
      hook.callback(hook.handle, kEventSystemForeground, foreground, 0, 0, 0, time);
  }
}

bool TakeMessage(ThreadId thread, Message* message) {
  std::lock_guard lock(Mutex());
  auto queue = State().queues.find(thread);
  if (queue == State().queues.end() || queue->second.empty()) return false;
  *message = queue->second.front();
  queue->second.pop_front();
  return true;
}

std::optional<std::uint64_t> NextTimerDue(ThreadId thread) {
  std::lock_guard lock(Mutex());
  std::optional<std::uint64_t> next;
  for (const sim::detail::Timer& timer : State().timers)
    if (timer.owner == thread && (!next || timer.nextDue < *next)) next = timer.nextDue;
  return next;
}

void QueueMessage(ThreadId thread, std::uint32_t id, std::uint64_t wParam, std::int64_t lParam) {
  Message message;
  message.message = id;
  message.wParam = wParam;
  message.lParam = lParam;
  message.time = static_cast<std::uint32_t>(State().now);
  State().queues[thread].push_back(message);
}

// One WM_TIMER per timer whose period has come round.
void FireDueTimers(ThreadId thread) {
  std::lock_guard lock(Mutex());
  for (sim::detail::Timer& timer : State().timers) {
    if (timer.owner != thread || timer.nextDue > State().now) continue;
    QueueMessage(thread, kWmTimer, timer.id, 0);
    timer.nextDue += timer.period;
  }
}

// Moves the clock to whatever comes next; false when nothing ever will.
bool AdvanceToNextOccurrence(ThreadId thread) {
  const std::optional<std::uint64_t> timer = NextTimerDue(thread);
  const std::optional<std::uint64_t> action = sim::detail::NextActionTime();
  if (!timer && !action) return false;
  const std::uint64_t next = std::min(timer.value_or(UINT64_MAX), action.value_or(UINT64_MAX));
  sim::detail::SetClock(next);
  FireDueTimers(thread);
  sim::detail::RunActionsUpTo(next);
  return true;
}

}  // namespace

HookHandle SetWinEventHook(std::uint32_t eventMin, std::uint32_t eventMax, WinEventProc callback,
                           ProcessId process, ThreadId thread, std::uint32_t flags) {
  sim::Record& record = sim::Recorded();
  record.hookArguments.insert(record.hookArguments.end(),
                              {eventMin, eventMax, process, thread, flags});
  if (sim::Model().hookFails || callback == nullptr) return nullptr;
  ++record.hooksInstalled;
  std::lock_guard lock(Mutex());
  HookHandle handle = reinterpret_cast<HookHandle>(State().nextHookId++ * 16);
  State().hooks.push_back({handle, sim::ThreadIdOfCaller(), eventMin, eventMax, callback});
  return handle;
}

// Every call counts, so removing a hook that was never installed shows in the record.
bool UnhookWinEvent(HookHandle hook) {
  ++sim::Recorded().hooksRemoved;
  std::lock_guard lock(Mutex());
  std::vector<sim::detail::Hook>& hooks = State().hooks;
  auto found = std::find_if(hooks.begin(), hooks.end(),
                            [hook](const sim::detail::Hook& h) { return h.handle == hook; });
  if (found == hooks.end()) return false;
  hooks.erase(found);
  return true;
}

// A thread timer: the window and the id passed are not used, every call makes a new timer.
std::uintptr_t SetTimer(WindowHandle, std::uintptr_t, std::uint32_t milliseconds) {
  sim::Recorded().timerPeriods.push_back(milliseconds);
  const ThreadId owner = sim::ThreadIdOfCaller();
  std::lock_guard lock(Mutex());
  sim::detail::DesktopState& s = State();
  const std::uint32_t period = std::max<std::uint32_t>(milliseconds, 1);
  s.timers.push_back({owner, s.nextTimerId, period, s.now + period});
  return s.nextTimerId++;
}

std::int32_t GetMessageW(Message* message) {
  ++sim::Recorded().getMessageCalls;
  if (sim::Model().getMessageFails || message == nullptr) return -1;
  const ThreadId self = sim::ThreadIdOfCaller();
  for (;;) {
    sim::detail::WaitUntilProgramThreadsSettle();
    DeliverForegroundEvents(self);
    if (TakeMessage(self, message)) return message->message == kWmQuit ? 0 : 1;
    if (!AdvanceToNextOccurrence(self)) return -1;  // no timer, no action: it would hang
  }
}

void DispatchMessageW(const Message* message) {
  ++sim::Recorded().dispatched;
  if (message != nullptr && message->message == kWmTimer) ++sim::Recorded().timerMessagesDispatched;
}

void PostQuitMessage(std::int32_t exitCode) {
  const ThreadId self = sim::ThreadIdOfCaller();
  std::lock_guard lock(Mutex());
  ++State().record.quitPostsToSelf;
  QueueMessage(self, kWmQuit, static_cast<std::uint64_t>(exitCode), 0);
}

bool PostThreadMessageW(ThreadId thread, std::uint32_t message, std::uint64_t wParam,
                        std::int64_t lParam) {
  if (thread == 0) return false;
  std::lock_guard lock(Mutex());
  if (message == kWmQuit) ++State().record.quitPostsToThread;
  QueueMessage(thread, message, wParam, lParam);
  sim::detail::Changed().notify_all();
  return true;
}

}  // namespace platform

namespace sim {

void FireForegroundEvent() {
  std::lock_guard lock(detail::Mutex());
  ++detail::State().pendingForegroundEvents;
}

}  // namespace sim
