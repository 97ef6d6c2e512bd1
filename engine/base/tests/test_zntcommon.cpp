#include "base/zntcommon.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>

namespace znt {
namespace {

std::string SampleBuffer() {
  TZNTWriter w;
  w.WriteInt8(-5);
  w.WriteInt16(-12345);
  w.WriteInt32(std::numeric_limits<int32_t>::min());
  w.WriteInt64(0x0102030405060708LL);
  w.WriteBoolean(true);
  w.WriteDouble(-2.5);
  w.WriteString("FynDB");
  w.WriteShortString("\xAC");  // the statement separator survives as a byte
  w.WriteFixed("ab", 4, ' ');
  return w.TakeBuffer();
}

TEST(BinaryEncoding, RoundTripsEveryKind) {
  std::string buf = SampleBuffer();
  TZNTReader r(buf);
  EXPECT_EQ(r.ReadInt8(), -5);
  EXPECT_EQ(r.ReadInt16(), -12345);
  EXPECT_EQ(r.ReadInt32(), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(r.ReadInt64(), 0x0102030405060708LL);
  EXPECT_TRUE(r.ReadBoolean());
  EXPECT_EQ(r.ReadDouble(), -2.5);
  EXPECT_EQ(r.ReadString(), "FynDB");
  EXPECT_EQ(r.ReadShortString(), "\xAC");
  EXPECT_EQ(r.ReadFixed(4), "ab  ");
  EXPECT_TRUE(r.AtEnd());
}

TEST(BinaryEncoding, IsLittleEndianWithCountedStrings) {
  TZNTWriter w;
  w.WriteInt32(0x11223344);
  w.WriteString("ab");
  w.WriteShortString("c");
  w.WriteFixed("xyz", 2, '\0');
  EXPECT_EQ(w.Buffer(), std::string("\x44\x33\x22\x11\x02\x00\x00\x00" "ab" "\x01\x00" "c" "xy", 15));
}

TEST(BinaryEncoding, AnyNonZeroByteReadsTrue) {
  const unsigned char bytes[] = {0, 1, 2, 255};
  TZNTReader r(bytes, sizeof bytes);
  EXPECT_FALSE(r.ReadBoolean());
  EXPECT_TRUE(r.ReadBoolean());
  EXPECT_TRUE(r.ReadBoolean());
  EXPECT_TRUE(r.ReadBoolean());
}

// Every prefix of a valid buffer reads without error: the values that fit
// come out as written, and everything after the cut is 0, false or empty.
TEST(BinaryEncoding, TruncatedInputYieldsZeroesNeverOverruns) {
  const std::string full = SampleBuffer();
  for (size_t n = 0; n <= full.size(); ++n) {
    // A heap copy of exactly n bytes, so that ASan sees any read past the cut.
    std::unique_ptr<char[]> copy(new char[n == 0 ? 1 : n]);
    std::memcpy(copy.get(), full.data(), n);
    TZNTReader r(copy.get(), n);
    int8_t a = r.ReadInt8();
    int16_t b = r.ReadInt16();
    int32_t c = r.ReadInt32();
    int64_t d = r.ReadInt64();
    bool e = r.ReadBoolean();
    double f = r.ReadDouble();
    std::string g = r.ReadString();
    std::string h = r.ReadShortString();
    std::string i = r.ReadFixed(4);
    EXPECT_EQ(a, n >= 1 ? -5 : 0) << n;
    EXPECT_EQ(b, n >= 3 ? -12345 : 0) << n;
    EXPECT_EQ(c, n >= 7 ? std::numeric_limits<int32_t>::min() : 0) << n;
    EXPECT_EQ(d, n >= 15 ? 0x0102030405060708LL : 0) << n;
    EXPECT_EQ(e, n >= 16) << n;
    EXPECT_EQ(f, n >= 24 ? -2.5 : 0.0) << n;
    EXPECT_EQ(g, n >= 33 ? "FynDB" : "") << n;
    EXPECT_EQ(h, n >= 36 ? "\xAC" : "") << n;
    EXPECT_EQ(i, n >= 40 ? "ab  " : "") << n;
    EXPECT_LE(r.Position(), n);
  }
}

TEST(BinaryEncoding, HugeLengthPrefixIsTreatedAsTruncation) {
  TZNTWriter w;
  w.WriteInt32(-1);  // a length of 4 GiB
  w.WriteBytes("abc", 3);
  TZNTReader r(w.Buffer());
  EXPECT_EQ(r.ReadString(), "");
  EXPECT_TRUE(r.AtEnd());
  EXPECT_EQ(r.ReadInt32(), 0);
}

TEST(BinaryEncoding, FixedOffsetAccessors) {
  unsigned char b[8] = {0};
  StoreLE32(b, 0xDEADBEEF);
  EXPECT_EQ(b[0], 0xEF);
  EXPECT_EQ(LoadLE32(b), 0xDEADBEEFu);
  StoreLE64(b, 0x8877665544332211ULL);
  EXPECT_EQ(LoadLE64(b), 0x8877665544332211ULL);
  StoreLE16(b, 0xABCD);
  EXPECT_EQ(LoadLE16(b), 0xABCD);
}

}  // namespace
}  // namespace znt
