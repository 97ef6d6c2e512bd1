// The metadata object model and its files. The configuration (users, roles,
// databases and the lesser engine-wide kinds) and each database's catalog
// (schemas, tables, columns, indexes, constraints, triggers ...) are trees of
// TZNTConfigObject kept in owning, ordered collections, serialised into one
// container file each: a 56-byte header (digests, character set, encryption
// flag, change counter, body length) and a body zero-padded to a multiple of
// 8, both enciphered when the file is encrypted. TZNTConfigManager and
// TZNTCatalogManager own one tree each and keep it in step with its file:
// reload when the change counter moves, copy the file to ".Old" before every
// rewrite, and restore from that copy when the main file is damaged.
//
// Object IDs: objects created by the engine at every start (the system
// objects) take negative IDs, so they never collide with stored IDs, however
// far the counter of stored IDs has wrapped. The configuration and a catalog
// are object 1 of their own tree; stored objects take IDs from 2 on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/zntcrypto.h"
#include "base/znttype.h"
#include "sql/zntbind.h"
#include "storage/zntfilemgr.h"

namespace znt {

class TZNTWriter;
class TZNTMetadataReader;
class TZNTMetadataRoot;
class TZNTConfig;
class TZNTCatalog;

// ---------------------------------------------------------------------------
// Names, defaults and the settings the files depend on
// ---------------------------------------------------------------------------

inline constexpr std::string_view kZNTDefaultSignature = "rbz_aewwrecdk";
inline constexpr std::string_view kZNTDefaultEncryptionPassword = "mirthwandle";
inline constexpr std::string_view kZNTConfigName = "ZNTConfig";
inline constexpr std::string_view kZNTConfigExtension = ".ZNTCfg";
inline constexpr std::string_view kZNTCatalogName = "ZNTDatabase";
inline constexpr std::string_view kZNTCatalogExtension = ".ZNTCat";
inline constexpr std::string_view kZNTOldExtension = ".Old";
inline constexpr std::string_view kZNTSystemUserName = "System";
inline constexpr std::string_view kZNTAdminUserName = "Administrator";
inline constexpr std::string_view kZNTAdminPassword = "Quexpinado";
inline constexpr std::string_view kZNTAdminRoleName = "Administrators";
inline constexpr std::string_view kZNTPublicRoleName = "Public";
inline constexpr std::string_view kZNTConfigDatabaseName = "Configuration";
inline constexpr std::string_view kZNTDefaultWordGeneratorName = "Default";
inline constexpr std::string_view kZNTDefaultSchemaName = "Default";
inline constexpr std::string_view kZNTInformationSchemaName = "Information";
inline constexpr std::string_view kZNTRowIdColumnName = "__RowID";

// Longest name of an object that is not temporary.
inline constexpr size_t kZNTMaxNameLength = 40;
// Size of the container file header; the body starts here.
inline constexpr size_t kZNTContainerHeaderSize = 56;

// The digests a metadata file is checked against and written with, as the
// engine manager's settings hold them.
struct TZNTMetadataSettings {
  TZNTDigest::TValue signatureDigest{};         // the current signature
  TZNTDigest::TValue defaultSignatureDigest{};  // the default signature, always accepted
  TZNTDigest::TValue passwordDigest{};          // the encryption password; keys the cipher

  // The digests of `signature`, of the default signature and of `password`.
  static TZNTMetadataSettings For(std::string_view signature = kZNTDefaultSignature,
                                  std::string_view password = kZNTDefaultEncryptionPassword);
};

// Whether `name` is a valid object name: a letter or "_", then letters,
// digits, "_", "-" and blanks, not ending in a blank; at most 40 characters
// unless `temporary`.
bool IsValidObjectName(std::string_view name, bool temporary = false);

// ---------------------------------------------------------------------------
// Object kinds
// ---------------------------------------------------------------------------

enum class TZNTObjectKind : uint8_t {
  Configuration,
  Catalog,
  DataType,
  Collation,
  Module,
  TextFilter,
  WordGenerator,
  Migrator,
  Job,
  User,
  Role,
  UserRole,
  Privilege,
  Database,
  Store,
  Schema,
  BaseTable,
  View,
  Procedure,
  Function,
  RoutineParam,
  Column,
  Index,
  IndexColumn,
  Constraint,
  ConstraintColumn,
  SourceConstraint,
  TargetTableColumn,
  Trigger,
  TriggerColumn,
};

// The word messages use for a kind: "table", "column", "database" ...
std::string_view ObjectKindWord(TZNTObjectKind kind) noexcept;

// Where the lock manager attaches an object's lock state. The catalog never
// looks inside it; it lives as long as the object (a reload keeps it).
class TZNTLockAttachment {
 public:
  virtual ~TZNTLockAttachment() = default;
};

class TZNTConfigObjectsBase;

// ---------------------------------------------------------------------------
// TZNTConfigObject: the common part of every metadata object
// ---------------------------------------------------------------------------

// Stored: ID, name and description (named kinds only), hidden, read-only.
// Never stored: system, temporary, in-memory, loaded, previous name.
class TZNTConfigObject {
 public:
  explicit TZNTConfigObject(TZNTObjectKind kind) : kind_(kind) {}
  virtual ~TZNTConfigObject();
  TZNTConfigObject(const TZNTConfigObject&) = delete;
  TZNTConfigObject& operator=(const TZNTConfigObject&) = delete;

  TZNTObjectKind Kind() const noexcept { return kind_; }
  std::string_view KindWord() const noexcept { return ObjectKindWord(kind_); }
  // False only for the configuration and catalog themselves.
  bool IsNamed() const noexcept;

  int32_t ID() const noexcept { return id_; }
  void SetID(int32_t id) noexcept { id_ = id; }
  const std::string& Name() const noexcept { return name_; }
  // Raises error 406 "Invalid %s identifier '%s'" for an invalid name; keeps
  // the old name as the previous name.
  void SetName(std::string_view name);
  const std::string& PreviousName() const noexcept { return previousName_; }
  const std::string& Description() const noexcept { return description_; }
  void SetDescription(std::string_view text) { description_.assign(text); }

  bool Hidden() const noexcept { return hidden_; }
  void SetHidden(bool on) noexcept { hidden_ = on; }
  bool ReadOnly() const noexcept { return readOnly_; }
  void SetReadOnly(bool on) noexcept { readOnly_ = on; }
  // Created by the engine: never stored, never changed, dropped or granted.
  bool System() const noexcept { return system_; }
  void SetSystem(bool on) noexcept { system_ = on; }
  // Session-local: allowed longer names, never stored.
  bool Temporary() const noexcept { return temporary_; }
  void SetTemporary(bool on) noexcept { temporary_ = on; }
  bool InMemory() const noexcept { return inMemory_; }
  void SetInMemory(bool on) noexcept { inMemory_ = on; }
  // Read from a file at least once.
  bool Loaded() const noexcept { return loaded_; }

