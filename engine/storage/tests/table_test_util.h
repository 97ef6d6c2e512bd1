// Helpers for the table-file tests: a file manager that records the I/O that
// passes through it, and the text of an engine error.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "base/znterror.h"
#include "storage/zntfilemgr.h"
#include "storage/zntmemfilemgr.h"

namespace znt::testing {

// Forwards to another manager and records every read and write (path,
// offset, size) and flush; the last bytes written to a file whose path ends
// in "-journal" are kept. A non-zero `max_size` lowers MaxFileSize().
class TCountingFileManager : public TZNTFileManager {
 public:
  struct TIo {
    std::string path;
    uint64_t offset;
    size_t size;
  };

  explicit TCountingFileManager(TZNTFileManager& inner, uint64_t max_size = 0)
      : inner_(inner), max_size_(max_size) {}

  void Reset() {
    std::lock_guard<std::mutex> guard(mutex_);
    reads_.clear();
    writes_.clear();
    flushes_ = 0;
  }
  // The recorded reads and writes of `path` (every path when empty).
  std::vector<TIo> Reads(const std::string& path = {}) const { return Filter(reads_, path); }
  std::vector<TIo> Writes(const std::string& path = {}) const { return Filter(writes_, path); }
  uint64_t Flushes() const { return flushes_; }
  std::string LastJournal() const { return journal_; }
  // The bytes of an in-memory file opened through this manager, read without
  // opening it (so an exclusive open does not stand in the way). The file
  // must still exist.
  std::string Contents(const std::string& path) const {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = seen_.find(path);
    return it == seen_.end() ? std::string() : it->second->Contents();
  }

  TZNTFileStream OpenFile(const std::string& path, bool exclusive, bool read_only) override {
    TZNTFileStream s = inner_.OpenFile(path, exclusive, read_only);
    Remember(s);
    RebindStream(s, *this);
    return s;
  }
  TZNTFileStream CreateFile(const std::string& path, bool exclusive, bool temporary) override {
    TZNTFileStream s = inner_.CreateFile(path, exclusive, temporary);
    Remember(s);
    RebindStream(s, *this);
    return s;
  }
  void RenameFile(const std::string& from, const std::string& to) override {
    inner_.RenameFile(from, to);
  }
  void DeleteFile(const std::string& path) override { inner_.DeleteFile(path); }
  bool FileExists(const std::string& path) override { return inner_.FileExists(path); }
  bool FolderExists(const std::string& path) override { return inner_.FolderExists(path); }
  int64_t FileTime(const std::string& path) override { return inner_.FileTime(path); }
  std::vector<std::string> ListFiles(const std::string& folder, std::string_view pattern) override {
    return inner_.ListFiles(folder, pattern);
  }
  void MakeFolder(const std::string& path) override { inner_.MakeFolder(path); }
  uint64_t MaxFileSize() const noexcept override {
    return max_size_ != 0 ? max_size_ : inner_.MaxFileSize();
  }
  size_t ReadFile(TZNTFile& file, uint64_t offset, void* data, size_t size) override {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      reads_.push_back({file.Path(), offset, size});
    }
    return inner_.ReadFile(file, offset, data, size);
  }
  void WriteFile(TZNTFile& file, uint64_t offset, const void* data, size_t size) override {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      writes_.push_back({file.Path(), offset, size});
      const std::string& p = file.Path();
      if (p.size() >= 8 && p.compare(p.size() - 8, 8, "-journal") == 0)
        journal_.assign(static_cast<const char*>(data), size);
    }
    inner_.WriteFile(file, offset, data, size);
  }
  uint64_t FileSize(TZNTFile& file) override { return inner_.FileSize(file); }
  void SetFileSize(TZNTFile& file, uint64_t size) override { inner_.SetFileSize(file, size); }
  void FlushFile(TZNTFile& file) override {
    ++flushes_;
    inner_.FlushFile(file);
  }
  bool TryLockRange(TZNTFile& file, uint64_t offset, uint64_t length) override {
    return inner_.TryLockRange(file, offset, length);
  }
  bool UnlockRange(TZNTFile& file, uint64_t offset, uint64_t length) override {
    return inner_.UnlockRange(file, offset, length);
  }
  void CloseFile(TZNTFile& file) noexcept override { inner_.CloseFile(file); }

 private:
  void Remember(TZNTFileStream& s) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (auto* m = dynamic_cast<TZNTMemoryFile*>(&s.File())) seen_[s.Path()] = m;
  }
  std::vector<TIo> Filter(const std::vector<TIo>& all, const std::string& path) const {
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<TIo> out;
    for (const TIo& io : all)
      if (path.empty() || io.path == path) out.push_back(io);
    return out;
  }

  TZNTFileManager& inner_;
  uint64_t max_size_;
  mutable std::mutex mutex_;
  std::vector<TIo> reads_;
  std::vector<TIo> writes_;
  uint64_t flushes_ = 0;
  std::string journal_;
  std::map<std::string, const TZNTMemoryFile*> seen_;
};

// The whole contents of a file of the in-memory manager.
inline std::string MemoryFileBytes(TZNTMemoryFileManager& files, const std::string& path) {
  TZNTFileStream s = files.OpenFile(path, false, true);
  return static_cast<TZNTMemoryFile&>(s.File()).Contents();
}

// Overwrites bytes of a file of the in-memory manager.
inline void PatchFile(TZNTFileManager& files, const std::string& path, uint64_t offset,
                      std::string_view bytes) {
  TZNTFileStream s = files.OpenFile(path, false, false);
  s.WriteAt(offset, bytes.data(), bytes.size());
}

// Replaces a file's contents.
inline void WriteWholeFile(TZNTFileManager& files, const std::string& path,
                           std::string_view bytes) {
  TZNTFileStream s = files.CreateFile(path, false, false);
  s.WriteAt(0, bytes.data(), bytes.size());
}

// The error an action raises: code and message; code 0 when none.
struct TRaised {
  int code = 0;
  std::string message;
};
template <class F>
TRaised RaisedBy(F&& action) {
  try {
    action();
  } catch (const EZNTException& e) {
    return {e.ErrorCode(), e.ErrorMessage()};
  }
  return {};
}

}  // namespace znt::testing
