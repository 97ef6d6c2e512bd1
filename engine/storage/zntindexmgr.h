// The index file of a table: every index of the table as a B-tree of pages
// from the one free chain of the file, leaves linked both ways in key order.
// Keys are column slots in the row encoding and compare by type, collation
// and direction, never byte by byte.
//
// Header after the common 54 bytes: 20 bytes per index, in the catalog's
// index order: 0 root page (0 when empty), 4 level-1 page count, 8
// references in level-1 pages, 12 leaf pages (levels 2 and 3), 16
// references in leaves (the rows indexed).
//
// Page: 0 next leaf (a free page: next free page), 4 level (0 root with
// children, 1 internal, 2 leaf, 3 root leaf), then for leaves 5 previous
// leaf and 9 entry count, for levels 0 and 1 the entry count at 5. Entries
// follow. Primary layout (primary keys): key, then a 4-byte row or child
// number. Shared-key layout (every other index): key, then a 2-byte
// reference count; after the entries the references of all entries in order,
// 8 bytes each: __RowID, then the row or child number. In internal pages
// each reference (or primary entry) is one child and holds its first key.
//
// In memory a page is a flat list of items (key, __RowID, pointer) in order;
// an item "joined" to the one before it shares that item's entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sql/zntvalue.h"
#include "storage/zntrowsetmgr.h"
#include "storage/zntstoremgr.h"

namespace znt {

// Index kinds as the catalog stores them; only the primary key uses the
// one-row-per-entry layout.
inline constexpr int kZNTIndexPlain = 0;
inline constexpr int kZNTIndexPrimary = 1;
inline constexpr int kZNTIndexForeign = 2;
inline constexpr int kZNTIndexUnique = 3;
inline constexpr int kZNTIndexText = 4;

// Page levels.
inline constexpr uint8_t kZNTLevelRoot = 0;
inline constexpr uint8_t kZNTLevelInternal = 1;
inline constexpr uint8_t kZNTLevelLeaf = 2;
inline constexpr uint8_t kZNTLevelRootLeaf = 3;

inline constexpr uint32_t kZNTIndexHeaderFieldsLength = 20;
inline constexpr uint32_t kZNTFewestIndexBuffers = 8;

// One column of an index.
struct TZNTIndexKeyColumn {
  std::string name;
  TZNTDataType type;  // its collation is the index column's
  bool descending = false;
};

// An index as the catalog describes it.
struct TZNTIndexDef {
  std::string name;
  int kind = kZNTIndexPlain;
  std::vector<TZNTIndexKeyColumn> columns;
  // Text indexes only: the indexed word length.
  int32_t word_length = 0;

  bool SharedKeys() const noexcept { return kind != kZNTIndexPrimary; }
};

// The key length: the slot sizes of the columns (a text index: word + 2).
uint32_t ZNTIndexKeyLength(const TZNTIndexDef& def);
// The smallest page size that holds four keys: roundup8(4 × key + 51).
uint32_t ZNTRequiredIndexPageSize(const TZNTIndexDef& def);
// Raises error 100 ("The index page size is below the required of <n>") for
// `table` when `page_size` holds fewer than four keys of `def`.
void ZNTCheckIndexPageSize(const TZNTIndexDef& def, uint32_t page_size, const std::string& table);

// The header fields of one index.
struct TZNTIndexCounters {
  uint32_t root = 0;
  uint32_t internal_pages = 0;
  uint32_t internal_refs = 0;
  uint32_t leaf_pages = 0;
  uint32_t leaf_refs = 0;
  bool operator==(const TZNTIndexCounters&) const = default;
};

// A key with its __RowID, encoded as stored: the slots of `columns` leading
// index columns (fewer than all for a partial key), the last compared over
// its first `prefix` characters when set.
struct TZNTIndexKeyValue {
  std::vector<uint8_t> key;
  int32_t rowid = 0;
  size_t columns = 0;
  size_t prefix = std::string_view::npos;
};

// One item of a page: a reference (shared-key layout) or an entry (primary).
struct TZNTIndexItem {
  std::string key;      // the key's K bytes
  int32_t rowid = 0;    // 0 in the primary layout
  uint32_t ptr = 0;     // row number in leaves, child page above
  bool joined = false;  // shares the entry of the item before it
};

struct TZNTIndexLayout;

// The buffer of one index page. It is parsed lazily, when the manager knows
// which index (hence which key length and layout) it belongs to.
class TZNTIndexPage : public TZNTTableFileBuffer {
 public:
  explicit TZNTIndexPage(uint32_t page_size) : TZNTTableFileBuffer(page_size) {}

