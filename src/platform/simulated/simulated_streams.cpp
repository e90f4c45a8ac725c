// Standard output and standard error as the parent reads them, and UTF-16 to UTF-8.
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/simulated/simulated_internal.h"

namespace platform {

namespace {

using sim::detail::State;

// What a C runtime stream in text mode makes of the bytes: each LF leaves as CR LF.
void AppendText(std::string& to, const char* bytes, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    if (bytes[i] == '\n') to.push_back('\r');
    to.push_back(bytes[i]);
  }
}

void AppendUtf8(std::string& to, std::uint32_t point) {
  if (point < 0x80) {
    to.push_back(static_cast<char>(point));
  } else if (point < 0x800) {
    to.push_back(static_cast<char>(0xC0 | (point >> 6)));
    to.push_back(static_cast<char>(0x80 | (point & 0x3F)));
  } else if (point < 0x10000) {
    to.push_back(static_cast<char>(0xE0 | (point >> 12)));
    to.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
    to.push_back(static_cast<char>(0x80 | (point & 0x3F)));
  } else {
    to.push_back(static_cast<char>(0xF0 | (point >> 18)));
    to.push_back(static_cast<char>(0x80 | ((point >> 12) & 0x3F)));
    to.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
    to.push_back(static_cast<char>(0x80 | (point & 0x3F)));
  }
}

// Each wchar_t holds one UTF-16 code unit, as on Windows (wider values are not UTF-16).
std::string Utf16ToUtf8(const wchar_t* text, std::size_t length) {
  constexpr std::uint32_t kReplacement = 0xFFFD;
  std::string out;
  for (std::size_t i = 0; i < length; ++i) {
    const auto unit = static_cast<std::uint32_t>(text[i]);  // NOLINT(bugprone-signed-char-misuse)
    const bool high = unit >= 0xD800 && unit <= 0xDBFF;
    const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
    if (high && i + 1 < length) {
      const auto next =
          static_cast<std::uint32_t>(text[i + 1]);  // NOLINT(bugprone-signed-char-misuse)
      if (next >= 0xDC00 && next <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
        ++i;
        continue;
      }
    }
    AppendUtf8(out, (high || low || unit > 0xFFFF) ? kReplacement : unit);
  }
  return out;
}

}  // namespace

std::int32_t WideCharToMultiByte(std::uint32_t codePage, std::uint32_t, const wchar_t* text,
                                 std::int32_t length, char* out, std::int32_t outSize) {
  if (codePage != kCpUtf8 || text == nullptr || length == 0 || outSize < 0) return 0;
  // -1: the string up to and including its terminator, which is converted too.
  const std::size_t units = length < 0 ? std::wcslen(text) + 1 : static_cast<std::size_t>(length);
  const std::string bytes = Utf16ToUtf8(text, units);
  if (outSize == 0) return sim::Model().utf8SizeQueryFails ? 0 : static_cast<int>(bytes.size());
  if (out == nullptr || bytes.size() > static_cast<std::size_t>(outSize) ||
      sim::Model().utf8ConversionFails)
    return 0;
  std::copy(bytes.begin(), bytes.end(), out);
  return static_cast<std::int32_t>(bytes.size());
}

void SetStdoutBinary() { sim::Recorded().stdoutBinary = true; }

void SetStderrText() { sim::Recorded().stderrText = true; }

// The pipe takes at most stdoutCapacity bytes in all; a write past that is short and leaves
// the stream in error until the end, as a broken pipe would.
std::size_t WriteStdout(const void* bytes, std::size_t size) {
  sim::detail::DesktopState& s = State();
  const std::size_t room = s.model.stdoutCapacity - std::min(s.stdoutTaken, s.model.stdoutCapacity);
  const std::size_t taken = std::min(size, room);
  const char* data = static_cast<const char*>(bytes);
  if (s.record.stdoutBinary)
    s.record.stdoutBytes.append(data, taken);
  else
    AppendText(s.record.stdoutBytes, data, taken);
  s.stdoutTaken += taken;
  if (taken < size) s.stdoutError = true;
  return taken;
}

bool FlushStdout() {
  sim::detail::DesktopState& s = State();
  const int number = ++s.record.stdoutFlushes;
  s.record.stdoutSizeAtFlush.push_back(s.record.stdoutBytes.size());
  const int failsFrom = s.model.stdoutFlushFailsFrom;
  if (failsFrom != 0 && number >= failsFrom) s.stdoutError = true;
  return !s.stdoutError;
}

std::size_t WriteStderr(const void* bytes, std::size_t size) {
  // A completion that came too late for the program's wait arrives while it reports.
  sim::detail::StartDueCompletions();
  sim::detail::DesktopState& s = State();
  const char* data = static_cast<const char*>(bytes);
  if (s.record.stderrText || !s.model.stderrStartsBinary)
    AppendText(s.record.stderrBytes, data, size);
  else
    s.record.stderrBytes.append(data, size);
  return size;
}

bool FlushStderr() {
  ++sim::Recorded().stderrFlushes;
  return true;
}

}  // namespace platform
