#include "identity/process_family.h"

#include <algorithm>
#include <iterator>

#include "identity/image_name.h"

namespace {

constexpr int kMaxClimbMoves = 16;
constexpr int kMaxSelfTestSteps = 64;

// Each process's time is read at most once per resolve: the two walks can meet the same ones.
struct CreationTimes {
  const CreationTimeSource& source;
  std::unordered_map<platform::ProcessId, CreationTime> read;
};

CreationTime CreatedAt(CreationTimes& times, platform::ProcessId pid) {
  auto [entry, isNew] = times.read.try_emplace(pid);
  if (isNew) entry->second = times.source(pid);
  return entry->second;
}

// A pid names a process only while it runs: Windows gives an ended process's pid to processes
// started later, and the ended one's children keep naming it as their parent.
bool ParentStartedAfterChild(CreationTimes& times, platform::ProcessId parent,
                             platform::ProcessId child) {
  const CreationTime parentStarted = CreatedAt(times, parent);
  if (!parentStarted) return false;
  const CreationTime childStarted = CreatedAt(times, child);
  return childStarted && *parentStarted > *childStarted;
}

platform::ProcessId ClimbSameImage(const ProcessTable& table, CreationTimes& times,
                                   platform::ProcessId start) {
  platform::ProcessId cur = start;
  for (int moves = 0; moves < kMaxClimbMoves; ++moves) {
    auto self = table.find(cur);
    if (self == table.end()) break;
    platform::ProcessId parentPid = self->second.parentPid;
    auto parent = table.find(parentPid);
    if (parent == table.end() || parentPid == cur) break;
    if (!ImageNamesEqual(parent->second.imageName, self->second.imageName)) break;
    if (ParentStartedAfterChild(times, parentPid, cur)) break;
    cur = parentPid;
  }
  return cur;
}

// The field is a fixed array; a name that fills it has no terminator.
std::wstring ExeFileName(const platform::ProcessEntry32& entry) {
  const wchar_t* begin = std::begin(entry.szExeFile);
  return std::wstring(begin, std::find(begin, std::end(entry.szExeFile), L'\0'));
}

bool IsInTreeOf(const ProcessTable& table, CreationTimes& times, platform::ProcessId root,
                platform::ProcessId pid) {
  platform::ProcessId c = pid;
  for (int steps = 0; steps < kMaxSelfTestSteps; ++steps) {
    if (c == 0) return false;
    if (c == root) return true;
    auto entry = table.find(c);
    if (entry == table.end() || entry->second.parentPid == c) return false;
    if (ParentStartedAfterChild(times, entry->second.parentPid, c)) return false;
    c = entry->second.parentPid;
  }
  return false;
}

}  // namespace

ProcessTable SnapshotProcessTable() {
  ProcessTable table;
  platform::Handle snapshot = platform::CreateToolhelp32Snapshot(platform::kTh32csSnapProcess, 0);
  if (snapshot == platform::InvalidHandleValue()) return table;
  platform::ProcessEntry32 entry;
  entry.dwSize = platform::kProcessEntry32WSize;
  for (bool more = platform::Process32FirstW(snapshot, &entry); more;
       more = platform::Process32NextW(snapshot, &entry)) {
    ProcessEntry& stored = table[entry.th32ProcessID];
    stored.parentPid = entry.th32ParentProcessID;
    stored.imageName = ExeFileName(entry);
  }
  platform::CloseHandle(snapshot);
  return table;
}

CaptureRoot ResolveCaptureRootIn(const ProcessTable& table, platform::ProcessId windowPid,
                                 platform::ProcessId excludedPid,
                                 const CreationTimeSource& createdAt) {
  CreationTimes times{createdAt, {}};
  CaptureRoot result;
  result.rootPid = ClimbSameImage(table, times, windowPid);
  if (excludedPid != 0) result.isSelf = IsInTreeOf(table, times, result.rootPid, excludedPid);
  return result;
}

CaptureRoot ResolveCaptureRoot(platform::ProcessId windowPid, platform::ProcessId excludedPid) {
  return ResolveCaptureRootIn(SnapshotProcessTable(), windowPid, excludedPid, ProcessCreationTime);
}
