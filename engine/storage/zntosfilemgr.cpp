#include "storage/zntosfilemgr.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <limits>

#include "base/zntconsts.h"
#include "base/znterror.h"

namespace znt {

static_assert(sizeof(off_t) == 8, "64-bit file offsets are required");

namespace {

constexpr uint64_t kMaxOffset = static_cast<uint64_t>(std::numeric_limits<off_t>::max());

// Closes a descriptor on the error paths of opening and creating.
class TFdGuard {
 public:
  explicit TFdGuard(int fd) : fd_(fd) {}
  ~TFdGuard() {
    if (fd_ >= 0) ::close(fd_);
  }
  TFdGuard(const TFdGuard&) = delete;
  TFdGuard& operator=(const TFdGuard&) = delete;
  int Release() noexcept {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

int OpenPath(const std::string& path, int flags, mode_t mode = 0) {
  for (;;) {
    int fd = ::open(path.c_str(), flags, mode);
    if (fd >= 0 || errno != EINTR) return fd;
  }
}

// Sets or clears an open-file-description lock without waiting. Returns 0 on
// success, EAGAIN when another description holds a conflicting lock, or the
// system's error code.
int SetRecordLock(int fd, short type, uint64_t offset, uint64_t length) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  fl.l_pid = 0;  // required for open-file-description locks
  for (;;) {
    if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) return 0;
    if (errno == EINTR) continue;
    return errno == EACCES ? EAGAIN : errno;
  }
}

// Takes the reserved byte that makes this open shared or exclusive towards
// other processes. False when they hold it against us. A file system that
// keeps no record locks gets no such protection, but opening must still work.
bool TakeOpenLock(int fd, bool exclusive, bool writable) {
  short type = exclusive && writable ? F_WRLCK : F_RDLCK;
  return SetRecordLock(fd, type, kZNTLockLimit, 1) != EAGAIN;
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

TZNTOSFile::~TZNTOSFile() {
  // Closing the description also releases every record lock taken on it.
  if (fd_ >= 0) ::close(fd_);
}

TZNTOSFileManager::TZNTOSFileManager(uint64_t max_file_size) : max_file_size_(max_file_size) {}

TZNTOSFileManager::~TZNTOSFileManager() {
  std::lock_guard<std::mutex> guard(list_mutex_);
  for (size_t i = 0; i < files_.Size(); ++i) {
    if (files_.At(i).IsTemporary()) ::unlink(files_.At(i).Path().c_str());
  }
}

TZNTOSFile& TZNTOSFileManager::AsOS(TZNTFile& file) {
  assert(dynamic_cast<TZNTOSFile*>(&file) != nullptr && "file of another manager");
  return static_cast<TZNTOSFile&>(file);
}

size_t TZNTOSFileManager::OpenFileCount() const {
  std::lock_guard<std::mutex> guard(list_mutex_);
  return files_.Size();
}

void TZNTOSFileManager::CheckInvariants() const {
#ifndef NDEBUG
  std::lock_guard<std::mutex> guard(list_mutex_);
  files_.CheckInvariants();
#endif
}

TZNTFileStream TZNTOSFileManager::OpenFile(const std::string& path, bool exclusive,
                                           bool read_only) {
  std::lock_guard<std::mutex> guard(list_mutex_);
  if (TZNTFile* open = files_.Find(path)) {
    ShareOpenFile(*open, exclusive);
    return MakeStream(*this, *open, read_only);
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) RaiseZNTFileError(TZNTFileAction::Open, path, errno);
  if (S_ISDIR(st.st_mode)) RaiseZNTFileError(TZNTFileAction::Open, path, EISDIR);
  // No write permission bit at all is this system's read-only mark; it holds
  // even for a superuser who could write anyway.
  bool file_read_only = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
  int fd = -1;
  if (!file_read_only) {
    fd = OpenPath(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) file_read_only = true;
  }
  if (fd < 0) {
    fd = OpenPath(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) RaiseZNTFileError(TZNTFileAction::Open, path, errno);
  }
  TFdGuard fd_guard(fd);
  if (!TakeOpenLock(fd, exclusive, !file_read_only)) RaiseZNTAccessDenied(path);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  std::unique_ptr<TZNTOSFile> file(new TZNTOSFile(path, fd, exclusive, file_read_only, false));
  fd_guard.Release();
  file->open_count_.store(1);
  TZNTFile& added = files_.Insert(std::move(file));
  return MakeStream(*this, added, read_only);
}

TZNTFileStream TZNTOSFileManager::CreateFile(const std::string& path, bool exclusive,
                                             bool temporary) {
  std::lock_guard<std::mutex> guard(list_mutex_);
  if (TZNTFile* open = files_.Find(path)) {
    // Creating over a file this process has open empties the one shared
    // description, as creating over a shared file does on any system.
    ShareOpenFile(*open, exclusive);
    TZNTOSFile& os = AsOS(*open);
    int error = os.read_only_ ? EACCES : 0;
    if (error == 0 && ::ftruncate(os.fd_, 0) != 0) error = errno;
    if (error != 0) {
      ReleaseUser(os);
      RaiseZNTFileError(TZNTFileAction::Create, path, error);
    }
    if (temporary) os.temporary_ = true;
    return MakeStream(*this, os, false);
  }
  // The read-only mark protects a file from being emptied as it does from
  // being written, also for a superuser.
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) &&
      (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    RaiseZNTFileError(TZNTFileAction::Create, path, EACCES);
  }
  // Emptied only after the open lock is held, so that an exclusive user in
  // another process never sees its file cut under it.
  int fd = OpenPath(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) RaiseZNTFileError(TZNTFileAction::Create, path, errno);
  TFdGuard fd_guard(fd);
  if (!TakeOpenLock(fd, exclusive, true)) RaiseZNTAccessDenied(path);
  if (::ftruncate(fd, 0) != 0) RaiseZNTFileError(TZNTFileAction::Create, path, errno);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  std::unique_ptr<TZNTOSFile> file(new TZNTOSFile(path, fd, exclusive, false, temporary));
  fd_guard.Release();
  file->open_count_.store(1);
  TZNTFile& added = files_.Insert(std::move(file));
  return MakeStream(*this, added, false);
}

void TZNTOSFileManager::CloseFile(TZNTFile& file) noexcept {
  std::lock_guard<std::mutex> guard(list_mutex_);
  if (!ReleaseUser(file)) return;
  {
    std::lock_guard<std::mutex> file_guard(file.mutex_);
    file.locks_.clear();
  }
  std::unique_ptr<TZNTFile> closed = files_.Remove(file);
  // Deleted while still under the list mutex, so no new open of the same
  // path can slip in between and lose its file.
  if (closed->IsTemporary()) ::unlink(closed->Path().c_str());
}

void TZNTOSFileManager::RenameFile(const std::string& from, const std::string& to) {
  std::lock_guard<std::mutex> guard(list_mutex_);
  if (files_.Find(from) != nullptr) RaiseZNTAccessDenied(from);
  if (files_.Find(to) != nullptr) RaiseZNTAccessDenied(to);
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return;
  int error = errno;
  if (error == EINVAL || error == ENOSYS) {
    // A file system without no-replace renames: check, then rename.
    struct stat st;
    if (::lstat(to.c_str(), &st) == 0) RaiseZNTRenameError(from, to, EEXIST);
    if (::rename(from.c_str(), to.c_str()) == 0) return;
    error = errno;
  }
  RaiseZNTRenameError(from, to, error);
}

void TZNTOSFileManager::DeleteFile(const std::string& path) {
  std::lock_guard<std::mutex> guard(list_mutex_);
  if (files_.Find(path) != nullptr) RaiseZNTAccessDenied(path);
  if (::unlink(path.c_str()) != 0) RaiseZNTFileError(TZNTFileAction::Delete, path, errno);
}

bool TZNTOSFileManager::FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool TZNTOSFileManager::FolderExists(const std::string& path) { return IsFolder(path); }

int64_t TZNTOSFileManager::FileTime(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) RaiseZNTFileError(TZNTFileAction::Open, path, errno);
  if (S_ISDIR(st.st_mode)) RaiseZNTFileError(TZNTFileAction::Open, path, EISDIR);
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
}

std::vector<std::string> TZNTOSFileManager::ListFiles(const std::string& folder,
                                                      std::string_view pattern) {
  std::vector<std::string> names;
  std::string base = folder.empty() ? std::string(".") : folder;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(base.c_str()), &::closedir);
  if (!dir) return names;
  if (base.back() != '/') base += '/';
  while (const dirent* entry = ::readdir(dir.get())) {
    std::string_view name(entry->d_name);
    if (name == "." || name == ".." || !ZNTMatchesPattern(name, pattern)) continue;
    if (entry->d_type == DT_DIR) continue;
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      if (IsFolder(base + entry->d_name)) continue;
    }
    names.emplace_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

void TZNTOSFileManager::MakeFolder(const std::string& path) {
  if (path.empty()) RaiseZNTFileError(TZNTFileAction::CreateFolder, path, ENOENT);
  auto make_one = [&path](const std::string& folder) {
    if (::mkdir(folder.c_str(), 0777) == 0) return;
    int error = errno;
    if (error == EEXIST && IsFolder(folder)) return;
    if (error == EEXIST) error = ENOTDIR;
    RaiseZNTFileError(TZNTFileAction::CreateFolder, path, error);
  };
  for (size_t i = 1; i < path.size(); ++i) {
    if (path[i] == '/' && path[i - 1] != '/') make_one(path.substr(0, i));
  }
  if (path.back() != '/') make_one(path);
}

size_t TZNTOSFileManager::ReadFile(TZNTFile& file, uint64_t offset, void* data, size_t size) {
  TZNTOSFile& os = AsOS(file);
  if (offset > kMaxOffset) RaiseZNTFileError(TZNTFileAction::Read, os.Path(), EINVAL);
  char* out = static_cast<char*>(data);
  size_t done = 0;
  while (done < size) {
    size_t chunk = std::min<size_t>(size - done, SSIZE_MAX);
    ssize_t n = ::pread(os.fd_, out + done, chunk, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseZNTFileError(TZNTFileAction::Read, os.Path(), errno);
    }
    if (n == 0) break;  // end of file
    done += static_cast<size_t>(n);
  }
  return done;
}

void TZNTOSFileManager::WriteFile(TZNTFile& file, uint64_t offset, const void* data, size_t size) {
  TZNTOSFile& os = AsOS(file);
  if (os.read_only_) RaiseZNTAccessDenied(os.Path());
  if (!FitsIn(offset, size, max_file_size_)) {
    RaiseZNTFileError(TZNTFileAction::Write, os.Path(), EFBIG);
  }
  const char* in = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    size_t chunk = std::min<size_t>(size - done, SSIZE_MAX);
    ssize_t n = ::pwrite(os.fd_, in + done, chunk, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseZNTFileError(TZNTFileAction::Write, os.Path(), errno);
    }
    if (n == 0) RaiseZNTFileError(TZNTFileAction::Write, os.Path(), ENOSPC);
    done += static_cast<size_t>(n);
  }
}

