// The description of the stimulator a protocol is meant for.
#pragma once

#include <cstdint>
#include <tuple>
#include <vector>

#include "protocols/fields.hpp"
#include "protocols/lcsettings.hpp"

namespace protocols {

struct MachineConfig {
    double supply_voltage;
    std::uint64_t num_coils;
    std::vector<Coil> coils;
    std::vector<double> capacitors;
    std::vector<double> possible_capacitances;
    std::uint64_t num_external_signal_sources;
    bool smbus_psu_connected;
    std::uint64_t num_temperature_sensors;
    std::uint64_t num_flow_rate_sensors;
    bool safety_checks_enabled;
    double max_intensity_setpoint;
    double max_current;
    double max_carrier_frequency;
    double max_temperature;
    double min_flowrate;
    double max_power;

    friend bool operator==(const MachineConfig&, const MachineConfig&) = default;

    static MachineConfig factory_default();

    static constexpr std::string_view record_name = "MachineConfig";
    static constexpr auto fields() {
        return std::tuple{
            field("supply_voltage", &MachineConfig::supply_voltage),
            field("num_coils", &MachineConfig::num_coils),
            field("coils", &MachineConfig::coils),
            field("capacitors", &MachineConfig::capacitors),
            field("possible_capacitances", &MachineConfig::possible_capacitances),
            field("num_external_signal_sources", &MachineConfig::num_external_signal_sources),
            field("smbus_psu_connected", &MachineConfig::smbus_psu_connected),
            field("num_temperature_sensors", &MachineConfig::num_temperature_sensors),
            field("num_flow_rate_sensors", &MachineConfig::num_flow_rate_sensors),
            field("safety_checks_enabled", &MachineConfig::safety_checks_enabled),
            field("max_intensity_setpoint", &MachineConfig::max_intensity_setpoint),
            field("max_current", &MachineConfig::max_current),
            field("max_carrier_frequency", &MachineConfig::max_carrier_frequency),
            field("max_temperature", &MachineConfig::max_temperature),
            field("min_flowrate", &MachineConfig::min_flowrate),
            field("max_power", &MachineConfig::max_power),
        };
    }
};

}  // namespace protocols
