#include "local/zntrowindex.h"

#include "storage/zntindexmgr.h"

namespace znt {

namespace {

std::vector<TZNTIndexDef> DefsOf(const std::vector<TZNTTableIndexSpec>& specs) {
  std::vector<TZNTIndexDef> defs;
  defs.reserve(specs.size());
  for (const TZNTTableIndexSpec& s : specs) {
    TZNTIndexDef def;
    def.name = s.name;
    def.kind = s.kind;
    def.word_length = s.word_length;
    for (const TZNTTableKeyColumn& c : s.columns)
      def.columns.push_back({c.name, c.type, c.descending});
    defs.push_back(std::move(def));
  }
  return defs;
}

}  // namespace

TZNTTableIndexes::TZNTTableIndexes(TZNTFileManager& files, std::string path,
                                   const TZNTTableFileSettings& settings,
                                   const std::vector<TZNTTableIndexSpec>& specs)
    : mgr_(std::make_unique<TZNTIndexManager>(files, std::move(path), settings, DefsOf(specs))) {}

TZNTTableIndexes::~TZNTTableIndexes() = default;

TZNTTableFileManager& TZNTTableIndexes::File() noexcept { return *mgr_; }

size_t TZNTTableIndexes::Count() const noexcept { return mgr_->IndexCount(); }

void TZNTTableIndexes::InsertKey(size_t index, const TZNTValues& key, int32_t rowid,
                                 uint32_t row_number) {
  TZNTIndexNavigator nav(*mgr_, index);
  nav.InsertKey(key, rowid, row_number);
}

void TZNTTableIndexes::DeleteKey(size_t index, const TZNTValues& key, int32_t rowid) {
  TZNTIndexNavigator nav(*mgr_, index);
  nav.DeleteKey(key, rowid);
}

uint32_t TZNTTableIndexes::Find(size_t index, const TZNTValues& key) {
  TZNTIndexNavigator nav(*mgr_, index);
  return nav.FindByValues(key) ? nav.RowNumber() : 0;
}

bool TZNTTableIndexes::KeysDiffer(size_t index, const TZNTValues& a, const TZNTValues& b) {
  TZNTIndexKeyValue ka, kb;
  mgr_->SelectIndex(index);
  mgr_->EncodeKey(a, 0, ka);
  mgr_->EncodeKey(b, 0, kb);
  return ka.key != kb.key;
}

std::vector<uint32_t> TZNTTableIndexes::RowNumbers(size_t index, const TZNTRowsetManager& rows) {
  std::vector<uint32_t> out;
  TZNTIndexNavigator nav(*mgr_, index, &rows);
  for (bool ok = nav.First(); ok; ok = nav.Next()) out.push_back(nav.RowNumber());
  return out;
}

uint32_t TZNTTableIndexes::IndexedRows(size_t index) const {
  return mgr_->Counters(index).leaf_refs;
}

std::string TZNTTableIndexes::StoredKeyText(size_t index, const TZNTValues& key, size_t column) {
  TZNTIndexNavigator nav(*mgr_, index);
  return nav.FindByValues(key) ? nav.KeyValue(column).AsString() : std::string();
}

std::string TZNTTableIndexes::VerifyIndex(size_t index) { return mgr_->VerifyIndex(index); }

}  // namespace znt
