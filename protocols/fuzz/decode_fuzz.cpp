// libFuzzer target: any bytes through the decoder, from memory and from a
// pipe that hands them out a few at a time, which must agree; what it
// accepts through the encoder (the same bytes again), the checks, and the
// text form in full and summed up, rendered into memory of the measured size
// and streamed through a small buffer, which must agree too, and its JSON,
// read back to the same. The same bytes as a protocol's JSON, in memory and
// streamed, and read a level at a time: the three agree; a refusal has a
// position and words, and what is read composes, into a file that decodes
// to it, or is refused in words at a place in the text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "protocols/byte_source.hpp"
#include "protocols/check.hpp"
#include "protocols/composable.hpp"
#include "protocols/decode.hpp"
#include "protocols/diff.hpp"
#include "protocols/encode.hpp"
#include "protocols/json_reader.hpp"
#include "protocols/picture.hpp"
#include "protocols/routing.hpp"
#include "protocols/text_form.hpp"
#include "trickle_source.hpp"

namespace {

void require(bool condition) {
    if (!condition) __builtin_trap();
}

class Collect final : public protocols::ByteSink {
public:
    void write(std::span<const std::uint8_t> bytes) override { text.append(bytes.begin(), bytes.end()); }
    std::string text;
};

std::string streamed(const protocols::Settings& s, protocols::text::Form form) {
    std::vector<char> buffer(protocols::text::MIN_RENDER_BUFFER);
    Collect sink;
    protocols::text::render_protocol(s, form, buffer, sink);
    return sink.text;
}

std::span<const std::uint8_t> as_bytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::string json_of(const protocols::Settings& s) {
    return protocols::text::render_protocol(s, protocols::text::JSON);
}

void as_json(std::span<const std::uint8_t> bytes) {
    const auto read = protocols::read_json(bytes);
    protocols::TrickleSource pipe(bytes, bytes.size());
    const auto piped = protocols::read_json(pipe);
    if (!read) {
        const protocols::JsonError& e = read.error();
        require(e.line >= 1 && e.column >= 1 && !e.message.empty());
        require(!piped && piped.error().message == e.message && piped.error().line == e.line &&
                piped.error().column == e.column);
        const auto careful = protocols::read_json(bytes, {.level_blocks = false});
        require(!careful && careful.error().message == e.message && careful.error().line == e.line &&
                careful.error().column == e.column && careful.error().path == e.path);
        return;
    }
    require(piped && json_of(piped.value()) == json_of(read.value()));
    const std::string text = json_of(read.value());
    const auto again = protocols::read_json(as_bytes(text));
    require(again && json_of(again.value()) == text);
    // Read a level at a time, never a block, the verdict and its place are the same.
    const auto careful = protocols::read_json(bytes, {.level_blocks = false});
    require(careful && json_of(careful.value()) == text);
    protocols::JsonPlaces places;
    const auto placed = protocols::read_json(bytes, {.places = &places});
    require(placed && json_of(placed.value()) == text);
    const auto made = protocols::composition(read.value());
    if (!made) {
        require(!made.error().json_message().empty());
        const protocols::JsonPosition at = places.at(made.error().path);
        require(at.line >= 1 && at.column >= 1);
        return;
    }
    const std::vector<std::uint8_t> file = protocols::encode(read.value());
    const auto decoded = protocols::decode(file);
    require(decoded && protocols::encode(decoded.value()) == file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using protocols::DecodeError;
    const std::span<const std::uint8_t> bytes(data, size);
    as_json(bytes);
    const auto decoded = protocols::decode(bytes);
    protocols::TrickleSource pipe(bytes, size);
    const auto piped = protocols::decode(pipe);
    if (!decoded) {
        const DecodeError& e = decoded.error();
        require(e.offset <= size);
        require(e.message.find(" at byte " + std::to_string(e.offset)) != std::string::npos);
        // Only a count that the data cannot hold and trailing bytes need the size to tell.
        if (e.kind != DecodeError::Kind::CountTooLarge && e.kind != DecodeError::Kind::TrailingData) {
            require(!piped && piped.error().message == e.message);
        }
        return 0;
    }
    const protocols::Settings& s = decoded.value();
    const std::vector<std::uint8_t> again = protocols::encode(s);
    require(std::equal(again.begin(), again.end(), bytes.begin(), bytes.end()));
    require(piped && protocols::encode(piped.value()) == again);
    protocols::check(s, [](const protocols::Finding& f) { require(!f.message.empty()); });
    const std::string text = protocols::text::render_protocol(s);
    require(text.size() == protocols::text::measure_protocol(s).size);
    using protocols::text::Form;
    using protocols::text::Waveforms;
    require(streamed(s, {}) == text);
    for (const Form form : {Form{Waveforms::Summary}, Form{Waveforms::Full, true}, Form{Waveforms::Summary, true}}) {
        require(streamed(s, form) == protocols::text::render_protocol(s, form));
    }
    // A protocol does not differ from itself; against the default one, every
    // difference has its line and its JSON.
    protocols::diff(s, s, [](const protocols::Difference&) { require(false); return false; });
    protocols::diff(protocols::Settings::factory_default(), s, [](const protocols::Difference& d) {
        require(!protocols::diff_line(d).empty() && protocols::diff_json(d).starts_with("{\"path\": "));
        return true;
    });
    // Its JSON reads back to the same protocol, NaN payloads apart.
    const std::string json = json_of(s);
    const auto from_json = protocols::read_json(as_bytes(json));
    require(from_json && json_of(from_json.value()) == json);
    require(protocols::routing_text(s).ends_with("\n"));
    require(protocols::svg(s, "<fuzz>").ends_with("</svg>\n"));
    return 0;
}
