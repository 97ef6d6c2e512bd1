#include "sql/znteval.h"

#include <gtest/gtest.h>

#include "base/zntdatetime.h"
#include "base/zntenv.h"
#include "base/znterror.h"
#include "sql/zntbind.h"

namespace znt {
namespace {

// One table T(a INTEGER, d DECIMAL(20,2), s VARCHAR(20) ANSI_CI, dt DATE, n INTEGER)
// with one row whose values the test sets; n is always NULL.
class EvalTest : public ::testing::Test, public TZNTRowContext {
 protected:
  EvalTest() {
    table_ = &catalog_.AddTable("T");
    const TZNTDataType types[] = {TZNTDataType::Of(TZNTTypeCode::Integer), TZNTDataType::Decimal(2),
                                  TZNTDataType::VarChar(20, kCollationANSI_CI),
                                  TZNTDataType::Of(TZNTTypeCode::Date),
                                  TZNTDataType::Of(TZNTTypeCode::Integer)};
    const char* names[] = {"a", "d", "s", "dt", "n"};
    for (int i = 0; i < 5; ++i) {
      table_->AddColumn({names[i], types[i]});
      row_.push_back(std::make_unique<TZNTContainedValue>(types[i]));
    }
    row_[0]->SetInteger(2);
    row_[1]->SetString("12.50");
    row_[2]->SetString("Shop ");
    row_[3]->SetString("2024-03-01");
  }

  const TZNTValue& ColumnValue(int depth, int entry, int column) override {
    EXPECT_EQ(depth, 0);
    EXPECT_EQ(entry, 0);
    return *row_[column];
  }

  // The value of a stand-alone expression over T's row, as text ("NULL" for NULL).
  std::string Eval(const std::string& text) {
    TZNTCompiledExpr expr(TZNTCompiledExpr::Entry::Expression, "expression");
    expr.SetSource(text);
    expr.Prepare(catalog_, table_);
    TZNTExprEvaluator evaluator(*this);
    const TZNTValue& v = evaluator.Evaluate(*expr.Root());
    return v.IsNull() ? "NULL" : const_cast<TZNTValue&>(v).AsString();
  }

