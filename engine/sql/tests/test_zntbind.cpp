#include "sql/zntbind.h"

#include <gtest/gtest.h>

#include "base/znterror.h"
#include "sql/zntvalue.h"

namespace znt {
namespace {

// The program's tables and the catalog tables the query generator reads.
class BindTest : public ::testing::Test {
 protected:
  BindTest() {
    const TZNTDataType integer = TZNTDataType::Of(TZNTTypeCode::Integer);
    const TZNTDataType money = TZNTDataType::Decimal(2);
    const TZNTDataType date = TZNTDataType::Of(TZNTTypeCode::Date);
    auto text = [](int n) { return TZNTDataType::VarChar(n, kCollationANSI_CI); };
    auto& accounts = catalog_.AddTable("Accounts");
    for (TZNTBindColumn c : std::initializer_list<TZNTBindColumn>{
             {"__RowID", integer, true},       {"_ID", integer},
             {"_AccNo", text(30)},             {"_Name", text(50)},
             {"_Type", text(15)},              {"_Adjustor", integer},
             {"_Balance", money},              {"_BalanceDate", date},
             {"_ReconciledBalance", money},    {"_ReconciledDate", date},
             {"_UnReconciledTransactions", money}, {"_LastCheque", integer}})
      accounts.AddColumn(c);
    auto& transactions = catalog_.AddTable("Transactions");
    for (TZNTBindColumn c : std::initializer_list<TZNTBindColumn>{
             {"__RowID", integer, true}, {"_ID", integer},         {"_fkAccounts", integer},
             {"_Type", text(10)},        {"_Reference", text(20)}, {"_Name", text(50), false, true},
             {"_Date", date},            {"_Income", money},       {"_Expenditure", money},
             {"_Reason", text(100)},     {"_Analysis", text(20)},
             {"_Reconciled", TZNTDataType::Of(TZNTTypeCode::Boolean)}, {"_ReconciledDate", date}})
      transactions.AddColumn(c);
    auto& codes = catalog_.AddTable("AnalysisCodes");
    codes.AddColumn({"__RowID", integer, true});
    codes.AddColumn({"_ID", text(20)});
    auto& tables = catalog_.AddTable("Tables", "Information");
    tables.AddColumn({"Name", TZNTDataType::VarChar(40)});
    auto& tableColumns = catalog_.AddTable("TableColumns", "Information");
    for (const char* n : {"TableName", "Name", "Collation"})
      tableColumns.AddColumn({n, TZNTDataType::VarChar(40)});
    auto& indexColumns = catalog_.AddTable("IndexColumns", "Information");
    for (const char* n : {"TableName", "IndexName", "ColumnName", "Collation"})
      indexColumns.AddColumn({n, TZNTDataType::VarChar(40)});
    auto& indexes = catalog_.AddTable("Indexes", "Information");
    for (const char* n : {"TableName", "Name", "Type"}) indexes.AddColumn({n, TZNTDataType::VarChar(40)});
  }

  TZNTNodePtr Bind(std::string_view sql) {
    TZNTExprParser parser(sql, "statement");
    TZNTNodePtr root = parser.ParseStatement();
    BindTree(*root, catalog_, TZNTBindContext{});
    return root;
  }

  // "" when the statement binds, else "line:column detail".
  std::string ErrorOf(std::string_view sql) {
    try {
      Bind(sql);
    } catch (const EZNTException& e) {
      const std::string& m = e.ErrorMessage();
      size_t open = m.find(" (", m.find(" and column "));
      return std::to_string(e.Line()) + ":" + std::to_string(e.Column()) + " " +
             m.substr(open + 2, m.size() - open - 3);
    }
    return "";
  }

  const TZNTExprToken& Item(const TZNTExprToken& root, size_t i) {
    return *root.Child(0)->Child(qslot::Select)->children[i]->Child(0);
  }

