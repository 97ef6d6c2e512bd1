#include "local/zntrow.h"

#include <cassert>
#include <exception>
#include <optional>

#include "base/zntconsts.h"
#include "base/znterror.h"
#include "base/zntstring.h"

namespace znt {

namespace {

const TZNTColumn& ColumnByID(const TZNTBaseTable& table, int32_t id) {
  const TZNTColumn* c = table.columns.FindID(id);
  if (c == nullptr) RaiseZNTError(err::Metadata, {"column " + std::to_string(id)});
  return *c;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  const char last = folder.back();
  return last == '/' || last == '\\' ? folder + name : folder + "/" + name;
}

}  // namespace

std::vector<TZNTRowsetColumn> ZNTRowsetColumnsOf(const TZNTBaseTable& table) {
  std::vector<TZNTRowsetColumn> out;
  out.reserve(static_cast<size_t>(table.columns.Count()));
  for (const TZNTColumn& c : table.columns) {
    TZNTRowsetColumn rc;
    rc.name = c.Name();
    rc.type = c.type;
    rc.computed = c.computed;
    rc.identity = c.identity;
    rc.identity_start = c.identitySeed;
    rc.identity_increment = c.identityIncrement;
    out.push_back(std::move(rc));
  }
  return out;
}

std::vector<TZNTTableIndexSpec> ZNTIndexSpecsOf(const TZNTBaseTable& table) {
  std::vector<TZNTTableIndexSpec> out;
  for (const TZNTIndex& index : table.indexes) {
    TZNTTableIndexSpec def;
    def.name = index.Name();
    def.kind = static_cast<int>(index.indexType);
    def.word_length = index.indexedWordLength;
    for (const TZNTIndexColumn& ic : index.columns) {
      const TZNTColumn& c = ColumnByID(table, ic.columnId);
      TZNTDataType type = c.type;
      type.collation = ic.collation;
      def.columns.push_back({c.Name(), type, ic.descending});
    }
    out.push_back(std::move(def));
  }
  return out;
}

TZNTTableFileSettings ZNTTableFileSettingsOf(const TZNTBaseTable& table,
                                             const TZNTEngineManagerSettings& settings) {
  TZNTTableFileSettings s;
  s.table_name = table.Name();
  s.encrypted = table.encrypted;
  s.internal_version = table.internalVersion;
  s.signature_digest = settings.SignatureDigest();
  s.default_signature_digest = settings.DefaultSignatureDigest();
  s.password_digest = settings.PasswordDigest();
  s.system_table = table.System();
  s.temporary = table.Temporary();
  s.in_memory = table.InMemory();
  s.max_row_buffer_size = static_cast<uint32_t>(table.MaxRowBufferSize());
  s.max_index_buffer_size = static_cast<uint32_t>(table.MaxIndexBufferSize());
  s.max_blob_buffer_size = static_cast<uint32_t>(table.MaxBlobBufferSize());
  s.index_page_size = static_cast<uint32_t>(table.IndexPageSize());
  s.blob_block_size = static_cast<uint32_t>(table.BlobBlockSize());
  return s;
}

TZNTTableManager::TZNTTableManager(const TZNTBaseTable& table, std::string folder,
                                   TZNTFileManager& files,
                                   const TZNTEngineManagerSettings& settings,
                                   TZNTLockManager& locks)
    : table_(table), files_(files), index_specs_(ZNTIndexSpecsOf(table)) {
  lock_ = TZNTLockable::Table(&locks, table.Name(), static_cast<uint32_t>(table.lockNumber));
  // Temporary and system tables are private to the session and take no locks.
  lock_.SetTemporary(table.Temporary() || table.System());

  const std::string base = JoinPath(folder, table.Name());
  row_path_ = base + settings.TableExtension();
  index_path_ = base + settings.TableIndexExtension();
  const TZNTTableFileSettings file_settings = ZNTTableFileSettingsOf(table, settings);
  std::vector<TZNTRowsetColumn> columns = ZNTRowsetColumnsOf(table);
  bool has_blob = false;
  for (const TZNTRowsetColumn& c : columns) has_blob = has_blob || (c.type.IsBlob() && !c.computed);

  rows_ = std::make_unique<TZNTRowsetManager>(files, row_path_, file_settings, std::move(columns));
  indexes_ = std::make_unique<TZNTTableIndexes>(files, index_path_, file_settings, index_specs_);
  std::vector<TZNTTableFileManager*> members{rows_.get(), &indexes_->File()};
  if (has_blob) {
    blob_path_ = base + settings.TableBlobExtension();
    blobs_ = std::make_unique<TZNTBlobManager>(files, blob_path_, file_settings);
    members.push_back(blobs_.get());
  }
  group_ = std::make_unique<TZNTTableFileGroup>(std::move(members));

  for (const TZNTIndex& index : table.indexes) {
    std::vector<size_t> positions;
    for (const TZNTIndexColumn& ic : index.columns)
      positions.push_back(
          static_cast<size_t>(table.columns.IndexOf(ColumnByID(table, ic.columnId))));
    index_columns_.push_back(std::move(positions));
    const TZNTConstraint* owner = nullptr;
    if (index.indexType == TZNTIndexType::PrimaryKey || index.indexType == TZNTIndexType::Unique)
      owner = table.constraints.FindID(index.ownerConstraintId);
    index_constraints_.push_back(owner);
  }
  work_ = NewRow();
  old_ = NewRow();
}

TZNTTableManager::~TZNTTableManager() {
  try {
    Close();
  } catch (...) {
    // A destructor cannot report; the journal repairs an interrupted batch.
  }
}

void TZNTTableManager::RequireOpen() const {
  if (!open_) RaiseZNTError(err::MustBeOpen, {"table", Name(), "row operation"});
}

void TZNTTableManager::CreateFiles() {
  assert(!open_);
  TZNTObjectLock transaction(lock_, TZNTLockKind::Transaction);
  TZNTObjectLock write(lock_, TZNTLockKind::Write);
  try {
    for (size_t i = 0; i < group_->Count(); ++i) group_->Member(i).CreateTableFile(false);
  } catch (...) {
    CloseFiles();
    throw;
  }
  group_->Close();
  write.Release();
  transaction.Release();
}

void TZNTTableManager::Open(bool exclusive) {
  if (open_) return;
  const TZNTLockKind kind = exclusive ? TZNTLockKind::Exclusive : TZNTLockKind::Shared;
  const bool took = lock_.Lock(kind);
  try {
    bool missing = false;
    for (size_t i = 0; i < group_->Count(); ++i)
      missing = missing || !files_.FileExists(group_->Member(i).Path());
    if (missing) {
      // Creating writes the files: no other session may read them half made.
      TZNTObjectLock transaction(lock_, TZNTLockKind::Transaction);
      TZNTObjectLock write(lock_, TZNTLockKind::Write);
      for (size_t i = 0; i < group_->Count(); ++i) group_->Member(i).CreateTableFile(exclusive);
      write.Release();
      transaction.Release();
    } else {
      TZNTObjectLock read(lock_, TZNTLockKind::Read);
      for (size_t i = 0; i < group_->Count(); ++i)
        group_->Member(i).OpenTableFile(exclusive, false);
      read.Release();
    }
    for (size_t i = 0; i < group_->Count(); ++i) group_->Member(i).SetForceFlush(force_flush_);
  } catch (...) {
    CloseFiles();
    if (took) {
      try {
        lock_.Unlock(kind);
      } catch (...) {
        // The first error is the one worth reporting.
      }
    }
    throw;
  }
  open_ = true;
  exclusive_ = exclusive;
}

void TZNTTableManager::Close() {
  if (!open_) return;
  open_ = false;
  std::exception_ptr first;
  try {
    group_->Close();
  } catch (...) {
    first = std::current_exception();
  }
  try {
    lock_.Unlock(exclusive_ ? TZNTLockKind::Exclusive : TZNTLockKind::Shared);
  } catch (...) {
    if (!first) first = std::current_exception();
  }
  exclusive_ = false;
  if (first) std::rethrow_exception(first);
}

void TZNTTableManager::CloseFiles() noexcept {
  for (size_t i = 0; i < group_->Count(); ++i) {
    TZNTTableFileManager& m = group_->Member(i);
    if (!m.IsOpen()) continue;
    try {
      m.DropCache();
      m.CloseTableFile();
    } catch (...) {
      // Closing after a failure: the stream is closed in any case.
    }
  }
}

void TZNTTableManager::DiscardChanges() noexcept {
  for (size_t i = 0; i < group_->Count(); ++i) {
    TZNTTableFileManager& m = group_->Member(i);
    if (!m.IsOpen()) continue;
    try {
      m.DropCache();
      m.ReadHeader(false);
    } catch (...) {
      // The next operation rereads the header and reports what is wrong.
    }
  }
}

template <class F>
void TZNTTableManager::RunChange(F&& change) {
  RequireOpen();
  std::optional<TZNTObjectLock> read(std::in_place, lock_, TZNTLockKind::Read);
  TZNTObjectLock transaction(lock_, TZNTLockKind::Transaction);
  group_->BeginOperation();
  touched_ = false;
  try {
    change();
    // Read and Write share the session's byte: Read must go first.
    read->Release();
    read.reset();
    if (!exclusive_) {
      TZNTObjectLock write(lock_, TZNTLockKind::Write);
      group_->WriteChanges(force_flush_);
      write.Release();
    }
  } catch (...) {
    // A row refused by its checks left the cache untouched, and in exclusive
    // mode the cache still holds earlier unwritten changes worth keeping.
    if (touched_) DiscardChanges();
    throw;
  }
  transaction.Release();
}

template <class F>
auto TZNTTableManager::RunRead(F&& read) {
  RequireOpen();
  TZNTObjectLock lock(lock_, TZNTLockKind::Read);
  group_->BeginOperation();
  return read();
}

TZNTValues TZNTTableManager::NewRow() const {
  TZNTValues row;
  for (const TZNTColumn& c : table_.columns)
    row.AddContained(c.type, TZNTValueKind::Column, c.Name(), true);
  return row;
}

void TZNTTableManager::LoadWorkRow(const TZNTValues& from) {
  for (size_t i = 0; i < work_.Count(); ++i) {
    if (i < from.Count() && !from[i].IsNull())
      work_[i].Assign(from[i]);
    else
      work_[i].SetNull();
  }
}

void TZNTTableManager::StoreWorkRow(TZNTValues& to) const {
  if (to.Count() < work_.Count()) to = NewRow();
  for (size_t i = 0; i < work_.Count(); ++i) {
    if (work_[i].IsNull())
      to[i].SetNull();
    else
      to[i].Assign(work_[i]);
  }
}

void TZNTTableManager::RaiseRowDeleted() const {
  RaiseZNTError(err::RowDeleted, {table_.Temporary() ? "temporary table" : "table", Name()});
}

void TZNTTableManager::LoadStoredRow(uint32_t row_number, TZNTValues& out) {
  TZNTRowsetNavigator nav(*rows_);
  if (row_number == 0 || !nav.SetToRow(row_number)) RaiseRowDeleted();
  if (out.Count() < work_.Count()) out = NewRow();
  for (size_t i = 0; i < work_.Count(); ++i) {
    const TZNTColumn& c = table_.columns.At(static_cast<int>(i));
    const TZNTValue& v = nav.Value(i);
    if (c.computed || v.IsNull()) {
      out[i].SetNull();
    } else if (c.type.IsBlob()) {
      const std::string data =
          blobs_->ReadBlob(nav.RowID(), nav.BlobReference(i), c.blobCompression > 0);
      if (c.type.IsCharacter())
        out[i].SetString(data);
      else
        out[i].SetBytes(data);
    } else {
      out[i].Assign(v);
    }
  }
}

void TZNTTableManager::ApplyDefaults(TZNTValues& /*row*/) {}

void TZNTTableManager::GenerateValues(TZNTValues& row) {
  row[0].SetInteger(rows_->NextRowIDValue());
  for (size_t i = 1; i < row.Count(); ++i) {
    const TZNTColumn& c = table_.columns.At(static_cast<int>(i));
    if (!c.identity || c.computed) continue;
    // BY DEFAULT keeps a value given; ALWAYS replaces it.
    if (!c.identityByDefault || row[i].IsNull()) row[i].SetBigInt(rows_->NextIdentityValue(i));
  }
}

void TZNTTableManager::CheckNotNull(const TZNTValues& row) const {
  for (size_t i = 0; i < row.Count(); ++i) {
    const TZNTColumn& c = table_.columns.At(static_cast<int>(i));
    if (c.notNull && !c.computed && row[i].IsNull()) {
      RaiseZNTError(err::Constraint,
                    {"column", c.Name(), table_.Temporary() ? "temporary table" : "table", Name()},
                    0);
    }
  }
}

TZNTValues TZNTTableManager::KeyOf(size_t index, const TZNTValues& row) const {
  TZNTValues key;
  const TZNTTableIndexSpec& def = index_specs_[index];
  for (size_t k = 0; k < def.columns.size(); ++k) {
    TZNTValue& v =
        key.AddContained(def.columns[k].type, TZNTValueKind::Column, def.columns[k].name);
    const TZNTValue& from = row[index_columns_[index][k]];
    if (from.IsNull())
      v.SetNull();
    else
      v.Assign(from);
  }
  return key;
}

void TZNTTableManager::CheckKeys(const TZNTValues& row, const TZNTValues* old_row,
                                 uint32_t own_row) {
  const std::string table_kind = table_.Temporary() ? "temporary table" : "table";
  for (const TZNTConstraint& k : table_.constraints) {
    if (k.constraintType != TZNTConstraintType::PrimaryKey &&
        k.constraintType != TZNTConstraintType::Unique)
      continue;
    const TZNTIndex* enforcing = table_.indexes.FindID(k.enforcingIndexId);
    if (enforcing == nullptr) continue;
    const int index = table_.indexes.IndexOf(*enforcing);
    if (index < 0) continue;
    const size_t ix = static_cast<size_t>(index);
    const TZNTTableIndexSpec& def = index_specs_[ix];
    TZNTValues key = KeyOf(ix, row);
    if (old_row != nullptr) {
      // An update checks a key only when it changed under the key's collation.
      TZNTValues old_key = KeyOf(ix, *old_row);
      bool changed = false;
      for (size_t c = 0; c < key.Count() && !changed; ++c)
        changed = CompareValuesCollated(key[c], old_key[c], def.columns[c].type.collation) != 0;
      if (!changed) continue;
    }
    const bool primary = k.constraintType == TZNTConstraintType::PrimaryKey;
    const char* kind_word = primary ? "primary key constraint" : "unique constraint";
    size_t nulls = 0;
    std::string text;
    for (size_t c = 0; c < key.Count(); ++c) {
      if (key[c].IsNull()) ++nulls;
      if (c > 0) text += ",";
      text += key[c].AsString();
    }
    if (primary && nulls > 0) {
      RaiseZNTError(
          err::Constraint,
          {kind_word, k.Name(), table_kind, Name(), "NULL values are not allowed in a primary key"},
          1);
    }
    if (nulls == key.Count()) continue;
    const uint32_t found = indexes_->Find(ix, key);
    if (found != 0 && found != own_row) {
      RaiseZNTError(err::Constraint,
                    {kind_word, k.Name(), table_kind, Name(), "Duplicate key " + text + " found"},
                    1);
    }
  }
}

void TZNTTableManager::WriteBlobs(uint32_t row_number, const TZNTValues& row) {
  if (!blobs_) return;
  TZNTRowsetNavigator nav(*rows_);
  if (!nav.SetToRow(row_number)) RaiseRowDeleted();
  const int32_t row_id = nav.RowID();
  for (size_t i = 0; i < row.Count(); ++i) {
    const TZNTColumn& c = table_.columns.At(static_cast<int>(i));
    if (!c.type.IsBlob() || c.computed) continue;
    // The chain the row already has (or took over from a deleted row) is
    // written into again.
    TZNTBlobRef ref = nav.BlobReference(i);
    const bool null = row[i].IsNull();
    blobs_->WriteBlob(row_id, ref, c.blobCompression,
                      null ? std::string_view() : row[i].AsStringView());
    rows_->SetBlobReference(row_number, i, ref, !null);
  }
}

void TZNTTableManager::StoreKeys(uint32_t row_number, int32_t rowid, const TZNTValues& row) {
  for (size_t i = 0; i < index_specs_.size(); ++i) {
    if (index_specs_[i].IsText()) continue;
    indexes_->InsertKey(i, KeyOf(i, row), rowid, row_number);
  }
}

uint32_t TZNTTableManager::Insert(TZNTValues& row) {
  uint32_t row_number = 0;
  RunChange([&] {
    LoadWorkRow(row);
    GenerateValues(work_);
    ApplyDefaults(work_);
    CheckNotNull(work_);
    CheckKeys(work_, nullptr, 0);
    const int32_t rowid = work_[0].AsInteger();
    touched_ = true;
    row_number = rows_->InsertRow(rows_->NextRowID(), work_).row_number;
    WriteBlobs(row_number, work_);
    StoreKeys(row_number, rowid, work_);
  });
  StoreWorkRow(row);
  return row_number;
}

void TZNTTableManager::Update(uint32_t row_number, TZNTValues& row) {
  RunChange([&] {
    LoadStoredRow(row_number, old_);
    LoadWorkRow(row);
    work_[0].Assign(old_[0]);
    CheckNotNull(work_);
    CheckKeys(work_, &old_, row_number);
    const int32_t rowid = old_[0].AsInteger();
    touched_ = true;
    rows_->UpdateRow(row_number, work_);
    WriteBlobs(row_number, work_);
    for (size_t i = 0; i < index_specs_.size(); ++i) {
      if (index_specs_[i].IsText()) continue;
      // Byte for byte, so that a change only in letter case still reaches a
      // case-insensitive index.
      TZNTValues old_key = KeyOf(i, old_), new_key = KeyOf(i, work_);
      if (!indexes_->KeysDiffer(i, old_key, new_key)) continue;
      indexes_->DeleteKey(i, old_key, rowid);
      indexes_->InsertKey(i, new_key, rowid, row_number);
    }
  });
  StoreWorkRow(row);
}

void TZNTTableManager::Delete(uint32_t row_number) {
  RunChange([&] {
    LoadStoredRow(row_number, old_);
    CheckNotNull(old_);
    const int32_t rowid = old_[0].AsInteger();
    touched_ = true;
    for (size_t i = 0; i < index_specs_.size(); ++i) {
      if (index_specs_[i].IsText()) continue;
      indexes_->DeleteKey(i, KeyOf(i, old_), rowid);
    }
    // The row's BLOB chains stay with its block for the next row to reuse.
    rows_->DeleteRow(row_number);
  });
}

void TZNTTableManager::ReadRow(uint32_t row_number, TZNTValues& row) {
  RunRead([&] {
    LoadStoredRow(row_number, row);
    return 0;
  });
}

uint32_t TZNTTableManager::RowCount() {
  return RunRead([&] { return rows_->RowCount(); });
}

int TZNTTableManager::IndexPosition(std::string_view name) const noexcept {
  for (size_t i = 0; i < index_specs_.size(); ++i)
    if (!name.empty() && ZNTSameText(index_specs_[i].name, name)) return static_cast<int>(i);
  return -1;
}

std::vector<uint32_t> TZNTTableManager::IndexRowNumbers(size_t index) {
  return RunRead([&] { return indexes_->RowNumbers(index, *rows_); });
}

uint32_t TZNTTableManager::FindKey(size_t index, const TZNTValues& key) {
  return RunRead([&]() -> uint32_t {
    const TZNTTableIndexSpec& def = index_specs_[index];
    TZNTValues typed;
    for (size_t k = 0; k < key.Count() && k < def.columns.size(); ++k) {
      TZNTValue& v = typed.AddContained(def.columns[k].type);
      if (key[k].IsNull())
        v.SetNull();
      else
        v.Assign(key[k]);
    }
    return indexes_->Find(index, typed);
  });
}

std::string TZNTTableManager::VerifyInvariants() {
  bool all_open = true;
  for (size_t i = 0; i < group_->Count(); ++i) all_open = all_open && group_->Member(i).IsOpen();
  if (open_ != all_open) return "the open flag disagrees with the files";
  if (open_ && !lock_.IsTemporary() && lock_.Manager() && !lock_.Manager()->IsReadOnly() &&
      lock_.Manager()->IsOpen() &&
      !lock_.Holds(exclusive_ ? TZNTLockKind::Exclusive : TZNTLockKind::Shared))
    return "the table is open without its open lock";
  const size_t members = blobs_ ? 3 : 2;
  if (group_->Count() != members || &group_->Member(0) != rows_.get() ||
      &group_->Member(1) != &indexes_->File() || (blobs_ && &group_->Member(2) != blobs_.get()))
    return "the file group does not hold the table's files in order";
  if (lock_.Holds(TZNTLockKind::Write)) return "a Write lock is held between operations";
  if (std::string s = group_->VerifyInvariants(); !s.empty()) return s;
  if (open_) {
    for (size_t i = 0; i < index_specs_.size(); ++i) {
      if (index_specs_[i].IsText()) continue;
      if (indexes_->IndexedRows(i) != rows_->RowCount())
        return "index " + index_specs_[i].name + " references " +
               std::to_string(indexes_->IndexedRows(i)) + " rows, the row file holds " +
               std::to_string(rows_->RowCount());
    }
  }
  return {};
}

void TZNTTableManager::CheckInvariants() {
#ifndef NDEBUG
  const std::string broken = VerifyInvariants();
  assert(broken.empty() && "TZNTTableManager invariant");
  (void)broken;
#endif
}

}  // namespace znt
