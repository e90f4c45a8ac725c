// Which process tree a capture takes, and whether the excluded process is inside it.
#pragma once

#include <string>
#include <unordered_map>

#include "platform/desktop_services.h"

struct ProcessEntry {
  platform::ProcessId parentPid = 0;
  std::wstring imageName;  // file name only: the same executable in two folders compares equal
};

// One system-wide snapshot, keyed by pid; empty when no snapshot could be taken. Hashed: a
// snapshot lists every process on the machine, and only a few rows are ever looked up.
using ProcessTable = std::unordered_map<platform::ProcessId, ProcessEntry>;

ProcessTable SnapshotProcessTable();

struct CaptureRoot {
  platform::ProcessId rootPid = 0;
  bool isSelf = false;
};

// Climbs from the window's process to its topmost ancestor running the same executable (at
// most 16 moves), then tells whether the excluded process (0: none) is that root or one of its
// descendants (its own chain of at most 64 links). Both limits end parent cycles.
CaptureRoot ResolveCaptureRoot(platform::ProcessId windowPid, platform::ProcessId excludedPid);
CaptureRoot ResolveCaptureRootIn(const ProcessTable& table, platform::ProcessId windowPid,
                                 platform::ProcessId excludedPid);
