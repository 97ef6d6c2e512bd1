#include "data/datavalue.h"

#include <cstdio>

#include "base/zntdatetime.h"
#include "base/zntmath.h"
#include "base/zntstring.h"
#include "data/dberror.h"

namespace fyn {

namespace {

bool ReadNumber(std::string_view& text, int digits, int& out) {
  if (text.size() < static_cast<size_t>(digits)) return false;
  int v = 0;
  for (int i = 0; i < digits; ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  text.remove_prefix(digits);
  out = v;
  return true;
}

bool ReadChar(std::string_view& text, char c) {
  if (text.empty() || text.front() != c) return false;
  text.remove_prefix(1);
  return true;
}

bool ParseDate(std::string_view& t, int32_t& day) {
  int y, m, d;
  return ReadNumber(t, 4, y) && ReadChar(t, '-') && ReadNumber(t, 2, m) && ReadChar(t, '-') &&
         ReadNumber(t, 2, d) && TryEncodeDate(y, m, d, day);
}

bool ParseTime(std::string_view& t, int32_t& msec) {
  int h, n, s = 0, z = 0;
  if (!ReadNumber(t, 2, h) || !ReadChar(t, ':') || !ReadNumber(t, 2, n)) return false;
  if (ReadChar(t, ':')) {
    if (!ReadNumber(t, 2, s)) return false;
    if (ReadChar(t, '.') && !ReadNumber(t, 3, z)) return false;
  }
  return TryEncodeTime(h, n, s, z, msec);
}

}  // namespace

bool TMoney::TryParse(std::string_view text, TMoney& out) noexcept {
  // The engine's DECIMAL text rules, with a leading plus sign allowed as well.
  if (!text.empty() && text[0] == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text[0] == '-') return false;
  }
  return znt::TextToDecimal(text, znt::kMaxDecimalScale, out.scaled);
}

TMoney TMoney::Rounded(int places) const noexcept {
  return TMoney{znt::DecimalRoundToScale(scaled, places < 0 ? 0 : places)};
}

std::string TMoney::ToString(int places) const {
  if (places < 0) places = 0;
  if (places > 4) places = 4;
  int64_t v = Rounded(places).scaled;
  bool negative = v < 0;
  uint64_t mag = negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  std::string text = std::to_string(mag / kUnit);
  if (places > 0) {
    char frac[8];
    std::snprintf(frac, sizeof frac, "%04llu", static_cast<unsigned long long>(mag % kUnit));
    text += '.';
    text.append(frac, places);
  }
  return negative ? "-" + text : text;
}

// Dates are the engine's day numbers, so the calendar arithmetic is the engine's.
int DaysInMonth(int year, int month) noexcept { return znt::DaysInMonth(year, month); }

bool TryEncodeDate(int year, int month, int day, int32_t& out) noexcept {
  return znt::TryEncodeDate(year, month, day, out);
}

int32_t EncodeDate(int year, int month, int day) {
  int32_t out = 0;
  if (!TryEncodeDate(year, month, day, out)) {
    throw EDatabaseError("Invalid date " + std::to_string(year) + "-" + std::to_string(month) +
                         "-" + std::to_string(day));
  }
  return out;
}

void DecodeDate(int32_t day, int& year, int& month, int& dom) noexcept {
  znt::TZNTDateParts p = znt::DecodeDate(day);
  year = p.year;
  month = p.month;
  dom = p.day;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, int32_t& out) noexcept {
  return znt::TryEncodeTime(hour, minute, second, msec, out);
}

std::string DateToText(int32_t day) { return znt::DateToText(day); }

std::string TimeToText(int32_t msec) {
  char buf[16];
  int s = msec / 1000;
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
  std::string text = buf;
  if (msec % 1000 != 0) {
    std::snprintf(buf, sizeof buf, ".%03d", msec % 1000);
    text += buf;
  }
  return text;
}

std::string DateTimeToText(TDateTime value) {
  if (value.day == 0) return TimeToText(value.msec);
  return DateToText(value.day) + " " + TimeToText(value.msec);
}

bool TryTextToDateTime(std::string_view text, TDateTime& out) noexcept {
  TDateTime v;
  std::string_view t = text;
  if (t.size() >= 5 && t[2] == ':') {
    if (!ParseTime(t, v.msec) || !t.empty()) return false;
  } else {
    if (!ParseDate(t, v.day)) return false;
    if (!t.empty()) {
      if (!ReadChar(t, ' ') && !ReadChar(t, 'T')) return false;
      if (!ParseTime(t, v.msec) || !t.empty()) return false;
    }
  }
  out = v;
  return true;
}

std::string VarToText(const TVariant& v) {
  struct Visitor {
    std::string operator()(std::monostate) const { return ""; }
    std::string operator()(bool b) const { return b ? "True" : "False"; }
    std::string operator()(int64_t i) const { return std::to_string(i); }
    std::string operator()(double d) const {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.15g", d);
      return buf;
    }
    std::string operator()(TMoney m) const { return m.ToString(4); }
    std::string operator()(const std::string& s) const { return s; }
    std::string operator()(TDateTime t) const { return DateTimeToText(t); }
  };
  return std::visit(Visitor{}, v);
}

unsigned char UpperCase1252(unsigned char c) noexcept { return znt::ZNTUpperChar(c); }

std::string UpperCase1252(std::string_view text) { return znt::ZNTUpperCase(text); }

int CompareTextNoCase(std::string_view a, std::string_view b) noexcept {
  return znt::ZNTCompareText(a, b, true);
}

}  // namespace fyn
