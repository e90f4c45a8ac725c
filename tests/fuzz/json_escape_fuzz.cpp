// An exe name (UTF-16 units, unpaired surrogates included) through WideToUtf8 and JsonEscape:
// the escaped text in quotes must be one strict JSON string whose value is the name's UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "foreground/report_line.h"
#include "identity/utf8.h"
#include "platform/simulated/simulated_desktop.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

void AppendUtf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// The UTF-8 of UTF-16 units, an unpaired surrogate as U+FFFD.
std::string ReferenceUtf8(const std::wstring& units) {
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const std::uint32_t unit = static_cast<std::uint32_t>(units[i]);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size() &&
        static_cast<std::uint32_t>(units[i + 1]) >= 0xDC00 &&
        static_cast<std::uint32_t>(units[i + 1]) <= 0xDFFF) {
      const std::uint32_t low = static_cast<std::uint32_t>(units[++i]);
      AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Length of the well-formed UTF-8 sequence at p (RFC 3629: no overlongs, no surrogates, at most
// U+10FFFF), or 0.
std::size_t Utf8SequenceLength(const std::string& s, std::size_t p) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = b(p);
  std::size_t length;
  std::uint32_t code;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (p + length > s.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((b(p + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (b(p + i) & 0x3F);
  }
  if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF)))
    return 0;
  if (code >= 0xD800 && code <= 0xDFFF) return 0;
  return length;
}

// A strict JSON string (RFC 8259): the whole text is one string; returns its value in UTF-8.
std::optional<std::string> ParseJsonString(const std::string& text) {
  if (text.size() < 2 || text.front() != '"') return std::nullopt;
  std::string value;
  std::size_t p = 1;
  while (p < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[p]);
    if (c == '"') return p + 1 == text.size() ? std::optional<std::string>(value) : std::nullopt;
    if (c < 0x20) return std::nullopt;
    if (c != '\\') {
      const std::size_t length = Utf8SequenceLength(text, p);
      if (length == 0) return std::nullopt;
      value.append(text, p, length);
      p += length;
      continue;
    }
    if (++p >= text.size()) return std::nullopt;
    const char e = text[p++];
    switch (e) {
      case '"': value += '"'; break;
      case '\\': value += '\\'; break;
      case '/': value += '/'; break;
      case 'b': value += '\b'; break;
      case 'f': value += '\f'; break;
      case 'n': value += '\n'; break;
      case 'r': value += '\r'; break;
      case 't': value += '\t'; break;
      case 'u': {
        auto read4 = [&](std::uint32_t& unit) {
          if (p + 4 > text.size()) return false;
          unit = 0;
          for (int i = 0; i < 4; ++i) {
            const int h = HexValue(text[p++]);
            if (h < 0) return false;
            unit = unit << 4 | static_cast<std::uint32_t>(h);
          }
          return true;
        };
        std::uint32_t unit;
        if (!read4(unit)) return std::nullopt;
        if (unit >= 0xDC00 && unit <= 0xDFFF) return std::nullopt;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
          std::uint32_t low;
          if (p + 2 > text.size() || text[p] != '\\' || text[p + 1] != 'u') return std::nullopt;
          p += 2;
          if (!read4(low) || low < 0xDC00 || low > 0xDFFF) return std::nullopt;
          unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
        AppendUtf8(value, unit);
        break;
      }
      default:
        return std::nullopt;
    }
  }
  return std::nullopt;  // no closing quote
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::wstring name;  // little-endian UTF-16 units
  for (std::size_t i = 0; i + 1 < size; i += 2)
    name += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));

  static const bool kReset = (sim::Reset(), true);
  (void)kReset;
  const std::string utf8 = WideToUtf8(name);
  const std::string expected = ReferenceUtf8(name);
  if (utf8 != expected) Fail("WideToUtf8 differs from the reference conversion");
  const std::optional<std::string> parsed = ParseJsonString("\"" + JsonEscape(utf8) + "\"");
  if (!parsed) Fail("escaped name is not a JSON string");
  if (*parsed != expected) Fail("escaped name does not round-trip");
  return 0;
}
