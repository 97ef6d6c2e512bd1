// The block-file machinery: cache, read-ahead, write-back, free chain, header
// checks, write modes, encryption and the journal, over a small test kind
// whose block size and cache limit the tests choose.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/zntcommon.h"
#include "base/zntcrypto.h"
#include "storage/tests/table_test_util.h"
#include "storage/zntfaultfilemgr.h"
#include "storage/zntmemfilemgr.h"
#include "storage/zntstoremgr.h"

namespace znt {
namespace {

using testing::MemoryFileBytes;
using testing::PatchFile;
using testing::RaisedBy;
using testing::TCountingFileManager;
using testing::WriteWholeFile;

constexpr uint32_t kArea = 512;  // the test kind's header area
constexpr uint32_t kHeaderLength = 56;

// A kind with a 56-byte header, a 512-byte header area and blocks that carry
// a 4-byte marker after the link.
class TTestFile : public TZNTTableFileManager {
 public:
  TTestFile(TZNTFileManager& files, std::string path, TZNTTableFileSettings settings,
            uint32_t block_size = 64, uint32_t limit = 8)
      : TZNTTableFileManager(files, std::move(path), std::move(settings)),
        block_size_(block_size),
        limit_(limit) {}

 protected:
  uint32_t HeaderLength() const override { return kHeaderLength; }
  uint32_t DefaultHeaderArea() const override { return kArea; }
  uint32_t BlockSize() const override { return block_size_; }
  uint32_t CacheLimit() const override { return limit_; }
  uint32_t ProbeCount() const override { return 2; }
  uint32_t GrowthStep() const override { return 4; }
  const char* KindWord() const override { return "test block"; }
  std::unique_ptr<TZNTTableFileBuffer> NewBuffer() override {
    return std::make_unique<TZNTTableFileBuffer>(block_size_);
  }

 private:
  uint32_t block_size_;
  uint32_t limit_;
};

TZNTTableFileSettings LedgerSettings() {
  TZNTTableFileSettings s;
  s.table_name = "Ledger";
  s.signature_digest = TZNTDigest::Compute("signature now");
  s.default_signature_digest = TZNTDigest::Compute("signature default");
  s.password_digest = TZNTDigest::Compute("first password");
  return s;
}

class TableFileTest : public ::testing::Test {
 protected:
  const std::string path_ = "/db/Ledger.tst";

  // Adds a block with `marker` as one batch.
  static void Append(TTestFile& f, uint32_t marker) {
    f.BeginOperation();
    TZNTBlockPin pin = f.AllocateBlock();
    StoreLE32(pin->Bytes() + 4, marker);
    pin->MarkDirty();
    pin.Release();
    f.WriteChanges(false);
  }
  static uint32_t Marker(TTestFile& f, uint32_t n, TZNTReadAhead ahead = TZNTReadAhead::None) {
    TZNTBlockPin pin = f.GetBlock(n, ahead);
    return LoadLE32(pin->Bytes() + 4);
  }
  // Changes a block's marker without writing.
  static void SetMarker(TTestFile& f, uint32_t n, uint32_t marker) {
    TZNTBlockPin pin = f.GetBlock(n);
    StoreLE32(pin->Bytes() + 4, marker);
    pin->MarkDirty();
  }
  // The marker of block n as the file holds it.
  uint32_t DiskMarker(uint32_t n, uint32_t block_size = 64) {
    const std::string bytes = counting_.Contents(path_);
    return LoadLE32(bytes.data() + kArea + (n - 1) * block_size + 4);
  }
  std::unique_ptr<TTestFile> MakeFile(uint32_t blocks, uint32_t limit = 8,
                                      TZNTTableFileSettings settings = LedgerSettings()) {
    auto f = std::make_unique<TTestFile>(counting_, path_, settings, 64, limit);
    f->CreateTableFile(false);
    for (uint32_t i = 1; i <= blocks; ++i) Append(*f, 100 + i);
    return f;
  }

