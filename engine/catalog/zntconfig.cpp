#include "catalog/zntconfig.h"

#include <algorithm>
#include <cassert>
#include <climits>
#include <cstring>
#include <initializer_list>
#include <set>
#include <unordered_set>

#include "base/zntcommon.h"
#include "base/zntconsts.h"
#include "base/znterror.h"
#include "base/zntstring.h"
#include "sql/znttypefunc.h"

namespace znt {

namespace {


// Version thresholds of the optional fields.
constexpr int64_t kVersionGenerated = 10000;          // above: generated columns
constexpr int64_t kVersionTriggersMigrators = 10200;  // above: triggers, migrators
constexpr int64_t kVersionEncryptedCatalog = 10600;   // above: encrypted catalogs
constexpr int64_t kVersionColumnFlags = 10700;        // from: the column's two last flags
constexpr int64_t kVersionStores = 20000;             // from: stores

// Header offsets.
constexpr size_t kOffSignature = 0, kOffCharset = 16, kOffEncrypted = 20, kOffPassword = 21,
                 kOffCounter = 37, kOffReserved = 41, kOffBodyLength = 45;

int32_t RoundUp8(int64_t n) noexcept {
  if (n < 8) return 8;
  if (n > INT32_MAX - 7) return INT32_MAX - 7;
  return static_cast<int32_t>((n + 7) / 8 * 8);
}

int32_t Clamp32(int64_t n) noexcept {
  return static_cast<int32_t>(std::clamp<int64_t>(n, INT32_MIN, INT32_MAX));
}

void WriteType(TZNTWriter& w, const TZNTDataType& t, bool withDataSize, int32_t dataSize) {
  w.WriteInt32(static_cast<int32_t>(t.code));
  w.WriteInt32(t.subtype);
  w.WriteInt32(t.size);
  if (withDataSize) w.WriteInt32(dataSize);
  w.WriteInt32(t.scale);
  w.WriteInt32(static_cast<int32_t>(t.collation));
}

TZNTDataType ReadType(TZNTMetadataReader& r, bool withDataSize, int32_t* dataSize) {
  TZNTDataType t;
  int32_t code = r.Int32();
  int32_t subtype = r.Int32();
  t.size = r.Int32();
  int32_t size = withDataSize ? r.Int32() : 0;
  if (dataSize) *dataSize = size;
  int32_t scale = r.Int32();
  t.collation = static_cast<uint32_t>(r.Int32());
  if (code < 0 || code > static_cast<int32_t>(TZNTTypeCode::DayTimeInterval) || subtype < 0 ||
      subtype > 255 || scale < -128 || scale > 127)
    r.Fail();
  t.code = static_cast<TZNTTypeCode>(code);
  t.subtype = static_cast<uint8_t>(subtype);
  t.scale = static_cast<int8_t>(scale);
  return t;
}

// The table that owns a table part (column, index, constraint ...), or null.
const TZNTVirtualTable* OwningTable(const TZNTConfigObject& part) {
  for (TZNTConfigObject* o = part.Owner(); o; o = o->Owner()) {
    if (o->Kind() == TZNTObjectKind::BaseTable || o->Kind() == TZNTObjectKind::View)
      return static_cast<const TZNTVirtualTable*>(o);
  }
  return nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// Settings and names

TZNTMetadataSettings TZNTMetadataSettings::For(std::string_view signature,
                                               std::string_view password) {
  TZNTMetadataSettings s;
  s.signatureDigest = TZNTDigest::Compute(signature);
  s.defaultSignatureDigest = TZNTDigest::Compute(kZNTDefaultSignature);
  s.passwordDigest = TZNTDigest::Compute(password);
  return s;
}

bool IsValidObjectName(std::string_view name, bool temporary) {
  if (name.empty() || (!temporary && name.size() > kZNTMaxNameLength)) return false;
  if (!IsZNTLetter(static_cast<unsigned char>(name[0]))) return false;
  if (name.back() == ' ') return false;
  for (unsigned char c : name) {
    if (!IsZNTLetter(c) && !IsZNTDigit(c) && c != ' ' && c != '-') return false;
  }
  return true;
}

std::string_view ObjectKindWord(TZNTObjectKind kind) noexcept {
  switch (kind) {
    case TZNTObjectKind::Configuration:
      return "configuration";
    case TZNTObjectKind::Catalog:
      return "catalog";
    case TZNTObjectKind::DataType:
      return "data type";
    case TZNTObjectKind::Collation:
      return "collation";
    case TZNTObjectKind::Module:
      return "module";
    case TZNTObjectKind::TextFilter:
      return "text filter";
    case TZNTObjectKind::WordGenerator:
      return "word generator";
    case TZNTObjectKind::Migrator:
      return "migrator";
    case TZNTObjectKind::Job:
      return "job";
    case TZNTObjectKind::User:
      return "user";
    case TZNTObjectKind::Role:
      return "role";
    case TZNTObjectKind::UserRole:
      return "role";
    case TZNTObjectKind::Privilege:
      return "privilege";
    case TZNTObjectKind::Database:
      return "database";
    case TZNTObjectKind::Store:
      return "store";
    case TZNTObjectKind::Schema:
      return "schema";
    case TZNTObjectKind::BaseTable:
      return "table";
    case TZNTObjectKind::View:
      return "view";
    case TZNTObjectKind::Procedure:
      return "procedure";
    case TZNTObjectKind::Function:
      return "function";
    case TZNTObjectKind::RoutineParam:
      return "parameter";
    case TZNTObjectKind::Column:
      return "column";
    case TZNTObjectKind::Index:
      return "index";
    case TZNTObjectKind::IndexColumn:
      return "index column";
    case TZNTObjectKind::Constraint:
      return "constraint";
    case TZNTObjectKind::ConstraintColumn:
      return "constraint column";
    case TZNTObjectKind::SourceConstraint:
      return "source constraint";
    case TZNTObjectKind::TargetTableColumn:
      return "target table column";
    case TZNTObjectKind::Trigger:
      return "trigger";
    case TZNTObjectKind::TriggerColumn:
      return "trigger column";
  }
  return "object";
}

// ---------------------------------------------------------------------------
// TZNTConfigObject

TZNTConfigObject::~TZNTConfigObject() = default;

bool TZNTConfigObject::IsNamed() const noexcept {
  return kind_ != TZNTObjectKind::Configuration && kind_ != TZNTObjectKind::Catalog;
}

void TZNTConfigObject::SetName(std::string_view name) {
  if (!IsValidObjectName(name, temporary_))
    RaiseZNTError(err::InvalidIdentifier, {KindWord(), name});
  previousName_ = std::move(name_);
  name_.assign(name);
}

void TZNTConfigObject::CheckChangeable() const {
  if (system_) RaiseZNTError(err::SystemObject, {KindWord(), name_});
}

TZNTMetadataRoot* TZNTConfigObject::Root() const noexcept {
  const TZNTConfigObject* o = this;
  while (o->owner_) o = o->owner_;
  if (o->kind_ != TZNTObjectKind::Configuration && o->kind_ != TZNTObjectKind::Catalog)
    return nullptr;
  return static_cast<TZNTMetadataRoot*>(const_cast<TZNTConfigObject*>(o));
}

void TZNTConfigObject::WriteCommon(TZNTWriter& w) const {
  w.WriteInt32(id_);
  if (IsNamed()) {
    w.WriteString(name_);
    w.WriteString(description_);
  }
  w.WriteBoolean(hidden_);
  w.WriteBoolean(readOnly_);
}

void TZNTConfigObject::ReadCommon(TZNTMetadataReader& r) {
  id_ = r.Int32();
  if (IsNamed()) {
    std::string name = r.String();
    if (name != name_) previousName_ = std::move(name_);
    name_ = std::move(name);
    description_ = r.String();
  }
  hidden_ = r.Boolean();
  readOnly_ = r.Boolean();
  loaded_ = true;
}

void TZNTConfigObject::Write(TZNTWriter& w) const { WriteCommon(w); }
void TZNTConfigObject::Read(TZNTMetadataReader& r) { ReadCommon(r); }
void TZNTConfigObject::ForEachCollection(const std::function<void(TZNTConfigObjectsBase&)>&) {}

void TZNTConfigObject::Validate(TZNTMetadataReader& r) {
  ForEachCollection([&](TZNTConfigObjectsBase& c) { c.Validate(r); });
}

// ---------------------------------------------------------------------------
// Collections

TZNTConfigObjectsBase::~TZNTConfigObjectsBase() = default;

TZNTConfigObject* TZNTConfigObjectsBase::FindObject(std::string_view name) const noexcept {
  for (const auto& p : items_)
    if (ZNTSameText(p->Name(), name)) return p.get();
  return nullptr;
}

TZNTConfigObject* TZNTConfigObjectsBase::FindObjectID(int32_t id) const noexcept {
  for (const auto& p : items_)
    if (p->ID() == id) return p.get();
  return nullptr;
}

int TZNTConfigObjectsBase::IndexOf(const TZNTConfigObject& object) const noexcept {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i].get() == &object) return static_cast<int>(i);
  return -1;
}

int TZNTConfigObjectsBase::StoredCount() const noexcept {
  int n = 0;
  for (const auto& p : items_) n += p->Stored() ? 1 : 0;
  return n;
}

int32_t TZNTConfigObjectsBase::LowestFreeNumber(
    const std::function<int32_t(const TZNTConfigObject&)>& number) const {
  std::set<int32_t> used;
  for (const auto& p : items_) used.insert(number(*p));
  int32_t n = 1;
  while (used.count(n)) ++n;
  return n;
}

TZNTConfigObject& TZNTConfigObjectsBase::AddObject(std::unique_ptr<TZNTConfigObject> object) {
  assert(object && object->ID() != 0 && object->owner_ == nullptr);
  if (FindObject(object->Name()))
    RaiseZNTError(err::AlreadyExists, {object->KindWord(), object->Name()});
  object->owner_ = &owner_;
  items_.push_back(std::move(object));
  return *items_.back();
}

std::unique_ptr<TZNTConfigObject> TZNTConfigObjectsBase::RemoveObject(
    const TZNTConfigObject& object) {
  int i = IndexOf(object);
  assert(i >= 0);
  object.CheckChangeable();
  std::unique_ptr<TZNTConfigObject> p = std::move(items_[i]);
  items_.erase(items_.begin() + i);
  p->owner_ = nullptr;
  return p;
}

void TZNTConfigObjectsBase::Write(TZNTWriter& w) const {
  w.WriteInt32(StoredCount());
  for (const auto& p : items_)
    if (p->Stored()) p->Write(w);
}

void TZNTConfigObjectsBase::Read(TZNTMetadataReader& r) { Read(r, r.Count()); }

void TZNTConfigObjectsBase::Read(TZNTMetadataReader& r, int32_t count) {
  std::vector<std::unique_ptr<TZNTConfigObject>> kept, old;
  for (auto& p : items_) (p->Stored() ? old : kept).push_back(std::move(p));
  items_ = std::move(kept);
  for (int32_t i = 0; i < count; ++i) {
    const int32_t id = r.PeekInt32();
    std::unique_ptr<TZNTConfigObject> object;
    for (auto& p : old) {
      if (p && p->ID() == id) {
        object = std::move(p);
        break;
      }
    }
    if (!object) object = NewMember();
    object->owner_ = &owner_;
    TZNTConfigObject& o = *object;
    items_.push_back(std::move(object));
    o.Read(r);
  }
  for (auto& p : old) {
    if (p && r.onRemoved) r.onRemoved(*p);
  }
}

void TZNTConfigObjectsBase::Validate(TZNTMetadataReader& r) {
  for (size_t i = 0; i < items_.size(); ++i) {
    TZNTConfigObject& o = *items_[i];
    if (o.IsNamed() && !IsValidObjectName(o.Name(), o.Temporary())) r.Fail();
    for (size_t j = 0; j < i; ++j)
      if (ZNTSameText(items_[j]->Name(), o.Name())) r.Fail();
    o.Validate(r);
  }
}

void TZNTConfigObjectsBase::CheckInvariants() const {
#ifndef NDEBUG
  for (size_t i = 0; i < items_.size(); ++i) {
    const TZNTConfigObject& o = *items_[i];
    assert(o.ID() != 0);
    assert(o.owner_ == &owner_);
    assert(!o.IsNamed() || IsValidObjectName(o.Name(), o.Temporary()));
    for (size_t j = 0; j < i; ++j) {
      assert(items_[j]->ID() != o.ID());
      assert(!ZNTSameText(items_[j]->Name(), o.Name()));
    }
  }
#endif
}

// ---------------------------------------------------------------------------
// The lesser kinds

void TZNTTextFilter::Write(TZNTWriter& w) const {
  WriteCommon(w);
  w.WriteInt32(filterType);
  w.WriteString(moduleName);
}

void TZNTTextFilter::Read(TZNTMetadataReader& r) {
  ReadCommon(r);
  filterType = r.Int32();
  moduleName = r.String();
}

void TZNTWordGenerator::Write(TZNTWriter& w) const {
  WriteCommon(w);
  w.WriteString(moduleName);
}

void TZNTWordGenerator::Read(TZNTMetadataReader& r) {
  ReadCommon(r);
  moduleName = r.String();
}

void TZNTMigrator::Write(TZNTWriter& w) const {
  WriteCommon(w);
  w.WriteString(moduleName);
}

void TZNTMigrator::Read(TZNTMetadataReader& r) {
  ReadCommon(r);
  moduleName = r.String();
}

void TZNTJob::Write(TZNTWriter& w) const {
  WriteCommon(w);
  w.WriteString(category);
  w.WriteString(userName);
  for (int32_t v : {startDate, endDate, jobType, interval, days, dayNumber, dayOfMonth, months,
                    startTime, endTime})
    w.WriteInt32(v);
  w.WriteString(definition);
  w.WriteInt64(lastRun);
}

void TZNTJob::Read(TZNTMetadataReader& r) {
  ReadCommon(r);
  category = r.String();
  userName = r.String();
  for (int32_t* v : {&startDate, &endDate, &jobType, &interval, &days, &dayNumber, &dayOfMonth,
                     &months, &startTime, &endTime})
    *v = r.Int32();
  definition = r.String();
  lastRun = r.Int64();
}

void TZNTPrivilege::Write(TZNTWriter& w) const {
  WriteCommon(w);
  w.WriteInt32(privileges);
  w.WriteString(grantedBy);
}

void TZNTPrivilege::Read(TZNTMetadataReader& r) {
  ReadCommon(r);
  privileges = r.Int32();
  grantedBy = r.String();
}

void TZNTUserRole::Write(TZNTWriter& w) const {
  WriteCommon(w);
  w.WriteString(grantedBy);
}

void TZNTUserRole::Read(TZNTMetadataReader& r) {
  ReadCommon(r);
  grantedBy = r.String();
}

void TZNTUser::Write(TZNTWriter& w) const {
  WriteCommon(w);
  w.WriteString(password);
  w.WriteBoolean(loginDisabled);
  w.WriteInt32(lockNumber);
  w.WriteInt32(userInteger);
  roles.Write(w);
}

void TZNTUser::Read(TZNTMetadataReader& r) {
  ReadCommon(r);
  password = r.String();
  loginDisabled = r.Boolean();
  lockNumber = r.Int32();
  userInteger = r.Int32();
  roles.Read(r);
}

void TZNTUser::ForEachCollection(const std::function<void(TZNTConfigObjectsBase&)>& f) { f(roles); }

void TZNTPrivilegedConfigObject::Write(TZNTWriter& w) const {
  WriteCommon(w);
  w.WriteString(creator);
  privileges.Write(w);
}

void TZNTPrivilegedConfigObject::Read(TZNTMetadataReader& r) {
  ReadCommon(r);
  creator = r.String();
  privileges.Read(r);
}

void TZNTPrivilegedConfigObject::ForEachCollection(
    const std::function<void(TZNTConfigObjectsBase&)>& f) {
  f(privileges);
}

void TZNTDatabaseContainer::Write(TZNTWriter& w) const {
  TZNTPrivilegedConfigObject::Write(w);
  w.WriteString(path);
  w.WriteBoolean(InMemory());
  w.WriteBoolean(encryptedCatalog);
  w.WriteInt32(databaseInteger);
}

void TZNTDatabaseContainer::Read(TZNTMetadataReader& r) {
  TZNTPrivilegedConfigObject::Read(r);
  path = r.String();
  SetInMemory(r.Boolean());
  encryptedCatalog = r.Version() > kVersionEncryptedCatalog ? r.Boolean() : false;
  databaseInteger = r.Int32();
}

void TZNTStore::Write(TZNTWriter& w) const {
  TZNTPrivilegedConfigObject::Write(w);
  w.WriteInt32(storeType);
  for (const std::string* s : {&path, &address, &host}) w.WriteString(*s);
  w.WriteInt32(port);
  for (const std::string* s : {&service, &userName, &password, &remoteStore, &signature})
    w.WriteString(*s);
  w.WriteBoolean(encrypted);
  w.WriteString(encryptionPassword);
  w.WriteInt32(compression);
  w.WriteInt32(timeout);
  w.WriteBoolean(ping);
  w.WriteInt32(pingInterval);
}

void TZNTStore::Read(TZNTMetadataReader& r) {
  TZNTPrivilegedConfigObject::Read(r);
  storeType = r.Int32();
  for (std::string* s : {&path, &address, &host}) *s = r.String();
  port = r.Int32();
  for (std::string* s : {&service, &userName, &password, &remoteStore, &signature}) *s = r.String();
  encrypted = r.Boolean();
  encryptionPassword = r.String();
  compression = r.Int32();
  timeout = r.Int32();
  ping = r.Boolean();
  pingInterval = r.Int32();
}

// ---------------------------------------------------------------------------
// Table parts

void TZNTColumn::SetType(const TZNTDataType& t) noexcept {
  type = t;
  dataSize = StorageSize(t);
}

void TZNTColumn::Write(TZNTWriter& w) const {
  WriteCommon(w);
  WriteType(w, type, true, dataSize);
  w.WriteBoolean(notNull);
  w.WriteBoolean(generated);
  if (generated) w.WriteString(generatedExpr);
  w.WriteBoolean(identity);
  w.WriteBoolean(identityByDefault);
  w.WriteInt32(identitySeed);
  w.WriteInt32(identityIncrement);
  w.WriteBoolean(computed);
  if (computed) w.WriteString(computedExpr);
  w.WriteBoolean(hasDefault);
  if (hasDefault) w.WriteString(defaultExpr);
  w.WriteInt32(blobCompression);
  w.WriteString(sourceReference);
  w.WriteBoolean(extraFlag1);
  w.WriteBoolean(extraFlag2);
}

void TZNTColumn::Read(TZNTMetadataReader& r) {
  ReadCommon(r);
  type = ReadType(r, true, &dataSize);
  notNull = r.Boolean();
  generated = false;
  generatedExpr.clear();
  if (r.Version() > kVersionGenerated) {
    generated = r.Boolean();
    if (generated) generatedExpr = r.String();
  }
  identity = r.Boolean();
  identityByDefault = r.Boolean();
  identitySeed = r.Int32();
  identityIncrement = r.Int32();
  computed = r.Boolean();
  computedExpr = computed ? r.String() : std::string();
  hasDefault = r.Boolean();
  defaultExpr = hasDefault ? r.String() : std::string();
  blobCompression = r.Int32();
  sourceReference = r.String();
  extraFlag1 = extraFlag2 = false;
  if (r.Version() >= kVersionColumnFlags) {
    extraFlag1 = r.Boolean();
    extraFlag2 = r.Boolean();
  }
}

void TZNTColumn::Validate(TZNTMetadataReader& r) {
  // A view column may be of a type still unknown; a table column never is.
  if (Owner() && Owner()->Kind() == TZNTObjectKind::BaseTable &&
      (type.code == TZNTTypeCode::Unknown || dataSize != StorageSize(type)))
    r.Fail();
  if (blobCompression < 0 || blobCompression > 9) r.Fail();
  TZNTCatalogObject::Validate(r);
}

void TZNTIndexColumn::Write(TZNTWriter& w) const {
  WriteCommon(w);
  w.WriteInt32(columnId);
  w.WriteInt32(static_cast<int32_t>(collation));
  w.WriteBoolean(extraFlag);
  w.WriteBoolean(descending);
}

void TZNTIndexColumn::Read(TZNTMetadataReader& r) {
  ReadCommon(r);
  columnId = r.Int32();
  collation = static_cast<uint32_t>(r.Int32());
  extraFlag = r.Boolean();
  descending = r.Boolean();
}

std::string_view TZNTIndex::TypeText() const noexcept {
  switch (indexType) {
    case TZNTIndexType::Index:
      return "Index";
    case TZNTIndexType::PrimaryKey:
      return "Primary Key";
    case TZNTIndexType::ForeignKey:
      return "Foreign Key";
    case TZNTIndexType::Unique:
      return "Unique";
    case TZNTIndexType::Text:
      return "Text Index";
  }
  return "Index";
}

void TZNTIndex::Write(TZNTWriter& w) const {
  WriteCommon(w);
  w.WriteInt32(static_cast<int32_t>(indexType));
  columns.Write(w);
  if (indexType == TZNTIndexType::PrimaryKey || indexType == TZNTIndexType::ForeignKey ||
      indexType == TZNTIndexType::Unique)
    w.WriteInt32(ownerConstraintId);
  if (indexType == TZNTIndexType::Text) {
    w.WriteInt32(indexedWordLength);
    w.WriteInt32(filterTypeColumnId);
    w.WriteInt32(wordGeneratorId);
  }
}

void TZNTIndex::Read(TZNTMetadataReader& r) {
  ReadCommon(r);
  const int32_t t = r.Int32();
  if (t < 0 || t > static_cast<int32_t>(TZNTIndexType::Text)) r.Fail();
  indexType = static_cast<TZNTIndexType>(t);
  columns.Read(r);
  ownerConstraintId = indexedWordLength = filterTypeColumnId = wordGeneratorId = 0;
  if (t >= 1 && t <= 3) ownerConstraintId = r.Int32();
  if (indexType == TZNTIndexType::Text) {
    indexedWordLength = r.Int32();
    filterTypeColumnId = r.Int32();
    wordGeneratorId = r.Int32();
  }
}

void TZNTIndex::ForEachCollection(const std::function<void(TZNTConfigObjectsBase&)>& f) {
  f(columns);
}

void TZNTIndex::Validate(TZNTMetadataReader& r) {
  const TZNTVirtualTable* table = OwningTable(*this);
  if (columns.Count() == 0) r.Fail();
  for (const TZNTIndexColumn& c : columns)
    if (table && !table->columns.FindID(c.columnId)) r.Fail();
  if (table && filterTypeColumnId != 0 && !table->columns.FindID(filterTypeColumnId)) r.Fail();
  TZNTCatalogObject::Validate(r);
}

void TZNTConstraintColumn::Write(TZNTWriter& w) const {
  WriteCommon(w);
  w.WriteInt32(columnId);
}

void TZNTConstraintColumn::Read(TZNTMetadataReader& r) {
  ReadCommon(r);
  columnId = r.Int32();
}

void TZNTSourceConstraint::Write(TZNTWriter& w) const {
  WriteCommon(w);
  w.WriteInt32(sourceTableId);
  w.WriteInt32(sourceConstraintId);
}

void TZNTSourceConstraint::Read(TZNTMetadataReader& r) {
  ReadCommon(r);
  sourceTableId = r.Int32();
  sourceConstraintId = r.Int32();
}

void TZNTTargetTableColumn::Write(TZNTWriter& w) const {
  WriteCommon(w);
  w.WriteInt32(columnId);
}

void TZNTTargetTableColumn::Read(TZNTMetadataReader& r) {
  ReadCommon(r);
  columnId = r.Int32();
}

void TZNTConstraint::Write(TZNTWriter& w) const {
  WriteCommon(w);
  w.WriteInt32(static_cast<int32_t>(constraintType));
  switch (constraintType) {
    case TZNTConstraintType::PrimaryKey:
    case TZNTConstraintType::Unique:
      columns.Write(w);
      w.WriteInt32(enforcingIndexId);
      sourceConstraints.Write(w);
      break;
    case TZNTConstraintType::ForeignKey:
      columns.Write(w);
      w.WriteInt32(enforcingIndexId);
      w.WriteInt32(targetTableId);
      targetColumns.Write(w);
      w.WriteInt32(targetConstraintId);
      w.WriteInt32(static_cast<int32_t>(updateAction));
      w.WriteInt32(static_cast<int32_t>(deleteAction));
      break;
    case TZNTConstraintType::Check:
      w.WriteString(checkExpr);
      break;
  }
}

void TZNTConstraint::Read(TZNTMetadataReader& r) {
  ReadCommon(r);
  const int32_t t = r.Int32();
  if (t < 1 || t > 4) r.Fail();
  constraintType = static_cast<TZNTConstraintType>(t);
  enforcingIndexId = targetTableId = targetConstraintId = 0;
  updateAction = deleteAction = TZNTReferentialAction::NoAction;
  checkExpr.clear();
  auto action = [&r] {
    int32_t a = r.Int32();
    if (a < 0 || a > static_cast<int32_t>(TZNTReferentialAction::Restrict)) r.Fail();
    return static_cast<TZNTReferentialAction>(a);
  };
  switch (constraintType) {
    case TZNTConstraintType::PrimaryKey:
    case TZNTConstraintType::Unique:
      columns.Read(r);
      enforcingIndexId = r.Int32();
      sourceConstraints.Read(r);
      targetColumns.Read(r, 0);
      break;
    case TZNTConstraintType::ForeignKey:
      columns.Read(r);
      enforcingIndexId = r.Int32();
      targetTableId = r.Int32();
      targetColumns.Read(r);
      targetConstraintId = r.Int32();
      updateAction = action();
      deleteAction = action();
      sourceConstraints.Read(r, 0);
      break;
    case TZNTConstraintType::Check:
      checkExpr = r.String();
      columns.Read(r, 0);
      sourceConstraints.Read(r, 0);
      targetColumns.Read(r, 0);
      break;
  }
}

void TZNTConstraint::ForEachCollection(const std::function<void(TZNTConfigObjectsBase&)>& f) {
  f(columns);
  f(sourceConstraints);
  f(targetColumns);
}

void TZNTConstraint::Validate(TZNTMetadataReader& r) {
  const TZNTVirtualTable* table = OwningTable(*this);
  if (IsKey()) {
    if (columns.Count() == 0) r.Fail();
    for (const TZNTConstraintColumn& c : columns)
      if (table && !table->columns.FindID(c.columnId)) r.Fail();
    const TZNTIndex* index = table ? table->indexes.FindID(enforcingIndexId) : nullptr;
    if (table && (!index || index->ownerConstraintId != ID())) r.Fail();
  }
  TZNTCatalogObject::Validate(r);
}

void TZNTTriggerColumn::Write(TZNTWriter& w) const {
  WriteCommon(w);
  w.WriteInt32(columnId);
}

void TZNTTriggerColumn::Read(TZNTMetadataReader& r) {
  ReadCommon(r);
  columnId = r.Int32();
}

void TZNTTrigger::Write(TZNTWriter& w) const {
  WriteCommon(w);
  w.WriteInt32(actionTime);
  w.WriteInt32(actionType);
  if (actionType == kUpdate) columns.Write(w);
  w.WriteString(condition);
  w.WriteString(body);
}

void TZNTTrigger::Read(TZNTMetadataReader& r) {
  ReadCommon(r);
  actionTime = r.Int32();
  actionType = r.Int32();
  if (actionTime < 1 || actionTime > 3 || actionType < 1 || actionType > 3) r.Fail();
  if (actionType == kUpdate)
    columns.Read(r);
  else
    columns.Read(r, 0);
  condition = r.String();
  body = r.String();
}

void TZNTTrigger::ForEachCollection(const std::function<void(TZNTConfigObjectsBase&)>& f) {
  f(columns);
}

// ---------------------------------------------------------------------------
// Tables, views, routines, schemas

void TZNTVirtualTable::RefreshBindColumns() {
  bindColumns_.clear();
  bindColumns_.reserve(columns.Count());
  for (const TZNTColumn& c : columns) {
    TZNTBindColumn b{c.Name(), c.type, c.Hidden(), false};
    for (const TZNTIndex& i : indexes)
      if (i.indexType == TZNTIndexType::Text && i.columns.Count() > 0 &&
          i.columns.At(0).columnId == c.ID())
        b.textIndexed = true;
    bindColumns_.push_back(std::move(b));
  }
}

void TZNTVirtualTable::ForEachCollection(const std::function<void(TZNTConfigObjectsBase&)>& f) {
  TZNTPrivilegedSchemaObject::ForEachCollection(f);
  f(columns);
  f(indexes);
  f(triggers);
}

int32_t TZNTBaseTable::RowSizeFor(const TZNTVirtualTable& table) {
  int64_t size = 17;
  for (const TZNTColumn& c : table.columns) size += c.SlotSize();
  return RoundUp8(size);
}

void TZNTBaseTable::SetIndexPageSize(int64_t n) noexcept { indexPageSize_ = RoundUp8(n); }
void TZNTBaseTable::SetBlobBlockSize(int64_t n) noexcept { blobBlockSize_ = RoundUp8(n); }
void TZNTBaseTable::SetPublishBlockSize(int64_t n) noexcept { publishBlockSize_ = RoundUp8(n); }
void TZNTBaseTable::SetMaxRowBufferSize(int64_t n) noexcept {
  maxRowBufferSize_ = std::max(Clamp32(n), kMinRowBufferSize);
}
void TZNTBaseTable::SetMaxIndexBufferSize(int64_t n) noexcept {
  maxIndexBufferSize_ = std::max(Clamp32(n), kMinIndexBufferSize);
}
void TZNTBaseTable::SetMaxBlobBufferSize(int64_t n) noexcept {
  maxBlobBufferSize_ = std::max(Clamp32(n), kMinBlobBufferSize);
}
void TZNTBaseTable::SetMaxPublishBufferSize(int64_t n) noexcept {
  maxPublishBufferSize_ = std::max(Clamp32(n), 0);
}

TZNTColumn* TZNTBaseTable::RowIdColumn() const noexcept {
  if (columns.Count() == 0) return nullptr;
  TZNTColumn& c = columns.At(0);
  return ZNTSameText(c.Name(), kZNTRowIdColumnName) ? &c : nullptr;
}

TZNTColumn& TZNTBaseTable::AddRowIdColumn(int32_t id) {
  assert(columns.Count() == 0);
  auto c = std::make_unique<TZNTColumn>();
  c->SetID(id);
  c->SetName(kZNTRowIdColumnName);
  c->SetType(TZNTDataType::Of(TZNTTypeCode::Integer));
  c->SetHidden(true);
  c->SetSystem(true);
  return columns.Add(std::move(c));
}

TZNTConstraint* TZNTBaseTable::PrimaryKey() const noexcept {
  for (TZNTConstraint& c : constraints)
    if (c.constraintType == TZNTConstraintType::PrimaryKey) return &c;
  return nullptr;
}

void TZNTBaseTable::Write(TZNTWriter& w) const {
  TZNTPrivilegedConfigObject::Write(w);
  columns.Write(w);
  indexes.Write(w);
  triggers.Write(w);
  w.WriteInt32(lockNumber);
  w.WriteInt32(internalVersion);
  w.WriteInt64(userVersion);
  w.WriteBoolean(encrypted);
  for (int32_t v : {rowSize_, indexPageSize_, blobBlockSize_, publishBlockSize_}) w.WriteInt32(v);
  constraints.Write(w);
  for (int32_t v : {maxRowBufferSize_, maxIndexBufferSize_, maxBlobBufferSize_,
                    maxPublishBufferSize_, publishCompression})
    w.WriteInt32(v);
  w.WriteBoolean(published);
  w.WriteInt64(publishTime);
  w.WriteString(publishId);
}

void TZNTBaseTable::Read(TZNTMetadataReader& r) {
  TZNTPrivilegedConfigObject::Read(r);
  columns.Read(r);
  // The row identifier is a system column again once read.
  if (TZNTColumn* rowId = RowIdColumn()) rowId->SetSystem(true);
  indexes.Read(r);
  if (r.Version() > kVersionTriggersMigrators)
    triggers.Read(r);
  else
    triggers.Read(r, 0);
  lockNumber = r.Int32();
  internalVersion = r.Int32();
  userVersion = r.Int64();
  encrypted = r.Boolean();
  for (int32_t* v : {&rowSize_, &indexPageSize_, &blobBlockSize_, &publishBlockSize_})
    *v = r.Int32();
  constraints.Read(r);
  for (int32_t* v : {&maxRowBufferSize_, &maxIndexBufferSize_, &maxBlobBufferSize_,
                     &maxPublishBufferSize_, &publishCompression})
    *v = r.Int32();
  published = r.Boolean();
  publishTime = r.Int64();
  publishId = r.String();
}

void TZNTBaseTable::ForEachCollection(const std::function<void(TZNTConfigObjectsBase&)>& f) {
  TZNTVirtualTable::ForEachCollection(f);
  f(constraints);
}

void TZNTBaseTable::Validate(TZNTMetadataReader& r) {
  const TZNTColumn* rowId = RowIdColumn();
  if (!rowId || rowId->type.code != TZNTTypeCode::Integer) r.Fail();
  if (rowSize_ != RowSizeFor(*this)) r.Fail();
  for (int32_t v : {indexPageSize_, blobBlockSize_, publishBlockSize_})
    if (v < 8 || v % 8 != 0) r.Fail();
  if (maxRowBufferSize_ < kMinRowBufferSize || maxIndexBufferSize_ < kMinIndexBufferSize ||
      maxBlobBufferSize_ < kMinBlobBufferSize || internalVersion < 1)
    r.Fail();
  TZNTVirtualTable::Validate(r);
}

void TZNTBaseTable::CheckInvariants() const {
#ifndef NDEBUG
  const TZNTColumn* rowId = RowIdColumn();
  assert(rowId && rowId->System() && rowId->Hidden());
  assert(rowSize_ == RowSizeFor(*this));
  assert(indexPageSize_ % 8 == 0 && blobBlockSize_ % 8 == 0 && publishBlockSize_ % 8 == 0);
  assert(maxRowBufferSize_ >= kMinRowBufferSize && maxBlobBufferSize_ >= kMinBlobBufferSize &&
         maxIndexBufferSize_ >= kMinIndexBufferSize);
  for (const TZNTConstraint& c : constraints) {
    if (!c.IsKey()) continue;
    const TZNTIndex* index = indexes.FindID(c.enforcingIndexId);
    assert(index && index->ownerConstraintId == c.ID());
    (void)index;
  }
  columns.CheckInvariants();
  indexes.CheckInvariants();
  triggers.CheckInvariants();
  constraints.CheckInvariants();
#endif
}

void TZNTView::Write(TZNTWriter& w) const {
  TZNTPrivilegedConfigObject::Write(w);
  columns.Write(w);
  w.WriteString(definition);
  w.WriteBoolean(updateable);
  w.WriteBoolean(withCheck);
}

void TZNTView::Read(TZNTMetadataReader& r) {
  TZNTPrivilegedConfigObject::Read(r);
  columns.Read(r);
  definition = r.String();
  updateable = r.Boolean();
  withCheck = r.Boolean();
}

void TZNTRoutineParam::Write(TZNTWriter& w) const {
  WriteCommon(w);
  w.WriteInt32(mode);
  WriteType(w, type, false, 0);
  w.WriteString(defaultValue);
}

void TZNTRoutineParam::Read(TZNTMetadataReader& r) {
  ReadCommon(r);
  mode = r.Int32();
  type = ReadType(r, false, nullptr);
  defaultValue = r.String();
}

void TZNTRoutine::Write(TZNTWriter& w) const {
  TZNTPrivilegedConfigObject::Write(w);
  w.WriteInt32(implementation);
  w.WriteString(definition);
  w.WriteString(moduleName);
  params.Write(w);
}

void TZNTRoutine::Read(TZNTMetadataReader& r) {
  TZNTPrivilegedConfigObject::Read(r);
  implementation = r.Int32();
  definition = r.String();
  moduleName = r.String();
  params.Read(r);
}

void TZNTRoutine::ForEachCollection(const std::function<void(TZNTConfigObjectsBase&)>& f) {
  TZNTPrivilegedSchemaObject::ForEachCollection(f);
  f(params);
}

void TZNTFunction::Write(TZNTWriter& w) const {
  TZNTRoutine::Write(w);
  WriteType(w, resultType, false, 0);
}

void TZNTFunction::Read(TZNTMetadataReader& r) {
  TZNTRoutine::Read(r);
  resultType = ReadType(r, false, nullptr);
}

TZNTVirtualTable* TZNTSchema::FindTable(std::string_view name) const noexcept {
  if (TZNTBaseTable* t = baseTables.Find(name)) return t;
  return views.Find(name);
}

void TZNTSchema::Write(TZNTWriter& w) const {
  TZNTPrivilegedConfigObject::Write(w);
  baseTables.Write(w);
  views.Write(w);
  procedures.Write(w);
  functions.Write(w);
}

void TZNTSchema::Read(TZNTMetadataReader& r) {
  TZNTPrivilegedConfigObject::Read(r);
  baseTables.Read(r);
  views.Read(r);
  procedures.Read(r);
  functions.Read(r);
}

void TZNTSchema::ForEachCollection(const std::function<void(TZNTConfigObjectsBase&)>& f) {
  TZNTPrivilegedCatalogObject::ForEachCollection(f);
  f(baseTables);
  f(views);
  f(procedures);
  f(functions);
}

// ---------------------------------------------------------------------------
// Roots

int32_t TZNTMetadataRoot::NewObjectID() {
  for (;;) {
    const int32_t id = nextId_;
    nextId_ = id >= INT32_MAX || id < 1 ? 1 : id + 1;
    if (id >= 1 && !IDInUse(id)) return id;
  }
}

bool TZNTMetadataRoot::IDInUse(int32_t id) {
  if (ID() == id) return true;
  bool used = false;
  ForEachObject([&](TZNTConfigObject& o) { used = used || o.ID() == id; });
  return used;
}

void TZNTMetadataRoot::ForEachObject(const std::function<void(TZNTConfigObject&)>& f) {
  std::function<void(TZNTConfigObject&)> walk = [&](TZNTConfigObject& parent) {
    parent.ForEachCollection([&](TZNTConfigObjectsBase& c) {
      for (int i = 0; i < c.Count(); ++i) {
        f(c.ObjectAt(i));
        walk(c.ObjectAt(i));
      }
    });
  };
  walk(*this);
}

bool TZNTMetadataRoot::HoldsStoredObjects() {
  bool any = false;
  ForEachCollection([&](TZNTConfigObjectsBase& c) {
    for (int i = 0; i < c.Count(); ++i) any = any || c.ObjectAt(i).Stored();
  });
  return any;
}

void TZNTMetadataRoot::ValidateTree(TZNTMetadataReader& r) {
  if (nextId_ < 1) r.Fail();
  std::unordered_set<int32_t> ids{ID()};
  bool ok = true;
  ForEachObject([&](TZNTConfigObject& o) {
    if (!o.Loaded()) return;  // built in, not from the file
    if (o.ID() < 1 || !ids.insert(o.ID()).second) ok = false;
  });
  if (!ok) r.Fail();
  Validate(r);
}

void TZNTMetadataRoot::CheckInvariants() {
#ifndef NDEBUG
  std::function<void(TZNTConfigObject&)> check = [&](TZNTConfigObject& o) {
    if (o.Kind() == TZNTObjectKind::BaseTable) static_cast<TZNTBaseTable&>(o).CheckInvariants();
    o.ForEachCollection([&](TZNTConfigObjectsBase& c) {
      c.CheckInvariants();
      for (int i = 0; i < c.Count(); ++i) check(c.ObjectAt(i));
    });
  };
  check(*this);
#endif
}

void TZNTMetadataRoot::WriteRoot(TZNTWriter& w) const {
  w.WriteInt64(version);
  w.WriteInt32(nextId_);
}

void TZNTMetadataRoot::ReadRoot(TZNTMetadataReader& r) {
  version = r.Int64();
  r.SetVersion(version);
  nextId_ = r.Int32();
}

namespace {

template <class T>
T& AddSystem(TZNTMetadataRoot& root, TZNTConfigObjects<T>& into, std::string_view name,
             std::string_view description) {
  auto o = std::make_unique<T>();
  o->SetID(root.NewSystemID());
  o->SetName(name);
  o->SetDescription(description);
  o->SetSystem(true);
  return into.Add(std::move(o));
}

std::vector<TZNTDataType> BuiltInDataTypes() {
  std::vector<TZNTDataType> types = {
      TZNTDataType::VarChar(1), TZNTDataType::FixedChar(1), TZNTDataType::Guid(),
      TZNTDataType::VarByte(1), TZNTDataType::FixedByte(1), TZNTDataType::Blob(),
      TZNTDataType::Clob(),
  };
  for (TZNTTypeCode c : {TZNTTypeCode::Boolean, TZNTTypeCode::SmallInt, TZNTTypeCode::Integer,
                         TZNTTypeCode::BigInt, TZNTTypeCode::Float, TZNTTypeCode::Decimal,
                         TZNTTypeCode::Date, TZNTTypeCode::Time, TZNTTypeCode::Timestamp})
    types.push_back(TZNTDataType::Of(c));
  for (uint8_t f : {kIntervalYear, kIntervalYearToMonth, kIntervalMonth})
    types.push_back(TZNTDataType::Interval(TZNTTypeCode::YearMonthInterval, f));
  // Every day-time range: all the field bits from its first field to its last.
  const uint8_t fields[] = {kIntervalDay, kIntervalHour, kIntervalMinute, kIntervalSecond,
                            kIntervalMSecond};
  for (int first = 0; first < 5; ++first) {
    uint8_t bits = 0;
    for (int last = first; last < 5; ++last) {
      bits |= fields[last];
      types.push_back(TZNTDataType::Interval(TZNTTypeCode::DayTimeInterval, bits));
    }
  }
  return types;
}

}  // namespace

TZNTConfig::TZNTConfig()
    : TZNTMetadataRoot(TZNTObjectKind::Configuration),
      dataTypes(*this),
      collations(*this),
      modules(*this),
      textFilters(*this),
      wordGenerators(*this),
      migrators(*this),
      users(*this),
      roles(*this),
      databases(*this),
      jobs(*this),
      stores(*this) {
  SetID(1);
  version = kEngineVersion;
  for (const TZNTDataType& t : BuiltInDataTypes()) {
    const std::string name = TypeName(t);
    AddSystem(*this, dataTypes, name, name + " data type").type = t;
  }
  for (const TZNTCollationInfo& c : AvailableCollations())
    AddSystem(*this, collations, c.name, c.description).collationId = c.id;
  AddSystem(*this, wordGenerators, kZNTDefaultWordGeneratorName, "Default Word Generator");
  TZNTUser& system = AddSystem(*this, users, kZNTSystemUserName, "System User");
  system.loginDisabled = true;
  AddSystem(*this, roles, kZNTAdminRoleName, "Administrators Role");
  AddSystem(*this, roles, kZNTPublicRoleName, "Public Role");
  TZNTDatabaseContainer& db =
      AddSystem(*this, databases, kZNTConfigDatabaseName, "Configuration Database");
  db.SetReadOnly(true);
  db.SetInMemory(true);
  db.creator = kZNTSystemUserName;
  TZNTPrivilege& grant = AddSystem(*this, db.privileges, kZNTPublicRoleName, "");
  grant.privileges = TZNTPrivilege::kAll;
  grant.grantedBy = kZNTSystemUserName;
}

std::unique_ptr<TZNTUser> TZNTConfig::NewUser(std::string_view name, std::string_view password) {
  auto u = std::make_unique<TZNTUser>();
  u->SetName(name);
  u->SetID(NewObjectID());
  u->password.assign(password);
  u->lockNumber = users.LowestFreeNumber(
      [](const TZNTConfigObject& o) { return static_cast<const TZNTUser&>(o).lockNumber; });
  return u;
}

bool TZNTConfig::IsAdministrator(std::string_view userName) const noexcept {
  const TZNTUser* u = users.Find(userName);
  if (!u) return false;
  return ZNTSameText(u->Name(), kZNTSystemUserName) || u->HasRole(kZNTAdminRoleName);
}

void TZNTConfig::AddInitialObjects() {
  std::unique_ptr<TZNTUser> admin = NewUser(kZNTAdminUserName, kZNTAdminPassword);
  admin->SetDescription("Administrator User");
  auto role = std::make_unique<TZNTUserRole>();
  role->SetName(kZNTAdminRoleName);
  role->SetID(NewObjectID());
  role->grantedBy = kZNTSystemUserName;
  admin->roles.Add(std::move(role));
  users.Add(std::move(admin));
}

std::unique_ptr<TZNTMetadataRoot> TZNTConfig::NewEmpty() const {
  return std::make_unique<TZNTConfig>();
}

void TZNTConfig::Write(TZNTWriter& w) const {
  WriteRoot(w);
  textFilters.Write(w);
  wordGenerators.Write(w);
  migrators.Write(w);
  users.Write(w);
  roles.Write(w);
  databases.Write(w);
  jobs.Write(w);
  stores.Write(w);
}

void TZNTConfig::Read(TZNTMetadataReader& r) {
  ReadRoot(r);
  textFilters.Read(r);
  wordGenerators.Read(r);
  if (r.Version() > kVersionTriggersMigrators)
    migrators.Read(r);
  else
    migrators.Read(r, 0);
  users.Read(r);
  roles.Read(r);
  databases.Read(r);
  jobs.Read(r);
  if (r.Version() >= kVersionStores)
    stores.Read(r);
  else
    stores.Read(r, 0);
}

void TZNTConfig::ForEachCollection(const std::function<void(TZNTConfigObjectsBase&)>& f) {
  for (TZNTConfigObjectsBase* c : std::initializer_list<TZNTConfigObjectsBase*>{
           &dataTypes, &collations, &modules, &textFilters, &wordGenerators, &migrators, &users,
           &roles, &databases, &jobs, &stores})
    f(*c);
}

TZNTCatalog::TZNTCatalog() : TZNTMetadataRoot(TZNTObjectKind::Catalog), schemas(*this) {
  SetID(1);
  version = kEngineVersion;
  TZNTSchema& info = AddSystem(*this, schemas, kZNTInformationSchemaName, "Information Schema");
  info.creator = kZNTSystemUserName;
  info.SetReadOnly(true);
  information_ = &info;
  AddSystemTables(*this, info, InformationTableDefs());
}

void TZNTCatalog::AddInitialObjects() {
  auto s = std::make_unique<TZNTSchema>();
  s->SetName(kZNTDefaultSchemaName);
  s->SetDescription("Default Schema");
  s->SetID(NewObjectID());
  s->creator = kZNTSystemUserName;
  schemas.Add(std::move(s));
}

std::unique_ptr<TZNTMetadataRoot> TZNTCatalog::NewEmpty() const {
  return std::make_unique<TZNTCatalog>();
}

void TZNTCatalog::AfterLoad() {
  for (TZNTSchema& s : schemas) {
    for (TZNTBaseTable& t : s.baseTables) t.RefreshBindColumns();
    for (TZNTView& v : s.views) v.RefreshBindColumns();
  }
}

void TZNTCatalog::Write(TZNTWriter& w) const {
  WriteRoot(w);
  schemas.Write(w);
}

void TZNTCatalog::Read(TZNTMetadataReader& r) {
  ReadRoot(r);
  schemas.Read(r);
}

void TZNTCatalog::ForEachCollection(const std::function<void(TZNTConfigObjectsBase&)>& f) {
  f(schemas);
}

// ---------------------------------------------------------------------------
// System tables

const std::vector<TZNTSystemTableDef>& InformationTableDefs() {
  static const std::vector<TZNTSystemTableDef> defs = {
      {"Tables",
       "*Name,Description:M,Version:D,Encrypted:B,RowSize:I,IndexPageSize:I,BlobBlockSize:I,"
       "PublishBlockSize:I,PublishCompression:I,MaxRowBufferSize:I,MaxIndexBufferSize:I,"
       "MaxBlobBufferSize:I,MaxPublishBufferSize:I,Published:B,PublishedOn:T,PublishID:V60"},
      {"TemporaryTables",
       "*Name,Description:M,Version:D,Encrypted:B,RowSize:I,IndexPageSize:I,BlobBlockSize:I,"
       "MaxRowBufferSize:I,MaxIndexBufferSize:I,MaxBlobBufferSize:I"},
      {"TablePrivileges", "*Name,Privilege,*GrantedTo,GrantedBy"},
      {"TableColumns",
       "*TableName,*Name,Description:M,Type:V30,Collation,Length:I,Precision:I,Scale:I,"
       "BlobCompression:I,Nullable:B,Generated:B,GeneratedWhen:V15,GenerateExpr:M,Identity:B,"
       "IdentitySeed:I,IdentityIncrement:I,Computed:B,ComputeExpr:M,DefaultExpr:M,OrdinalPos:I"},
      {"Constraints",
       "*TableName,*Name,Description:M,Type,EnforcingIndex,TargetTable,TargetTableConstraint,"
       "UpdateAction,DeleteAction,CheckExpr:M"},
      {"ConstraintColumns", "*TableName,*ConstraintName,ColumnName,OrdinalPos:I"},
      {"Indexes",
       "*TableName,*Name,Description:M,Type:V15,OwnerConstraint,IndexedWordLength:I,"
       "FilterTypeColumn,WordGenerator"},
      {"IndexColumns", "*TableName,*IndexName,ColumnName,Descending:B,Collation,OrdinalPos:I"},
      {"Triggers",
       "*TableName,*Name,Description:M,ActionTime,ActionType,Condition:M,Definition:M,"
       "OrdinalPos:I"},
      {"TriggerColumns", "*TableName,*TriggerName,ColumnName,OrdinalPos:I"},
      {"Views", "*Name,Description:M,Definition:M,Updateable:B,WithCheck:B"},
      {"TemporaryViews", "*Name,Description:M,Definition:M,Updateable:B"},
      {"ViewPrivileges", "*Name,Privilege,*GrantedTo,GrantedBy"},
      {"ViewColumns",
       "*ViewName,*Name,Origin,Type:V30,Collation,Length:I,Precision:I,Scale:I,OrdinalPos:I"},
      {"Procedures", "*Name,Description:M,Implementation,Definition:M,ModuleName,NumParams:I"},
      {"ProcedurePrivileges", "*Name,Privilege,*GrantedTo,GrantedBy"},
      {"ProcedureParams",
       "*ProcedureName,*Name,Description:M,Mode,Type:V30,Collation,Length:I,Precision:I,Scale:I,"
       "OrdinalPos:I"},
      {"Functions",
       "*Name,Description:M,Implementation,Definition:M,ModuleName,NumParams:I,Type:V30,"
       "Collation,Length:I,Precision:I,Scale:I"},
      {"FunctionPrivileges", "*Name,Privilege,*GrantedTo,GrantedBy"},
      {"FunctionParams",
       "*FunctionName,*Name,Description:M,Mode,Type:V30,Collation,Length:I,Precision:I,Scale:I,"
       "OrdinalPos:I"},
  };
  return defs;
}

const std::vector<TZNTSystemTableDef>& ConfigurationTableDefs() {
  static const std::vector<TZNTSystemTableDef> defs = {
      {"DataTypes", "*Name,Description:M"},
      {"Collations", "*Name,Description:M"},
      {"Modules", "*Name,Description:M,Version:D,ModuleName:P,Type"},
      {"TextFilters", "*Name,Description:M,Type,ModuleName:P"},
      {"WordGenerators", "*Name,Description:M,ModuleName:P"},
      {"Migrators", "*Name,Description:M,ModuleName:P"},
      {"MigratorParams",
       "*MigratorName,*Name,Mode,Type:V30,Collation,Length:I,Precision:I,Scale:I,DefaultValue:M,"
       "OrdinalPos:I"},
      {"LogEvents",
       "Category,Function,ErrorCode:I,Description:M,LogTimeStamp:T,Version:D,Build:I,ProductType,"
       "User,Process,ThreadID:I,SessionID:I,SessionName,SessionDescription:M,IPAddress,"
       "Encrypted:B"},
      {"Backups",
       "*Name,Description:M,DatabaseName,DatabasePath:P,CreatedOn:T,CreatedBy,CompressionLevel:I,"
       "Size:G,IncludesCatalog:B,NumTables:I,Tables:M"},
      {"ServerSessions",
       "ID:I,*Name,Description:M,Created:T,LastConnected:T,Connected:B,Encrypted:B,IPAddress,"
       "User,Process"},
      {"ServerSessionLocks",
       "SessionID:I,*SessionName,DatabaseName,ObjectName,ObjectType,LockType,Number:I"},
      {"ServerSessionStatistics",
       "SessionID:I,*SessionName,DatabaseName,TableName,BufferMgr,MaxBufferSize:I,"
       "CurrentBufferSize:I,Hits:G,Misses:G,HitRatio:F,Reads:G,BytesRead:G,Writes:G,"
       "BytesWritten:G"},
      {"Updates",
       "*Name,Description:M,DatabaseName,DatabasePath:P,CreatedOn:T,CreatedBy,CompressionLevel:I,"
       "Size:G,NumTables:I,Tables:M"},
      {"Users", "*Name,Password,Description:M"},
      {"Roles", "*Name,Description:M"},
      {"UserRoles", "*Name,*GrantedTo,GrantedBy"},
      {"Databases", "*Name,Description:M,Path:P,InMemory:B,EncryptedCatalog:B"},
      {"DatabasePrivileges", "*Name,Privilege,*GrantedTo,GrantedBy"},
      {"Jobs",
       "*Name,Description:M,Category,UserName,StartDate:DA,EndDate:DA,Type,Interval:I,Days,"
       "DayNumber:I,DayOfMonth:I,Months,StartTime:TI,EndTime:TI,Definition:M,LastRun:T"},
      {"Stores",
       "*Name,Description:M,Type,Path:P,Address,Host,Port:I,Service,UserName,Password,"
       "RemoteStore,Signature,Encrypted:B,EncryptionPassword,Compression:I,Timeout:I,Ping:B,"
       "PingInterval:I"},
      {"Files", "*Name,CreatedOn:T,Size:G"},
      {"StorePrivileges", "*Name,Privilege,*GrantedTo,GrantedBy"},
  };
  return defs;
}

namespace {

TZNTDataType SystemColumnType(std::string_view code) {
  if (code.empty()) return TZNTDataType::VarChar(40);
  if (code == "M") return TZNTDataType::Clob();
  if (code == "B") return TZNTDataType::Of(TZNTTypeCode::Boolean);
  if (code == "I") return TZNTDataType::Of(TZNTTypeCode::Integer);
  if (code == "G") return TZNTDataType::Of(TZNTTypeCode::BigInt);
  if (code == "F") return TZNTDataType::Of(TZNTTypeCode::Float);
  if (code == "D") return TZNTDataType::Decimal(2);
  if (code == "DA") return TZNTDataType::Of(TZNTTypeCode::Date);
  if (code == "TI") return TZNTDataType::Of(TZNTTypeCode::Time);
  if (code == "T") return TZNTDataType::Of(TZNTTypeCode::Timestamp);
  if (code == "P") return TZNTDataType::VarChar(kMaxCharSize);
  assert(code[0] == 'V');
  return TZNTDataType::VarChar(std::stoi(std::string(code.substr(1))));
}

}  // namespace

void AddSystemTables(TZNTMetadataRoot& root, TZNTSchema& schema,
                     const std::vector<TZNTSystemTableDef>& defs) {
  for (const TZNTSystemTableDef& def : defs) {
    auto t = std::make_unique<TZNTBaseTable>();
    t->SetID(root.NewSystemID());
    t->SetName(def.name);
    t->SetSystem(true);
    t->SetTemporary(true);
    t->SetReadOnly(true);
    t->creator = kZNTSystemUserName;
    t->SetMaxRowBufferSize(4096);
    t->SetMaxIndexBufferSize(8192);
    t->SetMaxBlobBufferSize(4096);
    t->SetBlobBlockSize(64);
    t->AddRowIdColumn(root.NewSystemID());
    std::vector<const TZNTColumn*> keys;
    std::string_view rest = def.columns;
    while (!rest.empty()) {
      size_t comma = rest.find(',');
      std::string_view item = rest.substr(0, comma);
      rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
      const bool key = item[0] == '*';
      if (key) item.remove_prefix(1);
      size_t colon = item.find(':');
      auto c = std::make_unique<TZNTColumn>();
      c->SetID(root.NewSystemID());
      c->SetName(item.substr(0, colon));
      c->SetType(SystemColumnType(colon == std::string_view::npos ? std::string_view()
                                                                  : item.substr(colon + 1)));
      c->SetSystem(true);
      TZNTColumn& added = t->columns.Add(std::move(c));
      if (key) keys.push_back(&added);
    }
    for (const TZNTColumn* k : keys) {
      auto index = std::make_unique<TZNTIndex>();
      index->SetID(root.NewSystemID());
      index->SetName(k->Name());
      index->SetSystem(true);
      auto ic = std::make_unique<TZNTIndexColumn>();
      ic->SetID(root.NewSystemID());
      ic->SetName(k->Name());
      ic->columnId = k->ID();
      ic->collation = k->type.collation;
      ic->SetSystem(true);
      index->columns.Add(std::move(ic));
      t->indexes.Add(std::move(index));
    }
    t->UpdateRowSize();
    t->RefreshBindColumns();
    schema.baseTables.Add(std::move(t));
  }
}

// ---------------------------------------------------------------------------
// TZNTMetadataReader

TZNTMetadataReader::TZNTMetadataReader(std::string_view body, std::string kindWord,
                                       std::string objectName, std::string notReadDetail)
    : body_(body),
      kindWord_(std::move(kindWord)),
      objectName_(std::move(objectName)),
      notReadDetail_(std::move(notReadDetail)) {}

const unsigned char* TZNTMetadataReader::Take(size_t n) {
  if (body_.size() - pos_ < n) Fail();
  const auto* p = reinterpret_cast<const unsigned char*>(body_.data() + pos_);
  pos_ += n;
  return p;
}

int32_t TZNTMetadataReader::Int32() { return static_cast<int32_t>(LoadLE32(Take(4))); }
int64_t TZNTMetadataReader::Int64() { return static_cast<int64_t>(LoadLE64(Take(8))); }
bool TZNTMetadataReader::Boolean() { return *Take(1) != 0; }

std::string TZNTMetadataReader::String() {
  const uint32_t n = LoadLE32(Take(4));
  const unsigned char* p = Take(n);
  return std::string(reinterpret_cast<const char*>(p), n);
}

int32_t TZNTMetadataReader::Count() {
  const int32_t n = Int32();
  if (n < 0 || static_cast<size_t>(n) > (body_.size() - pos_) / 6) Fail();
  return n;
}

int32_t TZNTMetadataReader::PeekInt32() const {
  if (body_.size() - pos_ < 4) Fail();
  return static_cast<int32_t>(LoadLE32(body_.data() + pos_));
}

void TZNTMetadataReader::CheckEnd() const {
  if (body_.size() - pos_ >= 8) Fail();
  for (size_t i = pos_; i < body_.size(); ++i)
    if (body_[i] != 0) Fail();
}

void TZNTMetadataReader::Fail() const {
  RaiseZNTError(err::Metadata, {kindWord_, objectName_, notReadDetail_});
}

// ---------------------------------------------------------------------------
// Container header

void TZNTContainerHeader::Encode(unsigned char* out) const noexcept {
  std::memset(out, 0, kZNTContainerHeaderSize);
  std::memcpy(out + kOffSignature, signatureDigest.data(), TZNTDigest::kSize);
  StoreLE32(out + kOffCharset, static_cast<uint32_t>(characterSet));
  out[kOffEncrypted] = encrypted ? 1 : 0;
  std::memcpy(out + kOffPassword, passwordDigest.data(), TZNTDigest::kSize);
  StoreLE32(out + kOffCounter, static_cast<uint32_t>(changeCounter));
  StoreLE32(out + kOffReserved, static_cast<uint32_t>(reserved));
  StoreLE32(out + kOffBodyLength, static_cast<uint32_t>(bodyLength));
}

TZNTContainerHeader TZNTContainerHeader::Decode(const unsigned char* in) noexcept {
  TZNTContainerHeader h;
  std::memcpy(h.signatureDigest.data(), in + kOffSignature, TZNTDigest::kSize);
  h.characterSet = static_cast<int32_t>(LoadLE32(in + kOffCharset));
  h.encrypted = in[kOffEncrypted] != 0;
  std::memcpy(h.passwordDigest.data(), in + kOffPassword, TZNTDigest::kSize);
  h.changeCounter = static_cast<int32_t>(LoadLE32(in + kOffCounter));
  h.reserved = static_cast<int32_t>(LoadLE32(in + kOffReserved));
  h.bodyLength = static_cast<int32_t>(LoadLE32(in + kOffBodyLength));
  return h;
}

int32_t NextChangeCounter(int32_t counter) noexcept {
  return counter >= INT32_MAX || counter < 0 ? 1 : counter + 1;
}

std::string JoinMetadataPath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
  path += name;
  return path;
}

