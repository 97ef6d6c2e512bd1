#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <limits>
#include <numbers>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/zntdatetime.h"
#include "base/zntenv.h"
#include "base/znterror.h"
#include "sql/zntfunc.h"

namespace znt {
namespace {

const TZNTDataType kBoolean = TZNTDataType::Of(TZNTTypeCode::Boolean);
const TZNTDataType kSmallInt = TZNTDataType::Of(TZNTTypeCode::SmallInt);
const TZNTDataType kInteger = TZNTDataType::Of(TZNTTypeCode::Integer);
const TZNTDataType kBigInt = TZNTDataType::Of(TZNTTypeCode::BigInt);
const TZNTDataType kFloat = TZNTDataType::Of(TZNTTypeCode::Float);
const TZNTDataType kDate = TZNTDataType::Of(TZNTTypeCode::Date);
const TZNTDataType kTime = TZNTDataType::Of(TZNTTypeCode::Time);
const TZNTDataType kTimestamp = TZNTDataType::Of(TZNTTypeCode::Timestamp);
const TZNTDataType kText = TZNTDataType::VarChar(100);
const TZNTDataType kTextCI = TZNTDataType::VarChar(100, kCollationANSI_CI);

TZNTDataType Dec(int scale) { return TZNTDataType::Decimal(scale); }
TZNTDataType YM(uint8_t q) { return TZNTDataType::Interval(TZNTTypeCode::YearMonthInterval, q); }
TZNTDataType DT(uint8_t q) { return TZNTDataType::Interval(TZNTTypeCode::DayTimeInterval, q); }
const TZNTDataType kDay = DT(kIntervalDay);
const TZNTDataType kHour = DT(kIntervalHour);
const TZNTDataType kMonth = YM(kIntervalMonth);

using V = TZNTContainedValue;

// Values from their text form, as a literal of the type would give them.
V Of(const TZNTDataType& type, std::string_view text) {
  V v(type);
  v.SetString(text);
  return v;
}
V Int(int64_t i, const TZNTDataType& type = kInteger) {
  V v(type);
  v.SetBigInt(i);
  return v;
}
V Flt(double d) {
  V v(kFloat);
  v.SetFloat(d);
  return v;
}
// A DECIMAL from its scaled integer (ten-thousandths).
V Scaled(int64_t x, int scale = 4) {
  V v(Dec(scale));
  v.SetDecimal(x);
  return v;
}
V Str(std::string_view s, const TZNTDataType& type = kText) {
  V v(type);
  v.SetString(s);
  return v;
}
V Null(const TZNTDataType& type) { return V(type); }

// "NULL" for a NULL value, otherwise its text form.
std::string Show(const TZNTValue& v) { return v.IsNull() ? "NULL" : v.AsString(); }

// The code and detail message of the engine error `f` raises, or "" when it
// raises none.
template <typename F>
std::string ErrorOf(F f) {
  try {
    f();
  } catch (const EZNTException& e) {
    return std::to_string(e.ErrorCode()) + " " + e.ErrorMessage();
  }
  return "";
}

V Arith(TZNTOp op, const V& a, const V& b, const TZNTDataType& type) {
  V r(type);
  EvalArithmetic(op, a, b, r);
  return r;
}

// Calls a function kernel with the arguments given (nullopt: not written).
V Call(TZNTOp op, const TZNTDataType& type, std::initializer_list<V> args, int aux = 0,
       uint32_t flags = 0) {
  std::vector<const TZNTValue*> ptrs;
  for (const V& a : args) ptrs.push_back(&a);
  V r(type);
  EXPECT_TRUE(EvalFunction(op, aux, flags, ptrs, r)) << static_cast<int>(op);
  return r;
}

constexpr TZNTTruth T = TZNTTruth::True, F = TZNTTruth::False, N = TZNTTruth::Null;

// ---------------------------------------------------------------------------
// Three-valued logic
// ---------------------------------------------------------------------------

TEST(EvalLogic, FollowsTheNullTable) {
  const TZNTTruth all[] = {F, T, N};
  // Rows and columns in the order F, T, N.
  const TZNTTruth andTable[3][3] = {{F, F, F}, {F, T, N}, {F, N, N}};
  const TZNTTruth orTable[3][3] = {{F, T, N}, {T, T, T}, {N, T, N}};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      EXPECT_EQ(TruthAnd(all[i], all[j]), andTable[i][j]) << i << " AND " << j;
      EXPECT_EQ(TruthOr(all[i], all[j]), orTable[i][j]) << i << " OR " << j;
    }
  }
  EXPECT_EQ(TruthNot(T), F);
  EXPECT_EQ(TruthNot(F), T);
  EXPECT_EQ(TruthNot(N), N);
}

TEST(EvalLogic, TruthOfValuesAndBack) {
  EXPECT_EQ(TruthOf(Null(kBoolean)), N);
  V b(kBoolean);
  b.SetBoolean(true);
  EXPECT_EQ(TruthOf(b), T);
  SetTruth(b, N);
  EXPECT_TRUE(b.IsNull());
  SetTruth(b, F);
  EXPECT_EQ(Show(b), "FALSE");
}

// ---------------------------------------------------------------------------
// Arithmetic
// ---------------------------------------------------------------------------

TEST(EvalArithmetic, DecimalAdditionIsExact) {
  // CAST(0.1 AS DECIMAL(20,2)) + CAST(0.2 AS DECIMAL(20,2)) = CAST(0.3 AS DECIMAL(20,2))
  V sum = Arith(TZNTOp::Add, Of(Dec(2), "0.1"), Of(Dec(2), "0.2"), Dec(2));
  EXPECT_EQ(sum.AsDecimal(), 3000);
  EXPECT_EQ(EvalCompare(TZNTOp::Equal, sum, Of(Dec(2), "0.3")), T);
  // The same in doubles is famously not equal.
  V fsum = Arith(TZNTOp::Add, Flt(0.1), Flt(0.2), kFloat);
  EXPECT_EQ(EvalCompare(TZNTOp::Equal, fsum, Flt(0.3)), F);
}

TEST(EvalArithmetic, DecimalRoundingPoints) {
  struct Case {
    const char* what;
    TZNTOp op;
    V a, b;
    int scale;  // of the result
    int64_t want;
  };
  const Case cases[] = {
      {"integer + decimal", TZNTOp::Add, Int(2), Scaled(15000), 4, 35000},
      {"decimal - integer", TZNTOp::Subtract, Scaled(15000), Int(2), 4, -5000},
      {"mul tie to even down", TZNTOp::Multiply, Scaled(25), Scaled(5000), 4, 12},  // 12.5
      {"mul tie to even up", TZNTOp::Multiply, Scaled(35), Scaled(5000), 4, 18},    // 17.5
      {"mul negative tie", TZNTOp::Multiply, Scaled(-35), Scaled(5000), 4, -18},
      {"integer x decimal", TZNTOp::Multiply, Int(3), Scaled(12345), 4, 37035},
      {"decimal x integer", TZNTOp::Multiply, Scaled(12345), Int(-3), 4, -37035},
      {"div", TZNTOp::Divide, Scaled(20000), Scaled(30000), 4, 6667},
      {"div tie to even down", TZNTOp::Divide, Scaled(1), Scaled(20000), 4, 0},  // 0.5
      {"div tie to even up", TZNTOp::Divide, Scaled(3), Scaled(20000), 4, 2},    // 1.5
      {"integer / decimal", TZNTOp::Divide, Int(1), Scaled(30000), 4, 3333},
      {"integer / decimal tie", TZNTOp::Divide, Int(1), Scaled(40000000), 4, 2},     // 2.5
      {"integer / decimal tie up", TZNTOp::Divide, Int(3), Scaled(40000000), 4, 8},  // 7.5
      {"decimal / integer tie", TZNTOp::Divide, Scaled(5), Int(2), 4, 2},            // 2.5
      {"decimal / integer tie up", TZNTOp::Divide, Scaled(15), Int(2), 4, 8},        // 7.5
      {"decimal / integer negative", TZNTOp::Divide, Scaled(-15), Int(2), 4, -8},
      // Then the result's scale rounds half away from zero: 2.675 -> 2.68.
      {"scale 2 half up", TZNTOp::Multiply, Scaled(26750), Int(1), 2, 26800},
      {"scale 2 half down", TZNTOp::Multiply, Scaled(-26750), Int(1), 2, -26800},
      {"1/8 at scale 2", TZNTOp::Divide, Scaled(10000), Int(8), 2, 1300},
      {"1/8 at scale 0", TZNTOp::Divide, Scaled(10000), Int(8), 0, 0},
      // 0.099 x 0.05 = 0.00495: 49.5 ten-thousandths ties to 50, which
      // rounds to 0.01 at scale 2.
      {"both rounding points", TZNTOp::Multiply, Scaled(990), Scaled(500), 2, 100},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Arith(c.op, c.a, c.b, Dec(c.scale)).AsDecimal(), c.want) << c.what;
}

