#include "sql/zntvalue.h"

#include <cassert>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "base/zntconsts.h"
#include "base/zntdatetime.h"
#include "base/znterror.h"
#include "base/zntmath.h"
#include "base/zntstring.h"
#include "sql/znttypefunc.h"

namespace znt {

// The payload of a value together with its type, as the raw accessors hold it.
struct TZNTPayload {
  const TZNTDataType* type = nullptr;
  int64_t i = 0;
  double f = 0;
  std::string_view s;

  static TZNTPayload Int(const TZNTDataType& t, int64_t v) { return {&t, v, 0, {}}; }
  static TZNTPayload Float(double v);
  static TZNTPayload Text(const TZNTDataType& t, std::string_view v) { return {&t, 0, 0, v}; }
};

namespace {

// Conversion outcomes; the non-zero ones pick the error's detail text.
enum TFail : int { kOk = 0, kConversion, kTruncation, kRange };

// The conversion classes of the types.
using TCat = TZNTTypeClass;
inline TCat Cat(const TZNTDataType& t) noexcept { return TypeClassOf(t); }

constexpr TZNTDataType kBooleanType{TZNTTypeCode::Boolean};
constexpr TZNTDataType kSmallIntType{TZNTTypeCode::SmallInt};
constexpr TZNTDataType kIntegerType{TZNTTypeCode::Integer};
constexpr TZNTDataType kBigIntType{TZNTTypeCode::BigInt};
constexpr TZNTDataType kFloatType{TZNTTypeCode::Float};
constexpr TZNTDataType kDecimalType{TZNTTypeCode::Decimal, 0, 0, kMaxDecimalScale};
constexpr TZNTDataType kDateType{TZNTTypeCode::Date};
constexpr TZNTDataType kTimeType{TZNTTypeCode::Time};
constexpr TZNTDataType kTimestampType{TZNTTypeCode::Timestamp};
constexpr TZNTDataType kTextType{TZNTTypeCode::Char};
constexpr TZNTDataType kBytesType{TZNTTypeCode::Byte};

constexpr int64_t kMSecsPerHour = 3600000;
constexpr int64_t kMSecsPerMinute = 60000;
constexpr int64_t kMSecsPerSecond = 1000;

// Day-time fields from the largest down, with their units and the largest
// value each may have when it is not the qualifier's first field.
struct TDayTimeField {
  uint8_t bit;
  int64_t unit;
  int maxValue;
  int digits;
};
constexpr TDayTimeField kDayTimeFields[5] = {{kIntervalDay, kMSecsPerDay, 0, 0},
                                             {kIntervalHour, kMSecsPerHour, 23, 2},
                                             {kIntervalMinute, kMSecsPerMinute, 59, 2},
                                             {kIntervalSecond, kMSecsPerSecond, 59, 2},
                                             {kIntervalMSecond, 1, 999, 3}};

// First and last field index of a day-time qualifier; false for no fields.
bool DayTimeRange(uint8_t subtype, int& first, int& last) noexcept {
  first = last = -1;
  for (int k = 0; k < 5; ++k) {
    if (subtype & kDayTimeFields[k].bit) {
      if (first < 0) first = k;
      last = k;
    }
  }
  return first >= 0;
}

std::string_view TrimBlanks(std::string_view s) noexcept {
  size_t b = 0, e = s.size();
  while (b < e && s[b] == ' ') ++b;
  while (e > b && s[e - 1] == ' ') --e;
  return s.substr(b, e - b);
}

bool EqualsNoCase(std::string_view a, std::string_view b) noexcept {
  return a.size() == b.size() && ZNTCompareText(a, b, true) == 0;
}

bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// An optional '-' and digits; kRange when the number exceeds 64 bits.
TFail ParseInteger(std::string_view s, int64_t& out) noexcept {
  size_t i = 0;
  bool negative = i < s.size() && s[i] == '-';
  if (negative) ++i;
  if (i == s.size()) return kConversion;
  unsigned __int128 m = 0;
  bool overflow = false;
  for (; i < s.size(); ++i) {
    if (!IsDigit(s[i])) return kConversion;
    if (!overflow) {
      m = m * 10 + static_cast<unsigned>(s[i] - '0');
      overflow = m > (static_cast<unsigned __int128>(1) << 63);
    }
  }
  const unsigned __int128 limit = (static_cast<unsigned __int128>(1) << 63) - (negative ? 0 : 1);
  if (overflow || m > limit) return kRange;
  out = negative ? static_cast<int64_t>(0 - static_cast<uint64_t>(m)) : static_cast<int64_t>(m);
  return kOk;
}

TFail ParseFloat(std::string_view s, double& out) noexcept {
  size_t i = 0, n = s.size();
  if (i < n && s[i] == '-') ++i;
  size_t digits = 0, points = 0;
  for (; i < n && (IsDigit(s[i]) || s[i] == '.'); ++i) (s[i] == '.' ? points : digits)++;
  if (digits == 0 || points > 1) return kConversion;
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    size_t start = i;
    while (i < n && IsDigit(s[i])) ++i;
    if (i == start) return kConversion;
  }
  if (i != n) return kConversion;
  double v = 0;
  auto r = std::from_chars(s.data(), s.data() + n, v, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) return kRange;
  if (r.ec != std::errc() || r.ptr != s.data() + n) return kConversion;
  out = v;
  return kOk;
}

TFail ParseDecimal(std::string_view s, int scale, int64_t& out) noexcept {
  // TextToDecimal refuses both bad text and values too large; tell them apart.
  size_t i = 0;
  if (i < s.size() && s[i] == '-') ++i;
  size_t digits = 0, points = 0;
  for (; i < s.size(); ++i) {
    if (IsDigit(s[i]))
      ++digits;
    else if (s[i] == '.')
      ++points;
    else
      return kConversion;
  }
  if (digits == 0 || points > 1) return kConversion;
  return TextToDecimal(s, scale, out) ? kOk : kRange;
}

// Reads up to `maxDigits` digits (any number when 0) into `v`; false when
// there is none, there are too many or the value passes 10^18.
bool ReadField(std::string_view s, size_t& i, int maxDigits, int64_t& v, int& count) noexcept {
  size_t start = i;
  v = 0;
  while (i < s.size() && IsDigit(s[i])) {
    if (maxDigits > 0 && static_cast<int>(i - start) >= maxDigits) return false;
    if (v > 100000000000000000LL) return false;
    v = v * 10 + (s[i] - '0');
    ++i;
  }
  count = static_cast<int>(i - start);
  return count > 0;
}

TFail ParseInterval(std::string_view s, const TZNTDataType& type, int64_t& out) noexcept {
  size_t i = 0;
  bool negative = i < s.size() && s[i] == '-';
  if (negative) ++i;
  __int128 total = 0;
  int count = 0;
  int64_t v = 0;
  if (type.code == TZNTTypeCode::YearMonthInterval) {
    if (!ReadField(s, i, 0, v, count)) return count > 0 ? kRange : kConversion;
    if (type.subtype == kIntervalMonth) {
      total = v;
    } else if (type.subtype == kIntervalYear) {
      total = static_cast<__int128>(v) * 12;
    } else if (type.subtype == kIntervalYearToMonth) {
      int64_t months = 0;
      if (i >= s.size() || s[i] != '-') return kConversion;
      ++i;
      if (!ReadField(s, i, 2, months, count) || months > 11) return kConversion;
      total = static_cast<__int128>(v) * 12 + months;
    } else {
      return kConversion;
    }
    if (i != s.size()) return kConversion;
    if (negative) total = -total;
    if (total < std::numeric_limits<int32_t>::min() || total > std::numeric_limits<int32_t>::max())
      return kRange;
    out = static_cast<int64_t>(total);
    return kOk;
  }
  int first, last;
  if (type.code != TZNTTypeCode::DayTimeInterval || !DayTimeRange(type.subtype, first, last))
    return kConversion;
  for (int k = first; k <= last; ++k) {
    const TDayTimeField& f = kDayTimeFields[k];
    if (k > first) {
      if (f.bit == kIntervalHour) {
        if (i >= s.size() || s[i] != ' ') return kConversion;
        while (i < s.size() && s[i] == ' ') ++i;
      } else {
        char sep = f.bit == kIntervalMSecond ? '.' : ':';
        if (i >= s.size() || s[i] != sep) return kConversion;
        ++i;
      }
    }
    if (k == first) {
      if (!ReadField(s, i, 0, v, count)) return count > 0 ? kRange : kConversion;
    } else {
      if (!ReadField(s, i, f.digits, v, count) || v > f.maxValue) return kConversion;
      // Milliseconds after a point are a fraction of a second.
      if (f.bit == kIntervalMSecond)
        for (; count < 3; ++count) v *= 10;
    }
    total += static_cast<__int128>(v) * f.unit;
  }
  if (i != s.size()) return kConversion;
  if (negative) total = -total;
  if (total < std::numeric_limits<int64_t>::min() || total > std::numeric_limits<int64_t>::max())
    return kRange;
  out = static_cast<int64_t>(total);
  return kOk;
}

// Formats into `out` (at least 40 bytes); returns the length.
size_t FormatFloat(double v, char* out) noexcept {
  auto put = [out](const char* s) {
    size_t n = std::strlen(s);
    std::memcpy(out, s, n);
    return n;
  };
  if (std::isnan(v)) return put("NAN");
  if (std::isinf(v)) return put(v > 0 ? "INF" : "-INF");
  if (v == 0) return put("0");  // also -0
  char tmp[40];
  auto r = std::to_chars(tmp, tmp + sizeof tmp, v, std::chars_format::general, 15);
  size_t n = static_cast<size_t>(r.ptr - tmp), k = 0;
  for (size_t i = 0; i < n; ++i) {
    if (tmp[i] != 'e') {
      out[k++] = tmp[i];
      continue;
    }
    out[k++] = 'E';
    out[k++] = tmp[++i];  // the exponent's sign is always written
    ++i;
    while (i + 1 < n && tmp[i] == '0') ++i;
    for (; i < n; ++i) out[k++] = tmp[i];
  }
  return k;
}

size_t FormatInteger(int64_t v, char* out) noexcept {
  return static_cast<size_t>(std::to_chars(out, out + 24, v).ptr - out);
}

// A place for the text of a non-text value: numbers use the characters,
// everything longer the string.
struct TTextBuf {
  char chars[48];
  std::string str;
};

std::string_view TextOf(const TZNTPayload& src, TTextBuf& buf) {
  switch (Cat(*src.type)) {
    case TCat::Text:
      return src.s;
    case TCat::Bytes:
      buf.str = BytesToHex(src.s);
      return buf.str;
    case TCat::Boolean:
      return src.i ? "TRUE" : "FALSE";
    case TCat::Integer:
      return {buf.chars, FormatInteger(src.i, buf.chars)};
    case TCat::Float:
      return {buf.chars, FormatFloat(src.f, buf.chars)};
    case TCat::Decimal:
      buf.str = DecimalToText(src.i);
      return buf.str;
    case TCat::Date:
      buf.str = DateToText(static_cast<int32_t>(src.i));
      return buf.str;
    case TCat::Time:
      buf.str = TimeToText(static_cast<int32_t>(src.i));
      return buf.str;
    case TCat::Timestamp:
      buf.str = TimestampToText(src.i);
      return buf.str;
    case TCat::YearMonth:
    case TCat::DayTime:
      buf.str = IntervalToText(src.i, *src.type);
      return buf.str;
    default:
      return {};
  }
}

TFail ToInteger(const TZNTPayload& src, TZNTTypeCode target, int64_t& out) noexcept {
  int64_t v = 0;
  switch (Cat(*src.type)) {
    case TCat::Boolean:
    case TCat::Integer:
      v = src.i;
      break;
    case TCat::Float: {
      if (!std::isfinite(src.f)) return kRange;
      double t = std::trunc(src.f);
      if (t < -9223372036854775808.0 || t >= 9223372036854775808.0) return kRange;
      v = static_cast<int64_t>(t);
      break;
    }
    case TCat::Decimal:
      v = src.i / kDecimalUnit;
      break;
    case TCat::Text:
      if (TFail f = ParseInteger(TrimBlanks(src.s), v)) return f;
      break;
    case TCat::YearMonth:
    case TCat::DayTime: {
      int64_t unit = IntervalUnit(*src.type);
      if (unit == 0) return kConversion;
      v = src.i / unit;
      break;
    }
    default:
      return kConversion;
  }
  if (target == TZNTTypeCode::SmallInt && (v < -32768 || v > 32767)) return kRange;
  if (target == TZNTTypeCode::Integer &&
      (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()))
    return kRange;
  out = v;
  return kOk;
}

TFail ToFloat(const TZNTPayload& src, double& out) noexcept {
  switch (Cat(*src.type)) {
    case TCat::Boolean:
    case TCat::Integer:
      out = static_cast<double>(src.i);
      return kOk;
    case TCat::Float:
      out = src.f;
      return kOk;
    case TCat::Decimal:
      out = DecimalToFloat(src.i);
      return kOk;
    case TCat::Text:
      return ParseFloat(TrimBlanks(src.s), out);
    default:
      return kConversion;
  }
}

// To a DECIMAL's scaled integer rounded to `scale` places.
TFail ToDecimal(const TZNTPayload& src, int scale, int64_t& out) noexcept {
  int64_t v = 0;
  switch (Cat(*src.type)) {
    case TCat::Boolean:
    case TCat::Integer:
      if (!IntegerToDecimal(src.i, v)) return kRange;
      break;
    case TCat::Float:
      if (!FloatToDecimal(src.f, v)) return kRange;
      break;
    case TCat::Decimal:
      v = src.i;
      break;
    case TCat::Text:
      return ParseDecimal(TrimBlanks(src.s), scale, out);
    default:
      return kConversion;
  }
  out = DecimalRoundToScale(v, scale);
  return kOk;
}

TFail ToBoolean(const TZNTPayload& src, bool& out) noexcept {
  switch (Cat(*src.type)) {
    case TCat::Boolean:
    case TCat::Integer:
    case TCat::Decimal:
      out = src.i != 0;
      return kOk;
    case TCat::Float:
      out = src.f != 0;
      return kOk;
    case TCat::Text: {
      std::string_view t = TrimBlanks(src.s);
      if (EqualsNoCase(t, "TRUE"))
        out = true;
      else if (EqualsNoCase(t, "FALSE"))
        out = false;
      else
        return kConversion;
      return kOk;
    }
    default:
      return kConversion;
  }
}

TFail ToDate(const TZNTPayload& src, int64_t& out) noexcept {
  int32_t day = 0;
  switch (Cat(*src.type)) {
    case TCat::Date:
      out = src.i;
      return kOk;
    case TCat::Timestamp:
      out = TimestampDate(src.i);
      return kOk;
    case TCat::Text:
      if (!TextToDate(TrimBlanks(src.s), day)) return kConversion;
      out = day;
      return kOk;
    default:
      return kConversion;
  }
}

TFail ToTime(const TZNTPayload& src, int64_t& out) noexcept {
  int32_t msecs = 0;
  switch (Cat(*src.type)) {
    case TCat::Time:
      out = src.i;
      return kOk;
    case TCat::Timestamp:
      out = TimestampTime(src.i);
      return kOk;
    case TCat::Text:
      if (!TextToTime(TrimBlanks(src.s), msecs)) return kConversion;
      out = msecs;
      return kOk;
    default:
      return kConversion;
  }
}

TFail ToTimestamp(const TZNTPayload& src, int64_t& out) noexcept {
  switch (Cat(*src.type)) {
    case TCat::Timestamp:
      out = src.i;
      return kOk;
    case TCat::Date:
      out = EncodeTimestamp(static_cast<int32_t>(src.i), 0);
      return kOk;
    case TCat::Text:
      return TextToTimestamp(TrimBlanks(src.s), out) ? kOk : kConversion;
    default:
      return kConversion;
  }
}

TFail ToInterval(const TZNTPayload& src, const TZNTDataType& target, int64_t& out) noexcept {
  const TCat cat = Cat(*src.type);
  if (src.type->code == target.code) {
    // Within a kind the stored number carries over unchanged, so nothing is
    // lost even when the target's qualifier shows fewer fields.
    out = src.i;
    return kOk;
  }
  if (cat == TCat::Integer) {
    int64_t unit = IntervalUnit(target);
    if (unit == 0) return kConversion;
    __int128 v = static_cast<__int128>(src.i) * unit;
    bool fits =
        target.code == TZNTTypeCode::YearMonthInterval
            ? v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max()
            : v >= std::numeric_limits<int64_t>::min() && v <= std::numeric_limits<int64_t>::max();
    if (!fits) return kRange;
    out = static_cast<int64_t>(v);
    return kOk;
  }
  if (cat == TCat::Text) return ParseInterval(TrimBlanks(src.s), target, out);
  return kConversion;
}

// The bytes of `src`: byte values as they stand, text from hexadecimal.
TFail ToBytes(const TZNTPayload& src, std::string& scratch, std::string_view& out) {
  switch (Cat(*src.type)) {
    case TCat::Bytes:
      out = src.s;
      return kOk;
    case TCat::Text:
      if (!HexToBytes(src.s, scratch)) return kConversion;
      out = scratch;
      return kOk;
    default:
      return kConversion;
  }
}

int Sign(__int128 a, __int128 b) noexcept { return a < b ? -1 : (a > b ? 1 : 0); }

// Not-a-number sorts after every number and equals itself, so that sorting
// stays a strict order.
int CompareDoubles(double a, double b) noexcept {
  if (a < b) return -1;
  if (a > b) return 1;
  if (a == b) return 0;
  bool an = std::isnan(a), bn = std::isnan(b);
  return an == bn ? 0 : (an ? 1 : -1);
}

int CompareBytes(std::string_view a, std::string_view b) noexcept {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
  if (c != 0) return c < 0 ? -1 : 1;
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

const char* ValueKindWord(TZNTValueKind kind) noexcept {
  switch (kind) {
    case TZNTValueKind::Column:
      return "column";
    case TZNTValueKind::Parameter:
      return "parameter";
    case TZNTValueKind::Variable:
      return "variable";
    default:
      return "value";
  }
}

// ---------------------------------------------------------------------------
// TZNTValue
// ---------------------------------------------------------------------------

void TZNTValue::SetDataType(const TZNTDataType& type) {
  type_ = type;
  RawSetNull();
}

TZNTPayload TZNTValue::Raw() const {
  TZNTPayload r;
  r.type = &type_;
  switch (Cat(type_)) {
    case TCat::Text:
    case TCat::Bytes:
      r.s = RawText();
      break;
    case TCat::Float:
      r.f = RawFloat();
      break;
    case TCat::Unknown:
      break;
    default:
      r.i = RawInt();
      break;
  }
  return r;
}

void TZNTValue::Fail(int failure, const TZNTDataType& target) const {
  std::string detail;
  switch (failure) {
    case kTruncation:
      detail = "The value would result in truncation";
      break;
    case kRange:
      detail = "The value is out of the range of permissible values for the " +
               TypeNameUpper(target) + " type";
      break;
    default:
      detail = "A conversion error occurred";
      break;
  }
  RaiseZNTError(err::Value, {ValueKindWord(kind_), name_, detail});
}

inline void TZNTValue::Check(int failure, const TZNTDataType& target) const {
  if (failure != kOk) Fail(failure, target);
}

void TZNTValue::StoreLimited(std::string_view text, char pad) {
  const bool unlimited = type_.code == TZNTTypeCode::Blob || type_.size <= 0;
  const size_t limit = unlimited ? std::string_view::npos : static_cast<size_t>(type_.size);
  if (text.size() > limit) {
    Check(strict_ ? kTruncation : kOk, type_);
    text = text.substr(0, limit);
  }
  const bool pads = strict_ && !unlimited && type_.subtype == kSubtypeFixed;
  RawSetText(text, pads ? limit : 0, pad);
}

void TZNTValue::Store(const TZNTPayload& src) {
  int64_t v = 0;
  switch (Cat(type_)) {
    case TCat::Text: {
      TTextBuf buf;
      StoreLimited(TextOf(src, buf), ' ');
      return;
    }
    case TCat::Bytes: {
      std::string scratch;
      std::string_view bytes;
      Check(ToBytes(src, scratch, bytes), type_);
      StoreLimited(bytes, '\0');
      return;
    }
    case TCat::Boolean: {
      bool b = false;
      Check(ToBoolean(src, b), type_);
      RawSetInt(b ? 1 : 0);
      return;
    }
    case TCat::Integer:
      Check(ToInteger(src, type_.code, v), type_);
      break;
    case TCat::Float: {
      double d = 0;
      Check(ToFloat(src, d), type_);
      RawSetFloat(d);
      return;
    }
    case TCat::Decimal:
      Check(ToDecimal(src, type_.scale, v), type_);
      break;
    case TCat::Date:
      Check(ToDate(src, v), type_);
      Check(v >= 1 && v <= MaxDayNumber() ? kOk : kRange, type_);
      break;
    case TCat::Time:
      Check(ToTime(src, v), type_);
      Check(v >= 0 && v < kMSecsPerDay ? kOk : kRange, type_);
      break;
    case TCat::Timestamp:
      Check(ToTimestamp(src, v), type_);
      Check(v >= kMSecsPerDay && v < EncodeTimestamp(MaxDayNumber() + 1, 0) ? kOk : kRange, type_);
      break;
    case TCat::YearMonth:
    case TCat::DayTime:
      Check(ToInterval(src, type_, v), type_);
      break;
    default:
      Fail(kConversion, type_);
  }
  RawSetInt(v);
}

bool TZNTValue::AsBoolean() const {
  if (RawIsNull()) return false;
  if (type_.code == TZNTTypeCode::Boolean) return RawInt() != 0;
  bool v = false;
  Check(ToBoolean(Raw(), v), kBooleanType);
  return v;
}

int32_t TZNTValue::AsSmallInt() const {
  if (RawIsNull()) return 0;
  int64_t v = 0;
  Check(ToInteger(Raw(), TZNTTypeCode::SmallInt, v), kSmallIntType);
  return static_cast<int32_t>(v);
}

int32_t TZNTValue::AsInteger() const {
  if (RawIsNull()) return 0;
  if (type_.code == TZNTTypeCode::Integer || type_.code == TZNTTypeCode::SmallInt)
    return static_cast<int32_t>(RawInt());
  int64_t v = 0;
  Check(ToInteger(Raw(), TZNTTypeCode::Integer, v), kIntegerType);
  return static_cast<int32_t>(v);
}

int64_t TZNTValue::AsBigInt() const {
  if (RawIsNull()) return 0;
  if (type_.IsInteger()) return RawInt();
  int64_t v = 0;
  Check(ToInteger(Raw(), TZNTTypeCode::BigInt, v), kBigIntType);
  return v;
}

double TZNTValue::AsFloat() const {
  if (RawIsNull()) return 0;
  double v = 0;
  Check(ToFloat(Raw(), v), kFloatType);
  return v;
}

int64_t TZNTValue::AsDecimal() const {
  if (RawIsNull()) return 0;
  if (type_.code == TZNTTypeCode::Decimal) return RawInt();
  int64_t v = 0;
  Check(ToDecimal(Raw(), kMaxDecimalScale, v), kDecimalType);
  return v;
}

int32_t TZNTValue::AsDate() const {
  if (RawIsNull()) return 0;
  if (type_.code == TZNTTypeCode::Date) return static_cast<int32_t>(RawInt());
  int64_t v = 0;
  Check(ToDate(Raw(), v), kDateType);
  return static_cast<int32_t>(v);
}

int32_t TZNTValue::AsTime() const {
  if (RawIsNull()) return 0;
  int64_t v = 0;
  Check(ToTime(Raw(), v), kTimeType);
  return static_cast<int32_t>(v);
}

int64_t TZNTValue::AsTimestamp() const {
  if (RawIsNull()) return 0;
  int64_t v = 0;
  Check(ToTimestamp(Raw(), v), kTimestampType);
  return v;
}

int64_t TZNTValue::AsInterval(const TZNTDataType& target) const {
  if (RawIsNull()) return 0;
  int64_t v = 0;
  Check(target.IsInterval() ? ToInterval(Raw(), target, v) : kConversion, target);
  return v;
}

std::string TZNTValue::AsString() const {
  std::string s;
  AsString(s);
  return s;
}

void TZNTValue::AsString(std::string& out) const {
  if (RawIsNull()) {
    out.clear();
    return;
  }
  TTextBuf buf;
  out.assign(TextOf(Raw(), buf));
}

std::string TZNTValue::AsBytes() const {
  if (RawIsNull()) return {};
  std::string scratch;
  std::string_view bytes;
  Check(ToBytes(Raw(), scratch, bytes), kBytesType);
  return std::string(bytes);
}

std::string_view TZNTValue::AsStringView() const {
  assert(type_.code == TZNTTypeCode::Char || type_.code == TZNTTypeCode::Byte ||
         type_.code == TZNTTypeCode::Blob);
  return RawText();
}

TZNTPayload TZNTPayload::Float(double v) { return {&kFloatType, 0, v, {}}; }

// The setters store directly when the value already has the setter's type,
// which is what every row of a scan does; only a conversion goes the long way.
void TZNTValue::SetBoolean(bool v) {
  if (type_.code == TZNTTypeCode::Boolean) return RawSetInt(v ? 1 : 0);
  Store(TZNTPayload::Int(kBooleanType, v ? 1 : 0));
}
void TZNTValue::SetSmallInt(int32_t v) { Store(TZNTPayload::Int(kSmallIntType, v)); }
void TZNTValue::SetInteger(int32_t v) {
  if (type_.code == TZNTTypeCode::Integer || type_.code == TZNTTypeCode::BigInt) return RawSetInt(v);
  Store(TZNTPayload::Int(kIntegerType, v));
}
void TZNTValue::SetBigInt(int64_t v) {
  if (type_.code == TZNTTypeCode::BigInt) return RawSetInt(v);
  Store(TZNTPayload::Int(kBigIntType, v));
}
void TZNTValue::SetFloat(double v) {
  if (type_.code == TZNTTypeCode::Float) return RawSetFloat(v);
  Store(TZNTPayload::Float(v));
}
void TZNTValue::SetDecimal(int64_t v) {
  if (type_.code == TZNTTypeCode::Decimal) return RawSetInt(DecimalRoundToScale(v, type_.scale));
  Store(TZNTPayload::Int(kDecimalType, v));
}
void TZNTValue::SetDate(int32_t day) {
  if (type_.code == TZNTTypeCode::Date && day >= 1 && day <= MaxDayNumber()) return RawSetInt(day);
  Store(TZNTPayload::Int(kDateType, day));
}
void TZNTValue::SetTime(int32_t msecs) { Store(TZNTPayload::Int(kTimeType, msecs)); }
void TZNTValue::SetTimestamp(int64_t ts) { Store(TZNTPayload::Int(kTimestampType, ts)); }

void TZNTValue::SetInterval(int64_t v, const TZNTDataType& source) {
  if (!source.IsInterval()) Fail(kConversion, type_);
  Store(TZNTPayload::Int(source, v));
}

void TZNTValue::SetString(std::string_view text) { Store(TZNTPayload::Text(kTextType, text)); }
void TZNTValue::SetBytes(std::string_view bytes) { Store(TZNTPayload::Text(kBytesType, bytes)); }

void TZNTValue::Assign(const TZNTValue& other) {
  if (other.RawIsNull()) {
    RawSetNull();
    return;
  }
  Store(other.Raw());
}

// ---------------------------------------------------------------------------
// Descendants and the list
// ---------------------------------------------------------------------------

void TZNTContainedValue::RawSetNull() {
  num_.i = 0;
  text_.clear();  // keeps the buffer for the next text
  null_ = true;
}

void TZNTContainedValue::RawSetInt(int64_t v) {
  num_.i = v;
  null_ = false;
}

void TZNTContainedValue::RawSetFloat(double v) {
  num_.f = v;
  null_ = false;
}

void TZNTContainedValue::RawSetText(std::string_view text, size_t width, char pad) {
  text_.assign(text.data(), text.size());
  if (width > text_.size()) text_.append(width - text_.size(), pad);
  null_ = false;
}

void TZNTReferencedValue::Reference(TZNTValue* target) {
  target_ = target;
  type_ = target ? target->type_ : TZNTDataType();
  strict_ = target && target->strict_;
  kind_ = target ? target->kind_ : TZNTValueKind::Value;
  name_ = target ? target->name_ : std::string();
}

void TZNTReferencedValue::SetDataType(const TZNTDataType& type) {
  if (target_) target_->SetDataType(type);
  TZNTValue::SetDataType(type);
}

bool TZNTReferencedValue::RawIsNull() const { return !target_ || target_->RawIsNull(); }
void TZNTReferencedValue::RawSetNull() {
  if (target_) target_->RawSetNull();
}
int64_t TZNTReferencedValue::RawInt() const { return target_ ? target_->RawInt() : 0; }
double TZNTReferencedValue::RawFloat() const { return target_ ? target_->RawFloat() : 0; }
std::string_view TZNTReferencedValue::RawText() const {
  return target_ ? target_->RawText() : std::string_view();
}
void TZNTReferencedValue::RawSetInt(int64_t v) {
  assert(target_);
  target_->RawSetInt(v);
}
void TZNTReferencedValue::RawSetFloat(double v) {
  assert(target_);
  target_->RawSetFloat(v);
}
void TZNTReferencedValue::RawSetText(std::string_view text, size_t width, char pad) {
  assert(target_);
  target_->RawSetText(text, width, pad);
}

TZNTValue& TZNTValues::Add(std::unique_ptr<TZNTValue> value) {
  assert(value);
  items_.push_back(std::move(value));
  return *items_.back();
}

TZNTContainedValue& TZNTValues::AddContained(const TZNTDataType& type, TZNTValueKind kind,
                                             std::string_view name, bool strict) {
  auto value = std::make_unique<TZNTContainedValue>(type, kind, name, strict);
  TZNTContainedValue& ref = *value;
  items_.push_back(std::move(value));
  return ref;
}

TZNTValue* TZNTValues::Find(std::string_view name) const noexcept {
  int i = IndexOf(name);
  return i < 0 ? nullptr : items_[static_cast<size_t>(i)].get();
}

int TZNTValues::IndexOf(std::string_view name) const noexcept {
  for (size_t i = 0; i < items_.size(); ++i)
    if (ZNTSameText(items_[i]->Name(), name)) return static_cast<int>(i);
  return -1;
}

// ---------------------------------------------------------------------------
// Comparison
// ---------------------------------------------------------------------------

int CompareValues(const TZNTValue& a, const TZNTValue& b, size_t limit) {
  return CompareValuesCollated(a, b, a.DataType().collation, limit);
}

int CompareValuesCollated(const TZNTValue& a, const TZNTValue& b, uint32_t collation,
                          size_t limit) {
  const bool an = a.RawIsNull(), bn = b.RawIsNull();
  if (an || bn) return an == bn ? 0 : (an ? -1 : 1);
  const TZNTDataType& at = a.DataType();
  const TZNTPayload x = a.Raw(), y = b.Raw();
  const TCat bc = Cat(b.DataType());
  int64_t v = 0;
  // Conversion failures name the right operand, the one being converted.
  switch (Cat(at)) {
    case TCat::Text: {
      TTextBuf buf;
      return CompareText(x.s, TextOf(y, buf), collation, limit);
    }
    case TCat::Bytes: {
      std::string scratch;
      std::string_view bytes;
      b.Check(ToBytes(y, scratch, bytes), at);
      return CompareBytes(x.s, bytes);
    }
    case TCat::Boolean: {
      bool bv = false;
      b.Check(ToBoolean(y, bv), at);
      return Sign(x.i != 0, bv);
    }
    case TCat::Integer:
      if (bc == TCat::Decimal) return Sign(static_cast<__int128>(x.i) * kDecimalUnit, y.i);
      if (bc == TCat::Float) return CompareDoubles(static_cast<double>(x.i), y.f);
      if ((bc == TCat::YearMonth || bc == TCat::DayTime) && IntervalUnit(b.DataType()) != 0)
        return Sign(static_cast<__int128>(x.i) * IntervalUnit(b.DataType()), y.i);
      b.Check(ToInteger(y, TZNTTypeCode::BigInt, v), kBigIntType);
      return Sign(x.i, v);
    case TCat::Float: {
      double d = 0;
      b.Check(ToFloat(y, d), at);
      return CompareDoubles(x.f, d);
    }
    case TCat::Decimal:
      if (bc == TCat::Integer || bc == TCat::Boolean)
        return Sign(x.i, static_cast<__int128>(y.i) * kDecimalUnit);
      if (bc == TCat::Float) return CompareDoubles(DecimalToFloat(x.i), y.f);
      b.Check(ToDecimal(y, kMaxDecimalScale, v), kDecimalType);
      return Sign(x.i, v);
    case TCat::Date:
      if (bc == TCat::Timestamp) return Sign(EncodeTimestamp(static_cast<int32_t>(x.i), 0), y.i);
      b.Check(ToDate(y, v), at);
      return Sign(x.i, v);
    case TCat::Timestamp:
      if (bc == TCat::Date) return Sign(x.i, EncodeTimestamp(static_cast<int32_t>(y.i), 0));
      b.Check(ToTimestamp(y, v), at);
      return Sign(x.i, v);
    case TCat::Time:
      b.Check(ToTime(y, v), at);
      return Sign(x.i, v);
    case TCat::YearMonth:
    case TCat::DayTime:
      if (bc == TCat::Integer) {
        int64_t unit = IntervalUnit(at);
        b.Check(unit != 0 ? kOk : kConversion, at);
        return Sign(x.i, static_cast<__int128>(y.i) * unit);
      }
      b.Check(ToInterval(y, at, v), at);
      return Sign(x.i, v);
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------
// Text forms
// ---------------------------------------------------------------------------

std::string FloatToText(double v) {
  char buf[48];
  return std::string(buf, FormatFloat(v, buf));
}

bool TextToFloat(std::string_view text, double& out) noexcept {
  return ParseFloat(text, out) == kOk;
}

int64_t IntervalUnit(const TZNTDataType& type) noexcept {
  if (type.code == TZNTTypeCode::YearMonthInterval)
    return type.subtype == kIntervalYear ? 12 : (type.subtype == kIntervalMonth ? 1 : 0);
  if (type.code != TZNTTypeCode::DayTimeInterval) return 0;
  for (const TDayTimeField& f : kDayTimeFields)
    if (type.subtype == f.bit) return f.unit;
  return 0;
}

std::string IntervalToText(int64_t v, const TZNTDataType& type) {
  // Work on the magnitude as unsigned so that the smallest value does not overflow.
  const uint64_t m = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  std::string text = v < 0 ? "-" : "";
  char digits[24];
  auto append = [&](uint64_t n, int width) {
    size_t len = static_cast<size_t>(std::to_chars(digits, digits + sizeof digits, n).ptr - digits);
    if (static_cast<int>(len) < width) text.append(static_cast<size_t>(width) - len, '0');
    text.append(digits, len);
  };
  if (type.code == TZNTTypeCode::YearMonthInterval) {
    if (type.subtype == kIntervalYear) {
      append(m / 12, 0);
    } else if (type.subtype == kIntervalYearToMonth) {
      append(m / 12, 0);
      text += '-';
      append(m % 12, 2);
    } else {
      append(m, 0);
    }
    return text;
  }
  int first, last;
  if (!DayTimeRange(type.subtype, first, last)) {
    append(m, 0);
    return text;
  }
  uint64_t rest = m;
  for (int k = first; k <= last; ++k) {
    const TDayTimeField& f = kDayTimeFields[k];
    const uint64_t unit = static_cast<uint64_t>(f.unit);
    if (k > first) text += f.bit == kIntervalHour ? ' ' : (f.bit == kIntervalMSecond ? '.' : ':');
    append(rest / unit, k == first ? 0 : f.digits);
    rest %= unit;
  }
  return text;
}

bool TextToInterval(std::string_view text, const TZNTDataType& type, int64_t& out) noexcept {
  return ParseInterval(text, type, out) == kOk;
}

std::string BytesToHex(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out(bytes.size() * 2, '0');
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    out[2 * i] = kHex[c >> 4];
    out[2 * i + 1] = kHex[c & 15];
  }
  return out;
}

bool HexToBytes(std::string_view hex, std::string& out) {
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  if (hex.size() % 2 != 0) return false;
  out.resize(hex.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) {
    int hi = nibble(hex[2 * i]), lo = nibble(hex[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<char>(hi * 16 + lo);
  }
  return true;
}

}  // namespace znt
