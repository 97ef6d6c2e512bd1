#include "sql/zntexpr.h"

#include <algorithm>
#include <array>

#include "base/zntstring.h"
#include "sql/zntscanner.h"
#include "sql/zntvalue.h"

namespace znt {

// ---------------------------------------------------------------------------
// Nodes

TZNTExprToken::TZNTExprToken() = default;
TZNTExprToken::TZNTExprToken(TZNTNodeKind k, TZNTOp o) : kind(k), op(o) {}
TZNTExprToken::~TZNTExprToken() = default;

TZNTExprToken* TZNTExprToken::SetChild(size_t slot, std::unique_ptr<TZNTExprToken> node) {
  if (children.size() <= slot) children.resize(slot + 1);
  if (node) node->parent = this;
  children[slot] = std::move(node);
  return children[slot].get();
}

TZNTExprToken* TZNTExprToken::AddChild(std::unique_ptr<TZNTExprToken> node) {
  if (node) node->parent = this;
  children.push_back(std::move(node));
  return children.back().get();
}

void TZNTExprToken::SetLeft(std::unique_ptr<TZNTExprToken> node) {
  if (node) node->parent = this;
  left = std::move(node);
}

void TZNTExprToken::SetRight(std::unique_ptr<TZNTExprToken> node) {
  if (node) node->parent = this;
  right = std::move(node);
}

std::string_view NodeKindWord(TZNTNodeKind kind) {
  switch (kind) {
    case TZNTNodeKind::BinaryOperator: return "binary operator";
    case TZNTNodeKind::UnaryOperator: return "unary operator";
    case TZNTNodeKind::ExtendedOperator: return "extended binary operator";
    case TZNTNodeKind::Function: return "function name";
    case TZNTNodeKind::TableReference: return "table name";
    case TZNTNodeKind::ColumnReference: return "column name";
    case TZNTNodeKind::Parameter: return "parameter name";
    case TZNTNodeKind::Variable: return "variable name";
    case TZNTNodeKind::Constant: return "constant value";
    case TZNTNodeKind::Query: return "query";
    default: return "";
  }
}

namespace {

struct FunctionEntry {
  const char* name;
  TZNTOp op;
  bool aggregate;
};

// Sorted by name for bisection; synonyms map to one operation.
constexpr FunctionEntry kFunctions[] = {
    {"ABORTED", TZNTOp::FnAborted, false},
    {"ABS", TZNTOp::FnAbs, false},
    {"ACOS", TZNTOp::FnAcos, false},
    {"ALLTRIM", TZNTOp::FnAllTrim, false},
    {"ASIN", TZNTOp::FnAsin, false},
    {"ATAN", TZNTOp::FnAtan, false},
    {"ATAN2", TZNTOp::FnAtan2, false},
    {"AVG", TZNTOp::FnAvg, true},
    {"BOF", TZNTOp::FnBof, false},
    {"CASE", TZNTOp::FnCase, false},
    {"CAST", TZNTOp::FnCast, false},
    {"CEIL", TZNTOp::FnCeiling, false},
    {"CEILING", TZNTOp::FnCeiling, false},
    {"CHARACTER_LENGTH", TZNTOp::FnCharLength, false},
    {"CHAR_LENGTH", TZNTOp::FnCharLength, false},
    {"COALESCE", TZNTOp::FnCoalesce, false},
    {"CONCAT", TZNTOp::FnConcat, false},
    {"COS", TZNTOp::FnCos, false},
    {"COT", TZNTOp::FnCot, false},
    {"COUNT", TZNTOp::FnCount, true},
    {"CURRENT_DATABASE", TZNTOp::FnCurrentDatabase, false},
    {"CURRENT_DATE", TZNTOp::FnCurrentDate, false},
    {"CURRENT_GUID", TZNTOp::FnCurrentGuid, false},
    {"CURRENT_TIME", TZNTOp::FnCurrentTime, false},
    {"CURRENT_TIMESTAMP", TZNTOp::FnCurrentTimestamp, false},
    {"CURRENT_USER", TZNTOp::FnCurrentUser, false},
    {"CURRENT_VERSION", TZNTOp::FnCurrentVersion, false},
    {"DEGREES", TZNTOp::FnDegrees, false},
    {"EOF", TZNTOp::FnEof, false},
    {"ERRORCODE", TZNTOp::FnErrorCode, false},
    {"ERRORMSG", TZNTOp::FnErrorMsg, false},
    {"EXISTS", TZNTOp::FnExists, false},
    {"EXP", TZNTOp::FnExp, false},
    {"EXTRACT", TZNTOp::FnExtract, false},
    {"FLOOR", TZNTOp::FnFloor, false},
    {"IF", TZNTOp::FnIf, false},
    {"IFNULL", TZNTOp::FnIfNull, false},
    {"LCASE", TZNTOp::FnLower, false},
    {"LEFT", TZNTOp::FnLeft, false},
    {"LENGTH", TZNTOp::FnLength, false},
    {"LIST", TZNTOp::FnList, true},
    {"LOADINGUPDATES", TZNTOp::FnLoadingUpdates, false},
    {"LOG", TZNTOp::FnLog, false},
    {"LOG10", TZNTOp::FnLog10, false},
    {"LOWER", TZNTOp::FnLower, false},
    {"LTRIM", TZNTOp::FnLTrim, false},
    {"MAX", TZNTOp::FnMax, true},
    {"MIN", TZNTOp::FnMin, true},
    {"NULLIF", TZNTOp::FnNullIf, false},
    {"OCCURS", TZNTOp::FnOccurs, false},
    {"PI", TZNTOp::FnPi, false},
    {"POS", TZNTOp::FnPosition, false},
    {"POSITION", TZNTOp::FnPosition, false},
    {"POWER", TZNTOp::FnPower, false},
    {"RADIANS", TZNTOp::FnRadians, false},
    {"RAND", TZNTOp::FnRand, false},
    {"REPEAT", TZNTOp::FnRepeat, false},
    {"REPLACE", TZNTOp::FnReplace, false},
    {"RIGHT", TZNTOp::FnRight, false},
    {"ROUND", TZNTOp::FnRound, false},
    {"ROWCOUNT", TZNTOp::FnRowCount, false},
    {"ROWSAFFECTED", TZNTOp::FnRowsAffected, false},
    {"RTRIM", TZNTOp::FnRTrim, false},
    {"RUNSUM", TZNTOp::FnRunSum, true},
    {"SENSITIVE", TZNTOp::FnSensitive, false},
    {"SIGN", TZNTOp::FnSign, false},
    {"SIN", TZNTOp::FnSin, false},
    {"SQRT", TZNTOp::FnSqrt, false},
    {"STDDEV", TZNTOp::FnStdDev, true},
    {"SUBSTR", TZNTOp::FnSubstring, false},
    {"SUBSTRING", TZNTOp::FnSubstring, false},
    {"SUM", TZNTOp::FnSum, true},
    {"TAN", TZNTOp::FnTan, false},
    {"TRIM", TZNTOp::FnTrim, false},
    {"TRUNC", TZNTOp::FnTruncate, false},
    {"TRUNCATE", TZNTOp::FnTruncate, false},
    {"UCASE", TZNTOp::FnUpper, false},
    {"UPPER", TZNTOp::FnUpper, false},
};

// Words that end a table reference instead of naming its correlation.
constexpr const char* kNotTableCorrelation[] = {
    "SET",   "LEFT",  "RIGHT", "INNER",          "JOIN",              "ON",
    "WHERE", "ORDER", "GROUP", "HAVING",         "RANGE",             "NOJOINOPTIMIZE",
    "JOINOPTIMIZECOSTS",       "UNION",          "INTERSECT",         "EXCEPT",
    "DESCRIPTION",             "WITH",
};

constexpr const char* kStatementKeywords =
    "SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, DROP, GRANT, REVOKE, BACKUP, RESTORE, SET "
    "BACKUPS, MIGRATE, REPAIR, OPTIMIZE, IMPORT, EXPORT, DISCONNECT, REMOVE, PUBLISH, UNPUBLISH, "
    "SAVE, LOAD, SET UPDATES, COPY FILE, RENAME FILE, DELETE FILE";

constexpr const char* kCreateObjects =
    "DATABASE, USER, ROLE, TEXT FILTER, WORD GENERATOR, JOB, TABLE, TEMPORARY, VIEW, INDEX, TEXT "
    "INDEX, TRIGGER, FUNCTION, PROCEDURE, STORE";

// Statement keywords this engine knows but whose statements it does not run.
constexpr const char* kUnsupportedStatements[] = {
    "ALTER",   "DROP",     "GRANT",   "REVOKE",  "BACKUP",   "RESTORE", "MIGRATE", "REPAIR",
    "OPTIMIZE", "IMPORT",  "EXPORT",  "DISCONNECT", "REMOVE", "PUBLISH", "UNPUBLISH", "SAVE",
    "LOAD",    "COPY",     "RENAME",
};

constexpr const char* kUnsupportedCreateObjects[] = {
    "USER", "ROLE", "JOB", "WORD", "MIGRATOR", "VIEW", "FUNCTION", "PROCEDURE", "STORE",
};

constexpr const char* kUnsupportedRoutineStatements[] = {
    "ABORT", "IF", "CASE", "LOOP", "REPEAT", "WHILE", "LEAVE", "USE", "START",
    "COMMIT", "ROLLBACK", "PREPARE", "EXECUTE", "UNPREPARE", "OPEN", "CLOSE", "FETCH", "FOR",
};

// Exception handling belongs to ERROR triggers; elsewhere it is refused.
constexpr const char* kExceptionStatements[] = {"RAISE", "RETRY"};

bool IsOneOf(const TZNTScanner& s, const char* const* words, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (s.IsKeyword(words[i])) return true;
  return false;
}

template <size_t N>
bool IsOneOf(const TZNTScanner& s, const char* const (&words)[N]) {
  return IsOneOf(s, words, N);
}

std::string Upper(std::string_view s) { return ZNTUpperCase(s); }

}  // namespace

bool LookupFunction(std::string_view name, TZNTOp& op, bool& aggregate) {
  std::string upper = Upper(name);
  auto it = std::lower_bound(std::begin(kFunctions), std::end(kFunctions), upper,
                             [](const FunctionEntry& e, const std::string& n) { return e.name < n; });
  if (it == std::end(kFunctions) || upper != it->name) return false;
  op = it->op;
  aggregate = it->aggregate;
  return true;
}

std::string_view FunctionName(TZNTOp op) {
  // The renderer writes the long form of a synonym.
  switch (op) {
    case TZNTOp::FnCeiling: return "CEILING";
    case TZNTOp::FnCharLength: return "CHAR_LENGTH";
    case TZNTOp::FnLower: return "LOWER";
    case TZNTOp::FnPosition: return "POSITION";
    case TZNTOp::FnSubstring: return "SUBSTRING";
    case TZNTOp::FnTruncate: return "TRUNCATE";
    case TZNTOp::FnUpper: return "UPPER";
    default: break;
  }
  for (const FunctionEntry& e : kFunctions)
    if (e.op == op) return e.name;
  return "";
}

bool IsAggregate(TZNTOp op) {
  return op == TZNTOp::FnSum || op == TZNTOp::FnAvg || op == TZNTOp::FnMin ||
         op == TZNTOp::FnMax || op == TZNTOp::FnCount || op == TZNTOp::FnStdDev ||
         op == TZNTOp::FnRunSum || op == TZNTOp::FnList;
}

std::string QuoteSQLString(std::string_view text) {
  std::string r = "'";
  for (char c : text) {
    r += c;
    if (c == '\'') r += '\'';
  }
  r += '\'';
  return r;
}

std::string QuoteSQLName(std::string_view name) {
  // The scanner collapses doubled single quotes inside quoted names as well
  // as doubled double quotes, so both are doubled here.
  std::string r = "\"";
  for (char c : name) {
    r += c;
    if (c == '"' || c == '\'') r += c;
  }
  r += '"';
  return r;
}

// ---------------------------------------------------------------------------
// Parser: infrastructure

TZNTExprParser::TZNTExprParser(std::string_view source, std::string textKind,
                               TZNTParseOptions options)
    : scanner_(std::make_unique<TZNTScanner>(source, std::move(textKind))), options_(options) {}

TZNTExprParser::~TZNTExprParser() = default;

void TZNTExprParser::SetBase(int lineBase, int columnBase) {
  scanner_->SetBase(lineBase, columnBase);
}

TZNTNodePtr TZNTExprParser::NewNode(TZNTNodeKind kind, TZNTOp op) const {
  auto n = std::make_unique<TZNTExprToken>(kind, op);
  n->line = scanner_->TokenLine();
  n->column = scanner_->TokenColumn();
  return n;
}

TZNTNodePtr TZNTExprParser::Binary(TZNTNodeKind kind, TZNTOp op, TZNTNodePtr l, TZNTNodePtr r,
                                   int line, int column) const {
  auto n = std::make_unique<TZNTExprToken>(kind, op);
  n->line = line;
  n->column = column;
  n->SetLeft(std::move(l));
  n->SetRight(std::move(r));
  return n;
}

void TZNTExprParser::Invalid(std::string_view reason) const {
  scanner_->ErrorInvalid(scanner_->RawTokenText(), reason);
}

void TZNTExprParser::InvalidAt(int line, int column, std::string_view written,
                               std::string_view reason) const {
  scanner_->ErrorAt(line, column,
                    "Invalid expression " + std::string(written) + " found, " + std::string(reason));
}

bool TZNTExprParser::AcceptPair(char first, char second) { return scanner_->AcceptPair(first, second); }

std::string TZNTExprParser::NameText(std::string_view expected) {
  if (!scanner_->IsName()) scanner_->ErrorExpected(expected);
  std::string name = scanner_->TokenText();
  scanner_->Next();
  return name;
}

TZNTNodePtr TZNTExprParser::ParseStatement() {
  TZNTNodePtr root = Statement();
  scanner_->ExpectEnd(';');
  return root;
}

TZNTNodePtr TZNTExprParser::ParseStandaloneExpression(bool additive) {
  TZNTNodePtr root = additive ? Additive() : Expression();
  scanner_->ExpectEnd('\0');  // the terminator ends statements only
  return root;
}

// ---------------------------------------------------------------------------
// Statements

TZNTNodePtr TZNTExprParser::Statement() {
  TZNTScanner& s = *scanner_;
  if (s.IsKeyword("SELECT") || s.IsKeyword("TABLE") || s.IsSymbol('(')) return SelectStatement();
  if (s.IsKeyword("INSERT")) return InsertStatement();
  if (s.IsKeyword("UPDATE")) return UpdateStatement();
  if (s.IsKeyword("DELETE")) {
    if (s.PeekKeyword("FILE")) return Unsupported("DELETE FILE");
    return DeleteStatement();
  }
  if (s.IsKeyword("CREATE")) return CreateStatement();
  if (s.IsKeyword("SET") &&
      (s.PeekKeyword("BACKUPS") || s.PeekKeyword("FILES") || s.PeekKeyword("UPDATES"))) {
    s.Next();
    return Unsupported("SET " + Upper(s.RawTokenText()) + " STORE");
  }
  if (IsOneOf(s, kUnsupportedStatements)) return Unsupported(Upper(s.RawTokenText()));
  s.ErrorExpected(kStatementKeywords);
}

TZNTNodePtr TZNTExprParser::Unsupported(std::string_view what) {
  scanner_->Error("The " + std::string(what) + " statement is not supported");
}

TZNTNodePtr TZNTExprParser::SelectStatement() {
  auto st = NewNode(TZNTNodeKind::Statement, TZNTOp::StSelect);
  st->SetChild(0, QueryExpression());
  return st;
}

// query-expression: set-operation, then the ORDER BY, RANGE and optimiser switches of the
// whole. A tail written after a parenthesised last member belongs to the whole as well.
// Recursive descent uses the stack for every level of nesting; deeper text
// than any statement needs is refused before it can exhaust the stack.
TZNTExprParser::TDepthGuard::TDepthGuard(TZNTExprParser& parser) : parser_(parser) {
  if (++parser_.depth_ > kMaxNestingDepth) {
    --parser_.depth_;
    parser_.scanner_->Error("The text is nested more than " + std::to_string(kMaxNestingDepth) +
                            " levels deep");
  }
}

TZNTExprParser::TDepthGuard::~TDepthGuard() { --parser_.depth_; }

TZNTNodePtr TZNTExprParser::QueryExpression() {
  TDepthGuard guard(*this);
  TZNTNodePtr query = SetOperation();
  QueryTail(*query);
  return query;
}

// set-operation: term [{UNION | INTERSECT | EXCEPT} [ALL] set-operation].
TZNTNodePtr TZNTExprParser::SetOperation() {
  TZNTNodePtr query = QueryTerm();
  TZNTScanner& s = *scanner_;
  TZNTOp setOp = TZNTOp::None;
  if (s.IsKeyword("UNION")) setOp = TZNTOp::QueryUnion;
  else if (s.IsKeyword("INTERSECT")) setOp = TZNTOp::QueryIntersect;
  else if (s.IsKeyword("EXCEPT")) setOp = TZNTOp::QueryExcept;
  if (setOp == TZNTOp::None) return query;
  auto node = NewNode(TZNTNodeKind::Query, setOp);
  s.Next();
  if (s.AcceptKeyword("ALL")) node->flags |= kNodeAll;
  node->SetLeft(std::move(query));
  node->SetRight(SetOperation());
  return node;
}

TZNTNodePtr TZNTExprParser::QueryTerm() {
  TZNTScanner& s = *scanner_;
  if (s.IsSymbol('(')) {
    int line = s.TokenLine(), column = s.TokenColumn();
    s.Next();
    TZNTNodePtr inner = QueryExpression();
    s.ExpectSymbol(')');
    inner->flags |= kNodeParenthesised;
    inner->line = line;
    inner->column = column;
    return inner;
  }
  if (s.IsKeyword("TABLE")) {
    // TABLE t is SELECT * FROM t.
    auto q = NewNode(TZNTNodeKind::Query, TZNTOp::QuerySpec);
    s.Next();
    auto list = NewNode(TZNTNodeKind::ClauseList, TZNTOp::ListSelect);
    auto item = NewNode(TZNTNodeKind::SelectItem, TZNTOp::None);
    auto star = NewNode(TZNTNodeKind::ColumnReference, TZNTOp::None);
    star->flags |= kNodeWildcard;
    item->SetChild(0, std::move(star));
    list->AddChild(std::move(item));
    q->SetChild(qslot::Select, std::move(list));
    auto from = NewNode(TZNTNodeKind::ClauseList, TZNTOp::ListFrom);
    from->AddChild(TableName());
    q->SetChild(qslot::From, std::move(from));
    q->aux = 1;  // written as TABLE
    return q;
  }
  return QuerySpecification();
}

TZNTNodePtr TZNTExprParser::QuerySpecification() {
  TZNTScanner& s = *scanner_;
  if (!s.IsKeyword("SELECT")) s.ErrorExpected("SELECT");
  // A sub-query has contexts of its own: its WHERE may hold parameters even
  // inside a select item of the outer query.
  struct Saved {
    TZNTExprParser& p;
    bool select, wildcard, contains;
    ~Saved() {
      p.inSelectList_ = select;
      p.wildcardAllowed_ = wildcard;
      p.containsAllowed_ = contains;
    }
  } saved{*this, inSelectList_, wildcardAllowed_, containsAllowed_};
  inSelectList_ = wildcardAllowed_ = containsAllowed_ = false;
  auto q = NewNode(TZNTNodeKind::Query, TZNTOp::QuerySpec);
  s.Next();
  if (s.AcceptKeyword("DISTINCT")) q->flags |= kNodeDistinct;
  else if (s.AcceptKeyword("ALL")) q->flags |= kNodeAll;

  auto list = NewNode(TZNTNodeKind::ClauseList, TZNTOp::ListSelect);
  do {
    list->AddChild(SelectItem());
  } while (s.AcceptSymbol(','));
  q->SetChild(qslot::Select, std::move(list));

  s.ExpectKeyword("FROM");
  q->SetChild(qslot::From, FromList());

  if (s.AcceptKeyword("WHERE")) {
    containsAllowed_ = true;
    q->SetChild(qslot::Where, Expression());
    containsAllowed_ = false;
  }
  if (s.IsKeyword("GROUP")) {
    s.Next();
    s.ExpectKeyword("BY");
    auto group = NewNode(TZNTNodeKind::ClauseList, TZNTOp::ListGroupBy);
    do {
      auto item = NewNode(TZNTNodeKind::OrderItem, TZNTOp::None);
      item->SetChild(0, Expression());
      item->SetChild(1, CollateClause());
      group->AddChild(std::move(item));
    } while (s.AcceptSymbol(','));
    q->SetChild(qslot::GroupBy, std::move(group));
  }
  if (s.AcceptKeyword("HAVING")) q->SetChild(qslot::Having, Expression());
  return q;
}

// A parenthesised query may carry its own ORDER BY and RANGE; a second one
// after the parentheses is not expected there, so the caller's next check
// names it.
void TZNTExprParser::QueryTail(TZNTExprToken& query) {
  TZNTScanner& s = *scanner_;
  if (s.IsKeyword("ORDER") && !query.Child(qslot::OrderBy)) {
    s.Next();
    s.ExpectKeyword("BY");
    query.SetChild(qslot::OrderBy, OrderList());
  }
  if (!query.Child(qslot::RangeFirst) && s.AcceptKeyword("RANGE")) {
    query.SetChild(qslot::RangeFirst, Primary());
    if (s.AcceptKeyword("TO")) query.SetChild(qslot::RangeLast, Primary());
  }
  if (s.AcceptKeyword("NOJOINOPTIMIZE")) query.flags |= kNodeNoJoinOptimize;
  if (s.AcceptKeyword("JOINOPTIMIZECOSTS")) query.flags |= kNodeJoinOptimizeCosts;
}

TZNTNodePtr TZNTExprParser::OrderList() {
  TZNTScanner& s = *scanner_;
  auto list = NewNode(TZNTNodeKind::ClauseList, TZNTOp::ListOrderBy);
  do {
    auto item = NewNode(TZNTNodeKind::OrderItem, TZNTOp::None);
    item->SetChild(0, Expression());
    item->SetChild(1, CollateClause());
    if (s.AcceptKeyword("ASC") || s.AcceptKeyword("ASCENDING")) {
      item->flags |= kNodeAscendingWritten;
    } else if (s.AcceptKeyword("DESC") || s.AcceptKeyword("DESCENDING")) {
      item->flags |= kNodeDescending;
    }
    list->AddChild(std::move(item));
  } while (s.AcceptSymbol(','));
  return list;
}

TZNTNodePtr TZNTExprParser::SelectItem() {
  TZNTScanner& s = *scanner_;
  auto item = NewNode(TZNTNodeKind::SelectItem, TZNTOp::None);
  s.PushMark();
  inSelectList_ = true;
  wildcardAllowed_ = true;
  TZNTNodePtr expr = Expression();
  wildcardAllowed_ = false;
  inSelectList_ = false;
  std::string text = s.PopMark();
  while (!text.empty() && IsZNTBlank(static_cast<unsigned char>(text.back()))) text.pop_back();
  item->text = std::move(text);
  item->SetChild(0, std::move(expr));
  if (s.AcceptKeyword("AS")) {
    item->correlationName = NameText("column correlation name");
  } else if (s.IsName() && !s.IsKeyword("FROM")) {
    item->correlationName = s.TokenText();
    s.Next();
  }
  return item;
}

TZNTNodePtr TZNTExprParser::FromList() {
  TZNTScanner& s = *scanner_;
  auto from = NewNode(TZNTNodeKind::ClauseList, TZNTOp::ListFrom);
  do {
    TZNTNodePtr ref = TableReference(true);
    for (;;) {
      int line = s.TokenLine(), column = s.TokenColumn();
      TZNTOp joinOp;
      bool swap = false;
      if (s.IsKeyword("JOIN")) {
        joinOp = TZNTOp::JoinInner;
        s.Next();
      } else if (s.IsKeyword("INNER")) {
        joinOp = TZNTOp::JoinInner;
        s.Next();
        s.ExpectKeyword("JOIN");
      } else if (s.IsKeyword("LEFT") || s.IsKeyword("RIGHT")) {
        swap = s.IsKeyword("RIGHT");
        joinOp = TZNTOp::JoinLeftOuter;
        s.Next();
        s.AcceptKeyword("OUTER");
        s.ExpectKeyword("JOIN");
      } else if (s.IsKeyword("FULL")) {
        Invalid("FULL OUTER JOINs not supported");
      } else {
        break;
      }
      TZNTNodePtr target = TableReference(true);
      s.ExpectKeyword("ON");
      auto join = std::make_unique<TZNTExprToken>(TZNTNodeKind::Join, joinOp);
      join->line = line;
      join->column = column;
      if (swap) join->aux = 1;  // written as RIGHT JOIN
      // A right join is kept as a left join with the sides exchanged.
      join->SetLeft(swap ? std::move(target) : std::move(ref));
      join->SetRight(swap ? std::move(ref) : std::move(target));
      join->SetChild(0, Expression());
      ref = std::move(join);
    }
    from->AddChild(std::move(ref));
  } while (s.AcceptSymbol(','));
  return from;
}

TZNTNodePtr TZNTExprParser::TableReference(bool allowDerived) {
  TZNTScanner& s = *scanner_;
  TZNTNodePtr ref;
  if (allowDerived && s.IsSymbol('(')) {
    ref = NewNode(TZNTNodeKind::TableReference, TZNTOp::TableDerived);
    if (!options_.subqueries) Invalid("query expression not allowed");
    s.Next();
    ref->SetChild(0, QueryExpression());
    s.ExpectSymbol(')');
    s.AcceptKeyword("AS");
    ref->correlationName = NameText("table or query correlation name");
    return ref;
  }
  ref = TableName();
  if (s.AcceptKeyword("AS")) {
    ref->correlationName = NameText("table or query correlation name");
  } else if (s.Kind() == TZNTTokenKind::QuotedIdentifier ||
             (s.Kind() == TZNTTokenKind::Identifier && !IsOneOf(s, kNotTableCorrelation) &&
              !(s.IsKeyword("FULL") && (s.PeekKeyword("JOIN") || s.PeekKeyword("OUTER"))))) {
    ref->correlationName = s.TokenText();
    s.Next();
  }
  return ref;
}

TZNTNodePtr TZNTExprParser::TableName() {
  TZNTScanner& s = *scanner_;
  auto ref = NewNode(TZNTNodeKind::TableReference, TZNTOp::TableNamed);
  std::vector<std::string> parts;
  s.PushMark();
  parts.push_back(NameText("table name"));
  while (parts.size() < 3 && s.IsSymbol('.')) {
    s.Next();
    parts.push_back(NameText("table name"));
  }
  std::string written = s.PopMark();
  while (!written.empty() && IsZNTBlank(static_cast<unsigned char>(written.back()))) written.pop_back();
  // A refused qualifier is reported where the name starts, with the name as written.
  auto refuse = [&](std::string_view reason) {
    InvalidAt(ref->line, ref->column, written, reason);
  };
  if (parts.size() == 1) {
    ref->objectName = parts[0];
  } else if (parts.size() == 2) {
    if (ZNTSameText(parts[0], "Information") || ZNTSameText(parts[0], "Default")) {
      if (!options_.schemaQualifiers) refuse("schema qualifier not allowed");
      ref->schemaName = parts[0];
    } else {
      if (!options_.databaseQualifiers) refuse("database qualifier not allowed");
      ref->databaseName = parts[0];
    }
    ref->objectName = parts[1];
  } else {
    if (!options_.databaseQualifiers) refuse("database qualifier not allowed");
    ref->databaseName = parts[0];
    ref->schemaName = parts[1];
    ref->objectName = parts[2];
  }
  return ref;
}

TZNTNodePtr TZNTExprParser::ColumnList() {
  TZNTScanner& s = *scanner_;
  auto list = NewNode(TZNTNodeKind::ClauseList, TZNTOp::ListColumns);
  s.ExpectSymbol('(');
  do {
    auto col = NewNode(TZNTNodeKind::ColumnReference, TZNTOp::None);
    col->objectName = NameText("column name");
    list->AddChild(std::move(col));
  } while (s.AcceptSymbol(','));
  s.ExpectSymbol(')');
  return list;
}

TZNTNodePtr TZNTExprParser::InsertStatement() {
  TZNTScanner& s = *scanner_;
  auto st = NewNode(TZNTNodeKind::Statement, TZNTOp::StInsert);
  s.Next();
  s.ExpectKeyword("INTO");
  st->SetChild(0, TableName());
  if (s.IsSymbol('(') && !s.PeekKeyword("SELECT") && !s.PeekKeyword("TABLE"))
    st->SetChild(1, ColumnList());
  if (s.IsKeyword("VALUES")) {
    s.Next();
    s.ExpectSymbol('(');
    auto values = NewNode(TZNTNodeKind::ClauseList, TZNTOp::ListValues);
    do {
      values->AddChild(Expression());
    } while (s.AcceptSymbol(','));
    s.ExpectSymbol(')');
    st->SetChild(2, std::move(values));
  } else if (s.IsKeyword("SELECT") || s.IsKeyword("TABLE") || s.IsSymbol('(')) {
    if (!options_.subqueries) Invalid("query expression not allowed");
    st->SetChild(3, QueryExpression());
  } else {
    s.ErrorExpected("VALUES, SELECT");
  }
  return st;
}

TZNTNodePtr TZNTExprParser::UpdateStatement() {
  TZNTScanner& s = *scanner_;
  auto st = NewNode(TZNTNodeKind::Statement, TZNTOp::StUpdate);
  s.Next();
  TZNTNodePtr table = TableName();
  if (s.AcceptKeyword("AS")) {
    table->correlationName = NameText("table or query correlation name");
  } else if (s.IsName() && !s.IsKeyword("SET")) {
    table->correlationName = s.TokenText();
    s.Next();
  }
  st->SetChild(0, std::move(table));
  s.ExpectKeyword("SET");
  auto list = NewNode(TZNTNodeKind::ClauseList, TZNTOp::ListAssignments);
  do {
    auto a = NewNode(TZNTNodeKind::Assignment, TZNTOp::None);
    a->SetLeft(NameReference());
    s.ExpectSymbol('=');
    a->SetRight(Expression());
    list->AddChild(std::move(a));
  } while (s.AcceptSymbol(','));
  st->SetChild(1, std::move(list));
  if (s.AcceptKeyword("WHERE")) {
    containsAllowed_ = true;
    st->SetChild(2, Expression());
    containsAllowed_ = false;
  }
  return st;
}

TZNTNodePtr TZNTExprParser::DeleteStatement() {
  TZNTScanner& s = *scanner_;
  auto st = NewNode(TZNTNodeKind::Statement, TZNTOp::StDelete);
  s.Next();
  s.ExpectKeyword("FROM");
  TZNTNodePtr table = TableName();
  if (s.AcceptKeyword("AS")) {
    table->correlationName = NameText("table or query correlation name");
  } else if (s.IsName() && !s.IsKeyword("WHERE")) {
    table->correlationName = s.TokenText();
    s.Next();
  }
  st->SetChild(0, std::move(table));
  if (s.AcceptKeyword("WHERE")) {
    containsAllowed_ = true;
    st->SetChild(1, Expression());
    containsAllowed_ = false;
  }
  return st;
}

TZNTNodePtr TZNTExprParser::CreateStatement() {
  TZNTScanner& s = *scanner_;
  s.Next();
  if (s.IsKeyword("DATABASE")) return CreateDatabase();
  if (s.IsKeyword("TABLE")) return CreateTable(false);
  if (s.IsKeyword("TEMPORARY")) {
    s.Next();
    if (!s.IsKeyword("TABLE")) s.ErrorExpected("TABLE");
    return CreateTable(true);
  }
  if (s.IsKeyword("INDEX")) return CreateIndex();
  if (s.IsKeyword("TEXT")) {
    if (s.PeekKeyword("INDEX")) return CreateTextIndex();
    if (s.PeekKeyword("FILTER")) return Unsupported("CREATE TEXT FILTER");
  }
  if (s.IsKeyword("TRIGGER")) return CreateTrigger();
  if (IsOneOf(s, kUnsupportedCreateObjects)) {
    std::string what = "CREATE " + Upper(s.RawTokenText());
    if (s.IsKeyword("WORD")) what += " GENERATOR";
    return Unsupported(what);
  }
  s.ErrorExpected(kCreateObjects);
}

TZNTNodePtr TZNTExprParser::CreateDatabase() {
  TZNTScanner& s = *scanner_;
  auto st = NewNode(TZNTNodeKind::Statement, TZNTOp::StCreateDatabase);
  s.Next();
  st->objectName = NameText("database name");
  if (s.AcceptKeyword("PATH")) {
    st->SetChild(0, Primary());
  } else if (s.AcceptKeyword("IN")) {
    s.ExpectKeyword("MEMORY");
    st->flags |= kNodeInMemory;
  } else {
    s.ErrorExpected("PATH, IN");
  }
  if (s.AcceptKeyword("ENCRYPTED")) {
    s.ExpectKeyword("CATALOG");
    st->flags |= kNodeEncryptedCatalog;
  }
  if (s.AcceptKeyword("DESCRIPTION")) st->SetChild(1, Primary());
  return st;
}

TZNTNodePtr TZNTExprParser::CreateTable(bool temporary) {
  TZNTScanner& s = *scanner_;
  auto st = NewNode(TZNTNodeKind::Statement, TZNTOp::StCreateTable);
  if (temporary) st->flags |= kNodeTemporary;
  s.Next();  // TABLE
  st->SetChild(0, TableName());
  if (s.AcceptKeyword("AS")) {
    bool parenthesised = s.AcceptSymbol('(');
    st->SetChild(2, QueryExpression());
    if (parenthesised) s.ExpectSymbol(')');
    s.ExpectKeyword("WITH");
    if (!s.AcceptKeyword("NO")) st->flags |= kNodeWithData;
    s.ExpectKeyword("DATA");
  } else {
    s.ExpectSymbol('(');
    if (s.IsKeyword("LIKE")) {
      auto like = NewNode(TZNTNodeKind::ClauseList, TZNTOp::ListOptions);
      s.Next();
      like->SetLeft(TableName());
      while (s.IsKeyword("INCLUDING") || s.IsKeyword("EXCLUDING")) {
        auto opt = NewNode(TZNTNodeKind::Option, s.IsKeyword("INCLUDING") ? TZNTOp::OptLikeIncluding
                                                                          : TZNTOp::OptLikeExcluding);
        s.Next();
        if (!s.IsKeyword("IDENTITY") && !s.IsKeyword("DEFAULTS") && !s.IsKeyword("GENERATED"))
          s.ErrorExpected("IDENTITY, DEFAULTS, GENERATED");
        opt->text = Upper(s.RawTokenText());
        s.Next();
        like->AddChild(std::move(opt));
      }
      st->SetChild(3, std::move(like));
    } else {
      auto elements = NewNode(TZNTNodeKind::ClauseList, TZNTOp::ListElements);
      do {
        if (s.IsKeyword("CONSTRAINT") || s.IsKeyword("PRIMARY") || s.IsKeyword("UNIQUE") ||
            s.IsKeyword("FOREIGN") || s.IsKeyword("CHECK"))
          elements->AddChild(TableConstraint(false));
        else
          elements->AddChild(ColumnDefinition());
      } while (s.AcceptSymbol(','));
      st->SetChild(1, std::move(elements));
    }
    s.ExpectSymbol(')');
  }
  auto options = NewNode(TZNTNodeKind::ClauseList, TZNTOp::ListOptions);
  TableOptions(*options);
  st->SetChild(4, std::move(options));
  return st;
}

TZNTNodePtr TZNTExprParser::ColumnDefinition() {
  TZNTScanner& s = *scanner_;
  auto col = NewNode(TZNTNodeKind::Declaration, TZNTOp::DeclColumn);
  col->objectName = NameText("column name");
  col->SetChild(0, DataType(true));
  col->type = col->Child(0)->type;
  if (s.AcceptKeyword("COMPRESSION")) col->SetChild(1, Primary());
  if (s.IsKeyword("GENERATED")) {
    auto gen = NewNode(TZNTNodeKind::Option, TZNTOp::None);
    s.Next();
    if (s.AcceptKeyword("ALWAYS")) {
      s.ExpectKeyword("AS");
      if (s.IsKeyword("IDENTITY")) {
        gen->op = TZNTOp::GenIdentityAlways;
      } else {
        gen->op = TZNTOp::GenAlwaysAs;
        s.PushMark();
        gen->SetChild(0, Additive());
        gen->text = s.PopMark();
      }
    } else if (s.AcceptKeyword("BY")) {
      s.ExpectKeyword("DEFAULT");
      s.ExpectKeyword("AS");
      if (!s.IsKeyword("IDENTITY")) s.ErrorExpected("IDENTITY");
      gen->op = TZNTOp::GenIdentityByDefault;
    } else {
      s.ErrorExpected("ALWAYS, BY");
    }
    if (gen->op == TZNTOp::GenIdentityAlways || gen->op == TZNTOp::GenIdentityByDefault) {
      s.Next();  // IDENTITY
      if (s.AcceptSymbol('(')) {
        s.ExpectKeyword("START");
        s.ExpectKeyword("WITH");
        gen->SetChild(0, Primary());
        if (s.AcceptSymbol(',')) {
          s.ExpectKeyword("INCREMENT");
          s.ExpectKeyword("BY");
          gen->SetChild(1, Primary());
        }
        s.ExpectSymbol(')');
      }
    }
    col->SetChild(2, std::move(gen));
  } else if (s.IsKeyword("COMPUTED")) {
    auto gen = NewNode(TZNTNodeKind::Option, TZNTOp::ComputedAlwaysAs);
    s.Next();
    s.ExpectKeyword("ALWAYS");
    s.ExpectKeyword("AS");
    s.PushMark();
    gen->SetChild(0, Additive());
    gen->text = s.PopMark();
    col->SetChild(2, std::move(gen));
  } else if (s.IsKeyword("DEFAULT")) {
    auto def = NewNode(TZNTNodeKind::Option, TZNTOp::ColumnDefault);
    s.Next();
    s.PushMark();
    def->SetChild(0, Additive());
    def->text = s.PopMark();
    col->SetChild(2, std::move(def));
  }
  if (TZNTExprToken* gen = col->Child(2)) {
    while (!gen->text.empty() && IsZNTBlank(static_cast<unsigned char>(gen->text.back())))
      gen->text.pop_back();
  }
  if (s.IsKeyword("NOT") && s.PeekKeyword("NULL")) {
    s.Next();
    s.Next();
    col->flags |= kNodeNotNull;
  }
  auto constraints = NewNode(TZNTNodeKind::ClauseList, TZNTOp::ListConstraints);
  while (s.IsKeyword("CONSTRAINT") || s.IsKeyword("PRIMARY") || s.IsKeyword("UNIQUE") ||
         s.IsKeyword("FOREIGN") || s.IsKeyword("CHECK") || s.IsKeyword("REFERENCES"))
    constraints->AddChild(TableConstraint(true));
  if (!constraints->children.empty()) col->SetChild(3, std::move(constraints));
  if (s.AcceptKeyword("DESCRIPTION")) col->SetChild(4, Primary());
  return col;
}

TZNTNodePtr TZNTExprParser::TableConstraint(bool column) {
  TZNTScanner& s = *scanner_;
  auto c = NewNode(TZNTNodeKind::Declaration, TZNTOp::None);
  if (s.AcceptKeyword("CONSTRAINT")) c->objectName = NameText("constraint name");
  if (s.AcceptKeyword("PRIMARY")) {
    s.ExpectKeyword("KEY");
    c->op = TZNTOp::ConstraintPrimaryKey;
    if (!column || s.IsSymbol('(')) c->SetChild(0, ColumnList());
  } else if (s.AcceptKeyword("UNIQUE")) {
    c->op = TZNTOp::ConstraintUnique;
    if (!column || s.IsSymbol('(')) c->SetChild(0, ColumnList());
  } else if (s.IsKeyword("FOREIGN") || s.IsKeyword("REFERENCES")) {
    c->op = TZNTOp::ConstraintForeignKey;
    if (s.AcceptKeyword("FOREIGN")) {
      s.ExpectKeyword("KEY");
      if (!column || s.IsSymbol('(')) c->SetChild(0, ColumnList());
    }
    s.ExpectKeyword("REFERENCES");
    c->SetChild(1, TableName());
    if (s.IsSymbol('(')) c->SetChild(2, ColumnList());
    while (s.IsKeyword("ON")) {
      s.Next();
      if (s.AcceptKeyword("UPDATE")) {
        c->SetChild(3, ReferentialAction());
      } else if (s.AcceptKeyword("DELETE")) {
        c->SetChild(4, ReferentialAction());
      } else {
        s.ErrorExpected("UPDATE, DELETE");
      }
    }
  } else if (s.AcceptKeyword("CHECK")) {
    c->op = TZNTOp::ConstraintCheck;
    s.PushMark();
    c->SetChild(0, Expression());
    std::string text = s.PopMark();
    while (!text.empty() && IsZNTBlank(static_cast<unsigned char>(text.back()))) text.pop_back();
    c->text = std::move(text);
  } else {
    s.ErrorExpected("PRIMARY, UNIQUE, FOREIGN, REFERENCES, CHECK");
  }
  return c;
}

TZNTNodePtr TZNTExprParser::ReferentialAction() {
  TZNTScanner& s = *scanner_;
  auto a = NewNode(TZNTNodeKind::Option, TZNTOp::None);
  if (s.AcceptKeyword("CASCADE")) {
    a->op = TZNTOp::ActionCascade;
  } else if (s.AcceptKeyword("RESTRICT")) {
    a->op = TZNTOp::ActionRestrict;
  } else if (s.AcceptKeyword("SET")) {
    if (s.AcceptKeyword("NULL")) a->op = TZNTOp::ActionSetNull;
    else if (s.AcceptKeyword("DEFAULT")) a->op = TZNTOp::ActionSetDefault;
    else s.ErrorExpected("NULL, DEFAULT");
  } else if (s.AcceptKeyword("NO")) {
    s.ExpectKeyword("ACTION");
    a->op = TZNTOp::ActionNoAction;
  } else {
    s.ErrorExpected("CASCADE, SET, RESTRICT, NO");
  }
  return a;
}

// The options come in a fixed order; each is optional. A keyword out of its
// place is simply not expected there, so the statement end check names it.
void TZNTExprParser::TableOptions(TZNTExprToken& list) {
  TZNTScanner& s = *scanner_;
  auto add = [&](TZNTOp op) {
    auto o = NewNode(TZNTNodeKind::Option, op);
    return o;
  };
  if (s.IsKeyword("DESCRIPTION")) {
    auto o = add(TZNTOp::OptDescription);
    s.Next();
    o->SetChild(0, Primary());
    list.AddChild(std::move(o));
  }
  if (s.IsKeyword("VERSION")) {
    auto o = add(TZNTOp::OptVersion);
    s.Next();
    o->SetChild(0, Primary());
    list.AddChild(std::move(o));
  }
  if (s.IsKeyword("ENCRYPTED") || s.IsKeyword("UNENCRYPTED")) {
    list.AddChild(add(s.IsKeyword("ENCRYPTED") ? TZNTOp::OptEncrypted : TZNTOp::OptUnencrypted));
    s.Next();
  }
  auto sized = [&](const char* first, const char* second, TZNTOp op) {
    if (!s.IsKeyword(first) || !s.PeekKeyword(second)) return false;
    auto o = add(op);
    s.Next();
    s.Next();
    s.ExpectKeyword("SIZE");
    o->SetChild(0, Primary());
    list.AddChild(std::move(o));
    return true;
  };
  sized("INDEX", "PAGE", TZNTOp::OptIndexPageSize);
  sized("BLOB", "BLOCK", TZNTOp::OptBlobBlockSize);
  if (s.IsKeyword("PUBLISH")) {
    if (s.PeekKeyword("BLOCK")) {
      auto o = add(TZNTOp::OptPublishBlockSize);
      s.Next();
      s.Next();
      s.ExpectKeyword("SIZE");
      o->SetChild(0, Primary());
      list.AddChild(std::move(o));
    }
    if (s.IsKeyword("PUBLISH") && s.PeekKeyword("COMPRESSION")) {
      auto o = add(TZNTOp::OptPublishCompression);
      s.Next();
      s.Next();
      o->SetChild(0, Primary());
      list.AddChild(std::move(o));
    }
  }
  bool seen[4] = {false, false, false, false};
  while (s.IsKeyword("MAX")) {
    static constexpr struct {
      const char* word;
      TZNTOp op;
    } kMax[] = {{"ROW", TZNTOp::OptMaxRowBufferSize},
                {"INDEX", TZNTOp::OptMaxIndexBufferSize},
                {"BLOB", TZNTOp::OptMaxBlobBufferSize},
                {"PUBLISH", TZNTOp::OptMaxPublishBufferSize}};
    int which = -1;
    for (int i = 0; i < 4; ++i)
      if (!seen[i] && s.PeekKeyword(kMax[i].word)) which = i;
    if (which < 0) break;  // a repeated MAX option is left for the end check to name
    seen[which] = true;
    auto o = add(kMax[which].op);
    s.Next();
    s.Next();
    s.ExpectKeyword("BUFFER");
    s.ExpectKeyword("SIZE");
    o->SetChild(0, Primary());
    list.AddChild(std::move(o));
  }
}

TZNTNodePtr TZNTExprParser::CreateIndex() {
  TZNTScanner& s = *scanner_;
  auto st = NewNode(TZNTNodeKind::Statement, TZNTOp::StCreateIndex);
  s.Next();
  st->objectName = NameText("index name");
  s.ExpectKeyword("ON");
  st->SetChild(0, TableName());
  s.ExpectSymbol('(');
  auto cols = NewNode(TZNTNodeKind::ClauseList, TZNTOp::ListColumns);
  do {
    auto item = NewNode(TZNTNodeKind::OrderItem, TZNTOp::None);
    auto col = NewNode(TZNTNodeKind::ColumnReference, TZNTOp::None);
    col->objectName = NameText("column name");
    item->SetChild(0, std::move(col));
    item->SetChild(1, CollateClause());
    if (s.AcceptKeyword("ASC") || s.AcceptKeyword("ASCENDING")) {
      item->flags |= kNodeAscendingWritten;
    } else if (s.AcceptKeyword("DESC") || s.AcceptKeyword("DESCENDING")) {
      item->flags |= kNodeDescending;
    }
    cols->AddChild(std::move(item));
  } while (s.AcceptSymbol(','));
  s.ExpectSymbol(')');
  st->SetChild(1, std::move(cols));
  if (s.AcceptKeyword("DESCRIPTION")) st->SetChild(2, Primary());
  return st;
}

TZNTNodePtr TZNTExprParser::CreateTextIndex() {
  TZNTScanner& s = *scanner_;
  auto st = NewNode(TZNTNodeKind::Statement, TZNTOp::StCreateTextIndex);
  s.Next();  // TEXT
  s.Next();  // INDEX
  st->objectName = NameText("index name");
  s.ExpectKeyword("ON");
  st->SetChild(0, TableName());
  s.ExpectSymbol('(');
  auto col = NewNode(TZNTNodeKind::ColumnReference, TZNTOp::None);
  col->objectName = NameText("column name");
  st->SetChild(1, std::move(col));
  s.ExpectSymbol(')');
  if (s.AcceptKeyword("DESCRIPTION")) st->SetChild(2, Primary());
  auto options = NewNode(TZNTNodeKind::ClauseList, TZNTOp::ListOptions);
  if (s.AcceptKeyword("INDEXED")) {
    auto o = NewNode(TZNTNodeKind::Option, TZNTOp::OptIndexedWordLength);
    s.ExpectKeyword("WORD");
    s.ExpectKeyword("LENGTH");
    o->SetChild(0, Primary());
    options->AddChild(std::move(o));
  }
  if (s.AcceptKeyword("FILTER")) {
    auto o = NewNode(TZNTNodeKind::Option, TZNTOp::OptFilterTypeColumn);
    s.ExpectKeyword("TYPE");
    s.ExpectKeyword("COLUMN");
    o->text = NameText("column name");
    options->AddChild(std::move(o));
  }
  if (s.AcceptKeyword("WORD")) {
    auto o = NewNode(TZNTNodeKind::Option, TZNTOp::OptWordGenerator);
    s.ExpectKeyword("GENERATOR");
    o->text = NameText("word generator name");
    options->AddChild(std::move(o));
  }
  st->SetChild(3, std::move(options));
  return st;
}

TZNTNodePtr TZNTExprParser::CreateTrigger() {
  TZNTScanner& s = *scanner_;
  auto st = NewNode(TZNTNodeKind::Statement, TZNTOp::StCreateTrigger);
  s.Next();
  st->objectName = NameText("trigger name");
  TZNTTriggerTiming timing;
  if (s.AcceptKeyword("BEFORE")) timing = TZNTTriggerTiming::Before;
  else if (s.AcceptKeyword("AFTER")) timing = TZNTTriggerTiming::After;
  else if (s.AcceptKeyword("ERROR")) timing = TZNTTriggerTiming::Error;
  else s.ErrorExpected("BEFORE, AFTER, ERROR");
  TZNTTriggerEvent event;
  if (s.AcceptKeyword("INSERT")) event = TZNTTriggerEvent::Insert;
  else if (s.AcceptKeyword("UPDATE")) event = TZNTTriggerEvent::Update;
  else if (s.AcceptKeyword("DELETE")) event = TZNTTriggerEvent::Delete;
  else s.ErrorExpected("INSERT, UPDATE, DELETE");
  st->aux = static_cast<int>(timing) * 16 + static_cast<int>(event);
  if (event == TZNTTriggerEvent::Update && s.AcceptKeyword("OF")) {
    auto cols = NewNode(TZNTNodeKind::ClauseList, TZNTOp::ListColumns);
    do {
      auto col = NewNode(TZNTNodeKind::ColumnReference, TZNTOp::None);
      col->objectName = NameText("column name");
      cols->AddChild(std::move(col));
    } while (s.AcceptSymbol(','));
    st->SetChild(1, std::move(cols));
  }
  s.ExpectKeyword("ON");
  st->SetChild(0, TableName());
  inTrigger_ = true;
  inErrorTrigger_ = timing == TZNTTriggerTiming::Error;
  if (s.AcceptKeyword("WHEN")) st->SetChild(2, Expression());
  s.PushMark();
  st->SetChild(3, RoutineBlock());
  std::string body = s.PopMark();
  inTrigger_ = inErrorTrigger_ = false;
  while (!body.empty() && IsZNTBlank(static_cast<unsigned char>(body.back()))) body.pop_back();
  st->text = "TRIGGER " + QuoteSQLName(st->objectName) + "\r\n" + body;
  if (s.AcceptKeyword("DESCRIPTION")) st->SetChild(4, Primary());
  return st;
}

// BEGIN declarations statements END; every statement inside ends with ';'.
TZNTNodePtr TZNTExprParser::RoutineBlock() {
  TZNTScanner& s = *scanner_;
  if (!s.IsKeyword("BEGIN")) s.ErrorExpected("BEGIN");
  auto block = NewNode(TZNTNodeKind::RoutineBlock, TZNTOp::RtBlock);
  s.Next();
  auto declarations = NewNode(TZNTNodeKind::ClauseList, TZNTOp::ListDeclarations);
  while (s.IsKeyword("DECLARE")) {
    declarations->AddChild(Declaration());
    s.ExpectSymbol(';');
  }
  auto statements = NewNode(TZNTNodeKind::ClauseList, TZNTOp::ListStatements);
  while (!s.IsKeyword("END")) {
    if (s.Kind() == TZNTTokenKind::EndOfText) s.ErrorExpected("END");
    if (s.IsKeyword("EXCEPTION")) {
      if (inErrorTrigger_) Unsupported("EXCEPTION");
      Invalid("exception handling statements and functions not allowed");
    }
    statements->AddChild(RoutineStatement());
    s.ExpectSymbol(';');
  }
  s.Next();  // END
  block->SetChild(0, std::move(declarations));
  block->SetChild(1, std::move(statements));
  return block;
}

TZNTNodePtr TZNTExprParser::RoutineStatement() {
  TZNTScanner& s = *scanner_;
  // label: BEGIN ... END; the looping statements a label may also name are
  // not carried.
  if (s.IsName() && s.PeekSymbol(':')) {
    std::string label = s.TokenText();
    s.Next();
    s.Next();
    if (s.IsKeyword("BEGIN")) {
      TZNTNodePtr block = RoutineBlock();
      block->correlationName = std::move(label);
      return block;
    }
    if (s.IsKeyword("LOOP") || s.IsKeyword("REPEAT") || s.IsKeyword("WHILE") || s.IsKeyword("FOR"))
      return Unsupported(Upper(s.RawTokenText()));
    s.ErrorExpected("BEGIN, LOOP, REPEAT, WHILE, FOR");
  }
  if (s.IsKeyword("BEGIN")) return RoutineBlock();
  if (s.IsKeyword("SET")) return SetStatement();
  if (s.IsKeyword("DECLARE")) return Declaration();
  if (s.IsKeyword("INSERT")) return InsertStatement();
  if (s.IsKeyword("UPDATE")) return UpdateStatement();
  if (s.IsKeyword("DELETE")) return DeleteStatement();
  if (IsOneOf(s, kExceptionStatements)) {
    if (inErrorTrigger_) return Unsupported(Upper(s.RawTokenText()));
    Invalid("exception handling statements and functions not allowed");
  }
  // Only functions return a value, and a trigger body is not one.
  if (s.IsKeyword("RETURN")) Invalid("RETURN statement not allowed");
  // No looping statement is carried, so every enclosing block is a plain one.
  if (s.IsKeyword("ITERATE")) Invalid("ITERATE not allowed in non-looping statement block");
  if (IsOneOf(s, kUnsupportedRoutineStatements)) return Unsupported(Upper(s.RawTokenText()));
  s.ErrorExpected("BEGIN, DECLARE, SET, INSERT, UPDATE, DELETE");
}

TZNTNodePtr TZNTExprParser::SetStatement() {
  TZNTScanner& s = *scanner_;
  auto st = NewNode(TZNTNodeKind::Statement, TZNTOp::RtSet);
  s.Next();
  auto message = [&](TZNTOp op, const char* second) {
    st->op = op;
    s.Next();
    if (second) s.ExpectKeyword(second);
    s.ExpectKeyword("TO");
    st->SetChild(0, Expression());
    return std::move(st);
  };
  if (s.IsKeyword("LOG") && s.PeekKeyword("MESSAGE")) return message(TZNTOp::RtSetLogMessage, "MESSAGE");
  if (s.IsKeyword("STATUS") && s.PeekKeyword("MESSAGE"))
    return message(TZNTOp::RtSetStatusMessage, "MESSAGE");
  if (s.IsKeyword("PROGRESS") && s.PeekKeyword("TO")) return message(TZNTOp::RtSetProgress, nullptr);
  auto list = NewNode(TZNTNodeKind::ClauseList, TZNTOp::ListAssignments);
  do {
    auto a = NewNode(TZNTNodeKind::Assignment, TZNTOp::None);
    a->SetLeft(NameReference());
    s.ExpectSymbol('=');
    a->SetRight(Expression());
    list->AddChild(std::move(a));
  } while (s.AcceptSymbol(','));
  st->SetChild(0, std::move(list));
  return st;
}

// DECLARE name [, name ...] type [DEFAULT expression]
TZNTNodePtr TZNTExprParser::Declaration() {
  TZNTScanner& s = *scanner_;
  auto d = NewNode(TZNTNodeKind::Declaration, TZNTOp::DeclVariable);
  s.Next();  // DECLARE
  if (s.IsKeyword("CURSOR") || s.IsKeyword("STATEMENT") || s.IsKeyword("RESULT"))
    return Unsupported("DECLARE " + Upper(s.RawTokenText()));
  auto names = NewNode(TZNTNodeKind::ClauseList, TZNTOp::ListColumns);
  do {
    auto v = NewNode(TZNTNodeKind::Variable, TZNTOp::None);
    v->objectName = NameText("variable name");
    names->AddChild(std::move(v));
  } while (s.AcceptSymbol(','));
  d->SetChild(0, std::move(names));
  d->SetChild(1, DataType(false));
  d->type = d->Child(1)->type;
  if (s.AcceptKeyword("DEFAULT")) d->SetChild(2, Expression());
  return d;
}

TZNTNodePtr TZNTExprParser::CollateClause() {
  TZNTScanner& s = *scanner_;
  if (!s.IsKeyword("COLLATE")) return nullptr;
  s.Next();
  auto c = NewNode(TZNTNodeKind::CollationName, TZNTOp::None);
  c->objectName = NameText("collation name");
  return c;
}

TZNTNodePtr TZNTExprParser::DataType(bool columnDefinition) {
  TZNTScanner& s = *scanner_;
  auto node = NewNode(TZNTNodeKind::DataType, TZNTOp::None);
  TZNTDataType& t = node->type;
  auto length = [&](bool required, int32_t fallback) -> int32_t {
    if (!s.IsSymbol('(')) {
      if (required) s.ExpectSymbol('(');
      return fallback;
    }
    s.Next();
    if (s.Kind() != TZNTTokenKind::IntegerNumber) s.ErrorExpected("numeric constant");
    int64_t n = 0;
    bool big = false;
    if (!ParseIntegerToken(s.TokenText(), n, big) || big) s.ErrorExpected("numeric constant");
    s.Next();
    s.ExpectSymbol(')');
    return static_cast<int32_t>(n);
  };
  auto precisionScale = [&](int& scale) {
    scale = 0;
    if (!s.AcceptSymbol('(')) return;
    if (s.Kind() != TZNTTokenKind::IntegerNumber) s.ErrorExpected("numeric constant");
    s.Next();
    if (s.AcceptSymbol(',')) {
      if (s.Kind() != TZNTTokenKind::IntegerNumber) s.ErrorExpected("numeric constant");
      int64_t n = 0;
      bool big = false;
      if (!ParseIntegerToken(s.TokenText(), n, big) || big) s.ErrorExpected("numeric constant");
      scale = static_cast<int>(n);
      s.Next();
    }
    s.ExpectSymbol(')');
  };
  bool character = false;
  if (s.AcceptKeyword("BOOLEAN") || s.AcceptKeyword("BOOL")) {
    t = TZNTDataType::Of(TZNTTypeCode::Boolean);
  } else if (s.AcceptKeyword("SMALLINT")) {
    t = TZNTDataType::Of(TZNTTypeCode::SmallInt);
  } else if (s.AcceptKeyword("INTEGER") || s.AcceptKeyword("INT")) {
    t = TZNTDataType::Of(TZNTTypeCode::Integer);
  } else if (s.AcceptKeyword("BIGINT")) {
    t = TZNTDataType::Of(TZNTTypeCode::BigInt);
  } else if (s.AcceptKeyword("DECIMAL") || s.AcceptKeyword("NUMERIC")) {
    int scale = 0;
    precisionScale(scale);
    // The scale is checked against its limits when the column is defined.
    t = TZNTDataType::Decimal(0);
    t.scale = static_cast<int8_t>(std::clamp(scale, -1, 127));
    node->aux = scale;
  } else if (s.AcceptKeyword("FLOAT")) {
    int ignored = 0;
    precisionScale(ignored);
    t = TZNTDataType::Of(TZNTTypeCode::Float);
  } else if (s.AcceptKeyword("DOUBLE")) {
    s.ExpectKeyword("PRECISION");
    t = TZNTDataType::Of(TZNTTypeCode::Float);
  } else if (s.IsKeyword("CHARACTER") || s.IsKeyword("CHAR")) {
    s.Next();
    character = true;
    if (s.AcceptKeyword("VARYING")) {
      t = TZNTDataType::VarChar(length(columnDefinition, 0));
    } else if (s.AcceptKeyword("LARGE")) {
      s.ExpectKeyword("OBJECT");
      t = TZNTDataType::Clob();
    } else {
      t = TZNTDataType::FixedChar(length(false, 1));
    }
  } else if (s.AcceptKeyword("VARCHAR")) {
    character = true;
    t = TZNTDataType::VarChar(length(columnDefinition, 0));
  } else if (s.AcceptKeyword("CLOB")) {
    character = true;
    t = TZNTDataType::Clob();
  } else if (s.AcceptKeyword("GUID")) {
    character = true;
    t = TZNTDataType::Guid();
  } else if (s.AcceptKeyword("BYTE")) {
    if (s.AcceptKeyword("VARYING")) t = TZNTDataType::VarByte(length(columnDefinition, 0));
    else t = TZNTDataType::FixedByte(length(false, 1));
  } else if (s.AcceptKeyword("VARBYTE")) {
    t = TZNTDataType::VarByte(length(columnDefinition, 0));
  } else if (s.AcceptKeyword("BINARY")) {
    s.ExpectKeyword("LARGE");
    s.ExpectKeyword("OBJECT");
    t = TZNTDataType::Blob();
  } else if (s.AcceptKeyword("BLOB")) {
    t = TZNTDataType::Blob();
  } else if (s.AcceptKeyword("DATE")) {
    t = TZNTDataType::Of(TZNTTypeCode::Date);
  } else if (s.AcceptKeyword("TIME")) {
    t = TZNTDataType::Of(TZNTTypeCode::Time);
  } else if (s.AcceptKeyword("TIMESTAMP")) {
    t = TZNTDataType::Of(TZNTTypeCode::Timestamp);
  } else if (s.IsKeyword("INTERVAL")) {
    s.Next();
    if (!IntervalQualifier(t)) s.ErrorExpected("YEAR, MONTH, DAY, HOUR, MINUTE, SECOND, MSECOND");
  } else {
    s.ErrorExpected("data type");
  }
  if (character) {
    if (TZNTNodePtr c = CollateClause()) node->SetChild(0, std::move(c));
  }
  return node;
}

bool TZNTExprParser::IntervalQualifier(TZNTDataType& t) {
  TZNTScanner& s = *scanner_;
  static constexpr struct {
    const char* word;
    uint8_t bit;
  } kFields[] = {{"DAY", kIntervalDay},
                 {"HOUR", kIntervalHour},
                 {"MINUTE", kIntervalMinute},
                 {"SECOND", kIntervalSecond},
                 {"MSECOND", kIntervalMSecond}};
  if (s.AcceptKeyword("YEAR")) {
    uint8_t sub = kIntervalYear;
    if (s.IsKeyword("TO") && s.PeekKeyword("MONTH")) {
      s.Next();
      s.Next();
      sub = kIntervalYearToMonth;
    }
    t = TZNTDataType::Interval(TZNTTypeCode::YearMonthInterval, sub);
    return true;
  }
  if (s.AcceptKeyword("MONTH")) {
    t = TZNTDataType::Interval(TZNTTypeCode::YearMonthInterval, kIntervalMonth);
    return true;
  }
  for (int i = 0; i < 5; ++i) {
    if (!s.IsKeyword(kFields[i].word)) continue;
    s.Next();
    uint8_t bits = kFields[i].bit;
    if (i < 4 && s.IsKeyword("TO")) {
      for (int j = i + 1; j < 5; ++j) {
        if (s.PeekKeyword(kFields[j].word)) {
          s.Next();
          s.Next();
          for (int k = i; k <= j; ++k) bits |= kFields[k].bit;
          break;
        }
      }
    }
    t = TZNTDataType::Interval(TZNTTypeCode::DayTimeInterval, bits);
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Expressions

TZNTNodePtr TZNTExprParser::Expression() {
  TDepthGuard guard(*this);
  return OrExpression();
}

TZNTNodePtr TZNTExprParser::OrExpression() {
  TZNTNodePtr left = AndExpression();
  while (scanner_->IsKeyword("OR")) {
    int line = scanner_->TokenLine(), column = scanner_->TokenColumn();
    scanner_->Next();
    left = Binary(TZNTNodeKind::BinaryOperator, TZNTOp::Or, std::move(left), AndExpression(), line,
                  column);
  }
  return left;
}

TZNTNodePtr TZNTExprParser::AndExpression() {
  TZNTNodePtr left = NotExpression();
  while (scanner_->IsKeyword("AND")) {
    int line = scanner_->TokenLine(), column = scanner_->TokenColumn();
    scanner_->Next();
    left = Binary(TZNTNodeKind::BinaryOperator, TZNTOp::And, std::move(left), NotExpression(),
                  line, column);
  }
  return left;
}

TZNTNodePtr TZNTExprParser::NotExpression() {
  if (!scanner_->IsKeyword("NOT")) return Comparison();
  TDepthGuard guard(*this);
  auto n = NewNode(TZNTNodeKind::UnaryOperator, TZNTOp::Not);
  scanner_->Next();
  n->SetLeft(NotExpression());
  return n;
}

// One comparison at most: its operands are additive expressions, so a = b = c
// leaves the second = for the statement end to refuse.
TZNTNodePtr TZNTExprParser::Comparison() {
  TZNTScanner& s = *scanner_;
  TZNTNodePtr left = Additive();
  int line = s.TokenLine(), column = s.TokenColumn();
  TZNTOp op = TZNTOp::None;
  if (s.IsSymbol('=')) {
    op = TZNTOp::Equal;
    s.Next();
  } else if (AcceptPair('<', '>') || AcceptPair('>', '<')) {
    op = TZNTOp::NotEqual;
  } else if (AcceptPair('<', '=')) {
    op = TZNTOp::LessEqual;
  } else if (AcceptPair('>', '=')) {
    op = TZNTOp::GreaterEqual;
  } else if (s.AcceptSymbol('<')) {
    op = TZNTOp::Less;
  } else if (s.AcceptSymbol('>')) {
    op = TZNTOp::Greater;
  }
  if (op != TZNTOp::None)
    return Binary(TZNTNodeKind::BinaryOperator, op, std::move(left), Additive(), line, column);

  bool negated = false;
  if (s.IsKeyword("NOT") &&
      (s.PeekKeyword("BETWEEN") || s.PeekKeyword("LIKE") || s.PeekKeyword("IN"))) {
    s.Next();
    negated = true;
  } else if (s.IsKeyword("NOT")) {
    s.Next();
    s.ErrorExpected("BETWEEN, LIKE, IN");
  }
  auto ext = [&](TZNTOp o) {
    auto n = std::make_unique<TZNTExprToken>(TZNTNodeKind::ExtendedOperator, o);
    n->line = line;
    n->column = column;
    if (negated) n->flags |= kNodeNegated;
    n->SetLeft(std::move(left));
    return n;
  };
  if (s.AcceptKeyword("BETWEEN")) {
    auto n = ext(TZNTOp::Between);
    n->SetChild(0, Additive());
    s.ExpectKeyword("AND");
    n->SetChild(1, Additive());
    return n;
  }
  if (s.AcceptKeyword("LIKE")) {
    auto n = ext(TZNTOp::Like);
    n->SetRight(Additive());
    if (s.AcceptKeyword("ESCAPE")) n->SetChild(0, Additive());
    return n;
  }
  if (s.AcceptKeyword("IN")) {
    auto n = ext(TZNTOp::In);
    s.ExpectSymbol('(');
    if (s.IsKeyword("SELECT") || s.IsKeyword("TABLE")) {
      if (!options_.subqueries) Invalid("query expression not allowed");
      n->SetRight(QueryExpression());
    } else {
      auto list = NewNode(TZNTNodeKind::ClauseList, TZNTOp::ListValues);
      do {
        list->AddChild(Additive());
      } while (s.AcceptSymbol(','));
      n->SetRight(std::move(list));
    }
    s.ExpectSymbol(')');
    return n;
  }
  if (negated) s.ErrorExpected("BETWEEN, LIKE, IN");
  if (s.IsKeyword("IS")) {
    s.Next();
    auto n = ext(TZNTOp::IsNull);
    if (s.AcceptKeyword("NOT")) {
      n->flags |= kNodeNegated;
      if (!s.AcceptKeyword("NULL")) s.ErrorExpected("NULL");
    } else if (!s.AcceptKeyword("NULL")) {
      s.ErrorExpected("NULL, NOT");
    }
    return n;
  }
  if (s.IsKeyword("CONTAINS") || (s.IsKeyword("DOES") && s.PeekKeyword("NOT"))) {
    if (!containsAllowed_) Invalid("CONTAINS and DOES NOT CONTAIN operators not allowed");
    if (s.AcceptKeyword("DOES")) {
      s.ExpectKeyword("NOT");
      s.ExpectKeyword("CONTAIN");
      negated = true;
    } else {
      s.Next();
    }
    auto n = ext(TZNTOp::Contains);
    n->SetRight(Additive());
    return n;
  }
  return left;
}

TZNTNodePtr TZNTExprParser::Additive() {
  TZNTScanner& s = *scanner_;
  TZNTNodePtr left = Multiplicative();
  for (;;) {
    int line = s.TokenLine(), column = s.TokenColumn();
    TZNTOp op;
    if (s.IsSymbol('+')) {
      op = TZNTOp::Add;
      s.Next();
    } else if (s.IsSymbol('-')) {
      op = TZNTOp::Subtract;
      s.Next();
    } else if (s.IsSymbol('|')) {
      s.Next();
      s.ExpectSymbol('|');  // || is the same operation as +
      op = TZNTOp::Add;
    } else {
      return left;
    }
    left = Binary(TZNTNodeKind::BinaryOperator, op, std::move(left), Multiplicative(), line,
                  column);
  }
}

TZNTNodePtr TZNTExprParser::Multiplicative() {
  TZNTScanner& s = *scanner_;
  TZNTNodePtr left = Unary();
  for (;;) {
    int line = s.TokenLine(), column = s.TokenColumn();
    TZNTOp op;
    if (s.AcceptSymbol('*')) op = TZNTOp::Multiply;
    else if (s.AcceptSymbol('/')) op = TZNTOp::Divide;
    else if (s.AcceptKeyword("MOD")) op = TZNTOp::Mod;
    else return left;
    left = Binary(TZNTNodeKind::BinaryOperator, op, std::move(left), Unary(), line, column);
  }
}

TZNTNodePtr TZNTExprParser::Unary() {
  TZNTScanner& s = *scanner_;
  while (s.AcceptSymbol('+')) {
  }  // a prefix plus changes nothing
  if (s.IsSymbol('-')) {
    TDepthGuard guard(*this);
    auto n = NewNode(TZNTNodeKind::UnaryOperator, TZNTOp::Negate);
    s.Next();
    n->SetLeft(Unary());
    return n;
  }
  return PrimaryExpression();
}

TZNTNodePtr TZNTExprParser::Primary() { return PrimaryExpression(); }

TZNTNodePtr TZNTExprParser::PrimaryExpression() {
  TZNTScanner& s = *scanner_;
  switch (s.Kind()) {
    case TZNTTokenKind::EndOfText: s.ErrorExpected("expression");
    case TZNTTokenKind::String:
    case TZNTTokenKind::IntegerNumber:
    case TZNTTokenKind::DecimalNumber:
    case TZNTTokenKind::CharCode:
    case TZNTTokenKind::HexString: return Literal();
    case TZNTTokenKind::QuotedIdentifier:
      // A quoted name is never a keyword, but it may name a user function.
      if (!s.PeekSymbol('(')) return NameReference();
      break;
    case TZNTTokenKind::Symbol:
      if (s.IsSymbol('(')) return ParenthesisedPrimary();
      if (s.IsSymbol('?')) {
        if (!options_.parameters || inSelectList_) Invalid("dynamic parameter references not allowed");
        auto p = NewNode(TZNTNodeKind::DynamicParameter, TZNTOp::None);
        p->aux = ++parameterCount_;
        s.Next();
        return p;
      }
      if (s.IsSymbol('*')) {
        if (!wildcardAllowed_) Invalid("columns wildcard (*) not allowed");
        auto star = NewNode(TZNTNodeKind::ColumnReference, TZNTOp::None);
        star->flags |= kNodeWildcard;
        s.Next();
        return star;
      }
      s.ErrorExpected("expression");
    case TZNTTokenKind::Identifier: break;
  }
  if (s.Kind() == TZNTTokenKind::QuotedIdentifier) return UserFunctionCall();
  if (s.IsKeyword("TRUE") || s.IsKeyword("FALSE")) {
    auto c = NewNode(TZNTNodeKind::Constant, TZNTOp::None);
    c->type = TZNTDataType::Of(TZNTTypeCode::Boolean);
    c->text = s.IsKeyword("TRUE") ? "TRUE" : "FALSE";
    s.Next();
    return c;
  }
  if (s.IsKeyword("NULL")) {
    auto c = NewNode(TZNTNodeKind::Constant, TZNTOp::None);
    c->flags |= kNodeNullConstant;
    s.Next();
    return c;
  }
  if ((s.IsKeyword("DATE") || s.IsKeyword("TIME") || s.IsKeyword("TIMESTAMP") ||
       s.IsKeyword("INTERVAL")) &&
      s.PeekKind() == TZNTTokenKind::String) {
    auto c = NewNode(TZNTNodeKind::Constant, TZNTOp::None);
    bool interval = s.IsKeyword("INTERVAL");
    c->type = TZNTDataType::Of(s.IsKeyword("DATE")   ? TZNTTypeCode::Date
                               : s.IsKeyword("TIME") ? TZNTTypeCode::Time
                                                     : TZNTTypeCode::Timestamp);
    s.Next();
    c->text = s.TokenText();
    s.Next();
    if (interval && !IntervalQualifier(c->type))
      s.ErrorExpected("YEAR, MONTH, DAY, HOUR, MINUTE, SECOND, MSECOND");
    return c;
  }
  if (s.IsKeyword("SELECT") || s.IsKeyword("TABLE")) {
    if (!options_.subqueries) Invalid("query expression not allowed");
    auto q = QueryExpression();
    return q;
  }
  TZNTOp op;
  bool aggregate = false;
  if (LookupFunction(s.TokenText(), op, aggregate)) {
    // The error functions report the error an ERROR trigger runs for.
    if ((op == TZNTOp::FnErrorCode || op == TZNTOp::FnErrorMsg) && !inErrorTrigger_ &&
        s.PeekSymbol('('))
      Invalid("exception handling statements and functions not allowed");
    bool noParens = op == TZNTOp::FnCurrentDate || op == TZNTOp::FnCurrentTime ||
                    op == TZNTOp::FnCurrentTimestamp || op == TZNTOp::FnCurrentUser ||
                    op == TZNTOp::FnCurrentDatabase || op == TZNTOp::FnCurrentVersion ||
                    op == TZNTOp::FnCurrentGuid;
    if (op == TZNTOp::FnCase || s.PeekSymbol('(') || noParens) return FunctionCall(op, aggregate);
  }
  if (s.PeekSymbol('(')) return UserFunctionCall();
  return NameReference();
}

TZNTNodePtr TZNTExprParser::UserFunctionCall() {
  TZNTScanner& s = *scanner_;
  {
    if (!options_.userFunctions) Invalid("user-defined function references not allowed");
    auto f = NewNode(TZNTNodeKind::UserFunction, TZNTOp::None);
    f->objectName = s.TokenText();
    s.Next();
    s.Next();  // (
    auto args = NewNode(TZNTNodeKind::ClauseList, TZNTOp::ListArguments);
    if (!s.IsSymbol(')')) {
      do {
        args->AddChild(Expression());
      } while (s.AcceptSymbol(','));
    }
    s.ExpectSymbol(')');
    f->SetChild(0, std::move(args));
    return f;
  }
}

TZNTNodePtr TZNTExprParser::ParenthesisedPrimary() {
  TZNTScanner& s = *scanner_;
  int line = s.TokenLine(), column = s.TokenColumn();
  s.Next();
  if (s.IsKeyword("SELECT") || s.IsKeyword("TABLE")) {
    if (!options_.subqueries) Invalid("query expression not allowed");
    TZNTNodePtr q = QueryExpression();
    s.ExpectSymbol(')');
    q->flags |= kNodeParenthesised;
    q->line = line;
    q->column = column;
    return q;
  }
  bool saveSelect = inSelectList_, saveWildcard = wildcardAllowed_;
  wildcardAllowed_ = false;
  TZNTNodePtr e = Expression();
  inSelectList_ = saveSelect;
  wildcardAllowed_ = saveWildcard;
  s.ExpectSymbol(')');
  e->flags |= kNodeParenthesised;
  // (a - b) DAY TO SECOND: the difference of two dates or times as an interval.
  if (e->kind == TZNTNodeKind::BinaryOperator && e->op == TZNTOp::Subtract &&
      s.Kind() == TZNTTokenKind::Identifier) {
    TZNTDataType t;
    if (IntervalQualifier(t)) {
      e->type = t;
      e->flags |= kNodeIntervalQualified;
    }
  }
  return e;
}

TZNTNodePtr TZNTExprParser::Literal() {
  TZNTScanner& s = *scanner_;
  auto c = NewNode(TZNTNodeKind::Constant, TZNTOp::None);
  switch (s.Kind()) {
    case TZNTTokenKind::String:
      c->text = s.TokenText();
      c->type = TZNTDataType::VarChar(static_cast<int32_t>(c->text.size()));
      break;
    case TZNTTokenKind::IntegerNumber: {
      int64_t v = 0;
      bool big = false;
      if (!ParseIntegerToken(s.TokenText(), v, big)) s.ErrorExpected("numeric constant");
      c->text = s.TokenText();
      c->type = TZNTDataType::Of(big ? TZNTTypeCode::BigInt : TZNTTypeCode::Integer);
      break;
    }
    case TZNTTokenKind::DecimalNumber: {
      double v = 0;
      if (!ParseDecimalToken(s.TokenText(), v)) s.ErrorExpected("numeric constant");
      c->text = s.TokenText();
      c->type = TZNTDataType::Of(TZNTTypeCode::Float);
      break;
    }
    case TZNTTokenKind::CharCode: {
      unsigned char ch = 0;
      if (!ParseCharCodeToken(s.TokenText(), ch)) s.ErrorExpected("character constant");
      c->text = std::string(1, static_cast<char>(ch));
      c->type = TZNTDataType::VarChar(1);
      c->aux = 1;  // written as #n
      break;
    }
    case TZNTTokenKind::HexString:
      c->text = s.TokenText();
      c->type = TZNTDataType::VarByte(static_cast<int32_t>(c->text.size() / 2));
      break;
    default: s.ErrorExpected("expression");
  }
  s.Next();
  return c;
}

// name [. name | . *] [[index]] [COLLATE collation]; NEWROW. and OLDROW. in
// triggers address the new and old row.
TZNTNodePtr TZNTExprParser::NameReference() {
  TZNTScanner& s = *scanner_;
  auto col = NewNode(TZNTNodeKind::ColumnReference, TZNTOp::None);
  bool quoted = s.Kind() == TZNTTokenKind::QuotedIdentifier;
  std::string first = NameText("column name");
  if (s.IsSymbol('.')) {
    s.Next();
    if (!quoted && ZNTSameText(first, "NEWROW")) {
      col->flags |= kNodeNewRow;
    } else if (!quoted && ZNTSameText(first, "OLDROW")) {
      col->flags |= kNodeOldRow;
    } else {
      if (!options_.tableQualifiers) {
        std::string written = (quoted ? QuoteSQLName(first) : first) + "." +
                              std::string(s.RawTokenText());
        InvalidAt(col->line, col->column, written, "table qualifier not allowed");
      }
      col->correlationName = first;
    }
    if (s.IsSymbol('*')) {
      if (!wildcardAllowed_) Invalid("columns wildcard (*) not allowed");
      col->flags |= kNodeWildcard;
      s.Next();
    } else {
      col->objectName = NameText("column name");
    }
  } else {
    col->objectName = first;
  }
  if (s.AcceptSymbol('[')) {
    col->SetChild(1, Expression());
    s.ExpectSymbol(']');
  }
  if (TZNTNodePtr c = CollateClause()) col->SetChild(0, std::move(c));
  return col;
}

TZNTNodePtr TZNTExprParser::FunctionCall(TZNTOp op, bool aggregate) {
  TZNTScanner& s = *scanner_;
  if (op == TZNTOp::FnCase) return CaseExpression();
  auto f = NewNode(TZNTNodeKind::Function, op);
  s.Next();  // the name
  auto args = NewNode(TZNTNodeKind::ClauseList, TZNTOp::ListArguments);
  // A separator keyword may always be written as a comma.
  auto separator = [&](const char* word) {
    if (s.AcceptSymbol(',')) return;
    s.ExpectKeyword(word);
  };
  auto isSeparator = [&](const char* word) { return s.IsSymbol(',') || s.IsKeyword(word); };
  auto full = [&] { return Expression(); };
  auto additive = [&] { return Additive(); };

  bool noParens = op == TZNTOp::FnCurrentDate || op == TZNTOp::FnCurrentTime ||
                  op == TZNTOp::FnCurrentTimestamp || op == TZNTOp::FnCurrentUser ||
                  op == TZNTOp::FnCurrentDatabase || op == TZNTOp::FnCurrentVersion ||
                  op == TZNTOp::FnCurrentGuid;
  if (noParens) {
    if (s.AcceptSymbol('(')) {
      if (s.AcceptKeyword("UTC")) f->flags |= kNodeUTC;
      s.ExpectSymbol(')');
    }
    f->SetChild(0, std::move(args));
    return f;
  }
  s.ExpectSymbol('(');
  bool saveWildcard = wildcardAllowed_;
  wildcardAllowed_ = false;
  switch (op) {
    case TZNTOp::FnLeft:
    case TZNTOp::FnRight:
    case TZNTOp::FnRepeat:
      args->AddChild(full());
      separator("FOR");
      args->AddChild(full());
      break;
    case TZNTOp::FnConcat:
      args->AddChild(full());
      separator("WITH");
      args->AddChild(full());
      break;
    case TZNTOp::FnSubstring:
      args->AddChild(full());
      separator("FROM");
      args->AddChild(full());
      if (isSeparator("FOR")) {
        separator("FOR");
        args->AddChild(full());
      }
      break;
    case TZNTOp::FnReplace:
      args->AddChild(full());
      separator("WITH");
      args->AddChild(additive());
      separator("IN");
      args->AddChild(full());
      break;
    case TZNTOp::FnPosition:
    case TZNTOp::FnOccurs:
      args->AddChild(additive());
      separator("IN");
      args->AddChild(full());
      break;
    case TZNTOp::FnCast: {
      args->AddChild(full());
      separator("AS");
      TZNTNodePtr type = DataType(false);
      f->type = type->type;
      args->AddChild(std::move(type));
      break;
    }
    case TZNTOp::FnTrim:
      if (s.AcceptKeyword("LEADING")) f->aux = static_cast<int>(TZNTTrimSide::Leading);
      else if (s.AcceptKeyword("TRAILING")) f->aux = static_cast<int>(TZNTTrimSide::Trailing);
      else if (s.AcceptKeyword("BOTH")) f->aux = static_cast<int>(TZNTTrimSide::Both);
      else s.ErrorExpected("LEADING, TRAILING, BOTH");
      args->AddChild(full());
      separator("FROM");
      args->AddChild(full());
      break;
    case TZNTOp::FnExtract: {
      static constexpr const char* kFieldWords[] = {"YEAR", "MONTH", "WEEK", "DAY", "DAYOFWEEK",
                                                    "DAYOFYEAR", "HOUR", "MINUTE", "SECOND",
                                                    "MSECOND"};
      int field = 0;
      for (int i = 0; i < 10; ++i)
        if (s.IsKeyword(kFieldWords[i])) field = i + 1;
      if (field == 0)
        s.ErrorExpected("YEAR, MONTH, WEEK, DAY, DAYOFWEEK, DAYOFYEAR, HOUR, MINUTE, SECOND, MSECOND");
      s.Next();
      f->aux = field;
      separator("FROM");
      args->AddChild(full());
      break;
    }
    case TZNTOp::FnRound:
    case TZNTOp::FnTruncate:
      args->AddChild(full());
      if (isSeparator("TO")) {
        separator("TO");
        args->AddChild(full());
      }
      break;
    case TZNTOp::FnPower:
      args->AddChild(full());
      separator("TO");
      args->AddChild(full());
      break;
    case TZNTOp::FnRand:
      if (s.AcceptKeyword("RANGE") || !s.IsSymbol(')')) args->AddChild(full());
      break;
    case TZNTOp::FnIf:
    case TZNTOp::FnIfNull:
      args->AddChild(full());
      separator("THEN");
      args->AddChild(full());
      separator("ELSE");
      args->AddChild(full());
      break;
    case TZNTOp::FnExists:
      if (!options_.subqueries) Invalid("query expression not allowed");
      if (!s.IsKeyword("SELECT") && !s.IsKeyword("TABLE")) s.ErrorExpected("SELECT");
      args->AddChild(QueryExpression());
      break;
    case TZNTOp::FnCount:
      if (s.IsSymbol('*')) {
        f->flags |= kNodeCountStar;
        s.Next();
      } else {
        args->AddChild(full());
      }
      break;
    case TZNTOp::FnList:
      args->AddChild(full());
      if (s.AcceptKeyword("USING") || s.AcceptSymbol(',')) args->AddChild(full());
      break;
    default:
      if (!s.IsSymbol(')')) {
        do {
          args->AddChild(full());
        } while (s.AcceptSymbol(','));
      }
      break;
  }
  wildcardAllowed_ = saveWildcard;
  s.ExpectSymbol(')');
  f->SetChild(0, std::move(args));
  (void)aggregate;
  return f;
}

// CASE [x] WHEN a THEN b ... [ELSE c] END
TZNTNodePtr TZNTExprParser::CaseExpression() {
  TZNTScanner& s = *scanner_;
  auto f = NewNode(TZNTNodeKind::Function, TZNTOp::FnCase);
  s.Next();  // CASE
  if (!s.IsKeyword("WHEN")) f->SetChild(0, Expression());
  auto whens = NewNode(TZNTNodeKind::ClauseList, TZNTOp::ListWhen);
  if (!s.IsKeyword("WHEN")) s.ErrorExpected("WHEN");
  while (s.AcceptKeyword("WHEN")) {
    auto pair = NewNode(TZNTNodeKind::ClauseList, TZNTOp::ListWhen);
    pair->SetLeft(Expression());
    s.ExpectKeyword("THEN");
    pair->SetRight(Expression());
    whens->AddChild(std::move(pair));
  }
  f->SetChild(1, std::move(whens));
  if (s.AcceptKeyword("ELSE")) f->SetChild(2, Expression());
  s.ExpectKeyword("END");
  return f;
}

// ---------------------------------------------------------------------------
// Renderer

std::string TZNTExprBuilder::Render(const TZNTExprToken& node) {
  out_.clear();
  Operand(node, 0);
  return std::move(out_);
}

void TZNTExprBuilder::Break(int level) {
  if (multiLine_) {
    out_ += "\r\n";
    out_.append(static_cast<size_t>(level) * 3, ' ');
  } else {
    out_ += ' ';
  }
}

void TZNTExprBuilder::Name(std::string_view name) { out_ += QuoteSQLName(name); }

void TZNTExprBuilder::List(const TZNTExprToken* list, int level, std::string_view sep) {
  if (list == nullptr) return;
  bool first = true;
  for (const auto& c : list->children) {
    if (!first) out_ += sep;
    first = false;
    if (c) Operand(*c, level);
  }
}

void TZNTExprBuilder::DataType(const TZNTDataType& t) {
  switch (t.code) {
    case TZNTTypeCode::Char:
      if (t.subtype == kSubtypeGuid) out_ += "GUID";
      else if (t.subtype == kSubtypeFixed) out_ += "CHAR(" + std::to_string(t.size) + ")";
      else out_ += "VARCHAR(" + std::to_string(t.size) + ")";
      break;
    case TZNTTypeCode::Byte:
      out_ += (t.subtype == kSubtypeFixed ? "BYTE(" : "VARBYTE(") + std::to_string(t.size) + ")";
      break;
    case TZNTTypeCode::Decimal: out_ += "DECIMAL(20," + std::to_string(t.scale) + ")"; break;
    default: out_ += TypeNameUpper(t); break;
  }
}

void TZNTExprBuilder::Operand(const TZNTExprToken& n, int level) {
  // Parentheses as written keep the rendered text equivalent to the source.
  bool paren = (n.flags & kNodeParenthesised) != 0;
  if (paren) out_ += '(';
  Node(n, level);
  if (paren) out_ += ')';
  if (n.flags & kNodeIntervalQualified) out_ += " " + TypeNameUpper(n.type).substr(9);
}

void TZNTExprBuilder::Clause(int level, std::string_view keyword, const TZNTExprToken* node,
                             bool list) {
  if (node == nullptr) return;
  Break(level);
  out_ += keyword;
  if (list) List(node, level + 1);
  else Operand(*node, level + 1);
}

void TZNTExprBuilder::Query(const TZNTExprToken& n, int level) {
  if (n.op != TZNTOp::QuerySpec) {
    if (n.left) Operand(*n.left, level);
    Break(level);
    out_ += n.op == TZNTOp::QueryUnion       ? "UNION"
            : n.op == TZNTOp::QueryIntersect ? "INTERSECT"
                                             : "EXCEPT";
    if (n.flags & kNodeAll) out_ += " ALL";
    Break(level);
    if (n.right) Operand(*n.right, level);
  } else {
    out_ += "SELECT ";
    if (n.flags & kNodeDistinct) out_ += "DISTINCT ";
    List(n.Child(qslot::Select), level + 1);
    Break(level);
    out_ += "FROM ";
    List(n.Child(qslot::From), level + 1);
    Clause(level, "WHERE ", n.Child(qslot::Where), false);
    Clause(level, "GROUP BY ", n.Child(qslot::GroupBy), true);
    Clause(level, "HAVING ", n.Child(qslot::Having), false);
  }
  Clause(level, "ORDER BY ", n.Child(qslot::OrderBy), true);
  if (const TZNTExprToken* r = n.Child(qslot::RangeFirst)) {
    Break(level);
    out_ += "RANGE ";
    Operand(*r, level);
    if (const TZNTExprToken* last = n.Child(qslot::RangeLast)) {
      out_ += " TO ";
      Operand(*last, level);
    }
  }
  if (n.flags & kNodeNoJoinOptimize) out_ += " NOJOINOPTIMIZE";
  if (n.flags & kNodeJoinOptimizeCosts) out_ += " JOINOPTIMIZECOSTS";
}

namespace {

const char* BinaryText(TZNTOp op) {
  switch (op) {
    case TZNTOp::Or: return " OR ";
    case TZNTOp::And: return " AND ";
    case TZNTOp::Equal: return " = ";
    case TZNTOp::NotEqual: return " <> ";
    case TZNTOp::Less: return " < ";
    case TZNTOp::LessEqual: return " <= ";
    case TZNTOp::Greater: return " > ";
    case TZNTOp::GreaterEqual: return " >= ";
    case TZNTOp::Add: return " + ";
    case TZNTOp::Subtract: return " - ";
    case TZNTOp::Multiply: return " * ";
    case TZNTOp::Divide: return " / ";
    case TZNTOp::Mod: return " MOD ";
    default: return " ? ";
  }
}

const char* OptionText(TZNTOp op) {
  switch (op) {
    case TZNTOp::OptDescription: return "DESCRIPTION";
    case TZNTOp::OptVersion: return "VERSION";
    case TZNTOp::OptEncrypted: return "ENCRYPTED";
    case TZNTOp::OptUnencrypted: return "UNENCRYPTED";
    case TZNTOp::OptIndexPageSize: return "INDEX PAGE SIZE";
    case TZNTOp::OptBlobBlockSize: return "BLOB BLOCK SIZE";
    case TZNTOp::OptPublishBlockSize: return "PUBLISH BLOCK SIZE";
    case TZNTOp::OptPublishCompression: return "PUBLISH COMPRESSION";
    case TZNTOp::OptMaxRowBufferSize: return "MAX ROW BUFFER SIZE";
    case TZNTOp::OptMaxIndexBufferSize: return "MAX INDEX BUFFER SIZE";
    case TZNTOp::OptMaxBlobBufferSize: return "MAX BLOB BUFFER SIZE";
    case TZNTOp::OptMaxPublishBufferSize: return "MAX PUBLISH BUFFER SIZE";
    case TZNTOp::OptIndexedWordLength: return "INDEXED WORD LENGTH";
    case TZNTOp::OptFilterTypeColumn: return "FILTER TYPE COLUMN";
    case TZNTOp::OptWordGenerator: return "WORD GENERATOR";
    case TZNTOp::OptLikeIncluding: return "INCLUDING";
    case TZNTOp::OptLikeExcluding: return "EXCLUDING";
    case TZNTOp::ActionCascade: return "CASCADE";
    case TZNTOp::ActionSetNull: return "SET NULL";
    case TZNTOp::ActionSetDefault: return "SET DEFAULT";
    case TZNTOp::ActionRestrict: return "RESTRICT";
    case TZNTOp::ActionNoAction: return "NO ACTION";
    default: return "";
  }
}

}  // namespace

void TZNTExprBuilder::Statement(const TZNTExprToken& n, int level) {
  auto table = [&](size_t slot) {
    if (const TZNTExprToken* t = n.Child(slot)) Node(*t, level);
  };
  switch (n.op) {
    case TZNTOp::StSelect:
      if (n.Child(0)) Node(*n.Child(0), level);
      break;
    case TZNTOp::StInsert:
      out_ += "INSERT INTO ";
      table(0);
      if (const TZNTExprToken* cols = n.Child(1)) {
        out_ += " (";
        List(cols, level);
        out_ += ")";
      }
      Break(level);
      if (const TZNTExprToken* values = n.Child(2)) {
        out_ += "VALUES (";
        List(values, level + 1);
        out_ += ")";
      } else if (const TZNTExprToken* q = n.Child(3)) {
        Operand(*q, level);
      }
      break;
    case TZNTOp::StUpdate:
      out_ += "UPDATE ";
      table(0);
      Break(level);
      out_ += "SET ";
      List(n.Child(1), level + 1);
      Clause(level, "WHERE ", n.Child(2), false);
      break;
    case TZNTOp::StDelete:
      out_ += "DELETE FROM ";
      table(0);
      Clause(level, "WHERE ", n.Child(1), false);
      break;
    case TZNTOp::StCreateDatabase:
      out_ += "CREATE DATABASE ";
      Name(n.objectName);
      if (n.flags & kNodeInMemory) {
        out_ += " IN MEMORY";
      } else if (const TZNTExprToken* p = n.Child(0)) {
        out_ += " PATH ";
        Operand(*p, level);
      }
      if (n.flags & kNodeEncryptedCatalog) out_ += " ENCRYPTED CATALOG";
      if (const TZNTExprToken* d = n.Child(1)) {
        out_ += " DESCRIPTION ";
        Operand(*d, level);
      }
      break;
    case TZNTOp::StCreateTable:
      out_ += n.flags & kNodeTemporary ? "CREATE TEMPORARY TABLE " : "CREATE TABLE ";
      table(0);
      if (const TZNTExprToken* elements = n.Child(1)) {
        Break(level);
        out_ += "(";
        bool first = true;
        for (const auto& e : elements->children) {
          if (!first) out_ += ",";
          first = false;
          Break(level + 1);
          Node(*e, level + 1);
        }
        Break(level);
        out_ += ")";
      } else if (const TZNTExprToken* q = n.Child(2)) {
        out_ += " AS ";
        Operand(*q, level);
        out_ += n.flags & kNodeWithData ? " WITH DATA" : " WITH NO DATA";
      } else if (const TZNTExprToken* like = n.Child(3)) {
        out_ += " (LIKE ";
        if (like->left) Node(*like->left, level);
        for (const auto& o : like->children) out_ += std::string(" ") + OptionText(o->op) + " " + o->text;
        out_ += ")";
      }
      if (const TZNTExprToken* options = n.Child(4)) {
        for (const auto& o : options->children) {
          Break(level);
          Node(*o, level);
        }
      }
      break;
    case TZNTOp::StCreateIndex:
    case TZNTOp::StCreateTextIndex:
      out_ += n.op == TZNTOp::StCreateIndex ? "CREATE INDEX " : "CREATE TEXT INDEX ";
      Name(n.objectName);
      out_ += " ON ";
      table(0);
      out_ += " (";
      if (n.op == TZNTOp::StCreateIndex) List(n.Child(1), level);
      else if (n.Child(1)) Node(*n.Child(1), level);
      out_ += ")";
      if (const TZNTExprToken* d = n.Child(2)) {
        out_ += " DESCRIPTION ";
        Operand(*d, level);
      }
      if (const TZNTExprToken* options = n.Child(3)) {
        for (const auto& o : options->children) {
          out_ += ' ';
          Node(*o, level);
        }
      }
      break;
    case TZNTOp::StCreateTrigger: {
      static constexpr const char* kTiming[] = {"", "BEFORE", "AFTER", "ERROR"};
      static constexpr const char* kEvent[] = {"", "INSERT", "UPDATE", "DELETE"};
      out_ += "CREATE TRIGGER ";
      Name(n.objectName);
      out_ += std::string(" ") + kTiming[(n.aux / 16) & 3] + " " + kEvent[n.aux & 3];
      if (const TZNTExprToken* cols = n.Child(1)) {
        out_ += " OF ";
        List(cols, level);
      }
      out_ += " ON ";
      table(0);
      if (const TZNTExprToken* w = n.Child(2)) {
        out_ += " WHEN ";
        Operand(*w, level);
      }
      Break(level);
      if (const TZNTExprToken* b = n.Child(3)) Node(*b, level);
      if (const TZNTExprToken* d = n.Child(4)) {
        out_ += " DESCRIPTION ";
        Operand(*d, level);
      }
      break;
    }
    case TZNTOp::RtSet:
      out_ += "SET ";
      List(n.Child(0), level);
      break;
    case TZNTOp::RtSetLogMessage:
    case TZNTOp::RtSetProgress:
    case TZNTOp::RtSetStatusMessage:
      out_ += n.op == TZNTOp::RtSetLogMessage    ? "SET LOG MESSAGE TO "
              : n.op == TZNTOp::RtSetProgress    ? "SET PROGRESS TO "
                                                 : "SET STATUS MESSAGE TO ";
      if (n.Child(0)) Operand(*n.Child(0), level);
      break;
    default: break;
  }
}

void TZNTExprBuilder::Node(const TZNTExprToken& n, int level) {
  switch (n.kind) {
    case TZNTNodeKind::Constant: {
      if (n.flags & kNodeNullConstant) {
        out_ += "NULL";
        break;
      }
      switch (n.type.code) {
        case TZNTTypeCode::Char:
          if (n.aux == 1) out_ += "#" + std::to_string(static_cast<unsigned char>(n.text[0]));
          else out_ += QuoteSQLString(n.text);
          break;
        case TZNTTypeCode::Byte: out_ += "X" + QuoteSQLString(n.text); break;
        case TZNTTypeCode::Date: out_ += "DATE " + QuoteSQLString(n.text); break;
        case TZNTTypeCode::Time: out_ += "TIME " + QuoteSQLString(n.text); break;
        case TZNTTypeCode::Timestamp: out_ += "TIMESTAMP " + QuoteSQLString(n.text); break;
        case TZNTTypeCode::YearMonthInterval:
        case TZNTTypeCode::DayTimeInterval:
          out_ += "INTERVAL " + QuoteSQLString(n.text) + " " +
                  TypeNameUpper(n.type).substr(9);  // the qualifier after "INTERVAL "
          break;
        default: out_ += n.text; break;
      }
      break;
    }
    case TZNTNodeKind::BinaryOperator:
      if (n.left) Operand(*n.left, level);
      out_ += BinaryText(n.op);
      if (n.right) Operand(*n.right, level);
      break;
    case TZNTNodeKind::UnaryOperator:
      out_ += n.op == TZNTOp::Not ? "NOT " : "-";
      // Two minus signs in a row would start a comment.
      if (n.op == TZNTOp::Negate && n.left && !(n.left->flags & kNodeParenthesised) &&
          n.left->kind == TZNTNodeKind::UnaryOperator && n.left->op == TZNTOp::Negate)
        out_ += ' ';
      if (n.left) Operand(*n.left, level);
      break;
    case TZNTNodeKind::ExtendedOperator: {
      if (n.left) Operand(*n.left, level);
      bool neg = n.flags & kNodeNegated;
      switch (n.op) {
        case TZNTOp::Between:
          out_ += neg ? " NOT BETWEEN " : " BETWEEN ";
          if (n.Child(0)) Operand(*n.Child(0), level);
          out_ += " AND ";
          if (n.Child(1)) Operand(*n.Child(1), level);
          break;
        case TZNTOp::Like:
          out_ += neg ? " NOT LIKE " : " LIKE ";
          if (n.right) Operand(*n.right, level);
          if (n.Child(0)) {
            out_ += " ESCAPE ";
            Operand(*n.Child(0), level);
          }
          break;
        case TZNTOp::In:
          out_ += neg ? " NOT IN (" : " IN (";
          if (n.right && n.right->kind == TZNTNodeKind::ClauseList) List(n.right.get(), level);
          else if (n.right) Node(*n.right, level);
          out_ += ")";
          break;
        case TZNTOp::IsNull: out_ += neg ? " IS NOT NULL" : " IS NULL"; break;
        case TZNTOp::Contains:
          out_ += neg ? " DOES NOT CONTAIN " : " CONTAINS ";
          if (n.right) Operand(*n.right, level);
          break;
        default: break;
      }
      break;
    }
    case TZNTNodeKind::Function: {
      const TZNTExprToken* args = n.Child(0);
      auto arg = [&](size_t i) {
        if (args && i < args->children.size() && args->children[i])
          Operand(*args->children[i], level);
      };
      size_t count = args ? args->children.size() : 0;
      if (n.op == TZNTOp::FnCase) {
        out_ += "CASE";
        if (n.Child(0)) {
          out_ += ' ';
          Operand(*n.Child(0), level);
        }
        if (const TZNTExprToken* whens = n.Child(1)) {
          for (const auto& w : whens->children) {
            out_ += " WHEN ";
            Operand(*w->left, level);
            out_ += " THEN ";
            Operand(*w->right, level);
          }
        }
        if (n.Child(2)) {
          out_ += " ELSE ";
          Operand(*n.Child(2), level);
        }
        out_ += " END";
        break;
      }
      out_ += FunctionName(n.op);
      switch (n.op) {
        case TZNTOp::FnCurrentDate:
        case TZNTOp::FnCurrentTime:
        case TZNTOp::FnCurrentTimestamp:
          if (n.flags & kNodeUTC) out_ += "(UTC)";
          return;
        case TZNTOp::FnCurrentUser:
        case TZNTOp::FnCurrentDatabase:
        case TZNTOp::FnCurrentVersion:
        case TZNTOp::FnCurrentGuid: return;
        default: break;
      }
      out_ += '(';
      auto withWords = [&](std::initializer_list<const char*> words) {
        size_t i = 0;
        for (const char* w : words) {
          if (i >= count) break;
          if (i > 0) out_ += std::string(" ") + w + " ";
          arg(i++);
        }
        for (; i < count; ++i) {
          out_ += ", ";
          arg(i);
        }
      };
      switch (n.op) {
        case TZNTOp::FnLeft:
        case TZNTOp::FnRight:
        case TZNTOp::FnRepeat: withWords({"", "FOR"}); break;
        case TZNTOp::FnConcat: withWords({"", "WITH"}); break;
        case TZNTOp::FnSubstring: withWords({"", "FROM", "FOR"}); break;
        case TZNTOp::FnReplace: withWords({"", "WITH", "IN"}); break;
        case TZNTOp::FnPosition:
        case TZNTOp::FnOccurs: withWords({"", "IN"}); break;
        case TZNTOp::FnRound:
        case TZNTOp::FnTruncate:
        case TZNTOp::FnPower: withWords({"", "TO"}); break;
        case TZNTOp::FnIf:
        case TZNTOp::FnIfNull: withWords({"", "THEN", "ELSE"}); break;
        case TZNTOp::FnList: withWords({"", "USING"}); break;
        case TZNTOp::FnCast:
          arg(0);
          out_ += " AS ";
          if (count > 1) Node(*args->children[1], level);
          break;
        case TZNTOp::FnTrim:
          out_ += n.aux == static_cast<int>(TZNTTrimSide::Leading)    ? "LEADING "
                  : n.aux == static_cast<int>(TZNTTrimSide::Trailing) ? "TRAILING "
                                                                      : "BOTH ";
          withWords({"", "FROM"});
          break;
        case TZNTOp::FnExtract: {
          static constexpr const char* kFieldWords[] = {"",        "YEAR",      "MONTH",
                                                        "WEEK",    "DAY",       "DAYOFWEEK",
                                                        "DAYOFYEAR", "HOUR",    "MINUTE",
                                                        "SECOND",  "MSECOND"};
          out_ += kFieldWords[n.aux >= 0 && n.aux <= 10 ? n.aux : 0];
          out_ += " FROM ";
          arg(0);
          break;
        }
        case TZNTOp::FnRand:
          if (count > 0) {
            out_ += "RANGE ";
            arg(0);
          }
          break;
        case TZNTOp::FnCount:
          if (n.flags & kNodeCountStar) out_ += '*';
          else arg(0);
          break;
        default:
          for (size_t i = 0; i < count; ++i) {
            if (i > 0) out_ += ", ";
            arg(i);
          }
          break;
      }
      out_ += ')';
      break;
    }
    case TZNTNodeKind::UserFunction:
      Name(n.objectName);
      out_ += '(';
      List(n.Child(0), level);
      out_ += ')';
      break;
    case TZNTNodeKind::TableReference:
      if (n.op == TZNTOp::TableDerived) {
        out_ += '(';
        if (n.Child(0)) Node(*n.Child(0), level + 1);
        out_ += ')';
      } else {
        if (!n.databaseName.empty()) {
          Name(n.databaseName);
          out_ += '.';
        }
        if (!n.schemaName.empty()) {
          Name(n.schemaName);
          out_ += '.';
        }
        Name(n.objectName);
      }
      if (!n.correlationName.empty()) {
        out_ += ' ';
        Name(n.correlationName);
      }
      break;
    case TZNTNodeKind::ColumnReference:
      if (n.flags & kNodeNewRow) out_ += "NEWROW.";
      if (n.flags & kNodeOldRow) out_ += "OLDROW.";
      if (!n.correlationName.empty()) {
        Name(n.correlationName);
        out_ += '.';
      }
      if (n.flags & kNodeWildcard) out_ += '*';
      else Name(n.objectName);
      if (n.Child(1)) {
        out_ += '[';
        Operand(*n.Child(1), level);
        out_ += ']';
      }
      if (n.Child(0)) {
        out_ += ' ';
        Node(*n.Child(0), level);
      }
      break;
    case TZNTNodeKind::Variable: out_ += n.objectName; break;
    case TZNTNodeKind::Parameter: out_ += n.objectName; break;
    case TZNTNodeKind::DynamicParameter: out_ += '?'; break;
    case TZNTNodeKind::Query: Query(n, level); break;
    case TZNTNodeKind::DataType:
      DataType(n.type);
      if (n.Child(0)) {
        out_ += ' ';
        Node(*n.Child(0), level);
      }
      break;
    case TZNTNodeKind::CollationName:
      out_ += "COLLATE ";
      Name(n.objectName);
      break;
    case TZNTNodeKind::ClauseList: List(&n, level); break;
    case TZNTNodeKind::Join:
      if (n.aux == 1) {
        // Written as a right join: render it as written.
        if (n.right) Node(*n.right, level);
        out_ += " RIGHT OUTER JOIN ";
        if (n.left) Node(*n.left, level);
      } else {
        if (n.left) Node(*n.left, level);
        out_ += n.op == TZNTOp::JoinInner ? " INNER JOIN " : " LEFT OUTER JOIN ";
        if (n.right) Node(*n.right, level);
      }
      out_ += " ON ";
      if (n.Child(0)) Operand(*n.Child(0), level);
      break;
    case TZNTNodeKind::SelectItem:
      if (n.Child(0)) Operand(*n.Child(0), level);
      if (!n.correlationName.empty()) {
        out_ += " AS ";
        Name(n.correlationName);
      }
      break;
    case TZNTNodeKind::OrderItem:
      if (n.Child(0)) Operand(*n.Child(0), level);
      if (n.Child(1)) {
        out_ += ' ';
        Node(*n.Child(1), level);
      }
      if (n.flags & kNodeDescending) out_ += " DESC";
      else if (n.flags & kNodeAscendingWritten) out_ += " ASC";
      break;
    case TZNTNodeKind::Statement: Statement(n, level); break;
    case TZNTNodeKind::RoutineBlock: {
      if (!n.correlationName.empty()) {
        Name(n.correlationName);  // the block's label
        out_ += ": ";
      }
      out_ += "BEGIN";
      for (size_t slot : {size_t{0}, size_t{1}}) {
        if (const TZNTExprToken* list = n.Child(slot)) {
          for (const auto& st : list->children) {
            Break(level + 1);
            Node(*st, level + 1);
            out_ += ';';
          }
        }
      }
      Break(level);
      out_ += "END";
      break;
    }
    case TZNTNodeKind::Declaration:
      switch (n.op) {
        case TZNTOp::DeclColumn:
          Name(n.objectName);
          out_ += ' ';
          if (n.Child(0)) Node(*n.Child(0), level);
          if (n.Child(1)) {
            out_ += " COMPRESSION ";
            Operand(*n.Child(1), level);
          }
          if (const TZNTExprToken* g = n.Child(2)) {
            out_ += ' ';
            Node(*g, level);
          }
          if (n.flags & kNodeNotNull) out_ += " NOT NULL";
          if (const TZNTExprToken* cs = n.Child(3)) {
            for (const auto& c : cs->children) {
              out_ += ' ';
              Node(*c, level);
            }
          }
          if (n.Child(4)) {
            out_ += " DESCRIPTION ";
            Operand(*n.Child(4), level);
          }
          break;
        case TZNTOp::DeclVariable:
          out_ += "DECLARE ";
          if (const TZNTExprToken* names = n.Child(0)) {
            for (size_t i = 0; i < names->children.size(); ++i) {
              if (i > 0) out_ += ", ";
              Name(names->children[i]->objectName);
            }
          }
          out_ += ' ';
          if (n.Child(1)) Node(*n.Child(1), level);
          if (n.Child(2)) {
            out_ += " DEFAULT ";
            Operand(*n.Child(2), level);
          }
          break;
        default:
          if (!n.objectName.empty()) {
            out_ += "CONSTRAINT ";
            Name(n.objectName);
            out_ += ' ';
          }
          switch (n.op) {
            case TZNTOp::ConstraintPrimaryKey: out_ += "PRIMARY KEY"; break;
            case TZNTOp::ConstraintUnique: out_ += "UNIQUE"; break;
            case TZNTOp::ConstraintForeignKey:
              if (n.Child(0)) out_ += "FOREIGN KEY";
              break;
            case TZNTOp::ConstraintCheck:
              out_ += "CHECK ";
              if (n.Child(0)) Operand(*n.Child(0), level);
              return;
            default: break;
          }
          if (n.Child(0)) {
            out_ += " (";
            List(n.Child(0), level);
            out_ += ')';
          }
          if (n.op == TZNTOp::ConstraintForeignKey) {
            out_ += " REFERENCES ";
            if (n.Child(1)) Node(*n.Child(1), level);
            if (n.Child(2)) {
              out_ += " (";
              List(n.Child(2), level);
              out_ += ')';
            }
            if (n.Child(3)) out_ += std::string(" ON UPDATE ") + OptionText(n.Child(3)->op);
            if (n.Child(4)) out_ += std::string(" ON DELETE ") + OptionText(n.Child(4)->op);
          }
          break;
      }
      break;
    case TZNTNodeKind::Assignment:
      if (n.left) Node(*n.left, level);
      out_ += " = ";
      if (n.right) Operand(*n.right, level);
      break;
    case TZNTNodeKind::Option:
      switch (n.op) {
        case TZNTOp::GenIdentityAlways:
        case TZNTOp::GenIdentityByDefault:
          out_ += n.op == TZNTOp::GenIdentityAlways ? "GENERATED ALWAYS AS IDENTITY"
                                                    : "GENERATED BY DEFAULT AS IDENTITY";
          if (n.Child(0)) {
            out_ += " (START WITH ";
            Operand(*n.Child(0), level);
            if (n.Child(1)) {
              out_ += ", INCREMENT BY ";
              Operand(*n.Child(1), level);
            }
            out_ += ')';
          }
          break;
        case TZNTOp::GenAlwaysAs:
        case TZNTOp::ComputedAlwaysAs:
        case TZNTOp::ColumnDefault:
          out_ += n.op == TZNTOp::GenAlwaysAs        ? "GENERATED ALWAYS AS "
                  : n.op == TZNTOp::ComputedAlwaysAs ? "COMPUTED ALWAYS AS "
                                                     : "DEFAULT ";
          if (n.Child(0)) Operand(*n.Child(0), level);
          break;
        case TZNTOp::OptFilterTypeColumn:
        case TZNTOp::OptWordGenerator:
          out_ += OptionText(n.op);
          out_ += ' ';
          Name(n.text);
          break;
        default:
          out_ += OptionText(n.op);
          if (n.Child(0)) {
            out_ += ' ';
            Operand(*n.Child(0), level);
          }
          break;
      }
      break;
  }
}

}  // namespace znt
