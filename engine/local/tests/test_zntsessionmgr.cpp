#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/zntconsts.h"
#include "base/znterror.h"
#include "local/zntdbmgr.h"
#include "local/zntsessionmgr.h"
#include "storage/zntmemfilemgr.h"

namespace znt {
namespace {

namespace fs = std::filesystem;

// Each test gets an empty folder of its own, removed afterwards, and an
// engine manager whose sessions keep their configuration there.
class SessionManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "zntlocal-XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    folder_ = templ;
    engine_.Settings().SetConfigPath(folder_);
    engine_.Start();
  }
  void TearDown() override {
    engine_.Stop();
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  std::unique_ptr<TZNTLocalSessionManager> Start(const std::string& name = "S") {
    auto s = std::make_unique<TZNTLocalSessionManager>(engine_);
    s->StartSession("host:1", name, "test session");
    return s;
  }

  // Adds the database `name` kept in the folder `sub` of the test folder.
  void AddDatabase(TZNTLocalSessionManager& s, const std::string& name, const std::string& sub) {
    TZNTConfigManager& cm = *s.ConfigManager();
    cm.BeginWrite();
    auto db = std::make_unique<TZNTDatabaseContainer>();
    db->SetName(name);
    db->SetID(cm.Config().NewObjectID());
    db->path = folder_ + "/" + sub;
    cm.Config().databases.Add(std::move(db));
    cm.MarkChanged();
    cm.CommitWrite();
  }

  // A logged-in session with the database "FynDB" open.
  struct TOpen {
    std::unique_ptr<TZNTLocalSessionManager> session;
    TZNTLocalDatabaseManager* db = nullptr;
  };
  TOpen OpenFynDB(const std::string& name) {
    TOpen o{Start(name)};
    o.session->Login("Administrator", "Quexpinado");
    if (o.session->ConfigManager()->Config().databases.Find("FynDB") == nullptr)
      AddDatabase(*o.session, "FynDB", "fyn");
    o.db = &static_cast<TZNTLocalDatabaseManager&>(
        o.session->OpenDatabase("FynDB", TZNTOpenMode::Shared));
    return o;
  }

  // Adds base tables to the catalog's default schema, written to its file.
  static void AddTables(TZNTLocalDatabaseManager& db, const std::vector<std::string>& names) {
    TZNTCatalogManager& cm = db.CatalogManager();
    cm.BeginWrite();
    TZNTSchema& schema = *cm.Catalog().DefaultSchema();
    for (const std::string& name : names) {
      auto t = std::make_unique<TZNTBaseTable>();
      t->SetName(name);
      t->SetID(cm.Catalog().NewObjectID());
      t->lockNumber = schema.baseTables.LowestFreeNumber([](const TZNTConfigObject& o) {
        return static_cast<const TZNTBaseTable&>(o).lockNumber;
      });
      t->AddRowIdColumn(cm.Catalog().NewObjectID());
      t->UpdateRowSize();
      schema.baseTables.Add(std::move(t));
    }
    cm.MarkChanged();
    cm.CommitWrite();
  }

  static std::vector<TZNTLogEvent> Events(TZNTLocalSessionManager& s) {
    return s.Log()->ReadEvents();
  }

  std::string folder_;
  TZNTEngineManager engine_;
};

template <class F>
EZNTException ErrorOf(F&& action) {
  try {
    action();
  } catch (const EZNTException& e) {
    return e;
  }
  ADD_FAILURE() << "no engine error was raised";
  return EZNTException(0, "");
}

TEST_F(SessionManagerTest, AnEmptyConfigurationPathFails409) {
  TZNTLocalSessionManager s(engine_);
  s.Settings().SetConfigPath("");
  EZNTException e = ErrorOf([&] { s.StartSession("host:1", "S", ""); });
  EXPECT_EQ(e.ErrorCode(), 409);
  EXPECT_EQ(e.ErrorMessage(), "The configuration path is empty");
  EXPECT_FALSE(s.Started());
}

TEST_F(SessionManagerTest, FirstStartCreatesConfigurationLockFileAndLog) {
  auto s = Start();
  EXPECT_TRUE(s->Started());
  EXPECT_TRUE(fs::exists(folder_ + "/ZNTConfig.ZNTCfg"));
  EXPECT_TRUE(fs::exists(folder_ + "/ZNTConfig.ZNTLck"));
  EXPECT_TRUE(fs::exists(folder_ + "/ZNTConfig.ZNTLog"));
  EXPECT_EQ(s->ConfigLocks()->Slot(), 1);
  const TZNTConfig& config = s->ConfigManager()->Config();
  ASSERT_EQ(config.users.StoredCount(), 1);
  EXPECT_NE(config.users.Find("Administrator"), nullptr);
  EXPECT_EQ(config.databases.StoredCount(), 0);
  s->StopSession();
  EXPECT_FALSE(s->Started());
  EXPECT_EQ(s->ConfigLocks(), nullptr);
}

TEST_F(SessionManagerTest, LoginTakesTheUsersSharedLockAndLogsInAndOut) {
  auto s = Start();
  s->Login("administrator", "Quexpinado");
  ASSERT_TRUE(s->LoggedIn());
  EXPECT_EQ(s->CurrentUserName(), "Administrator");
  EXPECT_TRUE(s->UserLock().Holds(TZNTLockKind::Shared));
  s->Logout();
  EXPECT_FALSE(s->LoggedIn());
  std::vector<TZNTLogEvent> events = Events(*s);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].operation, op::Login);
  EXPECT_EQ(events[0].category, TZNTLogCategory::Information);
  EXPECT_EQ(events[0].user, "Administrator");
  EXPECT_EQ(events[0].session_name, "S");
  EXPECT_EQ(events[0].session_id, s->SessionID());
  EXPECT_EQ(events[0].process, "host:1");
  EXPECT_EQ(events[1].operation, op::Logout);
}

