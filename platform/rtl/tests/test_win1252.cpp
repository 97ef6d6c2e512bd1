#include "rtl/win1252.h"

#include <gtest/gtest.h>

namespace fyn {
namespace {

TEST(Win1252, EveryByteRoundTripsThroughUnicode) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  EXPECT_EQ(Utf8ToWin1252(Win1252ToUtf8(all)), all);
}

TEST(Win1252, KnownCharacters) {
  EXPECT_EQ(Utf8ToWin1252("\xC2\xAC"), "\xAC");          // the statement separator
  EXPECT_EQ(Utf8ToWin1252("\xE2\x82\xAC" "5"), "\x80" "5");  // euro sign
  EXPECT_EQ(Utf8ToWin1252("caf\xC3\xA9"), "caf\xE9");
  EXPECT_EQ(Win1252ToUtf8("\x8A"), "\xC5\xA0");          // S caron
  EXPECT_EQ(Win1252ToUtf8("\x9F"), "\xC5\xB8");          // Y diaeresis
}

TEST(Win1252, RefusesWhatItCannotHold) {
  try {
    Utf8ToWin1252("ok \xE2\x82\xB9");  // the rupee sign has no byte
    FAIL();
  } catch (const ETextEncodingError& e) {
    EXPECT_EQ(e.Character(), U'\u20B9');
    EXPECT_STREQ(e.what(), "The character U+20B9 cannot be stored in the database");
  }
  for (const char* bad : {"\xC3", "\xE2\x82", "\xFF", "\xC0\x80", "a\x80"})
    EXPECT_THROW(Utf8ToWin1252(bad), ETextEncodingError) << bad;
}

}  // namespace
}  // namespace fyn
