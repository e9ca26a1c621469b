// Reading a protocol file back: the strict inverse of encode(), from memory or
// streamed from a file or a pipe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "protocols/byte_source.hpp"
#include "protocols/result.hpp"
#include "protocols/settings.hpp"

namespace protocols {

struct DecodeError {
    enum class Kind : std::uint8_t {
        EndOfData,         // the data ends inside a field
        TrailingData,      // bytes after the last field
        BadBoolean,        // a boolean byte other than 00 and 01
        BadVariant,        // a signal variant index past the last
        VarintTooLong,     // more than ten bytes
        VarintTooLarge,    // beyond 64 bits
        VarintNotShortest,
        LevelTooLarge,     // a waveform level beyond 16 bits
        LevelNotShortest,
        TextNotUtf8,
        CountTooLarge,     // more elements than the bytes that remain can hold
    };
    // What the bytes are, in a reader's words: the lead of the message.
    enum class Verdict : std::uint8_t {
        NotProtocol,  // they fail where every protocol file begins, in its machine description
        Truncated,    // a protocol file that ends early
        Damaged,      // a protocol file with bytes that break the format
    };
    Kind kind;
    Verdict verdict;
    std::uint64_t offset;  // of the first byte that does not fit (the end of the data for EndOfData)
    std::string path;      // of the field: "channel_b_settings.modulation_source.external"; empty after the last
    // The verdict, then where the bytes stop fitting: "the protocol file ends
    // early, probably truncated: unexpected end of data at byte 187 in
    // channel_b_settings.modulation_source.external".
    std::string message;
};

// The verdict on bytes that fail with `kind` at `path`, where `decoded`
// bytes fit and `trailing` more follow the last field (for TrailingData):
// a failure in the machine description, which every protocol file begins
// with, or more trailing bytes than the protocol took, is no protocol file;
// data that ends, or a count that the rest cannot hold, is a truncated one;
// anything else is a damaged one.
DecodeError::Verdict verdict_of(DecodeError::Kind kind, std::string_view path, std::uint64_t decoded,
                                std::uint64_t trailing) noexcept;
// "not a protocol file", "the protocol file ends early, probably truncated",
// "a damaged protocol file".
std::string_view verdict_text(DecodeError::Verdict verdict) noexcept;

// Accepts exactly the bytes that encode() produces for some Settings, and so
// encode(decode(bytes)) == bytes. Anything else is refused with the offset
// and the field where it stops fitting the wire rules: a truncated file,
// bytes after the last field, a varint longer than ten bytes, beyond 64 bits
// or not in its shortest form, a level beyond 16 bits, a boolean byte other
// than 00 and 01, a signal variant above 4, a text that is not UTF-8, an
// array count larger than the bytes that remain could hold.
Result<Settings, DecodeError> decode(std::span<const std::uint8_t> bytes);

// The same, read through a fixed buffer; stops at the first byte that
// cannot belong to a protocol file. Where the source knows how many bytes
// remain (a regular file), counts are checked against them and arrays are
// allocated once at their final size; where it does not (a pipe), arrays
// grow only as their bytes arrive, a count that the data cannot hold shows
// as the end of the data, and after the last field at most TRAILING_PROBE
// more bytes are read to say how many follow. Throws what the source throws
// (a failed read) and std::bad_alloc.
Result<Settings, DecodeError> decode(ByteSource& source);

// Bytes read at a time: a quarter of a megabyte takes a 25 MB file in about
// a hundred reads, and what it decodes to stays in the cache.
inline constexpr std::size_t DECODE_BUFFER = 256 * 1024;
inline constexpr std::size_t TRAILING_PROBE = 1 << 20;

}  // namespace protocols