// ---------------------------------------------------------------------------
// TZNTConfigObjectManager

struct TZNTConfigObjectManager::TImage {
  TZNTContainerHeader header;
  std::string body;  // deciphered, padding included
};

namespace {

// Releases a lock hook's lock when the scope ends.
class TLockScope {
 public:
  TLockScope(TZNTMetadataLocks* locks, void (TZNTMetadataLocks::*lock)(),
             void (TZNTMetadataLocks::*unlock)() noexcept)
      : locks_(locks), unlock_(unlock) {
    if (locks_) (locks_->*lock)();
  }
  ~TLockScope() {
    if (locks_) (locks_->*unlock_)();
  }
  TLockScope(const TLockScope&) = delete;
  TLockScope& operator=(const TLockScope&) = delete;

 private:
  TZNTMetadataLocks* locks_;
  void (TZNTMetadataLocks::*unlock_)() noexcept;
};

TLockScope WriteLockScope(TZNTMetadataLocks* locks) {
  return TLockScope(locks, &TZNTMetadataLocks::LockWrite, &TZNTMetadataLocks::UnlockWrite);
}

// The whole contents of an open stream.
std::string ReadAll(TZNTFileStream& s) {
  std::string bytes(static_cast<size_t>(s.Size()), '\0');
  size_t got = s.ReadAt(0, bytes.data(), bytes.size());
  bytes.resize(got);
  return bytes;
}

}  // namespace