  // Raises error 200 "This operation cannot be performed on the system %s %s
  // ..." for a system object; DDL calls it before changing an object.
  void CheckChangeable() const;

  // Whether a collection writes this member: not for system or temporary
  // objects, except the kinds that say otherwise.
  virtual bool Stored() const noexcept { return !system_ && !temporary_; }

  // The object whose collection holds this one (null for a root or an object
  // not yet added).
  TZNTConfigObject* Owner() const noexcept { return owner_; }
  // The configuration or catalog at the top of the tree, or null.
  TZNTMetadataRoot* Root() const noexcept;

  // The lock manager's per-object state; null until attached.
  TZNTLockAttachment* LockState() const noexcept { return lockState_.get(); }
  void AttachLockState(std::unique_ptr<TZNTLockAttachment> state) noexcept {
    lockState_ = std::move(state);
  }

  // Serialises the object: the common part, then the kind's fields.
  virtual void Write(TZNTWriter& w) const;
  // Reads what Write wrote, in place: fields are replaced, members of owned
  // collections are matched by ID. Raises error 100 on a malformed body.
  virtual void Read(TZNTMetadataReader& r);

  // Calls `f` for each owned collection.
  virtual void ForEachCollection(const std::function<void(TZNTConfigObjectsBase&)>& f);
  // Checks what a loaded object must satisfy beyond its collection's rules
  // (references between objects, type codes); raises through `r.Fail()`.
  virtual void Validate(TZNTMetadataReader& r);

 protected:
  void WriteCommon(TZNTWriter& w) const;
  void ReadCommon(TZNTMetadataReader& r);

 private:
  friend class TZNTConfigObjectsBase;
  TZNTObjectKind kind_;
  int32_t id_ = 0;
  std::string name_;
  std::string description_;
  bool hidden_ = false;
  bool readOnly_ = false;
  bool system_ = false;
  bool temporary_ = false;
  bool inMemory_ = false;
  bool loaded_ = false;
  std::string previousName_;
  TZNTConfigObject* owner_ = nullptr;
  std::unique_ptr<TZNTLockAttachment> lockState_;
};

// ---------------------------------------------------------------------------
// Collections
// ---------------------------------------------------------------------------

// The kind-independent part of an owning, ordered collection; members keep
// the order in which they were added (or read).
//
// Invariants (CheckInvariants):
//  1. member IDs are unique and not 0;
//  2. member names are valid and unique without regard to case;
//  3. every member's owner is the collection's owner.
class TZNTConfigObjectsBase {
 public:
  explicit TZNTConfigObjectsBase(TZNTConfigObject& owner) : owner_(owner) {}
  virtual ~TZNTConfigObjectsBase();
  TZNTConfigObjectsBase(const TZNTConfigObjectsBase&) = delete;
  TZNTConfigObjectsBase& operator=(const TZNTConfigObjectsBase&) = delete;

  int Count() const noexcept { return static_cast<int>(items_.size()); }
  TZNTConfigObject& ObjectAt(int index) const { return *items_[index]; }
  // The member named so (case ignored), or null.
  TZNTConfigObject* FindObject(std::string_view name) const noexcept;
  TZNTConfigObject* FindObjectID(int32_t id) const noexcept;
  // The member's position, or -1.
  int IndexOf(const TZNTConfigObject& object) const noexcept;
  // Members a file holds (Stored()).
  int StoredCount() const noexcept;
  // The lowest positive `number(member)` not taken by any member.
  int32_t LowestFreeNumber(const std::function<int32_t(const TZNTConfigObject&)>& number) const;

  // Writes the count of stored members, then each.
  void Write(TZNTWriter& w) const;
  // Reads a count and that many members, reusing the members whose ID
  // matches (updated in place) and creating the others; stored members not
  // in the file are removed after r's removal hook has seen them. Members
  // a file does not hold (system and temporary ones) stay, ahead of the
  // ones read.
  void Read(TZNTMetadataReader& r);
  // As Read with `count` members whose count is not in the body; 0 drops
  // every stored member, for a collection an older file does not hold.
  void Read(TZNTMetadataReader& r, int32_t count);
  // Checks the invariants for loaded members through `r.Fail()` and
  // validates each member.
  void Validate(TZNTMetadataReader& r);

  void CheckInvariants() const;

 protected:
  // Adds `object` at the end. Raises error 400 "The %s %s already exists"
  // when the name is taken.
  TZNTConfigObject& AddObject(std::unique_ptr<TZNTConfigObject> object);
  // Takes a member out; error 200 for a system member.
  std::unique_ptr<TZNTConfigObject> RemoveObject(const TZNTConfigObject& object);
  // A new, empty member for Read.
  virtual std::unique_ptr<TZNTConfigObject> NewMember() const = 0;

 private:
  TZNTConfigObject& owner_;
  std::vector<std::unique_ptr<TZNTConfigObject>> items_;
};

// A collection of one kind, T deriving from TZNTConfigObject.
template <class T>
class TZNTConfigObjects : public TZNTConfigObjectsBase {
 public:
  using TZNTConfigObjectsBase::TZNTConfigObjectsBase;

  T& At(int index) const { return static_cast<T&>(ObjectAt(index)); }
  T* Find(std::string_view name) const noexcept { return static_cast<T*>(FindObject(name)); }
  T* FindID(int32_t id) const noexcept { return static_cast<T*>(FindObjectID(id)); }
  // Adds at the end; error 400 when the name is taken.
  T& Add(std::unique_ptr<T> object) { return static_cast<T&>(AddObject(std::move(object))); }
  // Takes a member out and hands it back; error 200 for a system member.
  std::unique_ptr<T> Remove(const T& object) {
    return std::unique_ptr<T>(static_cast<T*>(RemoveObject(object).release()));
  }

  // Iteration over the members as T&.
  class Iterator {
   public:
    Iterator(const TZNTConfigObjects* c, int i) : c_(c), i_(i) {}
    T& operator*() const { return c_->At(i_); }
    Iterator& operator++() {
      ++i_;
      return *this;
    }
    bool operator!=(const Iterator& o) const { return i_ != o.i_; }

   private:
    const TZNTConfigObjects* c_;
    int i_;
  };
  Iterator begin() const { return Iterator(this, 0); }
  Iterator end() const { return Iterator(this, Count()); }

