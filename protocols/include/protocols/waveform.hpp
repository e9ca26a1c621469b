// A waveform's samples between their two forms: fractions of full scale, as
// scripts give them, and the 16-bit levels that a protocol stores.
#pragma once

#include <cstddef>
#include <cstdint>

namespace protocols {

// The fraction of each of the n levels, level / 32767, exact to the double:
// converting them back gives the same levels.
void fractions_from_levels(const std::int16_t* levels, std::size_t n, double* out) noexcept;

}  // namespace protocols
