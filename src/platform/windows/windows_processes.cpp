// Processes, process snapshots and text conversion.
#include "platform/desktop_services.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstddef>
#include <cwchar>

namespace {

static_assert(sizeof(PROCESSENTRY32W) == platform::kProcessEntry32WSize);
static_assert(sizeof(platform::ProcessEntry32{}.szExeFile) == sizeof(PROCESSENTRY32W{}.szExeFile));
static_assert(sizeof(platform::FileTime) == sizeof(FILETIME));
static_assert(offsetof(platform::FileTime, dwLowDateTime) == offsetof(FILETIME, dwLowDateTime));
static_assert(offsetof(platform::FileTime, dwHighDateTime) == offsetof(FILETIME, dwHighDateTime));

FILETIME* ToFiletime(platform::FileTime* time) { return reinterpret_cast<FILETIME*>(time); }

// The caller keeps one record and sets its size once; each call hands the OS a full entry
// carrying that size and copies back the fields the program reads.
bool WalkSnapshot(BOOL(WINAPI* step)(HANDLE, LPPROCESSENTRY32W), platform::Handle snapshot,
                  platform::ProcessEntry32* entry) {
  if (entry == nullptr) return false;
  PROCESSENTRY32W native{};
  native.dwSize = entry->dwSize;
  if (step(snapshot, &native) == FALSE) return false;
  entry->th32ProcessID = native.th32ProcessID;
  entry->th32ParentProcessID = native.th32ParentProcessID;
  std::wmemcpy(entry->szExeFile, native.szExeFile, sizeof(native.szExeFile) / sizeof(wchar_t));
  return true;
}

}  // namespace

namespace platform {

Handle OpenProcess(std::uint32_t access, bool inheritHandle, ProcessId pid) {
  return ::OpenProcess(access, inheritHandle ? TRUE : FALSE, pid);
}

bool QueryFullProcessImageNameW(Handle process, std::uint32_t flags, wchar_t* path,
                                std::uint32_t* size) {
  if (size == nullptr) return false;
  DWORD length = *size;
  const BOOL ok = ::QueryFullProcessImageNameW(process, flags, path, &length);
  *size = length;
  return ok != FALSE;
}

Handle CreateToolhelp32Snapshot(std::uint32_t flags, ProcessId pid) {
  return ::CreateToolhelp32Snapshot(flags, pid);
}

bool Process32FirstW(Handle snapshot, ProcessEntry32* entry) {
  return WalkSnapshot(::Process32FirstW, snapshot, entry);
}

bool Process32NextW(Handle snapshot, ProcessEntry32* entry) {
  return WalkSnapshot(::Process32NextW, snapshot, entry);
}

bool GetProcessTimes(Handle process, FileTime* creation, FileTime* exit, FileTime* kernel,
                     FileTime* user) {
  return ::GetProcessTimes(process, ToFiletime(creation), ToFiletime(exit), ToFiletime(kernel),
                           ToFiletime(user)) != FALSE;
}

std::int32_t WideCharToMultiByte(std::uint32_t codePage, std::uint32_t flags, const wchar_t* text,
                                 std::int32_t length, char* out, std::int32_t outSize) {
  return ::WideCharToMultiByte(codePage, flags, text, length, out, outSize, nullptr, nullptr);
}

}  // namespace platform
