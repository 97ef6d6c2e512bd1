#include "sql/zntbind.h"

#include <algorithm>
#include <climits>

#include "base/zntconsts.h"
#include "base/zntdatetime.h"
#include "base/znterror.h"
#include "base/zntmath.h"
#include "base/zntstring.h"
#include "sql/zntscanner.h"
#include "sql/znttypefunc.h"
#include "sql/zntvalue.h"

namespace znt {

int TZNTBindTable::FindColumn(std::string_view name) const {
  for (int i = 0, n = ColumnCount(); i < n; ++i)
    if (ZNTSameText(Column(i).name, name)) return i;
  return -1;
}

TZNTMemoryBindTable& TZNTMemoryBindCatalog::AddTable(std::string name, std::string schema) {
  tables_.push_back({std::move(schema), std::make_unique<TZNTMemoryBindTable>(std::move(name))});
  return *tables_.back().table;
}

const TZNTBindTable* TZNTMemoryBindCatalog::FindTable(std::string_view database,
                                                      std::string_view schema,
                                                      std::string_view name) {
  (void)database;
  for (const Entry& e : tables_) {
    bool schemaMatches = schema.empty() || ZNTSameText(schema, "Default")
                             ? e.schema.empty()
                             : ZNTSameText(e.schema, schema);
    if (schemaMatches && ZNTSameText(e.table->Name(), name)) return e.table.get();
  }
  return nullptr;
}

std::string ResultColumnName(const TZNTExprToken& item) {
  if (!item.correlationName.empty()) return item.correlationName;
  const TZNTExprToken* e = item.Child(0);
  if (e && e->kind == TZNTNodeKind::ColumnReference && !(e->flags & kNodeWildcard))
    return e->objectName;
  return item.text;
}

namespace {

constexpr int kMaxGroupByColumns = 256;
constexpr int kMaxOrderByColumns = 256;

TZNTDataType Boolean() { return TZNTDataType::Of(TZNTTypeCode::Boolean); }
TZNTDataType Integer() { return TZNTDataType::Of(TZNTTypeCode::Integer); }
TZNTDataType FloatType() { return TZNTDataType::Of(TZNTTypeCode::Float); }

bool IsUnknown(const TZNTDataType& t) { return t.code == TZNTTypeCode::Unknown; }

std::vector<TZNTDataType> CharacterTypes() {
  return {TZNTDataType::FixedChar(1), TZNTDataType::Guid(), TZNTDataType::VarChar(1),
          TZNTDataType::Clob()};
}

std::vector<TZNTDataType> NumberTypes() {
  return {TZNTDataType::Of(TZNTTypeCode::SmallInt), TZNTDataType::Of(TZNTTypeCode::Integer),
          TZNTDataType::Of(TZNTTypeCode::BigInt), FloatType(), TZNTDataType::Decimal(0)};
}

std::vector<TZNTDataType> IntegerTypes() {
  return {TZNTDataType::Of(TZNTTypeCode::SmallInt), TZNTDataType::Of(TZNTTypeCode::Integer),
          TZNTDataType::Of(TZNTTypeCode::BigInt)};
}

TZNTTypingOp TypingOpOf(TZNTOp op) {
  switch (op) {
    case TZNTOp::Add: return TZNTTypingOp::Add;
    case TZNTOp::Subtract: return TZNTTypingOp::Subtract;
    case TZNTOp::Multiply: return TZNTTypingOp::Multiply;
    case TZNTOp::Divide: return TZNTTypingOp::Divide;
    case TZNTOp::Mod: return TZNTTypingOp::Mod;
    case TZNTOp::Negate: return TZNTTypingOp::Negate;
    case TZNTOp::Not: return TZNTTypingOp::Not;
    case TZNTOp::And: return TZNTTypingOp::And;
    case TZNTOp::Or: return TZNTTypingOp::Or;
    case TZNTOp::Equal: return TZNTTypingOp::Equal;
    case TZNTOp::NotEqual: return TZNTTypingOp::NotEqual;
    case TZNTOp::Less: return TZNTTypingOp::Less;
    case TZNTOp::LessEqual: return TZNTTypingOp::LessEqual;
    case TZNTOp::Greater: return TZNTTypingOp::Greater;
    default: return TZNTTypingOp::GreaterEqual;
  }
}

// One table of a FROM clause as the names of a query see it.
struct FromEntry {
  std::string name;  // the correlation name, else the table's name
  const TZNTBindTable* table = nullptr;
};

struct Scope {
  Scope* outer = nullptr;
  std::vector<FromEntry> entries;
  // While a join condition is bound, the entries at this position and later
  // are not in scope yet.
  size_t visible = SIZE_MAX;
  // A trigger's table, whose columns are named NEWROW.c and OLDROW.c.
  const TZNTBindTable* triggerTable = nullptr;
  bool triggerCanAssign = false;
  std::vector<std::string> variables;
  std::vector<TZNTDataType> variableTypes;
};

// Where an expression stands inside its query.
struct Place {
  bool aggregates = false;    // aggregates allowed here
  bool inAggregate = false;   // inside an aggregate's argument
  const char* noAggregateReason = "aggregate functions not allowed";
};

class Binder {
 public:
  Binder(TZNTBindCatalog& catalog, const TZNTBindContext& context)
      : catalog_(catalog), context_(context) {}

  void Bind(TZNTExprToken& root);

 private:
  // Statements
  void Statement(TZNTExprToken& st, Scope* outer);
  void Insert(TZNTExprToken& st, Scope* outer);
  void Update(TZNTExprToken& st, Scope* outer);
  void Delete(TZNTExprToken& st, Scope* outer);
  void CreateTable(TZNTExprToken& st);
  void CreateTrigger(TZNTExprToken& st);
  void Block(TZNTExprToken& block, Scope& scope);
  void ColumnType(TZNTExprToken& column);

  // Queries: binds `q` and returns its result columns.
  std::vector<TZNTBindColumn> Query(TZNTExprToken& q, Scope* outer);
  // A query inside an expression, a derived table or a set operation: it
  // cannot be ordered.
  std::vector<TZNTBindColumn> Subquery(TZNTExprToken& q, Scope* outer);
  std::vector<TZNTBindColumn> QuerySpec(TZNTExprToken& q, Scope* outer);
  // Adds the tables of a FROM item to the scope; its join conditions are
  // collected with the number of tables each may see.
  void FromItem(TZNTExprToken& item, Scope& scope,
                std::vector<std::pair<TZNTExprToken*, size_t>>& joins);
  const TZNTBindTable* ResolveTable(TZNTExprToken& ref);
  void AddEntry(Scope& scope, TZNTExprToken& ref, const TZNTBindTable* table);
  void CheckGrouping(TZNTExprToken& e, const TZNTExprToken* groupBy, const char* reason);
  void OrderBy(TZNTExprToken& list, Scope& scope, const std::vector<TZNTBindColumn>& columns,
               bool aggregates);

  // Expressions
  void Expr(TZNTExprToken& e, Scope& scope, Place place);
  void Column(TZNTExprToken& e, Scope& scope);
  void Constant(TZNTExprToken& e);
  void Function(TZNTExprToken& e, Scope& scope, Place place);
  void Operator(TZNTExprToken& e, Scope& scope, Place place);
  void Extended(TZNTExprToken& e, Scope& scope, Place place);
  void ScalarQuery(TZNTExprToken& e, Scope& scope);
  void Collate(TZNTExprToken& e, TZNTExprToken* collation);
  TZNTDataType CommonType(TZNTExprToken& owner, const std::vector<TZNTExprToken*>& args);
  void Infer(TZNTExprToken& e, const TZNTDataType& type);
  void RequireTypes(TZNTExprToken& arg, const std::vector<TZNTDataType>& accepted,
                    bool (*test)(const TZNTDataType&));
  void Typed(TZNTExprToken& offender, const TZNTTyping& typing);

  [[noreturn]] void Fail(const TZNTExprToken& at, std::string_view detail) const;
  [[noreturn]] void Invalid(const TZNTExprToken& at, std::string_view reason) const;
  [[noreturn]] void TypeError(const TZNTExprToken& at, std::string_view expected) const;
  [[noreturn]] void Missing(const TZNTExprToken& at, std::string_view kind,
                            std::string_view name) const;