 protected:
  std::unique_ptr<TZNTConfigObject> NewMember() const override { return std::make_unique<T>(); }
};

// ---------------------------------------------------------------------------
// Built-in kinds (never stored) and the lesser configuration kinds
// ---------------------------------------------------------------------------

// A data type as the DataTypes system table lists it. Named so because
// base/znttype.h's TZNTDataType is the type descriptor itself.
class TZNTDataTypeObject : public TZNTConfigObject {
 public:
  TZNTDataTypeObject() : TZNTConfigObject(TZNTObjectKind::DataType) {}
  TZNTDataType type;
};

class TZNTCollation : public TZNTConfigObject {
 public:
  TZNTCollation() : TZNTConfigObject(TZNTObjectKind::Collation) {}
  uint32_t collationId = 0;
};

// An external module (filters, generators, migrators, routines). None is
// built in; the kind exists for the Modules system table.
class TZNTModule : public TZNTConfigObject {
 public:
  TZNTModule() : TZNTConfigObject(TZNTObjectKind::Module) {}
  int64_t version = 0;
  std::string moduleName;
  int32_t moduleType = 0;
};

// Stored: common part; type (4); module name.
class TZNTTextFilter : public TZNTConfigObject {
 public:
  TZNTTextFilter() : TZNTConfigObject(TZNTObjectKind::TextFilter) {}
  int32_t filterType = 0;
  std::string moduleName;
  void Write(TZNTWriter& w) const override;
  void Read(TZNTMetadataReader& r) override;
};

// Stored: common part; module name (empty for the built-in "Default").
class TZNTWordGenerator : public TZNTConfigObject {
 public:
  TZNTWordGenerator() : TZNTConfigObject(TZNTObjectKind::WordGenerator) {}
  std::string moduleName;
  void Write(TZNTWriter& w) const override;
  void Read(TZNTMetadataReader& r) override;
};

// Stored: common part; module name.
class TZNTMigrator : public TZNTConfigObject {
 public:
  TZNTMigrator() : TZNTConfigObject(TZNTObjectKind::Migrator) {}
  std::string moduleName;
  void Write(TZNTWriter& w) const override;
  void Read(TZNTMetadataReader& r) override;
};

// A scheduled job. Stored: common part; category, user name; start and end
// date (4 each, day numbers); type, interval, days, day number, day of month,
// months (4 each); start and end time (4 each, milliseconds); definition;
// last run (8, timestamp).
class TZNTJob : public TZNTConfigObject {
 public:
  TZNTJob() : TZNTConfigObject(TZNTObjectKind::Job) {}
  std::string category, userName;
  int32_t startDate = 0, endDate = 0;
  int32_t jobType = 0, interval = 0, days = 0, dayNumber = 0, dayOfMonth = 0, months = 0;
  int32_t startTime = 0, endTime = 0;
  std::string definition;
  int64_t lastRun = 0;
  void Write(TZNTWriter& w) const override;
  void Read(TZNTMetadataReader& r) override;
};

// A grant of privileges on the owning object to the user or role named by
// the object's name. Stored: common part; privilege bits (4); granted by.
class TZNTPrivilege : public TZNTConfigObject {
 public:
  // Privilege bits.
  static constexpr int32_t kCreate = 1, kAlter = 2, kDrop = 4, kSelect = 8, kInsert = 16,
                           kUpdate = 32, kDelete = 64, kExecute = 128, kAll = 255;
  TZNTPrivilege() : TZNTConfigObject(TZNTObjectKind::Privilege) {}
  int32_t privileges = 0;
  std::string grantedBy;
  void Write(TZNTWriter& w) const override;
  void Read(TZNTMetadataReader& r) override;
};

// A user's membership of the role named by the object's name. Stored:
// common part; granted by.
class TZNTUserRole : public TZNTConfigObject {
 public:
  TZNTUserRole() : TZNTConfigObject(TZNTObjectKind::UserRole) {}
  std::string grantedBy;
  void Write(TZNTWriter& w) const override;
  void Read(TZNTMetadataReader& r) override;
};

// Users and roles.
class TZNTAuthorization : public TZNTConfigObject {
 public:
  using TZNTConfigObject::TZNTConfigObject;
};

// Stored: common part; password; login disabled; lock number (4); an integer
// (4096 for new users, kept as read); the roles.
class TZNTUser : public TZNTAuthorization {
 public:
  TZNTUser() : TZNTAuthorization(TZNTObjectKind::User), roles(*this) {}
  std::string password;
  bool loginDisabled = false;
  int32_t lockNumber = 0;
  int32_t userInteger = 4096;
  TZNTConfigObjects<TZNTUserRole> roles;
  // Whether the user holds the role named `role`.
  bool HasRole(std::string_view role) const noexcept { return roles.Find(role) != nullptr; }
  void Write(TZNTWriter& w) const override;
  void Read(TZNTMetadataReader& r) override;
  void ForEachCollection(const std::function<void(TZNTConfigObjectsBase&)>& f) override;
};

// Stored: common part only.
class TZNTRole : public TZNTAuthorization {
 public:
  TZNTRole() : TZNTAuthorization(TZNTObjectKind::Role) {}
};

// ---------------------------------------------------------------------------
// Privileged objects: databases, stores and the catalog's objects
// ---------------------------------------------------------------------------

// Adds to the common part: the creator's user name; the privileges.
class TZNTPrivilegedConfigObject : public TZNTConfigObject {
 public:
  explicit TZNTPrivilegedConfigObject(TZNTObjectKind kind)
      : TZNTConfigObject(kind), privileges(*this) {}
  std::string creator;
  TZNTConfigObjects<TZNTPrivilege> privileges;
  void Write(TZNTWriter& w) const override;
  void Read(TZNTMetadataReader& r) override;
  void ForEachCollection(const std::function<void(TZNTConfigObjectsBase&)>& f) override;
};

// A database. Stored: privileged part; path (empty in memory); in-memory;
// encrypted catalog (files above version 10600); an integer (4096).
class TZNTDatabaseContainer : public TZNTPrivilegedConfigObject {
 public:
  TZNTDatabaseContainer() : TZNTPrivilegedConfigObject(TZNTObjectKind::Database) {}
  std::string path;
  bool encryptedCatalog = false;
  int32_t databaseInteger = 4096;
  void Write(TZNTWriter& w) const override;
  void Read(TZNTMetadataReader& r) override;
};

// A remote or local store. Stored: privileged part; type (4); path, address,
// host; port (4); service, user name, password, remote store, signature;
// encrypted; encryption password; compression, timeout (4 each); ping; ping
// interval (4).
class TZNTStore : public TZNTPrivilegedConfigObject {
 public:
  TZNTStore() : TZNTPrivilegedConfigObject(TZNTObjectKind::Store) {}
  int32_t storeType = 0;
  std::string path, address, host;
  int32_t port = 0;
  std::string service, userName, password, remoteStore, signature;
  bool encrypted = false;
  std::string encryptionPassword;
  int32_t compression = 0, timeout = 0;
  bool ping = false;
  int32_t pingInterval = 0;
  void Write(TZNTWriter& w) const override;
  void Read(TZNTMetadataReader& r) override;
};

class TZNTPrivilegedCatalogObject : public TZNTPrivilegedConfigObject {
 public:
  using TZNTPrivilegedConfigObject::TZNTPrivilegedConfigObject;
};

class TZNTPrivilegedSchemaObject : public TZNTPrivilegedCatalogObject {
 public:
  using TZNTPrivilegedCatalogObject::TZNTPrivilegedCatalogObject;
};

// Objects inside a table or routine.
class TZNTCatalogObject : public TZNTConfigObject {
 public:
  using TZNTConfigObject::TZNTConfigObject;
};

// ---------------------------------------------------------------------------
// Table parts
// ---------------------------------------------------------------------------

// Stored: common part; type, subtype, length, data size, scale, collation (4
// each); NOT NULL; generated and its text (files above version 10000);
// identity; identity by default; seed, increment (4 each); computed and its
// text; default and its text; BLOB compression (4); source reference; two
// Booleans kept as read (files of version 10700 and above).
class TZNTColumn : public TZNTCatalogObject {
 public:
  TZNTColumn() : TZNTCatalogObject(TZNTObjectKind::Column) {}
  TZNTDataType type;     // size is the declared length
  int32_t dataSize = 0;  // bytes of the row slot's data area
  bool notNull = false;
  bool generated = false;  // GENERATED ALWAYS AS expression
  std::string generatedExpr;
  bool identity = false;
  bool identityByDefault = false;
  int32_t identitySeed = 0, identityIncrement = 1;
  bool computed = false;
  std::string computedExpr;
  bool hasDefault = false;
  std::string defaultExpr;
  int32_t blobCompression = 0;
  std::string sourceReference;  // view columns: where the value comes from
  bool extraFlag1 = false, extraFlag2 = false;

