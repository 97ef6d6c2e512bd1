// The values a dataset's fields hold: exact money, day-numbered dates and
// times, and the variant that carries any of them (or null) through record
// buffers, Locate and Lookup. Text is Windows-1252 bytes throughout.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace fyn {

// A fixed-point amount held exactly as a count of ten-thousandths, the
// engine's DECIMAL representation: TMoney{12345} is 1.2345.
struct TMoney {
  static constexpr int64_t kUnit = 10000;
  int64_t scaled = 0;

  // The amount of `units` whole units (5 gives 5.0000).
  static constexpr TMoney FromUnits(int64_t units) { return TMoney{units * kUnit}; }
  // Parses an optional '-', digits and at most one '.'; more than four
  // decimals round half away from zero. False (out untouched) on other text.
  static bool TryParse(std::string_view text, TMoney& out) noexcept;
  // The amount rounded half away from zero to `places` (0 to 4) decimals.
  TMoney Rounded(int places) const noexcept;
  // The text with exactly `places` (0 to 4) decimals after rounding: "-0.05".
  std::string ToString(int places) const;
  double ToDouble() const noexcept { return static_cast<double>(scaled) / kUnit; }

  friend constexpr TMoney operator+(TMoney a, TMoney b) { return TMoney{a.scaled + b.scaled}; }
  friend constexpr TMoney operator-(TMoney a, TMoney b) { return TMoney{a.scaled - b.scaled}; }
  friend constexpr auto operator<=>(TMoney, TMoney) = default;
};

inline constexpr int32_t kMSecsPerDay = 86400000;

// A point in time as the engine stores it: a day number (0001-01-01 is day 1,
// proleptic Gregorian; 0 means "no date", as for a time of day alone) and the
// milliseconds since midnight.
struct TDateTime {
  int32_t day = 0;
  int32_t msec = 0;

  friend constexpr auto operator<=>(TDateTime, TDateTime) = default;
};

// Days in `month` (1 to 12) of `year`; 0 for another month.
int DaysInMonth(int year, int month) noexcept;
// The day number of year/month/day (years 1 to 9999); false on an invalid date.
bool TryEncodeDate(int year, int month, int day, int32_t& out) noexcept;
// The day number of a valid date; raises EDatabaseError on an invalid one.
int32_t EncodeDate(int year, int month, int day);
// The year, month and day of day number `day` (1 or more).
void DecodeDate(int32_t day, int& year, int& month, int& dom) noexcept;
// The milliseconds of a time of day; false when a part is out of range.
bool TryEncodeTime(int hour, int minute, int second, int msec, int32_t& out) noexcept;

// "yyyy-mm-dd", "hh:nn:ss" (".zzz" added when the milliseconds are not 0), and
// the two joined by a blank; a day of 0 gives only the time.
std::string DateToText(int32_t day);
std::string TimeToText(int32_t msec);
std::string DateTimeToText(TDateTime value);
// Parses "yyyy-mm-dd", "hh:nn[:ss[.zzz]]" or both separated by a blank or 'T'.
bool TryTextToDateTime(std::string_view text, TDateTime& out) noexcept;

// A field value or a search value: null, a boolean, an integer, a float, an
// exact amount, Windows-1252 text or a date/time.
using TVariant =
    std::variant<std::monostate, bool, int64_t, double, TMoney, std::string, TDateTime>;

inline bool VarIsNull(const TVariant& v) noexcept { return v.index() == 0; }
// The value as text, for messages and AsString of a value without a field.
std::string VarToText(const TVariant& v);

// Windows-1252 upper case of one byte and of a text, accented letters
// included (the sharp s and the micro sign have no capital and stay).
unsigned char UpperCase1252(unsigned char c) noexcept;
std::string UpperCase1252(std::string_view text);
// Compares two texts ignoring Windows-1252 letter case; <0, 0 or >0.
int CompareTextNoCase(std::string_view a, std::string_view b) noexcept;

}  // namespace fyn
