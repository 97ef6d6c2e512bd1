// A file manager that wraps another and makes chosen writes, flushes and size
// changes fail, or runs out of disk space after a byte budget, so that tests
// can check how the storage layer survives failed and torn writes.
#pragma once

#include <array>
#include <mutex>

#include "storage/zntfilemgr.h"

namespace znt {

// The operations whose failure can be injected.
enum class TZNTFaultOp { Write = 0, Flush = 1, SetSize = 2 };

// Forwards every call to the wrapped manager, which it does not own and
// which must outlive it; streams it returns route their calls through it.
// Injected failures raise error 600 with the detail the operating-system
// manager would use ("Cannot write file %s (OS Error: Input/output error)",
// "... No space left on device" for the budget). Thread-safe.
class TZNTFaultFileManager : public TZNTFileManager {
 public:
  explicit TZNTFaultFileManager(TZNTFileManager& inner) : inner_(inner) {}

  // Makes the n-th operation of kind `op` from now on (1 = the next) fail
  // without reaching the file; 0 cancels. With `sticky`, that failure is a
  // crash: it and every later write, flush and size change fail too, until
  // ClearFaults.
  void FailNth(TZNTFaultOp op, uint64_t n, bool sticky = false);
  // Lets only `bytes` more bytes be written: the write that would pass the
  // budget writes what still fits (a torn write) and fails, and every later
  // non-empty write fails, as on a full disk.
  void SetWriteBudget(uint64_t bytes);
  // Cancels every injected failure, the budget and a crash.
  void ClearFaults();
  // Operations of kind `op` attempted so far, failed ones included.
  uint64_t Count(TZNTFaultOp op) const;
  // Failures injected so far.
  uint64_t FaultsRaised() const;

  TZNTFileStream OpenFile(const std::string& path, bool exclusive, bool read_only) override;
  TZNTFileStream CreateFile(const std::string& path, bool exclusive, bool temporary) override;
  void RenameFile(const std::string& from, const std::string& to) override;
  void DeleteFile(const std::string& path) override;
  bool FileExists(const std::string& path) override;
  bool FolderExists(const std::string& path) override;
  int64_t FileTime(const std::string& path) override;
  std::vector<std::string> ListFiles(const std::string& folder, std::string_view pattern) override;
  void MakeFolder(const std::string& path) override;
  uint64_t MaxFileSize() const noexcept override { return inner_.MaxFileSize(); }

  size_t ReadFile(TZNTFile& file, uint64_t offset, void* data, size_t size) override;
  void WriteFile(TZNTFile& file, uint64_t offset, const void* data, size_t size) override;
  uint64_t FileSize(TZNTFile& file) override;
  void SetFileSize(TZNTFile& file, uint64_t size) override;
  void FlushFile(TZNTFile& file) override;
  bool TryLockRange(TZNTFile& file, uint64_t offset, uint64_t length) override;
  bool UnlockRange(TZNTFile& file, uint64_t offset, uint64_t length) override;
  void CloseFile(TZNTFile& file) noexcept override;

 private:
  // Counts one operation of `op` and decides whether it fails: 0 to let it
  // through, else the errno to raise. Caller holds mutex_.
  int CountAndDecideLocked(TZNTFaultOp op);

  TZNTFileManager& inner_;
  mutable std::mutex mutex_;
  std::array<uint64_t, 3> counts_{};
  std::array<uint64_t, 3> fail_at_{};  // the count that fails; 0 for none
  std::array<bool, 3> sticky_{};
  bool crashed_ = false;
  bool budget_set_ = false;
  uint64_t budget_left_ = 0;
  uint64_t faults_ = 0;
};

}  // namespace znt
