// The engine's values: a typed payload with a NULL flag, the conversions
// between every pair of types and to and from text, and the comparison used
// for sorting, grouping and keys. Expression nodes, variables, parameters and
// row slots are all values; they differ only in where the payload lives.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/znttype.h"

namespace znt {

// What a value stands for, as the conversion error names it: "An error
// occurred with the column _Amount (...)".
enum class TZNTValueKind : uint8_t { Value, Column, Parameter, Variable };

// "value", "column", "parameter" or "variable".
const char* ValueKindWord(TZNTValueKind kind) noexcept;

// A payload with its type, as the conversions pass it around (internal).
struct TZNTPayload;

// A typed value. The payload is reached through a few raw accessors that a
// descendant implements over its own storage; everything else (conversions,
// range, length and scale checks, the errors) lives here.
//
// Getters convert this value to the type they name and raise error 1011
// (A conversion error occurred / The value would result in truncation / The
// value is out of the range of permissible values for the T type) naming
// this value's kind and name. On a NULL value every getter returns the zero
// of its type (FALSE, 0, empty text) without converting.
//
// Setters convert their argument to this value's type, check and store it,
// and clear the NULL flag; they raise 1011 the same way when the argument
// does not fit. A DECIMAL value rounds what it stores to its scale, half away
// from zero; a character or byte value cuts text longer than its declared
// length unless it is strict, in which case that is the truncation error and
// a fixed-length value is padded (blanks for CHAR, zero bytes for BYTE).
class TZNTValue {
 public:
  virtual ~TZNTValue() = default;

  const TZNTDataType& DataType() const noexcept { return type_; }
  TZNTTypeCode TypeCode() const noexcept { return type_.code; }
  // Gives the value another type; it becomes NULL.
  virtual void SetDataType(const TZNTDataType& type);
  // Changes only the collation under which the text compares.
  void SetCollation(uint32_t collation) noexcept { type_.collation = collation; }

  // Strict values (row slots) refuse text longer than their length and pad
  // fixed-length text; others (expression results) cut it.
  bool IsStrict() const noexcept { return strict_; }
  void SetStrict(bool strict) noexcept { strict_ = strict; }

  // The kind and name that conversion errors report.
  TZNTValueKind Kind() const noexcept { return kind_; }
  const std::string& Name() const noexcept { return name_; }
  void SetKind(TZNTValueKind kind) noexcept { kind_ = kind; }
  void SetName(std::string_view name) { name_.assign(name); }

  bool IsNull() const { return RawIsNull(); }
  // Stores a zero of the type and raises the NULL flag.
  void SetNull() { RawSetNull(); }

  bool AsBoolean() const;
  int32_t AsSmallInt() const;  // range-checked to SMALLINT
  int32_t AsInteger() const;
  int64_t AsBigInt() const;
  double AsFloat() const;
  // The value as a DECIMAL's scaled integer (ten-thousandths).
  int64_t AsDecimal() const;
  int32_t AsDate() const;       // day number
  int32_t AsTime() const;       // milliseconds since midnight
  int64_t AsTimestamp() const;  // day x 86400000 + milliseconds
  // The stored number (months or milliseconds) of an interval of `target`'s
  // kind and qualifier; an integer is taken as a count of a single-field
  // qualifier's unit.
  int64_t AsInterval(const TZNTDataType& target) const;
  // This interval value's own stored number.
  int64_t AsInterval() const { return AsInterval(type_); }
  // The text form of the value (see the free functions below for the forms).
  std::string AsString() const;
  // As AsString, into `out`, reusing its storage.
  void AsString(std::string& out) const;
  // The raw bytes; text converts from hexadecimal digits.
  std::string AsBytes() const;
  // The stored text or bytes without a copy; only for character, byte and
  // blob values. Valid until the value is next changed.
  std::string_view AsStringView() const;

  void SetBoolean(bool v);
  void SetSmallInt(int32_t v);
  void SetInteger(int32_t v);
  void SetBigInt(int64_t v);
  void SetFloat(double v);
  // `v` is a DECIMAL's scaled integer (ten-thousandths).
  void SetDecimal(int64_t v);
  void SetDate(int32_t day);
  void SetTime(int32_t msecs);
  void SetTimestamp(int64_t ts);
  // `v` is the stored number of an interval of type `source`.
  void SetInterval(int64_t v, const TZNTDataType& source);
  // `v` is the stored number of an interval of this value's own type.
  void SetInterval(int64_t v) { SetInterval(v, type_); }
  // Windows-1252 text; converted by the rules of this value's type.
  void SetString(std::string_view text);
  void SetBytes(std::string_view bytes);