  TZNTMemoryBindCatalog catalog_;
  TZNTMemoryBindTable* table_ = nullptr;
  std::vector<std::unique_ptr<TZNTContainedValue>> row_;
};

TEST_F(EvalTest, ExpressionsOverARow) {
  struct Case {
    const char* expr;
    const char* value;
  };
  const Case cases[] = {
      // DECIMAL arithmetic is exact on the scaled integers.
      {"CAST(0.1 AS DECIMAL(20,2)) + CAST(0.2 AS DECIMAL(20,2)) = CAST(0.3 AS DECIMAL(20,2))", "TRUE"},
      {"d * 3", "37.5"},
      {"d / 3", "4.17"},  // DECIMAL divided by integer keeps the DECIMAL's scale
      {"CAST(d AS DECIMAL(20,4)) / 3", "4.1667"},
      {"CAST(d / 3 AS DECIMAL(20,2))", "4.17"},
      {"CAST(2.675 AS DECIMAL(20,2))", "2.68"},
      {"1 / 3 > 0.333", "TRUE"},
      {"a / 0", "NULL"},
      {"a MOD 0", "NULL"},
      {"d + a", "14.5"},
      // NULL logic.
      {"n = n", "NULL"},
      {"n IS NULL", "TRUE"},
      {"NOT (n = 1)", "NULL"},
      {"a IN (1, NULL)", "FALSE"},
      {"n IN (1, 2)", "NULL"},
      {"a IN (2, NULL)", "TRUE"},
      {"n = 1 AND a = 3", "FALSE"},
      {"n = 1 OR a = 2", "TRUE"},
      {"COALESCE(n, a, 7)", "2"},
      {"COALESCE(n, d)", "12.5"},
      {"IF(a > 1 THEN 'big' ELSE 'small')", "big"},
      {"IFNULL(n THEN 'none' ELSE 'some')", "none"},
      {"NULLIF(a, 2)", "NULL"},
      {"CASE a WHEN 1 THEN 'one' WHEN 2 THEN 'two' ELSE 'many' END", "two"},
      {"CASE WHEN n > 0 THEN 'pos' END", "NULL"},
      // Text under the column's ANSI_CI collation, with trailing blanks counted.
      {"s = 'SHOP '", "TRUE"},
      {"s = 'SHOP'", "FALSE"},
      {"s LIKE 'sh%'", "TRUE"},
      {"UPPER(RTRIM(s))", "SHOP"},
      // A COLLATE clause decides how the operand compares, whatever the value's own.
      {"s COLLATE ANSI LIKE 'sh%'", "FALSE"},
      {"s COLLATE ANSI LIKE 'Sh%'", "TRUE"},
      {"CASE s COLLATE ANSI WHEN 'SHOP ' THEN 'ci' WHEN 'Shop ' THEN 'exact' END", "exact"},
      {"CASE s WHEN 'SHOP ' THEN 'ci' ELSE 'exact' END", "ci"},
      {"NULLIF(s COLLATE ANSI, 'SHOP ')", "Shop "},
      {"NULLIF(s, 'SHOP ')", "NULL"},
      {"RTRIM('   ')", ""},
      {"LENGTH(CAST(n AS VARCHAR(5)))", "0"},
      {"UPPER(CAST(n AS VARCHAR(5)))", "NULL"},
      {"SUBSTRING(s FROM 2 FOR 2) || '!'", "ho!"},
      {"POSITION('op' IN s)", "3"},
      // Dates.
      {"dt - INTERVAL '1' DAY", "2024-02-29"},
      {"EXTRACT(YEAR FROM dt) * 100 + EXTRACT(MONTH FROM dt)", "202403"},
      {"dt BETWEEN DATE '2024-01-01' AND DATE '2024-12-31'", "TRUE"},
      {"CAST('2024-2-3' AS DATE)", "2024-02-03"},
      // A year-month qualifier counts the whole months between the two.
      {"(dt - DATE '2023-01-01') MONTH", "14"},
      {"(dt - DATE '2023-01-01') YEAR", "1"},
      {"(dt - DATE '2023-04-02') YEAR TO MONTH", "0-10"},
      {"(DATE '2023-01-01' - dt) MONTH", "-14"},
      {"(DATE '2024-02-29' - DATE '2024-01-31') MONTH", "1"},
      {"(dt - DATE '2024-01-01') DAY", "60"},
  };
  for (const Case& c : cases) EXPECT_EQ(Eval(c.expr), c.value) << c.expr;
}

TEST_F(EvalTest, TheClockSeamFeedsCurrentDate) {
  int32_t day = 0;
  ASSERT_TRUE(TryEncodeDate(2009, 2, 28, day));
  TZNTFixedClock clock(EncodeTimestamp(day, 0));
  EXPECT_EQ(Eval("CURRENT_DATE"), "2009-02-28");
  EXPECT_EQ(Eval("CURRENT_DATE - INTERVAL '1' DAY"), "2009-02-27");
  EXPECT_EQ(Eval("dt > CURRENT_DATE"), "TRUE");
}

TEST_F(EvalTest, ValueErrorsCarryTheirCode) {
  try {
    Eval("CAST(a * 2147483647 AS INTEGER)");
    FAIL();
  } catch (const EZNTException& e) {
    EXPECT_EQ(e.ErrorCode(), 1011);
  }
  try {
    Eval("CAST(s AS INTEGER)");
    FAIL();
  } catch (const EZNTException& e) {
    EXPECT_EQ(e.ErrorCode(), 1011);
    EXPECT_NE(e.ErrorMessage().find("A conversion error occurred"), std::string::npos);
  }
}

TEST_F(EvalTest, NodesReuseTheirValuesAcrossRows) {
  TZNTCompiledExpr expr(TZNTCompiledExpr::Entry::Expression, "expression");
  expr.SetSource("a * 2 + 1");
  expr.Prepare(catalog_, table_);
  TZNTExprEvaluator::PrepareValues(*expr.Root());
  TZNTExprEvaluator evaluator(*this);
  const TZNTValue* first = &evaluator.Evaluate(*expr.Root());
  for (int i = 0; i < 100; ++i) {
    row_[0]->SetInteger(i);
    const TZNTValue& v = evaluator.Evaluate(*expr.Root());
    EXPECT_EQ(&v, first);
    EXPECT_EQ(const_cast<TZNTValue&>(v).AsInteger(), i * 2 + 1);
  }
}

TEST_F(EvalTest, SubqueriesNeedTheSessionsEvaluator) {
  EXPECT_THROW(Eval("CURRENT_USER = 'x'"), EZNTException);
}

}  // namespace
}  // namespace znt
