// The table manager over the program's Transactions table on an in-memory
// disk: generated values, the checks that refuse a row before anything is
// written, index maintenance on every change, and two sessions sharing the
// files.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/zntconsts.h"
#include "base/znterror.h"
#include "catalog/zntobjmgr.h"
#include "local/zntlocal.h"
#include "local/zntrow.h"
#include "sql/zntbind.h"
#include "sql/zntexpr.h"
#include "storage/zntlockmgr.h"
#include "storage/zntmemfilemgr.h"

namespace znt {
namespace {

const std::string kFolder = "/data/FynDB";

const char* const kTransactions =
    "CREATE TABLE \"Transactions\"\r\n"
    "(\r\n"
    "\"_ID\" INTEGER GENERATED ALWAYS AS IDENTITY (START WITH 0, INCREMENT BY 1),\r\n"
    "\"_fkAccounts\" INTEGER,\r\n"
    "\"_Type\" VARCHAR(10) COLLATE \"ANSI_CI\",\r\n"
    "\"_Reference\" VARCHAR(20) COLLATE \"ANSI_CI\",\r\n"
    "\"_Name\" VARCHAR(50) COLLATE \"ANSI_CI\",\r\n"
    "\"_Date\" DATE NOT NULL,\r\n"
    "\"_Income\" DECIMAL(20,2),\r\n"
    "\"_Expenditure\" DECIMAL(20,2),\r\n"
    "\"_Reason\" VARCHAR(100) COLLATE \"ANSI_CI\",\r\n"
    "\"_Analysis\" VARCHAR(20) COLLATE \"ANSI_CI\",\r\n"
    "\"_Reconciled\" BOOLEAN DEFAULT FALSE,\r\n"
    "\"_ReconciledDate\" DATE,\r\n"
    "CONSTRAINT \"PK\" PRIMARY KEY (\"_ID\"),\r\n"
    "CONSTRAINT \"Value\" CHECK ((_Income <>0) OR (_Expenditure <>0))\r\n"
    "\r\n"
    ")\r\n"
    "VERSION 1\r\n"
    "ENCRYPTED\r\n"
    "INDEX PAGE SIZE 4096\r\n"
    "BLOB BLOCK SIZE 512\r\n"
    "MAX ROW BUFFER SIZE 32768\r\n"
    "MAX INDEX BUFFER SIZE 65536\r\n"
    "MAX BLOB BUFFER SIZE 32768";

const char* const kTransactionsIndexes[] = {
    "CREATE INDEX \"Name\" ON \"Transactions\"\r\n(\"_Name\" COLLATE \"ANSI_CI\")",
    "CREATE INDEX \"Analysis\" ON \"Transactions\"\r\n(\"_Analysis\" COLLATE \"ANSI_CI\")",
    "CREATE INDEX \"Reason\" ON \"Transactions\"\r\n(\"_Reason\" COLLATE \"ANSI_CI\")",
    "CREATE INDEX \"DownDate\" ON \"Transactions\"\r\n(\"_Date\" DESC)",
    "CREATE INDEX \"UpDate\"\r\nON \"Transactions\"\r\n(\"_Date\" ASC)",
    "CREATE INDEX \"Account\" ON \"Transactions\"\r\n(\"_fkAccounts\" ASC)",
    "CREATE INDEX \"Type\" ON \"Transactions\"\r\n(\"_Type\" ASC)",
};

template <class F>
std::pair<int, std::string> ErrorOf(F&& f) {
  try {
    f();
  } catch (const EZNTException& e) {
    return {e.ErrorCode(), e.ErrorMessage()};
  }
  return {0, ""};
}

struct TTxn {
  int32_t date;
  const char* name;
  int32_t account;
};

// The catalog of one database holding Transactions, and one session's table
// manager of it.
class TableManagerTest : public ::testing::Test {
 protected:
  TableManagerTest() : catalog_(files_, kFolder, settings_.Metadata(), "FynDB", false) {
    files_.MakeFolder("/data");
    files_.MakeFolder(kFolder);
    catalog_.OpenMetadata();
    Run(kTransactions);
    for (const char* sql : kTransactionsIndexes) Run(sql);
    table_ = catalog_.Catalog().DefaultSchema()->baseTables.Find("Transactions");
    locks_ = NewLocks();
    tm_ = std::make_unique<TZNTTableManager>(*table_, kFolder, files_, settings_, *locks_);
    tm_->Open(false);
  }

