// The row file of a table: one block per row, holding the row's status, row
// ID, version and one slot per stored column, and a header with the row count,
// the row-ID counters and the identity counters. Rows are read through a
// navigator that copies the current row out of the cache, so no block stays
// pinned between operations and reading a row allocates nothing.
//
// Row block: 0 next-free link (4), 4 status (1), 5 row ID (4), 9 version (4),
// 13 reserved (4), 17 the slots. A slot is a has-value byte and the type's
// data area (StorageSize); computed columns have none. Header after the
// common 54 bytes: 54 row count, 58 largest __RowID, 62 last row ID, 66
// reserved, 67 time stamp of the last write (8), 75 one identity counter (4)
// per column.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/znttype.h"
#include "sql/zntvalue.h"
#include "storage/zntstoremgr.h"

namespace znt {

// Row status byte values.
inline constexpr uint8_t kZNTRowLive = 0;
inline constexpr uint8_t kZNTRowDeleted = 1;
// Deleted and taken for reuse; its BLOB chains are handed to the new row.
inline constexpr uint8_t kZNTRowReused = 4;

inline constexpr uint32_t kZNTRowSlotsOffset = 17;
inline constexpr uint32_t kZNTRowHeaderFixedLength = 75;
// The fewest row buffers a row cache holds.
inline constexpr uint32_t kZNTMinRowBuffers = 256;

// A column as the row file needs it. The catalog supplies the list in column
// order with the system column __RowID (Integer) first.
struct TZNTRowsetColumn {
  std::string name;
  TZNTDataType type;
  bool computed = false;  // holds no slot
  bool identity = false;
  int32_t identity_start = 0;
  int32_t identity_increment = 1;
};

// Where a BLOB or CLOB slot's contents live in the blob file.
struct TZNTBlobRef {
  uint32_t first_block = 0;  // 0 when no chain was ever stored
  uint32_t length = 0;       // stored bytes
  bool operator==(const TZNTBlobRef&) const = default;
};

// The slot positions of a column list.
class TZNTRowLayout {
 public:
  explicit TZNTRowLayout(std::vector<TZNTRowsetColumn> columns);

  size_t ColumnCount() const noexcept { return columns_.size(); }
  const TZNTRowsetColumn& Column(size_t i) const { return columns_[i]; }
  const std::vector<TZNTRowsetColumn>& Columns() const noexcept { return columns_; }
  // Offset of column i's slot in the row block; 0 for a computed column.
  uint32_t SlotOffset(size_t i) const { return offsets_[i]; }
  bool HasSlot(size_t i) const { return offsets_[i] != 0; }
  // 17 + the slots, rounded up to a multiple of 8.
  uint32_t RowSize() const noexcept { return row_size_; }
  // 54 + 21 + 4 per column, rounded up to a multiple of 8.
  uint32_t HeaderLength() const noexcept { return header_length_; }

 private:
  std::vector<TZNTRowsetColumn> columns_;
  std::vector<uint32_t> offsets_;
  uint32_t row_size_ = 0;
  uint32_t header_length_ = 0;
};

// A column's value read and written in place in a row image. The image is
// reached through a base pointer that its owner moves from row to row, so
// one set of slot values serves every row. BLOB and CLOB slots hold only the
// chain reference; their contents go through the blob file, so their text is
// empty here and must not be set.
class TZNTRowSlotValue final : public TZNTValue {
 public:
  // The slot of `column` at `offset` in the image `*base` points at.
  TZNTRowSlotValue(const TZNTRowsetColumn& column, uint32_t offset, uint8_t* const* base);

  // The chain reference of a BLOB or CLOB slot.
  TZNTBlobRef BlobReference() const;
  // Stores the chain reference of a BLOB or CLOB slot and its has-value flag.
  void SetBlobReference(TZNTBlobRef ref, bool has_value);

 protected:
  bool RawIsNull() const override;
  // Clears the has-value flag and the data area; a BLOB slot keeps its first
  // chain block for reuse.
  void RawSetNull() override;
  int64_t RawInt() const override;
  double RawFloat() const override;
  std::string_view RawText() const override;
  void RawSetInt(int64_t v) override;
  void RawSetFloat(double v) override;
  void RawSetText(std::string_view text, size_t width, char pad) override;

 private:
  uint8_t* Slot() const noexcept { return *base_ + offset_; }
  uint8_t* const* base_;
  uint32_t offset_;
  uint32_t area_;
};

// The buffer of one row block: its header fields are read and written in
// place, the slots through TZNTRowSlotValue.
class TZNTRowsetRow : public TZNTTableFileBuffer {
 public:
  explicit TZNTRowsetRow(uint32_t row_size) : TZNTTableFileBuffer(row_size) {}

  uint8_t Status() const noexcept { return Bytes()[4]; }
  void SetStatus(uint8_t status) noexcept { Bytes()[4] = status; }
  int32_t RowID() const noexcept;
  void SetRowID(int32_t id) noexcept;
  int32_t Version() const noexcept;
  void SetVersion(int32_t version) noexcept;

 protected:
  // A deleted row becomes "taken for reuse" with its slots kept (its BLOB
  // chains are still to be handed on); any other row becomes live and empty.
  void ResetForReuse() override;
};

// The row file. Callers bracket operations as TZNTTableFileManager says
// (BeginOperation first; WriteChanges after a change in shared mode).
//
// Invariants (checked by CheckInvariants, beyond those of the base):
//  1. a row number is its block number; every block's status is live or
//     deleted between operations;
//  2. the header's row count equals the live blocks;
//  3. the free chain holds exactly the deleted blocks.
class TZNTRowsetManager : public TZNTTableFileManager {
 public:
  // What an insert gives back.
  struct TInsertResult {
    uint32_t row_number = 0;
    int32_t version = 0;
  };

