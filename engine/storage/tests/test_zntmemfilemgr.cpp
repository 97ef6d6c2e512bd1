// Files in memory: what differs from files on disk.
#include <gtest/gtest.h>

#include <string>

#include "storage/tests/storage_test_util.h"
#include "storage/zntmemfilemgr.h"

namespace znt {
namespace {

using testing::FileErrorOf;

TEST(MemoryFileManagerTest, MissingFilesAreNotFound) {
  TZNTMemoryFileManager manager;
  const std::string missing = "/mem/Ledger.ZNTTbl";
  const std::string not_found = "File " + missing + " not found";
  EXPECT_EQ(FileErrorOf([&] { manager.OpenFile(missing, false, false); }), not_found);
  EXPECT_EQ(FileErrorOf([&] { manager.DeleteFile(missing); }), not_found);
  EXPECT_EQ(FileErrorOf([&] { manager.RenameFile(missing, "/mem/x"); }), not_found);
  EXPECT_EQ(FileErrorOf([&] { manager.FileTime(missing); }), not_found);
  EXPECT_FALSE(manager.FileExists(missing));
  EXPECT_EQ(manager.FileCount(), 0u);
}

TEST(MemoryFileManagerTest, ClosedFilesKeepTheirBytesUntilDeleted) {
  TZNTMemoryFileManager manager;
  const std::string path = "/mem/t";
  {
    TZNTFileStream s = manager.CreateFile(path, true, false);
    s.Write("abc", 3);
  }
  EXPECT_EQ(manager.FileCount(), 1u);
  {
    // Exclusive last time does not make the closed file exclusive now.
    TZNTFileStream a = manager.OpenFile(path, false, false);
    TZNTFileStream b = manager.OpenFile(path, false, false);
    EXPECT_EQ(static_cast<TZNTMemoryFile&>(a.File()).Contents(), "abc");
    manager.CheckInvariants();
  }
  manager.RenameFile(path, "/mem/u");
  TZNTFileStream s = manager.OpenFile("/mem/u", false, false);
  EXPECT_EQ(s.Size(), 3u);
  s.Close();
  manager.DeleteFile("/mem/u");
  EXPECT_EQ(manager.FileCount(), 0u);
}

TEST(MemoryFileManagerTest, FilesNeedNoFolderAndListOnlyTheirOwnFolder) {
  TZNTMemoryFileManager manager;
  manager.CreateFile("/a/x.ZNTTbl", false, false);
  manager.CreateFile("/a/b/y.ZNTTbl", false, false);
  manager.CreateFile("top.ZNTTbl", false, false);
  EXPECT_FALSE(manager.FolderExists("/a"));
  EXPECT_EQ(manager.ListFiles("/a", "*.ZNTTbl"), (std::vector<std::string>{"x.ZNTTbl"}));
  EXPECT_EQ(manager.ListFiles("/a/b/", "*"), (std::vector<std::string>{"y.ZNTTbl"}));
  EXPECT_EQ(manager.ListFiles("", "*"), (std::vector<std::string>{"top.ZNTTbl"}));
}

}  // namespace
}  // namespace znt
