#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "base/zntdatetime.h"
#include "base/znterror.h"
#include "sql/zntvalue.h"

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

TZNTDataType YM(uint8_t q) { return TZNTDataType::Interval(TZNTTypeCode::YearMonthInterval, q); }
TZNTDataType DT(uint8_t q) { return TZNTDataType::Interval(TZNTTypeCode::DayTimeInterval, q); }

int32_t Day(int y, int m, int d) {
  int32_t day = 0;
  EXPECT_TRUE(TryEncodeDate(y, m, d, day));
  return day;
}

// The detail message of the 1011 error `f` raises, or "" when it raises none.
template <typename F>
std::string ValueError(F f) {
  try {
    f();
  } catch (const EZNTException& e) {
    EXPECT_EQ(e.ErrorCode(), 1011);
    return e.ErrorMessage();
  }
  return "";
}

std::string Text(const TZNTDataType& type, const char* text) {
  TZNTContainedValue v(type);
  v.SetString(text);
  return v.AsString();
}

// ---------------------------------------------------------------------------
// NULL and storage
// ---------------------------------------------------------------------------

TEST(Value, NullStoresZeroAndSettersClearIt) {
  TZNTContainedValue v(kInteger);
  EXPECT_TRUE(v.IsNull());
  v.SetInteger(7);
  EXPECT_FALSE(v.IsNull());
  v.SetNull();
  EXPECT_TRUE(v.IsNull());
  // Getters on NULL give the zero of their own type, never a conversion error.
  EXPECT_EQ(v.AsInteger(), 0);
  EXPECT_EQ(v.AsString(), "");
  EXPECT_FALSE(v.AsBoolean());

  TZNTContainedValue text(TZNTDataType::VarChar(10));
  text.SetString("abc");
  text.SetNull();
  EXPECT_EQ(text.AsStringView(), "");
  EXPECT_EQ(text.AsInteger(), 0);

  // A new type makes the value NULL.
  v.SetInteger(3);
  v.SetDataType(kFloat);
  EXPECT_TRUE(v.IsNull());
}

TEST(Value, TextSettersReuseTheBuffer) {
  TZNTContainedValue v(TZNTDataType::VarChar(100));
  v.SetString(std::string(80, 'x'));
  const char* before = v.AsStringView().data();
  v.SetString("short");
  v.SetInteger(12345);  // a number converted into the same buffer
  EXPECT_EQ(v.AsStringView(), "12345");
  EXPECT_EQ(v.AsStringView().data(), before);
  // Assigning a value's own text to itself is safe.
  v.SetString(v.AsStringView().substr(1));
  EXPECT_EQ(v.AsString(), "2345");
}

TEST(Value, ReferencedValueReadsAndWritesItsTarget) {
  TZNTContainedValue column(kInteger, TZNTValueKind::Column, "_X", true);
  TZNTReferencedValue ref(&column);
  EXPECT_EQ(ref.DataType(), kInteger);
  EXPECT_TRUE(ref.IsNull());
  ref.SetString("42");
  EXPECT_EQ(column.AsInteger(), 42);
  column.SetInteger(-5);
  EXPECT_EQ(ref.AsBigInt(), -5);
  // Errors name the target it took over.
  EXPECT_EQ(ValueError([&] { ref.SetBigInt(1LL << 40); }),
            "An error occurred with the column _X (The value is out of the range of permissible "
            "values for the INTEGER type)");
  ref.Reference(nullptr);
  EXPECT_TRUE(ref.IsNull());
}

TEST(Value, ValuesListFindsByNameWithoutCase) {
  TZNTValues params;
  params.AddContained(kInteger, TZNTValueKind::Parameter, "Year").SetInteger(2008);
  params.AddContained(TZNTDataType::VarChar(20), TZNTValueKind::Parameter, "Name");
  EXPECT_EQ(params.Count(), 2u);
  ASSERT_NE(params.Find("YEAR"), nullptr);
  EXPECT_EQ(params.Find("year")->AsInteger(), 2008);
  EXPECT_EQ(params.IndexOf("name"), 1);
  EXPECT_EQ(params.Find("Other"), nullptr);
  params.Add(std::make_unique<TZNTContainedValue>(kFloat));
  EXPECT_EQ(params[2].TypeCode(), TZNTTypeCode::Float);
}

