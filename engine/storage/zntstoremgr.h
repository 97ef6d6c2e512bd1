// The block-file machinery every table file is built on: a verified header,
// numbered fixed-size blocks with a free chain, a cache of block buffers with
// read-ahead and ordered write-back, the three write modes, per-unit Blowfish,
// and the companion journal that makes every write batch atomic. The row,
// index and blob files derive from TZNTTableFileManager and supply only what
// differs per kind.
//
// Journal (the file's path + "-journal"; all integers little-endian):
//   0  8   magic "ZNTJRNL" followed by the format number 1
//   8  8   length of the table file before the batch
//   16 16  MD5 of the header bytes (as on disk) the batch ends with
//   32 4   number of entries
//   36 ... entries: offset (8), length (4), the bytes found there before the batch
//   end 16 MD5 of every byte before it
// It is written and flushed before the batch's first header write and deleted
// after its second. On open (and on a shared reread that finds the file
// changed) an intact journal whose final header is not the one on disk rolls
// the file back: the saved bytes are written back and the file is cut to its
// old length. The session whose batch failed rolls its journal back even
// when the final header is on disk, since it reported the batch as failed. A journal that fails its
// digest was torn before the batch touched the file and is deleted. A set write-in-progress flag
// that no journal explains raises error 100 (a repair is required).
//
// A file that belongs to a TZNTTableFileGroup writes format 2 when the group's batch spans
// several files: after the entry count's place come the group's 16-byte id and its commit
// mark's path (length 4, bytes), then the count and entries as above. Such a batch finished
// only when the final header is on disk and the commit mark holds the group's id; otherwise
// the file is rolled back, so every file of the group ends in the same state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/zntcrypto.h"
#include "storage/zntfilemgr.h"

namespace znt {

// Header areas (the offset of block 1) per kind; system tables use 1024 for
// every kind.
inline constexpr uint32_t kZNTRowFileHeaderArea = 16384;
inline constexpr uint32_t kZNTIndexFileHeaderArea = 8192;
inline constexpr uint32_t kZNTBlobFileHeaderArea = 4096;
inline constexpr uint32_t kZNTSystemHeaderArea = 1024;

// Bytes of the header fields common to every kind; the kind's own follow.
inline constexpr uint32_t kZNTCommonHeaderLength = 54;
// The write-back cuts runs of consecutive blocks at this many bytes.
inline constexpr size_t kZNTMaxWriteRun = 1048576;

// What the catalog and the engine settings tell a table file when it is
// created or opened. The defaults are those of an ordinary user table.
struct TZNTTableFileSettings {
  // Named in error messages ("The table <name> is corrupt (...)").
  std::string table_name;
  bool encrypted = false;
  // The table structure's version as the catalog holds it.
  int32_t internal_version = 1;
  // The engine's signature digests: a file is accepted with either.
  TZNTDigest::TValue signature_digest{};
  TZNTDigest::TValue default_signature_digest{};
  // The engine's password digest: written to every header, keys the cipher
  // and must match in encrypted files.
  TZNTDigest::TValue password_digest{};
  // System tables keep a 1024-byte header area in every kind of file.
  bool system_table = false;
  // Temporary tables are deleted on close; temporary and in-memory tables are
  // opened exclusively and never forced to disk.
  bool temporary = false;
  bool in_memory = false;
  // Cache sizes in bytes per kind, and the block sizes of index and blob files.
  uint32_t max_row_buffer_size = 32768;
  uint32_t max_index_buffer_size = 65536;
  uint32_t max_blob_buffer_size = 32768;
  uint32_t index_page_size = 4096;
  uint32_t blob_block_size = 512;
};

// The common header fields (offsets 0 to 53).
struct TZNTTableFileHeader {
  int32_t internal_version = 0;
  TZNTDigest::TValue signature_digest{};
  int32_t character_set = 0;
  bool encrypted = false;
  TZNTDigest::TValue password_digest{};
  int32_t change_counter = 0;
  uint32_t first_free_block = 0;
  uint32_t next_new_block = 1;
  bool write_in_progress = false;
};

// How a table file shares its file with other writers.
enum class TZNTTableFileMode {
  Shared,       // others may write: revalidate per operation, write per change
  Exclusive,    // no other writer: write back when the cache needs room
  Transaction,  // changes stay cached until commit or rollback
};

// Which neighbours a cache miss reads along with the block asked for.
enum class TZNTReadAhead { None, Forward, Backward };

// 1 after 2147483647, else v + 1: the wrap of change counters and versions.
inline int32_t ZNTNextCounter(int32_t v) noexcept { return v >= 2147483647 || v < 0 ? 1 : v + 1; }

// `v` rounded up to a multiple of 8, as every enciphered unit must be.
inline uint32_t ZNTRoundUp8(uint32_t v) noexcept { return (v + 7u) & ~7u; }

class TZNTTableFileManager;
class TZNTTableFileGroup;

// One cached block: its number, free-chain link, state flags and bytes. The
// bytes are the block as stored, deciphered; a kind whose blocks have a richer
// in-memory form parses and serialises it in the virtual hooks.
class TZNTTableFileBuffer {
 public:
  explicit TZNTTableFileBuffer(uint32_t block_size);
  virtual ~TZNTTableFileBuffer() = default;
  TZNTTableFileBuffer(const TZNTTableFileBuffer&) = delete;
  TZNTTableFileBuffer& operator=(const TZNTTableFileBuffer&) = delete;