TZNTConfigObjectManager::TZNTConfigObjectManager(TZNTFileManager& files, std::string path,
                                                 const TZNTMetadataSettings& settings,
                                                 std::string kindWord, std::string objectName,
                                                 std::string oldExtension)
    : files_(files),
      path_(std::move(path)),
      oldExtension_(std::move(oldExtension)),
      settings_(settings),
      kindWord_(std::move(kindWord)),
      objectName_(std::move(objectName)),
      cipher_(settings.passwordDigest) {}

TZNTConfigObjectManager::~TZNTConfigObjectManager() = default;

void TZNTConfigObjectManager::Init(std::unique_ptr<TZNTMetadataRoot> root, bool encrypted) {
  root_ = std::move(root);
  encrypted_ = encrypted;
}

bool TZNTConfigObjectManager::IsReadOnly() const {
  return root_->ReadOnly() || (stream_.IsOpen() && stream_.IsReadOnly());
}

void TZNTConfigObjectManager::RaiseMetadata(std::string_view detail) const {
  RaiseZNTError(err::Metadata, {kindWord_, objectName_, detail});
}

TZNTMetadataReader TZNTConfigObjectManager::MakeReader(std::string_view body) const {
  return TZNTMetadataReader(body, kindWord_, objectName_, NotReadDetail());
}

