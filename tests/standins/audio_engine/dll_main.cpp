// At process exit the engine writes what the program left behind: objects still alive with
// their counts, whether the attached event was closed, and the packet totals.
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
  engine::TheLog().Line("exit");  // the last line: the log is whole
  return TRUE;
}