  uint32_t BlockNumber() const noexcept { return number_; }
  // The free-chain link; 0 unless the block is on the chain.
  uint32_t NextFree() const noexcept { return next_free_; }
  bool IsDirty() const noexcept { return dirty_; }
  // Marks the pinned block changed; it is written at the next batch after
  // release.
  void MarkDirty() noexcept;
  int PinCount() const noexcept { return pins_; }
  bool IsQueued() const noexcept { return queued_; }
  bool MustReread() const noexcept { return reread_; }

  uint8_t* Bytes() noexcept { return bytes_.data(); }
  const uint8_t* Bytes() const noexcept { return bytes_.data(); }
  uint32_t Size() const noexcept { return static_cast<uint32_t>(bytes_.size()); }

 protected:
  // Reads the kind's fields from Bytes() after the block was read or
  // refreshed; the link has been read already.
  virtual void ParseBlock() {}
  // Brings Bytes() up to date from the kind's fields before a write; the link
  // is stored afterwards.
  virtual void SerialiseBlock() {}
  // Prepares a block taken from the free chain for new contents; by default
  // everything after the link is cleared.
  virtual void ResetForReuse();
  // Sets the link word that is stored at offset 0; a kind whose live blocks
  // use that word for a chain of their own (index leaves) keeps it here.
  void SetNextFree(uint32_t link) noexcept { next_free_ = link; }

 private:
  friend class TZNTTableFileManager;

  std::vector<uint8_t> bytes_;
  uint32_t number_ = 0;
  uint32_t next_free_ = 0;
  int pins_ = 0;
  bool dirty_ = false;
  bool queued_ = false;
  bool reread_ = false;
  // Recency list, most recent first; owned by the manager.
  TZNTTableFileBuffer* newer_ = nullptr;
  TZNTTableFileBuffer* older_ = nullptr;
};

// A pin on a cached block that is released when the object goes away, so a
// failing operation never leaves a block pinned. Movable, not copyable.
class TZNTBlockPin {
 public:
  TZNTBlockPin() = default;
  TZNTBlockPin(TZNTTableFileManager& owner, TZNTTableFileBuffer& buffer) noexcept
      : owner_(&owner), buffer_(&buffer) {}
  TZNTBlockPin(TZNTBlockPin&& other) noexcept : owner_(other.owner_), buffer_(other.buffer_) {
    other.buffer_ = nullptr;
  }
  TZNTBlockPin& operator=(TZNTBlockPin&& other) noexcept;
  TZNTBlockPin(const TZNTBlockPin&) = delete;
  TZNTBlockPin& operator=(const TZNTBlockPin&) = delete;
  ~TZNTBlockPin() { Release(); }

  // Unpins now (ReleaseBlock); later calls do nothing.
  void Release();
  explicit operator bool() const noexcept { return buffer_ != nullptr; }
  TZNTTableFileBuffer* operator->() const noexcept { return buffer_; }
  TZNTTableFileBuffer& operator*() const noexcept { return *buffer_; }
  // The buffer as the kind's own class.
  template <class T>
  T& As() const noexcept {
    return static_cast<T&>(*buffer_);
  }

