// The SQL parser: statement and expression text becomes a tree of
// TZNTExprToken nodes by recursive descent over the scanner's tokens, one
// function per construct. TZNTExprBuilder renders a tree back into SQL.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/znttype.h"

namespace znt {

class TZNTScanner;
class TZNTBindTable;
class TZNTContainedValue;

// What a node is. The kinds with a word of their own appear in messages
// (NodeKindWord); the rest are structure.
enum class TZNTNodeKind : uint8_t {
  BinaryOperator,
  UnaryOperator,
  ExtendedOperator,  // BETWEEN, LIKE, IN, IS, CONTAINS
  Function,          // built-in functions, aggregates included
  UserFunction,      // name(...) of a function looked up in the catalog
  TableReference,
  ColumnReference,   // also trigger row columns and the * wildcard
  Parameter,
  Variable,
  Constant,
  Query,
  DataType,
  CollationName,
  ClauseList,
  Join,
  SelectItem,
  OrderItem,
  Statement,
  RoutineBlock,
  Declaration,
  DynamicParameter,
  Assignment,
  Option,
};

// The operation within a kind: operator, function, clause or statement.
enum class TZNTOp : uint16_t {
  None,
  // Logical, comparison and arithmetic operators.
  Or, And, Not,
  Equal, NotEqual, Less, LessEqual, Greater, GreaterEqual,
  Between, Like, In, IsNull, Contains,  // negated forms carry kNodeNegated
  Add, Subtract, Multiply, Divide, Mod, Negate,
  // Built-in functions, in the order of their names.
  FnAborted, FnAbs, FnAcos, FnAllTrim, FnAsin, FnAtan, FnAtan2, FnAvg, FnBof, FnCase, FnCast,
  FnCeiling, FnCharLength, FnCoalesce, FnConcat, FnCos, FnCot, FnCount, FnCurrentDatabase,
  FnCurrentDate, FnCurrentGuid, FnCurrentTime, FnCurrentTimestamp, FnCurrentUser,
  FnCurrentVersion, FnDegrees, FnEof, FnErrorCode, FnErrorMsg, FnExists, FnExp, FnExtract,
  FnFloor, FnIf, FnIfNull, FnLeft, FnLength, FnList, FnLoadingUpdates, FnLog, FnLog10, FnLower,
  FnLTrim, FnMax, FnMin, FnNullIf, FnOccurs, FnPi, FnPosition, FnPower, FnRadians, FnRand,
  FnRepeat, FnReplace, FnRight, FnRound, FnRowCount, FnRowsAffected, FnRTrim, FnRunSum,
  FnSensitive, FnSign, FnSin, FnSqrt, FnStdDev, FnSubstring, FnSum, FnTan, FnTrim, FnTruncate,
  FnUpper,
  // Queries: one SELECT block, or a set operation of two queries.
  QuerySpec, QueryUnion, QueryIntersect, QueryExcept,
  // Table references and joins.
  TableNamed, TableDerived, JoinInner, JoinLeftOuter,
  // Clause lists.
  ListSelect, ListFrom, ListGroupBy, ListOrderBy, ListColumns, ListValues, ListAssignments,
  ListArguments, ListElements, ListConstraints, ListOptions, ListWhen, ListDeclarations,
  ListStatements,
  // Statements.
  StSelect, StInsert, StUpdate, StDelete, StCreateDatabase, StCreateTable, StCreateIndex,
  StCreateTextIndex, StCreateTrigger,
  // Statements of a routine block.
  RtBlock, RtSet, RtSetLogMessage, RtSetProgress, RtSetStatusMessage,
  // Declarations.
  DeclColumn, DeclVariable, ConstraintPrimaryKey, ConstraintUnique, ConstraintForeignKey,
  ConstraintCheck,
  // Column generation clauses.
  GenIdentityAlways, GenIdentityByDefault, GenAlwaysAs, ComputedAlwaysAs, ColumnDefault,
  // Table and index options.
  OptDescription, OptVersion, OptEncrypted, OptUnencrypted, OptIndexPageSize, OptBlobBlockSize,
  OptPublishBlockSize, OptPublishCompression, OptMaxRowBufferSize, OptMaxIndexBufferSize,
  OptMaxBlobBufferSize, OptMaxPublishBufferSize, OptIndexedWordLength, OptFilterTypeColumn,
  OptWordGenerator, OptLikeIncluding, OptLikeExcluding,
  // Referential actions.
  ActionCascade, ActionSetNull, ActionSetDefault, ActionRestrict, ActionNoAction,
  // EXTRACT fields and TRIM sides (carried in `aux` of the function node).
};

// Node flags.
inline constexpr uint32_t kNodeNegated = 1u << 0;         // NOT BETWEEN, NOT LIKE, IS NOT NULL ...
inline constexpr uint32_t kNodeDistinct = 1u << 1;        // SELECT DISTINCT, COUNT(DISTINCT ..)
inline constexpr uint32_t kNodeAll = 1u << 2;             // UNION ALL, SELECT ALL
inline constexpr uint32_t kNodeParenthesised = 1u << 3;
inline constexpr uint32_t kNodeDescending = 1u << 4;      // order and index items
inline constexpr uint32_t kNodeWildcard = 1u << 5;        // * or t.*
inline constexpr uint32_t kNodeNotNull = 1u << 6;         // column definitions
inline constexpr uint32_t kNodeTemporary = 1u << 7;       // CREATE TEMPORARY TABLE
inline constexpr uint32_t kNodeNoJoinOptimize = 1u << 8;
inline constexpr uint32_t kNodeJoinOptimizeCosts = 1u << 9;
inline constexpr uint32_t kNodeInMemory = 1u << 10;       // CREATE DATABASE ... IN MEMORY
inline constexpr uint32_t kNodeEncryptedCatalog = 1u << 11;
inline constexpr uint32_t kNodeWithData = 1u << 12;       // CREATE TABLE ... AS ... WITH DATA
inline constexpr uint32_t kNodeUTC = 1u << 13;            // CURRENT_DATE(UTC)
inline constexpr uint32_t kNodeNewRow = 1u << 14;         // NEWROW.column
inline constexpr uint32_t kNodeOldRow = 1u << 15;         // OLDROW.column
inline constexpr uint32_t kNodeAscendingWritten = 1u << 16;  // ASC written explicitly
inline constexpr uint32_t kNodeIntervalQualified = 1u << 17;  // (a - b) DAY TO SECOND
inline constexpr uint32_t kNodeCountStar = 1u << 18;      // COUNT(*)
inline constexpr uint32_t kNodeNullConstant = 1u << 19;   // the constant NULL
inline constexpr uint32_t kNodeUnsupported = 1u << 20;

// Trigger timing and events (in `aux` of a CREATE TRIGGER statement).
enum class TZNTTriggerTiming : uint8_t { Before = 1, After = 2, Error = 3 };
enum class TZNTTriggerEvent : uint8_t { Insert = 1, Update = 2, Delete = 3 };
// TRIM sides and EXTRACT fields (in `aux` of the function node).
enum class TZNTTrimSide : uint8_t { Both = 0, Leading = 1, Trailing = 2 };
enum class TZNTExtractField : uint8_t {
  Year = 1, Month, Week, Day, DayOfWeek, DayOfYear, Hour, Minute, Second, MSecond
};

// One node of a parsed tree. A node owns its operands and children; `parent`
// points back at the enclosing node (null at the root).
struct TZNTExprToken {
  TZNTNodeKind kind = TZNTNodeKind::Constant;
  TZNTOp op = TZNTOp::None;
  uint32_t flags = 0;
  int32_t aux = 0;         // a small enumeration of the construct (trigger event, TRIM side ...)
  TZNTDataType type;       // constants and casts from the parser; the binder sets the rest
  int line = 0;            // where the node's first token starts
  int column = 0;
  std::string text;        // constant text, or captured source text
  std::string databaseName, schemaName, objectName, correlationName;
  TZNTExprToken* parent = nullptr;
  std::unique_ptr<TZNTExprToken> left, right;
  // Ordered children; an absent optional clause is a null child at its slot.
  std::vector<std::unique_ptr<TZNTExprToken>> children;
  // Binding: a table reference's table; a column reference's query level
  // (0 its own, 1 the enclosing query ...), FROM entry and column position.
  const TZNTBindTable* boundTable = nullptr;
  int32_t boundDepth = -1;
  int32_t boundEntry = -1;
  int32_t boundColumn = -1;
  // The node's value during evaluation; constants hold theirs from binding on.
  std::unique_ptr<TZNTContainedValue> value;