  uint8_t level = kZNTLevelRootLeaf;
  uint32_t next = 0;  // leaves only
  uint32_t prior = 0;
  std::vector<TZNTIndexItem> items;

  bool IsLeaf() const noexcept { return level >= kZNTLevelLeaf; }
  bool IsRoot() const noexcept { return level == kZNTLevelRoot || level == kZNTLevelRootLeaf; }
  // Entries: items that start an entry.
  size_t EntryCount() const noexcept;
  // Header + entries × entry size + references × 8 (shared-key layout).
  uint32_t UsedBytes() const noexcept;
  // The layout the items were parsed with or made for; null until then.
  const TZNTIndexLayout* Layout() const noexcept { return layout_; }

  // Parses `bytes` of a live page of `layout` into the fields (static so that
  // checks can parse copies); false when the bytes do not fit the layout.
  static bool ParseBytes(const uint8_t* bytes, const TZNTIndexLayout& layout, TZNTIndexPage& out);

 protected:
  void ParseBlock() override { layout_ = nullptr; }
  void SerialiseBlock() override;
  void ResetForReuse() override;

 private:
  friend class TZNTIndexManager;
  friend class TZNTIndexNavigator;
  const TZNTIndexLayout* layout_ = nullptr;
};

// The index file. Callers bracket operations as TZNTTableFileManager says.
// All indexes share the file; SelectIndex picks the one the page and counter
// calls work on.
//
// Invariants of every index (checked by CheckInvariants, beyond the base):
//  1. root 0 means every counter is 0; a root is of level 0 or 3, every
//     other page of level 1 or 2, and all leaves lie at the same depth;
//  2. the items of a page ascend strictly by key, then (shared-key layout)
//     by __RowID; an item is joined exactly when its key equals the one
//     before it; no page but the root is empty, none is over-full;
//  3. an item of a level-0 or level-1 page holds its child's first key and
//     __RowID; the first item of a subtree is at or above its parent item;
//  4. the leaves form one chain in key order by their next and previous
//     links, 0 at both ends;
//  5. the counters equal the level-1 pages, their references, the leaves
//     and their references.
class TZNTIndexManager : public TZNTTableFileManager {
 public:
  TZNTIndexManager(TZNTFileManager& files, std::string path, TZNTTableFileSettings settings,
                   std::vector<TZNTIndexDef> indexes);
  ~TZNTIndexManager() override;

  size_t IndexCount() const noexcept { return defs_.size(); }
  const TZNTIndexDef& Def(size_t index) const { return defs_[index]; }
  // Makes `index` the one the calls below work on.
  void SelectIndex(size_t index);
  size_t CurrentIndex() const noexcept { return current_; }
  const TZNTIndexCounters& Counters(size_t index) const { return counters_[index]; }
  const TZNTIndexCounters& Counters() const { return counters_[current_]; }
  uint32_t KeyLength() const;
  // Page size less the leaf header over entry + reference size.
  uint32_t LeafCapacity() const;

