// Operating-system files: what the disk and other processes see.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <string>
#include <vector>

#include "storage/tests/storage_test_util.h"
#include "storage/zntosfilemgr.h"

namespace znt {
namespace {

using testing::FileErrorOf;
using testing::RunInChild;

class OSFileManagerTest : public testing::TempFolderTest {
 protected:
  std::string WriteDiskFile(const std::string& name, const std::string& bytes) {
    std::string path = PathOf(name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  TZNTEngineLargeOSFileManager manager_;
};

TEST_F(OSFileManagerTest, VariantsHaveTheirLargestSizes) {
  EXPECT_EQ(TZNTEngineOSFileManager().MaxFileSize(), 4'000'000'000u);
  EXPECT_EQ(TZNTEngineLargeOSFileManager().MaxFileSize(), 128'000'000'000u);
}

TEST_F(OSFileManagerTest, OnePathOneDescriptorUntilTheLastClose) {
  std::string path = WriteDiskFile("f", "abc");
  TZNTFileStream a = manager_.OpenFile(path, false, false);
  TZNTFileStream b = manager_.OpenFile(path, false, false);
  EXPECT_EQ(manager_.OpenFileCount(), 1u);
  int fd = static_cast<TZNTOSFile&>(a.File()).Descriptor();
  a.Close();
  EXPECT_EQ(static_cast<TZNTOSFile&>(b.File()).Descriptor(), fd);
  b.Close();
  EXPECT_EQ(manager_.OpenFileCount(), 0u);
  EXPECT_EQ(::fcntl(fd, F_GETFD), -1);  // the descriptor is closed
  manager_.CheckInvariants();
}

TEST_F(OSFileManagerTest, WritesReachTheDiskFileAt64BitOffsets) {
  std::string path = PathOf("large.bin");
  const uint64_t far = 5'000'000'000ULL;  // beyond 32 bits, and beyond the standard limit
  {
    TZNTFileStream s = manager_.CreateFile(path, false, false);
    s.WriteAt(0, "head", 4);
    s.WriteAt(far, "tail", 4);  // sparse on disk
    s.Flush();
    EXPECT_EQ(s.Size(), far + 4);
  }
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(static_cast<uint64_t>(st.st_size), far + 4);
  TZNTFileStream s = manager_.OpenFile(path, false, true);
  char buf[4];
  ASSERT_EQ(s.ReadAt(far, buf, 4), 4u);
  EXPECT_EQ(std::string(buf, 4), "tail");

  TZNTEngineOSFileManager standard;
  TZNTFileStream t = standard.CreateFile(PathOf("std.bin"), false, false);
  EXPECT_EQ(FileErrorOf([&] { t.WriteAt(far, "x", 1); }),
            "Cannot write file " + PathOf("std.bin") + " (OS Error: File too large)");
}

TEST_F(OSFileManagerTest, MissingFilesAndFoldersReportTheSystemError) {
  std::string missing = PathOf("missing");
  std::string enoent = " (OS Error: No such file or directory)";
  EXPECT_EQ(FileErrorOf([&] { manager_.OpenFile(missing, false, false); }),
            "Cannot open file " + missing + enoent);
  std::string in_missing = PathOf("no/such/folder/f");
  EXPECT_EQ(FileErrorOf([&] { manager_.CreateFile(in_missing, false, false); }),
            "Cannot create file " + in_missing + enoent);
  EXPECT_EQ(FileErrorOf([&] { manager_.DeleteFile(missing); }),
            "Cannot delete the file " + missing + enoent);
  EXPECT_EQ(FileErrorOf([&] { manager_.RenameFile(missing, PathOf("b")); }),
            "Cannot rename the file " + missing + " to " + PathOf("b") + enoent);
  EXPECT_EQ(FileErrorOf([&] { manager_.FileTime(missing); }),
            "Cannot open file " + missing + enoent);
  EXPECT_EQ(FileErrorOf([&] { manager_.OpenFile(folder_, false, false); }),
            "Cannot open file " + folder_ + " (OS Error: Is a directory)");
  EXPECT_FALSE(manager_.FileExists(missing));
  EXPECT_FALSE(manager_.FileExists(folder_));
  EXPECT_EQ(manager_.OpenFileCount(), 0u);
}

TEST_F(OSFileManagerTest, FileMarkedReadOnlyOpensForReadingOnly) {
  std::string path = WriteDiskFile("ro.ZNTTbl", "data");
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  TZNTFileStream s = manager_.OpenFile(path, false, false);
  EXPECT_TRUE(s.File().IsReadOnly());
  EXPECT_TRUE(s.IsReadOnly());
  char buf[4];
  EXPECT_EQ(s.ReadAt(0, buf, 4), 4u);
  EXPECT_EQ(FileErrorOf([&] { s.WriteAt(0, "x", 1); }), "Access denied to the file " + path);
  // Locks still work on a file that can only be read.
  EXPECT_TRUE(s.TryLock(0, 1));
  EXPECT_FALSE(s.TryLock(0, 1));
  // Creating over it needs write access.
  s.Close();
  EXPECT_EQ(FileErrorOf([&] { manager_.CreateFile(path, false, false); }),
            "Cannot create file " + path + " (OS Error: Permission denied)");
  TZNTFileStream again = manager_.OpenFile(path, false, true);
  EXPECT_EQ(again.Size(), 4u);
}

TEST_F(OSFileManagerTest, FileTheSystemWillNotWriteFallsBackToReadOnly) {
  // A running program cannot be opened for writing, whoever asks, so the
  // test binary itself stands in for a file that refuses write access.
  char exe[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  std::string path(exe, static_cast<size_t>(n));
  int probe = ::open(path.c_str(), O_RDWR);
  if (probe >= 0) {
    ::close(probe);
    GTEST_SKIP() << "this system lets a running program be opened for writing";
  }
  TZNTFileStream s = manager_.OpenFile(path, false, false);
  EXPECT_TRUE(s.IsReadOnly());
  char magic[4];
  ASSERT_EQ(s.ReadAt(0, magic, 4), 4u);
  EXPECT_EQ(std::string(magic, 4),
            "\x7f"
            "ELF");
}

TEST_F(OSFileManagerTest, TemporaryFileIsRemovedFromDisk) {
  std::string path = PathOf("t.tmp");
  TZNTFileStream s = manager_.CreateFile(path, true, true);
  s.Write("abc", 3);
  EXPECT_EQ(::access(path.c_str(), F_OK), 0);
  s.Close();
  EXPECT_NE(::access(path.c_str(), F_OK), 0);
}

TEST_F(OSFileManagerTest, MakeFolderCreatesParentsAndRefusesAFileInTheWay) {
  std::string deep = PathOf("a/b//c/d/");
  manager_.MakeFolder(deep);
  EXPECT_TRUE(manager_.FolderExists(PathOf("a/b/c/d")));
  std::string file = WriteDiskFile("plain", "x");
  EXPECT_EQ(FileErrorOf([&] { manager_.MakeFolder(file + "/sub"); }),
            "Cannot create folder " + file + "/sub (OS Error: Not a directory)");
  EXPECT_EQ(FileErrorOf([&] { manager_.MakeFolder(file); }),
            "Cannot create folder " + file + " (OS Error: Not a directory)");
}

TEST_F(OSFileManagerTest, FileTimeFollowsTheModificationTime) {
  std::string path = WriteDiskFile("timed", "x");
  struct timespec times[2] = {{1'700'000'000, 250'000'000}, {1'700'000'000, 250'000'000}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  EXPECT_EQ(manager_.FileTime(path), 1'700'000'000'250);
}

// Cross-process behaviour: the child builds its own manager, so it opens
// its own description as a second process would.

enum ChildResult { kGranted = 10, kRefused = 11, kDenied = 12 };

int ChildTryLock(const std::string& path, uint64_t offset, uint64_t length) {
  TZNTEngineLargeOSFileManager manager;
  TZNTFileStream s = manager.OpenFile(path, false, false);
  return s.TryLock(offset, length) ? kGranted : kRefused;
}

int ChildOpen(const std::string& path, bool exclusive) {
  TZNTEngineLargeOSFileManager manager;
  try {
    TZNTFileStream s = manager.OpenFile(path, exclusive, false);
  } catch (const EZNTException& e) {
    return e.ErrorMessage() == "File manager error (Access denied to the file " + path + ")"
               ? kDenied
               : 1;
  }
  return kGranted;
}

TEST_F(OSFileManagerTest, LockTakenHereMakesTheSameRequestFailInAnotherProcess) {
  std::string path = WriteDiskFile("ZNTDatabase.ZNTLck", "");
  TZNTFileStream s = manager_.OpenFile(path, false, false);
  const uint64_t table_range = 8193 + 4096 * 3;
  ASSERT_TRUE(s.TryLock(table_range, 4096));

  EXPECT_EQ(RunInChild([&] { return ChildTryLock(path, table_range, 4096); }), kRefused);
  EXPECT_EQ(RunInChild([&] { return ChildTryLock(path, table_range + 4095, 1); }), kRefused);
  EXPECT_EQ(RunInChild([&] { return ChildTryLock(path, table_range + 4096, 1); }), kGranted);
  // Row-lock bytes far beyond the data are locked the same way.
  ASSERT_TRUE(s.TryLock(kZNTLargeMaxFileSize + 42, 1));
  EXPECT_EQ(RunInChild([&] { return ChildTryLock(path, kZNTLargeMaxFileSize + 42, 1); }), kRefused);

  ASSERT_TRUE(s.Unlock(table_range, 4096));
  EXPECT_EQ(RunInChild([&] { return ChildTryLock(path, table_range, 4096); }), kGranted);
  s.Close();  // closing releases the row lock too
  EXPECT_EQ(RunInChild([&] { return ChildTryLock(path, kZNTLargeMaxFileSize + 42, 1); }), kGranted);
}

TEST_F(OSFileManagerTest, LockHeldByAnotherProcessRefusesOursUntilReleased) {
  std::string path = WriteDiskFile("ZNTConfig.ZNTLck", "");
  int to_child[2], to_parent[2];
  ASSERT_EQ(::pipe(to_child), 0);
  ASSERT_EQ(::pipe(to_parent), 0);
  pid_t child = testing::StartChild([&] {
    // Only the parent keeps the write end, so the child cannot hang on a
    // parent that failed early: its read then sees end of file.
    ::close(to_child[1]);
    ::close(to_parent[0]);
    TZNTEngineLargeOSFileManager manager;
    TZNTFileStream s = manager.OpenFile(path, false, false);
    char ok = s.TryLock(0, 1) ? 'y' : 'n';
    if (::write(to_parent[1], &ok, 1) != 1) return 1;
    char go;
    if (::read(to_child[0], &go, 1) != 1) return 2;  // hold the lock until told
    return static_cast<int>(kGranted);
  });
  ASSERT_GT(child, 0);
  char ok = 0;
  ASSERT_EQ(::read(to_parent[0], &ok, 1), 1);
  EXPECT_EQ(ok, 'y');
  TZNTFileStream s = manager_.OpenFile(path, false, false);
  EXPECT_FALSE(s.TryLock(0, 1));
  EXPECT_FALSE(s.TryLock(0, 4096));
  EXPECT_TRUE(s.TryLock(1, 1));  // the next slot byte is free
  EXPECT_TRUE(s.File().LockedRanges() == (std::vector<TZNTLockRange>{{1, 1}}));
  ASSERT_EQ(::write(to_child[1], "g", 1), 1);
  EXPECT_EQ(testing::WaitChild(child), kGranted);
  EXPECT_TRUE(s.TryLock(0, 1));  // released when the child's description closed
  for (int fd : {to_child[0], to_child[1], to_parent[0], to_parent[1]}) ::close(fd);
}

TEST_F(OSFileManagerTest, ExclusiveOpenHoldsAgainstOtherProcesses) {
  std::string path = WriteDiskFile("Ledger.ZNTTbl", "rows");
  {
    TZNTFileStream shared = manager_.OpenFile(path, false, false);
    EXPECT_EQ(RunInChild([&] { return ChildOpen(path, true); }), kDenied);
    EXPECT_EQ(RunInChild([&] { return ChildOpen(path, false); }), kGranted);
  }
  {
    TZNTFileStream exclusive = manager_.OpenFile(path, true, false);
    EXPECT_EQ(RunInChild([&] { return ChildOpen(path, false); }), kDenied);
  }
  EXPECT_EQ(RunInChild([&] { return ChildOpen(path, true); }), kGranted);
  // Creating over a file another process uses exclusively leaves it alone.
  TZNTFileStream exclusive = manager_.OpenFile(path, true, false);
  EXPECT_EQ(RunInChild([&] {
              TZNTEngineLargeOSFileManager manager;
              try {
                manager.CreateFile(path, false, false);
              } catch (const EZNTException&) {
                return kDenied;
              }
              return kGranted;
            }),
            kDenied);
  EXPECT_EQ(exclusive.Size(), 4u);
}

}  // namespace
}  // namespace znt
