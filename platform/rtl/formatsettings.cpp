#include "rtl/formatsettings.h"

#include <climits>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <mutex>

namespace fyn {
namespace {

std::mutex& SettingsMutex() {
  static std::mutex m;
  return m;
}

TFormatSettings& Current() {
  static TFormatSettings settings = SystemFormatSettings();
  return settings;
}

}  // namespace

TFormatSettings SystemFormatSettings() {
  TFormatSettings s;
  // Ask the environment's locale without changing the process's own locale,
  // which must stay "C" so that the engine's number texts are locale-free.
  locale_t loc = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) return s;
  locale_t old = uselocale(loc);
  const lconv* lc = localeconv();
  if (lc->decimal_point && lc->decimal_point[0]) s.decimalSeparator = lc->decimal_point[0];
  if (lc->mon_thousands_sep && lc->mon_thousands_sep[0])
    s.thousandSeparator = lc->mon_thousands_sep[0];
  if (lc->currency_symbol && lc->currency_symbol[0]) s.currencyString = lc->currency_symbol;
  if (lc->frac_digits >= 0 && lc->frac_digits <= 4) s.currencyDecimals = lc->frac_digits;
  if (lc->p_cs_precedes != CHAR_MAX)
    s.currencyFormat = (lc->p_cs_precedes ? 0 : 1) + (lc->p_sep_by_space == 1 ? 2 : 0);
  uselocale(old);
  freelocale(loc);
  return s;
}

const TFormatSettings& FormatSettings() {
  std::lock_guard<std::mutex> lock(SettingsMutex());
  return Current();
}

void SetFormatSettings(const TFormatSettings& settings) {
  std::lock_guard<std::mutex> lock(SettingsMutex());
  Current() = settings;
}

TScopedFormatSettings::TScopedFormatSettings(const TFormatSettings& settings)
    : saved_(FormatSettings()) {
  SetFormatSettings(settings);
}

TScopedFormatSettings::~TScopedFormatSettings() { SetFormatSettings(saved_); }

bool TryStrToFloat(std::string_view s, double& out) {
  const char sep = FormatSettings().decimalSeparator;
  std::string canonical;  // the same number in the C locale's form for strtod
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) canonical += s[i++];
  bool digits = false;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') canonical += s[i++], digits = true;
  if (i < s.size() && s[i] == sep) {
    canonical += '.';
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') canonical += s[i++], digits = true;
  }
  if (!digits) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    canonical += 'e';
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) canonical += s[i++];
    bool expDigits = false;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') canonical += s[i++], expDigits = true;
    if (!expDigits) return false;
  }
  if (i != s.size()) return false;
  char* end = nullptr;
  double v = std::strtod(canonical.c_str(), &end);
  if (end != canonical.c_str() + canonical.size() || !std::isfinite(v)) return false;
  out = v;
  return true;
}

bool TryStrToInt(std::string_view s, int32_t& out) {
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if (i == s.size()) return false;
  int64_t v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
    if (v > 2147483648LL) return false;
  }
  if (negative) v = -v;
  if (v > 2147483647LL) return false;
  out = static_cast<int32_t>(v);
  return true;
}

}  // namespace fyn
