// The text form of a protocol: the indented multi-line layout that str() of a
// protocol shows, and the one-line layout of error records in messages. Both
// walk the records' field declarations, so they show what the file holds.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "protocols/byte_sink.hpp"
#include "protocols/settings.hpp"

namespace protocols::text {

// Waveforms in full, one level per line, or summed up in one line:
// "<300000 levels: min 0, max 32767, first 0, last 16384>", or, as NumPy
// prints a long array, a waveform of more than EDGE_THRESHOLD levels by its
// first and last EDGE_LEVELS levels around a line of "...", for a terminal.
enum class Waveforms { Full, Summary, Edges };
inline constexpr std::size_t EDGE_THRESHOLD = 1000;
inline constexpr std::size_t EDGE_LEVELS = 3;
// How many waveforms Edges shortens in `s`.
std::size_t shortened_waveforms(const Settings& s) noexcept;

// The text form, or the JSON form: one object whose fields are those of the
// text form, in its order (the grammar is in text_writer.hpp).
struct Form {
    Waveforms waveforms = Waveforms::Full;
    bool json = false;
};
inline constexpr Form JSON{Waveforms::Full, true};

// A protocol's text can be tens of megabytes, so it is produced in two passes
// over the same grammar: the first counts the bytes exactly, the second
// writes them straight into memory of that size (for instance a Python str's
// own buffer).
struct ProtocolText {
    std::size_t size;  // in bytes
    bool ascii;        // every byte below 0x80
};
ProtocolText measure_protocol(const Settings& settings, Form form = {}) noexcept;
// Fills `out`, which measure_protocol() sized. Throws std::logic_error, with
// nothing written past its end, when the text did not come out as long as
// counted.
void render_protocol(const Settings& settings, std::span<char> out, Form form = {});
std::string render_protocol(const Settings& settings, Form form = {});

// Streams the text through `buffer` to `sink`, handing it on each time it
// fills and once at the end, so that the memory the text takes is the
// buffer's, however long the waveforms.
inline constexpr std::size_t MIN_RENDER_BUFFER = 4096;
void render_protocol(const Settings& settings, Form form, std::span<char> buffer, ByteSink& sink);

// A value of a one-line record: a number, a bare word such as an error kind,
// or a text, which is quoted and escaped.
struct Bare {
    std::string_view word;
};
using OneLineValue = std::variant<std::int64_t, Bare, std::string_view>;

class OneLineFields {
public:
    void field(std::string_view name, OneLineValue value) { fields_.emplace_back(name, value); }
    const auto& fields() const noexcept { return fields_; }

private:
    std::vector<std::pair<std::string_view, OneLineValue>> fields_;
};

// "Os { code: 2, kind: NotFound, message: \"No such file or directory\" }":
// the record `name` with the fields that body(fields) gives, on one line.
std::string one_line_record(std::string_view name, const OneLineFields& fields);
template <class Body>
    requires std::invocable<Body, OneLineFields&>
std::string one_line_record(std::string_view name, Body&& body) {
    OneLineFields fields;
    body(fields);
    return one_line_record(name, fields);
}

}  // namespace protocols::text