  // Stores `other` converted to this value's type (NULL stays NULL). The
  // right operand of a comparison or an assignment goes through here.
  void Assign(const TZNTValue& other);

 protected:
  TZNTValue() = default;
  TZNTValue(const TZNTDataType& type, bool strict) : type_(type), strict_(strict) {}
  TZNTValue(const TZNTValue&) = default;
  TZNTValue& operator=(const TZNTValue&) = default;

  // The storage a descendant provides. BOOLEAN (0 or 1), the integer types,
  // DECIMAL, the dates and times and the intervals use the integer slot,
  // FLOAT the double, the character, byte and blob types the text. The
  // setters clear the NULL flag; the payload they get is already checked.
  virtual bool RawIsNull() const = 0;
  virtual void RawSetNull() = 0;
  virtual int64_t RawInt() const = 0;
  virtual double RawFloat() const = 0;
  virtual std::string_view RawText() const = 0;
  virtual void RawSetInt(int64_t v) = 0;
  virtual void RawSetFloat(double v) = 0;
  // Stores `text` followed by `pad` up to `width` bytes in all (nothing is
  // added when `text` is at least that long).
  virtual void RawSetText(std::string_view text, size_t width, char pad) = 0;

 private:
  friend class TZNTReferencedValue;
  friend int CompareValuesCollated(const TZNTValue&, const TZNTValue&, uint32_t, size_t);

  TZNTPayload Raw() const;
  void Store(const TZNTPayload& src);
  void StoreLimited(std::string_view text, char pad);
  // Raises 1011 for a failed conversion to `target` unless `failure` is 0.
  void Check(int failure, const TZNTDataType& target) const;
  [[noreturn]] void Fail(int failure, const TZNTDataType& target) const;

  TZNTDataType type_;
  bool strict_ = false;
  TZNTValueKind kind_ = TZNTValueKind::Value;
  std::string name_;
};

// A value that owns its payload: expression results, variables, parameters.
// Setting a value reuses the text buffer; numbers never allocate.
class TZNTContainedValue : public TZNTValue {
 public:
  TZNTContainedValue() = default;
  // A NULL value of `type`.
  explicit TZNTContainedValue(const TZNTDataType& type, bool strict = false)
      : TZNTValue(type, strict) {}
  TZNTContainedValue(const TZNTDataType& type, TZNTValueKind kind, std::string_view name,
                     bool strict = false)
      : TZNTValue(type, strict) {
    SetKind(kind);
    SetName(name);
  }
  TZNTContainedValue(const TZNTContainedValue&) = default;
  TZNTContainedValue& operator=(const TZNTContainedValue&) = default;

 protected:
  bool RawIsNull() const override { return null_; }
  void RawSetNull() override;
  int64_t RawInt() const override { return num_.i; }
  double RawFloat() const override { return num_.f; }
  std::string_view RawText() const override { return text_; }
  void RawSetInt(int64_t v) override;
  void RawSetFloat(double v) override;
  void RawSetText(std::string_view text, size_t width, char pad) override;

 private:
  union {
    int64_t i;
    double f;
  } num_ = {0};
  std::string text_;
  bool null_ = true;
};

// A value that reads and writes another value held elsewhere (a column of
// the current row, a variable of an enclosing block). It takes the target's
// type, strictness, kind and name when it is pointed at it.
class TZNTReferencedValue : public TZNTValue {
 public:
  TZNTReferencedValue() = default;
  explicit TZNTReferencedValue(TZNTValue* target) { Reference(target); }

  // Points at `target` (not owned; it must outlive its use here), or at
  // nothing, which reads as NULL and must not be written.
  void Reference(TZNTValue* target);
  TZNTValue* Target() const noexcept { return target_; }
  // Changes the target's type as well.
  void SetDataType(const TZNTDataType& type) override;

