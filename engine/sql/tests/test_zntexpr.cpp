#include "sql/zntexpr.h"

#include <gtest/gtest.h>

#include "base/znterror.h"

namespace znt {
namespace {

TZNTNodePtr Parse(std::string_view sql, TZNTParseOptions options = {}) {
  TZNTExprParser parser(sql, "statement", options);
  return parser.ParseStatement();
}

std::string Render(std::string_view sql) {
  TZNTNodePtr root = Parse(sql);
  return TZNTExprBuilder().Render(*root);
}

// The error a text raises, as "line:column detail".
std::string ErrorOf(std::string_view sql, TZNTParseOptions options = {}) {
  try {
    Parse(sql, options);
  } catch (const EZNTException& e) {
    EXPECT_EQ(e.ErrorCode(), 700);
    std::string m = e.ErrorMessage();
    // "An error was found in the statement at line L and column C (detail)"
    size_t open = m.find(" (");
    std::string detail = open == std::string::npos ? m : m.substr(open + 2, m.size() - open - 3);
    return std::to_string(e.Line()) + ":" + std::to_string(e.Column()) + " " + detail;
  }
  return "no error";
}

// Rendering is a fixed point: the rendered text parses to a tree that renders
// the same, so the renderer writes SQL that means what the source meant.
void ExpectRoundTrip(const std::string& sql) {
  std::string once = Render(sql);
  std::string twice;
  ASSERT_NO_THROW(twice = Render(once)) << sql << "\n rendered as\n" << once;
  EXPECT_EQ(once, twice) << sql;
}

TEST(Parser, TheProgramsStatementsParse) {
  const char* statements[] = {
      "SELECT * FROM Databases WHERE Name='FynDB'",
      "CREATE DATABASE \"FynDB\" PATH '/home/o''brien/Info'",
      "SELECT * FROM Information.Tables WHERE Name='AnalysisCodes'",
      "SELECT DISTINCT _Type FROM Transactions",
      "SELECT DISTINCT _Name FROM Transactions",
      "SELECT _ID FROM AnalysisCodes",
      "SELECT SUM(COALESCE(_Income,0)) - SUM(COALESCE(_Expenditure,0)) AS _BAL\r\nFROM "
      "Transactions\r\nWHERE _fkAccounts = 12\r\n",
      "SELECT SUM(ABS(COALESCE(_Income,0))) + SUM(ABS(COALESCE(_Expenditure,0))) AS _BAL\r\nFROM "
      "Transactions\r\nWHERE _fkAccounts = 12\r\nAND (_Reconciled IS NULL OR _Reconciled = FALSE)",
      "SELECT SUM(COALESCE(_Income,0)) AS B1,SUM(COALESCE(_Expenditure,0)) AS B3 FROM Transactions "
      "WHERE _fkAccounts = 7",
      "SELECT SUM(COALESCE(_Balance,0)) AS B1,SUM(COALESCE(_UnreconciledTransactions,0)) AS B3 FROM "
      "Accounts",
      "DELETE FROM Transactions WHERE _fkAccounts = 3",
      "SELECT _ID, _Type, _AccNo,_Name FROM Accounts  WHERE _ID <> 4 ORDER BY _Type, _Name",
      "UPDATE ACCOUNTS SET \r\n_Balance = _Balance + (12.5 * -1),\r\n_UnReconciledTransactions = "
      "_UnReconciledTransactions + ABS(12.5),\r\n_BalanceDate = CURRENT_DATE\r\n WHERE _ID  = 4",
      "SELECT\r\nSUM(COALESCE(_Income,0))AS _Income,\r\nSUM(COALESCE(_Expenditure,0)) AS "
      "_Expenditure\r\nFROM Transactions\r\nWHERE\r\n_ReconciledDate IS NULL\r\nAND\r\n_Reconciled = "
      "TRUE\r\nAND\r\n_fkAccounts = 2",
      "SELECT\r\nCollation\r\nFROM  Information.TableColumns\r\nWHERE\r\nTableName = ?\r\nAND\r\nName = ?",
      "SELECT\r\nIF(X.Type = 'Text Index',True,False) AS IsTextIndex,\r\nCollation AS "
      "idxCollation,\r\nT.Collation AS fldCollation\r\nFROM  Information.IndexColumns XC\r\nLEFT "
      "JOIN Information.Indexes X ON X.Name = XC.IndexName\r\nLEFT JOIN Information.TableColumns T "
      "ON T.TableName = ? AND T.Name = ?\r\nWHERE\r\nXC.TableName = ?\r\nAND\r\nColumnName = "
      "?\r\nAND\r\nX.TableName = ?",
      "SELECT\r\n\"_FynDB_Transactions\".\"_Date\",\r\n\"_FynDB_Transactions\".\"_Name\"\r\nFROM\r\n"
      "\"Transactions\" AS \"_FynDB_Transactions\"\r\nJOIN \"Accounts\" AS \"_FynDB_Accounts\" ON "
      "\"_FynDB_Accounts\".\"_ID\" = \"_FynDB_Transactions\".\"_fkAccounts\"\r\n\r\nWHERE\r\n"
      "(\"_FynDB_Transactions\".\"_Date\" >= DATE '2008-1-1') AND\r\n(UPPER(\"_FynDB_Transactions\""
      ".\"_Name\") LIKE '%SHOP%')\r\n\r\nORDER BY \r\n\"_FynDB_Transactions\".\"_Date\" "
      "ASCENDING,\r\n\"_FynDB_Transactions\".\"_Name\" COLLATE \"ANSI_CI\" DESCENDING\r\n",
      "SELECT COUNT(*) \r\nFROM\r\n\"Transactions\" AS \"_FynDB_Transactions\"\r\n",
      "SELECT DISTINCT _ID\r\nFROM AnalysisCodes",
      "SELECT * FROM Repeats WHERE _DateNextDue <= CURRENT_DATE",
      "INSERT INTO AnalysisCodes (_ID) VALUES ('FOOD')",
      "INSERT INTO t SELECT * FROM u",
      "SELECT a FROM t UNION ALL SELECT b FROM u ORDER BY 1 RANGE 1 TO 10",
      "TABLE Accounts",
      // Found by the fuzzer: each once rendered into text that meant something else.
      "SELECT \"f\"(1) FROM t",
      "SELECT 12.5 * - -1, -(-1) FROM t",
      "SELECT * FROM \"A'b\" \"x''y\"",
      // Operands written in parentheses inside lists, arguments and clauses.
      "SELECT POSITION((a = b) IN c) FROM t WHERE x IN ((a = b)) RANGE (1 + 2) TO 5",
      "CREATE DATABASE x PATH ('a' + 'b') DESCRIPTION ('c' + 'd')",
      "CREATE TRIGGER x BEFORE INSERT ON t BEGIN DECLARE \"a b\" INTEGER DEFAULT (1 + 2); END",
      "CREATE TRIGGER x BEFORE INSERT ON t BEGIN inner: BEGIN SET v = 1; END; END",
  };
  for (const char* sql : statements) {
    SCOPED_TRACE(sql);
    ASSERT_NO_THROW(Parse(sql));
    ExpectRoundTrip(sql);
  }
}

TEST(Parser, SyntaxErrorsNameTheirPlace) {
  struct Case {
    const char* sql;
    const char* error;
  };
  const Case cases[] = {
      {"SELECT * FROM t WHERE a = b = c", "1:29 Expected end of expression but instead found ="},
      {"SELECT * FROM t WHERE (a = b) = c", "no error"},
      {"SELECT * FROM t;", "no error"},
      {"SELECT * FROM t; x", "1:18 Expected end of expression but instead found x"},
      {"SELECT * FROM t WHERE a |x", "1:26 Expected | but instead found x"},
      {"SELECT * FROM t WHERE a NOT x", "1:29 Expected BETWEEN, LIKE, IN but instead found x"},
      {"SELECT * FROM t WHERE a IS x", "1:28 Expected NULL, NOT but instead found x"},
      {"SELECT * FROM t WHERE a IS NOT x", "1:32 Expected NULL but instead found x"},
      {"SELECT * FROM", "1:13 Missing table name"},
      {"SELEKT 1", "1:1 Expected SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, DROP, GRANT, "
                   "REVOKE, BACKUP, RESTORE, SET BACKUPS, MIGRATE, REPAIR, OPTIMIZE, IMPORT, EXPORT, "
                   "DISCONNECT, REMOVE, PUBLISH, UNPUBLISH, SAVE, LOAD, SET UPDATES, COPY FILE, "
                   "RENAME FILE, DELETE FILE but instead found SELEKT"},
      {"CREATE THING x", "1:8 Expected DATABASE, USER, ROLE, TEXT FILTER, WORD GENERATOR, JOB, "
                         "TABLE, TEMPORARY, VIEW, INDEX, TEXT INDEX, TRIGGER, FUNCTION, PROCEDURE, "
                         "STORE but instead found THING"},
      {"INSERT INTO t (a) 1", "1:19 Expected VALUES, SELECT but instead found 1"},
      {"CREATE TABLE t (a INTEGER GENERATED AS IDENTITY)",
       "1:37 Expected ALWAYS, BY but instead found AS"},
      {"CREATE TABLE t (a INTEGER GENERATED ALWAYS AS IDENTITY (START WITH -1))",
       "1:68 Expected expression but instead found -"},
      {"CREATE TABLE t (a INTEGER GENERATED ALWAYS AS IDENTITY (START WITH (-1)))", "no error"},
      {"CREATE TABLE t (a INTEGER) ENCRYPTED VERSION 1",
       "1:38 Expected end of expression but instead found VERSION"},
      {"CREATE TABLE t (a WIDGET)", "1:19 Expected data type but instead found WIDGET"},
      {"CREATE TABLE t (a VARCHAR)", "1:26 Expected ( but instead found )"},
      {"CREATE TABLE t (CONSTRAINT c WIDGET)",
       "1:30 Expected PRIMARY, UNIQUE, FOREIGN, REFERENCES, CHECK but instead found WIDGET"},
      {"CREATE TRIGGER x BEFORE INSERT ON t\r\nBEGIN\r\nSET NEWROW.a = 1\r\nEND",
       "4:1 Expected ; but instead found END"},
      {"CREATE TRIGGER x DURING INSERT ON t BEGIN END",
       "1:18 Expected BEFORE, AFTER, ERROR but instead found DURING"},
      {"CREATE TRIGGER x BEFORE SELECT ON t BEGIN END",
       "1:25 Expected INSERT, UPDATE, DELETE but instead found SELECT"},
      {"SELECT * FROM a FULL OUTER JOIN b ON a.x = b.x",
       "1:17 Invalid expression FULL found, FULL OUTER JOINs not supported"},
      {"SELECT * FROM t\r\nWHERE x = 1.2.3", "2:11 Expected numeric constant but instead found 1.2.3"},
      {"SELECT #256 FROM t", "1:8 Expected character constant but instead found #256"},
      {"SELECT 99999999999999999999 FROM t",
       "1:8 Expected numeric constant but instead found 99999999999999999999"},
      {"SELECT a, * + 1 FROM t", "no error"},  // refused by the binder, not here
      {"SELECT (*) FROM t", "1:9 Invalid expression * found, columns wildcard (*) not allowed"},
      {"SELECT ? FROM t", "1:8 Invalid expression ? found, dynamic parameter references not allowed"},
      {"SELECT a FROM t WHERE b CONTAINS 'x'", "no error"},
      {"SELECT a FROM t WHERE a IN (SELECT b FROM u WHERE c = ?)", "no error"},
      {"SELECT a FROM t HAVING b CONTAINS 'x'",
       "1:26 Invalid expression CONTAINS found, CONTAINS and DOES NOT CONTAIN operators not allowed"},
      {"GRANT ALL TO x", "1:1 The GRANT statement is not supported"},
      {"CREATE VIEW v AS SELECT 1 FROM t", "1:8 The CREATE VIEW statement is not supported"},
      {"SELECT CAST(a AS DECIMAL(20,2)) FROM t", "no error"},
      {"SELECT TRIM(BOTH ' ' FROM a), SUBSTRING(a FROM 2 FOR 3), POSITION('x' IN a) FROM t", "no error"},
      {"SELECT EXTRACT(YEAR FROM _Date), ROUND(a TO 2), IF(a > 1 THEN 'y' ELSE 'n') FROM t", "no error"},
      {"SELECT CASE WHEN a = 1 THEN 'one' ELSE 'many' END, COUNT(*), LIST(a USING ';') FROM t",
       "no error"},
      {"SELECT a FROM t UNION (SELECT b FROM u ORDER BY b) ORDER BY 1", "no error"},
      {"(SELECT a FROM t ORDER BY a) ORDER BY 1",
       "1:30 Expected end of expression but instead found ORDER"},
      {"CREATE TRIGGER x BEFORE INSERT ON t BEGIN RETURN 1; END",
       "1:43 Invalid expression RETURN found, RETURN statement not allowed"},
      {"CREATE TRIGGER x AFTER UPDATE ON t BEGIN RAISE; END",
       "1:42 Invalid expression RAISE found, exception handling statements and functions not "
       "allowed"},
      {"CREATE TRIGGER x BEFORE DELETE ON t BEGIN SET v = 1; EXCEPTION END",
       "1:54 Invalid expression EXCEPTION found, exception handling statements and functions not "
       "allowed"},
      {"SELECT ERRORMSG() FROM t",
       "1:8 Invalid expression ERRORMSG found, exception handling statements and functions not "
       "allowed"},
      {"CREATE TRIGGER x ERROR INSERT ON t WHEN ERRORCODE() = 1 BEGIN SET v = ERRORMSG(); END",
       "no error"},
      {"CREATE TRIGGER x ERROR INSERT ON t BEGIN RAISE; END",
       "1:42 The RAISE statement is not supported"},
      {"CREATE TRIGGER x BEFORE INSERT ON t BEGIN ITERATE x; END",
       "1:43 Invalid expression ITERATE found, ITERATE not allowed in non-looping statement block"},
      {"CREATE TRIGGER x BEFORE INSERT ON t BEGIN again: LOOP END LOOP; END",
       "1:50 The LOOP statement is not supported"},
      {"CREATE TRIGGER x BEFORE INSERT ON t BEGIN again: SET v = 1; END",
       "1:50 Expected BEGIN, LOOP, REPEAT, WHILE, FOR but instead found SET"},
      {"SELECT EXTRACT(CENTURY FROM d) FROM t",
       "1:16 Expected YEAR, MONTH, WEEK, DAY, DAYOFWEEK, DAYOFYEAR, HOUR, MINUTE, SECOND, MSECOND "
       "but instead found CENTURY"},
  };
  TZNTParseOptions session;
  for (const Case& c : cases) EXPECT_EQ(ErrorOf(c.sql, session), c.error) << c.sql;
}

TEST(Parser, ContextRefusesWhatItDoesNotAllow) {
  TZNTParseOptions check;
  check.subqueries = check.parameters = false;
  check.databaseQualifiers = check.schemaQualifiers = false;
  EXPECT_EQ(ErrorOf("SELECT a FROM t WHERE a IN (SELECT b FROM u)", check),
            "1:29 Invalid expression SELECT found, query expression not allowed");
  EXPECT_EQ(ErrorOf("SELECT a FROM t WHERE a = ?", check),
            "1:27 Invalid expression ? found, dynamic parameter references not allowed");
  EXPECT_EQ(ErrorOf("SELECT a FROM FynDB.Accounts", check),
            "1:15 Invalid expression FynDB.Accounts found, database qualifier not allowed");
  TZNTParseOptions noTables;
  noTables.tableQualifiers = false;
  EXPECT_EQ(ErrorOf("SELECT t.a FROM t", noTables),
            "1:8 Invalid expression t.a found, table qualifier not allowed");
}

// Found by the fuzzer: deeply nested text once exhausted the stack.
TEST(Parser, NestingIsBounded) {
  for (const std::string& open : {std::string("("), std::string("- "), std::string("NOT "),
                                  std::string("ABS(")}) {
    std::string deep = "SELECT ";
    for (int i = 0; i < 100000; ++i) deep += open;
    deep += "1 FROM t";
    try {
      Parse(deep);
      FAIL() << open;
    } catch (const EZNTException& e) {
      EXPECT_EQ(e.ErrorCode(), 700);
      EXPECT_NE(e.ErrorMessage().find("nested more than 200 levels deep"), std::string::npos)
          << e.ErrorMessage();
    }
  }
  // Ordinary nesting, and any number of prefix plus signs, still parse.
  std::string fine = "SELECT ";
  for (int i = 0; i < 50; ++i) fine += "(";
  fine += "1";
  for (int i = 0; i < 50; ++i) fine += ")";
  EXPECT_NO_THROW(Parse(fine + " + " + std::string(10000, '+') + "1 FROM t"));
}

TEST(Parser, Precedence) {
  // NOT binds tighter than AND, AND tighter than OR.
  TZNTExprParser p("a AND NOT b OR c", "expression");
  TZNTNodePtr e = p.ParseStandaloneExpression();
  ASSERT_EQ(e->op, TZNTOp::Or);
  ASSERT_EQ(e->left->op, TZNTOp::And);
  EXPECT_EQ(e->left->right->op, TZNTOp::Not);
  EXPECT_EQ(e->right->objectName, "c");

  // NOT before a comparison negates the whole comparison.
  TZNTExprParser q("NOT a = 1", "expression");
  e = q.ParseStandaloneExpression();
  ASSERT_EQ(e->op, TZNTOp::Not);
  EXPECT_EQ(e->left->op, TZNTOp::Equal);

  // || and + are one operation; * binds tighter than +.
  TZNTExprParser r("a || b + c * d", "expression");
  e = r.ParseStandaloneExpression();
  EXPECT_EQ(e->op, TZNTOp::Add);
  EXPECT_EQ(e->left->op, TZNTOp::Add);
  EXPECT_EQ(e->right->op, TZNTOp::Multiply);
  EXPECT_EQ(TZNTExprBuilder().Render(*e), "\"a\" + \"b\" + \"c\" * \"d\"");

  TZNTExprParser s("a <> b", "expression");
  EXPECT_EQ(s.ParseStandaloneExpression()->op, TZNTOp::NotEqual);
  TZNTExprParser t("a >< b", "expression");
  EXPECT_EQ(t.ParseStandaloneExpression()->op, TZNTOp::NotEqual);
  TZNTExprParser u("a < = b", "expression");
  EXPECT_EQ(u.ParseStandaloneExpression()->op, TZNTOp::LessEqual);
}

TEST(Parser, StandaloneExpressionsEndWhereTheyEnd) {
  TZNTExprParser p("1 x", "default column expression");
  try {
    p.ParseStandaloneExpression(true);
    FAIL();
  } catch (const EZNTException& e) {
    EXPECT_EQ(e.ErrorMessage(),
              "An error was found in the default column expression at line 1 and column 3 "
              "(Expected end of expression but instead found x)");
  }
  // A default is additive: a comparison needs parentheses.
  TZNTExprParser q("1 = 2", "default column expression");
  EXPECT_THROW(q.ParseStandaloneExpression(true), EZNTException);
  TZNTExprParser r("(1 = 2)", "default column expression");
  EXPECT_NO_THROW(r.ParseStandaloneExpression(true));
  // The terminator ends statements, not expressions.
  TZNTExprParser t("a > 0;", "check constraint expression");
  try {
    t.ParseStandaloneExpression();
    FAIL();
  } catch (const EZNTException& e) {
    EXPECT_EQ(e.ErrorMessage(),
              "An error was found in the check constraint expression at line 1 and column 6 "
              "(Expected end of expression but instead found ;)");
  }
}

TEST(Parser, NamesAndAliases) {
  TZNTNodePtr q = Parse("SELECT a x, b AS \"from\", c FROM Information.Tables T, FynDB.Accounts");
  const TZNTExprToken* query = q->Child(0);
  const TZNTExprToken* items = query->Child(qslot::Select);
  EXPECT_EQ(items->children[0]->correlationName, "x");
  EXPECT_EQ(items->children[1]->correlationName, "from");
  EXPECT_EQ(items->children[2]->correlationName, "");
  EXPECT_EQ(items->children[0]->text, "a");
  const TZNTExprToken* from = query->Child(qslot::From);
  EXPECT_EQ(from->children[0]->schemaName, "Information");
  EXPECT_EQ(from->children[0]->objectName, "Tables");
  EXPECT_EQ(from->children[0]->correlationName, "T");
  EXPECT_EQ(from->children[1]->databaseName, "FynDB");
  EXPECT_EQ(from->children[1]->schemaName, "");

  // A right join is kept as a left join with the sides exchanged.
  TZNTNodePtr j = Parse("SELECT * FROM a RIGHT JOIN b ON a.x = b.x");
  const TZNTExprToken* join = j->Child(0)->Child(qslot::From)->children[0].get();
  EXPECT_EQ(join->op, TZNTOp::JoinLeftOuter);
  EXPECT_EQ(join->left->objectName, "b");
  EXPECT_EQ(join->right->objectName, "a");

  // The ORDER BY after a parenthesised last member orders the whole set
  // operation; the member keeps the one inside its parentheses.
  TZNTNodePtr u = Parse("SELECT a FROM t UNION (SELECT b FROM u ORDER BY b) ORDER BY 1");
  const TZNTExprToken* set = u->Child(0);
  ASSERT_EQ(set->op, TZNTOp::QueryUnion);
  ASSERT_NE(set->Child(qslot::OrderBy), nullptr);
  EXPECT_EQ(set->Child(qslot::OrderBy)->children[0]->Child(0)->text, "1");
  ASSERT_NE(set->right->Child(qslot::OrderBy), nullptr);
  EXPECT_EQ(set->right->Child(qslot::OrderBy)->children[0]->Child(0)->objectName, "b");
}

TEST(Parser, ConstantsAndRendering) {
  struct Case {
    const char* expr;
    const char* rendered;
  };
  const Case cases[] = {
      {"'it''s'", "'it''s'"},
      {"#65", "#65"},
      {"X'0aFF'", "X'0aFF'"},
      {"DATE '2024-2-3'", "DATE '2024-2-3'"},
      {"INTERVAL '1' DAY", "INTERVAL '1' DAY"},
      {"(d1 - d2) DAY TO SECOND", "(\"d1\" - \"d2\") DAY TO SECOND"},
      {"2147483647", "2147483647"},
      {"-5", "-5"},
      {"\"a\"\"b\"", "\"a\"\"b\""},
      {"a NOT BETWEEN 1 AND 2", "\"a\" NOT BETWEEN 1 AND 2"},
      {"a NOT LIKE 'x%' ESCAPE '!'", "\"a\" NOT LIKE 'x%' ESCAPE '!'"},
      {"a IN (1, NULL)", "\"a\" IN (1, NULL)"},
      {"CURRENT_DATE(UTC) - INTERVAL '1' DAY", "CURRENT_DATE(UTC) - INTERVAL '1' DAY"},
      {"CAST(a AS VARCHAR(10) COLLATE \"ANSI_CI\")",
       "CAST(\"a\" AS VARCHAR(10) COLLATE \"ANSI_CI\")"},
      {"CAST(a, INTEGER)", "CAST(\"a\" AS INTEGER)"},
      // A qualified difference keeps its qualifier wherever it stands.
      {"ABS((d1 - d2) DAY)", "ABS((\"d1\" - \"d2\") DAY)"},
      {"CASE WHEN x THEN (d1 - d2) MONTH ELSE (a) END",
       "CASE WHEN \"x\" THEN (\"d1\" - \"d2\") MONTH ELSE (\"a\") END"},
      {"a[(d1 - d2) DAY]", "\"a\"[(\"d1\" - \"d2\") DAY]"},
  };
  for (const Case& c : cases) {
    TZNTExprParser p(c.expr, "expression");
    TZNTNodePtr e = p.ParseStandaloneExpression();
    EXPECT_EQ(TZNTExprBuilder().Render(*e), c.rendered) << c.expr;
  }
  TZNTExprParser big("2147483648", "expression");
  EXPECT_EQ(big.ParseStandaloneExpression()->type.code, TZNTTypeCode::BigInt);
  TZNTExprParser small("2147483647", "expression");
  EXPECT_EQ(small.ParseStandaloneExpression()->type.code, TZNTTypeCode::Integer);
  TZNTExprParser flt("1e-3", "expression");
  EXPECT_EQ(flt.ParseStandaloneExpression()->type.code, TZNTTypeCode::Float);
  TZNTExprParser hex("X'0aFF'", "expression");
  EXPECT_EQ(hex.ParseStandaloneExpression()->type, TZNTDataType::VarByte(2));
}

TEST(Parser, MultiLineRendering) {
  TZNTNodePtr st = Parse("SELECT a, b FROM t WHERE a = 1 ORDER BY b DESC");
  EXPECT_EQ(TZNTExprBuilder(true).Render(*st),
            "SELECT \"a\", \"b\"\r\nFROM \"t\"\r\nWHERE \"a\" = 1\r\nORDER BY \"b\" DESC");
}

}  // namespace
}  // namespace znt
