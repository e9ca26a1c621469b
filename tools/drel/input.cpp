#include "input.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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
    using Ownership = protocols::FileSource::Ownership;
    const auto cannot_read = [&](const char* why) -> Read {
        std::string words = std::string(lead) + "cannot be read: " + why;
        if constexpr (std::is_constructible_v<Read, std::string>) return words;
        else return std::vector<std::string>{std::move(words)};
    };
    const bool standard_input = name == "-";
    const int fd = standard_input ? STDIN_FILENO : ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return cannot_read(std::strerror(errno));
    try {
        protocols::FileSource source(fd, standard_input ? Ownership::Borrowed : Ownership::Owned);
        return read(source);
    } catch (const std::system_error& e) {
        return cannot_read(std::strerror(e.code().value()));
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