  // The pinned page `n` of the current index, parsed.
  TZNTBlockPin GetPage(uint32_t n);
  // A page of level `level` for the current index, from the free chain or
  // new, empty and counted.
  TZNTBlockPin TakePage(uint8_t level);
  // Uncounts the pinned page and pushes it on the free chain.
  void FreePage(TZNTIndexPage& page);
  // Frees every page of the current index and clears its counters; `progress`
  // gets the percentage of rows done. Returns the references dropped.
  uint32_t DropIndexPages(const std::function<void(int)>& progress = {});

  // Compares stored key `a` with key `b` over their first `columns` columns,
  // the last of them over `prefix` characters: <0, 0, >0 in index order.
  int CompareKeys(const uint8_t* a, const uint8_t* b, size_t columns,
                  size_t prefix = std::string_view::npos) const;
  // Encodes `values` (the first `values.Count()` index columns) into `out`.
  void EncodeKey(const TZNTValues& values, int32_t rowid, TZNTIndexKeyValue& out,
                 size_t prefix = std::string_view::npos) const;

  // Goes up by one whenever BeginOperation drops the cache, so navigators can
  // tell that their positions may be stale.
  uint64_t CacheGeneration() const noexcept { return generation_; }
  // BeginOperation, counting a dropped cache; true when it was dropped.
  bool Revalidate();

  // Describes the first broken invariant of index `index`, empty when all
  // hold.
  std::string VerifyIndex(size_t index);

 protected:
  uint32_t HeaderLength() const override;
  uint32_t DefaultHeaderArea() const override { return kZNTIndexFileHeaderArea; }
  uint32_t BlockSize() const override { return Settings().index_page_size; }
  uint32_t CacheLimit() const override;
  uint32_t ProbeCount() const override { return 4; }
  uint32_t GrowthStep() const override { return 4; }
  const char* KindWord() const override { return "index page"; }
  std::unique_ptr<TZNTTableFileBuffer> NewBuffer() override;
  void InitKindHeader() override;
  void ParseKindHeader(const uint8_t* header) override;
  void SerialiseKindHeader(uint8_t* header) const override;
  void EmptyKindHeader() override { InitKindHeader(); }
  std::string VerifyKindInvariants() override;

 private:
  friend class TZNTIndexNavigator;
  struct TIndexState;

  TIndexState& State() const { return *states_[current_]; }
  TZNTIndexCounters& Mutable() { return counters_[current_]; }
  void CountItems(const TZNTIndexPage& page, int delta);
  void DropSubtree(uint32_t n, uint32_t& done, const std::function<void(int)>& progress);

  std::vector<TZNTIndexDef> defs_;
  std::vector<std::unique_ptr<TIndexState>> states_;
  std::vector<TZNTIndexCounters> counters_;
  size_t current_ = 0;
  uint64_t generation_ = 0;
};

// What a find tells its caller.
struct TZNTIndexFindResult {
  bool positioned = false;  // the navigator has a current entry
  int compare = 0;          // the entry found against the key (given columns only)
  bool restart = false;     // the page cache was dropped underneath: start again
};

// Walks one index in key order, finds keys and changes the index. The
// current entry is a copy, so nothing stays pinned between operations; a
// move after the index changed finds its place again by the current key.
class TZNTIndexNavigator {
 public:
  // `rows` (optional) answers RowCount from the row file header.
  TZNTIndexNavigator(TZNTIndexManager& indexes, size_t index,
                     const TZNTRowsetManager* rows = nullptr);
  ~TZNTIndexNavigator();
  TZNTIndexNavigator(const TZNTIndexNavigator&) = delete;
  TZNTIndexNavigator& operator=(const TZNTIndexNavigator&) = delete;

  // The rows of the table: the row file's count, or the rows indexed.
  uint32_t RowCount() const;
  // Makes this navigator's index the manager's current one.
  void SelectIndex();

