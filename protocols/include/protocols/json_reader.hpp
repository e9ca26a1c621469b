// A protocol read from JSON: the shape that drel show --json and the drel
// package's Settings.to_json() write, read back exactly, so that a protocol
// can be made in any language and turned into the file that pydrel would
// have saved.
//
// The text is strict JSON (RFC 8259) in UTF-8: no comments, trailing commas,
// NaN literals, leading zeros, lone surrogates, byte order mark or content
// after the one object. The object holds the fields of the text form; each
// walker of the field declarations reads its own: keys in any order, nested
// records as objects, a signal an object with one key, its kind. Floats are
// numbers, or "NaN", "inf" and "-inf"; integers are integers (no fraction or
// exponent) in their field's range; levels are integers from -32768 to 32767.
//
// A field left out keeps the value a new pydrel.Protocol has in the current
// environment (a source, signal 0); a record inside an array (a coil, an LC
// setting, a signal's parameters) gives every field, but for the parameters
// that pydrel's methods have defaults for: a sine's phase and depth.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "protocols/byte_source.hpp"
#include "protocols/result.hpp"
#include "protocols/settings.hpp"

namespace protocols {

struct JsonError {
    std::uint64_t line;    // from 1
    std::uint64_t column;  // from 1, in characters
    std::string path;      // of the field: "signals[0].Sine.frequency"; empty at the top
    std::string message;   // "signals[0].Sine.frequency must be a number, not a string"
};

// Reads the text through a fixed buffer, so that what is no protocol
// (/dev/zero, a gigabyte of anything) is refused where it stops being one.
// Throws what the source throws (a failed read) and std::bad_alloc.
Result<Settings, JsonError> read_json(ByteSource& source);
// The same from memory, read in place.
Result<Settings, JsonError> read_json(std::span<const std::uint8_t> text);

// Bytes read at a time.
inline constexpr std::size_t JSON_BUFFER = 256 * 1024;

}  // namespace protocols

namespace protocols {

// The JSON Schema (draft 2020-12) of the text that read_json() takes, made
// from the field declarations: what it refuses for type or shape, the schema
// refuses too, but for two things JSON Schema cannot tell: a number with a
// fraction or an exponent of zero (1.0, 1e0) where an integer belongs, and a
// key given twice.
std::string json_schema();

}  // namespace protocols
