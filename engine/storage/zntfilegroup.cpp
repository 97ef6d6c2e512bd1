#include "storage/zntfilegroup.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <chrono>
#include <cstring>
#include <exception>
#include <mutex>
#include <random>

#include "base/zntcommon.h"
#include "base/znterror.h"

namespace znt {

namespace {

constexpr char kMarkMagic[8] = {'Z', 'N', 'T', 'C', 'M', 'I', 'T', 1};
constexpr size_t kMarkBody = sizeof kMarkMagic + TZNTDigest::kSize;
constexpr size_t kMarkSize = kMarkBody + TZNTDigest::kSize;

std::string MarkBytes(const TZNTDigest::TValue& id) {
  std::string bytes(kMarkMagic, sizeof kMarkMagic);
  bytes.append(reinterpret_cast<const char*>(id.data()), id.size());
  const TZNTDigest::TValue sum = TZNTDigest::Compute(bytes);
  bytes.append(reinterpret_cast<const char*>(sum.data()), sum.size());
  return bytes;
}

// A group id no earlier batch used: a stale mark or journal of another batch
// must never match it.
TZNTDigest::TValue NewGroupId() {
  static std::mutex mutex;
  static std::mt19937_64 generator = [] {
    std::random_device device;
    const uint64_t now =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::seed_seq seed{device(),
                       device(),
                       device(),
                       device(),
                       static_cast<uint32_t>(now),
                       static_cast<uint32_t>(now >> 32)};
    return std::mt19937_64(seed);
  }();
  static std::atomic<uint64_t> serial{0};
  TZNTDigest::TValue id{};
  uint64_t a, b;
  {
    std::lock_guard<std::mutex> guard(mutex);
    a = generator();
    b = generator() ^ ++serial;
  }
  StoreLE64(id.data(), a);
  StoreLE64(id.data() + 8, b);
  return id;
}

void DeleteQuietly(TZNTFileManager& files, const std::string& path) noexcept {
  try {
    if (files.FileExists(path)) files.DeleteFile(path);
  } catch (...) {
    // A stale mark names a finished group; no later batch carries its id.
  }
}

}  // namespace

bool ZNTCommitMarkHolds(TZNTFileManager& files, const std::string& path,
                        const TZNTDigest::TValue& id) {
  if (path.empty() || !files.FileExists(path)) return false;
  std::string data(kMarkSize + 1, '\0');
  {
    TZNTFileStream mark = files.OpenFile(path, false, true);
    data.resize(mark.ReadAt(0, data.data(), data.size()));
  }
  return data == MarkBytes(id);
}

TZNTTableFileGroup::TZNTTableFileGroup(std::vector<TZNTTableFileManager*> members)
    : members_(std::move(members)) {
  for (TZNTTableFileManager* m : members_) {
    assert(m != nullptr && m->group_ == nullptr && "a file belongs to one group");
    m->group_ = this;
  }
}

TZNTTableFileGroup::~TZNTTableFileGroup() {
  for (TZNTTableFileManager* m : members_) m->group_ = nullptr;
}

void TZNTTableFileGroup::WriteChanges(bool flush) {
  std::vector<TZNTTableFileManager*> busy;
  for (TZNTTableFileManager* m : members_) {
    if (!m->IsOpen()) continue;
    m->EnsureUsable();
    m->CollectBatch();
    if (!m->HasBatch()) continue;
    m->CheckWritable();
    for (const TZNTTableFileBuffer* b : m->batch_) {
      if (b->PinCount() > 0)
        m->RaiseCorrupt("Attempted to flush a " + std::string(m->KindWord()) +
                        " from the cache while it is in use");
    }
    busy.push_back(m);
  }
  if (busy.empty()) return;
  // One changed file needs no mark: its own journal makes its batch atomic.
  if (busy.size() == 1) {
    busy.front()->WriteBatch(flush);
    return;
  }

  TZNTTableFileManager::TGroupTag tag;
  tag.id = NewGroupId();
  tag.mark_path = busy.front()->CommitMarkPath();
  TZNTFileManager& files = busy.front()->files_;
  const bool durable = std::any_of(busy.begin(), busy.end(),
                                   [](const TZNTTableFileManager* m) { return m->IsDurable(); });
  for (TZNTTableFileManager* m : busy) m->PrepareBatch();
  bool mark_started = false;
  try {
    for (TZNTTableFileManager* m : busy) m->SaveOldBytes();
    // Every journal is on disk before any file is touched, so a torn journal
    // always belongs to a batch that changed nothing yet.
    for (TZNTTableFileManager* m : busy) m->WriteJournal(&tag);
    for (TZNTTableFileManager* m : busy) m->WriteBlocks(flush);
    mark_started = true;
    const std::string mark = MarkBytes(tag.id);
    TZNTFileStream stream = files.CreateFile(tag.mark_path, false, false);
    stream.WriteAt(0, mark.data(), mark.size());
    if (flush && durable) stream.Flush();
  } catch (...) {
    // A mark that may have reached the disk must go before the files are
    // rolled back; when it cannot, the disk decides at the next call.
    bool undo = true;
    if (mark_started) {
      try {
        if (files.FileExists(tag.mark_path)) files.DeleteFile(tag.mark_path);
      } catch (...) {
        undo = false;
      }
    }
    for (auto it = busy.rbegin(); it != busy.rend(); ++it) {
      if (undo)
        (*it)->FailBatch();
      else
        (*it)->AbandonBatch();
    }
    throw;
  }
  // The journals go before the mark: a journal left without its mark would
  // roll back a finished batch.
  for (TZNTTableFileManager* m : busy) m->FinishBatch();
  DeleteQuietly(files, tag.mark_path);
}

bool TZNTTableFileGroup::BeginOperation() {
  bool dropped = false;
  for (TZNTTableFileManager* m : members_) {
    if (m->IsOpen() && m->BeginOperation()) dropped = true;
  }
  return dropped;
}

void TZNTTableFileGroup::BeginTransaction() {
  std::vector<TZNTTableFileManager*> begun;
  try {
    for (TZNTTableFileManager* m : members_) {
      if (!m->IsOpen()) continue;
      m->BeginTransaction();
      begun.push_back(m);
    }
  } catch (...) {
    for (TZNTTableFileManager* m : begun) {
      try {
        m->RollbackTransaction();
      } catch (...) {
        // The member is back in its mode; its header is reread at next use.
      }
    }
    throw;
  }
}

void TZNTTableFileGroup::CommitTransaction(bool flush) {
  try {
    WriteChanges(flush);
  } catch (...) {
    for (TZNTTableFileManager* m : members_) {
      if (m->mode_ == TZNTTableFileMode::Transaction) m->mode_ = m->saved_mode_;
    }
    throw;
  }
  for (TZNTTableFileManager* m : members_) {
    if (m->IsOpen() && m->Mode() == TZNTTableFileMode::Transaction) m->CommitTransaction(flush);
  }
}

void TZNTTableFileGroup::RollbackTransaction() {
  std::exception_ptr first;
  for (TZNTTableFileManager* m : members_) {
    if (!m->IsOpen() || m->Mode() != TZNTTableFileMode::Transaction) continue;
    try {
      m->RollbackTransaction();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}

void TZNTTableFileGroup::Close() {
  std::exception_ptr first;
  for (TZNTTableFileManager* m : members_) {
    try {
      m->CloseTableFile();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}

uint64_t TZNTTableFileGroup::WriteBytes() const noexcept {
  uint64_t total = 0;
  for (const TZNTTableFileManager* m : members_) total += m->WriteBytes();
  return total;
}

std::string TZNTTableFileGroup::VerifyInvariants() {
  for (size_t i = 0; i < members_.size(); ++i) {
    TZNTTableFileManager* m = members_[i];
    if (m->group_ != this) return "member " + m->Path() + " names another group";
    if (std::find(members_.begin(), members_.begin() + static_cast<ptrdiff_t>(i), m) !=
        members_.begin() + static_cast<ptrdiff_t>(i))
      return "member " + m->Path() + " appears twice";
    if (m->pending_.journal_ready) return "member " + m->Path() + " holds an unfinished batch";
    if (!m->IsOpen()) continue;
    const std::string problem = m->VerifyInvariants();
    if (!problem.empty()) return m->Path() + ": " + problem;
  }
  return {};
}

void TZNTTableFileGroup::CheckInvariants() {
#ifndef NDEBUG
  const std::string problem = VerifyInvariants();
  assert(problem.empty() && "table file group invariant broken");
  (void)problem;
#endif
}

}  // namespace znt