  TZNTExprToken();
  TZNTExprToken(TZNTNodeKind k, TZNTOp o);
  ~TZNTExprToken();
  TZNTExprToken(const TZNTExprToken&) = delete;
  TZNTExprToken& operator=(const TZNTExprToken&) = delete;

  // The child at `slot`, or null when the slot is empty or absent.
  TZNTExprToken* Child(size_t slot) const {
    return slot < children.size() ? children[slot].get() : nullptr;
  }
  // Puts `node` at `slot` (growing the list with empty slots) and adopts it.
  TZNTExprToken* SetChild(size_t slot, std::unique_ptr<TZNTExprToken> node);
  // Appends `node` and adopts it.
  TZNTExprToken* AddChild(std::unique_ptr<TZNTExprToken> node);
  void SetLeft(std::unique_ptr<TZNTExprToken> node);
  void SetRight(std::unique_ptr<TZNTExprToken> node);
};

using TZNTNodePtr = std::unique_ptr<TZNTExprToken>;

// Slots of the children of a Query node.
namespace qslot {
inline constexpr size_t Select = 0, From = 1, Where = 2, GroupBy = 3, Having = 4, OrderBy = 5,
                        RangeFirst = 6, RangeLast = 7;
}

// The word messages use for a node kind ("binary operator", "column name"
// ...); empty for the structural kinds.
std::string_view NodeKindWord(TZNTNodeKind kind);

// Whether `name` is a built-in function, and which; aggregate functions
// answer `aggregate` true.
bool LookupFunction(std::string_view name, TZNTOp& op, bool& aggregate);
// The function's name in capitals as the renderer writes it.
std::string_view FunctionName(TZNTOp op);
bool IsAggregate(TZNTOp op);

// What the text being parsed may contain.
struct TZNTParseOptions {
  bool subqueries = true;
  bool parameters = true;         // ? (never in select lists)
  bool databaseQualifiers = true; // db.table
  bool schemaQualifiers = true;   // Information.Tables
  bool tableQualifiers = true;    // t.column
  bool userFunctions = true;
};

// Recursive-descent parser over one source text. The source must outlive
// the parser and the tree keeps copies of every text it needs.
class TZNTExprParser {
 public:
  // `textKind` is the word of error messages: "statement", "expression", ...
  TZNTExprParser(std::string_view source, std::string textKind, TZNTParseOptions options = {});
  ~TZNTExprParser();