TEST(EvalArithmetic, DecimalWithFloatIsFloat) {
  V r = Arith(TZNTOp::Multiply, Scaled(15000), Flt(0.5), kFloat);
  EXPECT_DOUBLE_EQ(r.AsFloat(), 0.75);
}

TEST(EvalArithmetic, DivisionAndModByZeroAreNull) {
  EXPECT_TRUE(Arith(TZNTOp::Divide, Int(1), Int(0), kFloat).IsNull());
  EXPECT_TRUE(Arith(TZNTOp::Divide, Flt(1), Flt(0), kFloat).IsNull());
  EXPECT_TRUE(Arith(TZNTOp::Divide, Scaled(10000), Scaled(0), Dec(2)).IsNull());
  EXPECT_TRUE(Arith(TZNTOp::Divide, Int(1), Scaled(0), Dec(2)).IsNull());
  EXPECT_TRUE(Arith(TZNTOp::Divide, Scaled(10000), Int(0), Dec(2)).IsNull());
  EXPECT_TRUE(Arith(TZNTOp::Mod, Int(5), Int(0), kInteger).IsNull());
  EXPECT_TRUE(Arith(TZNTOp::Divide, Of(kHour, "2"), Int(0), kHour).IsNull());
}

TEST(EvalArithmetic, IntegersAndFloats) {
  V third = Arith(TZNTOp::Divide, Int(1), Int(3), kFloat);
  EXPECT_DOUBLE_EQ(third.AsFloat(), 1.0 / 3.0);
  // A DECIMAL(20,2) assigned 1 / 3 keeps 0.33.
  V stored(Dec(2));
  stored.Assign(third);
  EXPECT_EQ(stored.AsString(), "0.33");

  EXPECT_EQ(Arith(TZNTOp::Mod, Int(7), Int(3), kInteger).AsInteger(), 1);
  EXPECT_EQ(Arith(TZNTOp::Mod, Int(-7), Int(3), kInteger).AsInteger(), -1);
  EXPECT_EQ(Arith(TZNTOp::Mod, Int(INT64_MIN, kBigInt), Int(-1), kBigInt).AsBigInt(), 0);
  EXPECT_EQ(Arith(TZNTOp::Multiply, Int(-4, kSmallInt), Int(5, kSmallInt), kInteger).AsInteger(),
            -20);
  EXPECT_EQ(Arith(TZNTOp::Add, Int(2), Int(1LL << 40, kBigInt), kBigInt).AsBigInt(),
            (1LL << 40) + 2);
  EXPECT_DOUBLE_EQ(Arith(TZNTOp::Subtract, Int(1), Flt(0.25), kFloat).AsFloat(), 0.75);
  EXPECT_TRUE(Arith(TZNTOp::Add, Null(kInteger), Int(1), kInteger).IsNull());
  EXPECT_TRUE(Arith(TZNTOp::Multiply, Scaled(1), Null(Dec(2)), Dec(2)).IsNull());
}

TEST(EvalArithmetic, OverflowIsOutOfRangeForTheResultType) {
  const std::string range =
      "1011 An error occurred with the value  (The value is out of the range "
      "of permissible values for the ";
  EXPECT_EQ(ErrorOf([] { Arith(TZNTOp::Add, Int(INT32_MAX), Int(1), kInteger); }),
            range + "INTEGER type)");
  EXPECT_EQ(ErrorOf([] { Arith(TZNTOp::Multiply, Int(INT64_MAX, kBigInt), Int(2), kBigInt); }),
            range + "BIGINT type)");
  EXPECT_EQ(ErrorOf([] { Arith(TZNTOp::Subtract, Int(INT64_MIN, kBigInt), Int(1), kBigInt); }),
            range + "BIGINT type)");
  EXPECT_EQ(ErrorOf([] { Arith(TZNTOp::Multiply, Scaled(INT64_MAX / 2), Int(3), Dec(2)); }),
            range + "DECIMAL type)");
  EXPECT_EQ(ErrorOf([] { Arith(TZNTOp::Add, Scaled(INT64_MAX), Scaled(1), Dec(4)); }),
            range + "DECIMAL type)");
  V r(kInteger);
  EXPECT_EQ(ErrorOf([&] { EvalNegate(Int(INT32_MIN), r); }), range + "INTEGER type)");
}

TEST(EvalArithmetic, NegateKeepsTheType) {
  V r(kInteger);
  EvalNegate(Int(5), r);
  EXPECT_EQ(r.AsInteger(), -5);
  V d(Dec(2));
  EvalNegate(Scaled(12500, 2), d);
  EXPECT_EQ(d.AsString(), "-1.25");
  V i(kHour);
  EvalNegate(Of(kHour, "3"), i);
  EXPECT_EQ(i.AsString(), "-3");
  EvalNegate(Null(kHour), i);
  EXPECT_TRUE(i.IsNull());
}

TEST(EvalArithmetic, ConcatenatesTextAndBytes) {
  EXPECT_EQ(Show(Arith(TZNTOp::Add, Str("ab"), Str("cd"), kText)), "abcd");
  // An expression result keeps what its declared length holds.
  EXPECT_EQ(Show(Arith(TZNTOp::Add, Str("ab"), Str("cd"), TZNTDataType::VarChar(3))), "abc");
  EXPECT_EQ(Show(Arith(TZNTOp::Add, Str("ab"), Str(""), TZNTDataType::Clob())), "ab");
  EXPECT_TRUE(Arith(TZNTOp::Add, Str("ab"), Null(kText), kText).IsNull());
  V x(TZNTDataType::VarByte(4)), y(TZNTDataType::VarByte(4));
  x.SetBytes(std::string("\x01\x02", 2));
  y.SetBytes(std::string("\xFF", 1));
  EXPECT_EQ(Arith(TZNTOp::Add, x, y, TZNTDataType::VarByte(8)).AsString(), "0102FF");
}

