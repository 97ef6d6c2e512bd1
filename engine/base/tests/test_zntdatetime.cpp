#include "base/zntdatetime.h"

#include <gtest/gtest.h>

namespace znt {
namespace {

int32_t Day(int y, int m, int d) {
  int32_t n = 0;
  EXPECT_TRUE(TryEncodeDate(y, m, d, n)) << y << "-" << m << "-" << d;
  return n;
}

TEST(DayNumbers, FixedPoints) {
  EXPECT_EQ(Day(1, 1, 1), 1);
  EXPECT_EQ(Day(1, 12, 31), 365);
  EXPECT_EQ(Day(2, 1, 1), 366);
  EXPECT_EQ(Day(1, 3, 1), 60);  // year 1 is not a leap year
  // 1899-12-30 is 693594 days after 0001-01-01 (day 1), 2000-01-01 is 36526 later.
  EXPECT_EQ(Day(1899, 12, 30), 693594);
  EXPECT_EQ(Day(2000, 1, 1), 693594 + 36526);
  EXPECT_EQ(MaxDayNumber(), Day(9999, 12, 31));
}

TEST(DayNumbers, DecodeInvertsEncodeOverTheWholeRange) {
  int32_t expected = 1;
  for (int y = 1; y <= 9999; y += (y < 2100 ? 1 : 97)) {
    for (int m = 1; m <= 12; ++m) {
      for (int d = 1; d <= DaysInMonth(y, m); ++d) {
        int32_t n = Day(y, m, d);
        TZNTDateParts p = DecodeDate(n);
        ASSERT_EQ(p.year, y);
        ASSERT_EQ(p.month, m);
        ASSERT_EQ(p.day, d);
        if (y < 2100) {
          ASSERT_EQ(n, expected++);  // dense: no gaps and no repeats
        }
      }
    }
  }
}

TEST(DayNumbers, RefusesDaysThatDoNotExist) {
  int32_t n = 0;
  for (auto [y, m, d] : {std::tuple{2023, 2, 29}, {1900, 2, 29}, {2024, 2, 30}, {2024, 4, 31},
                         {0, 1, 1}, {10000, 1, 1}, {2024, 13, 1}, {2024, 0, 1}, {2024, 1, 0}})
    EXPECT_FALSE(TryEncodeDate(y, m, d, n)) << y << "-" << m << "-" << d;
  EXPECT_TRUE(TryEncodeDate(2000, 2, 29, n));
  EXPECT_TRUE(TryEncodeDate(2024, 2, 29, n));
}

TEST(DayNumbers, DayOfWeek) {
  EXPECT_EQ(DayOfWeek(Day(2026, 12, 11)), 6);  // a Friday
  EXPECT_EQ(DayOfWeek(Day(2026, 12, 13)), 1);  // Sunday
  EXPECT_EQ(DayOfWeek(1), 2);                  // 0001-01-01, a Monday
}

TEST(DateText, FormatsAndParses) {
  EXPECT_EQ(DateToText(Day(2024, 2, 3)), "2024-02-03");
  EXPECT_EQ(DateToText(1), "0001-01-01");
  int32_t n = 0;
  ASSERT_TRUE(TextToDate("2024-2-3", n));
  EXPECT_EQ(n, Day(2024, 2, 3));
  ASSERT_TRUE(TextToDate(" 2008 - 1 - 1 ", n));
  EXPECT_EQ(n, Day(2008, 1, 1));
  for (const char* bad : {"", "2024-02", "2024-02-30", "2024/02/03", "2024-02-03x", "-2024-1-1",
                          "2024--1-1", "20a4-01-01", "10000-01-01"})
    EXPECT_FALSE(TextToDate(bad, n)) << bad;
}

TEST(TimeText, FormatsWithoutLosingMilliseconds) {
  int32_t t = 0;
  ASSERT_TRUE(TryEncodeTime(9, 5, 0, 0, t));
  EXPECT_EQ(TimeToText(t), "09:05");
  ASSERT_TRUE(TryEncodeTime(9, 5, 7, 0, t));
  EXPECT_EQ(TimeToText(t), "09:05:07");
  ASSERT_TRUE(TryEncodeTime(23, 59, 59, 999, t));
  EXPECT_EQ(TimeToText(t), "23:59:59.999");
  ASSERT_TRUE(TryEncodeTime(10, 0, 0, 500, t));
  EXPECT_EQ(TimeToText(t), "10:00:00.500");
}

TEST(TimeText, Parses) {
  struct Case {
    const char* text;
    int h, m, s, ms;
  };
  const Case good[] = {{"09:05", 9, 5, 0, 0},        {"9:05:07", 9, 5, 7, 0},
                       {"23:59:59.999", 23, 59, 59, 999}, {"10:00:00.5", 10, 0, 0, 500},
                       {"12:30 AM", 0, 30, 0, 0},    {"12:30 pm", 12, 30, 0, 0},
                       {"1:15:02 PM", 13, 15, 2, 0}};
  for (const Case& c : good) {
    int32_t t = 0, want = 0;
    ASSERT_TRUE(TextToTime(c.text, t)) << c.text;
    ASSERT_TRUE(TryEncodeTime(c.h, c.m, c.s, c.ms, want));
    EXPECT_EQ(t, want) << c.text;
  }
  int32_t t = 0;
  for (const char* bad : {"", "24:00", "12:60", "12:00:60", "12", "12:00:00.1234", "13:00 PM",
                          "12:00 XM", "12:00PM", "1:2:3:4"})
    EXPECT_FALSE(TextToTime(bad, t)) << bad;
}

TEST(TimestampText, RoundTrips) {
  int32_t t = 0;
  ASSERT_TRUE(TryEncodeTime(14, 3, 9, 20, t));
  int64_t ts = EncodeTimestamp(Day(2026, 12, 11), t);
  EXPECT_EQ(ts, static_cast<int64_t>(Day(2026, 12, 11)) * 86400000 + t);
  EXPECT_EQ(TimestampToText(ts), "2026-12-11 14:03:09.020");
  int64_t back = 0;
  ASSERT_TRUE(TextToTimestamp("2026-12-11 14:03:09.020", back));
  EXPECT_EQ(back, ts);
  ASSERT_TRUE(TextToTimestamp("2026-12-11", back));
  EXPECT_EQ(back, EncodeTimestamp(Day(2026, 12, 11), 0));
  EXPECT_FALSE(TextToTimestamp("2026-12-11 25:00", back));
  EXPECT_FALSE(TextToTimestamp("2026-12-11x", back));
}

}  // namespace
}  // namespace znt
