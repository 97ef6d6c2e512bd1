#include "base/zntmath.h"

#include <gtest/gtest.h>

#include <limits>

namespace znt {
namespace {

TEST(Decimal, RoundsToScaleHalfAwayFromZero) {
  struct Case {
    int64_t x;
    int scale;
    int64_t want;
  };
  const Case cases[] = {
      {26750, 2, 26800},   {-26750, 2, -26800}, {26749, 2, 26700},   {3333, 2, 3300},
      {15000, 0, 20000},   {-15000, 0, -20000}, {14999, 0, 10000},   {5, 3, 10},
      {-5, 3, -10},        {4, 3, 0},           {12345, 4, 12345},   {12345, 1, 12000},
      {12500, 1, 13000},   {12499, 1, 12000},   {0, 0, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(DecimalRoundToScale(c.x, c.scale), c.want) << c.x;
  // At the top of the range the rounding step cannot wrap.
  int64_t max = std::numeric_limits<int64_t>::max();
  EXPECT_GT(DecimalRoundToScale(max, 0), 0);
  EXPECT_LT(DecimalRoundToScale(std::numeric_limits<int64_t>::min(), 0), 0);
}

TEST(Decimal, TextHasNoTrailingZeros) {
  EXPECT_EQ(DecimalToText(125000), "12.5");
  EXPECT_EQ(DecimalToText(120000), "12");
  EXPECT_EQ(DecimalToText(-500), "-0.05");
  EXPECT_EQ(DecimalToText(1), "0.0001");
  EXPECT_EQ(DecimalToText(0), "0");
  EXPECT_EQ(DecimalToText(std::numeric_limits<int64_t>::min()), "-922337203685477.5808");
  EXPECT_EQ(DecimalToText(std::numeric_limits<int64_t>::max()), "922337203685477.5807");
}

TEST(Decimal, ParsesExactly) {
  struct Case {
    const char* text;
    int scale;
    int64_t want;
  };
  const Case cases[] = {
      {"12.50", 2, 125000},  {"2.675", 2, 26800},  {"-2.675", 2, -26800}, {"0.1", 4, 1000},
      {".5", 2, 5000},       {"7.", 0, 70000},     {"1.23455", 4, 12346}, {"1.23454999", 4, 12345},
      {"-0", 2, 0},          {"922337203685477.5807", 4, std::numeric_limits<int64_t>::max()},
  };
  for (const Case& c : cases) {
    int64_t x = -1;
    ASSERT_TRUE(TextToDecimal(c.text, c.scale, x)) << c.text;
    EXPECT_EQ(x, c.want) << c.text;
  }
  int64_t x = 0;
  for (const char* bad : {"", "-", ".", "1.2.3", "+1", "1e5", "12a", " 1", "922337203685477.5808",
                          "99999999999999999999"})
    EXPECT_FALSE(TextToDecimal(bad, 4, x)) << bad;
}

TEST(Decimal, TextRoundTripsAtEveryScale) {
  for (int64_t v : {int64_t{0}, int64_t{1}, int64_t{-1}, int64_t{99990000}, int64_t{-123456789},
                    std::numeric_limits<int64_t>::min() + 1}) {
    int64_t back = 0;
    ASSERT_TRUE(TextToDecimal(DecimalToText(v), 4, back)) << v;
    EXPECT_EQ(back, v);
  }
}

TEST(Decimal, ArithmeticRoundsTiesToEven) {
  int64_t r = 0;
  ASSERT_TRUE(DecimalMultiply(15000, 10001, r));  // 1.5 * 1.0001 = 1.50015 -> 1.5002 (even)
  EXPECT_EQ(r, 15002);
  ASSERT_TRUE(DecimalMultiply(15000, 10003, r));  // 1.500450 -> 1.5004 (tie, 4 is even)
  EXPECT_EQ(r, 15004);
  ASSERT_TRUE(DecimalDivide(10000, 30000, r));  // 1 / 3
  EXPECT_EQ(r, 3333);
  ASSERT_TRUE(DecimalDivide(20000, 30000, r));  // 2 / 3
  EXPECT_EQ(r, 6667);
  ASSERT_TRUE(IntegerDividedByDecimal(1, 30000, r));
  EXPECT_EQ(r, 3333);
  ASSERT_TRUE(DecimalDividedByInteger(5, 2, r));  // 2.5 ten-thousandths -> 2
  EXPECT_EQ(r, 2);
  ASSERT_TRUE(DecimalDividedByInteger(-7, 2, r));  // -3.5 -> -4
  EXPECT_EQ(r, -4);
  EXPECT_FALSE(DecimalDivide(1, 0, r));
  EXPECT_FALSE(DecimalAdd(std::numeric_limits<int64_t>::max(), 1, r));
  EXPECT_FALSE(DecimalMultiply(std::numeric_limits<int64_t>::max(), 20000, r));
  EXPECT_FALSE(IntegerToDecimal(std::numeric_limits<int64_t>::max() / 1000, r));
}

TEST(Decimal, FromFloat) {
  int64_t r = 0;
  ASSERT_TRUE(FloatToDecimal(1.0 / 3.0, r));
  EXPECT_EQ(r, 3333);
  ASSERT_TRUE(FloatToDecimal(-12.5, r));
  EXPECT_EQ(r, -125000);
  EXPECT_FALSE(FloatToDecimal(1e300, r));
  EXPECT_FALSE(FloatToDecimal(std::numeric_limits<double>::quiet_NaN(), r));
  EXPECT_DOUBLE_EQ(DecimalToFloat(125000), 12.5);
}

}  // namespace
}  // namespace znt
