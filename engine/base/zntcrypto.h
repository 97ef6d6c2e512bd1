// The engine's digest and cipher: MD5 digests of the signature and the
// encryption password, kept in file headers and compared byte by byte, and the
// Blowfish cipher in CBC mode that enciphers file headers, blocks and buffers.
// Neither can fail; misuse (a bad key length, a unit that is not whole 8-byte
// groups) is caught by assertions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace znt {

// The MD5 message digest (RFC 1321) over a sequence of bytes, fed at once or
// in pieces. The result does not depend on how the bytes were split.
class TZNTDigest {
 public:
  static constexpr size_t kSize = 16;
  // The 16 digest bytes in the order the algorithm emits them.
  using TValue = std::array<uint8_t, kSize>;

  // A digest of no bytes yet.
  TZNTDigest() noexcept { Reset(); }

  // Forgets every byte fed so far.
  void Reset() noexcept;
  // Appends `bytes` to the message.
  void Update(std::string_view bytes) noexcept { Update(bytes.data(), bytes.size()); }
  void Update(const void* data, size_t size) noexcept;
  // The digest of every byte fed since construction or the last Reset/Final;
  // the object then starts afresh on an empty message.
  TValue Final() noexcept;

  // The digest of `bytes` in one call.
  static TValue Compute(std::string_view bytes) noexcept;
  // The 32 lower-case hex digits of `digest`, first byte first.
  static std::string ToHex(const TValue& digest);

 private:
  void Transform(const unsigned char* block) noexcept;

  uint32_t state_[4];
  uint64_t length_;           // bytes fed so far
  unsigned char buffer_[64];  // the incomplete 64-byte block
  size_t buffered_;
};

// The Blowfish cipher. The key schedule runs once per key; enciphering
// allocates nothing. Encrypt/Decrypt treat each call as one unit in CBC mode
// whose chaining vector starts at eight zero bytes; blocks are two 32-bit
// halves in big-endian byte order.
class TZNTBlowfish {
 public:
  static constexpr size_t kBlockSize = 8;
  static constexpr size_t kMinKeySize = 1;
  static constexpr size_t kMaxKeySize = 56;

  // The initial tables of the published description, not yet keyed; call
  // SetKey before enciphering anything that matters.
  TZNTBlowfish() noexcept;
  // Keyed with `key`, 1 to 56 bytes.
  explicit TZNTBlowfish(std::string_view key) noexcept;
  // Keyed with the 16 bytes of `key`, as the engine keys it with the digest of
  // its encryption password.
  explicit TZNTBlowfish(const TZNTDigest::TValue& key) noexcept;

  // Replaces the key with `key`, 1 to 56 bytes.
  void SetKey(std::string_view key) noexcept;
  void SetKey(const TZNTDigest::TValue& key) noexcept;

  // Enciphers `size` bytes at `data` in place as one CBC unit; `size` must be
  // a multiple of 8 (a trailing partial group is left as it is).
  void Encrypt(void* data, size_t size) const noexcept;
  // The inverse of Encrypt over the same unit.
  void Decrypt(void* data, size_t size) const noexcept;

  // One block in ECB mode: `l` and `r` are the left and right halves.
  void EncryptBlock(uint32_t& l, uint32_t& r) const noexcept;
  void DecryptBlock(uint32_t& l, uint32_t& r) const noexcept;

 private:
  uint32_t F(uint32_t x) const noexcept {
    return ((s_[0][x >> 24] + s_[1][(x >> 16) & 0xFF]) ^ s_[2][(x >> 8) & 0xFF]) +
           s_[3][x & 0xFF];
  }

  uint32_t p_[18];
  uint32_t s_[4][256];
};

}  // namespace znt
