// The behaviour every file manager shares, run against the operating-system
// manager and the in-memory manager alike.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "storage/tests/storage_test_util.h"
#include "storage/zntfilemgr.h"
#include "storage/zntmemfilemgr.h"
#include "storage/zntosfilemgr.h"

namespace znt {
namespace {

using testing::FileErrorOf;

TEST(ZNTMatchesPatternTest, Table) {
  struct Case {
    const char* name;
    const char* pattern;
    bool matches;
  };
  const Case cases[] = {
      {"Accounts.ZNTTbl", "*.ZNTTbl", true},
      {"Accounts.ZNTIdx", "*.ZNTTbl", false},
      {".ZNTTbl", "*.ZNTTbl", true},
      {"Accounts.ZNTTbl.bak", "*.ZNTTbl", false},
      {"Accounts.zntTbl", "*.ZNTTbl", false},  // names compare case-sensitively
      {"a.b.c", "*.c", true},
      {"abc", "a?c", true},
      {"ac", "a?c", false},
      {"abbbc", "a*b*c", true},
      {"abcbd", "a*b?", true},
      {"abcbde", "a*b?", false},
      {"anything", "*", true},
      {"", "*", true},
      {"", "?", false},
      {"", "", true},
      {"x", "", false},
      {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*a*c", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ZNTMatchesPattern(c.name, c.pattern), c.matches)
        << "name '" << c.name << "' pattern '" << c.pattern << "'";
  }
}

enum class Kind { OS, Memory };

class FileManagerContractTest : public testing::TempFolderTest,
                                public ::testing::WithParamInterface<Kind> {
 protected:
  void SetUp() override {
    TempFolderTest::SetUp();
    if (GetParam() == Kind::OS) {
      manager_ = std::make_unique<TZNTEngineLargeOSFileManager>();
    } else {
      manager_ = std::make_unique<TZNTMemoryFileManager>();
    }
  }
  void TearDown() override {
    manager_.reset();
    TempFolderTest::TearDown();
  }

  // A closed file of `size` bytes 0, 1, 2, ... (mod 256) at PathOf(name).
  std::string MakeFile(const std::string& name, size_t size = 0) {
    std::string path = PathOf(name);
    TZNTFileStream s = manager_->CreateFile(path, false, false);
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i);
    if (size > 0) s.Write(bytes.data(), bytes.size());
    return path;
  }

  std::unique_ptr<TZNTFileManager> manager_;
};

INSTANTIATE_TEST_SUITE_P(AllManagers, FileManagerContractTest,
                         ::testing::Values(Kind::OS, Kind::Memory),
                         [](const auto& info) { return info.param == Kind::OS ? "OS" : "Memory"; });

TEST_P(FileManagerContractTest, WritesAndReadsAtPositionsAndStopsShortAtEnd) {
  std::string path = PathOf("data.bin");
  TZNTFileStream s = manager_->CreateFile(path, false, false);
  EXPECT_EQ(s.Size(), 0u);
  s.Write("hello", 5);
  EXPECT_EQ(s.Position(), 5u);
  s.WriteAt(10, "world", 5);  // leaves a gap of zero bytes
  EXPECT_EQ(s.Position(), 5u);
  EXPECT_EQ(s.Size(), 15u);

  char buf[32] = {};
  EXPECT_EQ(s.ReadAt(0, buf, sizeof buf), 15u);
  EXPECT_EQ(std::string(buf, 15), std::string("hello\0\0\0\0\0world", 15));
  EXPECT_EQ(s.ReadAt(12, buf, 10), 3u);
  EXPECT_EQ(std::string(buf, 3), "rld");
  EXPECT_EQ(s.ReadAt(15, buf, 10), 0u);
  EXPECT_EQ(s.ReadAt(1000, buf, 10), 0u);

  s.Seek(3);
  EXPECT_EQ(s.Read(buf, 4), 4u);
  EXPECT_EQ(std::string(buf, 4), std::string("lo\0\0", 4));
  EXPECT_EQ(s.Position(), 7u);

  // An empty write past the end changes nothing.
  s.WriteAt(100, "", 0);
  EXPECT_EQ(s.Size(), 15u);
}

TEST_P(FileManagerContractTest, SetSizeCutsAndExtendsWithZeros) {
  std::string path = MakeFile("f", 10);
  TZNTFileStream s = manager_->OpenFile(path, false, false);
  s.SetSize(4);
  EXPECT_EQ(s.Size(), 4u);
  s.SetSize(8);
  char buf[8];
  ASSERT_EQ(s.ReadAt(0, buf, 8), 8u);
  EXPECT_EQ(std::string(buf, 8), std::string("\0\1\2\3\0\0\0\0", 8));
}

TEST_P(FileManagerContractTest, ContentsSurviveClosingAndCreatingEmptiesAgain) {
  std::string path = MakeFile("f", 100);
  {
    TZNTFileStream s = manager_->OpenFile(path, false, false);
    EXPECT_EQ(s.Size(), 100u);
  }
  TZNTFileStream s = manager_->CreateFile(path, false, false);
  EXPECT_EQ(s.Size(), 0u);
}

TEST_P(FileManagerContractTest, OpensOfOnePathShareOneFile) {
  std::string path = MakeFile("shared", 4);
  TZNTFileStream a = manager_->OpenFile(path, false, false);
  TZNTFileStream b = manager_->OpenFile(path, false, true);
  EXPECT_EQ(&a.File(), &b.File());
  EXPECT_EQ(a.File().OpenCount(), 2);
  a.WriteAt(0, "Z", 1);
  char c = 0;
  b.ReadAt(0, &c, 1);
  EXPECT_EQ(c, 'Z');
  b.Seek(2);
  EXPECT_EQ(a.Position(), 0u);  // each stream keeps its own position
  a.Close();
  EXPECT_FALSE(a.IsOpen());
  EXPECT_EQ(b.File().OpenCount(), 1);
}

TEST_P(FileManagerContractTest, ExclusiveOpensAreRefusedEitherWay) {
  struct Case {
    bool first_exclusive;
    bool second_exclusive;
    bool second_creates;
  };
  const Case cases[] = {
      {true, false, false}, {false, true, false}, {true, true, false},
      {true, false, true},  {false, true, true},
  };
  std::string path = MakeFile("excl", 3);
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << c.first_exclusive << c.second_exclusive << c.second_creates);
    TZNTFileStream first = manager_->OpenFile(path, c.first_exclusive, false);
    EXPECT_EQ(FileErrorOf([&] {
                if (c.second_creates) {
                  manager_->CreateFile(path, c.second_exclusive, false);
                } else {
                  manager_->OpenFile(path, c.second_exclusive, false);
                }
              }),
              "Access denied to the file " + path);
    EXPECT_EQ(first.File().OpenCount(), 1);
    EXPECT_EQ(first.Size(), 3u);  // the refused create did not empty it
  }
  // Once the exclusive user is gone the file opens again.
  TZNTFileStream again = manager_->OpenFile(path, true, false);
  EXPECT_TRUE(again.File().IsExclusive());
}

