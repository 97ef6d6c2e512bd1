#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/zntconsts.h"
#include "components/zntcomps.h"
#include "data/dberror.h"

namespace znt {
namespace {

namespace fs = std::filesystem;

// The engine is one per process: every test points it at a fresh folder and
// leaves it stopped, with no handlers, as it found it.
class ComponentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "zntcomps-XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    folder_ = templ;
    DefaultEngine().SetActive(false);
    DefaultEngine().SetConfigPath(folder_);
  }
  void TearDown() override {
    DefaultEngine().SetActive(false);
    DefaultEngine().SetBeforeStart(nullptr);
    DefaultEngine().SetAfterStart(nullptr);
    DefaultEngine().SetBeforeStop(nullptr);
    DefaultEngine().SetAfterStop(nullptr);
    DefaultEngine().SetConfigPath("");
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  // Adds the database `name` in the folder `sub` through a session of its own.
  void AddDatabase(const std::string& name, const std::string& sub) {
    TZNTSession s;
    s.SetSessionName("Setup");
    s.SetLoginUser("Administrator");
    s.SetLoginPassword("Quexpinado");
    s.Open();
    auto& local = static_cast<TZNTLocalSessionManager&>(*s.Manager());
    TZNTConfigManager& cm = *local.ConfigManager();
    cm.BeginWrite();
    auto db = std::make_unique<TZNTDatabaseContainer>();
    db->SetName(name);
    db->SetID(cm.Config().NewObjectID());
    db->path = folder_ + "/" + sub;
    cm.Config().databases.Add(std::move(db));
    cm.MarkChanged();
    cm.CommitWrite();
  }

  std::string folder_;
};

template <class E, class F>
E ErrorOf(F&& action) {
  try {
    action();
  } catch (const E& e) {
    return e;
  } catch (const std::exception& e) {
    ADD_FAILURE() << "another error was raised: " << e.what();
    return E(std::runtime_error(e.what()));
  }
  ADD_FAILURE() << "no error was raised";
  return E(std::runtime_error(""));
}

std::string MisuseOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EZNTError& e) {
    ADD_FAILURE() << "an engine error was raised: " << e.what();
    return e.what();
  } catch (const fyn::EDatabaseError& e) {
    return e.what();
  }
  ADD_FAILURE() << "no error was raised";
  return {};
}

TEST_F(ComponentsTest, DefaultsOfTheEngineAndTheDefaultSession) {
  TZNTEngine& e = DefaultEngine();
  EXPECT_EQ(e.EngineVersion(), "2.02 Build 10");
  EXPECT_FALSE(e.Active());
  EXPECT_EQ(e.EngineType(), TZNTEngineType::Client);
  EXPECT_FALSE(e.UseLocalSessionEngineSettings());
  EXPECT_EQ(e.Signature(), "rbz_aewwrecdk");
  EXPECT_EQ(e.EncryptionPassword(), "mirthwandle");
  EXPECT_FALSE(e.LargeFileSupport());
  EXPECT_EQ(e.ConfigName(), "ZNTConfig");
  EXPECT_EQ(e.ConfigExtension(), ".ZNTCfg");
  EXPECT_EQ(e.LockExtension(), ".ZNTLck");
  EXPECT_EQ(e.LogExtension(), ".ZNTLog");
  EXPECT_EQ(e.MaxLogFileSize(), 1048576);
  EXPECT_EQ(e.LogCategories(), 7u);
  EXPECT_EQ(e.CatalogName(), "ZNTDatabase");
  EXPECT_EQ(e.CatalogExtension(), ".ZNTCat");
  EXPECT_EQ(e.BackupExtension(), ".ZNTBkp");
  EXPECT_EQ(e.UpdateExtension(), ".ZNTUpd");
  EXPECT_EQ(e.TableExtension(), ".ZNTTbl");
  EXPECT_EQ(e.TableIndexExtension(), ".ZNTIdx");
  EXPECT_EQ(e.TableBlobExtension(), ".ZNTBlb");
  EXPECT_EQ(e.TablePublishExtension(), ".ZNTPbl");
  EXPECT_EQ(e.TempTablesPath(), TZNTEnvironment::TempPath());
  EXPECT_EQ(e.ServerSettings().name, "ZNTSrvr");
  EXPECT_EQ(e.ServerSettings().port, 12010);

  TZNTSession& d = DefaultSession();
  EXPECT_EQ(d.SessionName(), "Default");
  EXPECT_EQ(d.SessionDescription(), "Auto-Created Default Session");
  EXPECT_EQ(&TZNTSession::Find(""), &d);
  EXPECT_EQ(&TZNTSession::Find("DEFAULT"), &d);
  EXPECT_FALSE(d.Connected());
  EXPECT_TRUE(d.KeepConnections());
  EXPECT_FALSE(d.KeepTablesOpen());
  EXPECT_FALSE(d.ForceBufferFlush());
  EXPECT_EQ(d.RecordLockProtocol(), TZNTRecordLockProtocol::Pessimistic);
  EXPECT_EQ(d.RecordLockRetryCount(), 15);
  EXPECT_EQ(d.RecordLockWaitTime(), 100);
  EXPECT_FALSE(d.RecordChangeDetection());
  EXPECT_EQ(d.ProgressTimeInterval(), 1000);
  EXPECT_EQ(d.SessionType(), TZNTSessionType::Local);
  EXPECT_TRUE(d.LoginUser().empty());
}