TEST(EvalArithmetic, DatesTimesAndIntervals) {
  const TZNTDataType kDayToSecond =
      DT(kIntervalDay | kIntervalHour | kIntervalMinute | kIntervalSecond);
  struct Case {
    const char* what;
    TZNTOp op;
    V a, b;
    TZNTDataType type;
    const char* want;
  };
  const Case cases[] = {
      {"date + day", TZNTOp::Add, Of(kDate, "2024-02-28"), Of(kDay, "1"), kDate, "2024-02-29"},
      {"over the year", TZNTOp::Add, Of(kDate, "2024-12-31"), Of(kDay, "1"), kDate, "2025-01-01"},
      {"day + date", TZNTOp::Add, Of(kDay, "3"), Of(kDate, "2024-03-01"), kDate, "2024-03-04"},
      {"yesterday", TZNTOp::Subtract, Of(kDate, "2024-03-01"), Of(kDay, "1"), kDate, "2024-02-29"},
      {"month end kept", TZNTOp::Add, Of(kDate, "2024-01-31"), Of(kMonth, "1"), kDate,
       "2024-02-29"},
      {"year back", TZNTOp::Subtract, Of(kDate, "2024-02-29"), Of(YM(kIntervalYear), "1"), kDate,
       "2023-02-28"},
      {"year to month", TZNTOp::Add, Of(kDate, "2023-11-15"), Of(YM(kIntervalYearToMonth), "1-03"),
       kDate, "2025-02-15"},
      {"date - date", TZNTOp::Subtract, Of(kDate, "2024-03-01"), Of(kDate, "2024-02-01"), kDay,
       "29"},
      {"date - later date", TZNTOp::Subtract, Of(kDate, "2024-02-01"), Of(kDate, "2024-03-01"),
       kDay, "-29"},
      {"date + hours", TZNTOp::Add, Of(kDate, "2024-03-01"), Of(kHour, "30"), kTimestamp,
       "2024-03-02 06:00"},
      {"timestamp + day to second", TZNTOp::Add, Of(kTimestamp, "2024-03-01 23:00"),
       Of(kDayToSecond, "1 01:30:15"), kTimestamp, "2024-03-03 00:30:15"},
      {"timestamp - month", TZNTOp::Subtract, Of(kTimestamp, "2024-03-31 08:15"), Of(kMonth, "1"),
       kTimestamp, "2024-02-29 08:15"},
      {"timestamp - timestamp", TZNTOp::Subtract, Of(kTimestamp, "2024-03-02 06:00"),
       Of(kTimestamp, "2024-03-01 05:30"), kDayToSecond, "1 00:30:00"},
      {"timestamp - date", TZNTOp::Subtract, Of(kTimestamp, "2024-03-02 06:00"),
       Of(kDate, "2024-03-01"), kDayToSecond, "1 06:00:00"},
      {"time wraps at midnight", TZNTOp::Add, Of(kTime, "23:00"), Of(kHour, "2"), kTime, "01:00"},
      {"time wraps back", TZNTOp::Subtract, Of(kTime, "01:00"), Of(kHour, "2"), kTime, "23:00"},
      {"time - time", TZNTOp::Subtract, Of(kTime, "10:30"), Of(kTime, "08:00"),
       DT(kIntervalHour | kIntervalMinute | kIntervalSecond | kIntervalMSecond), "2:30:00.000"},
      {"interval + interval", TZNTOp::Add, Of(kDay, "1"), Of(kHour, "2"),
       DT(kIntervalDay | kIntervalHour), "1 02"},
      {"interval + integer", TZNTOp::Add, Of(kDay, "1"), Int(2), kDay, "3"},
      {"integer + interval", TZNTOp::Add, Int(2), Of(kMonth, "5"), kMonth, "7"},
      {"interval x integer", TZNTOp::Multiply, Of(kHour, "2"), Int(3), kHour, "6"},
      {"integer x interval", TZNTOp::Multiply, Int(3), Of(kMonth, "4"), kMonth, "12"},
      {"interval / integer", TZNTOp::Divide, Of(kDay, "10"), Int(2), kDay, "5"},
      {"interval mod counts the unit", TZNTOp::Mod, Of(kHour, "25"), Int(24), kHour, "1"},
  };
  for (const Case& c : cases) EXPECT_EQ(Show(Arith(c.op, c.a, c.b, c.type)), c.want) << c.what;
}

TEST(EvalArithmetic, DatesOutsideTheCalendarAreOutOfRange) {
  // A TIME has no date for an interval to move it into a TIMESTAMP.
  EXPECT_EQ(ErrorOf([] { Arith(TZNTOp::Add, Of(kHour, "1"), Of(kTime, "10:00"), kTimestamp); }),
            "1011 An error occurred with the value  (A conversion error occurred)");
  EXPECT_NE(ErrorOf([] {
              Arith(TZNTOp::Add, Of(kDate, "9999-12-31"), Of(kDay, "1"), kDate);
            }).find("DATE type"),
            std::string::npos);
  EXPECT_NE(ErrorOf([] {
              Arith(TZNTOp::Subtract, Of(kDate, "0001-01-15"), Of(kMonth, "1"), kDate);
            }).find("DATE type"),
            std::string::npos);
  EXPECT_NE(ErrorOf([] {
              Arith(TZNTOp::Add, Of(kTimestamp, "9999-12-31 23:00"), Of(kHour, "1"), kTimestamp);
            }).find("TIMESTAMP type"),
            std::string::npos);
  EXPECT_NE(ErrorOf([] {
              Arith(TZNTOp::Multiply, Of(kMonth, "1000000"), Int(10000), kMonth);
            }).find("INTERVAL MONTH type"),
            std::string::npos);
}

// ---------------------------------------------------------------------------
// Comparisons, BETWEEN, IN
// ---------------------------------------------------------------------------

TEST(EvalCompare, NullsTextAndMixedTypes) {
  struct Case {
    const char* what;
    TZNTOp op;
    V a, b;
    TZNTTruth want;
  };
  const Case cases[] = {
      {"NULL = NULL", TZNTOp::Equal, Null(kInteger), Null(kInteger), N},
      {"NULL <> 1", TZNTOp::NotEqual, Null(kInteger), Int(1), N},
      {"abc = ABC", TZNTOp::Equal, Str("abc"), Str("ABC"), F},
      {"abc = ABC under CI", TZNTOp::Equal, Str("abc", kTextCI), Str("ABC"), T},
      {"ab < ab blank", TZNTOp::Less, Str("ab"), Str("ab "), T},
      {"ab < ab blank under CI", TZNTOp::Less, Str("ab", kTextCI), Str("ab "), T},
      {"1 = 1.0000", TZNTOp::Equal, Int(1), Scaled(10000), T},
      {"1.5 > 1", TZNTOp::Greater, Scaled(15000), Int(1), T},
      {"2 >= 2.5 float", TZNTOp::GreaterEqual, Int(2), Flt(2.5), F},
      {"date <= timestamp", TZNTOp::LessEqual, Of(kDate, "2024-03-01"),
       Of(kTimestamp, "2024-03-01 00:00"), T},
      {"text converted to the left's type", TZNTOp::Equal, Of(kDate, "2024-03-01"), Str("2024-3-1"),
       T},
  };
  for (const Case& c : cases) EXPECT_EQ(EvalCompare(c.op, c.a, c.b), c.want) << c.what;
  // The collation given wins over the operands' own.
  EXPECT_EQ(EvalCompare(TZNTOp::Equal, Str("abc"), Str("ABC"), kCollationANSI_CI), T);
}

TEST(EvalCompare, BetweenAndIn) {
  EXPECT_EQ(EvalBetween(Int(5), Int(1), Int(5), 0), T);
  EXPECT_EQ(EvalBetween(Int(6), Int(1), Int(5), 0), F);
  EXPECT_EQ(EvalBetween(Int(5), Null(kInteger), Int(10), 0), N);
  EXPECT_EQ(EvalBetween(Str("B"), Str("a"), Str("c"), kCollationANSI_CI), T);
  EXPECT_EQ(EvalBetween(Str("B"), Str("a"), Str("c"), kCollationANSI), F);

  const V one = Int(1), null = Null(kInteger), two = Int(2);
  const std::vector<const TZNTValue*> withNull = {&one, &null};
  EXPECT_EQ(EvalIn(Int(2), withNull, 0), F);  // NULL items are skipped
  EXPECT_EQ(EvalIn(Int(1), withNull, 0), T);
  EXPECT_EQ(EvalIn(Null(kInteger), withNull, 0), N);
  EXPECT_EQ(EvalIn(Int(2), {}, 0), F);
  const std::vector<const TZNTValue*> mixed = {&one, &two};
  EXPECT_EQ(EvalIn(Scaled(20000), mixed, 0), T);

  EXPECT_EQ(EvalIsNull(Null(kInteger), false), T);
  EXPECT_EQ(EvalIsNull(Null(kInteger), true), F);
  EXPECT_EQ(EvalIsNull(Int(0), true), T);
}

