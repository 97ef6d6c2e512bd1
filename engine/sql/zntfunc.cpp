#include "sql/zntfunc.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <set>

#include "base/zntconsts.h"
#include "base/zntdatetime.h"
#include "base/zntenv.h"
#include "base/znterror.h"
#include "base/zntmath.h"
#include "base/zntstring.h"
#include "sql/znttypefunc.h"

namespace znt {
namespace {

using TArgs = std::span<const TZNTValue* const>;

// ---------------------------------------------------------------------------
// Shared helpers
// ---------------------------------------------------------------------------

// A kernel called with operands its node can never have: a fault of the
// caller, not of the data.
[[noreturn]] void RaiseInternal(std::string_view what) {
  RaiseZNTError(err::NonEngine,
                {std::string("Internal error in expression evaluation: ") + std::string(what)});
}

// The value layer's own out-of-range error, for results computed here that
// do not fit (it raises the same error for the ones it range-checks itself).
[[noreturn]] void RaiseOutOfRange(const TZNTValue& v) {
  RaiseZNTError(err::Value, {ValueKindWord(v.Kind()), v.Name(),
                             "The value is out of the range of permissible values for the " +
                                 TypeNameUpper(v.DataType()) + " type"});
}

[[noreturn]] void RaiseSingleCharacter(const TZNTValue& v) {
  RaiseZNTError(err::Value, {ValueKindWord(v.Kind()), v.Name(), "only a single character allowed"});
}

// The classes the kernels dispatch on.
using TKind = TZNTTypeClass;
inline TKind KindOf(const TZNTDataType& t) noexcept { return TypeClassOf(t); }
TKind KindOf(const TZNTValue& v) noexcept { return KindOf(v.DataType()); }

bool IsDateTimeKind(TKind k) noexcept {
  return k == TKind::Date || k == TKind::Time || k == TKind::Timestamp;
}
bool IsIntervalKind(TKind k) noexcept { return k == TKind::YearMonth || k == TKind::DayTime; }

bool FitsInt64(__int128 v) noexcept {
  return v >= std::numeric_limits<int64_t>::min() && v <= std::numeric_limits<int64_t>::max();
}

// The stored text or bytes of a character or byte value without a copy; the
// text form of any other value, built in `scratch`.
std::string_view PayloadView(const TZNTValue& v, std::string& scratch) {
  const TKind k = KindOf(v);
  if (k == TKind::Text || k == TKind::Bytes) return v.AsStringView();
  v.AsString(scratch);
  return scratch;
}

// Stores text into a character result, or raw bytes into a byte result.
void SetPayload(TZNTValue& result, std::string_view s) {
  if (KindOf(result) == TKind::Bytes)
    result.SetBytes(s);
  else
    result.SetString(s);
}

// An interval result from its stored number; year-month intervals hold 32
// bits, which the value layer does not check within a kind.
void StoreInterval(TZNTValue& result, int64_t v) {
  if (KindOf(result) == TKind::YearMonth &&
      (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()))
    RaiseOutOfRange(result);
  result.SetInterval(v);
}

// The unit of an interval's last field: what an integer counts in MOD.
int64_t LastFieldUnit(const TZNTDataType& t) noexcept {
  if (t.code == TZNTTypeCode::YearMonthInterval) return t.subtype == kIntervalYear ? 12 : 1;
  if (t.subtype & kIntervalMSecond) return 1;
  if (t.subtype & kIntervalSecond) return 1000;
  if (t.subtype & kIntervalMinute) return 60000;
  if (t.subtype & kIntervalHour) return 3600000;
  return kMSecsPerDay;
}

int64_t FloorDiv(int64_t a, int64_t b) noexcept {
  int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

// `day` moved by `months`, keeping the day of the month where the target
// month has it and taking its last day otherwise; false outside the calendar.
bool AddMonths(int32_t day, int64_t months, int32_t& out) noexcept {
  if (months > 120000 || months < -120000) return false;  // beyond 10000 years
  const TZNTDateParts p = DecodeDate(day);
  const int64_t total = static_cast<int64_t>(p.year) * 12 + (p.month - 1) + months;
  if (total < static_cast<int64_t>(kMinYear) * 12 ||
      total > static_cast<int64_t>(kMaxYear) * 12 + 11)
    return false;
  const int year = static_cast<int>(total / 12), month = static_cast<int>(total % 12) + 1;
  return TryEncodeDate(year, month, std::min(p.day, DaysInMonth(year, month)), out);
}

// ---------------------------------------------------------------------------
// Arithmetic
// ---------------------------------------------------------------------------

// The domain a numeric result is computed in: FLOAT when either operand is
// (and for integer / integer), else DECIMAL when either is, else integers.
TKind NumericDomain(TZNTOp op, TKind ka, TKind kb) noexcept {
  if (ka == TKind::Float || kb == TKind::Float) return TKind::Float;
  if (ka == TKind::Decimal || kb == TKind::Decimal) return TKind::Decimal;
  if (ka == TKind::Text || kb == TKind::Text)
    return TKind::Float;  // converts as the value layer does
  return op == TZNTOp::Divide ? TKind::Float : TKind::Integer;
}

void IntegerArithmetic(TZNTOp op, int64_t x, int64_t y, TZNTValue& result) {
  int64_t v = 0;
  bool overflow = false;
  switch (op) {
    case TZNTOp::Add:
      overflow = __builtin_add_overflow(x, y, &v);
      break;
    case TZNTOp::Subtract:
      overflow = __builtin_sub_overflow(x, y, &v);
      break;
    case TZNTOp::Multiply:
      overflow = __builtin_mul_overflow(x, y, &v);
      break;
    case TZNTOp::Mod:
      if (y == 0) return result.SetNull();
      v = y == -1 ? 0 : x % y;  // the smallest value % -1 would trap
      break;
    default:
      RaiseInternal("integer operator");
  }
  if (overflow) RaiseOutOfRange(result);
  result.SetBigInt(v);  // range-checked against SMALLINT and INTEGER results
}

void DecimalArithmetic(TZNTOp op, const TZNTValue& a, const TZNTValue& b, TZNTValue& result) {
  const bool ai = KindOf(a) != TKind::Decimal, bi = KindOf(b) != TKind::Decimal;
  int64_t v = 0;
  bool ok = true;
  switch (op) {
    case TZNTOp::Add:
      ok = DecimalAdd(a.AsDecimal(), b.AsDecimal(), v);  // an integer i counts as i x 10000
      break;
    case TZNTOp::Subtract:
      ok = DecimalSubtract(a.AsDecimal(), b.AsDecimal(), v);
      break;
    case TZNTOp::Multiply:
      if (ai)
        ok = IntegerTimesDecimal(a.AsBigInt(), b.AsDecimal(), v);
      else if (bi)
        ok = IntegerTimesDecimal(b.AsBigInt(), a.AsDecimal(), v);
      else
        ok = DecimalMultiply(a.AsDecimal(), b.AsDecimal(), v);
      break;
    case TZNTOp::Divide: {
      const int64_t y = bi ? b.AsBigInt() : b.AsDecimal();
      if (y == 0) return result.SetNull();
      if (ai)
        ok = IntegerDividedByDecimal(a.AsBigInt(), y, v);
      else if (bi)
        ok = DecimalDividedByInteger(a.AsDecimal(), y, v);
      else
        ok = DecimalDivide(a.AsDecimal(), y, v);
      break;
    }
    case TZNTOp::Mod: {
      const int64_t x = a.AsDecimal(), y = b.AsDecimal();
      if (y == 0) return result.SetNull();
      v = y == -1 ? 0 : x % y;
      break;
    }
    default:
      RaiseInternal("decimal operator");
  }
  if (!ok) RaiseOutOfRange(result);
  result.SetDecimal(v);  // rounds to the result's scale, half away from zero
}

void FloatArithmetic(TZNTOp op, double x, double y, TZNTValue& result) {
  double v = 0;
  switch (op) {
    case TZNTOp::Add:
      v = x + y;
      break;
    case TZNTOp::Subtract:
      v = x - y;
      break;
    case TZNTOp::Multiply:
      v = x * y;
      break;
    case TZNTOp::Divide:
      if (y == 0) return result.SetNull();
      v = x / y;
      break;
    case TZNTOp::Mod:
      if (y == 0) return result.SetNull();
      v = std::fmod(x, y);
      break;
    default:
      RaiseInternal("float operator");
  }
  result.SetFloat(v);
}

void Concatenate(const TZNTValue& a, const TZNTValue& b, TZNTValue& result) {
  thread_local std::string joined, scratchA, scratchB;
  const bool bytes = KindOf(result) == TKind::Bytes;
  std::string_view x, y;
  if (bytes) {
    // Bytes take other operands' raw bytes (text as hexadecimal digits).
    if (KindOf(a) == TKind::Bytes)
      x = a.AsStringView();
    else
      x = scratchA = a.AsBytes();
    if (KindOf(b) == TKind::Bytes)
      y = b.AsStringView();
    else
      y = scratchB = b.AsBytes();
  } else {
    x = PayloadView(a, scratchA);
    y = PayloadView(b, scratchB);
  }
  joined.assign(x);
  joined.append(y);
  SetPayload(result, joined);
}

// A date, time or timestamp moved by an interval.
void DateTimeArithmetic(TZNTOp op, const TZNTValue& a, const TZNTValue& b, TZNTValue& result) {
  const TZNTValue* d = &a;
  const TZNTValue* iv = &b;
  if (op == TZNTOp::Add && IsIntervalKind(KindOf(a))) std::swap(d, iv);
  if ((op != TZNTOp::Add && op != TZNTOp::Subtract) || !IsIntervalKind(KindOf(*iv)))
    RaiseInternal("date and time operands");
  int64_t n = iv->AsInterval();
  if (op == TZNTOp::Subtract) {
    if (n == std::numeric_limits<int64_t>::min()) RaiseOutOfRange(result);
    n = -n;
  }
  const bool months = KindOf(*iv) == TKind::YearMonth;
  switch (KindOf(result)) {
    case TKind::Date: {
      const int32_t day = d->AsDate();
      int32_t out = 0;
      if (months) {
        if (!AddMonths(day, n, out)) RaiseOutOfRange(result);
      } else {
        const int64_t moved = day + FloorDiv(n, kMSecsPerDay);
        if (moved < 1 || moved > MaxDayNumber()) RaiseOutOfRange(result);
        out = static_cast<int32_t>(moved);
      }
      return result.SetDate(out);
    }
    case TKind::Timestamp: {
      // A TIME has no date to move, so TIME with an interval raises the
      // conversion error here although it types as a TIMESTAMP.
      const int64_t ts = d->AsTimestamp();
      int64_t out = 0;
      if (months) {
        int32_t day = 0;
        if (!AddMonths(TimestampDate(ts), n, day)) RaiseOutOfRange(result);
        out = EncodeTimestamp(day, TimestampTime(ts));
      } else if (__builtin_add_overflow(ts, n, &out)) {
        RaiseOutOfRange(result);
      }
      return result.SetTimestamp(out);  // range-checked by the value layer
    }
    case TKind::Time: {
      if (months) RaiseInternal("time with a year-month interval");
      // Times of day wrap around midnight.
      const int64_t t = d->AsTime() + n % kMSecsPerDay;
      return result.SetTime(
          static_cast<int32_t>(((t % kMSecsPerDay) + kMSecsPerDay) % kMSecsPerDay));
    }
    default:
      RaiseInternal("date and time result");
  }
}

// The whole months from timestamp `from` to timestamp `to`: the most months
// that, added to `from` as date arithmetic adds them, do not pass `to`.
int64_t MonthsBetween(int64_t to, int64_t from) noexcept {
  const TZNTDateParts t = DecodeDate(TimestampDate(to)), f = DecodeDate(TimestampDate(from));
  int64_t months = (static_cast<int64_t>(t.year) - f.year) * 12 + (t.month - f.month);
  auto moved = [&](int64_t k) {
    int32_t day = TimestampDate(from);
    AddMonths(day, k, day);  // both ends are calendar dates, so this cannot fail
    return EncodeTimestamp(day, TimestampTime(from));
  };
  if (months > 0 && moved(months) > to) --months;
  else if (months < 0 && moved(months) < to) ++months;
  return months;
}

void IntervalArithmetic(TZNTOp op, const TZNTValue& a, const TZNTValue& b, TZNTValue& result) {
  const TZNTDataType& rt = result.DataType();
  const TKind ka = KindOf(a), kb = KindOf(b);
  int64_t v = 0;
  bool overflow = false;
  switch (op) {
    case TZNTOp::Add:
    case TZNTOp::Subtract:
      if (op == TZNTOp::Subtract && IsDateTimeKind(ka)) {
        // The distance between two points in time; two TIMEs are on one day.
        // A year-month qualifier, as in (d1 - d2) MONTH, counts whole months.
        const bool months = KindOf(result) == TKind::YearMonth;
        if (ka == TKind::Time && kb == TKind::Time)
          v = months ? 0 : static_cast<int64_t>(a.AsTime()) - b.AsTime();
        else if (months)
          v = MonthsBetween(a.AsTimestamp(), b.AsTimestamp());
        else
          overflow = __builtin_sub_overflow(a.AsTimestamp(), b.AsTimestamp(), &v);
        break;
      }
      // Intervals of one kind share their unit; an integer counts the
      // result's single field.
      if (op == TZNTOp::Add)
        overflow = __builtin_add_overflow(a.AsInterval(rt), b.AsInterval(rt), &v);
      else
        overflow = __builtin_sub_overflow(a.AsInterval(rt), b.AsInterval(rt), &v);
      break;
    case TZNTOp::Multiply: {
      const bool leftInterval = IsIntervalKind(ka);
      const TZNTValue& iv = leftInterval ? a : b;
      const TZNTValue& k = leftInterval ? b : a;
      overflow = __builtin_mul_overflow(iv.AsInterval(rt), k.AsBigInt(), &v);
      break;
    }
    case TZNTOp::Divide: {
      const int64_t x = a.AsInterval(rt), k = b.AsBigInt();
      if (k == 0) return result.SetNull();
      overflow = k == -1 && x == std::numeric_limits<int64_t>::min();
      if (!overflow) v = x / k;
      break;
    }
    case TZNTOp::Mod: {
      // The integer counts the interval's last field: 25 hours MOD 24 is one hour.
      int64_t m = 0;
      const int64_t x = a.AsInterval(rt);
      if (__builtin_mul_overflow(b.AsBigInt(), LastFieldUnit(rt), &m)) {
        v = x;  // a modulus beyond the range leaves every interval as it is
        break;
      }
      if (m == 0) return result.SetNull();
      v = m == -1 ? 0 : x % m;
      break;
    }
    default:
      RaiseInternal("interval operator");
  }
  if (overflow) RaiseOutOfRange(result);
  StoreInterval(result, v);
}

}  // namespace

// ---------------------------------------------------------------------------
// Public: logic, arithmetic, comparisons
// ---------------------------------------------------------------------------

TZNTTruth TruthOf(const TZNTValue& v) {
  return v.IsNull() ? TZNTTruth::Null : TruthFrom(v.AsBoolean());
}

void SetTruth(TZNTValue& result, TZNTTruth t) {
  if (t == TZNTTruth::Null)
    result.SetNull();
  else
    result.SetBoolean(t == TZNTTruth::True);
}

void EvalArithmetic(TZNTOp op, const TZNTValue& a, const TZNTValue& b, TZNTValue& result) {
  if (a.IsNull() || b.IsNull()) return result.SetNull();
  switch (KindOf(result)) {
    case TKind::Text:
    case TKind::Bytes:
      if (op != TZNTOp::Add) RaiseInternal("text operator");
      return Concatenate(a, b, result);
    case TKind::Boolean:
    case TKind::Integer:
    case TKind::Float:
    case TKind::Decimal:
      switch (NumericDomain(op, KindOf(a), KindOf(b))) {
        case TKind::Float:
          return FloatArithmetic(op, a.AsFloat(), b.AsFloat(), result);
        case TKind::Decimal:
          return DecimalArithmetic(op, a, b, result);
        default:
          return IntegerArithmetic(op, a.AsBigInt(), b.AsBigInt(), result);
      }
    case TKind::Date:
    case TKind::Time:
    case TKind::Timestamp:
      return DateTimeArithmetic(op, a, b, result);
    case TKind::YearMonth:
    case TKind::DayTime:
      return IntervalArithmetic(op, a, b, result);
    default:
      RaiseInternal("arithmetic result type");
  }
}

void EvalNegate(const TZNTValue& a, TZNTValue& result) {
  if (a.IsNull()) return result.SetNull();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  switch (KindOf(a)) {
    case TKind::Integer: {
      const int64_t v = a.AsBigInt();
      if (v == kMin) RaiseOutOfRange(result);
      return result.SetBigInt(-v);
    }
    case TKind::Float:
      return result.SetFloat(-a.AsFloat());
    case TKind::Decimal: {
      const int64_t v = a.AsDecimal();
      if (v == kMin) RaiseOutOfRange(result);
      return result.SetDecimal(-v);
    }
    case TKind::YearMonth:
    case TKind::DayTime: {
      const int64_t v = a.AsInterval();
      if (v == kMin) RaiseOutOfRange(result);
      if (result.DataType().IsInterval()) return StoreInterval(result, -v);
      return result.SetInterval(-v, a.DataType());
    }
    default:
      RaiseInternal("negated operand");
  }
}

TZNTTruth EvalCompare(TZNTOp op, const TZNTValue& a, const TZNTValue& b, uint32_t collation) {
  if (a.IsNull() || b.IsNull()) return TZNTTruth::Null;
  const int c = CompareValuesCollated(a, b, collation);
  switch (op) {
    case TZNTOp::Equal:
      return TruthFrom(c == 0);
    case TZNTOp::NotEqual:
      return TruthFrom(c != 0);
    case TZNTOp::Less:
      return TruthFrom(c < 0);
    case TZNTOp::LessEqual:
      return TruthFrom(c <= 0);
    case TZNTOp::Greater:
      return TruthFrom(c > 0);
    case TZNTOp::GreaterEqual:
      return TruthFrom(c >= 0);
    default:
      RaiseInternal("comparison operator");
  }
}

TZNTTruth EvalBetween(const TZNTValue& x, const TZNTValue& low, const TZNTValue& high,
                      uint32_t collation) {
  if (x.IsNull() || low.IsNull() || high.IsNull()) return TZNTTruth::Null;
  return TruthFrom(CompareValuesCollated(x, low, collation) >= 0 &&
                   CompareValuesCollated(x, high, collation) <= 0);
}

TZNTTruth EvalIn(const TZNTValue& x, std::span<const TZNTValue* const> items, uint32_t collation) {
  if (x.IsNull()) return TZNTTruth::Null;
  for (const TZNTValue* item : items)
    if (item && !item->IsNull() && CompareValuesCollated(x, *item, collation) == 0)
      return TZNTTruth::True;
  return TZNTTruth::False;
}

// ---------------------------------------------------------------------------
// LIKE
// ---------------------------------------------------------------------------

namespace {

// The matcher over one character equality; the backtracking point is the
// position just after the last '%' and how much of the text it has taken.
template <typename TEqual>
bool MatchLike(std::string_view t, std::string_view p, int escape, TEqual equal) {
  constexpr size_t kNone = std::string_view::npos;
  size_t ti = 0, pi = 0, starP = kNone, starT = 0;
  const size_t tn = t.size(), pn = p.size();
  for (;;) {
    if (pi < pn) {
      const auto c = static_cast<unsigned char>(p[pi]);
      if (static_cast<int>(c) == escape) {
        // The escape takes the next character literally; at the very end it
        // is an ordinary character.
        const bool pair = pi + 1 < pn;
        const char literal = pair ? p[pi + 1] : p[pi];
        if (ti < tn && equal(t[ti], literal)) {
          ++ti;
          pi += pair ? 2 : 1;
          continue;
        }
      } else if (c == '%') {
        while (pi < pn && p[pi] == '%') ++pi;
        if (pi == pn) return true;  // a trailing '%' takes the rest
        starP = pi;
        starT = ti;
        continue;
      } else if (ti < tn && (c == '_' || equal(t[ti], p[pi]))) {
        ++ti;
        ++pi;
        continue;
      }
    } else if (ti == tn) {
      return true;
    }
    if (starP == kNone || starT >= tn) return false;
    ti = ++starT;
    pi = starP;
  }
}

}  // namespace

bool LikeMatches(std::string_view text, std::string_view pattern, int escape, uint32_t collation) {
  if (IsANSICollation(collation)) {
    if (collation & kCollationCaseInsensitive)
      return MatchLike(text, pattern, escape, [](char a, char b) {
        return ZNTUpperChar(static_cast<unsigned char>(a)) ==
               ZNTUpperChar(static_cast<unsigned char>(b));
      });
    return MatchLike(text, pattern, escape, [](char a, char b) { return a == b; });
  }
  return MatchLike(text, pattern, escape, [collation](char a, char b) {
    return a == b || CompareText(std::string_view(&a, 1), std::string_view(&b, 1), collation) == 0;
  });
}

TZNTTruth EvalLike(const TZNTValue& text, const TZNTValue& pattern, const TZNTValue* escape,
                   uint32_t collation) {
  if (text.IsNull() || pattern.IsNull() || (escape && escape->IsNull())) return TZNTTruth::Null;
  thread_local std::string scratchT, scratchP, scratchE;
  int esc = kNoLikeEscape;
  if (escape) {
    std::string_view e = PayloadView(*escape, scratchE);
    if (e.size() != 1) RaiseSingleCharacter(*escape);
    esc = static_cast<unsigned char>(e[0]);
  }
  return TruthFrom(
      LikeMatches(PayloadView(text, scratchT), PayloadView(pattern, scratchP), esc, collation));
}

bool CaseWhenMatches(const TZNTValue* operand, const TZNTValue& when, uint32_t collation) {
  if (operand == nullptr) return TruthOf(when) == TZNTTruth::True;
  return !operand->IsNull() && !when.IsNull() &&
         CompareValuesCollated(*operand, when, collation) == 0;
}

bool CaseWhenMatches(const TZNTValue* operand, const TZNTValue& when) {
  return CaseWhenMatches(operand, when, operand ? operand->DataType().collation : 0);
}

// ---------------------------------------------------------------------------
// Scalar functions
// ---------------------------------------------------------------------------

namespace {

// An optional argument: null when not written.
const TZNTValue* Opt(TArgs args, size_t i) noexcept { return i < args.size() ? args[i] : nullptr; }

const TZNTValue& Arg(TArgs args, size_t i) {
  if (i >= args.size() || args[i] == nullptr) RaiseInternal("missing function argument");
  return *args[i];
}

// Rounds (or truncates) a scaled DECIMAL to `places` decimals, half away
// from zero; places beyond the four kept change nothing.
int64_t RoundScaled(int64_t x, int64_t places, bool truncate, const TZNTValue& result) {
  if (places >= kMaxDecimalScale) return x;
  // Beyond 10^30 every 64-bit value rounds to zero.
  if (places < -26) return 0;
  __int128 d = 1;
  for (int64_t k = places; k < kMaxDecimalScale; ++k) d *= 10;
  __int128 q = x / d;
  const __int128 r = x % d;
  if (!truncate && 2 * (r < 0 ? -r : r) >= d) q += x < 0 ? -1 : 1;
  const __int128 v = q * d;
  if (!FitsInt64(v)) RaiseOutOfRange(result);
  return static_cast<int64_t>(v);
}

double Pow10(int64_t n) noexcept {
  static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                       1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  return n >= 0 && n <= 22 ? kPowers[n] : std::pow(10.0, static_cast<double>(n));
}

double RoundFloat(double x, int64_t places, bool truncate) noexcept {
  if (!std::isfinite(x)) return x;
  auto step = [truncate](double y) { return truncate ? std::trunc(y) : std::round(y); };
  if (places >= 0) {
    if (places > 22) return x;
    const double p = Pow10(places), y = x * p;
    // From 2^52 on a double has no fraction left to remove.
    if (!std::isfinite(y) || std::fabs(y) >= 4503599627370496.0) return x;
    return step(y) / p;
  }
  const double p = Pow10(-places);
  if (!std::isfinite(p)) return 0;
  return step(x / p) * p;
}

// Stores a double result of a mathematical function; NULL for the domain
// errors, which show as not-a-number or an infinity.
void SetMathResult(TZNTValue& result, double v) {
  if (std::isfinite(v))
    result.SetFloat(v);
  else
    result.SetNull();
}

// ---- kernels ----

#define ZNT_KERNEL(name)                                               \
  void name([[maybe_unused]] int aux, [[maybe_unused]] uint32_t flags, \
            [[maybe_unused]] TArgs args, TZNTValue& result)

ZNT_KERNEL(FnAbs) {
  const TZNTValue& x = Arg(args, 0);
  if (x.IsNull()) return result.SetNull();
  switch (KindOf(x)) {
    case TKind::Integer: {
      const int64_t v = x.AsBigInt();
      if (v == std::numeric_limits<int64_t>::min()) RaiseOutOfRange(result);
      return result.SetBigInt(v < 0 ? -v : v);
    }
    case TKind::Decimal: {
      const int64_t v = x.AsDecimal();
      if (v == std::numeric_limits<int64_t>::min()) RaiseOutOfRange(result);
      return result.SetDecimal(v < 0 ? -v : v);
    }
    case TKind::YearMonth:
    case TKind::DayTime: {
      const int64_t v = x.AsInterval();
      if (v == std::numeric_limits<int64_t>::min()) RaiseOutOfRange(result);
      if (result.DataType().IsInterval()) return StoreInterval(result, v < 0 ? -v : v);
      return result.SetInterval(v < 0 ? -v : v, x.DataType());
    }
    default:
      return result.SetFloat(std::fabs(x.AsFloat()));
  }
}

ZNT_KERNEL(FnCast) { result.Assign(Arg(args, 0)); }

ZNT_KERNEL(FnCoalesce) {
  for (const TZNTValue* a : args)
    if (a && !a->IsNull()) return result.Assign(*a);
  result.SetNull();
}

ZNT_KERNEL(FnConcat) {
  const TZNTValue &a = Arg(args, 0), &b = Arg(args, 1);
  if (a.IsNull() || b.IsNull()) return SetPayload(result, {});
  Concatenate(a, b, result);
}

ZNT_KERNEL(FnIf) {
  result.Assign(TruthOf(Arg(args, 0)) == TZNTTruth::True ? Arg(args, 1) : Arg(args, 2));
}

ZNT_KERNEL(FnIfNull) { result.Assign(Arg(args, 0).IsNull() ? Arg(args, 1) : Arg(args, 2)); }

ZNT_KERNEL(FnNullIf) {
  const TZNTValue &a = Arg(args, 0), &b = Arg(args, 1);
  if (!a.IsNull() && !b.IsNull() && CompareValues(a, b) == 0) return result.SetNull();
  result.Assign(a);
}

template <bool kUpper>
ZNT_KERNEL(FnCaseMap) {
  const TZNTValue& s = Arg(args, 0);
  if (s.IsNull()) return result.SetNull();
  thread_local std::string mapped, scratch;
  const std::string_view v = PayloadView(s, scratch);
  mapped.resize(v.size());
  for (size_t i = 0; i < v.size(); ++i) {
    const auto c = static_cast<unsigned char>(v[i]);
    mapped[i] = static_cast<char>(kUpper ? ZNTUpperChar(c) : ZNTLowerChar(c));
  }
  SetPayload(result, mapped);
}

std::string_view TrimText(std::string_view s, char c, TZNTTrimSide side) noexcept {
  size_t b = 0, e = s.size();
  if (side != TZNTTrimSide::Trailing)
    while (b < e && s[b] == c) ++b;
  if (side != TZNTTrimSide::Leading)
    while (e > b && s[e - 1] == c) --e;
  return s.substr(b, e - b);
}

template <TZNTTrimSide kSide>
ZNT_KERNEL(FnTrimBlanks) {
  const TZNTValue& s = Arg(args, 0);
  if (s.IsNull()) return result.SetNull();
  thread_local std::string scratch;
  SetPayload(result, TrimText(PayloadView(s, scratch), ' ', kSide));
}

ZNT_KERNEL(FnTrim) {
  const TZNTValue &c = Arg(args, 0), &s = Arg(args, 1);
  if (s.IsNull() || c.IsNull()) return result.SetNull();
  thread_local std::string scratchC, scratchS;
  const std::string_view cv = PayloadView(c, scratchC);
  if (cv.size() != 1) RaiseSingleCharacter(c);
  SetPayload(result, TrimText(PayloadView(s, scratchS), cv[0], static_cast<TZNTTrimSide>(aux)));
}

ZNT_KERNEL(FnSubstring) {
  const TZNTValue &s = Arg(args, 0), &n = Arg(args, 1);
  const TZNTValue* m = Opt(args, 2);
  if (s.IsNull() || n.IsNull() || (m && m->IsNull())) return result.SetNull();
  thread_local std::string scratch;
  const std::string_view v = PayloadView(s, scratch);
  const int64_t from = std::max<int64_t>(n.AsBigInt(), 1) - 1;
  if (from >= static_cast<int64_t>(v.size())) return SetPayload(result, {});
  size_t count = std::string_view::npos;
  if (m) {
    const int64_t k = m->AsBigInt();
    count = k < 0 ? 0 : static_cast<size_t>(k);
  }
  SetPayload(result, v.substr(static_cast<size_t>(from), count));
}

template <bool kLeft>
ZNT_KERNEL(FnLeftRight) {
  const TZNTValue &s = Arg(args, 0), &n = Arg(args, 1);
  if (s.IsNull() || n.IsNull()) return result.SetNull();
  thread_local std::string scratch;
  const std::string_view v = PayloadView(s, scratch);
  const int64_t k = n.AsBigInt();
  const size_t count = k <= 0 ? 0 : std::min(static_cast<size_t>(k), v.size());
  SetPayload(result, kLeft ? v.substr(0, count) : v.substr(v.size() - count));
}

ZNT_KERNEL(FnLength) {
  const TZNTValue& s = Arg(args, 0);
  if (s.IsNull()) return result.SetInteger(0);
  thread_local std::string scratch;
  result.SetBigInt(static_cast<int64_t>(PayloadView(s, scratch).size()));
}

ZNT_KERNEL(FnPosition) {
  const TZNTValue &x = Arg(args, 0), &s = Arg(args, 1);
  if (x.IsNull() || s.IsNull()) return result.SetInteger(0);
  thread_local std::string scratchX, scratchS;
  const size_t at = PayloadView(s, scratchS).find(PayloadView(x, scratchX));
  result.SetBigInt(at == std::string_view::npos ? 0 : static_cast<int64_t>(at) + 1);
}

ZNT_KERNEL(FnOccurs) {
  const TZNTValue &x = Arg(args, 0), &s = Arg(args, 1);
  if (x.IsNull() || s.IsNull()) return result.SetInteger(0);
  thread_local std::string scratchX, scratchS;
  const std::string_view needle = PayloadView(x, scratchX), hay = PayloadView(s, scratchS);
  int64_t count = 0;
  if (!needle.empty())
    for (size_t at = hay.find(needle); at != std::string_view::npos;
         at = hay.find(needle, at + needle.size()))
      ++count;
  result.SetBigInt(count);
}

// The most characters a character or byte result can keep (non-strict
// results cut the rest), so repeated text is not built beyond it.
size_t ResultLimit(const TZNTValue& result) noexcept {
  const TZNTDataType& t = result.DataType();
  if (t.code == TZNTTypeCode::Blob || t.size <= 0) return std::numeric_limits<size_t>::max();
  return static_cast<size_t>(t.size);
}

ZNT_KERNEL(FnRepeat) {
  const TZNTValue &s = Arg(args, 0), &n = Arg(args, 1);
  if (s.IsNull() || n.IsNull()) return result.SetNull();
  thread_local std::string built, scratch;
  const std::string_view v = PayloadView(s, scratch);
  const int64_t times = n.AsBigInt();
  built.clear();
  if (times > 0 && !v.empty()) {
    constexpr size_t kMaxText = size_t{1} << 31;  // no engine text is larger
    const size_t limit = std::min(ResultLimit(result), kMaxText);
    const unsigned __int128 total =
        static_cast<unsigned __int128>(v.size()) * static_cast<uint64_t>(times);
    if (total > kMaxText && limit == kMaxText) RaiseOutOfRange(result);
    const size_t want = static_cast<size_t>(std::min<unsigned __int128>(total, limit));
    built.reserve(want);
    while (built.size() + v.size() <= want) built.append(v);
    if (built.size() < want) built.append(v.substr(0, want - built.size()));
  }
  SetPayload(result, built);
}

ZNT_KERNEL(FnReplace) {
  const TZNTValue &x = Arg(args, 0), &y = Arg(args, 1), &s = Arg(args, 2);
  if (x.IsNull() || y.IsNull() || s.IsNull()) return result.SetNull();
  thread_local std::string built, scratchX, scratchY, scratchS;
  const std::string_view from = PayloadView(x, scratchX), to = PayloadView(y, scratchY),
                         text = PayloadView(s, scratchS);
  if (from.empty()) return SetPayload(result, text);
  built.clear();
  size_t start = 0;
  for (size_t at = text.find(from); at != std::string_view::npos; at = text.find(from, start)) {
    built.append(text.substr(start, at - start));
    built.append(to);
    start = at + from.size();
  }
  built.append(text.substr(start));
  SetPayload(result, built);
}

template <bool kTruncate>
ZNT_KERNEL(FnRoundTo) {
  const TZNTValue& x = Arg(args, 0);
  const TZNTValue* n = Opt(args, 1);
  if (x.IsNull() || (n && n->IsNull())) return result.SetNull();
  const int64_t places = n ? n->AsBigInt() : 0;
  switch (KindOf(x)) {
    case TKind::Integer:
      return result.SetBigInt(x.AsBigInt());
    case TKind::Decimal:
      return result.SetDecimal(RoundScaled(x.AsDecimal(), places, kTruncate, result));
    default:
      return result.SetFloat(RoundFloat(x.AsFloat(), places, kTruncate));
  }
}

template <bool kCeiling>
ZNT_KERNEL(FnCeilFloor) {
  const TZNTValue& x = Arg(args, 0);
  if (x.IsNull()) return result.SetNull();
  switch (KindOf(x)) {
    case TKind::Integer:
      return result.SetBigInt(x.AsBigInt());
    case TKind::Decimal: {
      const int64_t v = x.AsDecimal();
      int64_t q = v / kDecimalUnit;
      const int64_t r = v % kDecimalUnit;
      if (kCeiling && r > 0) ++q;
      if (!kCeiling && r < 0) --q;
      return result.SetBigInt(q);
    }
    default: {
      const double v = x.AsFloat();
      if (!std::isfinite(v)) return result.SetNull();
      return result.SetFloat(kCeiling ? std::ceil(v) : std::floor(v));
    }
  }
}

ZNT_KERNEL(FnSign) {
  const TZNTValue& x = Arg(args, 0);
  if (x.IsNull()) return result.SetNull();
  int sign = 0;
  switch (KindOf(x)) {
    case TKind::Integer:
    case TKind::Decimal: {
      const int64_t v = KindOf(x) == TKind::Integer ? x.AsBigInt() : x.AsDecimal();
      sign = (v > 0) - (v < 0);
      break;
    }
    default: {
      const double v = x.AsFloat();
      if (std::isnan(v)) return result.SetNull();
      sign = (v > 0) - (v < 0);
      break;
    }
  }
  result.SetInteger(sign);
}

ZNT_KERNEL(FnExtract) {
  const TZNTValue& d = Arg(args, 0);
  if (d.IsNull()) return result.SetNull();
  const auto field = static_cast<TZNTExtractField>(aux);
  if (field >= TZNTExtractField::Hour) {
    const TZNTTimeParts t = DecodeTime(d.AsTime());
    switch (field) {
      case TZNTExtractField::Hour:
        return result.SetInteger(t.hour);
      case TZNTExtractField::Minute:
        return result.SetInteger(t.minute);
      case TZNTExtractField::Second:
        return result.SetInteger(t.second);
      case TZNTExtractField::MSecond:
        return result.SetInteger(t.msecond);
      default:
        RaiseInternal("EXTRACT field");
    }
  }
  const int32_t day = d.AsDate();
  const TZNTDateParts p = DecodeDate(day);
  int32_t jan1 = day;
  TryEncodeDate(p.year, 1, 1, jan1);
  const int dayOfYear = day - jan1 + 1;
  switch (field) {
    case TZNTExtractField::Year:
      return result.SetInteger(p.year);
    case TZNTExtractField::Month:
      return result.SetInteger(p.month);
    case TZNTExtractField::Day:
      return result.SetInteger(p.day);
    case TZNTExtractField::DayOfWeek:
      return result.SetInteger(DayOfWeek(day));
    case TZNTExtractField::DayOfYear:
      return result.SetInteger(dayOfYear);
    case TZNTExtractField::Week:
      // Weeks run Sunday to Saturday, as DAYOFWEEK counts; week 1 holds January 1.
      return result.SetInteger((dayOfYear - 1 + DayOfWeek(jan1) - 1) / 7 + 1);
    default:
      RaiseInternal("EXTRACT field");
  }
}

template <double (*F)(double)>
ZNT_KERNEL(FnMath1) {
  const TZNTValue& x = Arg(args, 0);
  if (x.IsNull()) return result.SetNull();
  SetMathResult(result, F(x.AsFloat()));
}

template <double (*F)(double, double)>
ZNT_KERNEL(FnMath2) {
  const TZNTValue &x = Arg(args, 0), &y = Arg(args, 1);
  if (x.IsNull() || y.IsNull()) return result.SetNull();
  SetMathResult(result, F(x.AsFloat(), y.AsFloat()));
}

// Plain functions, so that the templates take their addresses whatever the
// C library declares.
double Acos(double x) { return std::acos(x); }
double Asin(double x) { return std::asin(x); }
double Atan(double x) { return std::atan(x); }
double Cos(double x) { return std::cos(x); }
double Cot(double x) { return 1.0 / std::tan(x); }
double Sin(double x) { return std::sin(x); }
double Tan(double x) { return std::tan(x); }
double Exp(double x) { return std::exp(x); }
double Log(double x) { return std::log(x); }
double Log10(double x) { return std::log10(x); }
double Sqrt(double x) { return std::sqrt(x); }
double Degrees(double x) { return x * (180.0 / std::numbers::pi); }
double Radians(double x) { return x * (std::numbers::pi / 180.0); }
double Atan2(double y, double x) { return std::atan2(y, x); }
double Power(double x, double y) { return std::pow(x, y); }

ZNT_KERNEL(FnPi) { result.SetFloat(std::numbers::pi); }

// One generator per thread, seeded once from the system's entropy.
std::mt19937_64& Random() {
  thread_local std::mt19937_64 engine([] {
    std::random_device device;
    return (static_cast<uint64_t>(device()) << 32) ^ device();
  }());
  return engine;
}

ZNT_KERNEL(FnRand) {
  const TZNTValue* range = Opt(args, 0);
  if (range == nullptr) return result.SetFloat(static_cast<double>(Random()() >> 11) * 0x1.0p-53);
  if (range->IsNull()) return result.SetNull();
  const int64_t n = range->AsBigInt();
  if (n <= 0) return result.SetNull();
  // The high half of a 128-bit product spreads 64 random bits evenly over n.
  const auto r = static_cast<int64_t>(
      (static_cast<unsigned __int128>(Random()()) * static_cast<uint64_t>(n)) >> 64);
  result.SetBigInt(r);
}

int64_t ClockNow(uint32_t flags) {
  return (flags & kNodeUTC) ? TZNTClock::NowUTC() : TZNTClock::Now();
}

ZNT_KERNEL(FnCurrentDate) { result.SetDate(TimestampDate(ClockNow(flags))); }
ZNT_KERNEL(FnCurrentTime) { result.SetTime(TimestampTime(ClockNow(flags))); }
ZNT_KERNEL(FnCurrentTimestamp) { result.SetTimestamp(ClockNow(flags)); }
ZNT_KERNEL(FnCurrentVersion) { result.SetDecimal(kEngineVersion); }

ZNT_KERNEL(FnCurrentGuid) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  uint64_t hi = Random()(), lo = Random()();
  hi = (hi & ~uint64_t{0xF000}) | 0x4000;                  // version 4: random
  lo = (lo & ~(uint64_t{3} << 62)) | (uint64_t{2} << 62);  // the RFC variant
  char text[kGuidLength];
  size_t k = 0;
  text[k++] = '{';
  for (int nibble = 0; nibble < 32; ++nibble) {
    if (nibble == 8 || nibble == 12 || nibble == 16 || nibble == 20) text[k++] = '-';
    const uint64_t word = nibble < 16 ? hi : lo;
    text[k++] = kHex[(word >> (60 - 4 * (nibble % 16))) & 15];
  }
  text[k++] = '}';
  result.SetString(std::string_view(text, k));
}

#undef ZNT_KERNEL

constexpr size_t kFirstFunction = static_cast<size_t>(TZNTOp::FnAborted);
constexpr size_t kFunctionCount = static_cast<size_t>(TZNTOp::FnUpper) - kFirstFunction + 1;

// clang-format off
constexpr TZNTFunctionKernel KernelFor(TZNTOp op) {
  switch (op) {
    case TZNTOp::FnAbs: return FnAbs;
    case TZNTOp::FnAcos: return FnMath1<Acos>;
    case TZNTOp::FnAllTrim: return FnTrimBlanks<TZNTTrimSide::Both>;
    case TZNTOp::FnAsin: return FnMath1<Asin>;
    case TZNTOp::FnAtan: return FnMath1<Atan>;
    case TZNTOp::FnAtan2: return FnMath2<Atan2>;
    case TZNTOp::FnCast: return FnCast;
    case TZNTOp::FnCeiling: return FnCeilFloor<true>;
    case TZNTOp::FnCharLength: return FnLength;
    case TZNTOp::FnCoalesce: return FnCoalesce;
    case TZNTOp::FnConcat: return FnConcat;
    case TZNTOp::FnCos: return FnMath1<Cos>;
    case TZNTOp::FnCot: return FnMath1<Cot>;
    case TZNTOp::FnCurrentDate: return FnCurrentDate;
    case TZNTOp::FnCurrentGuid: return FnCurrentGuid;
    case TZNTOp::FnCurrentTime: return FnCurrentTime;
    case TZNTOp::FnCurrentTimestamp: return FnCurrentTimestamp;
    case TZNTOp::FnCurrentVersion: return FnCurrentVersion;
    case TZNTOp::FnDegrees: return FnMath1<Degrees>;
    case TZNTOp::FnExp: return FnMath1<Exp>;
    case TZNTOp::FnExtract: return FnExtract;
    case TZNTOp::FnFloor: return FnCeilFloor<false>;
    case TZNTOp::FnIf: return FnIf;
    case TZNTOp::FnIfNull: return FnIfNull;
    case TZNTOp::FnLeft: return FnLeftRight<true>;
    case TZNTOp::FnLength: return FnLength;
    case TZNTOp::FnLog: return FnMath1<Log>;
    case TZNTOp::FnLog10: return FnMath1<Log10>;
    case TZNTOp::FnLower: return FnCaseMap<false>;
    case TZNTOp::FnLTrim: return FnTrimBlanks<TZNTTrimSide::Leading>;
    case TZNTOp::FnNullIf: return FnNullIf;
    case TZNTOp::FnOccurs: return FnOccurs;
    case TZNTOp::FnPi: return FnPi;
    case TZNTOp::FnPosition: return FnPosition;
    case TZNTOp::FnPower: return FnMath2<Power>;
    case TZNTOp::FnRadians: return FnMath1<Radians>;
    case TZNTOp::FnRand: return FnRand;
    case TZNTOp::FnRepeat: return FnRepeat;
    case TZNTOp::FnReplace: return FnReplace;
    case TZNTOp::FnRight: return FnLeftRight<false>;
    case TZNTOp::FnRound: return FnRoundTo<false>;
    case TZNTOp::FnRTrim: return FnTrimBlanks<TZNTTrimSide::Trailing>;
    case TZNTOp::FnSign: return FnSign;
    case TZNTOp::FnSin: return FnMath1<Sin>;
    case TZNTOp::FnSqrt: return FnMath1<Sqrt>;
    case TZNTOp::FnSubstring: return FnSubstring;
    case TZNTOp::FnTan: return FnMath1<Tan>;
    case TZNTOp::FnTrim: return FnTrim;
    case TZNTOp::FnTruncate: return FnRoundTo<true>;
    case TZNTOp::FnUpper: return FnCaseMap<true>;
    default: return nullptr;
  }
}
// clang-format on

constexpr std::array<TZNTFunctionKernel, kFunctionCount> MakeKernelTable() {
  std::array<TZNTFunctionKernel, kFunctionCount> table{};
  for (size_t i = 0; i < kFunctionCount; ++i)
    table[i] = KernelFor(static_cast<TZNTOp>(kFirstFunction + i));
  return table;
}

constexpr std::array<TZNTFunctionKernel, kFunctionCount> kKernels = MakeKernelTable();

}  // namespace

TZNTFunctionKernel FindFunctionKernel(TZNTOp op) noexcept {
  const size_t i = static_cast<size_t>(op) - kFirstFunction;  // wraps for ops before it
  return i < kFunctionCount ? kKernels[i] : nullptr;
}

bool EvalFunction(TZNTOp op, int aux, uint32_t flags, std::span<const TZNTValue* const> args,
                  TZNTValue& result) {
  TZNTFunctionKernel kernel = FindFunctionKernel(op);
  if (kernel == nullptr) return false;
  kernel(aux, flags, args, result);
  return true;
}

// ---------------------------------------------------------------------------
// Aggregates
// ---------------------------------------------------------------------------

namespace {

// How a sum accumulates: integers and DECIMAL scaled integers exactly in 128
// bits, intervals by their stored numbers likewise, FLOAT in a double.
enum class TSumKind : uint8_t { Integer, Decimal, Interval, Float };

TSumKind SumKindOf(const TZNTDataType& t) noexcept {
  switch (KindOf(t)) {
    case TKind::Boolean:
    case TKind::Integer:
      return TSumKind::Integer;
    case TKind::Decimal:
      return TSumKind::Decimal;
    case TKind::YearMonth:
    case TKind::DayTime:
      return TSumKind::Interval;
    default:
      return TSumKind::Float;
  }
}

class TSumAggregate : public TZNTAggregate {
 public:
  explicit TSumAggregate(const TZNTDataType& argType)
      : argType_(argType), kind_(SumKindOf(argType)) {}

