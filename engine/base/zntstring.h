// Engine text is Windows-1252 bytes. This unit holds the character classes
// the scanner uses, the upper- and lower-case mappings, and the comparison of
// the ANSI collations (byte order, and byte order after upper-casing).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace znt {

// 256-entry membership tests, built at compile time.
bool IsZNTBlank(unsigned char c) noexcept;      // 0 to 32
bool IsZNTLetter(unsigned char c) noexcept;     // _ A-Z a-z and the accented letters
bool IsZNTDigit(unsigned char c) noexcept;      // 0-9
bool IsZNTLineBreak(unsigned char c) noexcept;  // 10 and 13

// a-z and 224-254 except 247 move down by 32; 154->138, 156->140, 158->142,
// 255->159. Everything else is unchanged.
unsigned char ZNTUpperChar(unsigned char c) noexcept;
// The inverse of ZNTUpperChar on the letters it maps.
unsigned char ZNTLowerChar(unsigned char c) noexcept;
std::string ZNTUpperCase(std::string_view s);
std::string ZNTLowerCase(std::string_view s);

// Compares under ANSI (byte order) or ANSI_CI (byte order of the upper-case
// mapping), over the first `limit` characters of each at most: byte by byte
// over the shorter length, then the shorter is smaller, so trailing blanks
// count. Returns <0, 0 or >0.
int ZNTCompareText(std::string_view a, std::string_view b, bool caseInsensitive,
                   size_t limit = std::string_view::npos) noexcept;

// ANSI_CI equality, as keyword and name lookups use it.
inline bool ZNTSameText(std::string_view a, std::string_view b) noexcept {
  return a.size() == b.size() && ZNTCompareText(a, b, true) == 0;
}

}  // namespace znt
