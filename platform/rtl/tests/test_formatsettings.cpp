#include "rtl/formatsettings.h"

#include <gtest/gtest.h>

namespace fyn {
namespace {

TEST(NumberText, FollowsTheLocaleDecimalSeparator) {
  TFormatSettings comma;
  comma.decimalSeparator = ',';
  double v = 0;
  {
    TScopedFormatSettings scoped(comma);
    ASSERT_TRUE(TryStrToFloat("-3,5", v));
    EXPECT_DOUBLE_EQ(v, -3.5);
    EXPECT_FALSE(TryStrToFloat("-3.5", v));
  }
  EXPECT_EQ(FormatSettings().decimalSeparator, SystemFormatSettings().decimalSeparator);
}

TEST(NumberText, FloatForms) {
  TScopedFormatSettings scoped(TFormatSettings{});
  double v = 0;
  for (const char* good : {"12", "-3.5", "+0.25", ".5", "5.", "1e5", "1.5E-3"})
    EXPECT_TRUE(TryStrToFloat(good, v)) << good;
  for (const char* bad : {"", "+", ".", "1e", "1.2.3", "1,000.5", " 1", "1 ", "0x10", "1e999"})
    EXPECT_FALSE(TryStrToFloat(bad, v)) << bad;
}

TEST(NumberText, IntegerRange) {
  int32_t i = 0;
  ASSERT_TRUE(TryStrToInt("-2147483648", i));
  EXPECT_EQ(i, INT32_MIN);
  ASSERT_TRUE(TryStrToInt("+2147483647", i));
  EXPECT_EQ(i, INT32_MAX);
  for (const char* bad : {"2147483648", "-2147483649", "", "-", "1.0", "1e5", "99999999999"})
    EXPECT_FALSE(TryStrToInt(bad, i)) << bad;
}

}  // namespace
}  // namespace fyn