TEST_F(ComponentsTest, SettersNormaliseAndRefuseChangesWhileStarted) {
  TZNTEngine& e = DefaultEngine();
  e.SetMaxLogFileSize(1000);
  EXPECT_EQ(e.MaxLogFileSize(), 262144);
  e.SetTableExtension("ZNTTbl");
  EXPECT_EQ(e.TableExtension(), ".ZNTTbl");
  e.SetMaxLogFileSize(1048576);
  e.SetActive(true);
  ASSERT_TRUE(e.Active());
  // The engine manager took the settings at start.
  EXPECT_EQ(TZNTEngine::Instance().Manager().Settings().ConfigPath(), folder_);

  // Unchanged values pass, names compared without case.
  e.SetConfigName("zntconfig");
  e.SetTableExtension("ZNTTbl");
  e.SetMaxLogFileSize(1048576);
  e.SetConfigPath(folder_);
  e.SetSignature("rbz_aewwrecdk");
  const std::string started = "Cannot perform this operation when the engine has been started";
  const std::vector<std::function<void()>> changes = {
      [&] { e.SetConfigPath(folder_ + "/x"); },
      [&] { e.SetSignature("RBZ_AEWWRECDK"); },
      [&] { e.SetEncryptionPassword("other"); },
      [&] { e.SetLargeFileSupport(true); },
      [&] { e.SetMaxLogFileSize(2000000); },
      [&] { e.SetLogCategories(kZNTLogError); },
      [&] { e.SetLockExtension("Lck"); },
      [&] { e.SetEngineType(TZNTEngineType::Server); },
      [&] { e.SetUseLocalSessionEngineSettings(true); },
  };
  for (size_t i = 0; i < changes.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(MisuseOf(changes[i]), started);
  }
  e.SetActive(false);
  e.SetConfigName("ZNTConfig");
}

TEST_F(ComponentsTest, AThirdEngineComponentIsRefused) {
  TZNTEngine placed;
  EXPECT_EQ(&TZNTEngine::Instance(), &TZNTEngine::Instance());
  placed.SetMaxLogFileSize(300000);
  EXPECT_EQ(DefaultEngine().MaxLogFileSize(), 300000) << "both share one instance";
  DefaultEngine().SetMaxLogFileSize(1048576);
  EXPECT_EQ(MisuseOf([] { TZNTEngine third; }), "An engine component already exists");
}

