// The shell's user notification state (SHQueryUserNotificationState): whether notifications may
// be shown now and, if not, why, as a value from 1 to 7 (3 while a full-screen Direct3D
// application runs in exclusive mode, 5 when nothing stands in the way). Wine 8 always answers
// 5; this stand-in answers what its script says.
//
// Script (TESSIK_SHELL_SCRIPT), read on every call, so a test can change it while the program
// runs:
//   log <path>      one line per call, appended to that file
//   state <n>       the state reported (5 without one)
//   status <value>  the status returned (0x... or decimal; S_OK without one). A failing call
//                   still writes the state: nothing promises a caller that the out value is
//                   left alone on failure, so only the status may be trusted.
// Log line:
//   SHQueryUserNotificationState t=<ms since boot> status=0x<hex> state=<n, or - if not written>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "standin_io.h"

namespace {

standin::Log& CallLog(const std::string& script) {
  static standin::Log log;
  if (!log.IsOpen()) log.Open(standin::ScriptValue(script, "log"));
  return log;
}

long ScriptNumber(const std::string& script, const char* key, long otherwise) {
  const std::string text = standin::ScriptValue(script, key);
  if (text.empty()) return otherwise;
  return static_cast<long>(std::strtoul(text.c_str(), nullptr, 0));
}

}  // namespace

// The state is an enumeration, an int-sized value.
extern "C" HRESULT WINAPI SHQueryUserNotificationState(int* state) {
  const std::string script = standin::ReadScript(L"TESSIK_SHELL_SCRIPT");
  standin::Log& log = CallLog(script);
  const unsigned long long now = GetTickCount64();
  if (state == nullptr) {
    log.Line("SHQueryUserNotificationState t=%llu status=0x%08lx state=-", now,
             static_cast<unsigned long>(E_INVALIDARG));
    return E_INVALIDARG;
  }
  const HRESULT status = static_cast<HRESULT>(ScriptNumber(script, "status", S_OK));
  *state = static_cast<int>(ScriptNumber(script, "state", 5));
  log.Line("SHQueryUserNotificationState t=%llu status=0x%08lx state=%d", now,
           static_cast<unsigned long>(status), *state);
  return status;
}
