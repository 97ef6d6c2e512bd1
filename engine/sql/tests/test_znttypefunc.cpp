#include <gtest/gtest.h>

#include "sql/znttypefunc.h"

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
const TZNTDataType kNull = TZNTDataType::Of(TZNTTypeCode::Unknown);

TZNTDataType YM(uint8_t q) { return TZNTDataType::Interval(TZNTTypeCode::YearMonthInterval, q); }
TZNTDataType DT(uint8_t q) { return TZNTDataType::Interval(TZNTTypeCode::DayTimeInterval, q); }
const TZNTDataType kDay = DT(kIntervalDay);
const TZNTDataType kHour = DT(kIntervalHour);
const TZNTDataType kDayToHour = DT(kIntervalDay | kIntervalHour);
const TZNTDataType kYear = YM(kIntervalYear);
const TZNTDataType kYearToMonth = YM(kIntervalYearToMonth);

// ---------------------------------------------------------------------------
// Collations
// ---------------------------------------------------------------------------

TEST(Collation, NamesParseWithSuffixesAnywhere) {
  struct Case {
    const char* name;
    std::optional<uint32_t> want;
  };
  const Case cases[] = {
      {"ANSI", kCollationANSI},
      {"ANSI_CI", kCollationANSI_CI},
      {"ansi_ci", kCollationANSI_CI},
      {"ANSI_CI_AI", kCollationCaseInsensitive | kCollationAccentInsensitive},
      {"ANSI_WI_KI", kCollationWidthInsensitive | kCollationKanaInsensitive},
      {"AN_CISI", kCollationANSI_CI},  // the suffix is found anywhere
      {"ENU", 0x0409u},
      {"deu_ci", 0x0407u | kCollationCaseInsensitive},
      {"DEP", 0x10407u},
      {"UZBC", 0x0843u},
      {"ANSIX", std::nullopt},
      {"", std::nullopt},
      {"_CI", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(CollationIdFromName(c.name), c.want) << c.name;
}

TEST(Collation, NamesPrintWithSuffixesInOrder) {
  EXPECT_EQ(CollationName(kCollationANSI), "ANSI");
  EXPECT_EQ(CollationName(kCollationANSI_CI), "ANSI_CI");
  EXPECT_EQ(CollationName(kCollationFlags), "ANSI_CI_AI_KI_WI");
  EXPECT_EQ(CollationName(0x0409 | kCollationAccentInsensitive), "ENU_AI");
  EXPECT_EQ(CollationName(0x7777), "");
  EXPECT_EQ(CollationDescription(kCollationANSI_CI), "ANSI (Binary)");
  EXPECT_EQ(CollationDescription(0x10407), "German (German Phone Book)");
  // Every name printed parses back to its ID.
  for (const TZNTCollationInfo& c : AvailableCollations()) {
    uint32_t id = c.id | kCollationCaseInsensitive;
    EXPECT_EQ(CollationIdFromName(CollationName(id)), id) << c.name;
  }
  ASSERT_FALSE(AvailableCollations().empty());
  EXPECT_EQ(AvailableCollations()[0].name, "ANSI");
}

TEST(Collation, ANSIComparesBytesAndCapitals) {
  EXPECT_GT(CompareText("abc", "ABC", kCollationANSI), 0);
  EXPECT_EQ(CompareText("abc", "ABC", kCollationANSI_CI), 0);
  // The accented letters of Windows-1252 have capitals too; the flags other
  // than _CI change nothing under ANSI.
  EXPECT_EQ(CompareText("\xe9t\xe9", "\xc9T\xc9", kCollationANSI_CI), 0);
  EXPECT_NE(CompareText("\xe9", "e", kCollationANSI_CI | kCollationAccentInsensitive), 0);
  EXPECT_LT(CompareText("ab", "ab ", kCollationANSI_CI), 0);
  EXPECT_EQ(CompareText("abX", "ABy", kCollationANSI_CI, 2), 0);
}

TEST(Collation, LocaleCollationsFoldCaseAndAccents) {
  // Whether or not the locale is installed, the flags apply, and the text is
  // compared as Unicode: the euro sign (0x80) sorts after the e acute (0xE9)
  // here, though its byte is smaller.
  const uint32_t enu = 0x0409;
  EXPECT_EQ(CompareText("abc", "ABC", enu | kCollationCaseInsensitive), 0);
  EXPECT_NE(CompareText("abc", "ABC", enu), 0);
  EXPECT_EQ(CompareText("\xe9l\xe8ve", "ELEVE",
                        enu | kCollationCaseInsensitive | kCollationAccentInsensitive),
            0);
  EXPECT_NE(CompareText("\xe9l\xe8ve", "eleve", enu | kCollationCaseInsensitive), 0);
  EXPECT_EQ(CompareText("abc", "abd", enu | kCollationCaseInsensitive, 2), 0);
  if (!IsCollationInstalled(enu)) {
    EXPECT_GT(CompareText("\x80", "\xe9", enu), 0);
  }
  // The phone book sorts an a with umlaut as ae: after ad, before af.
  const uint32_t dep = 0x10407;
  EXPECT_GT(CompareText("M\xe4", "Mad", dep), 0);
  EXPECT_LT(CompareText("M\xe4", "Maf", dep), 0);
  EXPECT_EQ(CompareText("M\xe4", "MAE", dep | kCollationCaseInsensitive), 0);
}

// ---------------------------------------------------------------------------
// Operator typing
// ---------------------------------------------------------------------------

TEST(Typing, ListsReadAsTheTypeErrorWantsThem) {
  EXPECT_EQ(JoinAlternatives({"column name"}), "column name");
  EXPECT_EQ(JoinAlternatives({"a", "b"}), "a or b");
  EXPECT_EQ(JoinAlternatives({"parameter name", "variable name", "column name"}),
            "parameter name, variable name, or column name");
  EXPECT_EQ(AcceptableTypesText({kBoolean}), "Boolean expression");
  EXPECT_EQ(AcceptableTypesText({kDate, kTimestamp}), "Date or Timestamp expression");
}

TEST(Typing, DateMinusIntegerIsRefusedWithTheDateList) {
  TZNTTyping t = TypeBinaryOperator(TZNTTypingOp::Subtract, kDate, kInteger);
  ASSERT_FALSE(t.ok);
  EXPECT_EQ(t.refusedOperand, 2);
  EXPECT_EQ(AcceptableTypesText(t.expected),
            "Date, Interval Year, Interval Year To Month, or Interval Day expression");
  t = TypeBinaryOperator(TZNTTypingOp::Add, kDate, kInteger);
  EXPECT_FALSE(t.ok);
  EXPECT_EQ(t.refusedOperand, 2);
}

TEST(Typing, ArithmeticResults) {
  struct Case {
    TZNTTypingOp op;
    TZNTDataType left, right, want;
  };
  const TZNTDataType dec2 = TZNTDataType::Decimal(2), dec4 = TZNTDataType::Decimal(4);
  const Case cases[] = {
      {TZNTTypingOp::Add, kSmallInt, kSmallInt, kInteger},
      {TZNTTypingOp::Add, kInteger, kBigInt, kBigInt},
      {TZNTTypingOp::Add, kBigInt, kSmallInt, kBigInt},
      {TZNTTypingOp::Add, kInteger, dec2, dec2},
      {TZNTTypingOp::Add, dec2, dec4, dec4},
      {TZNTTypingOp::Add, dec4, kFloat, kFloat},
      {TZNTTypingOp::Add, kInteger, kDay, kDay},
      {TZNTTypingOp::Add, kDate, kDay, kDate},
      {TZNTTypingOp::Add, kDate, kYearToMonth, kDate},
      {TZNTTypingOp::Add, kDate, kDayToHour, kTimestamp},
      {TZNTTypingOp::Add, kTime, kHour, kTime},
      {TZNTTypingOp::Add, kTimestamp, kYear, kTimestamp},
      {TZNTTypingOp::Add, kDay, kDate, kDate},
      {TZNTTypingOp::Add, kYear, kInteger, kYear},
      {TZNTTypingOp::Add, kHour, kTime, kTimestamp},
      {TZNTTypingOp::Subtract, kDate, kDate, kDay},
      {TZNTTypingOp::Subtract, kDate, kDay, kDate},
      {TZNTTypingOp::Subtract, kDate, YM(kIntervalMonth), kDate},
      {TZNTTypingOp::Subtract, kTime, kTime,
       DT(kIntervalHour | kIntervalMinute | kIntervalSecond | kIntervalMSecond)},
      {TZNTTypingOp::Subtract, kTimestamp, kDate, DT(0xF8)},
      {TZNTTypingOp::Subtract, kTimestamp, kHour, kTimestamp},
      {TZNTTypingOp::Subtract, kDayToHour, kHour, kDayToHour},
      {TZNTTypingOp::Subtract, kDay, kSmallInt, kDay},
      {TZNTTypingOp::Multiply, kInteger, dec2, dec2},
      {TZNTTypingOp::Multiply, kSmallInt, kHour, kHour},
      {TZNTTypingOp::Multiply, kYear, kBigInt, kYear},
      {TZNTTypingOp::Divide, kInteger, kInteger, kFloat},
      {TZNTTypingOp::Divide, kInteger, dec2, dec2},
      {TZNTTypingOp::Divide, dec2, kInteger, dec2},
      {TZNTTypingOp::Divide, dec2, kFloat, kFloat},
      {TZNTTypingOp::Divide, kDayToHour, kInteger, kDayToHour},
      {TZNTTypingOp::Mod, kSmallInt, kInteger, kInteger},
      {TZNTTypingOp::Mod, kInteger, kBigInt, kBigInt},
      {TZNTTypingOp::Mod, kDay, kInteger, kDay},
  };
  for (const Case& c : cases) {
    TZNTTyping t = TypeBinaryOperator(c.op, c.left, c.right);
    ASSERT_TRUE(t.ok) << TypeName(c.left) << " op " << TypeName(c.right);
    EXPECT_EQ(t.type, c.want) << TypeName(c.left) << " op " << TypeName(c.right) << " gave "
                              << TypeName(t.type);
  }
}

TEST(Typing, ArithmeticRefusals) {
  struct Case {
    TZNTTypingOp op;
    TZNTDataType left, right;
    int operand;
  };
  const Case cases[] = {
      {TZNTTypingOp::Add, kBoolean, kBoolean, 1},
      {TZNTTypingOp::Add, kFloat, kDay, 2},
      {TZNTTypingOp::Add, kYearToMonth, kInteger, 2},  // several fields: no integers
      {TZNTTypingOp::Add, kTime, kDay, 2},
      {TZNTTypingOp::Add, kDayToHour, kDate, 2},  // a date only with a Day interval
      {TZNTTypingOp::Add, kYear, kDay, 2},
      {TZNTTypingOp::Add, TZNTDataType::VarChar(3), kInteger, 2},
      {TZNTTypingOp::Add, TZNTDataType::VarByte(3), TZNTDataType::VarChar(3), 2},
      {TZNTTypingOp::Subtract, TZNTDataType::VarChar(3), TZNTDataType::VarChar(3), 1},
      {TZNTTypingOp::Subtract, kDate, kHour, 2},
      {TZNTTypingOp::Subtract, kTime, kDate, 2},
      {TZNTTypingOp::Subtract, kDay, kYear, 2},
      {TZNTTypingOp::Multiply, kFloat, kDay, 2},
      {TZNTTypingOp::Multiply, kDayToHour, kInteger, 1},
      {TZNTTypingOp::Divide, kDay, kFloat, 2},
      {TZNTTypingOp::Mod, kFloat, kInteger, 1},
      {TZNTTypingOp::Mod, kInteger, TZNTDataType::Decimal(2), 2},
  };
  for (const Case& c : cases) {
    TZNTTyping t = TypeBinaryOperator(c.op, c.left, c.right);
    EXPECT_FALSE(t.ok) << TypeName(c.left) << " op " << TypeName(c.right);
    EXPECT_EQ(t.refusedOperand, c.operand) << TypeName(c.left) << " op " << TypeName(c.right);
    EXPECT_FALSE(t.expected.empty());
  }
  TZNTTyping t = TypeBinaryOperator(TZNTTypingOp::Multiply, kFloat, kDay);
  EXPECT_EQ(AcceptableTypesText(t.expected),
            "SmallInt, Integer, BigInt, Float, or Decimal expression");
}

TEST(Typing, ConcatenationAddsLengths) {
  const TZNTDataType a = TZNTDataType::VarChar(10, kCollationANSI_CI);
  TZNTTyping t = TypeBinaryOperator(TZNTTypingOp::Add, a, TZNTDataType::FixedChar(5));
  ASSERT_TRUE(t.ok);
  EXPECT_EQ(t.type, TZNTDataType::VarChar(15, kCollationANSI_CI));
  t = TypeBinaryOperator(TZNTTypingOp::Add, TZNTDataType::FixedChar(2), TZNTDataType::FixedChar(3));
  EXPECT_EQ(t.type, TZNTDataType::FixedChar(5));
  t = TypeBinaryOperator(TZNTTypingOp::Add, TZNTDataType::Guid(), TZNTDataType::Clob());
  EXPECT_EQ(t.type, TZNTDataType::Clob());
  t = TypeBinaryOperator(TZNTTypingOp::Add, TZNTDataType::FixedByte(2), TZNTDataType::VarByte(3));
  EXPECT_EQ(t.type, TZNTDataType::VarByte(5));
  t = TypeBinaryOperator(TZNTTypingOp::Add, TZNTDataType::Blob(), TZNTDataType::FixedByte(3));
  EXPECT_EQ(t.type, TZNTDataType::Blob());
}

TEST(Typing, Comparisons) {
  struct Case {
    TZNTDataType left, right;
    bool equal, ordered;  // whether = and < accept the pair
  };
  const Case cases[] = {
      {TZNTDataType::VarChar(3), TZNTDataType::Clob(), true, true},
      {TZNTDataType::Clob(), TZNTDataType::Guid(), true, true},
      {TZNTDataType::VarChar(3), kInteger, false, false},
      {TZNTDataType::FixedByte(3), TZNTDataType::Blob(), true, true},
      {kBoolean, kBoolean, true, false},
      {kBoolean, kInteger, true, false},
      {kBoolean, kFloat, false, false},
      {kInteger, kBoolean, true, true},
      {kInteger, kDay, true, true},
      {kInteger, kDayToHour, false, false},
      {kFloat, TZNTDataType::Decimal(2), true, true},
      {kFloat, kBoolean, false, false},
      {kDate, kDate, true, true},
      {kDate, kTimestamp, false, true},
      {kTimestamp, kDate, true, true},
      {kTime, kTimestamp, false, false},
      {kDay, kHour, true, true},
      {kDay, kInteger, true, true},
      {kDayToHour, kInteger, false, false},
      {kYear, kDay, false, false},
  };
  for (const Case& c : cases) {
    TZNTTyping eq = TypeBinaryOperator(TZNTTypingOp::Equal, c.left, c.right);
    TZNTTyping lt = TypeBinaryOperator(TZNTTypingOp::Less, c.left, c.right);
    EXPECT_EQ(eq.ok, c.equal) << TypeName(c.left) << " = " << TypeName(c.right);
    EXPECT_EQ(lt.ok, c.ordered) << TypeName(c.left) << " < " << TypeName(c.right);
    if (eq.ok) {
      EXPECT_EQ(eq.type, kBoolean);
    }
  }
  // BOOLEAN cannot be ordered: the left operand is the one refused.
  EXPECT_EQ(TypeBinaryOperator(TZNTTypingOp::GreaterEqual, kBoolean, kBoolean).refusedOperand, 1);
  EXPECT_EQ(AcceptableTypesText(TypeBinaryOperator(TZNTTypingOp::Equal, kDate, kTime).expected),
            "Date expression");
  EXPECT_EQ(AcceptableTypesText(TypeBinaryOperator(TZNTTypingOp::Less, kDate, kTime).expected),
            "Date or Timestamp expression");
}

TEST(Typing, LogicalAndUnaryOperators) {
  EXPECT_TRUE(TypeBinaryOperator(TZNTTypingOp::And, kBoolean, kBoolean).ok);
  TZNTTyping t = TypeBinaryOperator(TZNTTypingOp::Or, kBoolean, kInteger);
  EXPECT_EQ(t.refusedOperand, 2);
  EXPECT_EQ(AcceptableTypesText(t.expected), "Boolean expression");
  EXPECT_EQ(TypeBinaryOperator(TZNTTypingOp::And, kInteger, kBoolean).refusedOperand, 1);
  EXPECT_TRUE(TypeUnaryOperator(TZNTTypingOp::Not, kBoolean).ok);
  EXPECT_FALSE(TypeUnaryOperator(TZNTTypingOp::Not, kInteger).ok);
  EXPECT_EQ(TypeUnaryOperator(TZNTTypingOp::Negate, TZNTDataType::Decimal(2)).type,
            TZNTDataType::Decimal(2));
  EXPECT_EQ(TypeUnaryOperator(TZNTTypingOp::Negate, kYearToMonth).type, kYearToMonth);
  EXPECT_FALSE(TypeUnaryOperator(TZNTTypingOp::Negate, kDate).ok);
}

TEST(Typing, NullConstantTakesTheOtherOperandsType) {
  TZNTTyping t = TypeBinaryOperator(TZNTTypingOp::Add, kInteger, kNull);
  ASSERT_TRUE(t.ok);
  EXPECT_EQ(t.type, kInteger);
  EXPECT_TRUE(TypeBinaryOperator(TZNTTypingOp::Equal, kNull, kDate).ok);
  EXPECT_FALSE(TypeBinaryOperator(TZNTTypingOp::Less, kNull, kBoolean).ok);
  EXPECT_TRUE(TypeBinaryOperator(TZNTTypingOp::Equal, kNull, kNull).ok);
}

TEST(Typing, BetweenInAndLike) {
  EXPECT_TRUE(TypeBetween(kDate, kDate, kTimestamp).ok);
  TZNTTyping t = TypeBetween(kInteger, kInteger, kDate);
  EXPECT_FALSE(t.ok);
  EXPECT_EQ(t.refusedOperand, 3);
  EXPECT_EQ(TypeBetween(kInteger, kTime, kInteger).refusedOperand, 2);
  EXPECT_FALSE(TypeBetween(kBoolean, kBoolean, kBoolean).ok);
  EXPECT_TRUE(TypeIn(kBoolean, kInteger).ok);
  EXPECT_FALSE(TypeIn(kDate, kTimestamp).ok);
  EXPECT_TRUE(TypeLike(TZNTDataType::VarChar(5), TZNTDataType::Clob()).ok);
  EXPECT_EQ(TypeLike(kInteger, TZNTDataType::VarChar(5)).refusedOperand, 1);
  t = TypeLike(TZNTDataType::VarChar(5), kInteger);
  EXPECT_EQ(t.refusedOperand, 2);
  EXPECT_EQ(AcceptableTypesText(t.expected), "Char, GUID, VarChar, or CLOB expression");
}

TEST(Typing, CommonTypeWidens) {
  struct Case {
    std::vector<TZNTDataType> args;
    TZNTDataType want;
  };
  const Case cases[] = {
      {{TZNTDataType::Decimal(2), kInteger}, TZNTDataType::Decimal(2)},
      {{kInteger, TZNTDataType::Decimal(2), TZNTDataType::Decimal(4)}, TZNTDataType::Decimal(4)},
      {{kSmallInt, kInteger}, kInteger},
      {{kBigInt, kSmallInt}, kBigInt},
      {{kInteger, kBigInt, kFloat}, kFloat},
      {{TZNTDataType::Decimal(2), kFloat}, kFloat},
      {{TZNTDataType::FixedChar(3, kCollationANSI_CI), TZNTDataType::VarChar(10)},
       TZNTDataType::VarChar(10, kCollationANSI_CI)},
      {{TZNTDataType::FixedChar(3), TZNTDataType::FixedChar(8)}, TZNTDataType::FixedChar(8)},
      {{TZNTDataType::Guid(), TZNTDataType::VarChar(10), TZNTDataType::Clob()},
       TZNTDataType::Clob()},
      {{TZNTDataType::FixedByte(4), TZNTDataType::VarByte(2)}, TZNTDataType::VarByte(4)},
      {{TZNTDataType::VarByte(4), TZNTDataType::Blob()}, TZNTDataType::Blob()},
      {{kTimestamp, kDate}, kTimestamp},
      {{kDay, kHour}, kDay},
  };
  for (const Case& c : cases) {
    TZNTTyping t = TypeCommon(c.args);
    ASSERT_TRUE(t.ok) << TypeName(c.args[0]);
    EXPECT_EQ(t.type, c.want) << TypeName(c.args[0]) << " gave " << TypeName(t.type);
  }
  // Each argument must compare with the one before it.
  TZNTTyping t = TypeCommon({kInteger, TZNTDataType::Decimal(2), kDate});
  EXPECT_FALSE(t.ok);
  EXPECT_EQ(t.refusedOperand, 3);
  EXPECT_EQ(AcceptableTypesText(t.expected),
            "SmallInt, Integer, BigInt, Float, or Decimal expression");
  EXPECT_EQ(TypeCommon({kDate, kTimestamp}).refusedOperand, 2);
}

}  // namespace
}  // namespace znt
