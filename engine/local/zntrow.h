// The table manager: one session's access to one base table's files (row
// file, index file and, for tables with BLOB or CLOB columns, blob file),
// built from the catalog's definition. It opens and creates the files under
// the table's object locks and stores, changes, deletes and reads rows,
// keeping every index in step and refusing rows that break NOT NULL, primary
// key or unique rules before anything is written. Each change in shared mode
// is one atomic batch of the table's file group.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "catalog/zntconfig.h"
#include "local/zntlocal.h"
#include "local/zntrowindex.h"
#include "sql/zntvalue.h"
#include "storage/zntblobmgr.h"
#include "storage/zntfilegroup.h"
#include "storage/zntfilemgr.h"
#include "storage/zntlockmgr.h"
#include "storage/zntrowsetmgr.h"

namespace znt {

// The row file's columns of `table`, in column order (__RowID first).
std::vector<TZNTRowsetColumn> ZNTRowsetColumnsOf(const TZNTBaseTable& table);
// The index file's indexes of `table`, in catalog order, each column typed as
// its table column with the index column's collation.
std::vector<TZNTTableIndexSpec> ZNTIndexSpecsOf(const TZNTBaseTable& table);
// What the files of `table` are created and opened with: the catalog's
// storage settings and the engine's digests.
TZNTTableFileSettings ZNTTableFileSettingsOf(const TZNTBaseTable& table,
                                             const TZNTEngineManagerSettings& settings);

// One session's manager of one base table. The catalog table, the file
// manager and the lock manager must outlive it. Not thread-safe: one session
// uses it from one thread at a time.
//
// Row numbers are the row file's block numbers; a row buffer (NewRow) holds
// one strict value per column, __RowID first.
//
// Invariants (checked by CheckInvariants):
//  1. open exactly when every file is open and the table's Shared or
//     Exclusive lock (for the open mode) is held;
//  2. the file group holds the row file, the index file and, when the table
//     has BLOB or CLOB columns, the blob file, in that order;
//  3. between operations this manager holds no Read, Write or Transaction
//     lock it took itself, and no file holds unwritten changes in shared
//     mode;
//  4. every index other than a text index references as many rows as the
//     row file holds.
class TZNTTableManager {
 public:
  // A manager of `table`'s files in `folder`, reached through `files`, locked
  // through `locks` (the database's lock manager of this session); names and
  // digests come from `settings`.
  TZNTTableManager(const TZNTBaseTable& table, std::string folder, TZNTFileManager& files,
                   const TZNTEngineManagerSettings& settings, TZNTLockManager& locks);
  // Closes an open table; a failure to write is swallowed.
  virtual ~TZNTTableManager();
  TZNTTableManager(const TZNTTableManager&) = delete;
  TZNTTableManager& operator=(const TZNTTableManager&) = delete;

  const TZNTBaseTable& Table() const noexcept { return table_; }
  const std::string& Name() const noexcept { return table_.Name(); }
  const std::string& RowFilePath() const noexcept { return row_path_; }
  const std::string& IndexFilePath() const noexcept { return index_path_; }
  // Empty when the table has no BLOB or CLOB column.
  const std::string& BlobFilePath() const noexcept { return blob_path_; }
  bool HasBlobFile() const noexcept { return blobs_ != nullptr; }

  // Creates the table's files from the catalog definition under the table's
  // Transaction and Write locks and closes them again. Files that exist
  // already are left as they are. Only while closed.
  void CreateFiles();
  // Takes the Shared (or Exclusive) lock and opens the files under Read,
  // creating missing ones under Transaction and Write. The lock is given back
  // when opening fails.
  void Open(bool exclusive);
  // Writes pending changes, closes the files and releases the open lock; the
  // first error passes after everything was closed. Closing twice does
  // nothing.
  void Close();
  bool IsOpen() const noexcept { return open_; }
  bool IsExclusive() const noexcept { return open_ && exclusive_; }

  // Whether each write of a change forces the batch to disk (the session's
  // ForceBufferFlush).
  void SetForceFlush(bool force) noexcept { force_flush_ = force; }

  // A row buffer of the table: one NULL strict value per column, named as
  // the column, __RowID first.
  TZNTValues NewRow() const;

