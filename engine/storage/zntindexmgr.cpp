#include "storage/zntindexmgr.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "base/zntcommon.h"
#include "base/zntconsts.h"
#include "base/znterror.h"
#include "sql/znttypefunc.h"

namespace znt {

namespace {

constexpr uint32_t kLeafHeader = 11;
constexpr uint32_t kInternalHeader = 7;
constexpr uint32_t kRefSize = 8;

uint32_t SlotBytes(const TZNTDataType& t) { return static_cast<uint32_t>(StorageSize(t)) + 1; }

// The columns a key is stored as: a text index keeps one word.
std::vector<TZNTIndexKeyColumn> StoredColumns(const TZNTIndexDef& def) {
  if (def.kind != kZNTIndexText) return def.columns;
  TZNTIndexKeyColumn word;
  word.name = def.columns.empty() ? std::string("word") : def.columns[0].name;
  word.type = TZNTDataType::VarChar(std::max(def.word_length, 1));
  if (!def.columns.empty()) word.type.collation = def.columns[0].type.collation;
  return {word};
}

// Recomputes the joined flag of item `i` and of the one after it, keeping the
// key bytes of one entry identical.
void Rejoin(TZNTIndexManager& mgr, TZNTIndexPage& page, size_t i, bool shared) {
  auto equal = [&](size_t x, size_t y) {
    return mgr.CompareKeys(reinterpret_cast<const uint8_t*>(page.items[x].key.data()),
                           reinterpret_cast<const uint8_t*>(page.items[y].key.data()),
                           SIZE_MAX) == 0;
  };
  for (size_t k = i; k <= i + 1 && k < page.items.size(); ++k) {
    page.items[k].joined = shared && k > 0 && equal(k - 1, k);
    if (page.items[k].joined) page.items[k].key = page.items[k - 1].key;
  }
  for (size_t k = i + 2; k < page.items.size() && page.items[k].joined; ++k)
    page.items[k].key = page.items[k - 1].key;
}

}  // namespace

uint32_t ZNTIndexKeyLength(const TZNTIndexDef& def) {
  if (def.kind == kZNTIndexText) return static_cast<uint32_t>(def.word_length) + 2;
  uint32_t k = 0;
  for (const TZNTIndexKeyColumn& c : def.columns) k += SlotBytes(c.type);
  return k;
}

uint32_t ZNTRequiredIndexPageSize(const TZNTIndexDef& def) {
  return ZNTRoundUp8(4 * ZNTIndexKeyLength(def) + 51);
}

void ZNTCheckIndexPageSize(const TZNTIndexDef& def, uint32_t page_size, const std::string& table) {
  const uint32_t required = ZNTRequiredIndexPageSize(def);
  if (required <= page_size) return;
  const std::string detail =
      "The index page size is below the required of " + std::to_string(required);
  RaiseZNTError(err::Metadata, {"table", table, detail});
}

// What a page needs to know about its index.
struct TZNTIndexLayout {
  uint32_t key_length = 0;  // stored key bytes
  bool shared = true;
  uint32_t page_size = 0;

