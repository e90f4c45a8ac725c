// The handle table and the process calls: open, image path, times, snapshot walk, close.
//
// One table holds every kernel object the program can close (process, snapshot, thread,
// event), so handlesOpened against handlesClosed tells whether it leaked or double-closed.
#include <algorithm>

#include "platform/simulated/simulated_internal.h"

namespace sim::detail {

Handle AddHandle(HandleEntry entry) {
  DesktopState& s = State();
  const std::uintptr_t value = s.nextHandle;
  s.nextHandle += 4;
  s.handles.emplace(value, std::move(entry));
  ++s.record.handlesOpened;
  return reinterpret_cast<Handle>(value);
}

HandleEntry* FindHandle(Handle handle) {
  auto found = State().handles.find(reinterpret_cast<std::uintptr_t>(handle));
  return found == State().handles.end() ? nullptr : &found->second;
}

}  // namespace sim::detail

namespace platform {

namespace {

using sim::detail::HandleEntry;
using sim::detail::HandleKind;
using sim::detail::Mutex;

HandleEntry* FindOfKind(Handle handle, HandleKind kind) {
  HandleEntry* entry = sim::detail::FindHandle(handle);
  return entry != nullptr && entry->kind == kind ? entry : nullptr;
}

std::wstring SnapshotName(const sim::Process& process) {
  if (!process.snapshotName.empty()) return process.snapshotName;
  const std::size_t slash = process.imagePath.find_last_of(L'\\');
  return slash == std::wstring::npos ? process.imagePath : process.imagePath.substr(slash + 1);
}

ProcessEntry32 EntryFor(const sim::Process& process) {
  ProcessEntry32 entry;
  entry.dwSize = kProcessEntry32WSize;
  entry.th32ProcessID = process.pid;
  entry.th32ParentProcessID = process.parent;
  const std::wstring name = SnapshotName(process);
  const std::size_t length = std::min<std::size_t>(name.size(), 259);
  std::copy_n(name.begin(), length, entry.szExeFile);
  entry.szExeFile[length] = 0;
  return entry;
}

// The process an open process handle was opened for; null for any other handle, or when the
// process has left the model since.
const sim::Process* ProcessBehind(Handle process) {
  ProcessId pid = 0;
  {
    std::lock_guard lock(Mutex());
    const HandleEntry* entry = FindOfKind(process, HandleKind::Process);
    if (entry == nullptr) return nullptr;
    pid = entry->pid;
  }
  return sim::FindProcess(pid);
}

// The snapshot fills only the fields the program reads and keeps the caller's dwSize.
bool NextEntry(Handle snapshot, ProcessEntry32* entry, bool first) {
  if (entry == nullptr || entry->dwSize != kProcessEntry32WSize) return false;
  std::lock_guard lock(Mutex());
  HandleEntry* walk = FindOfKind(snapshot, HandleKind::Snapshot);
  if (walk == nullptr) return false;
  if (first) walk->cursor = 0;
  const int failsFrom = sim::Model().snapshotWalkFailsFrom;
  if (failsFrom != 0 && walk->cursor + 1 >= static_cast<std::size_t>(failsFrom)) return false;
  if (walk->cursor >= walk->entries.size()) return false;
  *entry = walk->entries[walk->cursor++];
  return true;
}

}  // namespace

Handle OpenProcess(std::uint32_t access, bool, ProcessId pid) {
  // The program asks only for limited query access; anything else is its bug, not a refusal.
  if (access != kProcessQueryLimitedInformation) return nullptr;
  const sim::Process* process = sim::FindProcess(pid);
  if (process == nullptr || !process->openable) return nullptr;
  HandleEntry entry;
  entry.kind = HandleKind::Process;
  entry.pid = pid;
  std::lock_guard lock(Mutex());
  return sim::detail::AddHandle(std::move(entry));
}

bool QueryFullProcessImageNameW(Handle process, std::uint32_t, wchar_t* path, std::uint32_t* size) {
  if (path == nullptr || size == nullptr) return false;
  const sim::Process* found = ProcessBehind(process);
  if (found == nullptr || found->pathQueryFails) return false;
  const std::wstring& image = found->imagePath;
  if (image.size() >= *size) return false;  // the terminator needs room too
  std::copy(image.begin(), image.end(), path);
  path[image.size()] = 0;
  *size = static_cast<std::uint32_t>(image.size());
  return true;
}

// Like the platform, it needs all four out records and a handle with query access; a running
// process has no exit time yet, and the simulation charges it no processor time.
bool GetProcessTimes(Handle process, FileTime* creation, FileTime* exit, FileTime* kernel,
                     FileTime* user) {
  if (creation == nullptr || exit == nullptr || kernel == nullptr || user == nullptr) return false;
  const sim::Process* found = ProcessBehind(process);
  if (found == nullptr || found->timesQueryFails) return false;
  creation->dwLowDateTime = static_cast<std::uint32_t>(found->createdAt);
  creation->dwHighDateTime = static_cast<std::uint32_t>(found->createdAt >> 32);
  *exit = *kernel = *user = FileTime{};
  sim::Recorded().processTimesRead.push_back(found->pid);
  return true;
}

Handle CreateToolhelp32Snapshot(std::uint32_t flags, ProcessId) {
  if (flags != kTh32csSnapProcess || sim::Model().snapshotFails) return InvalidHandleValue();
  HandleEntry snapshot;
  snapshot.kind = HandleKind::Snapshot;
  // Sized up front: regrowing 568-byte entries would dominate timings over large desktops.
  snapshot.entries.reserve(sim::Model().processes.size());
  for (const sim::Process& process : sim::Model().processes) {
    if (!process.inSnapshot) continue;
    snapshot.entries.push_back(EntryFor(process));
    if (sim::Model().duplicateSnapshotEntries) snapshot.entries.push_back(EntryFor(process));
  }
  std::lock_guard lock(Mutex());
  return sim::detail::AddHandle(std::move(snapshot));
}

bool Process32FirstW(Handle snapshot, ProcessEntry32* entry) {
  return NextEntry(snapshot, entry, true);
}

bool Process32NextW(Handle snapshot, ProcessEntry32* entry) {
  return NextEntry(snapshot, entry, false);
}

bool CloseHandle(Handle handle) {
  if (sim::detail::IsPseudoHandle(handle)) return true;
  {
    std::lock_guard lock(Mutex());
    sim::detail::DesktopState& s = sim::detail::State();
    if (s.handles.erase(reinterpret_cast<std::uintptr_t>(handle)) == 0) {
      ++s.record.invalidCloses;
      return false;
    }
    ++s.record.handlesClosed;
  }
  sim::detail::NoteHandleClosed(handle);
  return true;
}

}  // namespace platform
