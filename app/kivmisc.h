// TkivStringBank: a component that carries a list of text lines, as the data
// module keeps its table definitions.
#pragma once

#include <string>
#include <vector>

namespace fyn {

class TkivStringBank {
 public:
  TkivStringBank() = default;
  explicit TkivStringBank(std::vector<std::string> lines) : items_(std::move(lines)) {}

  // The lines; the bank owns them.
  const std::vector<std::string>& Items() const noexcept { return items_; }
  // Copies `lines` into the bank, replacing what it held.
  void SetItems(const std::vector<std::string>& lines) { items_ = lines; }
  // The number of lines.
  int Count() const noexcept { return static_cast<int>(items_.size()); }
  // The lines joined into one text, each followed by CR LF.
  std::string Text() const;

 private:
  std::vector<std::string> items_;
};

}  // namespace fyn
