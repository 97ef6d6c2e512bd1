#include "base/zntcrypto.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>

namespace znt {
namespace {

// --- TZNTDigest ---------------------------------------------------------------------------------

struct DigestCase {
  std::string message;
  const char* hex;
};

// The test suite of RFC 1321, then lengths either side of the padding limits
// (55/56 bytes leave room for the length in the last block or not) and bytes
// above 0x7F, which a signed char must not sign-extend.
TEST(TZNTDigestTest, KnownDigests) {
  const std::string all_bytes = [] {
    std::string s;
    for (int i = 0; i < 256; ++i) s.push_back(static_cast<char>(i));
    return s;
  }();
  const DigestCase cases[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
    {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
    {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
    {std::string(57, 'a'), "652b906d60af96844ebd21b674f35e93"},
    {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
    {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
    {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
    {std::string(119, 'a'), "8a7bd0732ed6a28ce75f6dabc90e1613"},
    {std::string(120, 'a'), "5f61c0ccad4cac44c75ff505e1f1e537"},
    {"\x80\xE9\xFF", "e69c418b1b6b1e7b61f945109200f3ba"},
    {all_bytes, "e2c865db4162bed963bfaa9ef6ac18f0"},
  };
  for (const DigestCase& c : cases) {
    SCOPED_TRACE("length " + std::to_string(c.message.size()));
    EXPECT_EQ(TZNTDigest::ToHex(TZNTDigest::Compute(c.message)), c.hex);
  }
}

TEST(TZNTDigestTest, ValueHoldsBytesInEmittedOrder) {
  const TZNTDigest::TValue expected = {0x90, 0x01, 0x50, 0x98, 0x3C, 0xD2, 0x4F, 0xB0,
                                       0xD6, 0x96, 0x3F, 0x7D, 0x28, 0xE1, 0x7F, 0x72};
  EXPECT_EQ(TZNTDigest::Compute("abc"), expected);
}

// However the message is split, the digest is the same; pieces of awkward
// sizes cross the 64-byte block boundary at every offset.
TEST(TZNTDigestTest, IncrementalMatchesOneShot) {
  std::string message;
  for (int i = 0; i < 1000; ++i) message.push_back(static_cast<char>(i * 37 + 11));
  const TZNTDigest::TValue whole = TZNTDigest::Compute(message);
  for (size_t piece : {1u, 3u, 7u, 63u, 64u, 65u, 200u}) {
    SCOPED_TRACE("piece " + std::to_string(piece));
    TZNTDigest digest;
    for (size_t pos = 0; pos < message.size(); pos += piece)
      digest.Update(std::string_view(message).substr(pos, piece));
    EXPECT_EQ(digest.Final(), whole);
  }
}

TEST(TZNTDigestTest, MillionBytesInPieces) {
  TZNTDigest digest;
  const std::string chunk(1000, 'a');
  for (int i = 0; i < 1000; ++i) digest.Update(chunk);
  EXPECT_EQ(TZNTDigest::ToHex(digest.Final()), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(TZNTDigestTest, FinalAndResetStartAfresh) {
  TZNTDigest digest;
  digest.Update("junk");
  digest.Reset();
  digest.Update("abc");
  EXPECT_EQ(digest.Final(), TZNTDigest::Compute("abc"));
  EXPECT_EQ(TZNTDigest::ToHex(digest.Final()), "d41d8cd98f00b204e9800998ecf8427e");
  digest.Update("a");
  EXPECT_EQ(TZNTDigest::ToHex(digest.Final()), "0cc175b9c0f1b6a831c399e269772661");
}

// --- TZNTBlowfish -------------------------------------------------------------------------------

struct BlowfishVector {
  uint64_t key;
  uint64_t plain;
  uint64_t cipher;
};

// The published variable-key ECB vectors: eight-byte keys, one block each.
constexpr BlowfishVector kVectors[] = {
  {0x0000000000000000, 0x0000000000000000, 0x4EF997456198DD78},
  {0xFFFFFFFFFFFFFFFF, 0xFFFFFFFFFFFFFFFF, 0x51866FD5B85ECB8A},
  {0x3000000000000000, 0x1000000000000001, 0x7D856F9A613063F2},
  {0x1111111111111111, 0x1111111111111111, 0x2466DD878B963C9D},
  {0x0123456789ABCDEF, 0x1111111111111111, 0x61F9C3802281B096},
  {0x1111111111111111, 0x0123456789ABCDEF, 0x7D0CC630AFDA1EC7},
  {0x0000000000000000, 0x0000000000000000, 0x4EF997456198DD78},
  {0xFEDCBA9876543210, 0x0123456789ABCDEF, 0x0ACEAB0FC6A0A28D},
  {0x7CA110454A1A6E57, 0x01A1D6D039776742, 0x59C68245EB05282B},
  {0x0131D9619DC1376E, 0x5CD54CA83DEF57DA, 0xB1B8CC0B250F09A0},
  {0x07A1133E4A0B2686, 0x0248D43806F67172, 0x1730E5778BEA1DA4},
  {0x3849674C2602319E, 0x51454B582DDF440A, 0xA25E7856CF2651EB},
  {0x04B915BA43FEB5B6, 0x42FD443059577FA2, 0x353882B109CE8F1A},
  {0x0113B970FD34F2CE, 0x059B5E0851CF143A, 0x48F4D0884C379918},
  {0x0170F175468FB5E6, 0x0756D8E0774761D2, 0x432193B78951FC98},
  {0x43297FAD38E373FE, 0x762514B829BF486A, 0x13F04154D69D1AE5},
  {0x07A7137045DA2A16, 0x3BDD119049372802, 0x2EEDDA93FFD39C79},
  {0x04689104C2FD3B2F, 0x26955F6835AF609A, 0xD887E0393C2DA6E3},
  {0x37D06BB516CB7546, 0x164D5E404F275232, 0x5F99D04F5B163969},
  {0x1F08260D1AC2465E, 0x6B056E18759F5CCA, 0x4A057A3B24D3977B},
  {0x584023641ABA6176, 0x004BD6EF09176062, 0x452031C1E4FADA8E},
  {0x025816164629B007, 0x480D39006EE762F2, 0x7555AE39F59B87BD},
  {0x49793EBC79B3258F, 0x437540C8698F3CFA, 0x53C55F9CB49FC019},
  {0x4FB05E1515AB73A7, 0x072D43A077075292, 0x7A8E7BFA937E89A3},
  {0x49E95D6D4CA229BF, 0x02FE55778117F12A, 0xCF9C5D7A4986ADB5},
  {0x018310DC409B26D6, 0x1D9D5C5018F728C2, 0xD1ABB290658BC778},
  {0x1C587F1C13924FEF, 0x305532286D6F295A, 0x55CB3774D13EF201},
  {0x0101010101010101, 0x0123456789ABCDEF, 0xFA34EC4847B268B2},
  {0x1F1F1F1F0E0E0E0E, 0x0123456789ABCDEF, 0xA790795108EA3CAE},
  {0xE0FEE0FEF1FEF1FE, 0x0123456789ABCDEF, 0xC39E072D9FAC631D},
  {0x0000000000000000, 0xFFFFFFFFFFFFFFFF, 0x014933E0CDAFF6E4},
  {0xFFFFFFFFFFFFFFFF, 0x0000000000000000, 0xF21E9A77B71C49BC},
  {0x0123456789ABCDEF, 0x0000000000000000, 0x245946885754369A},
  {0xFEDCBA9876543210, 0xFFFFFFFFFFFFFFFF, 0x6B5C5A9C5D9E0A5A},
};

// The eight bytes of `v`, most significant first.
std::string BigEndianBytes(uint64_t v) {
  std::string bytes(8, '\0');
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<char>(v >> (56 - 8 * i));
  return bytes;
}

// A deterministic, non-repeating test pattern.
std::string Pattern(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : bytes) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 23);
  }
  return bytes;
}

const TZNTBlowfish& EngineCipher() {
  static const TZNTBlowfish cipher(TZNTDigest::Compute("a password"));
  return cipher;
}

TEST(TZNTBlowfishTest, PublishedEcbVectors) {
  static_assert(std::size(kVectors) == 34);
  for (const BlowfishVector& v : kVectors) {
    SCOPED_TRACE(::testing::Message() << "key " << std::hex << v.key << " plain " << v.plain);
    const TZNTBlowfish cipher(BigEndianBytes(v.key));
    uint32_t l = static_cast<uint32_t>(v.plain >> 32), r = static_cast<uint32_t>(v.plain);
    cipher.EncryptBlock(l, r);
    EXPECT_EQ((uint64_t{l} << 32) | r, v.cipher);
    cipher.DecryptBlock(l, r);
    EXPECT_EQ((uint64_t{l} << 32) | r, v.plain);

    // A one-block unit is the ECB block with the halves read and written big-endian.
    std::string block = BigEndianBytes(v.plain);
    cipher.Encrypt(block.data(), block.size());
    EXPECT_EQ(block, BigEndianBytes(v.cipher));
    cipher.Decrypt(block.data(), block.size());
    EXPECT_EQ(block, BigEndianBytes(v.plain));
  }
}

TEST(TZNTBlowfishTest, KeyFromDigestEqualsKeyFromItsBytes) {
  const TZNTDigest::TValue key = TZNTDigest::Compute("secret");
  const TZNTBlowfish from_digest(key);
  TZNTBlowfish from_bytes;
  from_bytes.SetKey(std::string_view(reinterpret_cast<const char*>(key.data()), key.size()));
  uint32_t l1 = 0x01234567, r1 = 0x89ABCDEF, l2 = l1, r2 = r1;
  from_digest.EncryptBlock(l1, r1);
  from_bytes.EncryptBlock(l2, r2);
  EXPECT_EQ(l1, l2);
  EXPECT_EQ(r1, r2);
}

// SetKey starts from the initial tables each time, so re-keying a used cipher
// gives the same cipher as a fresh one; the shortest and longest keys work.
TEST(TZNTBlowfishTest, RekeyingAndKeyLengths) {
  TZNTBlowfish cipher(BigEndianBytes(kVectors[4].key));
  cipher.SetKey(BigEndianBytes(kVectors[7].key));
  uint32_t l = static_cast<uint32_t>(kVectors[7].plain >> 32);
  uint32_t r = static_cast<uint32_t>(kVectors[7].plain);
  cipher.EncryptBlock(l, r);
  EXPECT_EQ((uint64_t{l} << 32) | r, kVectors[7].cipher);

  for (size_t length : {TZNTBlowfish::kMinKeySize, size_t{16}, TZNTBlowfish::kMaxKeySize}) {
    SCOPED_TRACE("key length " + std::to_string(length));
    const std::string key = Pattern(length, 7);
    const TZNTBlowfish keyed(key);
    std::string data = Pattern(64, 3);
    keyed.Encrypt(data.data(), data.size());
    EXPECT_NE(data, Pattern(64, 3));
    keyed.Decrypt(data.data(), data.size());
    EXPECT_EQ(data, Pattern(64, 3));
  }
  // Keys differing only in their last byte give different ciphers.
  std::string key = Pattern(TZNTBlowfish::kMaxKeySize, 9);
  std::string a = Pattern(8, 1), b = a;
  TZNTBlowfish(key).Encrypt(a.data(), a.size());
  key.back() ^= 1;
  TZNTBlowfish(key).Encrypt(b.data(), b.size());
  EXPECT_NE(a, b);
}

TEST(TZNTBlowfishTest, CbcRoundTripsOfUnits) {
  const TZNTBlowfish& cipher = EngineCipher();
  for (size_t size : {size_t{0}, size_t{8}, size_t{16}, size_t{56}, size_t{4096}}) {
    SCOPED_TRACE("size " + std::to_string(size));
    const std::string plain = Pattern(size, 5);
    std::string data = plain;
    cipher.Encrypt(data.data(), data.size());
    if (size > 0) {
      EXPECT_NE(data, plain);
    }
    cipher.Decrypt(data.data(), data.size());
    EXPECT_EQ(data, plain);
  }
}

// Within a unit each block is enciphered after XOR with the previous
// ciphertext block, so equal plaintext blocks come out different, and a change
// reaches every later block but no earlier one.
TEST(TZNTBlowfishTest, CbcChainsWithinAUnit) {
  const TZNTBlowfish& cipher = EngineCipher();
  std::string same(32, 'x');
  cipher.Encrypt(same.data(), same.size());
  for (size_t i = 1; i < 4; ++i) EXPECT_NE(same.substr(8 * i, 8), same.substr(8 * (i - 1), 8));

  // The chain by hand: C[i] = E(P[i] ^ C[i-1]) with C[-1] = 0.
  const std::string plain = Pattern(32, 11);
  std::string unit = plain;
  cipher.Encrypt(unit.data(), unit.size());
  std::string previous(8, '\0');
  for (size_t i = 0; i < 4; ++i) {
    std::string block = plain.substr(8 * i, 8);
    for (size_t j = 0; j < 8; ++j) block[j] ^= previous[j];
    uint32_t l = 0, r = 0;
    for (size_t j = 0; j < 4; ++j) {
      l = (l << 8) | static_cast<unsigned char>(block[j]);
      r = (r << 8) | static_cast<unsigned char>(block[j + 4]);
    }
    cipher.EncryptBlock(l, r);
    const std::string expected = BigEndianBytes((uint64_t{l} << 32) | r);
    EXPECT_EQ(unit.substr(8 * i, 8), expected) << "block " << i;
    previous = expected;
  }

  std::string changed = plain;
  changed[9] ^= 0x01;  // in block 1
  cipher.Encrypt(changed.data(), changed.size());
  EXPECT_EQ(changed.substr(0, 8), unit.substr(0, 8));
  for (size_t i = 1; i < 4; ++i) EXPECT_NE(changed.substr(8 * i, 8), unit.substr(8 * i, 8));
}

// Every call is a unit of its own whose chain restarts at zero: 16 bytes in
// one call and in two calls of 8 agree on the first block only, and a unit
// must be deciphered with the same boundaries it was enciphered with.
TEST(TZNTBlowfishTest, EachCallRestartsTheChain) {
  const TZNTBlowfish& cipher = EngineCipher();
  const std::string plain = Pattern(16, 13);

  std::string one_call = plain;
  cipher.Encrypt(one_call.data(), 16);
  std::string two_calls = plain;
  cipher.Encrypt(two_calls.data(), 8);
  cipher.Encrypt(two_calls.data() + 8, 8);
  EXPECT_EQ(one_call.substr(0, 8), two_calls.substr(0, 8));
  EXPECT_NE(one_call.substr(8, 8), two_calls.substr(8, 8));

  // The second separate unit is the second block enciphered alone.
  std::string second_alone = plain.substr(8, 8);
  cipher.Encrypt(second_alone.data(), 8);
  EXPECT_EQ(two_calls.substr(8, 8), second_alone);

  // Repeating the same call gives the same ciphertext: no state carries over.
  std::string again = plain;
  cipher.Encrypt(again.data(), 16);
  EXPECT_EQ(again, one_call);

  std::string mismatched = one_call;
  cipher.Decrypt(mismatched.data(), 8);
  cipher.Decrypt(mismatched.data() + 8, 8);
  EXPECT_EQ(mismatched.substr(0, 8), plain.substr(0, 8));
  EXPECT_NE(mismatched.substr(8, 8), plain.substr(8, 8));
}

TEST(TZNTBlowfishDeathTest, MisuseIsCaughtInDebugBuilds) {
  std::string data(12, 'x');
  EXPECT_DEBUG_DEATH(EngineCipher().Encrypt(data.data(), data.size()), "");
  EXPECT_DEBUG_DEATH(TZNTBlowfish{std::string_view{}}, "");
  EXPECT_DEBUG_DEATH(TZNTBlowfish{std::string(57, 'k')}, "");
}

}  // namespace
}  // namespace znt
