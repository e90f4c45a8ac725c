// The few simulation behaviours the program's tests silently depend on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim_test.h"

namespace {

class SimulatedPlatformTest : public SimTest {};

platform::ThreadId mainThread = 0;

// What the program's input watcher does: read until the end, then wake the main thread.
std::uint32_t Watch(void*) {
  char buffer[64];
  std::uint32_t read = 0;
  platform::Handle input = platform::GetStdHandle(platform::kStdInputHandle);
  while (platform::ReadFile(input, buffer, sizeof buffer, &read) && read > 0) {
  }
  platform::PostThreadMessageW(mainThread, platform::kWmQuit, 0, 0);
  return 0;
}

TEST_F(SimulatedPlatformTest, CloseStdinReturnsWithTheWatchersQuitAlreadyQueued) {
  mainThread = platform::GetCurrentThreadId();
  platform::CloseHandle(platform::CreateThread(Watch, nullptr));
  platform::SetTimer(0, 0, 2000);
  sim::At(5000, sim::CloseStdin);
  platform::Message message;
  std::vector<std::uint64_t> timerTicks;
  while (platform::GetMessageW(&message) > 0) timerTicks.push_back(sim::Now());
  EXPECT_EQ(timerTicks, (std::vector<std::uint64_t>{2000, 4000}));
  EXPECT_EQ(sim::Now(), 5000u) << "the quit came before the 6000 ms tick";
  EXPECT_EQ(sim::Recorded().quitPostsToThread, 1);
  sim::Reset();
  EXPECT_EQ(platform::GetMessageW(&message), -1) << "no timer, no action: no hang";
}

TEST_F(SimulatedPlatformTest, HooksFireInsideRetrievalBeforeTheQueuedMessage) {
  static std::vector<std::uint64_t> calls;
  calls.clear();
  auto hook = [](platform::HookHandle, std::uint32_t event, platform::WindowHandle window,
                 std::int32_t, std::int32_t, std::uint32_t, std::uint32_t) {
    EXPECT_EQ(event, platform::kEventSystemForeground);
    EXPECT_EQ(window, 7u);
    calls.push_back(sim::Now());
  };
  platform::SetWinEventHook(3, 3, hook, 0, 0, platform::kWinEventSkipOwnProcess);
  platform::SetTimer(0, 0, 2000);
  sim::At(2000, [] {
    sim::Model().foreground = 7;
    sim::FireForegroundEvent();
  });
  platform::Message message;
  ASSERT_EQ(platform::GetMessageW(&message), 1);
  EXPECT_EQ(message.message, platform::kWmTimer);
  EXPECT_EQ(calls, (std::vector<std::uint64_t>{2000})) << "the hook ran first";
}

TEST_F(SimulatedPlatformTest, BufferWaitsEndAtABurstOrTimeOutInSimulatedTime) {
  sim::Script().bursts = {{150, {}}, {150, {}}, {900, {}}};
  platform::Handle event = platform::CreateEventW(false, false);
  platform::SetEventHandle(nullptr, event);
  platform::Start(nullptr);
  struct Step {
    std::uint32_t result;
    std::uint64_t now;
  };
  const Step expected[] = {{platform::kWaitObject0, 150}, {platform::kWaitObject0, 150},
                           {platform::kWaitTimeout, 350}, {platform::kWaitTimeout, 550},
                           {platform::kWaitTimeout, 750}, {platform::kWaitObject0, 900}};
  for (const Step& step : expected) {
    EXPECT_EQ(platform::WaitForSingleObject(event, 200), step.result);
    EXPECT_EQ(sim::Now(), step.now);
  }
  platform::CloseHandle(event);
  EXPECT_EQ(sim::AudioRecorded().calls.back(), "CloseHandle event");
}

TEST_F(SimulatedPlatformTest, Utf8ConversionPairsSurrogatesAndReplacesLoneOnes) {
  const struct {
    std::vector<wchar_t> units;
    std::string utf8;
  } cases[] = {
      {{L'a', 0xE9}, "a\xC3\xA9"},
      {{0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},
      {{0xD83D, L'x'}, "\xEF\xBF\xBDx"},
      {{0xDE00}, "\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) {
    const auto length = static_cast<std::int32_t>(c.units.size());
    const std::int32_t needed =
        platform::WideCharToMultiByte(platform::kCpUtf8, 0, c.units.data(), length, nullptr, 0);
    std::string out(static_cast<std::size_t>(needed), '\0');
    EXPECT_EQ(platform::WideCharToMultiByte(platform::kCpUtf8, 0, c.units.data(), length,
                                            out.data(), needed),
              needed);
    EXPECT_EQ(out, c.utf8);
  }
}

}  // namespace
