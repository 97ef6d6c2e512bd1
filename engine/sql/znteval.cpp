#include "sql/znteval.h"

#include <array>
#include <vector>

#include "base/zntconsts.h"
#include "base/znterror.h"

namespace znt {
namespace {

[[noreturn]] void NotHere(std::string_view what) {
  throw EZNTException(err::NonEngine,
                      "Internal error in expression evaluation: " + std::string(what) +
                          " is not available in this context");
}

// Argument pointers of a function call: on the stack for the usual few.
class Arguments {
 public:
  void Add(const TZNTValue* v) {
    if (count_ < small_.size()) {
      small_[count_++] = v;
      return;
    }
    if (large_.empty()) large_.assign(small_.begin(), small_.end());
    large_.push_back(v);
    ++count_;
  }
  std::span<const TZNTValue* const> Span() const {
    return large_.empty() ? std::span<const TZNTValue* const>(small_.data(), count_)
                          : std::span<const TZNTValue* const>(large_.data(), count_);
  }

 private:
  std::array<const TZNTValue*, 8> small_{};
  std::vector<const TZNTValue*> large_;
  size_t count_ = 0;
};

}  // namespace

const TZNTValue& TZNTRowContext::ParameterValue(int) { NotHere("a dynamic parameter"); }
TZNTValue& TZNTRowContext::RowColumn(bool, int) { NotHere("a trigger row"); }
TZNTValue& TZNTRowContext::Variable(int) { NotHere("a variable"); }
const TZNTValue& TZNTRowContext::ResultColumn(int) { NotHere("a result column"); }

void TZNTExprEvaluator::SessionFunction(TZNTExprToken& node, TZNTValue&) {
  NotHere(std::string(FunctionName(node.op)));
}
void TZNTExprEvaluator::ScalarQuery(TZNTExprToken&, TZNTValue&) { NotHere("a sub-query"); }
TZNTTruth TZNTExprEvaluator::Exists(TZNTExprToken&) { NotHere("a sub-query"); }
TZNTTruth TZNTExprEvaluator::InQuery(const TZNTValue&, TZNTExprToken&, uint32_t) {
  NotHere("a sub-query");
}
const TZNTValue& TZNTExprEvaluator::Aggregate(TZNTExprToken& node) { return Result(node); }

TZNTValue& TZNTExprEvaluator::Result(TZNTExprToken& node) {
  if (!node.value) node.value = std::make_unique<TZNTContainedValue>(node.type);
  return *node.value;
}

void TZNTExprEvaluator::PrepareValues(TZNTExprToken& root) {
  if (!root.value && root.kind != TZNTNodeKind::Statement && root.kind != TZNTNodeKind::ClauseList)
    root.value = std::make_unique<TZNTContainedValue>(root.type);
  if (root.left) PrepareValues(*root.left);
  if (root.right) PrepareValues(*root.right);
  for (auto& c : root.children)
    if (c) PrepareValues(*c);
}

TZNTTruth TZNTExprEvaluator::Truth(TZNTExprToken& node) { return TruthOf(Evaluate(node)); }

const TZNTValue& TZNTExprEvaluator::Evaluate(TZNTExprToken& node) {
  switch (node.kind) {
    case TZNTNodeKind::Constant: return Result(node);
    case TZNTNodeKind::ColumnReference:
      if (node.flags & (kNodeNewRow | kNodeOldRow))
        return context_->RowColumn(node.flags & kNodeNewRow, node.boundColumn);
      if (node.boundEntry == -2) return context_->ResultColumn(node.boundColumn);
      return context_->ColumnValue(node.boundDepth, node.boundEntry, node.boundColumn);
    case TZNTNodeKind::Variable: return context_->Variable(node.boundColumn);
    case TZNTNodeKind::DynamicParameter: return context_->ParameterValue(node.aux);
    default: break;
  }
  TZNTValue& result = Result(node);
  switch (node.kind) {
    case TZNTNodeKind::BinaryOperator:
      switch (node.op) {
        case TZNTOp::And: {
          // FALSE on the left decides without the right.
          TZNTTruth l = Truth(*node.left);
          SetTruth(result, l == TZNTTruth::False ? l : TruthAnd(l, Truth(*node.right)));
          break;
        }
        case TZNTOp::Or: {
          TZNTTruth l = Truth(*node.left);
          SetTruth(result, l == TZNTTruth::True ? l : TruthOr(l, Truth(*node.right)));
          break;
        }
        case TZNTOp::Equal:
        case TZNTOp::NotEqual:
        case TZNTOp::Less:
        case TZNTOp::LessEqual:
        case TZNTOp::Greater:
        case TZNTOp::GreaterEqual: {
          const TZNTValue& l = Evaluate(*node.left);
          const TZNTValue& r = Evaluate(*node.right);
          SetTruth(result, EvalCompare(node.op, l, r, node.left->type.collation));
          break;
        }
        default: {
          const TZNTValue& l = Evaluate(*node.left);
          const TZNTValue& r = Evaluate(*node.right);
          EvalArithmetic(node.op, l, r, result);
          break;
        }
      }
      break;
    case TZNTNodeKind::UnaryOperator:
      if (node.op == TZNTOp::Not) SetTruth(result, TruthNot(Truth(*node.left)));
      else EvalNegate(Evaluate(*node.left), result);
      break;
    case TZNTNodeKind::ExtendedOperator: Extended(node, result); break;
    case TZNTNodeKind::Function:
      if (IsAggregate(node.op)) return Aggregate(node);
      Function(node, result);
      break;
    case TZNTNodeKind::Query: ScalarQuery(node, result); break;
    default: NotHere(NodeKindWord(node.kind).empty() ? "this node" : NodeKindWord(node.kind));
  }
  return result;
}

void TZNTExprEvaluator::Extended(TZNTExprToken& node, TZNTValue& result) {
  const bool negated = node.flags & kNodeNegated;
  const uint32_t collation = node.left->type.collation;
  TZNTTruth t = TZNTTruth::Null;
  switch (node.op) {
    case TZNTOp::Between: {
      const TZNTValue& x = Evaluate(*node.left);
      const TZNTValue& low = Evaluate(*node.Child(0));
      const TZNTValue& high = Evaluate(*node.Child(1));
      t = EvalBetween(x, low, high, collation);
      break;
    }
    case TZNTOp::Like: {
      const TZNTValue& text = Evaluate(*node.left);
      const TZNTValue& pattern = Evaluate(*node.right);
      const TZNTValue* escape = node.Child(0) ? &Evaluate(*node.Child(0)) : nullptr;
      t = EvalLike(text, pattern, escape, collation);
      break;
    }
    case TZNTOp::In: {
      const TZNTValue& x = Evaluate(*node.left);
      if (node.right->kind == TZNTNodeKind::Query) {
        t = x.IsNull() ? TZNTTruth::Null : InQuery(x, *node.right, collation);
        break;
      }
      Arguments items;
      for (auto& item : node.right->children) items.Add(&Evaluate(*item));
      t = EvalIn(x, items.Span(), collation);
      break;
    }
    case TZNTOp::IsNull: t = EvalIsNull(Evaluate(*node.left), false); break;
    case TZNTOp::Contains: NotHere("CONTAINS outside a text-indexed filter");
    default: NotHere("this operator");
  }
  SetTruth(result, negated ? TruthNot(t) : t);
}

void TZNTExprEvaluator::Case(TZNTExprToken& node, TZNTValue& result) {
  // A simple CASE compares under its operand's type, COLLATE included.
  TZNTExprToken* operandNode = node.Child(0);
  const TZNTValue* operand = operandNode ? &Evaluate(*operandNode) : nullptr;
  const uint32_t collation = operandNode ? operandNode->type.collation : 0;
  for (auto& w : node.Child(1)->children) {
    const TZNTValue& when = Evaluate(*w->left);
    if (CaseWhenMatches(operand, when, collation)) {
      result.Assign(Evaluate(*w->right));
      return;
    }
  }
  if (TZNTExprToken* otherwise = node.Child(2)) result.Assign(Evaluate(*otherwise));
  else result.SetNull();
}

void TZNTExprEvaluator::Function(TZNTExprToken& node, TZNTValue& result) {
  TZNTExprToken* list = node.Child(0);
  auto arg = [&](size_t i) -> TZNTExprToken& { return *list->children[i]; };
  switch (node.op) {
    case TZNTOp::FnCase: Case(node, result); return;
    case TZNTOp::FnCoalesce:
      // The first argument that is not NULL, and no further argument evaluated.
      for (auto& a : list->children) {
        const TZNTValue& v = Evaluate(*a);
        if (!v.IsNull()) {
          result.Assign(v);
          return;
        }
      }
      result.SetNull();
      return;
    case TZNTOp::FnIf: {
      TZNTExprToken& chosen = Truth(arg(0)) == TZNTTruth::True ? arg(1) : arg(2);
      const TZNTValue& v = Evaluate(chosen);
      if (v.IsNull()) result.SetNull();
      else result.Assign(v);
      return;
    }
    case TZNTOp::FnIfNull: {
      TZNTExprToken& chosen = Evaluate(arg(0)).IsNull() ? arg(1) : arg(2);
      const TZNTValue& v = Evaluate(chosen);
      if (v.IsNull()) result.SetNull();
      else result.Assign(v);
      return;
    }
    case TZNTOp::FnNullIf: {
      // Compared under the first argument's type, COLLATE included.
      const TZNTValue& a = Evaluate(arg(0));
      const TZNTValue& b = Evaluate(arg(1));
      if (!a.IsNull() && !b.IsNull() && CompareValuesCollated(a, b, arg(0).type.collation) == 0)
        result.SetNull();
      else
        result.Assign(a);
      return;
    }
    case TZNTOp::FnExists: SetTruth(result, Exists(arg(0))); return;
    default: break;
  }
  TZNTFunctionKernel kernel = FindFunctionKernel(node.op);
  if (kernel == nullptr) {
    SessionFunction(node, result);
    return;
  }
  Arguments args;
  if (list) {
    for (auto& a : list->children) {
      if (!a || a->kind == TZNTNodeKind::DataType) continue;  // CAST's written type
      args.Add(&Evaluate(*a));
    }
  }
  kernel(node.aux, node.flags, args.Span(), result);
}

}  // namespace znt
