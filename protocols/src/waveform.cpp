// Vector code (the convention is in the top-level CMakeLists.txt): the loops
// vectorise at the -O3 of optimised builds.
#include "protocols/waveform.hpp"

#include "protocols/config.hpp"

namespace protocols {

void fractions_from_levels(const std::int16_t* levels, std::size_t n, double* out) noexcept {
    for (std::size_t i = 0; i < n; ++i) out[i] = levels[i] / config::LEVEL_FULL_SCALE;
}

}  // namespace protocols
