// The two process-wide values every mode shares with the input watcher.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/desktop_services.h"

// Goes from 0 to 1 once, when output can no longer be delivered or standard input ended.
// Nothing clears it; every loop polls it.
extern std::atomic<std::int32_t> StopRequested;

// The thread that entered the program, recorded before the watcher starts; 0 means unknown.
extern platform::ThreadId MainThreadId;

inline bool IsStopRequested() { return StopRequested.load() != 0; }
