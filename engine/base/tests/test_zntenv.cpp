#include "base/zntenv.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "base/zntdatetime.h"

namespace znt {
namespace {

TEST(Environment, Facts) {
  std::string tmp = TZNTEnvironment::TempPath();
  ASSERT_FALSE(tmp.empty());
  EXPECT_EQ(tmp.back(), '/');
  EXPECT_LE(TZNTEnvironment::ComputerName().size(), 15u);
  EXPECT_FALSE(TZNTEnvironment::ComputerName().empty());
  EXPECT_NE(TZNTEnvironment::ProcessID(), 0u);
  EXPECT_NE(TZNTEnvironment::ThreadID(), 0u);
  EXPECT_EQ(TZNTEnvironment::ProcessIdentity(),
            TZNTEnvironment::ComputerName() + ":" + std::to_string(TZNTEnvironment::ProcessID()));
  EXPECT_EQ(TZNTEnvironment::TickDifference(0xFFFFFFF0u, 0x10u), 0x20u);  // across the wrap
}

TEST(Environment, TempPathFollowsTmpdir) {
  const char* old = std::getenv("TMPDIR");
  std::string saved = old ? old : "";
  setenv("TMPDIR", "/var/tmp", 1);
  EXPECT_EQ(TZNTEnvironment::TempPath(), "/var/tmp/");
  if (old) setenv("TMPDIR", saved.c_str(), 1); else unsetenv("TMPDIR");
}

TEST(Clock, RealClockIsPlausibleAndATestCanFixIt) {
  int32_t today = TZNTClock::Today();
  int32_t y2020 = 0;
  ASSERT_TRUE(TryEncodeDate(2020, 1, 1, y2020));
  EXPECT_GT(today, y2020);
  EXPECT_EQ(TimestampDate(TZNTClock::Now()) - today <= 1, true);

  int32_t day = 0, t = 0;
  ASSERT_TRUE(TryEncodeDate(2009, 2, 28, day));
  ASSERT_TRUE(TryEncodeTime(23, 59, 0, 0, t));
  {
    TZNTFixedClock fixed(EncodeTimestamp(day, t));
    EXPECT_EQ(TZNTClock::Today(), day);
    EXPECT_EQ(TZNTClock::Now(), EncodeTimestamp(day, t));
    EXPECT_EQ(TZNTClock::NowUTC(), EncodeTimestamp(day, t));
  }
  EXPECT_EQ(TZNTClock::Today(), today);
}

}  // namespace
}  // namespace znt
