#include "app/tables.h"

#include <stdexcept>

#include "base/zntdatetime.h"

namespace fyn {

int32_t NextDueDate(std::string_view frequency, int32_t dayNumber) {
  znt::TZNTDateParts d = znt::DecodeDate(dayNumber);
  int year = d.year, month = d.month, day = d.day;
  if (frequency == "ANNUAL") {
    ++year;
  } else if (frequency == "MONTHLY") {
    ++month;
  } else if (frequency == "WEEKLY") {
    // A week is always seven days: the days past the month's end carry into
    // the next month (27 January gives 3 February), so a weekly repeat keeps
    // its weekday instead of drifting to the first of each month.
    day += 7;
    int last = znt::DaysInMonth(year, month);
    if (day > last) {
      day -= last;
      ++month;
    }
  } else {
    ++day;  // "DAILY", "RANDOM" and anything else
  }
  if (month >= 1 && month <= 12 && day > znt::DaysInMonth(year, month)) {
    day = 1;
    ++month;
  }
  if (month == 13) {
    ++year;
    month = 1;
  }
  int32_t next = 0;
  if (!znt::TryEncodeDate(year, month, day, next))
    throw std::out_of_range("The next due date lies beyond the year 9999");
  return next;
}

}  // namespace fyn
