#include "identity/window_owner.h"

#include "identity/image_name.h"

namespace {

struct HostedSearch {
  platform::ProcessId frameHost = 0;
  platform::ProcessId hosted = 0;
};

bool FindHostedProcess(platform::WindowHandle child, void* context) {
  auto* search = static_cast<HostedSearch*>(context);
  platform::ProcessId owner = 0;
  platform::GetWindowThreadProcessId(child, &owner);
  if (owner == 0 || owner == search->frameHost) return true;
  search->hosted = owner;
  return false;
}

}  // namespace

platform::ProcessId WindowProcessId(platform::WindowHandle window) {
  platform::ProcessId pid = 0;
  platform::GetWindowThreadProcessId(window, &pid);
  if (pid == 0) return 0;
  if (!ImageNamesEqual(ProcessImageName(pid), L"ApplicationFrameHost.exe")) return pid;
  HostedSearch search{pid, 0};
  platform::EnumChildWindows(window, FindHostedProcess, &search);
  return search.hosted != 0 ? search.hosted : pid;
}
