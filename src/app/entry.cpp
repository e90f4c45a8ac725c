#include "app/entry.h"

#include <cstring>
#include <cwchar>

#include "app/input_watcher.h"
#include "app/number_conversion.h"
#include "app/stop_flag.h"
#include "capture/capture_setup.h"
#include "foreground/watcher.h"
#include "platform/desktop_services.h"

namespace {

int PrintUsage() {
  static const char kUsage[] = "usage: tessik-helper foreground | capture <hwnd> [<exclude pid>]\n";
  platform::WriteStderr(kUsage, std::strlen(kUsage));
  platform::FlushStderr();
  return kExitUsage;
}

void PrepareProcess() {
  MainThreadId = platform::GetCurrentThreadId();
  platform::SetStdoutBinary();
  platform::SetStderrText();
  platform::SetPriorityClass(platform::GetCurrentProcess(), platform::kBelowNormalPriorityClass);
  // Without the watcher the modes still end on their own output failures.
  platform::Handle watcher = platform::CreateThread(InputWatcher, nullptr);
  if (watcher != nullptr) platform::CloseHandle(watcher);
}

int StartCapture(int argc, wchar_t** argv) {
  std::uint64_t window = ParseUnsigned64(argv[2]);
  std::uint32_t excluded = argc >= 4 ? ParseUnsigned32(argv[3]) : 0;
  // Audio must keep up with the engine; the foreground mode stays in the background.
  platform::SetPriorityClass(platform::GetCurrentProcess(), platform::kNormalPriorityClass);
  platform::SetThreadPriority(platform::GetCurrentThread(), platform::kThreadPriorityAboveNormal);
  return RunCapture(window, excluded);
}

}  // namespace

int TessikMain(int argc, wchar_t** argv) {
  PrepareProcess();
  if (argc < 2 || argv == nullptr || argv[1] == nullptr) return PrintUsage();
  if (std::wcscmp(argv[1], L"foreground") == 0) return RunForeground();
  if (argc < 3 || argv[2] == nullptr) return PrintUsage();
  if (std::wcscmp(argv[1], L"capture") == 0) return StartCapture(argc, argv);
  return PrintUsage();
}
