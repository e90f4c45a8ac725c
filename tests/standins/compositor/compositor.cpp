// The compositor's answer to the one question the program asks it: a window's extended frame
// bounds (DwmGetWindowAttribute, attribute 9, a 16-byte rectangle). On Windows 10 and 11 these
// are what the user sees of the window: its rectangle without the invisible resize borders that
// a sizable frame keeps on the left, right and bottom (the top edge is the visible one). Wine 8
// answers E_NOTIMPL; this stand-in derives the bounds from the window's own rectangle, style and
// frame metrics.
//
// Script (TESSIK_COMPOSITOR_SCRIPT), read on every call:
//   log <path>      one line per call, appended to that file
//   status <value>  the status (0x... or decimal) for requests that pass the argument checks;
//                   a failure leaves the caller's rectangle untouched
// Log line:
//   DwmGetWindowAttribute hwnd=<n> attribute=<n> size=<n> status=0x<hex>
//   followed, when the window's rectangle was read, by
//   rect=<l>,<t>,<r>,<b> border=<side>,<bottom> bounds=<l>,<t>,<r>,<b>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "standin_io.h"

namespace {

constexpr DWORD kExtendedFrameBounds = 9;

standin::Log& CallLog(const std::string& script) {
  static standin::Log log;
  if (!log.IsOpen()) log.Open(standin::ScriptValue(script, "log"));
  return log;
}

// The invisible part of a sizable frame is its sizing border and padding less the one-pixel
// line that stays visible, in the metrics of the window's DPI (7 pixels at 96 DPI on Windows
// 10). A window without a sizing border has none. A minimized window's rectangle is treated
// the same way; a maximized one, whose frame hangs past the monitor, is not modelled apart.
SIZE InvisibleBorder(HWND window) {
  if ((GetWindowLongPtrW(window, GWL_STYLE) & WS_THICKFRAME) == 0) return SIZE{0, 0};
  const UINT dpi = GetDpiForWindow(window);
  const int padding = GetSystemMetricsForDpi(SM_CXPADDEDBORDER, dpi);
  return SIZE{GetSystemMetricsForDpi(SM_CXSIZEFRAME, dpi) + padding -
                  GetSystemMetricsForDpi(SM_CXBORDER, dpi),
              GetSystemMetricsForDpi(SM_CYSIZEFRAME, dpi) + padding -
                  GetSystemMetricsForDpi(SM_CYBORDER, dpi)};
}

HRESULT ScriptedStatus(const std::string& script) {
  const std::string text = standin::ScriptValue(script, "status");
  if (text.empty()) return S_OK;
  return static_cast<HRESULT>(std::strtoul(text.c_str(), nullptr, 0));
}

}  // namespace

extern "C" HRESULT WINAPI DwmGetWindowAttribute(HWND window, DWORD attribute, void* value,
                                                DWORD size) {
  const std::string script = standin::ReadScript(L"TESSIK_COMPOSITOR_SCRIPT");
  standin::Log& log = CallLog(script);
  const unsigned long long handle = reinterpret_cast<UINT_PTR>(window);

  // Refused as the compositor refuses them: a handle that names no window, an attribute it
  // cannot read (this stand-in reads only the frame bounds), no buffer or one of the wrong size.
  HRESULT status = S_OK;
  RECT rect{};
  if (!IsWindow(window) || !GetWindowRect(window, &rect))
    status = E_HANDLE;
  else if (attribute != kExtendedFrameBounds || value == nullptr || size != sizeof(RECT))
    status = E_INVALIDARG;
  if (status != S_OK) {
    log.Line("DwmGetWindowAttribute hwnd=%llu attribute=%lu size=%lu status=0x%08lx", handle,
             attribute, size, static_cast<unsigned long>(status));
    return status;
  }

  const SIZE border = InvisibleBorder(window);
  const RECT bounds{rect.left + border.cx, rect.top, rect.right - border.cx,
                    rect.bottom - border.cy};
  status = ScriptedStatus(script);
  if (SUCCEEDED(status)) std::memcpy(value, &bounds, sizeof bounds);
  log.Line("DwmGetWindowAttribute hwnd=%llu attribute=%lu size=%lu status=0x%08lx "
           "rect=%ld,%ld,%ld,%ld border=%ld,%ld bounds=%ld,%ld,%ld,%ld",
           handle, attribute, size, static_cast<unsigned long>(status), rect.left, rect.top,
           rect.right, rect.bottom, border.cx, border.cy, bounds.left, bounds.top, bounds.right,
           bounds.bottom);
  return status;
}
