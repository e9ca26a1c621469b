// Coils and the tuning of their resonant LC circuits.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "protocols/fields.hpp"
#include "protocols/result.hpp"

namespace protocols {

// One capacitor-bank choice of a coil and the carrier it produces.
struct LCSetting {
    double capacitance;                    // nF, the candidate value as given
    double carrier_frequency;              // kHz, as produced by the integer tick count
    std::uint64_t clk_ticks_per_sample;    // ticks of the 160 MHz clock; 32 samples per period
    std::uint64_t capacitor_bank_setting;  // 1-based position in the candidate list

    friend bool operator==(const LCSetting&, const LCSetting&) = default;

    static constexpr std::string_view record_name = "LCSetting";
    static constexpr auto fields() {
        return std::tuple{
            field("capacitance", &LCSetting::capacitance),
            field("carrier_frequency", &LCSetting::carrier_frequency),
            field("clk_ticks_per_sample", &LCSetting::clk_ticks_per_sample),
            field("capacitor_bank_setting", &LCSetting::capacitor_bank_setting),
        };
    }
};

// One coil of the machine with its usable bank choices.
struct Coil {
    std::string name;
    double inductance;             // µH
    double max_current;            // carried, not used by the tuning
    double max_carrier_frequency;  // kHz, upper limit for every kept setting
    std::vector<LCSetting> settings;

    friend bool operator==(const Coil&, const Coil&) = default;

    // Tunes a coil: one LCSetting per candidate capacitance (nF) whose carrier
    // does not exceed max_carrier_frequency, ordered by descending tick count
    // (lowest carrier first), later candidates first among equal counts.
    // ConfigError when no candidate is kept.
    static Result<Coil> make(std::string name, std::span<const double> capacitances,
                             double inductance, double max_current,
                             double max_carrier_frequency);

    // The factory coil "Default": 150 µH with the single candidate 330 nF.
    static Coil factory_default();

    static constexpr std::string_view record_name = "Coil";
    static constexpr auto fields() {
        return std::tuple{
            field("name", &Coil::name),
            field("inductance", &Coil::inductance),
            field("max_current", &Coil::max_current),
            field("max_carrier_frequency", &Coil::max_carrier_frequency),
            field("settings", &Coil::settings),
        };
    }
};

}  // namespace protocols