void TZNTConfigObjectManager::CheckHeader(const TZNTContainerHeader& h) const {
  if (encrypted_) {
    if (h.passwordDigest != settings_.passwordDigest) RaiseMetadata(detail::kEncryptionPassword);
    if (!h.encrypted) RaiseMetadata(detail::kEncryptionStatus);
  } else if (h.encrypted) {
    RaiseMetadata(detail::kEncryptionStatus);
  }
  if (h.characterSet != 0) RaiseMetadata(detail::kCharacterSet);
  if (h.signatureDigest != settings_.signatureDigest &&
      h.signatureDigest != settings_.defaultSignatureDigest)
    RaiseMetadata(detail::kSignature);
}

TZNTConfigObjectManager::TImage TZNTConfigObjectManager::ReadImage(TZNTFileStream& stream,
                                                                   bool headerOnly) {
  TImage image;
  unsigned char raw[kZNTContainerHeaderSize];
  if (stream.ReadAt(0, raw, sizeof raw) < sizeof raw) RaiseMetadata(NotReadDetail());
  const TZNTContainerHeader plain = TZNTContainerHeader::Decode(raw);
  const bool plainLooking = !plain.encrypted && plain.characterSet == 0 &&
                            (plain.signatureDigest == settings_.signatureDigest ||
                             plain.signatureDigest == settings_.defaultSignatureDigest);
  // A plain header is told apart before deciphering: deciphered under any
  // key it would read as noise and be blamed on the password, where its
  // flag tells the truth.
  if (encrypted_ && !plainLooking) {
    cipher_.Decrypt(raw, sizeof raw);
    image.header = TZNTContainerHeader::Decode(raw);
  } else {
    image.header = plain;
  }
  CheckHeader(image.header);
  if (headerOnly) return image;
  const int32_t length = image.header.bodyLength;
  if (length < 8 || length % 8 != 0 ||
      stream.Size() < kZNTContainerHeaderSize + static_cast<uint64_t>(length))
    RaiseMetadata(NotReadDetail());
  image.body.assign(static_cast<size_t>(length), '\0');
  if (stream.ReadAt(kZNTContainerHeaderSize, image.body.data(), image.body.size()) <
      image.body.size())
    RaiseMetadata(NotReadDetail());
  if (encrypted_) cipher_.Decrypt(image.body.data(), image.body.size());
  return image;
}