  uint32_t Header(bool leaf) const noexcept { return leaf ? kLeafHeader : kInternalHeader; }
  uint32_t EntrySize() const noexcept { return key_length + (shared ? 2 : 4); }
};

// Per index: the layout and the slot values through which stored keys are
// compared and encoded.
struct TZNTIndexManager::TIndexState {
  TZNTIndexLayout layout;
  std::vector<TZNTIndexKeyColumn> columns;
  std::vector<TZNTRowsetColumn> slot_columns;
  std::vector<uint32_t> offsets;
  mutable uint8_t* a_base = nullptr;
  mutable uint8_t* b_base = nullptr;
  std::vector<std::unique_ptr<TZNTRowSlotValue>> a, b;
};

// ---------------------------------------------------------------------------
// Pages

size_t TZNTIndexPage::EntryCount() const noexcept {
  return static_cast<size_t>(
      std::count_if(items.begin(), items.end(), [](const TZNTIndexItem& i) { return !i.joined; }));
}

uint32_t TZNTIndexPage::UsedBytes() const noexcept {
  assert(layout_ != nullptr);
  const uint32_t entries = static_cast<uint32_t>(EntryCount());
  const uint32_t refs = layout_->shared ? static_cast<uint32_t>(items.size()) * kRefSize : 0;
  return layout_->Header(IsLeaf()) + entries * layout_->EntrySize() + refs;
}

bool TZNTIndexPage::ParseBytes(const uint8_t* b, const TZNTIndexLayout& layout,
                               TZNTIndexPage& out) {
  out.items.clear();
  out.level = b[4];
  if (out.level > kZNTLevelRootLeaf) return false;
  const bool leaf = out.level >= kZNTLevelLeaf;
  out.next = leaf ? LoadLE32(b) : 0;
  out.prior = leaf ? LoadLE32(b + 5) : 0;
  const uint32_t count = LoadLE16(b + (leaf ? 9 : 5));
  const uint32_t header = layout.Header(leaf);
  const uint32_t k = layout.key_length;
  if (header + static_cast<uint64_t>(count) * layout.EntrySize() > layout.page_size) return false;
  const uint8_t* e = b + header;
  if (!layout.shared) {
    for (uint32_t i = 0; i < count; ++i, e += layout.EntrySize()) {
      out.items.push_back(
          {std::string(reinterpret_cast<const char*>(e), k), 0, LoadLE32(e + k), false});
    }
    return true;
  }
  const uint8_t* refs = b + header + count * layout.EntrySize();
  const uint8_t* end = b + layout.page_size;
  for (uint32_t i = 0; i < count; ++i, e += layout.EntrySize()) {
    const uint32_t n = LoadLE16(e + k);
    if (n == 0 || refs + static_cast<size_t>(n) * kRefSize > end) return false;
    std::string key(reinterpret_cast<const char*>(e), k);
    for (uint32_t r = 0; r < n; ++r, refs += kRefSize) {
      out.items.push_back({key, static_cast<int32_t>(LoadLE32(refs)), LoadLE32(refs + 4), r != 0});
    }
  }
  return true;
}

void TZNTIndexPage::SerialiseBlock() {
  // A free page (or one never parsed) keeps its bytes; the base stores the link.
  if (layout_ == nullptr) return;
  assert(UsedBytes() <= Size() && "an over-full page is split before it is written");
  uint8_t* b = Bytes();
  std::memset(b, 0, Size());
  const bool leaf = IsLeaf();
  b[4] = level;
  SetNextFree(leaf ? next : 0);
  if (leaf) StoreLE32(b + 5, prior);
  StoreLE16(b + (leaf ? 9 : 5), static_cast<uint16_t>(EntryCount()));
  const uint32_t k = layout_->key_length;
  uint8_t* e = b + layout_->Header(leaf);
  if (!layout_->shared) {
    for (const TZNTIndexItem& it : items) {
      std::memcpy(e, it.key.data(), k);
      StoreLE32(e + k, it.ptr);
      e += layout_->EntrySize();
    }
    return;
  }
  uint8_t* refs = e + EntryCount() * layout_->EntrySize();
  uint8_t* count_at = nullptr;
  for (const TZNTIndexItem& it : items) {
    if (!it.joined) {
      std::memcpy(e, it.key.data(), k);
      count_at = e + k;
      StoreLE16(count_at, 0);
      e += layout_->EntrySize();
    }
    StoreLE16(count_at, static_cast<uint16_t>(LoadLE16(count_at) + 1));
    StoreLE32(refs, static_cast<uint32_t>(it.rowid));
    StoreLE32(refs + 4, it.ptr);
    refs += kRefSize;
  }
}

void TZNTIndexPage::ResetForReuse() {
  TZNTTableFileBuffer::ResetForReuse();
  items.clear();
  level = kZNTLevelRootLeaf;
  next = prior = 0;
  layout_ = nullptr;
}

// ---------------------------------------------------------------------------
// The index file

TZNTIndexManager::TZNTIndexManager(TZNTFileManager& files, std::string path,
                                   TZNTTableFileSettings settings,
                                   std::vector<TZNTIndexDef> indexes)
    : TZNTTableFileManager(files, std::move(path), std::move(settings)),
      defs_(std::move(indexes)),
      counters_(defs_.size()) {
  for (const TZNTIndexDef& def : defs_) {
    auto st = std::make_unique<TIndexState>();
    st->columns = StoredColumns(def);
    uint32_t offset = 0;
    for (const TZNTIndexKeyColumn& c : st->columns) {
      st->slot_columns.push_back({c.name, c.type});
      st->offsets.push_back(offset);
      offset += SlotBytes(c.type);
    }
    st->layout.key_length = offset;
    st->layout.shared = def.SharedKeys();
    st->layout.page_size = Settings().index_page_size;
    for (size_t i = 0; i < st->columns.size(); ++i) {
      st->a.push_back(
          std::make_unique<TZNTRowSlotValue>(st->slot_columns[i], st->offsets[i], &st->a_base));
      st->b.push_back(
          std::make_unique<TZNTRowSlotValue>(st->slot_columns[i], st->offsets[i], &st->b_base));
    }
    states_.push_back(std::move(st));
  }
}

TZNTIndexManager::~TZNTIndexManager() = default;

void TZNTIndexManager::SelectIndex(size_t index) {
  assert(index < defs_.size());
  current_ = index;
}

uint32_t TZNTIndexManager::KeyLength() const { return State().layout.key_length; }

uint32_t TZNTIndexManager::LeafCapacity() const {
  const TZNTIndexLayout& l = State().layout;
  return (l.page_size - kLeafHeader) / (l.EntrySize() + (l.shared ? kRefSize : 0));
}

uint32_t TZNTIndexManager::HeaderLength() const {
  return ZNTRoundUp8(kZNTCommonHeaderLength +
                     kZNTIndexHeaderFieldsLength * static_cast<uint32_t>(defs_.size()));
}

uint32_t TZNTIndexManager::CacheLimit() const {
  return std::max(Settings().max_index_buffer_size / Settings().index_page_size,
                  kZNTFewestIndexBuffers);
}

std::unique_ptr<TZNTTableFileBuffer> TZNTIndexManager::NewBuffer() {
  return std::make_unique<TZNTIndexPage>(Settings().index_page_size);
}

void TZNTIndexManager::InitKindHeader() {
  std::fill(counters_.begin(), counters_.end(), TZNTIndexCounters{});
}

void TZNTIndexManager::ParseKindHeader(const uint8_t* h) {
  for (size_t i = 0; i < counters_.size(); ++i) {
    const uint8_t* p = h + kZNTCommonHeaderLength + kZNTIndexHeaderFieldsLength * i;
    counters_[i] = {LoadLE32(p), LoadLE32(p + 4), LoadLE32(p + 8), LoadLE32(p + 12),
                    LoadLE32(p + 16)};
  }
}

void TZNTIndexManager::SerialiseKindHeader(uint8_t* h) const {
  for (size_t i = 0; i < counters_.size(); ++i) {
    uint8_t* p = h + kZNTCommonHeaderLength + kZNTIndexHeaderFieldsLength * i;
    const TZNTIndexCounters& c = counters_[i];
    StoreLE32(p, c.root);
    StoreLE32(p + 4, c.internal_pages);
    StoreLE32(p + 8, c.internal_refs);
    StoreLE32(p + 12, c.leaf_pages);
    StoreLE32(p + 16, c.leaf_refs);
  }
}

bool TZNTIndexManager::Revalidate() {
  const bool dropped = BeginOperation();
  if (dropped) ++generation_;
  return dropped;
}

TZNTBlockPin TZNTIndexManager::GetPage(uint32_t n) {
  TZNTBlockPin pin = GetBlock(n);
  TZNTIndexPage& page = pin.As<TZNTIndexPage>();
  const TZNTIndexLayout& layout = State().layout;
  if (page.layout_ != &layout) {
    if (!TZNTIndexPage::ParseBytes(page.Bytes(), layout, page))
      RaiseCorrupt("The index page " + std::to_string(n) + " does not fit its index");
    page.layout_ = &layout;
  }
  return pin;
}

void TZNTIndexManager::CountItems(const TZNTIndexPage& page, int delta) {
  TZNTIndexCounters& c = Mutable();
  if (page.IsLeaf())
    c.leaf_refs += static_cast<uint32_t>(delta);
  else if (page.level == kZNTLevelInternal)
    c.internal_refs += static_cast<uint32_t>(delta);
}

TZNTBlockPin TZNTIndexManager::TakePage(uint8_t level) {
  CheckWritable();
  TZNTBlockPin pin = AllocateBlock();
  TZNTIndexPage& page = pin.As<TZNTIndexPage>();
  page.items.clear();
  page.next = page.prior = 0;
  page.level = level;
  page.layout_ = &State().layout;
  page.MarkDirty();
  if (level == kZNTLevelInternal) ++Mutable().internal_pages;
  if (page.IsLeaf()) ++Mutable().leaf_pages;
  MarkHeaderChanged();
  return pin;
}

void TZNTIndexManager::FreePage(TZNTIndexPage& page) {
  if (page.level == kZNTLevelInternal) --Mutable().internal_pages;
  if (page.IsLeaf()) --Mutable().leaf_pages;
  page.items.clear();
  page.layout_ = nullptr;
  std::memset(page.Bytes(), 0, page.Size());
  FreeBlock(page);
  MarkHeaderChanged();
}

void TZNTIndexManager::DropSubtree(uint32_t n, uint32_t& done,
                                   const std::function<void(int)>& progress) {
  std::vector<uint32_t> children;
  {
    TZNTBlockPin pin = GetPage(n);
    TZNTIndexPage& page = pin.As<TZNTIndexPage>();
    if (page.IsLeaf()) {
      done += static_cast<uint32_t>(page.items.size());
      FreePage(page);
      if (progress) {
        const uint32_t total = std::max<uint32_t>(Counters().leaf_refs, 1);
        progress(static_cast<int>(std::min<uint64_t>(100, 100ull * done / total)));
      }
      return;
    }
    for (const TZNTIndexItem& it : page.items) children.push_back(it.ptr);
  }
  for (uint32_t c : children) DropSubtree(c, done, progress);
  TZNTBlockPin pin = GetPage(n);
  FreePage(pin.As<TZNTIndexPage>());
}

uint32_t TZNTIndexManager::DropIndexPages(const std::function<void(int)>& progress) {
  CheckWritable();
  uint32_t done = 0;
  if (Counters().root != 0) DropSubtree(Counters().root, done, progress);
  Mutable() = TZNTIndexCounters{};
  MarkHeaderChanged();
  return done;
}

int TZNTIndexManager::CompareKeys(const uint8_t* a, const uint8_t* b, size_t columns,
                                  size_t prefix) const {
  const TIndexState& st = State();
  st.a_base = const_cast<uint8_t*>(a);
  st.b_base = const_cast<uint8_t*>(b);
  const size_t n = std::min(columns, st.columns.size());
  for (size_t i = 0; i < n; ++i) {
    const TZNTRowSlotValue& va = *st.a[i];
    const TZNTRowSlotValue& vb = *st.b[i];
    const bool na = va.IsNull(), nb = vb.IsNull();
    int c;
    if (na || nb) {
      c = na == nb ? 0 : (na ? -1 : 1);
    } else {
      const TZNTDataType& t = st.columns[i].type;
      const size_t limit = i + 1 == n ? prefix : std::string_view::npos;
      c = CompareValuesCollated(va, vb, t.code == TZNTTypeCode::Char ? t.collation : 0, limit);
    }
    if (c != 0) {
      c = c < 0 ? -1 : 1;
      return st.columns[i].descending ? -c : c;
    }
  }
  return 0;
}

void TZNTIndexManager::EncodeKey(const TZNTValues& values, int32_t rowid, TZNTIndexKeyValue& out,
                                 size_t prefix) const {
  const TIndexState& st = State();
  out.key.assign(st.layout.key_length, 0);
  out.rowid = rowid;
  out.columns = std::min(values.Count(), st.columns.size());
  out.prefix = prefix;
  uint8_t* base = out.key.data();
  for (size_t i = 0; i < out.columns; ++i) {
    TZNTRowSlotValue slot(st.slot_columns[i], st.offsets[i], &base);
    slot.Assign(values[i]);
  }
}

std::string TZNTIndexManager::VerifyKindInvariants() {
  const size_t saved = current_;
  for (size_t i = 0; i < defs_.size(); ++i) {
    std::string problem = VerifyIndex(i);
    if (!problem.empty()) {
      current_ = saved;
      return "index " + defs_[i].name + ": " + problem;
    }
  }
  current_ = saved;
  return {};
}

std::string TZNTIndexManager::VerifyIndex(size_t index) {
  const size_t saved = current_;
  current_ = index;
  const TIndexState& st = State();
  const TZNTIndexCounters& c = counters_[index];
  struct TRestore {
    size_t& at;
    size_t value;
    ~TRestore() { at = value; }
  } restore{current_, saved};
  if (c.root == 0) {
    if (!(c == TZNTIndexCounters{})) return "empty index with non-zero counters";
    return {};
  }
  TZNTIndexCounters seen;
  seen.root = c.root;
  std::vector<uint8_t> scratch;
  std::vector<uint32_t> leaves;
  int leaf_depth = -1;
  auto less = [&](const TZNTIndexItem& x, const TZNTIndexItem& y) {
    const int k = CompareKeys(reinterpret_cast<const uint8_t*>(x.key.data()),
                              reinterpret_cast<const uint8_t*>(y.key.data()), SIZE_MAX);
    return k != 0 ? k < 0 : (st.layout.shared && x.rowid < y.rowid);
  };
  std::function<std::string(uint32_t, int, const TZNTIndexItem*)> walk =
      [&](uint32_t n, int depth, const TZNTIndexItem* parent) -> std::string {
    const std::string at = "page " + std::to_string(n) + ": ";
    const uint8_t* bytes = PeekBlock(n, scratch);
    if (bytes == nullptr) return at + "missing";
    TZNTIndexPage page(st.layout.page_size);
    if (!TZNTIndexPage::ParseBytes(bytes, st.layout, page)) return at + "does not parse";
    page.layout_ = &st.layout;
    const bool root = depth == 0;
    if (root != page.IsRoot()) return at + "level " + std::to_string(page.level) + " misplaced";
    if (!root && page.items.empty()) return at + "empty";
    if (page.UsedBytes() > st.layout.page_size) return at + "over-full";
    for (size_t i = 0; i < page.items.size(); ++i) {
      const TZNTIndexItem& it = page.items[i];
      if (i > 0 && !less(page.items[i - 1], it)) return at + "items out of order";
      const bool equal =
          i > 0 && CompareKeys(reinterpret_cast<const uint8_t*>(page.items[i - 1].key.data()),
                               reinterpret_cast<const uint8_t*>(it.key.data()), SIZE_MAX) == 0;
      if (it.joined != (st.layout.shared && equal)) return at + "entry grouping wrong";
    }
    if (parent != nullptr && !page.items.empty() &&
        (page.items[0].key != parent->key || page.items[0].rowid != parent->rowid))
      return at + "parent key is not the first key";
    if (page.IsLeaf()) {
      if (leaf_depth >= 0 && leaf_depth != depth) return at + "leaves at different depths";
      leaf_depth = depth;
      ++seen.leaf_pages;
      seen.leaf_refs += static_cast<uint32_t>(page.items.size());
      const uint32_t expected_prior = leaves.empty() ? 0 : leaves.back();
      if (page.prior != expected_prior) return at + "previous link broken";
      leaves.push_back(n);
      return {};
    }
    if (page.level == kZNTLevelInternal) {
      ++seen.internal_pages;
      seen.internal_refs += static_cast<uint32_t>(page.items.size());
    }
    const std::vector<TZNTIndexItem> items = page.items;
    for (const TZNTIndexItem& it : items) {
      std::string problem = walk(it.ptr, depth + 1, &it);
      if (!problem.empty()) return problem;
    }
    return {};
  };
  std::string problem = walk(c.root, 0, nullptr);
  if (!problem.empty()) return problem;
  for (size_t i = 0; i < leaves.size(); ++i) {
    const uint8_t* bytes = PeekBlock(leaves[i], scratch);
    const uint32_t next = LoadLE32(bytes);
    const uint32_t expected = i + 1 < leaves.size() ? leaves[i + 1] : 0;
    if (next != expected) return "page " + std::to_string(leaves[i]) + ": next link broken";
  }
  if (!(seen == c)) {
    return "counters " + std::to_string(c.internal_pages) + "/" + std::to_string(c.internal_refs) +
           "/" + std::to_string(c.leaf_pages) + "/" + std::to_string(c.leaf_refs) +
           " but the tree holds " + std::to_string(seen.internal_pages) + "/" +
           std::to_string(seen.internal_refs) + "/" + std::to_string(seen.leaf_pages) + "/" +
           std::to_string(seen.leaf_refs);
  }
  return {};
}

// ---------------------------------------------------------------------------
// Navigator

TZNTIndexNavigator::TZNTIndexNavigator(TZNTIndexManager& indexes, size_t index,
                                       const TZNTRowsetManager* rows)
    : mgr_(indexes), index_(index), rows_(rows) {
  SelectIndex();
  const TZNTIndexManager::TIndexState& st = mgr_.State();
  key_image_.assign(st.layout.key_length, 0);
  key_base_ = key_image_.data();
  for (size_t i = 0; i < st.columns.size(); ++i) {
    key_values_.push_back(
        std::make_unique<TZNTRowSlotValue>(st.slot_columns[i], st.offsets[i], &key_base_));
  }
  generation_ = mgr_.CacheGeneration();
}

TZNTIndexNavigator::~TZNTIndexNavigator() = default;

void TZNTIndexNavigator::SelectIndex() { mgr_.SelectIndex(index_); }

uint32_t TZNTIndexNavigator::RowCount() const {
  if (rows_ != nullptr) return rows_->RowCount();
  return mgr_.Counters(index_).leaf_refs;
}

int TZNTIndexNavigator::CompareItem(const TZNTIndexItem& item, const TZNTIndexKeyValue& key) const {
  const TZNTIndexManager::TIndexState& st = mgr_.State();
  int c = mgr_.CompareKeys(reinterpret_cast<const uint8_t*>(item.key.data()), key.key.data(),
                           key.columns, key.prefix);
  // __RowID 0 (no row has it) stands for "any row": range ends and searches
  // by values compare on the key alone.
  if (c == 0 && st.layout.shared && key.rowid != 0 && key.columns >= st.columns.size() &&
      key.prefix == std::string_view::npos)
    c = item.rowid < key.rowid ? -1 : (item.rowid > key.rowid ? 1 : 0);
  return c;
}

TZNTIndexKeyValue TZNTIndexNavigator::ExactOf(const TZNTIndexItem& item) const {
  TZNTIndexKeyValue k;
  k.key.assign(item.key.begin(), item.key.end());
  k.rowid = item.rowid;
  k.columns = mgr_.State().columns.size();
  return k;
}

void TZNTIndexNavigator::SetCurrent(const TZNTIndexItem& item, uint32_t page, size_t pos) {
  current_ = item;
  has_ = true;
  page_ = page;
  pos_ = pos;
  generation_ = mgr_.CacheGeneration();
  std::memcpy(key_image_.data(), item.key.data(), key_image_.size());
}

bool TZNTIndexNavigator::Descend(const TZNTIndexKeyValue& key, TSeek seek,
                                 std::vector<TStep>& path) {
  path.clear();
  uint32_t n = mgr_.Counters().root;
  if (n == 0) return false;
  for (;;) {
    TZNTBlockPin pin = mgr_.GetPage(n);
    const TZNTIndexPage& page = pin.As<TZNTIndexPage>();
    const auto& items = page.items;
    if (!page.IsLeaf()) {
      if (items.empty()) mgr_.RaiseCorrupt("The index page is empty");
      // The last child whose first item lies below the key (at or below for
      // LastAtOrBelow); the first child when there is none.
      size_t lo = 0, hi = items.size();
      while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        const int c = CompareItem(items[mid], key);
        if (seek == TSeek::LowerBound ? c < 0 : c <= 0)
          lo = mid + 1;
        else
          hi = mid;
      }
      const size_t pos = lo == 0 ? 0 : lo - 1;
      path.push_back({n, pos});
      n = items[pos].ptr;
      continue;
    }
    size_t lo = 0, hi = items.size();
    while (lo < hi) {
      const size_t mid = (lo + hi) / 2;
      const int c = CompareItem(items[mid], key);
      if (seek == TSeek::LowerBound ? c < 0 : c <= 0)
        lo = mid + 1;
      else
        hi = mid;
    }
    // LastAtOrBelow: lo is one past the wanted item, and SIZE_MAX marks "none
    // here".
    path.push_back({n, seek == TSeek::LowerBound ? lo : (lo == 0 ? SIZE_MAX : lo - 1)});
    return true;
  }
}

