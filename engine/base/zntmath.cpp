#include "zntmath.h"

#include <cmath>
#include <limits>

namespace znt {
namespace {

constexpr int64_t kPow10[5] = {10000, 1000, 100, 10, 1};  // 10^(4 - scale)

bool FitsInt64(__int128 v) noexcept {
  return v >= std::numeric_limits<int64_t>::min() && v <= std::numeric_limits<int64_t>::max();
}

}  // namespace

int64_t DecimalRoundToScale(int64_t x, int scale) noexcept {
  if (scale >= kMaxDecimalScale) return x;
  if (scale < 0) scale = 0;
  const int64_t d = kPow10[scale];
  int64_t q = x / d;
  int64_t r = x % d;
  if (r >= 0 ? 2 * r >= d : -2 * r >= d) q += x < 0 ? -1 : 1;
  __int128 v = static_cast<__int128>(q) * d;
  // Only the last step at either end of the range can overflow; keep the
  // value truncated there rather than wrap.
  if (!FitsInt64(v)) v -= x < 0 ? -d : d;
  return static_cast<int64_t>(v);
}

std::string DecimalToText(int64_t x) {
  const bool negative = x < 0;
  // Work on the magnitude as unsigned so that the smallest value does not overflow.
  uint64_t m = negative ? 0 - static_cast<uint64_t>(x) : static_cast<uint64_t>(x);
  std::string text = std::to_string(m / kDecimalUnit);
  uint64_t frac = m % kDecimalUnit;
  if (frac != 0) {
    char digits[5] = {0};
    for (int i = 3; i >= 0; --i) {
      digits[i] = static_cast<char>('0' + frac % 10);
      frac /= 10;
    }
    int len = 4;
    while (digits[len - 1] == '0') --len;
    text += '.';
    text.append(digits, len);
  }
  return negative ? "-" + text : text;
}

bool TextToDecimal(std::string_view s, int scale, int64_t& out) noexcept {
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && s[i] == '-') {
    negative = true;
    ++i;
  }
  __int128 whole = 0;
  int64_t frac = 0;  // first four decimals
  int fracDigits = 0;
  bool roundUp = false;
  bool seenDigit = false, seenPoint = false;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (c == '.') {
      if (seenPoint) return false;
      seenPoint = true;
    } else if (c >= '0' && c <= '9') {
      seenDigit = true;
      if (!seenPoint) {
        whole = whole * 10 + (c - '0');
        if (whole > std::numeric_limits<int64_t>::max()) return false;
      } else if (fracDigits < 4) {
        frac = frac * 10 + (c - '0');
        ++fracDigits;
      } else if (fracDigits == 4) {
        roundUp = c >= '5';  // the fifth decimal decides; later digits do not matter
        ++fracDigits;
      }
    } else {
      return false;
    }
  }
  if (!seenDigit) return false;
  for (int k = fracDigits; k < 4; ++k) frac *= 10;
  __int128 v = whole * kDecimalUnit + frac + (roundUp ? 1 : 0);
  if (negative) v = -v;
  if (!FitsInt64(v)) return false;
  out = DecimalRoundToScale(static_cast<int64_t>(v), scale);
  return true;
}

bool DivRoundEven(__int128 num, __int128 den, int64_t& out) noexcept {
  if (den == 0) return false;
  if (den < 0) {
    num = -num;
    den = -den;
  }
  __int128 q = num / den;
  __int128 r = num % den;  // sign of num
  __int128 twice = r < 0 ? -2 * r : 2 * r;
  if (twice > den || (twice == den && (q % 2 != 0))) q += num < 0 ? -1 : 1;
  if (!FitsInt64(q)) return false;
  out = static_cast<int64_t>(q);
  return true;
}

bool DecimalAdd(int64_t x, int64_t y, int64_t& out) noexcept {
  return !__builtin_add_overflow(x, y, &out);
}

bool DecimalSubtract(int64_t x, int64_t y, int64_t& out) noexcept {
  return !__builtin_sub_overflow(x, y, &out);
}

bool DecimalMultiply(int64_t x, int64_t y, int64_t& out) noexcept {
  return DivRoundEven(static_cast<__int128>(x) * y, kDecimalUnit, out);
}

bool DecimalDivide(int64_t x, int64_t y, int64_t& out) noexcept {
  return DivRoundEven(static_cast<__int128>(x) * kDecimalUnit, y, out);
}

bool IntegerTimesDecimal(int64_t i, int64_t y, int64_t& out) noexcept {
  return !__builtin_mul_overflow(i, y, &out);
}

bool IntegerDividedByDecimal(int64_t i, int64_t y, int64_t& out) noexcept {
  return DivRoundEven(static_cast<__int128>(i) * kDecimalUnit * kDecimalUnit, y, out);
}

bool DecimalDividedByInteger(int64_t x, int64_t i, int64_t& out) noexcept {
  return DivRoundEven(x, i, out);
}

bool IntegerToDecimal(int64_t i, int64_t& out) noexcept {
  return !__builtin_mul_overflow(i, kDecimalUnit, &out);
}

bool FloatToDecimal(double v, int64_t& out) noexcept {
  if (!std::isfinite(v)) return false;
  double scaled = std::nearbyint(v * kDecimalUnit);  // default mode: ties to even
  // 2^63 is exactly representable; anything at or above it does not fit.
  if (scaled >= 9223372036854775808.0 || scaled < -9223372036854775808.0) return false;
  out = static_cast<int64_t>(scaled);
  return true;
}

}  // namespace znt
