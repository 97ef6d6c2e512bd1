// The errors the engine's components raise to the program. EZNTError carries
// the engine's code, message, line and column; anything that is not an engine
// exception arrives as code 9999 with its own text.
#pragma once

#include <exception>
#include <string>

#include "base/znterror.h"
#include "data/dberror.h"

namespace znt {

class EZNTError : public fyn::EDatabaseError {
 public:
  // Copies the four fields of an engine exception.
  explicit EZNTError(const EZNTException& e);
  // Any other exception: code 9999, the message is its display text.
  explicit EZNTError(const std::exception& e);

  int ErrorCode() const noexcept { return code_; }
  const std::string& ErrorMessage() const noexcept { return message_; }
  int Line() const noexcept { return line_; }
  int Column() const noexcept { return column_; }

 private:
  int code_;
  std::string message_;
  int line_ = 0;
  int column_ = 0;
};

// A silent cancellation: components that catch it abort quietly instead of
// raising EZNTError.
class EZNTAbortException : public std::exception {
 public:
  const char* what() const noexcept override { return "Operation aborted"; }
};

// Builds the EZNTError for the exception in flight (call inside a catch
// block). An EZNTError already in flight is returned as it is.
EZNTError CurrentExceptionAsZNTError();

}  // namespace znt
