// The fault-injecting manager fails what it is told to and nothing else.
#include <gtest/gtest.h>

#include <string>

#include "storage/tests/storage_test_util.h"
#include "storage/zntfaultfilemgr.h"
#include "storage/zntmemfilemgr.h"

namespace znt {
namespace {

using testing::FileErrorOf;

class FaultFileManagerTest : public ::testing::Test {
 protected:
  std::string Contents() { return static_cast<TZNTMemoryFile&>(stream_.File()).Contents(); }

  TZNTMemoryFileManager memory_;
  TZNTFaultFileManager faults_{memory_};
  TZNTFileStream stream_ = faults_.CreateFile("/f", false, false);
  const std::string io_error_ = "Cannot write file /f (OS Error: Input/output error)";
};

TEST_F(FaultFileManagerTest, StreamsRouteThroughTheWrapper) {
  EXPECT_EQ(&stream_.Manager(), &faults_);
  stream_.Write("ab", 2);
  stream_.Flush();
  stream_.SetSize(2);
  EXPECT_EQ(faults_.Count(TZNTFaultOp::Write), 1u);
  EXPECT_EQ(faults_.Count(TZNTFaultOp::Flush), 1u);
  EXPECT_EQ(faults_.Count(TZNTFaultOp::SetSize), 1u);
  EXPECT_EQ(faults_.MaxFileSize(), memory_.MaxFileSize());
  stream_.Close();
  EXPECT_TRUE(memory_.FileExists("/f"));
  TZNTFileStream again = faults_.OpenFile("/f", true, false);
  EXPECT_EQ(memory_.FileCount(), 1u);
}

TEST_F(FaultFileManagerTest, NthWriteFailsOnceWithoutReachingTheFile) {
  stream_.WriteAt(0, "1", 1);
  faults_.FailNth(TZNTFaultOp::Write, 2);
  stream_.WriteAt(1, "2", 1);
  EXPECT_EQ(FileErrorOf([&] { stream_.WriteAt(2, "3", 1); }), io_error_);
  stream_.WriteAt(3, "4", 1);
  EXPECT_EQ(Contents(), std::string("12\0"
                                    "4",
                                    4));
  EXPECT_EQ(faults_.FaultsRaised(), 1u);
}

TEST_F(FaultFileManagerTest, StickyFaultFailsEverythingAfterUntilCleared) {
  faults_.FailNth(TZNTFaultOp::Flush, 1, true);
  stream_.WriteAt(0, "a", 1);
  EXPECT_EQ(FileErrorOf([&] { stream_.Flush(); }),
            "Cannot flush file /f (OS Error: Input/output error)");
  EXPECT_EQ(FileErrorOf([&] { stream_.WriteAt(1, "b", 1); }), io_error_);
  EXPECT_EQ(FileErrorOf([&] { stream_.SetSize(0); }),
            "Cannot set the size of file /f (OS Error: Input/output error)");
  EXPECT_EQ(Contents(), "a");
  char c;
  EXPECT_EQ(stream_.ReadAt(0, &c, 1), 1u);  // reads still work
  faults_.ClearFaults();
  stream_.WriteAt(1, "b", 1);
  EXPECT_EQ(Contents(), "ab");
  EXPECT_EQ(faults_.FaultsRaised(), 3u);
}

TEST_F(FaultFileManagerTest, FullDiskTearsTheWriteThatPassesTheBudget) {
  faults_.SetWriteBudget(5);
  stream_.WriteAt(0, "abc", 3);
  EXPECT_EQ(FileErrorOf([&] { stream_.WriteAt(3, "defg", 4); }),
            "Cannot write file /f (OS Error: No space left on device)");
  EXPECT_EQ(Contents(), "abcde");
  EXPECT_EQ(FileErrorOf([&] { stream_.WriteAt(0, "z", 1); }),
            "Cannot write file /f (OS Error: No space left on device)");
  stream_.WriteAt(0, "", 0);  // an empty write needs no space
  faults_.SetWriteBudget(1);
  stream_.WriteAt(0, "z", 1);
  EXPECT_EQ(Contents(), "zbcde");
}

}  // namespace
}  // namespace znt
