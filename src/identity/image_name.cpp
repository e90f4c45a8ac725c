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
    std::wstring full(path, size);
    std::size_t slash = full.rfind(L'\\');
    name = slash == std::wstring::npos ? full : full.substr(slash + 1);
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
