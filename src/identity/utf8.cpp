#include "identity/utf8.h"

#include "platform/desktop_services.h"

std::string WideToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const auto length = static_cast<std::int32_t>(text.size());
  std::int32_t size =
      platform::WideCharToMultiByte(platform::kCpUtf8, 0, text.data(), length, nullptr, 0);
  if (size <= 0) return std::string();
  std::string out(static_cast<std::size_t>(size), '\0');
  std::int32_t written =
      platform::WideCharToMultiByte(platform::kCpUtf8, 0, text.data(), length, out.data(), size);
  if (written <= 0) return std::string();
  out.resize(static_cast<std::size_t>(written));
  return out;
}
