// Lock files, session slots and object locks: the byte maps, the rules of the
// five kinds, retries, and what other sessions and processes see.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/znterror.h"
#include "storage/tests/storage_test_util.h"
#include "storage/zntfaultfilemgr.h"
#include "storage/zntlockmgr.h"
#include "storage/zntmemfilemgr.h"
#include "storage/zntosfilemgr.h"

namespace znt {
namespace {

using K = TZNTLockKind;

// A manager whose folder refuses new files, as a folder without write
// permission does even for a privileged user's program.
class NoCreateFileManager : public TZNTFaultFileManager {
 public:
  using TZNTFaultFileManager::TZNTFaultFileManager;
  TZNTFileStream CreateFile(const std::string& path, bool, bool) override {
    RaiseZNTFileError(TZNTFileAction::Create, path, EACCES);
  }
};

// The error an action raises, or a failure when it raises none.
template <class F>
EZNTException ErrorOf(F&& action) {
  try {
    action();
  } catch (const EZNTException& e) {
    return e;
  }
  ADD_FAILURE() << "no error was raised";
  return EZNTException(0, "");
}

constexpr const char* kConfigFolder = "/cfg";
constexpr const char* kConfigLock = "ZNTConfig.ZNTLck";
constexpr const char* kDbFolder = "/data/FynDB";
constexpr const char* kDbLock = "ZNTDatabase.ZNTLck";

class LockManagerTest : public ::testing::Test {
 protected:
  // A configuration lock manager whose retries count instead of sleeping.
  std::unique_ptr<TZNTConfigLockManager> OpenConfig() {
    auto m = std::make_unique<TZNTConfigLockManager>(files_, kConfigFolder, kConfigLock);
    m->SetSleepFunction(Counter());
    m->Open();
    return m;
  }
  std::unique_ptr<TZNTDatabaseLockManager> OpenDatabase(int session_slot) {
    auto m = std::make_unique<TZNTDatabaseLockManager>(files_, kDbFolder, kDbLock, session_slot);
    m->SetSleepFunction(Counter());
    m->Open();
    return m;
  }
  TZNTLockManager::SleepFunction Counter() {
    return [this](uint32_t ms) {
      EXPECT_EQ(ms, 3u);
      ++sleeps_;
      if (on_sleep_) on_sleep_(sleeps_);
    };
  }
  // The locked ranges of a lock file, whoever holds them.
  std::vector<TZNTLockRange> FileRanges(const std::string& path) {
    TZNTFileStream s = files_.OpenFile(path, false, true);
    return s.File().LockedRanges();
  }
  std::string DbLockPath() const { return std::string(kDbFolder) + "/" + kDbLock; }
  std::string ConfigLockPath() const { return std::string(kConfigFolder) + "/" + kConfigLock; }

