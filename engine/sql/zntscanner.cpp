#include "zntscanner.h"

#include <charconv>
#include <limits>
#include <system_error>

#include "base/zntconsts.h"
#include "base/znterror.h"
#include "base/zntstring.h"

namespace znt {

namespace {

bool IsExponentMark(unsigned char c) noexcept { return c == 'E' || c == 'e'; }
bool IsSign(unsigned char c) noexcept { return c == '+' || c == '-'; }
bool IsNameChar(unsigned char c) noexcept { return IsZNTLetter(c) || IsZNTDigit(c); }

std::string MissingDetail(char what) {
  std::string detail = "Missing ";
  detail += what;
  return detail;
}

// The characters between the quotes with each doubled single quote (and, for
// quoted identifiers, each doubled double quote) taken once.
std::string Unquote(std::string_view body, bool collapseDouble) {
  std::string text;
  text.reserve(body.size());
  for (size_t i = 0; i < body.size(); ++i) {
    char c = body[i];
    text += c;
    if ((c == '\'' || (collapseDouble && c == '"')) && i + 1 < body.size() && body[i + 1] == c) {
      ++i;
    }
  }
  return text;
}

}  // namespace

TZNTScanner::TZNTScanner(std::string_view source, std::string textKind)
    : source_(source), textKind_(std::move(textKind)) {
  Next();
}

void TZNTScanner::SetBase(int lineBase, int columnBase) noexcept {
  lineBase_ = lineBase;
  columnBase_ = columnBase;
}

// Every character that may be a line break goes through here, so that lines
// are counted alike in blanks, strings and comments: LF, lone CR, and CR LF
// once (at its LF).
void TZNTScanner::Advance() noexcept {
  unsigned char c = At(state_.pos);
  ++state_.pos;
  if (c == '\n' || (c == '\r' && At(state_.pos) != '\n')) {
    ++state_.line;
    state_.lineStart = state_.pos;
  }
}

void TZNTScanner::SkipBlanksAndComments() {
  const size_t n = source_.size();
  while (state_.pos < n) {
    unsigned char c = At(state_.pos);
    if (IsZNTBlank(c)) {
      Advance();
    } else if (c == '-' && At(state_.pos + 1) == '-') {
      // The line break that ends the comment is left to be skipped as a blank.
      state_.pos += 2;
      while (state_.pos < n && !IsZNTLineBreak(At(state_.pos))) ++state_.pos;
    } else if (c == '/' && At(state_.pos + 1) == '*') {
      const TState start = state_;
      state_.pos += 2;
      for (;;) {
        if (state_.pos >= n) {
          // The unterminated comment stands as the offending token.
          state_.kind = TZNTTokenKind::Symbol;
          state_.tokenStart = start.pos;
          state_.tokenLine = start.line;
          state_.tokenLineStart = start.lineStart;
          Error(MissingDetail('/'));
        }
        if (At(state_.pos) == '*' && At(state_.pos + 1) == '/') {
          state_.pos += 2;
          break;
        }
        Advance();
      }
    } else {
      return;
    }
  }
}

void TZNTScanner::ScanQuoted(char quote, bool stopAtLineBreak, bool doubledContinues) {
  const size_t n = source_.size();
  const unsigned char q = static_cast<unsigned char>(quote);
  ++state_.pos;  // the opening quote
  for (;;) {
    if (state_.pos >= n) Error(MissingDetail(quote));
    unsigned char c = At(state_.pos);
    if (c == q) {
      if (doubledContinues && At(state_.pos + 1) == q) {
        state_.pos += 2;
        continue;
      }
      ++state_.pos;
      return;
    }
    if (stopAtLineBreak && IsZNTLineBreak(c)) Error(MissingDetail(quote));
    Advance();
  }
}

// Called at a digit or at a '.' followed by a digit. Signs are taken only
// right after an exponent mark, so 12-3 stays three tokens; further points
// are taken after a leading digit, so 1.2.3 is one (invalid) number.
void TZNTScanner::ScanNumber() {
  bool leadingPoint = At(state_.pos) == '.';
  if (leadingPoint) {
    state_.kind = TZNTTokenKind::DecimalNumber;
    ++state_.pos;
  } else {
    state_.kind = TZNTTokenKind::IntegerNumber;
    while (IsZNTDigit(At(state_.pos))) ++state_.pos;
  }
  for (;;) {
    unsigned char c = At(state_.pos);
    if (IsZNTDigit(c) || IsExponentMark(c) || (c == '.' && !leadingPoint) ||
        (IsSign(c) && IsExponentMark(At(state_.pos - 1)))) {
      state_.kind = TZNTTokenKind::DecimalNumber;
      ++state_.pos;
    } else {
      break;
    }
  }
}

TZNTTokenKind TZNTScanner::Next() {
  SkipBlanksAndComments();
  TState& s = state_;
  s.tokenStart = s.pos;
  s.tokenLine = s.line;
  s.tokenLineStart = s.lineStart;
  if (s.pos >= source_.size()) {
    s.tokenStart = source_.size();
    s.kind = TZNTTokenKind::EndOfText;
    return s.kind;
  }
  unsigned char c = At(s.pos);
  if (IsZNTLetter(c)) {
    if ((c == 'X' || c == 'x') && At(s.pos + 1) == '\'') {
      s.kind = TZNTTokenKind::HexString;
      ++s.pos;
      s.tokenStart = s.pos;
      ScanQuoted('\'', false, false);
    } else {
      s.kind = TZNTTokenKind::Identifier;
      ++s.pos;
      while (s.pos < source_.size() && IsNameChar(At(s.pos))) ++s.pos;
    }
  } else if (c == '#') {
    s.kind = TZNTTokenKind::CharCode;
    ++s.pos;
    while (s.pos < source_.size() && IsZNTDigit(At(s.pos))) ++s.pos;
  } else if (c == '\'') {
    s.kind = TZNTTokenKind::String;
    ScanQuoted('\'', false, true);
  } else if (c == '"') {
    s.kind = TZNTTokenKind::QuotedIdentifier;
    ScanQuoted('"', true, true);
  } else if (IsZNTDigit(c) ||
             (c == '.' && s.pos + 1 < source_.size() && IsZNTDigit(At(s.pos + 1)))) {
    ScanNumber();
  } else {
    // Line breaks are blanks, so a symbol never needs line counting.
    s.kind = TZNTTokenKind::Symbol;
    ++s.pos;
  }
  return s.kind;
}

char TZNTScanner::Symbol() const noexcept {
  return state_.kind == TZNTTokenKind::Symbol ? source_[state_.tokenStart] : '\0';
}

bool TZNTScanner::IsKeyword(std::string_view word) const noexcept {
  return state_.kind == TZNTTokenKind::Identifier && ZNTSameText(RawTokenText(), word);
}

bool TZNTScanner::PeekSymbol(char c) {
  const TState saved = state_;
  Next();
  bool match = IsSymbol(c);
  state_ = saved;
  return match;
}

bool TZNTScanner::PeekKeyword(std::string_view word) {
  const TState saved = state_;
  Next();
  bool match = IsKeyword(word);
  state_ = saved;
  return match;
}

TZNTTokenKind TZNTScanner::PeekKind() {
  const TState saved = state_;
  TZNTTokenKind kind = Next();
  state_ = saved;
  return kind;
}

bool TZNTScanner::AcceptSymbol(char c) {
  if (!IsSymbol(c)) return false;
  Next();
  return true;
}

bool TZNTScanner::AcceptKeyword(std::string_view word) {
  if (!IsKeyword(word)) return false;
  Next();
  return true;
}

bool TZNTScanner::AcceptPair(char first, char second) {
  if (!IsSymbol(first) || !PeekSymbol(second)) return false;
  Next();
  Next();
  return true;
}

void TZNTScanner::ExpectSymbol(char c) {
  if (!AcceptSymbol(c)) ErrorExpected(std::string_view(&c, 1));
}

void TZNTScanner::ExpectKeyword(std::string_view word) {
  if (!AcceptKeyword(word)) ErrorExpected(word);
}

void TZNTScanner::ExpectEnd(char terminator) {
  if (terminator != '\0') AcceptSymbol(terminator);
  if (state_.kind != TZNTTokenKind::EndOfText) ErrorExpected("end of expression");
}

void TZNTScanner::ErrorExpected(std::string_view expected) const {
  std::string detail;
  if (state_.kind == TZNTTokenKind::EndOfText) {
    detail = "Missing ";
    detail += expected;
  } else {
    detail = "Expected ";
    detail += expected;
    detail += " but instead found ";
    detail += RawTokenText();
  }
  Error(detail);
}

void TZNTScanner::ErrorInvalid(std::string_view rendered, std::string_view reason) const {
  std::string detail = "Invalid expression ";
  detail += rendered;
  detail += " found, ";
  detail += reason;
  Error(detail);
}

int TZNTScanner::TokenColumn() const noexcept {
  if (state_.kind == TZNTTokenKind::EndOfText) {
    size_t n = source_.size();
    return n > state_.lineStart ? static_cast<int>(n - state_.lineStart) : 1;
  }
  return static_cast<int>(state_.tokenStart - state_.tokenLineStart) + 1;
}

void TZNTScanner::Error(std::string_view detail) const {
  ErrorAt(state_.line, TokenColumn(), detail);
}

void TZNTScanner::ErrorAt(int line, int column, std::string_view detail) const {
  if (lineBase_ != 0) line = lineBase_;
  if (columnBase_ != 0) column = columnBase_;
  std::string lineText = std::to_string(line);
  std::string columnText = std::to_string(column);
  RaiseZNTErrorAt(err::Compile, line, column, {textKind_, lineText, columnText, detail});
}

std::string TZNTScanner::TokenText() const {
  std::string_view raw = RawTokenText();
  switch (state_.kind) {
    case TZNTTokenKind::EndOfText:
      return {};
    case TZNTTokenKind::String:
      return Unquote(raw.substr(1, raw.size() - 2), false);
    case TZNTTokenKind::QuotedIdentifier:
      return Unquote(raw.substr(1, raw.size() - 2), true);
    case TZNTTokenKind::HexString:
      return std::string(raw.substr(1, raw.size() - 2));
    default:
      return std::string(raw);
  }
}

// Captured text is compiled again later (view definitions, default
// expressions), so a hex string must keep its X.
size_t TZNTScanner::TextStart() const noexcept {
  return state_.kind == TZNTTokenKind::HexString ? state_.tokenStart - 1 : state_.tokenStart;
}

void TZNTScanner::PushMark() {
  if (marks_.capacity() == marks_.size()) marks_.reserve(marks_.size() + 16);
  marks_.push_back(TextStart());
}

std::string TZNTScanner::PopMark() {
  if (marks_.empty()) return {};
  size_t from = marks_.back();
  marks_.pop_back();
  size_t to = TextStart();
  return to > from ? std::string(source_.substr(from, to - from)) : std::string();
}

bool ParseIntegerToken(std::string_view text, int64_t& value, bool& isBigInt) noexcept {
  if (text.empty()) return false;
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  int64_t v = 0;
  for (char ch : text) {
    if (!IsZNTDigit(static_cast<unsigned char>(ch))) return false;
    int d = ch - '0';
    if (v > (kMax - d) / 10) return false;
    v = v * 10 + d;
  }
  value = v;
  isBigInt = v > std::numeric_limits<int32_t>::max();
  return true;
}

bool ParseDecimalToken(std::string_view text, double& value) noexcept {
  const size_t n = text.size();
  auto digit = [&](size_t i) { return i < n && IsZNTDigit(static_cast<unsigned char>(text[i])); };
  // Validate first: the number reader alone would stop early at 1.2.3 or 1e.
  size_t i = 0;
  size_t intDigits = 0;
  size_t mantissaDigits = 0;
  size_t firstSignificant = std::string_view::npos;  // index among the mantissa's digits
  while (digit(i)) {
    if (firstSignificant == std::string_view::npos && text[i] != '0')
      firstSignificant = mantissaDigits;
    ++i, ++intDigits, ++mantissaDigits;
  }
  if (i < n && text[i] == '.') {
    ++i;
    while (digit(i)) {
      if (firstSignificant == std::string_view::npos && text[i] != '0')
        firstSignificant = mantissaDigits;
      ++i, ++mantissaDigits;
    }
  }
  if (mantissaDigits == 0) return false;
  long exponent = 0;
  if (i < n && IsExponentMark(static_cast<unsigned char>(text[i]))) {
    ++i;
    bool negative = false;
    if (i < n && IsSign(static_cast<unsigned char>(text[i]))) negative = text[i++] == '-';
    size_t expDigits = 0;
    while (digit(i)) {
      if (exponent < 1000000) exponent = exponent * 10 + (text[i] - '0');
      ++i, ++expDigits;
    }
    if (expDigits == 0) return false;
    if (negative) exponent = -exponent;
  }
  if (i != n) return false;

  double v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + n, v);
  if (ec == std::errc::result_out_of_range) {
    // The reader does not say which way it failed; the decimal exponent of the
    // first significant digit does. Too small is zero, too large is no number.
    bool tooLarge =
        firstSignificant != std::string_view::npos &&
        static_cast<long>(intDigits) - static_cast<long>(firstSignificant) - 1 + exponent >= 0;
    if (tooLarge) return false;
    value = 0.0;
    return true;
  }
  if (ec != std::errc() || end != text.data() + n) return false;
  value = v;
  return true;
}

