// Which process owns a window, as the user sees it.
#pragma once

#include "platform/desktop_services.h"

// The owner process of the window, 0 when it has none. A store app's visible window belongs
// to the system's frame host; for such a window the owner is the first other process that
// owns a window inside it.
platform::ProcessId WindowProcessId(platform::WindowHandle window);
