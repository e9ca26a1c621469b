// Vector code (the convention is in the top-level CMakeLists.txt): each scan
// is one plain loop, which the compiler vectorises at each level it is
// compiled for; the level the binary chose picks the version.
#include "scans.hpp"

#include <algorithm>
#include <cstdlib>

namespace protocols {
namespace {

[[gnu::always_inline]] inline LevelRange range_loop(const std::int16_t* levels, std::size_t n) noexcept {
    std::int16_t lo = levels[0], hi = levels[0];
    for (std::size_t i = 0; i < n; ++i) {
        const std::int16_t v = levels[i];  // by value: std::min's reference defeats the vectoriser
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
    }
    return {lo, hi};
}

[[gnu::always_inline]] inline std::size_t negative_loop(const std::int16_t* levels, std::size_t n) noexcept {
    std::size_t count = 0;
    for (std::size_t i = 0; i < n; ++i) count += levels[i] < 0;
    return count;
}

[[gnu::always_inline]] inline LevelComparison compare_loop(const std::int16_t* a, const std::int16_t* b,
                                                          std::size_t n) noexcept {
    std::uint64_t differing = 0;
    std::uint32_t max_abs = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto d = static_cast<std::uint32_t>(std::abs(static_cast<std::int32_t>(a[i]) - b[i]));
        differing += d != 0;
        max_abs = d > max_abs ? d : max_abs;
    }
    return {differing, max_abs};
}

LevelRange range_baseline(const std::int16_t* l, std::size_t n) noexcept { return range_loop(l, n); }
std::size_t negative_baseline(const std::int16_t* l, std::size_t n) noexcept { return negative_loop(l, n); }
LevelComparison compare_baseline(const std::int16_t* a, const std::int16_t* b, std::size_t n) noexcept {
    return compare_loop(a, b, n);
}

#if defined(__x86_64__)
[[gnu::target("arch=x86-64-v3")]] LevelRange range_avx2(const std::int16_t* l, std::size_t n) noexcept {
    return range_loop(l, n);
}
[[gnu::target("arch=x86-64-v4")]] LevelRange range_avx512(const std::int16_t* l, std::size_t n) noexcept {
    return range_loop(l, n);
}
[[gnu::target("arch=x86-64-v3")]] std::size_t negative_avx2(const std::int16_t* l, std::size_t n) noexcept {
    return negative_loop(l, n);
}
[[gnu::target("arch=x86-64-v4")]] std::size_t negative_avx512(const std::int16_t* l, std::size_t n) noexcept {
    return negative_loop(l, n);
}
[[gnu::target("arch=x86-64-v3")]] LevelComparison compare_avx2(const std::int16_t* a, const std::int16_t* b,
                                                               std::size_t n) noexcept {
    return compare_loop(a, b, n);
}
[[gnu::target("arch=x86-64-v4")]] LevelComparison compare_avx512(const std::int16_t* a, const std::int16_t* b,
                                                                 std::size_t n) noexcept {
    return compare_loop(a, b, n);
}
#else
constexpr auto range_avx2 = range_baseline, range_avx512 = range_baseline;
constexpr auto negative_avx2 = negative_baseline, negative_avx512 = negative_baseline;
constexpr auto compare_avx2 = compare_baseline, compare_avx512 = compare_baseline;
#endif

}  // namespace

namespace versions {
// On aarch64 the plain loops vectorise with NEON as they are: its level
// runs the baseline's.
using Range = LevelRange (*)(const std::int16_t*, std::size_t) noexcept;
using Negative = std::size_t (*)(const std::int16_t*, std::size_t) noexcept;
using Compare = LevelComparison (*)(const std::int16_t*, const std::int16_t*, std::size_t) noexcept;
const cpu::Versions<Range> level_range = cpu::versions<Range>(range_baseline, range_avx2, range_avx512, range_baseline);
const cpu::Versions<Negative> count_negative =
    cpu::versions<Negative>(negative_baseline, negative_avx2, negative_avx512, negative_baseline);
const cpu::Versions<Compare> compare_levels =
    cpu::versions<Compare>(compare_baseline, compare_avx2, compare_avx512, compare_baseline);
}  // namespace versions

LevelRange level_range(const std::int16_t* levels, std::size_t n) noexcept {
    return versions::level_range[cpu::index(cpu::level())](levels, n);
}

std::size_t count_negative(const std::int16_t* levels, std::size_t n) noexcept {
    return versions::count_negative[cpu::index(cpu::level())](levels, n);
}

LevelComparison compare_levels(const std::int16_t* a, const std::int16_t* b, std::size_t n) noexcept {
    return versions::compare_levels[cpu::index(cpu::level())](a, b, n);
}

}  // namespace protocols
