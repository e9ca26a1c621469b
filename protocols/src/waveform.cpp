// Vector code (the convention is in the top-level CMakeLists.txt): each
// conversion is a plain loop, vectorised at each level it is compiled for,
// and only without trapping math (flat samples at AVX2 and NEON are
// converted by hand); the level the binary chose picks the version.
#include "protocols/waveform.hpp"

#include <cstdio>
#include <cstdlib>

#include "protocols/config.hpp"
#include "waveform_versions.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__aarch64__)
#include <arm_neon.h>
#endif

namespace protocols {
namespace {

// Added before truncation, this is round-half-away-from-zero for every
// y = x * 32767 with x in [0, 1]: exact halves reach the next integer, and
// the largest double below a half does not. Unlike std::round it vectorises.
constexpr double HALF_BELOW = 0.49999999999999994;
static_assert(HALF_BELOW < 0.5 && 0.5 - HALF_BELOW == 0x1p-54);

// One branch-free pass; the step is fixed at compile time, where the loads
// vectorise too.
template <std::ptrdiff_t STEP>
[[gnu::always_inline]] inline bool levels_loop(const double* first, std::size_t n, std::int16_t* out) noexcept {
    std::int64_t outside = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double v = first[static_cast<std::ptrdiff_t>(i) * STEP];
        const bool inside = (v >= config::MIN_FRACTION) & (v <= config::MAX_FRACTION);
        outside |= !inside;
        const double fraction = inside ? v : 0.0;
        out[i] = static_cast<std::int16_t>(static_cast<std::int32_t>(fraction * config::LEVEL_FULL_SCALE + HALF_BELOW));
    }
    return outside == 0;
}

[[gnu::always_inline]] inline void fractions_loop(const std::int16_t* levels, std::size_t n, double* out) noexcept {
    for (std::size_t i = 0; i < n; ++i) out[i] = levels[i] / config::LEVEL_FULL_SCALE;
}

// The layouts read in place; any other step is the caller's mistake, which
// must not write other levels than the samples give: it stops the process.
[[gnu::always_inline]] inline bool levels_any_step(const double* first, std::ptrdiff_t step, std::size_t n,
                                                   std::int16_t* out) noexcept {
    if (step == 1) return levels_loop<1>(first, n, out);
    if (step == -1) return levels_loop<-1>(first, n, out);
    if (step == 2) return levels_loop<2>(first, n, out);
    std::fprintf(stderr, "levels_from_fractions: a step of %td samples; the caller gathers all but 1, -1 and 2\n",
                 step);
    std::abort();
}

bool levels_baseline(const double* first, std::ptrdiff_t step, std::size_t n, std::int16_t* out) noexcept {
    return levels_any_step(first, step, n, out);
}
void fractions_baseline(const std::int16_t* levels, std::size_t n, double* out) noexcept {
    fractions_loop(levels, n, out);
}

#if defined(__x86_64__)
// Flat samples, sixteen at a time by hand. A sample outside [0, 1] is
// flagged, not converted as 0.0 (its conversion saturates; the caller
// discards the run): above 1 or NaN by one compare, below 0 by its sign bit,
// gathered for the run. That also flags -0.0, which lies inside: a run
// whose signs are set is checked again exactly.
[[gnu::target("arch=x86-64-v3")]] bool levels_flat_avx2(const double* in, std::size_t n, std::int16_t* out) noexcept {
    const __m256d scale = _mm256_set1_pd(config::LEVEL_FULL_SCALE), half = _mm256_set1_pd(HALF_BELOW);
    const __m256d high = _mm256_set1_pd(config::MAX_FRACTION);
    static_assert(config::MIN_FRACTION == 0.0, "below the range is a sign bit");
    __m256d above = _mm256_setzero_pd(), signs = _mm256_setzero_pd();
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        __m128i part[4];
        for (int k = 0; k < 4; ++k) {
            const __m256d x = _mm256_loadu_pd(in + i + 4 * k);
            above = _mm256_or_pd(above, _mm256_cmp_pd(x, high, _CMP_NLE_UQ));
            signs = _mm256_or_pd(signs, x);
            part[k] = _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_mul_pd(x, scale), half));
        }
        // Packed lane by lane: 0, 2, 1, 3; put back in order.
        const __m256i packed = _mm256_packus_epi32(_mm256_set_m128i(part[1], part[0]), _mm256_set_m128i(part[3], part[2]));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_permute4x64_epi64(packed, 0xd8));
    }
    if (!levels_loop<1>(in + i, n - i, out + i) || !_mm256_testz_pd(above, above)) return false;
    return _mm256_movemask_pd(signs) == 0 || levels_loop<1>(in, i, out);  // -0.0, or below 0
}

