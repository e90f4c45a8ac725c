// Which process tree a capture takes, and whether the excluded process is inside it.
#pragma once

#include <functional>
#include <string>
#include <unordered_map>

#include "identity/creation_time.h"
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

// Where the walks learn when a process started: ProcessCreationTime; a test gives its own.
using CreationTimeSource = std::function<CreationTime(platform::ProcessId)>;

// Climbs from the window's process to its topmost ancestor running the same executable (at
// most 16 moves), then tells whether the excluded process (0: none) is that root or one of its
// descendants (its own chain of at most 64 links). Both limits end parent cycles. Neither walk
// follows a recorded parent that started after its child: the real parent has ended and a later
// process got its pid. Where either time cannot be read, the record is followed.
CaptureRoot ResolveCaptureRoot(platform::ProcessId windowPid, platform::ProcessId excludedPid);
CaptureRoot ResolveCaptureRootIn(const ProcessTable& table, platform::ProcessId windowPid,
                                 platform::ProcessId excludedPid,
                                 const CreationTimeSource& createdAt);
