// What every stand-in DLL shares: its script, a text file named by an environment variable of
// the test's choosing (read afresh on each call, so a test can change it while the program
// runs), and its log, a text file the tests read, appended to one whole line at a time.
// The program under test reads neither; only the stand-in inside its process does.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <string>

namespace standin {

// The script's whole text; empty when the variable is unset or the file cannot be read.
inline std::string ReadScript(const wchar_t* variable) {
  wchar_t path[1024];
  const DWORD length = GetEnvironmentVariableW(variable, path, 1024);
  if (length == 0 || length >= 1024) return {};
  HANDLE file =
      CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string text;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
  CloseHandle(file);
  return text;
}

// The value of "key value..." in the script (the rest of the line), or empty.
inline std::string ScriptValue(const std::string& script, const char* key) {
  const std::string wanted(key);
  std::size_t start = 0;
  while (start < script.size()) {
    std::size_t end = script.find('\n', start);
    if (end == std::string::npos) end = script.size();
    std::string line = script.substr(start, end - start);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.compare(0, wanted.size(), wanted) == 0 &&
        (line.size() == wanted.size() || line[wanted.size()] == ' '))
      return line.size() > wanted.size() ? line.substr(wanted.size() + 1) : std::string("1");
    start = end + 1;
  }
  return {};
}

// Appends lines to the file named by "log <path>" in the script; does nothing without one.
class Log {
 public:
  void Open(const std::string& path) {
    if (path.empty()) return;
    file_ = CreateFileA(path.c_str(), FILE_APPEND_DATA,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  bool IsOpen() const { return file_ != INVALID_HANDLE_VALUE; }

  // One printf-formatted line; a line feed is added. Safe from any thread: lines are written
  // one whole line at a time, under a lock (an appending write alone is not atomic under Wine).
  void Line(const char* format, ...) {
    if (!IsOpen()) return;
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    int length = std::vsnprintf(text, sizeof text - 1, format, arguments);
    va_end(arguments);
    if (length < 0) return;
    if (length > static_cast<int>(sizeof text) - 2) length = sizeof text - 2;
    text[length++] = '\n';
    DWORD written = 0;
    AcquireSRWLockExclusive(&lock_);
    WriteFile(file_, text, static_cast<DWORD>(length), &written, nullptr);
    ReleaseSRWLockExclusive(&lock_);
  }

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
  SRWLOCK lock_ = SRWLOCK_INIT;
};

}  // namespace standin
