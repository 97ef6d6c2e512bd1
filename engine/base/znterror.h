// The engine's one error type. Every failure inside the engine is raised as an
// EZNTException carrying a code from the table in zntconsts.h, the detail text
// built from that code's message format, and for compile errors a line and
// column. Components turn it into EZNTError (engine/components) for callers.
#pragma once

#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>

namespace znt {

class EZNTException : public std::exception {
 public:
  // `message` is the detail text as the raiser built it; the display text
  // (what()) is derived from code and message by DisplayText().
  EZNTException(int code, std::string message, int line = 0, int column = 0);

  int ErrorCode() const noexcept { return code_; }
  const std::string& ErrorMessage() const noexcept { return message_; }
  int Line() const noexcept { return line_; }
  int Column() const noexcept { return column_; }

  // "Zentaro Error #<code> <message>" for codes up to 9999, the message alone
  // above that.
  const char* what() const noexcept override { return display_.c_str(); }

  static std::string DisplayText(int code, std::string_view message);

 private:
  int code_;
  std::string message_;
  int line_;
  int column_;
  std::string display_;
};

// Fills the `variant`-th message format of `code` (most codes have one; 1004
// has two) with `args` in order. Unknown codes and missing arguments leave the
// text as far as it can be filled; surplus arguments are ignored.
std::string ZNTErrorText(int code, std::initializer_list<std::string_view> args,
                         int variant = 0);

// Raises EZNTException(code, ZNTErrorText(code, args, variant)).
[[noreturn]] void RaiseZNTError(int code, std::initializer_list<std::string_view> args,
                                int variant = 0);

// As RaiseZNTError, for the statement and expression errors that carry a place
// in the source text (700, 900, 901, 904).
[[noreturn]] void RaiseZNTErrorAt(int code, int line, int column,
                                  std::initializer_list<std::string_view> args,
                                  int variant = 0);

}  // namespace znt
