#include "storage/zntmemfilemgr.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>

#include "base/zntconsts.h"
#include "base/znterror.h"

namespace znt {

namespace {

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// The folder spelling files are compared with: no trailing separator, except
// for the root itself.
std::string_view TrimFolder(std::string_view folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.remove_suffix(1);
  return folder;
}

}  // namespace

std::string TZNTMemoryFile::Contents() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return data_;
}

TZNTMemoryFileManager::TZNTMemoryFileManager() = default;
TZNTMemoryFileManager::~TZNTMemoryFileManager() = default;

TZNTMemoryFile& TZNTMemoryFileManager::AsMemory(TZNTFile& file) {
  assert(dynamic_cast<TZNTMemoryFile*>(&file) != nullptr && "file of another manager");
  return static_cast<TZNTMemoryFile&>(file);
}

TZNTMemoryFile& TZNTMemoryFileManager::FindExisting(const std::string& path) const {
  TZNTFile* file = files_.Find(path);
  if (file == nullptr) RaiseZNTFileNotFound(path);
  return AsMemory(*file);
}

size_t TZNTMemoryFileManager::FileCount() const {
  std::lock_guard<std::mutex> guard(list_mutex_);
  return files_.Size();
}

void TZNTMemoryFileManager::CheckInvariants() const {
#ifndef NDEBUG
  std::lock_guard<std::mutex> guard(list_mutex_);
  files_.CheckInvariants();
#endif
}

TZNTFileStream TZNTMemoryFileManager::OpenFile(const std::string& path, bool exclusive,
                                               bool read_only) {
  std::lock_guard<std::mutex> guard(list_mutex_);
  TZNTMemoryFile& file = FindExisting(path);
  if (file.OpenCount() > 0) {
    ShareOpenFile(file, exclusive);
  } else {
    file.exclusive_ = exclusive;
    file.open_count_.store(1);
  }
  return MakeStream(*this, file, read_only);
}

TZNTFileStream TZNTMemoryFileManager::CreateFile(const std::string& path, bool exclusive,
                                                 bool temporary) {
  std::lock_guard<std::mutex> guard(list_mutex_);
  if (TZNTFile* found = files_.Find(path)) {
    TZNTMemoryFile& file = AsMemory(*found);
    if (file.OpenCount() > 0) {
      ShareOpenFile(file, exclusive);
      if (temporary) file.temporary_ = true;
    } else {
      file.exclusive_ = exclusive;
      file.temporary_ = temporary;
      file.open_count_.store(1);
    }
    std::lock_guard<std::mutex> file_guard(file.mutex_);
    file.data_.clear();
    file.data_.shrink_to_fit();
    file.modified_ms_ = NowMs();
    return MakeStream(*this, file, false);
  }
  std::unique_ptr<TZNTMemoryFile> file(new TZNTMemoryFile(path, exclusive, temporary));
  file->modified_ms_ = NowMs();
  file->open_count_.store(1);
  TZNTFile& added = files_.Insert(std::move(file));
  return MakeStream(*this, added, false);
}

void TZNTMemoryFileManager::CloseFile(TZNTFile& file) noexcept {
  std::lock_guard<std::mutex> guard(list_mutex_);
  if (!ReleaseUser(file)) return;
  {
    std::lock_guard<std::mutex> file_guard(file.mutex_);
    file.locks_.clear();
  }
  file.exclusive_ = false;
  if (file.IsTemporary()) files_.Remove(file);
  files_.CheckInvariants();
}

void TZNTMemoryFileManager::RenameFile(const std::string& from, const std::string& to) {
  std::lock_guard<std::mutex> guard(list_mutex_);
  TZNTMemoryFile& file = FindExisting(from);
  if (file.OpenCount() > 0) RaiseZNTAccessDenied(from);
  if (TZNTFile* target = files_.Find(to)) {
    if (target->OpenCount() > 0) RaiseZNTAccessDenied(to);
    RaiseZNTRenameError(from, to, EEXIST);
  }
  std::string new_path = to;  // copied first so a failed copy leaves the list whole
  std::unique_ptr<TZNTFile> moved = files_.Remove(file);
  moved->path_ = std::move(new_path);
  files_.Insert(std::move(moved));
}

void TZNTMemoryFileManager::DeleteFile(const std::string& path) {
  std::lock_guard<std::mutex> guard(list_mutex_);
  TZNTMemoryFile& file = FindExisting(path);
  if (file.OpenCount() > 0) RaiseZNTAccessDenied(path);
  files_.Remove(file);
}

bool TZNTMemoryFileManager::FileExists(const std::string& path) {
  std::lock_guard<std::mutex> guard(list_mutex_);
  return files_.Find(path) != nullptr;
}

