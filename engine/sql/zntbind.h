// The binder: after parsing, it resolves names through the catalog, gives
// every expression node its data type, and enforces the rules on aggregates,
// grouping and scope. TZNTCompiledExpr ties parsing and binding together for
// every compilable object.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/znttype.h"
#include "sql/zntexpr.h"

namespace znt {

// A column as the binder sees it.
struct TZNTBindColumn {
  std::string name;
  TZNTDataType type;
  bool hidden = false;  // the row identifier __RowID: never listed by *
  bool textIndexed = false;
};

// A table as the binder sees it: its columns in order. The catalog owns it.
class TZNTBindTable {
 public:
  virtual ~TZNTBindTable() = default;
  virtual const std::string& Name() const = 0;
  virtual int ColumnCount() const = 0;
  virtual const TZNTBindColumn& Column(int index) const = 0;
  // The position of a column (names compare without regard to case), or -1.
  int FindColumn(std::string_view name) const;
};

// What the binder asks of the catalog. Implemented by the database's catalog;
// tests use TZNTMemoryBindCatalog.
class TZNTBindCatalog {
 public:
  virtual ~TZNTBindCatalog() = default;
  // The table named so, or null. Empty database and schema mean the current
  // database's default schema.
  virtual const TZNTBindTable* FindTable(std::string_view database, std::string_view schema,
                                         std::string_view name) = 0;
  // Whether a user-defined function exists, with its result type.
  virtual bool FindFunction(std::string_view name, TZNTDataType& result) {
    (void)name;
    (void)result;
    return false;
  }
};

// A table held in memory: for tests, and for tables being defined.
class TZNTMemoryBindTable : public TZNTBindTable {
 public:
  explicit TZNTMemoryBindTable(std::string name) : name_(std::move(name)) {}
  const std::string& Name() const override { return name_; }
  int ColumnCount() const override { return static_cast<int>(columns_.size()); }
  const TZNTBindColumn& Column(int index) const override { return columns_[index]; }
  void AddColumn(TZNTBindColumn column) { columns_.push_back(std::move(column)); }

 private:
  std::string name_;
  std::vector<TZNTBindColumn> columns_;
};

// Tables by name, in the default schema or in "Information".
class TZNTMemoryBindCatalog : public TZNTBindCatalog {
 public:
  TZNTMemoryBindTable& AddTable(std::string name, std::string schema = "");
  const TZNTBindTable* FindTable(std::string_view database, std::string_view schema,
                                 std::string_view name) override;

 private:
  struct Entry {
    std::string schema;
    std::unique_ptr<TZNTMemoryBindTable> table;
  };
  std::vector<Entry> tables_;
};

// Where the text being bound stands: it decides which references are legal.
struct TZNTBindContext {
  std::string textKind = "statement";  // the word of error messages
  // For check constraints and column expressions: the table whose columns
  // the expression names without qualifier.
  const TZNTBindTable* table = nullptr;
};

// Binds a parsed tree in place. Raises error 700 with the place of the
// offending node: type errors ("Expected %s but instead found %s"), the
// context rules ("Invalid expression %s found, %s") and missing objects (the
// catalog's "The %s %s does not exist" as the detail).
void BindTree(TZNTExprToken& root, TZNTBindCatalog& catalog, const TZNTBindContext& context);

// The name of a select item's result column: its alias, the column's name
// for a plain column reference, otherwise the captured source text.
std::string ResultColumnName(const TZNTExprToken& selectItem);

// Every compilable object: it owns its source text and the bound tree.
// Preparing parses, binds and runs the post-prepare step; an exception in
// any step frees the tree and leaves the object unprepared.
class TZNTCompiledExpr {
 public:
  enum class Entry { Statement, Expression, AdditiveExpression };

  TZNTCompiledExpr(Entry entry, std::string textKind, TZNTParseOptions options = {});
  virtual ~TZNTCompiledExpr();

  // Assigning a different text unprepares the object.
  void SetSource(std::string text);
  const std::string& Source() const noexcept { return source_; }
  // When non-zero, they replace the line and column of compile errors.
  void SetBase(int lineBase, int columnBase);

  // Parses and binds against `catalog`; nothing happens when prepared.
  void Prepare(TZNTBindCatalog& catalog, const TZNTBindTable* table = nullptr);
  void Unprepare() noexcept;
  bool Prepared() const noexcept { return root_ != nullptr; }
  TZNTExprToken* Root() const noexcept { return root_.get(); }
  int ParameterCount() const noexcept { return parameterCount_; }

 protected:
  // Runs after binding; a subclass builds what execution needs.
  virtual void PostPrepare() {}

 private:
  Entry entry_;
  std::string textKind_;
  TZNTParseOptions options_;
  std::string source_;
  int lineBase_ = 0;
  int columnBase_ = 0;
  int parameterCount_ = 0;
  bool busy_ = false;  // nested prepare/unprepare calls do nothing
  TZNTNodePtr root_;
};

}  // namespace znt
