#include "protocols/machine_config.hpp"

namespace protocols {

MachineConfig MachineConfig::factory_default() {
    return MachineConfig{
        .supply_voltage = 80.0,
        .num_coils = 2,  // the factory list describes one coil; nothing compares the two
        .coils = {Coil::factory_default()},
        .capacitors = {330.0},
        .possible_capacitances = {330.0},
        .num_external_signal_sources = 6,
        .smbus_psu_connected = false,
        .num_temperature_sensors = 0,
        .num_flow_rate_sensors = 0,
        .safety_checks_enabled = true,
        .max_intensity_setpoint = 0.3,
        .max_current = 0.5,
        .max_carrier_frequency = 40.0,
        .max_temperature = 40.0,
        .min_flowrate = 70.0,
        .max_power = 520.0,
    };
}

}  // namespace protocols
