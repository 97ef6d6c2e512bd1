// The row file: its header and row blocks byte for byte, every slot encoding,
// the free chain, the counters, navigation and read-ahead, the open checks,
// sessions sharing a file, and surviving crashes and full disks.
#include <gtest/gtest.h>

#include <bit>
#include <functional>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "base/zntcommon.h"
#include "base/zntcrypto.h"
#include "base/zntdatetime.h"
#include "base/zntenv.h"
#include "storage/tests/table_test_util.h"
#include "storage/zntfaultfilemgr.h"
#include "storage/zntmemfilemgr.h"
#include "storage/zntrowsetmgr.h"

namespace znt {
namespace {

using testing::MemoryFileBytes;
using testing::PatchFile;
using testing::RaisedBy;
using testing::TCountingFileManager;

const std::string kPath = "/Info/AnalysisCodes.ZNTTbl";
constexpr uint32_t kBlock1 = kZNTRowFileHeaderArea;

std::string LE16(uint16_t v) {
  std::string s(2, '\0');
  StoreLE16(s.data(), v);
  return s;
}
std::string LE32(uint32_t v) {
  std::string s(4, '\0');
  StoreLE32(s.data(), v);
  return s;
}
std::string LE64(uint64_t v) {
  std::string s(8, '\0');
  StoreLE64(s.data(), v);
  return s;
}
std::string Digest(const TZNTDigest::TValue& d) { return std::string(d.begin(), d.end()); }

std::vector<TZNTRowsetColumn> AnalysisCodes() {
  return {{"__RowID", TZNTDataType::Of(TZNTTypeCode::Integer)}, {"_ID", TZNTDataType::VarChar(20)}};
}

TZNTTableFileSettings Settings(bool encrypted = false) {
  TZNTTableFileSettings s;
  s.table_name = "AnalysisCodes";
  s.encrypted = encrypted;
  s.signature_digest = s.default_signature_digest = TZNTDigest::Compute("engine signature");
  s.password_digest = TZNTDigest::Compute("engine password");
  return s;
}

// One value per column from text (nullopt: NULL).
TZNTValues ValuesOf(const TZNTRowLayout& layout,
                    const std::vector<std::optional<std::string>>& texts) {
  TZNTValues values;
  for (size_t i = 0; i < layout.ColumnCount(); ++i) {
    TZNTValue& v = values.AddContained(layout.Column(i).type);
    if (i < texts.size() && texts[i]) v.SetString(*texts[i]);
  }
  return values;
}

// Inserts an AnalysisCodes row as one shared-mode batch.
TZNTRowsetManager::TInsertResult Insert(TZNTRowsetManager& m, const std::string& id,
                                        bool flush = false) {
  m.BeginOperation();
  auto r =
      m.InsertRow(m.NextRowID(), ValuesOf(m.Layout(), {std::to_string(m.NextRowIDValue()), id}));
  m.WriteChanges(flush);
  return r;
}
int32_t Update(TZNTRowsetManager& m, uint32_t row, const std::string& id, bool flush = false) {
  m.BeginOperation();
  TZNTRowsetNavigator nav(m);
  EXPECT_TRUE(nav.SetToRow(row));
  const int32_t v = m.UpdateRow(row, ValuesOf(m.Layout(), {nav.Value(0).AsString(), id}));
  m.WriteChanges(flush);
  return v;
}
int32_t Delete(TZNTRowsetManager& m, uint32_t row, bool flush = false) {
  m.BeginOperation();
  const int32_t v = m.DeleteRow(row);
  m.WriteChanges(flush);
  return v;
}

// Everything a reader can see of a row file.
struct TSnapshot {
  uint32_t row_count = 0;
  uint32_t next_new = 0;
  uint32_t first_free = 0;
  std::vector<std::string> rows;  // "number id version | values"
  bool operator==(const TSnapshot&) const = default;
};
std::ostream& operator<<(std::ostream& os, const TSnapshot& s) {
  os << "count " << s.row_count << ", next new " << s.next_new << ", first free " << s.first_free
     << " [";
  for (const std::string& r : s.rows) os << r << "; ";
  return os << "]";
}
TSnapshot Snap(TZNTRowsetManager& m) {
  TSnapshot s{m.RowCount(), m.Header().next_new_block, m.Header().first_free_block, {}};
  TZNTRowsetNavigator nav(m);
  for (bool found = nav.First(); found; found = nav.Next()) {
    std::string r = std::to_string(nav.RowNumber()) + " " + std::to_string(nav.RowID()) + " " +
                    std::to_string(nav.Version()) + " |";
    for (size_t i = 0; i < m.Layout().ColumnCount(); ++i)
      r += " " + (nav.Value(i).IsNull() ? std::string("NULL") : nav.Value(i).AsString());
    s.rows.push_back(r);
  }
  return s;
}
std::vector<std::string> Ids(TZNTRowsetManager& m) {
  std::vector<std::string> ids;
  TZNTRowsetNavigator nav(m);
  for (bool found = nav.First(); found; found = nav.Next()) ids.push_back(nav.Value(1).AsString());
  return ids;
}

class RowFileTest : public ::testing::Test {
 protected:
  std::unique_ptr<TZNTRowsetManager> Make(std::vector<TZNTRowsetColumn> columns = AnalysisCodes(),
                                          TZNTTableFileSettings settings = Settings()) {
    auto m = std::make_unique<TZNTRowsetManager>(memory_, kPath, settings, std::move(columns));
    m->CreateTableFile(false);
    return m;
  }
  std::unique_ptr<TZNTRowsetManager> Reopen(TZNTFileManager& files,
                                            std::vector<TZNTRowsetColumn> columns = AnalysisCodes(),
                                            TZNTTableFileSettings settings = Settings()) {
    auto m = std::make_unique<TZNTRowsetManager>(files, kPath, settings, std::move(columns));
    m->OpenTableFile(false, false);
    return m;
  }
  std::string Bytes() { return MemoryFileBytes(memory_, kPath); }

