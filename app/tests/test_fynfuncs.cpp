#include "app/fynfuncs.h"

#include <gtest/gtest.h>

#include "rtl/formatsettings.h"

namespace fyn {
namespace {

TEST(StringHelpers, StripControlCharsAndSpaces) {
  EXPECT_EQ(StripControlChars("\r\na\tb\x01" "c\x1F \x7F"), "abc \x7F");
  EXPECT_EQ(StripSpaces(" a b "), "ab");
  EXPECT_EQ(StripSpaces("\t a\r\n"), "\ta\r\n");  // only code 32 is a blank here
  EXPECT_EQ(StripControlChars(""), "");
}

TEST(StringHelpers, ExtractField) {
  struct Case {
    const char* text;
    int n;
    const char* want;
  };
  const Case cases[] = {
      {"a\xAC" "b\xAC", 1, "a"}, {"a\xAC" "b\xAC", 2, "b"}, {"a\xAC" "b\xAC", 3, ""},
      {"a\xAC" "b\xAC", 4, ""},  {"abc", 1, "abc"},         {"abc", 2, ""},
      {"", 1, ""},               {"\xAC\xAC" "c", 3, "c"},  {"\xAC\xAC" "c", 2, ""},
      {"abc", 0, ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ExtractField(c.text, kStatementSeparator, c.n), c.want) << c.text << " " << c.n;
  EXPECT_EQ(ExtractField("x,y,z", ',', 3), "z");
}

TEST(StringHelpers, IsNumericWithFullStop) {
  TFormatSettings point;
  point.decimalSeparator = '.';
  TScopedFormatSettings scoped(point);
  for (const char* yes : {"12", "-3.5", "+7", ".5", "0", "2147483647", "99999999999.5"})
    EXPECT_TRUE(IsNumeric(yes)) << yes;
  for (const char* no : {"5.", "1e5", "+", "", "-", "1.2.3", "12a", "a12", " 12", "2147483648",
                         "1,5", "1e-5"})
    EXPECT_FALSE(IsNumeric(no)) << no;
}

TEST(StringHelpers, IsNumericWithComma) {
  TFormatSettings comma;
  comma.decimalSeparator = ',';
  TScopedFormatSettings scoped(comma);
  EXPECT_TRUE(IsNumeric("1,5"));
  EXPECT_TRUE(IsNumeric(",5"));
  EXPECT_FALSE(IsNumeric("1.5"));
}

}  // namespace
}  // namespace fyn
