// The string helpers every window uses. Texts are Windows-1252 bytes.
#pragma once

#include <string>
#include <string_view>

namespace fyn {

// The statement separator inside one text of SQL statements ("¬").
inline constexpr char kStatementSeparator = '\xAC';

// The text with every character below code 32 removed, wherever it stands.
std::string StripControlChars(std::string_view text);
// The text with every blank (code 32) removed, wherever it stands.
std::string StripSpaces(std::string_view text);
// The n-th field (counted from 1) of `text`, fields being separated by `sep`:
// the whole text for n = 1 without a separator, an empty text when there are
// fewer than n - 1 separators or the field itself is empty.
std::string ExtractField(std::string_view text, char sep, int n);
// Whether `text` (at most 255 characters) is an integer or a decimal number
// in the user's locale: it starts with '+', '-', a digit or the decimal
// separator, ends with a digit, and converts as a float when it holds the
// separator, as a 32-bit integer otherwise.
bool IsNumeric(std::string_view text);

}  // namespace fyn