// ---------------------------------------------------------------------------
// LIKE
// ---------------------------------------------------------------------------

TEST(EvalLike, MatchesByTheAlgorithm) {
  const uint32_t ci = kCollationANSI_CI;
  struct Case {
    const char* text;
    const char* pattern;
    int escape;
    uint32_t collation;
    bool want;
  };
  const Case cases[] = {
      {"abc", "abc", kNoLikeEscape, 0, true},
      {"abc", "ab", kNoLikeEscape, 0, false},
      {"ab", "abc", kNoLikeEscape, 0, false},
      {"abc", "a%", kNoLikeEscape, 0, true},
      {"abc", "%c", kNoLikeEscape, 0, true},
      {"abc", "%b%", kNoLikeEscape, 0, true},
      {"abc", "%%%", kNoLikeEscape, 0, true},
      {"", "%", kNoLikeEscape, 0, true},
      {"", "_", kNoLikeEscape, 0, false},
      {"", "", kNoLikeEscape, 0, true},
      {"a", "", kNoLikeEscape, 0, false},
      {"abc", "a_c", kNoLikeEscape, 0, true},
      {"ac", "a_c", kNoLikeEscape, 0, false},
      {"abc", "___", kNoLikeEscape, 0, true},
      {"abc", "____", kNoLikeEscape, 0, false},
      // Retrying from the last '%' after a partial match.
      {"abcbd", "a%bd", kNoLikeEscape, 0, true},
      {"mississippi", "%iss%ppi", kNoLikeEscape, 0, true},
      {"mississippi", "m%iss%s", kNoLikeEscape, 0, false},
      {"aaa", "%a%a%a%a", kNoLikeEscape, 0, false},
      {"xaab", "%a_b", kNoLikeEscape, 0, true},
      // Trailing blanks count.
      {"ab ", "ab", kNoLikeEscape, 0, false},
      {"ab ", "ab%", kNoLikeEscape, 0, true},
      // Collations.
      {"abc", "ABC", kNoLikeEscape, 0, false},
      {"abc", "A%C", kNoLikeEscape, ci, true},
      {"\xE4\xE4", "\xC4_", kNoLikeEscape, ci, true},
      {"\xFF", "\x9F", kNoLikeEscape, ci, true},
      {"abc", "A%", kNoLikeEscape, 0x0409 | ci, true},
      // Escapes.
      {"a%b", "a\\%b", '\\', 0, true},
      {"axb", "a\\%b", '\\', 0, false},
      {"a_b", "a\\_b", '\\', 0, true},
      {"axb", "a\\_b", '\\', 0, false},
      {"a\\b", "a\\\\b", '\\', 0, true},
      {"a\\", "a\\", '\\', 0, true},  // an escape at the very end is ordinary
      {"ab", "a\\", '\\', 0, false},
      {"100%", "%!%", '!', 0, true},
      {"100", "%!%", '!', 0, false},
      {"a%", "a%", '%', 0, true},  // the escape character is literal, not a wildcard
      {"ab", "a%", '%', 0, false},
      {"A%", "a!%", '!', ci, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(LikeMatches(c.text, c.pattern, c.escape, c.collation), c.want)
        << "'" << c.text << "' LIKE '" << c.pattern << "'";
}

TEST(EvalLike, ValuesNullsAndEscapeErrors) {
  EXPECT_EQ(EvalLike(Str("Abc", kTextCI), Str("a%")), T);  // the text's collation
  EXPECT_EQ(EvalLike(Str("Abc"), Str("a%")), F);
  EXPECT_EQ(EvalLike(Null(kText), Str("%")), N);
  EXPECT_EQ(EvalLike(Str("a"), Null(kText)), N);
  const V noEscape = Null(kText);
  EXPECT_EQ(EvalLike(Str("a"), Str("%"), &noEscape), N);
  const V esc = Str("!");
  EXPECT_EQ(EvalLike(Str("5%"), Str("_!%"), &esc), T);
  const V two = Str("!!");
  EXPECT_EQ(ErrorOf([&] { EvalLike(Str("a"), Str("a"), &two); }),
            "1011 An error occurred with the value  (only a single character allowed)");
}

// ---------------------------------------------------------------------------
// Scalar functions
// ---------------------------------------------------------------------------

TEST(EvalFunction, KernelTableCoversEveryScalarBuiltIn) {
  // clang-format off
  const std::set<TZNTOp> elsewhere = {
      TZNTOp::FnAborted, TZNTOp::FnBof, TZNTOp::FnEof, TZNTOp::FnErrorCode, TZNTOp::FnErrorMsg,
      TZNTOp::FnLoadingUpdates, TZNTOp::FnRowCount, TZNTOp::FnRowsAffected, TZNTOp::FnSensitive,
      TZNTOp::FnCurrentUser, TZNTOp::FnCurrentDatabase, TZNTOp::FnExists, TZNTOp::FnCase};
  // clang-format on
  for (int i = static_cast<int>(TZNTOp::FnAborted); i <= static_cast<int>(TZNTOp::FnUpper); ++i) {
    const auto op = static_cast<TZNTOp>(i);
    const bool expected = !elsewhere.count(op) && !IsAggregate(op);
    EXPECT_EQ(FindFunctionKernel(op) != nullptr, expected) << FunctionName(op);
  }
  EXPECT_EQ(FindFunctionKernel(TZNTOp::Add), nullptr);
  EXPECT_EQ(FindFunctionKernel(TZNTOp::QuerySpec), nullptr);

  // The session's functions are left untouched for its evaluator.
  V r = Int(7);
  EXPECT_FALSE(EvalFunction(TZNTOp::FnCurrentUser, 0, 0, {}, r));
  EXPECT_FALSE(EvalFunction(TZNTOp::FnSum, 0, 0, {}, r));
  EXPECT_EQ(r.AsInteger(), 7);
}

TEST(EvalFunction, TextFunctions) {
  const V none = Null(kText);
  struct Case {
    const char* what;
    V result;
    const char* want;
  };
  const TZNTDataType kVar5 = TZNTDataType::VarChar(5);
  const Case cases[] = {
      {"RTRIM of blanks is empty", Call(TZNTOp::FnRTrim, kText, {Str("   ")}), ""},
      {"LTRIM", Call(TZNTOp::FnLTrim, kText, {Str("  a b ")}), "a b "},
      {"ALLTRIM", Call(TZNTOp::FnAllTrim, kText, {Str("  a b ")}), "a b"},
      {"RTRIM NULL", Call(TZNTOp::FnRTrim, kText, {none}), "NULL"},
      {"TRIM LEADING",
       Call(TZNTOp::FnTrim, kText, {Str("x"), Str("xxaxx")}, int(TZNTTrimSide::Leading)), "axx"},
      {"TRIM TRAILING",
       Call(TZNTOp::FnTrim, kText, {Str("x"), Str("xxaxx")}, int(TZNTTrimSide::Trailing)), "xxa"},
      {"TRIM BOTH", Call(TZNTOp::FnTrim, kText, {Str("x"), Str("xxaxx")}, int(TZNTTrimSide::Both)),
       "a"},
      {"TRIM is exact", Call(TZNTOp::FnTrim, kTextCI, {Str("x"), Str("XaX", kTextCI)}), "XaX"},
      {"UPPER", Call(TZNTOp::FnUpper, kText, {Str("abc \xE4\xFF\x9A z1")}), "ABC \xC4\x9F\x8A Z1"},
      {"LOWER", Call(TZNTOp::FnLower, kText, {Str("ABC \xC4\x9F\x8A Z1")}), "abc \xE4\xFF\x9A z1"},
      {"UPPER NULL", Call(TZNTOp::FnUpper, kText, {none}), "NULL"},
      {"SUBSTRING", Call(TZNTOp::FnSubstring, kText, {Str("abcdef"), Int(2), Int(3)}), "bcd"},
      {"SUBSTRING from 0", Call(TZNTOp::FnSubstring, kText, {Str("abcdef"), Int(0), Int(2)}), "ab"},
      {"SUBSTRING rest", Call(TZNTOp::FnSubstring, kText, {Str("abcdef"), Int(5)}), "ef"},
      {"SUBSTRING past end", Call(TZNTOp::FnSubstring, kText, {Str("abc"), Int(10), Int(1)}), ""},
      {"SUBSTRING negative count", Call(TZNTOp::FnSubstring, kText, {Str("abc"), Int(1), Int(-1)}),
       ""},
      {"SUBSTRING NULL", Call(TZNTOp::FnSubstring, kText, {none, Int(1)}), "NULL"},
      {"LEFT", Call(TZNTOp::FnLeft, kText, {Str("abc"), Int(2)}), "ab"},
      {"LEFT beyond", Call(TZNTOp::FnLeft, kText, {Str("abc"), Int(5)}), "abc"},
      {"LEFT negative", Call(TZNTOp::FnLeft, kText, {Str("abc"), Int(-1)}), ""},
      {"RIGHT", Call(TZNTOp::FnRight, kText, {Str("abc"), Int(2)}), "bc"},
      {"RIGHT beyond", Call(TZNTOp::FnRight, kText, {Str("abc"), Int(9)}), "abc"},
      {"LENGTH", Call(TZNTOp::FnLength, kInteger, {Str("abc ")}), "4"},
      {"LENGTH NULL", Call(TZNTOp::FnLength, kInteger, {none}), "0"},
      {"CHAR_LENGTH", Call(TZNTOp::FnCharLength, kInteger, {Str("")}), "0"},
      {"POSITION", Call(TZNTOp::FnPosition, kInteger, {Str("cd"), Str("abcdcd")}), "3"},
      {"POSITION absent", Call(TZNTOp::FnPosition, kInteger, {Str("x"), Str("abc")}), "0"},
      {"POSITION is exact", Call(TZNTOp::FnPosition, kInteger, {Str("B"), Str("abc", kTextCI)}),
       "0"},
      {"POSITION in NULL", Call(TZNTOp::FnPosition, kInteger, {Str("a"), none}), "0"},
      {"POSITION of empty", Call(TZNTOp::FnPosition, kInteger, {Str(""), Str("abc")}), "1"},
      {"OCCURS", Call(TZNTOp::FnOccurs, kInteger, {Str("aa"), Str("aaaaa")}), "2"},
      {"OCCURS empty", Call(TZNTOp::FnOccurs, kInteger, {Str(""), Str("abc")}), "0"},
      {"OCCURS NULL", Call(TZNTOp::FnOccurs, kInteger, {Str("a"), none}), "0"},
      {"REPEAT", Call(TZNTOp::FnRepeat, kText, {Str("ab"), Int(3)}), "ababab"},
      {"REPEAT cut", Call(TZNTOp::FnRepeat, kVar5, {Str("ab"), Int(1000000000)}), "ababa"},
      {"REPEAT zero", Call(TZNTOp::FnRepeat, kText, {Str("ab"), Int(0)}), ""},
      {"REPLACE", Call(TZNTOp::FnReplace, kText, {Str("an"), Str("AN!"), Str("banana")}),
       "bAN!AN!a"},
      {"REPLACE empty", Call(TZNTOp::FnReplace, kText, {Str(""), Str("x"), Str("abc")}), "abc"},
      {"REPLACE NULL", Call(TZNTOp::FnReplace, kText, {Str("a"), none, Str("abc")}), "NULL"},
      {"CONCAT", Call(TZNTOp::FnConcat, kText, {Str("ab"), Str("c")}), "abc"},
      {"CONCAT NULL", Call(TZNTOp::FnConcat, kText, {Str("ab"), none}), ""},
  };
  for (const Case& c : cases) EXPECT_EQ(Show(c.result), c.want) << c.what;
  // CONCAT with a NULL is empty text, not NULL.
  EXPECT_FALSE(Call(TZNTOp::FnConcat, kText, {none, none}).IsNull());
  EXPECT_EQ(ErrorOf([&] {
              Call(TZNTOp::FnTrim, kText, {Str("ab"), Str("abc")});
            }),
            "1011 An error occurred with the value  (only a single character allowed)");
}

TEST(EvalFunction, ByteValuesStayBytes) {
  V b(TZNTDataType::VarByte(8));
  b.SetBytes(std::string("\x01\x02\x03", 3));
  EXPECT_EQ(Show(Call(TZNTOp::FnLength, kInteger, {b})), "3");
  EXPECT_EQ(Show(Call(TZNTOp::FnSubstring, TZNTDataType::VarByte(8), {b, Int(2)})), "0203");
}

TEST(EvalFunction, ConditionalsAndCast) {
  const TZNTDataType d2 = Dec(2);
  V yes(kBoolean), no(kBoolean);
  yes.SetBoolean(true);
  no.SetBoolean(false);
  struct Case {
    const char* what;
    V result;
    const char* want;
  };
  const Case cases[] = {
      {"COALESCE first", Call(TZNTOp::FnCoalesce, d2, {Null(d2), Int(0), Int(5)}), "0"},
      {"COALESCE all NULL", Call(TZNTOp::FnCoalesce, d2, {Null(d2), Null(kInteger)}), "NULL"},
      {"COALESCE converts", Call(TZNTOp::FnCoalesce, d2, {Null(d2), Flt(2.675)}), "2.68"},
      {"IF TRUE", Call(TZNTOp::FnIf, kInteger, {yes, Int(1), Int(2)}), "1"},
      {"IF FALSE", Call(TZNTOp::FnIf, kInteger, {no, Int(1), Int(2)}), "2"},
      {"IF NULL", Call(TZNTOp::FnIf, kInteger, {Null(kBoolean), Int(1), Int(2)}), "2"},
      {"IFNULL NULL", Call(TZNTOp::FnIfNull, kText, {Null(kInteger), Str("a"), Str("b")}), "a"},
      {"IFNULL not", Call(TZNTOp::FnIfNull, kText, {Int(0), Str("a"), Str("b")}), "b"},
      {"NULLIF equal", Call(TZNTOp::FnNullIf, kInteger, {Int(1), Int(1)}), "NULL"},
      {"NULLIF differ", Call(TZNTOp::FnNullIf, kInteger, {Int(1), Int(2)}), "1"},
      {"NULLIF NULL", Call(TZNTOp::FnNullIf, kInteger, {Int(1), Null(kInteger)}), "1"},
      {"NULLIF collation", Call(TZNTOp::FnNullIf, kTextCI, {Str("a", kTextCI), Str("A")}), "NULL"},
      {"CAST to date", Call(TZNTOp::FnCast, kDate, {Str("2024-2-3")}), "2024-02-03"},
      {"CAST 1/3 to decimal", Call(TZNTOp::FnCast, d2, {Flt(1.0 / 3)}), "0.33"},
      {"CAST NULL", Call(TZNTOp::FnCast, kInteger, {Null(kText)}), "NULL"},
      {"CAST to char cuts", Call(TZNTOp::FnCast, TZNTDataType::VarChar(2), {Int(12345)}), "12"},
  };
  for (const Case& c : cases) EXPECT_EQ(Show(c.result), c.want) << c.what;
  EXPECT_EQ(ErrorOf([] { Call(TZNTOp::FnCast, kInteger, {Str("x")}); }),
            "1011 An error occurred with the value  (A conversion error occurred)");
}

TEST(EvalFunction, CaseWhen) {
  const V two = Int(2);
  EXPECT_TRUE(CaseWhenMatches(&two, Scaled(20000)));
  EXPECT_FALSE(CaseWhenMatches(&two, Int(3)));
  const V none = Null(kInteger);
  EXPECT_FALSE(CaseWhenMatches(&none, Null(kInteger)));  // NULL never matches
  V cond(kBoolean);
  cond.SetBoolean(true);
  EXPECT_TRUE(CaseWhenMatches(nullptr, cond));
  EXPECT_FALSE(CaseWhenMatches(nullptr, Null(kBoolean)));
}

TEST(EvalFunction, NumericFunctions) {
  const TZNTDataType d2 = Dec(2), d4 = Dec(4);
  struct Case {
    const char* what;
    V result;
    const char* want;
  };
  const Case cases[] = {
      {"ABS integer", Call(TZNTOp::FnAbs, kInteger, {Int(-5)}), "5"},
      {"ABS decimal", Call(TZNTOp::FnAbs, d2, {Scaled(-15000, 2)}), "1.5"},
      {"ABS float", Call(TZNTOp::FnAbs, kFloat, {Flt(-0.25)}), "0.25"},
      {"ABS interval", Call(TZNTOp::FnAbs, kHour, {Of(kHour, "-3")}), "3"},
      {"ABS NULL", Call(TZNTOp::FnAbs, kInteger, {Null(kInteger)}), "NULL"},
      {"ROUND float", Call(TZNTOp::FnRound, kFloat, {Flt(2.5)}), "3"},
      {"ROUND float negative", Call(TZNTOp::FnRound, kFloat, {Flt(-2.5)}), "-3"},
      {"ROUND float TO 2", Call(TZNTOp::FnRound, kFloat, {Flt(1.2351), Int(2)}), "1.24"},
      {"ROUND float TO -2", Call(TZNTOp::FnRound, kFloat, {Flt(1250), Int(-2)}), "1300"},
      {"ROUND huge float", Call(TZNTOp::FnRound, kFloat, {Flt(1e300), Int(5)}), "1E+300"},
      {"TRUNCATE float", Call(TZNTOp::FnTruncate, kFloat, {Flt(-1.239), Int(2)}), "-1.23"},
      {"ROUND decimal", Call(TZNTOp::FnRound, d4, {Scaled(26750), Int(2)}), "2.68"},
      {"ROUND decimal negative", Call(TZNTOp::FnRound, d4, {Scaled(-26750), Int(2)}), "-2.68"},
      {"ROUND decimal TO 0", Call(TZNTOp::FnRound, d4, {Scaled(25000)}), "3"},
      {"ROUND decimal TO -2", Call(TZNTOp::FnRound, d4, {Scaled(12345000), Int(-2)}), "1200"},
      {"ROUND decimal past scale", Call(TZNTOp::FnRound, d2, {Scaled(12300, 2), Int(3)}), "1.23"},
      {"TRUNCATE decimal", Call(TZNTOp::FnTruncate, d4, {Scaled(-26790), Int(2)}), "-2.67"},
      {"ROUND integer unchanged", Call(TZNTOp::FnRound, kInteger, {Int(17), Int(-1)}), "17"},
      {"ROUND TO NULL", Call(TZNTOp::FnRound, kFloat, {Flt(1.5), Null(kInteger)}), "NULL"},
      {"CEILING", Call(TZNTOp::FnCeiling, kInteger, {Flt(1.2)}), "2"},
      {"CEILING negative", Call(TZNTOp::FnCeiling, kInteger, {Flt(-1.2)}), "-1"},
      {"FLOOR negative", Call(TZNTOp::FnFloor, kInteger, {Flt(-1.2)}), "-2"},
      {"CEILING decimal", Call(TZNTOp::FnCeiling, kInteger, {Scaled(-15000)}), "-1"},
      {"FLOOR decimal", Call(TZNTOp::FnFloor, kInteger, {Scaled(-15000)}), "-2"},
      {"CEILING decimal up", Call(TZNTOp::FnCeiling, kInteger, {Scaled(10001)}), "2"},
      {"FLOOR whole decimal", Call(TZNTOp::FnFloor, kInteger, {Scaled(-20000)}), "-2"},
      {"FLOOR integer", Call(TZNTOp::FnFloor, kInteger, {Int(-7)}), "-7"},
      {"SIGN", Call(TZNTOp::FnSign, kInteger, {Flt(-3.5)}), "-1"},
      {"SIGN zero", Call(TZNTOp::FnSign, kInteger, {Scaled(0)}), "0"},
      {"SIGN integer", Call(TZNTOp::FnSign, kInteger, {Int(42)}), "1"},
  };
  for (const Case& c : cases) EXPECT_EQ(Show(c.result), c.want) << c.what;
  EXPECT_NE(ErrorOf([] { Call(TZNTOp::FnAbs, kInteger, {Int(INT32_MIN)}); }).find("INTEGER type"),
            std::string::npos);
  EXPECT_NE(ErrorOf([] { Call(TZNTOp::FnCeiling, kInteger, {Flt(1e12)}); }).find("INTEGER type"),
            std::string::npos);
}

TEST(EvalFunction, MathFunctionsGiveNullOnDomainErrors) {
  struct Case {
    const char* what;
    TZNTOp op;
    std::vector<double> args;
    std::optional<double> want;  // nullopt: NULL
  };
  const double pi = std::numbers::pi;
  const Case cases[] = {
      {"ACOS(2)", TZNTOp::FnAcos, {2}, std::nullopt},
      {"ACOS(1)", TZNTOp::FnAcos, {1}, 0.0},
      {"ASIN(-1.5)", TZNTOp::FnAsin, {-1.5}, std::nullopt},
      {"LOG(0)", TZNTOp::FnLog, {0}, std::nullopt},
      {"LOG(-1)", TZNTOp::FnLog, {-1}, std::nullopt},
      {"LOG(e)", TZNTOp::FnLog, {std::numbers::e}, 1.0},
      {"LOG10(100)", TZNTOp::FnLog10, {100}, 2.0},
      {"LOG10(0)", TZNTOp::FnLog10, {0}, std::nullopt},
      {"SQRT(-1)", TZNTOp::FnSqrt, {-1}, std::nullopt},
      {"SQRT(2.25)", TZNTOp::FnSqrt, {2.25}, 1.5},
      {"EXP(0)", TZNTOp::FnExp, {0}, 1.0},
      {"EXP(1000)", TZNTOp::FnExp, {1000}, std::nullopt},
      {"COT(0)", TZNTOp::FnCot, {0}, std::nullopt},
      {"COT(pi/4)", TZNTOp::FnCot, {pi / 4}, 1.0},
      {"SIN", TZNTOp::FnSin, {pi / 2}, 1.0},
      {"COS", TZNTOp::FnCos, {0}, 1.0},
      {"TAN", TZNTOp::FnTan, {pi / 4}, 1.0},
      {"ATAN", TZNTOp::FnAtan, {1}, pi / 4},
      {"ATAN2", TZNTOp::FnAtan2, {1, -1}, 3 * pi / 4},
      {"POWER", TZNTOp::FnPower, {2, 10}, 1024.0},
      {"POWER(0, -1)", TZNTOp::FnPower, {0, -1}, std::nullopt},
      {"POWER(-8, 0.5)", TZNTOp::FnPower, {-8, 0.5}, std::nullopt},
      {"POWER(10, 400)", TZNTOp::FnPower, {10, 400}, std::nullopt},
      {"DEGREES", TZNTOp::FnDegrees, {pi}, 180.0},
      {"RADIANS", TZNTOp::FnRadians, {180}, pi},
      {"PI", TZNTOp::FnPi, {}, pi},
  };
  for (const Case& c : cases) {
    std::vector<V> values;
    for (double d : c.args) values.push_back(Flt(d));
    std::vector<const TZNTValue*> ptrs;
    for (const V& v : values) ptrs.push_back(&v);
    V r(kFloat);
    ASSERT_TRUE(EvalFunction(c.op, 0, 0, ptrs, r));
    if (c.want)
      EXPECT_NEAR(r.AsFloat(), *c.want, 1e-12) << c.what;
    else
      EXPECT_TRUE(r.IsNull()) << c.what << " gave " << Show(r);
  }
  // Other number types convert; NULL stays NULL.
  EXPECT_DOUBLE_EQ(Call(TZNTOp::FnSqrt, kFloat, {Scaled(22500)}).AsFloat(), 1.5);
  EXPECT_TRUE(Call(TZNTOp::FnSqrt, kFloat, {Null(kInteger)}).IsNull());
  EXPECT_TRUE(Call(TZNTOp::FnPower, kFloat, {Int(2), Null(kInteger)}).IsNull());
}

TEST(EvalFunction, ExtractFields) {
  using X = TZNTExtractField;
  const V date = Of(kDate, "2024-03-01");  // a Friday
  const V ts = Of(kTimestamp, "2024-03-01 13:45:30.250");
  struct Case {
    const char* what;
    X field;
    const V& from;
    int want;
  };
  const V jan1 = Of(kDate, "2024-01-01");  // a Monday: week 1 runs from Sunday Dec 31
  const V jan7 = Of(kDate, "2024-01-07");  // the first Sunday starts week 2
  const V dec31 = Of(kDate, "2024-12-31");
  const V sunJan1 = Of(kDate, "2023-01-01");  // a Sunday
  const V satJan7 = Of(kDate, "2023-01-07");
  const V time = Of(kTime, "07:08");
  const Case cases[] = {
      {"YEAR", X::Year, date, 2024},
      {"MONTH", X::Month, date, 3},
      {"DAY", X::Day, date, 1},
      {"DAYOFWEEK Friday", X::DayOfWeek, date, 6},
      {"DAYOFWEEK Sunday", X::DayOfWeek, jan7, 1},
      {"DAYOFYEAR", X::DayOfYear, date, 61},
      {"DAYOFYEAR leap end", X::DayOfYear, dec31, 366},
      {"WEEK", X::Week, date, 9},
      {"WEEK Jan 1", X::Week, jan1, 1},
      {"WEEK first Sunday", X::Week, jan7, 2},
      {"WEEK Dec 31", X::Week, dec31, 53},
      {"WEEK Sunday Jan 1", X::Week, sunJan1, 1},
      {"WEEK Saturday after", X::Week, satJan7, 1},
      {"YEAR of timestamp", X::Year, ts, 2024},
      {"HOUR", X::Hour, ts, 13},
      {"MINUTE", X::Minute, ts, 45},
      {"SECOND", X::Second, ts, 30},
      {"MSECOND", X::MSecond, ts, 250},
      {"HOUR of time", X::Hour, time, 7},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Show(Call(TZNTOp::FnExtract, kInteger, {c.from}, static_cast<int>(c.field))),
              std::to_string(c.want))
        << c.what;
  EXPECT_TRUE(Call(TZNTOp::FnExtract, kInteger, {Null(kDate)}, int(X::Year)).IsNull());
}

TEST(EvalFunction, ClockFunctionsReadTheInstalledClock) {
  int32_t day = 0;
  ASSERT_TRUE(TryEncodeDate(2024, 3, 1, day));
  TZNTFixedClock clock(EncodeTimestamp(day, 13 * 3600000 + 5 * 60000));
  EXPECT_EQ(Show(Call(TZNTOp::FnCurrentDate, kDate, {})), "2024-03-01");
  EXPECT_EQ(Show(Call(TZNTOp::FnCurrentTime, kTime, {})), "13:05");
  EXPECT_EQ(Show(Call(TZNTOp::FnCurrentTimestamp, kTimestamp, {})), "2024-03-01 13:05");
  EXPECT_EQ(Show(Call(TZNTOp::FnCurrentDate, kDate, {}, 0, kNodeUTC)), "2024-03-01");
  // CURRENT_DATE minus one DAY is yesterday.
  V yesterday =
      Arith(TZNTOp::Subtract, Call(TZNTOp::FnCurrentDate, kDate, {}), Of(kDay, "1"), kDate);
  EXPECT_EQ(Show(yesterday), "2024-02-29");
}

TEST(EvalFunction, VersionGuidAndRand) {
  EXPECT_EQ(Show(Call(TZNTOp::FnCurrentVersion, Dec(2), {})), "2.02");

  const std::string g1 = Show(Call(TZNTOp::FnCurrentGuid, TZNTDataType::Guid(), {}));
  const std::string g2 = Show(Call(TZNTOp::FnCurrentGuid, TZNTDataType::Guid(), {}));
  ASSERT_EQ(g1.size(), 38u);
  EXPECT_NE(g1, g2);
  for (size_t i = 0; i < g1.size(); ++i) {
    const char c = g1[i];
    if (i == 0)
      EXPECT_EQ(c, '{');
    else if (i == 37)
      EXPECT_EQ(c, '}');
    else if (i == 9 || i == 14 || i == 19 || i == 24)
      EXPECT_EQ(c, '-') << g1;
    else
      EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << g1;
  }
  EXPECT_EQ(g1[15], '4') << g1;  // a random GUID

  std::set<int> seen;
  for (int i = 0; i < 1000; ++i) {
    const double f = Call(TZNTOp::FnRand, kFloat, {}).AsFloat();
    EXPECT_TRUE(f >= 0 && f < 1) << f;
    const int r = Call(TZNTOp::FnRand, kInteger, {Int(10)}).AsInteger();
    EXPECT_TRUE(r >= 0 && r < 10) << r;
    seen.insert(r);
  }
  EXPECT_EQ(seen.size(), 10u);
  EXPECT_TRUE(Call(TZNTOp::FnRand, kInteger, {Int(0)}).IsNull());
  EXPECT_TRUE(Call(TZNTOp::FnRand, kInteger, {Null(kInteger)}).IsNull());
}

// ---------------------------------------------------------------------------
// Aggregates
// ---------------------------------------------------------------------------

std::string Aggregate(TZNTOp op, const TZNTDataType& argType, const TZNTDataType& resultType,
                      const std::vector<V>& rows, TZNTAggregateOptions options = {}) {
  auto a = MakeAggregate(op, argType, options);
  EXPECT_NE(a, nullptr);
  if (!a) return "";
  for (const V& v : rows) a->Accumulate(v);
  V r(resultType);
  a->Result(r);
  return Show(r);
}

TEST(EvalAggregate, EmptyGroups) {
  const std::vector<V> none;
  const std::vector<V> nulls = {Null(kInteger), Null(kInteger)};
  EXPECT_EQ(Aggregate(TZNTOp::FnSum, kInteger, kBigInt, none), "NULL");
  EXPECT_EQ(Aggregate(TZNTOp::FnSum, kInteger, kBigInt, nulls), "NULL");
  EXPECT_EQ(Aggregate(TZNTOp::FnCount, kInteger, kInteger, none), "0");
  EXPECT_EQ(Aggregate(TZNTOp::FnCount, kInteger, kInteger, nulls), "0");
  EXPECT_EQ(Aggregate(TZNTOp::FnCount, kInteger, kInteger, nulls, {.countStar = true}), "2");
  EXPECT_EQ(Aggregate(TZNTOp::FnAvg, kInteger, kInteger, nulls), "NULL");
  EXPECT_EQ(Aggregate(TZNTOp::FnMin, kInteger, kInteger, none), "NULL");
  EXPECT_EQ(Aggregate(TZNTOp::FnMax, kInteger, kInteger, nulls), "NULL");
  EXPECT_EQ(Aggregate(TZNTOp::FnStdDev, kInteger, kFloat, none), "NULL");
  EXPECT_EQ(Aggregate(TZNTOp::FnList, kText, TZNTDataType::Clob(), none), "NULL");

  // The sum of COALESCE(_Income, 0) over no rows is NULL; COALESCE of it with 0 is 0.
  V sum(Dec(2));
  MakeAggregate(TZNTOp::FnSum, Dec(2))->Result(sum);
  EXPECT_EQ(Show(Call(TZNTOp::FnCoalesce, Dec(2), {sum, Int(0)})), "0");
}

TEST(EvalAggregate, DecimalSumIsExact) {
  auto sum = MakeAggregate(TZNTOp::FnSum, Dec(2));
  auto fsum = MakeAggregate(TZNTOp::FnSum, kFloat);
  const V cent = Of(Dec(2), "0.01");
  const V fcent = Flt(0.01);
  for (int i = 0; i < 1000000; ++i) {
    sum->Accumulate(cent);
    fsum->Accumulate(fcent);
  }
  V r(Dec(2)), f(kFloat);
  sum->Result(r);
  fsum->Result(f);
  EXPECT_EQ(r.AsDecimal(), 100000000);
  EXPECT_EQ(r.AsString(), "10000");
  EXPECT_NE(f.AsFloat(), 10000.0);  // what exactness buys
}

TEST(EvalAggregate, SumsAndAverages) {
  const std::vector<V> small = {Int(30000, kSmallInt), Int(30000, kSmallInt), Null(kSmallInt)};
  const std::vector<V> ints = {Int(INT32_MAX), Int(INT32_MAX), Int(INT32_MAX)};
  const std::vector<V> avgInts = {Int(1), Int(2), Int(-7)};
  const std::vector<V> decimals = {Scaled(100, 2), Scaled(200, 2)};  // 0.01, 0.02
  const std::vector<V> tieDown = {Scaled(1), Scaled(0)};             // 0.00005 -> 0
  const std::vector<V> tieUp = {Scaled(1), Scaled(2)};               // 0.00015 -> 0.0002
  const std::vector<V> floats = {Flt(1), Flt(2), Null(kFloat)};
  const std::vector<V> hours = {Of(kHour, "2"), Of(kHour, "3"), Of(kHour, "5")};
  EXPECT_EQ(Aggregate(TZNTOp::FnSum, kSmallInt, kInteger, small), "60000");
  EXPECT_EQ(Aggregate(TZNTOp::FnSum, kInteger, kBigInt, ints), "6442450941");
  EXPECT_EQ(Aggregate(TZNTOp::FnSum, kFloat, kFloat, floats), "3");
  EXPECT_EQ(Aggregate(TZNTOp::FnSum, kHour, kHour, hours), "10");
  EXPECT_EQ(Aggregate(TZNTOp::FnAvg, kInteger, kInteger, avgInts), "-1");  // -4/3 toward zero
  EXPECT_EQ(Aggregate(TZNTOp::FnAvg, Dec(2), Dec(2), decimals), "0.02");   // 0.015 half away
  EXPECT_EQ(Aggregate(TZNTOp::FnAvg, Dec(4), Dec(4), tieDown), "0");
  EXPECT_EQ(Aggregate(TZNTOp::FnAvg, Dec(4), Dec(4), tieUp), "0.0002");
  EXPECT_EQ(Aggregate(TZNTOp::FnAvg, kFloat, kFloat, floats), "1.5");
  EXPECT_EQ(Aggregate(TZNTOp::FnAvg, kHour, kHour, hours), "3");  // 3:20 shown in hours

  const std::vector<V> huge = {Int(INT64_MAX, kBigInt), Int(1, kBigInt)};
  EXPECT_NE(ErrorOf([&] { Aggregate(TZNTOp::FnSum, kBigInt, kBigInt, huge); }).find("BIGINT type"),
            std::string::npos);
  // The average of values whose sum exceeds 64 bits is still exact.
  EXPECT_EQ(Aggregate(TZNTOp::FnAvg, kBigInt, kBigInt,
                      {Int(INT64_MAX, kBigInt), Int(INT64_MAX - 2, kBigInt)}),
            std::to_string(INT64_MAX - 1));
}

TEST(EvalAggregate, CountMinMaxStdDevList) {
  const std::vector<V> values = {Int(3), Null(kInteger), Int(-1), Int(7)};
  EXPECT_EQ(Aggregate(TZNTOp::FnCount, kInteger, kInteger, values), "3");
  EXPECT_EQ(Aggregate(TZNTOp::FnCount, kInteger, kInteger, values, {.countStar = true}), "4");
  EXPECT_EQ(Aggregate(TZNTOp::FnMin, kInteger, kInteger, values), "-1");
  EXPECT_EQ(Aggregate(TZNTOp::FnMax, kInteger, kInteger, values), "7");

  // Under ANSI capitals sort first; under ANSI_CI they compare as their letters.
  const std::vector<V> words = {Str("b"), Str("B"), Str("a"), Str("C")};
  EXPECT_EQ(Aggregate(TZNTOp::FnMin, kText, kText, words), "B");
  EXPECT_EQ(Aggregate(TZNTOp::FnMax, kText, kText, words), "b");
  const std::vector<V> wordsCI = {Str("b", kTextCI), Str("B", kTextCI), Str("a", kTextCI),
                                  Str("C", kTextCI)};
  EXPECT_EQ(Aggregate(TZNTOp::FnMin, kTextCI, kTextCI, wordsCI), "a");
  EXPECT_EQ(Aggregate(TZNTOp::FnMax, kTextCI, kTextCI, wordsCI), "C");
  const std::vector<V> dates = {Of(kDate, "2024-03-01"), Of(kDate, "2023-12-31")};
  EXPECT_EQ(Aggregate(TZNTOp::FnMin, kDate, kDate, dates), "2023-12-31");

  std::vector<V> sample;
  for (int x : {2, 4, 4, 4, 5, 5, 7, 9}) sample.push_back(Int(x));
  auto dev = MakeAggregate(TZNTOp::FnStdDev, kInteger);
  for (const V& v : sample) dev->Accumulate(v);
  V r(kFloat);
  dev->Result(r);
  EXPECT_DOUBLE_EQ(r.AsFloat(), std::sqrt(32.0 / 7.0));  // the sample deviation
  EXPECT_EQ(Aggregate(TZNTOp::FnStdDev, kInteger, kFloat, {Int(5)}), "NULL");
  EXPECT_EQ(Aggregate(TZNTOp::FnStdDev, kFloat, kFloat, {Flt(0.1), Flt(0.1), Flt(0.1)}), "0");

  const std::vector<V> items = {Str("a"), Null(kText), Str("b c"), Str("")};
  EXPECT_EQ(Aggregate(TZNTOp::FnList, kText, TZNTDataType::Clob(), items), "a,b c,");
  EXPECT_EQ(Aggregate(TZNTOp::FnList, kText, TZNTDataType::Clob(), items, {.separator = "; "}),
            "a; b c; ");
}

TEST(EvalAggregate, RunningSumDistinctAndReset) {
  auto run = MakeAggregate(TZNTOp::FnRunSum, kInteger);
  std::vector<std::string> after;
  for (const V& v : {Null(kInteger), Int(1), Int(2), Null(kInteger), Int(3)}) {
    run->Accumulate(v);
    V r(kBigInt);
    run->Result(r);
    after.push_back(Show(r));
  }
  EXPECT_EQ(after, (std::vector<std::string>{"NULL", "1", "3", "3", "6"}));
  run->Reset();
  V r(kBigInt);
  run->Result(r);
  EXPECT_TRUE(r.IsNull());

  const std::vector<V> repeats = {Int(1), Int(1), Int(2), Null(kInteger), Int(2)};
  const TZNTAggregateOptions distinct{.distinct = true};
  EXPECT_EQ(Aggregate(TZNTOp::FnCount, kInteger, kInteger, repeats, distinct), "2");
  EXPECT_EQ(Aggregate(TZNTOp::FnSum, kInteger, kBigInt, repeats, distinct), "3");
  const std::vector<V> letters = {Str("a", kTextCI), Str("A", kTextCI), Str("b", kTextCI)};
  EXPECT_EQ(Aggregate(TZNTOp::FnCount, kTextCI, kInteger, letters, distinct), "2");

  auto count = MakeAggregate(TZNTOp::FnCount, kInteger, distinct);
  count->Accumulate(Int(1));
  count->Reset();
  count->Accumulate(Int(1));
  V c(kInteger);
  count->Result(c);
  EXPECT_EQ(c.AsInteger(), 1);  // Reset forgets the values seen

  EXPECT_EQ(MakeAggregate(TZNTOp::FnAbs, kInteger), nullptr);
}

}  // namespace
}  // namespace znt
