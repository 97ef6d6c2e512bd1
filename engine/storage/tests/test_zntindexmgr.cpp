// The index file: header and page layouts byte for byte, root splits, the
// shared-key layout, NULL ordering and direction, collations, partial keys,
// the admission rule, and a long randomized run against an in-memory model.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "base/zntcommon.h"
#include "base/zntconsts.h"
#include "base/zntcrypto.h"
#include "storage/tests/table_test_util.h"
#include "storage/zntindexmgr.h"
#include "storage/zntmemfilemgr.h"

namespace znt {
namespace {

using testing::MemoryFileBytes;
using testing::RaisedBy;

const std::string kPath = "/Info/Transactions.ZNTIdx";
const TZNTDataType kInt = TZNTDataType::Of(TZNTTypeCode::Integer);
const TZNTDataType kSmall = TZNTDataType::Of(TZNTTypeCode::SmallInt);

TZNTTableFileSettings Settings(uint32_t page_size = 4096, uint32_t cache_bytes = 65536) {
  TZNTTableFileSettings s;
  s.table_name = "Transactions";
  s.signature_digest = s.default_signature_digest = TZNTDigest::Compute("engine signature");
  s.password_digest = TZNTDigest::Compute("engine password");
  s.index_page_size = page_size;
  s.max_index_buffer_size = cache_bytes;
  return s;
}

TZNTIndexDef Index(std::string name, int kind, std::vector<TZNTIndexKeyColumn> columns) {
  TZNTIndexDef d;
  d.name = std::move(name);
  d.kind = kind;
  d.columns = std::move(columns);
  return d;
}

// Key values: integers for integer columns, text otherwise, nullopt NULL.
using TKey = std::vector<std::optional<std::string>>;
TZNTValues ValuesOf(const TZNTIndexDef& def, const TKey& key) {
  TZNTValues v;
  for (size_t i = 0; i < key.size(); ++i) {
    TZNTValue& x = v.AddContained(def.columns[i].type);
    if (key[i]) x.SetString(*key[i]);
  }
  return v;
}

struct TIndexFile {
  TZNTMemoryFileManager files;
  std::unique_ptr<TZNTIndexManager> mgr;