  void Run(const std::string& sql) {
    auto [code, message] = ErrorOf([&] {
      TZNTExprParser parser(sql, "statement");
      TZNTNodePtr st = parser.ParseStatement();
      TZNTCatalogBindAdapter binder(catalog_.Catalog(), "FynDB");
      BindTree(*st, binder, TZNTBindContext{});
      ApplyMetadataChange(catalog_, [&] {
        if (st->op == TZNTOp::StCreateTable)
          CreateTable(catalog_.Catalog(), *st, "Administrator");
        else
          CreateIndex(catalog_.Catalog(), *st, nullptr);
      });
    });
    ASSERT_EQ(code, 0) << message;
  }

  // Another session's lock manager on the database's lock file.
  std::unique_ptr<TZNTDatabaseLockManager> NewLocks() {
    auto locks = std::make_unique<TZNTDatabaseLockManager>(
        files_, kFolder, settings_.CatalogName() + settings_.LockExtension(), 0);
    locks->Open();
    return locks;
  }

  TZNTValues Row(const TTxn& t) {
    TZNTValues row = tm_->NewRow();
    row.Find("_Date")->SetDate(t.date);
    row.Find("_Name")->SetString(t.name);
    row.Find("_fkAccounts")->SetInteger(t.account);
    row.Find("_Income")->SetDecimal(125000);
    return row;
  }
  uint32_t Insert(const TTxn& t) {
    TZNTValues row = Row(t);
    return tm_->Insert(row);
  }
  // The _ID values in the order of index `name`.
  std::vector<int32_t> IdsBy(TZNTTableManager& tm, const char* name) {
    std::vector<int32_t> ids;
    TZNTValues row;
    for (uint32_t n : tm.IndexRowNumbers(static_cast<size_t>(tm.IndexPosition(name)))) {
      tm.ReadRow(n, row);
      ids.push_back(row.Find("_ID")->AsInteger());
    }
    return ids;
  }
  std::vector<int32_t> IdsBy(const char* name) { return IdsBy(*tm_, name); }

