#include "base/zntstring.h"

#include <gtest/gtest.h>

namespace znt {
namespace {

TEST(Windows1252, UpperCaseMapping) {
  // Every code maps as the collation rule says, and nothing else moves.
  for (int c = 0; c < 256; ++c) {
    int want = c;
    if ((c >= 'a' && c <= 'z') || (c >= 224 && c <= 254 && c != 247)) want = c - 32;
    if (c == 154) want = 138;
    if (c == 156) want = 140;
    if (c == 158) want = 142;
    if (c == 255) want = 159;
    EXPECT_EQ(ZNTUpperChar(static_cast<unsigned char>(c)), want) << c;
  }
  EXPECT_EQ(ZNTUpperCase("food \xE9\xFF\xF7"), "FOOD \xC9\x9F\xF7");
}

TEST(Windows1252, LowerCaseInvertsUpperOnLetters) {
  for (int c = 0; c < 256; ++c) {
    unsigned char u = ZNTUpperChar(static_cast<unsigned char>(c));
    if (u != c) {
      EXPECT_EQ(ZNTLowerChar(u), c) << c;
    }
  }
  EXPECT_EQ(ZNTLowerChar(215), 215);  // the multiplication sign is no letter
  EXPECT_EQ(ZNTLowerChar(223), 223);
  EXPECT_EQ(ZNTLowerCase("ABC\x8A"), "abc\x9A");
}

TEST(Windows1252, CharacterClasses) {
  EXPECT_TRUE(IsZNTBlank(0));
  EXPECT_TRUE(IsZNTBlank(' '));
  EXPECT_FALSE(IsZNTBlank('!'));
  EXPECT_TRUE(IsZNTLetter('_'));
  EXPECT_TRUE(IsZNTLetter(131));
  EXPECT_TRUE(IsZNTLetter(192));
  EXPECT_FALSE(IsZNTLetter(215));
  EXPECT_FALSE(IsZNTLetter(247));
  EXPECT_FALSE(IsZNTLetter('1'));
  EXPECT_FALSE(IsZNTLetter(172));  // the statement separator
  EXPECT_TRUE(IsZNTDigit('0'));
  EXPECT_FALSE(IsZNTDigit('a'));
  EXPECT_TRUE(IsZNTLineBreak(10));
  EXPECT_TRUE(IsZNTLineBreak(13));
  EXPECT_FALSE(IsZNTLineBreak(9));
}

TEST(AnsiCollations, Compare) {
  EXPECT_NE(ZNTCompareText("abc", "ABC", false), 0);
  EXPECT_EQ(ZNTCompareText("abc", "ABC", true), 0);
  EXPECT_LT(ZNTCompareText("ab", "ab ", false), 0);  // trailing blanks count
  EXPECT_LT(ZNTCompareText("ab", "ab ", true), 0);
  EXPECT_LT(ZNTCompareText("B", "a", false), 0);     // byte order
  EXPECT_GT(ZNTCompareText("B", "a", true), 0);      // after upper-casing
  EXPECT_EQ(ZNTCompareText("\xE9t\xE9", "\xC9T\xC9", true), 0);
  EXPECT_GT(ZNTCompareText("\xE9", "z", false), 0);  // bytes compare unsigned
  EXPECT_EQ(ZNTCompareText("abcd", "abXY", false, 2), 0);
  EXPECT_LT(ZNTCompareText("a", "abXY", false, 2), 0);
  EXPECT_TRUE(ZNTSameText("cash", "CASH"));
  EXPECT_FALSE(ZNTSameText("cash", "CASH "));
}

}  // namespace
}  // namespace znt