bool TZNTIndexNavigator::Settle(std::vector<TStep>& path, bool forward) {
  TStep leaf = path.back();
  for (;;) {
    TZNTBlockPin pin = mgr_.GetPage(leaf.page);
    const TZNTIndexPage& page = pin.As<TZNTIndexPage>();
    if (forward && leaf.pos < page.items.size()) {
      SetCurrent(page.items[leaf.pos], leaf.page, leaf.pos);
      return true;
    }
    if (!forward && leaf.pos != SIZE_MAX && leaf.pos < page.items.size()) {
      SetCurrent(page.items[leaf.pos], leaf.page, leaf.pos);
      return true;
    }
    const uint32_t to = forward ? page.next : page.prior;
    if (to == 0) {
      has_ = false;
      return false;
    }
    pin.Release();
    TZNTBlockPin other = mgr_.GetPage(to);
    const size_t size = other.As<TZNTIndexPage>().items.size();
    leaf = {to, forward ? 0 : (size == 0 ? SIZE_MAX : size - 1)};
  }
}

bool TZNTIndexNavigator::BelowStart() const {
  return ranged_ &&
         mgr_.CompareKeys(key_image_.data(), start_.key.data(), start_.columns, start_.prefix) < 0;
}

bool TZNTIndexNavigator::AboveEnd() const {
  return ranged_ &&
         mgr_.CompareKeys(key_image_.data(), end_.key.data(), end_.columns, end_.prefix) > 0;
}