 protected:
  bool RawIsNull() const override;
  void RawSetNull() override;
  int64_t RawInt() const override;
  double RawFloat() const override;
  std::string_view RawText() const override;
  void RawSetInt(int64_t v) override;
  void RawSetFloat(double v) override;
  void RawSetText(std::string_view text, size_t width, char pad) override;

 private:
  TZNTValue* target_ = nullptr;
};

// An ordered list of owned values: a row, a parameter or variable list.
class TZNTValues {
 public:
  TZNTValues() = default;
  TZNTValues(TZNTValues&&) noexcept = default;
  TZNTValues& operator=(TZNTValues&&) noexcept = default;
  TZNTValues(const TZNTValues&) = delete;
  TZNTValues& operator=(const TZNTValues&) = delete;

  size_t Count() const noexcept { return items_.size(); }
  bool Empty() const noexcept { return items_.empty(); }
  TZNTValue& operator[](size_t i) { return *items_[i]; }
  const TZNTValue& operator[](size_t i) const { return *items_[i]; }

  // Appends `value` and returns it.
  TZNTValue& Add(std::unique_ptr<TZNTValue> value);
  // Appends a NULL contained value of `type` with that kind and name.
  TZNTContainedValue& AddContained(const TZNTDataType& type,
                                   TZNTValueKind kind = TZNTValueKind::Value,
                                   std::string_view name = {}, bool strict = false);
  void Clear() noexcept { items_.clear(); }
  // The first value whose name equals `name` without regard to case, or null.
  TZNTValue* Find(std::string_view name) const noexcept;
  // Position of Find's answer, or -1.
  int IndexOf(std::string_view name) const noexcept;

 private:
  std::vector<std::unique_ptr<TZNTValue>> items_;
};

// Orders two values for sorting, grouping and keys: <0, 0 or >0. NULL equals
// NULL and comes before every other value. Text compares under the left
// operand's collation (CompareValuesCollated names another), over the first
// `limit` characters when a limit is given; bytes byte by byte, then by
// length; everything else by number. A right operand of another type is
// converted to the left's type first (raising 1011 when it cannot be), except
// that mixed numbers compare exactly (INTEGER with DECIMAL on the scaled
// integers, FLOAT with either as doubles), a DATE with a TIMESTAMP as
// timestamps, and an integer with a single-field interval in the interval's
// unit.
int CompareValues(const TZNTValue& a, const TZNTValue& b, size_t limit = std::string_view::npos);
int CompareValuesCollated(const TZNTValue& a, const TZNTValue& b, uint32_t collation,
                          size_t limit = std::string_view::npos);

// Text forms not covered by base/zntdatetime.h and base/zntmath.h.
//
// FLOAT: the shortest of up to 15 significant digits with '.' as the point;
// exponent form for magnitudes below 1E-5 or from 1E15 on, written as E, a
// sign and the exponent without leading zeros ("1E+20", "2.5E-7"), which the
// parser reads back. Not-a-number and infinities give NAN, INF and -INF.
std::string FloatToText(double v);
// Digits with an optional leading '-', at most one '.', and an optional
// exponent: E or e, an optional sign and digits. False for anything else or a
// value beyond the double range.
bool TextToFloat(std::string_view text, double& out) noexcept;

// Intervals. Year: the years; Month: the months; Year To Month: years, '-',
// two-digit months ("1-02"). Day-time: the qualifier's fields, the first
// unpadded and the rest zero-padded, a blank after the day, ':' between the
// time fields and '.' before three-digit milliseconds ("3 04:05:06.007",
// "90:15"). A part finer than the qualifier's last field is not shown. A
// negative interval is written as '-' before the text of its magnitude.
std::string IntervalToText(int64_t v, const TZNTDataType& type);
// Reads the form above for `type`'s qualifier (milliseconds after '.' may be
// one to three digits, a fraction of a second). False when the text is not of
// that form, a field is out of its range or the value does not fit.
bool TextToInterval(std::string_view text, const TZNTDataType& type, int64_t& out) noexcept;
// The unit of a single-field qualifier (12 months for Year, 86400000 for
// Day ...), 0 for qualifiers of several fields.
int64_t IntervalUnit(const TZNTDataType& type) noexcept;

// Two capital hexadecimal digits per byte.
std::string BytesToHex(std::string_view bytes);
// An even number of hexadecimal digits (either case) into bytes.
bool HexToBytes(std::string_view hex, std::string& out);

}  // namespace znt
