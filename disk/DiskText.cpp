#include "disk/DiskText.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>

namespace vorn {
namespace {

// Code points of the bytes 0x80..0x9F; from 0xA0 on a byte is its own code point.
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98..9F
};

char32_t CodePointOf(unsigned char byte) {
  return (byte >= 0x80 && byte < 0xA0) ? kHighControls[byte - 0x80] : byte;
}

std::optional<unsigned char> ByteOf(char32_t codePoint) {
  if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
    return static_cast<unsigned char>(codePoint);
  }
  for (std::size_t i = 0; i < kHighControls.size(); ++i) {
    if (kHighControls[i] == codePoint) return static_cast<unsigned char>(0x80 + i);
  }
  return std::nullopt;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The code point starting at `at`, advancing `at`; nullopt (and one byte
// consumed) for a byte that does not start a well-formed, shortest sequence.
std::optional<char32_t> NextCodePoint(std::string_view text, std::size_t& at) {
  const auto lead = static_cast<unsigned char>(text[at++]);
  if (lead < 0x80) return lead;
  std::size_t extra = 0;
  char32_t c = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1;
    c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2;
    c = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3;
    c = lead & 0x07;
  } else {
    return std::nullopt;
  }
  if (at + extra > text.size()) return std::nullopt;
  for (std::size_t i = 0; i < extra; ++i) {
    const auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) return std::nullopt;
    c = (c << 6) | (next & 0x3F);
  }
  const char32_t shortest[] = {0, 0x80, 0x800, 0x10000};
  if (c < shortest[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
  at += extra;
  return c;
}

std::string Convert(std::string_view utf8, bool lossy) {
  std::string out;
  std::size_t at = 0;
  while (at < utf8.size()) {
    const std::size_t start = at;
    const std::optional<char32_t> c = NextCodePoint(utf8, at);
    const std::optional<unsigned char> byte = c ? ByteOf(*c) : std::nullopt;
    if (byte) {
      out += static_cast<char>(*byte);
      continue;
    }
    if (lossy) {
      out += '?';
      continue;
    }
    if (!c) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>(utf8[start]));
      throw CDiskTextError(std::string("is not UTF-8 text (byte ") + hex + ")");
    }
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(*c));
    throw CDiskTextError("'" + std::string(utf8.substr(start, at - start)) + "' (" + code +
                         ") cannot be stored: a disk's text is " + kDiskCodePageName);
  }
  return out;
}

}  // namespace

std::string DiskTextToUtf8(std::string_view diskText) {
  std::string out;
  out.reserve(diskText.size());
  for (char byte : diskText) AppendUtf8(out, CodePointOf(static_cast<unsigned char>(byte)));
  return out;
}

std::string Utf8ToDiskText(std::string_view utf8) { return Convert(utf8, false); }

std::string Utf8ToDiskTextLossy(std::string_view utf8) { return Convert(utf8, true); }

}  // namespace vorn