 private:
  TZNTTableFileManager* owner_ = nullptr;
  TZNTTableFileBuffer* buffer_ = nullptr;
};

// A table file: header, blocks, cache and write modes. One object per session
// and file; not thread-safe (the table's file lock serialises sessions, and
// every call that reads or writes the file must be made while it is held).
//
// Callers bracket each operation: BeginOperation, then block calls, then (in
// shared mode, after a change) WriteChanges. Blocks are pinned only within an
// operation. Destroying an open manager closes its stream without writing.
//
// Invariants (checked by CheckInvariants):
//  1. the cache array is sorted strictly by block number, so no block has two
//     buffers, and every cached number lies in 1 .. next new block − 1;
//  2. the recency list holds exactly the cached buffers;
//  3. a queued buffer is dirty; outside exclusive mode the dirty list is
//     sorted strictly by block number and holds exactly the queued buffers;
//  4. the first free block is 0 or lies in 1 .. next new block, and following
//     the chain visits blocks below the next new block, each once, until a
//     link reaches the next new block (the fresh blocks);
//  5. no pin count is negative; nothing is pinned between operations;
//  6. the ejectable count equals the cached buffers that are unpinned, clean
//     and unqueued.
class TZNTTableFileManager {
 public:
  TZNTTableFileManager(TZNTFileManager& files, std::string path, TZNTTableFileSettings settings);
  virtual ~TZNTTableFileManager();
  TZNTTableFileManager(const TZNTTableFileManager&) = delete;
  TZNTTableFileManager& operator=(const TZNTTableFileManager&) = delete;

  const std::string& Path() const noexcept { return path_; }
  // The companion journal's path.
  std::string JournalPath() const { return path_ + "-journal"; }
  // The commit mark's path when this file leads a group's batch.
  std::string CommitMarkPath() const { return path_ + "-commit"; }
  // The group whose batches this file's writes join; null for a file used alone.
  TZNTTableFileGroup* Group() const noexcept { return group_; }
  const TZNTTableFileSettings& Settings() const noexcept { return settings_; }
  bool IsOpen() const noexcept { return stream_.IsOpen(); }
  bool IsReadOnly() const;
  TZNTTableFileMode Mode() const noexcept { return mode_; }
  const TZNTTableFileHeader& Header() const noexcept { return header_; }

  // Creates the file with a fresh header and writes it; an existing file of a
  // table that is not temporary is opened instead. Exclusive for temporary and
  // in-memory tables.
  void CreateTableFile(bool exclusive);
  // Opens the existing file (shared unless `exclusive`), recovers an
  // interrupted batch from its journal, and reads and verifies the header
  // (error 100 with the first failing detail).
  void OpenTableFile(bool exclusive, bool read_only);
  // Writes pending changes (discarding an uncommitted transaction), closes the
  // stream and drops the cache. The stream is closed even when the write fails.
  void CloseTableFile();
  // Renames the closed file (and a journal beside it) to `new_path`.
  void RenameTableFile(const std::string& new_path);
  // Deletes the closed file and a journal beside it.
  void DeleteTableFile();
  // Forgets every block (first free 0, next new 1) and the kind's counts; the
  // next batch cuts the file to its header area.
  void EmptyTableFile();

  // Reads the header again: with `verify`, every check of opening; without,
  // only the write-in-progress check. Pending changes are forgotten.
  void ReadHeader(bool verify);
  // Marks the header changed; it goes out with the next batch.
  void MarkHeaderChanged() noexcept { header_changed_ = true; }

  // The pinned buffer of block `n`, from the cache or the file (with the
  // read-ahead asked for); n equal to the next new block makes a new, empty
  // block. Error 601 for n = 0 or a block the file cannot supply, 407 when a
  // new block would pass the file manager's largest size.
  TZNTBlockPin GetBlock(uint32_t n, TZNTReadAhead ahead = TZNTReadAhead::None);
  // Unpins; a dirty buffer is queued for the next batch.
  void ReleaseBlock(TZNTTableFileBuffer& buffer);
  // The first block of the free chain, or a new one, pinned, reset for reuse
  // and dirty.
  TZNTBlockPin AllocateBlock();
  // Pushes the pinned block `buffer` on the free chain and marks it dirty.
  void FreeBlock(TZNTTableFileBuffer& buffer);

  // Writes the header and every queued buffer as one atomic batch, and with
  // `flush` forces it to disk. Does nothing when nothing changed. On failure
  // the file is rolled back, the changes are discarded, and the error passes.
  // A file in a group writes the whole group's batch instead.
  void WriteChanges(bool flush);
  // Starts an operation. In shared mode rereads the header and drops the cache
  // when another writer changed the file; true when the cache was dropped.
  bool BeginOperation();
  // Enters transaction mode, writing pending changes first (exclusive) or
  // revalidating the cache (shared).
  void BeginTransaction();
  // Writes the transaction's changes and returns to the mode before it.
  void CommitTransaction(bool flush);
  // Discards the transaction's changes, rereads the header and returns to the
  // mode before it.
  void RollbackTransaction();
  // Forgets every cached buffer, unwritten changes included. Nothing may be
  // pinned.
  void DropCache();
  // The flush flag that writes the manager starts itself (cache pressure,
  // close) use: the session's ForceBufferFlush.
  void SetForceFlush(bool force) noexcept { force_flush_ = force; }