TEST_F(ComponentsTest, StartAndStopFireTheirEventsInOrder) {
  std::vector<std::string> seen;
  TZNTEngine& e = DefaultEngine();
  e.SetBeforeStart([&](TZNTEngine&) { seen.push_back("BeforeStart"); });
  e.SetAfterStart([&](TZNTEngine&) { seen.push_back("AfterStart"); });
  e.SetBeforeStop([&](TZNTEngine&) { seen.push_back("BeforeStop"); });
  e.SetAfterStop([&](TZNTEngine&) { seen.push_back("AfterStop"); });
  e.SetActive(true);
  e.SetActive(true);
  e.SetActive(false);
  EXPECT_EQ(seen,
            (std::vector<std::string>{"BeforeStart", "AfterStart", "BeforeStop", "AfterStop"}));
  // A failing AfterStart leaves the engine stopped, after both stop events.
  seen.clear();
  e.SetAfterStart([&](TZNTEngine&) { throw std::runtime_error("no start"); });
  EZNTError err = ErrorOf<EZNTError>([&] { e.SetActive(true); });
  EXPECT_EQ(err.ErrorCode(), 9999);
  EXPECT_EQ(err.ErrorMessage(), "no start");
  EXPECT_FALSE(e.Active());
  EXPECT_EQ(seen, (std::vector<std::string>{"BeforeStart", "BeforeStop", "AfterStop"}));
}

TEST_F(ComponentsTest, SessionPropertiesClamp) {
  TZNTSession s;
  s.SetRecordLockRetryCount(-5);
  EXPECT_EQ(s.RecordLockRetryCount(), 0);
  s.SetRecordLockWaitTime(-1);
  EXPECT_EQ(s.RecordLockWaitTime(), 0);
  s.SetProgressTimeInterval(50);
  EXPECT_EQ(s.ProgressTimeInterval(), 100);
  s.SetProgressTimeInterval(250);
  EXPECT_EQ(s.ProgressTimeInterval(), 250);
  TZNTEngineSettings local = s.LocalSettings();
  EXPECT_EQ(local.config_path, folder_) << "local copies start from the engine";
  local.table_extension = "Tbl";
  local.max_log_file_size = 10;
  s.SetLocalSettings(local);
  EXPECT_EQ(s.LocalSettings().table_extension, ".Tbl");
  EXPECT_EQ(s.LocalSettings().max_log_file_size, 262144);
}

TEST_F(ComponentsTest, SessionNamesAreUniqueAndLookedUp) {
  TZNTSession a, b;
  a.SetSessionName("Books");
  EXPECT_EQ(MisuseOf([&] { b.SetSessionName("BOOKS"); }), "Session name 'BOOKS' already exists");
  EXPECT_EQ(MisuseOf([&] { b.SetSessionName("default"); }),
            "Session name 'default' already exists");
  EXPECT_EQ(&TZNTSession::Find("books"), &a);
  EXPECT_EQ(MisuseOf([] { TZNTSession::Find("Nope"); }), "Session name 'Nope' is not valid");
  a.SetSessionName("Books");  // its own name again
}

TEST_F(ComponentsTest, FirstConnectCreatesTheConfigurationAndLogsIn) {
  std::vector<std::string> seen;
  TZNTSession s;
  s.SetSessionName("Main");
  s.SetLoginUser("Administrator");
  s.SetLoginPassword("Quexpinado");
  s.SetOnLogin([&](TZNTSession&, std::string&, std::string&, bool&) { seen.push_back("OnLogin"); });
  s.SetBeforeConnect([&](TZNTSession&) { seen.push_back("BeforeConnect"); });
  s.SetAfterConnect([&](TZNTSession&) { seen.push_back("AfterConnect"); });
  s.SetBeforeDisconnect([&](TZNTSession&) { seen.push_back("BeforeDisconnect"); });
  s.SetAfterDisconnect([&](TZNTSession&) { seen.push_back("AfterDisconnect"); });
  s.Open();
  ASSERT_TRUE(s.Connected());
  EXPECT_TRUE(DefaultEngine().Active()) << "connecting starts the engine";
  EXPECT_TRUE(s.Manager()->LoggedIn());
  EXPECT_TRUE(fs::exists(folder_ + "/ZNTConfig.ZNTCfg"));
  EXPECT_TRUE(fs::exists(folder_ + "/ZNTConfig.ZNTLck"));
  EXPECT_TRUE(fs::exists(folder_ + "/ZNTConfig.ZNTLog"));
  EXPECT_EQ(MisuseOf([&] { s.SetRecordLockWaitTime(5); }),
            "Cannot perform this operation on an open session");
  s.SetRecordLockWaitTime(100);  // unchanged
  s.Close();
  EXPECT_FALSE(s.Connected());
  EXPECT_EQ(seen, (std::vector<std::string>{"BeforeConnect", "AfterConnect", "BeforeDisconnect",
                                            "AfterDisconnect"}));
}

