// The blob file: the block layout byte for byte, writing values into chains
// that are reused as they shrink and grow or pass to a new row, compressed
// columns, damage detected on reading, encryption, read-ahead and lazy
// loading.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/zntcommon.h"
#include "base/zntconsts.h"
#include "base/zntcrypto.h"
#include "storage/tests/table_test_util.h"
#include "storage/zntblobmgr.h"
#include "storage/zntcompressmgr.h"
#include "storage/zntmemfilemgr.h"
#include "storage/zntrowsetmgr.h"

namespace znt {
namespace {

using testing::MemoryFileBytes;
using testing::PatchFile;
using testing::RaisedBy;
using testing::TCountingFileManager;

const std::string kPath = "/Data/Notes.ZNTBlb";
constexpr uint32_t kArea = kZNTBlobFileHeaderArea;
constexpr uint32_t kBlock = 512;
const std::string kShortChain =
    "The table Notes is corrupt (Cannot find BLOB block during retrieval from cache)";

TZNTTableFileSettings Settings(bool encrypted = false) {
  TZNTTableFileSettings s;
  s.table_name = "Notes";
  s.encrypted = encrypted;
  s.signature_digest = s.default_signature_digest = TZNTDigest::Compute("engine signature");
  s.password_digest = TZNTDigest::Compute("engine password");
  return s;
}

std::string Prose(size_t n, unsigned seed = 0) {
  static const char* const kWords[] = {"ledger ",  "invoice ", "account ", "balance ",
                                       "journal ", "posting ", "period ",  "credit "};
  std::string s;
  for (size_t i = seed; s.size() < n; ++i) s += kWords[(i * 7 + i / 3 + i / 11) % 8];
  s.resize(n);
  return s;
}

std::string LE32(uint32_t v) {
  std::string s(4, '\0');
  StoreLE32(s.data(), v);
  return s;
}

uint64_t BlockOffset(uint32_t n) { return kArea + static_cast<uint64_t>(n - 1) * kBlock; }

// A blob file in memory with the shared-mode bracket around each call.
struct TBlobFixture {
  explicit TBlobFixture(bool encrypted = false) : counting(files), settings(Settings(encrypted)) {
    Open(true);
  }
  void Open(bool create) {
    blobs = std::make_unique<TZNTBlobManager>(counting, kPath, settings);
    if (create)
      blobs->CreateTableFile(false);
    else
      blobs->OpenTableFile(false, false);
  }
  void Reopen() {
    blobs->CloseTableFile();
    Open(false);
    counting.Reset();
  }
  TZNTBlobRef Write(int32_t row_id, TZNTBlobRef ref, const std::string& data, int level = 0) {
    blobs->BeginOperation();
    blobs->WriteBlob(row_id, ref, level, data);
    blobs->WriteChanges(false);
    return ref;
  }
  std::string Read(int32_t row_id, TZNTBlobRef ref, bool compressed = false) {
    blobs->BeginOperation();
    return blobs->ReadBlob(row_id, ref, compressed);
  }
  std::string Bytes() { return MemoryFileBytes(files, kPath); }
  // Every block is in some chain or on the free chain, and the chains hold.
  void ExpectSound(const std::vector<TZNTBlobRef>& refs) {
    EXPECT_EQ(blobs->VerifyInvariants(), "");
    uint32_t chained = 0;
    for (const TZNTBlobRef& r : refs) chained += blobs->ChainLength(r.first_block);
    EXPECT_EQ(chained + blobs->FreeBlockCount(), blobs->Header().next_new_block - 1)
        << "blocks leaked";
  }