TEST_F(SessionManagerTest, LoginFailures) {
  struct Case {
    const char* what;
    std::string user, password;
    std::vector<std::pair<std::string, std::string>> answers;  // empty: no handler
    bool declines;
    const char* detail;
    int asked;
  };
  const std::vector<Case> cases = {
      {"wrong password, no handler",
       "Administrator",
       "wrong",
       {},
       false,
       "The user name or password is incorrect",
       0},
      {"nothing given, no handler", "", "", {}, false, "The user name or password is incorrect", 0},
      {"three wrong answers",
       "",
       "",
       {{"Administrator", "a"}, {"x", "y"}, {"Administrator", ""}},
       false,
       "The maximum number of login attempts has been exceeded",
       3},
      {"given pair and two wrong answers",
       "Administrator",
       "bad",
       {{"a", "b"}, {"c", "d"}},
       false,
       "The maximum number of login attempts has been exceeded",
       2},
      {"declined", "", "", {{"a", "b"}}, true, "Login aborted", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto s = Start();
    int asked = 0;
    if (!c.answers.empty()) {
      s->SetLoginHandler([&](std::string& user, std::string& password) {
        if (c.declines) {
          ++asked;
          return false;
        }
        const auto& answer = c.answers[asked++ % c.answers.size()];
        user = answer.first;
        password = answer.second;
        return true;
      });
    }
    EZNTException e = ErrorOf([&] { s->Login(c.user, c.password); });
    EXPECT_EQ(e.ErrorCode(), 501);
    EXPECT_EQ(e.ErrorMessage(), std::string("Login failed (") + c.detail + ")");
    EXPECT_EQ(asked, c.asked);
    EXPECT_FALSE(s->LoggedIn());
    std::vector<TZNTLogEvent> events = Events(*s);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().category, TZNTLogCategory::Error);
    EXPECT_EQ(events.back().operation, op::Login);
    EXPECT_EQ(events.back().error_code, 501);
    s.reset();
    fs::remove(folder_ + "/ZNTConfig.ZNTLog");
  }
}