  TZNTMemoryBindCatalog catalog_;
};

TEST_F(BindTest, TypesTheProgramsTotals) {
  TZNTNodePtr st = Bind(
      "SELECT SUM(COALESCE(_Income,0)) - SUM(COALESCE(_Expenditure,0)) AS _BAL FROM Transactions "
      "WHERE _fkAccounts = 12");
  const TZNTExprToken& bal = Item(*st, 0);
  EXPECT_EQ(bal.type.code, TZNTTypeCode::Decimal);
  EXPECT_EQ(bal.type.scale, 2);
  // COALESCE(DECIMAL(20,2), 0) keeps the scale.
  EXPECT_EQ(bal.left->Child(0)->children[0]->type, TZNTDataType::Decimal(2));

  st = Bind("SELECT COUNT(*), MAX(_Date), LIST(_Name USING ';') FROM Transactions");
  EXPECT_EQ(Item(*st, 0).type.code, TZNTTypeCode::Integer);
  EXPECT_EQ(Item(*st, 1).type.code, TZNTTypeCode::Date);
  EXPECT_EQ(Item(*st, 2).type.code, TZNTTypeCode::Blob);
}

TEST_F(BindTest, ResolvesNamesThroughTheCatalog) {
  TZNTNodePtr st = Bind("SELECT t._Name, a._Name FROM Transactions t JOIN Accounts a ON "
                        "a._ID = t._fkAccounts");
  const TZNTExprToken& first = Item(*st, 0);
  const TZNTExprToken& second = Item(*st, 1);
  EXPECT_EQ(first.boundEntry, 0);
  EXPECT_EQ(second.boundEntry, 1);
  EXPECT_EQ(first.boundColumn, 5);
  EXPECT_EQ(second.boundColumn, 3);
  EXPECT_EQ(first.type.collation, kCollationANSI_CI);

  // An unqualified name several tables hold resolves to the first of FROM.
  st = Bind(
      "SELECT Collation FROM Information.IndexColumns XC LEFT JOIN Information.TableColumns T ON "
      "T.TableName = XC.TableName");
  EXPECT_EQ(Item(*st, 0).boundEntry, 0);
  // A correlated reference names the enclosing query's table.
  st = Bind("SELECT _ID FROM Accounts a WHERE EXISTS(SELECT * FROM Transactions WHERE "
            "_fkAccounts = a._ID)");
  EXPECT_EQ(Item(*st, 0).boundDepth, 0);
}

TEST_F(BindTest, Errors) {
  struct Case {
    const char* sql;
    const char* error;
  };
  const Case cases[] = {
      {"SELECT * FROM Nowhere", "1:15 The table Nowhere does not exist"},
      {"SELECT _Nope FROM Accounts", "1:8 The column _Nope does not exist"},
      {"SELECT x._ID FROM Accounts", "1:8 The table x does not exist"},
      {"SELECT __RowID FROM Accounts", ""},
      {"SELECT * FROM Accounts a, Transactions a",
       "1:27 Invalid expression \"Transactions\" \"a\" found, duplicate table or table correlation "
       "name found"},
      {"SELECT * FROM Accounts a JOIN Transactions t ON t._fkAccounts = c._ID JOIN AnalysisCodes c "
       "ON c._ID = t._Analysis",
       "1:65 Invalid expression \"c\".\"_ID\" found, this expression refers to a table or column that "
       "is not in scope yet"},
      {"SELECT _Type, COUNT(*) FROM Transactions",
       "1:8 Invalid expression \"_Type\" found, the necessary GROUP BY clause is missing"},
      {"SELECT _Type, _Name, COUNT(*) FROM Transactions GROUP BY _Type",
       "1:15 Invalid expression \"_Name\" found, non-aggregated column references not allowed"},
      {"SELECT _Type, COUNT(*) FROM Transactions GROUP BY _Type HAVING COUNT(*) > 1", ""},
      {"SELECT _Type, COUNT(*) AS n FROM Transactions GROUP BY _Type ORDER BY n, _Type, COUNT(*)",
       ""},
      {"SELECT _Type FROM Transactions GROUP BY _Type ORDER BY _Name",
       "1:56 Invalid expression \"_Name\" found, non-aggregated column references not allowed"},
      {"SELECT COUNT(*) FROM Transactions ORDER BY _Name",
       "1:44 Invalid expression \"_Name\" found, the necessary GROUP BY clause is missing"},
      // Select items are bound before join conditions.
      {"SELECT _Nope FROM Accounts a JOIN Transactions t ON t._Nope2 = a._ID",
       "1:8 The column _Nope does not exist"},
      {"SELECT * FROM Transactions WHERE SUM(_Income) > 1",
       "1:34 Invalid expression SUM(\"_Income\") found, aggregate functions not allowed"},
      {"SELECT SUM(MAX(_Income)) FROM Transactions",
       "1:12 Invalid expression MAX(\"_Income\") found, nested aggregate functions not allowed"},
      {"SELECT _Type FROM Transactions GROUP BY COUNT(*)",
       "1:41 Invalid expression COUNT(*) found, aggregate functions not allowed in the GROUP BY clause"},
      {"SELECT NULL FROM Accounts",
       "1:8 Invalid expression NULL found, a constant NULL value is not allowed as a SELECT expression"},
      {"SELECT _ID FROM Accounts UNION SELECT _ID, _Name FROM Accounts",
       "1:26 Invalid expression SELECT \"_ID\" FROM \"Accounts\" UNION SELECT \"_ID\", \"_Name\" FROM "
       "\"Accounts\" found, column counts do not match"},
      {"SELECT (SELECT _ID, _Name FROM Accounts) FROM Accounts",
       "1:8 Invalid expression (SELECT \"_ID\", \"_Name\" FROM \"Accounts\") found, a scalar query can "
       "only return a single value"},
      {"SELECT * FROM Transactions WHERE _Name LIKE 'a%' ESCAPE '!!'",
       "1:57 Invalid expression '!!' found, only a single character allowed"},
      {"SELECT * FROM Transactions WHERE _Reason CONTAINS 'x'",
       "1:34 Invalid expression \"_Reason\" found, CONTAINS or DOES NOT CONTAIN can only be used "
       "with a text-indexed column"},
      {"SELECT * FROM Transactions WHERE _Name CONTAINS 'x'", ""},
      {"SELECT * FROM Transactions WHERE _Date = CURRENT_DATE - 1",
       "1:57 Expected Date, Interval Year, Interval Year To Month, or Interval Day expression but "
       "instead found 1"},
      {"SELECT * FROM Transactions WHERE _Date = CURRENT_DATE - INTERVAL '1' DAY", ""},
      {"SELECT * FROM Transactions WHERE _Date = DATE '2024-02-30'",
       "1:42 Expected Date expression but instead found DATE '2024-02-30'"},
      {"SELECT * FROM Transactions WHERE _Income", "1:34 Expected Boolean expression but instead found \"_Income\""},
      {"SELECT COALESCE(NULL, NULL) FROM Accounts",
       "1:8 Invalid expression COALESCE(NULL, NULL) found, at least one of the result expressions "
       "must be non-NULL"},
      {"SELECT * FROM Accounts WHERE _ID = ?", ""},
      {"SELECT * FROM Accounts WHERE ? = ?",
       "1:30 Invalid expression ? found, dynamic parameter type cannot be inferred"},
      {"SELECT * FROM Accounts WHERE _Name = ? AND ?", ""},
      // Every ? needs a neighbour that fixes its type.
      {"SELECT * FROM Accounts WHERE ? BETWEEN ? AND ?",
       "1:30 Invalid expression ? found, dynamic parameter type cannot be inferred"},
      {"SELECT * FROM Accounts WHERE ? BETWEEN 1 AND ?", ""},
      {"SELECT * FROM Accounts WHERE ? IN (?, ?)",
       "1:30 Invalid expression ? found, dynamic parameter type cannot be inferred"},
      {"SELECT * FROM Accounts WHERE ? IN (1, ?)", ""},
      {"SELECT * FROM Accounts WHERE CASE ? WHEN ? THEN TRUE END",
       "1:42 Invalid expression ? found, dynamic parameter type cannot be inferred"},
      {"SELECT * FROM Accounts WHERE CASE ? WHEN 1 THEN TRUE END", ""},
      {"INSERT INTO AnalysisCodes (_ID) VALUES ('FOOD', 1)",
       "1:41 Invalid expression 'FOOD', 1 found, the number of INSERT values does not match the "
       "number of columns"},
      {"INSERT INTO AnalysisCodes SELECT _ID, _Name FROM Accounts",
       "1:27 Invalid expression SELECT \"_ID\", \"_Name\" FROM \"Accounts\" found, the number of "
       "query columns does not match the number of defined columns for the table"},
      {"INSERT INTO AnalysisCodes VALUES ('FOOD')", ""},
      {"UPDATE ACCOUNTS SET _Balance = _Balance + (12.5 * -1), _BalanceDate = CURRENT_DATE WHERE "
       "_ID = 4",
       ""},
      {"UPDATE Accounts SET _Nope = 1", "1:21 The column _Nope does not exist"},
      {"DELETE FROM Transactions WHERE _fkAccounts = 3", ""},
      {"SELECT _Name FROM Accounts ORDER BY _Type COLLATE \"ANSI_CI\" DESC", ""},
      {"SELECT * FROM Accounts WHERE _ID IN (SELECT _fkAccounts FROM Transactions ORDER BY _Date)",
       "1:84 Invalid expression \"_Date\" found, ORDER BY clause not allowed"},
      {"SELECT _ID FROM Accounts UNION SELECT _ID FROM Accounts ORDER BY _ID", ""},
      {"SELECT _Name FROM Accounts ORDER BY _Type COLLATE \"Klingon\"",
       "1:51 The collation Klingon does not exist"},
      {"SELECT _ID + _Name FROM Accounts",
       "1:14 Expected SmallInt, Integer, BigInt, Float, Decimal, Interval Year, Interval Month, "
       "Interval Day, Interval Hour, Interval Minute, Interval Second, or Interval MSecond "
       "expression but instead found \"_Name\""},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorOf(c.sql), c.error) << c.sql;
}

TEST_F(BindTest, CatalogQueriesOfTheQueryGenerator) {
  EXPECT_EQ(ErrorOf("SELECT\r\nIF(X.Type = 'Text Index',True,False) AS IsTextIndex,\r\nCollation AS "
                    "idxCollation,\r\nT.Collation AS fldCollation\r\nFROM  Information.IndexColumns "
                    "XC\r\nLEFT JOIN Information.Indexes X ON X.Name = XC.IndexName\r\nLEFT JOIN "
                    "Information.TableColumns T ON T.TableName = ? AND T.Name = ?\r\nWHERE\r\n"
                    "XC.TableName = ?\r\nAND\r\nColumnName = ?\r\nAND\r\nX.TableName = ?"),
            "");
  EXPECT_EQ(ErrorOf("SELECT * FROM Information.Tables WHERE Name='Accounts'"), "");
}

TEST_F(BindTest, TriggersAndDefinitions) {
  EXPECT_EQ(ErrorOf("CREATE TRIGGER \"bi\" BEFORE INSERT ON \"Transactions\" BEGIN SET "
                    "NEWROW._Analysis = UPPER(RTRIM(NEWROW._Analysis)); END"),
            "");
  EXPECT_EQ(ErrorOf("CREATE TRIGGER \"bi\" BEFORE INSERT ON \"Transactions\" BEGIN SET "
                    "NEWROW._Analysis = UPPER(_Analysis); END"),
            "1:88 Invalid expression \"_Analysis\" found, the column reference must be prefaced "
            "with a row identifier");
  EXPECT_EQ(ErrorOf("CREATE TRIGGER \"ai\" AFTER INSERT ON \"Transactions\" BEGIN SET "
                    "NEWROW._Name = 'x'; END"),
            "1:62 Invalid expression NEWROW.\"_Name\" found, a value cannot be assigned to this "
            "column reference");
  EXPECT_EQ(ErrorOf("CREATE TRIGGER \"bu\" BEFORE UPDATE ON \"Transactions\" BEGIN SET "
                    "OLDROW._Name = 'x'; END"),
            "1:63 Invalid expression OLDROW.\"_Name\" found, a value cannot be assigned to this "
            "column reference");
  EXPECT_EQ(ErrorOf("CREATE TRIGGER \"bi\" BEFORE INSERT ON \"Transactions\" BEGIN DECLARE v "
                    "INTEGER; DECLARE V INTEGER; END"),
            "1:86 Invalid expression V found, duplicate variable declaration V found");
  // A declaration may stand among the statements; its default takes its type.
  EXPECT_EQ(ErrorOf("CREATE TRIGGER \"bi\" BEFORE INSERT ON \"Transactions\" BEGIN SET "
                    "NEWROW._ID = 1; DECLARE v INTEGER DEFAULT 2; SET NEWROW._fkAccounts = v; END"),
            "");
  EXPECT_EQ(ErrorOf("CREATE TRIGGER \"bi\" BEFORE INSERT ON \"Transactions\" BEGIN DECLARE d "
                    "DATE DEFAULT 1; END"),
            "1:82 Expected Date expression but instead found 1");

  EXPECT_EQ(ErrorOf("CREATE TABLE t (a INTEGER DEFAULT 1, b BOOLEAN DEFAULT FALSE, c DECIMAL(20,2), "
                    "CONSTRAINT v CHECK ((c <>0) OR (a <>0)))"),
            "");
  EXPECT_EQ(ErrorOf("CREATE TABLE t (a VARCHAR(0))"), "1:19 The size is below the minimum of 1");
  EXPECT_EQ(ErrorOf("CREATE TABLE t (a VARCHAR(1025))"), "1:19 The size is above the maximum of 1024");
  EXPECT_EQ(ErrorOf("CREATE TABLE t (a DECIMAL(20,5))"), "1:19 The scale is above the maximum of 4");
  EXPECT_EQ(ErrorOf("CREATE TABLE t (a INTEGER, CHECK (b > 0))"), "1:35 The column b does not exist");
  EXPECT_EQ(ErrorOf("CREATE TABLE t (a BOOLEAN DEFAULT 'no')"),
            "1:35 Expected Boolean, SmallInt, Integer, or BigInt expression but instead found 'no'");
  EXPECT_EQ(ErrorOf("CREATE INDEX \"x\" ON \"Accounts\" (\"_Nope\")"),
            "1:33 The column _Nope does not exist");
}

TEST_F(BindTest, ConstantsCarryTheirValues) {
  TZNTNodePtr st = Bind("SELECT 'it''s', 2147483648, 1.5, DATE '2024-2-3', X'0AFF' FROM Accounts");
  EXPECT_EQ(Item(*st, 0).value->AsString(), "it's");
  EXPECT_EQ(Item(*st, 1).value->AsBigInt(), 2147483648LL);
  EXPECT_DOUBLE_EQ(Item(*st, 2).value->AsFloat(), 1.5);
  EXPECT_EQ(Item(*st, 3).value->AsString(), "2024-02-03");
  EXPECT_EQ(Item(*st, 4).value->AsBytes(), std::string("\x0A\xFF", 2));
}

TEST(CompiledExpr, PrepareUnprepareAndFailures) {
  TZNTMemoryBindCatalog catalog;
  auto& t = catalog.AddTable("T");
  t.AddColumn({"a", TZNTDataType::Of(TZNTTypeCode::Integer)});
  TZNTCompiledExpr check(TZNTCompiledExpr::Entry::Expression, "check constraint expression");
  check.SetSource("a > 0");
  check.Prepare(catalog, &t);
  ASSERT_TRUE(check.Prepared());
  EXPECT_EQ(check.Root()->type.code, TZNTTypeCode::Boolean);
  check.SetSource("a > 0");  // the same text keeps the tree
  EXPECT_TRUE(check.Prepared());
  check.SetSource("b > 0");
  EXPECT_FALSE(check.Prepared());
  try {
    check.Prepare(catalog, &t);
    FAIL();
  } catch (const EZNTException& e) {
    EXPECT_EQ(e.ErrorMessage(), "An error was found in the check constraint expression at line 1 "
                                "and column 1 (The column b does not exist)");
  }
  EXPECT_FALSE(check.Prepared());

  // A text inside a larger one reports the larger text's place.
  TZNTCompiledExpr part(TZNTCompiledExpr::Entry::AdditiveExpression, "default column expression");
  part.SetSource("1 +");
  part.SetBase(7, 12);
  try {
    part.Prepare(catalog);
    FAIL();
  } catch (const EZNTException& e) {
    EXPECT_EQ(e.Line(), 7);
    EXPECT_EQ(e.Column(), 12);
  }
}

}  // namespace
}  // namespace znt