bool TZNTIndexNavigator::InRange() const { return !has_ || (!BelowStart() && !AboveEnd()); }

int TZNTIndexNavigator::CompareKey(const TZNTIndexKeyValue& key, size_t columns) const {
  return mgr_.CompareKeys(key_image_.data(), key.key.data(), std::min(columns, key.columns),
                          key.prefix);
}

TZNTIndexFindResult TZNTIndexNavigator::Find(const TZNTIndexKeyValue& key, bool honour_range) {
  SelectIndex();
  TZNTIndexFindResult result;
  result.restart = mgr_.CacheGeneration() != generation_;
  generation_ = mgr_.CacheGeneration();
  std::vector<TStep> path;
  const TZNTIndexKeyValue* target = &key;
  if (honour_range && ranged_) {
    // Outside the range the search goes to its nearer end.
    if (mgr_.CompareKeys(key.key.data(), start_.key.data(), start_.columns, start_.prefix) < 0)
      target = &start_;
    else if (mgr_.CompareKeys(key.key.data(), end_.key.data(), end_.columns, end_.prefix) > 0) {
      if (!Last()) return result;
      result.positioned = true;
      result.compare = CompareKey(key, key.columns);
      return result;
    }
  }
  if (!Descend(*target, TSeek::LowerBound, path) || !Settle(path, true)) {
    has_ = false;
    return result;
  }
  if (honour_range && AboveEnd()) {
    has_ = false;
    return result;
  }
  result.positioned = true;
  result.compare = CompareKey(key, key.columns);
  return result;
}

