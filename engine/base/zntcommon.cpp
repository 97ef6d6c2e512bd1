#include "zntcommon.h"

#include <cstring>

namespace znt {

void TZNTWriter::WriteLE(uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) buffer_.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void TZNTWriter::WriteDouble(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  WriteLE(bits, 8);
}

void TZNTWriter::WriteString(std::string_view s) {
  WriteLE(s.size(), 4);
  buffer_.append(s);
}

void TZNTWriter::WriteShortString(std::string_view s) {
  WriteLE(s.size(), 2);
  buffer_.append(s);
}

void TZNTWriter::WriteFixed(std::string_view s, size_t width, char pad) {
  if (s.size() >= width) {
    buffer_.append(s.substr(0, width));
  } else {
    buffer_.append(s);
    buffer_.append(width - s.size(), pad);
  }
}

void TZNTWriter::WriteBytes(const void* data, size_t size) {
  buffer_.append(static_cast<const char*>(data), size);
}

uint64_t TZNTReader::ReadLE(int bytes) {
  if (Remaining() < static_cast<size_t>(bytes)) {
    pos_ = size_;
    return 0;
  }
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<uint64_t>(data_[pos_ + i]) << (8 * i);
  pos_ += bytes;
  return v;
}

double TZNTReader::ReadDouble() {
  uint64_t bits = ReadLE(8);
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

std::string TZNTReader::ReadCounted(size_t length) {
  if (length > Remaining()) {
    pos_ = size_;
    return {};
  }
  std::string s(reinterpret_cast<const char*>(data_ + pos_), length);
  pos_ += length;
  return s;
}

std::string TZNTReader::ReadString() {
  if (Remaining() < 4) {
    pos_ = size_;
    return {};
  }
  return ReadCounted(static_cast<uint32_t>(ReadLE(4)));
}

std::string TZNTReader::ReadShortString() {
  if (Remaining() < 2) {
    pos_ = size_;
    return {};
  }
  return ReadCounted(static_cast<uint16_t>(ReadLE(2)));
}

std::string TZNTReader::ReadFixed(size_t width) { return ReadCounted(width); }

uint16_t LoadLE16(const void* p) noexcept {
  const auto* b = static_cast<const unsigned char*>(p);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint32_t LoadLE32(const void* p) noexcept {
  const auto* b = static_cast<const unsigned char*>(p);
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
         (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

uint64_t LoadLE64(const void* p) noexcept {
  const auto* b = static_cast<const unsigned char*>(p);
  return static_cast<uint64_t>(LoadLE32(b)) | (static_cast<uint64_t>(LoadLE32(b + 4)) << 32);
}

void StoreLE16(void* p, uint16_t v) noexcept {
  auto* b = static_cast<unsigned char*>(p);
  b[0] = static_cast<unsigned char>(v);
  b[1] = static_cast<unsigned char>(v >> 8);
}

void StoreLE32(void* p, uint32_t v) noexcept {
  auto* b = static_cast<unsigned char*>(p);
  for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
}

void StoreLE64(void* p, uint64_t v) noexcept {
  auto* b = static_cast<unsigned char*>(p);
  StoreLE32(b, static_cast<uint32_t>(v));
  StoreLE32(b + 4, static_cast<uint32_t>(v >> 32));
}

}  // namespace znt
