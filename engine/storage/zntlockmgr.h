// Lock files and object locks. Sessions coordinate only through byte-range
// locks on two kinds of empty lock file, one per configuration and one per
// database: each byte position stands for a session slot or for one object's
// lock, so a lock on a byte range means what its position stands for. Locks
// never block; an attempt succeeds or fails at once and is retried after a
// short sleep.
//
// Configuration lock file (u = a user's lock number, from 1):
//   0 .. 4095           session slots (slot n is byte n - 1)
//   4096                configuration Transaction
//   4097 .. 8192        configuration Read (one byte per slot) / Write (all)
//   8193                log Transaction
//   8194 .. 12289       log Read / Write
//   8194 + 4096 u       user u Shared / Exclusive, 4096 bytes
// Database lock file (t = a table's lock number, r = a routine's, from 1):
//   0 .. 4095           session slots
//   4096 .. 8191        database Shared / Exclusive
//   8192                catalog Transaction
//   8193 .. 12288       catalog Read / Write
//   8193 + 4096 t       table t Shared / Exclusive, 4096 bytes
//   16789504 + t        table t Transaction, 1 byte
//   16789505 .. +4096   database Transaction (covers every table's byte)
//   16789505 + 4096 t   table t Read / Write, 4096 bytes
//   16793601 .. +2^24   database Read / Write (covers every table's range)
//   33566721 + 4096 r   routine r Shared / Exclusive, 4096 bytes
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "storage/zntfilemgr.h"

namespace znt {

// The five object lock kinds. Shared and Read take the session's own byte of
// the object's range; Exclusive, Write and Transaction take the whole range.
enum class TZNTLockKind : int {
  None = 0,
  Shared = 1,
  Exclusive = 2,
  Read = 3,
  Write = 4,
  Transaction = 5
};

// The word used for a kind in messages: "none", "shared", ... "transaction".
std::string_view LockKindWord(TZNTLockKind kind) noexcept;
// The held-flag bit of a kind: 1, 2, 4, 8, 16; 0 for None.
uint32_t LockKindFlag(TZNTLockKind kind) noexcept;

inline constexpr uint32_t kZNTLockSharedFlag = 1;
inline constexpr uint32_t kZNTLockExclusiveFlag = 2;
inline constexpr uint32_t kZNTLockReadFlag = 4;
inline constexpr uint32_t kZNTLockWriteFlag = 8;
inline constexpr uint32_t kZNTLockTransactionFlag = 16;
inline constexpr uint32_t kZNTLockAllFlags = 31;

// Sessions per lock file, and the retry policy of object locks.
inline constexpr int kZNTLockSlotCount = 4096;
inline constexpr int kZNTLockOpenRetries = 256;      // Shared, Exclusive
inline constexpr int kZNTLockAccessRetries = 32768;  // Read, Write, Transaction
inline constexpr uint32_t kZNTLockRetrySleepMs = 3;

class TZNTLockManager;

// One lockable thing: its owner's lock manager, the words that name it in
// messages, the byte ranges of its Shared/Exclusive, Read/Write and
// Transaction locks, and the session's bookkeeping of what it holds. The
// configuration and catalog objects embed one each; a copy belongs to one
// session. A range of length 0 means the object has no locks of that pair.
//
// Invariants (checked by CheckInvariants):
//  1. held and saved flags use only the five kind bits;
//  2. Shared and Exclusive are never held together;
//  3. Shared, Exclusive and Read are held only when the object has a range
//     for them (Write and Transaction bits may come from the database).
class TZNTLockable {
 public:
  // A byte range [offset, offset + length) of the lock file.
  struct Range {
    uint64_t offset = 0;
    uint64_t length = 0;
  };

  // A descriptor holding no locks; the factories below give the byte maps'.
  TZNTLockable() = default;
  TZNTLockable(TZNTLockManager* manager, std::string kind_word, std::string name, Range shared,
               Range read_write, Range transaction);

  // The descriptors of the byte maps. Lock numbers count from 1; a table's
  // stays within 1 to 4096.
  static TZNTLockable Configuration(TZNTLockManager* manager, std::string name);
  static TZNTLockable Log(TZNTLockManager* manager, std::string name);
  static TZNTLockable User(TZNTLockManager* manager, std::string name, uint32_t number);
  static TZNTLockable Database(TZNTLockManager* manager, std::string name);
  static TZNTLockable Catalog(TZNTLockManager* manager, std::string name);
  static TZNTLockable Table(TZNTLockManager* manager, std::string name, uint32_t number);
  // `kind_word` names the routine's kind in messages ("procedure", "function").
  static TZNTLockable Routine(TZNTLockManager* manager, std::string kind_word, std::string name,
                              uint32_t number);

