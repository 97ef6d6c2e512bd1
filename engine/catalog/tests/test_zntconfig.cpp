#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/zntconsts.h"
#include "catalog/zntconfig.h"
#include "catalog_test_util.h"
#include "storage/zntfaultfilemgr.h"
#include "storage/zntmemfilemgr.h"

namespace znt {
namespace {

using test::ErrorOf;
using test::FileBytes;
using test::Serialised;
using test::SetFileBytes;
using test::TPlainFile;

constexpr const char* kFolder = "/home/fyn";
const std::string kConfigPath = "/home/fyn/ZNTConfig.ZNTCfg";

std::string MetadataError(std::string_view detail) {
  return "There is an error in the metadata for the configuration ZNTConfig (" +
         std::string(detail) + ")";
}

// One configuration folder in memory, opened by as many managers as a test
// wants (each as a separate session would).
class ConfigTest : public ::testing::Test {
 protected:
  std::unique_ptr<TZNTConfigManager> Open(
      const TZNTMetadataSettings& settings = TZNTMetadataSettings::For()) {
    auto m = std::make_unique<TZNTConfigManager>(files_, kFolder, settings);
    m->SetWarningHandler([this](const std::string& w) { warnings_.push_back(w); });
    m->OpenMetadata();
    return m;
  }
  TPlainFile Plain(const std::string& path = kConfigPath) {
    return TPlainFile::Of(FileBytes(files_, path), settings_, true);
  }
  void Store(const TPlainFile& f, const std::string& path = kConfigPath) {
    SetFileBytes(files_, path, f.Bytes(settings_, true));
  }
  // Commits `change` through `m` as one write.
  static void Change(TZNTConfigManager& m, const std::function<void(TZNTConfig&)>& change) {
    m.BeginWrite();
    change(m.Config());
    m.MarkChanged();
    m.CommitWrite();
  }
  static TZNTDatabaseContainer& AddDatabase(TZNTConfig& c, std::string_view name) {
    auto db = std::make_unique<TZNTDatabaseContainer>();
    db->SetName(name);
    db->SetID(c.NewObjectID());
    db->path = "/data/" + std::string(name);
    return c.databases.Add(std::move(db));
  }

