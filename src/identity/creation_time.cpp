#include "identity/creation_time.h"

CreationTime ProcessCreationTime(platform::ProcessId pid) {
  platform::Handle process =
      platform::OpenProcess(platform::kProcessQueryLimitedInformation, false, pid);
  if (process == nullptr) return std::nullopt;
  CreationTime started;
  platform::FileTime creation;
  platform::FileTime exit;
  platform::FileTime kernel;
  platform::FileTime user;
  if (platform::GetProcessTimes(process, &creation, &exit, &kernel, &user))
    started = (std::uint64_t{creation.dwHighDateTime} << 32) | creation.dwLowDateTime;
  platform::CloseHandle(process);
  return started;
}
