#include "catalog/zntobjmgr.h"

#include <algorithm>
#include <cassert>
#include <climits>
#include <optional>

#include "base/zntconsts.h"
#include "base/znterror.h"
#include "base/zntstring.h"
#include "sql/znteval.h"
#include "sql/znttypefunc.h"
#include "sql/zntvalue.h"

namespace znt {

namespace {

// Word length of a text index that does not give one.
constexpr int32_t kDefaultIndexedWordLength = 30;
constexpr int32_t kMaxIndexedWordLength = 1024;

// Option values are constant expressions: they never name a column.
class TNoRowContext : public TZNTRowContext {
 public:
  const TZNTValue& ColumnValue(int, int, int) override {
    assert(false && "a constant option named a column");
    RaiseZNTError(err::Compile, {"statement", "0", "0", "a constant is required"});
  }
};

// Binds the value on its own first: not every statement's binding reaches
// its option values (CREATE TEXT INDEX's are left alone), and binding a
// constant again changes nothing.
const TZNTValue& Evaluate(TZNTExprToken& node) {
  TZNTMemoryBindCatalog none;
  BindTree(node, none, TZNTBindContext{});
  TNoRowContext context;
  TZNTExprEvaluator evaluator(context);
  return evaluator.Evaluate(node);
}

int64_t IntegerValue(TZNTExprToken& node) { return Evaluate(node).AsBigInt(); }
int32_t Int32Value(TZNTExprToken& node) {
  return static_cast<int32_t>(std::clamp<int64_t>(IntegerValue(node), INT32_MIN, INT32_MAX));
}
std::string TextValue(TZNTExprToken& node) { return Evaluate(node).AsString(); }

[[noreturn]] void Unsupported(const TZNTExprToken& st, std::string_view what) {
  const std::string line = std::to_string(st.line), column = std::to_string(st.column);
  RaiseZNTErrorAt(
      err::Compile, st.line, st.column,
      {"statement", line, column, "The " + std::string(what) + " statement is not supported"});
}

uint32_t CollationId(const TZNTExprToken& collation) {
  std::optional<uint32_t> id = CollationIdFromName(collation.objectName);
  if (!id) RaiseZNTError(err::DoesNotExist, {"collation", collation.objectName});
  return *id;
}

// The schema a DDL statement names (the "Default" schema when none is named).
TZNTSchema& SchemaOf(TZNTCatalog& catalog, const TZNTExprToken& ref) {
  std::string_view name = ref.schemaName.empty() ? kZNTDefaultSchemaName : ref.schemaName;
  TZNTSchema* schema = catalog.schemas.Find(name);
  if (!schema) RaiseZNTError(err::DoesNotExist, {"schema", name});
  return *schema;
}

TZNTBaseTable& TableOf(TZNTCatalog& catalog, const TZNTExprToken& ref) {
  TZNTBaseTable* table = SchemaOf(catalog, ref).baseTables.Find(ref.objectName);
  if (!table) RaiseZNTError(err::DoesNotExist, {"table", ref.objectName});
  return *table;
}

// A visible column of `table` (__RowID is not one).
TZNTColumn& ColumnOf(const TZNTVirtualTable& table, std::string_view name) {
  TZNTColumn* c = table.columns.Find(name);
  if (!c || c->Hidden()) RaiseZNTError(err::DoesNotExist, {"column", name});
  return *c;
}

template <class T>
std::unique_ptr<T> NewNamed(TZNTMetadataRoot& root, std::string_view name) {
  auto o = std::make_unique<T>();
  o->SetName(name);
  o->SetID(root.NewObjectID());
  return o;
}

// A name for an unnamed constraint: its kind and the first number that
// neither another constraint nor an index of the table uses.
std::string ConstraintName(const TZNTBaseTable& table, TZNTOp op) {
  const char* stem = op == TZNTOp::ConstraintPrimaryKey   ? "PrimaryKey"
                     : op == TZNTOp::ConstraintUnique     ? "Unique"
                     : op == TZNTOp::ConstraintForeignKey ? "ForeignKey"
                                                          : "Check";
  for (int n = 1;; ++n) {
    std::string name = stem + std::to_string(n);
    if (!table.constraints.Find(name) && !table.indexes.Find(name)) return name;
  }
}

TZNTReferentialAction ActionOf(const TZNTExprToken* node) {
  if (!node) return TZNTReferentialAction::NoAction;
  switch (node->op) {
    case TZNTOp::ActionCascade:
      return TZNTReferentialAction::Cascade;
    case TZNTOp::ActionSetNull:
      return TZNTReferentialAction::SetNull;
    case TZNTOp::ActionSetDefault:
      return TZNTReferentialAction::SetDefault;
    case TZNTOp::ActionRestrict:
      return TZNTReferentialAction::Restrict;
    default:
      return TZNTReferentialAction::NoAction;
  }
}

void ApplyTableOptions(TZNTBaseTable& table, TZNTExprToken* options) {
  if (!options) return;
  for (auto& o : options->children) {
    TZNTExprToken* v = o->Child(0);
    switch (o->op) {
      case TZNTOp::OptDescription:
        table.SetDescription(TextValue(*v));
        break;
      case TZNTOp::OptVersion:
        table.userVersion = Evaluate(*v).AsDecimal();
        break;
      case TZNTOp::OptEncrypted:
        table.encrypted = true;
        break;
      case TZNTOp::OptUnencrypted:
        table.encrypted = false;
        break;
      case TZNTOp::OptIndexPageSize:
        table.SetIndexPageSize(IntegerValue(*v));
        break;
      case TZNTOp::OptBlobBlockSize:
        table.SetBlobBlockSize(IntegerValue(*v));
        break;
      case TZNTOp::OptPublishBlockSize:
        table.SetPublishBlockSize(IntegerValue(*v));
        break;
      case TZNTOp::OptPublishCompression:
        table.publishCompression = std::clamp(Int32Value(*v), 0, 9);
        break;
      case TZNTOp::OptMaxRowBufferSize:
        table.SetMaxRowBufferSize(IntegerValue(*v));
        break;
      case TZNTOp::OptMaxIndexBufferSize:
        table.SetMaxIndexBufferSize(IntegerValue(*v));
        break;
      case TZNTOp::OptMaxBlobBufferSize:
        table.SetMaxBlobBufferSize(IntegerValue(*v));
        break;
      case TZNTOp::OptMaxPublishBufferSize:
        table.SetMaxPublishBufferSize(IntegerValue(*v));
        break;
      default:
        break;
    }
  }
}

void AddColumnDefinition(TZNTCatalog& catalog, TZNTBaseTable& table, TZNTExprToken& def) {
  auto column = std::make_unique<TZNTColumn>();
  column->SetName(def.objectName);
  if (table.columns.Find(def.objectName))
    RaiseZNTError(err::AlreadyExists, {"column", def.objectName});
  column->SetID(catalog.NewObjectID());
  TZNTExprToken& typeNode = *def.Child(0);
  TZNTDataType type = typeNode.type;
  type.collation = 0;
  if (TZNTExprToken* collation = typeNode.Child(0)) type.collation = CollationId(*collation);
  column->SetType(type);
  column->notNull = def.flags & kNodeNotNull;
  if (TZNTExprToken* compression = def.Child(1))
    column->blobCompression = std::clamp(Int32Value(*compression), 0, 9);
  if (TZNTExprToken* gen = def.Child(2)) {
    switch (gen->op) {
      case TZNTOp::GenIdentityAlways:
      case TZNTOp::GenIdentityByDefault:
        column->identity = true;
        column->identityByDefault = gen->op == TZNTOp::GenIdentityByDefault;
        column->identitySeed = gen->Child(0) ? Int32Value(*gen->Child(0)) : 0;
        column->identityIncrement = gen->Child(1) ? Int32Value(*gen->Child(1)) : 1;
        break;
      case TZNTOp::GenAlwaysAs:
        column->generated = true;
        column->generatedExpr = gen->text;
        break;
      case TZNTOp::ComputedAlwaysAs:
        column->computed = true;
        column->computedExpr = gen->text;
        break;
      case TZNTOp::ColumnDefault:
        column->hasDefault = true;
        column->defaultExpr = gen->text;
        break;
      default:
        break;
    }
  }
  if (TZNTExprToken* description = def.Child(4)) column->SetDescription(TextValue(*description));
  table.columns.Add(std::move(column));
}

// The table a foreign key refers to: the table being defined itself, or one
// of the schema's.
const TZNTBaseTable& ReferredTable(const TZNTSchema& schema, const TZNTBaseTable& table,
                                   const TZNTExprToken& ref) {
  if (ZNTSameText(ref.objectName, table.Name())) return table;
  const TZNTBaseTable* target = schema.baseTables.Find(ref.objectName);
  if (!target) RaiseZNTError(err::DoesNotExist, {"table", ref.objectName});
  return *target;
}

// The primary or unique key of `target` over exactly `columns`, in order.
TZNTConstraint& ReferredKey(const TZNTBaseTable& target, const std::vector<int32_t>& columns,
                            std::string_view written) {
  for (TZNTConstraint& k : target.constraints) {
    if (k.constraintType != TZNTConstraintType::PrimaryKey &&
        k.constraintType != TZNTConstraintType::Unique)
      continue;
    if (k.columns.Count() != static_cast<int>(columns.size())) continue;
    bool same = true;
    for (int i = 0; i < k.columns.Count(); ++i)
      same = same && k.columns.At(i).columnId == columns[i];
    if (same) return k;
  }
  RaiseZNTError(err::DoesNotExist,
                {"primary or unique key", target.Name() + " (" + std::string(written) + ")"});
}

// A foreign key to record with the key it refers to, once its table exists.
struct TSourceLink {
  TZNTConstraint* referred;
  int32_t constraintId;
};

// A foreign key whose target is resolved after all of its table's keys.
struct TPendingKey {
  TZNTConstraint* fk;
  const TZNTExprToken* def;
};

void AddConstraint(TZNTCatalog& catalog, TZNTBaseTable& table, TZNTExprToken& def,
                   const TZNTExprToken* column, std::vector<TPendingKey>& pending) {
  auto k = std::make_unique<TZNTConstraint>();
  k->SetName(def.objectName.empty() ? ConstraintName(table, def.op) : def.objectName);
  if (table.constraints.Find(k->Name()))
    RaiseZNTError(err::AlreadyExists, {"constraint", k->Name()});
  k->SetID(catalog.NewObjectID());
  if (def.op == TZNTOp::ConstraintCheck) {
    k->constraintType = TZNTConstraintType::Check;
    k->checkExpr = def.text;
    table.constraints.Add(std::move(k));
    return;
  }
  TZNTIndexType indexType = TZNTIndexType::Index;
  switch (def.op) {
    case TZNTOp::ConstraintPrimaryKey:
      if (const TZNTConstraint* pk = table.PrimaryKey())
        RaiseZNTError(err::AlreadyExists, {"primary key", pk->Name()});
      k->constraintType = TZNTConstraintType::PrimaryKey;
      indexType = TZNTIndexType::PrimaryKey;
      break;
    case TZNTOp::ConstraintUnique:
      k->constraintType = TZNTConstraintType::Unique;
      indexType = TZNTIndexType::Unique;
      break;
    default:
      k->constraintType = TZNTConstraintType::ForeignKey;
      indexType = TZNTIndexType::ForeignKey;
      break;
  }
  // The key's columns: its list, or the column it was declared with.
  std::vector<TZNTColumn*> keyColumns;
  if (const TZNTExprToken* list = def.Child(0)) {
    for (const auto& c : list->children) keyColumns.push_back(&ColumnOf(table, c->objectName));
  } else if (column) {
    keyColumns.push_back(&ColumnOf(table, column->objectName));
  }
  for (TZNTColumn* c : keyColumns) {
    auto kc = NewNamed<TZNTConstraintColumn>(catalog, c->Name());
    kc->columnId = c->ID();
    if (k->columns.Find(c->Name()))
      RaiseZNTError(err::AlreadyExists, {"constraint column", c->Name()});
    k->columns.Add(std::move(kc));
  }
  // The enforcing index, named as the constraint.
  if (table.indexes.Find(k->Name())) RaiseZNTError(err::AlreadyExists, {"index", k->Name()});
  auto index = NewNamed<TZNTIndex>(catalog, k->Name());
  index->indexType = indexType;
  index->ownerConstraintId = k->ID();
  for (TZNTColumn* c : keyColumns) {
    auto ic = NewNamed<TZNTIndexColumn>(catalog, c->Name());
    ic->columnId = c->ID();
    ic->collation = c->type.collation;
    index->columns.Add(std::move(ic));
  }
  CheckIndexKeys(table, *index);
  k->enforcingIndexId = index->ID();
  TZNTConstraint& added = table.constraints.Add(std::move(k));
  table.indexes.Add(std::move(index));
  if (added.constraintType == TZNTConstraintType::ForeignKey) pending.push_back({&added, &def});
}

// Completes a foreign key once every key of its table exists (it may refer
// to a key of its own table declared after it): the referred table, key and
// columns, and the actions.
void ResolveForeignKey(TZNTCatalog& catalog, const TZNTSchema& schema, const TZNTBaseTable& table,
                       TZNTConstraint& fk, const TZNTExprToken& def,
                       std::vector<TSourceLink>& links) {
  const TZNTBaseTable& target = ReferredTable(schema, table, *def.Child(1));
  std::vector<int32_t> targetIds;
  std::string written;
  if (const TZNTExprToken* list = def.Child(2)) {
    for (const auto& c : list->children) {
      targetIds.push_back(ColumnOf(target, c->objectName).ID());
      written += (written.empty() ? "" : ", ") + c->objectName;
    }
  } else if (const TZNTConstraint* pk = target.PrimaryKey()) {
    for (const TZNTConstraintColumn& c : pk->columns) {
      targetIds.push_back(c.columnId);
      written += (written.empty() ? "" : ", ") + c.Name();
    }
  }
  if (targetIds.size() != static_cast<size_t>(fk.columns.Count()))
    RaiseZNTError(err::DoesNotExist,
                  {"primary or unique key", target.Name() + " (" + written + ")"});
  TZNTConstraint& referred = ReferredKey(target, targetIds, written);
  fk.targetTableId = target.ID();
  fk.targetConstraintId = referred.ID();
  for (int32_t id : targetIds) {
    const TZNTColumn* c = target.columns.FindID(id);
    if (fk.targetColumns.Find(c->Name()))
      RaiseZNTError(err::AlreadyExists, {"target table column", c->Name()});
    auto tc = NewNamed<TZNTTargetTableColumn>(catalog, c->Name());
    tc->columnId = id;
    fk.targetColumns.Add(std::move(tc));
  }
  fk.updateAction = ActionOf(def.Child(3));
  fk.deleteAction = ActionOf(def.Child(4));
  links.push_back({&referred, fk.ID()});
}

void AddSourceLink(TZNTCatalog& catalog, const TZNTBaseTable& table, const TSourceLink& link) {
  std::string name;
  for (int n = 1; name.empty() || link.referred->sourceConstraints.Find(name); ++n)
    name = "Source" + std::to_string(n);
  auto source = NewNamed<TZNTSourceConstraint>(catalog, name);
  source->sourceTableId = table.ID();
  source->sourceConstraintId = link.constraintId;
  link.referred->sourceConstraints.Add(std::move(source));
}

}  // namespace

void CheckIndexKeys(const TZNTBaseTable& table, const TZNTIndex& index) {
  auto fail = [&](const std::string& detail) {
    RaiseZNTError(err::Metadata, {"index", index.Name(), detail});
  };
  int64_t keyLength = 0;
  if (index.indexType == TZNTIndexType::Text) {
    if (index.indexedWordLength < 1) fail("The word size is below the minimum of 1");
    if (index.indexedWordLength > kMaxIndexedWordLength)
      fail("The word size is above the maximum of " + std::to_string(kMaxIndexedWordLength));
    if (index.filterTypeColumnId != 0) {
      const TZNTColumn* filter = table.columns.FindID(index.filterTypeColumnId);
      if (!filter || filter->type.code != TZNTTypeCode::Char ||
          filter->type.subtype != kSubtypeFixed)
        fail("The text filter type column must be a CHAR column");
    }
    for (const TZNTIndexColumn& ic : index.columns) {
      const TZNTColumn* c = table.columns.FindID(ic.columnId);
      const bool text =
          c && (c->type.code == TZNTTypeCode::Char
                    ? c->type.subtype != kSubtypeGuid
                    : c->type.code == TZNTTypeCode::Blob && c->type.subtype == kSubtypeClob);
      if (!text)
        fail(
            "Columns that are not CHAR, VARCHAR, or CLOB columns cannot be included in a text "
            "index");
    }
    keyLength = index.indexedWordLength + 2;
  } else {
    for (const TZNTIndexColumn& ic : index.columns) {
      const TZNTColumn* c = table.columns.FindID(ic.columnId);
      assert(c);
      if (c->type.IsBlob()) fail("BLOB columns cannot be included in a non-text index");
      keyLength += c->dataSize + 1;
    }
  }
  const int64_t required = (4 * keyLength + 51 + 7) / 8 * 8;
  if (required > table.IndexPageSize())
    fail("The index page size is below the required of " + std::to_string(required));
}

TZNTDatabaseContainer& CreateDatabase(TZNTConfig& config, TZNTExprToken& st,
                                      std::string_view creator) {
  assert(st.op == TZNTOp::StCreateDatabase);
  auto db = std::make_unique<TZNTDatabaseContainer>();
  db->SetName(st.objectName);
  if (config.databases.Find(st.objectName))
    RaiseZNTError(err::AlreadyExists, {"database", st.objectName});
  db->SetID(config.NewObjectID());
  db->creator.assign(creator);
  if (TZNTExprToken* path = st.Child(0)) {
    db->path = TextValue(*path);
    db->SetInMemory(false);
  } else {
    db->SetInMemory(true);
  }
  db->encryptedCatalog = st.flags & kNodeEncryptedCatalog;
  if (TZNTExprToken* description = st.Child(1)) db->SetDescription(TextValue(*description));
  return config.databases.Add(std::move(db));
}

TZNTBaseTable& CreateTable(TZNTCatalog& catalog, TZNTExprToken& st, std::string_view creator) {
  assert(st.op == TZNTOp::StCreateTable);
  if (st.Child(2)) Unsupported(st, "CREATE TABLE AS");
  if (st.Child(3)) Unsupported(st, "CREATE TABLE LIKE");
  const TZNTExprToken& ref = *st.Child(0);
  TZNTSchema& schema = SchemaOf(catalog, ref);
  schema.CheckChangeable();
  auto table = std::make_unique<TZNTBaseTable>();
  table->SetTemporary(st.flags & kNodeTemporary);
  table->SetName(ref.objectName);
  if (schema.FindTable(ref.objectName))
    RaiseZNTError(err::AlreadyExists, {"table", ref.objectName});
  table->SetID(catalog.NewObjectID());
  table->creator.assign(creator);
  table->lockNumber = schema.baseTables.LowestFreeNumber(
      [](const TZNTConfigObject& o) { return static_cast<const TZNTBaseTable&>(o).lockNumber; });
  table->AddRowIdColumn(catalog.NewObjectID());
  // Options first: the page size decides whether the keys fit.
  ApplyTableOptions(*table, st.Child(4));
  std::vector<TPendingKey> pending;
  std::vector<TSourceLink> links;
  if (TZNTExprToken* elements = st.Child(1)) {
    for (auto& e : elements->children)
      if (e->op == TZNTOp::DeclColumn) AddColumnDefinition(catalog, *table, *e);
    for (auto& e : elements->children) {
      if (e->op != TZNTOp::DeclColumn) {
        AddConstraint(catalog, *table, *e, nullptr, pending);
      } else if (TZNTExprToken* constraints = e->Child(3)) {
        for (auto& c : constraints->children) AddConstraint(catalog, *table, *c, e.get(), pending);
      }
    }
  }
  for (const TPendingKey& p : pending)
    ResolveForeignKey(catalog, schema, *table, *p.fk, *p.def, links);
  table->UpdateRowSize();
  table->RefreshBindColumns();
  table->CheckInvariants();
  // Referred keys learn of their foreign keys only now, so that a failure
  // above leaves no trace in other tables.
  TZNTBaseTable& added = schema.baseTables.Add(std::move(table));
  for (const TSourceLink& link : links) AddSourceLink(catalog, added, link);
  return added;
}

TZNTIndex& CreateIndex(TZNTCatalog& catalog, TZNTExprToken& st, const TZNTConfig* config) {
  assert(st.op == TZNTOp::StCreateIndex || st.op == TZNTOp::StCreateTextIndex);
  TZNTBaseTable& table = TableOf(catalog, *st.Child(0));
  table.CheckChangeable();
  auto index = std::make_unique<TZNTIndex>();
  index->SetName(st.objectName);
  if (table.indexes.Find(st.objectName))
    RaiseZNTError(err::AlreadyExists, {"index", st.objectName});
  index->SetID(catalog.NewObjectID());
  auto addColumn = [&](const TZNTColumn& c, const TZNTExprToken* collation, bool descending) {
    if (index->columns.Find(c.Name()))
      RaiseZNTError(err::AlreadyExists, {"index column", c.Name()});
    auto ic = NewNamed<TZNTIndexColumn>(catalog, c.Name());
    ic->columnId = c.ID();
    ic->collation = collation ? CollationId(*collation) : c.type.collation;
    ic->descending = descending;
    index->columns.Add(std::move(ic));
  };
  if (st.op == TZNTOp::StCreateIndex) {
    for (auto& item : st.Child(1)->children)
      addColumn(ColumnOf(table, item->Child(0)->objectName), item->Child(1),
                item->flags & kNodeDescending);
  } else {
    index->indexType = TZNTIndexType::Text;
    index->indexedWordLength = kDefaultIndexedWordLength;
    const TZNTWordGenerator* generator =
        config ? config->wordGenerators.Find(kZNTDefaultWordGeneratorName) : nullptr;
    addColumn(ColumnOf(table, st.Child(1)->objectName), nullptr, false);
    if (TZNTExprToken* options = st.Child(3)) {
      for (auto& o : options->children) {
        if (o->op == TZNTOp::OptIndexedWordLength) {
          index->indexedWordLength = Int32Value(*o->Child(0));
        } else if (o->op == TZNTOp::OptFilterTypeColumn) {
          index->filterTypeColumnId = ColumnOf(table, o->text).ID();
        } else if (o->op == TZNTOp::OptWordGenerator) {
          generator = config ? config->wordGenerators.Find(o->text) : nullptr;
          if (!generator) RaiseZNTError(err::DoesNotExist, {"word generator", o->text});
        }
      }
    }
    index->wordGeneratorId = generator ? generator->ID() : 0;
  }
  if (TZNTExprToken* description = st.Child(2)) index->SetDescription(TextValue(*description));
  CheckIndexKeys(table, *index);
  TZNTIndex& added = table.indexes.Add(std::move(index));
  ++table.internalVersion;
  table.RefreshBindColumns();
  return added;
}

void RemoveIndex(TZNTBaseTable& table, const TZNTIndex& index) {
  std::unique_ptr<TZNTIndex> removed = table.indexes.Remove(index);
  --table.internalVersion;
  table.RefreshBindColumns();
}

TZNTTrigger& CreateTrigger(TZNTCatalog& catalog, TZNTExprToken& st) {
  assert(st.op == TZNTOp::StCreateTrigger);
  TZNTBaseTable& table = TableOf(catalog, *st.Child(0));
  table.CheckChangeable();
  auto trigger = std::make_unique<TZNTTrigger>();
  trigger->SetName(st.objectName);
  if (table.triggers.Find(st.objectName))
    RaiseZNTError(err::AlreadyExists, {"trigger", st.objectName});
  trigger->SetID(catalog.NewObjectID());
  trigger->actionTime = st.aux / 16;
  trigger->actionType = st.aux % 16;
  if (TZNTExprToken* columns = st.Child(1)) {
    for (auto& c : columns->children) {
      const TZNTColumn& column = ColumnOf(table, c->objectName);
      if (trigger->columns.Find(column.Name()))
        RaiseZNTError(err::AlreadyExists, {"trigger column", column.Name()});
      auto tc = NewNamed<TZNTTriggerColumn>(catalog, column.Name());
      tc->columnId = column.ID();
      trigger->columns.Add(std::move(tc));
    }
  }
  if (TZNTExprToken* when = st.Child(2)) trigger->condition = TZNTExprBuilder().Render(*when);
  trigger->body = st.text;
  if (TZNTExprToken* description = st.Child(4)) trigger->SetDescription(TextValue(*description));
  return table.triggers.Add(std::move(trigger));
}

void ApplyMetadataChange(TZNTConfigObjectManager& manager, const std::function<void()>& change) {
  manager.BeginWrite();
  try {
    change();
    manager.MarkChanged();
  } catch (...) {
    // The change's own error is the one to report; a failing reload must
    // not replace it.
    try {
      manager.CancelWrite();
    } catch (const EZNTException&) {
    }
    throw;
  }
  manager.CommitWrite();
}

std::unique_ptr<TZNTCatalog> NewConfigurationCatalog() {
  auto catalog = std::make_unique<TZNTCatalog>();
  auto schema = std::make_unique<TZNTSchema>();
  schema->SetID(catalog->NewSystemID());
  schema->SetName(kZNTDefaultSchemaName);
  schema->SetDescription("Default Schema");
  schema->SetSystem(true);
  schema->SetReadOnly(true);
  schema->creator = kZNTSystemUserName;
  TZNTSchema& added = catalog->schemas.Add(std::move(schema));
  AddSystemTables(*catalog, added, ConfigurationTableDefs());
  catalog->SetReadOnly(true);
  return catalog;
}

const TZNTBindTable* TZNTCatalogBindAdapter::FindTable(std::string_view database,
                                                       std::string_view schema,
                                                       std::string_view name) {
  TZNTCatalog* catalog = &catalog_;
  if (!database.empty() && !ZNTSameText(database, databaseName_)) {
    catalog = resolver_ ? resolver_(database) : nullptr;
    if (!catalog) return nullptr;
  }
  const TZNTSchema* s = schema.empty() ? catalog->DefaultSchema() : catalog->schemas.Find(schema);
  return s ? s->FindTable(name) : nullptr;
}

}  // namespace znt