  TIndexFile(std::vector<TZNTIndexDef> defs, TZNTTableFileSettings s = Settings(),
             bool exclusive = false) {
    mgr = std::make_unique<TZNTIndexManager>(files, kPath, s, std::move(defs));
    mgr->CreateTableFile(exclusive);
  }
  void Insert(size_t index, const TKey& key, int32_t rowid, uint32_t row) {
    TZNTIndexNavigator nav(*mgr, index);
    mgr->BeginOperation();
    nav.InsertKey(ValuesOf(mgr->Def(index), key), rowid, row);
    mgr->WriteChanges(false);
  }
  void Delete(size_t index, const TKey& key, int32_t rowid) {
    TZNTIndexNavigator nav(*mgr, index);
    mgr->BeginOperation();
    nav.DeleteKey(ValuesOf(mgr->Def(index), key), rowid);
    mgr->WriteChanges(false);
  }
  // Row numbers in key order.
  std::vector<uint32_t> Forward(size_t index) {
    TZNTIndexNavigator nav(*mgr, index);
    std::vector<uint32_t> out;
    for (bool ok = nav.First(); ok; ok = nav.Next()) out.push_back(nav.RowNumber());
    return out;
  }
  std::string Bytes() { return MemoryFileBytes(files, kPath); }
};

uint32_t U32(const std::string& s, size_t at) { return LoadLE32(s.data() + at); }
uint16_t U16(const std::string& s, size_t at) { return LoadLE16(s.data() + at); }

TEST(IndexLayoutTest, PrimaryRootLeafByteForByte) {
  TIndexFile f({Index("PK", kZNTIndexPrimary, {{"_ID", kInt}}),
                Index("Name", kZNTIndexPlain, {{"_Name", TZNTDataType::VarChar(4)}})});
  EXPECT_EQ(f.mgr->HeaderLengthBytes(), 96u);  // 54 + 2 × 20, rounded up
  EXPECT_EQ(f.mgr->CacheLimitBuffers(), 16u);
  f.Insert(0, {"7"}, 1, 1);
  f.Insert(0, {"-2"}, 2, 2);
  const std::string b = f.Bytes();
  ASSERT_EQ(b.size(), 8192u + 4096u);
  // Header: index 0 has root 1, one leaf holding two rows; index 1 empty.
  EXPECT_EQ(U32(b, 49), 2u);  // next new block
  EXPECT_EQ(U32(b, 54), 1u);
  EXPECT_EQ(U32(b, 58), 0u);
  EXPECT_EQ(U32(b, 62), 0u);
  EXPECT_EQ(U32(b, 66), 1u);
  EXPECT_EQ(U32(b, 70), 2u);
  EXPECT_EQ(b.substr(74, 20), std::string(20, '\0'));
  // Page 1: no links, level 3, two entries of 5 key bytes + row number.
  const std::string p = b.substr(8192);
  const std::string expected = std::string("\0\0\0\0\3\0\0\0\0\2\0", 11) +
                               std::string("\1\xFE\xFF\xFF\xFF\2\0\0\0", 9) +
                               std::string("\1\7\0\0\0\1\0\0\0", 9);
  EXPECT_EQ(p.substr(0, 29), expected);
  EXPECT_EQ(p.substr(29), std::string(4096 - 29, '\0'));
}

TEST(IndexLayoutTest, SharedKeyEntryHoldsItsReferencesInRowIDOrder) {
  TIndexFile f({Index("Name", kZNTIndexPlain, {{"_Name", TZNTDataType::VarChar(3)}})});
  f.Insert(0, {"ab"}, 9, 4);
  f.Insert(0, {"ab"}, 5, 6);
  f.Insert(0, {std::nullopt}, 2, 3);
  std::string p = f.Bytes().substr(8192);
  // Two entries (NULL first) of 6 key bytes + 2-byte count, then 3 references.
  EXPECT_EQ(p[4], 3);
  EXPECT_EQ(U16(p, 9), 2u);
  EXPECT_EQ(p.substr(11, 8), std::string("\0\0\0\0\0\0\1\0", 8));
  EXPECT_EQ(p.substr(19, 8), std::string("\1\2\0ab\0\2\0", 8));
  EXPECT_EQ(U32(p, 27), 2u);
  EXPECT_EQ(U32(p, 31), 3u);
  EXPECT_EQ(U32(p, 35), 5u);
  EXPECT_EQ(U32(p, 39), 6u);
  EXPECT_EQ(U32(p, 43), 9u);
  EXPECT_EQ(U32(p, 47), 4u);
  // Deleting one of the two leaves the entry with count 1 and the other row.
  f.Delete(0, {"ab"}, 5);
  p = f.Bytes().substr(8192);
  EXPECT_EQ(U16(p, 9), 2u);
  EXPECT_EQ(U16(p, 25), 1u);
  EXPECT_EQ(U32(p, 35), 9u);
  EXPECT_EQ(U32(p, 39), 4u);
  EXPECT_EQ(f.mgr->Counters(0).leaf_refs, 2u);
  EXPECT_EQ(f.mgr->VerifyIndex(0), "");
}

TEST(IndexLayoutTest, OverFullRootLeafSplitsUnderANewRoot) {
  TIndexFile f({Index("PK", kZNTIndexPrimary, {{"_ID", kInt}})});
  const uint32_t per_page = (4096 - 11) / 9;  // 453
  for (uint32_t i = 1; i <= per_page; ++i) f.Insert(0, {std::to_string(i)}, 0, i);
  EXPECT_EQ(f.mgr->Counters(0).leaf_pages, 1u);
  f.Insert(0, {std::to_string(per_page + 1)}, 0, per_page + 1);
  const TZNTIndexCounters c = f.mgr->Counters(0);
  EXPECT_EQ(c.root, 3u);
  EXPECT_EQ(c.leaf_pages, 2u);
  EXPECT_EQ(c.leaf_refs, per_page + 1);
  EXPECT_EQ(c.internal_pages, 0u);
  const std::string b = f.Bytes();
  const std::string p1 = b.substr(8192, 4096), p2 = b.substr(8192 + 4096, 4096);
  const std::string root = b.substr(8192 + 2 * 4096, 4096);
  EXPECT_EQ(p1[4], kZNTLevelLeaf);
  EXPECT_EQ(U32(p1, 0), 2u);  // next
  EXPECT_EQ(U32(p1, 5), 0u);  // prior
  EXPECT_EQ(U16(p1, 9), 227u);
  EXPECT_EQ(U32(p2, 0), 0u);
  EXPECT_EQ(U32(p2, 5), 1u);
  EXPECT_EQ(U16(p2, 9), 227u);
  EXPECT_EQ(root[4], kZNTLevelRoot);
  EXPECT_EQ(U16(root, 5), 2u);
  EXPECT_EQ(root.substr(7, 18), std::string("\1\1\0\0\0\1\0\0\0\1\xE4\0\0\0\2\0\0\0", 18));
  EXPECT_EQ(f.mgr->VerifyIndex(0), "");
  // Deleting every key leaves the index empty.
  for (uint32_t i = 1; i <= per_page + 1; ++i) f.Delete(0, {std::to_string(i)}, 0);
  EXPECT_EQ(f.mgr->Counters(0), TZNTIndexCounters{});
  EXPECT_EQ(f.mgr->Header().first_free_block != 0, true);
}

TEST(IndexKeyTest, NullOrderDirectionCollationAndPartialKeys) {
  TIndexFile f({Index("DateDue", kZNTIndexPlain, {{"_Due", kInt, true}}),
                Index("Asc", kZNTIndexPlain, {{"_Due", kInt}}),
                Index("CI", kZNTIndexPlain,
                      {{"_Name", TZNTDataType::VarChar(10, kCollationANSI_CI)}, {"_N", kSmall}})});
  const std::vector<std::optional<std::string>> due = {"5", std::nullopt, "9", "1"};
  for (int32_t r = 1; r <= 4; ++r) {
    f.Insert(0, {due[r - 1]}, r, r);
    f.Insert(1, {due[r - 1]}, r, r);
  }
  EXPECT_EQ(f.Forward(0), (std::vector<uint32_t>{3, 1, 4, 2}));  // NULL last descending
  EXPECT_EQ(f.Forward(1), (std::vector<uint32_t>{2, 4, 1, 3}));  // NULL first ascending

  f.Insert(2, {"Apple", "2"}, 1, 1);
  f.Insert(2, {"APPLE", "1"}, 2, 2);
  f.Insert(2, {"banana", "1"}, 3, 3);
  f.Insert(2, {"apricot", "1"}, 4, 4);
  EXPECT_EQ(f.Forward(2), (std::vector<uint32_t>{2, 1, 4, 3}));
  TZNTIndexNavigator nav(*f.mgr, 2);
  EXPECT_TRUE(nav.FindByValues(ValuesOf(f.mgr->Def(2), {"apple", "2"})));
  EXPECT_EQ(nav.RowNumber(), 1u);
  // Partial key: the first entry whose first column matches.
  EXPECT_TRUE(nav.FindByValues(ValuesOf(f.mgr->Def(2), {"APPLE"})));
  EXPECT_EQ(nav.RowNumber(), 2u);
  // Prefix search over the first two characters.
  EXPECT_TRUE(nav.FindByValues(ValuesOf(f.mgr->Def(2), {"Apz"}), 2));
  EXPECT_EQ(nav.RowNumber(), 2u);
  EXPECT_FALSE(nav.FindByValues(ValuesOf(f.mgr->Def(2), {"Apz"})));
  EXPECT_EQ(nav.RowNumber(), 3u);  // positioned on the next key
  // A key equal under the collation is a duplicate in a shared entry only by
  // __RowID; the same __RowID again is refused.
  const testing::TRaised dup = RaisedBy([&] { f.Insert(2, {"apple", "2"}, 1, 9); });
  EXPECT_EQ(dup.code, err::Corrupt);
  EXPECT_NE(dup.message.find("The unique index CI contains duplicate keys"), std::string::npos);
  const testing::TRaised gone = RaisedBy([&] { f.Delete(2, {"cherry", "1"}, 7); });
  EXPECT_EQ(gone.code, err::Corrupt);
  EXPECT_NE(gone.message.find("Cannot find index page during retrieval from cache"),
            std::string::npos);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(f.mgr->VerifyIndex(i), "") << i;
}

TEST(IndexAdmissionTest, PageMustHoldFourKeys) {
  const TZNTIndexDef wide = Index("Wide", kZNTIndexPlain, {{"_Text", TZNTDataType::VarChar(1000)}});
  EXPECT_EQ(ZNTIndexKeyLength(wide), 1003u);
  EXPECT_EQ(ZNTRequiredIndexPageSize(wide), 4064u);  // 4 × 1003 + 51 rounded up
  EXPECT_NO_THROW(ZNTCheckIndexPageSize(wide, 4096, "Notes"));
  const TZNTIndexDef wider =
      Index("Wider", kZNTIndexPlain, {{"_Text", TZNTDataType::VarChar(1010)}});
  const testing::TRaised r = RaisedBy([&] { ZNTCheckIndexPageSize(wider, 4096, "Notes"); });
  EXPECT_EQ(r.code, err::Metadata);
  EXPECT_NE(r.message.find("Notes"), std::string::npos);
  EXPECT_NE(r.message.find("The index page size is below the required of 4104"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Randomized run against a model

// Ordered as the three indexes order them: the primary key on an integer,
// a small integer with five values (shared keys), a descending text that may
// be NULL (NULL last).
struct TRow {
  int32_t rowid;
  int32_t id;
  int16_t type;
  std::optional<std::string> name;
};

struct TModelKey {
  std::optional<std::string> name;
  int32_t rowid;
  bool operator<(const TModelKey& o) const {
    if (name != o.name) {
      if (!name) return false;  // NULL last when descending
      if (!o.name) return true;
      return *name > *o.name;
    }
    return rowid < o.rowid;
  }
};

class IndexRandomTest : public ::testing::Test {
 protected:
  // Small pages and a small cache, so that the tree is three levels deep and
  // pages are ejected and parsed again all the time.
  IndexRandomTest()
      : file_({Index("PK", kZNTIndexPrimary, {{"_ID", kInt}}),
               Index("Type", kZNTIndexPlain, {{"_Type", kSmall}}),
               Index("Name", kZNTIndexPlain, {{"_Name", TZNTDataType::VarChar(12), true}})},
              Settings(256, 2048), true) {}

  TKey KeyOf(size_t index, const TRow& r) const {
    if (index == 0) return {std::to_string(r.id)};
    if (index == 1) return {std::to_string(r.type)};
    return {r.name};
  }
  void Add(const TRow& r, uint32_t row) {
    for (size_t i = 0; i < 3; ++i) navs_[i]->InsertKey(Values(i, r), r.rowid, row);
  }
  void Remove(const TRow& r, size_t only = 3) {
    for (size_t i = 0; i < 3; ++i)
      if (only == 3 || only == i) navs_[i]->DeleteKey(Values(i, r), r.rowid);
  }
  TZNTValues Values(size_t index, const TRow& r) {
    return ValuesOf(file_.mgr->Def(index), KeyOf(index, r));
  }

  // The row numbers of every index in key order, checked both ways, with
  // counters, sequence positions and a range on the shared-key index.
  void Check(std::mt19937& rng) {
    std::vector<std::vector<uint32_t>> expected(3);
    std::map<int32_t, uint32_t> by_id;
    std::set<std::pair<int16_t, int32_t>> by_type;
    std::set<TModelKey> by_name;
    for (const auto& [row, r] : rows_) {
      by_id[r.id] = row;
      by_type.insert({r.type, r.rowid});
      by_name.insert({r.name, r.rowid});
    }
    for (const auto& [id, row] : by_id) expected[0].push_back(row);
    for (const auto& [t, rowid] : by_type) expected[1].push_back(row_of_[rowid]);
    for (const TModelKey& k : by_name) expected[2].push_back(row_of_[k.rowid]);
    for (size_t i = 0; i < 3; ++i) {
      SCOPED_TRACE("index " + std::to_string(i));
      ASSERT_EQ(file_.mgr->VerifyIndex(i), "");
      ASSERT_EQ(file_.mgr->Counters(i).leaf_refs, rows_.size());
      deepest_ = std::max(deepest_, file_.mgr->Counters(i).internal_pages);
      TZNTIndexNavigator& nav = *navs_[i];
      std::vector<uint32_t> forward, backward;
      for (bool ok = nav.First(); ok; ok = nav.Next()) forward.push_back(nav.RowNumber());
      for (bool ok = nav.Last(); ok; ok = nav.Prior()) backward.push_back(nav.RowNumber());
      std::reverse(backward.begin(), backward.end());
      ASSERT_EQ(forward, expected[i]);
      ASSERT_EQ(backward, expected[i]);
      if (rows_.empty()) continue;
      const uint32_t n = static_cast<uint32_t>(rows_.size());
      for (uint32_t s : {0u, 1u, n / 3, n / 2, n / 2 + 1, n - 1, n, n + 5}) {
        ASSERT_TRUE(nav.GoToSequence(s));
        const uint32_t at = std::clamp<uint32_t>(s, 1, n);
        ASSERT_EQ(nav.RowNumber(), expected[i][at - 1]) << "sequence " << s;
      }
      ASSERT_TRUE(nav.Last());
      ASSERT_EQ(nav.SequenceNumber(), n);
    }
    // A range on the shared-key index, both ways.
    std::uniform_int_distribution<int> type(0, 4);
    int lo = type(rng), hi = type(rng);
    if (lo > hi) std::swap(lo, hi);
    std::vector<uint32_t> want;
    for (const auto& [t, rowid] : by_type)
      if (t >= lo && t <= hi) want.push_back(row_of_[rowid]);
    TZNTIndexNavigator& nav = *navs_[1];
    TZNTIndexKeyValue start, end;
    file_.mgr->SelectIndex(1);
    file_.mgr->EncodeKey(ValuesOf(file_.mgr->Def(1), {std::to_string(lo)}), 0, start);
    file_.mgr->EncodeKey(ValuesOf(file_.mgr->Def(1), {std::to_string(hi)}), 0, end);
    nav.SetRange(start, end);
    std::vector<uint32_t> forward, backward;
    for (bool ok = nav.First(); ok; ok = nav.Next()) forward.push_back(nav.RowNumber());
    for (bool ok = nav.Last(); ok; ok = nav.Prior()) backward.push_back(nav.RowNumber());
    std::reverse(backward.begin(), backward.end());
    nav.CancelRange();
    ASSERT_EQ(forward, want) << "range " << lo << ".." << hi;
    ASSERT_EQ(backward, want) << "range " << lo << ".." << hi;
  }

  TIndexFile file_;
  std::vector<std::unique_ptr<TZNTIndexNavigator>> navs_;
  std::map<uint32_t, TRow> rows_;       // row number → row
  std::map<int32_t, uint32_t> row_of_;  // __RowID → row number
  uint32_t deepest_ = 0;                // most level-1 pages seen
};

TEST_F(IndexRandomTest, HundredThousandOperationsAgreeWithTheModel) {
  for (size_t i = 0; i < 3; ++i)
    navs_.push_back(std::make_unique<TZNTIndexNavigator>(*file_.mgr, i));
  std::mt19937 rng(20240613);
  std::uniform_int_distribution<int> pct(0, 99);
  std::uniform_int_distribution<int32_t> id_of(1, 1000000);
  std::uniform_int_distribution<int> type_of(0, 4);
  std::uniform_int_distribution<int> name_of(0, 60);
  std::set<int32_t> ids;
  auto fresh_id = [&] {
    int32_t id;
    do id = id_of(rng);
    while (!ids.insert(id).second);
    return id;
  };
  auto name = [&]() -> std::optional<std::string> {
    const int n = name_of(rng);
    if (n == 0) return std::nullopt;
    return "n" + std::to_string(n * 7919 % 1000);
  };
  auto pick = [&]() {
    std::uniform_int_distribution<size_t> at(0, rows_.size() - 1);
    auto it = rows_.begin();
    std::advance(it, static_cast<std::ptrdiff_t>(at(rng)));
    return it;
  };
  int32_t next_rowid = 1;
  uint32_t next_row = 1;
  std::vector<uint32_t> free_rows;
  for (int op = 1; op <= 100000; ++op) {
    file_.mgr->BeginOperation();
    const int p = pct(rng);
    const int insert_share = rows_.size() < 1500 ? 55 : 30;
    if (rows_.empty() || p < insert_share) {
      TRow r{next_rowid++, fresh_id(), static_cast<int16_t>(type_of(rng)), name()};
      uint32_t row = next_row;
      if (!free_rows.empty()) {
        row = free_rows.back();
        free_rows.pop_back();
      } else {
        ++next_row;
      }
      Add(r, row);
      rows_[row] = r;
      row_of_[r.rowid] = row;
    } else if (p < insert_share + 25) {
      // An update: delete and insert the key of each index whose key changed.
      auto it = pick();
      TRow& r = it->second;
      TRow changed = r;
      if (pct(rng) < 40) changed.id = fresh_id();
      if (pct(rng) < 60) changed.type = static_cast<int16_t>(type_of(rng));
      if (pct(rng) < 60) changed.name = name();
      for (size_t i = 0; i < 3; ++i) {
        if (KeyOf(i, r) == KeyOf(i, changed)) continue;
        navs_[i]->DeleteKey(Values(i, r), r.rowid);
        navs_[i]->InsertKey(Values(i, changed), changed.rowid, it->first);
      }
      if (changed.id != r.id) ids.erase(r.id);
      r = changed;
    } else {
      auto it = pick();
      Remove(it->second);
      ids.erase(it->second.id);
      row_of_.erase(it->second.rowid);
      free_rows.push_back(it->first);
      rows_.erase(it);
    }
    if (op % 97 == 0) file_.mgr->WriteChanges(false);
    if (op % 1000 == 0) {
      SCOPED_TRACE("after operation " + std::to_string(op));
      ASSERT_NO_FATAL_FAILURE(Check(rng));
    }
  }
  EXPECT_GT(deepest_, 0u) << "the run never grew a three-level tree";
  // Everything survives a close and a reopen.
  file_.mgr->WriteChanges(false);
  navs_.clear();
  file_.mgr->CloseTableFile();
  file_.mgr->OpenTableFile(true, false);
  for (size_t i = 0; i < 3; ++i)
    navs_.push_back(std::make_unique<TZNTIndexNavigator>(*file_.mgr, i));
  ASSERT_NO_FATAL_FAILURE(Check(rng));
  // Deleting every row leaves every index empty, and dropping is clean too.
  while (!rows_.empty()) {
    auto it = rows_.begin();
    Remove(it->second);
    row_of_.erase(it->second.rowid);
    rows_.erase(it);
  }
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(file_.mgr->Counters(i), TZNTIndexCounters{}) << i;
  EXPECT_EQ(file_.mgr->VerifyInvariants(), "");
}

TEST_F(IndexRandomTest, DroppingOneIndexFreesOnlyItsPages) {
  for (size_t i = 0; i < 3; ++i)
    navs_.push_back(std::make_unique<TZNTIndexNavigator>(*file_.mgr, i));
  for (int32_t k = 1; k <= 400; ++k) {
    TRow r{k, k * 3, static_cast<int16_t>(k % 5), "x" + std::to_string(k % 17)};
    Add(r, static_cast<uint32_t>(k));
    rows_[k] = r;
    row_of_[k] = static_cast<uint32_t>(k);
  }
  file_.mgr->WriteChanges(false);
  const uint32_t pages = file_.mgr->Header().next_new_block - 1;
  const TZNTIndexCounters type = file_.mgr->Counters(1);
  std::vector<int> progress;
  file_.mgr->SelectIndex(1);
  EXPECT_EQ(file_.mgr->DropIndexPages([&](int pc) { progress.push_back(pc); }), 400u);
  EXPECT_EQ(file_.mgr->Counters(1), TZNTIndexCounters{});
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), 100);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  file_.mgr->WriteChanges(false);
  EXPECT_EQ(file_.mgr->VerifyInvariants(), "");
  EXPECT_EQ(file_.Forward(0).size(), 400u);
  // The freed pages come back for the dropped index before the file grows.
  for (int32_t k = 1; k <= 400; ++k) navs_[1]->InsertKey(Values(1, rows_[k]), k, k);
  EXPECT_EQ(file_.mgr->Header().next_new_block - 1, pages);
  EXPECT_EQ(file_.mgr->Counters(1).leaf_pages, type.leaf_pages);
  EXPECT_EQ(file_.mgr->VerifyIndex(1), "");
}

}  // namespace
}  // namespace znt
