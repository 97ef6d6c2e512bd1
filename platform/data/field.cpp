#include "data/field.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "data/dataset.h"
#include "data/dberror.h"

namespace fyn {

namespace {

enum class TKind { Text, Integer, Boolean, Float, Fixed, DateTime };

TKind KindOf(TFieldType type) {
  switch (type) {
    case TFieldType::SmallInt:
    case TFieldType::Integer:
    case TFieldType::LargeInt:
    case TFieldType::AutoInc:
      return TKind::Integer;
    case TFieldType::Boolean:
      return TKind::Boolean;
    case TFieldType::Float:
      return TKind::Float;
    case TFieldType::Fixed:
      return TKind::Fixed;
    case TFieldType::Date:
    case TFieldType::Time:
    case TFieldType::DateTime:
      return TKind::DateTime;
    default:
      return TKind::Text;
  }
}

bool ParseInt64(const std::string& text, int64_t& out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || end == text.c_str()) return false;
  out = v;
  return true;
}

bool ParseDouble(const std::string& text, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (*end != '\0' || end == text.c_str() || !std::isfinite(v)) return false;
  out = v;
  return true;
}

bool ParseBoolean(const std::string& text, bool& out) {
  std::string t = UpperCase1252(text);
  if (t == "TRUE" || t == "T" || t == "YES" || t == "Y" || t == "1") {
    out = true;
  } else if (t == "FALSE" || t == "F" || t == "NO" || t == "N" || t == "0") {
    out = false;
  } else {
    return false;
  }
  return true;
}

bool DoubleFitsInt64(double d) { return d >= -9.2233720368547758e18 && d < 9.2233720368547758e18; }

}  // namespace

const char* FieldTypeName(TFieldType type) noexcept {
  switch (type) {
    case TFieldType::Unknown:
      return "Unknown";
    case TFieldType::String:
      return "String";
    case TFieldType::FixedChar:
      return "FixedChar";
    case TFieldType::Guid:
      return "Guid";
    case TFieldType::Bytes:
      return "Bytes";
    case TFieldType::VarBytes:
      return "VarBytes";
    case TFieldType::Blob:
      return "Blob";
    case TFieldType::Memo:
      return "Memo";
    case TFieldType::Boolean:
      return "Boolean";
    case TFieldType::SmallInt:
      return "SmallInt";
    case TFieldType::Integer:
      return "Integer";
    case TFieldType::LargeInt:
      return "LargeInt";
    case TFieldType::AutoInc:
      return "AutoInc";
    case TFieldType::Float:
      return "Float";
    case TFieldType::Fixed:
      return "Fixed";
    case TFieldType::Date:
      return "Date";
    case TFieldType::Time:
      return "Time";
    case TFieldType::DateTime:
      return "DateTime";
  }
  return "Unknown";
}

TFieldDef& TFieldDefs::Add(const std::string& name, TFieldType type, int size, bool required) {
  if (Find(name)) DatabaseErrorFmt("Duplicate field name '%s'", name);
  TFieldDef def;
  def.name = name;
  def.type = type;
  def.size = size;
  def.required = required;
  def.read_only = type == TFieldType::AutoInc;
  def.field_no = static_cast<int>(defs_.size()) + 1;
  defs_.push_back(def);
  return defs_.back();
}

const TFieldDef* TFieldDefs::Find(const std::string& name) const {
  for (const TFieldDef& d : defs_) {
    if (CompareTextNoCase(d.name, name) == 0) return &d;
  }
  return nullptr;
}

TField::TField(std::string name, TFieldType type, int size, TFieldKind kind)
    : name_(std::move(name)), type_(type), size_(size), kind_(kind) {
  if (type_ == TFieldType::Fixed && (size_ < 0 || size_ > 4)) {
    DatabaseErrorFmt("Field '%s' must have a scale of 0 to 4", name_);
  }
  read_only_ = type_ == TFieldType::AutoInc;
}

void TField::ConversionError(const std::string& text, const char* kind) const {
  throw EDatabaseError("'" + text + "' is not a valid " + kind + " value for field '" + name_ +
                       "'");
}

void TField::AccessError(const char* as_type) const {
  throw EDatabaseError("Field '" + name_ + "' cannot be read or written as " + as_type);
}

TVariant TField::Value() const {
  if (!dataset_) return {};
  const TRecordBuffer* buffer = dataset_->CurrentBuffer();
  if (!buffer) return {};
  return TDataSet::SlotValue(*buffer, *this);
}

