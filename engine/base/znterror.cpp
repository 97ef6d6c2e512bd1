#include "znterror.h"

#include "zntconsts.h"

namespace znt {

EZNTException::EZNTException(int code, std::string message, int line, int column)
    : code_(code),
      message_(std::move(message)),
      line_(line),
      column_(column),
      display_(DisplayText(code_, message_)) {}

std::string EZNTException::DisplayText(int code, std::string_view message) {
  if (code > 9999) return std::string(message);
  std::string text = "Zentaro Error #" + std::to_string(code) + " ";
  text.append(message);
  return text;
}

std::string ZNTErrorText(int code, std::initializer_list<std::string_view> args, int variant) {
  const char* format = ErrorFormat(code, variant);
  if (format == nullptr) {
    // A code outside the table still keeps whatever the raiser said.
    std::string text;
    for (std::string_view a : args) {
      if (!text.empty()) text += ' ';
      text += a;
    }
    return text;
  }
  std::string text;
  auto next = args.begin();
  for (const char* p = format; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      if (next != args.end()) text += *next++;
      ++p;
    } else {
      text += *p;
    }
  }
  return text;
}

void RaiseZNTError(int code, std::initializer_list<std::string_view> args, int variant) {
  throw EZNTException(code, ZNTErrorText(code, args, variant));
}

void RaiseZNTErrorAt(int code, int line, int column,
                     std::initializer_list<std::string_view> args, int variant) {
  throw EZNTException(code, ZNTErrorText(code, args, variant), line, column);
}

}  // namespace znt
