#include "base/zntlogmgr.h"

#include <algorithm>
#include <cassert>

#include "base/zntcommon.h"

namespace znt {

namespace {

// Bytes of a record taken by the fixed-size fields and the length prefixes of
// the seven strings; the strings' own bytes share the rest.
constexpr size_t kBareBytes = 4 + 4 + 4 + 4 + 8 + 8 + 4 + 4 + 4 + 4 + 4 + 4 + 4 + 4 + 4 + 1;
constexpr size_t kMaxOtherStrings = kZNTLogMaxProductType + kZNTLogMaxUser + kZNTLogMaxProcess +
                                    kZNTLogMaxSessionName + kZNTLogMaxSessionDescription +
                                    kZNTLogMaxIPAddress;
static_assert(kBareBytes + kMaxOtherStrings < kZNTLogRecordSize,
              "a record must keep room for a description");

std::string_view Cut(std::string_view s, size_t max) {
  return s.substr(0, std::min(s.size(), max));
}

}  // namespace

TZNTLogCategories LogCategoryBit(TZNTLogCategory category) noexcept {
  const auto c = static_cast<int32_t>(category);
  return c >= 0 && c <= 2 ? 1u << c : 0;
}

TZNTLogCategory EffectiveLogCategory(TZNTLogCategory category, int32_t error_code) noexcept {
  if (error_code == err::RowModified || error_code == err::RowNotVisible) {
    return TZNTLogCategory::Warning;
  }
  return category;
}

bool PrepareLogEvent(TZNTLogEvent& event, TZNTLogCategories enabled) noexcept {
  event.category = EffectiveLogCategory(event.category, event.error_code);
  return (LogCategoryBit(event.category) & enabled) != 0;
}

std::string EncodeLogRecord(const TZNTLogEvent& event) {
  const std::string_view product = Cut(event.product_type, kZNTLogMaxProductType);
  const std::string_view user = Cut(event.user, kZNTLogMaxUser);
  const std::string_view process = Cut(event.process, kZNTLogMaxProcess);
  const std::string_view session_name = Cut(event.session_name, kZNTLogMaxSessionName);
  const std::string_view session_description =
      Cut(event.session_description, kZNTLogMaxSessionDescription);
  const std::string_view ip = Cut(event.ip_address, kZNTLogMaxIPAddress);
  const size_t others = product.size() + user.size() + process.size() + session_name.size() +
                        session_description.size() + ip.size();
  const size_t room = kZNTLogRecordSize - kBareBytes - others;
  const std::string_view description =
      Cut(event.description, std::min(kZNTLogMaxDescription, room));

  TZNTWriter w;
  w.WriteInt32(static_cast<int32_t>(event.category));
  w.WriteInt32(event.operation);
  w.WriteInt32(event.error_code);
  w.WriteString(description);
  w.WriteInt64(event.timestamp);
  w.WriteInt64(event.version);
  w.WriteInt32(event.build);
  w.WriteString(product);
  w.WriteString(user);
  w.WriteString(process);
  w.WriteInt32(static_cast<int32_t>(event.thread_id));
  w.WriteInt32(event.session_id);
  w.WriteString(session_name);
  w.WriteString(session_description);
  w.WriteString(ip);
  w.WriteBoolean(event.encrypted);
  std::string record = w.TakeBuffer();
  assert(record.size() <= kZNTLogRecordSize);
  record.resize(kZNTLogRecordSize, '\0');
  return record;
}

TZNTLogEvent DecodeLogRecord(std::string_view record) {
  TZNTReader r(record.substr(0, std::min(record.size(), kZNTLogRecordSize)));
  TZNTLogEvent e;
  e.category = static_cast<TZNTLogCategory>(r.ReadInt32());
  e.operation = r.ReadInt32();
  e.error_code = r.ReadInt32();
  e.description = r.ReadString();
  e.timestamp = r.ReadInt64();
  e.version = r.ReadInt64();
  e.build = r.ReadInt32();
  e.product_type = r.ReadString();
  e.user = r.ReadString();
  e.process = r.ReadString();
  e.thread_id = static_cast<uint32_t>(r.ReadInt32());
  e.session_id = r.ReadInt32();
  e.session_name = r.ReadString();
  e.session_description = r.ReadString();
  e.ip_address = r.ReadString();
  e.encrypted = r.ReadBoolean();
  return e;
}

std::string EncodeLogHeader(int32_t next_record) {
  std::string header(kZNTLogHeaderSize, '\0');
  StoreLE32(header.data(), static_cast<uint32_t>(next_record));
  return header;
}

int32_t DecodeLogHeader(std::string_view header) noexcept {
  if (header.size() < kZNTLogHeaderSize) return 1;
  return static_cast<int32_t>(LoadLE32(header.data()));
}

uint64_t LogRecordCount(uint64_t file_size) noexcept {
  return file_size < kZNTLogHeaderSize ? 0 : (file_size - kZNTLogHeaderSize) / kZNTLogRecordSize;
}

int32_t ValidNextLogRecord(int32_t next_record, uint64_t file_size) noexcept {
  // Record count + 1 appends; anything further would leave a hole.
  if (next_record < 1 || static_cast<uint64_t>(next_record) > LogRecordCount(file_size) + 1) {
    return 1;
  }
  return next_record;
}

TZNTLogPlacement PlaceLogRecord(int32_t next_record, uint64_t max_size) noexcept {
  assert(next_record >= 1);
  TZNTLogPlacement p;
  p.record = next_record;
  if (static_cast<uint64_t>(next_record) * kZNTLogRecordSize + kZNTLogHeaderSize > max_size) {
    p.wrap = true;
    p.cut_size = LogRecordOffset(next_record);
    p.record = 1;
  }
  return p;
}

}  // namespace znt
