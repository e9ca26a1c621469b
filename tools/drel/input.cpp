#include "input.hpp"

#include "platform.hpp"

#include <new>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <utility>

#include "protocols/byte_source.hpp"
#include "protocols/decode.hpp"
#include "protocols/json_reader.hpp"

namespace drel {
namespace {

// Opens `name` ("-" for standard input) and reads it with `read`; a failed
// open or read, or memory running out, is `lead` + "cannot be read: " and why.
template <class Read, class Reader>
Read read_file(const std::string& name, std::string_view lead, Reader&& read) {
    const auto cannot_read = [&](const std::string& why) -> Read {
        std::string words = std::string(lead) + "cannot be read: " + why;
        if constexpr (std::is_constructible_v<Read, std::string>) return words;
        else return std::vector<std::string>{std::move(words)};
    };
    platform::Opened opened = platform::open_for_reading(name);
    if (!opened.source) return cannot_read(opened.error);
    try {
        return read(*opened.source);
    } catch (const std::system_error& e) {
        return cannot_read(platform::error_text(e.code().value()));
    } catch (const std::bad_alloc&) {
        return cannot_read("out of memory");
    }
}

}  // namespace

std::variant<protocols::Settings, std::string> read_protocol(const std::string& name) {
    using Read = std::variant<protocols::Settings, std::string>;
    return read_file<Read>(name, "", [](protocols::ByteSource& source) -> Read {
        auto decoded = protocols::decode(source);
        if (!decoded) return decoded.error().message;
        return std::move(decoded).value();
    });
}

std::variant<protocols::Settings, std::vector<std::string>> read_json_protocol(const std::string& name,
                                                                               protocols::JsonPlaces* places) {
    using Read = std::variant<protocols::Settings, std::vector<std::string>>;
    return read_file<Read>(name, ": ", [&](protocols::ByteSource& source) -> Read {
        auto read = protocols::read_json(source, {.places = places});
        if (!read) {
            const protocols::JsonError& e = read.error();
            std::vector<std::string> lines{":" + e.located()};
            if (!e.note.empty()) lines.push_back(":" + std::to_string(e.line) + ":" + std::to_string(e.column) + ": note: " + e.note);
            return lines;
        }
        return std::move(read).value();
    });
}

}  // namespace drel
