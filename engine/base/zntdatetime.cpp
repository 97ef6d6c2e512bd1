#include "zntdatetime.h"

#include <cstdio>

namespace znt {
namespace {

// Days since 0000-03-01 in the proleptic Gregorian calendar, by 400-year eras.
constexpr int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) noexcept {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe);
}

constexpr int64_t kDayOneOffset = DaysFromCivil(1, 1, 1) - 1;

void SkipBlanks(std::string_view s, size_t& i) noexcept {
  while (i < s.size() && s[i] == ' ') ++i;
}

// Reads one unsigned decimal number of at most `maxDigits` digits.
bool ReadNumber(std::string_view s, size_t& i, int& value, int maxDigits = 9) noexcept {
  size_t start = i;
  int v = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    if (static_cast<int>(i - start) >= maxDigits) return false;
    v = v * 10 + (s[i] - '0');
    ++i;
  }
  if (i == start) return false;
  value = v;
  return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 32) : a[i];
    if (x != b[i]) return false;
  }
  return true;
}

}  // namespace

bool IsLeapYear(int year) noexcept {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) noexcept {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool IsValidDate(int year, int month, int day) noexcept {
  return year >= kMinYear && year <= kMaxYear && day >= 1 && day <= DaysInMonth(year, month);
}

bool TryEncodeDate(int year, int month, int day, int32_t& out) noexcept {
  if (!IsValidDate(year, month, day)) return false;
  out = static_cast<int32_t>(DaysFromCivil(year, month, day) - kDayOneOffset);
  return true;
}

TZNTDateParts DecodeDate(int32_t dayNumber) noexcept {
  // z counts days from 0000-03-01, as DaysFromCivil does; invert its arithmetic.
  const int64_t z = dayNumber + kDayOneOffset;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<int>(y + (m <= 2)), static_cast<int>(m), static_cast<int>(d)};
}

int32_t MaxDayNumber() noexcept {
  static const int32_t kMax = static_cast<int32_t>(DaysFromCivil(9999, 12, 31) - kDayOneOffset);
  return kMax;
}

int DayOfWeek(int32_t day) noexcept {
  // 0001-01-01 was a Monday in the proleptic Gregorian calendar.
  int64_t d = (static_cast<int64_t>(day) % 7 + 7) % 7;  // day 1 -> 1 (Monday)
  return static_cast<int>(d) + 1;                        // Sunday (0) -> 1
}

bool TryEncodeTime(int hour, int minute, int second, int msecond, int32_t& out) noexcept {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      msecond < 0 || msecond > 999)
    return false;
  out = ((hour * 60 + minute) * 60 + second) * 1000 + msecond;
  return true;
}

TZNTTimeParts DecodeTime(int32_t msecs) noexcept {
  TZNTTimeParts t;
  t.msecond = msecs % 1000;
  msecs /= 1000;
  t.second = msecs % 60;
  msecs /= 60;
  t.minute = msecs % 60;
  t.hour = msecs / 60;
  return t;
}

std::string DateToText(int32_t day) {
  TZNTDateParts p = DecodeDate(day);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day);
  return buf;
}

std::string TimeToText(int32_t msecs) {
  TZNTTimeParts t = DecodeTime(msecs);
  char buf[24];
  if (t.msecond != 0)
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", t.hour, t.minute, t.second, t.msecond);
  else if (t.second != 0)
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
  else
    std::snprintf(buf, sizeof buf, "%02d:%02d", t.hour, t.minute);
  return buf;
}

std::string TimestampToText(int64_t ts) {
  return DateToText(TimestampDate(ts)) + " " + TimeToText(TimestampTime(ts));
}

bool TextToDate(std::string_view s, int32_t& out) noexcept {
  int parts[3];
  size_t i = 0;
  for (int k = 0; k < 3; ++k) {
    SkipBlanks(s, i);
    if (!ReadNumber(s, i, parts[k])) return false;
    SkipBlanks(s, i);
    if (k < 2) {
      if (i >= s.size() || s[i] != '-') return false;
      ++i;
    }
  }
  if (i != s.size()) return false;
  return TryEncodeDate(parts[0], parts[1], parts[2], out);
}

bool TextToTime(std::string_view s, int32_t& out) noexcept {
  size_t i = 0;
  int hour, minute, second = 0, msecond = 0;
  if (!ReadNumber(s, i, hour, 2) || i >= s.size() || s[i] != ':') return false;
  ++i;
  if (!ReadNumber(s, i, minute, 2)) return false;
  if (i < s.size() && s[i] == ':') {
    ++i;
    if (!ReadNumber(s, i, second, 2)) return false;
    if (i < s.size() && s[i] == '.') {
      ++i;
      size_t start = i;
      if (!ReadNumber(s, i, msecond, 3)) return false;
      for (size_t digits = i - start; digits < 3; ++digits) msecond *= 10;
    }
  }
  if (i < s.size()) {
    if (s[i] != ' ') return false;
    std::string_view suffix = s.substr(i + 1);
    bool pm = EqualsNoCase(suffix, "PM");
    if (!pm && !EqualsNoCase(suffix, "AM")) return false;
    if (hour < 1 || hour > 12) return false;
    if (pm && hour != 12) hour += 12;
    if (!pm && hour == 12) hour = 0;
  }
  return TryEncodeTime(hour, minute, second, msecond, out);
}

bool TextToTimestamp(std::string_view s, int64_t& out) noexcept {
  // Blanks may stand around the date's parts, so the time starts after the
  // first blank that follows the third number.
  size_t dashes = 0, cut = std::string_view::npos;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '-') ++dashes;
    if (dashes == 2 && s[i] >= '0' && s[i] <= '9') {
      size_t j = i;
      while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j;
      cut = j;
      break;
    }
  }
  if (cut == std::string_view::npos) return false;
  int32_t day;
  if (!TextToDate(s.substr(0, cut), day)) return false;
  std::string_view rest = s.substr(cut);
  size_t i = 0;
  SkipBlanks(rest, i);
  int32_t msecs = 0;
  if (i < rest.size()) {
    if (i == 0 || !TextToTime(rest.substr(i), msecs)) return false;
  }
  out = EncodeTimestamp(day, msecs);
  return true;
}

}  // namespace znt