  void Reset() override {
    exact_ = 0;
    approx_ = 0;
    count_ = 0;
  }

  void Accumulate(const TZNTValue& v) override {
    if (v.IsNull()) return;
    ++count_;
    switch (kind_) {
      case TSumKind::Integer:
        exact_ += v.AsBigInt();
        break;
      case TSumKind::Decimal:
        exact_ += v.AsDecimal();
        break;
      case TSumKind::Interval:
        exact_ += v.AsInterval(argType_);
        break;
      case TSumKind::Float:
        approx_ += v.AsFloat();
        break;
    }
  }

  void Result(TZNTValue& result) const override {
    if (count_ == 0) return result.SetNull();
    Store(exact_, approx_, result);
  }

 protected:
  // Stores an exact or approximate total (or mean) in the argument's kind.
  void Store(__int128 exact, double approx, TZNTValue& result) const {
    if (kind_ == TSumKind::Float) return result.SetFloat(approx);
    if (!FitsInt64(exact)) RaiseOutOfRange(result);
    const auto v = static_cast<int64_t>(exact);
    switch (kind_) {
      case TSumKind::Integer:
        return result.SetBigInt(v);
      case TSumKind::Decimal:
        return result.SetDecimal(v);
      default:
        if (result.DataType().IsInterval()) return StoreInterval(result, v);
        return result.SetInterval(v, argType_);
    }
  }

