// Field definitions (what a dataset's storage offers) and field objects (what
// the program reads and writes). A field object reads and writes the value of
// its column in the dataset's current record buffer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "data/datavalue.h"

namespace fyn {

class TDataSet;

// The types of field the engine's columns map onto. Fixed is a fixed-point
// decimal whose Size is its scale (a money field is Fixed with 2 places).
enum class TFieldType {
  Unknown,
  String,     // variable text of at most Size bytes
  FixedChar,  // fixed text of Size bytes
  Guid,
  Bytes,
  VarBytes,
  Blob,
  Memo,
  Boolean,
  SmallInt,
  Integer,
  LargeInt,
  AutoInc,  // integer the storage assigns; read-only
  Float,
  Fixed,
  Date,
  Time,
  DateTime,
};

// The type's name for messages ("String", "Integer", ...).
const char* FieldTypeName(TFieldType type) noexcept;

// One column the dataset's storage offers: name, type, size, number (1-based).
struct TFieldDef {
  std::string name;
  TFieldType type = TFieldType::Unknown;
  int size = 0;  // text length, or the scale of a Fixed field
  bool required = false;
  bool read_only = false;
  int field_no = 0;  // 1-based position, assigned by TFieldDefs::Add
};

// The ordered field definitions of a dataset.
class TFieldDefs {
 public:
  // Appends a definition and returns it; a duplicate name (ignoring case)
  // raises "Duplicate field name 'X'".
  TFieldDef& Add(const std::string& name, TFieldType type, int size = 0, bool required = false);
  void Clear() { defs_.clear(); }
  int Count() const { return static_cast<int>(defs_.size()); }
  const TFieldDef& operator[](int index) const { return defs_.at(index); }
  TFieldDef& operator[](int index) { return defs_.at(index); }
  // The definition named `name` (ignoring case), or nullptr.
  const TFieldDef* Find(const std::string& name) const;

 private:
  std::vector<TFieldDef> defs_;
};

enum class TFieldKind { Data, Calculated };

// A field object. Persistent fields are added to a closed dataset and bound
// to the definition of the same name at open; default fields are created
// from the definitions at open and destroyed at close. The dataset owns both.
class TField {
 public:
  TField(std::string name, TFieldType type, int size = 0, TFieldKind kind = TFieldKind::Data);
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  const std::string& FieldName() const { return name_; }
  TFieldType DataType() const { return type_; }
  int Size() const { return size_; }
  TFieldKind Kind() const { return kind_; }
  // The dataset that owns the field (nullptr before it is added to one).
  TDataSet* DataSet() const { return dataset_; }
  // The 1-based definition number the field is bound to; 0 while unbound or
  // for a calculated field.
  int FieldNo() const { return field_no_; }

  // A read-only field refuses writes outside the dataset's internal states.
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value) { read_only_ = value; }
  // A required field must be non-null when its record is posted.
  bool Required() const { return required_; }
  void SetRequired(bool value) { required_ = value; }
  // Number of decimals of a Fixed field (its Size).
  int Scale() const { return type_ == TFieldType::Fixed ? size_ : 0; }

  // The value in the current record buffer (null when there is no record).
  TVariant Value() const;
  bool IsNull() const { return VarIsNull(Value()); }
  // Conversions of the current value; a null reads as "", 0, false, day 0.
  // Text that does not convert raises "'X' is not a valid <kind> value".
  std::string AsString() const;
  int64_t AsInteger() const;
  double AsFloat() const;
  bool AsBoolean() const;
  TMoney AsMoney() const;
  TDateTime AsDateTime() const;

  // Writing: the dataset must be in edit or insert mode (or an internal
  // state), the field writable; the value is converted to the field's type
  // (text cut to Size, Fixed rounded to its scale), stored, and the dataset's
  // links and OnChange are told.
  void SetValue(const TVariant& value);
  void SetAsString(const std::string& value);
  void SetAsInteger(int64_t value);
  void SetAsFloat(double value);
  void SetAsBoolean(bool value);
  void SetAsMoney(TMoney value);
  void SetAsDateTime(TDateTime value);
  // Sets the value to null.
  void Clear() { SetValue(TVariant{}); }

  // The value converted to this field's storage type, raising on text that
  // does not convert or a number out of range; null stays null.
  TVariant Convert(const TVariant& value) const;

  // Called after the field's value changed through a setter.
  std::function<void(TField&)> OnChange;

 private:
  friend class TDataSet;

  [[noreturn]] void ConversionError(const std::string& text, const char* kind) const;
  [[noreturn]] void AccessError(const char* as_type) const;

  std::string name_;
  TFieldType type_;
  int size_;
  TFieldKind kind_;
  TDataSet* dataset_ = nullptr;
  int field_no_ = 0;
  int slot_ = -1;  // index of the value in a record buffer; -1 while unbound
  bool read_only_ = false;
  bool required_ = false;
  bool default_field_ = false;  // created from the definitions at open
};

}  // namespace fyn