bool TZNTIndexNavigator::FindByValues(const TZNTValues& values, size_t prefix) {
  SelectIndex();
  mgr_.EncodeKey(values, 0, search_, prefix);
  const TZNTIndexFindResult r = Find(search_, true);
  return r.positioned && r.compare == 0;
}

bool TZNTIndexNavigator::First() {
  SelectIndex();
  if (ranged_) return Find(start_, true).positioned;
  std::vector<TStep> path;
  TZNTIndexKeyValue none;  // zero columns: compares equal to everything
  if (!Descend(none, TSeek::LowerBound, path)) return has_ = false;
  return Settle(path, true);
}

bool TZNTIndexNavigator::Last() {
  SelectIndex();
  std::vector<TStep> path;
  const TZNTIndexKeyValue none;
  const TZNTIndexKeyValue& bound = ranged_ ? end_ : none;
  if (!Descend(bound, TSeek::LastAtOrBelow, path) || !Settle(path, false)) return has_ = false;
  if (BelowStart()) return has_ = false;
  return true;
}

bool TZNTIndexNavigator::Step(bool forward) {
  SelectIndex();
  if (!has_) return false;
  std::vector<TStep> path;
  bool placed = false;
  if (generation_ == mgr_.CacheGeneration() && mgr_.IsCached(page_) &&
      page_ < mgr_.Header().next_new_block) {
    // Only a page already parsed for this index is trusted; it may have been
    // freed and reused by another index since.
    TZNTBlockPin pin = mgr_.GetBlock(page_);
    const TZNTIndexPage& page = pin.As<TZNTIndexPage>();
    if (page.Layout() == &mgr_.State().layout && page.IsLeaf() && pos_ < page.items.size()) {
      const TZNTIndexItem& it = page.items[pos_];
      if (it.key == current_.key && it.rowid == current_.rowid && it.ptr == current_.ptr) {
        path.push_back({page_, forward ? pos_ + 1 : (pos_ == 0 ? SIZE_MAX : pos_ - 1)});
        placed = true;
      }
    }
  }
  if (!placed) {
    // The index changed since: find the place again by the current key.
    const TZNTIndexKeyValue exact = ExactOf(current_);
    if (!Descend(exact, TSeek::LowerBound, path)) return has_ = false;
    TStep& leaf = path.back();
    TZNTBlockPin pin = mgr_.GetPage(leaf.page);
    const TZNTIndexPage& page = pin.As<TZNTIndexPage>();
    const bool still_there =
        leaf.pos < page.items.size() && CompareItem(page.items[leaf.pos], exact) == 0;
    if (forward)
      leaf.pos += still_there ? 1 : 0;
    else
      leaf.pos = leaf.pos == 0 ? SIZE_MAX : leaf.pos - 1;
  }
  const TZNTIndexItem saved = current_;
  const uint32_t saved_page = page_;
  const size_t saved_pos = pos_;
  if (!Settle(path, forward) || (forward ? AboveEnd() : BelowStart())) {
    // Stay on the last entry within reach, as a cursor at an end does.
    SetCurrent(saved, saved_page, saved_pos);
    return false;
  }
  return true;
}

