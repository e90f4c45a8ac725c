#include "foreground/report_line.h"

#include <cstdio>

#include "identity/image_name.h"
#include "identity/utf8.h"
#include "identity/window_owner.h"

namespace {

platform::Rect WindowBounds(platform::WindowHandle window) {
  platform::Rect rect;
  // The compositor's bounds leave out the invisible resize borders and the shadow.
  if (platform::DwmGetWindowAttribute(window, platform::kDwmwaExtendedFrameBounds, &rect,
                                      sizeof rect) < 0)
    platform::GetWindowRect(window, &rect);
  if (platform::IsIconic(window)) rect = platform::Rect{};
  return rect;
}

int FullScreenState() {
  std::int32_t state = 0;
  return platform::SHQueryUserNotificationState(&state) >= 0 &&
                 state == platform::kQunsRunningD3dFullScreen
             ? 1
             : 0;
}

// Edge differences wrap in 32 bits as the platform computes them, without signed overflow.
std::int32_t Span(std::int32_t from, std::int32_t to) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(to) -
                                   static_cast<std::uint32_t>(from));
}

}  // namespace

ForegroundSample TakeForegroundSample(platform::WindowHandle window) {
  ForegroundSample sample;
  sample.pid = WindowProcessId(window);
  platform::Rect bounds = WindowBounds(window);
  sample.x = bounds.left;
  sample.y = bounds.top;
  sample.w = Span(bounds.left, bounds.right);
  sample.h = Span(bounds.top, bounds.bottom);
  sample.fs = FullScreenState();
  sample.exe = ProcessImageName(sample.pid);
  return sample;
}

std::string FormatReportLine(const ForegroundSample& sample) {
  char prefix[192];
  int length =
      std::snprintf(prefix, sizeof prefix,
                    "{\"pid\":%lu,\"x\":%ld,\"y\":%ld,\"w\":%ld,\"h\":%ld,\"fs\":%d,\"exe\":\"",
                    static_cast<unsigned long>(sample.pid), static_cast<long>(sample.x),
                    static_cast<long>(sample.y), static_cast<long>(sample.w),
                    static_cast<long>(sample.h), sample.fs);
  std::string line(prefix, length > 0 ? static_cast<std::size_t>(length) : 0);
  line += JsonEscape(WideToUtf8(sample.exe));
  line += "\"}";
  return line;
}

std::string FormatForegroundReport() {
  platform::WindowHandle window = platform::GetForegroundWindow();
  if (window == 0) return "{\"pid\":0}";
  return FormatReportLine(TakeForegroundSample(window));
}

std::string JsonEscape(const std::string& utf8) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(utf8.size());
  for (unsigned char byte : utf8) {
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += static_cast<char>(byte);
    } else if (byte < 0x20) {
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += static_cast<char>(byte);
    }
  }
  return out;
}