// ---------------------------------------------------------------------------
// Conversions
// ---------------------------------------------------------------------------

TEST(Value, ConvertsToText) {
  struct Case {
    const char* what;
    std::function<void(TZNTValue&)> set;
    TZNTDataType type;
    const char* want;
  };
  const Case cases[] = {
      {"true", [](TZNTValue& v) { v.SetBoolean(true); }, kBoolean, "TRUE"},
      {"false", [](TZNTValue& v) { v.SetBoolean(false); }, kBoolean, "FALSE"},
      {"smallint", [](TZNTValue& v) { v.SetSmallInt(-32768); }, kSmallInt, "-32768"},
      {"bigint", [](TZNTValue& v) { v.SetBigInt(INT64_MIN); }, kBigInt, "-9223372036854775808"},
      {"float", [](TZNTValue& v) { v.SetFloat(0.1); }, kFloat, "0.1"},
      {"decimal", [](TZNTValue& v) { v.SetDecimal(125000); }, TZNTDataType::Decimal(2), "12.5"},
      {"decimal whole", [](TZNTValue& v) { v.SetDecimal(120000); }, TZNTDataType::Decimal(2), "12"},
      {"date", [](TZNTValue& v) { v.SetDate(Day(2024, 2, 3)); }, kDate, "2024-02-03"},
      {"time", [](TZNTValue& v) { v.SetTime(13 * 3600000 + 5 * 60000); }, kTime, "13:05"},
      {"time ms", [](TZNTValue& v) { v.SetTime(61001); }, kTime, "00:01:01.001"},
      {"timestamp", [](TZNTValue& v) { v.SetTimestamp(EncodeTimestamp(Day(2008, 1, 1), 30000)); },
       kTimestamp, "2008-01-01 00:00:30"},
      {"bytes", [](TZNTValue& v) { v.SetBytes(std::string("\x00\xAB\x7f", 3)); },
       TZNTDataType::VarByte(4), "00AB7F"},
  };
  for (const Case& c : cases) {
    TZNTContainedValue v(c.type);
    c.set(v);
    EXPECT_EQ(v.AsString(), c.want) << c.what;
    // The same text lands in a character value through Assign.
    TZNTContainedValue text(TZNTDataType::VarChar(40));
    text.Assign(v);
    EXPECT_EQ(text.AsStringView(), c.want) << c.what;
  }
}

TEST(Value, ConvertsFromText) {
  struct Case {
    TZNTDataType type;
    const char* text;
    const char* want;  // the value's text form afterwards
  };
  const Case cases[] = {
      {kBoolean, "true", "TRUE"},
      {kBoolean, "FaLsE", "FALSE"},
      {kSmallInt, "-32768", "-32768"},
      {kInteger, "2147483647", "2147483647"},
      {kBigInt, "-9223372036854775808", "-9223372036854775808"},
      {kFloat, "-1.5e3", "-1500"},
      {kFloat, "2.5E-7", "2.5E-7"},
      {kFloat, ".5", "0.5"},
      {TZNTDataType::Decimal(2), "2.675", "2.68"},
      {TZNTDataType::Decimal(2), "-2.675", "-2.68"},
      {kDate, "2024-2-3", "2024-02-03"},
      {kDate, " 2024 - 12 - 31 ", "2024-12-31"},
      {kTime, "12:30 AM", "00:30"},
      {kTime, "1:02:03.4 PM", "13:02:03.400"},
      {kTimestamp, "2008-01-01", "2008-01-01 00:00"},
      {kTimestamp, "2008-01-01 23:59:59.999", "2008-01-01 23:59:59.999"},
      {TZNTDataType::VarByte(4), "00ab7F", "00AB7F"},
      {kInteger, "  12  ", "12"},  // fixed-length text arrives padded
  };
  for (const Case& c : cases) EXPECT_EQ(Text(c.type, c.text), c.want) << c.text;
}

