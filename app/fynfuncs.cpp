#include "app/fynfuncs.h"

#include "rtl/formatsettings.h"

namespace fyn {

std::string StripControlChars(std::string_view text) {
  std::string r;
  r.reserve(text.size());
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 32) r += c;
  return r;
}

std::string StripSpaces(std::string_view text) {
  std::string r;
  r.reserve(text.size());
  for (char c : text)
    if (c != ' ') r += c;
  return r;
}

std::string ExtractField(std::string_view text, char sep, int n) {
  if (n < 1) return {};
  size_t start = 0;
  for (int k = 1; k < n; ++k) {
    size_t at = text.find(sep, start);
    if (at == std::string_view::npos) return {};
    start = at + 1;
  }
  size_t end = text.find(sep, start);
  return std::string(text.substr(start, end == std::string_view::npos ? end : end - start));
}

bool IsNumeric(std::string_view text) {
  if (text.empty()) return false;
  if (text.size() > 255) text = text.substr(0, 255);
  const char sep = FormatSettings().decimalSeparator;
  const char first = text.front(), last = text.back();
  if (!(first == '+' || first == '-' || (first >= '0' && first <= '9') || first == sep))
    return false;
  if (!(last >= '0' && last <= '9')) return false;
  if (text.find(sep) != std::string_view::npos) {
    double v;
    return TryStrToFloat(text, v);
  }
  int32_t i;
  return TryStrToInt(text, i);
}

}  // namespace fyn
