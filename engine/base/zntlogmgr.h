// The engine log's events and its file format, without the file: a log file
// is a ring of 512-byte records behind a 4-byte header holding the number of
// the next record to write (from 1). Record n sits at 4 + (n - 1) x 512; when
// the next record would pass the maximum file size the file is cut after the
// last whole record and writing continues at record 1. The file itself is
// written and read by storage/zntlogfile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/zntconsts.h"

namespace znt {

enum class TZNTLogCategory : int32_t { Information = 0, Warning = 1, Error = 2 };

// A set of categories: bit 0 information, bit 1 warning, bit 2 error.
using TZNTLogCategories = uint32_t;
inline constexpr TZNTLogCategories kZNTLogInformation = 1;
inline constexpr TZNTLogCategories kZNTLogWarning = 2;
inline constexpr TZNTLogCategories kZNTLogError = 4;
inline constexpr TZNTLogCategories kZNTLogAllCategories = 7;

// The bit of `category` in a TZNTLogCategories set.
TZNTLogCategories LogCategoryBit(TZNTLogCategory category) noexcept;

inline constexpr size_t kZNTLogHeaderSize = 4;
inline constexpr size_t kZNTLogRecordSize = 512;
// Records are read in blocks of this many.
inline constexpr size_t kZNTLogReadBlockRecords = 63;
inline constexpr size_t kZNTLogReadBlockSize = kZNTLogReadBlockRecords * kZNTLogRecordSize;
// The smallest maximum file size the engine settings accept.
inline constexpr uint64_t kZNTLogMinMaxFileSize = 262144;

// The longest text each string field keeps; longer texts are cut.
inline constexpr size_t kZNTLogMaxDescription = 300;
inline constexpr size_t kZNTLogMaxProductType = 10;
inline constexpr size_t kZNTLogMaxUser = 30;
inline constexpr size_t kZNTLogMaxProcess = 30;
inline constexpr size_t kZNTLogMaxSessionName = 30;
inline constexpr size_t kZNTLogMaxSessionDescription = 60;
inline constexpr size_t kZNTLogMaxIPAddress = 16;

// One event of the engine log, one record of the log file.
struct TZNTLogEvent {
  TZNTLogCategory category = TZNTLogCategory::Information;
  int32_t operation = op::None;
  int32_t error_code = 0;
  std::string description;
  int64_t timestamp = 0;  // engine timestamp, local time
  int64_t version = kEngineVersion;
  int32_t build = kEngineBuild;
  std::string product_type{kEngineProductType};
  std::string user;
  std::string process;
  uint32_t thread_id = 0;
  int32_t session_id = 0;
  std::string session_name;
  std::string session_description;
  std::string ip_address;  // empty for a local session
  bool encrypted = false;

  bool operator==(const TZNTLogEvent&) const = default;
};

// The category an event is logged in: errors 1008 and 1010 (a row changed or
// vanished under a cursor) are routine and always go in as warnings.
TZNTLogCategory EffectiveLogCategory(TZNTLogCategory category, int32_t error_code) noexcept;

// Applies EffectiveLogCategory to `event`; returns whether its category is in
// `enabled`, that is whether it is to be written.
bool PrepareLogEvent(TZNTLogEvent& event, TZNTLogCategories enabled) noexcept;

// The 512-byte record of `event`: little-endian fields in order, strings as a
// 4-byte length and the bytes, the rest zero. Strings longer than their
// maximum are cut; when the fields would still not fit in 512 bytes the
// description gives up the excess (it alone has room to spare).
std::string EncodeLogRecord(const TZNTLogEvent& event);
// The event of a record. Never fails: a damaged record yields what can be
// read, the rest left empty or zero.
TZNTLogEvent DecodeLogRecord(std::string_view record);

// The 4-byte header holding the next record number.
std::string EncodeLogHeader(int32_t next_record);
// The next record number of a header; 1 for fewer than 4 bytes.
int32_t DecodeLogHeader(std::string_view header) noexcept;

// Offset of record `n` (from 1) in the file.
inline constexpr uint64_t LogRecordOffset(int32_t n) noexcept {
  return kZNTLogHeaderSize + static_cast<uint64_t>(n - 1) * kZNTLogRecordSize;
}
// Whole records in a file of `file_size` bytes.
uint64_t LogRecordCount(uint64_t file_size) noexcept;

// Where the next record goes in a file of `file_size` bytes whose header says
// `next_record`: a number outside the file (below 1, or past its end) starts
// over at record 1.
int32_t ValidNextLogRecord(int32_t next_record, uint64_t file_size) noexcept;

// Where record `next_record` is written when the file may not pass
// `max_size` bytes. With `wrap`, the file is first cut to `cut_size`
// (4 + (next_record - 1) x 512) and the record written is number 1.
struct TZNTLogPlacement {
  int32_t record = 1;
  bool wrap = false;
  uint64_t cut_size = 0;
};
TZNTLogPlacement PlaceLogRecord(int32_t next_record, uint64_t max_size) noexcept;

}  // namespace znt