  // Positions on the first entry not less than `key` (the first of the range
  // when `honour_range` and the key lies below it, the last when above).
  TZNTIndexFindResult Find(const TZNTIndexKeyValue& key, bool honour_range = true);
  // Find with `values` (leading index columns) and __RowID 0, the last value
  // compared over `prefix` characters; true when an equal entry was found.
  bool FindByValues(const TZNTValues& values, size_t prefix = std::string_view::npos);
  // Adds `values` (every index column) for row `row_number` with __RowID
  // `rowid`. Error 601 when the exact key is present already.
  void InsertKey(const TZNTValues& values, int32_t rowid, uint32_t row_number);
  // Removes the key of `values` and `rowid`. Error 601 when it is missing
  // (ignored by a text index).
  void DeleteKey(const TZNTValues& values, int32_t rowid);

  // Moves in key order within the active range; false (and no current entry
  // for First and Last) when there is nowhere to go.
  bool First();
  bool Last();
  bool Next();
  bool Prior();
  // Positions on the s-th entry (1-based; 0 and 1 the first, beyond the count
  // the last), stepping from the nearer end with the range set aside.
  bool GoToSequence(uint32_t s);
  // The estimate of the current entry's position from the header counters.
  uint32_t SequenceNumber();

  // Limits navigation to keys from `start` to `end` (each over its own given
  // columns).
  void SetRange(const TZNTIndexKeyValue& start, const TZNTIndexKeyValue& end);
  void CancelRange() noexcept { ranged_ = false; }
  bool HasRange() const noexcept { return ranged_; }
  // Whether the current key lies in the range (true without one).
  bool InRange() const;

  bool HasEntry() const noexcept { return has_; }
  // The current row number; 0 without a current entry.
  uint32_t RowNumber() const noexcept { return has_ ? current_.ptr : 0; }
  // The current __RowID (0 in the primary layout).
  int32_t RowIDValue() const noexcept { return has_ ? current_.rowid : 0; }
  // Column `column` of the current key.
  const TZNTValue& KeyValue(size_t column) const { return *key_values_[column]; }
  // The current key against `key` over `columns` columns.
  int CompareKey(const TZNTIndexKeyValue& key, size_t columns) const;
  // Reads the current entry again from its page (after the cache was
  // dropped); false when it is gone.
  bool RefreshKey();

 private:
  struct TStep {
    uint32_t page;
    size_t pos;
  };
  enum class TSeek { LowerBound, LastAtOrBelow };

  // Descends for `key`, recording the path; the leaf position is where the
  // seek puts it, possibly one past the end of the leaf. False when empty.
  bool Descend(const TZNTIndexKeyValue& key, TSeek seek, std::vector<TStep>& path);
  // Makes the item at the path's leaf position current, stepping to the next
  // (or for LastAtOrBelow the previous) leaf when past an end.
  bool Settle(std::vector<TStep>& path, bool forward);
  void SetCurrent(const TZNTIndexItem& item, uint32_t page, size_t pos);
  int CompareItem(const TZNTIndexItem& item, const TZNTIndexKeyValue& key) const;
  bool Step(bool forward);
  bool BelowStart() const;
  bool AboveEnd() const;
  void Repair(std::vector<TStep>& path, size_t depth, bool first_changed);
  void Restructure(std::vector<TStep>& path, size_t depth, bool first_changed);
  void ReplaceParentKey(const TStep& parent, const TZNTIndexPage& child);
  TZNTIndexKeyValue ExactOf(const TZNTIndexItem& item) const;

  TZNTIndexManager& mgr_;
  size_t index_;
  const TZNTRowsetManager* rows_;
  bool has_ = false;
  TZNTIndexItem current_;
  uint32_t page_ = 0;
  size_t pos_ = 0;
  uint64_t generation_ = 0;
  bool ranged_ = false;
  TZNTIndexKeyValue start_, end_;
  TZNTIndexKeyValue search_;
  std::vector<uint8_t> key_image_;
  uint8_t* key_base_ = nullptr;
  std::vector<std::unique_ptr<TZNTRowSlotValue>> key_values_;
};

}  // namespace znt
