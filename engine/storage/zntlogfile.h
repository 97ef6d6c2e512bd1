// The engine log file: a ring of 512-byte event records (format in
// base/zntlogmgr.h), shared by every session of a configuration and guarded
// by the log's locks in the configuration lock file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/zntlogmgr.h"
#include "storage/zntfilemgr.h"
#include "storage/zntlockmgr.h"

namespace znt {

// One session's handle on the log file. The file is opened (created when
// missing) by Open; one that cannot be created or written leaves the log
// read-only, which refuses writes but raises nothing until one is tried.
// Used by one session from one thread at a time.
class TZNTLogFile {
 public:
  // Called after each record is written, before the header is updated.
  using WriteHandler = std::function<void(const TZNTLogEvent&)>;

  // The log file at `path`, reached through `files`; `name` names it in
  // messages (error 101). It locks through `locks`, the session's
  // configuration lock manager. `files` and `locks` must outlive it.
  TZNTLogFile(TZNTFileManager& files, TZNTLockManager& locks, std::string path, std::string name,
              uint64_t max_file_size, TZNTLogCategories categories = kZNTLogAllCategories);
  ~TZNTLogFile();
  TZNTLogFile(const TZNTLogFile&) = delete;
  TZNTLogFile& operator=(const TZNTLogFile&) = delete;

  // Opens or creates the file. Never raises for a file that can only be
  // read or not be created: the log becomes read-only.
  void Open();
  // Closes the file. Never raises.
  void Close() noexcept;
  bool IsOpen() const noexcept { return open_; }
  bool IsReadOnly() const noexcept { return lockable_.IsReadOnly(); }

  const std::string& Path() const noexcept { return path_; }
  uint64_t MaxFileSize() const noexcept { return max_file_size_; }
  TZNTLogCategories Categories() const noexcept { return categories_; }
  void SetCategories(TZNTLogCategories categories) noexcept { categories_ = categories; }
  void SetWriteHandler(WriteHandler handler) { on_write_ = std::move(handler); }
  // The log's descriptor in the configuration lock file.
  TZNTLockable& Lockable() noexcept { return lockable_; }

  // Writes `event` when its category, after the warning rule for errors 1008
  // and 1010, is among the enabled categories; returns whether it was
  // written. Raises as WriteEvent.
  bool LogEvent(TZNTLogEvent event);
  // Writes `event` as it is, as the next record of the ring, under the log's
  // Transaction and Write locks. A read-only log raises error 101 with the
  // detail "The file is read-only"; lock failures raise error 300.
  void WriteEvent(const TZNTLogEvent& event);

  // Every record of the file, oldest first, read under the log's Read lock.
  // A read-only log without a file has none.
  std::vector<TZNTLogEvent> ReadEvents();

 private:
  int32_t ReadNextRecord();

  TZNTFileManager& files_;
  std::string path_;
  uint64_t max_file_size_;
  TZNTLogCategories categories_;
  TZNTLockable lockable_;
  TZNTFileStream stream_;
  bool open_ = false;
  WriteHandler on_write_;
};

}  // namespace znt
