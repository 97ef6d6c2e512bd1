#include "storage/zntcompressmgr.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

#include "base/zntconsts.h"
#include "base/znterror.h"

namespace znt {

namespace {

// zlib counts in uInt; values are fed to it in pieces no larger than this.
constexpr size_t kChunk = 1u << 30;

std::string Detail(const z_stream& z, int rc) {
  if (z.msg != nullptr) return z.msg;
  if (rc == Z_BUF_ERROR) return "incomplete compressed data";
  const char* text = zError(rc);
  return text != nullptr ? text : "zlib error " + std::to_string(rc);
}

// Ends a zlib stream however the work on it finishes.
struct TDeflateGuard {
  z_stream& z;
  ~TDeflateGuard() { deflateEnd(&z); }
};
struct TInflateGuard {
  z_stream& z;
  ~TInflateGuard() { inflateEnd(&z); }
};

uInt Piece(size_t n) { return static_cast<uInt>(std::min(n, kChunk)); }

}  // namespace

std::string TZNTCompressionManager::Compress(std::string_view data, int level) {
  if (level < kZNTMinCompressionLevel || level > kZNTMaxCompressionLevel)
    RaiseZNTError(err::Compress, {"invalid compression level " + std::to_string(level)});
  z_stream z{};
  int rc = deflateInit(&z, level);
  if (rc != Z_OK) RaiseZNTError(err::Compress, {Detail(z, rc)});
  TDeflateGuard guard{z};

  std::string out;
  out.resize(deflateBound(&z, static_cast<uLong>(std::min<size_t>(data.size(), ULONG_MAX))));
  const unsigned char* in = reinterpret_cast<const unsigned char*>(data.data());
  size_t in_left = data.size(), produced = 0;
  do {
    if (produced == out.size()) out.resize(out.size() * 2 + 64);
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = Piece(in_left);
    z.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
    z.avail_out = Piece(out.size() - produced);
    const uInt given_in = z.avail_in, given_out = z.avail_out;
    rc = deflate(&z, in_left == given_in ? Z_FINISH : Z_NO_FLUSH);
    if (rc == Z_STREAM_ERROR) RaiseZNTError(err::Compress, {Detail(z, rc)});
    in += given_in - z.avail_in;
    in_left -= given_in - z.avail_in;
    produced += given_out - z.avail_out;
  } while (rc != Z_STREAM_END);
  out.resize(produced);
  return out;
}

std::string TZNTCompressionManager::Uncompress(std::string_view data) {
  z_stream z{};
  int rc = inflateInit(&z);
  if (rc != Z_OK) RaiseZNTError(err::Uncompress, {Detail(z, rc)});
  TInflateGuard guard{z};

  std::string out;
  out.resize(std::max<size_t>(data.size() * 4, 256));
  const unsigned char* in = reinterpret_cast<const unsigned char*>(data.data());
  size_t in_left = data.size(), produced = 0;
  for (;;) {
    if (produced == out.size()) out.resize(out.size() * 2);
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = Piece(in_left);
    z.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
    z.avail_out = Piece(out.size() - produced);
    const uInt given_in = z.avail_in, given_out = z.avail_out;
    rc = inflate(&z, Z_NO_FLUSH);
    in += given_in - z.avail_in;
    in_left -= given_in - z.avail_in;
    produced += given_out - z.avail_out;
    if (rc == Z_STREAM_END) break;
    if (rc == Z_NEED_DICT) RaiseZNTError(err::Uncompress, {"a preset dictionary is required"});
    if (rc != Z_OK && rc != Z_BUF_ERROR) RaiseZNTError(err::Uncompress, {Detail(z, rc)});
    // No progress with every input byte consumed: the stream was cut off.
    if (in_left == 0 && produced < out.size())
      RaiseZNTError(err::Uncompress, {"incomplete compressed data"});
  }
  if (in_left != 0)
    RaiseZNTError(err::Uncompress, {"unexpected data after the end of the compressed stream"});
  out.resize(produced);
  return out;
}

}  // namespace znt
