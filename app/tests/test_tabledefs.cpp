#include "app/tabledefs.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/fynfuncs.h"
#include "app/kivmisc.h"
#include "sql/zntexpr.h"

namespace fyn {
namespace {

struct Bank {
  const char* table;
  const std::vector<std::string>& lines;
  int indexes;
};

std::vector<Bank> Banks() {
  return {{"AnalysisCodes", DefAnalysisCodesLines(), 0},
          {"Accounts", DefAccountsLines(), 1},
          {"Transactions", DefTransactionsLines(), 7},
          {"Repeats", DefRepeatsLines(), 2}};
}

// The bootstrap's walk over a bank: statement n is field n of the joined text;
// the walk stops at the first field that is empty once control characters and
// blanks are removed.
std::vector<std::string> Statements(const std::vector<std::string>& lines) {
  std::string text = TkivStringBank(lines).Text();
  std::vector<std::string> out;
  for (int n = 1;; ++n) {
    std::string s = ExtractField(text, kStatementSeparator, n);
    if (StripSpaces(StripControlChars(s)).empty()) break;
    out.push_back(s);
  }
  return out;
}

TEST(TableDefinitions, EachBankHoldsItsStatementsInOrder) {
  for (const Bank& b : Banks()) {
    std::vector<std::string> st = Statements(b.lines);
    ASSERT_EQ(st.size(), static_cast<size_t>(1 + b.indexes + 2)) << b.table;
    EXPECT_NE(st[0].find(std::string("CREATE TABLE \"") + b.table + "\""), std::string::npos);
    for (int i = 1; i <= b.indexes; ++i)
      EXPECT_NE(st[i].find("CREATE INDEX"), std::string::npos) << b.table << i;
    EXPECT_NE(st[b.indexes + 1].find("\"biRemoveTrailingBlanks\" BEFORE INSERT"), std::string::npos);
    EXPECT_NE(st[b.indexes + 2].find("\"buRemoveTrailingBlanks\" BEFORE UPDATE"), std::string::npos);
    // Both triggers of a table share one body.
    std::string ins = st[b.indexes + 1], upd = st[b.indexes + 2];
    EXPECT_EQ(ins.substr(ins.find("BEGIN")), upd.substr(upd.find("BEGIN"))) << b.table;
    // Every separator ends a line, and the bank ends with one.
    for (const std::string& line : b.lines) {
      size_t at = line.find(kStatementSeparator);
      if (at != std::string::npos) {
        EXPECT_EQ(at, line.size() - 1) << line;
      }
    }
    EXPECT_EQ(b.lines.back().back(), kStatementSeparator) << b.table;
  }
}

TEST(TableDefinitions, EveryTableCarriesTheSameOptions) {
  const std::vector<std::string> options = {
      "ENCRYPTED", "INDEX PAGE SIZE 4096", "BLOB BLOCK SIZE 512", "MAX ROW BUFFER SIZE 32768",
      "MAX INDEX BUFFER SIZE 65536", "MAX BLOB BUFFER SIZE 32768\xAC"};
  for (const Bank& b : Banks()) {
    auto it = std::find(b.lines.begin(), b.lines.end(), options[0]);
    ASSERT_NE(it, b.lines.end()) << b.table;
    EXPECT_TRUE(std::equal(options.begin(), options.end(), it)) << b.table;
    EXPECT_EQ(*(it - 1), b.table == std::string("AnalysisCodes") ? "VERSION 1.00" : "VERSION 1");
  }
}

TEST(TableDefinitions, BlankPiecesBetweenStatements) {
  // Every bank has blank lines and a line of three blanks between statements,
  // and the piece after the last separator is empty.
  for (const Bank& b : Banks()) {
    EXPECT_NE(std::find(b.lines.begin(), b.lines.end(), ""), b.lines.end()) << b.table;
    EXPECT_NE(std::find(b.lines.begin(), b.lines.end(), "   "), b.lines.end()) << b.table;
  }
}

TEST(TableDefinitions, ExactLines) {
  const auto& tr = DefTransactionsLines();
  EXPECT_EQ(tr[2], "\"_ID\" INTEGER GENERATED ALWAYS AS IDENTITY (START WITH 0, INCREMENT BY 1),");
  EXPECT_NE(std::find(tr.begin(), tr.end(),
                      "CONSTRAINT \"Value\" CHECK ((_Income <>0) OR (_Expenditure <>0))"),
            tr.end());
  auto up = std::find(tr.begin(), tr.end(), "CREATE INDEX \"UpDate\"");
  ASSERT_NE(up, tr.end());
  EXPECT_EQ(up[1], "ON \"Transactions\"");
  EXPECT_EQ(up[2], "(\"_Date\" ASC)\xAC");
  const auto& rp = DefRepeatsLines();
  auto freq = std::find(rp.begin(), rp.end(),
                        "SET NEWROW._Frequency = UPPER(RTRIM(NEWROW._Frequency));");
  ASSERT_NE(freq, rp.end());
  EXPECT_EQ(freq[-1], "SET NEWROW._Analysis = UPPER(RTRIM(NEWROW._Analysis));");
  EXPECT_EQ(freq[1], "SET NEWROW._Type = RTRIM(NEWROW._Type);");
  EXPECT_EQ(DefAccountsLines()[7], "\"_Balance\" DECIMAL(20, 2),");
}


znt::TZNTNodePtr Parse(const std::string& sql) {
  znt::TZNTExprParser parser(sql, "statement");
  return parser.ParseStatement();
}

std::string Render(const std::string& sql) { return znt::TZNTExprBuilder().Render(*Parse(sql)); }

// Rendering is a fixed point: the rendered text parses to a tree that renders
// the same, so the renderer writes SQL that means what the bank meant.
void ExpectRoundTrip(const std::string& sql) {
  std::string once = Render(sql);
  std::string twice;
  ASSERT_NO_THROW(twice = Render(once)) << sql << "\n rendered as\n" << once;
  EXPECT_EQ(once, twice) << sql;
}

TEST(TableDefinitionsParse, TheTableBanksParseAndRenderBack) {
  for (const auto* bank : {&fyn::DefAnalysisCodesLines(), &fyn::DefAccountsLines(),
                           &fyn::DefTransactionsLines(), &fyn::DefRepeatsLines()}) {
    for (const std::string& statement : Statements(*bank)) {
      SCOPED_TRACE(statement);
      ASSERT_NO_THROW(Parse(statement));
      ExpectRoundTrip(statement);
    }
  }
}

TEST(TableDefinitionsParse, TheBankTablesKeepTheirDefinitions) {
  auto st = Statements(fyn::DefTransactionsLines());
  znt::TZNTNodePtr table = Parse(st[0]);
  ASSERT_EQ(table->op, znt::TZNTOp::StCreateTable);
  EXPECT_EQ(table->Child(0)->objectName, "Transactions");
  const znt::TZNTExprToken* elements = table->Child(1);
  ASSERT_EQ(elements->children.size(), 14u);  // 12 columns and 2 constraints
  const znt::TZNTExprToken& id = *elements->children[0];
  EXPECT_EQ(id.objectName, "_ID");
  EXPECT_EQ(id.type.code, znt::TZNTTypeCode::Integer);
  EXPECT_EQ(id.Child(2)->op, znt::TZNTOp::GenIdentityAlways);
  EXPECT_EQ(id.Child(2)->Child(0)->text, "0");
  const znt::TZNTExprToken& date = *elements->children[5];
  EXPECT_EQ(date.objectName, "_Date");
  EXPECT_TRUE(date.flags & znt::kNodeNotNull);
  const znt::TZNTExprToken& income = *elements->children[6];
  EXPECT_EQ(income.type.code, znt::TZNTTypeCode::Decimal);
  EXPECT_EQ(income.type.scale, 2);
  const znt::TZNTExprToken& type = *elements->children[2];
  EXPECT_EQ(type.type, znt::TZNTDataType::VarChar(10));
  EXPECT_EQ(type.Child(0)->Child(0)->objectName, "ANSI_CI");
  const znt::TZNTExprToken& reconciled = *elements->children[10];
  EXPECT_EQ(reconciled.Child(2)->op, znt::TZNTOp::ColumnDefault);
  EXPECT_EQ(reconciled.Child(2)->text, "FALSE");
  const znt::TZNTExprToken& check = *elements->children[13];
  EXPECT_EQ(check.op, znt::TZNTOp::ConstraintCheck);
  EXPECT_EQ(check.objectName, "Value");
  EXPECT_EQ(check.text, "((_Income <>0) OR (_Expenditure <>0))");
  const znt::TZNTExprToken* options = table->Child(4);
  ASSERT_EQ(options->children.size(), 7u);
  EXPECT_EQ(options->children[0]->op, znt::TZNTOp::OptVersion);
  EXPECT_EQ(options->children[1]->op, znt::TZNTOp::OptEncrypted);
  EXPECT_EQ(options->children[6]->op, znt::TZNTOp::OptMaxBlobBufferSize);
  EXPECT_EQ(options->children[6]->Child(0)->text, "32768");

  znt::TZNTNodePtr upDate = Parse(st[5]);
  EXPECT_EQ(upDate->op, znt::TZNTOp::StCreateIndex);
  EXPECT_EQ(upDate->objectName, "UpDate");
  EXPECT_FALSE(Parse(st[4])->Child(1)->children[0]->flags & znt::kNodeAscendingWritten);
  EXPECT_TRUE(Parse(st[4])->Child(1)->children[0]->flags & znt::kNodeDescending);

  znt::TZNTNodePtr trigger = Parse(st[8]);
  EXPECT_EQ(trigger->op, znt::TZNTOp::StCreateTrigger);
  EXPECT_EQ(trigger->aux, static_cast<int>(znt::TZNTTriggerTiming::Before) * 16 +
                              static_cast<int>(znt::TZNTTriggerEvent::Insert));
  EXPECT_EQ(trigger->Child(0)->objectName, "Transactions");
  const znt::TZNTExprToken* statements = trigger->Child(3)->Child(1);
  ASSERT_EQ(statements->children.size(), 5u);
  const znt::TZNTExprToken& set = *statements->children[3]->Child(0)->children[0];
  EXPECT_TRUE(set.left->flags & znt::kNodeNewRow);
  EXPECT_EQ(set.left->objectName, "_Analysis");
  EXPECT_EQ(set.right->op, znt::TZNTOp::FnUpper);
  EXPECT_EQ(trigger->text.substr(0, 39), "TRIGGER \"biRemoveTrailingBlanks\"\r\nBEGIN");
  EXPECT_EQ(trigger->text.substr(trigger->text.size() - 3), "END");
}

}  // namespace
}  // namespace fyn