  // Sets the type and the data size that goes with it.
  void SetType(const TZNTDataType& t) noexcept;
  // The row identifier column is stored although it is a system column: the
  // row layout and the column IDs depend on it.
  bool Stored() const noexcept override { return !Temporary(); }
  // Bytes of the column's row slot: 0 for computed columns, else the data
  // area plus the has-value byte.
  int32_t SlotSize() const noexcept { return computed ? 0 : dataSize + 1; }
  void Write(TZNTWriter& w) const override;
  void Read(TZNTMetadataReader& r) override;
  void Validate(TZNTMetadataReader& r) override;
};

// Stored: common part; column ID (4); collation (4); a Boolean kept as read;
// descending.
class TZNTIndexColumn : public TZNTCatalogObject {
 public:
  TZNTIndexColumn() : TZNTCatalogObject(TZNTObjectKind::IndexColumn) {}
  int32_t columnId = 0;
  uint32_t collation = 0;
  bool extraFlag = false;
  bool descending = false;
  void Write(TZNTWriter& w) const override;
  void Read(TZNTMetadataReader& r) override;
};

enum class TZNTIndexType : int32_t {
  Index = 0,
  PrimaryKey = 1,
  ForeignKey = 2,
  Unique = 3,
  Text = 4
};

// Stored: common part; type (4); index columns; types 1 to 3 the owning
// constraint's ID (4); type 4 the indexed word length, the filter type
// column's ID and the word generator's ID (4 each).
class TZNTIndex : public TZNTCatalogObject {
 public:
  TZNTIndex() : TZNTCatalogObject(TZNTObjectKind::Index), columns(*this) {}
  TZNTIndexType indexType = TZNTIndexType::Index;
  TZNTConfigObjects<TZNTIndexColumn> columns;
  int32_t ownerConstraintId = 0;
  int32_t indexedWordLength = 0, filterTypeColumnId = 0, wordGeneratorId = 0;
  // "Index", "Primary Key", "Foreign Key", "Unique", "Text Index".
  std::string_view TypeText() const noexcept;
  void Write(TZNTWriter& w) const override;
  void Read(TZNTMetadataReader& r) override;
  void ForEachCollection(const std::function<void(TZNTConfigObjectsBase&)>& f) override;
  void Validate(TZNTMetadataReader& r) override;
};

// A column of a key constraint. Stored: common part; column ID (4).
class TZNTConstraintColumn : public TZNTCatalogObject {
 public:
  TZNTConstraintColumn() : TZNTCatalogObject(TZNTObjectKind::ConstraintColumn) {}
  int32_t columnId = 0;
  void Write(TZNTWriter& w) const override;
  void Read(TZNTMetadataReader& r) override;
};

// A foreign key that refers to a primary or unique key, kept by the referred
// constraint. Stored: common part; the referring table's ID and its
// constraint's ID (4 each).
class TZNTSourceConstraint : public TZNTCatalogObject {
 public:
  TZNTSourceConstraint() : TZNTCatalogObject(TZNTObjectKind::SourceConstraint) {}
  int32_t sourceTableId = 0, sourceConstraintId = 0;
  void Write(TZNTWriter& w) const override;
  void Read(TZNTMetadataReader& r) override;
};

// A referred column of a foreign key. Stored: common part; column ID (4).
class TZNTTargetTableColumn : public TZNTCatalogObject {
 public:
  TZNTTargetTableColumn() : TZNTCatalogObject(TZNTObjectKind::TargetTableColumn) {}
  int32_t columnId = 0;
  void Write(TZNTWriter& w) const override;
  void Read(TZNTMetadataReader& r) override;
};

enum class TZNTConstraintType : int32_t { PrimaryKey = 1, ForeignKey = 2, Unique = 3, Check = 4 };
enum class TZNTReferentialAction : int32_t {
  NoAction = 0,
  Cascade = 1,
  SetNull = 2,
  SetDefault = 3,
  Restrict = 4
};

// Stored: common part; type (4); types 1 and 3: columns, enforcing index ID
// (4), source constraints; type 2: columns, enforcing index ID, target table
// ID (4), target columns, target constraint ID, update and delete actions
// (4 each); type 4: the check expression text.
class TZNTConstraint : public TZNTCatalogObject {
 public:
  TZNTConstraint()
      : TZNTCatalogObject(TZNTObjectKind::Constraint),
        columns(*this),
        sourceConstraints(*this),
        targetColumns(*this) {}
  TZNTConstraintType constraintType = TZNTConstraintType::PrimaryKey;
  TZNTConfigObjects<TZNTConstraintColumn> columns;
  int32_t enforcingIndexId = 0;
  TZNTConfigObjects<TZNTSourceConstraint> sourceConstraints;
  int32_t targetTableId = 0;
  TZNTConfigObjects<TZNTTargetTableColumn> targetColumns;
  int32_t targetConstraintId = 0;
  TZNTReferentialAction updateAction = TZNTReferentialAction::NoAction;
  TZNTReferentialAction deleteAction = TZNTReferentialAction::NoAction;
  std::string checkExpr;
  bool IsKey() const noexcept { return constraintType != TZNTConstraintType::Check; }
  void Write(TZNTWriter& w) const override;
  void Read(TZNTMetadataReader& r) override;
  void ForEachCollection(const std::function<void(TZNTConfigObjectsBase&)>& f) override;
  void Validate(TZNTMetadataReader& r) override;
};

// A column named by UPDATE OF. Stored: common part; column ID (4).
class TZNTTriggerColumn : public TZNTCatalogObject {
 public:
  TZNTTriggerColumn() : TZNTCatalogObject(TZNTObjectKind::TriggerColumn) {}
  int32_t columnId = 0;
  void Write(TZNTWriter& w) const override;
  void Read(TZNTMetadataReader& r) override;
};

// Stored: common part; action time (4: 1 before, 2 after, 3 error); action
// type (4: 1 insert, 2 update, 3 delete); for update triggers the trigger
// columns; WHEN condition text; body text ("TRIGGER \"name\"" CR LF block).
class TZNTTrigger : public TZNTCatalogObject {
 public:
  TZNTTrigger() : TZNTCatalogObject(TZNTObjectKind::Trigger), columns(*this) {}
  int32_t actionTime = 1;
  int32_t actionType = 1;
  TZNTConfigObjects<TZNTTriggerColumn> columns;
  std::string condition;
  std::string body;
  static constexpr int32_t kUpdate = 2;
  void Write(TZNTWriter& w) const override;
  void Read(TZNTMetadataReader& r) override;
  void ForEachCollection(const std::function<void(TZNTConfigObjectsBase&)>& f) override;
};

// ---------------------------------------------------------------------------
// Tables, views and routines
// ---------------------------------------------------------------------------

// A table the binder can resolve: columns, indexes and triggers. It is the
// TZNTBindTable the catalog adapter hands out, so bound statements point at
// the catalog's own object, which a reload keeps in place.
//
// Invariant: after RefreshBindColumns, the bind columns mirror the columns
// (name, type, hidden) and the text indexes (textIndexed).
class TZNTVirtualTable : public TZNTPrivilegedSchemaObject, public TZNTBindTable {
 public:
  explicit TZNTVirtualTable(TZNTObjectKind kind)
      : TZNTPrivilegedSchemaObject(kind), columns(*this), indexes(*this), triggers(*this) {}
  TZNTConfigObjects<TZNTColumn> columns;
  TZNTConfigObjects<TZNTIndex> indexes;
  TZNTConfigObjects<TZNTTrigger> triggers;

