#include "rtl/apppaths.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace fyn {
namespace {

TEST(AppHome, DefaultsToTheExecutableFolderAndCanBeMoved) {
  unsetenv("FYN_HOME");
  std::string exe = ExecutableFolder();
  ASSERT_EQ(exe.back(), '/');
  // The test binary lives in the build tree, beside its own name.
  const char* self = std::getenv("FYN_TEST_BINARY");
  if (self != nullptr) {
    EXPECT_EQ(std::string(self).rfind(exe, 0), 0u) << self;
  }
  EXPECT_EQ(AppHome(), exe);

  setenv("FYN_HOME", "/srv/fyn", 1);
  EXPECT_EQ(AppHome(), "/srv/fyn/");
  SetAppHome("/tmp/fyn-test");
  EXPECT_EQ(AppHome(), "/tmp/fyn-test/");  // an explicit override wins
  SetAppHome("");
  EXPECT_EQ(AppHome(), "/srv/fyn/");
  unsetenv("FYN_HOME");
  EXPECT_EQ(AppHome(), exe);
}

}  // namespace
}  // namespace fyn
