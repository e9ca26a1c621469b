// The protocol file: the compact postcard encoding of one Settings record,
// without header, version, length or checksum.
#pragma once

#include <cstdint>
#include <vector>

#include "protocols/settings.hpp"

namespace protocols {

std::vector<std::uint8_t> encode(const Settings& settings);

}  // namespace protocols