TEST_F(SessionManagerTest, AHandlerIsNotAskedWhenTheGivenPairIsRight) {
  auto s = Start();
  bool asked = false;
  s->SetLoginHandler([&](std::string&, std::string&) { return asked = true; });
  s->Login("Administrator", "Quexpinado");
  EXPECT_TRUE(s->LoggedIn());
  EXPECT_FALSE(asked);
}

TEST_F(SessionManagerTest, OpenDatabaseChecksLoginAndExistence) {
  auto s = Start();
  EZNTException e = ErrorOf([&] { s->OpenDatabase("FynDB", TZNTOpenMode::Shared); });
  EXPECT_EQ(e.ErrorCode(), 500);
  s->Login("Administrator", "Quexpinado");
  e = ErrorOf([&] { s->OpenDatabase("Nowhere", TZNTOpenMode::Shared); });
  EXPECT_EQ(e.ErrorCode(), 401);
  EXPECT_EQ(e.ErrorMessage(), "The database Nowhere does not exist");
  std::vector<TZNTLogEvent> events = Events(*s);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().operation, op::OpenDatabase);
  EXPECT_EQ(events.back().error_code, 401);
  EXPECT_TRUE(s->LoggedIn());
}

TEST_F(SessionManagerTest, FirstOpenCreatesTheDatabaseFolderLockFileAndCatalog) {
  auto s = Start();
  s->Login("Administrator", "Quexpinado");
  AddDatabase(*s, "FynDB", "data/fyn");
  TZNTDatabaseManager& db = s->OpenDatabase("fyndb", TZNTOpenMode::Shared);
  EXPECT_TRUE(db.IsOpen());
  EXPECT_EQ(db.Name(), "FynDB");
  EXPECT_TRUE(fs::exists(folder_ + "/data/fyn/ZNTDatabase.ZNTLck"));
  EXPECT_TRUE(fs::exists(folder_ + "/data/fyn/ZNTDatabase.ZNTCat"));
  auto& local = static_cast<TZNTLocalDatabaseManager&>(db);
  EXPECT_TRUE(local.DatabaseLock().Holds(TZNTLockKind::Shared));
  EXPECT_NE(local.Catalog().DefaultSchema(), nullptr);
  // A second open shares the manager; the last close closes it.
  TZNTDatabaseManager& again = s->OpenDatabase("FynDB", TZNTOpenMode::Shared);
  EXPECT_EQ(&again, &db);
  EXPECT_EQ(s->DatabaseManagerCount(), 1u);
  TZNTDatabaseManager* p = &db;
  s->CloseDatabase(p);
  EXPECT_EQ(p, nullptr);
  EXPECT_TRUE(db.IsOpen());
  p = &again;
  s->CloseDatabase(p);
  EXPECT_FALSE(db.IsOpen());
}

// The session's settings name the configuration and catalog files; nothing
// is kept under the default names, and a second session reads both back.
TEST_F(SessionManagerTest, TheSettingsNameTheConfigurationAndCatalogFiles) {
  auto named = [this](const std::string& name) {
    auto s = std::make_unique<TZNTLocalSessionManager>(engine_);
    s->Settings().SetConfigName("Books");
    s->Settings().SetConfigExtension(".cfg");
    s->Settings().SetCatalogName("Cat");
    s->Settings().SetCatalogExtension("cat");  // the "." is added
    s->StartSession("host:1", name, "test session");
    s->Login("Administrator", "Quexpinado");
    return s;
  };
  {
    auto s = named("A");
    EXPECT_TRUE(fs::exists(folder_ + "/Books.cfg"));
    EXPECT_TRUE(fs::exists(folder_ + "/Books.ZNTLck"));
    AddDatabase(*s, "FynDB", "fyn");
    EXPECT_TRUE(fs::exists(folder_ + "/Books.cfg.Old"));
    auto& db =
        static_cast<TZNTLocalDatabaseManager&>(s->OpenDatabase("FynDB", TZNTOpenMode::Shared));
    AddTables(db, {"Ledger"});
    EXPECT_TRUE(fs::exists(folder_ + "/fyn/Cat.cat"));
    EXPECT_TRUE(fs::exists(folder_ + "/fyn/Cat.cat.Old"));
    EXPECT_TRUE(fs::exists(folder_ + "/fyn/Cat.ZNTLck"));
  }
  for (const char* path : {"/ZNTConfig.ZNTCfg", "/ZNTConfig.ZNTCfg.Old", "/fyn/ZNTDatabase.ZNTCat",
                           "/fyn/ZNTDatabase.ZNTCat.Old"})
    EXPECT_FALSE(fs::exists(folder_ + path)) << path;

  auto again = named("B");
  auto& db =
      static_cast<TZNTLocalDatabaseManager&>(again->OpenDatabase("FynDB", TZNTOpenMode::Shared));
  EXPECT_NE(db.Catalog().DefaultSchema()->baseTables.Find("Ledger"), nullptr);
}

