// The user's locale as the program's formatting and parsing read it: the
// locale seam. Every routine that depends on the decimal separator, the
// currency or the date order reads FormatSettings(); tests install their own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fyn {

struct TFormatSettings {
  char decimalSeparator = '.';
  char thousandSeparator = ',';
  std::string currencyString = "$";
  // Position of the currency symbol for positive amounts: 0 "$1", 1 "1$",
  // 2 "$ 1", 3 "1 $".
  int currencyFormat = 0;
  int currencyDecimals = 2;
  // Day, month and year order of short dates, as a pattern ("dd/mm/yyyy").
  std::string shortDateFormat = "dd/mm/yyyy";
  char dateSeparator = '/';
};

// The settings in force. Read from the process locale on first use.
const TFormatSettings& FormatSettings();
// Replaces the settings in force (tests, or a user preference).
void SetFormatSettings(const TFormatSettings& settings);
// The settings of the process locale (LC_NUMERIC/LC_MONETARY as the
// environment selects them).
TFormatSettings SystemFormatSettings();

// Installs `settings` for the lifetime of the object, for tests.
class TScopedFormatSettings {
 public:
  explicit TScopedFormatSettings(const TFormatSettings& settings);
  ~TScopedFormatSettings();
  TScopedFormatSettings(const TScopedFormatSettings&) = delete;
  TScopedFormatSettings& operator=(const TScopedFormatSettings&) = delete;

 private:
  TFormatSettings saved_;
};

// Text to number with the locale's decimal separator: an optional sign,
// digits with at most one separator, and an optional exponent (E, optional
// sign, digits); no blanks, no thousands separators. False on anything else.
bool TryStrToFloat(std::string_view text, double& out);
// An optional sign and decimal digits within the 32-bit range.
bool TryStrToInt(std::string_view text, int32_t& out);

}  // namespace fyn
