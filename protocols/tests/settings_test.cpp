#include "protocols/settings.hpp"

#include <gtest/gtest.h>

#include <ostream>

#include <cstdlib>
#include <optional>
#include <string>

namespace protocols {
namespace {

// Sets or removes the target-machine variable for one test.
class TargetVariable {
public:
    explicit TargetVariable(std::optional<std::string> value) {
        if (const char* old = std::getenv(TARGET_MACHINE_VARIABLE)) saved_ = old;
        if (value) ::setenv(TARGET_MACHINE_VARIABLE, value->c_str(), 1);
        else ::unsetenv(TARGET_MACHINE_VARIABLE);
    }
    ~TargetVariable() {
        if (saved_) ::setenv(TARGET_MACHINE_VARIABLE, saved_->c_str(), 1);
        else ::unsetenv(TARGET_MACHINE_VARIABLE);
    }

private:
    std::optional<std::string> saved_;
};

TEST(MachineConfigDefault, HoldsTheFactoryValues) {
    const MachineConfig m = MachineConfig::factory_default();
    EXPECT_EQ(m.supply_voltage, 80.0);
    EXPECT_EQ(m.num_coils, 2u);
    ASSERT_EQ(m.coils.size(), 1u);
    EXPECT_EQ(m.coils[0], Coil::factory_default());
    EXPECT_EQ(m.capacitors, std::vector<double>{330.0});
    EXPECT_EQ(m.possible_capacitances, std::vector<double>{330.0});
    EXPECT_EQ(m.num_external_signal_sources, 6u);
    EXPECT_FALSE(m.smbus_psu_connected);
    EXPECT_EQ(m.num_temperature_sensors, 0u);
    EXPECT_EQ(m.num_flow_rate_sensors, 0u);
    EXPECT_TRUE(m.safety_checks_enabled);
    EXPECT_EQ(m.max_intensity_setpoint, 0.3);
    EXPECT_EQ(m.max_current, 0.5);
    EXPECT_EQ(m.max_carrier_frequency, 40.0);
    EXPECT_EQ(m.max_temperature, 40.0);
    EXPECT_EQ(m.min_flowrate, 70.0);
    EXPECT_EQ(m.max_power, 520.0);
}

TEST(SettingsDefault, HoldsTheFactoryValues) {
    TargetVariable unset(std::nullopt);
    const Settings s = Settings::factory_default();
    EXPECT_FALSE(s.running_on_target_machine);
    EXPECT_EQ(s.machine_config, MachineConfig::factory_default());
    EXPECT_EQ(s.intensity, 0.0);
    EXPECT_EQ(s.session_duration, 60.0);
    ASSERT_EQ(s.signals.size(), 1u);
    EXPECT_EQ(s.signals[0], Signal{ConstantSignalParams{0.0}});
    const ChannelSettings off{};
    ChannelSettings on{};
    on.enabled = true;
    EXPECT_EQ(s.channel_a_settings, on);
    EXPECT_EQ(s.channel_b_settings, off);
    EXPECT_EQ(s.channel_a_settings.modulation_source, SignalSourceSelection::internal_signal(0));
    for (bool b : s.monitor_trace_visible) EXPECT_FALSE(b);
    EXPECT_EQ(s.monitor_subsampling_factor, 1u);
}

struct EnvCase {
    const char* what;
    std::optional<std::string> value;
    bool expected;
};
void PrintTo(const EnvCase& c, std::ostream* os) { *os << c.what; }

class TargetMachineFlag : public ::testing::TestWithParam<EnvCase> {};

TEST_P(TargetMachineFlag, FollowsPresenceOfAValidValue) {
    const auto& c = GetParam();
    TargetVariable var(c.value);
    EXPECT_EQ(Settings::factory_default().running_on_target_machine, c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Environment, TargetMachineFlag,
    ::testing::Values(EnvCase{"absent", std::nullopt, false}, EnvCase{"empty", "", true},
                      EnvCase{"zero", "0", true}, EnvCase{"false", "false", true},
                      EnvCase{"non-ASCII UTF-8", "Stimulator \xc3\xa9", true},
                      EnvCase{"not UTF-8", "\xff\xfe", false},
                      EnvCase{"encoded surrogate", "\xed\xa0\x80", false}));

TEST(TargetMachineFlag, IsReadAtEveryCall) {
    bool first, second;
    {
        TargetVariable var(std::nullopt);
        first = Settings::factory_default().running_on_target_machine;
    }
    {
        TargetVariable var(std::string("1"));
        second = Settings::factory_default().running_on_target_machine;
    }
    EXPECT_FALSE(first);
    EXPECT_TRUE(second);
}

}  // namespace
}  // namespace protocols
