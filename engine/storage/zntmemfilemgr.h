// The file manager for files held in memory: in-memory tables and tests that
// want files without touching the disk. Files live until deleted (temporary
// ones until their last user closes them) and vanish with the manager.
#pragma once

#include <mutex>
#include <set>

#include "storage/zntfilemgr.h"

namespace znt {

// A file in memory: its bytes and modification time, guarded by the file's
// mutex. Owned by the manager's file list, open or not.
class TZNTMemoryFile : public TZNTFile {
 public:
  // A copy of the file's bytes.
  std::string Contents() const;

 private:
  friend class TZNTMemoryFileManager;
  TZNTMemoryFile(std::string path, bool exclusive, bool temporary)
      : TZNTFile(std::move(path), exclusive, false, temporary) {}
  std::string data_;
  int64_t modified_ms_ = 0;
};

// Files in memory, up to 2,000,000,000 bytes each. The same sharing rules as
// for operating-system files; opening, renaming, deleting or asking the time
// of a missing file raises "File %s not found". Folders need not exist for
// files to be created in them. Thread-safe.
class TZNTMemoryFileManager : public TZNTFileManager {
 public:
  TZNTMemoryFileManager();
  ~TZNTMemoryFileManager() override;

  TZNTFileStream OpenFile(const std::string& path, bool exclusive, bool read_only) override;
  TZNTFileStream CreateFile(const std::string& path, bool exclusive, bool temporary) override;
  // An existing target raises "Cannot rename the file %s to %s (OS Error:
  // File exists)".
  void RenameFile(const std::string& from, const std::string& to) override;
  void DeleteFile(const std::string& path) override;
  bool FileExists(const std::string& path) override;
  // True for folders made with MakeFolder and their parents.
  bool FolderExists(const std::string& path) override;
  int64_t FileTime(const std::string& path) override;
  // The files whose path is `folder` + "/" + a name matching `pattern`.
  std::vector<std::string> ListFiles(const std::string& folder, std::string_view pattern) override;
  // Records the folder and its parents; never raises.
  void MakeFolder(const std::string& path) override;
  uint64_t MaxFileSize() const noexcept override { return kZNTMemoryMaxFileSize; }

  // A write or size past MaxFileSize, or one the memory cannot hold, raises
  // "Cannot write file %s (OS Error: %s)" / "Cannot set the size of file ...".
  size_t ReadFile(TZNTFile& file, uint64_t offset, void* data, size_t size) override;
  void WriteFile(TZNTFile& file, uint64_t offset, const void* data, size_t size) override;
  uint64_t FileSize(TZNTFile& file) override;
  void SetFileSize(TZNTFile& file, uint64_t size) override;
  // Nothing to write anywhere.
  void FlushFile(TZNTFile& file) override;
  bool TryLockRange(TZNTFile& file, uint64_t offset, uint64_t length) override;
  bool UnlockRange(TZNTFile& file, uint64_t offset, uint64_t length) override;
  void CloseFile(TZNTFile& file) noexcept override;

  // Number of files that exist, open or not; for diagnostics and tests.
  size_t FileCount() const;
  // Asserts the file-list invariants; does nothing in a release build.
  void CheckInvariants() const;

 private:
  static TZNTMemoryFile& AsMemory(TZNTFile& file);
  TZNTMemoryFile& FindExisting(const std::string& path) const;

  mutable std::mutex list_mutex_;
  TZNTFileList files_{true};
  std::set<std::string, std::less<>> folders_;
};

}  // namespace znt
