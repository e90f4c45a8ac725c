#include "foreground/watcher.h"

#include "app/stop_flag.h"
#include "foreground/report_line.h"
#include "platform/desktop_services.h"

std::string LastReportLine;

namespace {

constexpr std::uint32_t kReportPeriodMs = 2000;

// Coordinates must be the screen pixels the parent sees, whatever the monitor's scaling.
void BecomeDpiAware() {
  void* user32 = platform::GetModuleHandleW(L"user32.dll");
  platform::DpiAwarenessProc perMonitor =
      user32 != nullptr ? platform::GetProcAddress(user32, "SetProcessDpiAwarenessContext")
                        : nullptr;
  if (perMonitor == nullptr || !perMonitor(platform::kDpiAwarenessContextPerMonitorAwareV2))
    platform::SetProcessDPIAware();
}

void OnForegroundChange(platform::HookHandle, std::uint32_t, platform::WindowHandle, std::int32_t,
                        std::int32_t, std::uint32_t, std::uint32_t) {
  EmitForegroundReport();
}

}  // namespace

void EmitForegroundReport() {
  std::string line = FormatForegroundReport();
  if (line == LastReportLine) return;
  // Stored before writing: a line whose write fails still counts as sent.
  LastReportLine = line;
  line += '\n';
  platform::WriteStdout(line.data(), line.size());
  if (!platform::FlushStdout()) {
    StopRequested.exchange(1);
    platform::PostQuitMessage(0);
  }
}

int RunForeground() {
  BecomeDpiAware();
  // Without the hook (or where it sees no other processes) the timer alone drives reports.
  platform::HookHandle hook = platform::SetWinEventHook(
      platform::kEventSystemForeground, platform::kEventSystemForeground, OnForegroundChange, 0, 0,
      platform::kWinEventOutOfContext | platform::kWinEventSkipOwnProcess);
  platform::SetTimer(0, 0, kReportPeriodMs);
  EmitForegroundReport();
  platform::Message message;
  while (!IsStopRequested()) {
    if (platform::GetMessageW(&message) <= 0) break;
    if (message.message == platform::kWmTimer) EmitForegroundReport();
    platform::DispatchMessageW(&message);
  }
  if (hook != nullptr) platform::UnhookWinEvent(hook);
  return 0;
}