  TZNTRowsetManager(TZNTFileManager& files, std::string path, TZNTTableFileSettings settings,
                    std::vector<TZNTRowsetColumn> columns);

  const TZNTRowLayout& Layout() const noexcept { return layout_; }
  uint32_t RowSize() const noexcept { return layout_.RowSize(); }

  // Stores a new row with row ID `row_id` (NextRowID()) and `values`, one per
  // column (BLOB and CLOB values are written by the blob file, not here).
  // Conversion errors (1011) are raised before anything changes.
  TInsertResult InsertRow(int32_t row_id, const TZNTValues& values);
  // Replaces the values of live row `row_number`; BLOB references are kept.
  // Returns the new version; error 1007 when the row is not live.
  int32_t UpdateRow(uint32_t row_number, const TZNTValues& values);
  // Deletes live row `row_number` and frees its block; returns the new
  // version. Error 1007 when the row is not live.
  int32_t DeleteRow(uint32_t row_number);
  // Sets the chain reference of BLOB or CLOB column `column` of live row
  // `row_number` (the blob file's side of an insert or update).
  void SetBlobReference(uint32_t row_number, size_t column, TZNTBlobRef ref, bool has_value);

  uint32_t RowCount() const noexcept { return row_count_; }
  int32_t LargestRowIDValue() const noexcept { return largest_rowid_; }
  // The __RowID value for the next row: the largest used + 1.
  int32_t NextRowIDValue() const noexcept { return ZNTNextCounter(largest_rowid_); }
  int32_t LastRowID() const noexcept { return last_row_id_; }
  // The row ID for the next row: the last handed out + 1.
  int32_t NextRowID() const noexcept { return ZNTNextCounter(last_row_id_); }
  int32_t IdentityCounter(size_t column) const { return identity_[column]; }
  // The next value of identity column `column`: its counter (2147483647
  // counting as 0) plus its increment.
  int64_t NextIdentityValue(size_t column) const;
  // The time stamp written with the last header (engine timestamp, local).
  int64_t HeaderTimestamp() const noexcept { return timestamp_; }

 protected:
  uint32_t HeaderLength() const override { return layout_.HeaderLength(); }
  uint32_t DefaultHeaderArea() const override { return kZNTRowFileHeaderArea; }
  uint32_t BlockSize() const override { return layout_.RowSize(); }
  uint32_t CacheLimit() const override;
  uint32_t ProbeCount() const override { return 8; }
  uint32_t GrowthStep() const override { return 128; }
  const char* KindWord() const override { return "row"; }
  std::unique_ptr<TZNTTableFileBuffer> NewBuffer() override;
  void InitKindHeader() override;
  void ParseKindHeader(const uint8_t* header) override;
  void SerialiseKindHeader(uint8_t* header) const override;
  void StampHeader() override;
  void EmptyKindHeader() override { row_count_ = 0; }
  std::string VerifyKindInvariants() override;

 private:
  friend class TZNTRowsetNavigator;

  // Converts `values` into the scratch image (slots only, BLOBs left empty).
  void BuildImage(const TZNTValues& values);
  // Copies the BLOB slots of `row` into the scratch image.
  void KeepBlobSlots(const TZNTRowsetRow& row);
  TZNTBlockPin GetLiveRow(uint32_t row_number);
  [[noreturn]] void RaiseRowDeleted() const;

  TZNTRowLayout layout_;
  uint32_t row_count_ = 0;
  int32_t largest_rowid_ = 0;
  int32_t last_row_id_ = 0;
  int64_t timestamp_ = 0;
  std::vector<int32_t> identity_;

  std::vector<uint8_t> scratch_;
  uint8_t* scratch_base_ = nullptr;
  std::vector<std::unique_ptr<TZNTRowSlotValue>> scratch_values_;
};

// Walks the live rows of a row file in physical (block) order and reads rows
// by number. The current row is a copy: its values stay valid until the next
// move, and nothing is pinned in between. Not copyable or movable (its values
// point into it).
class TZNTRowsetNavigator {
 public:
  explicit TZNTRowsetNavigator(TZNTRowsetManager& rows);
  TZNTRowsetNavigator(const TZNTRowsetNavigator&) = delete;
  TZNTRowsetNavigator& operator=(const TZNTRowsetNavigator&) = delete;

  // Move to the first, last, next or prior live row, reading ahead in the
  // direction of travel; false (and no current row) when there is none. Next
  // before the first row starts at the beginning, Prior after the last row at
  // the end.
  bool First();
  bool Last();
  bool Next();
  bool Prior();
  // Makes row `row_number` current when it is live; false (and no current
  // row) otherwise.
  bool SetToRow(uint32_t row_number);
  // The first live row, from the beginning, for which `condition` holds.
  bool FindFirst(const std::function<bool(const TZNTRowsetNavigator&)>& condition);

  bool HasRow() const noexcept { return row_ != 0 && row_ != kAfterLast; }
  uint32_t RowNumber() const noexcept { return HasRow() ? row_ : 0; }
  int32_t RowID() const noexcept;
  int32_t Version() const noexcept;
  // Column i of the current row (a NULL value for a computed column).
  const TZNTValue& Value(size_t column) const { return *values_[column]; }
  TZNTBlobRef BlobReference(size_t column) const;

 private:
  static constexpr uint32_t kAfterLast = 0xFFFFFFFFu;
  bool Scan(uint32_t from, bool forward);

  TZNTRowsetManager& rows_;
  std::vector<uint8_t> image_;
  uint8_t* base_ = nullptr;
  std::vector<std::unique_ptr<TZNTValue>> values_;
  uint32_t row_ = 0;
};

}  // namespace znt
