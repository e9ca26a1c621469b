// The root record of a stimulation protocol.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <tuple>
#include <vector>

#include "protocols/fields.hpp"
#include "protocols/machine_config.hpp"
#include "protocols/signals.hpp"

namespace protocols {

// Where an amplitude or a modulation comes from: an entry of the signal table
// (`internal`) or one of the stimulator's inputs (`external`).
struct SignalSourceSelection {
    std::uint64_t internal = 0;
    std::uint64_t external = 0;
    bool external_selected = false;

    static SignalSourceSelection internal_signal(std::uint64_t index) { return {index, 0, false}; }
    static SignalSourceSelection external_input(std::uint64_t input) { return {0, input, true}; }

    friend bool operator==(const SignalSourceSelection&, const SignalSourceSelection&) = default;
    static constexpr std::string_view record_name = "SignalSourceSelection";
    static constexpr auto fields() {
        return std::tuple{
            field("internal", &SignalSourceSelection::internal),
            field("external", &SignalSourceSelection::external),
            field("external_selected", &SignalSourceSelection::external_selected),
        };
    }
};

struct ChannelSettings {
    bool enabled = false;
    SignalSourceSelection amplitude1_source;  // first coil of the channel (A1 or B1)
    SignalSourceSelection amplitude2_source;  // second coil of the channel (A2 or B2)
    SignalSourceSelection modulation_source;
    std::uint64_t coil_idx = 0;          // into machine_config.coils
    std::uint64_t coil_setting_idx = 0;  // into that coil's settings

    friend bool operator==(const ChannelSettings&, const ChannelSettings&) = default;
    static constexpr std::string_view record_name = "ChannelSettings";
    static constexpr auto fields() {
        return std::tuple{
            field("enabled", &ChannelSettings::enabled),
            field("amplitude1_source", &ChannelSettings::amplitude1_source),
            field("amplitude2_source", &ChannelSettings::amplitude2_source),
            field("modulation_source", &ChannelSettings::modulation_source),
            field("coil_idx", &ChannelSettings::coil_idx),
            field("coil_setting_idx", &ChannelSettings::coil_setting_idx),
        };
    }
};

struct Settings {
    bool running_on_target_machine;
    MachineConfig machine_config;
    double intensity;         // fraction of full scale
    double session_duration;  // seconds
    std::vector<Signal> signals;
    ChannelSettings channel_a_settings;
    ChannelSettings channel_b_settings;
    std::array<bool, 16> monitor_trace_visible;
    std::uint64_t monitor_subsampling_factor;

    friend bool operator==(const Settings&, const Settings&) = default;

    // The factory default. Reads DREL_TARGET_MACHINE on every call: present
    // with a valid UTF-8 value means the protocol is composed on the stimulator.
    static Settings factory_default();

    static constexpr std::string_view record_name = "Settings";
    static constexpr auto fields() {
        return std::tuple{
            field("running_on_target_machine", &Settings::running_on_target_machine),
            field("machine_config", &Settings::machine_config),
            field("intensity", &Settings::intensity),
            field("session_duration", &Settings::session_duration),
            field("signals", &Settings::signals),
            field("channel_a_settings", &Settings::channel_a_settings),
            field("channel_b_settings", &Settings::channel_b_settings),
            field("monitor_trace_visible", &Settings::monitor_trace_visible),
            field("monitor_subsampling_factor", &Settings::monitor_subsampling_factor),
        };
    }
};

// The environment variable whose presence marks the stimulator itself.
inline constexpr const char* TARGET_MACHINE_VARIABLE = "DREL_TARGET_MACHINE";

// A new protocol: the factory default without signals, so that the first
// signal added gets index 0.
Settings new_protocol();

// A protocol file holds at least one signal: an empty table gets the factory
// default's entry, which stays in the protocol.
void fill_empty_signal_table(Settings& settings);

// The samples of a session of `duration` seconds at config::SAMPLING_RATE:
// the ceiling of the product, saturating. None when the duration is not
// positive (NaN included).
std::optional<std::uint64_t> sample_count(double duration) noexcept;

}  // namespace protocols
