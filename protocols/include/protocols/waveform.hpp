// A waveform's samples between their two forms: fractions of full scale, as
// scripts give them, and the 16-bit levels that a protocol stores. Both loops
// run at the level protocols/cpu.hpp chooses.
#pragma once

#include <cstddef>
#include <cstdint>

namespace protocols {

// Writes the level of each of n samples, `step` doubles apart from `first`,
// round(sample * 32767) with halves away from zero. The step is 1, -1 or 2,
// the layouts read in place; the caller gathers others first, and any other
// step stops the process.
// Returns whether every sample lay inside [0, 1] (NaN does not); those
// outside are converted as 0.0, so that nothing overflows, and the caller
// discards what was written.
bool levels_from_fractions(const double* first, std::ptrdiff_t step, std::size_t n, std::int16_t* out) noexcept;

// The fraction of each of the n levels, level / 32767, exact to the double:
// converting them back gives the same levels.
void fractions_from_levels(const std::int16_t* levels, std::size_t n, double* out) noexcept;

}  // namespace protocols