void TZNTConfigObjectManager::ParseAndApply(TImage& image) {
  if (beforeLoad_) beforeLoad_();
  TZNTMetadataReader r = MakeReader(image.body);
  r.onRemoved = onRemoved_;
  root_->Read(r);
  root_->AfterLoad();
  root_->CheckInvariants();
  counter_ = image.header.changeCounter;
  reserved_ = image.header.reserved;
  everLoaded_ = true;
  if (afterLoad_) afterLoad_();
}

void TZNTConfigObjectManager::Load(bool force) {
  // Reads and fully checks an image without touching the live tree; only
  // then is the live tree rebuilt, in place, from the same bytes.
  bool newer = false;
  auto check = [&](TImage& image) {
    if (TZNTReader(image.body).ReadInt64() > kEngineVersion) {
      newer = true;
      RaiseMetadata(detail::kNewerVersion);
    }
    std::unique_ptr<TZNTMetadataRoot> scratch = root_->NewEmpty();
    TZNTMetadataReader r = MakeReader(image.body);
    scratch->Read(r);
    r.CheckEnd();
    scratch->ValidateTree(r);
  };
  TImage image;
  bool mainHeaderRead = false;
  try {
    image = ReadImage(stream_, true);
    mainHeaderRead = true;
    if (!force && everLoaded_ && image.header.changeCounter == counter_) return;
    image = ReadImage(stream_, false);
    check(image);
  } catch (const EZNTException& e) {
    // A refusal of a newer engine's file is not damage: the copy must not
    // overwrite it. Other metadata errors are mended from the copy if it is
    // sound; otherwise the main file's error stands.
    if (newer || e.ErrorCode() != err::Metadata) throw;
    const EZNTException mainError = e;
    const int32_t mainCounter = mainHeaderRead ? image.header.changeCounter : 0;
    TImage old;
    try {
      if (!files_.FileExists(OldPath())) throw mainError;
      TZNTFileStream copy = files_.OpenFile(OldPath(), false, true);
      old = ReadImage(copy, false);
      check(old);
    } catch (const EZNTException&) {
      throw mainError;
    }
    old.header.changeCounter = NextChangeCounter(std::max(old.header.changeCounter, mainCounter));
    std::string outcome = "was restored from " + OldPath();
    try {
      TLockScope lock = WriteLockScope(locks_);
      reserved_ = old.header.reserved;
      WriteImage(stream_, old.body, old.header.changeCounter);
    } catch (const EZNTException& writeError) {
      outcome = "was read from " + OldPath() + " but could not be rewritten (" +
                writeError.ErrorMessage() + ")";
    }
    if (onWarning_)
      onWarning_("The " + kindWord_ + " " + objectName_ + " file " + path_ +
                 " could not be read (" + mainError.ErrorMessage() + ") and " + outcome);
    image = std::move(old);
  }
  ParseAndApply(image);
}