  TZNTMemoryFileManager files_;
  int sleeps_ = 0;
  std::function<void(int)> on_sleep_;
};

TEST(LockKindTest, WordsAndFlags) {
  const struct {
    K kind;
    const char* word;
    uint32_t flag;
  } cases[] = {{K::None, "none", 0}, {K::Shared, "shared", 1}, {K::Exclusive, "exclusive", 2},
               {K::Read, "read", 4}, {K::Write, "write", 8},   {K::Transaction, "transaction", 16}};
  for (const auto& c : cases) {
    EXPECT_EQ(LockKindWord(c.kind), c.word);
    EXPECT_EQ(LockKindFlag(c.kind), c.flag);
  }
}

TEST_F(LockManagerTest, SessionsTakeTheFirstFreeSlotAndTheFileStays) {
  auto a = OpenConfig();
  auto b = OpenConfig();
  EXPECT_EQ(a->Slot(), 1);
  EXPECT_EQ(b->Slot(), 2);
  EXPECT_EQ(FileRanges(ConfigLockPath()), (std::vector<TZNTLockRange>{{0, 1}, {1, 1}}));
  a->Close();
  EXPECT_EQ(a->Slot(), 0);
  auto c = OpenConfig();
  EXPECT_EQ(c->Slot(), 1);
  EXPECT_FALSE(a->IsReadOnly());

  b->Close();
  c->Close();
  EXPECT_TRUE(files_.FileExists(ConfigLockPath()));
  EXPECT_EQ(files_.ListFiles(kConfigFolder, "*"), std::vector<std::string>{kConfigLock});
  auto d = OpenConfig();
  d->CloseAndDelete();
  EXPECT_FALSE(files_.FileExists(ConfigLockPath()));
}

TEST_F(LockManagerTest, NoFreeSlotRaisesMaximumSessions) {
  TZNTFileStream all = files_.CreateFile(ConfigLockPath(), false, false);
  ASSERT_TRUE(all.TryLock(0, kZNTLockSlotCount));
  TZNTConfigLockManager m(files_, kConfigFolder, kConfigLock);
  EZNTException e = ErrorOf([&] { m.Open(); });
  EXPECT_EQ(e.ErrorCode(), 405);
  EXPECT_EQ(e.ErrorMessage(),
            "The maximum number of sessions has been reached (/cfg/ZNTConfig.ZNTLck)");
  EXPECT_FALSE(m.IsOpen());
  EXPECT_EQ(m.Slot(), 0);

  // The last slot alone free: found after trying all others.
  ASSERT_TRUE(all.Unlock(0, kZNTLockSlotCount));
  ASSERT_TRUE(all.TryLock(0, kZNTLockSlotCount - 1));
  m.Open();
  EXPECT_EQ(m.Slot(), kZNTLockSlotCount);
  m.CheckInvariants();
}

TEST_F(LockManagerTest, DatabaseManagerTakesTheSessionSlotOrTheFirstFreeOne) {
  auto a = OpenDatabase(3);
  EXPECT_EQ(a->Slot(), 3);
  // A session of another configuration with the same slot number.
  auto b = OpenDatabase(3);
  EXPECT_EQ(b->Slot(), 1);
  auto c = OpenDatabase(0);
  EXPECT_EQ(c->Slot(), 2);
  a->Close();
  a->Open();  // keeps the slot it was given
  EXPECT_EQ(a->Slot(), 3);
}

// Each lockable's ranges, locked by the session in slot 2, land where the byte
// maps put them.
TEST_F(LockManagerTest, ByteMaps) {
  auto config1 = OpenConfig();
  auto config = OpenConfig();
  auto db = OpenDatabase(2);
  ASSERT_EQ(config->Slot(), 2);
  ASSERT_EQ(db->Slot(), 2);
  using Make = std::function<TZNTLockable(TZNTLockManager*)>;
  const Make configuration = [](TZNTLockManager* m) {
    return TZNTLockable::Configuration(m, "ZNTConfig");
  };
  const Make log = [](TZNTLockManager* m) { return TZNTLockable::Log(m, "ZNTConfig"); };
  const Make user1 = [](TZNTLockManager* m) { return TZNTLockable::User(m, "Administrator", 1); };
  const Make user3 = [](TZNTLockManager* m) { return TZNTLockable::User(m, "Guest", 3); };
  const Make database = [](TZNTLockManager* m) { return TZNTLockable::Database(m, "FynDB"); };
  const Make catalog = [](TZNTLockManager* m) { return TZNTLockable::Catalog(m, "FynDB"); };
  const Make table1 = [](TZNTLockManager* m) { return TZNTLockable::Table(m, "Accounts", 1); };
  const Make table4096 = [](TZNTLockManager* m) { return TZNTLockable::Table(m, "Last", 4096); };
  const Make routine1 = [](TZNTLockManager* m) {
    return TZNTLockable::Routine(m, "procedure", "Post", 1);
  };
  const struct {
    const char* label;
    bool in_config;
    Make make;
    K kind;
    TZNTLockRange expected;
  } cases[] = {
      {"configuration transaction", true, configuration, K::Transaction, {4096, 1}},
      {"configuration read", true, configuration, K::Read, {4098, 1}},
      {"configuration write", true, configuration, K::Write, {4097, 4096}},
      {"log transaction", true, log, K::Transaction, {8193, 1}},
      {"log read", true, log, K::Read, {8195, 1}},
      {"log write", true, log, K::Write, {8194, 4096}},
      {"user 1 shared", true, user1, K::Shared, {12291, 1}},
      {"user 1 exclusive", true, user1, K::Exclusive, {12290, 4096}},
      {"user 3 exclusive", true, user3, K::Exclusive, {20482, 4096}},
      {"database shared", false, database, K::Shared, {4097, 1}},
      {"database exclusive", false, database, K::Exclusive, {4096, 4096}},
      {"database transaction", false, database, K::Transaction, {16789505, 4096}},
      {"database read", false, database, K::Read, {16793602, 1}},
      {"database write", false, database, K::Write, {16793601, 16777216}},
      {"catalog transaction", false, catalog, K::Transaction, {8192, 1}},
      {"catalog read", false, catalog, K::Read, {8194, 1}},
      {"catalog write", false, catalog, K::Write, {8193, 4096}},
      {"table 1 shared", false, table1, K::Shared, {12290, 1}},
      {"table 1 exclusive", false, table1, K::Exclusive, {12289, 4096}},
      {"table 1 transaction", false, table1, K::Transaction, {16789505, 1}},
      {"table 1 read", false, table1, K::Read, {16793602, 1}},
      {"table 1 write", false, table1, K::Write, {16793601, 4096}},
      {"table 4096 exclusive", false, table4096, K::Exclusive, {16785409, 4096}},
      {"table 4096 transaction", false, table4096, K::Transaction, {16793600, 1}},
      {"table 4096 write", false, table4096, K::Write, {33566721, 4096}},
      {"routine 1 exclusive", false, routine1, K::Exclusive, {33570817, 4096}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TZNTLockManager& m = c.in_config ? static_cast<TZNTLockManager&>(*config) : *db;
    TZNTLockable object = c.make(&m);
    ASSERT_TRUE(object.Lock(c.kind));
    EXPECT_EQ(m.HeldRanges().back(), c.expected);
    EXPECT_TRUE(object.Holds(c.kind));
    m.CheckInvariants();
    object.Unlock(c.kind);
    EXPECT_EQ(m.HeldRanges().size(), 1u);  // the slot byte alone
    EXPECT_FALSE(object.Holds(c.kind));
  }
}

TEST_F(LockManagerTest, DatabaseWideRangesCoverEveryTable) {
  auto a = OpenDatabase(1);
  auto b = OpenDatabase(2);
  TZNTLockable db_a = TZNTLockable::Database(a.get(), "FynDB");
  TZNTLockable first_b = TZNTLockable::Table(b.get(), "Accounts", 1);
  TZNTLockable last_b = TZNTLockable::Table(b.get(), "Last", 4096);
  TZNTLockable other_a = TZNTLockable::Table(a.get(), "Transactions", 2);

  ASSERT_TRUE(db_a.Lock(K::Transaction));
  EXPECT_EQ(ErrorOf([&] { last_b.Lock(K::Transaction); }).ErrorCode(), 300);
  EXPECT_EQ(ErrorOf([&] { first_b.Lock(K::Transaction); }).ErrorCode(), 300);
  db_a.Unlock(K::Transaction);

  ASSERT_TRUE(db_a.Lock(K::Write));
  EXPECT_EQ(ErrorOf([&] { last_b.Lock(K::Read); }).ErrorCode(), 300);
  db_a.Unlock(K::Write);

  // Tables' own ranges keep apart.
  ASSERT_TRUE(other_a.Lock(K::Write));
  ASSERT_TRUE(other_a.Lock(K::Transaction));
  EXPECT_TRUE(first_b.Lock(K::Write));
  EXPECT_TRUE(first_b.Lock(K::Transaction));
  EXPECT_TRUE(last_b.Lock(K::Exclusive));
}

TEST_F(LockManagerTest, ExclusiveOpenFailsAfter257AttemptsWhileOthersShare) {
  auto s1 = OpenDatabase(1);
  auto s2 = OpenDatabase(2);
  auto s3 = OpenDatabase(3);
  TZNTLockable db1 = TZNTLockable::Database(s1.get(), "FynDB");
  TZNTLockable db2 = TZNTLockable::Database(s2.get(), "FynDB");
  TZNTLockable db3 = TZNTLockable::Database(s3.get(), "FynDB");
  EXPECT_TRUE(db1.Lock(K::Shared));
  EXPECT_TRUE(db2.Lock(K::Shared));

  EZNTException e = ErrorOf([&] { db3.Lock(K::Exclusive); });
  EXPECT_EQ(e.ErrorCode(), 300);
  EXPECT_EQ(e.ErrorMessage(), "Cannot lock the database FynDB for exclusive access");
  EXPECT_STREQ(e.what(), "Zentaro Error #300 Cannot lock the database FynDB for exclusive access");
  EXPECT_EQ(sleeps_, 256);
  EXPECT_EQ(db3.HeldFlags(), 0u);
  EXPECT_EQ(s3->HeldRanges().size(), 1u);

  // Once both have closed, the exclusive open goes through and keeps the
  // others out.
  s1->Close();
  s2->Close();
  sleeps_ = 0;
  EXPECT_TRUE(db3.Lock(K::Exclusive));
  EXPECT_EQ(sleeps_, 0);
  s1->Open();
  db1.ForgetLocks();  // its Shared went with the closed lock file
  EXPECT_EQ(ErrorOf([&] { db1.Lock(K::Shared); }).ErrorMessage(),
            "Cannot lock the database FynDB for shared access");
  EXPECT_EQ(sleeps_, 256);
}

TEST_F(LockManagerTest, TheLastRetryStillTakesALockFreedMeanwhile) {
  auto s1 = OpenDatabase(1);
  auto s3 = OpenDatabase(3);
  TZNTLockable db1 = TZNTLockable::Database(s1.get(), "FynDB");
  TZNTLockable db3 = TZNTLockable::Database(s3.get(), "FynDB");
  ASSERT_TRUE(db1.Lock(K::Shared));
  on_sleep_ = [&](int n) {
    if (n == 256) db1.Unlock(K::Shared);
  };
  EXPECT_TRUE(db3.Lock(K::Exclusive));
  EXPECT_EQ(sleeps_, 256);
}

TEST_F(LockManagerTest, ReadersShareAndAWriterWaitsForThem) {
  auto a = OpenDatabase(1);
  auto b = OpenDatabase(2);
  auto c = OpenDatabase(3);
  TZNTLockable ta = TZNTLockable::Table(a.get(), "Transactions", 2);
  TZNTLockable tb = TZNTLockable::Table(b.get(), "Transactions", 2);
  TZNTLockable tc = TZNTLockable::Table(c.get(), "Transactions", 2);
  EXPECT_TRUE(ta.Lock(K::Read));
  EXPECT_TRUE(tb.Lock(K::Read));
  EXPECT_EQ(sleeps_, 0);

  // The readers finish while the writer retries.
  on_sleep_ = [&](int n) {
    if (n == 10) ta.Unlock(K::Read);
    if (n == 20) tb.Unlock(K::Read);
  };
  EXPECT_TRUE(tc.Lock(K::Write));
  EXPECT_EQ(sleeps_, 20);

  // A reader in turn waits for the writer, as long as the retries last.
  on_sleep_ = nullptr;
  sleeps_ = 0;
  EZNTException e = ErrorOf([&] { ta.Lock(K::Read); });
  EXPECT_EQ(e.ErrorMessage(), "Cannot lock the table Transactions for read access");
  EXPECT_EQ(sleeps_, 32768);
  tc.Unlock(K::Write);
  EXPECT_TRUE(ta.Lock(K::Read));
}

TEST_F(LockManagerTest, NestedTransactionLocksTakeTheBytesOnce) {
  auto a = OpenDatabase(1);
  auto b = OpenDatabase(2);
  TZNTLockable t = TZNTLockable::Table(a.get(), "Transactions", 2);
  TZNTLockable other = TZNTLockable::Table(b.get(), "Transactions", 2);
  EXPECT_TRUE(t.Lock(K::Transaction));
  EXPECT_FALSE(t.Lock(K::Transaction));
  EXPECT_FALSE(t.Lock(K::Transaction));
  EXPECT_EQ(t.SavedFlags(), (std::vector<uint32_t>{0, 16, 16}));
  EXPECT_EQ(a->HeldRanges().size(), 2u);
  t.Unlock(K::Transaction);
  t.Unlock(K::Transaction);
  EXPECT_TRUE(t.Holds(K::Transaction));
  EXPECT_EQ(ErrorOf([&] { other.Lock(K::Transaction); }).ErrorCode(), 300);
  t.Unlock(K::Transaction);
  EXPECT_FALSE(t.Holds(K::Transaction));
  EXPECT_TRUE(t.SavedFlags().empty());
  EXPECT_EQ(a->HeldRanges().size(), 1u);
  EXPECT_TRUE(other.Lock(K::Transaction));

  // A failed Transaction lock leaves nothing saved to unbalance the stack.
  EXPECT_EQ(ErrorOf([&] { t.Lock(K::Transaction); }).ErrorCode(), 300);
  EXPECT_TRUE(t.SavedFlags().empty());
}

// What a request does given the locks already held by the same session.
TEST_F(LockManagerTest, HeldLocksDecideWhetherARequestTakesBytes) {
  auto m = OpenDatabase(1);
  const struct {
    const char* label;
    std::vector<K> held;
    K request;
    bool took;  // false: covered, nothing new locked
  } cases[] = {
      {"shared twice", {K::Shared}, K::Shared, false},
      {"read twice", {K::Read}, K::Read, false},
      {"read under write", {K::Write}, K::Read, false},
      {"read under transaction", {K::Transaction}, K::Read, false},
      {"read under exclusive", {K::Exclusive}, K::Read, false},
      {"write twice", {K::Write}, K::Write, false},
      {"write under exclusive", {K::Exclusive}, K::Write, false},
      {"write under transaction", {K::Transaction}, K::Write, true},
      {"transaction under exclusive", {K::Exclusive}, K::Transaction, false},
      {"transaction under write", {K::Write}, K::Transaction, true},
      {"read beside shared", {K::Shared}, K::Read, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TZNTLockable t = TZNTLockable::Table(m.get(), "Transactions", 2);
    for (K k : c.held) ASSERT_TRUE(t.Lock(k));
    const size_t before = m->HeldRanges().size();
    EXPECT_EQ(t.Lock(c.request), c.took);
    EXPECT_EQ(m->HeldRanges().size(), before + (c.took ? 1 : 0));
    EXPECT_TRUE(t.Holds(c.request) || !c.took);
    m->Close();  // drops whatever the case took
    m->Open();
  }
  EXPECT_EQ(sleeps_, 0);
}

TEST_F(LockManagerTest, ExclusiveConflictsWithTheSessionsOwnOpenLockAtOnce) {
  auto m = OpenDatabase(1);
  TZNTLockable t = TZNTLockable::Table(m.get(), "Accounts", 1);
  ASSERT_TRUE(t.Lock(K::Shared));
  EXPECT_EQ(ErrorOf([&] { t.Lock(K::Exclusive); }).ErrorMessage(),
            "Cannot lock the table Accounts for exclusive access");
  t.Unlock(K::Shared);
  ASSERT_TRUE(t.Lock(K::Exclusive));
  EXPECT_EQ(ErrorOf([&] { t.Lock(K::Shared); }).ErrorMessage(),
            "Cannot lock the table Accounts for shared access");
  EXPECT_EQ(ErrorOf([&] { t.Lock(K::Exclusive); }).ErrorCode(), 300);
  EXPECT_EQ(sleeps_, 0);
}

TEST_F(LockManagerTest, AnExclusiveHolderKeepsItsReadAndWriteUntilItLetsGo) {
  auto m = OpenDatabase(1);
  TZNTLockable t = TZNTLockable::Table(m.get(), "Accounts", 1);
  ASSERT_TRUE(t.Lock(K::Read));
  ASSERT_TRUE(t.Lock(K::Exclusive));
  t.Unlock(K::Read);
  EXPECT_TRUE(t.Holds(K::Read));
  EXPECT_EQ(m->HeldRanges().size(), 3u);
  t.Unlock(K::Exclusive);
  t.Unlock(K::Read);
  EXPECT_EQ(t.HeldFlags(), 0u);
  EXPECT_EQ(m->HeldRanges().size(), 1u);
}

TEST_F(LockManagerTest, ReadOnlyAndTemporaryObjectsTakeFewerLocks) {
  auto m = OpenDatabase(1);
  TZNTLockable ro = TZNTLockable::Table(m.get(), "Accounts", 1);
  ro.SetReadOnly(true);
  for (K k : {K::Read, K::Write, K::Transaction}) EXPECT_FALSE(ro.Lock(k));
  EXPECT_EQ(m->HeldRanges().size(), 1u);
  EXPECT_TRUE(ro.Lock(K::Shared));  // a read-only table is still open
  for (K k : {K::Read, K::Write, K::Transaction}) ro.Unlock(k);
  EXPECT_TRUE(ro.SavedFlags().empty());

  TZNTLockable temp = TZNTLockable::Table(m.get(), "Result", 2);
  temp.SetTemporary(true);
  for (K k : {K::Shared, K::Exclusive, K::Read, K::Write, K::Transaction}) {
    EXPECT_FALSE(temp.Lock(k));
    temp.Unlock(k);
  }
  EXPECT_EQ(temp.HeldFlags(), 0u);
  EXPECT_TRUE(temp.SavedFlags().empty());
  EXPECT_EQ(m->HeldRanges().size(), 2u);
}

TEST_F(LockManagerTest, ATemporaryOwnerHasNoLockFile) {
  TZNTDatabaseLockManager m(files_, kDbFolder, kDbLock, 1, /*temporary=*/true);
  m.Open();
  EXPECT_TRUE(m.IsOpen());
  EXPECT_TRUE(m.IsTemporary());
  EXPECT_FALSE(files_.FileExists(DbLockPath()));
  EXPECT_EQ(m.Slot(), 0);
  TZNTLockable db = TZNTLockable::Database(&m, "Configuration");
  EXPECT_FALSE(db.Lock(K::Exclusive));
  EXPECT_FALSE(db.Lock(K::Transaction));
  db.Unlock(K::Transaction);
  db.Unlock(K::Exclusive);
  m.CloseAndDelete();
}

TEST_F(LockManagerTest, ALockFileThatCannotBeCreatedMakesTheOwnerReadOnly) {
  NoCreateFileManager refusing(files_);
  TZNTConfigLockManager m(refusing, kConfigFolder, kConfigLock);
  m.Open();  // no error
  EXPECT_TRUE(m.IsOpen());
  EXPECT_TRUE(m.IsReadOnly());
  EXPECT_EQ(m.Slot(), 0);
  TZNTLockable config = TZNTLockable::Configuration(&m, "ZNTConfig");
  EXPECT_FALSE(config.Lock(K::Transaction));
  EXPECT_FALSE(config.Lock(K::Write));
  config.Unlock(K::Write);
  config.Unlock(K::Transaction);
  EXPECT_EQ(config.HeldFlags(), 0u);
  m.CheckInvariants();

  // A database opened by that session searches a slot of its own.
  TZNTDatabaseLockManager db(files_, kDbFolder, kDbLock, m.Slot());
  db.Open();
  EXPECT_EQ(db.Slot(), 1);
}

TEST_F(LockManagerTest, AnUnlockTheFileRefusesRaises301) {
  auto m = OpenDatabase(1);
  TZNTLockable t = TZNTLockable::Table(m.get(), "Transactions", 2);
  ASSERT_TRUE(t.Lock(K::Write));
  // Someone unlocks the range behind the session's back.
  TZNTFileStream raw = files_.OpenFile(DbLockPath(), false, false);
  const TZNTLockRange range = m->HeldRanges().back();
  ASSERT_TRUE(raw.Unlock(range.offset, range.length));
  EZNTException e = ErrorOf([&] { t.Unlock(K::Write); });
  EXPECT_EQ(e.ErrorCode(), 301);
  EXPECT_EQ(e.ErrorMessage(), "Cannot unlock the table Transactions for write access");
  EXPECT_FALSE(t.Holds(K::Write));
  EXPECT_EQ(m->HeldRanges().size(), 1u);
}

TEST_F(LockManagerTest, ClosingReleasesEverythingTheSessionHeld) {
  auto a = OpenDatabase(1);
  auto b = OpenDatabase(2);  // keeps the shared file open
  TZNTLockable db = TZNTLockable::Database(a.get(), "FynDB");
  TZNTLockable t = TZNTLockable::Table(a.get(), "Accounts", 1);
  ASSERT_TRUE(db.Lock(K::Shared));
  ASSERT_TRUE(t.Lock(K::Shared));
  ASSERT_TRUE(t.Lock(K::Transaction));
  ASSERT_TRUE(t.Lock(K::Write));
  a->Close();
  EXPECT_EQ(FileRanges(DbLockPath()), (std::vector<TZNTLockRange>{{1, 1}}));
  a.reset();  // closing twice does nothing
  b.reset();
  EXPECT_TRUE(FileRanges(DbLockPath()).empty());
}

TEST_F(LockManagerTest, TablesInheritTheDatabasesTransactionState) {
  auto m = OpenDatabase(1);
  TZNTLockable db = TZNTLockable::Database(m.get(), "FynDB");
  TZNTLockable t = TZNTLockable::Table(m.get(), "Transactions", 2);
  ASSERT_TRUE(t.Lock(K::Shared));
  ASSERT_TRUE(db.Lock(K::Transaction));
  db.SetInTransaction(true);
  db.PassTransactionStateTo(t);
  EXPECT_EQ(t.HeldFlags(), kZNTLockSharedFlag | kZNTLockTransactionFlag);
  EXPECT_EQ(t.SavedFlags(), std::vector<uint32_t>{0});
  EXPECT_TRUE(t.InTransaction());

  // A change to the table inside the transaction needs no bytes of its own.
  const size_t before = m->HeldRanges().size();
  EXPECT_FALSE(t.Lock(K::Transaction));
  t.Unlock(K::Transaction);
  EXPECT_TRUE(t.Holds(K::Transaction));

  ASSERT_TRUE(db.Lock(K::Write));  // COMMIT
  db.PassTransactionStateTo(t);
  EXPECT_FALSE(t.Lock(K::Write));
  EXPECT_FALSE(t.Lock(K::Read));
  EXPECT_EQ(m->HeldRanges().size(), before + 1);
  db.Unlock(K::Write);
  db.Unlock(K::Transaction);
  db.SetInTransaction(false);
  db.PassTransactionStateTo(t);
  EXPECT_EQ(t.HeldFlags(), kZNTLockSharedFlag);
  EXPECT_TRUE(t.SavedFlags().empty());
  EXPECT_FALSE(t.InTransaction());
  EXPECT_EQ(m->HeldRanges().size(), 2u);  // slot and the table's Shared
}

TEST_F(LockManagerTest, ScopedLocksUndoOnlyWhatTheyTook) {
  auto m = OpenDatabase(1);
  TZNTLockable t = TZNTLockable::Table(m.get(), "Accounts", 1);
  {
    TZNTObjectLock outer(t, K::Read);
    EXPECT_TRUE(outer.TookLock());
    {
      TZNTObjectLock inner(t, K::Read);
      EXPECT_FALSE(inner.TookLock());
    }
    EXPECT_TRUE(t.Holds(K::Read));
  }
  EXPECT_FALSE(t.Holds(K::Read));

  // Nested transaction scopes pair up even when the inner one took nothing,
  // and an error unwinding through them leaves nothing locked.
  try {
    TZNTObjectLock outer(t, K::Transaction);
    TZNTObjectLock inner(t, K::Transaction);
    EXPECT_EQ(t.SavedFlags().size(), 2u);
    RaiseZNTError(404, {"test"});
  } catch (const EZNTException&) {
  }
  EXPECT_EQ(t.HeldFlags(), 0u);
  EXPECT_TRUE(t.SavedFlags().empty());
  EXPECT_EQ(m->HeldRanges().size(), 1u);
}

// ------------------------------------------------- operating-system lock files

class OSLockManagerTest : public testing::TempFolderTest {
 protected:
  TZNTEngineLargeOSFileManager files_;
};

TEST_F(OSLockManagerTest, OtherProcessesSeeSlotsAndObjectLocks) {
  TZNTConfigLockManager config(files_, folder_, kConfigLock);
  config.Open();
  ASSERT_EQ(config.Slot(), 1);
  TZNTDatabaseLockManager db(files_, folder_ + "/FynDB", kDbLock, config.Slot());
  files_.MakeFolder(folder_ + "/FynDB");
  db.Open();
  TZNTLockable fyn = TZNTLockable::Database(&db, "FynDB");
  ASSERT_TRUE(fyn.Lock(K::Shared));

  // A second process: its own file manager, as a second program would have.
  const std::string folder = folder_;
  int code = testing::RunInChild([folder] {
    TZNTEngineLargeOSFileManager files;
    TZNTConfigLockManager config(files, folder, kConfigLock);
    config.Open();
    if (config.Slot() != 2) return 1;
    TZNTDatabaseLockManager db(files, folder + "/FynDB", kDbLock, config.Slot());
    int sleeps = 0;
    db.SetSleepFunction([&](uint32_t) { ++sleeps; });
    db.Open();
    if (db.Slot() != 2) return 2;
    TZNTLockable fyn = TZNTLockable::Database(&db, "FynDB");
    if (!fyn.Lock(K::Shared)) return 3;
    fyn.Unlock(K::Shared);
    try {
      fyn.Lock(K::Exclusive);
      return 4;
    } catch (const EZNTException& e) {
      if (e.ErrorMessage() != "Cannot lock the database FynDB for exclusive access") return 5;
    }
    return sleeps == 256 ? 0 : 6;
  });
  EXPECT_EQ(code, 0);

  // With the first process gone from the lock file, a new one takes slot 1.
  db.Close();
  config.Close();
  code = testing::RunInChild([folder] {
    TZNTEngineLargeOSFileManager files;
    TZNTConfigLockManager config(files, folder, kConfigLock);
    config.Open();
    return config.Slot();
  });
  EXPECT_EQ(code, 1);
}

TEST_F(OSLockManagerTest, AReadOnlyLockFileMakesTheOwnerReadOnly) {
  { files_.CreateFile(PathOf(kConfigLock), false, false); }
  ASSERT_EQ(::chmod(PathOf(kConfigLock).c_str(), 0444), 0);
  TZNTConfigLockManager m(files_, folder_, kConfigLock);
  m.Open();
  EXPECT_TRUE(m.IsReadOnly());
  EXPECT_EQ(m.Slot(), 1);  // readers still keep their slots apart
  TZNTLockable config = TZNTLockable::Configuration(&m, "ZNTConfig");
  EXPECT_FALSE(config.Lock(K::Transaction));
  config.Unlock(K::Transaction);
  m.CheckInvariants();
}

TEST_F(OSLockManagerTest, AReadOnlyFolderMakesTheOwnerReadOnly) {
  if (::geteuid() == 0) GTEST_SKIP() << "a privileged user may create files in any folder";
  const std::string folder = PathOf("ro");
  files_.MakeFolder(folder);
  ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
  TZNTDatabaseLockManager m(files_, folder, kDbLock, 1);
  m.Open();
  EXPECT_TRUE(m.IsReadOnly());
  EXPECT_EQ(m.Slot(), 0);
  EXPECT_FALSE(files_.FileExists(folder + "/" + kDbLock));
  ::chmod(folder.c_str(), 0755);
}

}  // namespace
}  // namespace znt
