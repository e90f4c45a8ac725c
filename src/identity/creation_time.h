// When a process started, read from the process itself.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/desktop_services.h"

// The platform's 100 ns units since 1601; none when the time cannot be read.
using CreationTime = std::optional<std::uint64_t>;

// Opens the process for limited query, as ProcessImageName does; none when it cannot be opened
// or its times cannot be read.
CreationTime ProcessCreationTime(platform::ProcessId pid);
