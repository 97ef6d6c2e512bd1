#include "sql/zntscanner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/zntconsts.h"
#include "base/znterror.h"

namespace znt {
namespace {

using K = TZNTTokenKind;

char KindLetter(K kind) {
  switch (kind) {
    case K::EndOfText:
      return 'E';
    case K::Identifier:
      return 'I';
    case K::String:
      return 'S';
    case K::QuotedIdentifier:
      return 'Q';
    case K::CharCode:
      return 'C';
    case K::IntegerNumber:
      return 'N';
    case K::DecimalNumber:
      return 'D';
    case K::HexString:
      return 'H';
    case K::Symbol:
      return 'Y';
  }
  return '?';
}

// The tokens of `source` as "kind:text" separated by blanks, where kind is
// I identifier, S string, Q quoted identifier, C character code, N integer,
// D decimal, H hex string, Y symbol.
std::string Tokens(std::string_view source) {
  TZNTScanner s(source, "statement");
  std::string out;
  while (s.Kind() != K::EndOfText) {
    if (!out.empty()) out += ' ';
    out += KindLetter(s.Kind());
    out += ':';
    out += s.TokenText();
    s.Next();
  }
  return out;
}

struct Raised {
  int code = 0;
  std::string message;
  int line = 0;
  int column = 0;
};

template <typename F>
Raised Capture(F&& f) {
  try {
    f();
  } catch (const EZNTException& e) {
    return {e.ErrorCode(), e.ErrorMessage(), e.Line(), e.Column()};
  }
  ADD_FAILURE() << "no error was raised";
  return {};
}

std::string CompileText(std::string_view kind, int line, int column, std::string_view detail) {
  return "An error was found in the " + std::string(kind) + " at line " + std::to_string(line) +
         " and column " + std::to_string(column) + " (" + std::string(detail) + ")";
}

void ScanToEnd(std::string_view source) {
  TZNTScanner s(source, "statement");
  while (s.Kind() != K::EndOfText) s.Next();
}

TEST(ScannerTokens, KindsAndTexts) {
  struct Case {
    const char* source;
    const char* tokens;
  };
  const Case cases[] = {
      {"", ""},
      {" \x01\t\x1f -- only a comment", ""},
      {"a_1 B2 _x", "I:a_1 I:B2 I:_x"},
      {"\xC0t\xE9 \x8A\xFF", "I:\xC0t\xE9 I:\x8A\xFF"},  // accented letters
      {"a\327b \254", "I:a Y:\327 I:b Y:\254"},          // 215 and 172 are not letters
      {"'it''s' 'a\"b' ''", "S:it's S:a\"b S:"},
      {"\"col\"\"x\" \"it''s\" \"a'b\"", "Q:col\"x Q:it's Q:a'b"},
      {"#65 # #x #1a", "C:#65 C:# C:# I:x C:#1 I:a"},
      {"X'0AFF' x'' x'a''b'", "H:0AFF H: H:a S:b"},  // no doubled quotes in hex strings
      {"Xy X 'a' MAX'a' X", "I:Xy I:X S:a I:MAX S:a I:X"},
      {"12-3", "N:12 Y:- N:3"},
      {"1e-3 .5 1.2.3 1. 1E+5", "D:1e-3 D:.5 D:1.2.3 D:1. D:1E+5"},
      {".5.3 1e+-5 12east 7a", "D:.5 D:.3 D:1e+ Y:- N:5 D:12e I:ast N:7 I:a"},
      {"a.b t.5 .x", "I:a Y:. I:b I:t D:.5 Y:. I:x"},
      {"<> >< <= || ;", "Y:< Y:> Y:> Y:< Y:< Y:= Y:| Y:| Y:;"},
      {"a--c\nb-- tail", "I:a I:b"},
      {"a/*x\n--*/b/**/c/*/ */d", "I:a I:b I:c I:d"},
      {"1-- comment\n-2", "N:1 Y:- N:2"},
      {"a/ *b", "I:a Y:/ Y:* I:b"},
  };
  for (const Case& c : cases) EXPECT_EQ(Tokens(c.source), c.tokens) << "source: " << c.source;
}

TEST(ScannerTokens, RawTextStartAndSymbol) {
  TZNTScanner s("  X'AB' 'a''b' \"q\" ( ", "statement");
  EXPECT_EQ(s.Kind(), K::HexString);
  EXPECT_EQ(s.RawTokenText(), "'AB'");  // the token starts at the quote
  EXPECT_EQ(s.TokenStart(), 3u);
  EXPECT_EQ(s.TokenColumn(), 4);
  EXPECT_EQ(s.Symbol(), '\0');
  s.Next();
  EXPECT_EQ(s.RawTokenText(), "'a''b'");
  EXPECT_EQ(s.TokenText(), "a'b");
  s.Next();
  EXPECT_EQ(s.RawTokenText(), "\"q\"");
  EXPECT_TRUE(s.IsName());
  s.Next();
  EXPECT_EQ(s.Symbol(), '(');
  EXPECT_TRUE(s.IsSymbol('('));
  EXPECT_FALSE(s.IsSymbol(')'));
  EXPECT_EQ(s.Next(), K::EndOfText);
  EXPECT_EQ(s.TokenStart(), 21u);
  EXPECT_EQ(s.RawTokenText(), "");
  EXPECT_EQ(s.TokenText(), "");
  EXPECT_EQ(s.Next(), K::EndOfText);  // reading past the end stays there
}

TEST(ScannerTokens, KeywordsAndNames) {
  TZNTScanner s("select \"SELECT\" 'select' S\xC9LECT s\xE9lect", "statement");
  EXPECT_TRUE(s.IsKeyword("SELECT"));
  EXPECT_TRUE(s.IsKeyword("Select"));
  EXPECT_FALSE(s.IsKeyword("SELEC"));
  EXPECT_FALSE(s.IsKeyword("SELECTS"));
  EXPECT_TRUE(s.IsName());
  s.Next();
  EXPECT_FALSE(s.IsKeyword("SELECT"));  // a quoted identifier is never a keyword
  EXPECT_TRUE(s.IsName());
  EXPECT_EQ(s.TokenText(), "SELECT");
  s.Next();
  EXPECT_FALSE(s.IsKeyword("select"));
  EXPECT_FALSE(s.IsName());
  s.Next();
  EXPECT_TRUE(s.IsKeyword("s\xE9lect"));  // upper-casing covers the accented letters
  EXPECT_FALSE(s.IsKeyword("SELECT"));
}

TEST(ScannerTokens, PeekLeavesEverythingAsItWas) {
  TZNTScanner s("a\n  b\n(", "statement");
  s.Next();  // at b, on line 2
  EXPECT_EQ(s.PeekKind(), K::Symbol);
  EXPECT_TRUE(s.PeekSymbol('('));
  EXPECT_FALSE(s.PeekSymbol(')'));
  EXPECT_FALSE(s.PeekKeyword("b"));
  EXPECT_EQ(s.TokenText(), "b");
  EXPECT_EQ(s.TokenLine(), 2);
  EXPECT_EQ(s.TokenColumn(), 3);
  EXPECT_EQ(s.Line(), 2);
  EXPECT_EQ(s.Next(), K::Symbol);
  EXPECT_EQ(s.Line(), 3);
  EXPECT_EQ(s.PeekKind(), K::EndOfText);

  TZNTScanner t("a or", "statement");
  EXPECT_TRUE(t.PeekKeyword("OR"));
  EXPECT_TRUE(t.IsKeyword("a"));
}

TEST(ScannerTokens, AcceptConsumesOnlyOnMatch) {
  TZNTScanner s("not ( x", "statement");
  EXPECT_FALSE(s.AcceptKeyword("NULL"));
  EXPECT_FALSE(s.AcceptSymbol('('));
  EXPECT_TRUE(s.IsKeyword("not"));
  EXPECT_TRUE(s.AcceptKeyword("NOT"));
  EXPECT_FALSE(s.AcceptKeyword("x"));
  EXPECT_TRUE(s.AcceptSymbol('('));
  s.ExpectKeyword("X");
  EXPECT_EQ(s.Kind(), K::EndOfText);
}

// Compound operators are built from two symbol tokens, so blanks and comments
// may stand between their characters.
TEST(ScannerTokens, SymbolPairs) {
  struct Case {
    const char* source;
    char first, second;
    bool match;
  };
  const Case cases[] = {
      {"<> z", '<', '>', true}, {"< > z", '<', '>', true}, {"</**/> z", '<', '>', true},
      {">< z", '>', '<', true}, {"| | z", '|', '|', true}, {"<= z", '<', '>', false},
      {"< z", '<', '>', false}, {"<", '<', '>', false},    {"> > z", '<', '>', false},
  };
  for (const Case& c : cases) {
    TZNTScanner s(c.source, "expression");
    EXPECT_EQ(s.AcceptPair(c.first, c.second), c.match) << c.source;
    if (c.match) {
      EXPECT_TRUE(s.IsKeyword("z")) << c.source;
    } else {
      EXPECT_EQ(s.TokenStart(), 0u) << c.source;  // nothing consumed
    }
  }
  // A lone vertical bar, as the parser meets it.
  TZNTScanner s("a | b", "expression");
  s.Next();
  ASSERT_TRUE(s.AcceptSymbol('|'));
  Raised r = Capture([&] { s.ExpectSymbol('|'); });
  EXPECT_EQ(r.message, CompileText("expression", 1, 5, "Expected | but instead found b"));
}

TEST(ScannerLines, BreaksAreCountedEverywhere) {
  // Each source ends in the token z; the expected place is z's.
  struct Case {
    const char* source;
    int line, column;
  };
  const Case cases[] = {
      {"z", 1, 1},
      {"a\nz", 2, 1},
      {"a\rz", 2, 1},
      {"a\r\nz", 2, 1},   // CR LF counts once
      {"a\n\r z", 3, 2},  // LF CR counts twice
      {"a\r\r\n  z", 3, 3},
      {"\n\n\n   z", 4, 4},
      {"'x\ny\r\nw' z", 3, 4},  // inside a string
      {"/*\r\n\n*/ z", 3, 4},   // inside a block comment
      {"-- c\r\n\tz", 2, 2},
      {"'a''\n' X'0\n1' z", 3, 4},
  };
  for (const Case& c : cases) {
    TZNTScanner s(c.source, "statement");
    while (!s.IsKeyword("z") && s.Kind() != K::EndOfText) s.Next();
    ASSERT_TRUE(s.IsKeyword("z")) << c.source;
    EXPECT_EQ(s.TokenLine(), c.line) << c.source;
    EXPECT_EQ(s.TokenColumn(), c.column) << c.source;
  }
}

TEST(ScannerErrors, LexicalErrors) {
  struct Case {
    const char* source;
    int line, column;
    const char* detail;
  };
  const Case cases[] = {
      {"'abc", 1, 1, "Missing '"},          {"a 'ab''", 1, 3, "Missing '"},
      {"a 'x\ny", 2, 3, "Missing '"},  // the current line, the column where the string starts
      {"X'0A", 1, 2, "Missing '"},     // a hex string starts at its quote
      {"  \"abc", 1, 3, "Missing \""},      {"\"ab\"\"", 1, 1, "Missing \""},
      {"x \"ab\ncd\"", 1, 3, "Missing \""}, {"x\n \"ab\rcd\"", 2, 2, "Missing \""},
      {"a /* x\n y", 2, 3, "Missing /"},    {"/*/", 1, 1, "Missing /"},
  };
  for (const Case& c : cases) {
    Raised r = Capture([&] { ScanToEnd(c.source); });
    EXPECT_EQ(r.code, err::Compile) << c.source;
    EXPECT_EQ(r.message, CompileText("statement", c.line, c.column, c.detail)) << c.source;
    EXPECT_EQ(r.line, c.line) << c.source;
    EXPECT_EQ(r.column, c.column) << c.source;
  }
}

// Expecting ')' after the whole text: the end-of-text place is the column of
// the last character, or 1 when the last line is empty.
TEST(ScannerErrors, MissingAtEndOfText) {
  struct Case {
    const char* source;
    int line, column;
  };
  const Case cases[] = {
      {"", 1, 1},       {"(a", 1, 2},      {"(a   ", 1, 5},   {"(a\n", 2, 1},
      {"(a\r\n", 2, 1}, {"(a\n  b", 2, 3}, {"(a -- c", 1, 7}, {"(a\n/* x\n*/", 3, 2},
  };
  for (const Case& c : cases) {
    Raised r = Capture([&] {
      TZNTScanner s(c.source, "expression");
      while (s.Kind() != K::EndOfText) s.Next();
      s.ExpectSymbol(')');
    });
    EXPECT_EQ(r.message, CompileText("expression", c.line, c.column, "Missing )")) << c.source;
    EXPECT_EQ(r.line, c.line) << c.source;
    EXPECT_EQ(r.column, c.column) << c.source;
  }
}

TEST(ScannerErrors, ExpectedButFound) {
  Raised r = Capture([] {
    TZNTScanner s("SELECT a\n  FORM t", "statement");
    s.ExpectKeyword("SELECT");
    s.Next();
    s.ExpectKeyword("FROM");
  });
  EXPECT_EQ(r.message, CompileText("statement", 2, 3, "Expected FROM but instead found FORM"));
  EXPECT_EQ(r.line, 2);
  EXPECT_EQ(r.column, 3);

  // The raw text names the token as written, quotes included.
  r = Capture([] {
    TZNTScanner s("a\n 'it''s'", "statement");
    s.Next();
    s.ErrorExpected("BETWEEN, LIKE, IN");
  });
  EXPECT_EQ(r.message,
            CompileText("statement", 2, 2, "Expected BETWEEN, LIKE, IN but instead found 'it''s'"));

  // A token spanning lines: the line reached, the column where it starts.
  r = Capture([] {
    TZNTScanner s("a  'x\ny'", "statement");
    s.Next();
    s.ErrorExpected("expression");
  });
  EXPECT_EQ(r.message,
            CompileText("statement", 2, 4, "Expected expression but instead found 'x\ny'"));
}

TEST(ScannerErrors, InvalidNumericConstantNamesTheToken) {
  Raised r = Capture([] {
    TZNTScanner s("x = 1.2.3", "check constraint expression");
    s.Next();
    s.Next();
    double v;
    ASSERT_EQ(s.Kind(), K::DecimalNumber);
    if (!ParseDecimalToken(s.TokenText(), v)) s.ErrorExpected("numeric constant");
  });
  EXPECT_EQ(r.message, CompileText("check constraint expression", 1, 5,
                                   "Expected numeric constant but instead found 1.2.3"));
}

TEST(ScannerErrors, InvalidAtAndBase) {
  TZNTScanner s("a\nb c", "view");
  s.Next();
  s.Next();
  Raised r = Capture([&] { s.ErrorInvalid("COUNT(*)", "aggregates are not allowed here"); });
  EXPECT_EQ(r.message, CompileText("view", 2, 3,
                                   "Invalid expression COUNT(*) found, aggregates are not allowed "
                                   "here"));
  r = Capture([&] { s.ErrorAt(7, 9, "Missing x"); });
  EXPECT_EQ(r.message, CompileText("view", 7, 9, "Missing x"));
  EXPECT_EQ(r.line, 7);
  EXPECT_EQ(r.column, 9);

  s.SetBase(40, 0);
  r = Capture([&] { s.Error("d"); });
  EXPECT_EQ(r.line, 40);
  EXPECT_EQ(r.column, 3);
  s.SetBase(0, 12);
  r = Capture([&] { s.ErrorAt(2, 1, "d"); });
  EXPECT_EQ(r.message, CompileText("view", 2, 12, "d"));
  EXPECT_EQ(r.column, 12);
}

TEST(ScannerStatementEnd, TerminatorThenOnlyEndOfText) {
  struct Case {
    const char* source;
    char terminator;
    const char* error;  // nullptr when accepted
  };
  const Case cases[] = {
      {"a", ';', nullptr},
      {"a;", ';', nullptr},
      {"a ; -- done\n", ';', nullptr},
      {"a; b", ';', "Expected end of expression but instead found b"},
      {"a;;", ';', "Expected end of expression but instead found ;"},
      {"a b", ';', "Expected end of expression but instead found b"},
      {"a)", ';', "Expected end of expression but instead found )"},
      {"a;", '\0', "Expected end of expression but instead found ;"},
      {"a 'x'", '\0', "Expected end of expression but instead found 'x'"},
  };
  for (const Case& c : cases) {
    auto run = [&] {
      TZNTScanner s(c.source, "statement");
      s.Next();
      s.ExpectEnd(c.terminator);
    };
    if (c.error == nullptr) {
      EXPECT_NO_THROW(run()) << c.source;
    } else {
      Raised r = Capture(run);
      EXPECT_NE(r.message.find(std::string("(") + c.error + ")"), std::string::npos)
          << c.source << ": " << r.message;
    }
  }
}

TEST(ScannerMarks, CaptureSourceBetweenTokenStarts) {
  TZNTScanner s("CREATE VIEW v AS SELECT a /* c */ FROM (SELECT b FROM t ) x", "statement");
  while (!s.IsKeyword("SELECT")) s.Next();
  s.PushMark();
  while (!s.IsSymbol('(')) s.Next();
  s.Next();
  s.PushMark();
  while (!s.IsSymbol(')')) s.Next();
  EXPECT_EQ(s.PopMark(), "SELECT b FROM t ");  // up to the start of the current token
  while (s.Kind() != K::EndOfText) s.Next();
  EXPECT_EQ(s.PopMark(), "SELECT a /* c */ FROM (SELECT b FROM t ) x");
  EXPECT_EQ(s.PopMark(), "");

  // Captured text keeps a hex string's X, so it compiles to the same constant.
  TZNTScanner d("DEFAULT x'00FF', 1", "statement");
  d.Next();
  d.PushMark();
  d.Next();
  EXPECT_EQ(d.PopMark(), "x'00FF'");
  d.PushMark();
  d.Next();
  d.Next();
  EXPECT_EQ(d.PopMark(), ", 1");
}

TEST(ScannerMarks, DeepNesting) {
  std::string text;
  for (int i = 0; i < 40; ++i) text += "( ";
  TZNTScanner s(text, "expression");
  for (int i = 0; i < 40; ++i) {
    s.PushMark();
    s.Next();
  }
  for (int i = 39; i >= 0; --i) EXPECT_EQ(s.PopMark().size(), static_cast<size_t>(80 - 2 * i));
}

TEST(ScannerConstants, IntegerTokens) {
  struct Case {
    const char* text;
    bool ok;
    int64_t value;
    bool big;
  };
  const Case cases[] = {
      {"0", true, 0, false},
      {"2147483647", true, 2147483647, false},
      {"2147483648", true, 2147483648LL, true},
      {"0002147483647", true, 2147483647, false},
      {"9223372036854775807", true, INT64_MAX, true},
      {"9223372036854775808", false, 0, false},
      {"99999999999999999999999", false, 0, false},
      {"", false, 0, false},
      {"12a", false, 0, false},
      {"-1", false, 0, false},
  };
  for (const Case& c : cases) {
    int64_t v = -1;
    bool big = !c.big;
    EXPECT_EQ(ParseIntegerToken(c.text, v, big), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
      EXPECT_EQ(big, c.big) << c.text;
    }
  }
}

TEST(ScannerConstants, DecimalTokens) {
  struct Case {
    const char* text;
    bool ok;
    double value;
  };
  const Case cases[] = {
      {"1e-3", true, 0.001}, {".5", true, 0.5},         {"1.", true, 1.0},
      {"1.5E+2", true, 150}, {"2e3", true, 2000},       {"0.25e1", true, 2.5},
      {"1e-400", true, 0.0}, {"0.0000e999", true, 0.0}, {"1.2.3", false, 0},
      {"1e", false, 0},      {"1e+", false, 0},         {"1e5.2", false, 0},
      {"1e5e6", false, 0},   {".", false, 0},           {"e5", false, 0},
      {"1e400", false, 0},   {"1,5", false, 0},         {"", false, 0},
  };
  for (const Case& c : cases) {
    double v = -1;
    EXPECT_EQ(ParseDecimalToken(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_DOUBLE_EQ(v, c.value) << c.text;
    }
  }
}

TEST(ScannerConstants, CharCodeTokens) {
  struct Case {
    const char* text;
    bool ok;
    int value;
  };
  const Case cases[] = {
      {"#65", true, 'A'},   {"#0", true, 0},    {"#255", true, 255},
      {"#0065", true, 'A'}, {"#256", false, 0}, {"#", false, 0},
      {"65", false, 0},     {"#6a", false, 0},  {"#99999999999999999999", false, 0},
  };
  for (const Case& c : cases) {
    unsigned char ch = 1;
    EXPECT_EQ(ParseCharCodeToken(c.text, ch), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(ch, c.value) << c.text;
    }
  }
}

TEST(ParameterSubstitution, ReplacesNamesOutsideQuotesAndComments) {
  struct Case {
    const char* sql;
    const char* out;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"SELECT * FROM t WHERE a = :id", "SELECT * FROM t WHERE a = ?", {"id"}},
      {":a,:b1 :2 :\xE9t", "?,? ? ?", {"a", "b1", "2", "\xE9t"}},
      {":a + :a", "? + ?", {"a", "a"}},
      {"WHERE s = ':name'", "WHERE s = ':name'", {}},
      {"a : b a:", "a : b a:", {}},
      {":p::q", "?:?", {"p", "q"}},
      {"\"col:x\" = :v", "\"col:x\" = ?", {"v"}},
      {"'it'':s' \"a\"\":b\" :p", "'it'':s' \"a\"\":b\" ?", {"p"}},
      {"-- :c\n:p", "-- :c\n?", {"p"}},
      {"x -- :c", "x -- :c", {}},
      {"/* :c\n */ :p /* :d", "/* :c\n */ ? /* :d", {"p"}},
      {"'open :p", "'open :p", {}},
      {"x - :p/ :q", "x - ?/ ?", {"p", "q"}},
      {"", "", {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> names;
    EXPECT_EQ(SubstituteNamedParameters(c.sql, names), c.out) << c.sql;
    EXPECT_EQ(names, c.names) << c.sql;
  }
}

TEST(ParameterSubstitution, AppendsToExistingNamesAndScansAsSymbols) {
  std::vector<std::string> names = {"first"};
  std::string sql = SubstituteNamedParameters("a = :x AND b = ':y'", names);
  EXPECT_EQ(names, (std::vector<std::string>{"first", "x"}));
  EXPECT_EQ(Tokens(sql), "I:a Y:= Y:? I:AND I:b Y:= S::y");
}

}  // namespace
}  // namespace znt