TEST(Value, RefusesTextOfTheWrongForm) {
  struct Case {
    TZNTDataType type;
    const char* text;
  };
  const Case cases[] = {
      {kBoolean, "yes"},
      {kInteger, "+1"},
      {kInteger, "1.5"},
      {kInteger, ""},
      {kBigInt, "-"},
      {kFloat, "1e"},
      {kFloat, "1.2.3"},
      {kFloat, "1e5e5"},
      {kFloat, "nan"},
      {TZNTDataType::Decimal(2), "1,5"},
      {kDate, "2024-02-30"},
      {kDate, "2024-13-01"},
      {kDate, "10000-01-01"},
      {kTime, "24:00"},
      {kTime, "12:60"},
      {kTime, "13:00 PM"},
      {kTimestamp, "2008-01-01T10:00"},
      {TZNTDataType::VarByte(4), "ABC"},
      {TZNTDataType::VarByte(4), "GG"},
      {YM(kIntervalYearToMonth), "1-12"},
      {DT(kIntervalHour | kIntervalMinute), "1:60"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ValueError([&] { Text(c.type, c.text); }),
              "An error occurred with the value  (A conversion error occurred)")
        << c.text;
}

TEST(Value, NumbersConvertWithRangeChecks) {
  // The out-of-range message names the target type in capitals.
  TZNTContainedValue x(kInteger, TZNTValueKind::Column, "_X");
  EXPECT_EQ(ValueError([&] { x.SetBigInt(2147483648LL); }),
            "An error occurred with the column _X (The value is out of the range of permissible "
            "values for the INTEGER type)");
  EXPECT_EQ(ValueError([&] { x.SetString("2147483648"); }),
            "An error occurred with the column _X (The value is out of the range of permissible "
            "values for the INTEGER type)");
  x.SetBigInt(-2147483648LL);
  EXPECT_EQ(x.AsInteger(), INT32_MIN);
  EXPECT_EQ(ValueError([&] { x.AsSmallInt(); }),
            "An error occurred with the column _X (The value is out of the range of permissible "
            "values for the SMALLINT type)");

  TZNTContainedValue s(kSmallInt, TZNTValueKind::Variable, "n");
  EXPECT_EQ(ValueError([&] { s.SetInteger(32768); }),
            "An error occurred with the variable n (The value is out of the range of permissible "
            "values for the SMALLINT type)");

  // FLOAT and DECIMAL go to integers truncated toward zero, then checked.
  TZNTContainedValue i(kInteger);
  i.SetFloat(-2.99);
  EXPECT_EQ(i.AsInteger(), -2);
  i.SetDecimal(-29900);
  EXPECT_EQ(i.AsInteger(), -2);
  EXPECT_NE(ValueError([&] { i.SetFloat(3e9); }), "");
  EXPECT_NE(ValueError([&] { i.SetFloat(NAN); }), "");
  TZNTContainedValue big(kBigInt);
  EXPECT_NE(ValueError([&] { big.SetFloat(9.3e18); }), "");
  EXPECT_NE(ValueError([&] { big.SetString("9223372036854775808"); }), "");

  // Integers and DECIMAL to FLOAT and back to DECIMAL.
  TZNTContainedValue f(kFloat);
  f.SetDecimal(-12345);
  EXPECT_DOUBLE_EQ(f.AsFloat(), -1.2345);
  f.SetBigInt(1LL << 53);
  EXPECT_EQ(f.AsBigInt(), 1LL << 53);
  TZNTContainedValue d(TZNTDataType::Decimal(4), TZNTValueKind::Column, "_D");
  EXPECT_EQ(ValueError([&] { d.SetBigInt(INT64_MAX / 1000); }),
            "An error occurred with the column _D (The value is out of the range of permissible "
            "values for the DECIMAL type)");
  EXPECT_NE(ValueError([&] { d.SetFloat(1e300); }), "");
}

TEST(Value, BooleanConvertsWithNumbers) {
  TZNTContainedValue b(kBoolean);
  b.SetFloat(0.0);
  EXPECT_FALSE(b.AsBoolean());
  b.SetDecimal(1);  // 0.0001 is not zero
  EXPECT_TRUE(b.AsBoolean());
  b.SetInteger(-3);
  EXPECT_TRUE(b.AsBoolean());
  EXPECT_EQ(b.AsInteger(), 1);
  EXPECT_EQ(b.AsDecimal(), 10000);
  EXPECT_NE(ValueError([&] { b.SetDate(5); }), "");
}

TEST(Value, DecimalRoundsAtTheDocumentedPoints) {
  TZNTContainedValue d2(TZNTDataType::Decimal(2));
  // Storing rounds half away from zero on the scaled value.
  d2.SetDecimal(26750);
  EXPECT_EQ(d2.AsDecimal(), 26800);
  d2.SetDecimal(-26750);
  EXPECT_EQ(d2.AsDecimal(), -26800);
  // 1 / 3 is a FLOAT; a DECIMAL(20,2) assigned it keeps 0.33.
  TZNTContainedValue third(kFloat);
  third.SetFloat(1.0 / 3.0);
  d2.Assign(third);
  EXPECT_EQ(d2.AsString(), "0.33");
  // FLOAT to DECIMAL first rounds x * 10000 to the nearest, ties to even.
  TZNTContainedValue d4(TZNTDataType::Decimal(4));
  d4.SetFloat(0.00125);  // 12.5 ten-thousandths
  EXPECT_EQ(d4.AsDecimal(), 12);
  d4.SetFloat(0.00135);  // 13.5
  EXPECT_EQ(d4.AsDecimal(), 14);
  d4.SetFloat(-0.00125);
  EXPECT_EQ(d4.AsDecimal(), -12);
  // ...and only then to the scale.
  TZNTContainedValue d0(TZNTDataType::Decimal(0));
  d0.SetFloat(2.5);
  EXPECT_EQ(d0.AsString(), "3");
  d0.SetString("-0.5");
  EXPECT_EQ(d0.AsString(), "-1");
  // Integers go in exactly.
  d2.SetInteger(-7);
  EXPECT_EQ(d2.AsDecimal(), -70000);
}

TEST(Value, DatesAndTimesConvert) {
  const int32_t day = Day(2024, 2, 29);
  const int64_t ts = EncodeTimestamp(day, 45296789);  // 12:34:56.789
  TZNTContainedValue stamp(kTimestamp);
  stamp.SetTimestamp(ts);
  EXPECT_EQ(stamp.AsDate(), day);
  EXPECT_EQ(stamp.AsTime(), 45296789);
  TZNTContainedValue date(kDate);
  date.Assign(stamp);
  EXPECT_EQ(date.AsDate(), day);
  EXPECT_EQ(date.AsTimestamp(), EncodeTimestamp(day, 0));
  TZNTContainedValue time(kTime);
  time.Assign(stamp);
  EXPECT_EQ(time.AsString(), "12:34:56.789");
  // A time has no date to give a timestamp.
  EXPECT_NE(ValueError([&] { stamp.Assign(time); }), "");
  EXPECT_NE(ValueError([&] { date.SetInteger(5); }), "");
  // Stored numbers outside the type's range are refused.
  EXPECT_NE(ValueError([&] { date.SetDate(0); }), "");
  EXPECT_NE(ValueError([&] { date.SetDate(MaxDayNumber() + 1); }), "");
  EXPECT_NE(ValueError([&] { time.SetTime(kMSecsPerDay); }), "");
  EXPECT_NE(ValueError([&] { time.SetTime(-1); }), "");
  EXPECT_NE(ValueError([&] { stamp.SetTimestamp(0); }), "");
}

TEST(Value, StrictTextRefusesWhatNonStrictCuts) {
  TZNTContainedValue loose(TZNTDataType::VarChar(3));
  loose.SetString("abcdef");
  EXPECT_EQ(loose.AsString(), "abc");
  loose.SetInteger(12345);
  EXPECT_EQ(loose.AsString(), "123");

  TZNTContainedValue strict(TZNTDataType::VarChar(3), TZNTValueKind::Column, "_Name", true);
  strict.SetString("abc");
  EXPECT_EQ(ValueError([&] { strict.SetString("abcd"); }),
            "An error occurred with the column _Name (The value would result in truncation)");
  EXPECT_EQ(strict.AsString(), "abc");  // unchanged by the failed store

  // A fixed CHAR is padded to its length only when strict.
  TZNTContainedValue fixed(TZNTDataType::FixedChar(5), TZNTValueKind::Column, "_C", true);
  fixed.SetString("ab");
  EXPECT_EQ(fixed.AsStringView(), "ab   ");
  TZNTContainedValue fixedLoose(TZNTDataType::FixedChar(5));
  fixedLoose.SetString("ab");
  EXPECT_EQ(fixedLoose.AsStringView(), "ab");
  TZNTContainedValue fixedBytes(TZNTDataType::FixedByte(3), TZNTValueKind::Column, "_B", true);
  fixedBytes.SetBytes("\x01");
  EXPECT_EQ(fixedBytes.AsStringView(), std::string_view("\x01\x00\x00", 3));
  TZNTContainedValue varBytes(TZNTDataType::VarByte(2), TZNTValueKind::Column, "_V", true);
  EXPECT_NE(ValueError([&] { varBytes.SetString("010203"); }), "");

  // CLOB and BLOB have no length.
  TZNTContainedValue clob(TZNTDataType::Clob(), TZNTValueKind::Column, "_M", true);
  clob.SetString(std::string(5000, 'z'));
  EXPECT_EQ(clob.AsStringView().size(), 5000u);
}

TEST(Value, BytesAndTextMeetThroughHex) {
  TZNTContainedValue text(TZNTDataType::VarChar(10));
  text.SetString("0aFF");
  EXPECT_EQ(text.AsBytes(), std::string("\x0a\xff", 2));
  text.SetString("0aF");
  EXPECT_NE(ValueError([&] { text.AsBytes(); }), "");
  TZNTContainedValue blob(TZNTDataType::Blob());
  blob.SetBytes(std::string("\x12\x34", 2));
  EXPECT_EQ(blob.AsString(), "1234");
  EXPECT_NE(ValueError([&] { blob.AsInteger(); }), "");
  TZNTContainedValue i(kInteger);
  i.SetInteger(1);
  EXPECT_NE(ValueError([&] { i.AsBytes(); }), "");
}

TEST(Value, FloatTextIsGeneralFormat) {
  struct Case {
    double v;
    const char* want;
  };
  const Case cases[] = {
      {0.1, "0.1"},
      {1.0 / 3.0, "0.333333333333333"},
      {-2.5, "-2.5"},
      {100, "100"},
      {123456789012345.0, "123456789012345"},
      {1e15, "1E+15"},
      {1e20, "1E+20"},
      {-2.75e100, "-2.75E+100"},
      {0.0001, "0.0001"},
      {0.00001, "1E-5"},
      {2.5e-7, "2.5E-7"},
      {-0.0, "0"},
      {INFINITY, "INF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FloatToText(c.v), c.want) << c.v;
    double back = 0;
    if (std::isfinite(c.v)) {
      ASSERT_TRUE(TextToFloat(c.want, back)) << c.want;
      EXPECT_DOUBLE_EQ(back, std::stod(FloatToText(c.v)));
    }
  }
  double v = 0;
  EXPECT_FALSE(TextToFloat("1e400", v));
  EXPECT_FALSE(TextToFloat("INF", v));
}

// ---------------------------------------------------------------------------
// Intervals
// ---------------------------------------------------------------------------

TEST(Value, IntervalTextBothWays) {
  const uint8_t dayToMs =
      kIntervalDay | kIntervalHour | kIntervalMinute | kIntervalSecond | kIntervalMSecond;
  struct Case {
    TZNTDataType type;
    int64_t v;
    const char* text;
  };
  const Case cases[] = {
      {YM(kIntervalYear), 36, "3"},
      {YM(kIntervalMonth), 14, "14"},
      {YM(kIntervalYearToMonth), 14, "1-02"},
      {YM(kIntervalYearToMonth), -14, "-1-02"},
      {DT(kIntervalDay), 2 * kMSecsPerDay, "2"},
      {DT(kIntervalDay | kIntervalHour), kMSecsPerDay + 5 * 3600000, "1 05"},
      {DT(dayToMs), 3LL * kMSecsPerDay + 4 * 3600000 + 5 * 60000 + 6000 + 7, "3 04:05:06.007"},
      {DT(kIntervalHour | kIntervalMinute), 90 * 3600000LL + 15 * 60000, "90:15"},
      {DT(kIntervalHour | kIntervalMinute), -(90 * 60000LL), "-1:30"},
      {DT(kIntervalMinute | kIntervalSecond | kIntervalMSecond), 61500, "1:01.500"},
      {DT(kIntervalSecond), 59000, "59"},
      {DT(kIntervalMSecond), 1234, "1234"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IntervalToText(c.v, c.type), c.text) << c.text;
    int64_t back = 0;
    ASSERT_TRUE(TextToInterval(c.text, c.type, back)) << c.text;
    EXPECT_EQ(back, c.v) << c.text;
  }
  // Finer parts than the qualifier are kept in the number but not shown.
  EXPECT_EQ(IntervalToText(kMSecsPerDay + 1, DT(kIntervalDay)), "1");
  int64_t v = 0;
  EXPECT_TRUE(TextToInterval(
      "0:00:01.5", DT(kIntervalHour | kIntervalMinute | kIntervalSecond | kIntervalMSecond), v));
  EXPECT_EQ(v, 1500);
  for (const char* bad : {"", "-", "1:2:3", "1 05", "1:5x", "99999999999999999999"})
    EXPECT_FALSE(TextToInterval(bad, DT(kIntervalHour | kIntervalMinute), v)) << bad;
  EXPECT_FALSE(TextToInterval("3000000000", YM(kIntervalMonth), v));  // beyond 4 bytes
}

TEST(Value, IntervalsConvertWithIntegersOfTheirUnit) {
  TZNTContainedValue days(DT(kIntervalDay));
  days.SetInteger(3);
  EXPECT_EQ(days.AsInterval(), 3 * kMSecsPerDay);
  EXPECT_EQ(days.AsInteger(), 3);
  TZNTContainedValue years(YM(kIntervalYear));
  years.SetInteger(2);
  EXPECT_EQ(years.AsInterval(), 24);
  // The text of an interval follows its qualifier.
  years.SetString("5");
  EXPECT_EQ(years.AsInterval(), 60);
  // A qualifier of several fields has no unit an integer could count.
  TZNTContainedValue ym(YM(kIntervalYearToMonth));
  EXPECT_NE(ValueError([&] { ym.SetInteger(1); }), "");
  // Within a kind the number carries over; across kinds nothing converts.
  TZNTContainedValue hours(DT(kIntervalHour));
  hours.Assign(days);
  EXPECT_EQ(hours.AsInteger(), 72);
  EXPECT_NE(ValueError([&] { ym.Assign(days); }), "");
  TZNTContainedValue months(YM(kIntervalMonth));
  EXPECT_NE(ValueError([&] { months.SetBigInt(1LL << 40); }), "");
}

// ---------------------------------------------------------------------------
// Comparison
// ---------------------------------------------------------------------------

TZNTContainedValue Str(const char* s, uint32_t collation = kCollationANSI) {
  TZNTContainedValue v(TZNTDataType::VarChar(20, collation));
  v.SetString(s);
  return v;
}

TEST(Value, ComparesTextUnderTheLeftCollation) {
  EXPECT_NE(CompareValues(Str("abc"), Str("ABC")), 0);
  EXPECT_GT(CompareValues(Str("abc"), Str("ABC")), 0);
  EXPECT_EQ(CompareValues(Str("abc", kCollationANSI_CI), Str("ABC")), 0);
  // The left operand's collation decides.
  EXPECT_NE(CompareValues(Str("ABC"), Str("abc", kCollationANSI_CI)), 0);
  // Trailing blanks count under both.
  EXPECT_LT(CompareValues(Str("ab"), Str("ab ")), 0);
  EXPECT_LT(CompareValues(Str("ab", kCollationANSI_CI), Str("AB ")), 0);
  // A prefix limit compares only the first characters.
  EXPECT_EQ(CompareValues(Str("abcd"), Str("abcz"), 3), 0);
  EXPECT_EQ(CompareValuesCollated(Str("abc"), Str("ABC"), kCollationANSI_CI), 0);
  // A number on the right is compared as its text.
  TZNTContainedValue n(kInteger);
  n.SetInteger(10);
  EXPECT_LT(CompareValues(Str("1"), n), 0);
  EXPECT_GT(CompareValues(Str("9"), n), 0);
}

TEST(Value, NullEqualsNullAndSortsFirst) {
  TZNTContainedValue null(kInteger), other(TZNTDataType::VarChar(5));
  TZNTContainedValue one(kInteger);
  one.SetInteger(INT32_MIN);
  EXPECT_EQ(CompareValues(null, other), 0);
  EXPECT_LT(CompareValues(null, one), 0);
  EXPECT_GT(CompareValues(one, null), 0);
}

TEST(Value, ComparesMixedNumbersExactly) {
  TZNTContainedValue i(kBigInt), d(TZNTDataType::Decimal(4)), f(kFloat);
  i.SetBigInt(1);
  d.SetDecimal(10001);  // 1.0001
  EXPECT_LT(CompareValues(i, d), 0);
  EXPECT_GT(CompareValues(d, i), 0);
  // Beyond the DECIMAL range the integer still compares, no overflow.
  i.SetBigInt(INT64_MAX);
  EXPECT_GT(CompareValues(i, d), 0);
  EXPECT_LT(CompareValues(d, i), 0);
  f.SetFloat(1.00012);
  EXPECT_LT(CompareValues(d, f), 0);  // as doubles, not rounded to the DECIMAL
  EXPECT_GT(CompareValues(f, d), 0);
  i.SetBigInt(2);
  f.SetFloat(1.5);
  EXPECT_GT(CompareValues(i, f), 0);  // not truncated to 1
  EXPECT_LT(CompareValues(f, i), 0);
  // Text on the right converts to the left's number type.
  TZNTContainedValue dec(TZNTDataType::Decimal(2), TZNTValueKind::Column, "_Income");
  dec.SetString("12.50");
  EXPECT_EQ(CompareValues(dec, Str("12.5")), 0);
  EXPECT_EQ(ValueError([&] { CompareValues(dec, Str("abc")); }),
            "An error occurred with the value  (A conversion error occurred)");
  // NaN keeps the order strict: after every number.
  f.SetFloat(NAN);
  TZNTContainedValue g(kFloat);
  g.SetFloat(1e300);
  EXPECT_GT(CompareValues(f, g), 0);
  EXPECT_LT(CompareValues(g, f), 0);
}

TEST(Value, ComparesOtherTypes) {
  TZNTContainedValue t(kBoolean), f(kBoolean);
  t.SetBoolean(true);
  f.SetBoolean(false);
  EXPECT_LT(CompareValues(f, t), 0);

  TZNTContainedValue a(TZNTDataType::VarByte(4)), b(TZNTDataType::Blob());
  a.SetBytes(std::string("\x01\xff", 2));
  b.SetBytes(std::string("\x01\xff\x00", 3));
  EXPECT_LT(CompareValues(a, b), 0);  // a prefix is smaller
  b.SetBytes(std::string("\x02", 1));
  EXPECT_LT(CompareValues(a, b), 0);  // unsigned bytes, first difference decides

  TZNTContainedValue date(kDate), stamp(kTimestamp);
  date.SetDate(Day(2024, 1, 1));
  stamp.SetTimestamp(EncodeTimestamp(Day(2024, 1, 1), 1));
  EXPECT_LT(CompareValues(date, stamp), 0);
  EXPECT_GT(CompareValues(stamp, date), 0);
  EXPECT_EQ(CompareValues(date, Str("2024-1-1")), 0);

  TZNTContainedValue days(DT(kIntervalDay)), n(kInteger);
  days.SetInteger(2);
  n.SetInteger(2);
  EXPECT_EQ(CompareValues(days, n), 0);
  EXPECT_EQ(CompareValues(n, days), 0);
  TZNTContainedValue hours(DT(kIntervalHour));
  hours.SetInteger(47);
  EXPECT_GT(CompareValues(days, hours), 0);
}

}  // namespace
}  // namespace znt