  TZNTMemoryFileManager files;
  TCountingFileManager counting;
  TZNTTableFileSettings settings;
  std::unique_ptr<TZNTBlobManager> blobs;
};

TEST(BlobFileTest, GeometryFollowsTheTableKind) {
  const struct {
    bool system;
    uint32_t block_size, buffer_size, area, limit;
  } cases[] = {
      {false, 512, 32768, 4096, 64},   // the program's tables
      {true, 64, 32768, 1024, 512},    // catalog tables
      {false, 4096, 32768, 4096, 64},  // never fewer than 64 buffers
  };
  for (const auto& c : cases) {
    TZNTMemoryFileManager files;
    TZNTTableFileSettings s = Settings();
    s.system_table = c.system;
    s.blob_block_size = c.block_size;
    s.max_blob_buffer_size = c.buffer_size;
    TZNTBlobManager m(files, kPath, s);
    m.CreateTableFile(false);
    EXPECT_EQ(m.HeaderAreaSize(), c.area);
    EXPECT_EQ(m.HeaderLengthBytes(), 56u);
    EXPECT_EQ(m.BlockSizeBytes(), c.block_size);
    EXPECT_EQ(m.CacheLimitBuffers(), c.limit);
    EXPECT_EQ(m.CacheCapacity() % 32, 0u);
    EXPECT_EQ(MemoryFileBytes(files, kPath).size(), 56u);
  }
}

TEST(BlobFileTest, BlocksAreLaidOutByteForByte) {
  TBlobFixture f;
  // 495 bytes fill a first block exactly; one more needs a second block.
  const std::string fits = Prose(495), spills = Prose(496, 3);
  const TZNTBlobRef a = f.Write(7, {}, fits);
  const TZNTBlobRef b = f.Write(8, {}, spills);
  EXPECT_EQ(a, (TZNTBlobRef{1, 495}));
  EXPECT_EQ(b, (TZNTBlobRef{2, 496}));
  EXPECT_EQ(f.blobs->ChainLength(1), 1u);
  EXPECT_EQ(f.blobs->ChainLength(2), 2u);

  const std::string file = f.Bytes();
  ASSERT_EQ(file.size(), BlockOffset(4));
  const std::string first = file.substr(BlockOffset(2), kBlock);
  EXPECT_EQ(first.substr(0, 4), LE32(3)) << "link";
  EXPECT_EQ(first[4], 1) << "type";
  EXPECT_EQ(first.substr(5, 4), LE32(8)) << "row ID";
  EXPECT_EQ(first.substr(9, 4), LE32(496)) << "total";
  EXPECT_EQ(first.substr(13, 4), LE32(495)) << "data length";
  EXPECT_EQ(first.substr(17), spills.substr(0, 495));
  const std::string next = file.substr(BlockOffset(3), kBlock);
  EXPECT_EQ(next.substr(0, 4), LE32(0));
  EXPECT_EQ(next[4], 0);
  EXPECT_EQ(next.substr(5, 4), LE32(1));
  EXPECT_EQ(next[9], spills.back());
  EXPECT_EQ(file.substr(BlockOffset(1), 4), LE32(0)) << "a one-block chain ends at once";

  f.Reopen();
  EXPECT_EQ(f.Read(7, a), fits);
  EXPECT_EQ(f.Read(8, b), spills);
  f.ExpectSound({a, b});
}

TEST(BlobFileTest, ClobWithCompressionStoresAMegabyteAndTenThousandShortValues) {
  TBlobFixture f;
  const std::string big = Prose(1 << 20);
  const TZNTBlobRef big_ref = f.Write(1, {}, big, 6);
  EXPECT_EQ(big_ref.length, TZNTCompressionManager::Compress(big, 6).size())
      << "the slot holds the compressed length";
  EXPECT_LT(big_ref.length, big.size() / 10);

  std::vector<TZNTBlobRef> refs(10001);
  refs[0] = big_ref;
  f.blobs->BeginTransaction();
  for (int32_t id = 1; id <= 10000; ++id) {
    f.blobs->BeginOperation();
    f.blobs->WriteBlob(id + 1, refs[id], 6, "note " + std::to_string(id) + " " + Prose(id % 40));
  }
  f.blobs->CommitTransaction(false);

  f.Reopen();
  EXPECT_EQ(f.Read(1, big_ref, true), big);
  for (int32_t id = 1; id <= 10000; ++id)
    ASSERT_EQ(f.Read(id + 1, refs[id], true), "note " + std::to_string(id) + " " + Prose(id % 40))
        << id;
  f.ExpectSound(refs);
}

TEST(BlobFileTest, DamagedCompressedValueRaises1201) {
  const std::string text = Prose(6000) + Prose(3000, 5);
  const struct {
    const char* what;
    uint32_t block;                 // 0: the last block of the chain
    uint32_t offset;                // within the block
    std::optional<uint32_t> total;  // a total patched into the first block
  } cases[] = {
      {"zlib header", 1, 17, std::nullopt},
      {"deflate data", 1, 200, std::nullopt},
      {"checksum", 0, 0, std::nullopt},
      {"cut short", 1, 0, 1u},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TBlobFixture f;
    const TZNTBlobRef ref = f.Write(5, {}, text, 6);
    const uint32_t blocks = f.blobs->ChainLength(ref.first_block);
    f.blobs->CloseTableFile();
    if (c.total) {
      PatchFile(f.files, kPath, BlockOffset(1) + 9, LE32(ref.length - *c.total));
    } else {
      uint64_t at = BlockOffset(c.block) + c.offset;
      if (c.block == 0) {
        // The stream's last byte: the end of the last block's data.
        const std::string file = f.Bytes();
        const uint32_t header = blocks == 1 ? kZNTBlobFirstHeader : kZNTBlobContinuationHeader;
        const uint32_t data = LoadLE32(file.data() + BlockOffset(blocks) + header - 4);
        at = BlockOffset(blocks) + header + data - 1;
      }
      const char old = f.Bytes()[at];
      PatchFile(f.files, kPath, at, std::string(1, static_cast<char>(old ^ 0x21)));
    }
    f.Open(false);
    const auto raised = RaisedBy([&] { f.Read(5, ref, true); });
    EXPECT_EQ(raised.code, err::Uncompress) << raised.message;
    // Uncompressed, the damaged bytes come back as stored.
    EXPECT_EQ(f.Read(5, ref, false).size(), c.total ? ref.length - *c.total : ref.length);
  }
}

TEST(BlobFileTest, ChainsAreReusedAsValuesShrinkAndGrow) {
  TBlobFixture f;
  const TZNTBlobRef other = f.Write(2, {}, Prose(700));  // blocks 1 and 2
  TZNTBlobRef ref = f.Write(1, {}, Prose(2000, 1));
  EXPECT_EQ(ref.first_block, 3u);
  EXPECT_EQ(f.blobs->ChainLength(3), 4u);
  const uint32_t next_new = f.blobs->Header().next_new_block;

  ref = f.Write(1, ref, "ten bytes!");
  EXPECT_EQ(ref, (TZNTBlobRef{3, 10}));
  EXPECT_EQ(f.blobs->ChainLength(3), 4u) << "the tail is kept for growth";
  EXPECT_EQ(f.Read(1, ref), "ten bytes!");

  ref = f.Write(1, ref, "");
  EXPECT_EQ(ref, (TZNTBlobRef{3, 0})) << "an empty value keeps the chain";
  EXPECT_EQ(f.Read(1, ref), "");

  ref = f.Write(1, ref, Prose(2000, 2));
  EXPECT_EQ(ref, (TZNTBlobRef{3, 2000}));
  EXPECT_EQ(f.blobs->Header().next_new_block, next_new) << "the same blocks again";
  f.ExpectSound({other, ref});

  // Trimming gives the tail back; growing takes it from the free chain.
  ref = f.Write(1, ref, Prose(600, 3));
  f.blobs->BeginOperation();
  f.blobs->TrimChain(ref.first_block);
  f.blobs->WriteChanges(false);
  EXPECT_EQ(f.blobs->ChainLength(3), 2u);
  EXPECT_EQ(f.blobs->FreeBlockCount(), 2u);
  f.ExpectSound({other, ref});
  ref = f.Write(1, ref, Prose(3000, 4));
  EXPECT_EQ(f.blobs->ChainLength(3), 6u);
  EXPECT_EQ(f.blobs->FreeBlockCount(), 0u);
  EXPECT_EQ(f.blobs->Header().next_new_block, next_new + 2);
  f.ExpectSound({other, ref});

  // A deleted chain is reused by the next new value.
  f.blobs->BeginOperation();
  f.blobs->DeleteChain(ref.first_block);
  f.blobs->WriteChanges(false);
  EXPECT_EQ(f.blobs->FreeBlockCount(), 6u);
  f.ExpectSound({other});
  const TZNTBlobRef fresh = f.Write(9, {}, Prose(1500, 5));
  EXPECT_EQ(f.blobs->Header().next_new_block, next_new + 2);
  EXPECT_EQ(f.blobs->FreeBlockCount(), 3u);
  f.Reopen();
  EXPECT_EQ(f.Read(9, fresh), Prose(1500, 5));
  EXPECT_EQ(f.Read(2, other), Prose(700));
  f.ExpectSound({other, fresh});
}

TEST(BlobFileTest, ChainOfADeletedRowPassesToTheRowThatTakesItsBlock) {
  TZNTMemoryFileManager files;
  const std::vector<TZNTRowsetColumn> columns = {
      {"__RowID", TZNTDataType::Of(TZNTTypeCode::Integer)}, {"Memo", TZNTDataType::Clob()}};
  TZNTRowsetManager rows(files, "/Data/Notes.ZNTTbl", Settings(), columns);
  TZNTBlobManager blobs(files, kPath, Settings());
  rows.CreateTableFile(false);
  blobs.CreateTableFile(false);
  auto insert = [&](const std::string& memo) {
    rows.BeginOperation();
    blobs.BeginOperation();
    TZNTValues values;
    values.AddContained(columns[0].type).SetInteger(rows.NextRowIDValue());
    values.AddContained(columns[1].type);
    const int32_t row_id = rows.NextRowID();
    const uint32_t row = rows.InsertRow(row_id, values).row_number;
    TZNTRowsetNavigator nav(rows);
    EXPECT_TRUE(nav.SetToRow(row));
    TZNTBlobValue value(blobs, 0);
    value.Bind(row_id, nav.BlobReference(1), false);
    value.SetBytes(memo);
    rows.SetBlobReference(row, 1, value.Store(row_id), true);
    blobs.WriteChanges(false);
    rows.WriteChanges(false);
    return row;
  };
  auto memo = [&](uint32_t row) {
    rows.BeginOperation();
    blobs.BeginOperation();
    TZNTRowsetNavigator nav(rows);
    EXPECT_TRUE(nav.SetToRow(row));
    TZNTBlobValue value(blobs, 0);
    value.Bind(nav.RowID(), nav.BlobReference(1), !nav.Value(1).IsNull());
    return value.Bytes();
  };

  const uint32_t first = insert(Prose(1200));
  const uint32_t second = insert(Prose(300, 1));
  TZNTRowsetNavigator nav(rows);
  ASSERT_TRUE(nav.SetToRow(first));
  const TZNTBlobRef old = nav.BlobReference(1);
  const int32_t old_id = nav.RowID();
  rows.BeginOperation();
  rows.DeleteRow(first);
  rows.WriteChanges(false);
  const uint32_t blocks = blobs.Header().next_new_block;

  const uint32_t third = insert(Prose(900, 2));
  EXPECT_EQ(third, first) << "the deleted row's block is reused";
  ASSERT_TRUE(nav.SetToRow(third));
  EXPECT_EQ(nav.BlobReference(1), (TZNTBlobRef{old.first_block, 900}));
  EXPECT_EQ(blobs.Header().next_new_block, blocks) << "written into the old chain";
  EXPECT_EQ(memo(third), Prose(900, 2));
  EXPECT_EQ(memo(second), Prose(300, 1));
  // The chain now names the new row: the old row's reference reads empty.
  blobs.BeginOperation();
  EXPECT_EQ(blobs.ReadBlob(old_id, {old.first_block, 900}, false), "");
  EXPECT_EQ(blobs.ChainLength(old.first_block), 3u) << "the old tail stays linked";
  EXPECT_EQ(blobs.VerifyInvariants(), "");
}

class BlobEncryptionTest : public ::testing::TestWithParam<bool> {};

TEST_P(BlobEncryptionTest, ValuesSurviveReopeningAndAreHiddenWhenEncrypted) {
  TBlobFixture f(GetParam());
  const std::string secret = "Payroll note: " + Prose(1500);
  const TZNTBlobRef plain = f.Write(1, {}, secret);
  const TZNTBlobRef packed = f.Write(2, {}, secret, 9);
  f.Reopen();
  EXPECT_EQ(f.Read(1, plain), secret);
  EXPECT_EQ(f.Read(2, packed, true), secret);
  const bool visible = f.Bytes().find("Payroll note") != std::string::npos;
  EXPECT_EQ(visible, !GetParam());
  f.ExpectSound({plain, packed});
}
INSTANTIATE_TEST_SUITE_P(Blob, BlobEncryptionTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Encrypted" : "Plain"; });

TEST(BlobFileTest, ReadAheadFetchesTheMissingBlocksInOneRead) {
  const struct {
    size_t bytes;
    size_t reads;       // block reads after the cache was emptied
    size_t last_bytes;  // size of the last read
  } cases[] = {
      {400, 1, kBlock},                // one block
      {495 + 503, 2, kBlock},          // the second block alone: nothing to read ahead
      {495 + 9 * 503, 2, 9 * kBlock},  // nine missing blocks in one read
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    TBlobFixture f;
    const TZNTBlobRef ref = f.Write(3, {}, Prose(c.bytes));
    f.Reopen();
    EXPECT_EQ(f.Read(3, ref), Prose(c.bytes));
    std::vector<TCountingFileManager::TIo> reads;
    for (const auto& io : f.counting.Reads(kPath))
      if (io.offset >= kArea) reads.push_back(io);
    ASSERT_EQ(reads.size(), c.reads);
    EXPECT_EQ(reads.front().offset, BlockOffset(1));
    EXPECT_EQ(reads.back().size, c.last_bytes);
  }
}

TEST(BlobFileTest, BrokenChainsRaise601AndForeignChainsReadEmpty) {
  TBlobFixture f;
  const TZNTBlobRef ref = f.Write(4, {}, Prose(1200));  // blocks 1 to 3
  f.blobs->CloseTableFile();
  const std::string good = f.Bytes();
  auto read_patched = [&](uint64_t at, const std::string& bytes, int32_t row_id = 4) {
    testing::WriteWholeFile(f.files, kPath, good);
    if (!bytes.empty()) PatchFile(f.files, kPath, at, bytes);
    f.Open(false);
    std::string out;
    const auto raised = RaisedBy([&] { out = f.Read(row_id, ref); });
    f.blobs->CloseTableFile();
    return std::make_pair(raised, out);
  };
  const std::string bad_type = "The table Notes is corrupt (Invalid BLOB block type found)";
  EXPECT_EQ(read_patched(BlockOffset(1) + 4, std::string(1, '\0')).first.message, bad_type);
  EXPECT_EQ(read_patched(BlockOffset(2) + 4, std::string(1, '\1')).first.message, bad_type);
  EXPECT_EQ(read_patched(BlockOffset(2), LE32(0)).first.message, kShortChain);
  EXPECT_EQ(read_patched(BlockOffset(1), LE32(1)).first.message, bad_type) << "a loop";
  EXPECT_EQ(read_patched(BlockOffset(1) + 9, LE32(0x7FFFFFFF)).first.message, kShortChain);
  const auto raised = read_patched(BlockOffset(2), LE32(9)).first;
  EXPECT_EQ(raised.code, err::Corrupt) << "a link past the file's end";

  auto [none, foreign] = read_patched(0, "", 5);
  EXPECT_EQ(none.code, 0);
  EXPECT_EQ(foreign, "") << "a chain another row left behind";
  auto [none2, past] = read_patched(0, "", 4);
  EXPECT_EQ(past, Prose(1200));
  f.Open(false);
  EXPECT_EQ(f.Read(4, {99, 10}), "") << "a chain past the file's end";
}

TEST(BlobFileTest, ValuesLoadOnFirstUseAndStoreOnlyWhenChanged) {
  TBlobFixture f;
  const TZNTBlobRef ref = f.Write(6, {}, Prose(3000), 6);
  f.Reopen();
  f.blobs->BeginOperation();
  TZNTBlobValue value(*f.blobs, 6);
  value.Bind(6, ref, true);
  EXPECT_FALSE(value.IsLoaded());
  EXPECT_EQ(f.blobs->ReadCount(), 0u) << "nothing read before first use";
  EXPECT_EQ(value.Bytes(), Prose(3000));
  EXPECT_GT(f.blobs->ReadCount(), 0u);
  const uint64_t writes = f.counting.Writes(kPath).size();
  EXPECT_EQ(value.Store(6), ref);
  f.blobs->WriteChanges(false);
  EXPECT_EQ(f.counting.Writes(kPath).size(), writes) << "an unchanged value is not written";

  value.SetBytes("", true);
  EXPECT_TRUE(value.IsNull());
  EXPECT_EQ(value.Store(6), (TZNTBlobRef{ref.first_block, 0}));
  value.Bind(6, {ref.first_block, 0}, false);
  EXPECT_EQ(value.Bytes(), "");
}

}  // namespace
}  // namespace znt
