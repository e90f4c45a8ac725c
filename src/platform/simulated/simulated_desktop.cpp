// The desktop model and the window-manager, compositor, shell and DPI calls that read it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>

#include "platform/simulated/simulated_internal.h"

namespace sim::detail {

void Abort(const char* why) {
  std::fprintf(stderr, "simulated platform: %s\n", why);
  std::abort();
}

std::mutex& Mutex() {
  static std::mutex mutex;
  return mutex;
}

std::condition_variable& Changed() {
  static std::condition_variable changed;
  return changed;
}

DesktopState& State() {
  static DesktopState state;
  return state;
}

void ClearDesktopState() {
  std::lock_guard lock(Mutex());
  DesktopState& s = State();
  s = DesktopState{};
}

}  // namespace sim::detail

namespace sim {

using detail::State;

void Reset() {
  // Engine threads may still close handles, and program threads may still post: stop and
  // join both before anything is cleared.
  detail::ReleaseEngineLeftovers();
  detail::EndStdinAndJoinThreads();
  detail::ClearDesktopState();
}

Desktop& Model() { return State().model; }
Record& Recorded() { return State().record; }

Window& AddWindow(WindowHandle handle, ProcessId owner, Rect rect) {
  Window window;
  window.handle = handle;
  window.owner = owner;
  window.rect = rect;
  return Model().windows.emplace_back(std::move(window));
}

Process& AddProcess(ProcessId pid, ProcessId parent, std::wstring imagePath) {
  Process process;
  process.pid = pid;
  process.parent = parent;
  process.imagePath = std::move(imagePath);
  return Model().processes.emplace_back(std::move(process));
}

Window* FindWindow(WindowHandle handle) {
  if (handle == 0) return nullptr;
  for (Window& window : Model().windows)
    if (window.handle == handle) return &window;
  return nullptr;
}

Process* FindProcess(ProcessId pid) {
  if (pid == 0) return nullptr;
  for (Process& process : Model().processes)
    if (process.pid == pid) return &process;
  return nullptr;
}

}  // namespace sim

namespace platform {

namespace {

constexpr std::int32_t kEInvalidArg = static_cast<std::int32_t>(0x80070057u);
constexpr std::int32_t kENotImpl = static_cast<std::int32_t>(0x80004001u);
constexpr std::int32_t kEInvalidWindow = static_cast<std::int32_t>(0x80070578u);

bool VisitChildren(const sim::Window* parent, EnumChildProc callback, void* context) {
  if (parent == nullptr) return true;
  // A copy: the callback may change the model while we walk it.
  const std::vector<WindowHandle> children = parent->children;
  for (WindowHandle child : children) {
    ++sim::Recorded().childEnumerationVisits;
    if (!callback(child, context)) return false;
    if (!VisitChildren(sim::FindWindow(child), callback, context)) return false;
  }
  return true;
}

bool EqualsIgnoringCase(const wchar_t* a, const wchar_t* b) {
  for (; *a != 0 && *b != 0; ++a, ++b)
    if (std::towlower(static_cast<wint_t>(*a)) != std::towlower(static_cast<wint_t>(*b)))
      return false;
  return *a == *b;
}

char user32Module;  // its address is the module handle
char programModule;

bool SimSetProcessDpiAwarenessContext(std::intptr_t context) {
  sim::Recorded().perMonitorDpiCalls.push_back(context);
  return !sim::Model().perMonitorDpiFails;
}

}  // namespace

WindowHandle GetForegroundWindow() { return sim::Model().foreground; }

bool IsWindow(WindowHandle window) { return sim::FindWindow(window) != nullptr; }

bool IsIconic(WindowHandle window) {
  const sim::Window* w = sim::FindWindow(window);
  return w != nullptr && w->minimized;
}

std::int32_t DwmGetWindowAttribute(WindowHandle window, std::uint32_t attribute, Rect* rect,
                                   std::uint32_t size) {
  if (attribute != kDwmwaExtendedFrameBounds || size != sizeof(Rect) || rect == nullptr)
    return kEInvalidArg;
  const sim::Window* w = sim::FindWindow(window);
  if (w == nullptr) return kEInvalidWindow;
  if (w->compositorFails) {
    if (w->compositorWritesBeforeFailing) *rect = w->compositorBounds;
    return kENotImpl;
  }
  *rect = w->compositorBounds;
  return 0;
}

bool GetWindowRect(WindowHandle window, Rect* rect) {
  const sim::Window* w = sim::FindWindow(window);
  if (w == nullptr || w->windowRectFails || rect == nullptr) return false;
  *rect = w->rect;
  return true;
}

ThreadId GetWindowThreadProcessId(WindowHandle window, ProcessId* pid) {
  const sim::Window* w = sim::FindWindow(window);
  if (pid != nullptr) *pid = w != nullptr ? w->owner : 0;
  // Any stable nonzero value will do: the program only tells "some thread" from "none".
  return w != nullptr ? static_cast<ThreadId>(0x10000u | (window & 0xFFFFu)) : 0;
}

void EnumChildWindows(WindowHandle parent, EnumChildProc callback, void* context) {
  if (callback == nullptr) return;
  VisitChildren(sim::FindWindow(parent), callback, context);
}

std::int32_t SHQueryUserNotificationState(std::int32_t* state) {
  const std::int32_t status = sim::Model().notificationStatus;
  if (status >= 0 && state != nullptr) *state = sim::Model().notificationState;
  return status;
}

void* GetModuleHandleW(const wchar_t* name) {
  if (name == nullptr) return &programModule;
  if (EqualsIgnoringCase(name, L"user32.dll") && !sim::Model().user32Missing) return &user32Module;
  return nullptr;
}

DpiAwarenessProc GetProcAddress(void* module, const char* name) {
  if (module != &user32Module || name == nullptr) return nullptr;
  if (std::strcmp(name, "SetProcessDpiAwarenessContext") != 0) return nullptr;
  return sim::Model().hasPerMonitorDpi ? &SimSetProcessDpiAwarenessContext : nullptr;
}

bool SetProcessDPIAware() {
  ++sim::Recorded().setProcessDpiAwareCalls;
  return true;
}

}  // namespace platform
