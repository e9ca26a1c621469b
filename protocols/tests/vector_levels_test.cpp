// Every vectorised loop at every level this machine runs, against the
// baseline's results, on the edge cases each loop has: lengths around the
// vector widths, buffers that end where the data ends (for the sanitizers
// to watch), halves exactly between two levels, NaN, and samples out of
// range at the first, a middle and the last position.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "level_varints.hpp"
#include "protocols/cpu.hpp"
#include "scans.hpp"
#include "waveform_versions.hpp"

namespace protocols {
namespace {

using cpu::Level;

std::vector<Level> levels_here() {
    std::vector<Level> out;
    for (const Level l : cpu::LEVELS) {
        if (cpu::index(l) <= cpu::index(cpu::supported())) out.push_back(l);
    }
    return out;
}

std::vector<std::size_t> lengths() {
    std::vector<std::size_t> out;
    for (std::size_t n = 0; n <= 70; ++n) out.push_back(n);
    for (const std::size_t n : {127u, 128u, 129u, 255u, 256u, 257u, 2047u, 2048u, 2049u, 6250u}) out.push_back(n);
    return out;
}

// Fractions with every kind of sample: ties between two levels and the
// doubles beside them, the ends of the range, and random ones.
std::vector<double> fractions(std::size_t n, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<double> out(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double tie = (static_cast<double>(random() % 32767) + 0.5) / 32767.0;
        switch (i % 6) {
            case 0: out[i] = tie; break;
            case 1: out[i] = std::nextafter(tie, 0.0); break;
            case 2: out[i] = std::nextafter(tie, 1.0); break;
            case 3: out[i] = i % 18 == 3 ? 0.0 : i % 18 == 9 ? -0.0 : 1.0; break;  // -0.0 lies inside
            default: out[i] = std::uniform_real_distribution<double>(0.0, 1.0)(random);
        }
    }
    return out;
}

TEST(VectorLevels, LevelsFromFractionsAsTheBaselineMakesThem) {
    const auto& versions = versions::levels_from_fractions;
    const double bad[] = {std::numeric_limits<double>::quiet_NaN(), -5e-324, std::nextafter(1.0, 2.0),
                          std::numeric_limits<double>::infinity()};
    for (const Level level : levels_here()) {
        for (const std::size_t n : lengths()) {
            for (const std::ptrdiff_t step : {1, -1, 2}) {
                const std::size_t span = n == 0 ? 0 : (n - 1) * static_cast<std::size_t>(std::abs(step)) + 1;
                std::vector<double> data = fractions(span, static_cast<std::uint32_t>(n));
                const double* first = step < 0 && span > 0 ? data.data() + span - 1 : data.data();
                std::vector<std::int16_t> want(n), got(n);
                const bool base = versions[0](first, step, n, want.data());
                ASSERT_TRUE(base);
                ASSERT_EQ(versions[cpu::index(level)](first, step, n, got.data()), base) << cpu::name(level) << n;
                ASSERT_EQ(got, want) << cpu::name(level) << " n " << n << " step " << step;
                // One bad sample, first, in the middle or last, fails the run.
                for (const std::size_t at : {std::size_t{0}, n / 2, n - 1}) {
                    if (n == 0) break;
                    for (const double b : bad) {
                        std::vector<double> spoilt = data;
                        spoilt[step < 0 ? span - 1 - at : at * static_cast<std::size_t>(std::abs(step))] = b;
                        const double* f = step < 0 ? spoilt.data() + span - 1 : spoilt.data();
                        EXPECT_FALSE(versions[cpu::index(level)](f, step, n, got.data())) << cpu::name(level) << at;
                    }
                }
            }
        }
    }
}

TEST(VectorLevels, FractionsFromLevelsAsTheBaselineMakesThem) {
    std::vector<std::int16_t> all;
    for (int v = -32768; v <= 32767; ++v) all.push_back(static_cast<std::int16_t>(v));
    for (const Level level : levels_here()) {
        for (const std::size_t n : lengths()) {
            const std::vector<std::int16_t> levels(all.begin() + 32768, all.begin() + 32768 + static_cast<long>(n));
            std::vector<double> want(n), got(n);
            versions::fractions_from_levels[0](levels.data(), n, want.data());
            versions::fractions_from_levels[cpu::index(level)](levels.data(), n, got.data());
            for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(std::bit_cast<std::uint64_t>(got[i]), std::bit_cast<std::uint64_t>(want[i]));
        }
        // Every level, negatives too, and back again to the same level.
        std::vector<double> back(all.size());
        versions::fractions_from_levels[cpu::index(level)](all.data(), all.size(), back.data());
        std::vector<std::int16_t> again(32768);
        ASSERT_TRUE(versions::levels_from_fractions[cpu::index(level)](back.data() + 32768, 1, 32768, again.data()));
        EXPECT_TRUE(std::equal(again.begin(), again.end(), all.begin() + 32768)) << cpu::name(level);
    }
}

TEST(VectorLevels, ScansAsTheBaselineMakesThem) {
    std::mt19937 random(5);
    for (const Level level : levels_here()) {
        const auto i = cpu::index(level);
        for (const std::size_t n : lengths()) {
            if (n == 0) continue;
            for (const std::size_t at : {std::size_t{0}, n / 2, n - 1}) {
                std::vector<std::int16_t> a(n), b(n);
                for (std::size_t k = 0; k < n; ++k) a[k] = b[k] = static_cast<std::int16_t>(random() % 2000);
                a[at] = -32768;  // the lowest, a negative, and the largest difference, in one place
                b[at] = 32767;
                const LevelRange want = versions::level_range[0](a.data(), n), got = versions::level_range[i](a.data(), n);
                EXPECT_EQ((std::pair{got.min, got.max}), (std::pair{want.min, want.max})) << cpu::name(level) << n;
                EXPECT_EQ(want.min, -32768);
                EXPECT_EQ(versions::count_negative[i](a.data(), n), versions::count_negative[0](a.data(), n));
                const LevelComparison w = versions::compare_levels[0](a.data(), b.data(), n);
                const LevelComparison g = versions::compare_levels[i](a.data(), b.data(), n);
                EXPECT_EQ((std::pair{g.differing, g.max_abs}), (std::pair{w.differing, w.max_abs})) << cpu::name(level);
                EXPECT_EQ(w.max_abs, 65535u);
            }
        }
    }
}

TEST(VectorLevels, LevelVarintsAsTheBaselineWritesThem) {
    std::mt19937 random(9);
    for (const Level level : levels_here()) {
        for (const std::size_t n : lengths()) {
            std::vector<std::int16_t> levels(n);
            for (auto& l : levels) l = static_cast<std::int16_t>(random() % 3 == 0 ? random() % 64 : random());
            std::vector<std::uint8_t> want(3 * n + LEVEL_VARINT_SLACK), got(want.size());
            const auto* w = versions::put_level_varints[0](want.data(), levels.data(), n);
            const auto* g = versions::put_level_varints[cpu::index(level)](got.data(), levels.data(), n);
            ASSERT_EQ(g - got.data(), w - want.data()) << cpu::name(level) << n;
            ASSERT_TRUE(std::equal(want.data(), want.data() + (w - want.data()), got.data())) << cpu::name(level) << n;
        }
    }
}

struct Disabled {
    Level top;
    const char* value;
    Level level;
    bool refused;
};

TEST(CpuLevel, TheVariableTurnsLevelsOff) {
    for (const Disabled& d : {Disabled{Level::Avx512, "", Level::Avx512, false},
                              Disabled{Level::Avx512, "AVX512F", Level::Avx2, false},
                              Disabled{Level::Avx512, "AVX512F AVX2", Level::Baseline, false},
                              Disabled{Level::Avx512, "avx2", Level::Baseline, false},  // and so AVX-512
                              Disabled{Level::Avx2, " ,AVX512F,, ", Level::Avx2, false},  // what it lacks
                              Disabled{Level::Avx512, "AVX2 SSE9", Level::Avx512, true}}) {
        const cpu::Choice c = cpu::choose(d.top, d.value);
        EXPECT_EQ(c.level, d.level) << d.value;
        EXPECT_EQ(c.error.has_value(), d.refused) << d.value;
    }
    EXPECT_EQ(*cpu::choose(Level::Avx2, "SSE9").error,
              "PYDREL_DISABLE_CPU_FEATURES names 'SSE9', which is no CPU feature of pydrel's: they are AVX2 and AVX512F");
}

}  // namespace
}  // namespace protocols
