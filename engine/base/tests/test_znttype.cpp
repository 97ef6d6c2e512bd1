#include "base/znttype.h"

#include <gtest/gtest.h>

namespace znt {
namespace {

TEST(DataTypes, NamesAsMessagesWriteThem) {
  using C = TZNTTypeCode;
  struct Case {
    TZNTDataType type;
    const char* name;
    const char* upper;
  };
  const Case cases[] = {
      {TZNTDataType::VarChar(30), "VarChar", "VARCHAR(30)"},
      {TZNTDataType::FixedChar(1), "Char", "CHAR(1)"},
      {TZNTDataType::Guid(), "GUID", "GUID"},
      {TZNTDataType::VarByte(4), "VarByte", "VARBYTE(4)"},
      {TZNTDataType::Clob(), "CLOB", "CLOB"},
      {TZNTDataType::Blob(), "BLOB", "BLOB"},
      {TZNTDataType::Of(C::Integer), "Integer", "INTEGER"},
      {TZNTDataType::Decimal(2), "Decimal", "DECIMAL"},
      {TZNTDataType::Interval(C::YearMonthInterval, kIntervalYearToMonth), "Interval Year To Month",
       "INTERVAL YEAR TO MONTH"},
      {TZNTDataType::Interval(C::DayTimeInterval, 240), "Interval Day To Second",
       "INTERVAL DAY TO SECOND"},
      {TZNTDataType::Interval(C::DayTimeInterval, kIntervalDay), "Interval Day", "INTERVAL DAY"},
      {TZNTDataType::Interval(C::DayTimeInterval, kIntervalMinute | kIntervalSecond | kIntervalMSecond),
       "Interval Minute To MSecond", "INTERVAL MINUTE TO MSECOND"},
      {TZNTDataType::Interval(C::DayTimeInterval, kIntervalDay | kIntervalSecond), "Unknown", "UNKNOWN"},
      {TZNTDataType{}, "Unknown", "UNKNOWN"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TypeName(c.type), c.name);
    EXPECT_EQ(TypeNameUpper(c.type), c.upper);
  }
}

TEST(DataTypes, SlotSizesGiveTheDocumentedRowSizes) {
  // 17 bytes of row header, then per column one has-value byte and the data.
  auto rowSize = [](std::initializer_list<TZNTDataType> columns) {
    int32_t size = 17;
    for (const TZNTDataType& t : columns) size += 1 + StorageSize(t);
    return (size + 7) / 8 * 8;
  };
  const TZNTDataType rowId = TZNTDataType::Of(TZNTTypeCode::Integer);
  EXPECT_EQ(rowSize({rowId, TZNTDataType::VarChar(20)}), 48);
  EXPECT_EQ(rowSize({rowId, rowId, TZNTDataType::Decimal(2)}), 40);  // 17 + 5 + 5 + 9
  EXPECT_EQ(StorageSize(TZNTDataType::Clob()) + 1, 9);
  EXPECT_EQ(StorageSize(TZNTDataType::FixedChar(5)), 5);
  EXPECT_EQ(StorageSize(TZNTDataType::Guid()), 38);
}

}  // namespace
}  // namespace znt