  // Uses `line` and `column` in compile errors instead of the scanner's.
  void SetBase(int lineBase, int columnBase);

  // A whole statement, optionally ended by one ';', then the end of the text.
  // Raises error 700 on any syntax error.
  TZNTNodePtr ParseStatement();
  // A stand-alone expression (check, default, generated, computed), then the
  // end of the text; `additive` stops below the comparisons (defaults).
  TZNTNodePtr ParseStandaloneExpression(bool additive = false);

  // Number of ? parameters met so far.
  int ParameterCount() const noexcept { return parameterCount_; }

 private:
  TZNTNodePtr Statement();
  TZNTNodePtr Unsupported(std::string_view what);
  TZNTNodePtr SelectStatement();
  TZNTNodePtr QueryExpression();
  TZNTNodePtr SetOperation();
  TZNTNodePtr QueryTerm();
  TZNTNodePtr QuerySpecification();
  void QueryTail(TZNTExprToken& query);
  TZNTNodePtr SelectItem();
  TZNTNodePtr FromList();
  TZNTNodePtr TableReference(bool allowDerived);
  TZNTNodePtr TableName();
  TZNTNodePtr InsertStatement();
  TZNTNodePtr UpdateStatement();
  TZNTNodePtr DeleteStatement();
  TZNTNodePtr CreateStatement();
  TZNTNodePtr CreateDatabase();
  TZNTNodePtr CreateTable(bool temporary);
  TZNTNodePtr ColumnDefinition();
  TZNTNodePtr TableConstraint(bool column);
  TZNTNodePtr ReferentialAction();
  void TableOptions(TZNTExprToken& list);
  TZNTNodePtr CreateIndex();
  TZNTNodePtr CreateTextIndex();
  TZNTNodePtr CreateTrigger();
  TZNTNodePtr RoutineBlock();
  TZNTNodePtr RoutineStatement();
  TZNTNodePtr SetStatement();
  TZNTNodePtr Declaration();
  TZNTNodePtr DataType(bool columnDefinition);
  TZNTNodePtr CollateClause();
  TZNTNodePtr ColumnList();
  TZNTNodePtr OrderList();
  TZNTNodePtr Primary();