  TZNTBindCatalog& catalog_;
  const TZNTBindContext& context_;
  // Tables made for derived tables and tables being defined; they live as
  // long as the binder, which is long enough for the names bound against them.
  std::vector<std::unique_ptr<TZNTMemoryBindTable>> madeTables_;
};

std::string Rendered(const TZNTExprToken& e) { return TZNTExprBuilder().Render(e); }

void Binder::Fail(const TZNTExprToken& at, std::string_view detail) const {
  RaiseZNTErrorAt(err::Compile, at.line, at.column,
                  {context_.textKind, std::to_string(at.line), std::to_string(at.column), detail});
}

void Binder::Invalid(const TZNTExprToken& at, std::string_view reason) const {
  Fail(at, "Invalid expression " + Rendered(at) + " found, " + std::string(reason));
}

void Binder::TypeError(const TZNTExprToken& at, std::string_view expected) const {
  Fail(at, "Expected " + std::string(expected) + " but instead found " + Rendered(at));
}

void Binder::Missing(const TZNTExprToken& at, std::string_view kind, std::string_view name) const {
  Fail(at, ZNTErrorText(err::DoesNotExist, {kind, name}));
}

void Binder::Typed(TZNTExprToken& offender, const TZNTTyping& typing) {
  TypeError(offender, AcceptableTypesText(typing.expected));
}

void Binder::Bind(TZNTExprToken& root) {
  if (root.kind == TZNTNodeKind::Statement) {
    Statement(root, nullptr);
    return;
  }
  // A stand-alone expression: a check constraint or a column expression of
  // the context's table.
  Scope scope;
  if (context_.table) scope.entries.push_back({context_.table->Name(), context_.table});
  Expr(root, scope, Place{});
}

// ---------------------------------------------------------------------------
// Statements

void Binder::Statement(TZNTExprToken& st, Scope* outer) {
  switch (st.op) {
    case TZNTOp::StSelect: Query(*st.Child(0), outer); break;
    case TZNTOp::StInsert: Insert(st, outer); break;
    case TZNTOp::StUpdate: Update(st, outer); break;
    case TZNTOp::StDelete: Delete(st, outer); break;
    case TZNTOp::StCreateTable: CreateTable(st); break;
    case TZNTOp::StCreateTrigger: CreateTrigger(st); break;
    case TZNTOp::StCreateDatabase: {
      // The path and description are constants: check that they are texts.
      for (size_t slot : {size_t{0}, size_t{1}}) {
        if (TZNTExprToken* c = st.Child(slot)) {
          Scope none;
          Expr(*c, none, Place{});
          if (!c->type.IsCharacter()) TypeError(*c, AcceptableTypesText(CharacterTypes()));
        }
      }
      break;
    }
    case TZNTOp::StCreateIndex:
    case TZNTOp::StCreateTextIndex: {
      TZNTExprToken& table = *st.Child(0);
      const TZNTBindTable* t = ResolveTable(table);
      auto check = [&](TZNTExprToken& col) {
        int c = t->FindColumn(col.objectName);
        if (c < 0 || t->Column(c).hidden) Missing(col, "column", col.objectName);
        col.boundTable = t;
        col.boundColumn = c;
        col.type = t->Column(c).type;
      };
      if (st.op == TZNTOp::StCreateIndex) {
        for (auto& item : st.Child(1)->children) {
          check(*item->Child(0));
          Collate(*item->Child(0), item->Child(1));
        }
      } else {
        check(*st.Child(1));
      }
      break;
    }
    case TZNTOp::RtSet:
    case TZNTOp::RtSetLogMessage:
    case TZNTOp::RtSetProgress:
    case TZNTOp::RtSetStatusMessage:
      // Only inside routine blocks, which Block() binds.
      break;
    default: break;
  }
}

const TZNTBindTable* Binder::ResolveTable(TZNTExprToken& ref) {
  const TZNTBindTable* t = catalog_.FindTable(ref.databaseName, ref.schemaName, ref.objectName);
  if (t == nullptr) Missing(ref, "table", ref.objectName);
  ref.boundTable = t;
  return t;
}

void Binder::Insert(TZNTExprToken& st, Scope* outer) {
  TZNTExprToken& target = *st.Child(0);
  const TZNTBindTable* t = ResolveTable(target);
  std::vector<int> columns;
  if (TZNTExprToken* list = st.Child(1)) {
    for (auto& col : list->children) {
      int c = t->FindColumn(col->objectName);
      if (c < 0 || t->Column(c).hidden) Missing(*col, "column", col->objectName);
      col->boundTable = t;
      col->boundColumn = c;
      col->type = t->Column(c).type;
      columns.push_back(c);
    }
  } else {
    for (int c = 0; c < t->ColumnCount(); ++c)
      if (!t->Column(c).hidden) columns.push_back(c);
  }
  if (TZNTExprToken* values = st.Child(2)) {
    if (values->children.size() != columns.size())
      Invalid(*values, "the number of INSERT values does not match the number of columns");
    Scope scope;
    scope.outer = outer;
    for (size_t i = 0; i < columns.size(); ++i) {
      TZNTExprToken& v = *values->children[i];
      Expr(v, scope, Place{});
      const TZNTDataType& ct = t->Column(columns[i]).type;
      Infer(v, ct);
      if (!(v.flags & kNodeNullConstant)) {
        TZNTTyping typing = TypeBinaryOperator(TZNTTypingOp::Equal, ct, v.type);
        if (!typing.ok) Typed(v, typing);
      }
    }
  } else if (TZNTExprToken* q = st.Child(3)) {
    std::vector<TZNTBindColumn> result = Query(*q, outer);
    if (result.size() != columns.size())
      Invalid(*q, "the number of query columns does not match the number of defined columns for "
                  "the table");
  }
}

void Binder::Update(TZNTExprToken& st, Scope* outer) {
  TZNTExprToken& target = *st.Child(0);
  const TZNTBindTable* t = ResolveTable(target);
  Scope scope;
  scope.outer = outer;
  AddEntry(scope, target, t);
  for (auto& a : st.Child(1)->children) {
    TZNTExprToken& col = *a->left;
    int c = t->FindColumn(col.objectName);
    if (c < 0 || t->Column(c).hidden) Missing(col, "column", col.objectName);
    col.boundTable = t;
    col.boundDepth = 0;
    col.boundEntry = 0;
    col.boundColumn = c;
    col.type = t->Column(c).type;
    Expr(*a->right, scope, Place{});
    Infer(*a->right, col.type);
    if (!(a->right->flags & kNodeNullConstant)) {
      TZNTTyping typing = TypeBinaryOperator(TZNTTypingOp::Equal, col.type, a->right->type);
      if (!typing.ok) Typed(*a->right, typing);
    }
  }
  if (TZNTExprToken* w = st.Child(2)) {
    Expr(*w, scope, Place{});
    if (w->type.code != TZNTTypeCode::Boolean) TypeError(*w, "Boolean expression");
  }
}

void Binder::Delete(TZNTExprToken& st, Scope* outer) {
  TZNTExprToken& target = *st.Child(0);
  const TZNTBindTable* t = ResolveTable(target);
  Scope scope;
  scope.outer = outer;
  AddEntry(scope, target, t);
  if (TZNTExprToken* w = st.Child(1)) {
    Expr(*w, scope, Place{});
    if (w->type.code != TZNTTypeCode::Boolean) TypeError(*w, "Boolean expression");
  }
}

// The size and scale limits of a column definition.
void Binder::ColumnType(TZNTExprToken& column) {
  TZNTExprToken& typeNode = *column.Child(0);
  TZNTDataType& t = typeNode.type;
  auto limit = [&](const char* what, bool below, int bound) {
    Fail(typeNode, std::string("The ") + what + " is " + (below ? "below the minimum" : "above the maximum") +
                       " of " + std::to_string(bound));
  };
  if ((t.code == TZNTTypeCode::Char && t.subtype != kSubtypeGuid) || t.code == TZNTTypeCode::Byte) {
    if (t.size < kMinCharSize) limit("size", true, kMinCharSize);
    if (t.size > kMaxCharSize) limit("size", false, kMaxCharSize);
  }
  if (t.code == TZNTTypeCode::Decimal) {
    if (typeNode.aux < 0) limit("scale", true, 0);
    if (typeNode.aux > kMaxDecimalScale) limit("scale", false, kMaxDecimalScale);
  }
  if (TZNTExprToken* collation = typeNode.Child(0)) Collate(typeNode, collation);
  column.type = t;
}

void Binder::CreateTable(TZNTExprToken& st) {
  TZNTExprToken& name = *st.Child(0);
  if (TZNTExprToken* elements = st.Child(1)) {
    // The table being defined: its columns are what checks and defaults name.
    auto table = std::make_unique<TZNTMemoryBindTable>(name.objectName);
    for (auto& e : elements->children) {
      if (e->op != TZNTOp::DeclColumn) continue;
      if (table->FindColumn(e->objectName) >= 0) Fail(*e, ZNTErrorText(err::AlreadyExists, {"column", e->objectName}));
      ColumnType(*e);
      table->AddColumn({e->objectName, e->type, false, false});
    }
    const TZNTMemoryBindTable& defined = *table;
    madeTables_.push_back(std::move(table));
    TZNTBindContext column = context_;
    for (auto& e : elements->children) {
      auto bindCheck = [&](TZNTExprToken& constraint) {
        if (constraint.op != TZNTOp::ConstraintCheck) {
          if (TZNTExprToken* cols = constraint.Child(0)) {
            for (auto& c : cols->children)
              if (defined.FindColumn(c->objectName) < 0) Missing(*c, "column", c->objectName);
          }
          return;
        }
        Scope scope;
        scope.entries.push_back({defined.Name(), &defined});
        Expr(*constraint.Child(0), scope, Place{});
        if (constraint.Child(0)->type.code != TZNTTypeCode::Boolean)
          TypeError(*constraint.Child(0), "Boolean expression");
      };
      if (e->kind == TZNTNodeKind::Declaration && e->op != TZNTOp::DeclColumn) {
        bindCheck(*e);
        continue;
      }
      if (TZNTExprToken* gen = e->Child(2)) {
        Scope scope;
        if (gen->op == TZNTOp::GenAlwaysAs || gen->op == TZNTOp::ComputedAlwaysAs)
          scope.entries.push_back({defined.Name(), &defined});
        for (auto& child : gen->children) {
          if (!child) continue;
          Expr(*child, scope, Place{});
          if (gen->op == TZNTOp::GenIdentityAlways || gen->op == TZNTOp::GenIdentityByDefault) {
            if (!child->type.IsInteger()) TypeError(*child, AcceptableTypesText(IntegerTypes()));
          } else if (!(child->flags & kNodeNullConstant)) {
            TZNTTyping typing = TypeBinaryOperator(TZNTTypingOp::Equal, e->type, child->type);
            if (!typing.ok) Typed(*child, typing);
          }
        }
        if ((gen->op == TZNTOp::GenIdentityAlways || gen->op == TZNTOp::GenIdentityByDefault) &&
            !e->type.IsInteger())
          TypeError(*e->Child(0), AcceptableTypesText(IntegerTypes()));
      }
      if (TZNTExprToken* constraints = e->Child(3))
        for (auto& c : constraints->children) bindCheck(*c);
    }
  } else if (TZNTExprToken* q = st.Child(2)) {
    Query(*q, nullptr);
  } else if (TZNTExprToken* like = st.Child(3)) {
    ResolveTable(*like->left);
  }
  if (TZNTExprToken* options = st.Child(4)) {
    for (auto& o : options->children) {
      if (TZNTExprToken* v = o->Child(0)) {
        Scope none;
        Expr(*v, none, Place{});
        bool text = o->op == TZNTOp::OptDescription;
        bool ok = text ? v->type.IsCharacter() : v->type.IsNumber();
        if (!ok) TypeError(*v, AcceptableTypesText(text ? CharacterTypes() : NumberTypes()));
      }
    }
  }
}

void Binder::CreateTrigger(TZNTExprToken& st) {
  const TZNTBindTable* t = ResolveTable(*st.Child(0));
  auto timing = static_cast<TZNTTriggerTiming>(st.aux / 16);
  auto event = static_cast<TZNTTriggerEvent>(st.aux % 16);
  if (TZNTExprToken* cols = st.Child(1)) {
    for (auto& c : cols->children)
      if (t->FindColumn(c->objectName) < 0) Missing(*c, "column", c->objectName);
  }
  Scope scope;
  scope.triggerTable = t;
  // New-row columns may be assigned before an insert or update (and in their
  // error triggers), never after, and never on a delete.
  scope.triggerCanAssign =
      timing != TZNTTriggerTiming::After && event != TZNTTriggerEvent::Delete;
  if (TZNTExprToken* when = st.Child(2)) {
    Expr(*when, scope, Place{});
    if (when->type.code != TZNTTypeCode::Boolean) TypeError(*when, "Boolean expression");
  }
  Block(*st.Child(3), scope);
}

void Binder::Block(TZNTExprToken& block, Scope& outer) {
  Scope scope = outer;  // a block's declarations are its own
  scope.outer = outer.outer;
  // A value stored into a variable or a column: the rules of =.
  auto assignable = [&](TZNTExprToken& value, const TZNTDataType& target) {
    Infer(value, target);
    if (value.flags & kNodeNullConstant) return;
    TZNTTyping typing = TypeBinaryOperator(TZNTTypingOp::Equal, target, value.type);
    if (!typing.ok) Typed(value, typing);
  };
  // Declarations open the block and may stand among its statements as well.
  auto declare = [&](TZNTExprToken& d) {
    if (TZNTExprToken* def = d.Child(2)) {
      Expr(*def, scope, Place{});
      assignable(*def, d.type);
    }
    for (auto& v : d.Child(0)->children) {
      for (const std::string& existing : scope.variables)
        if (ZNTSameText(existing, v->objectName))
          Invalid(*v, "duplicate variable declaration " + v->objectName + " found");
      scope.variables.push_back(v->objectName);
      scope.variableTypes.push_back(d.type);
      v->type = d.type;
    }
  };
  if (TZNTExprToken* declarations = block.Child(0))
    for (auto& d : declarations->children) declare(*d);
  for (auto& st : block.Child(1)->children) {
    switch (st->op) {
      case TZNTOp::DeclVariable: declare(*st); break;
      case TZNTOp::RtBlock: Block(*st, scope); break;
      case TZNTOp::RtSet:
        for (auto& a : st->Child(0)->children) {
          TZNTExprToken& target = *a->left;
          Column(target, scope);
          if (target.kind == TZNTNodeKind::ColumnReference &&
              ((target.flags & kNodeOldRow) || !scope.triggerCanAssign || target.boundDepth >= 0))
            Invalid(target, "a value cannot be assigned to this column reference");
          Expr(*a->right, scope, Place{});
          assignable(*a->right, target.type);
        }
        break;
      case TZNTOp::RtSetLogMessage:
      case TZNTOp::RtSetProgress:
      case TZNTOp::RtSetStatusMessage: Expr(*st->Child(0), scope, Place{}); break;
      default: Statement(*st, &scope); break;
    }
  }
}

// ---------------------------------------------------------------------------
// Queries

void Binder::AddEntry(Scope& scope, TZNTExprToken& ref, const TZNTBindTable* table) {
  std::string name = ref.correlationName.empty() ? ref.objectName : ref.correlationName;
  if (!ref.correlationName.empty()) {
    // Letters, digits, blanks, _ and - after a leading letter or _.
    auto letter = [](unsigned char c) { return c == '_' || IsZNTLetter(c); };
    bool valid = !name.empty() && letter(static_cast<unsigned char>(name[0]));
    for (char ch : name) {
      unsigned char c = static_cast<unsigned char>(ch);
      if (!(letter(c) || IsZNTDigit(c) || c == ' ' || c == '-')) valid = false;
    }
    if (!valid) Invalid(ref, "invalid correlation name");
  }
  for (const FromEntry& e : scope.entries)
    if (ZNTSameText(e.name, name)) Invalid(ref, "duplicate table or table correlation name found");
  scope.entries.push_back({name, table});
}

void Binder::FromItem(TZNTExprToken& item, Scope& scope,
                      std::vector<std::pair<TZNTExprToken*, size_t>>& joins) {
  if (item.kind == TZNTNodeKind::Join) {
    // Written order: for a right join the target was written first.
    bool right = item.aux == 1;
    FromItem(right ? *item.right : *item.left, scope, joins);
    FromItem(right ? *item.left : *item.right, scope, joins);
    // The condition sees the tables written up to and including this join's.
    joins.emplace_back(item.Child(0), scope.entries.size());
    return;
  }
  if (item.op == TZNTOp::TableDerived) {
    std::vector<TZNTBindColumn> columns = Subquery(*item.Child(0), scope.outer);
    auto table = std::make_unique<TZNTMemoryBindTable>(item.correlationName);
    for (TZNTBindColumn& c : columns) table->AddColumn(std::move(c));
    item.boundTable = table.get();
    AddEntry(scope, item, table.get());
    madeTables_.push_back(std::move(table));
    return;
  }
  AddEntry(scope, item, ResolveTable(item));
}

std::vector<TZNTBindColumn> Binder::Query(TZNTExprToken& q, Scope* outer) {
  std::vector<TZNTBindColumn> columns;
  if (q.op == TZNTOp::QuerySpec) {
    columns = QuerySpec(q, outer);
  } else {
    columns = Subquery(*q.left, outer);
    std::vector<TZNTBindColumn> right = Subquery(*q.right, outer);
    if (columns.size() != right.size()) Invalid(q, "column counts do not match");
    for (size_t i = 0; i < columns.size(); ++i) {
      TZNTTyping typing = TypeCommon({columns[i].type, right[i].type});
      if (!typing.ok) TypeError(*q.right, AcceptableTypesText({columns[i].type}));
      columns[i].type = typing.type;
    }
    if (TZNTExprToken* order = q.Child(qslot::OrderBy)) {
      Scope scope;
      scope.outer = outer;
      OrderBy(*order, scope, columns, false);
    }
  }
  for (size_t slot : {qslot::RangeFirst, qslot::RangeLast}) {
    if (TZNTExprToken* r = q.Child(slot)) {
      Scope none;
      Expr(*r, none, Place{});
      if (!r->type.IsInteger()) TypeError(*r, AcceptableTypesText(IntegerTypes()));
    }
  }
  q.type = columns.size() == 1 ? columns[0].type : TZNTDataType{};
  return columns;
}

std::vector<TZNTBindColumn> Binder::Subquery(TZNTExprToken& q, Scope* outer) {
  if (TZNTExprToken* order = q.Child(qslot::OrderBy)) Invalid(*order, "ORDER BY clause not allowed");
  return Query(q, outer);
}

bool ContainsAggregate(const TZNTExprToken& e) {
  if (e.kind == TZNTNodeKind::Function && IsAggregate(e.op)) return true;
  if (e.kind == TZNTNodeKind::Query) return false;  // a sub-query's aggregates are its own
  if (e.left && ContainsAggregate(*e.left)) return true;
  if (e.right && ContainsAggregate(*e.right)) return true;
  for (const auto& c : e.children)
    if (c && ContainsAggregate(*c)) return true;
  return false;
}

// The first column of this query level found outside any aggregate.
const TZNTExprToken* PlainColumn(const TZNTExprToken& e) {
  if (e.kind == TZNTNodeKind::Function && IsAggregate(e.op)) return nullptr;
  if (e.kind == TZNTNodeKind::Query) return nullptr;
  if (e.kind == TZNTNodeKind::ColumnReference && e.boundDepth == 0) return &e;
  if (e.left)
    if (const TZNTExprToken* c = PlainColumn(*e.left)) return c;
  if (e.right)
    if (const TZNTExprToken* c = PlainColumn(*e.right)) return c;
  for (const auto& c : e.children)
    if (c)
      if (const TZNTExprToken* found = PlainColumn(*c)) return found;
  return nullptr;
}

bool SameColumn(const TZNTExprToken& a, const TZNTExprToken& b) {
  return a.kind == TZNTNodeKind::ColumnReference && b.kind == TZNTNodeKind::ColumnReference &&
         a.boundDepth == b.boundDepth && a.boundEntry == b.boundEntry &&
         a.boundColumn == b.boundColumn;
}

// Every column outside an aggregate must be one of the GROUP BY columns.
void Binder::CheckGrouping(TZNTExprToken& e, const TZNTExprToken* groupBy, const char* reason) {
  if (e.kind == TZNTNodeKind::Function && IsAggregate(e.op)) return;
  if (e.kind == TZNTNodeKind::Query) return;
  if (groupBy) {
    for (const auto& item : groupBy->children)
      if (SameColumn(*item->Child(0), e) || Rendered(*item->Child(0)) == Rendered(e)) return;
  }
  if (e.kind == TZNTNodeKind::ColumnReference && e.boundDepth == 0) Invalid(e, reason);
  if (e.left) CheckGrouping(*e.left, groupBy, reason);
  if (e.right) CheckGrouping(*e.right, groupBy, reason);
  for (auto& c : e.children)
    if (c) CheckGrouping(*c, groupBy, reason);
}

std::vector<TZNTBindColumn> Binder::QuerySpec(TZNTExprToken& q, Scope* outer) {
  Scope scope;
  scope.outer = outer;
  std::vector<std::pair<TZNTExprToken*, size_t>> joins;
  for (auto& item : q.Child(qslot::From)->children) FromItem(*item, scope, joins);

  // Select items, with * expanded into the result columns; the join
  // conditions come after them.
  std::vector<TZNTBindColumn> columns;
  bool anyAggregate = false;
  Place select;
  select.aggregates = true;
  for (auto& item : q.Child(qslot::Select)->children) {
    TZNTExprToken& e = *item->Child(0);
    if (e.kind == TZNTNodeKind::ColumnReference && (e.flags & kNodeWildcard)) {
      bool found = e.correlationName.empty();
      for (size_t i = 0; i < scope.entries.size(); ++i) {
        const FromEntry& entry = scope.entries[i];
        if (!e.correlationName.empty()) {
          if (!ZNTSameText(entry.name, e.correlationName)) continue;
          found = true;
          e.boundEntry = static_cast<int32_t>(i);
        }
        for (int c = 0; c < entry.table->ColumnCount(); ++c)
          if (!entry.table->Column(c).hidden) columns.push_back(entry.table->Column(c));
      }
      if (!found) Missing(e, "table", e.correlationName);
      e.boundDepth = 0;
      continue;
    }
    Expr(e, scope, select);
    if (e.flags & kNodeNullConstant) Invalid(e, "a constant NULL value is not allowed as a SELECT expression");
    if (e.kind == TZNTNodeKind::DynamicParameter)
      Invalid(e, "dynamic parameter type cannot be inferred");
    anyAggregate = anyAggregate || ContainsAggregate(e);
    item->type = e.type;
    columns.push_back({ResultColumnName(*item), e.type, false, false});
  }
  for (auto [condition, visible] : joins) {
    scope.visible = visible;
    Expr(*condition, scope, Place{});
    scope.visible = SIZE_MAX;
    if (condition->type.code != TZNTTypeCode::Boolean) TypeError(*condition, "Boolean expression");
  }

  if (TZNTExprToken* w = q.Child(qslot::Where)) {
    Expr(*w, scope, Place{});
    if (w->type.code != TZNTTypeCode::Boolean) TypeError(*w, "Boolean expression");
  }
  TZNTExprToken* groupBy = q.Child(qslot::GroupBy);
  if (groupBy) {
    if (groupBy->children.size() > kMaxGroupByColumns)
      Invalid(*groupBy->children[kMaxGroupByColumns],
              "the maximum number of GROUP BY columns (" + std::to_string(kMaxGroupByColumns) +
                  ") exceeded");
    Place place;
    place.noAggregateReason = "aggregate functions not allowed in the GROUP BY clause";
    for (auto& item : groupBy->children) {
      Expr(*item->Child(0), scope, place);
      Collate(*item->Child(0), item->Child(1));
    }
  }
  TZNTExprToken* having = q.Child(qslot::Having);
  if (having) {
    Place place;
    place.aggregates = true;
    Expr(*having, scope, place);
    if (having->type.code != TZNTTypeCode::Boolean) TypeError(*having, "Boolean expression");
  }
  // Grouping: with GROUP BY every plain column must be grouped; without it,
  // aggregates and plain columns cannot be mixed.
  bool grouped = groupBy != nullptr || anyAggregate || (having && ContainsAggregate(*having));
  if (grouped) {
    const char* reason = groupBy ? "non-aggregated column references not allowed"
                                 : "the necessary GROUP BY clause is missing";
    for (auto& item : q.Child(qslot::Select)->children) {
      TZNTExprToken& e = *item->Child(0);
      if (e.kind == TZNTNodeKind::ColumnReference && (e.flags & kNodeWildcard)) {
        if (groupBy || anyAggregate) Invalid(e, reason);
        continue;
      }
      CheckGrouping(e, groupBy, reason);
    }
    if (having) CheckGrouping(*having, groupBy, "non-aggregated column references not allowed");
  }
  if (TZNTExprToken* order = q.Child(qslot::OrderBy)) {
    OrderBy(*order, scope, columns, grouped);
    // A grouped result is ordered by what it groups or aggregates (or by its
    // result columns).
    if (grouped) {
      const char* reason = groupBy ? "non-aggregated column references not allowed"
                                   : "the necessary GROUP BY clause is missing";
      for (auto& item : order->children) {
        TZNTExprToken& e = *item->Child(0);
        if (e.kind == TZNTNodeKind::ColumnReference && e.boundEntry == -2) continue;
        CheckGrouping(e, groupBy, reason);
      }
    }
  }
  return columns;
}

void Binder::OrderBy(TZNTExprToken& list, Scope& scope, const std::vector<TZNTBindColumn>& columns,
                     bool aggregates) {
  if (list.children.size() > kMaxOrderByColumns)
    Invalid(*list.children[kMaxOrderByColumns],
            "the maximum number of ORDER BY columns (" + std::to_string(kMaxOrderByColumns) +
                ") exceeded");
  Place place;
  place.aggregates = aggregates;
  for (auto& item : list.children) {
    TZNTExprToken& e = *item->Child(0);
    // A plain name may name a result column (its alias) before a table column.
    if (e.kind == TZNTNodeKind::ColumnReference && e.correlationName.empty() &&
        !(e.flags & (kNodeWildcard | kNodeNewRow | kNodeOldRow))) {
      int found = -1;
      for (size_t i = 0; i < columns.size(); ++i)
        if (ZNTSameText(columns[i].name, e.objectName)) {
          found = static_cast<int>(i);
          break;
        }
      bool inTables = false;
      for (const FromEntry& entry : scope.entries)
        if (entry.table->FindColumn(e.objectName) >= 0) inTables = true;
      if (found >= 0 && !inTables) {
        e.boundDepth = 0;
        e.boundEntry = -2;  // a result column
        e.boundColumn = found;
        e.type = columns[found].type;
        Collate(e, e.Child(0));
        Collate(e, item->Child(1));
        continue;
      }
    }
    Expr(e, scope, place);
    Collate(e, item->Child(1));
  }
}

// ---------------------------------------------------------------------------
// Expressions

void Binder::Collate(TZNTExprToken& e, TZNTExprToken* collation) {
  if (collation == nullptr) return;
  std::optional<uint32_t> id = CollationIdFromName(collation->objectName);
  if (!id) Missing(*collation, "collation", collation->objectName);
  collation->type.collation = *id;
  if (!e.type.IsCharacter() && !IsUnknown(e.type))
    TypeError(e, AcceptableTypesText(CharacterTypes()));
  e.type.collation = *id;
}

void Binder::Infer(TZNTExprToken& e, const TZNTDataType& type) {
  if (e.kind == TZNTNodeKind::DynamicParameter && IsUnknown(e.type) && !IsUnknown(type))
    e.type = type;
}

void Binder::Column(TZNTExprToken& e, Scope& scope) {
  const bool rowPrefix = e.flags & (kNodeNewRow | kNodeOldRow);
  if (rowPrefix) {
    const TZNTBindTable* t = nullptr;
    for (Scope* s = &scope; s && !t; s = s->outer) t = s->triggerTable;
    if (t == nullptr) Missing(e, "table", (e.flags & kNodeNewRow) ? "NEWROW" : "OLDROW");
    int c = t->FindColumn(e.objectName);
    if (c < 0) Missing(e, "column", e.objectName);
    e.boundTable = t;
    e.boundColumn = c;
    e.type = t->Column(c).type;
    Collate(e, e.Child(0));
    return;
  }
  if (e.correlationName.empty()) {
    for (size_t i = 0; i < scope.variables.size(); ++i) {
      if (ZNTSameText(scope.variables[i], e.objectName)) {
        e.kind = TZNTNodeKind::Variable;
        e.boundColumn = static_cast<int32_t>(i);
        e.type = scope.variableTypes[i];
        return;
      }
    }
  }
  int depth = 0;
  for (Scope* s = &scope; s; s = s->outer, ++depth) {
    if (s->triggerTable && e.correlationName.empty() && s->triggerTable->FindColumn(e.objectName) >= 0)
      Invalid(e, "the column reference must be prefaced with a row identifier");
    for (size_t i = 0; i < s->entries.size(); ++i) {
      const FromEntry& entry = s->entries[i];
      if (!e.correlationName.empty() && !ZNTSameText(entry.name, e.correlationName)) continue;
      int c = entry.table->FindColumn(e.objectName);
      if (c < 0) {
        if (!e.correlationName.empty()) Missing(e, "column", e.objectName);
        continue;
      }
      if (depth == 0 && i >= s->visible)
        Invalid(e, "this expression refers to a table or column that is not in scope yet");
      e.boundTable = entry.table;
      e.boundDepth = depth;
      e.boundEntry = static_cast<int32_t>(i);
      e.boundColumn = c;
      e.type = entry.table->Column(c).type;
      Collate(e, e.Child(0));
      return;
    }
    if (!e.correlationName.empty()) {
      bool named = false;
      for (const FromEntry& entry : s->entries)
        if (ZNTSameText(entry.name, e.correlationName)) named = true;
      if (named) break;
    }
  }
  if (!e.correlationName.empty()) {
    bool known = false;
    for (Scope* s = &scope; s && !known; s = s->outer)
      for (const FromEntry& entry : s->entries)
        if (ZNTSameText(entry.name, e.correlationName)) known = true;
    if (!known) Missing(e, "table", e.correlationName);
  }
  Missing(e, "column", e.objectName);
}

void Binder::Constant(TZNTExprToken& e) {
  if (e.flags & kNodeNullConstant) {
    e.type = TZNTDataType{};
    return;
  }
  auto value = std::make_unique<TZNTContainedValue>(e.type);
  bool ok = true;
  switch (e.type.code) {
    case TZNTTypeCode::Char: value->SetString(e.text); break;
    case TZNTTypeCode::Byte: {
      std::string bytes;
      ok = HexToBytes(e.text, bytes);
      if (ok) value->SetBytes(bytes);
      break;
    }
    case TZNTTypeCode::Boolean: value->SetBoolean(ZNTSameText(e.text, "TRUE")); break;
    case TZNTTypeCode::Integer:
    case TZNTTypeCode::BigInt: {
      int64_t v = 0;
      bool big = false;
      ok = ParseIntegerToken(e.text, v, big);
      if (ok) value->SetBigInt(v);
      break;
    }
    case TZNTTypeCode::Float: {
      double v = 0;
      ok = ParseDecimalToken(e.text, v);
      if (ok) value->SetFloat(v);
      break;
    }
    case TZNTTypeCode::Date: {
      int32_t d = 0;
      ok = TextToDate(e.text, d);
      if (ok) value->SetDate(d);
      break;
    }
    case TZNTTypeCode::Time: {
      int32_t t = 0;
      ok = TextToTime(e.text, t);
      if (ok) value->SetTime(t);
      break;
    }
    case TZNTTypeCode::Timestamp: {
      int64_t ts = 0;
      ok = TextToTimestamp(e.text, ts);
      if (ok) value->SetTimestamp(ts);
      break;
    }
    case TZNTTypeCode::YearMonthInterval:
    case TZNTTypeCode::DayTimeInterval: {
      int64_t v = 0;
      ok = TextToInterval(e.text, e.type, v);
      if (ok) value->SetInterval(v);
      break;
    }
    default: break;
  }
  if (!ok) TypeError(e, AcceptableTypesText({e.type}));
  e.value = std::move(value);
}

void Binder::RequireTypes(TZNTExprToken& arg, const std::vector<TZNTDataType>& accepted,
                          bool (*test)(const TZNTDataType&)) {
  if (arg.flags & kNodeNullConstant) return;
  if (IsUnknown(arg.type)) {
    Infer(arg, accepted.front());
    if (IsUnknown(arg.type)) Invalid(arg, "dynamic parameter type cannot be inferred");
    return;
  }
  if (!test(arg.type)) TypeError(arg, AcceptableTypesText(accepted));
}

bool IsCharacterType(const TZNTDataType& t) { return t.IsCharacter(); }
bool IsNumberType(const TZNTDataType& t) { return t.IsNumber(); }
bool IsIntegerType(const TZNTDataType& t) { return t.IsInteger(); }
bool IsBooleanType(const TZNTDataType& t) { return t.code == TZNTTypeCode::Boolean; }
bool IsNumberOrInterval(const TZNTDataType& t) { return t.IsNumber() || t.IsInterval(); }
bool IsTextOrBytes(const TZNTDataType& t) { return t.IsCharacter() || t.IsBytes(); }

// The common type of the possible results of COALESCE, IF, IFNULL, NULLIF
// and CASE; the NULL constants and parameters take it.
TZNTDataType Binder::CommonType(TZNTExprToken& owner, const std::vector<TZNTExprToken*>& args) {
  std::vector<TZNTDataType> types;
  std::vector<TZNTExprToken*> typed;
  bool parameter = false;
  for (TZNTExprToken* a : args) {
    if (a->flags & kNodeNullConstant) continue;
    if (a->kind == TZNTNodeKind::DynamicParameter && IsUnknown(a->type)) {
      parameter = true;
      continue;
    }
    types.push_back(a->type);
    typed.push_back(a);
  }
  if (types.empty()) {
    if (parameter) Invalid(owner, "dynamic parameter type cannot be inferred");
    Invalid(owner, "at least one of the result expressions must be non-NULL");
  }
  TZNTTyping typing = TypeCommon(types);
  if (!typing.ok) {
    size_t i = static_cast<size_t>(typing.refusedOperand > 0 ? typing.refusedOperand - 1 : 0);
    Typed(*typed[std::min(i, typed.size() - 1)], typing);
  }
  for (TZNTExprToken* a : args) Infer(*a, typing.type);
  return typing.type;
}

void Binder::ScalarQuery(TZNTExprToken& e, Scope& scope) {
  std::vector<TZNTBindColumn> columns = Subquery(e, &scope);
  if (columns.size() != 1) Invalid(e, "a scalar query can only return a single value");
  e.type = columns[0].type;
}

void Binder::Expr(TZNTExprToken& e, Scope& scope, Place place) {
  switch (e.kind) {
    case TZNTNodeKind::Constant: Constant(e); break;
    case TZNTNodeKind::ColumnReference:
      if (e.flags & kNodeWildcard) Invalid(e, "columns wildcard (*) not allowed");
      Column(e, scope);
      break;
    case TZNTNodeKind::DynamicParameter: e.type = TZNTDataType{}; break;
    case TZNTNodeKind::BinaryOperator:
    case TZNTNodeKind::UnaryOperator: Operator(e, scope, place); break;
    case TZNTNodeKind::ExtendedOperator: Extended(e, scope, place); break;
    case TZNTNodeKind::Function: Function(e, scope, place); break;
    case TZNTNodeKind::UserFunction: {
      TZNTDataType result;
      if (!catalog_.FindFunction(e.objectName, result)) Missing(e, "function", e.objectName);
      for (auto& a : e.Child(0)->children) Expr(*a, scope, place);
      e.type = result;
      break;
    }
    case TZNTNodeKind::Query: ScalarQuery(e, scope); break;
    default: break;
  }
}

void Binder::Operator(TZNTExprToken& e, Scope& scope, Place place) {
  Expr(*e.left, scope, place);
  if (e.kind == TZNTNodeKind::UnaryOperator) {
    if (e.op == TZNTOp::Not) Infer(*e.left, Boolean());
    if (IsUnknown(e.left->type) && !(e.left->flags & kNodeNullConstant))
      Invalid(*e.left, "dynamic parameter type cannot be inferred");
    TZNTTyping typing = TypeUnaryOperator(TypingOpOf(e.op), e.left->type);
    if (!typing.ok) Typed(*e.left, typing);
    e.type = typing.type;
    return;
  }
  Expr(*e.right, scope, place);
  if (e.op == TZNTOp::And || e.op == TZNTOp::Or) {
    Infer(*e.left, Boolean());
    Infer(*e.right, Boolean());
  }
  Infer(*e.left, e.right->type);
  Infer(*e.right, e.left->type);
  for (TZNTExprToken* side : {e.left.get(), e.right.get()})
    if (side->kind == TZNTNodeKind::DynamicParameter && IsUnknown(side->type))
      Invalid(*side, "dynamic parameter type cannot be inferred");
  TZNTTyping typing = TypeBinaryOperator(TypingOpOf(e.op), e.left->type, e.right->type);
  if (!typing.ok) Typed(typing.refusedOperand == 1 ? *e.left : *e.right, typing);
  if (e.flags & kNodeIntervalQualified) {
    // (a - b) DAY TO SECOND: the difference of dates or times as an interval.
    TZNTDataType qualifier = e.type;
    if (!typing.type.IsInterval()) TypeError(*e.left, "Date, Time or Timestamp expression");
    e.type = qualifier;
    return;
  }
  e.type = typing.type;
}

void Binder::Extended(TZNTExprToken& e, Scope& scope, Place place) {
  Expr(*e.left, scope, place);
  e.type = Boolean();
  switch (e.op) {
    case TZNTOp::Between: {
      TZNTExprToken& low = *e.Child(0);
      TZNTExprToken& high = *e.Child(1);
      Expr(low, scope, place);
      Expr(high, scope, place);
      Infer(*e.left, IsUnknown(low.type) ? high.type : low.type);
      Infer(low, e.left->type);
      Infer(high, e.left->type);
      for (TZNTExprToken* side : {e.left.get(), &low, &high})
        if (side->kind == TZNTNodeKind::DynamicParameter && IsUnknown(side->type))
          Invalid(*side, "dynamic parameter type cannot be inferred");
      TZNTTyping typing = TypeBetween(e.left->type, low.type, high.type);
      if (!typing.ok)
        Typed(typing.refusedOperand == 1 ? *e.left : typing.refusedOperand == 2 ? low : high, typing);
      break;
    }
    case TZNTOp::Like: {
      Expr(*e.right, scope, place);
      Infer(*e.left, TZNTDataType::VarChar(kMaxCharSize));
      Infer(*e.right, TZNTDataType::VarChar(kMaxCharSize));
      TZNTTyping typing = TypeLike(e.left->type, e.right->type);
      if (!typing.ok) Typed(typing.refusedOperand == 1 ? *e.left : *e.right, typing);
      if (TZNTExprToken* escape = e.Child(0)) {
        Expr(*escape, scope, place);
        Infer(*escape, TZNTDataType::VarChar(1));
        RequireTypes(*escape, CharacterTypes(), IsCharacterType);
        if (escape->kind == TZNTNodeKind::Constant && escape->text.size() != 1)
          Invalid(*escape, "only a single character allowed");
      }
      break;
    }
    case TZNTOp::In: {
      if (e.right->kind == TZNTNodeKind::Query) {
        std::vector<TZNTBindColumn> columns = Subquery(*e.right, &scope);
        if (columns.size() != 1) Invalid(*e.right, "a scalar query can only return a single value");
        Infer(*e.left, columns[0].type);
        TZNTTyping typing = TypeIn(e.left->type, columns[0].type);
        if (!typing.ok) Typed(*e.right, typing);
        break;
      }
      for (auto& item : e.right->children) {
        Expr(*item, scope, place);
        Infer(*e.left, item->type);
      }
      if (e.left->kind == TZNTNodeKind::DynamicParameter && IsUnknown(e.left->type))
        Invalid(*e.left, "dynamic parameter type cannot be inferred");
      for (auto& item : e.right->children) {
        Infer(*item, e.left->type);
        if (item->kind == TZNTNodeKind::DynamicParameter && IsUnknown(item->type))
          Invalid(*item, "dynamic parameter type cannot be inferred");
        if (item->flags & kNodeNullConstant) continue;
        TZNTTyping typing = TypeIn(e.left->type, item->type);
        if (!typing.ok) Typed(typing.refusedOperand == 1 ? *e.left : *item, typing);
      }
      break;
    }
    case TZNTOp::IsNull:
      if (e.left->kind == TZNTNodeKind::DynamicParameter)
        Invalid(*e.left, "dynamic parameter type cannot be inferred");
      break;
    case TZNTOp::Contains: {
      Expr(*e.right, scope, place);
      const TZNTExprToken& col = *e.left;
      bool indexed = col.kind == TZNTNodeKind::ColumnReference && col.boundTable &&
                     col.boundColumn >= 0 && col.boundTable->Column(col.boundColumn).textIndexed;
      if (!indexed) Invalid(col, "CONTAINS or DOES NOT CONTAIN can only be used with a text-indexed column");
      Infer(*e.right, TZNTDataType::VarChar(kMaxCharSize));
      RequireTypes(*e.right, CharacterTypes(), IsCharacterType);
      break;
    }
    default: break;
  }
}

void Binder::Function(TZNTExprToken& e, Scope& scope, Place place) {
  const bool aggregate = IsAggregate(e.op);
  if (aggregate) {
    if (place.inAggregate) Invalid(e, "nested aggregate functions not allowed");
    if (!place.aggregates) Invalid(e, place.noAggregateReason);
  }
  Place inner = place;
  if (aggregate) {
    inner.inAggregate = true;
    inner.aggregates = false;
    inner.noAggregateReason = "nested aggregate functions not allowed";
  }
  if (e.op == TZNTOp::FnCase) {
    // CASE [x] WHEN a THEN b ... [ELSE c] END: the results share one type.
    TZNTExprToken* operand = e.Child(0);
    if (operand) Expr(*operand, scope, inner);
    std::vector<TZNTExprToken*> results;
    for (auto& w : e.Child(1)->children) {
      Expr(*w->left, scope, inner);
      if (operand) {
        Infer(*w->left, operand->type);
        Infer(*operand, w->left->type);
        TZNTTyping typing = TypeBinaryOperator(TZNTTypingOp::Equal, operand->type, w->left->type);
        if (!typing.ok && !(w->left->flags & kNodeNullConstant)) Typed(*w->left, typing);
      } else {
        Infer(*w->left, Boolean());
        RequireTypes(*w->left, {Boolean()}, IsBooleanType);
      }
      if (w->left->kind == TZNTNodeKind::DynamicParameter && IsUnknown(w->left->type))
        Invalid(*w->left, "dynamic parameter type cannot be inferred");
      Expr(*w->right, scope, inner);
      results.push_back(w->right.get());
    }
    if (operand && operand->kind == TZNTNodeKind::DynamicParameter && IsUnknown(operand->type))
      Invalid(*operand, "dynamic parameter type cannot be inferred");
    if (TZNTExprToken* otherwise = e.Child(2)) {
      Expr(*otherwise, scope, inner);
      results.push_back(otherwise);
    }
    e.type = CommonType(e, results);
    return;
  }
  std::vector<TZNTExprToken*> args;
  if (TZNTExprToken* list = e.Child(0))
    for (auto& a : list->children)
      if (a && a->kind != TZNTNodeKind::DataType) args.push_back(a.get());
  if (e.op == TZNTOp::FnExists) {
    Subquery(*args[0], &scope);
    e.type = Boolean();
    return;
  }
  for (TZNTExprToken* a : args) Expr(*a, scope, inner);
  auto arg = [&](size_t i) -> TZNTExprToken& { return *args[i]; };
  auto count = [&](size_t lo, size_t hi) {
    if (args.size() < lo || args.size() > hi) Invalid(e, "invalid number of parameters specified");
  };
  switch (e.op) {
    case TZNTOp::FnSum:
    case TZNTOp::FnRunSum:
      count(1, 1);
      RequireTypes(arg(0), NumberTypes(), IsNumberOrInterval);
      e.type = arg(0).type;
      if (e.type.code == TZNTTypeCode::SmallInt) e.type = Integer();
      else if (e.type.code == TZNTTypeCode::Integer) e.type = TZNTDataType::Of(TZNTTypeCode::BigInt);
      break;
    case TZNTOp::FnAvg:
      count(1, 1);
      RequireTypes(arg(0), NumberTypes(), IsNumberOrInterval);
      e.type = arg(0).type;
      break;
    case TZNTOp::FnStdDev:
      count(1, 1);
      RequireTypes(arg(0), NumberTypes(), IsNumberType);
      e.type = FloatType();
      break;
    case TZNTOp::FnCount:
      if (!(e.flags & kNodeCountStar)) count(1, 1);
      e.type = Integer();
      break;
    case TZNTOp::FnMin:
    case TZNTOp::FnMax:
      count(1, 1);
      if (IsUnknown(arg(0).type)) Invalid(arg(0), "dynamic parameter type cannot be inferred");
      e.type = arg(0).type;
      break;
    case TZNTOp::FnList:
      count(1, 2);
      RequireTypes(arg(0), CharacterTypes(), IsCharacterType);
      if (args.size() > 1) RequireTypes(arg(1), CharacterTypes(), IsCharacterType);
      e.type = TZNTDataType::Clob(arg(0).type.collation);
      break;
    case TZNTOp::FnCoalesce:
      if (args.size() < 2) Invalid(e, "invalid number of parameters specified");
      e.type = CommonType(e, args);
      break;
    case TZNTOp::FnIf:
      count(3, 3);
      Infer(arg(0), Boolean());
      RequireTypes(arg(0), {Boolean()}, IsBooleanType);
      e.type = CommonType(e, {args[1], args[2]});
      break;
    case TZNTOp::FnIfNull:
      count(3, 3);
      if (arg(0).kind == TZNTNodeKind::DynamicParameter)
        Invalid(arg(0), "dynamic parameter type cannot be inferred");
      e.type = CommonType(e, {args[1], args[2]});
      break;
    case TZNTOp::FnNullIf: {
      count(2, 2);
      e.type = CommonType(e, {args[0], args[1]});
      e.type = IsUnknown(arg(0).type) ? e.type : arg(0).type;
      break;
    }
    case TZNTOp::FnCast: {
      count(1, 1);
      if (IsUnknown(arg(0).type) && arg(0).kind == TZNTNodeKind::DynamicParameter)
        arg(0).type = e.type;
      // e.type was set by the parser from the written type.
      if (const TZNTExprToken* typeNode = e.Child(0)->Child(1)) {
        e.type = typeNode->type;
        if (e.type.code == TZNTTypeCode::Decimal) {
          if (typeNode->aux < 0 || typeNode->aux > kMaxDecimalScale)
            Fail(*typeNode, typeNode->aux < 0 ? "The scale is below the minimum of 0"
                                              : "The scale is above the maximum of 4");
        }
        if (TZNTExprToken* c = const_cast<TZNTExprToken*>(typeNode)->Child(0)) {
          std::optional<uint32_t> id = CollationIdFromName(c->objectName);
          if (!id) Missing(*c, "collation", c->objectName);
          e.type.collation = *id;
        }
      }
      if (e.type.IsCharacter() && e.type.code == TZNTTypeCode::Char && e.type.size == 0)
        e.type.size = kMaxCharSize;
      break;
    }
    case TZNTOp::FnConcat: {
      count(2, 2);
      Infer(arg(0), TZNTDataType::VarChar(kMaxCharSize));
      Infer(arg(1), arg(0).type);
      TZNTTyping typing = TypeBinaryOperator(TZNTTypingOp::Add, arg(0).type, arg(1).type);
      if (!typing.ok) Typed(typing.refusedOperand == 1 ? arg(0) : arg(1), typing);
      e.type = typing.type;
      break;
    }
    case TZNTOp::FnUpper:
    case TZNTOp::FnLower:
    case TZNTOp::FnLTrim:
    case TZNTOp::FnRTrim:
    case TZNTOp::FnAllTrim:
      count(1, 1);
      RequireTypes(arg(0), CharacterTypes(), IsCharacterType);
      e.type = arg(0).type;
      break;
    case TZNTOp::FnTrim:
      count(2, 2);
      RequireTypes(arg(0), CharacterTypes(), IsCharacterType);
      RequireTypes(arg(1), CharacterTypes(), IsCharacterType);
      e.type = arg(1).type;
      break;
    case TZNTOp::FnSubstring:
      count(2, 3);
      RequireTypes(arg(0), CharacterTypes(), IsCharacterType);
      for (size_t i = 1; i < args.size(); ++i) RequireTypes(arg(i), IntegerTypes(), IsIntegerType);
      e.type = arg(0).type;
      break;
    case TZNTOp::FnLeft:
    case TZNTOp::FnRight: {
      count(2, 2);
      RequireTypes(arg(0), CharacterTypes(), IsCharacterType);
      RequireTypes(arg(1), IntegerTypes(), IsIntegerType);
      e.type = arg(0).type;
      if (arg(1).kind == TZNTNodeKind::Constant && arg(1).value && e.type.code == TZNTTypeCode::Char)
        e.type.size = static_cast<int32_t>(std::max<int64_t>(0, arg(1).value->AsBigInt()));
      break;
    }
    case TZNTOp::FnRepeat:
      count(2, 2);
      RequireTypes(arg(0), CharacterTypes(), IsCharacterType);
      RequireTypes(arg(1), IntegerTypes(), IsIntegerType);
      e.type = arg(0).type.code == TZNTTypeCode::Blob ? arg(0).type
                                                       : TZNTDataType::VarChar(kMaxCharSize, arg(0).type.collation);
      break;
    case TZNTOp::FnReplace:
      count(3, 3);
      for (TZNTExprToken* a : args) RequireTypes(*a, CharacterTypes(), IsCharacterType);
      e.type = arg(2).type.code == TZNTTypeCode::Blob
                   ? arg(2).type
                   : TZNTDataType::VarChar(kMaxCharSize, arg(2).type.collation);
      break;
    case TZNTOp::FnLength:
    case TZNTOp::FnCharLength:
      count(1, 1);
      RequireTypes(arg(0), CharacterTypes(), IsTextOrBytes);
      e.type = Integer();
      break;
    case TZNTOp::FnPosition:
    case TZNTOp::FnOccurs:
      count(2, 2);
      RequireTypes(arg(0), CharacterTypes(), IsCharacterType);
      RequireTypes(arg(1), CharacterTypes(), IsCharacterType);
      e.type = Integer();
      break;
    case TZNTOp::FnAbs:
      count(1, 1);
      RequireTypes(arg(0), NumberTypes(), IsNumberOrInterval);
      e.type = arg(0).type;
      break;
    case TZNTOp::FnRound:
    case TZNTOp::FnTruncate:
      count(1, 2);
      RequireTypes(arg(0), NumberTypes(), IsNumberType);
      if (args.size() > 1) RequireTypes(arg(1), IntegerTypes(), IsIntegerType);
      e.type = arg(0).type;
      break;
    case TZNTOp::FnCeiling:
    case TZNTOp::FnFloor:
    case TZNTOp::FnSign:
      count(1, 1);
      RequireTypes(arg(0), NumberTypes(), IsNumberType);
      e.type = Integer();
      break;
    case TZNTOp::FnExtract: {
      count(1, 1);
      auto field = static_cast<TZNTExtractField>(e.aux);
      bool timeField = field >= TZNTExtractField::Hour;
      TZNTTypeCode c = arg(0).type.code;
      bool ok = c == TZNTTypeCode::Timestamp ||
                (timeField ? c == TZNTTypeCode::Time : c == TZNTTypeCode::Date);
      if (!ok && !IsUnknown(arg(0).type))
        TypeError(arg(0), timeField ? "Time or Timestamp expression" : "Date or Timestamp expression");
      if (IsUnknown(arg(0).type)) Invalid(arg(0), "dynamic parameter type cannot be inferred");
      e.type = Integer();
      break;
    }
    case TZNTOp::FnPi: count(0, 0); e.type = FloatType(); break;
    case TZNTOp::FnAtan2:
    case TZNTOp::FnPower:
      count(2, 2);
      for (TZNTExprToken* a : args) RequireTypes(*a, NumberTypes(), IsNumberType);
      e.type = FloatType();
      break;
    case TZNTOp::FnAcos:
    case TZNTOp::FnAsin:
    case TZNTOp::FnAtan:
    case TZNTOp::FnCos:
    case TZNTOp::FnCot:
    case TZNTOp::FnSin:
    case TZNTOp::FnTan:
    case TZNTOp::FnExp:
    case TZNTOp::FnLog:
    case TZNTOp::FnLog10:
    case TZNTOp::FnSqrt:
    case TZNTOp::FnDegrees:
    case TZNTOp::FnRadians:
      count(1, 1);
      RequireTypes(arg(0), NumberTypes(), IsNumberType);
      e.type = FloatType();
      break;
    case TZNTOp::FnRand:
      count(0, 1);
      if (!args.empty()) RequireTypes(arg(0), IntegerTypes(), IsIntegerType);
      e.type = args.empty() ? FloatType() : Integer();
      break;
    case TZNTOp::FnCurrentDate: e.type = TZNTDataType::Of(TZNTTypeCode::Date); break;
    case TZNTOp::FnCurrentTime: e.type = TZNTDataType::Of(TZNTTypeCode::Time); break;
    case TZNTOp::FnCurrentTimestamp: e.type = TZNTDataType::Of(TZNTTypeCode::Timestamp); break;
    case TZNTOp::FnCurrentVersion: e.type = TZNTDataType::Decimal(2); break;
    case TZNTOp::FnCurrentGuid: e.type = TZNTDataType::Guid(); break;
    case TZNTOp::FnCurrentUser:
    case TZNTOp::FnCurrentDatabase:
    case TZNTOp::FnErrorMsg: e.type = TZNTDataType::VarChar(kMaxCharSize); break;
    case TZNTOp::FnErrorCode:
    case TZNTOp::FnRowCount:
    case TZNTOp::FnRowsAffected: e.type = Integer(); break;
    case TZNTOp::FnAborted:
    case TZNTOp::FnLoadingUpdates:
    case TZNTOp::FnSensitive:
    case TZNTOp::FnBof:
    case TZNTOp::FnEof: e.type = Boolean(); break;
    default: break;
  }
  for (TZNTExprToken* a : args)
    if (a->kind == TZNTNodeKind::DynamicParameter && IsUnknown(a->type))
      Invalid(*a, "dynamic parameter type cannot be inferred");
}

}  // namespace

void BindTree(TZNTExprToken& root, TZNTBindCatalog& catalog, const TZNTBindContext& context) {
  Binder binder(catalog, context);
  binder.Bind(root);
}

// ---------------------------------------------------------------------------
// Compiled objects

TZNTCompiledExpr::TZNTCompiledExpr(Entry entry, std::string textKind, TZNTParseOptions options)
    : entry_(entry), textKind_(std::move(textKind)), options_(options) {}

TZNTCompiledExpr::~TZNTCompiledExpr() = default;

void TZNTCompiledExpr::SetSource(std::string text) {
  if (text == source_) return;
  Unprepare();
  source_ = std::move(text);
}

void TZNTCompiledExpr::SetBase(int lineBase, int columnBase) {
  lineBase_ = lineBase;
  columnBase_ = columnBase;
}

void TZNTCompiledExpr::Prepare(TZNTBindCatalog& catalog, const TZNTBindTable* table) {
  if (root_ || busy_) return;
  busy_ = true;
  struct Clear {
    bool& flag;
    ~Clear() { flag = false; }
  } clear{busy_};
  try {
    TZNTExprParser parser(source_, textKind_, options_);
    parser.SetBase(lineBase_, columnBase_);
    TZNTNodePtr root = entry_ == Entry::Statement ? parser.ParseStatement()
                                                  : parser.ParseStandaloneExpression(
                                                        entry_ == Entry::AdditiveExpression);
    TZNTBindContext context;
    context.textKind = textKind_;
    context.table = table;
    BindTree(*root, catalog, context);
    parameterCount_ = parser.ParameterCount();
    root_ = std::move(root);
    PostPrepare();
  } catch (const EZNTException& e) {
    root_.reset();
    if (e.ErrorCode() == err::Compile && (lineBase_ != 0 || columnBase_ != 0)) {
      // Text that is part of a larger text reports the place in the larger one.
      int line = lineBase_ != 0 ? lineBase_ : e.Line();
      int column = columnBase_ != 0 ? columnBase_ : e.Column();
      const std::string& m = e.ErrorMessage();
      size_t open = m.find(" (", m.find(" and column "));
      std::string detail = open == std::string::npos ? m : m.substr(open + 2);
      if (open != std::string::npos) detail.pop_back();
      RaiseZNTErrorAt(err::Compile, line, column,
                      {textKind_, std::to_string(line), std::to_string(column), detail});
    }
    throw;
  } catch (...) {
    root_.reset();
    throw;
  }
}

void TZNTCompiledExpr::Unprepare() noexcept {
  if (busy_) return;
  root_.reset();
  parameterCount_ = 0;
}

}  // namespace znt
