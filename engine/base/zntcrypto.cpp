#include "zntcrypto.h"

#include <cassert>
#include <cstring>

namespace znt {

namespace {

#include "zntblowfishtables.inc"

// floor(|sin(i + 1)| * 2^32), the additive constant of MD5 step i.
constexpr uint32_t kMD5Sine[64] = {
  0xD76AA478, 0xE8C7B756, 0x242070DB, 0xC1BDCEEE, 0xF57C0FAF, 0x4787C62A, 0xA8304613, 0xFD469501,
  0x698098D8, 0x8B44F7AF, 0xFFFF5BB1, 0x895CD7BE, 0x6B901122, 0xFD987193, 0xA679438E, 0x49B40821,
  0xF61E2562, 0xC040B340, 0x265E5A51, 0xE9B6C7AA, 0xD62F105D, 0x02441453, 0xD8A1E681, 0xE7D3FBC8,
  0x21E1CDE6, 0xC33707D6, 0xF4D50D87, 0x455A14ED, 0xA9E3E905, 0xFCEFA3F8, 0x676F02D9, 0x8D2A4C8A,
  0xFFFA3942, 0x8771F681, 0x6D9D6122, 0xFDE5380C, 0xA4BEEA44, 0x4BDECFA9, 0xF6BB4B60, 0xBEBFBC70,
  0x289B7EC6, 0xEAA127FA, 0xD4EF3085, 0x04881D05, 0xD9D4D039, 0xE6DB99E5, 0x1FA27CF8, 0xC4AC5665,
  0xF4292244, 0x432AFF97, 0xAB9423A7, 0xFC93A039, 0x655B59C3, 0x8F0CCC92, 0xFFEFF47D, 0x85845DD1,
  0x6FA87E4F, 0xFE2CE6E0, 0xA3014314, 0x4E0811A1, 0xF7537E82, 0xBD3AF235, 0x2AD7D2BB, 0xEB86D391,
};

// Left rotation amounts, four per round.
constexpr int kMD5Shift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

inline uint32_t RotateLeft(uint32_t x, int n) noexcept { return (x << n) | (x >> (32 - n)); }

inline uint32_t LoadLE(const unsigned char* p) noexcept {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

inline void StoreLE(unsigned char* p, uint32_t v) noexcept {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

inline uint32_t LoadBE(const unsigned char* p) noexcept {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

inline void StoreBE(unsigned char* p, uint32_t v) noexcept {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

}  // namespace

// --- TZNTDigest ---------------------------------------------------------------------------------

void TZNTDigest::Reset() noexcept {
  state_[0] = 0x67452301;
  state_[1] = 0xEFCDAB89;
  state_[2] = 0x98BADCFE;
  state_[3] = 0x10325476;
  length_ = 0;
  buffered_ = 0;
}

void TZNTDigest::Transform(const unsigned char* block) noexcept {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = LoadLE(block + 4 * i);
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  for (int i = 0; i < 64; ++i) {
    const int round = i / 16;
    uint32_t f;
    int k;
    switch (round) {
      case 0: f = (b & c) | (~b & d); k = i; break;
      case 1: f = (b & d) | (c & ~d); k = (5 * i + 1) & 15; break;
      case 2: f = b ^ c ^ d; k = (3 * i + 5) & 15; break;
      default: f = c ^ (b | ~d); k = (7 * i) & 15; break;
    }
    const uint32_t rotated = RotateLeft(a + f + x[k] + kMD5Sine[i], kMD5Shift[round][i & 3]);
    a = d;
    d = c;
    c = b;
    b += rotated;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

void TZNTDigest::Update(const void* data, size_t size) noexcept {
  const auto* p = static_cast<const unsigned char*>(data);
  length_ += size;
  if (buffered_ > 0) {
    const size_t take = size < 64 - buffered_ ? size : 64 - buffered_;
    std::memcpy(buffer_ + buffered_, p, take);
    buffered_ += take;
    p += take;
    size -= take;
    if (buffered_ < 64) return;
    Transform(buffer_);
    buffered_ = 0;
  }
  for (; size >= 64; p += 64, size -= 64) Transform(p);
  if (size > 0) std::memcpy(buffer_, p, size);
  buffered_ = size;
}

TZNTDigest::TValue TZNTDigest::Final() noexcept {
  // Padding is a 1 bit, zeros up to 56 bytes modulo 64, then the bit length.
  const uint64_t bits = length_ * 8;
  unsigned char pad[72] = {0x80};
  const size_t padLength = (buffered_ < 56 ? 56 : 120) - buffered_;
  for (int i = 0; i < 8; ++i) pad[padLength + i] = static_cast<unsigned char>(bits >> (8 * i));
  Update(pad, padLength + 8);
  TValue digest;
  for (int i = 0; i < 4; ++i) StoreLE(digest.data() + 4 * i, state_[i]);
  Reset();
  return digest;
}

TZNTDigest::TValue TZNTDigest::Compute(std::string_view bytes) noexcept {
  TZNTDigest digest;
  digest.Update(bytes);
  return digest.Final();
}

std::string TZNTDigest::ToHex(const TValue& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * kSize);
  for (uint8_t byte : digest) {
    hex.push_back(kDigits[byte >> 4]);
    hex.push_back(kDigits[byte & 0x0F]);
  }
  return hex;
}

// --- TZNTBlowfish -------------------------------------------------------------------------------

TZNTBlowfish::TZNTBlowfish() noexcept {
  std::memcpy(p_, kInitialP, sizeof p_);
  std::memcpy(s_, kInitialS, sizeof s_);
}

TZNTBlowfish::TZNTBlowfish(std::string_view key) noexcept { SetKey(key); }

TZNTBlowfish::TZNTBlowfish(const TZNTDigest::TValue& key) noexcept { SetKey(key); }

void TZNTBlowfish::SetKey(const TZNTDigest::TValue& key) noexcept {
  SetKey(std::string_view(reinterpret_cast<const char*>(key.data()), key.size()));
}

void TZNTBlowfish::SetKey(std::string_view key) noexcept {
  assert(key.size() >= kMinKeySize && key.size() <= kMaxKeySize);
  std::memcpy(p_, kInitialP, sizeof p_);
  std::memcpy(s_, kInitialS, sizeof s_);
  if (key.empty()) return;  // only reachable without assertions; leaves the tables unkeyed

  // The key, repeated cyclically, is folded into the P-array 32 bits at a time.
  size_t k = 0;
  for (uint32_t& p : p_) {
    uint32_t word = 0;
    for (int i = 0; i < 4; ++i) {
      word = (word << 8) | static_cast<unsigned char>(key[k]);
      if (++k == key.size()) k = 0;
    }
    p ^= word;
  }
  // Then every entry is replaced, in order, by the running encipherment of a zero block.
  uint32_t l = 0, r = 0;
  for (size_t i = 0; i < 18; i += 2) {
    EncryptBlock(l, r);
    p_[i] = l;
    p_[i + 1] = r;
  }
  for (auto& box : s_) {
    for (size_t i = 0; i < 256; i += 2) {
      EncryptBlock(l, r);
      box[i] = l;
      box[i + 1] = r;
    }
  }
}

void TZNTBlowfish::EncryptBlock(uint32_t& l, uint32_t& r) const noexcept {
  uint32_t xl = l, xr = r;
  for (int i = 0; i < 16; i += 2) {
    xl ^= p_[i];
    xr ^= F(xl);
    xr ^= p_[i + 1];
    xl ^= F(xr);
  }
  l = xr ^ p_[17];
  r = xl ^ p_[16];
}

void TZNTBlowfish::DecryptBlock(uint32_t& l, uint32_t& r) const noexcept {
  uint32_t xl = l, xr = r;
  for (int i = 17; i > 1; i -= 2) {
    xl ^= p_[i];
    xr ^= F(xl);
    xr ^= p_[i - 1];
    xl ^= F(xr);
  }
  l = xr ^ p_[0];
  r = xl ^ p_[1];
}

void TZNTBlowfish::Encrypt(void* data, size_t size) const noexcept {
  assert(size % kBlockSize == 0);
  auto* p = static_cast<unsigned char*>(data);
  uint32_t chainL = 0, chainR = 0;
  for (; size >= kBlockSize; p += kBlockSize, size -= kBlockSize) {
    chainL ^= LoadBE(p);
    chainR ^= LoadBE(p + 4);
    EncryptBlock(chainL, chainR);
    StoreBE(p, chainL);
    StoreBE(p + 4, chainR);
  }
}

void TZNTBlowfish::Decrypt(void* data, size_t size) const noexcept {
  assert(size % kBlockSize == 0);
  auto* p = static_cast<unsigned char*>(data);
  uint32_t chainL = 0, chainR = 0;
  for (; size >= kBlockSize; p += kBlockSize, size -= kBlockSize) {
    const uint32_t cipherL = LoadBE(p), cipherR = LoadBE(p + 4);
    uint32_t l = cipherL, r = cipherR;
    DecryptBlock(l, r);
    StoreBE(p, l ^ chainL);
    StoreBE(p + 4, r ^ chainR);
    chainL = cipherL;
    chainR = cipherR;
  }
}

}  // namespace znt
