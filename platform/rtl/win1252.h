// The one boundary between the program's Unicode text (UTF-8 here, QString in
// the windows) and the engine's Windows-1252 bytes. A character that
// Windows-1252 cannot hold is refused, never replaced.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace fyn {

// Raised when text holds a character the database cannot store.
class ETextEncodingError : public std::runtime_error {
 public:
  ETextEncodingError(const std::string& message, char32_t character)
      : std::runtime_error(message), character_(character) {}
  char32_t Character() const noexcept { return character_; }

 private:
  char32_t character_;
};

// The Windows-1252 byte of a Unicode code point, if it has one. The five
// unassigned bytes (129, 141, 143, 144, 157) map to the same code points, so
// every byte has a Unicode partner and back.
std::optional<unsigned char> CodePointToWin1252(char32_t cp) noexcept;
char32_t Win1252ToCodePoint(unsigned char c) noexcept;

// UTF-8 to Windows-1252. Raises ETextEncodingError naming the first character
// that has no Windows-1252 byte, or when the input is not valid UTF-8.
std::string Utf8ToWin1252(std::string_view utf8);
// Windows-1252 to UTF-8; every byte converts.
std::string Win1252ToUtf8(std::string_view bytes);

}  // namespace fyn