  // Geometry, valid once the file is open or created.
  uint32_t HeaderAreaSize() const noexcept { return header_area_; }
  uint32_t HeaderLengthBytes() const noexcept { return header_length_; }
  uint32_t BlockSizeBytes() const noexcept { return block_size_; }
  // The buffer limit, the cache array's capacity (the limit rounded up to the
  // growth step) and the blocks a sequential miss reads (a quarter of it).
  uint32_t CacheLimitBuffers() const noexcept { return cache_limit_; }
  uint32_t CacheCapacity() const noexcept { return cache_capacity_; }
  uint32_t ReadAheadCount() const noexcept { return read_ahead_; }
  // Buffers cached now, and whether block `n` is among them.
  size_t CachedCount() const noexcept { return sorted_.size(); }
  bool IsCached(uint32_t n) const noexcept { return Find(n) != nullptr; }

  // Block reads and writes of this object and their bytes (header and journal
  // traffic not included).
  uint64_t ReadCount() const noexcept { return reads_; }
  uint64_t ReadBytes() const noexcept { return read_bytes_; }
  uint64_t WriteCount() const noexcept { return writes_; }
  uint64_t WriteBytes() const noexcept { return written_bytes_; }

  // Describes the first invariant (above, or of the kind) that does not hold,
  // reading blocks that are not cached without caching them; empty when all
  // hold.
  std::string VerifyInvariants();
  // Asserts VerifyInvariants(); does nothing in a release build.
  void CheckInvariants();

 protected:
  // What differs per kind. Called once the file is open or created.
  virtual uint32_t HeaderLength() const = 0;  // multiple of 8, at least 54
  virtual uint32_t DefaultHeaderArea() const = 0;
  virtual uint32_t BlockSize() const = 0;  // multiple of 8
  virtual uint32_t CacheLimit() const = 0;
  virtual uint32_t ProbeCount() const = 0;
  virtual uint32_t GrowthStep() const = 0;
  // "row", "index page" or "BLOB block".
  virtual const char* KindWord() const = 0;
  virtual std::unique_ptr<TZNTTableFileBuffer> NewBuffer() = 0;
  // The kind's header fields after offset 54: initialised for a new file,
  // read from and written to the deciphered header.
  virtual void InitKindHeader() {}
  virtual void ParseKindHeader(const uint8_t* /*header*/) {}
  virtual void SerialiseKindHeader(uint8_t* /*header*/) const {}
  // Called when a batch starts writing the header (the row file's time stamp).
  virtual void StampHeader() {}
  // Resets the kind's header counts when the file is emptied.
  virtual void EmptyKindHeader() {}
  // Describes the first broken invariant of the kind, empty when all hold.
  virtual std::string VerifyKindInvariants() { return {}; }

  // The bytes of block `n` as they stand now (cached or in the file,
  // deciphered) without touching the cache; `scratch` holds a copy when
  // needed. Null when the file cannot supply the block.
  const uint8_t* PeekBlock(uint32_t n, std::vector<uint8_t>& scratch);
  // Raises error 601 "The table <name> is corrupt (<detail>)".
  [[noreturn]] void RaiseCorrupt(const std::string& detail) const;
  // Raises error 403 for a change to a file that could only be read.
  void CheckWritable() const;

 private:
  friend class TZNTTableFileGroup;

  struct TJournalEntry {
    uint64_t offset;
    std::string bytes;
  };
  // What a grouped journal records about its group's batch.
  struct TGroupTag {
    TZNTDigest::TValue id{};
    std::string mark_path;
  };
  // The batch being written: its headers, runs of the batch buffers and the
  // journal entries saved for it.
  struct TPendingBatch {
    int32_t counter = 0;
    std::vector<uint8_t> final_header;
    std::vector<uint8_t> start_header;
    std::vector<std::pair<size_t, size_t>> runs;
    std::vector<TJournalEntry> entries;
    uint64_t old_length = 0;
    bool journal_ready = false;
  };

  void Configure();
  void OpenStream(bool create, bool exclusive, bool read_only);
  void InitHeader();
  // Reads the header (after recovering from a journal when asked), checks it
  // and adopts it. Raises error 100 as described.
  void LoadHeader(bool verify, bool check_journal);
  void ReadHeaderBytes();
  void ParseHeader(bool verify);
  void SerialiseHeader(bool in_progress, int32_t counter, uint8_t* out) const;
  void WriteHeaderBytes(const uint8_t* bytes);
  // Rolls the file back from its journal when one is intact and its batch did
  // not finish; deletes a torn or finished one. Raises error 100 when the
  // file must be rolled back but cannot be written. True when it rolled back.
  bool RecoverIfNeeded();
  void ApplyJournal(const std::vector<TJournalEntry>& entries, uint64_t old_length);
  void DeleteJournalQuietly() noexcept;
  void EnsureUsable();
  [[noreturn]] void RaiseMetadata(const char* detail) const;
  [[noreturn]] void RaiseNotFound() const;

