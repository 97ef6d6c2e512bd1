#include <gtest/gtest.h>

#include <initializer_list>

#include "base/zntconsts.h"
#include "base/zntstring.h"
#include "catalog/zntobjmgr.h"
#include "catalog_test_util.h"
#include "sql/zntbind.h"
#include "sql/zntexpr.h"
#include "storage/zntmemfilemgr.h"

namespace znt {
namespace {

using test::ErrorOf;
using test::FileBytes;
using test::Serialised;

// The program's table definitions, line by line as it sends them (without
// the statement separator).
std::string Lines(std::initializer_list<const char*> lines) {
  std::string sql;
  for (const char* l : lines) sql += std::string(sql.empty() ? "" : "\r\n") + l;
  return sql;
}

const std::string kAnalysisCodes = Lines({
    R"(CREATE TABLE "AnalysisCodes")",
    R"(()",
    R"("_ID" VARCHAR(20) COLLATE "ANSI_CI",)",
    R"(CONSTRAINT "PK" PRIMARY KEY ("_ID"))",
    R"())",
    R"(VERSION 1.00)",
    R"(ENCRYPTED)",
    R"(INDEX PAGE SIZE 4096)",
    R"(BLOB BLOCK SIZE 512)",
    R"(MAX ROW BUFFER SIZE 32768)",
    R"(MAX INDEX BUFFER SIZE 65536)",
    R"(MAX BLOB BUFFER SIZE 32768)",
});

const std::string kAccounts = Lines({
    R"(CREATE TABLE "Accounts")",
    R"(()",
    R"("_ID" INTEGER GENERATED ALWAYS AS IDENTITY (START WITH 0, INCREMENT BY 1),)",
    R"("_AccNo" VARCHAR(30) COLLATE "ANSI_CI" NOT NULL,)",
    R"("_Name" VARCHAR(50) COLLATE "ANSI_CI" NOT NULL,)",
    R"("_Type" VARCHAR(15) COLLATE "ANSI_CI" NOT NULL,)",
    R"("_Adjustor" INTEGER DEFAULT 1,)",
    R"("_Balance" DECIMAL(20, 2),)",
    R"("_BalanceDate" DATE,)",
    R"("_ReconciledBalance" DECIMAL(20, 2),)",
    R"("_ReconciledDate" DATE,)",
    R"("_UnReconciledTransactions" DECIMAL(20, 2),)",
    R"("_LastCheque" INTEGER,)",
    "",
    R"(CONSTRAINT "PK" PRIMARY KEY ("_ID"))",
    R"())",
    R"(VERSION 1)",
    R"(ENCRYPTED)",
    R"(INDEX PAGE SIZE 4096)",
    R"(BLOB BLOCK SIZE 512)",
    R"(MAX ROW BUFFER SIZE 32768)",
    R"(MAX INDEX BUFFER SIZE 65536)",
    R"(MAX BLOB BUFFER SIZE 32768)",
});

const std::string kTransactions = Lines({
    R"(CREATE TABLE "Transactions")",
    R"(()",
    R"("_ID" INTEGER GENERATED ALWAYS AS IDENTITY (START WITH 0, INCREMENT BY 1),)",
    R"("_fkAccounts" INTEGER,)",
    R"("_Type" VARCHAR(10) COLLATE "ANSI_CI",)",
    R"("_Reference" VARCHAR(20) COLLATE "ANSI_CI",)",
    R"("_Name" VARCHAR(50) COLLATE "ANSI_CI",)",
    R"("_Date" DATE NOT NULL,)",
    R"("_Income" DECIMAL(20,2),)",
    R"("_Expenditure" DECIMAL(20,2),)",
    R"("_Reason" VARCHAR(100) COLLATE "ANSI_CI",)",
    R"("_Analysis" VARCHAR(20) COLLATE "ANSI_CI",)",
    R"("_Reconciled" BOOLEAN DEFAULT FALSE,)",
    R"("_ReconciledDate" DATE,)",
    R"(CONSTRAINT "PK" PRIMARY KEY ("_ID"),)",
    R"(CONSTRAINT "Value" CHECK ((_Income <>0) OR (_Expenditure <>0)))",
    "",
    R"())",
    R"(VERSION 1)",
    R"(ENCRYPTED)",
    R"(INDEX PAGE SIZE 4096)",
    R"(BLOB BLOCK SIZE 512)",
    R"(MAX ROW BUFFER SIZE 32768)",
    R"(MAX INDEX BUFFER SIZE 65536)",
    R"(MAX BLOB BUFFER SIZE 32768)",
});

const std::string kRepeats = Lines({
    R"(CREATE TABLE "Repeats")",
    R"(()",
    R"("_ID" INTEGER GENERATED ALWAYS AS IDENTITY (START WITH 0, INCREMENT BY 1),)",
    R"("_fkAccounts" INTEGER,)",
    R"("_Type" VARCHAR(10) COLLATE "ANSI_CI",)",
    R"("_Reference" VARCHAR(20) COLLATE "ANSI_CI",)",
    R"("_Name" VARCHAR(50) COLLATE "ANSI_CI",)",
    R"("_Frequency" VARCHAR(10) COLLATE "ANSI_CI",)",
    R"("_DateLastApplied" DATE,)",
    R"("_DateNextDue" DATE,)",
    R"("_Income" DECIMAL(20,2),)",
    R"("_Expenditure" DECIMAL(20,2),)",
    R"("_Reason" VARCHAR(100) COLLATE "ANSI_CI",)",
    R"("_Analysis" VARCHAR(20) COLLATE "ANSI_CI",)",
    R"(CONSTRAINT "PK" PRIMARY KEY ("_ID"))",
    R"())",
    R"(VERSION 1)",
    R"(ENCRYPTED)",
    R"(INDEX PAGE SIZE 4096)",
    R"(BLOB BLOCK SIZE 512)",
    R"(MAX ROW BUFFER SIZE 32768)",
    R"(MAX INDEX BUFFER SIZE 65536)",
    R"(MAX BLOB BUFFER SIZE 32768)",
});

const std::string kTransactionsIndexes[] = {
    "CREATE INDEX \"Name\" ON \"Transactions\"\r\n(\"_Name\" COLLATE \"ANSI_CI\")",
    "CREATE INDEX \"Analysis\" ON \"Transactions\"\r\n(\"_Analysis\" COLLATE \"ANSI_CI\")",
    "CREATE INDEX \"Reason\" ON \"Transactions\"\r\n(\"_Reason\" COLLATE \"ANSI_CI\")",
    "CREATE INDEX \"DownDate\" ON \"Transactions\"\r\n(\"_Date\" DESC)",
    "CREATE INDEX \"UpDate\"\r\nON \"Transactions\"\r\n(\"_Date\" ASC)",
    "CREATE INDEX \"Account\" ON \"Transactions\"\r\n(\"_fkAccounts\" ASC)",
    "CREATE INDEX \"Type\" ON \"Transactions\"\r\n(\"_Type\" ASC)",
};

const std::string kAnalysisCodesInsertTrigger = Lines({
    R"(CREATE TRIGGER "biRemoveTrailingBlanks" BEFORE INSERT ON "AnalysisCodes")",
    "BEGIN",
    "SET NEWROW._ID = UPPER(RTRIM(NEWROW._ID));",
    "END",
});

const std::string kFolder = "/app/Info";

// One database's catalog on an in-memory disk, changed as the session would
// change it: parse, bind against the catalog, apply under a metadata write.
class CatalogDDLTest : public ::testing::Test {
 protected:
  CatalogDDLTest() : manager_(files_, kFolder, settings_, "FynDB", false) {
    manager_.OpenMetadata();
  }