  TZNTMemoryFileManager files_;
  TZNTEngineManagerSettings settings_;
  TZNTCatalogManager catalog_;
  const TZNTBaseTable* table_ = nullptr;
  std::unique_ptr<TZNTDatabaseLockManager> locks_;
  std::unique_ptr<TZNTTableManager> tm_;
};

TEST_F(TableManagerTest, OpenCreatesTheFilesFromTheCatalog) {
  EXPECT_TRUE(files_.FileExists(kFolder + "/Transactions.ZNTTbl"));
  EXPECT_TRUE(files_.FileExists(kFolder + "/Transactions.ZNTIdx"));
  // No BLOB or CLOB column, so no blob file.
  EXPECT_FALSE(tm_->HasBlobFile());
  EXPECT_FALSE(files_.FileExists(kFolder + "/Transactions.ZNTBlb"));
  EXPECT_EQ(tm_->IndexCount(), 8u);
  EXPECT_TRUE(tm_->Rows().Header().encrypted);
  EXPECT_TRUE(tm_->Lock().Holds(TZNTLockKind::Shared));
  EXPECT_FALSE(tm_->Lock().Holds(TZNTLockKind::Read));
  tm_->CheckInvariants();
}

TEST_F(TableManagerTest, InsertGeneratesRowIDAndIdentityAndReadsBack) {
  const TTxn txns[] = {{9000, "Gas", 2}, {8990, "rent", 1}, {9010, "Bread", 2}};
  std::vector<uint32_t> numbers;
  for (const TTxn& t : txns) {
    TZNTValues row = Row(t);
    // GENERATED ALWAYS replaces a value given.
    row.Find("_ID")->SetInteger(77);
    numbers.push_back(tm_->Insert(row));
    // The caller's row receives the stored values.
    EXPECT_EQ(row.Find("_ID")->AsInteger(), static_cast<int32_t>(numbers.size()));
    EXPECT_EQ(row[0].AsInteger(), static_cast<int32_t>(numbers.size()));
  }
  EXPECT_EQ(tm_->RowCount(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    TZNTValues row;
    tm_->ReadRow(numbers[i], row);
    EXPECT_EQ(row.Find("_ID")->AsInteger(), static_cast<int32_t>(i + 1));
    EXPECT_EQ(row.Find("_Date")->AsDate(), txns[i].date);
    EXPECT_EQ(row.Find("_Name")->AsString(), txns[i].name);
    EXPECT_EQ(row.Find("_Income")->AsDecimal(), 125000);
    EXPECT_TRUE(row.Find("_Expenditure")->IsNull());
  }
  EXPECT_EQ(IdsBy("PK"), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(IdsBy("UpDate"), (std::vector<int32_t>{2, 1, 3}));
  EXPECT_EQ(IdsBy("DownDate"), (std::vector<int32_t>{3, 1, 2}));
  // Case-insensitive: Bread, Gas, rent.
  EXPECT_EQ(IdsBy("Name"), (std::vector<int32_t>{3, 1, 2}));
  EXPECT_EQ(IdsBy("Account"), (std::vector<int32_t>{2, 1, 3}));
  EXPECT_FALSE(tm_->Lock().Holds(TZNTLockKind::Transaction));
  EXPECT_FALSE(tm_->Lock().Holds(TZNTLockKind::Write));
  tm_->CheckInvariants();
}

TEST_F(TableManagerTest, UpdateMovesChangedKeysAndDeleteRemovesThem) {
  const uint32_t a = Insert({9000, "Gas", 2});
  const uint32_t b = Insert({9005, "Rent", 1});
  const uint32_t c = Insert({9010, "Bread", 3});

  TZNTValues row;
  tm_->ReadRow(a, row);
  row.Find("_Date")->SetDate(9020);
  row.Find("_Name")->SetString("gas");  // only the case: the key still moves
  tm_->Update(a, row);
  EXPECT_EQ(row.Find("_ID")->AsInteger(), 1);
  EXPECT_EQ(IdsBy("UpDate"), (std::vector<int32_t>{2, 3, 1}));
  EXPECT_EQ(IdsBy("DownDate"), (std::vector<int32_t>{1, 3, 2}));
  TZNTValues key;
  key.AddContained(TZNTDataType::VarChar(50)).SetString("GAS");
  ASSERT_EQ(tm_->FindKey(static_cast<size_t>(tm_->IndexPosition("Name")), key), a);
  EXPECT_EQ(tm_->Indexes().StoredKeyText(static_cast<size_t>(tm_->IndexPosition("Name")), key, 0),
            "gas");
  tm_->ReadRow(a, row);
  EXPECT_EQ(row.Find("_Date")->AsDate(), 9020);

  tm_->Delete(b);
  EXPECT_EQ(tm_->RowCount(), 2u);
  EXPECT_EQ(ErrorOf([&] { tm_->ReadRow(b, row); }).first, err::RowDeleted);
  EXPECT_EQ(ErrorOf([&] { tm_->Delete(b); }).first, err::RowDeleted);
  for (const char* index : {"PK", "UpDate", "DownDate", "Name", "Account", "Type"})
    EXPECT_EQ(IdsBy(index).size(), 2u) << index;
  EXPECT_EQ(IdsBy("UpDate"), (std::vector<int32_t>{3, 1}));
  // The identity counter does not go back: the next row is 4.
  const uint32_t d = Insert({8000, "Tax", 1});
  tm_->ReadRow(d, row);
  EXPECT_EQ(row.Find("_ID")->AsInteger(), 4);
  EXPECT_EQ(IdsBy("UpDate"), (std::vector<int32_t>{4, 3, 1}));
  (void)c;
  tm_->CheckInvariants();
}

TEST_F(TableManagerTest, RefusedRowsWriteNothing) {
  const uint32_t a = Insert({9000, "Gas", 2});
  const uint64_t writes = tm_->WriteBytes();

  struct Case {
    const char* what;
    std::function<void()> change;
    std::string message;
  };
  TZNTValues row;
  tm_->ReadRow(a, row);
  const Case cases[] = {
      {"insert without a date",
       [&] {
         TZNTValues r = Row({9001, "x", 1});
         r.Find("_Date")->SetNull();
         tm_->Insert(r);
       },
       "The column _Date in the table Transactions cannot be NULL"},
      {"update to no date",
       [&] {
         TZNTValues r;
         tm_->ReadRow(a, r);
         r.Find("_Date")->SetNull();
         tm_->Update(a, r);
       },
       "The column _Date in the table Transactions cannot be NULL"},
  };
  for (const Case& c : cases) {
    auto [code, message] = ErrorOf(c.change);
    EXPECT_EQ(code, err::Constraint) << c.what;
    EXPECT_EQ(message, c.message) << c.what;
  }
  EXPECT_EQ(tm_->WriteBytes(), writes);
  EXPECT_EQ(tm_->RowCount(), 1u);
  EXPECT_EQ(tm_->Rows().NextRowIDValue(), 2);
  TZNTValues stored;
  tm_->ReadRow(a, stored);
  EXPECT_EQ(stored.Find("_Date")->AsDate(), 9000);
  EXPECT_FALSE(tm_->Lock().Holds(TZNTLockKind::Transaction));
  tm_->CheckInvariants();
}

// A table whose primary key takes the values given: a duplicate is refused
// on insert and on update, naming the constraint and the key.
TEST_F(TableManagerTest, DuplicatePrimaryKeyIsRefusedBeforeAnythingIsWritten) {
  Run("CREATE TABLE \"Codes\" (\"_ID\" VARCHAR(20) COLLATE \"ANSI_CI\", "
      "\"_Seq\" INTEGER, \"_Alt\" INTEGER, CONSTRAINT \"PK\" PRIMARY KEY (\"_ID\", \"_Seq\"), "
      "CONSTRAINT \"Alt\" UNIQUE (\"_Alt\"))");
  const TZNTBaseTable* codes = catalog_.Catalog().DefaultSchema()->baseTables.Find("Codes");
  ASSERT_NE(codes, nullptr);
  TZNTTableManager tm(*codes, kFolder, files_, settings_, *locks_);
  tm.Open(false);
  // An _Alt of 0 stands for NULL, which a unique key admits any number of times.
  auto insert = [&](const char* id, int seq, int alt) {
    TZNTValues row = tm.NewRow();
    if (id) row[1].SetString(id);
    row[2].SetInteger(seq);
    if (alt) row[3].SetInteger(alt);
    return ErrorOf([&] { tm.Insert(row); });
  };
  ASSERT_EQ(insert("FOOD", 1, 10).first, 0);
  ASSERT_EQ(insert("HOME", 2, 0).first, 0);
  ASSERT_EQ(insert("CAR", 2, 0).first, 0);
  const uint64_t writes = tm.WriteBytes();
  struct Case {
    const char* id;
    int seq;
    int alt;
    std::string message;
  } cases[] = {
      // The key compares case-insensitively, as its column does.
      {"food", 1, 0,
       "The primary key constraint PK for the table Codes has been violated "
       "(Duplicate key food,1 found)"},
      {nullptr, 3, 0,
       "The primary key constraint PK for the table Codes has been violated "
       "(NULL values are not allowed in a primary key)"},
      {"BOOKS", 4, 10,
       "The unique constraint Alt for the table Codes has been violated "
       "(Duplicate key 10 found)"},
  };
  for (const Case& c : cases) {
    auto [code, message] = insert(c.id, c.seq, c.alt);
    EXPECT_EQ(code, err::Constraint) << message;
    EXPECT_EQ(message, c.message);
  }
  EXPECT_EQ(tm.WriteBytes(), writes);
  EXPECT_EQ(tm.RowCount(), 3u);

  // An update onto another row's key is refused; keeping its own key is not.
  const uint32_t home = tm.FindKey(0, [] {
    TZNTValues k;
    k.AddContained(TZNTDataType::VarChar(20)).SetString("home");
    return k;
  }());
  ASSERT_NE(home, 0u);
  TZNTValues row;
  tm.ReadRow(home, row);
  row[3].SetInteger(11);
  EXPECT_EQ(ErrorOf([&] { tm.Update(home, row); }).first, 0);
  row[1].SetString("Food");
  row[2].SetInteger(1);
  auto [code, message] = ErrorOf([&] { tm.Update(home, row); });
  EXPECT_EQ(code, err::Constraint);
  EXPECT_EQ(message,
            "The primary key constraint PK for the table Codes has been violated "
            "(Duplicate key Food,1 found)");
  tm.ReadRow(home, row);
  EXPECT_EQ(row[1].AsString(), "HOME");
  EXPECT_EQ(row[3].AsInteger(), 11);
  tm.CheckInvariants();
}

TEST_F(TableManagerTest, ReopenedTableAndSecondSessionSeeTheSameRows) {
  Insert({9000, "Gas", 2});
  Insert({8990, "Rent", 1});
  tm_->Close();
  EXPECT_FALSE(tm_->Lock().Holds(TZNTLockKind::Shared));
  tm_->Open(false);
  EXPECT_EQ(IdsBy("UpDate"), (std::vector<int32_t>{2, 1}));

  // Another session with its own slot in the lock file.
  std::unique_ptr<TZNTDatabaseLockManager> other_locks = NewLocks();
  EXPECT_NE(other_locks->Slot(), locks_->Slot());
  TZNTTableManager other(*table_, kFolder, files_, settings_, *other_locks);
  other.Open(false);
  EXPECT_EQ(IdsBy(other, "UpDate"), (std::vector<int32_t>{2, 1}));
  const uint32_t n = Insert({8980, "Tax", 3});
  EXPECT_EQ(other.RowCount(), 3u);
  EXPECT_EQ(IdsBy(other, "UpDate"), (std::vector<int32_t>{3, 2, 1}));
  // Its identity comes after the first session's.
  TZNTValues row = Row({9100, "Water", 1});
  other.Insert(row);
  EXPECT_EQ(row.Find("_ID")->AsInteger(), 4);
  EXPECT_EQ(IdsBy("DownDate"), (std::vector<int32_t>{4, 1, 2, 3}));
  other.Delete(n);
  EXPECT_EQ(tm_->RowCount(), 3u);
  other.Close();
  tm_->CheckInvariants();
}

TEST_F(TableManagerTest, ExclusiveOpenShutsOutASharedOne) {
  tm_->Close();
  tm_->Open(true);
  Insert({9000, "Gas", 2});
  // A refused row must not cost the unwritten row before it.
  TZNTValues refused = Row({9001, "Rent", 1});
  refused.Find("_Date")->SetNull();
  EXPECT_EQ(ErrorOf([&] { tm_->Insert(refused); }).first, err::Constraint);
  std::unique_ptr<TZNTDatabaseLockManager> other_locks = NewLocks();
  other_locks->SetSleepFunction([](uint32_t) {});
  TZNTTableManager other(*table_, kFolder, files_, settings_, *other_locks);
  EXPECT_EQ(ErrorOf([&] { other.Open(false); }).first, err::Lock);
  EXPECT_FALSE(other.IsOpen());
  tm_->Close();
  other.Open(false);
  EXPECT_EQ(other.RowCount(), 1u);
}

}  // namespace
}  // namespace znt
