// The bulk of a protocol file: the zigzag varints of a waveform's levels,
// written and read a run at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocols/cpu.hpp"

namespace protocols {

// Bytes that put_level_varints may store past the end of what it writes.
inline constexpr std::size_t LEVEL_VARINT_SLACK = 16;

// Writes the zigzag varint (1 to 3 bytes) of each of the n levels at `out`,
// which must have room for 3 * n + LEVEL_VARINT_SLACK bytes; returns the end
// of the bytes written.
std::uint8_t* put_level_varints(std::uint8_t* out, const std::int16_t* levels, std::size_t n) noexcept;

// Bytes before the first level that get_level_varints may read: the end of
// the count before it, or of the previous level.
inline constexpr std::size_t LEVEL_LOOK_BACK = 16;
// The fewest bytes worth a run; fewer go one level at a time.
inline constexpr std::size_t MIN_LEVEL_RUN_BYTES = 64;

struct LevelRun {
    std::size_t levels;       // decoded and stored
    const std::uint8_t* end;  // past the last byte of the last level decoded
    bool failed;              // stopped at a level that breaks the wire rules
};

// Decodes at most n levels from [in, end) into `out`, stopping before a level
// that may not end before `end`, and at one that is longer than three bytes,
// beyond 16 bits or not in its shortest form (which the caller then reads on
// its own for the exact failure).
LevelRun get_level_varints(const std::uint8_t* in, const std::uint8_t* end, std::int16_t* out,
                           std::size_t n) noexcept;

// The versions that get_level_varints chooses from, each on its own: the bulk
// ones decode while sixteen or thirty-two levels remain and leave the rest to
// the caller, who goes on one by one. For tests of each on the machine.
LevelRun get_levels_one_by_one(const std::uint8_t* in, const std::uint8_t* end, std::int16_t* out,
                               std::size_t n) noexcept;
#if defined(__aarch64__)
LevelRun get_levels_neon(const std::uint8_t* in, const std::uint8_t* end, std::int16_t* out, std::size_t n) noexcept;
#endif
#if defined(__x86_64__)
[[gnu::target("arch=x86-64-v3")]]
LevelRun get_levels_avx2(const std::uint8_t* in, const std::uint8_t* end, std::int16_t* out, std::size_t n) noexcept;
[[gnu::target("avx512f,avx512bw,avx512vl,avx512vbmi2,popcnt")]]
LevelRun get_levels_avx512(const std::uint8_t* in, const std::uint8_t* end, std::int16_t* out,
                           std::size_t n) noexcept;
#endif

// The level whose decoder get_level_varints runs at a chosen level: the
// widest decoder compresses lanes (AVX-512 VBMI2), which not every AVX-512
// CPU can, and one that cannot falls back to the AVX2 decoder.
constexpr cpu::Level level_decoder_level(cpu::Level chosen, [[maybe_unused]] bool compresses) noexcept {
#if defined(__x86_64__)
    return chosen == cpu::Level::Avx512 && !compresses ? cpu::Level::Avx2 : chosen;
#else
    return chosen;
#endif
}

// The versions, one a level (the decoder's AVX-512 one only where
// cpu::compresses()), for the tests to run side by side.
namespace versions {
using PutLevels = std::uint8_t* (*)(std::uint8_t*, const std::int16_t*, std::size_t) noexcept;
using GetLevels = LevelRun (*)(const std::uint8_t*, const std::uint8_t*, std::int16_t*, std::size_t) noexcept;
extern const cpu::Versions<PutLevels> put_level_varints;
extern const cpu::Versions<GetLevels> get_level_varints;
}  // namespace versions

}  // namespace protocols
