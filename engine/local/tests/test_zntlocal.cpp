#include <gtest/gtest.h>

#include <limits>

#include "base/zntconsts.h"
#include "base/znterror.h"
#include "local/zntlocal.h"
#include "local/zntsessionmgr.h"

namespace znt {
namespace {

TEST(EngineSettings, NormaliseAddsDotsAndRaisesLogSize) {
  TZNTEngineSettings s;
  s.table_extension = "ZNTTbl";
  s.lock_extension = ".Keep";
  s.max_log_file_size = 1000;
  s.Normalise();
  EXPECT_EQ(s.table_extension, ".ZNTTbl");
  EXPECT_EQ(s.lock_extension, ".Keep");
  EXPECT_EQ(s.max_log_file_size, 262144);
  EXPECT_EQ(NormalisedExtension(""), "");
}

TEST(EngineSettings, SameAsComparesNamesWithoutCaseButSecretsExactly) {
  TZNTEngineSettings a, b;
  b.config_name = "zntconfig";
  b.config_path = a.config_path;
  EXPECT_TRUE(a.SameAs(b));
  b.signature = "RBZ_AEWWRECDK";
  EXPECT_FALSE(a.SameAs(b));
  b = a;
  b.encryption_password = "Mirthwandle";
  EXPECT_FALSE(a.SameAs(b));
}

TEST(EngineManagerSettings, DefaultsAndDigests) {
  TZNTEngineManagerSettings s;
  EXPECT_EQ(s.Signature(), "rbz_aewwrecdk");
  EXPECT_EQ(s.EncryptionPassword(), "mirthwandle");
  EXPECT_EQ(s.ConfigName(), "ZNTConfig");
  EXPECT_EQ(s.ConfigExtension(), ".ZNTCfg");
  EXPECT_EQ(s.LockExtension(), ".ZNTLck");
  EXPECT_EQ(s.LogExtension(), ".ZNTLog");
  EXPECT_EQ(s.MaxLogFileSize(), 1048576);
  EXPECT_EQ(s.LogCategories(), 7u);
  EXPECT_EQ(s.OldExtension(), ".Old");
  EXPECT_FALSE(s.InMemoryConfig());
  EXPECT_EQ(s.SignatureDigest(), TZNTDigest::Compute("rbz_aewwrecdk"));
  EXPECT_EQ(s.PasswordDigest(), TZNTDigest::Compute("mirthwandle"));

  s.SetSignature("other");
  s.SetEncryptionPassword("secret");
  EXPECT_EQ(s.SignatureDigest(), TZNTDigest::Compute("other"));
  EXPECT_EQ(s.DefaultSignatureDigest(), TZNTDigest::Compute("rbz_aewwrecdk"));
  TZNTMetadataSettings m = s.Metadata();
  EXPECT_EQ(m.passwordDigest, TZNTDigest::Compute("secret"));
  EXPECT_EQ(m.defaultSignatureDigest, TZNTDigest::Compute("rbz_aewwrecdk"));

  s.SetMaxLogFileSize(1000);
  EXPECT_EQ(s.MaxLogFileSize(), 262144);
  s.SetTableExtension("ZNTTbl");
  EXPECT_EQ(s.TableExtension(), ".ZNTTbl");
}

TEST(EngineManager, ChangingASettingWhileStartedRaises408) {
  TZNTEngineManager engine;
  engine.Start();
  ASSERT_TRUE(engine.Started());
  // Unchanged values, names in another case included, are accepted.
  engine.Settings().SetConfigName("znTConfig");
  engine.Settings().SetMaxLogFileSize(1048576);
  engine.Settings().SetTableExtension("ZNTTbl");
  try {
    engine.Settings().SetConfigPath("/elsewhere");
    FAIL() << "no error";
  } catch (const EZNTException& e) {
    EXPECT_EQ(e.ErrorCode(), 408);
    EXPECT_EQ(e.ErrorMessage(),
              "The Zentaro engine cannot be open when performing this operation (MODIFY ENGINE)");
  }
  EXPECT_THROW(engine.Settings().SetSignature("x"), EZNTException);
  EXPECT_THROW(engine.Settings().SetLargeFileSupport(true), EZNTException);
  // A snapshot is the session's own and always changeable.
  TZNTEngineManagerSettings copy = engine.Settings().Snapshot();
  copy.SetConfigPath("/elsewhere");
  EXPECT_EQ(copy.ConfigPath(), "/elsewhere");
  engine.Stop();
  engine.Settings().SetConfigPath("/elsewhere");
  EXPECT_EQ(engine.Settings().ConfigPath(), "/elsewhere");
}

TEST(EngineManager, DiskFileManagersFollowTheLargeFileSetting) {
  TZNTEngineManager engine;
  EXPECT_EQ(engine.DiskFileManager(false).MaxFileSize(), 4'000'000'000ULL);
  EXPECT_EQ(engine.DiskFileManager(true).MaxFileSize(), 128'000'000'000ULL);
  EXPECT_EQ(&engine.DiskFileManager(false), &engine.DiskFileManager(false));
  EXPECT_NE(&engine.MemoryFileManager(), &engine.ConfigDatabaseFileManager());
}

TEST(EngineManager, SessionIDsCountOnWrapAndSkipIDsInUse) {
  TZNTEngineManager engine;
  auto a = std::make_unique<TZNTLocalSessionManager>(engine);
  auto b = std::make_unique<TZNTLocalSessionManager>(engine);
  EXPECT_EQ(a->SessionID(), 1);
  EXPECT_EQ(b->SessionID(), 2);
  a.reset();
  EXPECT_EQ(engine.SessionCount(), 1u);
  // Past the largest integer the count starts over at 1, and 2 is held.
  engine.SetLastSessionID(std::numeric_limits<int32_t>::max() - 1);
  auto c = std::make_unique<TZNTLocalSessionManager>(engine);
  EXPECT_EQ(c->SessionID(), std::numeric_limits<int32_t>::max());
  auto d = std::make_unique<TZNTLocalSessionManager>(engine);
  EXPECT_EQ(d->SessionID(), 1);
  auto e = std::make_unique<TZNTLocalSessionManager>(engine);
  EXPECT_EQ(e->SessionID(), 3);
}

class FailingStartManager : public TZNTEngineManager {
 public:
  int stops = 0;

 protected:
  void DoStart() override { throw EZNTException(err::CannotStart, "no"); }
  void DoStop() override { ++stops; }
};

TEST(EngineManager, AFailedStartRunsTheStopHookAndStaysStopped) {
  FailingStartManager engine;
  EXPECT_THROW(engine.Start(), EZNTException);
  EXPECT_FALSE(engine.Started());
  EXPECT_EQ(engine.stops, 1);
}

TEST(EngineInstance, AutoSessionNumbersReuseTheLowestFree) {
  TZNTEngineInstance instance;
  EXPECT_EQ(instance.AcquireAutoSessionNumber(), 1);
  EXPECT_EQ(instance.AcquireAutoSessionNumber(), 2);
  EXPECT_EQ(instance.AcquireAutoSessionNumber(), 3);
  instance.ReleaseAutoSessionNumber(2);
  EXPECT_EQ(instance.AcquireAutoSessionNumber(), 2);
  EXPECT_EQ(instance.AcquireAutoSessionNumber(), 4);
  EXPECT_FALSE(instance.Manager().Started());
}

}  // namespace
}  // namespace znt