  TZNTMemoryFileManager memory_;
  TCountingFileManager counting_{memory_};
};

// ---------------------------------------------------------------------------
// Cache

TEST_F(TableFileTest, CacheEjectsTheLeastRecentlyUsedBufferPastItsLimit) {
  auto f = MakeFile(20);
  EXPECT_EQ(f->CachedCount(), 8u);
  f->DropCache();
  for (uint32_t n = 1; n <= 8; ++n) Marker(*f, n);
  Marker(*f, 1);  // now the most recent; block 2 is the oldest
  EXPECT_EQ(Marker(*f, 9), 109u);
  EXPECT_EQ(f->CachedCount(), 8u);
  EXPECT_TRUE(f->IsCached(1));
  EXPECT_FALSE(f->IsCached(2));
  EXPECT_TRUE(f->IsCached(9));
  EXPECT_EQ(f->VerifyInvariants(), "");
}

TEST_F(TableFileTest, PinnedBuffersAreNeverEjected) {
  auto f = MakeFile(12);
  f->DropCache();
  std::vector<TZNTBlockPin> pins;
  for (uint32_t n = 1; n <= 8; ++n) pins.push_back(f->GetBlock(n));
  {
    TZNTBlockPin ninth = f->GetBlock(9);  // nothing can go: the cache grows
    EXPECT_EQ(f->CachedCount(), 9u);
    for (uint32_t n = 1; n <= 9; ++n) EXPECT_TRUE(f->IsCached(n)) << n;
  }
  pins.erase(pins.begin() + 2);  // unpins block 3 only
  Marker(*f, 10);
  EXPECT_FALSE(f->IsCached(3));
  EXPECT_TRUE(f->IsCached(1));
  EXPECT_TRUE(f->IsCached(9));
  pins.clear();
  EXPECT_EQ(f->VerifyInvariants(), "");
}

TEST_F(TableFileTest, DirtyBuffersStayCachedUntilWrittenOrDiscarded) {
  auto f = MakeFile(12);
  f->BeginTransaction();
  for (uint32_t n = 1; n <= 10; ++n) SetMarker(*f, n, 500 + n);
  EXPECT_EQ(f->CachedCount(), 10u);  // a transaction grows the cache past its limit
  EXPECT_EQ(DiskMarker(4), 104u);
  f->RollbackTransaction();
  EXPECT_EQ(Marker(*f, 4), 104u);
  EXPECT_EQ(f->Mode(), TZNTTableFileMode::Shared);
  EXPECT_EQ(f->VerifyInvariants(), "");
}

TEST_F(TableFileTest, ExclusiveModeWritesBackWhenTheCacheIsFullOfChanges) {
  MakeFile(12)->CloseTableFile();
  TTestFile f(counting_, path_, LedgerSettings(), 64, 8);
  f.OpenTableFile(true, false);
  for (uint32_t n = 1; n <= 8; ++n) SetMarker(f, n, 700 + n);
  EXPECT_EQ(DiskMarker(3), 103u);
  EXPECT_EQ(Marker(f, 9), 109u);  // needs room: the eight changes go out first
  EXPECT_EQ(DiskMarker(3), 703u);
  EXPECT_EQ(f.CachedCount(), 8u);
  EXPECT_EQ(f.VerifyInvariants(), "");
}

TEST_F(TableFileTest, ReadAheadReadsAQuarterOfTheCacheInOneRead) {
  auto f = MakeFile(20, 16);
  ASSERT_EQ(f->ReadAheadCount(), 4u);
  struct Case {
    uint32_t block;
    TZNTReadAhead ahead;
    uint32_t first, count;
  };
  const Case cases[] = {
      {5, TZNTReadAhead::Forward, 5, 4},    // blocks 5 to 8
      {19, TZNTReadAhead::Forward, 19, 2},  // not past the last block
      {12, TZNTReadAhead::Backward, 9, 4},  // ending at the block asked for
      {2, TZNTReadAhead::Backward, 1, 2},   // not before block 1
      {15, TZNTReadAhead::None, 15, 1},
  };
  for (const Case& c : cases) {
    f->DropCache();
    counting_.Reset();
    EXPECT_EQ(Marker(*f, c.block, c.ahead), 100 + c.block);
    const auto reads = counting_.Reads(path_);
    ASSERT_EQ(reads.size(), 1u) << c.block;
    EXPECT_EQ(reads[0].offset, kArea + (c.first - 1) * 64u) << c.block;
    EXPECT_EQ(reads[0].size, c.count * 64u) << c.block;
    EXPECT_EQ(f->CachedCount(), c.count);
    for (uint32_t n = c.first; n < c.first + c.count; ++n) EXPECT_EQ(Marker(*f, n), 100 + n);
    EXPECT_EQ(counting_.Reads(path_).size(), 1u) << "the neighbours came from the cache";
  }
}

TEST_F(TableFileTest, ReadAheadKeepsChangedBuffersItFindsInTheCache) {
  auto f = MakeFile(20, 16);
  f->DropCache();
  f->BeginTransaction();
  SetMarker(*f, 6, 999);
  EXPECT_EQ(Marker(*f, 5, TZNTReadAhead::Forward), 105u);
  EXPECT_EQ(Marker(*f, 6), 999u);
  EXPECT_EQ(Marker(*f, 7), 107u);
  f->CommitTransaction(false);
  EXPECT_EQ(DiskMarker(6), 999u);
}

// ---------------------------------------------------------------------------
// Write-back

TEST_F(TableFileTest, WriteBackWritesRunsInBlockOrderOneWriteEach) {
  auto f = MakeFile(12);
  counting_.Reset();
  f->BeginTransaction();
  for (uint32_t n : {7u, 2u, 3u, 10u, 4u, 9u}) SetMarker(*f, n, 1000 + n);
  f->CommitTransaction(false);
  const auto writes = counting_.Writes(path_);
  ASSERT_EQ(writes.size(), 5u);
  EXPECT_EQ(writes[0].offset, 0u);  // the header with the flag set
  EXPECT_EQ(writes[0].size, kHeaderLength);
  EXPECT_EQ(writes[1].offset, kArea + 1 * 64u);  // blocks 2 to 4
  EXPECT_EQ(writes[1].size, 3 * 64u);
  EXPECT_EQ(writes[2].offset, kArea + 6 * 64u);  // block 7
  EXPECT_EQ(writes[2].size, 64u);
  EXPECT_EQ(writes[3].offset, kArea + 8 * 64u);  // blocks 9 and 10
  EXPECT_EQ(writes[3].size, 2 * 64u);
  EXPECT_EQ(writes[4].offset, 0u);  // and cleared
  EXPECT_EQ(f->WriteCount(), 12u + 3u);
  for (uint32_t n : {2u, 3u, 4u, 7u, 9u, 10u}) EXPECT_EQ(DiskMarker(n), 1000 + n);
  EXPECT_EQ(DiskMarker(5), 105u);
}

TEST_F(TableFileTest, WriteRunsAreCutAtOneMebibyte) {
  constexpr uint32_t kBig = 65536;
  TTestFile f(counting_, path_, LedgerSettings(), kBig, 8);
  f.CreateTableFile(false);
  counting_.Reset();
  f.BeginTransaction();
  for (int i = 0; i < 20; ++i) f.AllocateBlock()->MarkDirty();
  f.CommitTransaction(false);
  const auto writes = counting_.Writes(path_);
  ASSERT_EQ(writes.size(), 4u);
  EXPECT_EQ(writes[1].offset, kArea);
  EXPECT_EQ(writes[1].size, kZNTMaxWriteRun);  // blocks 1 to 16
  EXPECT_EQ(writes[2].offset, kArea + 16ull * kBig);
  EXPECT_EQ(writes[2].size, 4u * kBig);
}

TEST_F(TableFileTest, NothingIsWrittenWhenNothingChanged) {
  auto f = MakeFile(3);
  counting_.Reset();
  f->BeginOperation();
  Marker(*f, 2);
  f->WriteChanges(true);
  EXPECT_TRUE(counting_.Writes().empty());
  EXPECT_EQ(counting_.Flushes(), 0u);
}

TEST_F(TableFileTest, FlushForcesTheBlocksBeforeTheFinishingHeader) {
  auto f = MakeFile(3);
  f->BeginOperation();
  SetMarker(*f, 2, 5);
  counting_.Reset();
  f->WriteChanges(true);
  // The journal, the blocks before the clearing header, and the header.
  EXPECT_EQ(counting_.Flushes(), 3u);
}

// ---------------------------------------------------------------------------
// Free chain

TEST_F(TableFileTest, FreeChainIsLastInFirstOutAndRunsOnIntoFreshBlocks) {
  auto f = MakeFile(5);
  f->BeginOperation();
  for (uint32_t n : {2u, 4u}) {
    TZNTBlockPin pin = f->GetBlock(n);
    f->FreeBlock(*pin);
  }
  f->WriteChanges(false);
  EXPECT_EQ(f->Header().first_free_block, 4u);
  EXPECT_EQ(f->VerifyInvariants(), "");
  const std::string bytes = MemoryFileBytes(memory_, path_);
  EXPECT_EQ(LoadLE32(bytes.data() + kArea + 3 * 64), 2u);  // 4 -> 2
  EXPECT_EQ(LoadLE32(bytes.data() + kArea + 1 * 64), 6u);  // 2 -> the next new block
  std::vector<uint32_t> taken;
  for (int i = 0; i < 3; ++i) {
    TZNTBlockPin pin = f->AllocateBlock();
    EXPECT_EQ(pin->NextFree(), 0u);
    taken.push_back(pin->BlockNumber());
  }
  EXPECT_EQ(taken, (std::vector<uint32_t>{4, 2, 6}));
  EXPECT_EQ(f->Header().first_free_block, 0u);
  EXPECT_EQ(f->Header().next_new_block, 7u);
  f->WriteChanges(false);
  EXPECT_EQ(f->VerifyInvariants(), "");
}

// ---------------------------------------------------------------------------
// Errors

TEST_F(TableFileTest, CacheAndFileErrorsNameTheirDetail) {
  const std::string corrupt = "The table Ledger is corrupt (";
  {
    auto f = MakeFile(3);
    f->BeginOperation();
    auto e = RaisedBy([&] { f->GetBlock(0); });
    EXPECT_EQ(e.code, 601);
    EXPECT_EQ(e.message, corrupt + "Invalid test block number specified for retrieval from cache)");
    EXPECT_EQ(RaisedBy([&] { f->GetBlock(5); }).message, e.message);
  }
  {
    auto f = MakeFile(3);
    f->BeginTransaction();
    SetMarker(*f, 1, 9);
    TZNTBlockPin held = f->GetBlock(1);
    auto e = RaisedBy([&] { f->WriteChanges(false); });
    EXPECT_EQ(e.code, 601);
    EXPECT_EQ(e.message,
              corrupt + "Attempted to flush a test block from the cache while it is in use)");
    held.Release();
    f->RollbackTransaction();
  }
  {
    auto f = MakeFile(12, 16);
    f->DropCache();
    TZNTFileStream cut = memory_.OpenFile(path_, false, false);
    cut.SetSize(kArea + 2 * 64);
    auto single = RaisedBy([&] { Marker(*f, 5); });
    EXPECT_EQ(single.code, 601);
    EXPECT_EQ(single.message, corrupt + "Error reading test blocks into cache)");
    auto run = RaisedBy([&] { Marker(*f, 5, TZNTReadAhead::Forward); });
    EXPECT_EQ(run.message, corrupt + "Cannot find test block during retrieval from cache)");
    EXPECT_EQ(Marker(*f, 2, TZNTReadAhead::Forward), 102u);  // a short run is fine
    EXPECT_EQ(f->VerifyInvariants(), "");
  }
}

TEST_F(TableFileTest, GrowingPastTheLargestFileSizeIsError407) {
  TCountingFileManager small(memory_, kArea + 3 * 64);
  TTestFile f(small, path_, LedgerSettings());
  f.CreateTableFile(false);
  for (int i = 0; i < 3; ++i) f.AllocateBlock()->MarkDirty();
  auto e = RaisedBy([&] { f.AllocateBlock(); });
  EXPECT_EQ(e.code, 407);
  EXPECT_EQ(e.message, "The table Ledger is full (/db/Ledger.tst)");
  EXPECT_EQ(f.Header().next_new_block, 4u);
  f.WriteChanges(false);
  EXPECT_EQ(f.VerifyInvariants(), "");
}

TEST_F(TableFileTest, ChangesToAReadOnlyFileAreError403) {
  MakeFile(2)->CloseTableFile();
  TTestFile f(counting_, path_, LedgerSettings());
  f.OpenTableFile(false, true);
  EXPECT_EQ(Marker(f, 2), 102u);
  auto e = RaisedBy([&] { f.AllocateBlock(); });
  EXPECT_EQ(e.code, 403);
  EXPECT_EQ(e.message,
            "The table Ledger is read-only and this operation cannot be performed "
            "(/db/Ledger.tst)");
}

// ---------------------------------------------------------------------------
// Header checks

// Applies `change` to the deciphered header of the file and stores it again.
void EditHeader(TZNTMemoryFileManager& files, const std::string& path,
                const TZNTTableFileSettings& written_with,
                const std::function<void(uint8_t*)>& change) {
  std::string h = MemoryFileBytes(files, path).substr(0, kHeaderLength);
  TZNTBlowfish cipher(written_with.password_digest);
  if (written_with.encrypted) cipher.Decrypt(h.data(), h.size());
  change(reinterpret_cast<uint8_t*>(h.data()));
  if (written_with.encrypted) cipher.Encrypt(h.data(), h.size());
  PatchFile(files, path, 0, h);
}

TEST_F(TableFileTest, HeaderChecksRunInTheirOrder) {
  const std::string prefix = "There is an error in the metadata for the table Ledger (";
  const std::string status =
      "The encryption status does not match the encryption status in the configuration or "
      "catalog";
  const std::string password =
      "The encryption password does not match the default or current engine encryption password";
  const std::string charset =
      "The character set does not match the character set in use by the engine";
  const std::string signature =
      "The signature does not match the default or current engine signature";
  const std::string version =
      "The internal version does not match the version in the configuration or catalog";
  const std::string repair = "A write operation did not complete and a repair is required";
  auto set_charset = [](uint8_t* h) { StoreLE32(h + 20, 1); };
  auto set_signature = [](uint8_t* h) { h[4] ^= 0xFF; };
  auto set_version = [](uint8_t* h) { StoreLE32(h, 2); };
  auto set_flag = [](uint8_t* h) { h[53] = 1; };
  auto clear_encrypted = [](uint8_t* h) { h[24] = 0; };
  struct Case {
    const char* name;
    bool encrypted;
    std::vector<std::function<void(uint8_t*)>> changes;
    std::function<void(TZNTTableFileSettings&)> reopen_with;
    std::string detail;  // empty: opens
  };
  const Case cases[] = {
      {"intact", false, {}, nullptr, ""},
      {"charset", false, {set_charset}, nullptr, charset},
      {"signature", false, {set_signature}, nullptr, signature},
      {"version", false, {set_version}, nullptr, version},
      {"charset before signature", false, {set_signature, set_charset}, nullptr, charset},
      {"signature before version", false, {set_version, set_signature}, nullptr, signature},
      {"checks before the flag", false, {set_flag, set_version}, nullptr, version},
      {"flag", false, {set_flag}, nullptr, repair},
      {"default signature",
       false,
       {},
       [](TZNTTableFileSettings& s) {
         s.default_signature_digest = s.signature_digest;
         s.signature_digest = TZNTDigest::Compute("a changed signature");
       },
       ""},
      {"neither signature",
       false,
       {},
       [](TZNTTableFileSettings& s) { s.signature_digest = TZNTDigest::Compute("changed"); },
       signature},
      {"catalog version",
       false,
       {},
       [](TZNTTableFileSettings& s) { s.internal_version = 3; },
       version},
      {"encryption status", true, {clear_encrypted, set_charset}, nullptr, status},
      {"password before charset",
       true,
       {set_charset},
       [](TZNTTableFileSettings& s) { s.password_digest = TZNTDigest::Compute("other"); },
       password},
      {"encrypted and intact", true, {}, nullptr, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TZNTMemoryFileManager files;
    TZNTTableFileSettings written = LedgerSettings();
    written.encrypted = c.encrypted;
    {
      TTestFile f(files, path_, written);
      f.CreateTableFile(false);
      Append(f, 1);
      f.CloseTableFile();
    }
    for (const auto& change : c.changes) EditHeader(files, path_, written, change);
    TZNTTableFileSettings reopen = written;
    if (c.reopen_with) c.reopen_with(reopen);
    TTestFile f(files, path_, reopen);
    auto e = RaisedBy([&] { f.OpenTableFile(false, false); });
    if (c.detail.empty()) {
      EXPECT_EQ(e.code, 0) << e.message;
      EXPECT_EQ(Marker(f, 1), 1u);
    } else {
      EXPECT_EQ(e.code, 100);
      EXPECT_EQ(e.message, prefix + c.detail + ")");
      EXPECT_FALSE(f.IsOpen());
    }
  }
}

// ---------------------------------------------------------------------------
// Encryption

TEST_F(TableFileTest, EncryptionEnciphersTheHeaderAndEachBlockAsUnits) {
  TZNTTableFileSettings s = LedgerSettings();
  s.encrypted = true;
  auto f = MakeFile(0, 8, s);
  Append(*f, 5);
  Append(*f, 5);
  const std::string bytes = MemoryFileBytes(memory_, path_);
  ASSERT_EQ(bytes.size(), kArea + 2 * 64u);
  // Each unit starts its chaining afresh, so equal blocks encipher equally.
  EXPECT_EQ(bytes.substr(kArea, 64), bytes.substr(kArea + 64, 64));
  std::string block = bytes.substr(kArea, 64);
  TZNTBlowfish cipher(s.password_digest);
  cipher.Decrypt(block.data(), block.size());
  EXPECT_EQ(LoadLE32(block.data()), 0u);
  EXPECT_EQ(LoadLE32(block.data() + 4), 5u);
  std::string header = bytes.substr(0, kHeaderLength);
  cipher.Decrypt(header.data(), header.size());
  EXPECT_EQ(header[24], 1);
  EXPECT_EQ(LoadLE32(header.data() + 49), 3u);
  EXPECT_EQ(header.substr(25, 16), std::string(s.password_digest.begin(), s.password_digest.end()));

  f->DropCache();
  f->BeginOperation();
  EXPECT_EQ(Marker(*f, 2, TZNTReadAhead::Backward), 5u);
  EXPECT_EQ(Marker(*f, 1), 5u);
}

// ---------------------------------------------------------------------------
// Write modes

TEST_F(TableFileTest, ASharedReaderDropsItsCacheWhenAnotherWriterChangedTheFile) {
  auto writer = MakeFile(3);
  TTestFile reader(counting_, path_, LedgerSettings());
  reader.OpenTableFile(false, false);
  EXPECT_FALSE(reader.BeginOperation());
  EXPECT_EQ(Marker(reader, 2), 102u);

  writer->BeginOperation();
  SetMarker(*writer, 2, 77);
  writer->WriteChanges(false);

  EXPECT_TRUE(reader.BeginOperation());
  EXPECT_EQ(reader.CachedCount(), 0u);
  EXPECT_EQ(Marker(reader, 2), 77u);
  EXPECT_EQ(reader.Header().change_counter, writer->Header().change_counter);
  EXPECT_FALSE(reader.BeginOperation());
  EXPECT_TRUE(reader.IsCached(2));
}

TEST_F(TableFileTest, TransactionsCommitOrDiscardAndRestoreTheMode) {
  auto f = MakeFile(3);
  const auto before = counting_.Writes(path_).size();
  f->BeginTransaction();
  EXPECT_EQ(f->Mode(), TZNTTableFileMode::Transaction);
  f->AllocateBlock()->MarkDirty();
  f->AllocateBlock()->MarkDirty();
  SetMarker(*f, 1, 11);
  EXPECT_EQ(f->Header().next_new_block, 6u);
  f->RollbackTransaction();
  EXPECT_EQ(f->Header().next_new_block, 4u);
  EXPECT_EQ(Marker(*f, 1), 101u);
  EXPECT_EQ(counting_.Writes(path_).size(), before);

  f->CloseTableFile();
  TTestFile g(counting_, path_, LedgerSettings());
  g.OpenTableFile(true, false);
  SetMarker(g, 1, 12);
  g.BeginTransaction();  // the exclusive change goes out first
  EXPECT_EQ(DiskMarker(1), 12u);
  SetMarker(g, 2, 13);
  g.CommitTransaction(false);
  EXPECT_EQ(DiskMarker(2), 13u);
  EXPECT_EQ(g.Mode(), TZNTTableFileMode::Exclusive);
  SetMarker(g, 3, 14);
  g.CloseTableFile();  // exclusive changes are written at close
  EXPECT_EQ(DiskMarker(3), 14u);
}

TEST_F(TableFileTest, EmptyingCutsTheFileToItsHeaderArea) {
  auto f = MakeFile(5);
  f->BeginOperation();
  f->EmptyTableFile();
  EXPECT_EQ(f->Header().next_new_block, 1u);
  f->WriteChanges(false);
  EXPECT_EQ(MemoryFileBytes(memory_, path_).size(), kArea);
  Append(*f, 42);
  EXPECT_EQ(MemoryFileBytes(memory_, path_).size(), kArea + 64u);
  EXPECT_EQ(DiskMarker(1), 42u);
  EXPECT_EQ(f->VerifyInvariants(), "");
}

// ---------------------------------------------------------------------------
// Journal

TEST_F(TableFileTest, ABatchJournalsWhatItOverwritesAndRemovesTheJournal) {
  auto f = MakeFile(3);
  const uint64_t old_size = MemoryFileBytes(memory_, path_).size();
  f->BeginTransaction();
  SetMarker(*f, 2, 9);
  f->AllocateBlock()->MarkDirty();  // block 4, past the old end
  f->CommitTransaction(false);
  EXPECT_FALSE(memory_.FileExists(f->JournalPath()));

  const std::string j = counting_.LastJournal();
  TZNTReader r(j);
  EXPECT_EQ(r.ReadFixed(8), std::string("ZNTJRNL\x01", 8));
  EXPECT_EQ(static_cast<uint64_t>(r.ReadInt64()), old_size);
  r.ReadFixed(16);
  ASSERT_EQ(r.ReadInt32(), 2);  // the header and block 2
  EXPECT_EQ(r.ReadInt64(), 0);
  EXPECT_EQ(r.ReadInt32(), static_cast<int32_t>(kHeaderLength));
  r.ReadFixed(kHeaderLength);
  EXPECT_EQ(r.ReadInt64(), int64_t{kArea + 64});
  EXPECT_EQ(r.ReadInt32(), 64);
  EXPECT_EQ(LoadLE32(r.ReadFixed(64).data() + 4), 102u);
  EXPECT_EQ(r.Remaining(), 16u);
  EXPECT_EQ(TZNTDigest::Compute(std::string_view(j).substr(0, j.size() - 16)),
            *reinterpret_cast<const TZNTDigest::TValue*>(j.data() + j.size() - 16));
}

// Runs one batch (block 2 changed, block 4 added) that crashes at its
// `crash_at`-th write; leaves the journal and the half-written file behind.
void CrashedBatch(TZNTMemoryFileManager& memory, const std::string& path, uint64_t crash_at) {
  TZNTFaultFileManager faults(memory);
  TTestFile f(faults, path, LedgerSettings());
  f.OpenTableFile(false, false);
  f.BeginTransaction();
  {
    TZNTBlockPin pin = f.GetBlock(2);
    StoreLE32(pin->Bytes() + 4, 9);
    pin->MarkDirty();
  }
  f.AllocateBlock()->MarkDirty();
  faults.FailNth(TZNTFaultOp::Write, crash_at, true);
  EXPECT_EQ(RaisedBy([&] { f.CommitTransaction(false); }).code, 600);
}

TEST_F(TableFileTest, OpeningRollsBackAnInterruptedBatch) {
  MakeFile(3)->CloseTableFile();
  const std::string before = MemoryFileBytes(memory_, path_);
  // Writes: journal, header, block 2, block 4, header. Crash on the last, so
  // the file has grown by block 4 and must be cut back.
  CrashedBatch(memory_, path_, 5);
  EXPECT_EQ(MemoryFileBytes(memory_, path_).size(), before.size() + 64);
  EXPECT_TRUE(memory_.FileExists(path_ + "-journal"));
  EXPECT_EQ(MemoryFileBytes(memory_, path_)[53], 1);

  TTestFile f(memory_, path_, LedgerSettings());
  f.OpenTableFile(false, false);
  EXPECT_EQ(MemoryFileBytes(memory_, path_), before);
  EXPECT_FALSE(memory_.FileExists(f.JournalPath()));
  EXPECT_EQ(Marker(f, 2), 102u);
  EXPECT_EQ(f.Header().next_new_block, 4u);
  EXPECT_EQ(f.VerifyInvariants(), "");
}

TEST_F(TableFileTest, AJournalIsHonouredOnlyWhenWholeAndUnfinished) {
  MakeFile(3)->CloseTableFile();
  const std::string repair =
      "There is an error in the metadata for the table Ledger (A write operation did not "
      "complete and a repair is required)";
  struct Case {
    const char* name;
    uint64_t crash_at;     // 0: the batch finishes
    bool tear_journal;     // cut the journal short before reopening
    bool restore_journal;  // put a finished batch's journal back
    bool read_only;
    std::string error;  // empty: opens
    uint32_t marker;    // block 2 after opening
  };
  const Case cases[] = {
      {"finished batch, stale journal", 0, false, true, false, "", 9},
      {"torn journal, file untouched", 1, false, false, false, "", 102},
      {"flag set, journal torn afterwards", 3, true, false, false, repair, 0},
      {"rollback needed on a read-only open", 3, false, false, true, repair, 0},
  };
  const std::string pristine = MemoryFileBytes(memory_, path_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteWholeFile(memory_, path_, pristine);
    if (memory_.FileExists(path_ + "-journal")) memory_.DeleteFile(path_ + "-journal");
    if (c.crash_at != 0) {
      CrashedBatch(memory_, path_, c.crash_at);
    } else {
      TTestFile f(counting_, path_, LedgerSettings());
      f.OpenTableFile(false, false);
      f.BeginOperation();
      SetMarker(f, 2, 9);
      f.WriteChanges(false);
    }
    if (c.restore_journal) WriteWholeFile(memory_, path_ + "-journal", counting_.LastJournal());
    if (c.tear_journal) {
      const std::string j = MemoryFileBytes(memory_, path_ + "-journal");
      WriteWholeFile(memory_, path_ + "-journal", j.substr(0, j.size() - 1));
    }
    TTestFile f(memory_, path_, LedgerSettings());
    auto e = RaisedBy([&] { f.OpenTableFile(false, c.read_only); });
    if (c.error.empty()) {
      ASSERT_EQ(e.code, 0) << e.message;
      EXPECT_EQ(Marker(f, 2), c.marker);
      EXPECT_FALSE(memory_.FileExists(path_ + "-journal"));
    } else {
      EXPECT_EQ(e.code, 100);
      EXPECT_EQ(e.message, c.error);
    }
  }
}

TEST_F(TableFileTest, ASharedReaderRecoversAWriterThatCrashedMidBatch) {
  MakeFile(3)->CloseTableFile();
  TTestFile reader(memory_, path_, LedgerSettings());
  reader.OpenTableFile(false, false);
  EXPECT_EQ(Marker(reader, 2), 102u);
  CrashedBatch(memory_, path_, 4);
  EXPECT_TRUE(reader.BeginOperation());
  EXPECT_EQ(Marker(reader, 2), 102u);
  EXPECT_EQ(reader.Header().next_new_block, 4u);
  EXPECT_FALSE(memory_.FileExists(path_ + "-journal"));
}

TEST_F(TableFileTest, AFailedWriteIsUndoneInPlaceAndTheFileStaysUsable) {
  auto f = MakeFile(3);
  const std::string before = MemoryFileBytes(memory_, path_);
  TZNTFaultFileManager faults(memory_);
  TTestFile g(faults, path_, LedgerSettings());
  g.OpenTableFile(false, false);
  g.BeginTransaction();
  SetMarker(g, 2, 9);
  g.AllocateBlock()->MarkDirty();
  faults.FailNth(TZNTFaultOp::Write, 4);  // one failure, not a crash
  EXPECT_EQ(RaisedBy([&] { g.CommitTransaction(false); }).code, 600);
  EXPECT_EQ(MemoryFileBytes(memory_, path_), before);
  EXPECT_FALSE(memory_.FileExists(path_ + "-journal"));
  EXPECT_EQ(g.Mode(), TZNTTableFileMode::Shared);
  EXPECT_EQ(Marker(g, 2), 102u);
  EXPECT_EQ(g.Header().next_new_block, 4u);
  Append(g, 4);
  EXPECT_EQ(g.VerifyInvariants(), "");
}

}  // namespace
}  // namespace znt
