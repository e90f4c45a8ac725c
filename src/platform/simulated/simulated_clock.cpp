// The simulated clock and the actions a test schedules on it.
//
// Only the thread driving the program (inside GetMessageW or a wait) moves the clock, and it
// runs the actions itself, so an action sees the program between two platform calls.
#include <algorithm>

#include "platform/simulated/simulated_internal.h"

namespace sim::detail {

namespace {

// The earliest action, by time and then by the order it was added.
std::vector<Action>::iterator Earliest(std::vector<Action>& actions) {
  return std::min_element(actions.begin(), actions.end(), [](const Action& a, const Action& b) {
    return a.atMs != b.atMs ? a.atMs < b.atMs : a.order < b.order;
  });
}

}  // namespace

std::optional<std::uint64_t> NextActionTime() {
  std::lock_guard lock(Mutex());
  std::vector<Action>& actions = State().actions;
  if (actions.empty()) return std::nullopt;
  return Earliest(actions)->atMs;
}

void SetClock(std::uint64_t ms) {
  if (ms > kRunawayMs) Abort("the clock passed 10 simulated hours; nothing ends this test");
  std::lock_guard lock(Mutex());
  State().now = std::max(State().now, ms);
}

void RunNextAction() {
  Action action;
  {
    std::lock_guard lock(Mutex());
    std::vector<Action>& actions = State().actions;
    if (actions.empty()) return;
    auto earliest = Earliest(actions);
    action = std::move(*earliest);
    actions.erase(earliest);
  }
  SetClock(action.atMs);
  if (action.run) action.run();  // unlocked: actions call back into the platform
}

void RunActionsUpTo(std::uint64_t ms) {
  // Re-read each time: an action may schedule another.
  for (auto next = NextActionTime(); next && *next <= ms; next = NextActionTime()) RunNextAction();
  SetClock(ms);
}

}  // namespace sim::detail

namespace sim {

std::uint64_t Now() {
  std::lock_guard lock(detail::Mutex());
  return detail::State().now;
}

void At(std::uint64_t atMs, std::function<void()> action) {
  std::lock_guard lock(detail::Mutex());
  detail::DesktopState& s = detail::State();
  s.actions.push_back({atMs, s.nextActionOrder++, std::move(action)});
}

}  // namespace sim
