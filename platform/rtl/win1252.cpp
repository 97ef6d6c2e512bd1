#include "rtl/win1252.h"

#include <cstdio>

namespace fyn {
namespace {

// Code points of bytes 128 to 159; the rest of the code page equals Latin-1.
constexpr char32_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

[[noreturn]] void Refuse(char32_t cp) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "The character U+%04X cannot be stored in the database",
                static_cast<unsigned>(cp));
  throw ETextEncodingError(buf, cp);
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::optional<unsigned char> CodePointToWin1252(char32_t cp) noexcept {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<unsigned char>(cp);
  for (int i = 0; i < 32; ++i)
    if (kHigh[i] == cp) return static_cast<unsigned char>(0x80 + i);
  return std::nullopt;
}

char32_t Win1252ToCodePoint(unsigned char c) noexcept {
  return c >= 0x80 && c < 0xA0 ? kHigh[c - 0x80] : c;
}

std::string Utf8ToWin1252(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    char32_t cp;
    int extra;
    if (c < 0x80) {
      cp = c;
      extra = 0;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      extra = 2;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      extra = 3;
    } else {
      throw ETextEncodingError("The text is not valid UTF-8", 0xFFFD);
    }
    if (i + extra >= s.size() && extra > 0)
      throw ETextEncodingError("The text is not valid UTF-8", 0xFFFD);
    for (int k = 1; k <= extra; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) throw ETextEncodingError("The text is not valid UTF-8", 0xFFFD);
      cp = (cp << 6) | (cc & 0x3F);
    }
    static constexpr char32_t kSmallest[4] = {0, 0x80, 0x800, 0x10000};
    if (cp < kSmallest[extra]) throw ETextEncodingError("The text is not valid UTF-8", 0xFFFD);
    i += extra + 1;
    auto byte = CodePointToWin1252(cp);
    if (!byte) Refuse(cp);
    out += static_cast<char>(*byte);
  }
  return out;
}

std::string Win1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) AppendUtf8(out, Win1252ToCodePoint(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace fyn
