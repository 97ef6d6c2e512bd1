// The engine's binary encoding, shared by every engine file and in-memory
// stream: little-endian integers of 1, 2, 4 and 8 bytes, Booleans as one byte,
// IEEE doubles, and strings as a 4- or 2-byte length followed by the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace znt {

// Appends encoded values to a byte buffer it owns.
class TZNTWriter {
 public:
  void WriteInt8(int8_t v) { WriteUInt8(static_cast<uint8_t>(v)); }
  void WriteUInt8(uint8_t v) { buffer_.push_back(static_cast<char>(v)); }
  void WriteInt16(int16_t v) { WriteLE(static_cast<uint16_t>(v), 2); }
  void WriteInt32(int32_t v) { WriteLE(static_cast<uint32_t>(v), 4); }
  void WriteInt64(int64_t v) { WriteLE(static_cast<uint64_t>(v), 8); }
  void WriteBoolean(bool v) { WriteUInt8(v ? 1 : 0); }
  void WriteDouble(double v);
  // A length of 4 bytes, then the bytes, no terminator.
  void WriteString(std::string_view s);
  // A length of 2 bytes; the text must be shorter than 65536 bytes.
  void WriteShortString(std::string_view s);
  // Exactly `width` bytes: `s` cut or padded with `pad` (blank for character
  // fields, zero for byte fields).
  void WriteFixed(std::string_view s, size_t width, char pad);
  void WriteBytes(const void* data, size_t size);

  const std::string& Buffer() const noexcept { return buffer_; }
  std::string TakeBuffer() noexcept { return std::move(buffer_); }
  size_t Size() const noexcept { return buffer_.size(); }

 private:
  void WriteLE(uint64_t v, int bytes);
  std::string buffer_;
};

// Reads encoded values from a byte range it does not own. A read that runs
// past the end yields 0, false or an empty string and leaves the reader at
// the end; it never fails and never reads outside the range.
class TZNTReader {
 public:
  TZNTReader(const void* data, size_t size)
      : data_(static_cast<const unsigned char*>(data)), size_(size) {}
  explicit TZNTReader(std::string_view bytes) : TZNTReader(bytes.data(), bytes.size()) {}

  uint8_t ReadUInt8() { return static_cast<uint8_t>(ReadLE(1)); }
  int8_t ReadInt8() { return static_cast<int8_t>(ReadLE(1)); }
  int16_t ReadInt16() { return static_cast<int16_t>(ReadLE(2)); }
  int32_t ReadInt32() { return static_cast<int32_t>(ReadLE(4)); }
  int64_t ReadInt64() { return static_cast<int64_t>(ReadLE(8)); }
  bool ReadBoolean() { return ReadLE(1) != 0; }
  double ReadDouble();
  std::string ReadString();
  std::string ReadShortString();
  // `width` bytes as they stand (padding included); empty when fewer remain.
  std::string ReadFixed(size_t width);

  size_t Position() const noexcept { return pos_; }
  size_t Remaining() const noexcept { return size_ - pos_; }
  bool AtEnd() const noexcept { return pos_ >= size_; }
  // Moves to `pos`, clamped to the end.
  void Seek(size_t pos) noexcept { pos_ = pos < size_ ? pos : size_; }

 private:
  uint64_t ReadLE(int bytes);
  std::string ReadCounted(size_t length);
  const unsigned char* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Little-endian access to a fixed place in a buffer, for the headers and
// blocks whose fields sit at known offsets. The caller keeps offsets in range.
uint32_t LoadLE32(const void* p) noexcept;
uint64_t LoadLE64(const void* p) noexcept;
uint16_t LoadLE16(const void* p) noexcept;
void StoreLE32(void* p, uint32_t v) noexcept;
void StoreLE64(void* p, uint64_t v) noexcept;
void StoreLE16(void* p, uint16_t v) noexcept;

}  // namespace znt