  TZNTNodePtr Expression();
  TZNTNodePtr OrExpression();
  TZNTNodePtr AndExpression();
  TZNTNodePtr NotExpression();
  TZNTNodePtr Comparison();
  TZNTNodePtr Additive();
  TZNTNodePtr Multiplicative();
  TZNTNodePtr Unary();
  TZNTNodePtr PrimaryExpression();
  TZNTNodePtr ParenthesisedPrimary();
  TZNTNodePtr Literal();
  TZNTNodePtr NameReference();
  TZNTNodePtr FunctionCall(TZNTOp op, bool aggregate);
  TZNTNodePtr UserFunctionCall();
  TZNTNodePtr CaseExpression();
  bool IntervalQualifier(TZNTDataType& type);
  std::string NameText(std::string_view expected);

  TZNTNodePtr NewNode(TZNTNodeKind kind, TZNTOp op) const;
  TZNTNodePtr Binary(TZNTNodeKind kind, TZNTOp op, TZNTNodePtr l, TZNTNodePtr r, int line,
                     int column) const;
  [[noreturn]] void Invalid(std::string_view reason) const;
  [[noreturn]] void InvalidAt(int line, int column, std::string_view written,
                              std::string_view reason) const;
  bool AcceptPair(char first, char second);

  // Counts one nesting level for its lifetime; raises error 700 past the limit.
  class TDepthGuard {
   public:
    explicit TDepthGuard(TZNTExprParser& parser);
    ~TDepthGuard();
    TDepthGuard(const TDepthGuard&) = delete;
    TDepthGuard& operator=(const TDepthGuard&) = delete;

   private:
    TZNTExprParser& parser_;
  };
  static constexpr int kMaxNestingDepth = 200;

  std::unique_ptr<TZNTScanner> scanner_;
  TZNTParseOptions options_;
  int depth_ = 0;
  int parameterCount_ = 0;
  // Context of the construct being parsed.
  bool inSelectList_ = false;
  bool aggregatesAllowed_ = false;
  bool inAggregate_ = false;
  bool wildcardAllowed_ = false;
  bool containsAllowed_ = false;
  bool inTrigger_ = false;
  bool inErrorTrigger_ = false;  // exception handling is allowed
};

// Renders trees as SQL: strings quoted with embedded quotes doubled, names in
// double quotes, keywords in capitals; optionally over several lines, three
// blanks of indent per level and CR LF between lines.
class TZNTExprBuilder {
 public:
  explicit TZNTExprBuilder(bool multiLine = false) : multiLine_(multiLine) {}
  std::string Render(const TZNTExprToken& node);

 private:
  void Node(const TZNTExprToken& n, int level);
  void Query(const TZNTExprToken& n, int level);
  void Operand(const TZNTExprToken& n, int level);
  void List(const TZNTExprToken* list, int level, std::string_view sep = ", ");
  void Break(int level);
  // A clause on a line of its own: the keyword, then the node or its list; nothing when absent.
  void Clause(int level, std::string_view keyword, const TZNTExprToken* node, bool list);
  void Name(std::string_view name);
  void DataType(const TZNTDataType& t);
  void Statement(const TZNTExprToken& n, int level);
  std::string out_;
  bool multiLine_;
};

// Quotes text as an SQL string literal: single quotes, embedded quotes
// doubled.
std::string QuoteSQLString(std::string_view text);
// Quotes a name as an SQL quoted identifier.
std::string QuoteSQLName(std::string_view name);

}  // namespace znt
