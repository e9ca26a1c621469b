// The instruction-set level that every vectorised loop of a binary runs at:
// the highest this CPU has, less what PYDREL_DISABLE_CPU_FEATURES turns off.
// The variable is read once, when the binary (a module, the program) loads,
// as NumPy reads NPY_DISABLE_CPU_FEATURES: a list of feature names, "AVX512F"
// or "AVX512F AVX2", separated by spaces or commas. A level needs the ones
// below it, so disabling AVX2 disables AVX-512 too.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace protocols::cpu {

// The levels of this architecture, lowest first: what the vector code of a
// binary can be built for is the one place that differs between x86-64 and
// aarch64 (the loops' versions are chosen through versions() below).
#if defined(__aarch64__)
enum class Level : std::uint8_t {
    Baseline,  // aarch64: the portable code, scalar
    Neon,      // Advanced SIMD, which every aarch64 CPU has
};
inline constexpr std::size_t LEVEL_COUNT = 2;
inline constexpr std::array<Level, LEVEL_COUNT> LEVELS = {Level::Baseline, Level::Neon};
#else
enum class Level : std::uint8_t {
    Baseline,  // x86-64: SSE2
    Avx2,      // x86-64-v3: AVX2, BMI2, FMA (never fused: -ffp-contract=off)
    Avx512,    // x86-64-v4: AVX-512 F, BW, DQ and VL
};
inline constexpr std::size_t LEVEL_COUNT = 3;
inline constexpr std::array<Level, LEVEL_COUNT> LEVELS = {Level::Baseline, Level::Avx2, Level::Avx512};
#endif

// "baseline", "AVX2", "AVX-512"; on aarch64 "baseline", "NEON".
std::string_view name(Level level) noexcept;
// The feature whose name in the variable turns the level off: "AVX2",
// "AVX512F"; "NEON".
std::string_view feature(Level level) noexcept;

// The highest level this CPU runs.
Level supported() noexcept;
// Whether this CPU also compresses 16-bit lanes (AVX-512 VBMI2), which the
// widest level decoder needs.
bool compresses() noexcept;

// The level the loops run at.
Level level() noexcept;

// Why PYDREL_DISABLE_CPU_FEATURES could not be taken (it names a feature
// this library does not know), for the loader to report; then the level is
// the supported one.
const std::optional<std::string>& environment_error() noexcept;

// The level a value of the variable leaves on a CPU that supports `top`, or
// why the value is refused.
struct Choice {
    Level level;
    std::optional<std::string> error;
};
Choice choose(Level top, std::string_view disabled);

// A loop's versions, one a level, compiled for it: the entry at
// index(level()) runs.
template <class F>
using Versions = std::array<F, LEVEL_COUNT>;
inline constexpr std::size_t index(Level level) noexcept { return static_cast<std::size_t>(level); }

// A loop's table of versions from all it has: those of this architecture's
// levels, in their order (a version of another architecture's level is
// the baseline's there, or whatever stands for it).
template <class F>
constexpr Versions<F> versions(F baseline, [[maybe_unused]] F avx2, [[maybe_unused]] F avx512,
                               [[maybe_unused]] F neon) noexcept {
#if defined(__aarch64__)
    return {baseline, neon};
#else
    return {baseline, avx2, avx512};
#endif
}

}  // namespace protocols::cpu
