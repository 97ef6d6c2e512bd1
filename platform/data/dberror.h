// The data-access layer's database error: what datasets and connection
// components raise for misuse, and the base of the engine's EZNTError.
#pragma once

#include <stdexcept>
#include <string>

namespace fyn {

class EDatabaseError : public std::runtime_error {
 public:
  explicit EDatabaseError(const std::string& message);
};

// Raises EDatabaseError with `format`'s first "%s" replaced by `arg`.
[[noreturn]] void DatabaseErrorFmt(const std::string& format, const std::string& arg);

}  // namespace fyn
