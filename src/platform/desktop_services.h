// Desktop and process services: every window-manager, compositor, shell, process, thread and
// standard-stream operation the program uses outside audio.
//
// The program's own code calls only what is declared here and never includes a Windows header.
// Two backends implement this header: platform/windows (a thin pass-through to the OS) and
// platform/simulated (an in-memory desktop for the unit tests, see simulated_desktop.h).
// Operations keep the platform's names; handles and records are plain values of the same width.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

using WindowHandle = std::uint64_t;  // 0 is no window
using ProcessId = std::uint32_t;     // 0 is no process
using ThreadId = std::uint32_t;
using Handle = void*;  // kernel object: process, thread, snapshot, event
using HookHandle = void*;

struct Rect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
};

struct Message {
  WindowHandle window = 0;
  std::uint32_t message = 0;
  std::uint64_t wParam = 0;
  std::int64_t lParam = 0;
  std::uint32_t time = 0;
  std::int32_t x = 0;
  std::int32_t y = 0;
};

// The wide-character process entry of a process snapshot; only the fields the program reads.
struct ProcessEntry32 {
  std::uint32_t dwSize = 0;
  ProcessId th32ProcessID = 0;
  ProcessId th32ParentProcessID = 0;
  wchar_t szExeFile[260] = {};
};

constexpr std::uint32_t kProcessEntry32WSize = 568;  // sizeof(PROCESSENTRY32W) on x64

// A time as the platform keeps it: 100 ns units since 1601, low half first.
struct FileTime {
  std::uint32_t dwLowDateTime = 0;
  std::uint32_t dwHighDateTime = 0;
};

constexpr std::uint32_t kWmQuit = 0x0012;
constexpr std::uint32_t kWmTimer = 0x0113;
constexpr std::uint32_t kEventSystemForeground = 0x0003;
constexpr std::uint32_t kWinEventOutOfContext = 0x0000;
constexpr std::uint32_t kWinEventSkipOwnProcess = 0x0002;
constexpr std::uint32_t kDwmwaExtendedFrameBounds = 9;
constexpr std::int32_t kQunsRunningD3dFullScreen = 3;
constexpr std::intptr_t kDpiAwarenessContextPerMonitorAwareV2 = -4;
constexpr std::uint32_t kBelowNormalPriorityClass = 0x4000;
constexpr std::uint32_t kNormalPriorityClass = 0x0020;
constexpr std::int32_t kThreadPriorityAboveNormal = 1;
constexpr std::uint32_t kProcessQueryLimitedInformation = 0x1000;
constexpr std::uint32_t kTh32csSnapProcess = 0x0002;
constexpr std::uint32_t kCpUtf8 = 65001;
constexpr std::uint32_t kStdInputHandle = static_cast<std::uint32_t>(-10);

// All bits set: what CreateToolhelp32Snapshot returns on failure.
inline Handle InvalidHandleValue() { return reinterpret_cast<Handle>(~std::uintptr_t{0}); }

using WinEventProc = void (*)(HookHandle hook, std::uint32_t event, WindowHandle window,
                              std::int32_t idObject, std::int32_t idChild,
                              std::uint32_t eventThread, std::uint32_t eventTime);
using EnumChildProc = bool (*)(WindowHandle child, void* context);  // false stops
using ThreadProc = std::uint32_t (*)(void* argument);
using DpiAwarenessProc = bool (*)(std::intptr_t context);  // SetProcessDpiAwarenessContext

// Window manager, compositor, shell.
WindowHandle GetForegroundWindow();
bool IsWindow(WindowHandle window);
bool IsIconic(WindowHandle window);
std::int32_t DwmGetWindowAttribute(WindowHandle window, std::uint32_t attribute, Rect* rect,
                                   std::uint32_t size);
bool GetWindowRect(WindowHandle window, Rect* rect);
ThreadId GetWindowThreadProcessId(WindowHandle window, ProcessId* pid);
void EnumChildWindows(WindowHandle parent, EnumChildProc callback, void* context);
std::int32_t SHQueryUserNotificationState(std::int32_t* state);

// DPI awareness: the per-monitor call is looked up at run time, as older systems lack it.
void* GetModuleHandleW(const wchar_t* name);
DpiAwarenessProc GetProcAddress(void* module, const char* name);
bool SetProcessDPIAware();

// Hooks, timers and the message queue of the calling thread.
HookHandle SetWinEventHook(std::uint32_t eventMin, std::uint32_t eventMax, WinEventProc callback,
                           ProcessId process, ThreadId thread, std::uint32_t flags);
bool UnhookWinEvent(HookHandle hook);
std::uintptr_t SetTimer(WindowHandle window, std::uintptr_t id, std::uint32_t milliseconds);
std::int32_t GetMessageW(Message* message);  // >0 message, 0 quit, -1 error
void DispatchMessageW(const Message* message);
void PostQuitMessage(std::int32_t exitCode);
bool PostThreadMessageW(ThreadId thread, std::uint32_t message, std::uint64_t wParam,
                        std::int64_t lParam);

// Threads and priorities.
ThreadId GetCurrentThreadId();
Handle CreateThread(ThreadProc procedure, void* argument);
Handle GetCurrentProcess();
Handle GetCurrentThread();
bool SetPriorityClass(Handle process, std::uint32_t priorityClass);
bool SetThreadPriority(Handle thread, std::int32_t priority);
bool CloseHandle(Handle handle);

// Processes.
Handle OpenProcess(std::uint32_t access, bool inheritHandle, ProcessId pid);
// size is in characters: in, the buffer's capacity; out, the path's length.
bool QueryFullProcessImageNameW(Handle process, std::uint32_t flags, wchar_t* path,
                                std::uint32_t* size);
Handle CreateToolhelp32Snapshot(std::uint32_t flags, ProcessId pid);
bool Process32FirstW(Handle snapshot, ProcessEntry32* entry);
bool Process32NextW(Handle snapshot, ProcessEntry32* entry);
// All four times of a process opened for limited query; false when they cannot be read.
bool GetProcessTimes(Handle process, FileTime* creation, FileTime* exit, FileTime* kernel,
                     FileTime* user);

// Text conversion. With no output buffer (size 0) it returns the length needed.
std::int32_t WideCharToMultiByte(std::uint32_t codePage, std::uint32_t flags, const wchar_t* text,
                                 std::int32_t length, char* out, std::int32_t outSize);

// Standard streams. Standard input is read raw through its handle; standard output (binary)
// and standard error (text: LF leaves as CR LF) go through the C runtime's buffered streams.
// Both modes are set at start-up: a parent may hand over its own mode flags with the handles.
Handle GetStdHandle(std::uint32_t which);
bool ReadFile(Handle file, void* buffer, std::uint32_t size, std::uint32_t* read);
void SetStdoutBinary();
void SetStderrText();
std::size_t WriteStdout(const void* bytes, std::size_t size);  // bytes taken by the stream
bool FlushStdout();  // false when the stream has failed since it was last flushed
std::size_t WriteStderr(const void* bytes, std::size_t size);
bool FlushStderr();

}  // namespace platform
