#include "app/input_watcher.h"

#include "app/stop_flag.h"
#include "platform/desktop_services.h"

std::uint32_t InputWatcher(void*) {
  platform::Handle input = platform::GetStdHandle(platform::kStdInputHandle);
  char scratch[64];
  std::uint32_t read = 0;
  while (platform::ReadFile(input, scratch, sizeof scratch, &read) && read > 0) {
  }
  StopRequested.exchange(1);
  // The flag is what the loops obey; the quit message only wakes a foreground loop that
  // would otherwise sleep in message retrieval until its next tick.
  if (MainThreadId != 0) platform::PostThreadMessageW(MainThreadId, platform::kWmQuit, 0, 0);
  return 0;
}
