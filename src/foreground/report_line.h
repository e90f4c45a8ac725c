// The foreground report: one JSON line describing the user's foreground window.
#pragma once

#include <cstdint>
#include <string>

#include "platform/desktop_services.h"

struct ForegroundSample {
  platform::ProcessId pid = 0;
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t w = 0;
  std::int32_t h = 0;
  int fs = 0;  // a full-screen Direct3D application is running (the desktop, not this window)
  std::wstring exe;
};

// Samples the current foreground window. Sampling cannot fail outward: what cannot be read
// stays zero or empty.
ForegroundSample TakeForegroundSample(platform::WindowHandle window);

// {"pid":N,"x":N,"y":N,"w":N,"h":N,"fs":N,"exe":"..."} in UTF-8, or {"pid":0} when there is
// no foreground window at all. No line terminator.
std::string FormatForegroundReport();
std::string FormatReportLine(const ForegroundSample& sample);

// Escapes a UTF-8 string for a JSON string value: quote and backslash get a backslash, control
// bytes become \u00xx, every other byte (multi-byte UTF-8 included) passes unchanged.
std::string JsonEscape(const std::string& utf8);