  TZNTLockManager* Manager() const noexcept { return manager_; }
  void SetManager(TZNTLockManager* manager) noexcept { manager_ = manager; }
  const std::string& KindWord() const noexcept { return kind_word_; }
  const std::string& Name() const noexcept { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  const Range& SharedRange() const noexcept { return shared_; }
  const Range& ReadWriteRange() const noexcept { return read_write_; }
  const Range& TransactionRange() const noexcept { return transaction_; }
  // The range a kind locks in whole (the one-byte kinds sit inside it).
  const Range& RangeOf(TZNTLockKind kind) const noexcept;

  // Held-flag bits (kZNTLock*Flag).
  uint32_t HeldFlags() const noexcept { return held_; }
  bool Holds(TZNTLockKind kind) const noexcept { return (held_ & LockKindFlag(kind)) != 0; }
  // The flags saved by the Transaction lock calls not yet matched by unlocks,
  // innermost last.
  const std::vector<uint32_t>& SavedFlags() const noexcept { return saved_; }

  // A read-only object takes no Read, Write or Transaction locks (Shared and
  // Exclusive still apply); a temporary one takes no locks at all.
  bool IsReadOnly() const noexcept { return read_only_; }
  void SetReadOnly(bool value) noexcept { read_only_ = value; }
  bool IsTemporary() const noexcept { return temporary_; }
  void SetTemporary(bool value) noexcept { temporary_ = value; }

  // Clears the held and saved flags and the in-transaction mark, for an
  // object whose lock manager was closed (closing released its bytes).
  void ForgetLocks() noexcept;

  // Marks the object as inside a transaction; kept for the transaction code.
  bool InTransaction() const noexcept { return in_transaction_; }
  void SetInTransaction(bool value) noexcept { in_transaction_ = value; }

  // Gives `table` this object's Write and Transaction bits, saved-flags stack
  // and in-transaction mark, so that a database-wide transaction covers it
  // without locks of its own. Its other bits are left alone.
  void PassTransactionStateTo(TZNTLockable& table) const;

  // Lock and unlock through the manager; see TZNTLockManager::Lock.
  bool Lock(TZNTLockKind kind);
  void Unlock(TZNTLockKind kind);

  // Asserts the invariants above; does nothing in a release build.
  void CheckInvariants() const;

 private:
  friend class TZNTLockManager;

  TZNTLockManager* manager_ = nullptr;
  std::string kind_word_;
  std::string name_;
  Range shared_;
  Range read_write_;
  Range transaction_;
  uint32_t held_ = 0;
  std::vector<uint32_t> saved_;
  bool read_only_ = false;
  bool temporary_ = false;
  bool in_transaction_ = false;
};

// One session's view of one lock file: the open stream, the session's slot
// and every range this session has locked in it. The owner (configuration or
// database) is read-only when the lock file could not be created or written,
// and temporary when it lives in memory; either way no lock file is used and
// every object lock succeeds at once. Used by one session, from one thread at
// a time; the file object serialises the calls of different sessions.
//
// Invariants (checked by CheckInvariants):
//  1. without a stream (closed, or a read-only or temporary owner) the slot
//     is 0 and no range is held;
//  2. with a stream the manager is open, the slot is 1 to SlotCapacity() and
//     its byte is the first held range;
//  3. held ranges are non-empty, pairwise disjoint and locked in the file.
class TZNTLockManager {
 public:
  // Called with the milliseconds to sleep before each retry.
  using SleepFunction = std::function<void(uint32_t milliseconds)>;

  // A manager for the lock file `name` in `folder`, reached through `files`,
  // which must outlive it. A `temporary` owner never uses a file.
  TZNTLockManager(TZNTFileManager& files, std::string folder, std::string name, bool temporary);
  // Closes the lock file (the file stays on disk).
  virtual ~TZNTLockManager();
  TZNTLockManager(const TZNTLockManager&) = delete;
  TZNTLockManager& operator=(const TZNTLockManager&) = delete;

  // The folder joined with the lock file name.
  virtual std::string LockFilePath() const;
  const std::string& LockFileName() const noexcept { return name_; }
  // The session's slot, 1 to SlotCapacity(); 0 when none is held.
  virtual int Slot() const noexcept { return slot_; }
  // Sets the slot a database lock manager tries first at the next open (the
  // session's configuration slot; 0 for none). Only while closed.
  virtual void SetSlot(int slot);
  int PreferredSlot() const noexcept { return preferred_slot_; }
  virtual int SlotCapacity() const noexcept { return kZNTLockSlotCount; }

  // Opens the lock file, creating it when missing, then takes a slot. A file
  // that cannot be created or written makes the owner read-only instead of
  // failing. Raises error 405 ("The maximum number of sessions has been
  // reached (<lock file>)") when every slot is taken. Open twice is a bug.
  virtual void Open();
  // Releases every range this session still holds and the slot, and closes
  // the file, which stays on disk. Never raises; closing a closed manager
  // does nothing.
  virtual void Close() noexcept;
  // Closes and deletes the lock file, ignoring a failure to delete.
  void CloseAndDelete() noexcept;

  bool IsOpen() const noexcept { return open_; }
  bool IsTemporary() const noexcept { return temporary_; }
  // True when the lock file could only be read or not be created at all, or
  // when the owner said so.
  bool IsReadOnly() const noexcept { return read_only_; }
  void SetReadOnly(bool value) noexcept { read_only_ = value; }

