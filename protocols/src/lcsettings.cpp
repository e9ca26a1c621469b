#include "protocols/lcsettings.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <string>

#include "protocols/log.hpp"
#include "protocols/numeric.hpp"

namespace protocols {
namespace {

constexpr double CLOCK_HZ = 160000000.0;
constexpr double SAMPLES_PER_PERIOD = 32.0;
constexpr double TWO_PI = 6.283185307179586;
constexpr double MICRO = 1e-6;
constexpr double NANO = 1e-9;
constexpr double HZ_TO_KHZ = 0.001;

// Identifies the one diagnostic site of this module to a host logger.
constexpr std::string_view LOG_TARGET = "protocols::lcsettings";
constexpr std::string_view LOG_FILE = "protocols/src/lcsettings";
constexpr std::uint32_t LOG_LINE = 74;

void report_no_valid_carrier(const std::string& coil_name) {
    if (!log::level_enabled(log::Level::Error)) return;
    const std::string message = "No valid carrier frequency can be calculated for coil " + coil_name;
    log::logger().log(log::Record{
        .metadata = {.level = log::Level::Error, .target = LOG_TARGET},
        .message = message,
        .module_path = LOG_TARGET,
        .file = LOG_FILE,
        .line = LOG_LINE,
    });
}

}  // namespace

Result<Coil> Coil::make(std::string name, std::span<const double> capacitances, double inductance,
                        double max_current, double max_carrier_frequency) {
    std::vector<LCSetting> settings;
    for (std::size_t i = 0; i < capacitances.size(); ++i) {
        const double c = capacitances[i];
        // The order of the float operations is part of the result: keep it.
        const double p = ((inductance * MICRO) * c) * NANO;
        const double f = 1.0 / (std::sqrt(p) * TWO_PI);
        const double t = CLOCK_HZ / (f * SAMPLES_PER_PERIOD);
        const std::uint64_t ticks = saturate_to_u64(std::round(t));
        const double period = static_cast<double>(ticks * 32u);  // wraps like the hardware counter
        const double carrier = (CLOCK_HZ / period) * HZ_TO_KHZ;
        if (max_carrier_frequency >= carrier) {
            settings.push_back(LCSetting{c, carrier, ticks, i + 1});
        }
    }
    if (settings.empty()) {
        report_no_valid_carrier(name);
        return DRELError::ConfigError;
    }
    // Ascending stable sort then reversal: descending ticks, and among equal
    // counts the later candidate first.
    std::stable_sort(settings.begin(), settings.end(), [](const LCSetting& a, const LCSetting& b) {
        return a.clk_ticks_per_sample < b.clk_ticks_per_sample;
    });
    std::reverse(settings.begin(), settings.end());
    return Coil{std::move(name), inductance, max_current, max_carrier_frequency, std::move(settings)};
}

Coil Coil::factory_default() {
    constexpr std::array<double, 1> candidates = {330.0};
    auto coil = Coil::make("Default", candidates, 150.0, 0.1, 40.0);
    if (!coil) std::abort();  // fixed inputs: cannot happen
    return std::move(coil).value();
}

}  // namespace protocols
