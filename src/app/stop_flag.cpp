#include "app/stop_flag.h"

std::atomic<std::int32_t> StopRequested{0};
platform::ThreadId MainThreadId = 0;