bool TZNTIndexNavigator::Next() { return Step(true); }
bool TZNTIndexNavigator::Prior() { return Step(false); }

bool TZNTIndexNavigator::GoToSequence(uint32_t s) {
  SelectIndex();
  const bool ranged = ranged_;
  ranged_ = false;
  struct TRestore {
    bool& flag;
    bool value;
    ~TRestore() { flag = value; }
  } restore{ranged_, ranged};
  const uint32_t rows = mgr_.Counters().leaf_refs;
  if (s > rows) return Last();
  if (s > rows / 2) {
    if (!Last()) return false;
    for (uint32_t i = s; i < rows; ++i) Prior();
    return true;
  }
  if (!First()) return false;
  for (uint32_t i = 1; i < s; ++i) Next();
  return true;
}

uint32_t TZNTIndexNavigator::SequenceNumber() {
  SelectIndex();
  if (!has_) return 0;
  std::vector<TStep> path;
  if (!Descend(ExactOf(current_), TSeek::LowerBound, path)) return 0;
  const TZNTIndexCounters& c = mgr_.Counters();
  uint64_t n = 0;
  for (const TStep& step : path) {
    TZNTBlockPin pin = mgr_.GetPage(step.page);
    const TZNTIndexPage& page = pin.As<TZNTIndexPage>();
    const bool leaf = page.IsLeaf();
    // The last entry's number is exact: the rows indexed.
    if (leaf && page.next == 0 && step.pos + 1 == page.items.size()) return c.leaf_refs;
    const uint64_t a = leaf ? (c.leaf_pages ? c.leaf_refs / c.leaf_pages : 0)
                            : (c.internal_pages ? c.internal_refs / c.internal_pages : 0);
    n = n + n * a + step.pos;
  }
  return static_cast<uint32_t>(std::min<uint64_t>(n, c.leaf_refs));
}

void TZNTIndexNavigator::SetRange(const TZNTIndexKeyValue& start, const TZNTIndexKeyValue& end) {
  start_ = start;
  end_ = end;
  ranged_ = true;
}

bool TZNTIndexNavigator::RefreshKey() {
  if (!has_) return false;
  const TZNTIndexKeyValue exact = ExactOf(current_);
  std::vector<TStep> path;
  if (!Descend(exact, TSeek::LowerBound, path) || !Settle(path, true)) return has_ = false;
  if (CompareItem(current_, exact) != 0) return has_ = false;
  return true;
}

// Replaces the parent's item for `child` by the child's first item.
void TZNTIndexNavigator::ReplaceParentKey(const TStep& parent, const TZNTIndexPage& child) {
  TZNTBlockPin pin = mgr_.GetPage(parent.page);
  TZNTIndexPage& p = pin.As<TZNTIndexPage>();
  TZNTIndexItem& it = p.items[parent.pos];
  it.key = child.items.front().key;
  it.rowid = child.items.front().rowid;
  Rejoin(mgr_, p, parent.pos, mgr_.State().layout.shared);
  p.MarkDirty();
}