  // Takes the `kind` lock of `object` after the rules of the kinds; returns
  // whether a lock was taken now (false when a held lock already covers it or
  // none is needed). Retries 256 (Shared, Exclusive) or 32768 times with a
  // 3 ms sleep; then, or at once when Exclusive conflicts with a held Shared
  // or Exclusive, raises error 300 "Cannot lock the <kind word> <name> for
  // <access> access". A session holding Read that asks Write of the same
  // object collides with its own byte: it must let Read go first.
  bool Lock(TZNTLockable& object, TZNTLockKind kind);
  // Releases the `kind` lock of `object` when it holds one; a Transaction
  // unlock releases the bytes only at the outermost level. Raises error 301
  // "Cannot unlock ..." when the file refuses.
  void Unlock(TZNTLockable& object, TZNTLockKind kind);

  // Replaces the sleep between retries (tests count or skip the sleeps); an
  // empty function restores the real sleep.
  void SetSleepFunction(SleepFunction sleep);

  // The ranges this session holds in the lock file, in the order taken.
  const std::vector<TZNTLockRange>& HeldRanges() const noexcept { return held_; }
  // Asserts the invariants above; does nothing in a release build.
  void CheckInvariants() const;

 protected:
  // Opens or creates the lock file; marks the owner read-only on failure.
  virtual void OpenLockFile();
  virtual void CloseLockFile() noexcept;
  // Takes a slot; raises error 405 when none is free. Called with the file
  // open.
  virtual void AcquireSlot() = 0;
  virtual void ReleaseSlot() noexcept;
  // Tries once to lock the byte of `slot`; on success it becomes the slot.
  virtual bool LockSlotByte(int slot);
  virtual void UnlockSlotByte() noexcept;
  // Tries slots 1, 2, ... in turn and keeps the first free one.
  void AcquireFirstFreeSlot();
  [[noreturn]] void RaiseNoFreeSlot() const;

  // The one-byte lock of this session in the range at `offset`, and a whole
  // range, each tried 1 + `retries` times; false when every attempt failed.
  virtual bool LockByte(uint64_t offset, int retries);
  virtual bool UnlockByte(uint64_t offset);
  virtual bool LockWholeRange(uint64_t offset, uint64_t length, int retries);
  virtual bool UnlockWholeRange(uint64_t offset, uint64_t length);

  bool HasStream() const noexcept { return stream_.IsOpen(); }

 private:
  bool TryLockHeld(uint64_t offset, uint64_t length);
  bool UnlockHeld(uint64_t offset, uint64_t length);
  bool LockWithRetries(uint64_t offset, uint64_t length, int retries);
  void Sleep(uint32_t milliseconds);
  // Takes the range of `kind` in `object` and sets its bit; raises error 300.
  void Acquire(TZNTLockable& object, TZNTLockKind kind);
  // Releases the range of `kind` in `object` and clears its bit; raises 301.
  void Release(TZNTLockable& object, TZNTLockKind kind);

  TZNTFileManager& files_;
  std::string folder_;
  std::string name_;
  TZNTFileStream stream_;
  int slot_ = 0;
  int preferred_slot_ = 0;
  bool open_ = false;
  bool read_only_ = false;
  const bool temporary_;
  std::vector<TZNTLockRange> held_;
  SleepFunction sleep_;
};

// The configuration lock manager: takes the first free slot, 1 to 4096.
class TZNTConfigLockManager : public TZNTLockManager {
 public:
  // `name` is the configuration name + the lock extension.
  TZNTConfigLockManager(TZNTFileManager& files, std::string folder, std::string name,
                        bool temporary = false);
  ~TZNTConfigLockManager() override;

 protected:
  void AcquireSlot() override;
};

// A database lock manager: takes the session's configuration slot, which is
// normally free in the database's lock file too. When it is not (another
// configuration's sessions share the database folder) or the session has no
// configuration slot, it takes the first free slot instead.
class TZNTDatabaseLockManager : public TZNTLockManager {
 public:
  // `name` is the catalog name + the lock extension; `session_slot` the
  // session's slot in its configuration lock file (0 for none).
  TZNTDatabaseLockManager(TZNTFileManager& files, std::string folder, std::string name,
                          int session_slot, bool temporary = false);
  ~TZNTDatabaseLockManager() override;

 protected:
  void AcquireSlot() override;
};

// Holds one object lock for a scope: locks on construction, unlocks on
// Release() (which may raise 301) or, failing that, on destruction (which
// swallows a failure, as it may run while an error unwinds).
class TZNTObjectLock {
 public:
  TZNTObjectLock(TZNTLockable& object, TZNTLockKind kind);
  ~TZNTObjectLock();
  TZNTObjectLock(const TZNTObjectLock&) = delete;
  TZNTObjectLock& operator=(const TZNTObjectLock&) = delete;

  // Whether the lock call took bytes now (see TZNTLockManager::Lock).
  bool TookLock() const noexcept { return took_; }
  // Unlocks now; raises error 301. Releasing twice does nothing.
  void Release();

 private:
  TZNTLockable* object_;
  TZNTLockKind kind_;
  bool took_ = false;
  bool held_ = true;
};

}  // namespace znt