  TZNTCatalog& Catalog() { return manager_.Catalog(); }
  TZNTBaseTable& Table(std::string_view name) {
    TZNTBaseTable* t = Catalog().DefaultSchema()->baseTables.Find(name);
    EXPECT_NE(t, nullptr) << name;
    return *t;
  }

  // Runs one DDL statement; returns the engine error it raised, if any.
  std::pair<int, std::string> Exec(const std::string& sql) {
    return ErrorOf([&] {
      TZNTExprParser parser(sql, "statement");
      TZNTNodePtr st = parser.ParseStatement();
      TZNTCatalogBindAdapter binder(Catalog(), "FynDB");
      BindTree(*st, binder, TZNTBindContext{});
      ApplyMetadataChange(manager_, [&] {
        switch (st->op) {
          case TZNTOp::StCreateTable:
            CreateTable(Catalog(), *st, "Administrator");
            break;
          case TZNTOp::StCreateIndex:
          case TZNTOp::StCreateTextIndex:
            CreateIndex(Catalog(), *st, &config_);
            break;
          case TZNTOp::StCreateTrigger:
            CreateTrigger(Catalog(), *st);
            break;
          default:
            FAIL() << "not a catalog statement";
        }
      });
    });
  }
  void Run(const std::string& sql) {
    auto [code, message] = Exec(sql);
    ASSERT_EQ(code, 0) << message;
  }
  void CreateProgramTables() {
    for (const std::string* sql : {&kAnalysisCodes, &kAccounts, &kTransactions, &kRepeats})
      Run(*sql);
  }

