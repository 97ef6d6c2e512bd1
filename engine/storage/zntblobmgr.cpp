#include "storage/zntblobmgr.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <vector>

#include "base/zntcommon.h"
#include "storage/zntcompressmgr.h"

namespace znt {

namespace {

constexpr size_t kOffType = 4;
constexpr size_t kOffRowID = 5;
constexpr size_t kOffTotal = 9;
constexpr size_t kOffFirstLength = 13;
constexpr size_t kOffNextLength = 5;

}  // namespace

// ---------------------------------------------------------------------------
// Blocks

int32_t TZNTBlobBlock::RowID() const noexcept {
  return IsFirst() ? static_cast<int32_t>(LoadLE32(Bytes() + kOffRowID)) : 0;
}

uint32_t TZNTBlobBlock::Total() const noexcept {
  return IsFirst() ? LoadLE32(Bytes() + kOffTotal) : 0;
}

uint32_t TZNTBlobBlock::DataLength() const noexcept {
  const uint32_t n = LoadLE32(Bytes() + (IsFirst() ? kOffFirstLength : kOffNextLength));
  return std::min(n, Capacity());
}

void TZNTBlobBlock::SetFirst(int32_t row_id, uint32_t total) noexcept {
  std::fill(Bytes() + kOffType, Bytes() + kZNTBlobFirstHeader, 0);
  Bytes()[kOffType] = kZNTBlobFirst;
  StoreLE32(Bytes() + kOffRowID, static_cast<uint32_t>(row_id));
  StoreLE32(Bytes() + kOffTotal, total);
}

void TZNTBlobBlock::SetContinuation() noexcept {
  std::fill(Bytes() + kOffType, Bytes() + kZNTBlobContinuationHeader, 0);
  Bytes()[kOffType] = kZNTBlobContinuation;
}

void TZNTBlobBlock::SetData(const uint8_t* data, uint32_t n) noexcept {
  assert(n <= Capacity());
  StoreLE32(Bytes() + (IsFirst() ? kOffFirstLength : kOffNextLength), n);
  std::memcpy(Bytes() + HeaderSize(), data, n);
}

void TZNTBlobBlock::ResetForReuse() {
  TZNTTableFileBuffer::ResetForReuse();
  Bytes()[kOffType] = kZNTBlobFirst;
}

// ---------------------------------------------------------------------------
// The blob file

TZNTBlobManager::TZNTBlobManager(TZNTFileManager& files, std::string path,
                                 TZNTTableFileSettings settings)
    : TZNTTableFileManager(files, std::move(path), std::move(settings)) {
  assert(ZNTRoundUp8(Settings().blob_block_size) > kZNTBlobFirstHeader &&
         "a first block must carry data");
}

uint32_t TZNTBlobManager::CacheLimit() const {
  return std::max(Settings().max_blob_buffer_size / BlockSize(), kZNTMinBlobBuffers);
}

std::unique_ptr<TZNTTableFileBuffer> TZNTBlobManager::NewBuffer() {
  return std::make_unique<TZNTBlobBlock>(BlockSize());
}

void TZNTBlobBlock::SetNextBlock(uint32_t next) noexcept {
  SetNextFree(next);
  MarkDirty();
}

void TZNTBlobManager::RaiseBadType() const { RaiseCorrupt("Invalid BLOB block type found"); }

void TZNTBlobManager::RaiseChainShort() const {
  RaiseCorrupt("Cannot find " + std::string(KindWord()) + " during retrieval from cache");
}

TZNTBlockPin TZNTBlobManager::ChainBlock(uint32_t n, uint8_t type, uint32_t ahead) {
  if (n == 0 || n >= Header().next_new_block) RaiseChainShort();
  TZNTBlockPin pin = GetBlock(n, ahead > 1 ? TZNTReadAhead::Forward : TZNTReadAhead::None);
  if (pin.As<TZNTBlobBlock>().Type() != type) RaiseBadType();
  return pin;
}

TZNTBlockPin TZNTBlobManager::TakeBlock() {
  TZNTBlockPin pin = AllocateBlock();
  pin.As<TZNTBlobBlock>().SetFirst(0, 0);
  pin->MarkDirty();
  return pin;
}

std::string TZNTBlobManager::ReadValue(int32_t row_id, uint32_t first_block) {
  std::string out;
  if (first_block == 0 || first_block >= Header().next_new_block) return out;
  TZNTBlockPin pin = ChainBlock(first_block, kZNTBlobFirst, 1);
  const TZNTBlobBlock* block = &pin.As<TZNTBlobBlock>();
  if (block->RowID() != row_id) return out;  // a chain another row left behind
  const uint32_t total = block->Total();
  // A total the whole file could not hold is damage, not a reason to try.
  const uint64_t room = static_cast<uint64_t>(Header().next_new_block - 1) * BlockSizeBytes();
  if (total > room) RaiseChainShort();
  out.resize(total);
  size_t done = 0;
  for (uint32_t steps = 1;; ++steps) {
    const uint32_t n = std::min<uint32_t>(block->DataLength(), total - done);
    std::memcpy(out.data() + done, block->Data(), n);
    done += n;
    if (done == total) break;
    // Empty blocks cannot make a chain longer than the file without looping.
    if (steps >= Header().next_new_block) RaiseChainShort();
    const uint32_t next = block->NextBlock();
    if (next == 0) RaiseChainShort();
    const uint32_t missing =
        std::max<uint32_t>(1, static_cast<uint32_t>(total - done) / block->Capacity());
    pin = ChainBlock(next, kZNTBlobContinuation, missing);
    block = &pin.As<TZNTBlobBlock>();
  }
  return out;
}

void TZNTBlobManager::WriteValue(int32_t row_id, uint32_t& first_block, std::string_view data) {
  if (data.empty()) return;
  CheckWritable();
  if (data.size() > UINT32_MAX) RaiseChainShort();
  const uint32_t total = static_cast<uint32_t>(data.size());
  TZNTBlockPin pin = first_block == 0 || first_block >= Header().next_new_block
                         ? TakeBlock()
                         : ChainBlock(first_block, kZNTBlobFirst, 1);
  TZNTBlobBlock* block = &pin.As<TZNTBlobBlock>();
  block->SetFirst(row_id, total);
  first_block = block->BlockNumber();

  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(data.data());
  uint32_t done = 0;
  for (;;) {
    const uint32_t n = std::min(block->Capacity(), total - done);
    block->SetData(bytes + done, n);
    block->MarkDirty();
    done += n;
    if (done == total) break;
    const uint32_t next = block->NextBlock();
    TZNTBlockPin follower;
    if (next != 0) {
      const uint32_t missing = std::max<uint32_t>(1, (total - done) / block->Capacity());
      follower = ChainBlock(next, kZNTBlobContinuation, missing);
    } else {
      follower = TakeBlock();
      block->SetNextBlock(follower->BlockNumber());
    }
    pin = std::move(follower);
    block = &pin.As<TZNTBlobBlock>();
    block->SetContinuation();
  }
}

std::string TZNTBlobManager::ReadBlob(int32_t row_id, TZNTBlobRef ref, bool compressed) {
  if (ref.length == 0) return {};
  std::string stored = ReadValue(row_id, ref.first_block);
  if (!compressed || stored.empty()) return stored;
  return TZNTCompressionManager::Uncompress(stored);
}

void TZNTBlobManager::WriteBlob(int32_t row_id, TZNTBlobRef& ref, int compression_level,
                                std::string_view data) {
  if (data.empty()) {
    ref.length = 0;
    return;
  }
  if (compression_level > 0) {
    const std::string packed = TZNTCompressionManager::Compress(data, compression_level);
    WriteValue(row_id, ref.first_block, packed);
    ref.length = static_cast<uint32_t>(packed.size());
    return;
  }
  WriteValue(row_id, ref.first_block, data);
  ref.length = static_cast<uint32_t>(data.size());
}

void TZNTBlobManager::DeleteChain(uint32_t first_block) {
  if (first_block == 0 || first_block >= Header().next_new_block) return;
  CheckWritable();
  uint8_t type = kZNTBlobFirst;
  for (uint32_t n = first_block, steps = 0; n != 0; type = kZNTBlobContinuation) {
    if (++steps > Header().next_new_block) RaiseChainShort();
    TZNTBlockPin pin = ChainBlock(n, type, 1);
    n = pin.As<TZNTBlobBlock>().NextBlock();  // before the free link replaces it
    FreeBlock(*pin);
  }
}

void TZNTBlobManager::TrimChain(uint32_t first_block) {
  if (first_block == 0 || first_block >= Header().next_new_block) return;
  CheckWritable();
  TZNTBlockPin pin = ChainBlock(first_block, kZNTBlobFirst, 1);
  TZNTBlobBlock* block = &pin.As<TZNTBlobBlock>();
  uint32_t left = block->Total();
  for (uint32_t steps = 1;; ++steps) {
    left -= std::min(left, block->DataLength());
    if (left == 0 || block->NextBlock() == 0) break;
    if (steps >= Header().next_new_block) RaiseChainShort();
    pin = ChainBlock(block->NextBlock(), kZNTBlobContinuation, 1);
    block = &pin.As<TZNTBlobBlock>();
  }
  const uint32_t surplus = block->NextBlock();
  if (surplus == 0) return;
  block->SetNextBlock(0);
  pin.Release();
  uint32_t steps = 0;
  for (uint32_t n = surplus; n != 0;) {
    if (++steps > Header().next_new_block) RaiseChainShort();
    TZNTBlockPin spare = ChainBlock(n, kZNTBlobContinuation, 1);
    n = spare.As<TZNTBlobBlock>().NextBlock();
    FreeBlock(*spare);
  }
}

uint32_t TZNTBlobManager::ChainLength(uint32_t first_block) {
  uint32_t count = 0;
  uint8_t type = kZNTBlobFirst;
  for (uint32_t n = first_block; n != 0; type = kZNTBlobContinuation) {
    if (++count > Header().next_new_block) RaiseChainShort();
    n = ChainBlock(n, type, 1).As<TZNTBlobBlock>().NextBlock();
  }
  return count;
}

uint32_t TZNTBlobManager::FreeBlockCount() {
  const uint32_t next_new = Header().next_new_block;
  std::vector<uint8_t> scratch;
  uint32_t count = 0;
  for (uint32_t n = Header().first_free_block; n != 0 && n < next_new; ++count) {
    if (count >= next_new) RaiseChainShort();
    const uint8_t* bytes = PeekBlock(n, scratch);
    if (bytes == nullptr) RaiseChainShort();
    n = LoadLE32(bytes);
  }
  return count;
}

std::string TZNTBlobManager::VerifyKindInvariants() {
  const uint32_t next_new = Header().next_new_block;
  const uint32_t size = BlockSizeBytes();
  std::vector<uint8_t> scratch;
  // The base has checked that the free chain stays in the file and ends.
  std::vector<bool> free(next_new, false);
  for (uint32_t n = Header().first_free_block; n != 0 && n < next_new;) {
    free[n] = true;
    n = LoadLE32(PeekBlock(n, scratch));
  }
  std::vector<uint32_t> link(next_new, 0), linked_from(next_new, 0);
  std::vector<uint8_t> type(next_new, 0);
  std::vector<uint32_t> data(next_new, 0), total(next_new, 0);
  for (uint32_t n = 1; n < next_new; ++n) {
    if (free[n]) continue;
    const uint8_t* b = PeekBlock(n, scratch);
    if (b == nullptr) return "BLOB block " + std::to_string(n) + " missing from the file";
    const std::string name = "BLOB block " + std::to_string(n);
    type[n] = b[kOffType];
    if (type[n] != kZNTBlobFirst && type[n] != kZNTBlobContinuation)
      return name + " has type " + std::to_string(type[n]);
    const uint32_t header =
        type[n] == kZNTBlobFirst ? kZNTBlobFirstHeader : kZNTBlobContinuationHeader;
    data[n] = LoadLE32(b + (type[n] == kZNTBlobFirst ? kOffFirstLength : kOffNextLength));
    if (data[n] > size - header) return name + " holds more data than fits";
    if (type[n] == kZNTBlobFirst) total[n] = LoadLE32(b + kOffTotal);
    link[n] = LoadLE32(b);
    if (link[n] >= next_new) return name + " links past the file's end";
  }
  for (uint32_t n = 1; n < next_new; ++n) {
    const uint32_t to = link[n];
    if (free[n] || to == 0) continue;
    const std::string name = "BLOB block " + std::to_string(n);
    if (free[to]) return name + " links to free block " + std::to_string(to);
    if (type[to] != kZNTBlobContinuation)
      return name + " links to first block " + std::to_string(to);
    if (linked_from[to] != 0) return "BLOB block " + std::to_string(to) + " is in two chains";
    linked_from[to] = n;
  }
  for (uint32_t n = 1; n < next_new; ++n) {
    if (free[n]) continue;
    if (type[n] == kZNTBlobContinuation && linked_from[n] == 0)
      return "BLOB block " + std::to_string(n) + " belongs to no chain";
    if (type[n] != kZNTBlobFirst) continue;
    // Links are unique and lead to continuation blocks only, so this ends.
    uint64_t carried = 0;
    for (uint32_t m = n; m != 0 && carried < total[n]; m = link[m]) carried += data[m];
    if (carried < total[n])
      return "the chain of BLOB block " + std::to_string(n) + " carries less than its total";
  }
  return {};
}

// ---------------------------------------------------------------------------
// Row values

void TZNTBlobValue::Bind(int32_t row_id, TZNTBlobRef ref, bool has_value) noexcept {
  row_id_ = row_id;
  ref_ = ref;
  has_value_ = has_value;
  loaded_ = changed_ = false;
  bytes_.clear();
}

const std::string& TZNTBlobValue::Bytes() {
  if (!loaded_) {
    bytes_.clear();
    if (has_value_ && ref_.first_block != 0 && ref_.length > 0)
      bytes_ = blobs_.ReadBlob(row_id_, ref_, level_ > 0);
    loaded_ = true;
  }
  return bytes_;
}

void TZNTBlobValue::SetBytes(std::string_view bytes, bool null) {
  bytes_.assign(null ? std::string_view() : bytes);
  has_value_ = !null;
  loaded_ = changed_ = true;
}

TZNTBlobRef TZNTBlobValue::Store(int32_t row_id) {
  row_id_ = row_id;
  if (!changed_) return ref_;
  blobs_.WriteBlob(row_id, ref_, level_,
                   has_value_ ? std::string_view(bytes_) : std::string_view());
  changed_ = false;
  return ref_;
}

}  // namespace znt