  // TZNTBindTable.
  const std::string& Name() const override { return TZNTConfigObject::Name(); }
  int ColumnCount() const override { return static_cast<int>(bindColumns_.size()); }
  const TZNTBindColumn& Column(int index) const override { return bindColumns_[index]; }
  // Rebuilds what the binder sees from the columns and indexes; called after
  // every load and every change of the columns or indexes.
  void RefreshBindColumns();

  void ForEachCollection(const std::function<void(TZNTConfigObjectsBase&)>& f) override;

 private:
  std::vector<TZNTBindColumn> bindColumns_;
};

// A stored table. Stored: privileged part; columns; indexes; triggers (files
// above version 10200); lock number (4); internal version (4); user version
// (8, the VERSION clause x 10000); encrypted; row size, index page size, blob
// block size, publish block size (4 each); constraints; maximum row, index,
// blob and publish buffer sizes and publish compression (4 each); published;
// publish time (8); publish ID.
//
// Invariants (CheckInvariants):
//  1. the first column is the hidden system column __RowID (Integer);
//  2. the row size is RowSizeFor(columns);
//  3. page and block sizes are multiples of 8; the maximum row and blob
//     buffers are at least 4096, the maximum index buffer at least 8192;
//  4. every key constraint's enforcing index exists and names it as owner.
class TZNTBaseTable : public TZNTVirtualTable {
 public:
  static constexpr int32_t kDefaultIndexPageSize = 4096;
  static constexpr int32_t kDefaultBlobBlockSize = 512;
  static constexpr int32_t kDefaultPublishBlockSize = 512;
  static constexpr int32_t kDefaultMaxRowBufferSize = 32768;
  static constexpr int32_t kDefaultMaxIndexBufferSize = 65536;
  static constexpr int32_t kDefaultMaxBlobBufferSize = 32768;
  static constexpr int32_t kDefaultMaxPublishBufferSize = 32768;
  static constexpr int32_t kMinRowBufferSize = 4096;
  static constexpr int32_t kMinIndexBufferSize = 8192;
  static constexpr int32_t kMinBlobBufferSize = 4096;

  TZNTBaseTable() : TZNTVirtualTable(TZNTObjectKind::BaseTable), constraints(*this) {}
  TZNTConfigObjects<TZNTConstraint> constraints;
  int32_t lockNumber = 0;
  int32_t internalVersion = 1;
  int64_t userVersion = 0;
  bool encrypted = false;
  int32_t publishCompression = 0;
  bool published = false;
  int64_t publishTime = 0;
  std::string publishId;

  int32_t RowSize() const noexcept { return rowSize_; }
  // Recomputes the row size from the columns.
  void UpdateRowSize() { rowSize_ = RowSizeFor(*this); }
  // 17 bytes of row header plus every column's slot, rounded up to 8.
  static int32_t RowSizeFor(const TZNTVirtualTable& table);

  // Storage settings, corrected as they are set: sizes rounded up to a
  // multiple of 8 (at least 8), buffers raised to their minimums.
  int32_t IndexPageSize() const noexcept { return indexPageSize_; }
  int32_t BlobBlockSize() const noexcept { return blobBlockSize_; }
  int32_t PublishBlockSize() const noexcept { return publishBlockSize_; }
  int32_t MaxRowBufferSize() const noexcept { return maxRowBufferSize_; }
  int32_t MaxIndexBufferSize() const noexcept { return maxIndexBufferSize_; }
  int32_t MaxBlobBufferSize() const noexcept { return maxBlobBufferSize_; }
  int32_t MaxPublishBufferSize() const noexcept { return maxPublishBufferSize_; }
  void SetIndexPageSize(int64_t n) noexcept;
  void SetBlobBlockSize(int64_t n) noexcept;
  void SetPublishBlockSize(int64_t n) noexcept;
  void SetMaxRowBufferSize(int64_t n) noexcept;
  void SetMaxIndexBufferSize(int64_t n) noexcept;
  void SetMaxBlobBufferSize(int64_t n) noexcept;
  void SetMaxPublishBufferSize(int64_t n) noexcept;

  // The row identifier column (null only while a table is being built).
  TZNTColumn* RowIdColumn() const noexcept;
  // Adds the hidden system column __RowID (Integer) with `id`; it must be the
  // table's first column.
  TZNTColumn& AddRowIdColumn(int32_t id);
  // The primary key constraint, or null.
  TZNTConstraint* PrimaryKey() const noexcept;

