#include "app/tables.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "base/zntdatetime.h"

namespace fyn {
namespace {

int32_t D(int y, int m, int d) {
  int32_t n = 0;
  EXPECT_TRUE(znt::TryEncodeDate(y, m, d, n));
  return n;
}

TEST(NextDueDate, Steps) {
  struct Case {
    const char* frequency;
    int32_t from, want;
  };
  const Case cases[] = {
      {"MONTHLY", D(2024, 1, 31), D(2024, 3, 1)},  {"MONTHLY", D(2023, 1, 30), D(2023, 3, 1)},
      {"MONTHLY", D(2024, 1, 29), D(2024, 2, 29)}, {"MONTHLY", D(2024, 12, 15), D(2025, 1, 15)},
      {"MONTHLY", D(2024, 12, 31), D(2025, 1, 31)}, {"ANNUAL", D(2008, 2, 29), D(2009, 3, 1)},
      {"ANNUAL", D(2007, 3, 1), D(2008, 3, 1)},    {"DAILY", D(2009, 2, 28), D(2009, 3, 1)},
      {"DAILY", D(2008, 2, 28), D(2008, 2, 29)},   {"DAILY", D(2024, 12, 31), D(2025, 1, 1)},
      {"RANDOM", D(2024, 5, 5), D(2024, 5, 6)},    {"monthly", D(2024, 5, 5), D(2024, 5, 6)},
      {"", D(2024, 5, 5), D(2024, 5, 6)},          {"WEEKLY", D(2024, 5, 5), D(2024, 5, 12)},
      {"WEEKLY", D(2024, 1, 27), D(2024, 2, 3)},   {"WEEKLY", D(2024, 1, 28), D(2024, 2, 4)},
      {"WEEKLY", D(2024, 2, 25), D(2024, 3, 3)},   {"WEEKLY", D(2024, 12, 29), D(2025, 1, 5)},
  };
  for (const Case& c : cases)
    EXPECT_EQ(znt::DateToText(NextDueDate(c.frequency, c.from)), znt::DateToText(c.want))
        << c.frequency << " from " << znt::DateToText(c.from);
}

TEST(NextDueDate, WeeklyKeepsTheWeekday) {
  int32_t day = D(2024, 1, 3);
  for (int i = 0; i < 120; ++i) {
    int32_t next = NextDueDate("WEEKLY", day);
    ASSERT_EQ(next - day, 7) << znt::DateToText(day);
    day = next;
  }
}

TEST(NextDueDate, RefusesToLeaveTheCalendar) {
  EXPECT_THROW(NextDueDate("ANNUAL", D(9999, 6, 1)), std::out_of_range);
  EXPECT_THROW(NextDueDate("DAILY", D(9999, 12, 31)), std::out_of_range);
  EXPECT_EQ(NextDueDate("DAILY", D(9999, 12, 30)), D(9999, 12, 31));
}

}  // namespace
}  // namespace fyn
