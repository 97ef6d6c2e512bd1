#include "storage/zntstoremgr.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "base/zntcommon.h"
#include "base/zntconsts.h"
#include "base/znterror.h"
#include "storage/zntfilegroup.h"

namespace znt {

namespace {

// Offsets of the common header fields.
constexpr size_t kOffVersion = 0;
constexpr size_t kOffSignature = 4;
constexpr size_t kOffCharset = 20;
constexpr size_t kOffEncrypted = 24;
constexpr size_t kOffPassword = 25;
constexpr size_t kOffCounter = 41;
constexpr size_t kOffFirstFree = 45;
constexpr size_t kOffNextNew = 49;
constexpr size_t kOffInProgress = 53;

constexpr char kJournalMagic[8] = {'Z', 'N', 'T', 'J', 'R', 'N', 'L', 1};
constexpr uint8_t kJournalGrouped = 2;
// Magic, old length, final header digest, entry count; then the entries and
// the trailing digest.
constexpr size_t kJournalFixed = 8 + 8 + TZNTDigest::kSize + 4;


TZNTDigest::TValue DigestOf(const void* data, size_t size) {
  TZNTDigest d;
  d.Update(data, size);
  return d.Final();
}

}  // namespace

// ---------------------------------------------------------------------------
// Buffers and pins

TZNTTableFileBuffer::TZNTTableFileBuffer(uint32_t block_size) : bytes_(block_size, 0) {}

void TZNTTableFileBuffer::MarkDirty() noexcept {
  // Only a pinned buffer changes, which keeps the manager's ejectable count
  // exact without telling it.
  assert(pins_ > 0);
  dirty_ = true;
}

void TZNTTableFileBuffer::ResetForReuse() {
  std::fill(bytes_.begin() + std::min<size_t>(4, bytes_.size()), bytes_.end(), 0);
}

TZNTBlockPin& TZNTBlockPin::operator=(TZNTBlockPin&& other) noexcept {
  if (this != &other) {
    Release();
    owner_ = other.owner_;
    buffer_ = other.buffer_;
    other.buffer_ = nullptr;
  }
  return *this;
}

void TZNTBlockPin::Release() {
  if (buffer_ == nullptr) return;
  TZNTTableFileBuffer* b = buffer_;
  buffer_ = nullptr;
  owner_->ReleaseBlock(*b);
}

// ---------------------------------------------------------------------------
// Opening, creating, closing

TZNTTableFileManager::TZNTTableFileManager(TZNTFileManager& files, std::string path,
                                           TZNTTableFileSettings settings)
    : files_(files), path_(std::move(path)), settings_(std::move(settings)) {
  if (settings_.encrypted) cipher_.SetKey(settings_.password_digest);
}

TZNTTableFileManager::~TZNTTableFileManager() { stream_.Close(); }

bool TZNTTableFileManager::IsReadOnly() const { return stream_.IsOpen() && stream_.IsReadOnly(); }

void TZNTTableFileManager::Configure() {
  header_area_ = settings_.system_table ? kZNTSystemHeaderArea : DefaultHeaderArea();
  header_length_ = HeaderLength();
  block_size_ = BlockSize();
  assert(header_length_ >= kZNTCommonHeaderLength && header_length_ % 8 == 0);
  assert(header_length_ <= header_area_ && "the catalog keeps headers within their area");
  assert(block_size_ >= 8 && block_size_ % 8 == 0);
  cache_limit_ = std::max<uint32_t>(1, CacheLimit());
  const uint32_t step = std::max<uint32_t>(1, GrowthStep());
  cache_capacity_ = (cache_limit_ + step - 1) / step * step;
  probes_ = ProbeCount();
  read_ahead_ = std::max<uint32_t>(1, cache_capacity_ / 4);
  sorted_.reserve(cache_capacity_);
  header_io_.assign(header_length_, 0);
}

void TZNTTableFileManager::OpenStream(bool create, bool exclusive, bool read_only) {
  assert(!IsOpen());
  Configure();
  stream_ = create ? files_.CreateFile(path_, exclusive, settings_.temporary)
                   : files_.OpenFile(path_, exclusive, read_only);
  mode_ = saved_mode_ = exclusive ? TZNTTableFileMode::Exclusive : TZNTTableFileMode::Shared;
  header_changed_ = emptied_ = needs_recovery_ = own_journal_ = false;
}

void TZNTTableFileManager::InitHeader() {
  header_ = TZNTTableFileHeader();
  header_.internal_version = settings_.internal_version;
  header_.signature_digest = settings_.signature_digest;
  header_.encrypted = settings_.encrypted;
  header_.password_digest = settings_.password_digest;
  InitKindHeader();
  seen_counter_ = 0;
}

void TZNTTableFileManager::CreateTableFile(bool exclusive) {
  if (!settings_.temporary && files_.FileExists(path_)) {
    OpenTableFile(exclusive, false);
    return;
  }
  const bool volatile_table = settings_.temporary || settings_.in_memory;
  OpenStream(true, exclusive || volatile_table, false);
  try {
    // A journal left beside an earlier file of this name belongs to no batch
    // of the new one.
    DeleteJournalQuietly();
    InitHeader();
    header_changed_ = true;
    WriteChanges(!volatile_table);
  } catch (...) {
    DropCache();
    stream_.Close();
    try {
      files_.DeleteFile(path_);
    } catch (const EZNTException&) {
      // The half-made file stays; its header fails verification on open.
    }
    throw;
  }
}

void TZNTTableFileManager::OpenTableFile(bool exclusive, bool read_only) {
  OpenStream(false, exclusive, read_only);
  try {
    LoadHeader(true, true);
  } catch (...) {
    stream_.Close();
    throw;
  }
}

void TZNTTableFileManager::CloseTableFile() {
  if (!IsOpen()) return;
  try {
    if (mode_ == TZNTTableFileMode::Transaction) {
      // A transaction that was never committed ends as a rollback would.
      DiscardDirty();
      header_changed_ = false;
      mode_ = saved_mode_;
    } else {
      WriteChanges(force_flush_);
    }
  } catch (...) {
    DropCache();
    stream_.Close();
    throw;
  }
  DropCache();
  stream_.Close();
}

void TZNTTableFileManager::RenameTableFile(const std::string& new_path) {
  assert(!IsOpen());
  files_.RenameFile(path_, new_path);
  const std::string journal = JournalPath();
  path_ = new_path;
  if (files_.FileExists(journal)) files_.RenameFile(journal, JournalPath());
}

void TZNTTableFileManager::DeleteTableFile() {
  assert(!IsOpen());
  files_.DeleteFile(path_);
  if (files_.FileExists(JournalPath())) files_.DeleteFile(JournalPath());
  if (files_.FileExists(CommitMarkPath())) files_.DeleteFile(CommitMarkPath());
}

void TZNTTableFileManager::EmptyTableFile() {
  EnsureUsable();
  CheckWritable();
  DropCache();
  header_.first_free_block = 0;
  header_.next_new_block = 1;
  EmptyKindHeader();
  header_changed_ = true;
  emptied_ = true;
}

// ---------------------------------------------------------------------------
// Header

void TZNTTableFileManager::RaiseMetadata(const char* detail) const {
  const std::string& name = settings_.table_name.empty() ? path_ : settings_.table_name;
  RaiseZNTError(err::Metadata, {"table", name, detail});
}

void TZNTTableFileManager::RaiseCorrupt(const std::string& detail) const {
  const std::string& name = settings_.table_name.empty() ? path_ : settings_.table_name;
  RaiseZNTError(err::Corrupt, {"table", name, detail});
}

void TZNTTableFileManager::RaiseNotFound() const {
  RaiseCorrupt("Cannot find " + std::string(KindWord()) + " during retrieval from cache");
}

void TZNTTableFileManager::CheckWritable() const {
  if (!IsReadOnly()) return;
  const std::string& name = settings_.table_name.empty() ? path_ : settings_.table_name;
  RaiseZNTError(err::ReadOnly, {"table", name, path_});
}

void TZNTTableFileManager::ReadHeader(bool verify) {
  EnsureUsable();
  DiscardDirty();
  header_changed_ = emptied_ = false;
  LoadHeader(verify, true);
}

void TZNTTableFileManager::LoadHeader(bool verify, bool check_journal) {
  if (check_journal) RecoverIfNeeded();
  ReadHeaderBytes();
  ParseHeader(verify);
}

void TZNTTableFileManager::ReadHeaderBytes() {
  uint8_t* p = header_io_.data();
  const size_t got = stream_.ReadAt(0, p, header_length_);
  std::fill(p + got, p + header_length_, 0);
  if (settings_.encrypted) cipher_.Decrypt(p, header_length_);
}

void TZNTTableFileManager::ParseHeader(bool verify) {
  const uint8_t* p = header_io_.data();
  TZNTTableFileHeader h;
  h.internal_version = static_cast<int32_t>(LoadLE32(p + kOffVersion));
  std::memcpy(h.signature_digest.data(), p + kOffSignature, TZNTDigest::kSize);
  h.character_set = static_cast<int32_t>(LoadLE32(p + kOffCharset));
  h.encrypted = p[kOffEncrypted] != 0;
  std::memcpy(h.password_digest.data(), p + kOffPassword, TZNTDigest::kSize);
  h.change_counter = static_cast<int32_t>(LoadLE32(p + kOffCounter));
  h.first_free_block = LoadLE32(p + kOffFirstFree);
  h.next_new_block = LoadLE32(p + kOffNextNew);
  h.write_in_progress = p[kOffInProgress] != 0;

  if (verify) {
    if (settings_.encrypted && !h.encrypted) RaiseMetadata(detail::kEncryptionStatus);
    if (settings_.encrypted && h.password_digest != settings_.password_digest)
      RaiseMetadata(detail::kEncryptionPassword);
    if (h.character_set != 0) RaiseMetadata(detail::kCharacterSet);
    if (h.signature_digest != settings_.signature_digest &&
        h.signature_digest != settings_.default_signature_digest)
      RaiseMetadata(detail::kSignature);
    if (h.internal_version != settings_.internal_version) RaiseMetadata(detail::kInternalVersion);
  }
  if (h.write_in_progress) RaiseMetadata(detail::kRepairRequired);
  if (h.next_new_block == 0)
    RaiseCorrupt("Invalid " + std::string(KindWord()) +
                 " number specified for retrieval from cache");
  header_ = h;
  ParseKindHeader(p);
  seen_counter_ = h.change_counter;
  header_changed_ = false;
}

void TZNTTableFileManager::SerialiseHeader(bool in_progress, int32_t counter, uint8_t* out) const {
  std::memset(out, 0, header_length_);
  StoreLE32(out + kOffVersion, static_cast<uint32_t>(header_.internal_version));
  std::memcpy(out + kOffSignature, header_.signature_digest.data(), TZNTDigest::kSize);
  StoreLE32(out + kOffCharset, static_cast<uint32_t>(header_.character_set));
  out[kOffEncrypted] = header_.encrypted ? 1 : 0;
  std::memcpy(out + kOffPassword, header_.password_digest.data(), TZNTDigest::kSize);
  StoreLE32(out + kOffCounter, static_cast<uint32_t>(counter));
  StoreLE32(out + kOffFirstFree, header_.first_free_block);
  StoreLE32(out + kOffNextNew, header_.next_new_block);
  out[kOffInProgress] = in_progress ? 1 : 0;
  SerialiseKindHeader(out);
  if (settings_.encrypted) cipher_.Encrypt(out, header_length_);
}

void TZNTTableFileManager::WriteHeaderBytes(const uint8_t* bytes) {
  stream_.WriteAt(0, bytes, header_length_);
}

// ---------------------------------------------------------------------------
// Journal and recovery

void TZNTTableFileManager::DeleteJournalQuietly() noexcept {
  try {
    const std::string journal = JournalPath();
    if (files_.FileExists(journal)) files_.DeleteFile(journal);
  } catch (...) {
    // A journal that outlives its batch is recognised by its final header
    // and removed at the next look.
  }
}

void TZNTTableFileManager::ApplyJournal(const std::vector<TJournalEntry>& entries,
                                        uint64_t old_length) {
  for (const TJournalEntry& e : entries) stream_.WriteAt(e.offset, e.bytes.data(), e.bytes.size());
  if (stream_.Size() != old_length) stream_.SetSize(old_length);
  if (!settings_.temporary && !settings_.in_memory) stream_.Flush();
}

bool TZNTTableFileManager::RecoverIfNeeded() {
  const std::string journal_path = JournalPath();
  if (!files_.FileExists(journal_path)) return false;
  std::string data;
  {
    TZNTFileStream journal = files_.OpenFile(journal_path, false, true);
    const uint64_t size = journal.Size();
    data.resize(static_cast<size_t>(size));
    data.resize(journal.ReadAt(0, data.data(), data.size()));
  }

  // Parse and check; anything short of a whole journal was torn before the
  // batch touched the file.
  std::vector<TJournalEntry> entries;
  uint64_t old_length = 0;
  std::string final_digest;
  bool grouped = false;
  TZNTDigest::TValue group_id{};
  std::string mark_path;
  bool intact = data.size() >= kJournalFixed + TZNTDigest::kSize;
  if (intact) {
    const size_t body = data.size() - TZNTDigest::kSize;
    const TZNTDigest::TValue sum = DigestOf(data.data(), body);
    grouped = static_cast<uint8_t>(data[7]) == kJournalGrouped;
    intact = std::memcmp(sum.data(), data.data() + body, TZNTDigest::kSize) == 0 &&
             std::memcmp(data.data(), kJournalMagic, sizeof kJournalMagic - 1) == 0 &&
             (grouped || data[7] == kJournalMagic[7]);
    if (intact) {
      TZNTReader r(data.data(), body);
      r.Seek(sizeof kJournalMagic);
      old_length = static_cast<uint64_t>(r.ReadInt64());
      final_digest = r.ReadFixed(TZNTDigest::kSize);
      if (grouped) {
        const std::string id = r.ReadFixed(TZNTDigest::kSize);
        std::memcpy(group_id.data(), id.data(), TZNTDigest::kSize);
        const uint32_t length = static_cast<uint32_t>(r.ReadInt32());
        intact = r.Remaining() >= length;
        if (intact) mark_path = r.ReadFixed(length);
      }
      const uint32_t count = intact ? static_cast<uint32_t>(r.ReadInt32()) : 0;
      for (uint32_t i = 0; intact && i < count; ++i) {
        const uint64_t offset = static_cast<uint64_t>(r.ReadInt64());
        const uint32_t length = static_cast<uint32_t>(r.ReadInt32());
        if (r.Remaining() < length) {
          intact = false;
          break;
        }
        entries.push_back({offset, r.ReadFixed(length)});
      }
      intact = intact && r.AtEnd();
    }
  }
  if (!intact) {
    if (!IsReadOnly()) DeleteJournalQuietly();
    return false;
  }

  // A batch that finished wrote exactly the final header; anything else on
  // disk (the old header, the in-progress one, a torn one) means roll back.
  std::vector<uint8_t> on_disk(header_length_, 0);
  stream_.ReadAt(0, on_disk.data(), on_disk.size());
  const TZNTDigest::TValue now = DigestOf(on_disk.data(), on_disk.size());
  // A file of a group's batch also needs the group's commit mark: without it
  // another file of the group may not have finished, and all end as before.
  if (!own_journal_ && std::memcmp(now.data(), final_digest.data(), TZNTDigest::kSize) == 0 &&
      (!grouped || ZNTCommitMarkHolds(files_, mark_path, group_id))) {
    if (!IsReadOnly()) DeleteJournalQuietly();
    return false;
  }
  if (IsReadOnly()) RaiseMetadata(detail::kRepairRequired);
  ApplyJournal(entries, old_length);
  DeleteJournalQuietly();
  return true;
}

void TZNTTableFileManager::EnsureUsable() {
  if (!needs_recovery_) return;
  DropCache();
  LoadHeader(false, true);
  needs_recovery_ = own_journal_ = false;
}

// ---------------------------------------------------------------------------
// Cache

size_t TZNTTableFileManager::LowerBound(uint32_t n) const noexcept {
  size_t lo = 0, hi = sorted_.size();
  while (lo < hi) {
    const size_t mid = (lo + hi) / 2;
    if (sorted_[mid]->number_ < n)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

TZNTTableFileBuffer* TZNTTableFileManager::Find(uint32_t n) const noexcept {
  TZNTTableFileBuffer* p = newest_;
  for (uint32_t k = 0; k < probes_ && p != nullptr; ++k, p = p->older_) {
    if (p->number_ == n) return p;
  }
  const size_t i = LowerBound(n);
  return i < sorted_.size() && sorted_[i]->number_ == n ? sorted_[i].get() : nullptr;
}

void TZNTTableFileManager::LinkFront(TZNTTableFileBuffer& b) noexcept {
  b.older_ = newest_;
  b.newer_ = nullptr;
  if (newest_ != nullptr) newest_->newer_ = &b;
  newest_ = &b;
  if (oldest_ == nullptr) oldest_ = &b;
}

void TZNTTableFileManager::Unlink(TZNTTableFileBuffer& b) noexcept {
  if (b.newer_ != nullptr)
    b.newer_->older_ = b.older_;
  else
    newest_ = b.older_;
  if (b.older_ != nullptr)
    b.older_->newer_ = b.newer_;
  else
    oldest_ = b.newer_;
  b.newer_ = b.older_ = nullptr;
}

void TZNTTableFileManager::Touch(TZNTTableFileBuffer& b) noexcept {
  if (newest_ == &b) return;
  Unlink(b);
  LinkFront(b);
}

TZNTTableFileBuffer& TZNTTableFileManager::Insert(std::unique_ptr<TZNTTableFileBuffer> b) {
  TZNTTableFileBuffer& ref = *b;
  const size_t i = LowerBound(ref.number_);
  assert(i == sorted_.size() || sorted_[i]->number_ != ref.number_);
  sorted_.insert(sorted_.begin() + static_cast<ptrdiff_t>(i), std::move(b));
  LinkFront(ref);
  return ref;
}

std::unique_ptr<TZNTTableFileBuffer> TZNTTableFileManager::TakeBuffer() {
  if (sorted_.size() < cache_limit_) return NewBuffer();
  auto find_victim = [this]() -> TZNTTableFileBuffer* {
    if (ejectable_ == 0) return nullptr;
    for (TZNTTableFileBuffer* p = oldest_; p != nullptr; p = p->newer_) {
      if (p->pins_ == 0 && !p->dirty_ && !p->queued_) return p;
    }
    return nullptr;
  };
  TZNTTableFileBuffer* victim = find_victim();
  if (victim == nullptr && mode_ == TZNTTableFileMode::Exclusive) {
    WriteChanges(force_flush_);
    victim = find_victim();
  }
  if (victim == nullptr) return NewBuffer();  // every buffer is in use: grow past the limit
  const size_t i = LowerBound(victim->number_);
  if (i >= sorted_.size() || sorted_[i].get() != victim)
    RaiseCorrupt("Cannot find " + std::string(KindWord()) + " during ejection from cache");
  Unlink(*victim);
  std::unique_ptr<TZNTTableFileBuffer> owned = std::move(sorted_[i]);
  sorted_.erase(sorted_.begin() + static_cast<ptrdiff_t>(i));
  --ejectable_;
  owned->reread_ = false;
  return owned;
}

void TZNTTableFileManager::Parse(TZNTTableFileBuffer& b) {
  b.next_free_ = LoadLE32(b.Bytes());
  b.ParseBlock();
  b.reread_ = false;
}

void TZNTTableFileManager::DiscardDirty() {
  for (size_t i = sorted_.size(); i-- > 0;) {
    TZNTTableFileBuffer& b = *sorted_[i];
    if (!b.dirty_ && !b.queued_) continue;
    assert(b.pins_ == 0 && "changes are discarded between operations");
    if (b.pins_ > 0) continue;
    Unlink(b);
    sorted_.erase(sorted_.begin() + static_cast<ptrdiff_t>(i));
  }
  dirty_.clear();
}

void TZNTTableFileManager::DropCache() {
  for (const auto& b : sorted_) {
    (void)b;
    assert(b->pins_ == 0 && "the cache is dropped between operations");
  }
  sorted_.clear();
  newest_ = oldest_ = nullptr;
  ejectable_ = 0;
  dirty_.clear();
  batch_.clear();
}

TZNTBlockPin TZNTTableFileManager::GetBlock(uint32_t n, TZNTReadAhead ahead) {
  EnsureUsable();
  if (n == 0 || n > header_.next_new_block)
    RaiseCorrupt("Invalid " + std::string(KindWord()) +
                 " number specified for retrieval from cache");
  if (n == header_.next_new_block) {
    const uint64_t end = header_area_ + static_cast<uint64_t>(block_size_) * n;
    if (end > files_.MaxFileSize()) {
      const std::string& name = settings_.table_name.empty() ? path_ : settings_.table_name;
      RaiseZNTError(err::Full, {"table", name, path_});
    }
    CheckWritable();
    std::unique_ptr<TZNTTableFileBuffer> fresh = TakeBuffer();
    std::fill(fresh->bytes_.begin(), fresh->bytes_.end(), 0);
    fresh->number_ = n;
    fresh->next_free_ = 0;
    fresh->pins_ = 1;
    fresh->dirty_ = true;
    fresh->queued_ = fresh->reread_ = false;
    fresh->ParseBlock();
    TZNTTableFileBuffer& b = Insert(std::move(fresh));
    header_.next_new_block = n + 1;
    header_changed_ = true;
    return TZNTBlockPin(*this, b);
  }
  TZNTTableFileBuffer* b = Find(n);
  if (b == nullptr) return ReadIntoCache(n, ahead);
  Touch(*b);
  if (IsEjectable(*b)) --ejectable_;
  ++b->pins_;
  if (b->reread_) Parse(*b);
  return TZNTBlockPin(*this, *b);
}

TZNTBlockPin TZNTTableFileManager::ReadIntoCache(uint32_t n, TZNTReadAhead ahead) {
  const uint32_t last = header_.next_new_block - 1;
  uint32_t first = n, count = 1;
  if (ahead == TZNTReadAhead::Forward) {
    count = std::min(read_ahead_, last - n + 1);
  } else if (ahead == TZNTReadAhead::Backward) {
    first = n > read_ahead_ ? n - read_ahead_ + 1 : 1;
    count = n - first + 1;
  }
  const size_t want = static_cast<size_t>(count) * block_size_;
  if (read_io_.size() < want) read_io_.resize(want);
  const size_t got = stream_.ReadAt(header_area_ + static_cast<uint64_t>(first - 1) * block_size_,
                                    read_io_.data(), want);
  ++reads_;
  read_bytes_ += got;
  if (count == 1 && got < block_size_)
    RaiseCorrupt("Error reading " + std::string(KindWord()) + "s into cache");
  const uint32_t whole = static_cast<uint32_t>(got / block_size_);
  if (n - first >= whole) RaiseNotFound();

  // Each block is deciphered once, into the buffer that keeps it.
  auto load = [&](uint32_t m, TZNTTableFileBuffer& b) {
    const uint8_t* src = read_io_.data() + static_cast<size_t>(m - first) * block_size_;
    std::memcpy(b.bytes_.data(), src, block_size_);
    if (settings_.encrypted) cipher_.Decrypt(b.bytes_.data(), block_size_);
  };
  // The block asked for comes first and stays pinned, so that making room for
  // its neighbours can never eject it.
  std::unique_ptr<TZNTTableFileBuffer> owned = TakeBuffer();
  owned->number_ = n;
  owned->pins_ = 1;
  owned->dirty_ = owned->queued_ = false;
  load(n, *owned);
  Parse(*owned);
  TZNTTableFileBuffer& target = Insert(std::move(owned));
  TZNTBlockPin pin(*this, target);

  for (uint32_t k = 0; k < whole; ++k) {
    const uint32_t m = first + k;
    if (m == n) continue;
    if (TZNTTableFileBuffer* cached = Find(m)) {
      if (IsEjectable(*cached)) {
        load(m, *cached);
        cached->reread_ = true;
      }
      continue;
    }
    std::unique_ptr<TZNTTableFileBuffer> b = TakeBuffer();
    b->number_ = m;
    b->pins_ = 0;
    b->dirty_ = b->queued_ = false;
    load(m, *b);
    Parse(*b);
    Insert(std::move(b));
    ++ejectable_;
  }
  if (Find(n) != &target) RaiseNotFound();
  Touch(target);
  return pin;
}

void TZNTTableFileManager::ReleaseBlock(TZNTTableFileBuffer& buffer) {
  assert(buffer.pins_ > 0);
  --buffer.pins_;
  if (IsEjectable(buffer)) ++ejectable_;
  if (!buffer.dirty_ || buffer.queued_) return;
  buffer.queued_ = true;
  if (mode_ == TZNTTableFileMode::Exclusive) return;
  auto it =
      std::lower_bound(dirty_.begin(), dirty_.end(), buffer.number_,
                       [](const TZNTTableFileBuffer* b, uint32_t n) { return b->number_ < n; });
  dirty_.insert(it, &buffer);
}

TZNTBlockPin TZNTTableFileManager::AllocateBlock() {
  EnsureUsable();
  CheckWritable();
  const uint32_t first_free = header_.first_free_block;
  if (first_free != 0 && first_free != header_.next_new_block) {
    TZNTBlockPin pin = GetBlock(first_free);
    header_.first_free_block = pin->next_free_;
    pin->ResetForReuse();
    pin->next_free_ = 0;
    pin->dirty_ = true;
    header_changed_ = true;
    return pin;
  }
  // An empty chain, or one whose last link has reached the fresh blocks.
  TZNTBlockPin pin = GetBlock(header_.next_new_block);
  header_.first_free_block = 0;
  return pin;
}

void TZNTTableFileManager::FreeBlock(TZNTTableFileBuffer& buffer) {
  assert(buffer.pins_ > 0);
  buffer.next_free_ =
      header_.first_free_block != 0 ? header_.first_free_block : header_.next_new_block;
  header_.first_free_block = buffer.number_;
  buffer.dirty_ = true;
  header_changed_ = true;
}

// ---------------------------------------------------------------------------
// Writing

void TZNTTableFileManager::CollectBatch() {
  batch_.clear();
  if (mode_ == TZNTTableFileMode::Exclusive) {
    for (const auto& b : sorted_) {
      if (b->dirty_ && b->pins_ == 0) batch_.push_back(b.get());
    }
  } else {
    batch_ = dirty_;
  }
}

void TZNTTableFileManager::WriteChanges(bool flush) {
  if (group_ != nullptr)
    group_->WriteChanges(flush);
  else
    WriteChangesAlone(flush);
}

void TZNTTableFileManager::WriteChangesAlone(bool flush) {
  EnsureUsable();
  CollectBatch();
  if (!HasBatch()) return;
  CheckWritable();
  for (const TZNTTableFileBuffer* b : batch_) {
    if (b->pins_ > 0)
      RaiseCorrupt("Attempted to flush a " + std::string(KindWord()) +
                   " from the cache while it is in use");
  }
  WriteBatch(flush);
}

void TZNTTableFileManager::WriteBatch(bool flush) {
  PrepareBatch();
  try {
    SaveOldBytes();
    WriteJournal(nullptr);
    WriteBlocks(flush);
  } catch (...) {
    FailBatch();
    throw;
  }
  FinishBatch();
}

void TZNTTableFileManager::PrepareBatch() {
  TPendingBatch& p = pending_;
  p.counter = ZNTNextCounter(header_.change_counter);
  p.journal_ready = false;
  p.entries.clear();
  p.old_length = 0;
  StampHeader();
  p.final_header.assign(header_length_, 0);
  p.start_header.assign(header_length_, 0);
  SerialiseHeader(false, p.counter, p.final_header.data());
  SerialiseHeader(true, p.counter, p.start_header.data());

  // Runs of consecutive blocks, each at most kZNTMaxWriteRun bytes.
  p.runs.clear();
  for (size_t i = 0; i < batch_.size();) {
    size_t j = i + 1;
    while (j < batch_.size() && batch_[j]->number_ == batch_[j - 1]->number_ + 1 &&
           (j - i + 1) * block_size_ <= kZNTMaxWriteRun)
      ++j;
    p.runs.emplace_back(i, j);
    i = j;
  }
}

void TZNTTableFileManager::SaveOldBytes() {
  // Save what the batch will overwrite: the header and every block that lies
  // within the file now. Blocks past its end need nothing, since recovery cuts
  // the file back to its old length.
  TPendingBatch& p = pending_;
  p.old_length = stream_.Size();
  auto save = [&](uint64_t offset, uint64_t length) {
    if (offset >= p.old_length) return;
    std::string bytes(static_cast<size_t>(std::min(length, p.old_length - offset)), '\0');
    bytes.resize(stream_.ReadAt(offset, bytes.data(), bytes.size()));
    p.entries.push_back({offset, std::move(bytes)});
  };
  save(0, header_length_);
  for (const auto& r : p.runs) {
    save(header_area_ + static_cast<uint64_t>(batch_[r.first]->number_ - 1) * block_size_,
         (r.second - r.first) * block_size_);
  }
}

void TZNTTableFileManager::WriteJournal(const TGroupTag* tag) {
  TPendingBatch& p = pending_;
  TZNTWriter w;
  w.WriteBytes(kJournalMagic, sizeof kJournalMagic - 1);
  w.WriteUInt8(tag != nullptr ? kJournalGrouped : static_cast<uint8_t>(kJournalMagic[7]));
  w.WriteInt64(static_cast<int64_t>(p.old_length));
  const TZNTDigest::TValue final_digest = DigestOf(p.final_header.data(), p.final_header.size());
  w.WriteBytes(final_digest.data(), final_digest.size());
  if (tag != nullptr) {
    w.WriteBytes(tag->id.data(), tag->id.size());
    w.WriteInt32(static_cast<int32_t>(tag->mark_path.size()));
    w.WriteBytes(tag->mark_path.data(), tag->mark_path.size());
  }
  w.WriteInt32(static_cast<int32_t>(p.entries.size()));
  for (const TJournalEntry& e : p.entries) {
    w.WriteInt64(static_cast<int64_t>(e.offset));
    w.WriteInt32(static_cast<int32_t>(e.bytes.size()));
    w.WriteBytes(e.bytes.data(), e.bytes.size());
  }
  const TZNTDigest::TValue sum = TZNTDigest::Compute(w.Buffer());
  w.WriteBytes(sum.data(), sum.size());
  {
    TZNTFileStream journal = files_.CreateFile(JournalPath(), false, false);
    journal.WriteAt(0, w.Buffer().data(), w.Size());
    if (IsDurable()) journal.Flush();
  }
  p.journal_ready = true;
}

void TZNTTableFileManager::WriteBlocks(bool flush) {
  TPendingBatch& p = pending_;
  WriteHeaderBytes(p.start_header.data());
  for (const auto& r : p.runs) {
    const size_t length = (r.second - r.first) * block_size_;
    if (io_.size() < length) io_.resize(length);
    uint8_t* out = io_.data();
    for (size_t k = r.first; k < r.second; ++k, out += block_size_) {
      TZNTTableFileBuffer& b = *batch_[k];
      b.SerialiseBlock();
      StoreLE32(b.Bytes(), b.next_free_);
      std::memcpy(out, b.Bytes(), block_size_);
      if (settings_.encrypted) cipher_.Encrypt(out, block_size_);
    }
    stream_.WriteAt(
        header_area_ + static_cast<uint64_t>(batch_[r.first]->number_ - 1) * block_size_,
        io_.data(), length);
    ++writes_;
    written_bytes_ += length;
  }
  // With a flush the blocks reach the disk before the header that declares
  // the batch finished, and that header before the journal goes.
  if (flush) stream_.Flush();
  WriteHeaderBytes(p.final_header.data());
  if (flush) stream_.Flush();
}

void TZNTTableFileManager::FinishBatch() {
  DeleteJournalQuietly();
  pending_.entries.clear();
  pending_.journal_ready = false;
  header_.change_counter = seen_counter_ = pending_.counter;
  header_changed_ = false;
  for (TZNTTableFileBuffer* b : batch_) {
    b->dirty_ = b->queued_ = false;
    if (b->pins_ == 0) ++ejectable_;
  }
  if (mode_ != TZNTTableFileMode::Exclusive) dirty_.clear();
  batch_.clear();
  if (emptied_) {
    // Cut only once the batch is safe: the blocks past the new end are then
    // garbage that nothing reads.
    try {
      stream_.SetSize(header_area_ +
                      static_cast<uint64_t>(header_.next_new_block - 1) * block_size_);
      emptied_ = false;
    } catch (const EZNTException&) {
      // Tried again after the next batch.
    }
  }
}

void TZNTTableFileManager::FailBatch() noexcept {
  AfterFailedWrite(pending_.journal_ready, pending_.entries, pending_.old_length);
  pending_.entries.clear();
  pending_.journal_ready = false;
}

void TZNTTableFileManager::AbandonBatch() noexcept {
  pending_.entries.clear();
  pending_.journal_ready = false;
  batch_.clear();
  DiscardDirty();
  header_changed_ = emptied_ = false;
  needs_recovery_ = true;
  own_journal_ = false;
}

void TZNTTableFileManager::AfterFailedWrite(bool journal_ready,
                                            const std::vector<TJournalEntry>& entries,
                                            uint64_t old_length) noexcept {
  if (journal_ready) {
    try {
      ApplyJournal(entries, old_length);
      DeleteJournalQuietly();
    } catch (...) {
      needs_recovery_ = own_journal_ = true;
    }
  } else {
    DeleteJournalQuietly();
  }
  batch_.clear();
  DiscardDirty();
  header_changed_ = emptied_ = false;
  if (needs_recovery_) return;
  try {
    LoadHeader(false, false);
  } catch (...) {
    needs_recovery_ = true;
  }
}

// ---------------------------------------------------------------------------
// Modes

bool TZNTTableFileManager::BeginOperation() {
  bool dropped = false;
  if (needs_recovery_) {
    EnsureUsable();
    dropped = true;
  }
  if (mode_ != TZNTTableFileMode::Shared) return dropped;
  assert(!header_changed_ && dirty_.empty() && "shared changes are written per operation");
  // One header read validates the cache; only a changed or flagged header
  // makes it worth looking for a journal.
  ReadHeaderBytes();
  const uint8_t* p = header_io_.data();
  const bool changed =
      static_cast<int32_t>(LoadLE32(p + kOffCounter)) != seen_counter_ || p[kOffInProgress] != 0;
  if (changed && RecoverIfNeeded()) ReadHeaderBytes();
  ParseHeader(false);
  if (changed) {
    DropCache();
    dropped = true;
  }
  return dropped;
}

void TZNTTableFileManager::BeginTransaction() {
  assert(mode_ != TZNTTableFileMode::Transaction);
  if (mode_ == TZNTTableFileMode::Exclusive)
    WriteChanges(force_flush_);
  else
    BeginOperation();
  saved_mode_ = mode_;
  mode_ = TZNTTableFileMode::Transaction;
}

void TZNTTableFileManager::CommitTransaction(bool flush) {
  assert(mode_ == TZNTTableFileMode::Transaction);
  try {
    WriteChanges(flush);
  } catch (...) {
    mode_ = saved_mode_;
    throw;
  }
  mode_ = saved_mode_;
}

void TZNTTableFileManager::RollbackTransaction() {
  assert(mode_ == TZNTTableFileMode::Transaction);
  mode_ = saved_mode_;
  EnsureUsable();
  DiscardDirty();
  header_changed_ = emptied_ = false;
  LoadHeader(false, false);
}

// ---------------------------------------------------------------------------
// Checks

const uint8_t* TZNTTableFileManager::PeekBlock(uint32_t n, std::vector<uint8_t>& scratch) {
  scratch.assign(block_size_, 0);
  if (TZNTTableFileBuffer* b = Find(n)) {
    b->SerialiseBlock();
    std::memcpy(scratch.data(), b->Bytes(), block_size_);
    StoreLE32(scratch.data(), b->next_free_);
    return scratch.data();
  }
  const size_t got = stream_.ReadAt(header_area_ + static_cast<uint64_t>(n - 1) * block_size_,
                                    scratch.data(), block_size_);
  if (got < block_size_) return nullptr;
  if (settings_.encrypted) cipher_.Decrypt(scratch.data(), block_size_);
  return scratch.data();
}

std::string TZNTTableFileManager::VerifyInvariants() {
  const uint32_t next_new = header_.next_new_block;
  for (size_t i = 0; i < sorted_.size(); ++i) {
    const TZNTTableFileBuffer& b = *sorted_[i];
    if (i > 0 && sorted_[i - 1]->number_ >= b.number_) return "cache array out of order";
    if (b.number_ == 0 || b.number_ >= next_new) return "cached block outside the file";
    if (b.pins_ != 0) return "block " + std::to_string(b.number_) + " pinned between operations";
    if (b.queued_ && !b.dirty_) return "queued block that is not dirty";
  }
  size_t listed = 0;
  for (const TZNTTableFileBuffer* p = newest_; p != nullptr; p = p->older_, ++listed) {
    if (Find(p->number_) != p) return "recency list holds a buffer the cache does not";
    if ((p->older_ != nullptr ? p->older_->newer_ : oldest_) != p) return "recency links broken";
  }
  if (listed != sorted_.size()) return "recency list and cache differ in size";
  size_t ejectable = 0;
  for (const auto& b : sorted_) ejectable += IsEjectable(*b) ? 1 : 0;
  if (ejectable != ejectable_) return "ejectable count is wrong";
  if (mode_ != TZNTTableFileMode::Exclusive) {
    size_t queued = 0;
    for (const auto& b : sorted_) queued += b->queued_ ? 1 : 0;
    if (queued != dirty_.size()) return "dirty list and queued buffers differ";
    for (size_t i = 0; i < dirty_.size(); ++i) {
      if (!dirty_[i]->queued_) return "dirty list holds an unqueued buffer";
      if (i > 0 && dirty_[i - 1]->number_ >= dirty_[i]->number_) return "dirty list out of order";
    }
  }
  const uint32_t first_free = header_.first_free_block;
  if (first_free > next_new) return "first free block past the next new block";
  if (first_free != 0) {
    std::vector<bool> seen(next_new, false);
    std::vector<uint8_t> scratch;
    for (uint32_t n = first_free; n != next_new;) {
      if (n == 0 || n > next_new) return "free chain leaves the file at " + std::to_string(n);
      if (seen[n]) return "free chain loops at block " + std::to_string(n);
      seen[n] = true;
      const uint8_t* bytes = PeekBlock(n, scratch);
      if (bytes == nullptr) return "free block " + std::to_string(n) + " missing from the file";
      n = LoadLE32(bytes);
    }
  }
  return VerifyKindInvariants();
}

void TZNTTableFileManager::CheckInvariants() {
#ifndef NDEBUG
  const std::string problem = VerifyInvariants();
  assert(problem.empty() && "table file invariant broken");
  (void)problem;
#endif
}

}  // namespace znt
