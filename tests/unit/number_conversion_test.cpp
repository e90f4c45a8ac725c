#include <gtest/gtest.h>

#include "app/number_conversion.h"

namespace {

struct Case {
  const wchar_t* text;
  std::uint64_t as64;
  std::uint32_t as32;
};

// The 64-bit column is what wcstoull gives; the 32-bit one what wcstoul gives where long is 32
// bits wide (the Windows runtime), whatever the build's own long.
const Case kCases[] = {
    {L"", 0, 0},
    {L"abc", 0, 0},
    {L"0", 0, 0},
    {L"123", 123, 123},
    {L"  \t\n42", 42, 42},
    {L"+7", 7, 7},
    {L"-1", UINT64_MAX, UINT32_MAX},
    {L"-2", UINT64_MAX - 1, UINT32_MAX - 1},
    {L"12abc", 12, 12},
    {L"1 2", 1, 1},
    {L"+-1", 0, 0},
    {L"- 1", 0, 0},
    {L"0x10", 0, 0},
    {L"4294967295", 4294967295u, UINT32_MAX},
    {L"4294967296", 4294967296u, UINT32_MAX},
    {L"-4294967295", 0xFFFFFFFF00000001u, 1},
    {L"-4294967296", 0xFFFFFFFF00000000u, UINT32_MAX},
    {L"18446744073709551615", UINT64_MAX, UINT32_MAX},
    {L"18446744073709551616", UINT64_MAX, UINT32_MAX},
    {L"-18446744073709551616", UINT64_MAX, UINT32_MAX},
    {L"000000000000000000000000000042", 42, 42},
    {L"\x00A0" L"5", 0, 0},  // only the C locale's white space is skipped
};

TEST(NumberConversion, MatchesTheRuntimeConversionsForBothWidths) {
  for (const Case& c : kCases) {
    EXPECT_EQ(ParseUnsigned64(c.text), c.as64) << "64-bit of \"" << c.text << '"';
    EXPECT_EQ(ParseUnsigned32(c.text), c.as32) << "32-bit of \"" << c.text << '"';
  }
}

TEST(NumberConversion, NullTextGivesZero) {
  EXPECT_EQ(ParseUnsigned64(nullptr), 0u);
  EXPECT_EQ(ParseUnsigned32(nullptr), 0u);
}

}  // namespace
