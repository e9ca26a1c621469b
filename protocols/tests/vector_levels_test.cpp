// Every vectorised loop at every level this machine runs, against the
// baseline's results, on the edge cases each loop has: lengths around the
// vector widths, buffers that end where the data ends (for the sanitizers
// to watch), halves exactly between two levels, NaN, and samples out of
// range at the first, a middle and the last position.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "level_varints.hpp"
#include "protocols/cpu.hpp"
#include "scans.hpp"
#include "waveform_versions.hpp"

namespace protocols {
namespace {

using cpu::Level;

// ctest runs the suite again at lower levels (AtLevel.*), naming the level
// each run expects: a run at a level that this machine does not have skips
// every test rather than run them again at another.
class ExpectedLevel : public ::testing::Environment {
public:
    void SetUp() override {
        const char* expected = std::getenv("PYDREL_EXPECT_LEVEL");
        if (expected != nullptr && cpu::name(cpu::level()) != expected) {
            GTEST_SKIP() << "this machine runs at " << cpu::name(cpu::level()) << ", not at " << expected;
        }
    }
};
[[maybe_unused]] ::testing::Environment* const expected_level =
    ::testing::AddGlobalTestEnvironment(new ExpectedLevel);

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

// A step that no layout is read in place with is the caller's mistake: it
// stops the process, at every level, and writes no level.
TEST(VectorLevelsDeathTest, AStepNotReadInPlaceStops) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::vector<double> data(30, 0.5);
    for (const Level level : levels_here()) {
        for (const std::ptrdiff_t step : {0, 3, -2}) {
            std::vector<std::int16_t> out(10, -1);
            EXPECT_DEATH(versions::levels_from_fractions[cpu::index(level)](data.data() + 10, step, 5, out.data()),
                         "levels_from_fractions: a step of " + std::to_string(step) + " samples")
                << cpu::name(level);
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

// The levels in [in, end) as the wire rules read them, one byte at a time:
// the levels up to the first that breaks a rule (failed) or that the data
// cuts off, and where each of them ends.
struct Reference {
    std::vector<std::int16_t> levels;
    std::vector<const std::uint8_t*> ends;
    bool failed = false;
};
Reference read_strictly(const std::uint8_t* in, const std::uint8_t* end) {
    Reference r;
    const std::uint8_t* p = in;
    while (p < end) {
        std::uint32_t z = 0;
        const std::uint8_t* q = p;
        for (unsigned k = 0;; ++k, ++q) {
            if (q == end) return r;  // cut off
            const std::uint8_t b = *q;
            if ((k == 2 && b > 3) || (k > 0 && b == 0)) {
                r.failed = true;
                return r;
            }
            z |= static_cast<std::uint32_t>(b & 0x7f) << (7 * k);
            if (b < 0x80) break;
        }
        r.levels.push_back(static_cast<std::int16_t>((z >> 1) ^ (0u - (z & 1))));
        r.ends.push_back(p = q + 1);
    }
    return r;
}

// The level decoders at every level this machine runs, each followed by
// the one-by-one decoder as the library follows it, on bad bytes at every
// level of the first vector widths: a third byte of 4 (a level beyond 16
// bits) and of 3 (the largest that is not), a last byte of 0 after one
// continuation byte or two (not the shortest form), a fourth byte, and the
// data cut off inside each level. Each decodes a part of what the wire
// rules read, exactly, stops at the end of a level and never past the data,
// and fails only where a level breaks a rule.
TEST(VectorLevels, LevelVarintDecodersRefuseAsTheRulesDo) {
    std::vector<std::pair<std::string_view, versions::GetLevels>> here;
    for (const Level level : levels_here()) {
        if (level_decoder_level(level, cpu::compresses()) == level) {
            here.emplace_back(cpu::name(level), versions::get_level_varints[cpu::index(level)]);
        }
    }
    std::mt19937 random(13);
    std::vector<std::int16_t> levels(200);
    for (auto& l : levels) l = static_cast<std::int16_t>(random() % 3 == 0 ? random() % 64 : random());
    std::vector<std::uint8_t> good(3 * levels.size() + LEVEL_VARINT_SLACK);
    const std::size_t length =
        static_cast<std::size_t>(put_level_varints(good.data(), levels.data(), levels.size()) - good.data());
    good.resize(length);
    std::vector<std::size_t> at{0};  // where each level starts
    for (std::size_t i = 0; i < length; ++i) {
        if (good[i] < 0x80) at.push_back(i + 1);
    }
    struct Spoilt {
        std::vector<std::uint8_t> bytes;
        std::size_t end;  // of the data
    };
    std::vector<Spoilt> cases;
    for (std::size_t k = 0; k < 120; ++k) {
        const std::size_t from = at[k], to = at[k + 1];
        for (const std::vector<std::uint8_t>& level : std::vector<std::vector<std::uint8_t>>{
                 {0xff, 0xff, 0x04}, {0xff, 0xff, 0x03}, {0x81, 0x00}, {0x81, 0x80, 0x00}, {0x80, 0x80, 0x80, 0x01}}) {
            std::vector<std::uint8_t> bytes(good.begin(), good.begin() + static_cast<long>(from));
            bytes.insert(bytes.end(), level.begin(), level.end());
            bytes.insert(bytes.end(), good.begin() + static_cast<long>(to), good.end());
            cases.push_back({bytes, bytes.size()});
        }
        for (std::size_t cut = from; cut <= to; ++cut) cases.push_back({good, cut});
    }
    std::size_t failures = 0;
    for (const Spoilt& c : cases) {
        // The bytes before the first level end a count; the decoders look back at them.
        std::vector<std::uint8_t> buffer(LEVEL_LOOK_BACK, 0);
        buffer.insert(buffer.end(), c.bytes.begin(), c.bytes.end());
        buffer.resize(buffer.size() + 64, 0x01);  // past the data's end: bytes that would make levels
        const std::uint8_t* first = buffer.data() + LEVEL_LOOK_BACK;
        const std::uint8_t* end = first + c.end;
        const Reference truth = read_strictly(first, end);
        for (const auto& [name, version] : here) {
            std::vector<std::int16_t> got(levels.size() + 32, 0);
            const LevelRun bulk = version(first, end, got.data(), levels.size());
            ASSERT_FALSE(bulk.failed) << name;  // the bulk decoders leave failures to the one-by-one decoder
            const LevelRun rest = get_levels_one_by_one(bulk.end, end, got.data() + bulk.levels, levels.size() - bulk.levels);
            const std::size_t n = bulk.levels + rest.levels;
            ASSERT_LE(n, truth.levels.size()) << name << ": a level past a bad one or the data's end, data of " << c.end;
            ASSERT_TRUE(std::equal(truth.levels.begin(), truth.levels.begin() + static_cast<long>(n), got.begin())) << name;
            ASSERT_EQ(rest.end, n == 0 ? first : truth.ends[n - 1]) << name;
            if (rest.failed) {
                ASSERT_TRUE(truth.failed && n == truth.levels.size()) << name << ": fails at a good level";
                ++failures;
            }
        }
    }
    EXPECT_GT(failures, 400u * here.size());  // the bad levels were reached, by every version
}

struct Disabled {
    Level top;
    const char* value;
    Level level;
    bool refused;
};

#if defined(__x86_64__)
TEST(VectorLevels, TheDecoderFallsBackWhereTheCpuCannotCompressLanes) {
    EXPECT_EQ(level_decoder_level(Level::Avx512, false), Level::Avx2);
    EXPECT_EQ(level_decoder_level(Level::Avx512, true), Level::Avx512);
    EXPECT_EQ(level_decoder_level(Level::Avx2, false), Level::Avx2);
    EXPECT_EQ(level_decoder_level(Level::Baseline, true), Level::Baseline);
}

TEST(CpuLevel, TheVariableTurnsLevelsOff) {
    for (const Disabled& d : {Disabled{Level::Avx512, "", Level::Avx512, false},
                              Disabled{Level::Avx512, "AVX512F", Level::Avx2, false},
                              Disabled{Level::Avx512, "AVX512F AVX2", Level::Baseline, false},
                              Disabled{Level::Avx512, "avx2", Level::Baseline, false},  // and so AVX-512
                              Disabled{Level::Avx2, " ,AVX512F,, ", Level::Avx2, false},  // what it lacks
                              Disabled{Level::Avx512, "AVX2 SSE9", Level::Avx512, true},
                              Disabled{Level::Avx512, "NEON", Level::Avx512, true}}) {  // an Arm feature
        const cpu::Choice c = cpu::choose(d.top, d.value);
        EXPECT_EQ(c.level, d.level) << d.value;
        EXPECT_EQ(c.error.has_value(), d.refused) << d.value;
    }
    EXPECT_EQ(*cpu::choose(Level::Avx2, "SSE9").error,
              "PYDREL_DISABLE_CPU_FEATURES names 'SSE9', which is no CPU feature of pydrel's: they are AVX2 and AVX512F");
}
#elif defined(__aarch64__)
TEST(CpuLevel, EveryAarch64CpuRunsNeon) { EXPECT_EQ(cpu::supported(), Level::Neon); }

TEST(CpuLevel, TheVariableTurnsLevelsOff) {
    for (const Disabled& d : {Disabled{Level::Neon, "", Level::Neon, false},
                              Disabled{Level::Neon, "NEON", Level::Baseline, false},
                              Disabled{Level::Neon, " neon, ", Level::Baseline, false},
                              Disabled{Level::Neon, "AVX2", Level::Neon, true}}) {  // an x86-64 feature
        const cpu::Choice c = cpu::choose(d.top, d.value);
        EXPECT_EQ(c.level, d.level) << d.value;
        EXPECT_EQ(c.error.has_value(), d.refused) << d.value;
    }
    EXPECT_EQ(*cpu::choose(Level::Neon, "SSE9").error,
              "PYDREL_DISABLE_CPU_FEATURES names 'SSE9', which is no CPU feature of pydrel's: it is NEON");
}
#endif

}  // namespace
}  // namespace protocols
