// Vector code (the convention is in the top-level CMakeLists.txt): each loop
// vectorises at the -O3 of optimised builds.
#include "scans.hpp"

#include <algorithm>
#include <cstdlib>

namespace protocols {

LevelRange level_range(const std::int16_t* levels, std::size_t n) noexcept {
    std::int16_t lo = levels[0], hi = levels[0];
    for (std::size_t i = 0; i < n; ++i) {
        const std::int16_t v = levels[i];  // by value: std::min's reference defeats the vectoriser
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
    }
    return {lo, hi};
}

std::size_t count_negative(const std::int16_t* levels, std::size_t n) noexcept {
    std::size_t count = 0;
    for (std::size_t i = 0; i < n; ++i) count += levels[i] < 0;
    return count;
}

LevelComparison compare_levels(const std::int16_t* a, const std::int16_t* b, std::size_t n) noexcept {
    std::uint64_t differing = 0;
    std::uint32_t max_abs = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto d = static_cast<std::uint32_t>(std::abs(static_cast<std::int32_t>(a[i]) - b[i]));
        differing += d != 0;
        max_abs = d > max_abs ? d : max_abs;
    }
    return {differing, max_abs};
}

}  // namespace protocols