  TZNTDataType argType_;
  TSumKind kind_;
  __int128 exact_ = 0;
  double approx_ = 0;
  int64_t count_ = 0;
};

class TAvgAggregate : public TSumAggregate {
 public:
  using TSumAggregate::TSumAggregate;

  void Result(TZNTValue& result) const override {
    if (count_ == 0) return result.SetNull();
    if (kind_ == TSumKind::Float) return result.SetFloat(approx_ / static_cast<double>(count_));
    if (kind_ == TSumKind::Decimal) {
      // DECIMAL / integer: round(x / i), ties to even.
      int64_t v = 0;
      if (!DivRoundEven(exact_, count_, v)) RaiseOutOfRange(result);
      return result.SetDecimal(v);
    }
    Store(exact_ / count_, 0, result);  // integers and intervals: toward zero
  }
};

class TCountAggregate : public TZNTAggregate {
 public:
  explicit TCountAggregate(bool star) : star_(star) {}
  void Reset() override { count_ = 0; }
  void Accumulate(const TZNTValue& v) override {
    if (star_ || !v.IsNull()) ++count_;
  }
  void Result(TZNTValue& result) const override { result.SetBigInt(count_); }

 private:
  bool star_;
  int64_t count_ = 0;
};

class TMinMaxAggregate : public TZNTAggregate {
 public:
  TMinMaxAggregate(const TZNTDataType& argType, bool max) : best_(argType), max_(max) {}
  void Reset() override { best_.SetNull(); }
  void Accumulate(const TZNTValue& v) override {
    if (v.IsNull()) return;
    if (best_.IsNull()) return best_.Assign(v);
    const int c = CompareValuesCollated(v, best_, best_.DataType().collation);
    if (max_ ? c > 0 : c < 0) best_.Assign(v);
  }
  void Result(TZNTValue& result) const override { result.Assign(best_); }

