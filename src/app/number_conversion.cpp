#include "app/number_conversion.h"

namespace {

bool IsConversionSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

// Converts with saturation at max; the sign is applied after the magnitude, as the runtime does.
std::uint64_t ParseUnsigned(const wchar_t* text, std::uint64_t max) {
  if (text == nullptr) return 0;
  const wchar_t* p = text;
  while (IsConversionSpace(*p)) ++p;
  bool negative = false;
  if (*p == L'+' || *p == L'-') {
    negative = *p == L'-';
    ++p;
  }
  std::uint64_t value = 0;
  bool overflow = false;
  for (; *p >= L'0' && *p <= L'9'; ++p) {
    std::uint64_t digit = static_cast<std::uint64_t>(*p - L'0');
    if (value > (max - digit) / 10) overflow = true;
    if (!overflow) value = value * 10 + digit;
  }
  if (overflow) return max;
  return negative ? (0 - value) & max : value;
}

}  // namespace

std::uint64_t ParseUnsigned64(const wchar_t* text) { return ParseUnsigned(text, UINT64_MAX); }

std::uint32_t ParseUnsigned32(const wchar_t* text) {
  return static_cast<std::uint32_t>(ParseUnsigned(text, UINT32_MAX));
}
