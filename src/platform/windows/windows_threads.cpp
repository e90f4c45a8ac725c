// Threads, priorities and kernel object handles; events and waits for the capture.
#include "platform/audio_services.h"
#include "platform/desktop_services.h"

#include <windows.h>

#include <new>

namespace {

struct ThreadStart {
  platform::ThreadProc procedure;
  void* argument;
};

DWORD WINAPI ThreadTrampoline(LPVOID parameter) {
  auto* start = static_cast<ThreadStart*>(parameter);
  const ThreadStart copy = *start;
  delete start;
  return copy.procedure(copy.argument);
}

}  // namespace

namespace platform {

ThreadId GetCurrentThreadId() { return ::GetCurrentThreadId(); }

Handle CreateThread(ThreadProc procedure, void* argument) {
  if (procedure == nullptr) return nullptr;
  auto* start = new (std::nothrow) ThreadStart{procedure, argument};
  if (start == nullptr) return nullptr;
  // The new thread owns the start record from here and frees it; on failure it stays ours.
  HANDLE thread = ::CreateThread(nullptr, 0, ThreadTrampoline, start, 0, nullptr);
  if (thread == nullptr) delete start;
  return thread;
}

Handle GetCurrentProcess() { return ::GetCurrentProcess(); }

Handle GetCurrentThread() { return ::GetCurrentThread(); }

bool SetPriorityClass(Handle process, std::uint32_t priorityClass) {
  return ::SetPriorityClass(process, priorityClass) != FALSE;
}

bool SetThreadPriority(Handle thread, std::int32_t priority) {
  return ::SetThreadPriority(thread, priority) != FALSE;
}

bool CloseHandle(Handle handle) { return ::CloseHandle(handle) != FALSE; }

Handle CreateEventW(bool manualReset, bool initialState) {
  return ::CreateEventW(nullptr, manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE, nullptr);
}

bool SetEvent(Handle event) { return ::SetEvent(event) != FALSE; }

std::uint32_t WaitForSingleObject(Handle object, std::uint32_t milliseconds) {
  return ::WaitForSingleObject(object, milliseconds);
}

}  // namespace platform
