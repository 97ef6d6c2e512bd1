// DECIMAL arithmetic on the engine's representation: a signed 64-bit count of
// ten-thousandths (x means x / 10000) with a scale of 0 to 4 decimal places.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace znt {

inline constexpr int64_t kDecimalUnit = 10000;
inline constexpr int kMaxDecimalScale = 4;

// Rounds a scaled value to `scale` places (0 to 4), half away from zero, as
// storing into a DECIMAL of that scale does: 2.675 at scale 2 gives 2.68.
int64_t DecimalRoundToScale(int64_t x, int scale) noexcept;

// The value with '.' as decimal point and no trailing zeros: 12.5, 12, -0.05.
std::string DecimalToText(int64_t x);

// Parses an optional '-', digits and at most one '.', with at least one digit,
// and rounds to `scale`; more than four decimals are first rounded half away
// from zero to four. False on any other text or when the value does not fit.
bool TextToDecimal(std::string_view text, int scale, int64_t& out) noexcept;

// Integer division of scaled operands rounding to the nearest, ties to even;
// false when the quotient does not fit or `den` is zero.
bool DivRoundEven(__int128 num, __int128 den, int64_t& out) noexcept;

// The arithmetic of two DECIMALs on their scaled integers; false on overflow
// (and, for the divisions, on a zero divisor).
bool DecimalAdd(int64_t x, int64_t y, int64_t& out) noexcept;
bool DecimalSubtract(int64_t x, int64_t y, int64_t& out) noexcept;
bool DecimalMultiply(int64_t x, int64_t y, int64_t& out) noexcept;    // round(x*y/10000)
bool DecimalDivide(int64_t x, int64_t y, int64_t& out) noexcept;      // round(x/y*10000)
// An integer with a DECIMAL.
bool IntegerTimesDecimal(int64_t i, int64_t y, int64_t& out) noexcept;     // i*y
bool IntegerDividedByDecimal(int64_t i, int64_t y, int64_t& out) noexcept; // round(i/y*10^8)
bool DecimalDividedByInteger(int64_t x, int64_t i, int64_t& out) noexcept; // round(x/i)
bool IntegerToDecimal(int64_t i, int64_t& out) noexcept;                   // i*10000

// FLOAT to DECIMAL: x * 10000 rounded to nearest, ties to even; false when it
// does not fit (or is not a number).
bool FloatToDecimal(double v, int64_t& out) noexcept;
inline double DecimalToFloat(int64_t x) noexcept { return static_cast<double>(x) / kDecimalUnit; }

}  // namespace znt
