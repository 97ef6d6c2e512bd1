#include "storage/zntlogfile.h"

#include <algorithm>
#include <cassert>

#include "base/zntconsts.h"
#include "base/znterror.h"

namespace znt {

TZNTLogFile::TZNTLogFile(TZNTFileManager& files, TZNTLockManager& locks, std::string path,
                         std::string name, uint64_t max_file_size, TZNTLogCategories categories)
    : files_(files),
      path_(std::move(path)),
      max_file_size_(max_file_size),
      categories_(categories),
      lockable_(TZNTLockable::Log(&locks, std::move(name))) {}

TZNTLogFile::~TZNTLogFile() { Close(); }

void TZNTLogFile::Open() {
  assert(!open_);
  try {
    stream_ = files_.FileExists(path_) ? files_.OpenFile(path_, false, false)
                                       : files_.CreateFile(path_, false, false);
  } catch (const EZNTException&) {
    // A folder the session may not write to: events can still be read where
    // a file exists, but none can be written.
    lockable_.SetReadOnly(true);
  }
  if (stream_.IsOpen() && stream_.IsReadOnly()) lockable_.SetReadOnly(true);
  open_ = true;
}

void TZNTLogFile::Close() noexcept {
  stream_.Close();
  open_ = false;
}

bool TZNTLogFile::LogEvent(TZNTLogEvent event) {
  if (!PrepareLogEvent(event, categories_)) return false;
  WriteEvent(event);
  return true;
}

int32_t TZNTLogFile::ReadNextRecord() {
  const uint64_t size = stream_.Size();
  if (size == 0) return 1;
  std::string header(kZNTLogHeaderSize, '\0');
  header.resize(stream_.ReadAt(0, header.data(), header.size()));
  return ValidNextLogRecord(DecodeLogHeader(header), size);
}

void TZNTLogFile::WriteEvent(const TZNTLogEvent& event) {
  assert(open_);
  if (lockable_.IsReadOnly() || !stream_.IsOpen()) {
    RaiseZNTError(err::Update, {lockable_.KindWord(), lockable_.Name(), detail::kFileReadOnly});
  }
  TZNTObjectLock transaction(lockable_, TZNTLockKind::Transaction);
  // Every writer holds the Transaction lock, so the header read here stays
  // true until this write is done.
  const int32_t next = ReadNextRecord();
  TZNTObjectLock write(lockable_, TZNTLockKind::Write);
  const TZNTLogPlacement place = PlaceLogRecord(next, max_file_size_);
  if (place.wrap) stream_.SetSize(place.cut_size);
  const std::string record = EncodeLogRecord(event);
  stream_.WriteAt(LogRecordOffset(place.record), record.data(), record.size());
  if (on_write_) on_write_(event);
  const std::string header = EncodeLogHeader(place.record + 1);
  stream_.WriteAt(0, header.data(), header.size());
  stream_.Flush();
  write.Release();
  transaction.Release();
}

std::vector<TZNTLogEvent> TZNTLogFile::ReadEvents() {
  assert(open_);
  std::vector<TZNTLogEvent> events;
  if (!stream_.IsOpen()) return events;
  TZNTObjectLock read(lockable_, TZNTLockKind::Read);
  const uint64_t size = stream_.Size();
  const uint64_t count = LogRecordCount(size);
  if (count == 0) return events;
  events.reserve(count);
  // The next record to write is the oldest one once the ring has wrapped;
  // before that it lies past the end and reading starts at record 1.
  uint64_t record = static_cast<uint64_t>(ReadNextRecord());
  if (record > count) record = 1;
  std::string block(kZNTLogReadBlockSize, '\0');
  uint64_t left = count;
  while (left > 0) {
    const uint64_t run = std::min<uint64_t>({left, kZNTLogReadBlockRecords, count - record + 1});
    const size_t bytes = static_cast<size_t>(run * kZNTLogRecordSize);
    const size_t got =
        stream_.ReadAt(LogRecordOffset(static_cast<int32_t>(record)), block.data(), bytes);
    for (size_t at = 0; at + kZNTLogRecordSize <= got; at += kZNTLogRecordSize) {
      events.push_back(DecodeLogRecord(std::string_view(block).substr(at, kZNTLogRecordSize)));
    }
    if (got < bytes) break;  // cut by another process while reading
    left -= run;
    record += run;
    if (record > count) record = 1;
  }
  read.Release();
  return events;
}

}  // namespace znt
