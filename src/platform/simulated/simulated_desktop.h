// The simulated desktop behind desktop_services.h: an in-memory model of windows, processes,
// the shell's notification state and the standard streams, with failures on demand and a
// controllable clock. Tests set the model up, run a mode on the calling thread, and read back
// what the program wrote and which calls it made.
//
// Time is simulated: when the calling thread's queue is empty, GetMessageW jumps the clock to
// the earliest of the next timer period and the next scheduled action, so a 2000 ms tick costs
// no real time. Actions run on the thread that called GetMessageW (or a simulated wait of the
// audio side), before the message that follows them is retrieved.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/desktop_services.h"

namespace sim {

using platform::ProcessId;
using platform::Rect;
using platform::WindowHandle;

struct Window {
  WindowHandle handle = 0;
  ProcessId owner = 0;  // what GetWindowThreadProcessId reports
  Rect rect;            // GetWindowRect
  bool windowRectFails = false;
  bool compositorFails = true;  // DwmGetWindowAttribute result: fails unless set
  Rect compositorBounds;
  bool compositorWritesBeforeFailing = false;  // fills the rectangle, then reports failure
  bool minimized = false;
  std::vector<WindowHandle> children;  // direct children, in enumeration order
};

// When every simulated process starts unless a test says otherwise: 2026-01-01 00:00 UTC, in
// the platform's 100 ns units since 1601. Equal creation times are what a real system reports
// for processes started within one tick of its clock.
constexpr std::uint64_t kBootTime = 134116992000000000;
constexpr std::uint64_t kSecond = 10000000;

struct Process {
  ProcessId pid = 0;
  ProcessId parent = 0;       // as the snapshot records it: the process may since have ended
  std::wstring imagePath;     // full path; QueryFullProcessImageNameW returns it
  std::wstring snapshotName;  // snapshot's exe field; empty means the base name of the path
  bool openable = true;       // OpenProcess succeeds
  bool pathQueryFails = false;
  std::uint64_t createdAt = kBootTime;  // GetProcessTimes' creation time
  bool timesQueryFails = false;
  bool inSnapshot = true;
};

enum class StdinState { Open, AtEnd, Failing, NoHandle };

struct Desktop {
  std::vector<Window> windows;
  std::vector<Process> processes;
  WindowHandle foreground = 0;
  std::int32_t notificationStatus = 0;  // SHQueryUserNotificationState result
  std::int32_t notificationState = 1;   // QUNS_NOT_PRESENT
  bool snapshotFails = false;
  int snapshotWalkFailsFrom = 0;  // a walk's entry requests fail from this one (1: First); 0: never
  bool duplicateSnapshotEntries = false;  // each entry is listed twice
  bool hookFails = false;
  bool hasPerMonitorDpi = true;     // GetProcAddress finds SetProcessDpiAwarenessContext
  bool perMonitorDpiFails = false;  // ... and it returns false
  bool user32Missing = false;       // GetModuleHandleW("user32.dll") gives null
  bool threadCreationFails = false;
  bool getMessageFails = false;      // GetMessageW returns -1 on its next call
  bool utf8SizeQueryFails = false;   // WideCharToMultiByte's size query returns 0
  bool utf8ConversionFails = false;  // ... and its conversion into a buffer returns 0
  StdinState stdinState = StdinState::Open;
  // Standard output: accept at most this many bytes in all (a short write after that),
  // and fail flushes from the given flush number on (1 is the first flush).
  std::size_t stdoutCapacity = SIZE_MAX;
  int stdoutFlushFailsFrom = 0;  // 0: never
  // Standard error as a parent may hand it over: in binary mode until the program sets text
  // mode (Node under Wine's C runtime); otherwise in text mode, as Windows' runtime opens it.
  bool stderrStartsBinary = false;
};

// What the program did, for the test to read back.
struct Record {
  std::string stdoutBytes;  // as the parent would read them (translated unless binary)
  std::string stderrBytes;  // in text mode each LF arrives as CR LF
  bool stdoutBinary = false;
  bool stderrText = false;
  int stdoutFlushes = 0;
  int stderrFlushes = 0;
  std::vector<std::size_t> stdoutSizeAtFlush;  // size of stdoutBytes at each flush
  std::vector<std::uint32_t> priorityClasses;  // SetPriorityClass calls, in order
  std::vector<std::int32_t> threadPriorities;  // SetThreadPriority calls, in order
  std::vector<std::intptr_t> perMonitorDpiCalls;
  int setProcessDpiAwareCalls = 0;
  int hooksInstalled = 0;
  int hooksRemoved = 0;
  std::vector<std::uint32_t> hookArguments;  // eventMin, eventMax, process, thread, flags
  std::vector<std::uint32_t> timerPeriods;
  int getMessageCalls = 0;
  int dispatched = 0;
  int timerMessagesDispatched = 0;
  int quitPostsToSelf = 0;    // PostQuitMessage
  int quitPostsToThread = 0;  // PostThreadMessageW(WM_QUIT)
  int handlesOpened = 0;      // process, snapshot, thread and event handles
  int handlesClosed = 0;
  int invalidCloses = 0;  // CloseHandle on a handle that is not open
  int childEnumerationVisits = 0;
  std::vector<ProcessId> processTimesRead;  // GetProcessTimes calls that succeeded, in order
};

// Clears the model, the record, the clock, the scheduled actions and stdin; joins any thread
// the previous test left behind.
void Reset();
Desktop& Model();
Record& Recorded();
Window& AddWindow(WindowHandle handle, ProcessId owner, Rect rect);
Process& AddProcess(ProcessId pid, ProcessId parent, std::wstring imagePath);
Window* FindWindow(WindowHandle handle);
Process* FindProcess(ProcessId pid);

// Simulated clock, in milliseconds since Reset.
std::uint64_t Now();
// Runs action once the clock reaches atMs (relative to Reset).
void At(std::uint64_t atMs, std::function<void()> action);
// Queues a foreground-change event: the hook is called during the next retrieval.
void FireForegroundEvent();
// Ends standard input and returns once the threads reading it have seen the end and finished.
void CloseStdin();
// The id the simulation gives the thread that calls it.
platform::ThreadId ThreadIdOfCaller();

}  // namespace sim
