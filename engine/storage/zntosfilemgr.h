// The file manager over the operating system's files (POSIX). One descriptor
// per path serves every stream of the process, and byte-range locks are kept
// twice: in the file's own range list, which makes a second overlapping
// request from this process fail, and as open-file-description locks, which
// make it fail in other processes.
#pragma once

#include <mutex>

#include "storage/zntfilemgr.h"

namespace znt {

// An operating-system file open in this process. Owns the descriptor.
class TZNTOSFile : public TZNTFile {
 public:
  ~TZNTOSFile() override;
  // The descriptor shared by every stream on the file.
  int Descriptor() const noexcept { return fd_; }

 private:
  friend class TZNTOSFileManager;
  TZNTOSFile(std::string path, int fd, bool exclusive, bool read_only, bool temporary)
      : TZNTFile(std::move(path), exclusive, read_only, temporary), fd_(fd) {}
  int fd_;
};

// Files of the operating system. Within the process an exclusive open is
// refused through the file list; between processes every open also holds a
// lock on the reserved byte at kZNTLockLimit (shared for a shared open,
// exclusive for an exclusive one), so an exclusive open fails while another
// process has the file open and the other way round (for a file that can only
// be read the lock can only be shared, and exclusivity holds within the
// process alone). Renaming or deleting is refused only for files open in this
// process. Thread-safe.
class TZNTOSFileManager : public TZNTFileManager {
 public:
  // A manager whose files may grow to `max_file_size` bytes.
  explicit TZNTOSFileManager(uint64_t max_file_size);
  // Closes whatever files are still open (a bug in their users, who must not
  // touch their streams afterwards).
  ~TZNTOSFileManager() override;

  // Opens an existing file: read-only when the file has no write permission
  // bits, else for reading and writing, falling back to reading only when
  // the system refuses writing (the file then counts as read-only). Raises
  // "Cannot open file %s (OS Error: %s)" or "Access denied to the file %s".
  TZNTFileStream OpenFile(const std::string& path, bool exclusive, bool read_only) override;
  // Creates or empties a file for reading and writing; a file marked
  // read-only is left alone. Raises "Cannot create file %s (OS Error: %s)"
  // or "Access denied to the file %s".
  TZNTFileStream CreateFile(const std::string& path, bool exclusive, bool temporary) override;
  void RenameFile(const std::string& from, const std::string& to) override;
  void DeleteFile(const std::string& path) override;
  bool FileExists(const std::string& path) override;
  bool FolderExists(const std::string& path) override;
  int64_t FileTime(const std::string& path) override;
  std::vector<std::string> ListFiles(const std::string& folder, std::string_view pattern) override;
  // Raises "Cannot create folder %s (OS Error: %s)".
  void MakeFolder(const std::string& path) override;
  uint64_t MaxFileSize() const noexcept override { return max_file_size_; }

  // Raise "Cannot read file ...", "Cannot write file ...", "Cannot set the
  // size of file ...", "Cannot flush file ..." with the system's message.
  size_t ReadFile(TZNTFile& file, uint64_t offset, void* data, size_t size) override;
  void WriteFile(TZNTFile& file, uint64_t offset, const void* data, size_t size) override;
  uint64_t FileSize(TZNTFile& file) override;
  void SetFileSize(TZNTFile& file, uint64_t size) override;
  void FlushFile(TZNTFile& file) override;
  // An exclusive record lock for a writable file, a shared one for a file
  // that could only be opened for reading (the system allows no more on it),
  // so two processes that can both only read the file do not exclude each
  // other. Unexpected system failures raise "Cannot lock file ..." /
  // "Cannot unlock file ...".
  bool TryLockRange(TZNTFile& file, uint64_t offset, uint64_t length) override;
  bool UnlockRange(TZNTFile& file, uint64_t offset, uint64_t length) override;
  void CloseFile(TZNTFile& file) noexcept override;

  // Number of distinct files open; for diagnostics and tests.
  size_t OpenFileCount() const;
  // Asserts the file-list invariants; does nothing in a release build.
  void CheckInvariants() const;

 private:
  static TZNTOSFile& AsOS(TZNTFile& file);

  const uint64_t max_file_size_;
  mutable std::mutex list_mutex_;
  TZNTFileList files_{false};
};

// The engine's manager for standard files, up to 4,000,000,000 bytes.
class TZNTEngineOSFileManager : public TZNTOSFileManager {
 public:
  TZNTEngineOSFileManager() : TZNTOSFileManager(kZNTStandardMaxFileSize) {}
};

// The engine's manager with large-file support, up to 128,000,000,000 bytes.
class TZNTEngineLargeOSFileManager : public TZNTOSFileManager {
 public:
  TZNTEngineLargeOSFileManager() : TZNTOSFileManager(kZNTLargeMaxFileSize) {}
};

}  // namespace znt