  // Cache. Find tries the most recently used buffers before bisecting.
  TZNTTableFileBuffer* Find(uint32_t n) const noexcept;
  size_t LowerBound(uint32_t n) const noexcept;
  void Touch(TZNTTableFileBuffer& b) noexcept;
  void LinkFront(TZNTTableFileBuffer& b) noexcept;
  void Unlink(TZNTTableFileBuffer& b) noexcept;
  std::unique_ptr<TZNTTableFileBuffer> TakeBuffer();
  TZNTTableFileBuffer& Insert(std::unique_ptr<TZNTTableFileBuffer> b);
  TZNTBlockPin ReadIntoCache(uint32_t n, TZNTReadAhead ahead);
  static bool IsEjectable(const TZNTTableFileBuffer& b) noexcept {
    return b.pins_ == 0 && !b.dirty_ && !b.queued_;
  }
  void Parse(TZNTTableFileBuffer& b);
  void DiscardDirty();
  void CollectBatch();
  void WriteChangesAlone(bool flush);
  void WriteBatch(bool flush);
  // The steps of a batch, which a group interleaves over its files: serialise
  // the headers and cut the runs; save what the batch overwrites; write (and
  // when durable flush) the journal, grouped when `tag` is set; write the
  // blocks between the two header writes; and, once the batch is safe, delete
  // the journal and mark the buffers clean.
  void PrepareBatch();
  void SaveOldBytes();
  void WriteJournal(const TGroupTag* tag);
  void WriteBlocks(bool flush);
  void FinishBatch();
  // Undoes the pending batch in place (or leaves it to the next call) and
  // discards the changes.
  void FailBatch() noexcept;
  // Discards the changes of a batch whose outcome on disk is unknown; the
  // next call recovers from the disk as an opening would.
  void AbandonBatch() noexcept;
  // Whether the collected batch has anything to write.
  bool HasBatch() const noexcept { return header_changed_ || !batch_.empty(); }
  bool IsDurable() const noexcept { return !settings_.temporary && !settings_.in_memory; }
  void AfterFailedWrite(bool journal_ready, const std::vector<TJournalEntry>& entries,
                        uint64_t old_length) noexcept;

  TZNTFileManager& files_;
  std::string path_;
  TZNTTableFileSettings settings_;
  TZNTBlowfish cipher_;
  TZNTFileStream stream_;
  TZNTTableFileMode mode_ = TZNTTableFileMode::Shared;
  TZNTTableFileMode saved_mode_ = TZNTTableFileMode::Shared;
  TZNTTableFileHeader header_;
  bool header_changed_ = false;
  bool emptied_ = false;
  bool force_flush_ = false;
  // A failed batch could not be rolled back in place; the journal on disk
  // must be applied before the file is used again, even when the batch's
  // final header reached the disk, since its caller was told it failed.
  bool needs_recovery_ = false;
  bool own_journal_ = false;
  int32_t seen_counter_ = 0;
  TZNTTableFileGroup* group_ = nullptr;
  TPendingBatch pending_;

  uint32_t header_area_ = 0;
  uint32_t header_length_ = 0;
  uint32_t block_size_ = 0;
  uint32_t cache_limit_ = 0;
  uint32_t cache_capacity_ = 0;
  uint32_t probes_ = 0;
  uint32_t read_ahead_ = 0;

  std::vector<std::unique_ptr<TZNTTableFileBuffer>> sorted_;
  TZNTTableFileBuffer* newest_ = nullptr;
  TZNTTableFileBuffer* oldest_ = nullptr;
  std::vector<TZNTTableFileBuffer*> dirty_;  // queued, by block number
  std::vector<TZNTTableFileBuffer*> batch_;
  // Buffers that are unpinned, clean and unqueued: the ones ejection may take.
  size_t ejectable_ = 0;
  std::vector<uint8_t> io_;       // write runs
  std::vector<uint8_t> read_io_;  // read runs
  std::vector<uint8_t> header_io_;

  uint64_t reads_ = 0;
  uint64_t read_bytes_ = 0;
  uint64_t writes_ = 0;
  uint64_t written_bytes_ = 0;
};

}  // namespace znt
