// The rows of the fault matrix (fault_matrix.h), over one scene that the test sets up.
#include "capture_test_support.h"
#include "fault_matrix.h"

namespace fault_matrix {

namespace {

using platform::Status;
constexpr Status kFail = static_cast<Status>(0x80004005u);

// The scene, healthy: explorer (4) started app.exe (42), which started app.exe (43), whose
// window 100 is in the foreground with compositor bounds; a full-screen application runs; the
// engine delivers one packet at 20 ms. A healthy foreground run writes kLine, a healthy capture
// "ok 42 app.exe" and the mono sample 3.
#define LINE(pid, bounds, fs, exe) \
  "{\"pid\":" pid "," bounds ",\"fs\":" fs ",\"exe\":\"" exe "\"}\n"
#define COMPOSITOR R"("x":17,"y":20,"w":786,"h":593)"
const char kLine[] = LINE("43", COMPOSITOR, "1", "app.exe");
const char kOk[] = "ok 42 app.exe\r\n";
const char kSample[] = "\x03\x00";  // Pcm({3}); "*" in a row's out stands for it

void ExpectSystemDpiAwareness() { EXPECT_EQ(sim::Recorded().setProcessDpiAwareCalls, 1); }

void MoveCompositorBoundsAt(std::uint64_t atMs) {
  sim::At(atMs, [] { sim::FindWindow(100)->compositorBounds = {117, 20, 903, 613}; });
}

void AnotherPacketAt(std::uint64_t atMs) {
  sim::Packet packet;
  packet.samples = {2, 4};
  sim::Script().bursts.push_back({atMs, {packet}});
}

sim::Desktop& M() { return sim::Model(); }
sim::AudioScript& S() { return sim::Script(); }

using enum Mode;
using enum Outcome;

using enum Mode;
using enum Outcome;

// clang-format off
const Fault kFaults[] = {
    {"", "nothing (the healthy scene)", Foreground, [] {}, Ignored, kLine, "", 0, 0},
    {"", "nothing (the healthy scene)", Capture, [] {}, Ignored, "*", kOk, 0, 0},

    // Foreground mode.
    {"GetForegroundWindow", "no foreground window (0)", Foreground, [] { M().foreground = 0; },
     Fallback, "{\"pid\":0}\n", "", 0, 0},
    {"GetWindowThreadProcessId", "no owner (pid 0)", Foreground,
     [] { sim::FindWindow(100)->owner = 0; }, Fallback, LINE("0", COMPOSITOR, "1", ""), "", 0, 0},
    {"DwmGetWindowAttribute", "failure status", Foreground,
     [] { sim::FindWindow(100)->compositorFails = true; }, Fallback,
     LINE("43", R"("x":10,"y":20,"w":800,"h":600)", "1", "app.exe"), "", 0, 0},
    {"GetWindowRect", "fails after the compositor failed", Foreground,
     [] { sim::FindWindow(100)->compositorFails = sim::FindWindow(100)->windowRectFails = true; },
     Fallback, LINE("43", R"("x":0,"y":0,"w":0,"h":0)", "1", "app.exe"), "", 0, 0},
    {"SHQueryUserNotificationState", "failure status", Foreground,
     [] { M().notificationStatus = kFail; }, Fallback, LINE("43", COMPOSITOR, "0", "app.exe"), "",
     0, 0},
    {"OpenProcess", "refused for the owner", Foreground,
     [] { sim::FindProcess(43)->openable = false; }, Fallback, LINE("43", COMPOSITOR, "1", ""), "",
     0, 0},
    {"QueryFullProcessImageNameW", "fails for the owner", Foreground,
     [] { sim::FindProcess(43)->pathQueryFails = true; }, Fallback,
     LINE("43", COMPOSITOR, "1", ""), "", 0, 0},
    {"WideCharToMultiByte", "size query gives 0", Foreground, [] { M().utf8SizeQueryFails = true; },
     Fallback, LINE("43", COMPOSITOR, "1", ""), "", 0, 0},
    {"WideCharToMultiByte", "conversion gives 0", Foreground, [] { M().utf8ConversionFails = true; },
     Fallback, LINE("43", COMPOSITOR, "1", ""), "", 0, 0},
    {"GetModuleHandleW", "user32.dll not found", Foreground, [] { M().user32Missing = true; },
     Fallback, kLine, "", 0, 0, ExpectSystemDpiAwareness},
    {"GetProcAddress", "SetProcessDpiAwarenessContext not found", Foreground,
     [] { M().hasPerMonitorDpi = false; }, Fallback, kLine, "", 0, 0, ExpectSystemDpiAwareness},
    {"GetProcAddress", "the SetProcessDpiAwarenessContext found returns false", Foreground,
     [] { M().perMonitorDpiFails = true; }, Fallback, kLine, "", 0, 0, ExpectSystemDpiAwareness},
    {"SetWinEventHook", "no hook (null)", Foreground, [] { M().hookFails = true; }, Ignored, kLine,
     "", 0, 0, [] { EXPECT_EQ(sim::Recorded().hooksRemoved, 0); }},
    {"GetMessageW", "-1", Foreground, [] { M().getMessageFails = true; }, Stop, kLine, "", 0, 0},
    {"CreateThread", "no thread (null): stdin's end goes unseen; a later failed flush ends it",
     Foreground,
     [] {
       M().threadCreationFails = true;
       M().stdoutFlushFailsFrom = 2;
       MoveCompositorBoundsAt(1500);
     },
     Ignored, LINE("43", COMPOSITOR, "1", "app.exe") LINE("43", R"("x":117,"y":20,"w":786,"h":593)", "1", "app.exe"),
     "", 0, 0},
    {"GetStdHandle", "no standard input (null)", Foreground,
     [] { M().stdinState = sim::StdinState::NoHandle; }, Stop, kLine, "", 0, 0},
    {"ReadFile", "fails", Foreground, [] { M().stdinState = sim::StdinState::Failing; }, Stop,
     kLine, "", 0, 0},
    {"WriteStdout", "short write (10 bytes taken)", Foreground, [] { M().stdoutCapacity = 10; },
     Stop, "{\"pid\":43,", "", 0, 0},
    {"FlushStdout", "fails", Foreground, [] { M().stdoutFlushFailsFrom = 1; }, Stop, kLine, "", 0, 0},

    // Capture mode: the window and its process family.
    {"IsWindow", "no such window", Capture, [] { M().windows.clear(); }, Error, "",
     "error no-window\r\n", 0, 0},
    {"GetWindowThreadProcessId", "no owner (pid 0)", Capture,
     [] { sim::FindWindow(100)->owner = 0; }, Error, "", "error no-process\r\n", 0, 0},
    {"CreateToolhelp32Snapshot", "invalid handle", Capture, [] { M().snapshotFails = true; },
     Fallback, "*", "ok 43 app.exe\r\n", 0, 0},
    {"Process32FirstW", "false", Capture, [] { M().snapshotWalkFailsFrom = 1; }, Fallback, "*",
     "ok 43 app.exe\r\n", 0, 0},
    {"Process32NextW", "false after the first entry", Capture,
     [] { M().snapshotWalkFailsFrom = 2; }, Fallback, "*", "ok 43 app.exe\r\n", 0, 0},
    {"OpenProcess", "refused for the root", Capture, [] { sim::FindProcess(42)->openable = false; },
     Fallback, "*", "ok 42 \r\n", 0, 0},
    {"QueryFullProcessImageNameW", "fails for the root", Capture,
     [] { sim::FindProcess(42)->pathQueryFails = true; }, Fallback, "*", "ok 42 \r\n", 0, 0},
    {"GetProcessTimes", "fails for every process, while 42 started after 43 (a reused pid)",
     Capture,
     [] {
       sim::FindProcess(42)->createdAt = sim::FindProcess(43)->createdAt + sim::kSecond;
       for (sim::Process& process : M().processes) process.timesQueryFails = true;
     },
     Fallback, "*", kOk, 0, 0},
    {"WideCharToMultiByte", "size query gives 0", Capture, [] { M().utf8SizeQueryFails = true; },
     Fallback, "*", "ok 42 \r\n", 0, 0},
    {"WideCharToMultiByte", "conversion gives 0", Capture, [] { M().utf8ConversionFails = true; },
     Fallback, "*", "ok 42 \r\n", 0, 0},

    // Capture mode: set-up. The activation's operation stays referenced after a time-out, and
    // a handler the engine never lets go keeps its event; the buffer event is left after
    // "service" and "start".
    {"CoInitializeEx", "failure status", Capture, [] { S().coInitialize = kFail; }, Error, "",
     "error com\r\n", 0, 0},
    {"ActivateAudioInterfaceAsync", "failure status", Capture, [] { S().activateRequest = kFail; },
     Error, "", "error activate\r\n", 0, 0},
    {"CreateEventW", "no completion event (null)", Capture, [] { S().failingCreateEvents = {1}; },
     Error, "", "error activate-timeout\r\n", 0, 1},
    {"WaitForSingleObject", "completion never comes (time-out)", Capture,
     [] { S().completion = sim::Completion::Never; }, Error, "", "error activate-timeout\r\n", 1, 1},
    {"WaitForSingleObject", "completion comes after the time-out", Capture,
     [] { S().completion = sim::Completion::AfterWaitGivesUp; }, Error, "",
     "error activate-timeout\r\n", 0, 1},
    {"GetActivateResult", "failure status", Capture, [] { S().getActivateResult = kFail; }, Error,
     "", "error unsupported\r\n", 0, 0},
    {"GetActivateResult", "failed activation status", Capture,
     [] { S().completion = sim::Completion::FailureStatus; }, Error, "", "error unsupported\r\n", 0,
     0},
    {"GetActivateResult", "success without an interface", Capture,
     [] { S().completion = sim::Completion::SuccessWithoutInterface; }, Error, "",
     "error unsupported\r\n", 0, 0},
    {"QueryInterface", "no audio client", Capture, [] { S().activatedLacksAudioClient = true; },
     Error, "", "error client\r\n", 0, 0},
    {"Initialize", "failure status", Capture, [] { S().initialize = kFail; }, Error, "",
     "error initialize\r\n", 0, 0},
    {"CreateEventW", "no buffer event (null)", Capture, [] { S().failingCreateEvents = {2}; },
     Error, "", "error service\r\n", 0, 0},
    {"SetEventHandle", "failure status", Capture, [] { S().setEventHandle = kFail; }, Error, "",
     "error service\r\n", 1, 0},
    {"GetService", "failure status", Capture, [] { S().getService = kFail; }, Error, "",
     "error service\r\n", 1, 0},
    {"GetService", "success with a null interface", Capture,
     [] { S().getServiceGivesNull = true; }, Error, "", "error service\r\n", 1, 0},
    {"Start", "failure status", Capture, [] { S().start = kFail; }, Error, "", "error start\r\n", 1,
     0},

    // Capture mode: the running stream.
    {"WaitForSingleObject", "buffer event never signalled (time-outs)", Capture,
     [] { S().bursts.clear(); }, Ignored, "", kOk, 0, 0},
    {"GetNextPacketSize", "failure status (the drain ends; the next event drains again)", Capture,
     [] {
       S().bursts[0].packets[0].sizeStatus = kFail;
       AnotherPacketAt(40);
     },
     Ignored, "*", kOk, 0, 0},
    {"GetBuffer", "failure status", Capture, [] { S().bursts[0].packets[0].bufferStatus = kFail; },
     Stop, "", kOk, 0, 0},
    {"WriteStdout", "short write (1 byte taken)", Capture, [] { M().stdoutCapacity = 1; }, Stop,
     "\x03", kOk, 0, 0},
    {"FlushStdout", "fails", Capture, [] { M().stdoutFlushFailsFrom = 1; }, Stop, "*", kOk, 0, 0},
    {"CreateThread", "no thread (null): stdin's end goes unseen; a later failed flush ends it",
     Capture,
     [] {
       M().threadCreationFails = true;
       M().stdoutFlushFailsFrom = 2;
       AnotherPacketAt(1500);
     },
     Ignored, "**", kOk, 0, 0},
    {"GetStdHandle", "no standard input (null)", Capture,
     [] { M().stdinState = sim::StdinState::NoHandle; }, Stop, "", kOk, 0, 0},
    {"ReadFile", "fails", Capture, [] { M().stdinState = sim::StdinState::Failing; }, Stop, "", kOk,
     0, 0},
};
// clang-format on

// Operations whose result the program does not act on, and why.
const std::pair<const char*, const char*> kNotChecked[] = {
    {"IsIconic", "a yes/no query: its failure is the same false as \"not minimized\""},
    {"EnumChildWindows", "returns nothing; finding no hosted owner keeps the frame host's pid"},
    {"SetProcessDPIAware", "the last resort of DPI awareness: nothing is left to fall back to"},
    {"UnhookWinEvent", "called as the mode ends; the hook goes with the process"},
    {"SetTimer", "without the timer, foreground events and stdin's end still drive the loop"},
    {"DispatchMessageW", "returns nothing"},
    {"PostQuitMessage", "returns nothing"},
    {"PostThreadMessageW", "only wakes the loop, which obeys the stop flag at its next tick"},
    {"GetCurrentThreadId", "cannot fail"},
    {"GetCurrentProcess", "a pseudo handle: cannot fail"},
    {"GetCurrentThread", "a pseudo handle: cannot fail"},
    {"SetPriorityClass", "priorities are best effort; the modes run the same without them"},
    {"SetThreadPriority", "priorities are best effort; the modes run the same without them"},
    {"CloseHandle", "nothing can be done about a refused close; every row checks the balance"},
    {"SetStdoutBinary", "returns nothing"},
    {"SetStderrText", "returns nothing"},
    {"WriteStderr", "the parent has no other channel; the exit code still tells the outcome"},
    {"FlushStderr", "the parent has no other channel; the exit code still tells the outcome"},
    {"CoUninitialize", "returns nothing"},
    {"Release IActivateAudioInterfaceAsyncOperation", "the count left is of no use to the program"},
    {"Release IUnknown", "the count left is of no use to the program"},
    {"Release IAudioClient", "the count left is of no use to the program"},
    {"Release IAudioCaptureClient", "the count left is of no use to the program"},
    {"Stop", "called while tearing down; the client is released right after"},
    {"ReleaseBuffer",
     "the packet is already written; a refusal shows as the next GetBuffer failing"},
    {"SetEvent", "the completion's signal; a lost one ends as activate-timeout"},
};

}  // namespace

std::span<const Fault> Faults() { return kFaults; }

std::span<const std::pair<const char*, const char*>> NotChecked() { return kNotChecked; }

// "*" in an expected output is one mono sample 3.
std::string Expand(const char* out) {
  std::string bytes;
  for (const char* c = out; *c != 0; ++c)
    bytes += *c == '*' ? std::string(kSample, 2) : std::string(1, *c);
  return bytes;
}

}  // namespace fault_matrix