std::string TField::AsString() const {
  TVariant v = Value();
  if (const TMoney* m = std::get_if<TMoney>(&v)) return m->ToString(Scale());
  if (const TDateTime* t = std::get_if<TDateTime>(&v)) {
    if (type_ == TFieldType::Date) return DateToText(t->day);
    if (type_ == TFieldType::Time) return TimeToText(t->msec);
  }
  return VarToText(v);
}

int64_t TField::AsInteger() const {
  TVariant v = Value();
  switch (v.index()) {
    case 0:
      return 0;
    case 1:
      return std::get<bool>(v) ? 1 : 0;
    case 2:
      return std::get<int64_t>(v);
    case 3: {
      double d = std::round(std::get<double>(v));
      if (!DoubleFitsInt64(d)) ConversionError(VarToText(v), "integer");
      return static_cast<int64_t>(d);
    }
    case 4:
      return std::get<TMoney>(v).Rounded(0).scaled / TMoney::kUnit;
    case 5: {
      int64_t i;
      if (!ParseInt64(std::get<std::string>(v), i))
        ConversionError(std::get<std::string>(v), "integer");
      return i;
    }
    default:
      AccessError("Integer");
  }
}

double TField::AsFloat() const {
  TVariant v = Value();
  switch (v.index()) {
    case 0:
      return 0.0;
    case 1:
      return std::get<bool>(v) ? 1.0 : 0.0;
    case 2:
      return static_cast<double>(std::get<int64_t>(v));
    case 3:
      return std::get<double>(v);
    case 4:
      return std::get<TMoney>(v).ToDouble();
    case 5: {
      double d;
      if (!ParseDouble(std::get<std::string>(v), d)) {
        ConversionError(std::get<std::string>(v), "floating point");
      }
      return d;
    }
    default:
      AccessError("Float");
  }
}

bool TField::AsBoolean() const {
  TVariant v = Value();
  switch (v.index()) {
    case 0:
      return false;
    case 1:
      return std::get<bool>(v);
    case 2:
      return std::get<int64_t>(v) != 0;
    case 5: {
      bool b;
      if (!ParseBoolean(std::get<std::string>(v), b)) {
        ConversionError(std::get<std::string>(v), "boolean");
      }
      return b;
    }
    default:
      AccessError("Boolean");
  }
}

TMoney TField::AsMoney() const {
  TVariant v = Value();
  switch (v.index()) {
    case 0:
      return TMoney{};
    case 2: {
      __int128 s = static_cast<__int128>(std::get<int64_t>(v)) * TMoney::kUnit;
      if (s > INT64_MAX || s < INT64_MIN) ConversionError(VarToText(v), "money");
      return TMoney{static_cast<int64_t>(s)};
    }
    case 3: {
      double d = std::round(std::get<double>(v) * TMoney::kUnit);
      if (!DoubleFitsInt64(d)) ConversionError(VarToText(v), "money");
      return TMoney{static_cast<int64_t>(d)};
    }
    case 4:
      return std::get<TMoney>(v);
    case 5: {
      TMoney m;
      if (!TMoney::TryParse(std::get<std::string>(v), m)) {
        ConversionError(std::get<std::string>(v), "money");
      }
      return m;
    }
    default:
      AccessError("Money");
  }
}

TDateTime TField::AsDateTime() const {
  TVariant v = Value();
  switch (v.index()) {
    case 0:
      return TDateTime{};
    case 5: {
      TDateTime t;
      if (!TryTextToDateTime(std::get<std::string>(v), t)) {
        ConversionError(std::get<std::string>(v), "date and time");
      }
      return t;
    }
    case 6:
      return std::get<TDateTime>(v);
    default:
      AccessError("DateTime");
  }
}