[[gnu::target("arch=x86-64-v3")]] bool levels_avx2(const double* first, std::ptrdiff_t step, std::size_t n,
                                                   std::int16_t* out) noexcept {
    if (step == 1) return levels_flat_avx2(first, n, out);
    return levels_any_step(first, step, n, out);
}
[[gnu::target("arch=x86-64-v4")]] bool levels_avx512(const double* first, std::ptrdiff_t step, std::size_t n,
                                                     std::int16_t* out) noexcept {
    return levels_any_step(first, step, n, out);
}
[[gnu::target("arch=x86-64-v3")]] void fractions_avx2(const std::int16_t* levels, std::size_t n, double* out) noexcept {
    fractions_loop(levels, n, out);
}
[[gnu::target("arch=x86-64-v4")]] void fractions_avx512(const std::int16_t* levels, std::size_t n,
                                                        double* out) noexcept {
    fractions_loop(levels, n, out);
}
#else
constexpr auto levels_avx2 = levels_baseline, levels_avx512 = levels_baseline;
constexpr auto fractions_avx2 = fractions_baseline, fractions_avx512 = fractions_baseline;
#endif

#if defined(__aarch64__)
// Flat samples, eight at a time by hand, as the AVX2 version takes them:
// a sample above 1 or NaN is flagged by one compare, one below 0 by its
// sign bit (and -0.0, inside, by the exact check of a run whose signs are
// set); the conversion truncates after the multiply and the add, each
// rounded on its own.
bool levels_flat_neon(const double* in, std::size_t n, std::int16_t* out) noexcept {
    const float64x2_t scale = vdupq_n_f64(config::LEVEL_FULL_SCALE), half = vdupq_n_f64(HALF_BELOW);
    const float64x2_t high = vdupq_n_f64(config::MAX_FRACTION);
    static_assert(config::MIN_FRACTION == 0.0, "below the range is a sign bit");
    uint64x2_t above = vdupq_n_u64(0), signs = vdupq_n_u64(0);
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        int32x2_t part[4];
        for (int k = 0; k < 4; ++k) {
            const float64x2_t x = vld1q_f64(in + i + 2 * k);
            above = vorrq_u64(above, vreinterpretq_u64_u32(vmvnq_u32(vreinterpretq_u32_u64(vcleq_f64(x, high)))));
            signs = vorrq_u64(signs, vreinterpretq_u64_f64(x));
            part[k] = vmovn_s64(vcvtq_s64_f64(vaddq_f64(vmulq_f64(x, scale), half)));
        }
        const int32x4_t first = vcombine_s32(part[0], part[1]), second = vcombine_s32(part[2], part[3]);
        vst1q_s16(out + i, vcombine_s16(vmovn_s32(first), vmovn_s32(second)));
    }
    if (!levels_loop<1>(in + i, n - i, out + i) || vmaxvq_u32(vreinterpretq_u32_u64(above)) != 0) return false;
    const bool no_signs = (vgetq_lane_u64(signs, 0) | vgetq_lane_u64(signs, 1)) >> 63 == 0;
    return no_signs || levels_loop<1>(in, i, out);  // -0.0, or below 0
}

bool levels_neon(const double* first, std::ptrdiff_t step, std::size_t n, std::int16_t* out) noexcept {
    if (step == 1) return levels_flat_neon(first, n, out);
    return levels_any_step(first, step, n, out);
}
#else
constexpr auto levels_neon = levels_baseline;
#endif

}  // namespace

namespace versions {
const cpu::Versions<LevelsFromFractions> levels_from_fractions =
    cpu::versions<LevelsFromFractions>(levels_baseline, levels_avx2, levels_avx512, levels_neon);
// The loop that converts levels back vectorises as it is, at every level.
const cpu::Versions<FractionsFromLevels> fractions_from_levels =
    cpu::versions<FractionsFromLevels>(fractions_baseline, fractions_avx2, fractions_avx512, fractions_baseline);
}  // namespace versions

bool levels_from_fractions(const double* first, std::ptrdiff_t step, std::size_t n, std::int16_t* out) noexcept {
    return versions::levels_from_fractions[cpu::index(cpu::level())](first, step, n, out);
}

void fractions_from_levels(const std::int16_t* levels, std::size_t n, double* out) noexcept {
    versions::fractions_from_levels[cpu::index(cpu::level())](levels, n, out);
}

}  // namespace protocols
