// The file manager: the engine's one door to files. Every table, index, blob
// and lock file is reached through a TZNTFileManager, which keeps each file the
// process has open as one shared TZNTFile and hands out TZNTFileStream objects
// (a position plus the file) to its users. Managers for operating-system files
// and for files held in memory derive from it; tests may wrap one in a manager
// that injects faults.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace znt {

// The largest size a file may reach, per kind of manager. Callers that grow a
// file check against MaxFileSize() and raise error 407 themselves; the
// managers refuse a write past it as a last line of defence.
inline constexpr uint64_t kZNTMemoryMaxFileSize = 2'000'000'000ULL;
inline constexpr uint64_t kZNTStandardMaxFileSize = 4'000'000'000ULL;
inline constexpr uint64_t kZNTLargeMaxFileSize = 128'000'000'000ULL;

// Byte-range locks must lie below this offset. The operating-system manager
// keeps the byte at it for the lock that makes an open shared or exclusive
// between processes, so no caller's range may reach it.
inline constexpr uint64_t kZNTLockLimit = 1ULL << 62;

class TZNTFileManager;
class TZNTFileList;
class TZNTOSFileManager;
class TZNTMemoryFileManager;

// One locked byte range [offset, offset + length).
struct TZNTLockRange {
  uint64_t offset = 0;
  uint64_t length = 0;
  uint64_t End() const noexcept { return offset + length; }
  bool operator==(const TZNTLockRange&) const = default;
};

// What a file-manager call was doing when the operating system refused it;
// selects the detail text of error 600.
enum class TZNTFileAction {
  Create,        // "Cannot create file %s (OS Error: %s)"
  Open,          // "Cannot open file %s (OS Error: %s)"
  Read,          // "Cannot read file %s (OS Error: %s)"
  Write,         // "Cannot write file %s (OS Error: %s)"
  SetSize,       // "Cannot set the size of file %s (OS Error: %s)"
  Flush,         // "Cannot flush file %s (OS Error: %s)"
  Lock,          // "Cannot lock file %s (OS Error: %s)"
  Unlock,        // "Cannot unlock file %s (OS Error: %s)"
  Delete,        // "Cannot delete the file %s (OS Error: %s)"
  CreateFolder,  // "Cannot create folder %s (OS Error: %s)"
};

// The system's message for an errno value, as strerror gives it.
std::string ZNTOSErrorText(int errnum);

// Raise error 600 "File manager error (%s)" with the detail of `action` for
// `path` and the system's message for `errnum`.
[[noreturn]] void RaiseZNTFileError(TZNTFileAction action, std::string_view path, int errnum);
// Error 600 with "Cannot rename the file %s to %s (OS Error: %s)".
[[noreturn]] void RaiseZNTRenameError(std::string_view from, std::string_view to, int errnum);
// Error 600 with "Access denied to the file %s".
[[noreturn]] void RaiseZNTAccessDenied(std::string_view path);
// Error 600 with "File %s not found".
[[noreturn]] void RaiseZNTFileNotFound(std::string_view path);

// True when `name` matches `pattern`, where `*` stands for any run of bytes
// (also none) and `?` for exactly one; all other bytes match only themselves,
// case-sensitively, as the file system compares names.
bool ZNTMatchesPattern(std::string_view name, std::string_view pattern) noexcept;

// One file the process has open, shared by every stream on its path. Owned by
// its manager's file list; streams point at it while they count as users.
//
// Invariants of the locked-range list (checked by CheckInvariants):
//  1. ranges are sorted by offset and no two overlap (adjacent is allowed);
//  2. every range has a length of at least 1 and ends at or below kZNTLockLimit;
//  3. a file with no users holds no ranges.
class TZNTFile {
 public:
  virtual ~TZNTFile() = default;
  TZNTFile(const TZNTFile&) = delete;
  TZNTFile& operator=(const TZNTFile&) = delete;

  // The path as the opener spelt it: the operating system's bytes.
  const std::string& Path() const noexcept { return path_; }
  // Streams currently counting as users.
  int OpenCount() const noexcept { return open_count_.load(); }
  // Opened for the sole use of one stream.
  bool IsExclusive() const noexcept { return exclusive_; }
  // The file could only be opened for reading; writes through it are refused.
  bool IsReadOnly() const noexcept { return read_only_; }
  // Deleted when its last user closes it.
  bool IsTemporary() const noexcept { return temporary_; }

  // A copy of the locked ranges, in offset order.
  std::vector<TZNTLockRange> LockedRanges() const;

  // Asserts the invariants above; does nothing in a release build.
  void CheckInvariants() const;

 protected:
  TZNTFile(std::string path, bool exclusive, bool read_only, bool temporary)
      : path_(std::move(path)),
        exclusive_(exclusive),
        read_only_(read_only),
        temporary_(temporary) {}