uint64_t TZNTOSFileManager::FileSize(TZNTFile& file) {
  TZNTOSFile& os = AsOS(file);
  struct stat st;
  if (::fstat(os.fd_, &st) != 0) RaiseZNTFileError(TZNTFileAction::Read, os.Path(), errno);
  return static_cast<uint64_t>(st.st_size);
}

void TZNTOSFileManager::SetFileSize(TZNTFile& file, uint64_t size) {
  TZNTOSFile& os = AsOS(file);
  if (os.read_only_) RaiseZNTAccessDenied(os.Path());
  if (size > max_file_size_) RaiseZNTFileError(TZNTFileAction::SetSize, os.Path(), EFBIG);
  while (::ftruncate(os.fd_, static_cast<off_t>(size)) != 0) {
    if (errno != EINTR) RaiseZNTFileError(TZNTFileAction::SetSize, os.Path(), errno);
  }
}

void TZNTOSFileManager::FlushFile(TZNTFile& file) {
  TZNTOSFile& os = AsOS(file);
  while (::fdatasync(os.fd_) != 0) {
    if (errno == EINTR) continue;
    // Devices and pipes that cannot be synchronised have nothing to flush.
    if (errno == EINVAL) return;
    RaiseZNTFileError(TZNTFileAction::Flush, os.Path(), errno);
  }
}

