// The evaluation kernels: what every operator, built-in function and
// aggregate computes, as plain functions over values. The tree walker
// evaluates the operands of a node, hands them here together with the node's
// result value (whose type the binder has already fixed) and moves on; nothing
// in this unit knows about the parse tree beyond the operation codes.
//
// Common rules of every kernel:
//  - A NULL operand gives a NULL result unless the function says otherwise
//    (CONCAT, LENGTH, POSITION, OCCURS, COALESCE, IF, IFNULL, NULLIF, IS NULL).
//  - Division and MOD by zero, and the domain errors of the mathematical
//    functions (and their infinite or not-a-number results), give NULL.
//  - A result that does not fit its type raises error 1011 ("The value is out
//    of the range of permissible values for the T type") naming the result.
//  - The result value must not be one of the operands. It is overwritten in
//    place, so numbers never allocate and text reuses its buffer; text that
//    has to be built first is built in a per-thread buffer whose capacity is
//    kept from row to row.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "base/znttype.h"
#include "sql/zntexpr.h"
#include "sql/zntvalue.h"

namespace znt {

// ---------------------------------------------------------------------------
// Three-valued logic
// ---------------------------------------------------------------------------

// The value of a condition: a NULL condition is neither true nor false.
enum class TZNTTruth : uint8_t { False, True, Null };

// FALSE when either is FALSE, else NULL when either is NULL, else TRUE.
constexpr TZNTTruth TruthAnd(TZNTTruth a, TZNTTruth b) noexcept {
  if (a == TZNTTruth::False || b == TZNTTruth::False) return TZNTTruth::False;
  return a == TZNTTruth::Null || b == TZNTTruth::Null ? TZNTTruth::Null : TZNTTruth::True;
}
// TRUE when either is TRUE, else NULL when either is NULL, else FALSE.
constexpr TZNTTruth TruthOr(TZNTTruth a, TZNTTruth b) noexcept {
  if (a == TZNTTruth::True || b == TZNTTruth::True) return TZNTTruth::True;
  return a == TZNTTruth::Null || b == TZNTTruth::Null ? TZNTTruth::Null : TZNTTruth::False;
}
// NOT NULL is NULL. The negated operators (NOT LIKE, NOT BETWEEN, NOT IN)
// are their plain form passed through here.
constexpr TZNTTruth TruthNot(TZNTTruth a) noexcept {
  return a == TZNTTruth::Null ? a : (a == TZNTTruth::True ? TZNTTruth::False : TZNTTruth::True);
}
constexpr TZNTTruth TruthFrom(bool b) noexcept { return b ? TZNTTruth::True : TZNTTruth::False; }

// A BOOLEAN value as a truth: NULL is Null, otherwise the value converted by
// AsBoolean (raising 1011 when it does not convert).
TZNTTruth TruthOf(const TZNTValue& v);
// Stores a truth into a BOOLEAN result; Null sets NULL.
void SetTruth(TZNTValue& result, TZNTTruth t);

// ---------------------------------------------------------------------------
// Arithmetic
// ---------------------------------------------------------------------------

// a op b for Add (numbers; concatenation of text and of bytes; a date, time
// or timestamp with an interval, in either order; intervals with intervals or
// integers), Subtract (numbers; date-time minus interval; DATE - DATE, TIME -
// TIME and TIMESTAMP - DATE or TIMESTAMP giving a day-time interval;
// intervals), Multiply, Divide and Mod, into `result` of the binder's type.
//
// Integer results are computed in 64 bits and range-checked against the
// result type. DECIMAL results work on the scaled integers with the engine's
// rounding points (DECIMAL x DECIMAL is round(x*y/10000) ties to even, and so
// on), then the result rounds to its own scale half away from zero. FLOAT
// results (any FLOAT operand, and integer / integer) are plain doubles.
// Adding months to a date keeps the day of the month, moved back to the last
// day of a shorter month (January 31 plus one month is February 28 or 29); a
// TIME plus or minus an interval wraps around midnight, and an interval plus
// a TIME, which types as a TIMESTAMP, raises the conversion error since a
// TIME has no date to move. Other operations raise an internal error (9999).
void EvalArithmetic(TZNTOp op, const TZNTValue& a, const TZNTValue& b, TZNTValue& result);
// Unary minus of a number or an interval; the negated smallest integer of a
// type is out of range.
void EvalNegate(const TZNTValue& a, TZNTValue& result);

// ---------------------------------------------------------------------------
// Comparisons and the extended operators
// ---------------------------------------------------------------------------

// a op b for Equal, NotEqual, Less, LessEqual, Greater and GreaterEqual: Null
// when either is NULL, otherwise CompareValuesCollated's order, text under
// `collation` (the binder passes the left operand's). Other operations raise
// an internal error (9999).
TZNTTruth EvalCompare(TZNTOp op, const TZNTValue& a, const TZNTValue& b, uint32_t collation);
inline TZNTTruth EvalCompare(TZNTOp op, const TZNTValue& a, const TZNTValue& b) {
  return EvalCompare(op, a, b, a.DataType().collation);
}

// low <= x <= high; Null when any of the three is NULL.
TZNTTruth EvalBetween(const TZNTValue& x, const TZNTValue& low, const TZNTValue& high,
                      uint32_t collation);
// x IN (items): Null when x is NULL; True when a non-NULL item equals x;
// otherwise False (NULL items are skipped, so 2 IN (1, NULL) is False).
TZNTTruth EvalIn(const TZNTValue& x, std::span<const TZNTValue* const> items, uint32_t collation);
// x IS NULL, or IS NOT NULL when `negated`; never Null.
inline TZNTTruth EvalIsNull(const TZNTValue& x, bool negated) {
  return TruthFrom(x.IsNull() != negated);
}

// No escape character for LikeMatches.
inline constexpr int kNoLikeEscape = -1;

// Whether `text` matches `pattern`: '%' any run of characters, '_' one
// character, `escape` (a byte value, or kNoLikeEscape) followed by any
// character that character literally, an escape at the very end of the
// pattern an ordinary character. Characters compare under `collation` one at
// a time: bytes for ANSI, their capitals for ANSI_CI, the locale's order
// otherwise. On a mismatch the scan returns to the last '%' and lets it take
// one more character, so the time is linear for patterns with one '%'.
bool LikeMatches(std::string_view text, std::string_view pattern, int escape, uint32_t collation);
// text LIKE pattern [ESCAPE escape] under `collation` (the binder's type of
// the text operand, which a COLLATE clause may have changed): Null when any
// operand is NULL. An escape text that is not exactly one character raises
// 1011 naming the escape value.
TZNTTruth EvalLike(const TZNTValue& text, const TZNTValue& pattern, const TZNTValue* escape,
                   uint32_t collation);
// As above, under the text value's own collation.
inline TZNTTruth EvalLike(const TZNTValue& text, const TZNTValue& pattern,
                          const TZNTValue* escape = nullptr) {
  return EvalLike(text, pattern, escape, text.DataType().collation);
}

// ---------------------------------------------------------------------------
// Scalar functions
// ---------------------------------------------------------------------------

// The kernel of one built-in function. `aux` is the node's aux (the TRIM side
// or EXTRACT field), `flags` its flags (kNodeUTC). `args` are the evaluated
// arguments in the parser's order; an optional argument that was not written
// is either absent or a null pointer. The arguments are those of the calls
// below, where the separator keywords of the syntax have become commas.
using TZNTFunctionKernel = void (*)(int aux, uint32_t flags, std::span<const TZNTValue* const> args,
                                    TZNTValue& result);

// The kernel of `op`, looked up in a table indexed by the operation code, so
// the walker can resolve each function node once when it is prepared; null
// for the functions this unit leaves to others: the aggregates (see
// MakeAggregate), CASE (lazy; see CaseWhenMatches) and the ones that depend
// on the session (ABORTED, BOF, EOF, ERRORCODE, ERRORMSG, LOADINGUPDATES,
// ROWCOUNT, ROWSAFFECTED, SENSITIVE, CURRENT_USER, CURRENT_DATABASE, EXISTS).
//
// The kernels and their arguments:
//  ABS(x); CAST(x [, type node ignored]) converts as the value layer assigns;
//  COALESCE(a, ...); CONCAT(a, b), empty when either is NULL; IF(c, a, b);
//  IFNULL(x, a, b); NULLIF(a, b); UPPER(s), LOWER(s) with the Windows-1252
//  case map under every collation (the locales we carry pair the same
//  letters; the one exception, Turkish dotted i, has no Windows-1252
//  capital); LTRIM(s), RTRIM(s), ALLTRIM(s) of blanks; TRIM(c, s) of the one
//  character c from the side in `aux`, compared exactly; SUBSTRING(s, n
//  [, m]); LEFT(s, n), RIGHT(s, n); LENGTH(s), 0 for NULL; POSITION(x, s),
//  0 when absent or either is NULL; OCCURS(x, s), the non-overlapping
//  occurrences, 0 for NULL or an empty x; REPEAT(s, n); REPLACE(x, y, s) of
//  every non-overlapping x in s by y; ROUND(x [, n]) half away from zero and
//  TRUNCATE(x [, n]) toward zero, integers unchanged; CEILING(x), FLOOR(x),
//  SIGN(x); EXTRACT(d) of the field in `aux`; ACOS ... TAN, COT, ATAN2(y, x),
//  LOG (natural), LOG10, EXP, SQRT, POWER(x, y), PI(), DEGREES, RADIANS;
//  RAND() a FLOAT in [0, 1), RAND(n) an integer in [0, n), NULL for n <= 0;
//  CURRENT_DATE, CURRENT_TIME, CURRENT_TIMESTAMP through TZNTClock (UTC with
//  kNodeUTC); CURRENT_VERSION the engine version as a DECIMAL; CURRENT_GUID
//  a random (version 4) GUID "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
//
// EXTRACT: WEEK counts Sunday-to-Saturday weeks with week 1 the one holding
// January 1 (1 to 54); DAYOFWEEK is 1 for Sunday to 7 for Saturday; DAYOFYEAR
// 1 to 366; SECOND the whole seconds and MSECOND the milliseconds within them.
TZNTFunctionKernel FindFunctionKernel(TZNTOp op) noexcept;

// Evaluates function `op` into `result`; false (and `result` untouched) when
// FindFunctionKernel has no kernel for it, so that the session's evaluator
// can handle it.
[[nodiscard]] bool EvalFunction(TZNTOp op, int aux, uint32_t flags,
                                std::span<const TZNTValue* const> args, TZNTValue& result);

// One WHEN of a CASE, which the walker evaluates lazily: with an `operand`
// (simple CASE) whether it equals `when` under `collation` (the operand's
// binder type; NULL never matches), without one (searched CASE) whether
// `when` is TRUE. The walker assigns the first matching THEN, or the ELSE, or
// NULL, to the result.
bool CaseWhenMatches(const TZNTValue* operand, const TZNTValue& when, uint32_t collation);
// As above, comparing under the operand value's own collation.
bool CaseWhenMatches(const TZNTValue* operand, const TZNTValue& when);

// ---------------------------------------------------------------------------
// Aggregates
// ---------------------------------------------------------------------------

// An accumulator of one aggregate over a group of rows. The walker makes one
// per aggregate node (and per group), calls Accumulate with the argument's
// value for every row and reads Result at the end; RUNSUM's Result may be
// read after every row. Accumulating numbers never allocates.
class TZNTAggregate {
 public:
  virtual ~TZNTAggregate() = default;
  // Back to the state of an empty group.
  virtual void Reset() = 0;
  // Takes one row's argument; NULL values are skipped (COUNT(*) counts every
  // call, whatever value it is given).
  virtual void Accumulate(const TZNTValue& v) = 0;
  // Stores the aggregate so far into `result` (of the binder's type). Empty
  // groups give NULL, except COUNT, which gives 0.
  virtual void Result(TZNTValue& result) const = 0;
};

// How an aggregate node was written.
struct TZNTAggregateOptions {
  bool countStar = false;       // COUNT(*)
  bool distinct = false;        // COUNT(DISTINCT x) ...: equal values count once
  std::string separator = ",";  // LIST(x USING separator)
};

// A new accumulator for aggregate `op` over arguments of `argType`; null when
// `op` is not an aggregate.
//  SUM, RUNSUM: exact on integers (128-bit) and DECIMAL scaled integers, in
//    doubles for FLOAT; intervals by their stored numbers.
//  COUNT: rows, or non-NULL values.
//  MIN, MAX: under the argument's collation.
//  AVG: the sum divided by the count in the argument's type: integers
//    truncated toward zero, DECIMAL as DECIMAL / integer (ties to even).
//  STDDEV: the sample standard deviation (divisor n - 1) from the count, sum
//    and sum of squares; NULL for fewer than two values.
//  LIST: the values' text joined by the separator; NULL for no value.
std::unique_ptr<TZNTAggregate> MakeAggregate(TZNTOp op, const TZNTDataType& argType,
                                             const TZNTAggregateOptions& options = {});

}  // namespace znt