TEST_F(ComponentsTest, LoginFailuresLeaveTheSessionDisconnected) {
  TZNTSession s;
  s.SetSessionName("Main");
  s.SetLoginUser("Administrator");
  s.SetLoginPassword("wrong");
  EZNTError e = ErrorOf<EZNTError>([&] { s.Open(); });
  EXPECT_EQ(e.ErrorCode(), 501);
  EXPECT_EQ(e.ErrorMessage(), "Login failed (The user name or password is incorrect)");
  EXPECT_FALSE(s.Connected());

  int asked = 0;
  s.SetOnLogin([&](TZNTSession&, std::string& user, std::string& password, bool&) {
    ++asked;
    user = "Administrator";
    password = "still wrong";
  });
  e = ErrorOf<EZNTError>([&] { s.Open(); });
  EXPECT_EQ(e.ErrorMessage(),
            "Login failed (The maximum number of login attempts has been exceeded)");
  EXPECT_EQ(asked, 2) << "the given pair was the first of three tries";
  EXPECT_FALSE(s.Connected());

  s.SetOnLogin([&](TZNTSession&, std::string&, std::string&, bool& go_on) { go_on = false; });
  e = ErrorOf<EZNTError>([&] { s.Open(); });
  EXPECT_EQ(e.ErrorMessage(), "Login failed (Login aborted)");

  // The callback can put things right.
  s.SetOnLogin([&](TZNTSession&, std::string& user, std::string& password, bool&) {
    user = "administrator";
    password = "Quexpinado";
  });
  s.Open();
  EXPECT_TRUE(s.Connected());
}

TEST_F(ComponentsTest, AMissingNameFailsAfterBeforeConnect) {
  TZNTSession s;
  bool before = false, after_disconnect = false;
  s.SetBeforeConnect([&](TZNTSession&) { before = true; });
  s.SetAfterDisconnect([&](TZNTSession&) { after_disconnect = true; });
  EXPECT_EQ(MisuseOf([&] { s.Open(); }), "Session name is missing");
  EXPECT_TRUE(before);
  EXPECT_FALSE(s.Connected());
  EXPECT_FALSE(after_disconnect);
}

TEST_F(ComponentsTest, AnEmptyConfigurationPathFailsTheConnect) {
  DefaultEngine().SetConfigPath("");
  TZNTSession s;
  s.SetSessionName("Main");
  EZNTError e = ErrorOf<EZNTError>([&] { s.Open(); });
  EXPECT_EQ(e.ErrorCode(), 409);
  EXPECT_EQ(e.ErrorMessage(), "The configuration path is empty");
  EXPECT_FALSE(s.Connected());
}