void TZNTConfigObjectManager::WriteImage(TZNTFileStream& stream, const std::string& plainBody,
                                         int32_t counter) {
  std::string body = plainBody;
  body.resize((body.size() + 7) / 8 * 8, '\0');
  if (body.empty()) body.assign(8, '\0');
  if (encrypted_) cipher_.Encrypt(body.data(), body.size());
  stream.SetSize(kZNTContainerHeaderSize);
  stream.WriteAt(kZNTContainerHeaderSize, body.data(), body.size());
  TZNTContainerHeader h;
  h.signatureDigest = settings_.signatureDigest;
  h.characterSet = 0;
  h.encrypted = encrypted_;
  h.passwordDigest = settings_.passwordDigest;
  h.changeCounter = counter;
  h.reserved = reserved_;
  h.bodyLength = static_cast<int32_t>(body.size());
  unsigned char raw[kZNTContainerHeaderSize];
  h.Encode(raw);
  if (encrypted_) cipher_.Encrypt(raw, sizeof raw);
  stream.WriteAt(0, raw, sizeof raw);
  stream.Flush();
  counter_ = counter;
}

void TZNTConfigObjectManager::WriteFile() {
  root_->CheckInvariants();
  root_->version = kEngineVersion;
  TZNTWriter w;
  root_->Write(w);
  TLockScope lock = WriteLockScope(locks_);
  if (stream_.Size() > 0) {
    const std::string previous = ReadAll(stream_);
    TZNTFileStream copy = files_.CreateFile(OldPath(), false, false);
    copy.WriteAt(0, previous.data(), previous.size());
    copy.Flush();
  }
  WriteImage(stream_, w.Buffer(), NextChangeCounter(counter_));
  everLoaded_ = true;
}

