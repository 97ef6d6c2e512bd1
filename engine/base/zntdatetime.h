// Dates, times and timestamps as the engine stores them: a DATE is a day
// number (0001-01-01 is day 1, proleptic Gregorian, years 1 to 9999), a TIME
// the milliseconds since midnight, a TIMESTAMP day x 86400000 + milliseconds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace znt {

inline constexpr int32_t kMSecsPerDay = 86400000;
inline constexpr int kMinYear = 1;
inline constexpr int kMaxYear = 9999;

struct TZNTDateParts {
  int year = 0;
  int month = 0;
  int day = 0;
};

struct TZNTTimeParts {
  int hour = 0;
  int minute = 0;
  int second = 0;
  int msecond = 0;
};

bool IsLeapYear(int year) noexcept;
// Days in `month` of `year`; 0 when the month is not 1 to 12.
int DaysInMonth(int year, int month) noexcept;
bool IsValidDate(int year, int month, int day) noexcept;

// The day number of a valid date; false (and `out` untouched) otherwise.
bool TryEncodeDate(int year, int month, int day, int32_t& out) noexcept;
// The parts of a day number from 1 to the day of 9999-12-31.
TZNTDateParts DecodeDate(int32_t day) noexcept;
// Day number of 9999-12-31, the last day a DATE can hold.
int32_t MaxDayNumber() noexcept;
// 1 for Sunday to 7 for Saturday.
int DayOfWeek(int32_t day) noexcept;

bool TryEncodeTime(int hour, int minute, int second, int msecond, int32_t& out) noexcept;
TZNTTimeParts DecodeTime(int32_t msecs) noexcept;

inline int64_t EncodeTimestamp(int32_t day, int32_t msecs) noexcept {
  return static_cast<int64_t>(day) * kMSecsPerDay + msecs;
}
inline int32_t TimestampDate(int64_t ts) noexcept {
  return static_cast<int32_t>(ts / kMSecsPerDay);
}
inline int32_t TimestampTime(int64_t ts) noexcept {
  return static_cast<int32_t>(ts % kMSecsPerDay);
}

// Text forms. A date is yyyy-mm-dd, zero-padded. A time is hh:mm, then :ss
// when the seconds or milliseconds are not zero, then .zzz when the
// milliseconds are not zero (so no stored millisecond is ever dropped from
// the text). A timestamp is the date, a blank and the time.
std::string DateToText(int32_t day);
std::string TimeToText(int32_t msecs);
std::string TimestampToText(int64_t ts);

// Parsing. A date is three integers separated by '-' (year, month, day, each
// with optional blanks around it) naming a day that exists; a time is hours
// and minutes, optional seconds and an optional fraction of up to three
// digits, separated by ':' and '.', then an optional blank and AM or PM; a
// timestamp is a date, a blank and an optional time. False when the text is
// not of that form or names no valid value.
bool TextToDate(std::string_view text, int32_t& out) noexcept;
bool TextToTime(std::string_view text, int32_t& out) noexcept;
bool TextToTimestamp(std::string_view text, int64_t& out) noexcept;

}  // namespace znt