TEST_F(ComponentsTest, DatabasesOpenThroughTheirSession) {
  AddDatabase("FynDB", "fyn");
  TZNTSession s;
  s.SetSessionName("Main");
  s.SetLoginUser("Administrator");
  s.SetLoginPassword("Quexpinado");

  TZNTDatabase unnamed;
  EXPECT_EQ(MisuseOf([&] { unnamed.Open(); }), "Database name is missing");
  EXPECT_EQ(MisuseOf([&] { unnamed.DatabaseManager(); }),
            "Cannot perform this operation on a closed database");

  TZNTDatabase db;
  db.SetDatabaseName("Books");
  db.SetDatabase("fyndb");
  db.SetSessionName("main");
  db.Open();
  EXPECT_TRUE(db.Connected());
  EXPECT_TRUE(s.Connected()) << "opening connects the session";
  EXPECT_EQ(db.Session(), &s);
  EXPECT_EQ(db.DatabaseManager().Name(), "FynDB");
  EXPECT_TRUE(fs::exists(folder_ + "/fyn/ZNTDatabase.ZNTCat"));
  EXPECT_TRUE(fs::exists(folder_ + "/fyn/ZNTDatabase.ZNTLck"));
  EXPECT_EQ(MisuseOf([&] { db.SetDatabase("Other"); }),
            "Cannot perform this operation on an open database");

  TZNTDatabase twin;
  twin.SetDatabaseName("BOOKS");
  twin.SetDatabase("FynDB");
  twin.SetSessionName("Main");
  EXPECT_EQ(MisuseOf([&] { twin.Open(); }), "Database name 'BOOKS' already exists");
  EXPECT_FALSE(twin.Connected());

  TZNTDatabase unknown;
  unknown.SetDatabaseName("Ghost");
  unknown.SetDatabase("Ghost");
  unknown.SetSessionName("Main");
  EZNTError e = ErrorOf<EZNTError>([&] { unknown.Open(); });
  EXPECT_EQ(e.ErrorCode(), 401);
  EXPECT_EQ(e.ErrorMessage(), "The database Ghost does not exist");
  EXPECT_FALSE(unknown.Connected());
  EXPECT_TRUE(s.Connected());
  EXPECT_TRUE(db.Connected());
  EXPECT_EQ(s.Databases().size(), 1u);

  // Disconnecting the session closes its databases.
  s.Close();
  EXPECT_FALSE(db.Connected());
  EXPECT_TRUE(s.Databases().empty());
  db.Open();
  EXPECT_TRUE(db.Connected());
}

TEST_F(ComponentsTest, AnUnknownSessionNameFailsTheOpen) {
  TZNTDatabase db;
  db.SetDatabaseName("Books");
  db.SetSessionName("Nobody");
  EXPECT_EQ(MisuseOf([&] { db.Open(); }), "Session name 'Nobody' is not valid");
}

TEST_F(ComponentsTest, StoppingTheEngineDisconnectsEverySession) {
  TZNTSession a, b;
  a.SetSessionName("A");
  b.SetSessionName("B");
  for (TZNTSession* s : {&a, &b}) {
    s->SetLoginUser("Administrator");
    s->SetLoginPassword("Quexpinado");
    s->Open();
  }
  EXPECT_EQ(static_cast<TZNTLocalSessionManager*>(a.Manager())->ConfigLocks()->Slot(), 1);
  EXPECT_EQ(static_cast<TZNTLocalSessionManager*>(b.Manager())->ConfigLocks()->Slot(), 2);
  a.Close();
  TZNTSession c;
  c.SetSessionName("C");
  c.SetLoginUser("Administrator");
  c.SetLoginPassword("Quexpinado");
  c.Open();
  EXPECT_EQ(static_cast<TZNTLocalSessionManager*>(c.Manager())->ConfigLocks()->Slot(), 1);
  DefaultEngine().SetActive(false);
  EXPECT_FALSE(b.Connected());
  EXPECT_FALSE(c.Connected());
  EXPECT_EQ(TZNTEngine::Instance().Manager().SessionCount(), 0u);
}

void LogIn(TZNTSession& s) {
  s.SetLoginUser("Administrator");
  s.SetLoginPassword("Quexpinado");
}