bool ParseCharCodeToken(std::string_view text, unsigned char& c) noexcept {
  if (text.size() < 2 || text[0] != '#') return false;
  int v = 0;
  for (char ch : text.substr(1)) {
    if (!IsZNTDigit(static_cast<unsigned char>(ch))) return false;
    v = v * 10 + (ch - '0');
    if (v > 255) return false;
  }
  c = static_cast<unsigned char>(v);
  return true;
}

std::string SubstituteNamedParameters(std::string_view sql, std::vector<std::string>& names) {
  const size_t n = sql.size();
  std::string out;
  out.reserve(n);
  size_t i = 0;
  while (i < n) {
    const char c = sql[i];
    const char next = i + 1 < n ? sql[i + 1] : '\0';
    size_t j = i + 1;
    if (c == '-' && next == '-') {
      j = i + 2;
      while (j < n && !IsZNTLineBreak(static_cast<unsigned char>(sql[j]))) ++j;
    } else if (c == '/' && next == '*') {
      size_t close = sql.find("*/", i + 2);
      j = close == std::string_view::npos ? n : close + 2;
    } else if (c == '\'' || c == '"') {
      while (j < n) {
        if (sql[j] == c) {
          if (j + 1 < n && sql[j + 1] == c) {
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        ++j;
      }
    } else if (c == ':' && IsNameChar(static_cast<unsigned char>(next))) {
      j = i + 1;
      while (j < n && IsNameChar(static_cast<unsigned char>(sql[j]))) ++j;
      names.emplace_back(sql.substr(i + 1, j - i - 1));
      out += '?';
      i = j;
      continue;
    }
    out.append(sql, i, j - i);
    i = j;
  }
  return out;
}

}  // namespace znt
