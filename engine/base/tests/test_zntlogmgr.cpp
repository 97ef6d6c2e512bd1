// Log events and the log file format: the record layout, cut strings, the
// header, the ring arithmetic and the category rules.
#include <gtest/gtest.h>

#include <string>

#include "base/zntcommon.h"
#include "base/zntlogmgr.h"

namespace znt {
namespace {

TZNTLogEvent SampleEvent() {
  TZNTLogEvent e;
  e.category = TZNTLogCategory::Error;
  e.operation = 123;
  e.error_code = 401;
  e.description = "No such table";  // 13
  e.timestamp = 0x0102030405060708;
  e.user = "Administrator";  // 13
  e.process = "HOST:1234";   // 9
  e.thread_id = 0xA1B2C3D4;
  e.session_id = 7;
  e.session_name = "Default";                              // 7
  e.session_description = "Auto-Created Default Session";  // 28
  e.encrypted = true;
  return e;
}

TEST(LogRecordTest, FieldsSitAtTheirOffsets) {
  const std::string r = EncodeLogRecord(SampleEvent());
  ASSERT_EQ(r.size(), 512u);
  const char* p = r.data();
  auto text = [&](size_t at, size_t n) { return r.substr(at, n); };
  EXPECT_EQ(LoadLE32(p + 0), 2u);    // category
  EXPECT_EQ(LoadLE32(p + 4), 123u);  // operation
  EXPECT_EQ(LoadLE32(p + 8), 401u);  // error code
  EXPECT_EQ(LoadLE32(p + 12), 13u);  // description
  EXPECT_EQ(text(16, 13), "No such table");
  EXPECT_EQ(text(29, 8), std::string("\x08\x07\x06\x05\x04\x03\x02\x01", 8));  // timestamp
  EXPECT_EQ(LoadLE64(p + 37), 20200u);                                         // version
  EXPECT_EQ(LoadLE32(p + 45), 10u);                                            // build
  EXPECT_EQ(LoadLE32(p + 49), 9u);                                             // product type
  EXPECT_EQ(text(53, 9), "ZNTVCLSTD");
  EXPECT_EQ(LoadLE32(p + 62), 13u);  // user
  EXPECT_EQ(text(66, 13), "Administrator");
  EXPECT_EQ(LoadLE32(p + 79), 9u);  // process
  EXPECT_EQ(text(83, 9), "HOST:1234");
  EXPECT_EQ(LoadLE32(p + 92), 0xA1B2C3D4u);  // thread ID
  EXPECT_EQ(LoadLE32(p + 96), 7u);           // session ID
  EXPECT_EQ(LoadLE32(p + 100), 7u);          // session name
  EXPECT_EQ(text(104, 7), "Default");
  EXPECT_EQ(LoadLE32(p + 111), 28u);  // session description
  EXPECT_EQ(text(115, 28), "Auto-Created Default Session");
  EXPECT_EQ(LoadLE32(p + 143), 0u);  // IP address
  EXPECT_EQ(r[147], '\x01');         // encrypted
  EXPECT_EQ(r.substr(148), std::string(512 - 148, '\0'));

  EXPECT_EQ(DecodeLogRecord(r), SampleEvent());
}

TEST(LogRecordTest, OverlongStringsAreCutToTheirMaxima) {
  TZNTLogEvent e = SampleEvent();
  e.description = std::string(100, 'd');
  e.product_type = std::string(40, 'p');
  e.user = std::string(40, 'u');
  e.process = std::string(40, 'r');
  e.session_name = std::string(40, 'n');
  e.session_description = std::string(90, 's');
  e.ip_address = std::string(40, 'i');
  const TZNTLogEvent d = DecodeLogRecord(EncodeLogRecord(e));
  EXPECT_EQ(d.description, e.description);  // within its maximum
  EXPECT_EQ(d.product_type, std::string(10, 'p'));
  EXPECT_EQ(d.user, std::string(30, 'u'));
  EXPECT_EQ(d.process, std::string(30, 'r'));
  EXPECT_EQ(d.session_name, std::string(30, 'n'));
  EXPECT_EQ(d.session_description, std::string(60, 's'));
  EXPECT_EQ(d.ip_address, std::string(16, 'i'));
  EXPECT_TRUE(d.encrypted);

  e.session_description = "short";
  e.ip_address.clear();
  e.description = std::string(400, 'd');
  EXPECT_EQ(DecodeLogRecord(EncodeLogRecord(e)).description, std::string(300, 'd'));
}

TEST(LogRecordTest, TheDescriptionGivesWayWhenEveryFieldIsFull) {
  TZNTLogEvent e = SampleEvent();
  e.description = std::string(300, 'd');
  e.product_type = std::string(10, 'p');
  e.user = std::string(30, 'u');
  e.process = std::string(30, 'r');
  e.session_name = std::string(30, 'n');
  e.session_description = std::string(60, 's');
  e.ip_address = std::string(16, 'i');
  const std::string r = EncodeLogRecord(e);
  ASSERT_EQ(r.size(), 512u);
  // 69 bytes of numbers and lengths, 176 of the other strings: 267 remain.
  EXPECT_EQ(r[511], '\x01');  // the encrypted flag is the last byte
  const TZNTLogEvent d = DecodeLogRecord(r);
  EXPECT_EQ(d.description, std::string(267, 'd'));
  EXPECT_EQ(d.ip_address, e.ip_address);
  EXPECT_TRUE(d.encrypted);
}

TEST(LogRecordTest, ADamagedRecordDecodesWithoutFailing) {
  std::string r = EncodeLogRecord(SampleEvent());
  StoreLE32(r.data() + 12, 100000);  // description longer than the record
  const TZNTLogEvent d = DecodeLogRecord(r);
  EXPECT_EQ(d.operation, 123);
  EXPECT_EQ(d.description, "");
  EXPECT_EQ(d.user, "");
  EXPECT_FALSE(d.encrypted);
  EXPECT_EQ(DecodeLogRecord("").operation, 0);
}

TEST(LogHeaderTest, NextRecordNumber) {
  EXPECT_EQ(EncodeLogHeader(0x01020304), std::string("\x04\x03\x02\x01", 4));
  EXPECT_EQ(DecodeLogHeader(EncodeLogHeader(512)), 512);
  EXPECT_EQ(DecodeLogHeader(EncodeLogHeader(-1)), -1);
  EXPECT_EQ(DecodeLogHeader("\x05"), 1);  // a file cut inside its header starts over
  EXPECT_EQ(LogRecordOffset(1), 4u);
  EXPECT_EQ(LogRecordOffset(3), 4u + 2 * 512);
  EXPECT_EQ(LogRecordCount(0), 0u);
  EXPECT_EQ(LogRecordCount(4 + 2 * 512 + 100), 2u);  // a torn last record does not count
}

TEST(LogRingTest, ValidNextRecord) {
  const uint64_t three = 4 + 3 * 512;
  const struct {
    int32_t header;
    uint64_t size;
    int32_t next;
  } cases[] = {{1, 0, 1},     {2, 0, 1},     {0, three, 1}, {-3, three, 1},
               {2, three, 2}, {4, three, 4}, {5, three, 1}};
  for (const auto& c : cases) {
    EXPECT_EQ(ValidNextLogRecord(c.header, c.size), c.next) << c.header << " in " << c.size;
  }
}

TEST(LogRingTest, PlacementWrapsWhenTheRecordWouldPassTheMaximum) {
  const struct {
    int32_t next;
    uint64_t max;
    int32_t record;
    bool wrap;
    uint64_t cut;
  } cases[] = {
      {1, 262144, 1, false, 0},         {511, 262144, 511, false, 0},
      {512, 262144, 1, true, 261636},   {4, 4 + 4 * 512, 4, false, 0},
      {5, 4 + 4 * 512, 1, true, 2052},  {5, 4 + 4 * 512 + 511, 1, true, 2052},
      {11, 4 + 4 * 512, 1, true, 5124},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.next << " under " << c.max);
    const TZNTLogPlacement p = PlaceLogRecord(c.next, c.max);
    EXPECT_EQ(p.record, c.record);
    EXPECT_EQ(p.wrap, c.wrap);
    EXPECT_EQ(p.cut_size, c.cut);
  }
}

TEST(LogCategoryTest, RowWarningsAndTheFilter) {
  using C = TZNTLogCategory;
  const struct {
    C category;
    int32_t error;
    TZNTLogCategories enabled;
    bool written;
    C after;
  } cases[] = {
      {C::Error, 401, kZNTLogAllCategories, true, C::Error},
      {C::Error, 1008, kZNTLogWarning, true, C::Warning},
      {C::Information, 1010, kZNTLogWarning, true, C::Warning},
      {C::Error, 1008, kZNTLogError, false, C::Warning},
      {C::Error, 1009, kZNTLogWarning, false, C::Error},
      {C::Information, 0, kZNTLogInformation, true, C::Information},
      {C::Warning, 0, 0, false, C::Warning},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    TZNTLogEvent e;
    e.category = c.category;
    e.error_code = c.error;
    EXPECT_EQ(PrepareLogEvent(e, c.enabled), c.written);
    EXPECT_EQ(e.category, c.after);
  }
  EXPECT_EQ(LogCategoryBit(C::Information), 1u);
  EXPECT_EQ(LogCategoryBit(C::Warning), 2u);
  EXPECT_EQ(LogCategoryBit(C::Error), 4u);
}

}  // namespace
}  // namespace znt