  // Stores `row` (a row buffer or any values in column order) as a new row:
  // __RowID and identity values are generated, defaults applied, NOT NULL and
  // the key constraints checked (error 1004), then the row, its BLOBs and
  // every index key are written as one batch. `row` receives the stored
  // values. Returns the new row's number.
  uint32_t Insert(TZNTValues& row);
  // Replaces live row `row_number` with `row` (error 1007 when it is not
  // live); __RowID is kept, identity values and defaults are not touched,
  // index keys move when they changed. `row` receives the stored values.
  void Update(uint32_t row_number, TZNTValues& row);
  // Deletes live row `row_number` and its index keys (error 1007 when it is
  // not live; error 1004 when the stored row breaks NOT NULL).
  void Delete(uint32_t row_number);
  // Reads live row `row_number` into `row`, which is made a row buffer when
  // it holds fewer values than columns (error 1007 when it is not live).
  void ReadRow(uint32_t row_number, TZNTValues& row);

  // The live rows.
  uint32_t RowCount();
  size_t IndexCount() const noexcept { return index_specs_.size(); }
  // The catalog position of the index named `name` (any case); -1 for none.
  int IndexPosition(std::string_view name) const noexcept;
  // The row numbers of index `index` in key order.
  std::vector<uint32_t> IndexRowNumbers(size_t index);
  // The row number of the first entry of index `index` equal to `key` (its
  // leading columns), 0 when there is none.
  uint32_t FindKey(size_t index, const TZNTValues& key);

  // The table's lock object of this session.
  TZNTLockable& Lock() noexcept { return lock_; }
  TZNTRowsetManager& Rows() noexcept { return *rows_; }
  TZNTTableIndexes& Indexes() noexcept { return *indexes_; }
  // Block bytes written by the table's files.
  uint64_t WriteBytes() const noexcept { return group_->WriteBytes(); }

  // Describes the first broken invariant, empty when all hold.
  std::string VerifyInvariants();
  // Asserts VerifyInvariants(); does nothing in a release build.
  void CheckInvariants();

 protected:
  // Gives every NULL column with a default expression its default; this
  // manager evaluates none, the statement layer supplies them.
  virtual void ApplyDefaults(TZNTValues& row);

 private:
  // Converts `from` into the working row (1011 naming the column).
  void LoadWorkRow(const TZNTValues& from);
  // Copies the working row back into `to`.
  void StoreWorkRow(TZNTValues& to) const;
  // Reads live row `row_number` into `out` (BLOB contents included).
  void LoadStoredRow(uint32_t row_number, TZNTValues& out);
  void GenerateValues(TZNTValues& row);
  void CheckNotNull(const TZNTValues& row) const;
  // Error 1004 for a new key of a primary or unique index already present
  // (or NULL in a primary key); `own_row` is the row being updated.
  void CheckKeys(const TZNTValues& row, const TZNTValues* old_row, uint32_t own_row);
  // Values referencing the key columns of index `index` in `row`.
  TZNTValues KeyOf(size_t index, const TZNTValues& row) const;
  // Writes the BLOB and CLOB values of `row` into live row `row_number`'s
  // chains.
  void WriteBlobs(uint32_t row_number, const TZNTValues& row);
  // Adds the key of `row` to every index but the text indexes.
  void StoreKeys(uint32_t row_number, int32_t rowid, const TZNTValues& row);
  [[noreturn]] void RaiseRowDeleted() const;
  // Runs `change` as one change: Read and Transaction locks, the cached
  // change, then the write under Write; discards the cache when a failure
  // came after the change set `touched_`.
  template <class F>
  void RunChange(F&& change);
  template <class F>
  auto RunRead(F&& read);
  void DiscardChanges() noexcept;
  void CloseFiles() noexcept;
  void RequireOpen() const;

  const TZNTBaseTable& table_;
  TZNTFileManager& files_;
  TZNTLockable lock_;
  std::string row_path_, index_path_, blob_path_;
  std::vector<TZNTTableIndexSpec> index_specs_;
  // Per index: the key columns' positions in the row and the constraint it
  // enforces (null for a plain index).
  std::vector<std::vector<size_t>> index_columns_;
  std::vector<const TZNTConstraint*> index_constraints_;
  std::unique_ptr<TZNTRowsetManager> rows_;
  std::unique_ptr<TZNTTableIndexes> indexes_;
  std::unique_ptr<TZNTBlobManager> blobs_;
  std::unique_ptr<TZNTTableFileGroup> group_;
  TZNTValues work_, old_;
  bool open_ = false;
  bool exclusive_ = false;
  bool force_flush_ = false;
  // Set by a change once it starts writing into the cache.
  bool touched_ = false;
};

}  // namespace znt
