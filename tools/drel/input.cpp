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

namespace drel {
namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) noexcept : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ > STDIN_FILENO) ::close(fd_);
    }
    int get() const noexcept { return fd_; }

private:
    int fd_;
};

}  // namespace

std::variant<protocols::Settings, std::string> read_protocol(const std::string& name) {
    const Descriptor fd(name == "-" ? STDIN_FILENO : ::open(name.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return std::strerror(errno);
    try {
        protocols::FileSource source(fd.get());
        auto decoded = protocols::decode(source);
        if (!decoded) return decoded.error().message;
        return std::move(decoded).value();
    } catch (const std::system_error& e) {
        return std::strerror(e.code().value());
    } catch (const std::bad_alloc&) {
        return "out of memory";
    }
}

}  // namespace drel
