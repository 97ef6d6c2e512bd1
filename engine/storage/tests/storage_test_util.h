// Helpers shared by the storage tests: a fresh folder per test, the text of
// a file-manager error, and running a check in a child process.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "base/znterror.h"

namespace znt::testing {

// Gives each test an empty folder of its own and removes it afterwards.
class TempFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (std::filesystem::temp_directory_path() / "zntstorage-XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    folder_ = templ;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  std::string PathOf(const std::string& name) const { return folder_ + "/" + name; }

  std::string folder_;
};

// The detail text of the error 600 that `action` raises, or a failure when it
// raises nothing or another error.
template <class F>
std::string FileErrorOf(F&& action) {
  try {
    action();
  } catch (const EZNTException& e) {
    EXPECT_EQ(e.ErrorCode(), 600) << e.what();
    const std::string prefix = "File manager error (";
    const std::string& text = e.ErrorMessage();
    if (text.rfind(prefix, 0) == 0 && text.back() == ')') {
      return text.substr(prefix.size(), text.size() - prefix.size() - 1);
    }
    ADD_FAILURE() << "unexpected message: " << text;
    return text;
  }
  ADD_FAILURE() << "no error was raised";
  return {};
}

// Starts `body` in a forked child, which exits with what `body` returned, or
// 99 when it raised. Returns the child's id, or -1 when fork failed.
inline pid_t StartChild(const std::function<int()>& body) {
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    int code = 99;
    try {
      code = body();
    } catch (...) {
    }
    ::_exit(code);
  }
  return pid;
}

// The exit code of a started child; -1 when it did not exit normally.
inline int WaitChild(pid_t pid) {
  if (pid < 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs `body` in a child process and returns its exit code.
inline int RunInChild(const std::function<int()>& body) { return WaitChild(StartChild(body)); }

}  // namespace znt::testing
