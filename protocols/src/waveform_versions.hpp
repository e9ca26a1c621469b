// The versions of the waveform conversions, one a level, for the tests to
// run side by side.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocols/cpu.hpp"

namespace protocols::versions {

using LevelsFromFractions = bool (*)(const double*, std::ptrdiff_t, std::size_t, std::int16_t*) noexcept;
using FractionsFromLevels = void (*)(const std::int16_t*, std::size_t, double*) noexcept;
extern const cpu::Versions<LevelsFromFractions> levels_from_fractions;
extern const cpu::Versions<FractionsFromLevels> fractions_from_levels;

}  // namespace protocols::versions
