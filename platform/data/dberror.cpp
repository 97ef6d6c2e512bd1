#include "data/dberror.h"

namespace fyn {

EDatabaseError::EDatabaseError(const std::string& message) : std::runtime_error(message) {}

void DatabaseErrorFmt(const std::string& format, const std::string& arg) {
  std::string text = format;
  size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, arg);
  throw EDatabaseError(text);
}

}  // namespace fyn
