// Collations and the typing rules of the operators: what the binder asks
// before evaluation to accept or refuse an expression and to give each node
// its result type.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/znttype.h"

namespace znt {

// ---------------------------------------------------------------------------
// Collations
//
// A collation ID is a Windows locale identifier in the low bits (0 for ANSI)
// plus the flag bits of base/znttype.h. The engine knows a fixed table of
// locales by their three-letter language abbreviation ("ENU", "DEU", ...),
// each tied to a C-library locale ("en_US.UTF-8"). Every name in the table
// parses and prints whether or not that locale is installed, so a catalog
// written on another machine still loads; comparing under a locale that is
// not installed falls back to code-point order with the same flags.
// ---------------------------------------------------------------------------

// A base collation (without flags) as lists of collations show it.
struct TZNTCollationInfo {
  uint32_t id;
  std::string name;         // "ANSI", "ENU", "DEP"
  std::string description;  // "ANSI (Binary)", "English (United States)"
};

// True for ANSI with any flags: byte order, compared without the C library.
inline bool IsANSICollation(uint32_t id) noexcept { return (id & ~kCollationFlags) == 0; }

// The ID of a collation name: a base name with any of _CI, _AI, _KI, _WI found
// anywhere in it (case ignored) and removed. Empty for an unknown base name.
std::optional<uint32_t> CollationIdFromName(std::string_view name);
// The name of an ID: the base name, then _CI, _AI, _KI, _WI for the flags set,
// in that order ("ANSI_CI"). Empty when the locale part is not in the table.
std::string CollationName(uint32_t id);
// "ANSI (Binary)", "German (Germany)" ...; empty for an unknown locale.
std::string CollationDescription(uint32_t id);
// ANSI first, then every table locale the C library can provide here.
std::vector<TZNTCollationInfo> AvailableCollations();
// Whether comparisons under `id` use its own locale rather than the fallback.
bool IsCollationInstalled(uint32_t id);

// Compares Windows-1252 texts under a collation, over the first `limit`
// characters of each at most: <0, 0 or >0. ANSI collations compare bytes
// (after the upper-case mapping with _CI) without copying. Locale collations
// widen to Unicode and use the locale's order; _CI ignores case, _AI ignores
// accents on the letters Windows-1252 has; _KI and _WI change nothing since
// Windows-1252 has no kana or width variants.
int CompareText(std::string_view a, std::string_view b, uint32_t collation,
                size_t limit = std::string_view::npos);

// ---------------------------------------------------------------------------
// Operator typing
// ---------------------------------------------------------------------------

enum class TZNTTypingOp : uint8_t {
  Add,  // also the concatenation ||
  Subtract,
  Multiply,
  Divide,
  Mod,
  Negate,  // unary -
  Not,
  And,
  Or,
  Equal,
  NotEqual,
  Less,
  LessEqual,
  Greater,
  GreaterEqual,
};

// The outcome of typing an operator or a function's arguments.
struct TZNTTyping {
  bool ok = false;
  // The result type when ok (collation and length included).
  TZNTDataType type;
  // When refused: which operand (1 the left or first, 2 the right or second,
  // 3 the third) and the types that would have been accepted there, in the
  // order the type error lists them.
  int refusedOperand = 0;
  std::vector<TZNTDataType> expected;
};

// Types `left op right`. An operand of type Unknown (the NULL constant) is
// taken to have the other operand's type. The left operand is checked first.
TZNTTyping TypeBinaryOperator(TZNTTypingOp op, const TZNTDataType& left, const TZNTDataType& right);
// Types unary minus and NOT.
TZNTTyping TypeUnaryOperator(TZNTTypingOp op, const TZNTDataType& operand);
// x BETWEEN low AND high: low and high must order with x (the rules of <).
TZNTTyping TypeBetween(const TZNTDataType& x, const TZNTDataType& low, const TZNTDataType& high);
// One item of x IN (...): the rules of =.
TZNTTyping TypeIn(const TZNTDataType& x, const TZNTDataType& item);
// text LIKE pattern: both character types.
TZNTTyping TypeLike(const TZNTDataType& text, const TZNTDataType& pattern);

// The common type of COALESCE's arguments or of IF's and IFNULL's two result
// arguments, given without the NULL constants and `?` parameters (the binder
// reports those): each must be comparable with the one before it (the rules
// of =), then the type widens: SMALLINT to INTEGER to BIGINT to DECIMAL or
// FLOAT, DECIMAL to FLOAT or to the largest scale, CHAR and GUID to VARCHAR,
// BYTE to VARBYTE, anything character to CLOB and bytes to BLOB when one
// occurs, lengths to the largest. refusedOperand counts from 1.
TZNTTyping TypeCommon(const std::vector<TZNTDataType>& args);

// The alternatives of a type error's first placeholder: joined by ", ", with
// " or " before the last of two and ", or " before the last of three or more
// ("parameter name, variable name, or column name").
std::string JoinAlternatives(const std::vector<std::string>& words);
// The type names of `types` joined so, followed by " expression"
// ("Date, Interval Year, Interval Year To Month, or Interval Day expression").
std::string AcceptableTypesText(const std::vector<TZNTDataType>& types);

}  // namespace znt
