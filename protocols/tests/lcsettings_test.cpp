#include "protocols/lcsettings.hpp"

#include <gtest/gtest.h>

#include <ostream>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "protocols/error.hpp"
#include "protocols/log.hpp"

namespace protocols {
namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

struct Bank {
    std::uint64_t ticks;
    double carrier;
    std::uint64_t bank;
};

std::vector<Bank> banks(const Coil& coil) {
    std::vector<Bank> out;
    for (const auto& s : coil.settings) out.push_back({s.clk_ticks_per_sample, s.carrier_frequency, s.capacitor_bank_setting});
    return out;
}

TEST(CoilTuning, FactoryDefaultCoil) {
    const Coil coil = Coil::factory_default();
    EXPECT_EQ(coil.name, "Default");
    EXPECT_EQ(coil.inductance, 150.0);
    EXPECT_EQ(coil.max_current, 0.1);
    EXPECT_EQ(coil.max_carrier_frequency, 40.0);
    ASSERT_EQ(coil.settings.size(), 1u);
    EXPECT_EQ(coil.settings[0], (LCSetting{330.0, 22.624434389140273, 221, 1}));
}

TEST(CoilTuning, SeveralCandidatesDropTooHighCarrierAndSortByTicks) {
    const std::vector<double> candidates = {100.0, 220.0, 330.0, 470.0};
    auto coil = Coil::make("X", candidates, 150.0, 1.0, 40.0);
    ASSERT_TRUE(coil);
    const auto got = banks(coil.value());
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].bank, 4u);
    EXPECT_EQ(got[0].ticks, 264u);
    EXPECT_EQ(got[0].carrier, 18.93939393939394);
    EXPECT_EQ(got[1].bank, 3u);
    EXPECT_EQ(got[1].ticks, 221u);
    EXPECT_EQ(got[2].bank, 2u);
    EXPECT_EQ(got[2].ticks, 180u);
    EXPECT_EQ(got[2].carrier, 27.77777777777778);
    EXPECT_EQ(coil.value().settings[0].capacitance, 470.0);
}

struct FailureCase {
    const char* what;
    std::vector<double> candidates;
    double max_carrier;
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.what; }

class CoilTuningFails : public ::testing::TestWithParam<FailureCase> {};

TEST_P(CoilTuningFails, WithConfigError) {
    const auto& c = GetParam();
    auto coil = Coil::make("coil", c.candidates, 150.0, 0.1, c.max_carrier);
    ASSERT_FALSE(coil) << c.what;
    EXPECT_EQ(coil.error(), DRELError::ConfigError);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, CoilTuningFails,
    ::testing::Values(FailureCase{"no candidates", {}, 40.0},
                      FailureCase{"every carrier above the limit", {100.0}, 40.0},
                      FailureCase{"limit one step below the carrier", {330.0}, 22.62443438914027},
                      FailureCase{"zero candidate against a finite limit", {0.0}, 1e300},
                      FailureCase{"negative candidate", {-330.0}, 1e300},
                      FailureCase{"NaN limit", {220.0, 330.0, 470.0}, NaN}));

TEST(CoilTuning, CarrierEqualToTheLimitIsKept) {
    const std::vector<double> candidates = {330.0};
    auto coil = Coil::make("c", candidates, 150.0, 0.1, 22.624434389140273);
    ASSERT_TRUE(coil);
    EXPECT_EQ(coil.value().settings.size(), 1u);
}

TEST(CoilTuning, EqualTickCountsPutLaterBanksFirst) {
    const std::vector<double> candidates = {329.0, 330.0, 331.0};
    auto coil = Coil::make("c", candidates, 150.0, 0.1, 40.0);
    ASSERT_TRUE(coil);
    const auto got = banks(coil.value());
    ASSERT_EQ(got.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(got[i].ticks, 221u);
        EXPECT_EQ(got[i].carrier, 22.624434389140273);
        EXPECT_EQ(got[i].bank, 3 - i);
    }
}

TEST(CoilTuning, NaNCandidatePassesAnInfiniteLimitWithZeroTicks) {
    const std::vector<double> candidates = {NaN};
    auto coil = Coil::make("c", candidates, 150.0, 0.1, Inf);
    ASSERT_TRUE(coil);
    ASSERT_EQ(coil.value().settings.size(), 1u);
    EXPECT_EQ(coil.value().settings[0].clk_ticks_per_sample, 0u);
    EXPECT_EQ(coil.value().settings[0].carrier_frequency, Inf);
    EXPECT_TRUE(std::isnan(coil.value().settings[0].capacitance));
}

TEST(CoilTuning, ManyKeptEntriesFollowTheSameOrder) {
    // 40 candidates, several sharing tick counts: descending ticks, then descending bank.
    std::vector<double> candidates;
    for (int i = 0; i < 40; ++i) candidates.push_back(200.0 + 2.0 * (i % 20));
    auto coil = Coil::make("c", candidates, 150.0, 0.1, 40.0);
    ASSERT_TRUE(coil);
    const auto got = banks(coil.value());
    ASSERT_EQ(got.size(), 40u);
    for (std::size_t i = 1; i < got.size(); ++i) {
        ASSERT_TRUE(got[i - 1].ticks > got[i].ticks ||
                    (got[i - 1].ticks == got[i].ticks && got[i - 1].bank > got[i].bank))
            << "entry " << i;
    }
}

class CapturingLogger final : public log::Logger {
public:
    bool enabled(const log::Metadata&) const override { return true; }
    void log(const log::Record& r) override {
        ++count;
        level = r.metadata.level;
        target = r.metadata.target;
        message = r.message;
        module_path = r.module_path;
        file = r.file;
        line = r.line;
    }
    void flush() override {}

    int count = 0;
    log::Level level{};
    std::string target, message, module_path, file;
    std::uint32_t line = 0;
};

TEST(CoilTuningDiagnostics, NotFormedWhileTheFacadeIsOff) {
    CapturingLogger logger;
    log::set_logger(&logger);
    ASSERT_EQ(log::max_level(), log::LevelFilter::Off);
    EXPECT_FALSE(Coil::make("c", {}, 150.0, 0.1, 40.0));
    log::set_logger(nullptr);
    EXPECT_EQ(logger.count, 0);
}

TEST(CoilTuningDiagnostics, ReportsTheFailingCoilWhenEnabled) {
    CapturingLogger logger;
    log::set_logger(&logger);
    log::set_max_level(log::LevelFilter::Error);
    EXPECT_FALSE(Coil::make("Left coil", {}, 150.0, 0.1, 40.0));
    log::set_max_level(log::LevelFilter::Off);
    log::set_logger(nullptr);
    ASSERT_EQ(logger.count, 1);
    EXPECT_EQ(logger.level, log::Level::Error);
    EXPECT_EQ(logger.target, "protocols::lcsettings");
    EXPECT_EQ(logger.module_path, "protocols::lcsettings");
    EXPECT_EQ(logger.file, "protocols/src/lcsettings");
    EXPECT_EQ(logger.line, 74u);
    EXPECT_EQ(logger.message, "No valid carrier frequency can be calculated for coil Left coil");
}

TEST(DRELError, RendersByName) {
    EXPECT_EQ(to_string(DRELError::OverCoilCurrent), "OverCoilCurrent");
    EXPECT_EQ(to_string(DRELError::ConfigError), "ConfigError");
    EXPECT_EQ(to_string(DRELError::Unintialized), "Unintialized");
    EXPECT_EQ(static_cast<int>(DRELError::Unintialized), 10);
}

}  // namespace
}  // namespace protocols