void TZNTConfigObjectManager::OpenMetadata() {
  assert(!IsOpen());
  auto openAndLoad = [&] {
    stream_ = files_.OpenFile(path_, false, false);
    try {
      TLockScope read(locks_, &TZNTMetadataLocks::LockRead, &TZNTMetadataLocks::UnlockRead);
      Load(true);
    } catch (...) {
      stream_.Close();
      throw;
    }
  };
  if (files_.FileExists(path_)) return openAndLoad();
  TLockScope transaction(locks_, &TZNTMetadataLocks::LockTransaction,
                         &TZNTMetadataLocks::UnlockTransaction);
  if (files_.FileExists(path_)) return openAndLoad();
  if (!root_->HoldsStoredObjects()) root_->AddInitialObjects();
  stream_ = files_.CreateFile(path_, false, false);
  try {
    counter_ = 0;
    reserved_ = 0;
    WriteFile();
  } catch (...) {
    stream_.Close();
    try {
      files_.DeleteFile(path_);
    } catch (const EZNTException&) {
    }
    throw;
  }
}

void TZNTConfigObjectManager::CloseMetadata() noexcept {
  assert(reads_ == 0 && !writing_);
  stream_.Close();
}

void TZNTConfigObjectManager::DeleteMetadata() {
  assert(IsOpen() && reads_ == 0 && !writing_);
  {
    TLockScope lock = WriteLockScope(locks_);
    const std::string previous = ReadAll(stream_);
    TZNTFileStream copy = files_.CreateFile(OldPath(), false, false);
    copy.WriteAt(0, previous.data(), previous.size());
    copy.Flush();
  }
  stream_.Close();
  files_.DeleteFile(path_);
}

