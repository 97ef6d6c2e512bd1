// The SQL scanner: the lower half of the expression and statement parser. It
// works in place on the source text and hands out one token at a time; words
// are never classified here, the parser compares identifiers with keywords
// where its grammar allows them. Also holds the pure conversions of number and
// character-code tokens, and the named-parameter substitution of the query
// component, which must agree with the scanner on comments and quoting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace znt {

enum class TZNTTokenKind : uint8_t {
  EndOfText,         // only blanks and comments remain
  Identifier,        // a letter, then letters and digits
  String,            // '...'
  QuotedIdentifier,  // "..."
  CharCode,          // '#' and the digits after it (possibly none)
  IntegerNumber,     // digits only
  DecimalNumber,     // digits with '.', exponent marks or exponent signs, or '.' and a digit
  HexString,         // X'...' (the token starts at the quote)
  Symbol,            // any other single character
};

// Reads tokens from Windows-1252 SQL text. Errors are raised as
// EZNTException with code 700, carrying the line and column as numbers.
class TZNTScanner {
 public:
  // `source` must outlive the scanner (tokens are positions into it, nothing is
  // copied); `textKind` is the word used in error messages ("statement",
  // "expression", "trigger", ...). Reads the first token, so it may raise.
  TZNTScanner(std::string_view source, std::string textKind);

  // Non-zero values replace the line and the column of every error raised
  // afterwards (Error and ErrorAt); zero keeps the scanner's own.
  void SetBase(int lineBase, int columnBase) noexcept;

  // Reads the next token and returns its kind. Raises on an unterminated
  // string, hex string, quoted identifier or comment, and on a line break
  // inside a quoted identifier.
  TZNTTokenKind Next();

  TZNTTokenKind Kind() const noexcept { return state_.kind; }
  // The character of a Symbol token; '\0' for every other kind.
  char Symbol() const noexcept;
  bool IsSymbol(char c) const noexcept {
    return state_.kind == TZNTTokenKind::Symbol && Symbol() == c;
  }
  // True for an identifier (never a quoted one) equal to `word` under ANSI_CI.
  bool IsKeyword(std::string_view word) const noexcept;
  // True for an identifier or a quoted identifier.
  bool IsName() const noexcept {
    return state_.kind == TZNTTokenKind::Identifier ||
           state_.kind == TZNTTokenKind::QuotedIdentifier;
  }

  // Look at the token after the current one; the current token and the whole
  // scanner state are unchanged afterwards.
  bool PeekSymbol(char c);
  bool PeekKeyword(std::string_view word);
  TZNTTokenKind PeekKind();

  // When the current token matches, reads the next one and returns true;
  // otherwise returns false and reads nothing.
  bool AcceptSymbol(char c);
  bool AcceptKeyword(std::string_view word);
  // Two symbol tokens in a row (blanks and comments may stand between), as the
  // compound operators <> >< <= >= || are made; both are consumed or neither.
  bool AcceptPair(char first, char second);

  // As Accept, but a mismatch raises ErrorExpected with the symbol or word.
  void ExpectSymbol(char c);
  void ExpectKeyword(std::string_view word);
  // A statement's end: at most one `terminator` ('\0' for none), then only end
  // of text; anything else raises "Expected end of expression ...".
  void ExpectEnd(char terminator = ';');

  // "Missing <expected>" when the current token is end of text, otherwise
  // "Expected <expected> but instead found <raw token text>".
  [[noreturn]] void ErrorExpected(std::string_view expected) const;
  // "Invalid expression <rendered> found, <reason>".
  [[noreturn]] void ErrorInvalid(std::string_view rendered, std::string_view reason) const;
  // Raises 700 with the text kind, the current line, the column of the current
  // token's first character within its own line (for end of text: the column
  // of the last character of the text, 1 when the last line is empty) and
  // `detail`.
  [[noreturn]] void Error(std::string_view detail) const;
  // As Error, at a place remembered earlier from TokenLine()/TokenColumn().
  [[noreturn]] void ErrorAt(int line, int column, std::string_view detail) const;

  // The parser's text of the current token: quotes removed and doubled quotes
  // collapsed for strings and quoted identifiers, the digits for hex strings,
  // the text as written otherwise, empty at end of text.
  std::string TokenText() const;
  // The source from the token start to the current position, quotes included
  // (for a hex string: from the quote, without the X).
  std::string_view RawTokenText() const noexcept {
    return source_.substr(state_.tokenStart, state_.pos - state_.tokenStart);
  }
  // Where the current token starts: its line, and its 1-based column within
  // that line (at end of text the column Error would report).
  int TokenLine() const noexcept { return state_.tokenLine; }
  int TokenColumn() const noexcept;
  // 0-based offset of the current token's first character; the source size at
  // end of text, the quote for a hex string.
  size_t TokenStart() const noexcept { return state_.tokenStart; }
  // The line the scanner has reached (the end of the current token).
  int Line() const noexcept { return state_.line; }
  std::string_view Source() const noexcept { return source_; }

  // PushMark remembers where the current token starts; PopMark returns the
  // source from that place up to the start of the current token (blanks and
  // comments before it included) and falls back to the previous mark. A hex
  // string's X belongs to its text here. PopMark without a mark returns "".
  void PushMark();
  std::string PopMark();

 private:
  struct TState {
    size_t pos = 0;             // next character to read
    size_t tokenStart = 0;      // first character of the current token
    size_t tokenLineStart = 0;  // first character of the line the token starts on
    size_t lineStart = 0;       // first character of the current line
    int tokenLine = 1;
    int line = 1;
    TZNTTokenKind kind = TZNTTokenKind::EndOfText;
  };

  void Advance() noexcept;
  void SkipBlanksAndComments();
  void ScanQuoted(char quote, bool stopAtLineBreak, bool doubledContinues);
  void ScanNumber();
  size_t TextStart() const noexcept;
  unsigned char At(size_t i) const noexcept {
    return i < source_.size() ? static_cast<unsigned char>(source_[i]) : 0;
  }

  std::string_view source_;
  std::string textKind_;
  TState state_;
  int lineBase_ = 0;
  int columnBase_ = 0;
  std::vector<size_t> marks_;
};

// The value of an integer-number token (digits only): true with isBigInt false
// up to 2147483647, true with isBigInt true above that up to INT64_MAX, false
// beyond or for any other text.
bool ParseIntegerToken(std::string_view text, int64_t& value, bool& isBigInt) noexcept;

// The value of a decimal-number token: digits [ '.' digits ] [ E|e [ +|- ]
// digits ], with at least one digit before the exponent and one in it; '.' is
// always the point, whatever the locale. False for other text (1.2.3, 1e, 1e5.2)
// and for values beyond the double range; values too small for it give 0.
bool ParseDecimalToken(std::string_view text, double& value) noexcept;

// The character of a character-code token: '#' then decimal digits worth 0 to
// 255. False for no digits, a larger value or any other text.
bool ParseCharCodeToken(std::string_view text, unsigned char& c) noexcept;

// Replaces each named parameter (':' then one or more letters or digits) by
// '?' outside strings, quoted identifiers and comments, appending each name
// (without the colon) to `names` in order of appearance, one entry per '?'
// made. A ':' not followed by a letter or digit is copied as it stands.
std::string SubstituteNamedParameters(std::string_view sql, std::vector<std::string>& names);

}  // namespace znt