  void Write(TZNTWriter& w) const override;
  void Read(TZNTMetadataReader& r) override;
  void ForEachCollection(const std::function<void(TZNTConfigObjectsBase&)>& f) override;
  void Validate(TZNTMetadataReader& r) override;
  void CheckInvariants() const;

 private:
  int32_t rowSize_ = 0;
  int32_t indexPageSize_ = kDefaultIndexPageSize;
  int32_t blobBlockSize_ = kDefaultBlobBlockSize;
  int32_t publishBlockSize_ = kDefaultPublishBlockSize;
  int32_t maxRowBufferSize_ = kDefaultMaxRowBufferSize;
  int32_t maxIndexBufferSize_ = kDefaultMaxIndexBufferSize;
  int32_t maxBlobBufferSize_ = kDefaultMaxBlobBufferSize;
  int32_t maxPublishBufferSize_ = kDefaultMaxPublishBufferSize;
};

// Stored: privileged part; columns (with their source references);
// definition; updateable; with check.
class TZNTView : public TZNTVirtualTable {
 public:
  TZNTView() : TZNTVirtualTable(TZNTObjectKind::View) {}
  std::string definition;
  bool updateable = false;
  bool withCheck = false;
  void Write(TZNTWriter& w) const override;
  void Read(TZNTMetadataReader& r) override;
};

// A routine parameter. Stored: common part; mode (4: 1 in, 2 out, 3 in-out,
// 4 result); type, subtype, length, scale, collation (4 each); default text.
class TZNTRoutineParam : public TZNTCatalogObject {
 public:
  TZNTRoutineParam() : TZNTCatalogObject(TZNTObjectKind::RoutineParam) {}
  int32_t mode = 1;
  TZNTDataType type;
  std::string defaultValue;
  void Write(TZNTWriter& w) const override;
  void Read(TZNTMetadataReader& r) override;
};

// Stored: privileged part; implementation (4: 0 SQL, 1 module); definition;
// module name; parameters.
class TZNTRoutine : public TZNTPrivilegedSchemaObject {
 public:
  explicit TZNTRoutine(TZNTObjectKind kind) : TZNTPrivilegedSchemaObject(kind), params(*this) {}
  int32_t implementation = 0;
  std::string definition;
  std::string moduleName;
  TZNTConfigObjects<TZNTRoutineParam> params;
  void Write(TZNTWriter& w) const override;
  void Read(TZNTMetadataReader& r) override;
  void ForEachCollection(const std::function<void(TZNTConfigObjectsBase&)>& f) override;
};

class TZNTProcedure : public TZNTRoutine {
 public:
  TZNTProcedure() : TZNTRoutine(TZNTObjectKind::Procedure) {}
};

// Adds the result type: type, subtype, length, scale, collation (4 each).
class TZNTFunction : public TZNTRoutine {
 public:
  TZNTFunction() : TZNTRoutine(TZNTObjectKind::Function) {}
  TZNTDataType resultType;
  void Write(TZNTWriter& w) const override;
  void Read(TZNTMetadataReader& r) override;
};

// Stored: privileged part; base tables; views; procedures; functions.
class TZNTSchema : public TZNTPrivilegedCatalogObject {
 public:
  TZNTSchema()
      : TZNTPrivilegedCatalogObject(TZNTObjectKind::Schema),
        baseTables(*this),
        views(*this),
        procedures(*this),
        functions(*this) {}
  TZNTConfigObjects<TZNTBaseTable> baseTables;
  TZNTConfigObjects<TZNTView> views;
  TZNTConfigObjects<TZNTProcedure> procedures;
  TZNTConfigObjects<TZNTFunction> functions;
  // The base table or view named so, or null.
  TZNTVirtualTable* FindTable(std::string_view name) const noexcept;
  void Write(TZNTWriter& w) const override;
  void Read(TZNTMetadataReader& r) override;
  void ForEachCollection(const std::function<void(TZNTConfigObjectsBase&)>& f) override;
};

// ---------------------------------------------------------------------------
// The two roots
// ---------------------------------------------------------------------------

// What the configuration and a catalog share: the version that last wrote
// them, the object ID counter, and the steps the manager drives. Both bodies
// begin with the version (8) and the next ID (4).
class TZNTMetadataRoot : public TZNTConfigObject {
 public:
  // Version of the engine that last wrote the object (x 10000).
  int64_t version = 0;

  int32_t NextID() const noexcept { return nextId_; }
  void SetNextID(int32_t id) noexcept { nextId_ = id; }
  // A new stored object's ID: the counter's value, skipping IDs in use; the
  // counter then moves on by 1, wrapping from 2147483647 to 1.
  int32_t NewObjectID();
  // A new system object's ID: -1, -2, ... in creation order.
  int32_t NewSystemID() noexcept { return nextSystemId_--; }
  // Whether any object of the tree has `id`.
  bool IDInUse(int32_t id);
  // Calls `f` for every object of the tree below the root, parents first.
  void ForEachObject(const std::function<void(TZNTConfigObject&)>& f);
  // Whether a file of the tree would hold any object (one that is stored,
  // inside stored owners).
  bool HoldsStoredObjects();

  // Adds what a new file holds besides the built-in objects.
  virtual void AddInitialObjects() = 0;
  // A root of the same kind with only the built-in objects, to parse a body
  // into before the live tree is touched.
  virtual std::unique_ptr<TZNTMetadataRoot> NewEmpty() const = 0;
  // Runs after every load: the in-memory state derived from stored fields.
  virtual void AfterLoad() {}

  // Whole-tree checks after a parse: IDs unique, then every collection's and
  // object's own rules.
  void ValidateTree(TZNTMetadataReader& r);
  // Asserts every collection's invariants; does nothing in a release build.
  void CheckInvariants();

 protected:
  using TZNTConfigObject::TZNTConfigObject;
  void WriteRoot(TZNTWriter& w) const;
  void ReadRoot(TZNTMetadataReader& r);

 private:
  int32_t nextId_ = 2;
  int32_t nextSystemId_ = -1;
};

// The configuration. Stored: version (8); next ID (4); text filters; word
// generators; migrators (files above version 10200); users; roles;
// databases; jobs; stores (files of version 20000 and above). The built-in
// data types, collations and modules are never stored, nor are the system
// word generator "Default", user "System", roles "Administrators" and
// "Public" and database "Configuration".
class TZNTConfig : public TZNTMetadataRoot {
 public:
  // A configuration holding only the built-in objects.
  TZNTConfig();
  TZNTConfigObjects<TZNTDataTypeObject> dataTypes;
  TZNTConfigObjects<TZNTCollation> collations;
  TZNTConfigObjects<TZNTModule> modules;
  TZNTConfigObjects<TZNTTextFilter> textFilters;
  TZNTConfigObjects<TZNTWordGenerator> wordGenerators;
  TZNTConfigObjects<TZNTMigrator> migrators;
  TZNTConfigObjects<TZNTUser> users;
  TZNTConfigObjects<TZNTRole> roles;
  TZNTConfigObjects<TZNTDatabaseContainer> databases;
  TZNTConfigObjects<TZNTJob> jobs;
  TZNTConfigObjects<TZNTStore> stores;