  TZNTMemoryFileManager files_;
  TZNTMetadataSettings settings_ = TZNTMetadataSettings::For();
  std::vector<std::string> warnings_;
};

// ---------------------------------------------------------------------------
// A new configuration and the container format

TEST_F(ConfigTest, NewFileHoldsOnlyTheAdministratorBesideTheBuiltIns) {
  auto m = Open();
  const TZNTConfig& c = m->Config();
  // In memory: the built-in system objects and the stored Administrator.
  for (const char* name : {"System", "Administrator"}) ASSERT_NE(c.users.Find(name), nullptr);
  EXPECT_TRUE(c.users.Find("System")->System());
  EXPECT_TRUE(c.users.Find("system")->loginDisabled);
  EXPECT_TRUE(c.roles.Find("Administrators")->System());
  EXPECT_TRUE(c.roles.Find("Public")->System());
  EXPECT_TRUE(c.wordGenerators.Find("Default")->System());
  const TZNTDatabaseContainer* cfg = c.databases.Find("Configuration");
  ASSERT_NE(cfg, nullptr);
  EXPECT_TRUE(cfg->System() && cfg->ReadOnly() && cfg->InMemory());
  EXPECT_EQ(cfg->privileges.Find("Public")->privileges, TZNTPrivilege::kAll);
  EXPECT_EQ(c.databases.Find("FynDB"), nullptr);
  EXPECT_TRUE(c.IsAdministrator("Administrator"));
  EXPECT_TRUE(c.IsAdministrator("System"));
  EXPECT_FALSE(c.IsAdministrator("Nobody"));
  EXPECT_EQ(c.NextID(), 4);

  // The file: the header, then exactly the Administrator and its role.
  TPlainFile f = Plain();
  const TZNTContainerHeader h = f.Header();
  EXPECT_EQ(h.signatureDigest, TZNTDigest::Compute("rbz_aewwrecdk"));
  EXPECT_EQ(h.characterSet, 0);
  EXPECT_TRUE(h.encrypted);
  EXPECT_EQ(h.passwordDigest, TZNTDigest::Compute("mirthwandle"));
  EXPECT_EQ(h.changeCounter, 1);
  EXPECT_EQ(h.reserved, 0);
  EXPECT_EQ(static_cast<size_t>(h.bodyLength), f.body.size());
  EXPECT_EQ(h.bodyLength % 8, 0);
  EXPECT_EQ(f.header.substr(49), std::string(7, '\0'));

  TZNTReader r(f.body);
  EXPECT_EQ(r.ReadInt64(), 20200);  // version
  EXPECT_EQ(r.ReadInt32(), 4);      // next ID
  EXPECT_EQ(r.ReadInt32(), 0);      // text filters
  EXPECT_EQ(r.ReadInt32(), 0);      // word generators: "Default" is not written
  EXPECT_EQ(r.ReadInt32(), 0);      // migrators
  EXPECT_EQ(r.ReadInt32(), 1);      // users: "System" is not written
  EXPECT_EQ(r.ReadInt32(), 2);
  EXPECT_EQ(r.ReadString(), "Administrator");
  EXPECT_EQ(r.ReadString(), "Administrator User");
  EXPECT_FALSE(r.ReadBoolean());  // hidden
  EXPECT_FALSE(r.ReadBoolean());  // read-only
  EXPECT_EQ(r.ReadString(), "Quexpinado");
  EXPECT_FALSE(r.ReadBoolean());  // login disabled
  EXPECT_EQ(r.ReadInt32(), 1);    // lock number
  EXPECT_EQ(r.ReadInt32(), 4096);
  EXPECT_EQ(r.ReadInt32(), 1);  // roles of the user
  EXPECT_EQ(r.ReadInt32(), 3);
  EXPECT_EQ(r.ReadString(), "Administrators");
  EXPECT_EQ(r.ReadString(), "");
  EXPECT_FALSE(r.ReadBoolean());
  EXPECT_FALSE(r.ReadBoolean());
  EXPECT_EQ(r.ReadString(), "System");                      // granted by
  for (int i = 0; i < 4; ++i) EXPECT_EQ(r.ReadInt32(), 0);  // roles, databases, jobs, stores
  EXPECT_LT(r.Remaining(), 8u);
  while (!r.AtEnd()) EXPECT_EQ(r.ReadUInt8(), 0);
}

TEST_F(ConfigTest, EveryStoredKindRoundTrips) {
  auto writer = Open();
  Change(*writer, [](TZNTConfig& c) {
    auto filter = std::make_unique<TZNTTextFilter>();
    filter->SetName("Html");
    filter->SetID(c.NewObjectID());
    filter->filterType = 7;
    filter->moduleName = "htmlfilter.so";
    c.textFilters.Add(std::move(filter));
    auto generator = std::make_unique<TZNTWordGenerator>();
    generator->SetName("Stems");
    generator->SetID(c.NewObjectID());
    generator->moduleName = "stems.so";
    c.wordGenerators.Add(std::move(generator));
    auto migrator = std::make_unique<TZNTMigrator>();
    migrator->SetName("Csv");
    migrator->SetID(c.NewObjectID());
    migrator->moduleName = "csv.so";
    c.migrators.Add(std::move(migrator));
    auto role = std::make_unique<TZNTRole>();
    role->SetName("Clerks");
    role->SetID(c.NewObjectID());
    role->SetDescription("Book-keepers");
    c.roles.Add(std::move(role));
    std::unique_ptr<TZNTUser> user = c.NewUser("Jo", "secret");
    user->loginDisabled = true;
    user->userInteger = 77;
    user->SetHidden(true);
    auto membership = std::make_unique<TZNTUserRole>();
    membership->SetName("Clerks");
    membership->SetID(c.NewObjectID());
    membership->grantedBy = "Administrator";
    user->roles.Add(std::move(membership));
    c.users.Add(std::move(user));
    TZNTDatabaseContainer& db = AddDatabase(c, "FynDB");
    db.encryptedCatalog = true;
    db.creator = "Administrator";
    db.SetDescription("Books");
    db.databaseInteger = 12;
    auto grant = std::make_unique<TZNTPrivilege>();
    grant->SetName("Clerks");
    grant->SetID(c.NewObjectID());
    grant->privileges = TZNTPrivilege::kSelect | TZNTPrivilege::kInsert;
    grant->grantedBy = "Administrator";
    db.privileges.Add(std::move(grant));
    auto memory = std::make_unique<TZNTDatabaseContainer>();
    memory->SetName("Scratch");
    memory->SetID(c.NewObjectID());
    memory->SetInMemory(true);
    c.databases.Add(std::move(memory));
    auto job = std::make_unique<TZNTJob>();
    job->SetName("Nightly");
    job->SetID(c.NewObjectID());
    job->category = "Backups";
    job->userName = "Jo";
    job->startDate = 730000;
    job->endDate = 731000;
    job->jobType = 2;
    job->interval = 3;
    job->days = 5;
    job->dayNumber = 6;
    job->dayOfMonth = 7;
    job->months = 8;
    job->startTime = 3600000;
    job->endTime = 7200000;
    job->definition = "BEGIN END";
    job->lastRun = 1234567890123;
    c.jobs.Add(std::move(job));
    auto store = std::make_unique<TZNTStore>();
    store->SetName("Remote");
    store->SetID(c.NewObjectID());
    store->storeType = 1;
    store->path = "/srv";
    store->address = "10.0.0.1";
    store->host = "books";
    store->port = 12010;
    store->service = "svc";
    store->userName = "u";
    store->password = "p";
    store->remoteStore = "rs";
    store->signature = "sig";
    store->encrypted = true;
    store->encryptionPassword = "ep";
    store->compression = 6;
    store->timeout = 180;
    store->ping = true;
    store->pingInterval = 60;
    c.stores.Add(std::move(store));
  });

  auto reader = Open();
  const TZNTConfig& c = reader->Config();
  EXPECT_EQ(Serialised(c), Serialised(writer->Config()));
  // A fault that loses the same field on both sides would still compare
  // equal, so a distinctive value of each kind is checked as well.
  EXPECT_EQ(c.textFilters.Find("Html")->filterType, 7);
  EXPECT_EQ(c.wordGenerators.Find("Stems")->moduleName, "stems.so");
  EXPECT_EQ(c.migrators.Find("Csv")->moduleName, "csv.so");
  EXPECT_EQ(c.roles.Find("Clerks")->Description(), "Book-keepers");
  const TZNTUser& jo = *c.users.Find("Jo");
  EXPECT_EQ(jo.password, "secret");
  EXPECT_TRUE(jo.loginDisabled && jo.Hidden());
  EXPECT_EQ(jo.userInteger, 77);
  EXPECT_EQ(jo.lockNumber, 2);
  EXPECT_EQ(jo.roles.Find("Clerks")->grantedBy, "Administrator");
  const TZNTDatabaseContainer& db = *c.databases.Find("FynDB");
  EXPECT_EQ(db.path, "/data/FynDB");
  EXPECT_TRUE(db.encryptedCatalog);
  EXPECT_FALSE(db.InMemory());
  EXPECT_EQ(db.databaseInteger, 12);
  EXPECT_EQ(db.privileges.Find("Clerks")->privileges, 24);
  EXPECT_TRUE(c.databases.Find("Scratch")->InMemory());
  const TZNTJob& job = *c.jobs.Find("Nightly");
  EXPECT_EQ(job.months, 8);
  EXPECT_EQ(job.lastRun, 1234567890123);
  const TZNTStore& store = *c.stores.Find("Remote");
  EXPECT_EQ(store.port, 12010);
  EXPECT_EQ(store.encryptionPassword, "ep");
  EXPECT_EQ(store.pingInterval, 60);
  EXPECT_EQ(c.NextID(), writer->Config().NextID());
  // The built-ins are there once, from the constructor, not from the file.
  EXPECT_EQ(c.users.Count(), 3);
  EXPECT_EQ(c.databases.Count(), 3);
}

// ---------------------------------------------------------------------------
// Header checks

TEST_F(ConfigTest, HeaderChecksRunInOrderWithTheirDetails) {
  const TZNTDigest::TValue other = TZNTDigest::Compute("another text");
  struct Case {
    const char* what;
    std::function<void(TZNTContainerHeader&)> mutate;
    const char* detail;
  };
  const Case cases[] = {
      {"password", [&](TZNTContainerHeader& h) { h.passwordDigest = other; },
       "The encryption password does not match the default or current engine encryption "
       "password"},
      {"flag off", [](TZNTContainerHeader& h) { h.encrypted = false; },
       "The encryption status does not match the encryption status in the configuration or "
       "catalog"},
      {"character set", [](TZNTContainerHeader& h) { h.characterSet = 1; },
       "The character set does not match the character set in use by the engine"},
      {"signature", [&](TZNTContainerHeader& h) { h.signatureDigest = other; },
       "The signature does not match the default or current engine signature"},
      {"password before character set",
       [&](TZNTContainerHeader& h) {
         h.passwordDigest = other;
         h.characterSet = 1;
       },
       "The encryption password does not match the default or current engine encryption "
       "password"},
      {"character set before signature",
       [&](TZNTContainerHeader& h) {
         h.characterSet = 2;
         h.signatureDigest = other;
       },
       "The character set does not match the character set in use by the engine"},
  };
  Open();
  const TPlainFile original = Plain();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TPlainFile f = original;
    TZNTContainerHeader h = f.Header();
    c.mutate(h);
    f.SetHeader(h);
    Store(f);
    auto [code, message] = ErrorOf([&] { Open(); });
    EXPECT_EQ(code, 100);
    EXPECT_EQ(message, MetadataError(c.detail));
  }
}

TEST_F(ConfigTest, APlainFileIsRefusedForItsEncryptionStatus) {
  // A configuration written without encryption: every field right but the
  // flag, and nothing enciphered.
  Open();
  TPlainFile f = Plain();
  TZNTContainerHeader h = f.Header();
  h.encrypted = false;
  f.SetHeader(h);
  SetFileBytes(files_, kConfigPath, f.Bytes(settings_, false));
  auto [code, message] = ErrorOf([&] { Open(); });
  EXPECT_EQ(code, 100);
  EXPECT_EQ(message, MetadataError("The encryption status does not match the encryption status "
                                   "in the configuration or catalog"));
}

TEST_F(ConfigTest, SignaturesAcceptedAreTheCurrentAndTheDefault) {
  Open();  // written with the default signature
  EXPECT_EQ(ErrorOf([&] { Open(TZNTMetadataSettings::For("changed")); }).first, 0);

  TZNTMemoryFileManager other;
  TZNTConfigManager changed(other, kFolder, TZNTMetadataSettings::For("changed"));
  changed.OpenMetadata();
  TZNTConfigManager plain(other, kFolder, TZNTMetadataSettings::For());
  auto [code, message] = ErrorOf([&] { plain.OpenMetadata(); });
  EXPECT_EQ(code, 100);
  EXPECT_EQ(message,
            MetadataError("The signature does not match the default or current engine signature"));
}

TEST_F(ConfigTest, AnotherPasswordIsRefusedEvenWithAPreviousCopy) {
  auto m = Open();
  Change(*m, [](TZNTConfig& c) { AddDatabase(c, "FynDB"); });
  ASSERT_TRUE(files_.FileExists(m->OldPath()));
  const std::string before = FileBytes(files_, kConfigPath);
  auto [code, message] = ErrorOf([&] { Open(TZNTMetadataSettings::For("rbz_aewwrecdk", "x")); });
  EXPECT_EQ(code, 100);
  EXPECT_EQ(message, MetadataError("The encryption password does not match the default or "
                                   "current engine encryption password"));
  EXPECT_EQ(FileBytes(files_, kConfigPath), before);
  EXPECT_TRUE(warnings_.empty());
}

TEST_F(ConfigTest, ANewerEnginesFileIsRefusedAndLeftAlone) {
  auto m = Open();
  Change(*m, [](TZNTConfig& c) { AddDatabase(c, "FynDB"); });
  TPlainFile f = Plain();
  StoreLE64(f.body.data(), 20201);
  Store(f);
  const std::string newer = FileBytes(files_, kConfigPath);
  auto [code, message] = ErrorOf([&] { Open(); });
  EXPECT_EQ(code, 100);
  EXPECT_EQ(message, MetadataError("The object has been updated by a newer version of the engine"));
  // The previous copy is sound, but it must not replace a newer file.
  EXPECT_EQ(FileBytes(files_, kConfigPath), newer);
  EXPECT_TRUE(warnings_.empty());
}

// ---------------------------------------------------------------------------
// Older versions

struct TDatabaseEntry {
  int32_t id;
  std::string name;
};

// A configuration body in the layout of `version` holding `databases`, with
// `tail` after the last field and zero padding to a multiple of 8.
std::string ConfigBody(int64_t version, const std::vector<TDatabaseEntry>& databases = {{5, "Old"}},
                       const std::string& tail = "") {
  TZNTWriter w;
  w.WriteInt64(version);
  w.WriteInt32(10);
  w.WriteInt32(0);                       // text filters
  w.WriteInt32(0);                       // word generators
  if (version > 10200) w.WriteInt32(0);  // migrators
  w.WriteInt32(0);                       // users
  w.WriteInt32(0);                       // roles
  w.WriteInt32(static_cast<int32_t>(databases.size()));
  for (const TDatabaseEntry& db : databases) {
    w.WriteInt32(db.id);
    w.WriteString(db.name);
    w.WriteString("");
    w.WriteBoolean(false);
    w.WriteBoolean(false);
    w.WriteString("Administrator");  // creator
    w.WriteInt32(0);                 // privileges
    w.WriteString("/old/path");
    w.WriteBoolean(false);                      // in memory
    if (version > 10600) w.WriteBoolean(true);  // encrypted catalog
    w.WriteInt32(4096);
  }
  w.WriteInt32(0);                        // jobs
  if (version >= 20000) w.WriteInt32(0);  // stores
  std::string body = w.TakeBuffer() + tail;
  body.resize((body.size() + 7) / 8 * 8, '\0');
  return body;
}

TEST_F(ConfigTest, OlderLayoutsAreReadByTheirVersion) {
  Open();
  const TPlainFile original = Plain();
  for (int64_t version : {10000, 10200, 10201, 10600, 10601, 19999, 20000, 20200}) {
    SCOPED_TRACE(version);
    TPlainFile f = original;
    f.body = ConfigBody(version);
    TZNTContainerHeader h = f.Header();
    h.bodyLength = static_cast<int32_t>(f.body.size());
    f.SetHeader(h);
    Store(f);
    auto m = Open();
    const TZNTDatabaseContainer* db = m->Config().databases.Find("Old");
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(db->path, "/old/path");
    EXPECT_EQ(db->encryptedCatalog, version > 10600);
    EXPECT_EQ(m->Config().version, version);
    EXPECT_EQ(m->Config().users.Find("Administrator"), nullptr);
  }
  EXPECT_TRUE(warnings_.empty());
}

TEST_F(ConfigTest, MalformedBodiesAreRefused) {
  Open();
  const TPlainFile original = Plain();
  struct Case {
    const char* what;
    std::string body;
    bool accepted;
  } cases[] = {
      {"sound", ConfigBody(20200, {{5, "One"}, {6, "Two"}}), true},
      {"invalid name", ConfigBody(20200, {{5, "1st"}}), false},
      {"same name", ConfigBody(20200, {{5, "One"}, {6, "ONE"}}), false},
      {"same ID", ConfigBody(20200, {{5, "One"}, {5, "Two"}}), false},
      {"ID 0", ConfigBody(20200, {{0, "One"}}), false},
      {"the root's ID", ConfigBody(20200, {{1, "One"}}), false},
      {"bytes after the end", ConfigBody(20200, {{5, "One"}}, "x"), false},
      {"a block of zeros after the end", ConfigBody(20200, {{5, "One"}}, std::string(8, '\0')),
       false},
      {"cut inside a string", ConfigBody(20200, {{5, "One"}}).substr(0, 48), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TPlainFile f = original;
    f.body = c.body;
    f.body.resize((f.body.size() + 7) / 8 * 8, '\0');
    TZNTContainerHeader h = f.Header();
    h.bodyLength = static_cast<int32_t>(f.body.size());
    f.SetHeader(h);
    Store(f);
    auto [code, message] = ErrorOf([&] { Open(); });
    if (c.accepted) {
      EXPECT_EQ(code, 0) << message;
    } else {
      EXPECT_EQ(code, 100);
      EXPECT_EQ(message, MetadataError("The configuration was not read properly"));
    }
  }
}

// ---------------------------------------------------------------------------
// The previous copy and recovery

TEST_F(ConfigTest, EveryRewriteFirstCopiesThePreviousFile) {
  auto m = Open();
  EXPECT_FALSE(files_.FileExists(m->OldPath()));  // a new file has no previous one
  const std::string first = FileBytes(files_, kConfigPath);
  Change(*m, [](TZNTConfig& c) { AddDatabase(c, "One"); });
  EXPECT_EQ(FileBytes(files_, m->OldPath()), first);
  const std::string second = FileBytes(files_, kConfigPath);
  Change(*m, [](TZNTConfig& c) { AddDatabase(c, "Two"); });
  EXPECT_EQ(FileBytes(files_, m->OldPath()), second);
  EXPECT_EQ(m->ChangeCounter(), 3);
  EXPECT_EQ(Plain().Header().changeCounter, 3);
}

TEST_F(ConfigTest, ADamagedFileIsRestoredFromItsCopy) {
  for (uint64_t cut : {60, 40, 0}) {
    SCOPED_TRACE(cut);
    for (const std::string& path : {kConfigPath, kConfigPath + ".Old"})
      if (files_.FileExists(path)) files_.DeleteFile(path);
    warnings_.clear();
    {
      auto m = Open();
      Change(*m, [](TZNTConfig& c) { AddDatabase(c, "One"); });
      Change(*m, [](TZNTConfig& c) { AddDatabase(c, "Two"); });  // the copy holds "One"
    }
    const std::string copy = FileBytes(files_, kConfigPath + ".Old");
    files_.OpenFile(kConfigPath, false, false).SetSize(cut);

    auto restored = Open();
    EXPECT_NE(restored->Config().databases.Find("One"), nullptr);
    EXPECT_EQ(restored->Config().databases.Find("Two"), nullptr);  // the lost change
    ASSERT_EQ(warnings_.size(), 1u);
    EXPECT_NE(warnings_[0].find("ZNTConfig.ZNTCfg.Old"), std::string::npos);
    EXPECT_NE(warnings_[0].find("was restored"), std::string::npos);
    EXPECT_EQ(FileBytes(files_, kConfigPath + ".Old"), copy);
    // The main file was rewritten: it opens cleanly, with a counter past the
    // copy's (and past the damaged file's, when its header could be read).
    warnings_.clear();
    auto again = Open();
    EXPECT_TRUE(warnings_.empty());
    EXPECT_NE(again->Config().databases.Find("One"), nullptr);
    EXPECT_EQ(again->ChangeCounter(), restored->ChangeCounter());
    EXPECT_EQ(again->ChangeCounter(), cut >= kZNTContainerHeaderSize ? 4 : 3);
  }
}

TEST_F(ConfigTest, WithBothFilesDamagedTheMainFilesErrorStands) {
  auto m = Open();
  Change(*m, [](TZNTConfig& c) { AddDatabase(c, "One"); });
  m->CloseMetadata();
  files_.OpenFile(kConfigPath, false, false).SetSize(70);
  files_.OpenFile(kConfigPath + ".Old", false, false).SetSize(10);
  auto [code, message] = ErrorOf([&] { Open(); });
  EXPECT_EQ(code, 100);
  EXPECT_EQ(message, MetadataError("The configuration was not read properly"));
  EXPECT_TRUE(warnings_.empty());
}

TEST_F(ConfigTest, ACommitThatFailsLeavesTheTreeAsTheFileHasIt) {
  TZNTFaultFileManager faults(files_);
  TZNTConfigManager m(faults, kFolder, settings_);
  m.SetWarningHandler([this](const std::string& w) { warnings_.push_back(w); });
  m.OpenMetadata();
  Change(m, [](TZNTConfig& c) { AddDatabase(c, "One"); });
  // The third write of the commit is the new header: the body is already
  // cut and replaced, so the file is torn and its copy must mend it.
  m.BeginWrite();
  AddDatabase(m.Config(), "Two");
  m.MarkChanged();
  faults.FailNth(TZNTFaultOp::Write, 3);
  EXPECT_EQ(ErrorOf([&] { m.CommitWrite(); }).first, 600);
  EXPECT_FALSE(m.InWrite());
  EXPECT_EQ(m.Config().databases.Find("Two"), nullptr);
  EXPECT_NE(m.Config().databases.Find("One"), nullptr);
  EXPECT_EQ(warnings_.size(), 1u);
  warnings_.clear();
  auto reader = Open();
  EXPECT_NE(reader->Config().databases.Find("One"), nullptr);
  EXPECT_TRUE(warnings_.empty());
}

// ---------------------------------------------------------------------------
// Sessions sharing the file

TEST_F(ConfigTest, ASecondSessionReloadsWhenTheCounterMoves) {
  auto first = Open();
  auto second = Open();
  int loads = 0;
  std::vector<std::string> removed;
  second->SetLoadHandlers([&] { ++loads; }, nullptr);
  second->SetRemovedHandler([&](TZNTConfigObject& o) { removed.push_back(o.Name()); });
  TZNTUser* admin = second->Config().users.Find("Administrator");
  auto* lockState = new TZNTLockAttachment;
  admin->AttachLockState(std::unique_ptr<TZNTLockAttachment>(lockState));

  second->BeginRead();  // nothing changed: the header is read, the body is not
  second->EndRead();
  EXPECT_EQ(loads, 0);

  Change(*first, [](TZNTConfig& c) {
    AddDatabase(c, "FynDB");
    c.users.Add(c.NewUser("Temp", "t"));
  });
  second->BeginRead();
  second->BeginRead();  // nested: no second look at the file
  EXPECT_NE(second->Config().databases.Find("FynDB"), nullptr);
  EXPECT_EQ(second->Config().users.Find("Administrator"), admin);  // kept in place
  EXPECT_EQ(admin->LockState(), lockState);
  second->EndRead();
  second->EndRead();
  EXPECT_EQ(loads, 1);

  Change(*first, [](TZNTConfig& c) { c.users.Remove(*c.users.Find("Temp")); });
  second->BeginWrite();  // a writer also starts from the file's state
  EXPECT_EQ(second->Config().users.Find("Temp"), nullptr);
  second->CancelWrite();
  EXPECT_EQ(removed, std::vector<std::string>{"Temp"});
  EXPECT_EQ(second->ChangeCounter(), first->ChangeCounter());
}

// Records the lock calls, to check that every lock taken is given back.
class TRecordingLocks : public TZNTMetadataLocks {
 public:
  void LockRead() override { log += "R"; }
  void UnlockRead() noexcept override { log += "r"; }
  void LockTransaction() override { log += "T"; }
  void UnlockTransaction() noexcept override { log += "t"; }
  void LockWrite() override { log += "W"; }
  void UnlockWrite() noexcept override { log += "w"; }
  std::string log;
};

TEST_F(ConfigTest, LocksAreTakenAroundEachStepAndGivenBack) {
  TRecordingLocks locks;
  TZNTConfigManager m(files_, kFolder, settings_);
  m.SetLocks(&locks);
  m.OpenMetadata();  // a missing file: transaction lock, then write lock
  EXPECT_EQ(locks.log, "TWwt");
  m.CloseMetadata();
  locks.log.clear();
  m.OpenMetadata();  // an existing file: read lock
  m.BeginRead();
  m.BeginRead();
  m.EndRead();
  m.EndRead();
  EXPECT_EQ(locks.log, "RrRr");
  locks.log.clear();
  Change(m, [](TZNTConfig& c) { AddDatabase(c, "FynDB"); });
  m.BeginWrite();
  m.CommitWrite();  // unchanged: nothing written
  m.BeginWrite();
  m.CancelWrite();
  EXPECT_EQ(locks.log, "TWwtTtTt");
  locks.log.clear();
  // A load that fails gives its lock back all the same.
  files_.OpenFile(kConfigPath, false, false).SetSize(3);
  files_.OpenFile(kConfigPath + ".Old", false, false).SetSize(3);
  EXPECT_EQ(ErrorOf([&] { m.BeginWrite(); }).first, 100);
  EXPECT_FALSE(m.InWrite());
  EXPECT_EQ(ErrorOf([&] { m.BeginRead(); }).first, 100);
  EXPECT_EQ(locks.log, "TtRr");
}

TEST_F(ConfigTest, DeletingKeepsACopyOfTheLastState) {
  auto m = Open();
  Change(*m, [](TZNTConfig& c) { AddDatabase(c, "FynDB"); });
  const std::string last = FileBytes(files_, kConfigPath);
  m->DeleteMetadata();
  EXPECT_FALSE(m->IsOpen());
  EXPECT_FALSE(files_.FileExists(kConfigPath));
  EXPECT_EQ(FileBytes(files_, kConfigPath + ".Old"), last);
  // A missing file is created afresh, not resurrected from its copy.
  auto fresh = Open();
  EXPECT_EQ(fresh->Config().databases.Find("FynDB"), nullptr);
  EXPECT_TRUE(warnings_.empty());
}

TEST_F(ConfigTest, CancelWriteDropsTheChangesInMemory) {
  auto m = Open();
  const std::string before = FileBytes(files_, kConfigPath);
  m->BeginWrite();
  AddDatabase(m->Config(), "FynDB");
  m->MarkChanged();
  m->CancelWrite();
  EXPECT_EQ(m->Config().databases.Find("FynDB"), nullptr);
  EXPECT_EQ(FileBytes(files_, kConfigPath), before);
  EXPECT_FALSE(files_.FileExists(m->OldPath()));
}

TEST_F(ConfigTest, AReadOnlyConfigurationRefusesWrites) {
  auto m = Open();
  m->Config().SetReadOnly(true);
  auto [code, message] = ErrorOf([&] { m->BeginWrite(); });
  EXPECT_EQ(code, 101);
  EXPECT_EQ(message,
            "There was an error updating the configuration ZNTConfig (The file is read-only)");
  EXPECT_FALSE(m->InWrite());
}

// ---------------------------------------------------------------------------
// Catalog files

TEST(CatalogFileTest, EncryptionFollowsTheDatabaseAndMustMatch) {
  TZNTMemoryFileManager files;
  const TZNTMetadataSettings settings = TZNTMetadataSettings::For();
  const std::string plainPath = "/db/plain/ZNTDatabase.ZNTCat";
  TZNTCatalogManager plain(files, "/db/plain", settings, "Plain", false);
  plain.OpenMetadata();
  TZNTCatalogManager secret(files, "/db/secret", settings, "Secret", true);
  secret.OpenMetadata();
  ASSERT_NE(plain.Catalog().DefaultSchema(), nullptr);
  EXPECT_TRUE(plain.Catalog().InformationSchema().System());

  // Unencrypted: the header and body are readable as they stand.
  TPlainFile f = TPlainFile::Of(FileBytes(files, plainPath), settings, false);
  EXPECT_FALSE(f.Header().encrypted);
  EXPECT_EQ(TZNTReader(f.body).ReadInt64(), 20200);
  // A new catalog holds only the schema "Default".
  TZNTReader r(f.body);
  r.ReadInt64();
  EXPECT_EQ(r.ReadInt32(), 3);  // next ID
  EXPECT_EQ(r.ReadInt32(), 1);  // schemas: "Information" is not written
  EXPECT_EQ(r.ReadInt32(), 2);
  EXPECT_EQ(r.ReadString(), "Default");
  EXPECT_TRUE(TPlainFile::Of(FileBytes(files, "/db/secret/ZNTDatabase.ZNTCat"), settings, true)
                  .Header()
                  .encrypted);

  const std::string status =
      "The encryption status does not match the encryption status in the configuration or catalog";
  TZNTCatalogManager wrongWay(files, "/db/plain", settings, "Plain", true);
  EXPECT_EQ(ErrorOf([&] { wrongWay.OpenMetadata(); }).second,
            "There is an error in the metadata for the database Plain (" + status + ")");
  TZNTCatalogManager otherWay(files, "/db/secret", settings, "Secret", false);
  EXPECT_EQ(ErrorOf([&] { otherWay.OpenMetadata(); }).second,
            "There is an error in the metadata for the database Secret (" + status + ")");
}

// ---------------------------------------------------------------------------
// File names given by the engine settings

// Each manager keeps its file under the name, extension and previous-copy
// extension it is given, never under the default names, and restores a
// damaged file from the copy of that name.
TEST(MetadataFileNameTest, TheGivenNamesAreWrittenAndRestoredFrom) {
  struct TCase {
    bool catalog;
    TZNTMetadataFileName file;
    std::string folder, mainPath, oldPath;
    std::vector<std::string> absent;  // paths the default names would give
  };
  const std::vector<TCase> cases = {
      {false, {"Books", ".cfg"}, "/home/fyn", "/home/fyn/Books.cfg", "/home/fyn/Books.cfg.Old",
       {"/home/fyn/ZNTConfig.ZNTCfg", "/home/fyn/ZNTConfig.ZNTCfg.Old"}},
      {true, {"Cat", ".cat"}, "/db/fyn", "/db/fyn/Cat.cat", "/db/fyn/Cat.cat.Old",
       {"/db/fyn/ZNTDatabase.ZNTCat", "/db/fyn/ZNTDatabase.ZNTCat.Old"}},
      {false, {"Books", ".cfg", ".Prev"}, "/home/fyn", "/home/fyn/Books.cfg",
       "/home/fyn/Books.cfg.Prev", {"/home/fyn/Books.cfg.Old", "/home/fyn/ZNTConfig.ZNTCfg"}},
      {true, {"Cat", ".cat", ".Prev"}, "/db/fyn", "/db/fyn/Cat.cat", "/db/fyn/Cat.cat.Prev",
       {"/db/fyn/Cat.cat.Old", "/db/fyn/ZNTDatabase.ZNTCat"}},
  };
  const TZNTMetadataSettings settings = TZNTMetadataSettings::For();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.mainPath + " / " + c.oldPath);
    TZNTMemoryFileManager files;
    std::vector<std::string> warnings;
    auto open = [&] {
      std::unique_ptr<TZNTConfigObjectManager> m;
      if (c.catalog)
        m = std::make_unique<TZNTCatalogManager>(files, c.folder, settings, "FynDB", true, c.file);
      else
        m = std::make_unique<TZNTConfigManager>(files, c.folder, settings, c.file);
      m->SetWarningHandler([&](const std::string& w) { warnings.push_back(w); });
      m->OpenMetadata();
      return m;
    };
    // Adds a database (configuration) or schema (catalog) named `name`.
    auto add = [&](TZNTConfigObjectManager& m, std::string_view name) {
      m.BeginWrite();
      if (c.catalog) {
        auto& catalog = static_cast<TZNTCatalogManager&>(m).Catalog();
        auto schema = std::make_unique<TZNTSchema>();
        schema->SetName(name);
        schema->SetID(catalog.NewObjectID());
        catalog.schemas.Add(std::move(schema));
      } else {
        auto& config = static_cast<TZNTConfigManager&>(m).Config();
        auto db = std::make_unique<TZNTDatabaseContainer>();
        db->SetName(name);
        db->SetID(config.NewObjectID());
        db->path = "/data/" + std::string(name);
        config.databases.Add(std::move(db));
      }
      m.MarkChanged();
      m.CommitWrite();
    };
    auto has = [&](const TZNTConfigObjectManager& m, std::string_view name) {
      return c.catalog ? static_cast<const TZNTCatalogManager&>(m).Catalog().schemas.Find(name) !=
                             nullptr
                       : static_cast<const TZNTConfigManager&>(m).Config().databases.Find(name) !=
                             nullptr;
    };
    auto checkAbsent = [&] {
      for (const std::string& path : c.absent) EXPECT_FALSE(files.FileExists(path)) << path;
    };

    {
      auto m = open();
      EXPECT_EQ(m->Path(), c.mainPath);
      EXPECT_EQ(m->OldPath(), c.oldPath);
      EXPECT_TRUE(files.FileExists(c.mainPath));
      EXPECT_FALSE(files.FileExists(c.oldPath));  // a new file has no previous one
      add(*m, "One");
      const std::string afterOne = FileBytes(files, c.mainPath);
      add(*m, "Two");
      EXPECT_EQ(FileBytes(files, c.oldPath), afterOne);
      checkAbsent();
    }

    files.OpenFile(c.mainPath, false, false).SetSize(40);
    auto restored = open();
    EXPECT_TRUE(has(*restored, "One"));
    EXPECT_FALSE(has(*restored, "Two"));  // the change the damage lost
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].rfind(c.catalog ? "The database FynDB file " + c.mainPath
                                          : "The configuration Books file " + c.mainPath,
                                0),
              0u)
        << warnings[0];
    EXPECT_NE(warnings[0].find("was restored from " + c.oldPath), std::string::npos) << warnings[0];
    checkAbsent();
    // The main file was rewritten from the copy and opens cleanly.
    warnings.clear();
    auto again = open();
    EXPECT_TRUE(warnings.empty());
    EXPECT_TRUE(has(*again, "One"));
  }
}