TEST_F(ComponentsTest, AutoSessionNamesTakeTheLowestFreeNumber) {
  TZNTComponentOwner m1, m2, m3;
  TZNTSession a(&m1), b(&m2);
  a.SetName("Books");
  b.SetName("Books");
  a.SetAutoSessionName(true);
  b.SetAutoSessionName(true);
  EXPECT_EQ(a.SessionName(), "Books_1");
  EXPECT_EQ(b.SessionName(), "Books_2");
  a.SetAutoSessionName(false);
  {
    TZNTSession c(&m3);
    c.SetName("Ledger");
    c.SetAutoSessionName(true);
    EXPECT_EQ(c.SessionName(), "Ledger_1") << "a number given back is reused";
    // A closed auto-session follows its component's name, keeping its number.
    c.SetName("Journal");
    EXPECT_EQ(c.SessionName(), "Journal_1");
  }
  TZNTComponentOwner m4;
  TZNTSession d(&m4);
  d.SetName("Cash");
  d.SetAutoSessionName(true);
  EXPECT_EQ(d.SessionName(), "Cash_1") << "a destroyed auto-session gives its number back";
}

TEST_F(ComponentsTest, AutoSessionRefusals) {
  TZNTComponentOwner module;
  TZNTSession first(&module);
  first.SetName("Main");
  TZNTDatabase db(&module);
  db.SetDatabaseName("Books");
  db.SetDatabase("FynDB");
  db.SetSessionName("Other");
  first.SetAutoSessionName(true);
  EXPECT_EQ(db.SessionName(), "Main_1") << "the owner's databases take the name";

  TZNTSession second(&module);
  second.SetName("Side");
  EXPECT_EQ(MisuseOf([&] { second.SetAutoSessionName(true); }), "This auto-session already exists");
  first.SetAutoSessionName(false);
  EXPECT_EQ(MisuseOf([&] { first.SetAutoSessionName(true); }),
            "The open auto-session can be the only open session");
  EXPECT_FALSE(first.AutoSessionName());
}

TEST_F(ComponentsTest, AnOpenAutoSessionCannotBeRenamed) {
  AddDatabase("FynDB", "fyn");
  TZNTComponentOwner module;
  TZNTSession s(&module);
  s.SetName("Main");
  LogIn(s);
  TZNTDatabase db(&module);
  db.SetDatabaseName("Books");
  db.SetDatabase("FynDB");
  s.SetAutoSessionName(true);
  db.Open();
  EXPECT_EQ(db.Session(), &s) << "the database reaches the auto-session by its name";
  const std::string refused = "Cannot perform this operation on the open auto-session";
  EXPECT_EQ(MisuseOf([&] { s.SetName("Other"); }), refused);
  EXPECT_EQ(MisuseOf([&] { s.SetSessionName("Other"); }), refused);
  EXPECT_EQ(s.SessionName(), "Main_1");
  EXPECT_EQ(MisuseOf([&] { s.SetAutoSessionName(false); }),
            "Cannot perform this operation on an open session");
}

TEST_F(ComponentsTest, DatasetsOpenTemporaryDatabasesByName) {
  AddDatabase("FynDB", "fyn");
  TZNTSession s;
  s.SetSessionName("Main");
  LogIn(s);
  TZNTDatabase& db = s.OpenDatabase("fyndb");
  EXPECT_TRUE(s.Connected()) << "the lookup connects the session";
  EXPECT_TRUE(db.Connected());
  EXPECT_TRUE(db.Temporary());
  EXPECT_EQ(db.DatabaseName(), "fyndb");
  EXPECT_EQ(db.Database(), "fyndb");
  EXPECT_TRUE(db.KeepConnection());
  EXPECT_EQ(&s.OpenDatabase("FYNDB"), &db);
  EXPECT_EQ(db.ImplicitUsers(), 2);
  s.CloseDatabase(db);
  s.CloseDatabase(db);
  EXPECT_EQ(db.ImplicitUsers(), 0);
  EXPECT_TRUE(db.Connected()) << "KeepConnection keeps it";
  EXPECT_EQ(s.TemporaryDatabaseCount(), 1u);
  s.Close();
  EXPECT_EQ(s.TemporaryDatabaseCount(), 0u) << "disconnecting frees temporary databases";

  s.SetKeepConnections(false);
  TZNTDatabase& brief = s.OpenDatabase("FynDB");
  EXPECT_FALSE(brief.KeepConnection());
  s.CloseDatabase(brief);
  EXPECT_EQ(s.TemporaryDatabaseCount(), 0u) << "freed at zero";
  EXPECT_TRUE(s.Databases().empty());

  // A failing open frees the temporary database again.
  EZNTError e = ErrorOf<EZNTError>([&] { s.OpenDatabase("Ghost"); });
  EXPECT_EQ(e.ErrorCode(), 401);
  EXPECT_EQ(s.TemporaryDatabaseCount(), 0u);
}