bool TZNTMemoryFileManager::FolderExists(const std::string& path) {
  std::lock_guard<std::mutex> guard(list_mutex_);
  return folders_.find(TrimFolder(path)) != folders_.end();
}

int64_t TZNTMemoryFileManager::FileTime(const std::string& path) {
  std::lock_guard<std::mutex> guard(list_mutex_);
  TZNTMemoryFile& file = FindExisting(path);
  std::lock_guard<std::mutex> file_guard(file.mutex_);
  return file.modified_ms_;
}

std::vector<std::string> TZNTMemoryFileManager::ListFiles(const std::string& folder,
                                                          std::string_view pattern) {
  std::string_view wanted = TrimFolder(folder);
  std::vector<std::string> names;
  std::lock_guard<std::mutex> guard(list_mutex_);
  for (size_t i = 0; i < files_.Size(); ++i) {
    std::string_view path = files_.At(i).Path();
    size_t slash = path.rfind('/');
    std::string_view parent =
        slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
    if (slash == 0) parent = "/";
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (parent == wanted && ZNTMatchesPattern(name, pattern)) names.emplace_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

void TZNTMemoryFileManager::MakeFolder(const std::string& path) {
  std::string_view folder = TrimFolder(path);
  std::lock_guard<std::mutex> guard(list_mutex_);
  for (size_t i = 1; i < folder.size(); ++i) {
    if (folder[i] == '/' && folder[i - 1] != '/') folders_.emplace(folder.substr(0, i));
  }
  if (!folder.empty()) folders_.emplace(folder);
}

size_t TZNTMemoryFileManager::ReadFile(TZNTFile& file, uint64_t offset, void* data, size_t size) {
  TZNTMemoryFile& mem = AsMemory(file);
  std::lock_guard<std::mutex> guard(mem.mutex_);
  if (offset >= mem.data_.size()) return 0;
  size_t count = std::min<uint64_t>(size, mem.data_.size() - offset);
  std::memcpy(data, mem.data_.data() + offset, count);
  return count;
}

void TZNTMemoryFileManager::WriteFile(TZNTFile& file, uint64_t offset, const void* data,
                                      size_t size) {
  TZNTMemoryFile& mem = AsMemory(file);
  if (!FitsIn(offset, size, kZNTMemoryMaxFileSize)) {
    RaiseZNTFileError(TZNTFileAction::Write, mem.Path(), EFBIG);
  }
  // An empty write changes nothing, as on disk, not even the size.
  if (size == 0) return;
  std::lock_guard<std::mutex> guard(mem.mutex_);
  try {
    if (offset + size > mem.data_.size()) mem.data_.resize(offset + size, '\0');
  } catch (const std::bad_alloc&) {
    RaiseZNTFileError(TZNTFileAction::Write, mem.Path(), ENOMEM);
  }
  std::memcpy(mem.data_.data() + offset, data, size);
  mem.modified_ms_ = NowMs();
}

uint64_t TZNTMemoryFileManager::FileSize(TZNTFile& file) {
  TZNTMemoryFile& mem = AsMemory(file);
  std::lock_guard<std::mutex> guard(mem.mutex_);
  return mem.data_.size();
}

void TZNTMemoryFileManager::SetFileSize(TZNTFile& file, uint64_t size) {
  TZNTMemoryFile& mem = AsMemory(file);
  if (size > kZNTMemoryMaxFileSize) RaiseZNTFileError(TZNTFileAction::SetSize, mem.Path(), EFBIG);
  std::lock_guard<std::mutex> guard(mem.mutex_);
  try {
    mem.data_.resize(size, '\0');
  } catch (const std::bad_alloc&) {
    RaiseZNTFileError(TZNTFileAction::SetSize, mem.Path(), ENOMEM);
  }
  mem.modified_ms_ = NowMs();
}

void TZNTMemoryFileManager::FlushFile(TZNTFile&) {}

bool TZNTMemoryFileManager::TryLockRange(TZNTFile& file, uint64_t offset, uint64_t length) {
  TZNTMemoryFile& mem = AsMemory(file);
  std::lock_guard<std::mutex> guard(mem.mutex_);
  if (!mem.CanLockLocked(offset, length)) return false;
  mem.AddRangeLocked(offset, length);
  mem.CheckInvariantsLocked();
  return true;
}

bool TZNTMemoryFileManager::UnlockRange(TZNTFile& file, uint64_t offset, uint64_t length) {
  TZNTMemoryFile& mem = AsMemory(file);
  std::lock_guard<std::mutex> guard(mem.mutex_);
  bool removed = mem.RemoveRangeLocked(offset, length);
  mem.CheckInvariantsLocked();
  return removed;
}

}  // namespace znt