// ---------------------------------------------------------------------------
// The object model

TEST(ObjectModelTest, NamesMustBeValidIdentifiersOfAtMost40Characters) {
  const std::string forty(40, 'n'), fortyOne(41, 'n');
  struct Case {
    std::string name;
    bool valid;
  } cases[] = {
      {"Accounts", true},  {"_ID", true},  {"__RowID", true}, {"Up Date", true}, {"a-b", true},
      {"\xC9t\xE9", true}, {forty, true},  {"", false},       {"1st", false},    {" lead", false},
      {"trail ", false},   {"a.b", false}, {"a\"b", false},   {fortyOne, false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsValidObjectName(c.name), c.valid) << c.name;
  EXPECT_TRUE(IsValidObjectName(fortyOne, true));

  TZNTBaseTable table;
  EXPECT_EQ(ErrorOf([&] { table.SetName("1st"); }),
            std::make_pair(406, std::string("Invalid table identifier '1st'")));
  table.SetTemporary(true);
  table.SetName(fortyOne);
  EXPECT_EQ(table.Name(), fortyOne);
}

TEST(ObjectModelTest, NamesCompareWithoutCaseAndMustBeUnique) {
  TZNTConfig c;
  c.users.Add(c.NewUser("Jo", ""));
  EXPECT_NE(c.users.Find("JO"), nullptr);
  EXPECT_EQ(ErrorOf([&] { c.users.Add(c.NewUser("jo", "")); }),
            std::make_pair(400, std::string("The user jo already exists")));
}

TEST(ObjectModelTest, SystemObjectsCannotBeDropped) {
  TZNTConfig c;
  auto [code, message] = ErrorOf([&] { c.users.Remove(*c.users.Find("System")); });
  EXPECT_EQ(code, 200);
  EXPECT_EQ(message,
            "This operation cannot be performed on the system user System or any privileges "
            "granted to it");
  EXPECT_NE(c.users.Find("System"), nullptr);
  EXPECT_EQ(ErrorOf([&] { c.databases.Find("Configuration")->CheckChangeable(); }).first, 200);
}

TEST(ObjectModelTest, ObjectIDsCountFromTwoAndWrapPastIDsInUse) {
  TZNTConfig c;
  EXPECT_EQ(c.NewObjectID(), 2);
  c.AddInitialObjects();  // takes 3 and 4
  EXPECT_EQ(c.users.Find("Administrator")->ID(), 3);
  EXPECT_EQ(c.NewObjectID(), 5);
  c.SetNextID(INT32_MAX);
  EXPECT_EQ(c.NewObjectID(), INT32_MAX);
  // 1 is the configuration itself, 3 and 4 are taken: 2 is free again.
  EXPECT_EQ(c.NewObjectID(), 2);
  EXPECT_EQ(c.NewObjectID(), 5);
  EXPECT_LT(c.users.Find("System")->ID(), 0);  // built-ins keep out of the stored range
}

TEST(ObjectModelTest, LockNumbersAreTheLowestFreeOnes) {
  TZNTConfig c;
  c.AddInitialObjects();
  TZNTUser& a = c.users.Add(c.NewUser("A", ""));
  TZNTUser& b = c.users.Add(c.NewUser("B", ""));
  EXPECT_EQ(c.users.Find("Administrator")->lockNumber, 1);
  EXPECT_EQ(a.lockNumber, 2);
  EXPECT_EQ(b.lockNumber, 3);
  c.users.Remove(a);
  EXPECT_EQ(c.NewUser("C", "")->lockNumber, 2);
}

TEST(ObjectModelTest, TableSettingsAreCorrectedWhenSet) {
  struct Case {
    void (TZNTBaseTable::*set)(int64_t);
    int32_t (TZNTBaseTable::*get)() const;
    int64_t given;
    int32_t stored;
  } cases[] = {
      {&TZNTBaseTable::SetIndexPageSize, &TZNTBaseTable::IndexPageSize, 4096, 4096},
      {&TZNTBaseTable::SetIndexPageSize, &TZNTBaseTable::IndexPageSize, 1001, 1008},
      {&TZNTBaseTable::SetIndexPageSize, &TZNTBaseTable::IndexPageSize, 0, 8},
      {&TZNTBaseTable::SetBlobBlockSize, &TZNTBaseTable::BlobBlockSize, 513, 520},
      {&TZNTBaseTable::SetPublishBlockSize, &TZNTBaseTable::PublishBlockSize, 9, 16},
      {&TZNTBaseTable::SetMaxRowBufferSize, &TZNTBaseTable::MaxRowBufferSize, 4095, 4096},
      {&TZNTBaseTable::SetMaxRowBufferSize, &TZNTBaseTable::MaxRowBufferSize, 4097, 4097},
      {&TZNTBaseTable::SetMaxIndexBufferSize, &TZNTBaseTable::MaxIndexBufferSize, 8191, 8192},
      {&TZNTBaseTable::SetMaxBlobBufferSize, &TZNTBaseTable::MaxBlobBufferSize, -5, 4096},
      {&TZNTBaseTable::SetMaxPublishBufferSize, &TZNTBaseTable::MaxPublishBufferSize, 100, 100},
  };
  for (const Case& c : cases) {
    TZNTBaseTable t;
    (t.*c.set)(c.given);
    EXPECT_EQ((t.*c.get)(), c.stored) << c.given;
  }
  TZNTBaseTable t;
  EXPECT_EQ(t.IndexPageSize(), 4096);
  EXPECT_EQ(t.BlobBlockSize(), 512);
  EXPECT_EQ(t.PublishBlockSize(), 512);
  EXPECT_EQ(t.MaxRowBufferSize(), 32768);
  EXPECT_EQ(t.MaxIndexBufferSize(), 65536);
  EXPECT_EQ(t.MaxBlobBufferSize(), 32768);
  EXPECT_EQ(t.MaxPublishBufferSize(), 32768);
}

TEST(ObjectModelTest, RowSizeCountsSlotsButNotComputedColumns) {
  TZNTBaseTable t;
  t.AddRowIdColumn(2);
  auto add = [&](const char* name, TZNTDataType type, bool computed = false) {
    auto c = std::make_unique<TZNTColumn>();
    c->SetName(name);
    c->SetID(t.columns.Count() + 10);
    c->SetType(type);
    c->computed = computed;
    t.columns.Add(std::move(c));
    return TZNTBaseTable::RowSizeFor(t);
  };
  EXPECT_EQ(TZNTBaseTable::RowSizeFor(t), 24);                // 17 + 5
  EXPECT_EQ(add("Code", TZNTDataType::VarChar(20)), 48);      // + 23 = 45
  EXPECT_EQ(add("Sum", TZNTDataType::Decimal(2), true), 48);  // computed: no slot
  EXPECT_EQ(add("Memo", TZNTDataType::Clob()), 56);           // + 9 = 54
  EXPECT_EQ(add("Flag", TZNTDataType::Of(TZNTTypeCode::Boolean)), 56);
}

TEST(ObjectModelTest, InformationSchemaHoldsTheSystemTables) {
  TZNTCatalog catalog;
  const TZNTSchema& info = catalog.InformationSchema();
  const TZNTBaseTable* columns = info.baseTables.Find("TableColumns");
  ASSERT_NE(columns, nullptr);
  EXPECT_TRUE(columns->System() && columns->ReadOnly());
  EXPECT_EQ(columns->Column(0).name, "__RowID");
  EXPECT_TRUE(columns->Column(0).hidden);
  EXPECT_EQ(columns->Column(4).type, TZNTDataType::VarChar(30));  // Type
  EXPECT_EQ(columns->Column(3).type, TZNTDataType::Clob());       // Description
  EXPECT_EQ(columns->MaxRowBufferSize(), 4096);
  EXPECT_EQ(columns->BlobBlockSize(), 64);
  EXPECT_NE(columns->indexes.Find("TableName"), nullptr);
  const TZNTBaseTable* tables = info.baseTables.Find("Tables");
  EXPECT_EQ(tables->Column(tables->FindColumn("Version")).type, TZNTDataType::Decimal(2));
  EXPECT_EQ(info.baseTables.Count(), 20);
}

}  // namespace
}  // namespace znt