TVariant TField::Convert(const TVariant& value) const {
  if (VarIsNull(value)) return value;
  switch (KindOf(type_)) {
    case TKind::Text: {
      std::string text;
      if (const TMoney* m = std::get_if<TMoney>(&value)) {
        text = m->ToString(4);
      } else {
        text = VarToText(value);
      }
      bool sized = type_ == TFieldType::String || type_ == TFieldType::FixedChar ||
                   type_ == TFieldType::Guid || type_ == TFieldType::Bytes ||
                   type_ == TFieldType::VarBytes;
      if (sized && size_ > 0 && static_cast<int>(text.size()) > size_) text.resize(size_);
      return text;
    }
    case TKind::Integer: {
      int64_t i = 0;
      switch (value.index()) {
        case 1:
          i = std::get<bool>(value) ? 1 : 0;
          break;
        case 2:
          i = std::get<int64_t>(value);
          break;
        case 3: {
          double d = std::round(std::get<double>(value));
          if (!DoubleFitsInt64(d)) ConversionError(VarToText(value), "integer");
          i = static_cast<int64_t>(d);
          break;
        }
        case 4:
          i = std::get<TMoney>(value).Rounded(0).scaled / TMoney::kUnit;
          break;
        case 5:
          if (!ParseInt64(std::get<std::string>(value), i)) {
            ConversionError(std::get<std::string>(value), "integer");
          }
          break;
        default:
          AccessError("Integer");
      }
      int64_t lo = INT64_MIN, hi = INT64_MAX;
      if (type_ == TFieldType::SmallInt) lo = -32768, hi = 32767;
      if (type_ == TFieldType::Integer || type_ == TFieldType::AutoInc)
        lo = INT32_MIN, hi = INT32_MAX;
      if (i < lo || i > hi) {
        throw EDatabaseError("Value " + std::to_string(i) + " is out of range for field '" + name_ +
                             "'");
      }
      return i;
    }
    case TKind::Boolean:
      switch (value.index()) {
        case 1:
          return value;
        case 2:
          return std::get<int64_t>(value) != 0;
        case 5: {
          bool b;
          if (!ParseBoolean(std::get<std::string>(value), b)) {
            ConversionError(std::get<std::string>(value), "boolean");
          }
          return b;
        }
        default:
          AccessError("Boolean");
      }
    case TKind::Float:
      switch (value.index()) {
        case 1:
          return std::get<bool>(value) ? 1.0 : 0.0;
        case 2:
          return static_cast<double>(std::get<int64_t>(value));
        case 3:
          return value;
        case 4:
          return std::get<TMoney>(value).ToDouble();
        case 5: {
          double d;
          if (!ParseDouble(std::get<std::string>(value), d)) {
            ConversionError(std::get<std::string>(value), "floating point");
          }
          return d;
        }
        default:
          AccessError("Float");
      }
    case TKind::Fixed: {
      TMoney m;
      switch (value.index()) {
        case 2: {
          __int128 s = static_cast<__int128>(std::get<int64_t>(value)) * TMoney::kUnit;
          if (s > INT64_MAX || s < INT64_MIN) ConversionError(VarToText(value), "money");
          m.scaled = static_cast<int64_t>(s);
          break;
        }
        case 3: {
          double d = std::round(std::get<double>(value) * TMoney::kUnit);
          if (!DoubleFitsInt64(d)) ConversionError(VarToText(value), "money");
          m.scaled = static_cast<int64_t>(d);
          break;
        }
        case 4:
          m = std::get<TMoney>(value);
          break;
        case 5:
          if (!TMoney::TryParse(std::get<std::string>(value), m)) {
            ConversionError(std::get<std::string>(value), "money");
          }
          break;
        default:
          AccessError("Money");
      }
      return m.Rounded(size_);
    }
    case TKind::DateTime: {
      TDateTime t;
      if (const TDateTime* p = std::get_if<TDateTime>(&value)) {
        t = *p;
      } else if (const std::string* s = std::get_if<std::string>(&value)) {
        if (!TryTextToDateTime(*s, t)) ConversionError(*s, "date and time");
      } else {
        AccessError(FieldTypeName(type_));
      }
      if (type_ == TFieldType::Date) t.msec = 0;
      if (type_ == TFieldType::Time) t.day = 0;
      if (t.msec < 0 || t.msec >= kMSecsPerDay || t.day < 0) {
        ConversionError(DateTimeToText(t), "date and time");
      }
      return t;
    }
  }
  return value;
}

void TField::SetValue(const TVariant& value) {
  if (!dataset_) DatabaseErrorFmt("Field '%s' has no dataset", name_);
  dataset_->SetFieldData(*this, value);
}

void TField::SetAsString(const std::string& value) { SetValue(value); }
void TField::SetAsInteger(int64_t value) { SetValue(value); }
void TField::SetAsFloat(double value) { SetValue(value); }
void TField::SetAsBoolean(bool value) { SetValue(value); }
void TField::SetAsMoney(TMoney value) { SetValue(value); }
void TField::SetAsDateTime(TDateTime value) { SetValue(value); }

}  // namespace fyn
