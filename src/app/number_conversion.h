// Decimal conversion of command-line numbers, the way the C runtime's unsigned wide-string
// conversions do it on Windows, so both builds read a command line alike: leading white space
// is skipped, one sign is accepted (minus negates within the unsigned type), conversion stops at
// the first non-digit, no digits give 0, and a value too large gives the type's maximum.
#pragma once

#include <cstdint>

std::uint64_t ParseUnsigned64(const wchar_t* text);  // as wcstoull, base 10
std::uint32_t ParseUnsigned32(const wchar_t* text);  // as wcstoul, base 10, with a 32-bit long
