// The bulk of a protocol file: the zigzag varints of a waveform's levels.
#pragma once

#include <cstddef>
#include <cstdint>

namespace protocols {

// Bytes that put_level_varints may store past the end of what it writes.
inline constexpr std::size_t LEVEL_VARINT_SLACK = 16;

// Writes the zigzag varint (1 to 3 bytes) of each of the n levels at `out`,
// which must have room for 3 * n + LEVEL_VARINT_SLACK bytes; returns the end
// of the bytes written.
std::uint8_t* put_level_varints(std::uint8_t* out, const std::int16_t* levels, std::size_t n) noexcept;

}  // namespace protocols
