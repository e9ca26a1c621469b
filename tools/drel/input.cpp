#include "input.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>
#include <utility>

#include "protocols/byte_source.hpp"
#include "protocols/decode.hpp"
#include "protocols/json_reader.hpp"

namespace drel {
namespace {

std::string cannot_read(const char* why) { return std::string("cannot be read: ") + why; }

}  // namespace

std::variant<protocols::Settings, std::string> read_protocol(const std::string& name) {
    using Ownership = protocols::FileSource::Ownership;
    const bool standard_input = name == "-";
    const int fd = standard_input ? STDIN_FILENO : ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return cannot_read(std::strerror(errno));
    try {
        protocols::FileSource source(fd, standard_input ? Ownership::Borrowed : Ownership::Owned);
        auto decoded = protocols::decode(source);
        if (!decoded) return decoded.error().message;
        return std::move(decoded).value();
    } catch (const std::system_error& e) {
        return cannot_read(std::strerror(e.code().value()));
    } catch (const std::bad_alloc&) {
        return cannot_read("out of memory");
    }
}

}  // namespace drel

namespace drel {

std::variant<protocols::Settings, std::string> read_json_protocol(const std::string& name) {
    using Ownership = protocols::FileSource::Ownership;
    const bool standard_input = name == "-";
    const int fd = standard_input ? STDIN_FILENO : ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return ": " + cannot_read(std::strerror(errno));
    try {
        protocols::FileSource source(fd, standard_input ? Ownership::Borrowed : Ownership::Owned);
        auto read = protocols::read_json(source);
        if (!read) {
            const protocols::JsonError& e = read.error();
            return ":" + std::to_string(e.line) + ":" + std::to_string(e.column) + ": " + e.message;
        }
        return std::move(read).value();
    } catch (const std::system_error& e) {
        return ": " + cannot_read(std::strerror(e.code().value()));
    } catch (const std::bad_alloc&) {
        return ": " + cannot_read("out of memory");
    }
}

}  // namespace drel