TEST_P(FileManagerContractTest, CreatingOverASharedOpenFileEmptiesAndSharesIt) {
  std::string path = MakeFile("f", 50);
  TZNTFileStream a = manager_->OpenFile(path, false, false);
  TZNTFileStream b = manager_->CreateFile(path, false, false);
  EXPECT_EQ(&a.File(), &b.File());
  EXPECT_EQ(a.File().OpenCount(), 2);
  EXPECT_EQ(a.Size(), 0u);
}

TEST_P(FileManagerContractTest, OpenFilesCannotBeRenamedOrDeleted) {
  std::string path = MakeFile("open");
  std::string other = MakeFile("other");
  std::string fresh = PathOf("fresh");
  {
    TZNTFileStream s = manager_->OpenFile(path, false, false);
    EXPECT_EQ(FileErrorOf([&] { manager_->DeleteFile(path); }),
              "Access denied to the file " + path);
    EXPECT_EQ(FileErrorOf([&] { manager_->RenameFile(path, fresh); }),
              "Access denied to the file " + path);
    // An open target is refused the same way.
    EXPECT_EQ(FileErrorOf([&] { manager_->RenameFile(other, path); }),
              "Access denied to the file " + path);
  }
  EXPECT_TRUE(manager_->FileExists(path));
  manager_->RenameFile(path, fresh);
  EXPECT_FALSE(manager_->FileExists(path));
  EXPECT_TRUE(manager_->FileExists(fresh));
  manager_->DeleteFile(fresh);
  EXPECT_FALSE(manager_->FileExists(fresh));
}

TEST_P(FileManagerContractTest, RenameNeverReplacesAnExistingFile) {
  std::string a = MakeFile("a", 1);
  std::string b = MakeFile("b", 2);
  EXPECT_EQ(FileErrorOf([&] { manager_->RenameFile(a, b); }),
            "Cannot rename the file " + a + " to " + b + " (OS Error: File exists)");
  TZNTFileStream s = manager_->OpenFile(b, false, false);
  EXPECT_EQ(s.Size(), 2u);
}