  // True when [offset, offset + length) may be locked: a valid, non-empty
  // range below kZNTLockLimit that overlaps no listed one. Caller holds mutex_.
  bool CanLockLocked(uint64_t offset, uint64_t length) const;
  // Lists a range that CanLockLocked accepted. Caller holds mutex_.
  void AddRangeLocked(uint64_t offset, uint64_t length);
  // Removes the range locked with exactly this offset and length; false when
  // there is none. Caller holds mutex_.
  bool RemoveRangeLocked(uint64_t offset, uint64_t length);
  void CheckInvariantsLocked() const;

  // Guards the range list and, in derived files, the contents.
  mutable std::mutex mutex_;

 private:
  friend class TZNTFileList;
  friend class TZNTFileManager;
  friend class TZNTOSFileManager;
  friend class TZNTMemoryFileManager;

  std::string path_;
  // Changed only under the manager's list mutex; atomic so that readers of
  // OpenCount() on other threads see a whole value.
  std::atomic<int> open_count_{0};
  bool exclusive_;
  bool read_only_;
  bool temporary_;
  std::vector<TZNTLockRange> locks_;
};

// A user's handle on an open file: the file plus a position. Movable, not
// copyable; destroying or closing it gives up its use of the file. The
// manager that returned it must outlive it. Using a closed stream is a bug.
class TZNTFileStream {
 public:
  // A closed stream.
  TZNTFileStream() = default;
  TZNTFileStream(TZNTFileStream&& other) noexcept;
  // Closes this stream first, then takes over `other`.
  TZNTFileStream& operator=(TZNTFileStream&& other) noexcept;
  TZNTFileStream(const TZNTFileStream&) = delete;
  TZNTFileStream& operator=(const TZNTFileStream&) = delete;
  ~TZNTFileStream() { Close(); }

  bool IsOpen() const noexcept { return file_ != nullptr; }
  // Gives up this user's share of the file; the last user's close closes the
  // file, releases its locks and deletes it when temporary. Never raises.
  void Close() noexcept;

  const std::string& Path() const;
  TZNTFile& File() const;
  TZNTFileManager& Manager() const;
  // Opened read-only on request, or the file itself could only be read.
  bool IsReadOnly() const;

  uint64_t Position() const noexcept { return position_; }
  void Seek(uint64_t position) noexcept { position_ = position; }

  // Reads up to `size` bytes at the position and advances past them; returns
  // the bytes read, fewer only at the end of the file. Raises error 600.
  size_t Read(void* data, size_t size);
  // Writes `size` bytes at the position and advances past them. Raises error
  // 600 ("Access denied to the file %s" on a read-only stream).
  void Write(const void* data, size_t size);
  // As Read and Write, at `offset`; the position is left alone.
  size_t ReadAt(uint64_t offset, void* data, size_t size);
  void WriteAt(uint64_t offset, const void* data, size_t size);

  // The file's size in bytes.
  uint64_t Size();
  // Sets the end of file: cuts the file or extends it with zero bytes.
  // Raises error 600 (access denied on a read-only stream).
  void SetSize(uint64_t size);
  // Makes the operating system write its buffers for the file to disk.
  void Flush();

  // Locks [offset, offset + length) at once or not at all: false when the
  // range overlaps one already locked through this file (by any stream of
  // this process) or, for operating-system files, by another process, and
  // for an empty range or one reaching kZNTLockLimit. Never waits.
  bool TryLock(uint64_t offset, uint64_t length);
  // Unlocks a range locked with exactly this offset and length; false when no
  // such range is locked.
  bool Unlock(uint64_t offset, uint64_t length);

 private:
  friend class TZNTFileManager;
  TZNTFileStream(TZNTFileManager* manager, TZNTFile* file, bool read_only) noexcept
      : manager_(manager), file_(file), read_only_(read_only) {}
  void CheckWritable() const;

  TZNTFileManager* manager_ = nullptr;
  TZNTFile* file_ = nullptr;
  bool read_only_ = false;
  uint64_t position_ = 0;
};

// The file list of a manager: every open (and, in memory, every existing)
// file, sorted by path for binary search. Not thread-safe by itself; its
// manager guards it with a mutex.
//
// Invariants (checked by CheckInvariants):
//  1. entries are sorted strictly by path, so one path has one TZNTFile;
//  2. an exclusive file has at most one user;
//  3. a file with no users is listed only when closed files are kept (files
//     in memory) and then is not temporary;
//  4. every file satisfies its own range-list invariants.
class TZNTFileList {
 public:
  // `keeps_closed` is true for managers whose files outlive their last user.
  explicit TZNTFileList(bool keeps_closed);

