// The scans over a waveform's levels that its summaries, checks, comparison
// and picture make: one pass each, in loops that vectorise.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocols/cpu.hpp"

namespace protocols {

struct LevelRange {
    std::int16_t min, max;
};
// The lowest and the highest of n > 0 levels.
LevelRange level_range(const std::int16_t* levels, std::size_t n) noexcept;

// How many of the n levels are below 0.
std::size_t count_negative(const std::int16_t* levels, std::size_t n) noexcept;

struct LevelComparison {
    std::uint64_t differing;  // levels
    std::uint32_t max_abs;    // the largest difference
};
// How many of the n levels of a and b differ, and by how much at most.
LevelComparison compare_levels(const std::int16_t* a, const std::int16_t* b, std::size_t n) noexcept;

// Each loop's versions, one a level, for the tests to run side by side.
namespace versions {
extern const cpu::Versions<LevelRange (*)(const std::int16_t*, std::size_t) noexcept> level_range;
extern const cpu::Versions<std::size_t (*)(const std::int16_t*, std::size_t) noexcept> count_negative;
extern const cpu::Versions<LevelComparison (*)(const std::int16_t*, const std::int16_t*, std::size_t) noexcept>
    compare_levels;
}  // namespace versions

}  // namespace protocols