void TZNTIndexNavigator::InsertKey(const TZNTValues& values, int32_t rowid, uint32_t row_number) {
  SelectIndex();
  mgr_.CheckWritable();
  const TZNTIndexManager::TIndexState& st = mgr_.State();
  TZNTIndexKeyValue key;
  mgr_.EncodeKey(values, st.layout.shared ? rowid : 0, key);
  key.columns = st.columns.size();
  TZNTIndexItem item{std::string(key.key.begin(), key.key.end()), key.rowid, row_number, false};
  has_ = false;
  if (mgr_.Counters().root == 0) {
    TZNTBlockPin pin = mgr_.TakePage(kZNTLevelRootLeaf);
    TZNTIndexPage& page = pin.As<TZNTIndexPage>();
    page.items.push_back(item);
    mgr_.CountItems(page, 1);
    mgr_.Mutable().root = page.BlockNumber();
    mgr_.MarkHeaderChanged();
    return;
  }
  std::vector<TStep> path;
  Descend(key, TSeek::LowerBound, path);
  const TStep leaf = path.back();
  {
    TZNTBlockPin pin = mgr_.GetPage(leaf.page);
    TZNTIndexPage& page = pin.As<TZNTIndexPage>();
    bool duplicate = leaf.pos < page.items.size() && CompareItem(page.items[leaf.pos], key) == 0;
    if (!duplicate && leaf.pos == page.items.size() && page.next != 0) {
      TZNTBlockPin next = mgr_.GetPage(page.next);
      const auto& items = next.As<TZNTIndexPage>().items;
      duplicate = !items.empty() && CompareItem(items.front(), key) == 0;
    }
    if (duplicate)
      mgr_.RaiseCorrupt("The unique index " + mgr_.Def(index_).name + " contains duplicate keys");
    page.items.insert(page.items.begin() + static_cast<std::ptrdiff_t>(leaf.pos), item);
    Rejoin(mgr_, page, leaf.pos, st.layout.shared);
    mgr_.CountItems(page, 1);
    page.MarkDirty();
    mgr_.MarkHeaderChanged();
  }
  Repair(path, path.size() - 1, leaf.pos == 0);
}

// The upward repair: splits over-full pages and refreshes the parents' keys
// while a first key changed.
void TZNTIndexNavigator::Repair(std::vector<TStep>& path, size_t depth, bool first_changed) {
  const TZNTIndexLayout& layout = mgr_.State().layout;
  for (;;) {
    TZNTBlockPin pin = mgr_.GetPage(path[depth].page);
    TZNTIndexPage& page = pin.As<TZNTIndexPage>();
    if (page.UsedBytes() <= layout.page_size) {
      if (depth == 0 || !first_changed || page.items.empty()) return;
      ReplaceParentKey(path[depth - 1], page);
      first_changed = path[depth - 1].pos == 0;
      --depth;
      continue;
    }
    // Split: the lower part stays, the upper part moves to a new page.
    const size_t count = page.items.size();
    size_t keep = count - count / 2;
    TZNTIndexPage probe(layout.page_size);
    probe.layout_ = &layout;
    probe.level = page.IsLeaf() ? kZNTLevelLeaf : kZNTLevelInternal;
    for (;;) {
      probe.items.assign(page.items.begin() + static_cast<std::ptrdiff_t>(keep), page.items.end());
      probe.items.front().joined = false;
      if (probe.UsedBytes() <= layout.page_size || keep + 1 >= count) break;
      ++keep;
    }
    const bool was_root = page.IsRoot();
    TZNTBlockPin fresh = mgr_.TakePage(page.IsLeaf() ? kZNTLevelLeaf : kZNTLevelInternal);
    TZNTIndexPage& upper = fresh.As<TZNTIndexPage>();
    upper.items = std::move(probe.items);
    page.items.resize(keep);
    if (page.level == kZNTLevelInternal || page.IsLeaf()) {
      mgr_.CountItems(page, -static_cast<int>(upper.items.size()));
    }
    if (page.IsLeaf()) {
      upper.prior = page.BlockNumber();
      upper.next = page.next;
      if (page.next != 0) {
        TZNTBlockPin after = mgr_.GetPage(page.next);
        after.As<TZNTIndexPage>().prior = upper.BlockNumber();
        after->MarkDirty();
      }
      page.next = upper.BlockNumber();
    }
    if (was_root) {
      // The tree grows by one level: a new root over the two halves.
      if (page.level == kZNTLevelRootLeaf) {
        page.level = kZNTLevelLeaf;
      } else {
        page.level = kZNTLevelInternal;
        ++mgr_.Mutable().internal_pages;
        mgr_.CountItems(page, static_cast<int>(page.items.size()));
      }
      mgr_.CountItems(upper, static_cast<int>(upper.items.size()));
      TZNTBlockPin top = mgr_.TakePage(kZNTLevelRoot);
      TZNTIndexPage& root = top.As<TZNTIndexPage>();
      TZNTIndexItem lower_item = page.items.front();
      lower_item.ptr = page.BlockNumber();
      lower_item.joined = false;
      TZNTIndexItem upper_item = upper.items.front();
      upper_item.ptr = upper.BlockNumber();
      root.items = {lower_item, upper_item};
      Rejoin(mgr_, root, 1, layout.shared);
      mgr_.Mutable().root = root.BlockNumber();
      page.MarkDirty();
      mgr_.MarkHeaderChanged();
      return;
    }
    mgr_.CountItems(upper, static_cast<int>(upper.items.size()));
    page.MarkDirty();
    TZNTIndexItem up = upper.items.front();
    up.ptr = upper.BlockNumber();
    const TStep parent = path[depth - 1];
    pin.Release();
    fresh.Release();
    {
      TZNTBlockPin ppin = mgr_.GetPage(parent.page);
      TZNTIndexPage& p = ppin.As<TZNTIndexPage>();
      if (first_changed) {
        TZNTBlockPin again = mgr_.GetPage(path[depth].page);
        const TZNTIndexItem& first = again.As<TZNTIndexPage>().items.front();
        p.items[parent.pos].key = first.key;
        p.items[parent.pos].rowid = first.rowid;
        Rejoin(mgr_, p, parent.pos, layout.shared);
      }
      p.items.insert(p.items.begin() + static_cast<std::ptrdiff_t>(parent.pos + 1), up);
      Rejoin(mgr_, p, parent.pos + 1, layout.shared);
      mgr_.CountItems(p, 1);
      p.MarkDirty();
    }
    first_changed = first_changed && parent.pos == 0;
    --depth;
  }
}

