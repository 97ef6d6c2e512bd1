// Compression of stored values: round trips at every level in the zlib
// format, and damaged input always failing with error 1201.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "base/zntconsts.h"
#include "storage/tests/table_test_util.h"
#include "storage/zntcompressmgr.h"

namespace znt {
namespace {

using testing::RaisedBy;

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen() & 0xFF);
  return s;
}

std::string Prose(size_t n) {
  static const char* const kWords[] = {"ledger ", "invoice ", "account ", "balance ", "journal "};
  std::string s;
  for (size_t i = 0; s.size() < n; ++i) s += kWords[(i * 7 + i / 3) % 5];
  s.resize(n);
  return s;
}

TEST(CompressionManager, RoundTripsEveryLevelInZlibFormat) {
  const std::string inputs[] = {"", "x", Prose(5000), RandomBytes(5000, 1), Prose(1 << 20)};
  for (int level = 0; level <= 9; ++level) {
    for (const std::string& in : inputs) {
      SCOPED_TRACE("level " + std::to_string(level) + ", " + std::to_string(in.size()) + " bytes");
      const std::string packed = TZNTCompressionManager::Compress(in, level);
      ASSERT_GE(packed.size(), 6u);  // 2-byte header, 4-byte Adler-32 trailer
      const unsigned b0 = static_cast<unsigned char>(packed[0]);
      const unsigned b1 = static_cast<unsigned char>(packed[1]);
      EXPECT_EQ(b0 & 0x0F, 8u) << "deflate method";
      EXPECT_EQ((b0 * 256 + b1) % 31, 0u) << "zlib header check";
      EXPECT_EQ(TZNTCompressionManager::Uncompress(packed), in);
    }
  }
  // Text shrinks at the default level; level 0 only stores.
  const std::string text = Prose(100000);
  EXPECT_LT(TZNTCompressionManager::Compress(text).size(), text.size() / 10);
  EXPECT_GT(TZNTCompressionManager::Compress(text, 0).size(), text.size());
}

TEST(CompressionManager, LevelOutsideRangeRaises1200) {
  for (int level : {-1, 10, 100}) {
    const auto raised = RaisedBy([&] { TZNTCompressionManager::Compress("abc", level); });
    EXPECT_EQ(raised.code, err::Compress) << level;
    EXPECT_NE(raised.message.find("An error occurred while compressing data"), std::string::npos);
  }
}

TEST(CompressionManager, DamagedInputRaises1201NeverGarbage) {
  const std::string text = Prose(20000);
  const std::string packed = TZNTCompressionManager::Compress(text);
  auto flipped = [&](size_t at) {
    std::string s = packed;
    s[at] = static_cast<char>(s[at] ^ 0x5A);
    return s;
  };
  const struct {
    const char* what;
    std::string data;
  } cases[] = {
      {"empty", ""},
      {"header only", packed.substr(0, 2)},
      {"cut in the middle", packed.substr(0, packed.size() / 2)},
      {"checksum cut short", packed.substr(0, packed.size() - 1)},
      {"header flipped", flipped(0)},
      {"data flipped", flipped(packed.size() / 2)},
      {"checksum flipped", flipped(packed.size() - 2)},
      {"trailing bytes", packed + "zz"},
      {"not compressed at all", text.substr(0, 100)},
      {"random bytes", RandomBytes(3000, 7)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto raised = RaisedBy([&] { TZNTCompressionManager::Uncompress(c.data); });
    EXPECT_EQ(raised.code, err::Uncompress);
    EXPECT_NE(raised.message.find("An error occurred while uncompressing data ("),
              std::string::npos)
        << raised.message;
    EXPECT_EQ(raised.message.find("()"), std::string::npos) << "a detail is given";
  }
}

}  // namespace
}  // namespace znt
