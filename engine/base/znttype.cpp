#include "znttype.h"

#include "zntstring.h"

namespace znt {
namespace {

std::string IntervalName(const TZNTDataType& t) {
  if (t.code == TZNTTypeCode::YearMonthInterval) {
    switch (t.subtype) {
      case kIntervalYear: return "Interval Year";
      case kIntervalYearToMonth: return "Interval Year To Month";
      case kIntervalMonth: return "Interval Month";
      default: return "Unknown";
    }
  }
  static constexpr struct {
    uint8_t bit;
    const char* name;
  } kFields[] = {{kIntervalDay, "Day"},
                 {kIntervalHour, "Hour"},
                 {kIntervalMinute, "Minute"},
                 {kIntervalSecond, "Second"},
                 {kIntervalMSecond, "MSecond"}};
  int first = -1, last = -1;
  for (int i = 0; i < 5; ++i) {
    if (t.subtype & kFields[i].bit) {
      if (first < 0) first = i;
      last = i;
    }
  }
  if (first < 0) return "Unknown";
  // A range sets every bit between its ends; anything else names no type.
  for (int i = first; i <= last; ++i)
    if (!(t.subtype & kFields[i].bit)) return "Unknown";
  if ((t.subtype & ~0xF8) != 0) return "Unknown";
  std::string name = std::string("Interval ") + kFields[first].name;
  if (last != first) name += std::string(" To ") + kFields[last].name;
  return name;
}

}  // namespace

std::string TypeName(const TZNTDataType& t) {
  switch (t.code) {
    case TZNTTypeCode::Char:
      return t.subtype == kSubtypeFixed  ? "Char"
             : t.subtype == kSubtypeGuid ? "GUID"
                                         : "VarChar";
    case TZNTTypeCode::Byte: return t.subtype == kSubtypeFixed ? "Byte" : "VarByte";
    case TZNTTypeCode::Blob: return t.subtype == kSubtypeClob ? "CLOB" : "BLOB";
    case TZNTTypeCode::Boolean: return "Boolean";
    case TZNTTypeCode::SmallInt: return "SmallInt";
    case TZNTTypeCode::Integer: return "Integer";
    case TZNTTypeCode::BigInt: return "BigInt";
    case TZNTTypeCode::Float: return "Float";
    case TZNTTypeCode::Decimal: return "Decimal";
    case TZNTTypeCode::Date: return "Date";
    case TZNTTypeCode::Time: return "Time";
    case TZNTTypeCode::Timestamp: return "Timestamp";
    case TZNTTypeCode::YearMonthInterval:
    case TZNTTypeCode::DayTimeInterval: return IntervalName(t);
    default: return "Unknown";
  }
}

std::string TypeNameUpper(const TZNTDataType& t) {
  std::string name = ZNTUpperCase(TypeName(t));
  if ((t.code == TZNTTypeCode::Char && t.subtype != kSubtypeGuid) || t.code == TZNTTypeCode::Byte)
    name.append(1, '(').append(std::to_string(t.size)).append(1, ')');
  return name;
}

TZNTTypeClass TypeClassOf(const TZNTDataType& t) noexcept {
  switch (t.code) {
    case TZNTTypeCode::Char: return TZNTTypeClass::Text;
    case TZNTTypeCode::Byte: return TZNTTypeClass::Bytes;
    case TZNTTypeCode::Blob:
      return t.subtype == kSubtypeClob ? TZNTTypeClass::Text : TZNTTypeClass::Bytes;
    case TZNTTypeCode::Boolean: return TZNTTypeClass::Boolean;
    case TZNTTypeCode::SmallInt:
    case TZNTTypeCode::Integer:
    case TZNTTypeCode::BigInt: return TZNTTypeClass::Integer;
    case TZNTTypeCode::Float: return TZNTTypeClass::Float;
    case TZNTTypeCode::Decimal: return TZNTTypeClass::Decimal;
    case TZNTTypeCode::Date: return TZNTTypeClass::Date;
    case TZNTTypeCode::Time: return TZNTTypeClass::Time;
    case TZNTTypeCode::Timestamp: return TZNTTypeClass::Timestamp;
    case TZNTTypeCode::YearMonthInterval: return TZNTTypeClass::YearMonth;
    case TZNTTypeCode::DayTimeInterval: return TZNTTypeClass::DayTime;
    default: return TZNTTypeClass::Unknown;
  }
}

int32_t StorageSize(const TZNTDataType& t) {
  switch (t.code) {
    case TZNTTypeCode::Char:
      if (t.subtype == kSubtypeGuid) return kGuidLength;
      return t.subtype == kSubtypeFixed ? t.size : t.size + 2;
    case TZNTTypeCode::Byte: return t.subtype == kSubtypeFixed ? t.size : t.size + 2;
    case TZNTTypeCode::Blob: return 8;
    case TZNTTypeCode::Boolean: return 1;
    case TZNTTypeCode::SmallInt: return 2;
    case TZNTTypeCode::Integer:
    case TZNTTypeCode::Date:
    case TZNTTypeCode::Time:
    case TZNTTypeCode::YearMonthInterval: return 4;
    case TZNTTypeCode::BigInt:
    case TZNTTypeCode::Float:
    case TZNTTypeCode::Decimal:
    case TZNTTypeCode::Timestamp:
    case TZNTTypeCode::DayTimeInterval: return 8;
    default: return 0;
  }
}

}  // namespace znt