  TZNTMemoryFileManager files_;
  TZNTMetadataSettings settings_ = TZNTMetadataSettings::For();
  TZNTCatalogManager manager_;
  TZNTConfig config_;
};

TEST_F(CatalogDDLTest, TheProgramsFourTables) {
  CreateProgramTables();
  struct Expect {
    const char* table;
    int columns;  // __RowID included
    int32_t rowSize;
    int32_t lockNumber;
  } tables[] = {
      {"AnalysisCodes", 2, 48, 1},
      {"Accounts", 12, 184, 2},
      {"Transactions", 13, 280, 3},
      {"Repeats", 13, 288, 4},
  };
  for (const Expect& e : tables) {
    SCOPED_TRACE(e.table);
    const TZNTBaseTable& t = Table(e.table);
    EXPECT_EQ(t.columns.Count(), e.columns);
    EXPECT_EQ(t.RowSize(), e.rowSize);
    EXPECT_EQ(t.lockNumber, e.lockNumber);
    EXPECT_EQ(t.userVersion, 10000);  // "1.00" and "1" alike
    EXPECT_TRUE(t.encrypted);
    EXPECT_EQ(t.internalVersion, 1);
    EXPECT_EQ(t.IndexPageSize(), 4096);
    EXPECT_EQ(t.MaxIndexBufferSize(), 65536);
    EXPECT_EQ(t.creator, "Administrator");
    const TZNTColumn& rowId = t.columns.At(0);
    EXPECT_EQ(rowId.Name(), "__RowID");
    EXPECT_TRUE(rowId.System() && rowId.Hidden());
    EXPECT_EQ(rowId.type.code, TZNTTypeCode::Integer);
    // Every table's key is "PK" with an enforcing index of its own name.
    const TZNTConstraint* pk = t.PrimaryKey();
    ASSERT_NE(pk, nullptr);
    EXPECT_EQ(pk->Name(), "PK");
    const TZNTIndex* index = t.indexes.FindID(pk->enforcingIndexId);
    ASSERT_NE(index, nullptr);
    EXPECT_EQ(index->Name(), "PK");
    EXPECT_EQ(index->indexType, TZNTIndexType::PrimaryKey);
    EXPECT_EQ(index->ownerConstraintId, pk->ID());
    ASSERT_EQ(index->columns.Count(), 1);
    EXPECT_EQ(index->columns.At(0).columnId, t.columns.Find("_ID")->ID());
  }

  const TZNTBaseTable& accounts = Table("Accounts");
  const TZNTColumn& id = *accounts.columns.Find("_ID");
  EXPECT_EQ(id.type.code, TZNTTypeCode::Integer);
  EXPECT_TRUE(id.identity);
  EXPECT_FALSE(id.identityByDefault);
  EXPECT_EQ(id.identitySeed, 0);
  EXPECT_EQ(id.identityIncrement, 1);
  EXPECT_FALSE(id.notNull);
  const TZNTColumn& accNo = *accounts.columns.Find("_AccNo");
  EXPECT_EQ(accNo.type, TZNTDataType::VarChar(30, kCollationANSI_CI));
  EXPECT_EQ(accNo.dataSize, 32);
  EXPECT_TRUE(accNo.notNull);
  EXPECT_EQ(accounts.columns.IndexOf(accNo), 2);
  const TZNTColumn& adjustor = *accounts.columns.Find("_Adjustor");
  EXPECT_TRUE(adjustor.hasDefault);
  EXPECT_EQ(adjustor.defaultExpr, "1");
  EXPECT_EQ(accounts.columns.Find("_Balance")->type, TZNTDataType::Decimal(2));

  const TZNTBaseTable& transactions = Table("Transactions");
  ASSERT_EQ(transactions.constraints.Count(), 2);
  const TZNTConstraint& value = *transactions.constraints.Find("Value");
  EXPECT_EQ(value.constraintType, TZNTConstraintType::Check);
  EXPECT_EQ(value.checkExpr, "((_Income <>0) OR (_Expenditure <>0))");
  EXPECT_EQ(transactions.indexes.Count(), 1);  // a check has no index
  EXPECT_EQ(transactions.columns.Find("_Reconciled")->defaultExpr, "FALSE");
  EXPECT_EQ(Table("AnalysisCodes").columns.Find("_ID")->type,
            TZNTDataType::VarChar(20, kCollationANSI_CI));
  Catalog().DefaultSchema()->baseTables.CheckInvariants();
}

TEST_F(CatalogDDLTest, CreateIndexAddsItsColumnsAndRaisesTheVersion) {
  CreateProgramTables();
  for (const std::string& sql : kTransactionsIndexes) Run(sql);
  const TZNTBaseTable& t = Table("Transactions");
  EXPECT_EQ(t.indexes.Count(), 8);
  EXPECT_EQ(t.internalVersion, 8);  // 1, and 1 more per index
  struct Expect {
    const char* index;
    const char* column;
    uint32_t collation;
    bool descending;
  } cases[] = {
      {"Name", "_Name", kCollationANSI_CI, false},
      {"DownDate", "_Date", kCollationANSI, true},
      {"UpDate", "_Date", kCollationANSI, false},
      {"Type", "_Type", kCollationANSI_CI, false},  // the column's own collation
  };
  for (const Expect& e : cases) {
    SCOPED_TRACE(e.index);
    const TZNTIndex& index = *t.indexes.Find(e.index);
    EXPECT_EQ(index.indexType, TZNTIndexType::Index);
    ASSERT_EQ(index.columns.Count(), 1);
    EXPECT_EQ(index.columns.At(0).columnId, t.columns.Find(e.column)->ID());
    EXPECT_EQ(index.columns.At(0).collation, e.collation);
    EXPECT_EQ(index.columns.At(0).descending, e.descending);
  }
  Run(R"(CREATE INDEX "Pair" ON "Accounts" ("_Type" COLLATE "ANSI", "_Name" DESC))");
  const TZNTIndex& pair = *Table("Accounts").indexes.Find("Pair");
  ASSERT_EQ(pair.columns.Count(), 2);
  EXPECT_EQ(pair.columns.At(0).collation, kCollationANSI);
  EXPECT_TRUE(pair.columns.At(1).descending);
}

TEST_F(CatalogDDLTest, CreateTriggerKeepsItsTimeTypeAndText) {
  CreateProgramTables();
  Run(kAnalysisCodesInsertTrigger);
  Run("CREATE TRIGGER \"auNames\" AFTER UPDATE OF \"_Name\", \"_Type\" ON \"Accounts\"\r\n"
      "WHEN NEWROW._Name <> OLDROW._Name\r\n"
      "BEGIN\r\nEND");
  const TZNTTrigger& insert = *Table("AnalysisCodes").triggers.Find("biRemoveTrailingBlanks");
  EXPECT_EQ(insert.actionTime, 1);
  EXPECT_EQ(insert.actionType, 1);
  EXPECT_EQ(insert.body,
            "TRIGGER \"biRemoveTrailingBlanks\"\r\nBEGIN\r\n"
            "SET NEWROW._ID = UPPER(RTRIM(NEWROW._ID));\r\nEND");
  EXPECT_EQ(insert.condition, "");
  const TZNTTrigger& update = *Table("Accounts").triggers.Find("auNames");
  EXPECT_EQ(update.actionTime, 2);
  EXPECT_EQ(update.actionType, 2);
  ASSERT_EQ(update.columns.Count(), 2);
  EXPECT_EQ(update.columns.At(1).columnId, Table("Accounts").columns.Find("_Type")->ID());
  // The condition is kept as the renderer writes it, which parses back.
  EXPECT_EQ(update.condition, R"(NEWROW."_Name" <> OLDROW."_Name")");
  EXPECT_EQ(Table("Accounts").internalVersion, 1);  // triggers leave the version alone
}

TEST_F(CatalogDDLTest, RefusedStatementsLeaveCatalogAndFileUnchanged) {
  CreateProgramTables();
  Run(kAnalysisCodesInsertTrigger);
  Run(kTransactionsIndexes[6]);
  const std::string fileBefore = FileBytes(files_, manager_.Path());
  const std::string treeBefore = Serialised(Catalog());
  const std::string big = "CREATE TABLE \"Big\" (\"_Text\" VARCHAR(1000)";
  struct Case {
    std::string sql;
    int code;
    std::string message;
  } cases[] = {
      {kAccounts, 400, "The table Accounts already exists"},
      {R"(CREATE TABLE "accounts" ("_X" INTEGER))", 400, "The table accounts already exists"},
      {kTransactionsIndexes[6], 400, "The index Type already exists"},
      {kAnalysisCodesInsertTrigger, 400, "The trigger biRemoveTrailingBlanks already exists"},
      {R"(CREATE TABLE "T" ("_A" INTEGER, CONSTRAINT "K" UNIQUE ("_A"), )"
       R"(CONSTRAINT "K" CHECK (_A > 0)))",
       400, "The constraint K already exists"},
      {R"(CREATE TABLE "T" ("_A" INTEGER, "_B" INTEGER, CONSTRAINT "K1" PRIMARY KEY ("_A"), )"
       R"(CONSTRAINT "K2" PRIMARY KEY ("_B")))",
       400, "The primary key K1 already exists"},
      {R"(CREATE TABLE "T" ("_A" INTEGER REFERENCES "Nowhere"))", 401,
       "The table Nowhere does not exist"},
      {R"(CREATE TABLE "T" ("_A" VARCHAR(30), )"
       R"(FOREIGN KEY ("_A") REFERENCES "Accounts" ("_AccNo")))",
       401, "The primary or unique key Accounts (_AccNo) does not exist"},
      {R"(CREATE TABLE "A23456789012345678901234567890123456789012" ("_A" INTEGER))", 406,
       "Invalid table identifier 'A23456789012345678901234567890123456789012'"},
      {R"(CREATE TABLE "Information"."Mine" ("_A" INTEGER))", 200,
       "This operation cannot be performed on the system schema Information or any privileges "
       "granted to it"},
      {R"(CREATE INDEX "X" ON "Information"."Tables" ("Name"))", 200,
       "This operation cannot be performed on the system table Tables or any privileges granted "
       "to it"},
      {big + ", CONSTRAINT \"PK\" PRIMARY KEY (\"_Text\")) INDEX PAGE SIZE 1024", 100,
       "There is an error in the metadata for the index PK (The index page size is below the "
       "required of 4064)"},
      {R"(CREATE INDEX "Long" ON "Transactions" ("_Reason", "_Name", "_Reference", "_Type", )"
       R"("_Analysis", "_Reason" DESC))",
       400, "The index column _Reason already exists"},
      {R"(CREATE TABLE "T" ("_A" BLOB, CONSTRAINT "U" UNIQUE ("_A")))", 100,
       "There is an error in the metadata for the index U (BLOB columns cannot be included in a "
       "non-text index)"},
      {R"(CREATE TEXT INDEX "Words" ON "Transactions" ("_Date"))", 100,
       "There is an error in the metadata for the index Words (Columns that are not CHAR, "
       "VARCHAR, or CLOB columns cannot be included in a text index)"},
      {R"(CREATE TEXT INDEX "Words" ON "Transactions" ("_Name") WORD GENERATOR "Nope")", 401,
       "The word generator Nope does not exist"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    auto [code, message] = Exec(c.sql);
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(Serialised(Catalog()), treeBefore);
    EXPECT_FALSE(manager_.InWrite());
  }
  EXPECT_EQ(FileBytes(files_, manager_.Path()), fileBefore);
}

TEST_F(CatalogDDLTest, IndexKeysMustFitFourToAPage) {
  // A key of 1003 bytes needs 4 x 1003 + 51 = 4063, rounded to 4064.
  Run(R"(CREATE TABLE "Big" ("_Text" VARCHAR(1000)) INDEX PAGE SIZE 4064)");
  EXPECT_EQ(Exec(R"(CREATE INDEX "Fits" ON "Big" ("_Text"))").first, 0);
  Run(R"(CREATE TABLE "Bigger" ("_Text" VARCHAR(1001)) INDEX PAGE SIZE 4064)");
  EXPECT_EQ(Exec(R"(CREATE INDEX "Fits" ON "Bigger" ("_Text"))").second,
            "There is an error in the metadata for the index Fits (The index page size is below "
            "the required of 4072)");
}

TEST_F(CatalogDDLTest, OptionsAreCorrectedAndUnnamedKeysNamed) {
  Run(R"(CREATE TABLE "T" ("_A" INTEGER PRIMARY KEY, "_B" CHAR(4) UNIQUE, "_C" INTEGER)"
      R"( COMPUTED ALWAYS AS _A + 1, "_D" INTEGER GENERATED BY DEFAULT AS IDENTITY)"
      R"( (START WITH 10, INCREMENT BY (-2)) DESCRIPTION 'Dee') DESCRIPTION 'Tee')"
      R"( VERSION 2.5 INDEX PAGE SIZE 1001 BLOB BLOCK SIZE 3 PUBLISH BLOCK SIZE 100)"
      R"( PUBLISH COMPRESSION 4 MAX ROW BUFFER SIZE 100 MAX INDEX BUFFER SIZE 8191)"
      R"( MAX BLOB BUFFER SIZE 5000 MAX PUBLISH BUFFER SIZE 7)");
  const TZNTBaseTable& t = Table("T");
  EXPECT_EQ(t.Description(), "Tee");
  EXPECT_EQ(t.userVersion, 25000);
  EXPECT_FALSE(t.encrypted);
  EXPECT_EQ(t.IndexPageSize(), 1008);
  EXPECT_EQ(t.BlobBlockSize(), 8);
  EXPECT_EQ(t.PublishBlockSize(), 104);
  EXPECT_EQ(t.publishCompression, 4);
  EXPECT_EQ(t.MaxRowBufferSize(), 4096);
  EXPECT_EQ(t.MaxIndexBufferSize(), 8192);
  EXPECT_EQ(t.MaxBlobBufferSize(), 5000);
  EXPECT_EQ(t.MaxPublishBufferSize(), 7);
  const TZNTColumn& c = *t.columns.Find("_C");
  EXPECT_TRUE(c.computed);
  EXPECT_EQ(c.computedExpr, "_A + 1");
  const TZNTColumn& d = *t.columns.Find("_D");
  EXPECT_TRUE(d.identity && d.identityByDefault);
  EXPECT_EQ(d.identitySeed, 10);
  EXPECT_EQ(d.identityIncrement, -2);
  EXPECT_EQ(d.Description(), "Dee");
  EXPECT_EQ(t.RowSize(), 40);  // 17 + 5 + 5 + 5 (no slot for _C) + 5 = 37
  ASSERT_NE(t.PrimaryKey(), nullptr);
  EXPECT_EQ(t.PrimaryKey()->Name(), "PrimaryKey1");
  const TZNTConstraint& unique = *t.constraints.Find("Unique1");
  EXPECT_EQ(unique.constraintType, TZNTConstraintType::Unique);
  EXPECT_EQ(t.indexes.FindID(unique.enforcingIndexId)->indexType, TZNTIndexType::Unique);
  EXPECT_EQ(unique.columns.At(0).columnId, t.columns.Find("_B")->ID());
}

TEST_F(CatalogDDLTest, ForeignKeysReferToAKeyWhichKnowsThem) {
  CreateProgramTables();
  Run(R"(CREATE TABLE "Splits" ("_ID" INTEGER, "_fkTransactions" INTEGER,)"
      R"( "_Parent" INTEGER REFERENCES "Splits" ("_ID") ON DELETE CASCADE,)"
      R"( CONSTRAINT "PK" PRIMARY KEY ("_ID"),)"
      R"( CONSTRAINT "Owner" FOREIGN KEY ("_fkTransactions") REFERENCES "Transactions")"
      R"( ON UPDATE RESTRICT ON DELETE SET NULL))");
  const TZNTBaseTable& splits = Table("Splits");
  const TZNTBaseTable& transactions = Table("Transactions");
  const TZNTConstraint& owner = *splits.constraints.Find("Owner");
  EXPECT_EQ(owner.constraintType, TZNTConstraintType::ForeignKey);
  EXPECT_EQ(owner.targetTableId, transactions.ID());
  EXPECT_EQ(owner.targetConstraintId, transactions.PrimaryKey()->ID());
  ASSERT_EQ(owner.targetColumns.Count(), 1);
  EXPECT_EQ(owner.targetColumns.At(0).columnId, transactions.columns.Find("_ID")->ID());
  EXPECT_EQ(owner.updateAction, TZNTReferentialAction::Restrict);
  EXPECT_EQ(owner.deleteAction, TZNTReferentialAction::SetNull);
  const TZNTIndex& index = *splits.indexes.FindID(owner.enforcingIndexId);
  EXPECT_EQ(index.indexType, TZNTIndexType::ForeignKey);
  EXPECT_EQ(index.columns.At(0).columnId, splits.columns.Find("_fkTransactions")->ID());
  const TZNTSourceConstraint& source = transactions.PrimaryKey()->sourceConstraints.At(0);
  EXPECT_EQ(source.sourceTableId, splits.ID());
  EXPECT_EQ(source.sourceConstraintId, owner.ID());
  // The column-level reference to the table's own key.
  const TZNTConstraint& parent = *splits.constraints.Find("ForeignKey1");
  EXPECT_EQ(parent.targetTableId, splits.ID());
  EXPECT_EQ(parent.deleteAction, TZNTReferentialAction::Cascade);
  EXPECT_EQ(splits.PrimaryKey()->sourceConstraints.Count(), 1);
}

TEST_F(CatalogDDLTest, TheCatalogReadsBackAsWritten) {
  CreateProgramTables();
  for (const std::string& sql : kTransactionsIndexes) Run(sql);
  Run(kAnalysisCodesInsertTrigger);
  Run(R"(CREATE TRIGGER "au" AFTER UPDATE OF "_Name" ON "Accounts")"
      R"( WHEN NEWROW._Name <> '' BEGIN END)");
  Run(R"(CREATE TABLE "Splits" ("_ID" INTEGER UNIQUE, "_Memo" CLOB COMPRESSION 6,)"
      R"( "_G" INTEGER GENERATED ALWAYS AS _ID * 2,)"
      R"( CONSTRAINT "Owner" FOREIGN KEY ("_ID") REFERENCES "Transactions" ON DELETE CASCADE))");
  Run(R"(CREATE TEXT INDEX "Words" ON "Transactions" ("_Name") INDEXED WORD LENGTH 20)");
  ApplyMetadataChange(manager_, [&] {
    TZNTSchema& schema = *Catalog().DefaultSchema();
    auto view = std::make_unique<TZNTView>();
    view->SetName("Open");
    view->SetID(Catalog().NewObjectID());
    view->definition = "SELECT _ID FROM Transactions WHERE NOT _Reconciled";
    view->updateable = true;
    auto column = std::make_unique<TZNTColumn>();
    column->SetName("_ID");
    column->SetID(Catalog().NewObjectID());
    column->SetType(TZNTDataType::Of(TZNTTypeCode::Integer));
    column->sourceReference = "Transactions._ID";
    view->columns.Add(std::move(column));
    schema.views.Add(std::move(view));
    auto procedure = std::make_unique<TZNTProcedure>();
    procedure->SetName("Tidy");
    procedure->SetID(Catalog().NewObjectID());
    procedure->definition = "BEGIN END";
    schema.procedures.Add(std::move(procedure));
    auto function = std::make_unique<TZNTFunction>();
    function->SetName("Net");
    function->SetID(Catalog().NewObjectID());
    function->resultType = TZNTDataType::Decimal(2);
    auto param = std::make_unique<TZNTRoutineParam>();
    param->SetName("Amount");
    param->SetID(Catalog().NewObjectID());
    param->type = TZNTDataType::VarChar(12, kCollationANSI_CI);
    param->defaultValue = "'0'";
    function->params.Add(std::move(param));
    schema.functions.Add(std::move(function));
  });

  TZNTCatalogManager reader(files_, kFolder, settings_, "FynDB", false);
  reader.OpenMetadata();
  EXPECT_EQ(Serialised(reader.Catalog()), Serialised(Catalog()));
  const TZNTSchema& schema = *reader.Catalog().DefaultSchema();
  const TZNTBaseTable& t = *schema.baseTables.Find("Transactions");
  EXPECT_EQ(t.RowSize(), 280);
  EXPECT_EQ(t.internalVersion, 9);
  EXPECT_TRUE(t.columns.At(0).System());  // __RowID is a system column again
  EXPECT_EQ(t.constraints.Find("Value")->checkExpr, "((_Income <>0) OR (_Expenditure <>0))");
  EXPECT_TRUE(t.indexes.Find("DownDate")->columns.At(0).descending);
  const TZNTIndex& words = *t.indexes.Find("Words");
  EXPECT_EQ(words.indexedWordLength, 20);
  EXPECT_EQ(words.wordGeneratorId, config_.wordGenerators.Find("Default")->ID());
  EXPECT_TRUE(t.Column(t.FindColumn("_Name")).textIndexed);
  EXPECT_FALSE(t.Column(t.FindColumn("_Reason")).textIndexed);
  EXPECT_EQ(t.PrimaryKey()->sourceConstraints.Count(), 1);
  const TZNTBaseTable& splits = *schema.baseTables.Find("Splits");
  EXPECT_EQ(splits.columns.Find("_Memo")->blobCompression, 6);
  EXPECT_EQ(splits.columns.Find("_G")->generatedExpr, "_ID * 2");
  EXPECT_EQ(schema.baseTables.Find("Accounts")->triggers.Find("au")->columns.Count(), 1);
  EXPECT_EQ(schema.views.Find("Open")->columns.At(0).sourceReference, "Transactions._ID");
  EXPECT_EQ(schema.functions.Find("Net")->params.At(0).type,
            TZNTDataType::VarChar(12, kCollationANSI_CI));
  EXPECT_EQ(reader.Catalog().NextID(), Catalog().NextID());
  schema.baseTables.CheckInvariants();
  for (const TZNTBaseTable& table : schema.baseTables) table.CheckInvariants();
}

// A catalog body in the layout of `version`: one table holding __RowID,
// with the generated flag (above 10000), the triggers (above 10200) and the
// column's last two flags (from 10700) only where that version has them.
std::string OldCatalogBody(int64_t version) {
  TZNTWriter w;
  w.WriteInt64(version);
  w.WriteInt32(9);  // next ID
  w.WriteInt32(1);  // schemas
  auto common = [&](int32_t id, const char* name, bool hidden) {
    w.WriteInt32(id);
    w.WriteString(name);
    w.WriteString("");
    w.WriteBoolean(hidden);
    w.WriteBoolean(false);
  };
  common(2, "Default", false);
  w.WriteString("System");
  w.WriteInt32(0);  // privileges
  w.WriteInt32(1);  // base tables
  common(3, "Old", false);
  w.WriteString("Administrator");
  w.WriteInt32(0);  // privileges
  w.WriteInt32(1);  // columns
  common(4, "__RowID", true);
  for (int32_t v : {6, 0, 0, 4, 0, 0}) w.WriteInt32(v);  // Integer, data size 4
  w.WriteBoolean(false);                                 // NOT NULL
  if (version > 10000) w.WriteBoolean(false);            // generated
  w.WriteBoolean(false);                                 // identity
  w.WriteBoolean(false);                                 // by default
  w.WriteInt32(0);
  w.WriteInt32(1);
  w.WriteBoolean(false);  // computed
  w.WriteBoolean(false);  // default
  w.WriteInt32(0);        // compression
  w.WriteString("");      // source reference
  if (version >= 10700) {
    w.WriteBoolean(true);
    w.WriteBoolean(true);
  }
  w.WriteInt32(0);                       // indexes
  if (version > 10200) w.WriteInt32(0);  // triggers
  w.WriteInt32(1);                       // lock number
  w.WriteInt32(1);                       // internal version
  w.WriteInt64(10000);
  w.WriteBoolean(false);
  for (int32_t v : {24, 4096, 512, 512}) w.WriteInt32(v);
  w.WriteInt32(0);  // constraints
  for (int32_t v : {32768, 65536, 32768, 32768, 0}) w.WriteInt32(v);
  w.WriteBoolean(false);
  w.WriteInt64(0);
  w.WriteString("");
  for (int i = 0; i < 3; ++i) w.WriteInt32(0);  // views, procedures, functions
  std::string body = w.TakeBuffer();
  body.resize((body.size() + 7) / 8 * 8, '\0');
  return body;
}

TEST_F(CatalogDDLTest, OlderCatalogsAreReadByTheirVersion) {
  test::TPlainFile f = test::TPlainFile::Of(FileBytes(files_, manager_.Path()), settings_, false);
  auto store = [&](const std::string& body) {
    f.body = body;
    TZNTContainerHeader h = f.Header();
    h.bodyLength = static_cast<int32_t>(f.body.size());
    f.SetHeader(h);
    test::SetFileBytes(files_, manager_.Path(), f.Bytes(settings_, false));
  };
  for (int64_t version : {10000, 10001, 10200, 10201, 10699, 10700, 20200}) {
    SCOPED_TRACE(version);
    store(OldCatalogBody(version));
    TZNTCatalogManager reader(files_, kFolder, settings_, "FynDB", false);
    reader.OpenMetadata();
    const TZNTBaseTable* old = reader.Catalog().DefaultSchema()->baseTables.Find("Old");
    ASSERT_NE(old, nullptr);
    EXPECT_EQ(old->RowSize(), 24);
    const TZNTColumn& rowId = old->columns.At(0);
    EXPECT_TRUE(rowId.System());
    EXPECT_EQ(rowId.extraFlag1, version >= 10700);
  }
  // The bytes of an old layout claimed by the current version fall short.
  std::string body = OldCatalogBody(10000);
  StoreLE64(body.data(), 20200);
  store(body);
  TZNTCatalogManager current(files_, kFolder, settings_, "FynDB", false);
  EXPECT_EQ(ErrorOf([&] { current.OpenMetadata(); }).second,
            "There is an error in the metadata for the database FynDB (The catalog was not read "
            "properly)");
}

TEST_F(CatalogDDLTest, StatementsBindAgainstTheCatalog) {
  CreateProgramTables();
  TZNTCatalogBindAdapter binder(Catalog(), "FynDB");
  const TZNTBindTable* accounts = binder.FindTable("", "", "accounts");
  ASSERT_NE(accounts, nullptr);
  EXPECT_EQ(accounts->ColumnCount(), 12);
  EXPECT_EQ(accounts->Column(0).name, "__RowID");
  EXPECT_TRUE(accounts->Column(0).hidden);
  EXPECT_EQ(accounts->Column(accounts->FindColumn("_AccNo")).type,
            TZNTDataType::VarChar(30, kCollationANSI_CI));
  EXPECT_EQ(binder.FindTable("FynDB", "Default", "Accounts"), accounts);
  EXPECT_EQ(binder.FindTable("", "", "Tables"), nullptr);  // only with its schema
  EXPECT_NE(binder.FindTable("", "Information", "Tables"), nullptr);
  EXPECT_EQ(binder.FindTable("Other", "", "Accounts"), nullptr);
  TZNTCatalog other;
  binder.SetDatabaseResolver([&](std::string_view name) {
    return ZNTSameText(name, "Other") ? &other : static_cast<TZNTCatalog*>(nullptr);
  });
  EXPECT_NE(binder.FindTable("Other", "Information", "Indexes"), nullptr);

  auto bind = [&](const std::string& sql) {
    return ErrorOf([&] {
      TZNTExprParser parser(sql, "statement");
      TZNTNodePtr st = parser.ParseStatement();
      BindTree(*st, binder, TZNTBindContext{});
    });
  };
  EXPECT_EQ(bind("SELECT _ID, _Name FROM Transactions WHERE _Date > CURRENT_DATE").first, 0);
  EXPECT_EQ(bind("SELECT Name, RowSize FROM Information.Tables").first, 0);
  EXPECT_EQ(
      bind("SELECT ColumnName FROM Information.IndexColumns WHERE TableName = 'Accounts'").first,
      0);
  EXPECT_EQ(bind("SELECT _Nope FROM Accounts").first, 700);
}

TEST(ConfigurationCatalogTest, HoldsTheConfigurationTables) {
  std::unique_ptr<TZNTCatalog> catalog = NewConfigurationCatalog();
  EXPECT_TRUE(catalog->ReadOnly());
  TZNTCatalogBindAdapter binder(*catalog, "Configuration");
  const TZNTBindTable* databases = binder.FindTable("", "", "Databases");
  ASSERT_NE(databases, nullptr);
  EXPECT_EQ(databases->ColumnCount(), 6);
  EXPECT_EQ(databases->Column(databases->FindColumn("InMemory")).type.code, TZNTTypeCode::Boolean);
  TZNTExprParser parser("SELECT Name FROM Databases WHERE Name = 'FynDB'", "statement");
  TZNTNodePtr st = parser.ParseStatement();
  EXPECT_EQ(ErrorOf([&] { BindTree(*st, binder, TZNTBindContext{}); }).first, 0);
}

// ---------------------------------------------------------------------------
// CREATE DATABASE

class CreateDatabaseTest : public ::testing::Test {
 protected:
  CreateDatabaseTest() : manager_(files_, "/app", TZNTMetadataSettings::For()) {
    manager_.OpenMetadata();
  }
  std::pair<int, std::string> Exec(const std::string& sql) {
    return ErrorOf([&] {
      TZNTExprParser parser(sql, "statement");
      TZNTNodePtr st = parser.ParseStatement();
      TZNTMemoryBindCatalog none;
      BindTree(*st, none, TZNTBindContext{});
      ApplyMetadataChange(manager_,
                          [&] { CreateDatabase(manager_.Config(), *st, "Administrator"); });
    });
  }
  TZNTMemoryFileManager files_;
  TZNTConfigManager manager_;
};

TEST_F(CreateDatabaseTest, PathEncryptionAndDescription) {
  ASSERT_EQ(Exec(R"(CREATE DATABASE "FynDB" PATH '/app/Info')").first, 0);
  ASSERT_EQ(Exec("CREATE DATABASE Scratch IN MEMORY ENCRYPTED CATALOG DESCRIPTION 'Temp'").first,
            0);
  TZNTConfigManager reader(files_, "/app", TZNTMetadataSettings::For());
  reader.OpenMetadata();  // the configuration file was rewritten
  const TZNTDatabaseContainer& fyn = *reader.Config().databases.Find("FynDB");
  EXPECT_EQ(fyn.path, "/app/Info");
  EXPECT_FALSE(fyn.InMemory());
  EXPECT_FALSE(fyn.encryptedCatalog);
  EXPECT_EQ(fyn.creator, "Administrator");
  const TZNTDatabaseContainer& scratch = *reader.Config().databases.Find("Scratch");
  EXPECT_TRUE(scratch.InMemory());
  EXPECT_EQ(scratch.path, "");
  EXPECT_TRUE(scratch.encryptedCatalog);
  EXPECT_EQ(scratch.Description(), "Temp");
  EXPECT_FALSE(files_.FolderExists("/app/Info"));  // made at the first open, not here
}

TEST_F(CreateDatabaseTest, ATakenNameLeavesTheFileUnchanged) {
  ASSERT_EQ(Exec(R"(CREATE DATABASE "FynDB" PATH '/app/Info')").first, 0);
  const std::string before = FileBytes(files_, manager_.Path());
  EXPECT_EQ(Exec(R"(CREATE DATABASE "fyndb" PATH '/elsewhere')"),
            std::make_pair(400, std::string("The database fyndb already exists")));
  EXPECT_EQ(Exec(R"(CREATE DATABASE "Configuration" IN MEMORY)"),
            std::make_pair(400, std::string("The database Configuration already exists")));
  EXPECT_EQ(FileBytes(files_, manager_.Path()), before);
  EXPECT_EQ(manager_.Config().databases.Count(), 2);
}

}  // namespace
}  // namespace znt