TEST_F(SessionManagerTest, SessionsTakeTheFirstFreeSlot) {
  auto a = Start("A");
  auto b = Start("B");
  EXPECT_EQ(a->ConfigLocks()->Slot(), 1);
  EXPECT_EQ(b->ConfigLocks()->Slot(), 2);
  a->StopSession();
  auto c = Start("C");
  EXPECT_EQ(c->ConfigLocks()->Slot(), 1);
}

TEST_F(SessionManagerTest, StoppingTheEngineStopsItsSessions) {
  auto s = Start();
  s->Login("Administrator", "Quexpinado");
  engine_.Stop();
  EXPECT_FALSE(s->Started());
  EXPECT_FALSE(s->LoggedIn());
  engine_.Start();
}

// The same session path over the engine's memory files.
class MemoryEngineManager : public TZNTEngineManager {
 protected:
  std::unique_ptr<TZNTFileManager> CreateFileManager() override {
    return std::make_unique<TZNTMemoryFileManager>();
  }
};

TEST(MemorySessionManager, RunsOverMemoryFiles) {
  MemoryEngineManager engine;
  engine.Settings().SetConfigPath("/mem/config");
  engine.Start();
  {
    TZNTLocalSessionManager s(engine);
    s.StartSession("host:1", "S", "");
    EXPECT_TRUE(engine.DiskFileManager(false).FileExists("/mem/config/ZNTConfig.ZNTCfg"));
    s.Login("Administrator", "Quexpinado");
    EXPECT_TRUE(s.LoggedIn());
  }
  engine.Stop();
}

TEST_F(SessionManagerTest, TransactionChecksNameTheOperation) {
  TOpen a = OpenFynDB("A");
  TZNTLocalDatabaseManager& db = *a.db;
  struct Case {
    const char* what;
    std::function<void()> action;
    int code;
    const char* message;
    int operation;
  };
  const std::vector<Case> cases = {
      {"commit without a transaction", [&] { db.Commit(false); }, 404,
       "Transaction error: COMMIT ON FynDB", op::CommitTransaction},
      {"rollback without a transaction", [&] { db.Rollback(); }, 404,
       "Transaction error: ROLLBACK ON FynDB", op::RollbackTransaction},
      {"a second start",
       [&] {
         db.StartTransaction({});
         db.StartTransaction({});
       },
       404, "Transaction error: START TRANSACTION ON FynDB", op::StartTransaction},
      {"an unknown table",
       [&] {
         db.Rollback();
         db.StartTransaction({"Ghost"});
       },
       401, "The table Ghost does not exist", op::StartTransaction},
      {"a closed database",
       [&] {
         db.Close();
         db.Commit(false);
       },
       402, "The database FynDB must be open in order to perform this operation (COMMIT ON FynDB)",
       op::CommitTransaction},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EZNTException e = ErrorOf(c.action);
    EXPECT_EQ(e.ErrorCode(), c.code);
    EXPECT_EQ(e.ErrorMessage(), c.message);
    const std::vector<TZNTLogEvent> events = Events(*a.session);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().operation, c.operation);
    EXPECT_EQ(events.back().error_code, c.code);
  }
  EXPECT_FALSE(db.InTransaction());
}