 private:
  TZNTContainedValue best_;
  bool max_;
};

class TStdDevAggregate : public TZNTAggregate {
 public:
  void Reset() override {
    count_ = 0;
    sum_ = sumSquares_ = 0;
  }
  void Accumulate(const TZNTValue& v) override {
    if (v.IsNull()) return;
    const double x = v.AsFloat();
    ++count_;
    sum_ += x;
    sumSquares_ += x * x;
  }
  void Result(TZNTValue& result) const override {
    if (count_ < 2) return result.SetNull();
    const double n = static_cast<double>(count_);
    // Rounding can leave a tiny negative variance for equal values.
    const double variance = std::max(0.0, (sumSquares_ - sum_ * sum_ / n) / (n - 1));
    SetMathResult(result, std::sqrt(variance));
  }

 private:
  int64_t count_ = 0;
  double sum_ = 0, sumSquares_ = 0;
};

class TListAggregate : public TZNTAggregate {
 public:
  explicit TListAggregate(std::string separator) : separator_(std::move(separator)) {}
  void Reset() override {
    text_.clear();
    any_ = false;
  }
  void Accumulate(const TZNTValue& v) override {
    if (v.IsNull()) return;
    if (any_) text_ += separator_;
    any_ = true;
    text_ += PayloadView(v, scratch_);
  }
  void Result(TZNTValue& result) const override {
    if (!any_) return result.SetNull();
    result.SetString(text_);
  }

