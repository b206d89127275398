// Float-to-integer conversions that are defined for every input, and the
// bit-level helpers the exact arithmetic leans on.
#pragma once
#include <cstdint>
#include <cstring>
#include <limits>

// The arithmetic relies on IEEE 754 single and double precision, where a
// double too large for a float converts to infinity.
static_assert(std::numeric_limits<float>::is_iec559 && std::numeric_limits<double>::is_iec559,
              "IEEE 754 floating point is required");
#include <limits>

// Truncates toward zero; NaN and values outside the int32 range give `fallback`.
inline int32_t truncToInt32(double value, int32_t fallback) {
    if (!(value > -2147483649.0 && value < 2147483648.0)) return fallback;
    return static_cast<int32_t>(value);
}

// Truncates toward zero and saturates to [low, high]; NaN gives `nanValue`.
inline int32_t truncClamp(double value, int32_t low, int32_t high, int32_t nanValue) {
    if (value != value) return nanValue;
    if (value <= static_cast<double>(low)) return low;
    if (value >= static_cast<double>(high)) return high;
    return static_cast<int32_t>(value);
}

// Rounds to single precision; values beyond the float range become
// infinities, as the rounding would make them, without an out-of-range cast.
inline float narrowToFloat(double value) {
    const double boundary = 0x1.ffffffp127;  // FLT_MAX plus half a unit in the last place
    if (value >= boundary) return std::numeric_limits<float>::infinity();
    if (value <= -boundary) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

inline uint32_t floatBits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

inline float floatFromBits(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline uint64_t doubleBits(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}
