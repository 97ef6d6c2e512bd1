#include "app/kivmisc.h"

namespace fyn {

std::string TkivStringBank::Text() const {
  std::string text;
  for (const std::string& line : items_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

}  // namespace fyn