  // A new user with the next lock number, not yet added.
  std::unique_ptr<TZNTUser> NewUser(std::string_view name, std::string_view password);
  // Whether `user` may administer: "System" or a member of "Administrators".
  bool IsAdministrator(std::string_view userName) const noexcept;

  // The user "Administrator" with its password and role.
  void AddInitialObjects() override;
  std::unique_ptr<TZNTMetadataRoot> NewEmpty() const override;
  void Write(TZNTWriter& w) const override;
  void Read(TZNTMetadataReader& r) override;
  void ForEachCollection(const std::function<void(TZNTConfigObjectsBase&)>& f) override;
};

// A database's catalog. Stored: version (8); next ID (4); schemas. The system
// schema "Information" with its system tables is built in and never stored;
// a new catalog adds the schema "Default".
class TZNTCatalog : public TZNTMetadataRoot {
 public:
  // A catalog holding only the "Information" schema.
  TZNTCatalog();
  TZNTConfigObjects<TZNTSchema> schemas;

  TZNTSchema* DefaultSchema() const noexcept { return schemas.Find(kZNTDefaultSchemaName); }
  TZNTSchema& InformationSchema() const noexcept { return *information_; }

  void AddInitialObjects() override;
  std::unique_ptr<TZNTMetadataRoot> NewEmpty() const override;
  // Recomputes row sizes and the binder's columns of every table.
  void AfterLoad() override;
  void Write(TZNTWriter& w) const override;
  void Read(TZNTMetadataReader& r) override;
  void ForEachCollection(const std::function<void(TZNTConfigObjectsBase&)>& f) override;

 private:
  TZNTSchema* information_ = nullptr;
};

// The system tables of a schema, built in: one definition per table, each
// column "Name" (VarChar(40)) or "Name:code" with code M (CLOB), B
// (Boolean), I (Integer), G (BigInt), F (Float), D (Decimal(2)), DA (Date),
// TI (Time), T (Timestamp), P (a path, VarChar(1024)) or V<n> (VarChar(n));
// a leading "*" marks a key column, which gets a plain index.
struct TZNTSystemTableDef {
  std::string_view name;
  std::string_view columns;  // comma-separated
};
// The tables of every catalog's "Information" schema.
const std::vector<TZNTSystemTableDef>& InformationTableDefs();
// The tables of the "Configuration" database.
const std::vector<TZNTSystemTableDef>& ConfigurationTableDefs();
// Adds system tables built from `defs` to `schema` of `root`: read-only,
// system, with __RowID first, the system tables' buffer sizes and an index
// on each key column.
void AddSystemTables(TZNTMetadataRoot& root, TZNTSchema& schema,
                     const std::vector<TZNTSystemTableDef>& defs);

// ---------------------------------------------------------------------------
// Reading a body
// ---------------------------------------------------------------------------

// A reader over a body that refuses to run past its end: every read that
// would raises error 100 "There is an error in the metadata for the %s %s
// (%s)" with the file's kind and name and the "not read properly" detail.
class TZNTMetadataReader {
 public:
  TZNTMetadataReader(std::string_view body, std::string kindWord, std::string objectName,
                     std::string notReadDetail);

  // The version of the engine that wrote the body, once the root has read it.
  int64_t Version() const noexcept { return version_; }
  void SetVersion(int64_t version) noexcept { version_ = version; }

  int32_t Int32();
  int64_t Int64();
  bool Boolean();
  std::string String();
  // A collection's member count; refused when negative or larger than the
  // rest of the body could hold (each member takes at least 6 bytes).
  int32_t Count();
  // The next 4 bytes as an integer, without moving on.
  int32_t PeekInt32() const;
  // After the root: only zero padding (fewer than 8 bytes) may remain.
  void CheckEnd() const;
  // Raises the not-read-properly error.
  [[noreturn]] void Fail() const;

  // Sees each stored object a reload drops, before it is destroyed.
  std::function<void(TZNTConfigObject&)> onRemoved;

 private:
  const unsigned char* Take(size_t n);
  std::string_view body_;
  size_t pos_ = 0;
  int64_t version_ = 0;
  std::string kindWord_, objectName_, notReadDetail_;
};

// ---------------------------------------------------------------------------
// The container file
// ---------------------------------------------------------------------------

// The fields of the 56-byte container header.
//   0 16  signature digest          21 16  password digest
//  16  4  character set (0)         37  4  change counter
//  20  1  encrypted flag            41  4  reserved, kept as read
//                                   45  4  body length (a multiple of 8)
//                                   49  7  zero padding
struct TZNTContainerHeader {
  TZNTDigest::TValue signatureDigest{};
  int32_t characterSet = 0;
  bool encrypted = false;
  TZNTDigest::TValue passwordDigest{};
  int32_t changeCounter = 0;
  int32_t reserved = 0;
  int32_t bodyLength = 0;

  // The plain 56 bytes.
  void Encode(unsigned char* out) const noexcept;
  static TZNTContainerHeader Decode(const unsigned char* in) noexcept;
};

// The change counter after `counter`: +1, wrapping from 2147483647 to 1.
int32_t NextChangeCounter(int32_t counter) noexcept;

// The metadata locks as the manager takes them: the object's read lock from
// the first BeginRead to the last EndRead, the transaction lock from
// BeginWrite to the commit or cancel, the write lock while the file is
// written. The lock manager implements them; the default takes none (a
// single process, and tests).
class TZNTMetadataLocks {
 public:
  virtual ~TZNTMetadataLocks() = default;
  virtual void LockRead() {}
  virtual void UnlockRead() noexcept {}
  virtual void LockTransaction() {}
  virtual void UnlockTransaction() noexcept {}
  virtual void LockWrite() {}
  virtual void UnlockWrite() noexcept {}
};

// Keeps one metadata tree in step with its file. One per session and
// object; not thread-safe.
//
// Invariants (CheckInvariants):
//  1. while open, the stream is open and the loaded change counter is the
//     one of the header last read or written;
//  2. reads nest (a count); a write is never nested and never starts
//     inside a read.
class TZNTConfigObjectManager {
 public:
  // `files` must outlive the manager. Messages name the file by `kindWord`
  // and `objectName` ("configuration ZNTConfig", "database FynDB"). The
  // previous copy is `path` with `oldExtension` appended.
  TZNTConfigObjectManager(TZNTFileManager& files, std::string path,
                          const TZNTMetadataSettings& settings, std::string kindWord,
                          std::string objectName,
                          std::string oldExtension = std::string(kZNTOldExtension));
  virtual ~TZNTConfigObjectManager();
  TZNTConfigObjectManager(const TZNTConfigObjectManager&) = delete;
  TZNTConfigObjectManager& operator=(const TZNTConfigObjectManager&) = delete;

