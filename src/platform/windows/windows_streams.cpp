// Standard streams: raw reads of standard input, buffered C runtime output streams.
#include "platform/desktop_services.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace {

// A write that failed (a broken pipe, say) may leave its mark only in the stream's error
// state rather than in the flush result, so both count. The state is cleared once reported.
bool FlushStream(std::FILE* stream) {
  const bool flushed = std::fflush(stream) == 0;
  const bool failed = std::ferror(stream) != 0;
  if (failed) std::clearerr(stream);
  return flushed && !failed;
}

}  // namespace

namespace platform {

Handle GetStdHandle(std::uint32_t which) { return ::GetStdHandle(which); }

bool ReadFile(Handle file, void* buffer, std::uint32_t size, std::uint32_t* read) {
  if (read != nullptr) *read = 0;
  if (file == nullptr || file == INVALID_HANDLE_VALUE) return false;
  DWORD got = 0;
  const BOOL ok = ::ReadFile(file, buffer, size, &got, nullptr);
  if (read != nullptr) *read = got;
  return ok != FALSE;
}

void SetStdoutBinary() {
  _setmode(_fileno(stdout), _O_BINARY);
  // The runtime's default 4 KiB buffer would reach the pipe two or three times per drain;
  // 64 KiB holds a drain of the whole engine buffer and more (mono at 48 kHz is 96 bytes a
  // millisecond), so the pump's one flush per drain is the one write per drain. Static, so
  // the stream never allocates it.
  static char buffer[64 * 1024];
  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
}

// A parent may pass C runtime mode flags along with the standard handles (Node does). Windows'
// runtime opens standard error in text mode regardless; Wine's keeps the parent's flags, which
// left it binary under Node, its lines ending in a bare LF.
void SetStderrText() { _setmode(_fileno(stderr), _O_TEXT); }

std::size_t WriteStdout(const void* bytes, std::size_t size) {
  if (size == 0) return 0;
  return std::fwrite(bytes, 1, size, stdout);
}

bool FlushStdout() { return FlushStream(stdout); }

std::size_t WriteStderr(const void* bytes, std::size_t size) {
  if (size == 0) return 0;
  return std::fwrite(bytes, 1, size, stderr);
}

bool FlushStderr() { return FlushStream(stderr); }

}  // namespace platform
