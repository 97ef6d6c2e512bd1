// The blob file of a table (table name + ".ZNTBlb"): the contents of its BLOB
// and CLOB values, each in a chain of fixed-size blocks that the row's slot
// points at (first block, stored length). The file is a table file like the
// others (header, free chain, cache, per-block encryption); its header has no
// fields beyond the common ones.
//
// Blob block: 0 next block of the chain, 0 at its end (on the free chain the
// next free block) (4), 4 type: 1 first block of a value, 0 continuation (1).
// First blocks: 5 row ID of the owning row (4), 9 total bytes stored for the
// value (4), 13 data bytes in this block (4), 17 the data. Continuation
// blocks: 5 data bytes in this block (4), 9 the data.
//
// Chains are reused rather than freed: a value is written into the chain its
// row already has, a shorter value leaving the rest of the chain linked behind
// it for later growth, and a row that takes over a deleted row's block takes
// over its chains too. Reading stops at the first block's total, so the spare
// tail is never read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "storage/zntrowsetmgr.h"
#include "storage/zntstoremgr.h"

namespace znt {

inline constexpr uint8_t kZNTBlobContinuation = 0;
inline constexpr uint8_t kZNTBlobFirst = 1;
inline constexpr uint32_t kZNTBlobFirstHeader = 17;
inline constexpr uint32_t kZNTBlobContinuationHeader = 9;
// The fewest blob buffers a blob cache holds.
inline constexpr uint32_t kZNTMinBlobBuffers = 64;
// System tables keep their catalog texts in 64-byte blocks.
inline constexpr uint32_t kZNTSystemBlobBlockSize = 64;

// The buffer of one blob block; its fields are read and written in place.
// The chain link is the block's link word at offset 0, which the cache also
// uses for the free chain.
class TZNTBlobBlock : public TZNTTableFileBuffer {
 public:
  explicit TZNTBlobBlock(uint32_t block_size) : TZNTTableFileBuffer(block_size) {}

  // The next block of the value's chain, 0 at its end.
  uint32_t NextBlock() const noexcept { return NextFree(); }
  uint8_t Type() const noexcept { return Bytes()[4]; }
  bool IsFirst() const noexcept { return Type() == kZNTBlobFirst; }
  // The owning row and the value's stored length; first blocks only.
  int32_t RowID() const noexcept;
  uint32_t Total() const noexcept;
  // The header's size (17 or 9) and the data bytes the block can carry.
  uint32_t HeaderSize() const noexcept {
    return IsFirst() ? kZNTBlobFirstHeader : kZNTBlobContinuationHeader;
  }
  uint32_t Capacity() const noexcept { return Size() - HeaderSize(); }
  // The data bytes in this block, never more than Capacity().
  uint32_t DataLength() const noexcept;
  const uint8_t* Data() const noexcept { return Bytes() + HeaderSize(); }

  // Makes the block the first of row `row_id`'s value of `total` bytes, with
  // no data yet.
  void SetFirst(int32_t row_id, uint32_t total) noexcept;
  // Makes the block a continuation block with no data yet.
  void SetContinuation() noexcept;
  // Copies `n` bytes (at most Capacity()) into the block as its data.
  void SetData(const uint8_t* data, uint32_t n) noexcept;
  // Links the pinned block to `next` (0 ends the chain) and marks it changed.
  void SetNextBlock(uint32_t next) noexcept;

 protected:
  // A block taken from the free chain starts as an empty first block.
  void ResetForReuse() override;
};

// The blob file. Callers bracket operations as TZNTTableFileManager says
// (BeginOperation first; WriteChanges after a change in shared mode).
//
// Invariants (checked by CheckInvariants, beyond those of the base):
//  1. every block that is not on the free chain has type 0 or 1 and data that
//     fits its capacity;
//  2. every chain link of a block not on the free chain is 0 or names a block
//     in the file that is not on the free chain and is a continuation block;
//  3. no block is linked from two blocks, so chains neither share blocks nor
//     loop, and every continuation block is linked from exactly one block;
//  4. a first block's chain carries at least its total in data bytes.
class TZNTBlobManager : public TZNTTableFileManager {
 public:
  TZNTBlobManager(TZNTFileManager& files, std::string path, TZNTTableFileSettings settings);

