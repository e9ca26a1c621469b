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
// numbers, or "NaN", "-NaN", "inf" and "-inf"; integers are integers (no
// fraction or exponent) in their field's range, -0 being 0; levels are
// integers from -32768 to 32767. Numbers may be of any length; a string
// holds at most MAX_JSON_TEXT bytes.
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
#include <unordered_map>
#include <unordered_set>

#include "protocols/byte_source.hpp"
#include "protocols/field_path.hpp"
#include "protocols/result.hpp"
#include "protocols/settings.hpp"

namespace protocols {

// Where a value stands in the text: from 1, the column in characters.
struct JsonPosition {
    std::uint64_t line;
    std::uint64_t column;
};

struct JsonError {
    std::uint64_t line;    // from 1
    std::uint64_t column;  // from 1, in characters
    std::string path;      // of the field: "signals[0].Sine.frequency"; empty at the top
    std::string message;   // "signals[0].Sine.frequency must be a number, not a string"
    std::string note;      // what to do about it, where there is a common fix; else empty

    // "LINE:COLUMN: message", as drel compose prints it after the file's name.
    std::string located() const { return std::to_string(line) + ":" + std::to_string(column) + ": " + message; }
};

// Where the values that a refusal of what was read can name stand in the
// text (a composition's Refusal, say): every value outside the signal table
// (of arrays, the first sixteen elements, as many as a new protocol's
// longest), the table itself, and of its waveforms the first of each
// length and the first negative level.
class JsonPlaces {
public:
    // Where the value at `path` stands, or else the nearest of its parents
    // that was read (the object of the protocol, at least).
    JsonPosition at(const FieldPath& path) const;

private:
    friend class JsonPlacesRecorder;
    std::unordered_map<std::string, JsonPosition> places_;  // by path, the kinds of signals left out
    std::unordered_set<std::uint64_t> lengths_;             // of the waveforms placed
    bool negative_ = false;                                 // whether a negative level is placed
};

// How to read: where to note the places of values, if anywhere; and, for
// the tests of the reader, whether waveforms may be read a block of levels
// at a time (the reader's fast path) or only one level at a time.
struct JsonReading {
    JsonPlaces* places = nullptr;
    bool level_blocks = true;
};

// Reads the text through a fixed buffer, so that what is no protocol
// (/dev/zero, a gigabyte of anything) is refused where it stops being one.
// Throws what the source throws (a failed read) and std::bad_alloc.
Result<Settings, JsonError> read_json(ByteSource& source, const JsonReading& how = {});
// The same from memory, read in place.
Result<Settings, JsonError> read_json(std::span<const std::uint8_t> text, const JsonReading& how = {});

// Bytes read at a time.
inline constexpr std::size_t JSON_BUFFER = 256 * 1024;
// The longest string: more than any coil's name.
inline constexpr std::size_t MAX_JSON_TEXT = 1 << 20;

}  // namespace protocols

namespace protocols {

// The JSON Schema (draft 2020-12) of the text that read_json() takes, made
// from the field declarations: what it refuses for type or shape, the schema
// refuses too, but for two things JSON Schema cannot tell: a number with a
// fraction or an exponent of zero (1.0, 1e0) where an integer belongs, and a
// key given twice.
std::string json_schema();

}  // namespace protocols
