// Compression of stored values with zlib: one complete stream in the zlib
// format (header, deflate data, Adler-32 trailer) per value, so damaged or
// cut-off data is always detected when it is inflated.
#pragma once

#include <string>
#include <string_view>

namespace znt {

inline constexpr int kZNTMinCompressionLevel = 0;
inline constexpr int kZNTMaxCompressionLevel = 9;
inline constexpr int kZNTDefaultCompressionLevel = 6;

// Deflates and inflates whole values in memory. Stateless and thread-safe.
class TZNTCompressionManager {
 public:
  // The zlib-format stream of `data` at `level` (0 stores without
  // compressing, 9 compresses most). Error 1200 for a level outside 0..9 or
  // a failure of the library.
  static std::string Compress(std::string_view data, int level = kZNTDefaultCompressionLevel);
  // The bytes `data` was made from. `data` must be exactly one complete
  // stream: damaged, truncated or trailing bytes raise error 1201, never a
  // partial result.
  static std::string Uncompress(std::string_view data);
};

}  // namespace znt