TEST_F(ComponentsTest, DatasetsUseAPermanentDatabaseOfTheirSession) {
  AddDatabase("FynDB", "fyn");
  TZNTSession s;
  s.SetSessionName("Main");
  LogIn(s);
  TZNTDatabase elsewhere, perm;
  elsewhere.SetDatabaseName("Books");
  elsewhere.SetSessionName("Setup");
  perm.SetDatabaseName("Books");
  perm.SetDatabase("FynDB");
  perm.SetSessionName("main");
  perm.SetKeepConnection(false);
  TZNTDatabase& found = s.OpenDatabase("books");
  EXPECT_EQ(&found, &perm) << "closed, but naming this session";
  EXPECT_TRUE(perm.Connected());
  EXPECT_EQ(s.TemporaryDatabaseCount(), 0u);
  s.OpenDatabase("Books");
  s.CloseDatabase(perm);
  EXPECT_TRUE(perm.Connected()) << "one user is left";
  s.CloseDatabase(perm);
  EXPECT_FALSE(perm.Connected()) << "closed at zero, not freed";
}

TEST_F(ComponentsTest, DatabaseTransactions) {
  AddDatabase("FynDB", "fyn");
  TZNTSession s;
  s.SetSessionName("Main");
  LogIn(s);
  TZNTDatabase db;
  db.SetDatabaseName("Books");
  db.SetDatabase("FynDB");
  db.SetSessionName("Main");
  EXPECT_EQ(MisuseOf([&] { db.StartTransaction(); }),
            "Cannot perform this operation on a closed database");
  EXPECT_EQ(MisuseOf([&] { db.Commit(); }), "Database 'Books' has no active transaction");
  db.Open();
  auto& manager = static_cast<TZNTLocalDatabaseManager&>(db.DatabaseManager());
  db.StartTransaction();
  EXPECT_TRUE(db.InTransaction());
  EXPECT_TRUE(manager.DatabaseLock().Holds(TZNTLockKind::Transaction));
  EXPECT_EQ(MisuseOf([&] { db.StartTransaction({"Accounts"}); }),
            "Database 'Books' already has an active transaction");
  db.Commit(true);
  EXPECT_FALSE(db.InTransaction());
  EXPECT_FALSE(manager.DatabaseLock().Holds(TZNTLockKind::Transaction));
  EXPECT_EQ(MisuseOf([&] { db.Rollback(); }), "Database 'Books' has no active transaction");

  EZNTError e = ErrorOf<EZNTError>([&] { db.StartTransaction({"Ghost"}); });
  EXPECT_EQ(e.ErrorCode(), 401);
  EXPECT_EQ(e.ErrorMessage(), "The table Ghost does not exist");
  EXPECT_FALSE(db.InTransaction());

  db.StartTransaction();
  db.Rollback();
  EXPECT_FALSE(manager.DatabaseLock().Holds(TZNTLockKind::Transaction));
  db.StartTransaction();
  db.Close();
  EXPECT_FALSE(db.InTransaction()) << "closing ends the transaction";
  db.Open();
  db.StartTransaction();
  db.Commit();
}

}  // namespace
}  // namespace znt
