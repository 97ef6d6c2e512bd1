#include "storage/zntfilemgr.h"

#include <algorithm>
#include <cassert>
#include <system_error>

#include "base/zntconsts.h"
#include "base/znterror.h"

namespace znt {

namespace {

// The list starts with room for this many files and grows by the step, so a
// busy engine reallocates rarely and an idle one stays small.
constexpr size_t kInitialListCapacity = 512;
constexpr size_t kListGrowthStep = 128;

const char* ActionFormat(TZNTFileAction action) {
  switch (action) {
    case TZNTFileAction::Create:
      return "Cannot create file ";
    case TZNTFileAction::Open:
      return "Cannot open file ";
    case TZNTFileAction::Read:
      return "Cannot read file ";
    case TZNTFileAction::Write:
      return "Cannot write file ";
    case TZNTFileAction::SetSize:
      return "Cannot set the size of file ";
    case TZNTFileAction::Flush:
      return "Cannot flush file ";
    case TZNTFileAction::Lock:
      return "Cannot lock file ";
    case TZNTFileAction::Unlock:
      return "Cannot unlock file ";
    case TZNTFileAction::Delete:
      return "Cannot delete the file ";
    case TZNTFileAction::CreateFolder:
      return "Cannot create folder ";
  }
  return "Cannot access file ";
}

[[noreturn]] void RaiseDetail(const std::string& detail) {
  RaiseZNTError(err::FileManager, {detail});
}

}  // namespace

std::string ZNTOSErrorText(int errnum) { return std::generic_category().message(errnum); }

void RaiseZNTFileError(TZNTFileAction action, std::string_view path, int errnum) {
  std::string detail = ActionFormat(action);
  detail += path;
  detail += " (OS Error: ";
  detail += ZNTOSErrorText(errnum);
  detail += ')';
  RaiseDetail(detail);
}

void RaiseZNTRenameError(std::string_view from, std::string_view to, int errnum) {
  std::string detail = "Cannot rename the file ";
  detail += from;
  detail += " to ";
  detail += to;
  detail += " (OS Error: ";
  detail += ZNTOSErrorText(errnum);
  detail += ')';
  RaiseDetail(detail);
}

void RaiseZNTAccessDenied(std::string_view path) {
  std::string detail = "Access denied to the file ";
  detail += path;
  RaiseDetail(detail);
}

void RaiseZNTFileNotFound(std::string_view path) {
  std::string detail = "File ";
  detail += path;
  detail += " not found";
  RaiseDetail(detail);
}

bool ZNTMatchesPattern(std::string_view name, std::string_view pattern) noexcept {
  // Greedy match that remembers the last `*` and retries from one byte
  // further on a mismatch; linear in practice, never exponential.
  size_t n = 0, p = 0;
  size_t star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// ---------------------------------------------------------------------------
// TZNTFile

std::vector<TZNTLockRange> TZNTFile::LockedRanges() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return locks_;
}

void TZNTFile::CheckInvariants() const {
#ifndef NDEBUG
  std::lock_guard<std::mutex> guard(mutex_);
  CheckInvariantsLocked();
#endif
}

void TZNTFile::CheckInvariantsLocked() const {
#ifndef NDEBUG
  for (size_t i = 0; i < locks_.size(); ++i) {
    const TZNTLockRange& r = locks_[i];
    assert(r.length >= 1);
    assert(r.offset < kZNTLockLimit && r.length <= kZNTLockLimit - r.offset);
    if (i > 0) assert(locks_[i - 1].End() <= r.offset);
  }
  assert(open_count_.load() > 0 || locks_.empty());
#endif
}

bool TZNTFile::CanLockLocked(uint64_t offset, uint64_t length) const {
  if (length == 0 || offset >= kZNTLockLimit || length > kZNTLockLimit - offset) return false;
  // Ranges are disjoint and sorted, so their ends are sorted too: the first
  // range ending after `offset` is the only candidate for an overlap.
  auto it = std::upper_bound(locks_.begin(), locks_.end(), offset,
                             [](uint64_t off, const TZNTLockRange& r) { return off < r.End(); });
  return it == locks_.end() || it->offset >= offset + length;
}

void TZNTFile::AddRangeLocked(uint64_t offset, uint64_t length) {
  auto it = std::lower_bound(locks_.begin(), locks_.end(), offset,
                             [](const TZNTLockRange& r, uint64_t off) { return r.offset < off; });
  locks_.insert(it, TZNTLockRange{offset, length});
}

bool TZNTFile::RemoveRangeLocked(uint64_t offset, uint64_t length) {
  auto it = std::lower_bound(locks_.begin(), locks_.end(), offset,
                             [](const TZNTLockRange& r, uint64_t off) { return r.offset < off; });
  if (it == locks_.end() || it->offset != offset || it->length != length) return false;
  locks_.erase(it);
  return true;
}

// ---------------------------------------------------------------------------
// TZNTFileStream

TZNTFileStream::TZNTFileStream(TZNTFileStream&& other) noexcept
    : manager_(other.manager_),
      file_(other.file_),
      read_only_(other.read_only_),
      position_(other.position_) {
  other.manager_ = nullptr;
  other.file_ = nullptr;
}

TZNTFileStream& TZNTFileStream::operator=(TZNTFileStream&& other) noexcept {
  if (this != &other) {
    Close();
    manager_ = other.manager_;
    file_ = other.file_;
    read_only_ = other.read_only_;
    position_ = other.position_;
    other.manager_ = nullptr;
    other.file_ = nullptr;
  }
  return *this;
}

void TZNTFileStream::Close() noexcept {
  if (file_ == nullptr) return;
  TZNTFile* file = file_;
  file_ = nullptr;
  manager_->CloseFile(*file);
  manager_ = nullptr;
  position_ = 0;
}

const std::string& TZNTFileStream::Path() const { return File().Path(); }

TZNTFile& TZNTFileStream::File() const {
  assert(file_ != nullptr && "stream is closed");
  return *file_;
}

TZNTFileManager& TZNTFileStream::Manager() const {
  assert(manager_ != nullptr && "stream is closed");
  return *manager_;
}

bool TZNTFileStream::IsReadOnly() const { return read_only_ || File().IsReadOnly(); }

void TZNTFileStream::CheckWritable() const {
  if (IsReadOnly()) RaiseZNTAccessDenied(Path());
}

size_t TZNTFileStream::Read(void* data, size_t size) {
  size_t done = ReadAt(position_, data, size);
  position_ += done;
  return done;
}

void TZNTFileStream::Write(const void* data, size_t size) {
  WriteAt(position_, data, size);
  position_ += size;
}

size_t TZNTFileStream::ReadAt(uint64_t offset, void* data, size_t size) {
  return Manager().ReadFile(File(), offset, data, size);
}

void TZNTFileStream::WriteAt(uint64_t offset, const void* data, size_t size) {
  CheckWritable();
  Manager().WriteFile(File(), offset, data, size);
}

uint64_t TZNTFileStream::Size() { return Manager().FileSize(File()); }

void TZNTFileStream::SetSize(uint64_t size) {
  CheckWritable();
  Manager().SetFileSize(File(), size);
}

void TZNTFileStream::Flush() { Manager().FlushFile(File()); }

bool TZNTFileStream::TryLock(uint64_t offset, uint64_t length) {
  return Manager().TryLockRange(File(), offset, length);
}

bool TZNTFileStream::Unlock(uint64_t offset, uint64_t length) {
  return Manager().UnlockRange(File(), offset, length);
}

// ---------------------------------------------------------------------------
// TZNTFileList

TZNTFileList::TZNTFileList(bool keeps_closed) : keeps_closed_(keeps_closed) {
  files_.reserve(kInitialListCapacity);
}

size_t TZNTFileList::LowerBound(std::string_view path) const {
  auto it = std::lower_bound(
      files_.begin(), files_.end(), path,
      [](const std::unique_ptr<TZNTFile>& f, std::string_view p) { return f->path_ < p; });
  return static_cast<size_t>(it - files_.begin());
}

TZNTFile* TZNTFileList::Find(std::string_view path) const {
  size_t i = LowerBound(path);
  return i < files_.size() && files_[i]->path_ == path ? files_[i].get() : nullptr;
}

TZNTFile& TZNTFileList::Insert(std::unique_ptr<TZNTFile> file) {
  assert(file != nullptr && Find(file->path_) == nullptr);
  if (files_.size() == files_.capacity()) files_.reserve(files_.capacity() + kListGrowthStep);
  size_t i = LowerBound(file->path_);
  TZNTFile& added = *file;
  files_.insert(files_.begin() + static_cast<ptrdiff_t>(i), std::move(file));
  CheckInvariants();
  return added;
}

std::unique_ptr<TZNTFile> TZNTFileList::Remove(const TZNTFile& file) {
  size_t i = LowerBound(file.path_);
  assert(i < files_.size() && files_[i].get() == &file);
  std::unique_ptr<TZNTFile> taken = std::move(files_[i]);
  files_.erase(files_.begin() + static_cast<ptrdiff_t>(i));
  CheckInvariants();
  return taken;
}

void TZNTFileList::CheckInvariants() const {
#ifndef NDEBUG
  for (size_t i = 0; i < files_.size(); ++i) {
    const TZNTFile& f = *files_[i];
    if (i > 0) assert(files_[i - 1]->path_ < f.path_);
    int users = f.open_count_.load();
    assert(users >= 0);
    assert(!f.exclusive_ || users <= 1);
    assert(users > 0 || (keeps_closed_ && !f.temporary_));
    f.CheckInvariants();
  }
#endif
}

// ---------------------------------------------------------------------------
// TZNTFileManager

void TZNTFileManager::ShareOpenFile(TZNTFile& file, bool exclusive) {
  if (exclusive || file.exclusive_) RaiseZNTAccessDenied(file.path_);
  file.open_count_.fetch_add(1);
}

bool TZNTFileManager::ReleaseUser(TZNTFile& file) noexcept {
  int before = file.open_count_.fetch_sub(1);
  assert(before >= 1);
  return before == 1;
}

}  // namespace znt
