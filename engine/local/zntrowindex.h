// The table manager's view of a table's index file, kept apart from the
// catalog: the catalog and the index file each declare an index column type
// of the same name, so no translation unit may see both. Everything here
// speaks in plain column descriptions and values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/znttype.h"
#include "sql/zntvalue.h"
#include "storage/zntrowsetmgr.h"
#include "storage/zntstoremgr.h"

namespace znt {

class TZNTIndexManager;

// One column of an index key: typed as its table column with the index
// column's collation.
struct TZNTTableKeyColumn {
  std::string name;
  TZNTDataType type;
  bool descending = false;
};

// An index as the table manager describes it; `kind` counts as the catalog's
// index type does (0 plain, 1 primary key, 2 foreign key, 3 unique, 4 text).
struct TZNTTableIndexSpec {
  std::string name;
  int kind = 0;
  int32_t word_length = 0;
  std::vector<TZNTTableKeyColumn> columns;

  bool IsText() const noexcept { return kind == 4; }
};

// A table's index file with key operations by index position. Keys are
// values of the index's leading columns, converted by the caller to the key
// column types. Callers bracket operations as the table files require.
class TZNTTableIndexes {
 public:
  // The index file at `path` holding `specs` in catalog order.
  TZNTTableIndexes(TZNTFileManager& files, std::string path, const TZNTTableFileSettings& settings,
                   const std::vector<TZNTTableIndexSpec>& specs);
  ~TZNTTableIndexes();
  TZNTTableIndexes(const TZNTTableIndexes&) = delete;
  TZNTTableIndexes& operator=(const TZNTTableIndexes&) = delete;

  // The index file itself, for the table's file group.
  TZNTTableFileManager& File() noexcept;
  size_t Count() const noexcept;

  // Adds (removes) the key `key` of row `row_number` with __RowID `rowid` to
  // (from) index `index`; error 601 when the exact key is present (missing).
  void InsertKey(size_t index, const TZNTValues& key, int32_t rowid, uint32_t row_number);
  void DeleteKey(size_t index, const TZNTValues& key, int32_t rowid);
  // The row number of the first entry of `index` equal to `key` over its
  // given columns; 0 when there is none.
  uint32_t Find(size_t index, const TZNTValues& key);
  // Whether `a` and `b` (full keys of `index`) encode to different bytes, so
  // that a change in letter case still counts for a case-insensitive index.
  bool KeysDiffer(size_t index, const TZNTValues& a, const TZNTValues& b);
  // The row numbers of `index` in key order.
  std::vector<uint32_t> RowNumbers(size_t index, const TZNTRowsetManager& rows);
  // The rows `index` references, from its header counters.
  uint32_t IndexedRows(size_t index) const;
  // The text of column `column` of the first key of `index` equal to `key`;
  // empty when there is none.
  std::string StoredKeyText(size_t index, const TZNTValues& key, size_t column);
  // Describes the first broken invariant of index `index`, empty when all hold.
  std::string VerifyIndex(size_t index);

 private:
  std::unique_ptr<TZNTIndexManager> mgr_;
};

}  // namespace znt
