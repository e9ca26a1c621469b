// Reading a protocol file back: the strict inverse of encode().
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "protocols/result.hpp"
#include "protocols/settings.hpp"

namespace protocols {

struct DecodeError {
    std::size_t offset;   // of the first byte that does not fit
    std::string message;  // e.g. "unexpected end of data at byte 187 in channel_b_settings.modulation_source.external"
};

// Accepts exactly the bytes that encode() produces for some Settings, and so
// encode(decode(bytes)) == bytes. Anything else is refused with the offset
// and the field where it stops fitting the wire rules: a truncated file,
// bytes after the last field, a varint longer than ten bytes, beyond 64 bits
// or not in its shortest form, a level beyond 16 bits, a boolean byte other
// than 00 and 01, a signal variant above 4, a text that is not UTF-8, an
// array count larger than the bytes that remain could hold (so a short file
// cannot make it allocate much).
Result<Settings, DecodeError> decode(std::span<const std::uint8_t> bytes);

}  // namespace protocols