TEST_F(SessionManagerTest, AWholeDatabaseTransactionShutsOutTableTransactions) {
  TOpen a = OpenFynDB("A");
  AddTables(*a.db, {"Accounts", "Splits"});
  TOpen b = OpenFynDB("B");
  int sleeps_b = 0;
  b.db->LockManager()->SetSleepFunction([&](uint32_t) { ++sleeps_b; });

  a.db->StartTransaction({});
  EXPECT_TRUE(a.db->InTransaction());
  EXPECT_TRUE(a.db->DatabaseLock().Holds(TZNTLockKind::Transaction));
  const size_t b_ranges = b.db->LockManager()->HeldRanges().size();
  EZNTException e = ErrorOf([&] { b.db->StartTransaction({"splits"}); });
  EXPECT_EQ(e.ErrorCode(), 300);
  EXPECT_EQ(e.ErrorMessage(), "Cannot lock the table Splits for transaction access");
  EXPECT_EQ(sleeps_b, kZNTLockAccessRetries);
  EXPECT_FALSE(b.db->InTransaction());
  EXPECT_EQ(b.db->LockManager()->HeldRanges().size(), b_ranges);
  EXPECT_EQ(Events(*b.session).back().operation, op::StartTransaction);

  // Committing gives the database's range back.
  a.db->Commit(false);
  EXPECT_FALSE(a.db->InTransaction());
  EXPECT_FALSE(a.db->DatabaseLock().Holds(TZNTLockKind::Transaction));
  sleeps_b = 0;
  b.db->StartTransaction({"Accounts", "Splits"});
  EXPECT_EQ(sleeps_b, 0);
  ASSERT_EQ(b.db->TransactionTableLocks().size(), 2u);
  EXPECT_TRUE(b.db->TransactionTableLocks()[1].Holds(TZNTLockKind::Transaction));

  // And the other way round: one table taken shuts out the whole database.
  int sleeps_a = 0;
  a.db->LockManager()->SetSleepFunction([&](uint32_t) { ++sleeps_a; });
  e = ErrorOf([&] { a.db->StartTransaction({}); });
  EXPECT_EQ(e.ErrorMessage(), "Cannot lock the database FynDB for transaction access");
  EXPECT_EQ(sleeps_a, kZNTLockAccessRetries);
  b.db->Rollback();
  EXPECT_TRUE(b.db->TransactionTableLocks().empty());
  a.db->StartTransaction({});
  a.db->Rollback();
}

TEST_F(SessionManagerTest, AFailedStartUnlocksTheTablesAlreadyLocked) {
  TOpen a = OpenFynDB("A");
  AddTables(*a.db, {"Accounts", "Splits", "Payees"});
  TOpen b = OpenFynDB("B");
  b.db->LockManager()->SetSleepFunction([](uint32_t) {});
  a.db->StartTransaction({"Payees"});
  const size_t b_ranges = b.db->LockManager()->HeldRanges().size();
  EZNTException e = ErrorOf([&] { b.db->StartTransaction({"Accounts", "Splits", "Payees"}); });
  EXPECT_EQ(e.ErrorMessage(), "Cannot lock the table Payees for transaction access");
  EXPECT_EQ(b.db->LockManager()->HeldRanges().size(), b_ranges);
  EXPECT_TRUE(b.db->TransactionTableLocks().empty());

  // Accounts and Splits are free again: A takes them without a retry.
  int sleeps_a = 0;
  a.db->LockManager()->SetSleepFunction([&](uint32_t) { ++sleeps_a; });
  a.db->Commit(false);
  a.db->StartTransaction({"Accounts", "Splits"});
  EXPECT_EQ(sleeps_a, 0);
  // Closing the database rolls its transaction back.
  a.db->Close();
  EXPECT_FALSE(a.db->InTransaction());
  b.db->StartTransaction({"Accounts"});
  b.db->Commit(true);
}

}  // namespace
}  // namespace znt