void TZNTIndexNavigator::DeleteKey(const TZNTValues& values, int32_t rowid) {
  SelectIndex();
  mgr_.CheckWritable();
  const TZNTIndexManager::TIndexState& st = mgr_.State();
  TZNTIndexKeyValue key;
  mgr_.EncodeKey(values, st.layout.shared ? rowid : 0, key);
  key.columns = st.columns.size();
  has_ = false;
  const std::string missing = "Cannot find index page during retrieval from cache";
  std::vector<TStep> path;
  if (!Descend(key, TSeek::LowerBound, path)) {
    if (mgr_.Def(index_).kind == kZNTIndexText) return;
    mgr_.RaiseCorrupt(missing);
  }
  {
    // An exact key past the end of its leaf is the next leaf's first.
    TZNTBlockPin pin = mgr_.GetPage(path.back().page);
    const TZNTIndexPage& page = pin.As<TZNTIndexPage>();
    if (path.back().pos == page.items.size() && page.next != 0) {
      pin.Release();
      std::vector<TStep> again;
      TZNTIndexKeyValue probe = key;
      Descend(probe, TSeek::LastAtOrBelow, again);
      path = again;
    }
  }
  TStep& leaf = path.back();
  TZNTBlockPin pin = mgr_.GetPage(leaf.page);
  TZNTIndexPage& page = pin.As<TZNTIndexPage>();
  if (leaf.pos == SIZE_MAX || leaf.pos >= page.items.size() ||
      CompareItem(page.items[leaf.pos], key) != 0) {
    if (mgr_.Def(index_).kind == kZNTIndexText) return;
    mgr_.RaiseCorrupt(missing);
  }
  page.items.erase(page.items.begin() + static_cast<std::ptrdiff_t>(leaf.pos));
  if (leaf.pos < page.items.size()) Rejoin(mgr_, page, leaf.pos, st.layout.shared);
  mgr_.CountItems(page, -1);
  page.MarkDirty();
  mgr_.MarkHeaderChanged();
  pin.Release();
  Restructure(path, path.size() - 1, leaf.pos == 0);
}

// Frees empty pages, merges an under-full leaf into its predecessor, shrinks
// the tree at the root, and refreshes parent keys on the way up.
void TZNTIndexNavigator::Restructure(std::vector<TStep>& path, size_t depth, bool first_changed) {
  const TZNTIndexLayout& layout = mgr_.State().layout;
  for (;;) {
    TZNTBlockPin pin = mgr_.GetPage(path[depth].page);
    TZNTIndexPage& page = pin.As<TZNTIndexPage>();
    if (depth == 0) {
      if (page.level == kZNTLevelRootLeaf) {
        if (page.items.empty()) {
          mgr_.FreePage(page);
          mgr_.Mutable().root = 0;
        }
        return;
      }
      if (page.items.empty()) {
        mgr_.FreePage(page);
        mgr_.Mutable().root = 0;
        return;
      }
      if (page.items.size() == 1) {
        const uint32_t child = page.items.front().ptr;
        mgr_.FreePage(page);
        pin.Release();
        TZNTBlockPin cpin = mgr_.GetPage(child);
        TZNTIndexPage& c = cpin.As<TZNTIndexPage>();
        if (c.IsLeaf()) {
          c.level = kZNTLevelRootLeaf;
          c.next = c.prior = 0;
        } else {
          mgr_.CountItems(c, -static_cast<int>(c.items.size()));
          --mgr_.Mutable().internal_pages;
          c.level = kZNTLevelRoot;
        }
        c.MarkDirty();
        mgr_.Mutable().root = child;
        mgr_.MarkHeaderChanged();
      }
      return;
    }
    const TStep parent = path[depth - 1];
    bool remove_from_parent = false;
    if (page.items.empty()) {
      if (page.IsLeaf()) {
        if (page.prior != 0) {
          TZNTBlockPin p = mgr_.GetPage(page.prior);
          p.As<TZNTIndexPage>().next = page.next;
          p->MarkDirty();
        }
        if (page.next != 0) {
          TZNTBlockPin n = mgr_.GetPage(page.next);
          n.As<TZNTIndexPage>().prior = page.prior;
          n->MarkDirty();
        }
      }
      mgr_.FreePage(page);
      remove_from_parent = true;
    } else if (page.IsLeaf() && page.prior != 0 && page.items.size() * 2 < mgr_.LeafCapacity()) {
      TZNTBlockPin ppin = mgr_.GetPage(page.prior);
      TZNTIndexPage& before = ppin.As<TZNTIndexPage>();
      if (layout.page_size - page.UsedBytes() >= before.UsedBytes()) {
        const size_t at = before.items.size();
        before.items.insert(before.items.end(), page.items.begin(), page.items.end());
        Rejoin(mgr_, before, at, layout.shared);
        before.next = page.next;
        before.MarkDirty();
        if (page.next != 0) {
          TZNTBlockPin n = mgr_.GetPage(page.next);
          n.As<TZNTIndexPage>().prior = before.BlockNumber();
          n->MarkDirty();
        }
        mgr_.CountItems(page, -static_cast<int>(page.items.size()));
        mgr_.CountItems(before, static_cast<int>(page.items.size()));
        page.items.clear();
        mgr_.FreePage(page);
        remove_from_parent = true;
      }
    }
    if (remove_from_parent) {
      pin.Release();
      TZNTBlockPin ppin = mgr_.GetPage(parent.page);
      TZNTIndexPage& p = ppin.As<TZNTIndexPage>();
      p.items.erase(p.items.begin() + static_cast<std::ptrdiff_t>(parent.pos));
      if (parent.pos < p.items.size()) Rejoin(mgr_, p, parent.pos, layout.shared);
      mgr_.CountItems(p, -1);
      p.MarkDirty();
      first_changed = parent.pos == 0;
      --depth;
      continue;
    }
    // Nothing more to restructure: refresh the keys above while the first
    // key changed.
    pin.Release();
    Repair(path, depth, first_changed);
    return;
  }
}

}  // namespace znt
