// Numeric conversions shared by the tuning and the sample count.
#pragma once

#include <cstdint>

namespace protocols {

// Saturating conversion to an unsigned 64-bit integer, truncating toward
// zero: NaN and negative values give 0, values of 2^64 and above the largest.
constexpr std::uint64_t saturate_to_u64(double v) noexcept {
    if (!(v >= 0.0)) return 0;
    if (v >= 18446744073709551616.0) return UINT64_MAX;
    return static_cast<std::uint64_t>(v);
}

}  // namespace protocols
