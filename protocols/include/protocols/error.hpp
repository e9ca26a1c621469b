// The protocol library's error enumeration.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace protocols {

enum class DRELError : std::uint8_t {
    OverCoilCurrent,
    OverSupplyPower,
    OverTemperature,
    Underflow,
    SPIError,
    GPIOError,
    I2cError,
    TCPError,
    ConfigError,
    ProtocolError,
    Unintialized,  // sic: stored files and peers know it by this name
};

inline constexpr std::array<std::string_view, 11> drel_error_names = {
    "OverCoilCurrent", "OverSupplyPower", "OverTemperature", "Underflow",
    "SPIError",        "GPIOError",       "I2cError",        "TCPError",
    "ConfigError",     "ProtocolError",   "Unintialized",
};

constexpr std::string_view to_string(DRELError e) {
    return drel_error_names[static_cast<std::size_t>(e)];
}

}  // namespace protocols