  TZNTMemoryFileManager memory_;
};

// ---------------------------------------------------------------------------
// Layout and bytes

TEST(RowLayoutTest, RowSizeAndHeaderLengthFollowTheColumns) {
  const auto integer = TZNTDataType::Of(TZNTTypeCode::Integer);
  const auto boolean = TZNTDataType::Of(TZNTTypeCode::Boolean);
  struct Case {
    const char* name;
    std::vector<TZNTRowsetColumn> columns;
    uint32_t row_size, header_length;
  };
  std::vector<TZNTRowsetColumn> many = {{"__RowID", integer}};
  for (int i = 0; i < 10; ++i) many.push_back({"_B" + std::to_string(i), boolean});
  const Case cases[] = {
      {"AnalysisCodes", AnalysisCodes(), 48, 88},  // 17 + 5 + 23 = 45; 54 + 21 + 8 = 83
      {"Integer and Decimal",
       {{"__RowID", integer}, {"_N", integer}, {"_Amount", TZNTDataType::Decimal(2)}},
       40,
       88},  // 17 + 5 + 5 + 9 = 36
      {"BLOB slot of 9", {{"__RowID", integer}, {"_Memo", TZNTDataType::Blob()}}, 32, 88},
      {"computed column has no slot",
       {{"__RowID", integer}, {"_C", TZNTDataType::FixedChar(3)}, {"_X", integer, true}},
       32,
       88},  // 17 + 5 + 4 = 26; the counter area still counts 3 columns
      {"GUID", {{"__RowID", integer}, {"_G", TZNTDataType::Guid()}}, 64, 88},
      {"__RowID alone", {{"__RowID", integer}}, 24, 80},
      {"eleven columns", many, 48, 120},  // 17 + 5 + 20 = 42; 75 + 44 = 119
  };
  for (const Case& c : cases) {
    TZNTRowLayout layout(c.columns);
    EXPECT_EQ(layout.RowSize(), c.row_size) << c.name;
    EXPECT_EQ(layout.HeaderLength(), c.header_length) << c.name;
  }
  TZNTRowLayout computed(cases[3].columns);
  EXPECT_EQ(computed.SlotOffset(1), 22u);
  EXPECT_FALSE(computed.HasSlot(2));
}

TEST_F(RowFileTest, ANewFileIsItsHeaderAndTheFirstRowLandsAtTheHeaderArea) {
  const int64_t now = EncodeTimestamp(739000, 45296789);
  TZNTFixedClock clock(now);
  auto m = Make();
  std::string b = Bytes();
  ASSERT_EQ(b.size(), 88u);
  const TZNTTableFileSettings s = Settings();
  const std::string header = LE32(1) + Digest(s.signature_digest) + LE32(0) + '\0' +
                             Digest(s.password_digest) + LE32(1) /* counter */ + LE32(0) + LE32(1) +
                             '\0' + LE32(0) + LE32(0) + LE32(0) + '\0' + LE64(now) + LE32(0) +
                             LE32(0) + std::string(5, '\0');
  EXPECT_EQ(b, header);
  EXPECT_EQ(m->Header().next_new_block, 1u);
  EXPECT_EQ(m->RowCount(), 0u);

  const auto r = Insert(*m, "GROCERIES");
  EXPECT_EQ(r.row_number, 1u);
  EXPECT_EQ(r.version, 1);
  b = Bytes();
  ASSERT_EQ(b.size(), kBlock1 + 48u);
  EXPECT_EQ(b.substr(88, kBlock1 - 88), std::string(kBlock1 - 88, '\0'));
  const std::string row = LE32(0) + '\0' + LE32(1) + LE32(1) + LE32(0) + '\x01' + LE32(1) + '\x01' +
                          LE16(9) + "GROCERIES" + std::string(11, '\0') + std::string(3, '\0');
  EXPECT_EQ(b.substr(kBlock1), row);
  EXPECT_EQ(LoadLE32(b.data() + 41), 2u);  // change counter
  EXPECT_EQ(LoadLE32(b.data() + 49), 2u);  // next new block
  EXPECT_EQ(LoadLE32(b.data() + 54), 1u);  // row count
  EXPECT_EQ(LoadLE32(b.data() + 58), 1u);  // largest __RowID
  EXPECT_EQ(LoadLE32(b.data() + 62), 1u);  // last row ID
  EXPECT_EQ(m->HeaderTimestamp(), now);
}

TEST_F(RowFileTest, SystemAndTemporaryTablesDifferInPlaceAndDurability) {
  TZNTTableFileSettings system = Settings();
  system.system_table = true;
  auto m = Make(AnalysisCodes(), system);
  Insert(*m, "A");
  EXPECT_EQ(Bytes().size(), kZNTSystemHeaderArea + 48u);
  EXPECT_EQ(Bytes().substr(kZNTSystemHeaderArea + 25, 1), "A");
  m->CloseTableFile();
  memory_.DeleteFile(kPath);

  TZNTTableFileSettings temporary = Settings();
  temporary.temporary = true;
  TCountingFileManager counting(memory_);
  TZNTRowsetManager t(counting, kPath, temporary, AnalysisCodes());
  t.CreateTableFile(false);
  EXPECT_EQ(t.Mode(), TZNTTableFileMode::Exclusive);
  for (const char* id : {"A", "B"}) t.InsertRow(t.NextRowID(), ValuesOf(t.Layout(), {"1", id}));
  t.WriteChanges(true);
  EXPECT_EQ(counting.Flushes(), 2u);  // only where the caller asked: nothing for the journal
  t.CloseTableFile();
  EXPECT_FALSE(memory_.FileExists(kPath));
  EXPECT_FALSE(memory_.FileExists(t.JournalPath()));
}

TEST_F(RowFileTest, EveryTypeHasItsSlotEncoding) {
  const std::string guid = "{0F8FAD5B-D9CB-469F-A165-70867728950E}";
  struct Case {
    const char* name;
    TZNTDataType type;
    std::function<void(TZNTValue&)> set;  // leaves the value NULL when empty
    std::string slot;                     // has-value byte and data area
  };
  using TC = TZNTTypeCode;
  const auto day_to_second = TZNTDataType::Interval(TC::DayTimeInterval, 240);
  const auto year_to_month = TZNTDataType::Interval(TC::YearMonthInterval, kIntervalYearToMonth);
  const Case cases[] = {
      {"VarChar", TZNTDataType::VarChar(5), [](TZNTValue& v) { v.SetString("abc"); },
       std::string("\x01") + LE16(3) + "abc" + std::string(2, '\0')},
      {"Char", TZNTDataType::FixedChar(5), [](TZNTValue& v) { v.SetString("ab"); },
       "\x01"
       "ab   "},
      {"GUID", TZNTDataType::Guid(), [&](TZNTValue& v) { v.SetString(guid); }, "\x01" + guid},
      {"VarByte", TZNTDataType::VarByte(4), [](TZNTValue& v) { v.SetBytes("\x01\x02"); },
       std::string("\x01") + LE16(2) + "\x01\x02" + std::string(2, '\0')},
      {"Byte", TZNTDataType::FixedByte(4), [](TZNTValue& v) { v.SetBytes("\x07"); },
       std::string("\x01\x07\0\0\0", 5)},
      {"Boolean true", TZNTDataType::Of(TC::Boolean), [](TZNTValue& v) { v.SetBoolean(true); },
       "\x01\x01"},
      {"Boolean false", TZNTDataType::Of(TC::Boolean), [](TZNTValue& v) { v.SetBoolean(false); },
       std::string("\x01\0", 2)},
      {"SmallInt", TZNTDataType::Of(TC::SmallInt), [](TZNTValue& v) { v.SetSmallInt(-2); },
       "\x01" + LE16(0xFFFE)},
      {"Integer", TZNTDataType::Of(TC::Integer), [](TZNTValue& v) { v.SetInteger(258); },
       "\x01" + LE32(258)},
      {"BigInt", TZNTDataType::Of(TC::BigInt), [](TZNTValue& v) { v.SetBigInt(-(1LL << 40)); },
       "\x01" + LE64(static_cast<uint64_t>(-(1LL << 40)))},
      {"Float", TZNTDataType::Of(TC::Float), [](TZNTValue& v) { v.SetFloat(1.5); },
       "\x01" + LE64(std::bit_cast<uint64_t>(1.5))},
      {"Decimal", TZNTDataType::Decimal(2), [](TZNTValue& v) { v.SetString("-12.34"); },
       "\x01" + LE64(static_cast<uint64_t>(int64_t{-123400}))},
      {"Date", TZNTDataType::Of(TC::Date), [](TZNTValue& v) { v.SetDate(738000); },
       "\x01" + LE32(738000)},
      {"Time", TZNTDataType::Of(TC::Time), [](TZNTValue& v) { v.SetTime(3723004); },
       "\x01" + LE32(3723004)},
      {"Timestamp", TZNTDataType::Of(TC::Timestamp),
       [](TZNTValue& v) { v.SetTimestamp(EncodeTimestamp(738000, 1000)); },
       "\x01" + LE64(static_cast<uint64_t>(EncodeTimestamp(738000, 1000)))},
      {"year-month interval", year_to_month, [](TZNTValue& v) { v.SetInterval(14); },
       "\x01" + LE32(14)},
      {"day-time interval", day_to_second, [](TZNTValue& v) { v.SetInterval(90061007); },
       "\x01" + LE64(90061007)},
      {"NULL VarChar", TZNTDataType::VarChar(3), nullptr, std::string(6, '\0')},
      {"NULL Integer", TZNTDataType::Of(TC::Integer), nullptr, std::string(5, '\0')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TZNTMemoryFileManager files;
    TZNTRowsetManager m(files, kPath, Settings(),
                        {{"__RowID", TZNTDataType::Of(TC::Integer)}, {"_X", c.type}});
    m.CreateTableFile(false);
    TZNTValues values;
    values.AddContained(TZNTDataType::Of(TC::Integer)).SetInteger(1);
    // Strict like the slot, so both pad fixed-length values alike.
    TZNTValue& x = values.AddContained(c.type, TZNTValueKind::Value, "", true);
    if (c.set) c.set(x);
    m.InsertRow(m.NextRowID(), values);
    m.WriteChanges(false);
    const std::string b = MemoryFileBytes(files, kPath);
    EXPECT_EQ(b.substr(kBlock1 + 22, c.slot.size()), c.slot);
    EXPECT_EQ(b.size(), kBlock1 + m.RowSize());

    TZNTRowsetManager again(files, kPath, Settings(),
                            {{"__RowID", TZNTDataType::Of(TC::Integer)}, {"_X", c.type}});
    again.OpenTableFile(false, true);
    TZNTRowsetNavigator nav(again);
    ASSERT_TRUE(nav.First());
    EXPECT_EQ(nav.Value(1).IsNull(), x.IsNull());
    EXPECT_EQ(nav.Value(1).AsString(), x.AsString());
    EXPECT_EQ(CompareValues(nav.Value(1), x), 0);
  }
}

TEST_F(RowFileTest, BlobSlotsHoldTheChainReference) {
  auto m =
      Make({{"__RowID", TZNTDataType::Of(TZNTTypeCode::Integer)}, {"_Memo", TZNTDataType::Clob()}});
  m->BeginOperation();
  const auto r = m->InsertRow(m->NextRowID(), ValuesOf(m->Layout(), {"1", std::nullopt}));
  m->SetBlobReference(r.row_number, 1, {7, 300}, true);
  m->WriteChanges(false);
  EXPECT_EQ(Bytes().substr(kBlock1 + 22, 9), "\x01" + LE32(7) + LE32(300));

  Update(*m, 1, "ignored");  // an update keeps the reference
  TZNTRowsetNavigator nav(*m);
  ASSERT_TRUE(nav.First());
  EXPECT_EQ(nav.BlobReference(1), (TZNTBlobRef{7, 300}));
  EXPECT_FALSE(nav.Value(1).IsNull());
  EXPECT_EQ(nav.Value(1).AsString(), "");  // the contents live in the blob file

  // A deleted row's chain goes to the row that reuses its block, emptied.
  Delete(*m, 1);
  m->BeginOperation();
  EXPECT_EQ(m->InsertRow(m->NextRowID(), ValuesOf(m->Layout(), {"2", std::nullopt})).row_number,
            1u);
  m->WriteChanges(false);
  ASSERT_TRUE(nav.First());
  EXPECT_EQ(nav.BlobReference(1), (TZNTBlobRef{7, 0}));
  EXPECT_TRUE(nav.Value(1).IsNull());
  EXPECT_EQ(m->VerifyInvariants(), "");
}

// ---------------------------------------------------------------------------
// Free chain, versions and counters

TEST_F(RowFileTest, DeletedBlocksAreReusedThenTheChainRunsIntoFreshBlocks) {
  auto m = Make();
  for (const char* id : {"A", "B", "C"}) Insert(*m, id);
  Delete(*m, 2);
  EXPECT_EQ(m->Header().next_new_block, 4u);
  EXPECT_EQ(m->Header().first_free_block, 2u);
  std::string b = Bytes();
  EXPECT_EQ(LoadLE32(b.data() + 45), 2u);
  EXPECT_EQ(LoadLE32(b.data() + 49), 4u);
  EXPECT_EQ(LoadLE32(b.data() + kBlock1 + 48), 4u);  // block 2's link: the next new block
  EXPECT_EQ(b[kBlock1 + 48 + 4], kZNTRowDeleted);
  EXPECT_EQ(m->VerifyInvariants(), "");

  EXPECT_EQ(Insert(*m, "D").row_number, 2u);
  EXPECT_EQ(m->Header().first_free_block, 4u);
  EXPECT_EQ(Insert(*m, "E").row_number, 4u);
  EXPECT_EQ(m->Header().first_free_block, 0u);
  EXPECT_EQ(m->Header().next_new_block, 5u);
  EXPECT_EQ(Ids(*m), (std::vector<std::string>{"A", "D", "C", "E"}));
  TZNTRowsetNavigator nav(*m);
  ASSERT_TRUE(nav.SetToRow(2));
  EXPECT_EQ(nav.RowID(), 4);  // row IDs keep counting
  EXPECT_EQ(m->VerifyInvariants(), "");
}

TEST_F(RowFileTest, VersionsCountEveryChangeAndWrapToOne) {
  auto m = Make();
  EXPECT_EQ(Insert(*m, "A").version, 1);
  EXPECT_EQ(Update(*m, 1, "A2"), 2);
  EXPECT_EQ(Delete(*m, 1), 3);
  EXPECT_EQ(Insert(*m, "B").version, 4);  // the reused block carries on
  m->CloseTableFile();

  PatchFile(memory_, kPath, kBlock1 + 9, LE32(2147483647));
  m = Reopen(memory_);
  EXPECT_EQ(Update(*m, 1, "B2"), 1);
  for (auto [in, out] : {std::pair{2147483647, 1}, {0, 1}, {5, 6}, {-3, 1}})
    EXPECT_EQ(ZNTNextCounter(in), out) << in;
}

TEST_F(RowFileTest, RowIDCountersFollowTheRowsWritten) {
  auto m = Make();
  EXPECT_EQ(m->NextRowIDValue(), 1);
  EXPECT_EQ(m->NextRowID(), 1);
  for (auto [rowid, row_id] : {std::pair{10, 1}, {5, 2}}) {
    m->BeginOperation();
    m->InsertRow(row_id, ValuesOf(m->Layout(), {std::to_string(rowid), "x"}));
    m->WriteChanges(false);
  }
  EXPECT_EQ(m->LargestRowIDValue(), 10);
  EXPECT_EQ(m->NextRowIDValue(), 11);
  EXPECT_EQ(m->LastRowID(), 2);
  EXPECT_EQ(m->NextRowID(), 3);
  const std::string b = Bytes();
  EXPECT_EQ(LoadLE32(b.data() + 58), 10u);
  EXPECT_EQ(LoadLE32(b.data() + 62), 2u);
}

TEST_F(RowFileTest, IdentityCountersStartAtTheSeedAndKeepTheLargestValue) {
  const auto integer = TZNTDataType::Of(TZNTTypeCode::Integer);
  std::vector<TZNTRowsetColumn> columns = {{"__RowID", integer},
                                           {"_ID", integer, false, true, 0, 1},
                                           {"_Other", integer, false, true, 100, 5},
                                           {"_Max", integer, false, true, 2147483647, 1},
                                           {"_Name", TZNTDataType::VarChar(10)}};
  auto m = Make(columns);
  std::string b = Bytes();
  EXPECT_EQ(b.substr(75, 20), LE32(0) + LE32(0) + LE32(100) + LE32(2147483647) + LE32(0));
  EXPECT_EQ(m->NextIdentityValue(1), 1);
  EXPECT_EQ(m->NextIdentityValue(2), 105);
  EXPECT_EQ(m->NextIdentityValue(3), 1);  // a counter at the maximum counts as 0

  struct Step {
    std::optional<std::string> id;
    int32_t counter_after;
  };
  for (const Step& s : {Step{"1", 1}, Step{"10", 10}, Step{"3", 10}, Step{std::nullopt, 10}}) {
    m->BeginOperation();
    m->InsertRow(m->NextRowID(), ValuesOf(m->Layout(), {std::to_string(m->NextRowIDValue()), s.id,
                                                        "105", std::nullopt, "n"}));
    m->WriteChanges(false);
    EXPECT_EQ(m->IdentityCounter(1), s.counter_after);
  }
  EXPECT_EQ(m->IdentityCounter(2), 105);
  EXPECT_EQ(m->NextIdentityValue(1), 11);
  b = Bytes();
  EXPECT_EQ(LoadLE32(b.data() + 75 + 4), 10u);
  EXPECT_EQ(LoadLE32(b.data() + 75 + 8), 105u);
  m->CloseTableFile();
  EXPECT_EQ(Reopen(memory_, columns)->IdentityCounter(1), 10);
}

TEST_F(RowFileTest, ChangesToMissingRowsAndBadValuesChangeNothing) {
  auto m = Make();
  for (const char* id : {"A", "B"}) Insert(*m, id);
  Delete(*m, 2);
  const std::string gone = "The row has been deleted since last cached for the table AnalysisCodes";
  const std::string before = Bytes();
  const TSnapshot snap = Snap(*m);
  m->BeginOperation();
  for (uint32_t row : {2u, 3u, 0u}) {
    auto update = RaisedBy([&] { m->UpdateRow(row, ValuesOf(m->Layout(), {"1", "Z"})); });
    EXPECT_EQ(update.code, 1007) << row;
    EXPECT_EQ(update.message, gone);
    EXPECT_EQ(RaisedBy([&] { m->DeleteRow(row); }).code, 1007) << row;
  }
  TZNTValues too_long;
  too_long.AddContained(TZNTDataType::Of(TZNTTypeCode::Integer)).SetInteger(3);
  too_long.AddContained(TZNTDataType::VarChar(30)).SetString(std::string(21, 'x'));
  auto e = RaisedBy([&] { m->InsertRow(m->NextRowID(), too_long); });
  EXPECT_EQ(e.code, 1011);
  EXPECT_EQ(e.message,
            "An error occurred with the column _ID (The value would result in truncation)");
  EXPECT_EQ(RaisedBy([&] { m->UpdateRow(1, too_long); }).code, 1011);
  m->WriteChanges(false);
  EXPECT_TRUE(Bytes() == before);
  EXPECT_EQ(Snap(*m), snap);
  EXPECT_EQ(m->VerifyInvariants(), "");
}

// ---------------------------------------------------------------------------
// Navigation and read-ahead

TEST_F(RowFileTest, NavigationVisitsLiveRowsInBlockOrder) {
  auto m = Make();
  TZNTRowsetNavigator nav(*m);
  EXPECT_FALSE(nav.First());
  EXPECT_FALSE(nav.Last());
  for (const char* id : {"A", "B", "C", "D", "E"}) Insert(*m, id);
  Delete(*m, 2);
  Delete(*m, 4);
  auto at = [&] { return nav.HasRow() ? nav.Value(1).AsString() : std::string("-"); };
  std::string walk;
  for (auto move :
       {&TZNTRowsetNavigator::First, &TZNTRowsetNavigator::Next, &TZNTRowsetNavigator::Next,
        &TZNTRowsetNavigator::Next, &TZNTRowsetNavigator::Prior, &TZNTRowsetNavigator::Prior,
        &TZNTRowsetNavigator::Prior, &TZNTRowsetNavigator::Prior, &TZNTRowsetNavigator::Next,
        &TZNTRowsetNavigator::Last}) {
    (nav.*move)();
    walk += at();
  }
  EXPECT_EQ(walk, "ACE-ECA-AE");
  EXPECT_FALSE(nav.SetToRow(4));
  EXPECT_FALSE(nav.HasRow());
  EXPECT_FALSE(nav.SetToRow(6));
  EXPECT_TRUE(nav.SetToRow(3));
  EXPECT_EQ(nav.Value(1).AsString(), "C");
  EXPECT_TRUE(
      nav.FindFirst([](const TZNTRowsetNavigator& n) { return n.Value(1).AsString() > "C"; }));
  EXPECT_EQ(nav.RowNumber(), 5u);
  EXPECT_FALSE(nav.FindFirst([](const TZNTRowsetNavigator&) { return false; }));
}

TEST_F(RowFileTest, ScansReadAQuarterOfTheCacheAtATimeInTheirDirection) {
  {
    auto m = Make();
    m->BeginTransaction();
    for (int i = 1; i <= 1000; ++i)
      m->InsertRow(m->NextRowID(),
                   ValuesOf(m->Layout(), {std::to_string(i), "R" + std::to_string(i)}));
    m->CommitTransaction(false);
    m->CloseTableFile();
  }
  TCountingFileManager counting(memory_);
  auto m = Reopen(counting);
  ASSERT_EQ(m->CacheLimitBuffers(), 682u);  // 32768 / 48
  ASSERT_EQ(m->CacheCapacity(), 768u);
  ASSERT_EQ(m->ReadAheadCount(), 192u);
  auto block_reads = [&] {
    std::vector<std::pair<uint64_t, size_t>> out;  // (first block, blocks)
    for (const auto& r : counting.Reads(kPath))
      if (r.offset >= kBlock1) out.emplace_back((r.offset - kBlock1) / 48 + 1, r.size / 48);
    counting.Reset();
    return out;
  };
  using Runs = std::vector<std::pair<uint64_t, size_t>>;
  counting.Reset();
  TZNTRowsetNavigator nav(*m);
  int seen = 0;
  for (bool found = nav.First(); found; found = nav.Next()) ++seen;
  EXPECT_EQ(seen, 1000);
  EXPECT_EQ(block_reads(),
            (Runs{{1, 192}, {193, 192}, {385, 192}, {577, 192}, {769, 192}, {961, 40}}));
  m->DropCache();
  for (bool found = nav.Last(); found; found = nav.Prior()) --seen;
  EXPECT_EQ(seen, 0);
  EXPECT_EQ(block_reads(),
            (Runs{{809, 192}, {617, 192}, {425, 192}, {233, 192}, {41, 192}, {1, 40}}));
  m->DropCache();
  ASSERT_TRUE(nav.SetToRow(500));  // a read by number reads that row alone
  EXPECT_EQ(block_reads(), (Runs{{500, 1}}));
  EXPECT_EQ(m->VerifyInvariants(), "");
}

// ---------------------------------------------------------------------------
// Opening

TEST_F(RowFileTest, OpenChecksOnEncryptedAndSignedRowFiles) {
  const std::string prefix = "There is an error in the metadata for the table AnalysisCodes (";
  struct Case {
    const char* name;
    bool encrypted;
    std::function<void(TZNTTableFileSettings&)> reopen_with;
    std::string detail;  // empty: opens and reads the rows
  };
  const Case cases[] = {
      {"encrypted", true, nullptr, ""},
      {"changed password", true,
       [](TZNTTableFileSettings& s) { s.password_digest = TZNTDigest::Compute("new password"); },
       "The encryption password does not match the default or current engine encryption "
       "password"},
      {"written with the default signature", false,
       [](TZNTTableFileSettings& s) { s.signature_digest = TZNTDigest::Compute("changed"); }, ""},
      {"encrypted, default signature", true,
       [](TZNTTableFileSettings& s) { s.signature_digest = TZNTDigest::Compute("changed"); }, ""},
      {"signature matches neither", false,
       [](TZNTTableFileSettings& s) {
         s.signature_digest = TZNTDigest::Compute("changed");
         s.default_signature_digest = TZNTDigest::Compute("another");
       },
       "The signature does not match the default or current engine signature"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TZNTMemoryFileManager files;
    {
      TZNTRowsetManager m(files, kPath, Settings(c.encrypted), AnalysisCodes());
      m.CreateTableFile(false);
      Insert(m, "GROCERIES");
      Insert(m, "RENT");
      m.CloseTableFile();
    }
    const std::string bytes = MemoryFileBytes(files, kPath);
    EXPECT_EQ(bytes.find("GROCERIES") == std::string::npos, c.encrypted);
    TZNTTableFileSettings s = Settings(c.encrypted);
    if (c.reopen_with) c.reopen_with(s);
    TZNTRowsetManager m(files, kPath, s, AnalysisCodes());
    auto e = RaisedBy([&] { m.OpenTableFile(false, false); });
    if (c.detail.empty()) {
      ASSERT_EQ(e.code, 0) << e.message;
      EXPECT_EQ(Ids(m), (std::vector<std::string>{"GROCERIES", "RENT"}));
      Insert(m, "TAX");  // and writes under the settings it was opened with
      EXPECT_EQ(m.VerifyInvariants(), "");
    } else {
      EXPECT_EQ(e.code, 100);
      EXPECT_EQ(e.message, prefix + c.detail + ")");
    }
  }
}

TEST_F(RowFileTest, ASetWriteInProgressByteWithoutAJournalNeedsARepair) {
  auto m = Make();
  Insert(*m, "A");
  m->CloseTableFile();
  PatchFile(memory_, kPath, 53, "\x01");
  TZNTRowsetManager again(memory_, kPath, Settings(), AnalysisCodes());
  auto e = RaisedBy([&] { again.OpenTableFile(false, false); });
  EXPECT_EQ(e.code, 100);
  EXPECT_EQ(e.message,
            "There is an error in the metadata for the table AnalysisCodes (A write operation "
            "did not complete and a repair is required)");
}

TEST_F(RowFileTest, AnotherSessionsChangesAreSeenOnTheNextOperation) {
  auto first = Make();
  Insert(*first, "A");
  auto second = Reopen(memory_);
  EXPECT_FALSE(second->BeginOperation());
  EXPECT_EQ(Ids(*second), (std::vector<std::string>{"A"}));

  Insert(*first, "B");
  EXPECT_TRUE(second->BeginOperation());  // the change counter moved: cache dropped
  EXPECT_EQ(second->RowCount(), 2u);
  EXPECT_EQ(Ids(*second), (std::vector<std::string>{"A", "B"}));

  Update(*second, 1, "A2");
  EXPECT_TRUE(first->BeginOperation());
  EXPECT_EQ(Ids(*first), (std::vector<std::string>{"A2", "B"}));
  EXPECT_EQ(first->Header().change_counter, second->Header().change_counter);
}

// ---------------------------------------------------------------------------
// Crash safety

using TStep = std::function<void(TZNTRowsetManager&)>;

// The length of an AnalysisCodes file in the state `s`.
uint64_t FileLength(const TSnapshot& s) {
  return s.next_new == 1 ? 88 : kBlock1 + (s.next_new - 1) * 48ull;
}

// Shared-mode batches, one with a flush, and one transaction of several
// changes committed with a flush.
std::vector<TStep> Steps() {
  std::vector<TStep> steps;
  for (const char* id : {"A", "B", "C", "D", "E"})
    steps.push_back([id](TZNTRowsetManager& m) { Insert(m, id); });
  steps.push_back([](TZNTRowsetManager& m) { Update(m, 2, "B2", true); });
  steps.push_back([](TZNTRowsetManager& m) { Delete(m, 3); });
  steps.push_back([](TZNTRowsetManager& m) { Insert(m, "F"); });  // reuses block 3
  steps.push_back([](TZNTRowsetManager& m) {
    m.BeginTransaction();
    for (const char* id : {"G", "H"})
      m.InsertRow(m.NextRowID(), ValuesOf(m.Layout(), {std::to_string(m.NextRowIDValue()), id}));
    m.UpdateRow(1, ValuesOf(m.Layout(), {"1", "A2"}));
    m.DeleteRow(4);
    m.CommitTransaction(true);
  });
  steps.push_back([](TZNTRowsetManager& m) { Delete(m, 5, true); });
  return steps;
}

// The state after creation and after each step of a run without faults.
std::vector<TSnapshot> ReferenceStates() {
  TZNTMemoryFileManager files;
  TZNTRowsetManager m(files, kPath, Settings(), AnalysisCodes());
  m.CreateTableFile(false);
  std::vector<TSnapshot> states = {Snap(m)};
  for (const TStep& step : Steps()) {
    step(m);
    states.push_back(Snap(m));
  }
  return states;
}

// Runs the steps over `faults` until one fails; returns the failing step's
// number (1-based), 0 when none failed.
size_t RunUntilFailure(TZNTRowsetManager& m) {
  const std::vector<TStep> steps = Steps();
  for (size_t i = 0; i < steps.size(); ++i) {
    auto e = RaisedBy([&] { steps[i](m); });
    if (e.code != 0) {
      EXPECT_EQ(e.code, 600) << e.message;
      return i + 1;
    }
  }
  return 0;
}

// How many operations of kind `op` the steps perform.
uint64_t OperationsOfSteps(TZNTFaultOp op) {
  TZNTMemoryFileManager memory;
  TZNTFaultFileManager faults(memory);
  TZNTRowsetManager m(faults, kPath, Settings(), AnalysisCodes());
  m.CreateTableFile(false);
  const uint64_t before = faults.Count(op);
  EXPECT_EQ(RunUntilFailure(m), 0u);
  return faults.Count(op) - before;
}

TEST(RowFileCrashTest, ACrashAtAnyWriteOrFlushLeavesTheStateBeforeOrAfterItsBatch) {
  const std::vector<TSnapshot> states = ReferenceStates();
  for (TZNTFaultOp op : {TZNTFaultOp::Write, TZNTFaultOp::Flush}) {
    const uint64_t total = OperationsOfSteps(op);
    ASSERT_GT(total, 10u);
    for (uint64_t k = 1; k <= total; ++k) {
      SCOPED_TRACE((op == TZNTFaultOp::Write ? "write " : "flush ") + std::to_string(k));
      TZNTMemoryFileManager memory;
      size_t failed;
      {
        TZNTFaultFileManager faults(memory);
        TZNTRowsetManager m(faults, kPath, Settings(), AnalysisCodes());
        m.CreateTableFile(false);
        faults.FailNth(op, k, true);
        failed = RunUntilFailure(m);
      }  // the crashed session is gone
      ASSERT_GT(failed, 0u);
      TZNTRowsetManager m(memory, kPath, Settings(), AnalysisCodes());
      m.OpenTableFile(false, false);
      const TSnapshot now = Snap(m);
      EXPECT_TRUE(now == states[failed - 1] || now == states[failed])
          << "after step " << failed << ": " << now;
      EXPECT_EQ(m.VerifyInvariants(), "");
      EXPECT_FALSE(memory.FileExists(m.JournalPath()));
      EXPECT_EQ(MemoryFileBytes(memory, kPath).size(), FileLength(now));
      Insert(m, "Z");
      EXPECT_EQ(m.VerifyInvariants(), "");
    }
  }
}

TEST(RowFileCrashTest, AFailedWriteIsUndoneAndTheSessionCarriesOn) {
  const std::vector<TSnapshot> states = ReferenceStates();
  for (TZNTFaultOp op : {TZNTFaultOp::Write, TZNTFaultOp::Flush}) {
    const uint64_t total = OperationsOfSteps(op);
    for (uint64_t k = 1; k <= total; ++k) {
      SCOPED_TRACE((op == TZNTFaultOp::Write ? "write " : "flush ") + std::to_string(k));
      TZNTMemoryFileManager memory;
      TZNTFaultFileManager faults(memory);
      TZNTRowsetManager m(faults, kPath, Settings(), AnalysisCodes());
      m.CreateTableFile(false);
      faults.FailNth(op, k, false);
      const size_t failed = RunUntilFailure(m);
      ASSERT_GT(failed, 0u);
      m.BeginOperation();
      EXPECT_EQ(Snap(m), states[failed - 1]);
      EXPECT_EQ(m.VerifyInvariants(), "");
      EXPECT_FALSE(memory.FileExists(m.JournalPath()));
      Insert(m, "Z");
      TZNTRowsetManager other(memory, kPath, Settings(), AnalysisCodes());
      other.OpenTableFile(false, false);
      EXPECT_EQ(Snap(other), Snap(m));
    }
  }
}

TEST(RowFileCrashTest, AFullDiskNeverCorruptsTheFile) {
  const std::vector<TSnapshot> states = ReferenceStates();
  uint64_t total_bytes;
  {
    TZNTMemoryFileManager memory;
    TCountingFileManager counting(memory);
    TZNTRowsetManager m(counting, kPath, Settings(), AnalysisCodes());
    m.CreateTableFile(false);
    counting.Reset();
    ASSERT_EQ(RunUntilFailure(m), 0u);
    total_bytes = 0;
    for (const auto& w : counting.Writes()) total_bytes += w.size;
  }
  for (uint64_t budget = 0; budget < total_bytes; budget += 7) {
    SCOPED_TRACE("budget " + std::to_string(budget));
    TZNTMemoryFileManager memory;
    TZNTFaultFileManager faults(memory);
    TZNTRowsetManager m(faults, kPath, Settings(), AnalysisCodes());
    m.CreateTableFile(false);
    faults.SetWriteBudget(budget);
    const size_t failed = RunUntilFailure(m);
    ASSERT_GT(failed, 0u);
    faults.ClearFaults();  // space is freed
    m.BeginOperation();
    EXPECT_EQ(Snap(m), states[failed - 1]);
    EXPECT_EQ(m.VerifyInvariants(), "");
    TZNTRowsetManager other(memory, kPath, Settings(), AnalysisCodes());
    other.OpenTableFile(false, false);
    EXPECT_EQ(Snap(other), states[failed - 1]);
    EXPECT_EQ(MemoryFileBytes(memory, kPath).size(), FileLength(states[failed - 1]));
  }
}

TEST(RowFileCrashTest, ExclusiveWriteBackUnderCachePressureIsAtomicToo) {
  constexpr int kRows = 300;
  TZNTTableFileSettings settings = Settings();
  settings.max_row_buffer_size = 0;  // the smallest cache: 256 rows
  auto run = [&](TZNTFileManager& files, std::set<uint32_t>* batch_states) {
    TZNTRowsetManager m(files, kPath, settings, AnalysisCodes());
    m.CreateTableFile(true);
    for (int i = 1; i <= kRows; ++i) {
      const uint32_t rows_before = m.RowCount();
      const int32_t counter = m.Header().change_counter;
      m.InsertRow(m.NextRowID(),
                  ValuesOf(m.Layout(), {std::to_string(i), "R" + std::to_string(i)}));
      if (batch_states && m.Header().change_counter != counter) batch_states->insert(rows_before);
    }
    m.CloseTableFile();
    if (batch_states) batch_states->insert(kRows);
  };
  std::set<uint32_t> valid = {0};
  uint64_t total;
  {
    TZNTMemoryFileManager memory;
    TZNTFaultFileManager faults(memory);
    run(faults, &valid);
    total = faults.Count(TZNTFaultOp::Write);
  }
  ASSERT_EQ(valid, (std::set<uint32_t>{0, 256, 300}));
  for (uint64_t k = 1; k <= total; ++k) {
    SCOPED_TRACE("write " + std::to_string(k));
    TZNTMemoryFileManager memory;
    {
      TZNTFaultFileManager faults(memory);
      faults.FailNth(TZNTFaultOp::Write, k, true);
      EXPECT_NE(RaisedBy([&] { run(faults, nullptr); }).code, 0);
    }
    TZNTRowsetManager m(memory, kPath, settings, AnalysisCodes());
    if (RaisedBy([&] { m.OpenTableFile(false, false); }).code != 0) {
      // Only the creating batch may leave nothing usable behind.
      EXPECT_LE(k, 3u);
      continue;
    }
    EXPECT_EQ(valid.count(m.RowCount()), 1u) << m.RowCount();
    std::vector<std::string> expected;
    for (uint32_t i = 1; i <= m.RowCount(); ++i) expected.push_back("R" + std::to_string(i));
    EXPECT_EQ(Ids(m), expected);
    EXPECT_EQ(m.VerifyInvariants(), "");
  }
}

}  // namespace
}  // namespace znt
