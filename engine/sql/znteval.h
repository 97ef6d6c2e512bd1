// The evaluator: computes a bound tree's value node by node, bottom-up. Each
// node owns one result value, made once and overwritten for every row, so a
// row costs no allocation. Column values come from a row context; the
// session's evaluator adds sub-queries and the session-dependent functions.
#pragma once

#include <cstdint>

#include "sql/zntexpr.h"
#include "sql/zntfunc.h"
#include "sql/zntvalue.h"

namespace znt {

// Where the values an expression names come from during one evaluation.
class TZNTRowContext {
 public:
  virtual ~TZNTRowContext() = default;
  // The value of column `column` of FROM entry `entry` of the query `depth`
  // levels out (0 the expression's own query).
  virtual const TZNTValue& ColumnValue(int depth, int entry, int column) = 0;
  // The value of ? number `index` (from 1). The default raises: the
  // statement has no parameters.
  virtual const TZNTValue& ParameterValue(int index);
  // A trigger's new or old row; the default raises.
  virtual TZNTValue& RowColumn(bool newRow, int column);
  // A routine variable by its position in its block; the default raises.
  virtual TZNTValue& Variable(int index);
  // A result column named by ORDER BY; the default raises.
  virtual const TZNTValue& ResultColumn(int column);
};

class TZNTExprEvaluator {
 public:
  explicit TZNTExprEvaluator(TZNTRowContext& context) : context_(&context) {}
  virtual ~TZNTExprEvaluator() = default;

  void SetContext(TZNTRowContext& context) noexcept { context_ = &context; }

  // Gives every node below `root` its result value (once). Evaluate does it
  // on first use as well; calling it up front keeps the first row as cheap
  // as the others.
  static void PrepareValues(TZNTExprToken& root);

  // The value of `node` for the current row. The reference stays valid until
  // the next evaluation of the same node. Raises the value errors (1011) of
  // the operators and functions.
  const TZNTValue& Evaluate(TZNTExprToken& node);
  // A condition's truth; NULL counts as not satisfied for WHERE, HAVING, ON
  // and WHEN, which is the caller's to decide.
  TZNTTruth Truth(TZNTExprToken& node);

 protected:
  // Session-dependent functions (CURRENT_USER, ERRORCODE, ROWCOUNT ...): the
  // session's evaluator stores the value and returns true. The default raises.
  virtual void SessionFunction(TZNTExprToken& node, TZNTValue& result);
  // A scalar sub-query, EXISTS and IN with a sub-query; the defaults raise.
  virtual void ScalarQuery(TZNTExprToken& query, TZNTValue& result);
  virtual TZNTTruth Exists(TZNTExprToken& query);
  virtual TZNTTruth InQuery(const TZNTValue& x, TZNTExprToken& query, uint32_t collation);
  // An aggregate's value: computed by the query that groups; the default
  // returns what the node holds (set there before the item is evaluated).
  virtual const TZNTValue& Aggregate(TZNTExprToken& node);

 private:
  TZNTValue& Result(TZNTExprToken& node);
  void Function(TZNTExprToken& node, TZNTValue& result);
  void Case(TZNTExprToken& node, TZNTValue& result);
  void Extended(TZNTExprToken& node, TZNTValue& result);

  TZNTRowContext* context_;
};

}  // namespace znt
