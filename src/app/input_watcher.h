// Standard input carries nothing but its end: the parent closes it to stop the program.
#pragma once

#include <cstdint>

// Thread procedure: reads and discards standard input until it ends or fails, then sets
// StopRequested and wakes the main thread's message loop with a quit message.
std::uint32_t InputWatcher(void* unused);
