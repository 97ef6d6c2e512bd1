#include "storage/zntfaultfilemgr.h"

#include <cerrno>

namespace znt {

namespace {
size_t Index(TZNTFaultOp op) { return static_cast<size_t>(op); }
}  // namespace

void TZNTFaultFileManager::FailNth(TZNTFaultOp op, uint64_t n, bool sticky) {
  std::lock_guard<std::mutex> guard(mutex_);
  size_t i = Index(op);
  fail_at_[i] = n == 0 ? 0 : counts_[i] + n;
  sticky_[i] = sticky;
}

void TZNTFaultFileManager::SetWriteBudget(uint64_t bytes) {
  std::lock_guard<std::mutex> guard(mutex_);
  budget_set_ = true;
  budget_left_ = bytes;
}

void TZNTFaultFileManager::ClearFaults() {
  std::lock_guard<std::mutex> guard(mutex_);
  fail_at_ = {};
  sticky_ = {};
  crashed_ = false;
  budget_set_ = false;
  budget_left_ = 0;
}

uint64_t TZNTFaultFileManager::Count(TZNTFaultOp op) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return counts_[Index(op)];
}

uint64_t TZNTFaultFileManager::FaultsRaised() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return faults_;
}

int TZNTFaultFileManager::CountAndDecideLocked(TZNTFaultOp op) {
  size_t i = Index(op);
  ++counts_[i];
  if (crashed_) return EIO;
  if (fail_at_[i] != 0 && counts_[i] == fail_at_[i]) {
    fail_at_[i] = 0;
    if (sticky_[i]) crashed_ = true;
    return EIO;
  }
  return 0;
}

TZNTFileStream TZNTFaultFileManager::OpenFile(const std::string& path, bool exclusive,
                                              bool read_only) {
  TZNTFileStream stream = inner_.OpenFile(path, exclusive, read_only);
  RebindStream(stream, *this);
  return stream;
}

TZNTFileStream TZNTFaultFileManager::CreateFile(const std::string& path, bool exclusive,
                                                bool temporary) {
  TZNTFileStream stream = inner_.CreateFile(path, exclusive, temporary);
  RebindStream(stream, *this);
  return stream;
}

void TZNTFaultFileManager::RenameFile(const std::string& from, const std::string& to) {
  inner_.RenameFile(from, to);
}

void TZNTFaultFileManager::DeleteFile(const std::string& path) { inner_.DeleteFile(path); }

bool TZNTFaultFileManager::FileExists(const std::string& path) { return inner_.FileExists(path); }

bool TZNTFaultFileManager::FolderExists(const std::string& path) {
  return inner_.FolderExists(path);
}

int64_t TZNTFaultFileManager::FileTime(const std::string& path) { return inner_.FileTime(path); }

std::vector<std::string> TZNTFaultFileManager::ListFiles(const std::string& folder,
                                                         std::string_view pattern) {
  return inner_.ListFiles(folder, pattern);
}

void TZNTFaultFileManager::MakeFolder(const std::string& path) { inner_.MakeFolder(path); }

size_t TZNTFaultFileManager::ReadFile(TZNTFile& file, uint64_t offset, void* data, size_t size) {
  return inner_.ReadFile(file, offset, data, size);
}

void TZNTFaultFileManager::WriteFile(TZNTFile& file, uint64_t offset, const void* data,
                                     size_t size) {
  size_t allowed = size;
  int error;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    error = CountAndDecideLocked(TZNTFaultOp::Write);
    if (error != 0) {
      allowed = 0;
    } else if (budget_set_) {
      if (size > budget_left_) {
        allowed = static_cast<size_t>(budget_left_);
        error = ENOSPC;
        budget_left_ = 0;
      } else {
        budget_left_ -= size;
      }
    }
    if (error != 0) ++faults_;
  }
  if (allowed > 0) inner_.WriteFile(file, offset, data, allowed);
  if (error != 0) RaiseZNTFileError(TZNTFileAction::Write, file.Path(), error);
}

uint64_t TZNTFaultFileManager::FileSize(TZNTFile& file) { return inner_.FileSize(file); }

void TZNTFaultFileManager::SetFileSize(TZNTFile& file, uint64_t size) {
  int error;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    error = CountAndDecideLocked(TZNTFaultOp::SetSize);
    if (error != 0) ++faults_;
  }
  if (error != 0) RaiseZNTFileError(TZNTFileAction::SetSize, file.Path(), error);
  inner_.SetFileSize(file, size);
}

void TZNTFaultFileManager::FlushFile(TZNTFile& file) {
  int error;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    error = CountAndDecideLocked(TZNTFaultOp::Flush);
    if (error != 0) ++faults_;
  }
  if (error != 0) RaiseZNTFileError(TZNTFileAction::Flush, file.Path(), error);
  inner_.FlushFile(file);
}

bool TZNTFaultFileManager::TryLockRange(TZNTFile& file, uint64_t offset, uint64_t length) {
  return inner_.TryLockRange(file, offset, length);
}

bool TZNTFaultFileManager::UnlockRange(TZNTFile& file, uint64_t offset, uint64_t length) {
  return inner_.UnlockRange(file, offset, length);
}

void TZNTFaultFileManager::CloseFile(TZNTFile& file) noexcept { inner_.CloseFile(file); }

}  // namespace znt