bool TZNTOSFileManager::TryLockRange(TZNTFile& file, uint64_t offset, uint64_t length) {
  TZNTOSFile& os = AsOS(file);
  std::lock_guard<std::mutex> guard(os.mutex_);
  // The range list refuses overlaps within this process, where record locks
  // of one description would silently merge instead of conflicting.
  if (!os.CanLockLocked(offset, length)) return false;
  short type = os.read_only_ ? F_RDLCK : F_WRLCK;
  int rc = SetRecordLock(os.fd_, type, offset, length);
  if (rc == EAGAIN) return false;
  if (rc != 0) RaiseZNTFileError(TZNTFileAction::Lock, os.Path(), rc);
  try {
    os.AddRangeLocked(offset, length);
  } catch (...) {
    SetRecordLock(os.fd_, F_UNLCK, offset, length);
    throw;
  }
  os.CheckInvariantsLocked();
  return true;
}

bool TZNTOSFileManager::UnlockRange(TZNTFile& file, uint64_t offset, uint64_t length) {
  TZNTOSFile& os = AsOS(file);
  std::lock_guard<std::mutex> guard(os.mutex_);
  if (!os.RemoveRangeLocked(offset, length)) return false;
  // Listed ranges never overlap, so clearing this one leaves the others'
  // record locks whole.
  int rc = SetRecordLock(os.fd_, F_UNLCK, offset, length);
  if (rc != 0) {
    os.AddRangeLocked(offset, length);
    RaiseZNTFileError(TZNTFileAction::Unlock, os.Path(), rc);
  }
  os.CheckInvariantsLocked();
  return true;
}

}  // namespace znt