  // The value row `row_id` stored in the chain beginning at `first_block`,
  // raw (as stored). Empty when the chain was never stored, lies past the
  // file's end or belongs to another row. Error 601 for a block of the wrong
  // type or a chain that ends before the value does.
  std::string ReadValue(int32_t row_id, uint32_t first_block);
  // Stores `data` raw for row `row_id` into the chain at `first_block` (0: a
  // new chain), taking blocks from the free chain or the file's end when the
  // chain is too short. Sets `first_block` to the chain's first block; an
  // empty value changes nothing.
  void WriteValue(int32_t row_id, uint32_t& first_block, std::string_view data);

  // ReadValue of the slot `ref`, inflated when `compressed` (error 1201 when
  // the stored bytes are damaged). Empty when the slot stores no bytes.
  std::string ReadBlob(int32_t row_id, TZNTBlobRef ref, bool compressed);
  // Stores `data` for the slot `ref`, deflated first when
  // `compression_level` is above 0; sets the slot's first block and stored
  // (possibly compressed) length. An empty value keeps the first block and
  // stores length 0.
  void WriteBlob(int32_t row_id, TZNTBlobRef& ref, int compression_level, std::string_view data);

  // Gives every block of the chain at `first_block` back to the free chain.
  // For chains no row will use again; does nothing for 0.
  void DeleteChain(uint32_t first_block);
  // Gives the blocks of the chain at `first_block` that lie beyond its
  // value's total back to the free chain, ending the chain at the last block
  // the value uses.
  void TrimChain(uint32_t first_block);

  // The blocks of the chain at `first_block`, whatever its value's total (0
  // for no chain); error 601 for a broken chain.
  uint32_t ChainLength(uint32_t first_block);
  // The blocks on the free chain.
  uint32_t FreeBlockCount();

 protected:
  uint32_t HeaderLength() const override { return ZNTRoundUp8(kZNTCommonHeaderLength); }
  uint32_t DefaultHeaderArea() const override { return kZNTBlobFileHeaderArea; }
  uint32_t BlockSize() const override { return ZNTRoundUp8(Settings().blob_block_size); }
  uint32_t CacheLimit() const override;
  uint32_t ProbeCount() const override { return 8; }
  uint32_t GrowthStep() const override { return 32; }
  const char* KindWord() const override { return "BLOB block"; }
  std::unique_ptr<TZNTTableFileBuffer> NewBuffer() override;
  std::string VerifyKindInvariants() override;

 private:
  // Block `n` of a chain, pinned, with its type checked; `ahead` blocks of
  // data are still missing behind it.
  TZNTBlockPin ChainBlock(uint32_t n, uint8_t type, uint32_t ahead);
  // A block from the free chain or the file's end, reset to an empty first
  // block.
  TZNTBlockPin TakeBlock();
  [[noreturn]] void RaiseBadType() const;
  [[noreturn]] void RaiseChainShort() const;
};

// A BLOB or CLOB value of one row as its row value holds it: the bytes are
// loaded from the blob file on first access only, and written back only when
// they were changed. CLOB characters are stored one byte each.
class TZNTBlobValue {
 public:
  // A value of a column with `compression_level` (0: none) in `blobs`.
  TZNTBlobValue(TZNTBlobManager& blobs, int compression_level)
      : blobs_(blobs), level_(compression_level) {}

  // Points the value at row `row_id`'s slot; loaded bytes and changes are
  // forgotten.
  void Bind(int32_t row_id, TZNTBlobRef ref, bool has_value) noexcept;
  // Takes over another row's chain (the row's block was reused): the next
  // store writes into the chain at `first_block`.
  void TakeChain(uint32_t first_block) noexcept { ref_.first_block = first_block; }

  bool IsNull() const noexcept { return !has_value_; }
  bool IsLoaded() const noexcept { return loaded_; }
  bool IsChanged() const noexcept { return changed_; }
  // The bytes (or CLOB characters), read from the chain on first access.
  const std::string& Bytes();
  // Replaces the value; NULL when `null`.
  void SetBytes(std::string_view bytes, bool null = false);

  // Writes the value into its chain for row `row_id` when it changed and
  // returns the slot reference to store in the row.
  TZNTBlobRef Store(int32_t row_id);
  TZNTBlobRef Reference() const noexcept { return ref_; }

 private:
  TZNTBlobManager& blobs_;
  int level_;
  int32_t row_id_ = 0;
  TZNTBlobRef ref_;
  bool has_value_ = false;
  bool loaded_ = false;
  bool changed_ = false;
  std::string bytes_;
};

}  // namespace znt