  // The listed file for `path`, or nullptr.
  TZNTFile* Find(std::string_view path) const;
  // Adds a file whose path is not listed yet; returns it.
  TZNTFile& Insert(std::unique_ptr<TZNTFile> file);
  // Takes a listed file out of the list and hands it to the caller.
  std::unique_ptr<TZNTFile> Remove(const TZNTFile& file);
  size_t Size() const noexcept { return files_.size(); }
  const TZNTFile& At(size_t index) const { return *files_[index]; }

  void CheckInvariants() const;

 private:
  size_t LowerBound(std::string_view path) const;
  std::vector<std::unique_ptr<TZNTFile>> files_;
  bool keeps_closed_;
};

// The file manager interface. Paths are the operating system's bytes. Every
// failure raises znt::EZNTException with error 600 "File manager error (%s)".
// The I/O calls taking a TZNTFile are normally reached through a stream; they
// are public so that a wrapping manager can forward them.
class TZNTFileManager {
 public:
  TZNTFileManager() = default;
  TZNTFileManager(const TZNTFileManager&) = delete;
  TZNTFileManager& operator=(const TZNTFileManager&) = delete;
  virtual ~TZNTFileManager() = default;

  // Opens an existing file. A file this process already has open is shared
  // (one more user) unless this or the earlier open is exclusive, which
  // raises "Access denied to the file %s". `read_only` makes the returned
  // stream refuse writes.
  virtual TZNTFileStream OpenFile(const std::string& path, bool exclusive, bool read_only) = 0;
  // Creates a file, emptying one that exists; the same sharing rule as for
  // OpenFile. A temporary file is deleted when its last user closes it.
  virtual TZNTFileStream CreateFile(const std::string& path, bool exclusive, bool temporary) = 0;
  // Renames a file. An open source or target raises access denied; an
  // existing target is not replaced.
  virtual void RenameFile(const std::string& from, const std::string& to) = 0;
  // Deletes a file that is not open (access denied when it is).
  virtual void DeleteFile(const std::string& path) = 0;
  // Whether a file (not a folder) exists at `path`. Never raises.
  virtual bool FileExists(const std::string& path) = 0;
  // Whether a folder exists at `path`. Never raises.
  virtual bool FolderExists(const std::string& path) = 0;
  // The file's last modification time in milliseconds since 1970-01-01 UTC.
  // Raises error 600 for a missing file.
  virtual int64_t FileTime(const std::string& path) = 0;
  // The names (without folder) of the files in `folder` that match `pattern`
  // (see ZNTMatchesPattern), sorted; empty for a missing folder.
  virtual std::vector<std::string> ListFiles(const std::string& folder,
                                             std::string_view pattern) = 0;
  // Creates `path` and every missing folder above it; an existing folder is
  // fine.
  virtual void MakeFolder(const std::string& path) = 0;
  // The largest size a file of this manager may reach.
  virtual uint64_t MaxFileSize() const noexcept = 0;

  // Positioned I/O on an open file of this manager; see TZNTFileStream.
  virtual size_t ReadFile(TZNTFile& file, uint64_t offset, void* data, size_t size) = 0;
  virtual void WriteFile(TZNTFile& file, uint64_t offset, const void* data, size_t size) = 0;
  virtual uint64_t FileSize(TZNTFile& file) = 0;
  virtual void SetFileSize(TZNTFile& file, uint64_t size) = 0;
  virtual void FlushFile(TZNTFile& file) = 0;
  virtual bool TryLockRange(TZNTFile& file, uint64_t offset, uint64_t length) = 0;
  virtual bool UnlockRange(TZNTFile& file, uint64_t offset, uint64_t length) = 0;
  // Gives up one user of `file`; called by TZNTFileStream::Close.
  virtual void CloseFile(TZNTFile& file) noexcept = 0;

 protected:
  // A stream on `file`, which the caller has already counted as a user.
  static TZNTFileStream MakeStream(TZNTFileManager& manager, TZNTFile& file, bool read_only) {
    return TZNTFileStream(&manager, &file, read_only);
  }
  // Makes `stream` route its calls through `manager` (a wrapping manager).
  static void RebindStream(TZNTFileStream& stream, TZNTFileManager& manager) {
    stream.manager_ = &manager;
  }

  // Counts one more user of an open file, or raises access denied when
  // either the earlier opens or this one are exclusive. Caller holds the list
  // mutex.
  static void ShareOpenFile(TZNTFile& file, bool exclusive);
  // Counts one less user; true when that was the last. Caller holds the list
  // mutex.
  static bool ReleaseUser(TZNTFile& file) noexcept;
  // True when a write of `size` bytes at `offset` stays within `max_size`.
  static bool FitsIn(uint64_t offset, uint64_t size, uint64_t max_size) noexcept {
    return offset <= max_size && size <= max_size - offset;
  }
};

}  // namespace znt