 private:
  std::string separator_, text_, scratch_;
  bool any_ = false;
};

// Passes each distinct non-NULL value (equal under the argument's collation)
// to the aggregate once.
class TDistinctAggregate : public TZNTAggregate {
 public:
  TDistinctAggregate(std::unique_ptr<TZNTAggregate> inner, const TZNTDataType& argType)
      : inner_(std::move(inner)), argType_(argType), seen_(TLess{argType.collation}) {}

  void Reset() override {
    seen_.clear();
    inner_->Reset();
  }
  void Accumulate(const TZNTValue& v) override {
    if (v.IsNull() || seen_.find(v) != seen_.end()) return;
    auto copy = std::make_unique<TZNTContainedValue>(argType_);
    copy->Assign(v);
    seen_.insert(std::move(copy));
    inner_->Accumulate(v);
  }
  void Result(TZNTValue& result) const override { inner_->Result(result); }

 private:
  struct TLess {
    using is_transparent = void;
    uint32_t collation;
    static const TZNTValue& Of(const TZNTValue& v) { return v; }
    static const TZNTValue& Of(const std::unique_ptr<TZNTContainedValue>& v) { return *v; }
    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const {
      return CompareValuesCollated(Of(a), Of(b), collation) < 0;
    }
  };

  std::unique_ptr<TZNTAggregate> inner_;
  TZNTDataType argType_;
  std::set<std::unique_ptr<TZNTContainedValue>, TLess> seen_;
};

}  // namespace

std::unique_ptr<TZNTAggregate> MakeAggregate(TZNTOp op, const TZNTDataType& argType,
                                             const TZNTAggregateOptions& options) {
  std::unique_ptr<TZNTAggregate> a;
  switch (op) {
    case TZNTOp::FnSum:
    case TZNTOp::FnRunSum:
      a = std::make_unique<TSumAggregate>(argType);
      break;
    case TZNTOp::FnAvg:
      a = std::make_unique<TAvgAggregate>(argType);
      break;
    case TZNTOp::FnCount:
      a = std::make_unique<TCountAggregate>(options.countStar);
      break;
    case TZNTOp::FnMin:
    case TZNTOp::FnMax:
      a = std::make_unique<TMinMaxAggregate>(argType, op == TZNTOp::FnMax);
      break;
    case TZNTOp::FnStdDev:
      a = std::make_unique<TStdDevAggregate>();
      break;
    case TZNTOp::FnList:
      a = std::make_unique<TListAggregate>(options.separator);
      break;
    default:
      return nullptr;
  }
  if (options.distinct && !options.countStar)
    a = std::make_unique<TDistinctAggregate>(std::move(a), argType);
  return a;
}

}  // namespace znt