void TZNTConfigObjectManager::BeginRead() {
  assert(IsOpen());
  if (reads_ == 0 && !writing_) {
    if (locks_) locks_->LockRead();
    try {
      Load(false);
    } catch (...) {
      if (locks_) locks_->UnlockRead();
      throw;
    }
  }
  ++reads_;
}

void TZNTConfigObjectManager::EndRead() noexcept {
  assert(reads_ > 0);
  if (--reads_ == 0 && !writing_ && locks_) locks_->UnlockRead();
}

void TZNTConfigObjectManager::BeginWrite() {
  assert(IsOpen() && !writing_ && reads_ == 0);
  if (IsReadOnly()) RaiseZNTError(err::Update, {kindWord_, objectName_, detail::kFileReadOnly});
  if (locks_) locks_->LockTransaction();
  try {
    Load(false);
  } catch (...) {
    if (locks_) locks_->UnlockTransaction();
    throw;
  }
  writing_ = true;
  changed_ = false;
}

void TZNTConfigObjectManager::CommitWrite() {
  assert(writing_);
  struct TEnd {
    TZNTConfigObjectManager& m;
    ~TEnd() {
      m.writing_ = false;
      m.changed_ = false;
      if (m.locks_) m.locks_->UnlockTransaction();
    }
  } end{*this};
  if (!changed_) return;
  try {
    WriteFile();
  } catch (...) {
    // The tree holds changes the file does not: go back to what the file
    // (or, after a torn write, its copy) holds.
    try {
      Load(true);
    } catch (const EZNTException&) {
    }
    throw;
  }
}

void TZNTConfigObjectManager::CancelWrite() {
  assert(writing_);
  struct TEnd {
    TZNTConfigObjectManager& m;
    ~TEnd() {
      m.writing_ = false;
      m.changed_ = false;
      if (m.locks_) m.locks_->UnlockTransaction();
    }
  } end{*this};
  Load(true);
}

void TZNTConfigObjectManager::CheckInvariants() const {
#ifndef NDEBUG
  assert(reads_ >= 0);
  assert(!writing_ || IsOpen());
  assert(!IsOpen() || everLoaded_);
#endif
}

TZNTConfigManager::TZNTConfigManager(TZNTFileManager& files, std::string_view folder,
                                     const TZNTMetadataSettings& settings,
                                     const TZNTMetadataFileName& file)
    : TZNTConfigObjectManager(files, JoinMetadataPath(folder, file.FileName()), settings,
                              "configuration", file.name, file.oldExtension) {
  Init(std::make_unique<TZNTConfig>(), true);
}

std::string TZNTConfigManager::NotReadDetail() const {
  return "The configuration was not read properly";
}

TZNTCatalogManager::TZNTCatalogManager(TZNTFileManager& files, std::string_view folder,
                                       const TZNTMetadataSettings& settings,
                                       std::string databaseName, bool encrypted,
                                       const TZNTMetadataFileName& file)
    : TZNTConfigObjectManager(files, JoinMetadataPath(folder, file.FileName()), settings,
                              "database", std::move(databaseName), file.oldExtension) {
  Init(std::make_unique<TZNTCatalog>(), encrypted);
}

std::string TZNTCatalogManager::NotReadDetail() const {
  return "The catalog was not read properly";
}

}  // namespace znt
