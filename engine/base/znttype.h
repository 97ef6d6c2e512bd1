// The engine's data types: the codes persisted in catalogs and row layouts,
// their subtypes, and the descriptor every column, value and expression node
// carries.
#pragma once

#include <cstdint>
#include <string>

namespace znt {

enum class TZNTTypeCode : uint8_t {
  Unknown = 0,
  Char = 1,       // VARCHAR (subtype 0), CHAR (130), GUID (140)
  Byte = 2,       // VARBYTE (0), BYTE (130)
  Blob = 3,       // BLOB (0), CLOB (150)
  Boolean = 4,
  SmallInt = 5,
  Integer = 6,
  BigInt = 7,
  Float = 8,
  Decimal = 9,
  Date = 10,
  Time = 11,
  Timestamp = 12,
  YearMonthInterval = 13,
  DayTimeInterval = 14,
};

// Subtypes of the character, byte and blob codes.
inline constexpr uint8_t kSubtypeVarying = 0;
inline constexpr uint8_t kSubtypeFixed = 130;
inline constexpr uint8_t kSubtypeGuid = 140;
inline constexpr uint8_t kSubtypeClob = 150;

// Subtypes of year-month intervals.
inline constexpr uint8_t kIntervalMonth = 2;
inline constexpr uint8_t kIntervalYear = 4;
inline constexpr uint8_t kIntervalYearToMonth = 6;
// Field bits of day-time intervals; a range sets every bit from its first
// field to its last (Day To Second is 240).
inline constexpr uint8_t kIntervalDay = 128;
inline constexpr uint8_t kIntervalHour = 64;
inline constexpr uint8_t kIntervalMinute = 32;
inline constexpr uint8_t kIntervalSecond = 16;
inline constexpr uint8_t kIntervalMSecond = 8;

inline constexpr int kGuidLength = 38;
inline constexpr int kMinCharSize = 1;
inline constexpr int kMaxCharSize = 1024;

// Collation identifiers: the locale identifier in the low bits (0 for ANSI)
// plus the comparison flags.
inline constexpr uint32_t kCollationCaseInsensitive = 1u << 20;    // _CI
inline constexpr uint32_t kCollationAccentInsensitive = 1u << 21;  // _AI
inline constexpr uint32_t kCollationKanaInsensitive = 1u << 22;    // _KI
inline constexpr uint32_t kCollationWidthInsensitive = 1u << 23;   // _WI
inline constexpr uint32_t kCollationFlags = 0xF00000u;
inline constexpr uint32_t kCollationANSI = 0;
inline constexpr uint32_t kCollationANSI_CI = kCollationCaseInsensitive;

// The type of a column, value or expression node. `size` is the length of
// character and byte types, `scale` the decimal places of DECIMAL (0 to 4).
struct TZNTDataType {
  TZNTTypeCode code = TZNTTypeCode::Unknown;
  uint8_t subtype = 0;
  int32_t size = 0;
  int8_t scale = 0;
  uint32_t collation = kCollationANSI;

  bool operator==(const TZNTDataType&) const = default;

  bool IsCharacter() const noexcept {
    return code == TZNTTypeCode::Char || (code == TZNTTypeCode::Blob && subtype == kSubtypeClob);
  }
  bool IsBytes() const noexcept {
    return code == TZNTTypeCode::Byte || (code == TZNTTypeCode::Blob && subtype != kSubtypeClob);
  }
  bool IsBlob() const noexcept { return code == TZNTTypeCode::Blob; }
  bool IsInteger() const noexcept {
    return code == TZNTTypeCode::SmallInt || code == TZNTTypeCode::Integer ||
           code == TZNTTypeCode::BigInt;
  }
  bool IsNumber() const noexcept {
    return IsInteger() || code == TZNTTypeCode::Float || code == TZNTTypeCode::Decimal;
  }
  bool IsInterval() const noexcept {
    return code == TZNTTypeCode::YearMonthInterval || code == TZNTTypeCode::DayTimeInterval;
  }
  bool IsCaseInsensitive() const noexcept { return collation & kCollationCaseInsensitive; }

  static TZNTDataType VarChar(int32_t n, uint32_t collation = kCollationANSI) {
    return {TZNTTypeCode::Char, kSubtypeVarying, n, 0, collation};
  }
  static TZNTDataType FixedChar(int32_t n, uint32_t collation = kCollationANSI) {
    return {TZNTTypeCode::Char, kSubtypeFixed, n, 0, collation};
  }
  static TZNTDataType Guid() { return {TZNTTypeCode::Char, kSubtypeGuid, kGuidLength, 0, 0}; }
  static TZNTDataType VarByte(int32_t n) { return {TZNTTypeCode::Byte, kSubtypeVarying, n, 0, 0}; }
  static TZNTDataType FixedByte(int32_t n) { return {TZNTTypeCode::Byte, kSubtypeFixed, n, 0, 0}; }
  static TZNTDataType Blob() { return {TZNTTypeCode::Blob, 0, 0, 0, 0}; }
  static TZNTDataType Clob(uint32_t collation = kCollationANSI) {
    return {TZNTTypeCode::Blob, kSubtypeClob, 0, 0, collation};
  }
  static TZNTDataType Decimal(int scale) {
    return {TZNTTypeCode::Decimal, 0, 0, static_cast<int8_t>(scale), 0};
  }
  static TZNTDataType Interval(TZNTTypeCode code, uint8_t fields) { return {code, fields, 0, 0, 0}; }
  static TZNTDataType Of(TZNTTypeCode code) { return {code, 0, 0, 0, 0}; }
};

// The classes conversions and operators dispatch on: every type falls in one.
enum class TZNTTypeClass : uint8_t {
  Unknown, Text, Bytes, Boolean, Integer, Float, Decimal, Date, Time, Timestamp, YearMonth,
  DayTime
};

// The class of `type` (CLOB counts as text, BLOB as bytes).
TZNTTypeClass TypeClassOf(const TZNTDataType& type) noexcept;

// The type's name as messages write it: "VarChar", "Decimal", "Interval Day
// To Second", "Unknown" for anything else.
std::string TypeName(const TZNTDataType& type);
// The name in capitals with the length of character and byte types, as the
// out-of-range message and catalog descriptions write it: "VARCHAR(30)",
// "CHAR(1)", "INTEGER", "INTERVAL DAY TO SECOND".
std::string TypeNameUpper(const TZNTDataType& type);
// Bytes of a row slot's data area (without the has-value byte); for BLOB and
// CLOB the 8 bytes of the chain reference.
int32_t StorageSize(const TZNTDataType& type);

}  // namespace znt
