#include "storage/zntrowsetmgr.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>

#include "base/zntcommon.h"
#include "base/zntconsts.h"
#include "base/zntenv.h"
#include "base/znterror.h"

namespace znt {

namespace {

constexpr size_t kOffRowCount = 54;
constexpr size_t kOffLargestRowID = 58;
constexpr size_t kOffLastRowID = 62;
constexpr size_t kOffReserved = 66;
constexpr size_t kOffTimestamp = 67;
constexpr size_t kOffIdentity = 75;

constexpr size_t kOffStatus = 4;
constexpr size_t kOffRowID = 5;
constexpr size_t kOffVersion = 9;

// Bytes a column occupies in a row: the has-value byte and the data area.
uint32_t SlotBytes(const TZNTRowsetColumn& c) {
  return c.computed ? 0 : static_cast<uint32_t>(StorageSize(c.type)) + 1;
}

int32_t Clamp32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

}  // namespace

// ---------------------------------------------------------------------------
// Layout

TZNTRowLayout::TZNTRowLayout(std::vector<TZNTRowsetColumn> columns) : columns_(std::move(columns)) {
  assert(!columns_.empty() && columns_[0].type.code == TZNTTypeCode::Integer &&
         "the catalog puts __RowID first");
  uint32_t offset = kZNTRowSlotsOffset;
  offsets_.reserve(columns_.size());
  for (const TZNTRowsetColumn& c : columns_) {
    offsets_.push_back(c.computed ? 0 : offset);
    offset += SlotBytes(c);
  }
  row_size_ = ZNTRoundUp8(offset);
  header_length_ =
      ZNTRoundUp8(kZNTRowHeaderFixedLength + 4 * static_cast<uint32_t>(columns_.size()));
}

// ---------------------------------------------------------------------------
// Slot values

TZNTRowSlotValue::TZNTRowSlotValue(const TZNTRowsetColumn& column, uint32_t offset,
                                   uint8_t* const* base)
    : TZNTValue(column.type, true),
      base_(base),
      offset_(offset),
      area_(static_cast<uint32_t>(StorageSize(column.type))) {
  SetKind(TZNTValueKind::Column);
  SetName(column.name);
}

TZNTBlobRef TZNTRowSlotValue::BlobReference() const {
  assert(DataType().IsBlob());
  const uint8_t* s = Slot();
  return {LoadLE32(s + 1), LoadLE32(s + 5)};
}

void TZNTRowSlotValue::SetBlobReference(TZNTBlobRef ref, bool has_value) {
  assert(DataType().IsBlob());
  uint8_t* s = Slot();
  s[0] = has_value ? 1 : 0;
  StoreLE32(s + 1, ref.first_block);
  StoreLE32(s + 5, ref.length);
}

bool TZNTRowSlotValue::RawIsNull() const { return Slot()[0] == 0; }

void TZNTRowSlotValue::RawSetNull() {
  uint8_t* s = Slot();
  s[0] = 0;
  if (DataType().IsBlob()) {
    StoreLE32(s + 5, 0);  // the chain stays for the next value
    return;
  }
  std::memset(s + 1, 0, area_);
}

int64_t TZNTRowSlotValue::RawInt() const {
  const uint8_t* d = Slot() + 1;
  switch (TypeCode()) {
    case TZNTTypeCode::Boolean:
      return d[0] != 0 ? 1 : 0;
    case TZNTTypeCode::SmallInt:
      return static_cast<int16_t>(LoadLE16(d));
    case TZNTTypeCode::Integer:
    case TZNTTypeCode::Date:
    case TZNTTypeCode::Time:
    case TZNTTypeCode::YearMonthInterval:
      return static_cast<int32_t>(LoadLE32(d));
    case TZNTTypeCode::BigInt:
    case TZNTTypeCode::Decimal:
    case TZNTTypeCode::Timestamp:
    case TZNTTypeCode::DayTimeInterval:
      return static_cast<int64_t>(LoadLE64(d));
    case TZNTTypeCode::Float:
      return static_cast<int64_t>(RawFloat());
    default:
      return 0;
  }
}

double TZNTRowSlotValue::RawFloat() const {
  if (TypeCode() != TZNTTypeCode::Float) return static_cast<double>(RawInt());
  return std::bit_cast<double>(LoadLE64(Slot() + 1));
}

std::string_view TZNTRowSlotValue::RawText() const {
  const uint8_t* d = Slot() + 1;
  const TZNTDataType& t = DataType();
  const char* chars = reinterpret_cast<const char*>(d);
  if (t.code == TZNTTypeCode::Char || t.code == TZNTTypeCode::Byte) {
    if (t.code == TZNTTypeCode::Char && t.subtype == kSubtypeGuid) {
      // The GUID's text was padded with blanks to its 38 places.
      size_t n = area_;
      while (n > 0 && chars[n - 1] == ' ') --n;
      return {chars, n};
    }
    if (t.subtype == kSubtypeFixed) return {chars, area_};
    const size_t n = std::min<size_t>(LoadLE16(d), area_ - 2);
    return {chars + 2, n};
  }
  return {};
}

void TZNTRowSlotValue::RawSetInt(int64_t v) {
  uint8_t* s = Slot();
  uint8_t* d = s + 1;
  s[0] = 1;
  switch (TypeCode()) {
    case TZNTTypeCode::Boolean:
      d[0] = v != 0 ? 1 : 0;
      break;
    case TZNTTypeCode::SmallInt:
      StoreLE16(d, static_cast<uint16_t>(v));
      break;
    case TZNTTypeCode::Integer:
    case TZNTTypeCode::Date:
    case TZNTTypeCode::Time:
    case TZNTTypeCode::YearMonthInterval:
      StoreLE32(d, static_cast<uint32_t>(v));
      break;
    case TZNTTypeCode::BigInt:
    case TZNTTypeCode::Decimal:
    case TZNTTypeCode::Timestamp:
    case TZNTTypeCode::DayTimeInterval:
      StoreLE64(d, static_cast<uint64_t>(v));
      break;
    case TZNTTypeCode::Float:
      StoreLE64(d, std::bit_cast<uint64_t>(static_cast<double>(v)));
      break;
    default:
      break;
  }
}

void TZNTRowSlotValue::RawSetFloat(double v) {
  if (TypeCode() != TZNTTypeCode::Float) {
    RawSetInt(static_cast<int64_t>(v));
    return;
  }
  uint8_t* s = Slot();
  s[0] = 1;
  StoreLE64(s + 1, std::bit_cast<uint64_t>(v));
}

void TZNTRowSlotValue::RawSetText(std::string_view text, size_t /*width*/, char /*pad*/) {
  uint8_t* s = Slot();
  uint8_t* d = s + 1;
  const TZNTDataType& t = DataType();
  if (t.IsBlob()) {
    assert(false && "BLOB and CLOB contents are written through the blob file");
    return;
  }
  s[0] = 1;
  // The value has checked the length already; the cut guards the block.
  if (t.subtype == kSubtypeFixed || t.subtype == kSubtypeGuid) {
    const size_t n = std::min<size_t>(text.size(), area_);
    std::memcpy(d, text.data(), n);
    std::memset(d + n, t.code == TZNTTypeCode::Char ? ' ' : '\0', area_ - n);
    return;
  }
  const size_t n = std::min<size_t>(text.size(), area_ - 2);
  StoreLE16(d, static_cast<uint16_t>(n));
  std::memcpy(d + 2, text.data(), n);
  std::memset(d + 2 + n, 0, area_ - 2 - n);
}

// ---------------------------------------------------------------------------
// Row buffers

int32_t TZNTRowsetRow::RowID() const noexcept {
  return static_cast<int32_t>(LoadLE32(Bytes() + kOffRowID));
}
void TZNTRowsetRow::SetRowID(int32_t id) noexcept {
  StoreLE32(Bytes() + kOffRowID, static_cast<uint32_t>(id));
}
int32_t TZNTRowsetRow::Version() const noexcept {
  return static_cast<int32_t>(LoadLE32(Bytes() + kOffVersion));
}
void TZNTRowsetRow::SetVersion(int32_t version) noexcept {
  StoreLE32(Bytes() + kOffVersion, static_cast<uint32_t>(version));
}

void TZNTRowsetRow::ResetForReuse() {
  if (Status() == kZNTRowDeleted) {
    SetStatus(kZNTRowReused);
    return;
  }
  SetStatus(kZNTRowLive);
  std::fill(Bytes() + kZNTRowSlotsOffset, Bytes() + Size(), 0);
}

// ---------------------------------------------------------------------------
// The row file

TZNTRowsetManager::TZNTRowsetManager(TZNTFileManager& files, std::string path,
                                     TZNTTableFileSettings settings,
                                     std::vector<TZNTRowsetColumn> columns)
    : TZNTTableFileManager(files, std::move(path), std::move(settings)),
      layout_(std::move(columns)),
      identity_(layout_.ColumnCount(), 0),
      scratch_(layout_.RowSize(), 0) {
  scratch_base_ = scratch_.data();
  scratch_values_.resize(layout_.ColumnCount());
  for (size_t i = 0; i < layout_.ColumnCount(); ++i) {
    if (layout_.HasSlot(i))
      scratch_values_[i] = std::make_unique<TZNTRowSlotValue>(
          layout_.Column(i), layout_.SlotOffset(i), &scratch_base_);
  }
}

uint32_t TZNTRowsetManager::CacheLimit() const {
  return std::max(Settings().max_row_buffer_size / layout_.RowSize(), kZNTMinRowBuffers);
}

std::unique_ptr<TZNTTableFileBuffer> TZNTRowsetManager::NewBuffer() {
  return std::make_unique<TZNTRowsetRow>(layout_.RowSize());
}

void TZNTRowsetManager::InitKindHeader() {
  row_count_ = 0;
  largest_rowid_ = last_row_id_ = 0;
  timestamp_ = 0;
  for (size_t i = 0; i < layout_.ColumnCount(); ++i) {
    const TZNTRowsetColumn& c = layout_.Column(i);
    identity_[i] = c.identity ? c.identity_start : 0;
  }
}

void TZNTRowsetManager::ParseKindHeader(const uint8_t* h) {
  row_count_ = LoadLE32(h + kOffRowCount);
  largest_rowid_ = static_cast<int32_t>(LoadLE32(h + kOffLargestRowID));
  last_row_id_ = static_cast<int32_t>(LoadLE32(h + kOffLastRowID));
  timestamp_ = static_cast<int64_t>(LoadLE64(h + kOffTimestamp));
  for (size_t i = 0; i < identity_.size(); ++i)
    identity_[i] = static_cast<int32_t>(LoadLE32(h + kOffIdentity + 4 * i));
}

void TZNTRowsetManager::SerialiseKindHeader(uint8_t* h) const {
  StoreLE32(h + kOffRowCount, row_count_);
  StoreLE32(h + kOffLargestRowID, static_cast<uint32_t>(largest_rowid_));
  StoreLE32(h + kOffLastRowID, static_cast<uint32_t>(last_row_id_));
  h[kOffReserved] = 0;
  StoreLE64(h + kOffTimestamp, static_cast<uint64_t>(timestamp_));
  for (size_t i = 0; i < identity_.size(); ++i)
    StoreLE32(h + kOffIdentity + 4 * i, static_cast<uint32_t>(identity_[i]));
}

void TZNTRowsetManager::StampHeader() { timestamp_ = TZNTClock::Now(); }

int64_t TZNTRowsetManager::NextIdentityValue(size_t column) const {
  const int32_t counter = identity_[column];
  return (counter == INT32_MAX ? 0 : static_cast<int64_t>(counter)) +
         layout_.Column(column).identity_increment;
}

void TZNTRowsetManager::RaiseRowDeleted() const {
  const std::string& name = Settings().table_name.empty() ? Path() : Settings().table_name;
  RaiseZNTError(err::RowDeleted, {"table", name});
}

void TZNTRowsetManager::BuildImage(const TZNTValues& values) {
  assert(values.Count() == layout_.ColumnCount());
  std::fill(scratch_.begin(), scratch_.end(), 0);
  for (size_t i = 0; i < layout_.ColumnCount(); ++i) {
    if (!layout_.HasSlot(i) || layout_.Column(i).type.IsBlob()) continue;
    scratch_values_[i]->Assign(values[i]);
  }
}

void TZNTRowsetManager::KeepBlobSlots(const TZNTRowsetRow& row) {
  for (size_t i = 0; i < layout_.ColumnCount(); ++i) {
    if (!layout_.HasSlot(i) || !layout_.Column(i).type.IsBlob()) continue;
    const uint32_t at = layout_.SlotOffset(i);
    std::memcpy(scratch_.data() + at, row.Bytes() + at, 9);
  }
}

TZNTBlockPin TZNTRowsetManager::GetLiveRow(uint32_t row_number) {
  if (row_number == 0 || row_number >= Header().next_new_block) RaiseRowDeleted();
  TZNTBlockPin pin = GetBlock(row_number);
  if (pin.As<TZNTRowsetRow>().Status() != kZNTRowLive) RaiseRowDeleted();
  return pin;
}

TZNTRowsetManager::TInsertResult TZNTRowsetManager::InsertRow(int32_t row_id,
                                                              const TZNTValues& values) {
  CheckWritable();
  BuildImage(values);
  TZNTBlockPin pin = AllocateBlock();
  TZNTRowsetRow& row = pin.As<TZNTRowsetRow>();
  if (row.Status() == kZNTRowReused) {
    // The old row's chains go to the new row, emptied, for the blob file to
    // write into.
    KeepBlobSlots(row);
    for (size_t i = 0; i < layout_.ColumnCount(); ++i) {
      if (layout_.HasSlot(i) && layout_.Column(i).type.IsBlob())
        scratch_values_[i]->SetBlobReference({scratch_values_[i]->BlobReference().first_block, 0},
                                             false);
    }
  }
  std::memcpy(row.Bytes() + kZNTRowSlotsOffset, scratch_.data() + kZNTRowSlotsOffset,
              layout_.RowSize() - kZNTRowSlotsOffset);
  row.SetStatus(kZNTRowLive);
  row.SetRowID(row_id);
  row.SetVersion(ZNTNextCounter(row.Version()));
  row.MarkDirty();

  const TZNTValue& rowid = *scratch_values_[0];
  if (!rowid.IsNull()) largest_rowid_ = std::max(largest_rowid_, rowid.AsInteger());
  last_row_id_ = row_id;
  for (size_t i = 0; i < layout_.ColumnCount(); ++i) {
    if (!layout_.Column(i).identity || !layout_.HasSlot(i) || scratch_values_[i]->IsNull())
      continue;
    identity_[i] = std::max(identity_[i], Clamp32(scratch_values_[i]->AsBigInt()));
  }
  ++row_count_;
  MarkHeaderChanged();
  return {row.BlockNumber(), row.Version()};
}

int32_t TZNTRowsetManager::UpdateRow(uint32_t row_number, const TZNTValues& values) {
  CheckWritable();
  BuildImage(values);
  TZNTBlockPin pin = GetLiveRow(row_number);
  TZNTRowsetRow& row = pin.As<TZNTRowsetRow>();
  KeepBlobSlots(row);
  std::memcpy(row.Bytes() + kZNTRowSlotsOffset, scratch_.data() + kZNTRowSlotsOffset,
              layout_.RowSize() - kZNTRowSlotsOffset);
  row.SetVersion(ZNTNextCounter(row.Version()));
  row.MarkDirty();
  return row.Version();
}

int32_t TZNTRowsetManager::DeleteRow(uint32_t row_number) {
  CheckWritable();
  TZNTBlockPin pin = GetLiveRow(row_number);
  TZNTRowsetRow& row = pin.As<TZNTRowsetRow>();
  row.SetStatus(kZNTRowDeleted);
  row.SetVersion(ZNTNextCounter(row.Version()));
  row.MarkDirty();
  FreeBlock(row);
  --row_count_;
  MarkHeaderChanged();
  return row.Version();
}

void TZNTRowsetManager::SetBlobReference(uint32_t row_number, size_t column, TZNTBlobRef ref,
                                         bool has_value) {
  assert(layout_.HasSlot(column) && layout_.Column(column).type.IsBlob());
  CheckWritable();
  TZNTBlockPin pin = GetLiveRow(row_number);
  uint8_t* base = pin->Bytes();
  TZNTRowSlotValue slot(layout_.Column(column), layout_.SlotOffset(column), &base);
  slot.SetBlobReference(ref, has_value);
  pin->MarkDirty();
}

std::string TZNTRowsetManager::VerifyKindInvariants() {
  const uint32_t next_new = Header().next_new_block;
  std::vector<uint8_t> scratch;
  std::vector<bool> deleted(next_new, false);
  uint32_t live = 0, dead = 0;
  for (uint32_t n = 1; n < next_new; ++n) {
    const uint8_t* b = PeekBlock(n, scratch);
    if (b == nullptr) return "row " + std::to_string(n) + " missing from the file";
    if (b[kOffStatus] == kZNTRowLive) {
      ++live;
    } else if (b[kOffStatus] == kZNTRowDeleted) {
      deleted[n] = true;
      ++dead;
    } else {
      return "row " + std::to_string(n) + " has status " + std::to_string(b[kOffStatus]);
    }
  }
  if (live != row_count_)
    return "row count " + std::to_string(row_count_) + " but " + std::to_string(live) +
           " live rows";
  // The base has checked that the chain ends properly and does not loop.
  uint32_t chained = 0;
  for (uint32_t n = Header().first_free_block; n != 0 && n < next_new; ++chained) {
    if (!deleted[n]) return "free chain holds row " + std::to_string(n) + ", which is not deleted";
    n = LoadLE32(PeekBlock(n, scratch));
  }
  if (chained != dead)
    return std::to_string(dead) + " deleted rows but " + std::to_string(chained) + " on the chain";
  return {};
}

// ---------------------------------------------------------------------------
// Navigator

TZNTRowsetNavigator::TZNTRowsetNavigator(TZNTRowsetManager& rows)
    : rows_(rows), image_(rows.RowSize(), 0) {
  base_ = image_.data();
  const TZNTRowLayout& layout = rows_.Layout();
  values_.reserve(layout.ColumnCount());
  for (size_t i = 0; i < layout.ColumnCount(); ++i) {
    const TZNTRowsetColumn& c = layout.Column(i);
    if (layout.HasSlot(i))
      values_.push_back(std::make_unique<TZNTRowSlotValue>(c, layout.SlotOffset(i), &base_));
    else
      values_.push_back(
          std::make_unique<TZNTContainedValue>(c.type, TZNTValueKind::Column, c.name));
  }
}

int32_t TZNTRowsetNavigator::RowID() const noexcept {
  return static_cast<int32_t>(LoadLE32(base_ + kOffRowID));
}

int32_t TZNTRowsetNavigator::Version() const noexcept {
  return static_cast<int32_t>(LoadLE32(base_ + kOffVersion));
}

TZNTBlobRef TZNTRowsetNavigator::BlobReference(size_t column) const {
  return static_cast<const TZNTRowSlotValue&>(*values_[column]).BlobReference();
}

bool TZNTRowsetNavigator::Scan(uint32_t from, bool forward) {
  const uint32_t next_new = rows_.Header().next_new_block;
  const TZNTReadAhead ahead = forward ? TZNTReadAhead::Forward : TZNTReadAhead::Backward;
  for (uint32_t n = from; n >= 1 && n < next_new; forward ? ++n : --n) {
    TZNTBlockPin pin = rows_.GetBlock(n, ahead);
    const uint8_t* bytes = pin->Bytes();
    if (bytes[kOffStatus] != kZNTRowLive) continue;
    std::memcpy(image_.data(), bytes, image_.size());
    row_ = n;
    return true;
  }
  row_ = forward ? kAfterLast : 0;
  return false;
}

bool TZNTRowsetNavigator::First() { return Scan(1, true); }

bool TZNTRowsetNavigator::Last() { return Scan(rows_.Header().next_new_block - 1, false); }

bool TZNTRowsetNavigator::Next() {
  if (row_ == kAfterLast) return false;
  return Scan(row_ + 1, true);
}

bool TZNTRowsetNavigator::Prior() {
  if (row_ == 0) return false;
  if (row_ == kAfterLast) return Last();
  return Scan(row_ - 1, false);
}

bool TZNTRowsetNavigator::SetToRow(uint32_t row_number) {
  row_ = 0;
  if (row_number == 0 || row_number >= rows_.Header().next_new_block) return false;
  TZNTBlockPin pin = rows_.GetBlock(row_number);
  const uint8_t* bytes = pin->Bytes();
  if (bytes[kOffStatus] != kZNTRowLive) return false;
  std::memcpy(image_.data(), bytes, image_.size());
  row_ = row_number;
  return true;
}

bool TZNTRowsetNavigator::FindFirst(
    const std::function<bool(const TZNTRowsetNavigator&)>& condition) {
  for (bool found = First(); found; found = Next()) {
    if (condition(*this)) return true;
  }
  return false;
}

}  // namespace znt
