// At process exit the engine writes what the program left behind: objects still alive with
// their counts, whether the attached event was closed, the packet totals and the exit code.
#include <windows.h>

#include "audio_client.h"
#include "engine_script.h"
#include "live_objects.h"
#include "packet_clock.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_DETACH || !engine::TheLog().IsOpen()) return TRUE;
  engine::LogLiveObjectsAtExit();
  engine::LogEventAtExit();
  engine::LogReadyTimesAtExit();
  engine::LogClockSummaryAtExit();
  engine::LogCaptureSummaryAtExit();
  // The process is ending: its exit code is set by now (for a run that Wine then kills at the
  // last moment, this is the code the program itself ended with).
  DWORD code = 0;
  if (!GetExitCodeProcess(GetCurrentProcess(), &code)) code = 0xFFFFFFFF;
  engine::TheLog().Line("exit code=%lu", static_cast<unsigned long>(code));
  return TRUE;
}
