// The protocol file: the compact postcard encoding of one Settings record,
// without header, version, length or checksum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "protocols/byte_sink.hpp"
#include "protocols/settings.hpp"

namespace protocols {

// The smallest buffer encode() can stream through: the longest piece it
// writes at once (a varint, a float, or a run of levels) plus spare.
inline constexpr std::size_t MIN_ENCODE_BUFFER = 4096;

// Streams the encoding through `buffer`, handing it to `sink` each time it is
// full and once at the end. Allocates nothing, so it cannot fail by itself.
void encode(const Settings& settings, std::span<std::uint8_t> buffer, ByteSink& sink);

// The whole file in memory.
std::vector<std::uint8_t> encode(const Settings& settings);

}  // namespace protocols
