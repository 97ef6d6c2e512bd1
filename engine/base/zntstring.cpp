#include "zntstring.h"

#include <array>
#include <cstdint>

namespace znt {
namespace {

enum : uint8_t { kBlank = 1, kLetter = 2, kDigit = 4, kLineBreak = 8 };

constexpr std::array<uint8_t, 256> MakeClasses() {
  std::array<uint8_t, 256> t{};
  for (int c = 0; c <= 32; ++c) t[c] |= kBlank;
  t['_'] |= kLetter;
  for (int c = 'A'; c <= 'Z'; ++c) t[c] |= kLetter;
  for (int c = 'a'; c <= 'z'; ++c) t[c] |= kLetter;
  for (int c : {131, 138, 140, 142, 154, 156, 158, 159}) t[c] |= kLetter;
  for (int c = 192; c <= 255; ++c)
    if (c != 215 && c != 247) t[c] |= kLetter;
  for (int c = '0'; c <= '9'; ++c) t[c] |= kDigit;
  t[10] |= kLineBreak;
  t[13] |= kLineBreak;
  return t;
}

constexpr std::array<unsigned char, 256> MakeUpper() {
  std::array<unsigned char, 256> t{};
  for (int c = 0; c < 256; ++c) t[c] = static_cast<unsigned char>(c);
  for (int c = 'a'; c <= 'z'; ++c) t[c] = static_cast<unsigned char>(c - 32);
  for (int c = 224; c <= 254; ++c)
    if (c != 247) t[c] = static_cast<unsigned char>(c - 32);
  t[154] = 138;
  t[156] = 140;
  t[158] = 142;
  t[255] = 159;
  return t;
}

constexpr std::array<unsigned char, 256> MakeLower() {
  std::array<unsigned char, 256> upper = MakeUpper();
  std::array<unsigned char, 256> t{};
  for (int c = 0; c < 256; ++c) t[c] = static_cast<unsigned char>(c);
  for (int c = 0; c < 256; ++c)
    if (upper[c] != c) t[upper[c]] = static_cast<unsigned char>(c);
  return t;
}

constexpr std::array<uint8_t, 256> kClasses = MakeClasses();
constexpr std::array<unsigned char, 256> kUpper = MakeUpper();
constexpr std::array<unsigned char, 256> kLower = MakeLower();

}  // namespace

bool IsZNTBlank(unsigned char c) noexcept { return kClasses[c] & kBlank; }
bool IsZNTLetter(unsigned char c) noexcept { return kClasses[c] & kLetter; }
bool IsZNTDigit(unsigned char c) noexcept { return kClasses[c] & kDigit; }
bool IsZNTLineBreak(unsigned char c) noexcept { return kClasses[c] & kLineBreak; }

unsigned char ZNTUpperChar(unsigned char c) noexcept { return kUpper[c]; }
unsigned char ZNTLowerChar(unsigned char c) noexcept { return kLower[c]; }

std::string ZNTUpperCase(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(kUpper[static_cast<unsigned char>(c)]);
  return r;
}

std::string ZNTLowerCase(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(kLower[static_cast<unsigned char>(c)]);
  return r;
}

int ZNTCompareText(std::string_view a, std::string_view b, bool caseInsensitive,
                   size_t limit) noexcept {
  size_t la = a.size() < limit ? a.size() : limit;
  size_t lb = b.size() < limit ? b.size() : limit;
  size_t n = la < lb ? la : lb;
  const auto* pa = reinterpret_cast<const unsigned char*>(a.data());
  const auto* pb = reinterpret_cast<const unsigned char*>(b.data());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = caseInsensitive ? kUpper[pa[i]] : pa[i];
    unsigned char y = caseInsensitive ? kUpper[pb[i]] : pb[i];
    if (x != y) return x < y ? -1 : 1;
  }
  return la == lb ? 0 : (la < lb ? -1 : 1);
}

}  // namespace znt
