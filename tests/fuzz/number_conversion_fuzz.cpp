// The command-line number conversion against the C library: the 64-bit value as strtoull gives
// it for the same text, the 32-bit value by the rules of wcstoul with a 32-bit long (a magnitude
// beyond 32 bits saturates whatever the sign; minus negates within 32 bits).
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/number_conversion.h"

namespace {

// Wide characters a command line may carry that are not ASCII: digits and spaces of other
// scripts, which the conversion must treat as ordinary non-digits.
constexpr wchar_t kWideExtras[] = {0x00A0, 0x0085, 0x1680, 0x2000, 0x2028, 0x3000, 0xFEFF,
                                   0xFF10, 0xFF11, 0x0660, 0x0966, 0xFF0B, 0xFF0D, 0x2212,
                                   0x00B9, 0x00B2};

bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

[[noreturn]] void Fail(const char* what, const std::string& narrow, unsigned long long expected,
                       unsigned long long got) {
  std::fprintf(stderr, "%s mismatch for \"%s\": expected %llu, got %llu\n", what, narrow.c_str(),
               expected, got);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::wstring wide;
  std::string narrow;  // the same text with every non-ASCII character as a plain non-digit
  for (std::size_t i = 0; i < size && data[i] != 0; ++i) {
    if (data[i] < 0x80) {
      wide += static_cast<wchar_t>(data[i]);
      narrow += static_cast<char>(data[i]);
    } else {
      wide += kWideExtras[data[i] % (sizeof(kWideExtras) / sizeof(kWideExtras[0]))];
      narrow += 'x';
    }
  }

  errno = 0;
  unsigned long long expected64 = std::strtoull(narrow.c_str(), nullptr, 10);
  if (errno == ERANGE) expected64 = UINT64_MAX;
  const std::uint64_t got64 = ParseUnsigned64(wide.c_str());
  if (got64 != expected64) Fail("64-bit", narrow, expected64, got64);

  // Magnitude and sign, read by strtoull on the digits alone.
  const char* p = narrow.c_str();
  while (IsCSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  unsigned long long magnitude = 0;
  bool overflow = false;
  if (*p >= '0' && *p <= '9') {
    errno = 0;
    magnitude = std::strtoull(p, nullptr, 10);
    overflow = errno == ERANGE;
  }
  std::uint32_t expected32;
  if (overflow || magnitude > UINT32_MAX)
    expected32 = UINT32_MAX;
  else
    expected32 = negative ? static_cast<std::uint32_t>(0u - static_cast<std::uint32_t>(magnitude))
                          : static_cast<std::uint32_t>(magnitude);
  const std::uint32_t got32 = ParseUnsigned32(wide.c_str());
  if (got32 != expected32) Fail("32-bit", narrow, expected32, got32);
  return 0;
}
