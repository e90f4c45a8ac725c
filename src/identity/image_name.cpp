#include "identity/image_name.h"

namespace {

// Paths of 520 units or more make the query fail and give an empty name.
constexpr std::uint32_t kImagePathCapacity = 520;

wchar_t FoldAsciiCase(wchar_t c) { return (c >= L'A' && c <= L'Z') ? c + (L'a' - L'A') : c; }

}  // namespace

std::wstring ProcessImageName(platform::ProcessId pid) {
  std::wstring name;
  platform::Handle process =
      platform::OpenProcess(platform::kProcessQueryLimitedInformation, false, pid);
  if (process == nullptr) return name;
  wchar_t path[kImagePathCapacity];
  std::uint32_t size = kImagePathCapacity;
  if (platform::QueryFullProcessImageNameW(process, 0, path, &size) && size < kImagePathCapacity) {
    // Only the base name is copied out of the buffer: one string per report, not two.
    const wchar_t* end = path + size;
    const wchar_t* base = end;
    while (base != path && base[-1] != L'\\') --base;
    name.assign(base, end);
  }
  platform::CloseHandle(process);
  return name;
}

bool ImageNamesEqual(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (FoldAsciiCase(a[i]) != FoldAsciiCase(b[i])) return false;
  return true;
}
