// The capture mode: from a window handle to a running loopback capture of the application
// behind it, reported in one status line on standard error ("ok <pid> <exe>" or "error <word>").
#pragma once

#include <cstdint>

#include "platform/desktop_services.h"

// 0 after a capture that started and later stopped; 2 after an error word.
int RunCapture(std::uint64_t window, platform::ProcessId excludedPid);
