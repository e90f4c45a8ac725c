// Window manager, compositor, shell, DPI awareness, event hook, timer and message queue.
#include "platform/desktop_services.h"

#include <windows.h>
#include <dwmapi.h>
#include <shellapi.h>

#include <cstddef>
#include <cstdint>

namespace {

static_assert(sizeof(platform::Rect) == sizeof(RECT));
static_assert(offsetof(platform::Rect, left) == offsetof(RECT, left));
static_assert(offsetof(platform::Rect, top) == offsetof(RECT, top));
static_assert(offsetof(platform::Rect, right) == offsetof(RECT, right));
static_assert(offsetof(platform::Rect, bottom) == offsetof(RECT, bottom));
static_assert(sizeof(platform::WindowHandle) >= sizeof(HWND));

HWND ToHwnd(platform::WindowHandle window) {
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window));
}

platform::WindowHandle FromHwnd(HWND window) {
  return static_cast<platform::WindowHandle>(reinterpret_cast<std::uintptr_t>(window));
}

// Function pointers found by name come back as FARPROC; going through void(*)() keeps the
// compiler's function-type cast check quiet for this deliberate conversion.
template <typename Target>
Target CastProc(FARPROC proc) {
  return reinterpret_cast<Target>(reinterpret_cast<void (*)()>(proc));
}

// SetProcessDpiAwarenessContext, once found.
using DpiAwarenessContextFn = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
DpiAwarenessContextFn DpiAwarenessContextProc = nullptr;

bool CallDpiAwarenessContext(std::intptr_t context) {
  DpiAwarenessContextFn proc = DpiAwarenessContextProc;
  if (proc == nullptr) return false;
  return proc(reinterpret_cast<DPI_AWARENESS_CONTEXT>(context)) != FALSE;
}

// The hook procedure gets no context, so the program's callback waits here.
platform::WinEventProc HookCallback = nullptr;

void CALLBACK WinEventTrampoline(HWINEVENTHOOK hook, DWORD event, HWND window, LONG idObject,
                                 LONG idChild, DWORD eventThread, DWORD eventTime) {
  platform::WinEventProc callback = HookCallback;
  if (callback == nullptr) return;
  callback(static_cast<platform::HookHandle>(hook), event, FromHwnd(window),
           static_cast<std::int32_t>(idObject), static_cast<std::int32_t>(idChild), eventThread,
           eventTime);
}

struct EnumChildContext {
  platform::EnumChildProc callback;
  void* context;
};

BOOL CALLBACK EnumChildTrampoline(HWND child, LPARAM parameter) {
  const auto* enumeration = reinterpret_cast<const EnumChildContext*>(parameter);
  return enumeration->callback(FromHwnd(child), enumeration->context) ? TRUE : FALSE;
}

}  // namespace

namespace platform {

WindowHandle GetForegroundWindow() { return FromHwnd(::GetForegroundWindow()); }

bool IsWindow(WindowHandle window) { return ::IsWindow(ToHwnd(window)) != FALSE; }

bool IsIconic(WindowHandle window) { return ::IsIconic(ToHwnd(window)) != FALSE; }

std::int32_t DwmGetWindowAttribute(WindowHandle window, std::uint32_t attribute, Rect* rect,
                                   std::uint32_t size) {
  return static_cast<std::int32_t>(::DwmGetWindowAttribute(ToHwnd(window), attribute, rect, size));
}

bool GetWindowRect(WindowHandle window, Rect* rect) {
  RECT bounds{};
  if (::GetWindowRect(ToHwnd(window), &bounds) == FALSE) return false;
  if (rect != nullptr) {
    rect->left = bounds.left;
    rect->top = bounds.top;
    rect->right = bounds.right;
    rect->bottom = bounds.bottom;
  }
  return true;
}

ThreadId GetWindowThreadProcessId(WindowHandle window, ProcessId* pid) {
  DWORD owner = 0;
  const DWORD thread = ::GetWindowThreadProcessId(ToHwnd(window), &owner);
  if (pid != nullptr) *pid = owner;
  return thread;
}

void EnumChildWindows(WindowHandle parent, EnumChildProc callback, void* context) {
  if (callback == nullptr) return;
  EnumChildContext enumeration{callback, context};
  ::EnumChildWindows(ToHwnd(parent), EnumChildTrampoline, reinterpret_cast<LPARAM>(&enumeration));
}

std::int32_t SHQueryUserNotificationState(std::int32_t* state) {
  QUERY_USER_NOTIFICATION_STATE value{};
  const HRESULT status = ::SHQueryUserNotificationState(&value);
  if (SUCCEEDED(status) && state != nullptr) *state = static_cast<std::int32_t>(value);
  return static_cast<std::int32_t>(status);
}

void* GetModuleHandleW(const wchar_t* name) {
  return reinterpret_cast<void*>(::GetModuleHandleW(name));
}

// The only function looked up this way is SetProcessDpiAwarenessContext; the caller gets a
// plain function that forwards to it.
DpiAwarenessProc GetProcAddress(void* module, const char* name) {
  if (module == nullptr || name == nullptr) return nullptr;
  FARPROC found = ::GetProcAddress(static_cast<HMODULE>(module), name);
  if (found == nullptr) return nullptr;
  DpiAwarenessContextProc = CastProc<DpiAwarenessContextFn>(found);
  return CallDpiAwarenessContext;
}

bool SetProcessDPIAware() { return ::SetProcessDPIAware() != FALSE; }

HookHandle SetWinEventHook(std::uint32_t eventMin, std::uint32_t eventMax, WinEventProc callback,
                           ProcessId process, ThreadId thread, std::uint32_t flags) {
  HookCallback = callback;
  return static_cast<HookHandle>(
      ::SetWinEventHook(eventMin, eventMax, nullptr, WinEventTrampoline, process, thread, flags));
}

bool UnhookWinEvent(HookHandle hook) {
  return ::UnhookWinEvent(static_cast<HWINEVENTHOOK>(hook)) != FALSE;
}

std::uintptr_t SetTimer(WindowHandle window, std::uintptr_t id, std::uint32_t milliseconds) {
  return static_cast<std::uintptr_t>(::SetTimer(ToHwnd(window), id, milliseconds, nullptr));
}

std::int32_t GetMessageW(Message* message) {
  MSG msg{};
  const BOOL result = ::GetMessageW(&msg, nullptr, 0, 0);
  if (message != nullptr && result != -1) {
    message->window = FromHwnd(msg.hwnd);
    message->message = msg.message;
    message->wParam = static_cast<std::uint64_t>(msg.wParam);
    message->lParam = static_cast<std::int64_t>(msg.lParam);
    message->time = msg.time;
    message->x = msg.pt.x;
    message->y = msg.pt.y;
  }
  return static_cast<std::int32_t>(result);
}

void DispatchMessageW(const Message* message) {
  if (message == nullptr) return;
  MSG msg{};
  msg.hwnd = ToHwnd(message->window);
  msg.message = message->message;
  msg.wParam = static_cast<WPARAM>(message->wParam);
  msg.lParam = static_cast<LPARAM>(message->lParam);
  msg.time = message->time;
  msg.pt.x = message->x;
  msg.pt.y = message->y;
  ::DispatchMessageW(&msg);
}

void PostQuitMessage(std::int32_t exitCode) { ::PostQuitMessage(exitCode); }

bool PostThreadMessageW(ThreadId thread, std::uint32_t message, std::uint64_t wParam,
                        std::int64_t lParam) {
  return ::PostThreadMessageW(thread, message, static_cast<WPARAM>(wParam),
                              static_cast<LPARAM>(lParam)) != FALSE;
}

}  // namespace platform