  const std::string& Path() const noexcept { return path_; }
  // The previous copy: the path with the old-copy extension (".Old")
  // appended.
  std::string OldPath() const { return path_ + oldExtension_; }
  bool IsOpen() const noexcept { return stream_.IsOpen(); }
  // The change counter of the header last read or written.
  int32_t ChangeCounter() const noexcept { return counter_; }
  // The object cannot be written: the root is read-only or the file could
  // only be opened for reading.
  bool IsReadOnly() const;

  // Opens the file and loads it; a missing file is created holding the
  // root's initial objects. Raises error 100 when the file (and its ".Old"
  // copy) cannot be read, error 600 for file errors.
  void OpenMetadata();
  // Closes the file; the tree stays as it is. Never raises.
  void CloseMetadata() noexcept;
  // Copies the file to ".Old", closes and deletes it (dropping a database).
  void DeleteMetadata();

  // Read access, nested; the first takes the read lock and reloads the tree
  // when the file's change counter moved.
  void BeginRead();
  void EndRead() noexcept;
  // Write access for one change: error 101 "There was an error updating the
  // %s %s (%s)" with "The file is read-only" when the object cannot be
  // written; takes the transaction lock and reloads when changed.
  void BeginWrite();
  // Records that the tree was changed under BeginWrite.
  void MarkChanged() noexcept { changed_ = true; }
  // Writes the file when the tree was changed, then releases the lock. When
  // the write fails the tree is reloaded from the file before the error
  // passes on.
  void CommitWrite();
  // Reloads the file to drop the changes in memory; releases the lock.
  void CancelWrite();
  bool InWrite() const noexcept { return writing_; }

  // Sees the warning text when the main file was damaged and has been
  // restored from its ".Old" copy. The session's log is the intended user.
  void SetWarningHandler(std::function<void(const std::string&)> handler) {
    onWarning_ = std::move(handler);
  }
  // Run before and after every load that changes the tree, so dependants
  // (table managers, cached rows) can drop what they built on it.
  void SetLoadHandlers(std::function<void()> before, std::function<void()> after) {
    beforeLoad_ = std::move(before);
    afterLoad_ = std::move(after);
  }
  // Sees each object a reload removes, before it is destroyed.
  void SetRemovedHandler(std::function<void(TZNTConfigObject&)> handler) {
    onRemoved_ = std::move(handler);
  }
  // The lock hooks; not owned, null for none.
  void SetLocks(TZNTMetadataLocks* locks) noexcept { locks_ = locks; }

  TZNTMetadataRoot& Root() const noexcept { return *root_; }
  void CheckInvariants() const;

 protected:
  // The derived manager hands over the tree it owns and whether its file is
  // encrypted; called from its constructor.
  void Init(std::unique_ptr<TZNTMetadataRoot> root, bool encrypted);
  // "The configuration was not read properly" / "The catalog ...".
  virtual std::string NotReadDetail() const = 0;

 private:
  struct TImage;  // one file's header and plain body
  void Load(bool force);
  void LoadFrom(TZNTFileStream& stream, bool force, bool recoverable);
  TImage ReadImage(TZNTFileStream& stream, bool headerOnly);
  void CheckHeader(const TZNTContainerHeader& h) const;
  void ParseAndApply(TImage& image);
  void WriteFile();
  void WriteImage(TZNTFileStream& stream, const std::string& body, int32_t counter);
  [[noreturn]] void RaiseMetadata(std::string_view detail) const;
  TZNTMetadataReader MakeReader(std::string_view body) const;

  TZNTFileManager& files_;
  std::string path_;
  std::string oldExtension_;
  TZNTMetadataSettings settings_;
  std::string kindWord_, objectName_;
  std::unique_ptr<TZNTMetadataRoot> root_;
  bool encrypted_ = false;
  TZNTBlowfish cipher_;
  TZNTFileStream stream_;
  int32_t counter_ = 0;
  int32_t reserved_ = 0;
  bool everLoaded_ = false;
  int reads_ = 0;
  bool writing_ = false;
  bool changed_ = false;
  TZNTMetadataLocks* locks_ = nullptr;
  std::function<void(const std::string&)> onWarning_;
  std::function<void()> beforeLoad_, afterLoad_;
  std::function<void(TZNTConfigObject&)> onRemoved_;
};

// How a metadata file is named: `name` + `extension` in its folder, and
// `oldExtension` appended to that for its previous copy. The engine settings
// give all three; the defaults are the engine's own.
struct TZNTMetadataFileName {
  std::string name;
  std::string extension;
  std::string oldExtension{kZNTOldExtension};

  std::string FileName() const { return name + extension; }
  // "ZNTConfig.ZNTCfg" and "ZNTDatabase.ZNTCat", each with ".Old".
  static TZNTMetadataFileName Config() {
    return {std::string(kZNTConfigName), std::string(kZNTConfigExtension)};
  }
  static TZNTMetadataFileName Catalog() {
    return {std::string(kZNTCatalogName), std::string(kZNTCatalogExtension)};
  }
};

// The configuration file (by default "ZNTConfig.ZNTCfg") in `folder`, always
// encrypted. Messages name it by `file.name`.
class TZNTConfigManager : public TZNTConfigObjectManager {
 public:
  TZNTConfigManager(TZNTFileManager& files, std::string_view folder,
                    const TZNTMetadataSettings& settings,
                    const TZNTMetadataFileName& file = TZNTMetadataFileName::Config());
  TZNTConfig& Config() const noexcept { return static_cast<TZNTConfig&>(Root()); }

 protected:
  std::string NotReadDetail() const override;
};

// A database's catalog file (by default "ZNTDatabase.ZNTCat") in the
// database's folder, encrypted when the database was created with an
// encrypted catalog.
class TZNTCatalogManager : public TZNTConfigObjectManager {
 public:
  TZNTCatalogManager(TZNTFileManager& files, std::string_view folder,
                     const TZNTMetadataSettings& settings, std::string databaseName,
                     bool encrypted,
                     const TZNTMetadataFileName& file = TZNTMetadataFileName::Catalog());
  TZNTCatalog& Catalog() const noexcept { return static_cast<TZNTCatalog&>(Root()); }

 protected:
  std::string NotReadDetail() const override;
};

// `folder` and `name` joined with "/" (none after an empty folder or one that
// ends in a separator).
std::string JoinMetadataPath(std::string_view folder, std::string_view name);

}  // namespace znt