TEST_P(FileManagerContractTest, TemporaryFileGoesWithItsLastUser) {
  std::string path = PathOf("scratch.tmp");
  TZNTFileStream a = manager_->CreateFile(path, true, true);
  a.Write("x", 1);
  EXPECT_TRUE(a.File().IsTemporary());
  a.Close();
  EXPECT_FALSE(manager_->FileExists(path));

  TZNTFileStream b = manager_->CreateFile(path, false, true);
  TZNTFileStream c = manager_->OpenFile(path, false, false);
  b.Close();
  EXPECT_TRUE(manager_->FileExists(path));
  c.Close();
  EXPECT_FALSE(manager_->FileExists(path));
}

TEST_P(FileManagerContractTest, ReadOnlyStreamRefusesChanges) {
  std::string path = MakeFile("ro", 4);
  TZNTFileStream writer = manager_->OpenFile(path, false, false);
  TZNTFileStream reader = manager_->OpenFile(path, false, true);
  EXPECT_TRUE(reader.IsReadOnly());
  EXPECT_FALSE(writer.IsReadOnly());
  std::string denied = "Access denied to the file " + path;
  EXPECT_EQ(FileErrorOf([&] { reader.WriteAt(0, "x", 1); }), denied);
  EXPECT_EQ(FileErrorOf([&] { reader.SetSize(0); }), denied);
  char buf[4];
  EXPECT_EQ(reader.ReadAt(0, buf, 4), 4u);
  writer.WriteAt(0, "x", 1);  // the shared file itself stays writable
}

TEST_P(FileManagerContractTest, WritesPastTheLargestSizeAreRefused) {
  std::string path = MakeFile("big");
  TZNTFileStream s = manager_->OpenFile(path, false, false);
  const uint64_t max = manager_->MaxFileSize();
  std::string too_large = "Cannot write file " + path + " (OS Error: File too large)";
  EXPECT_EQ(FileErrorOf([&] { s.WriteAt(max, "x", 1); }), too_large);
  EXPECT_EQ(FileErrorOf([&] { s.WriteAt(max - 1, "xy", 2); }), too_large);
  EXPECT_EQ(FileErrorOf([&] { s.WriteAt(UINT64_MAX, "x", 1); }), too_large);
  EXPECT_EQ(FileErrorOf([&] { s.SetSize(max + 1); }),
            "Cannot set the size of file " + path + " (OS Error: File too large)");
  EXPECT_EQ(s.Size(), 0u);
}

// Locks: two requests through one file object conflict, whichever stream
// makes them; adjacent ranges do not.
TEST_P(FileManagerContractTest, OverlappingLocksThroughOneFileConflict) {
  std::string path = MakeFile("lock");
  TZNTFileStream a = manager_->OpenFile(path, false, false);
  TZNTFileStream b = manager_->OpenFile(path, false, false);
  ASSERT_TRUE(a.TryLock(100, 10));  // bytes 100..109

  struct Case {
    uint64_t offset, length;
    bool granted;
  };
  const Case cases[] = {
      {100, 10, false},               // the same range, also through the same stream
      {105, 1, false},                // inside
      {90, 20, false},                // reaching into it from below
      {109, 5, false},                // its last byte
      {90, 100, false},               // covering it
      {99, 1, true},                  // the byte before
      {110, 1, true},                 // the byte after
      {0, 0, false},                  // an empty range locks nothing
      {kZNTLockLimit - 1, 2, false},  // reaching the reserved byte
      {UINT64_MAX, 1, false},         // past every offset
  };
  for (const Case& c : cases) {
    for (TZNTFileStream* s : {&a, &b}) {
      SCOPED_TRACE(::testing::Message()
                   << c.offset << "+" << c.length << (s == &a ? " via a" : " via b"));
      bool granted = s->TryLock(c.offset, c.length);
      EXPECT_EQ(granted, c.granted);
      if (granted) {
        EXPECT_TRUE(s->Unlock(c.offset, c.length));
      }
    }
  }
  EXPECT_EQ(a.File().LockedRanges(), (std::vector<TZNTLockRange>{{100, 10}}));
}

TEST_P(FileManagerContractTest, UnlockNeedsTheExactLockedRange) {
  std::string path = MakeFile("lock");
  TZNTFileStream s = manager_->OpenFile(path, false, false);
  EXPECT_FALSE(s.Unlock(0, 1));
  ASSERT_TRUE(s.TryLock(0, 8));
  ASSERT_TRUE(s.TryLock(8, 8));
  EXPECT_FALSE(s.Unlock(0, 4));   // part of a range
  EXPECT_FALSE(s.Unlock(0, 16));  // two ranges at once
  EXPECT_TRUE(s.Unlock(0, 8));
  EXPECT_FALSE(s.Unlock(0, 8));  // already unlocked
  EXPECT_TRUE(s.TryLock(0, 8));
  EXPECT_EQ(s.File().LockedRanges(), (std::vector<TZNTLockRange>{{0, 8}, {8, 8}}));
}

