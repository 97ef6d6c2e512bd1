#include "storage/zntlockmgr.h"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <thread>

#include "base/zntconsts.h"
#include "base/znterror.h"

namespace znt {

namespace {

// Every object of a kind has a range of one slot's width per session.
constexpr uint64_t kSlotWidth = kZNTLockSlotCount;

// Configuration lock file.
constexpr uint64_t kConfigTransaction = 4096;
constexpr uint64_t kConfigReadWrite = 4097;
constexpr uint64_t kLogTransaction = 8193;
constexpr uint64_t kLogReadWrite = 8194;
constexpr uint64_t kUserBase = 8194;

// Database lock file.
constexpr uint64_t kDatabaseShared = 4096;
constexpr uint64_t kCatalogTransaction = 8192;
constexpr uint64_t kCatalogReadWrite = 8193;
constexpr uint64_t kTableSharedBase = 8193;
constexpr uint64_t kTableTransactionBase = 16789504;
constexpr uint64_t kDatabaseTransaction = 16789505;
constexpr uint64_t kTableReadWriteBase = 16789505;
constexpr uint64_t kDatabaseReadWrite = 16793601;
constexpr uint64_t kDatabaseReadWriteLength = kSlotWidth * kSlotWidth;
constexpr uint64_t kRoutineBase = 33566721;

bool IsOneByteKind(TZNTLockKind kind) noexcept {
  return kind == TZNTLockKind::Shared || kind == TZNTLockKind::Read;
}

int RetriesOf(TZNTLockKind kind) noexcept {
  return kind == TZNTLockKind::Shared || kind == TZNTLockKind::Exclusive ? kZNTLockOpenRetries
                                                                         : kZNTLockAccessRetries;
}

[[noreturn]] void RaiseLockError(int code, const TZNTLockable& object, TZNTLockKind kind) {
  RaiseZNTError(code, {object.KindWord(), object.Name(), LockKindWord(kind)});
}

}  // namespace

std::string_view LockKindWord(TZNTLockKind kind) noexcept {
  switch (kind) {
    case TZNTLockKind::Shared:
      return "shared";
    case TZNTLockKind::Exclusive:
      return "exclusive";
    case TZNTLockKind::Read:
      return "read";
    case TZNTLockKind::Write:
      return "write";
    case TZNTLockKind::Transaction:
      return "transaction";
    case TZNTLockKind::None:
      break;
  }
  return "none";
}

uint32_t LockKindFlag(TZNTLockKind kind) noexcept {
  const int k = static_cast<int>(kind);
  return k >= 1 && k <= 5 ? 1u << (k - 1) : 0;
}

// ---------------------------------------------------------------- TZNTLockable

TZNTLockable::TZNTLockable(TZNTLockManager* manager, std::string kind_word, std::string name,
                           Range shared, Range read_write, Range transaction)
    : manager_(manager),
      kind_word_(std::move(kind_word)),
      name_(std::move(name)),
      shared_(shared),
      read_write_(read_write),
      transaction_(transaction) {}

TZNTLockable TZNTLockable::Configuration(TZNTLockManager* manager, std::string name) {
  return TZNTLockable(manager, "configuration", std::move(name), {}, {kConfigReadWrite, kSlotWidth},
                      {kConfigTransaction, 1});
}

TZNTLockable TZNTLockable::Log(TZNTLockManager* manager, std::string name) {
  return TZNTLockable(manager, "log", std::move(name), {}, {kLogReadWrite, kSlotWidth},
                      {kLogTransaction, 1});
}

TZNTLockable TZNTLockable::User(TZNTLockManager* manager, std::string name, uint32_t number) {
  assert(number >= 1);
  return TZNTLockable(manager, "user", std::move(name),
                      {kUserBase + kSlotWidth * number, kSlotWidth}, {}, {});
}

TZNTLockable TZNTLockable::Database(TZNTLockManager* manager, std::string name) {
  return TZNTLockable(manager, "database", std::move(name), {kDatabaseShared, kSlotWidth},
                      {kDatabaseReadWrite, kDatabaseReadWriteLength},
                      {kDatabaseTransaction, kSlotWidth});
}

TZNTLockable TZNTLockable::Catalog(TZNTLockManager* manager, std::string name) {
  return TZNTLockable(manager, "catalog", std::move(name), {}, {kCatalogReadWrite, kSlotWidth},
                      {kCatalogTransaction, 1});
}

TZNTLockable TZNTLockable::Table(TZNTLockManager* manager, std::string name, uint32_t number) {
  assert(number >= 1 && number <= kSlotWidth);
  return TZNTLockable(
      manager, "table", std::move(name), {kTableSharedBase + kSlotWidth * number, kSlotWidth},
      {kTableReadWriteBase + kSlotWidth * number, kSlotWidth}, {kTableTransactionBase + number, 1});
}

TZNTLockable TZNTLockable::Routine(TZNTLockManager* manager, std::string kind_word,
                                   std::string name, uint32_t number) {
  assert(number >= 1);
  return TZNTLockable(manager, std::move(kind_word), std::move(name),
                      {kRoutineBase + kSlotWidth * number, kSlotWidth}, {}, {});
}

const TZNTLockable::Range& TZNTLockable::RangeOf(TZNTLockKind kind) const noexcept {
  static const Range kNone;
  switch (kind) {
    case TZNTLockKind::Shared:
    case TZNTLockKind::Exclusive:
      return shared_;
    case TZNTLockKind::Read:
    case TZNTLockKind::Write:
      return read_write_;
    case TZNTLockKind::Transaction:
      return transaction_;
    case TZNTLockKind::None:
      break;
  }
  return kNone;
}

void TZNTLockable::ForgetLocks() noexcept {
  held_ = 0;
  saved_.clear();
  in_transaction_ = false;
}

void TZNTLockable::PassTransactionStateTo(TZNTLockable& table) const {
  constexpr uint32_t kPassed = kZNTLockWriteFlag | kZNTLockTransactionFlag;
  table.held_ = (table.held_ & ~kPassed) | (held_ & kPassed);
  table.saved_ = saved_;
  table.in_transaction_ = in_transaction_;
}

bool TZNTLockable::Lock(TZNTLockKind kind) {
  assert(manager_ != nullptr);
  return manager_->Lock(*this, kind);
}

void TZNTLockable::Unlock(TZNTLockKind kind) {
  assert(manager_ != nullptr);
  manager_->Unlock(*this, kind);
}

void TZNTLockable::CheckInvariants() const {
#ifndef NDEBUG
  assert((held_ & ~kZNTLockAllFlags) == 0);
  for (uint32_t saved : saved_) assert((saved & ~kZNTLockAllFlags) == 0);
  assert((held_ & (kZNTLockSharedFlag | kZNTLockExclusiveFlag)) !=
         (kZNTLockSharedFlag | kZNTLockExclusiveFlag));
  for (int k = 1; k <= 5; ++k) {
    const auto kind = static_cast<TZNTLockKind>(k);
    // A Write or Transaction bit passed on from the database needs no range.
    if (kind == TZNTLockKind::Write || kind == TZNTLockKind::Transaction) continue;
    assert(!Holds(kind) || RangeOf(kind).length > 0);
  }
#endif
}

// ------------------------------------------------------------ TZNTLockManager

TZNTLockManager::TZNTLockManager(TZNTFileManager& files, std::string folder, std::string name,
                                 bool temporary)
    : files_(files), folder_(std::move(folder)), name_(std::move(name)), temporary_(temporary) {}

TZNTLockManager::~TZNTLockManager() { TZNTLockManager::Close(); }

std::string TZNTLockManager::LockFilePath() const {
  if (folder_.empty()) return name_;
  if (folder_.back() == '/') return folder_ + name_;
  return folder_ + "/" + name_;
}

void TZNTLockManager::SetSlot(int slot) {
  assert(!open_);
  assert(slot >= 0 && slot <= SlotCapacity());
  preferred_slot_ = slot;
}

void TZNTLockManager::Open() {
  assert(!open_);
  if (open_) return;
  if (!temporary_) {
    OpenLockFile();
    if (HasStream()) {
      try {
        AcquireSlot();
      } catch (...) {
        CloseLockFile();
        throw;
      }
    }
  }
  open_ = true;
  CheckInvariants();
}

void TZNTLockManager::Close() noexcept {
  if (!open_) return;
  // The file object is shared with the process's other sessions, so closing
  // our stream alone would leave our ranges locked: give them back first,
  // newest first, the slot last.
  const size_t keep = slot_ != 0 ? 1 : 0;
  while (held_.size() > keep) {
    const TZNTLockRange range = held_.back();
    held_.pop_back();
    try {
      stream_.Unlock(range.offset, range.length);
    } catch (...) {
      // Closing the file below gives the operating system's lock up anyway.
    }
  }
  ReleaseSlot();
  CloseLockFile();
  open_ = false;
  CheckInvariants();
}

void TZNTLockManager::CloseAndDelete() noexcept {
  Close();
  if (temporary_) return;
  try {
    files_.DeleteFile(LockFilePath());
  } catch (...) {
    // Another session or process may still have it open; it is only an empty file.
  }
}

void TZNTLockManager::OpenLockFile() {
  const std::string path = LockFilePath();
  try {
    if (files_.FileExists(path)) {
      stream_ = files_.OpenFile(path, false, false);
    } else {
      stream_ = files_.CreateFile(path, false, false);
    }
  } catch (const EZNTException&) {
    // A folder the session may not write to still lets it read what is there.
    read_only_ = true;
    return;
  }
  if (stream_.IsReadOnly()) read_only_ = true;
}

void TZNTLockManager::CloseLockFile() noexcept {
  held_.clear();  // whatever is left goes with the file's last close
  slot_ = 0;
  stream_.Close();
}

void TZNTLockManager::ReleaseSlot() noexcept {
  if (slot_ != 0) UnlockSlotByte();
}

bool TZNTLockManager::LockSlotByte(int slot) {
  assert(held_.empty());
  if (slot < 1 || slot > SlotCapacity()) return false;
  if (!TryLockHeld(static_cast<uint64_t>(slot - 1), 1)) return false;
  slot_ = slot;
  return true;
}

void TZNTLockManager::UnlockSlotByte() noexcept {
  try {
    UnlockHeld(static_cast<uint64_t>(slot_ - 1), 1);
  } catch (...) {
    // The byte goes with the file when it is closed.
  }
  slot_ = 0;
}

void TZNTLockManager::AcquireFirstFreeSlot() {
  for (int slot = 1; slot <= SlotCapacity(); ++slot) {
    if (LockSlotByte(slot)) return;
  }
  RaiseNoFreeSlot();
}

void TZNTLockManager::RaiseNoFreeSlot() const {
  RaiseZNTError(err::MaximumReached, {"session", LockFilePath()});
}

bool TZNTLockManager::LockByte(uint64_t offset, int retries) {
  assert(slot_ >= 1);
  return LockWithRetries(offset + static_cast<uint64_t>(slot_ - 1), 1, retries);
}

bool TZNTLockManager::UnlockByte(uint64_t offset) {
  assert(slot_ >= 1);
  return UnlockHeld(offset + static_cast<uint64_t>(slot_ - 1), 1);
}

bool TZNTLockManager::LockWholeRange(uint64_t offset, uint64_t length, int retries) {
  return LockWithRetries(offset, length, retries);
}

bool TZNTLockManager::UnlockWholeRange(uint64_t offset, uint64_t length) {
  return UnlockHeld(offset, length);
}

bool TZNTLockManager::TryLockHeld(uint64_t offset, uint64_t length) {
  if (!stream_.TryLock(offset, length)) return false;
  held_.push_back({offset, length});
  return true;
}

bool TZNTLockManager::UnlockHeld(uint64_t offset, uint64_t length) {
  // Only what this session locked may be unlocked: the file's range list is
  // shared with every other session of the process.
  auto it = std::find(held_.begin(), held_.end(), TZNTLockRange{offset, length});
  if (it == held_.end()) return false;
  held_.erase(it);
  return stream_.Unlock(offset, length);
}

bool TZNTLockManager::LockWithRetries(uint64_t offset, uint64_t length, int retries) {
  for (int attempt = 0; attempt <= retries; ++attempt) {
    if (attempt > 0) Sleep(kZNTLockRetrySleepMs);
    if (TryLockHeld(offset, length)) return true;
  }
  return false;
}

void TZNTLockManager::SetSleepFunction(SleepFunction sleep) { sleep_ = std::move(sleep); }

void TZNTLockManager::Sleep(uint32_t milliseconds) {
  if (sleep_) {
    sleep_(milliseconds);
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
}

bool TZNTLockManager::Lock(TZNTLockable& object, TZNTLockKind kind) {
  assert(kind != TZNTLockKind::None);
  if (temporary_ || read_only_ || object.temporary_) return false;
  assert(HasStream() && "object lock through a lock manager that is not open");
  const uint32_t held = object.held_;
  switch (kind) {
    case TZNTLockKind::Shared:
      if (held & kZNTLockSharedFlag) return false;
      if (held & kZNTLockExclusiveFlag) RaiseLockError(err::Lock, object, kind);
      break;
    case TZNTLockKind::Exclusive:
      if (held & (kZNTLockSharedFlag | kZNTLockExclusiveFlag)) {
        RaiseLockError(err::Lock, object, kind);
      }
      break;
    case TZNTLockKind::Read:
      if (object.read_only_ || (held & (kZNTLockReadFlag | kZNTLockWriteFlag |
                                        kZNTLockTransactionFlag | kZNTLockExclusiveFlag))) {
        return false;
      }
      break;
    case TZNTLockKind::Write:
      if (object.read_only_ || (held & (kZNTLockWriteFlag | kZNTLockExclusiveFlag))) return false;
      break;
    case TZNTLockKind::Transaction:
      object.saved_.push_back(held);
      if (object.read_only_ || (held & (kZNTLockTransactionFlag | kZNTLockExclusiveFlag))) {
        return false;
      }
      try {
        Acquire(object, kind);
      } catch (...) {
        // A failed lock has no matching unlock, so it must not leave its flags saved.
        object.saved_.pop_back();
        throw;
      }
      object.CheckInvariants();
      return true;
    case TZNTLockKind::None:
      return false;
  }
  Acquire(object, kind);
  object.CheckInvariants();
  return true;
}

void TZNTLockManager::Unlock(TZNTLockable& object, TZNTLockKind kind) {
  assert(kind != TZNTLockKind::None);
  // Lock took nothing (and saved nothing) for these, so there is nothing to undo.
  if (temporary_ || read_only_ || object.temporary_) return;
  const uint32_t held = object.held_;
  switch (kind) {
    case TZNTLockKind::Shared:
    case TZNTLockKind::Exclusive:
      if (object.Holds(kind)) Release(object, kind);
      break;
    case TZNTLockKind::Read:
    case TZNTLockKind::Write:
      if (object.Holds(kind) && !object.read_only_ && !(held & kZNTLockExclusiveFlag)) {
        Release(object, kind);
      }
      break;
    case TZNTLockKind::Transaction: {
      assert(!object.saved_.empty() && "transaction unlock without a matching lock");
      if (object.saved_.empty()) return;
      const uint32_t saved = object.saved_.back();
      object.saved_.pop_back();
      if (!(saved & kZNTLockTransactionFlag) && (held & kZNTLockTransactionFlag) &&
          !object.read_only_ && !(held & kZNTLockExclusiveFlag)) {
        Release(object, kind);
      }
      break;
    }
    case TZNTLockKind::None:
      break;
  }
  object.CheckInvariants();
}

void TZNTLockManager::Acquire(TZNTLockable& object, TZNTLockKind kind) {
  const TZNTLockable::Range& range = object.RangeOf(kind);
  assert(range.length > 0 && "the object has no range for this lock kind");
  assert(!IsOneByteKind(kind) || static_cast<uint64_t>(slot_) <= range.length);
  const int retries = RetriesOf(kind);
  const bool locked = IsOneByteKind(kind) ? LockByte(range.offset, retries)
                                          : LockWholeRange(range.offset, range.length, retries);
  if (!locked) RaiseLockError(err::Lock, object, kind);
  object.held_ |= LockKindFlag(kind);
}

void TZNTLockManager::Release(TZNTLockable& object, TZNTLockKind kind) {
  const TZNTLockable::Range& range = object.RangeOf(kind);
  const bool unlocked =
      IsOneByteKind(kind) ? UnlockByte(range.offset) : UnlockWholeRange(range.offset, range.length);
  // Whatever the file said, the session no longer counts the lock as its own.
  object.held_ &= ~LockKindFlag(kind);
  if (!unlocked) RaiseLockError(err::Unlock, object, kind);
}

void TZNTLockManager::CheckInvariants() const {
#ifndef NDEBUG
  if (!stream_.IsOpen()) {
    assert(slot_ == 0);
    assert(held_.empty());
    return;
  }
  assert(open_);
  assert(slot_ >= 1 && slot_ <= SlotCapacity());
  assert(!held_.empty() && held_.front() == (TZNTLockRange{static_cast<uint64_t>(slot_ - 1), 1}));
  const std::vector<TZNTLockRange> locked = stream_.File().LockedRanges();
  for (size_t i = 0; i < held_.size(); ++i) {
    assert(held_[i].length > 0);
    for (size_t j = i + 1; j < held_.size(); ++j) {
      assert(held_[i].End() <= held_[j].offset || held_[j].End() <= held_[i].offset);
    }
    assert(std::find(locked.begin(), locked.end(), held_[i]) != locked.end());
  }
#endif
}

// ------------------------------------------------------- the two lock managers

TZNTConfigLockManager::TZNTConfigLockManager(TZNTFileManager& files, std::string folder,
                                             std::string name, bool temporary)
    : TZNTLockManager(files, std::move(folder), std::move(name), temporary) {}

TZNTConfigLockManager::~TZNTConfigLockManager() { Close(); }

void TZNTConfigLockManager::AcquireSlot() { AcquireFirstFreeSlot(); }

TZNTDatabaseLockManager::TZNTDatabaseLockManager(TZNTFileManager& files, std::string folder,
                                                 std::string name, int session_slot, bool temporary)
    : TZNTLockManager(files, std::move(folder), std::move(name), temporary) {
  SetSlot(session_slot);
}

TZNTDatabaseLockManager::~TZNTDatabaseLockManager() { Close(); }

void TZNTDatabaseLockManager::AcquireSlot() {
  if (LockSlotByte(PreferredSlot())) return;
  AcquireFirstFreeSlot();
}

// ------------------------------------------------------------- TZNTObjectLock

TZNTObjectLock::TZNTObjectLock(TZNTLockable& object, TZNTLockKind kind)
    : object_(&object), kind_(kind) {
  took_ = object.Lock(kind);
}

TZNTObjectLock::~TZNTObjectLock() {
  try {
    Release();
  } catch (...) {
    // Released while another error unwinds, or at the end of a scope whose
    // result no longer depends on it; the lock file closes with the session.
  }
}

void TZNTObjectLock::Release() {
  if (!held_) return;
  held_ = false;
  // Transaction calls always pair up (they keep the saved-flags stack);
  // the other kinds are undone only when this scope took them, so an outer
  // holder keeps its lock.
  if (took_ || kind_ == TZNTLockKind::Transaction) object_->Unlock(kind_);
}

}  // namespace znt