TEST_P(FileManagerContractTest, RowLockBytesBeyondTheLargestSizeCanBeLocked) {
  std::string path = MakeFile("rows");
  TZNTFileStream s = manager_->OpenFile(path, false, false);
  const uint64_t row_byte = manager_->MaxFileSize() + 17;
  EXPECT_TRUE(s.TryLock(row_byte, 1));
  EXPECT_FALSE(s.TryLock(row_byte, 1));
  EXPECT_TRUE(s.TryLock(row_byte + 1, 1));
  EXPECT_EQ(s.Size(), 0u);  // locking did not grow the file
}

TEST_P(FileManagerContractTest, ClosingTheLastUserReleasesItsLocks) {
  std::string path = MakeFile("lock");
  TZNTFileStream a = manager_->OpenFile(path, false, false);
  TZNTFileStream b = manager_->OpenFile(path, false, false);
  ASSERT_TRUE(a.TryLock(5, 5));
  a.Close();  // locks belong to the file, not the stream
  EXPECT_FALSE(b.TryLock(5, 5));
  b.Close();
  TZNTFileStream c = manager_->OpenFile(path, false, false);
  EXPECT_TRUE(c.File().LockedRanges().empty());
  EXPECT_TRUE(c.TryLock(5, 5));
}

TEST_P(FileManagerContractTest, MovedStreamKeepsItsUseOfTheFile) {
  std::string path = MakeFile("m", 2);
  TZNTFileStream a = manager_->OpenFile(path, false, false);
  TZNTFileStream b = std::move(a);
  EXPECT_FALSE(a.IsOpen());
  EXPECT_EQ(b.File().OpenCount(), 1);
  TZNTFileStream c = manager_->OpenFile(path, false, false);
  c = std::move(b);  // c's own use is given up first
  EXPECT_EQ(c.File().OpenCount(), 1);
}

TEST_P(FileManagerContractTest, FoldersFileTimesAndListing) {
  std::string nested = PathOf("db/Info/sub");
  EXPECT_FALSE(manager_->FolderExists(nested));
  manager_->MakeFolder(nested);
  manager_->MakeFolder(nested);  // already there
  EXPECT_TRUE(manager_->FolderExists(PathOf("db")));
  EXPECT_TRUE(manager_->FolderExists(nested));
  EXPECT_FALSE(manager_->FileExists(nested));

  std::string info = PathOf("db/Info");
  for (const char* name : {"Ledger.ZNTTbl", "Ledger.ZNTIdx", "Codes.ZNTTbl", "x.ZNTTbl.old"}) {
    manager_->CreateFile(info + "/" + name, false, false);
  }
  EXPECT_EQ(manager_->ListFiles(info, "*.ZNTTbl"),
            (std::vector<std::string>{"Codes.ZNTTbl", "Ledger.ZNTTbl"}));
  EXPECT_EQ(manager_->ListFiles(info + "/", "Ledger.*"),
            (std::vector<std::string>{"Ledger.ZNTIdx", "Ledger.ZNTTbl"}));
  EXPECT_EQ(manager_->ListFiles(info, "*").size(), 4u);  // the folder "sub" is left out
  EXPECT_TRUE(manager_->ListFiles(PathOf("nowhere"), "*").empty());

  int64_t before = manager_->FileTime(info + "/Codes.ZNTTbl");
  EXPECT_GT(before, 1'600'000'000'000);  // milliseconds since 1970, not seconds
  EXPECT_LT(before, 4'000'000'000'000);
}

TEST_P(FileManagerContractTest, ConcurrentOpensAndClosesKeepTheListConsistent) {
  std::string path = MakeFile("busy", 8);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        TZNTFileStream s = manager_->OpenFile(path, false, false);
        if (s.TryLock(static_cast<uint64_t>(t), 1)) s.Unlock(static_cast<uint64_t>(t), 1);
        char c;
        s.ReadAt(static_cast<uint64_t>(t), &c, 1);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  TZNTFileStream s = manager_->OpenFile(path, true, false);
  EXPECT_EQ(s.File().OpenCount(), 1);
  EXPECT_TRUE(s.File().LockedRanges().empty());
}

}  // namespace
}  // namespace znt
