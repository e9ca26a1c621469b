#include "output.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <utility>

#include "protocols/format.hpp"

namespace drel {
namespace {

void write_all(int fd, const char* data, std::size_t n) {
    while (n > 0) {
        const ssize_t done = ::write(fd, data, n);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) throw std::system_error(done < 0 ? errno : EIO, std::generic_category());
        data += done;
        n -= static_cast<std::size_t>(done);
    }
}

}  // namespace

Output::Output() : buffer_(std::make_unique_for_overwrite<char[]>(SIZE)) {}

void Output::write(std::string_view text) {
    if (text.size() > SIZE - used_) {
        flush();
        if (text.size() >= SIZE / 2) {  // large pieces (a protocol's text) go as they are
            write_all(STDOUT_FILENO, text.data(), text.size());
            return;
        }
    }
    std::memcpy(buffer_.get() + used_, text.data(), text.size());
    used_ += text.size();
}

void Output::write(std::span<const std::uint8_t> bytes) {
    write(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void Output::flush() {
    const std::size_t n = std::exchange(used_, 0);
    write_all(STDOUT_FILENO, buffer_.get(), n);
}

void report(Output& out, const std::string& message) {
    out.flush();
    std::fprintf(stderr, "%s\n", message.c_str());
}

std::optional<std::string> write_file(const std::string& name, std::string_view content) {
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return std::strerror(errno);
    try {
        write_all(fd, content.data(), content.size());
    } catch (const std::system_error& e) {
        ::close(fd);
        return std::strerror(e.code().value());
    }
    if (::close(fd) != 0) return std::strerror(errno);
    return std::nullopt;
}

namespace {

class FdSink final : public protocols::ByteSink {
public:
    explicit FdSink(int fd) noexcept : fd_(fd) {}
    void write(std::span<const std::uint8_t> bytes) override {
        write_all(fd_, reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }

private:
    int fd_;
};

}  // namespace

std::optional<std::string> write_atomically(const std::string& name,
                                            const std::function<void(protocols::ByteSink&)>& fill) {
    const std::size_t slash = name.find_last_of('/');
    const std::string directory = slash == std::string::npos ? "" : name.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    std::string temporary = directory + "." + base + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    struct stat existing {};
    mode_t mode;
    if (::stat(name.c_str(), &existing) == 0) {
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    const auto failed = [&](int code) -> std::optional<std::string> {
        ::close(fd);
        ::unlink(temporary.c_str());
        return std::strerror(code);
    };
    if (::fchmod(fd, mode) != 0) return failed(errno);
    try {
        FdSink sink(fd);
        fill(sink);
    } catch (const std::system_error& e) {
        return failed(e.code().value());
    }
    if (::close(fd) != 0) {
        const int code = errno;
        ::unlink(temporary.c_str());
        return std::strerror(code);
    }
    if (::rename(temporary.c_str(), name.c_str()) != 0) {
        const int code = errno;
        ::unlink(temporary.c_str());
        return std::strerror(code);
    }
    return std::nullopt;
}

std::string json(std::string_view s) {
    std::string out;
    protocols::text::json_quote(s, [&](std::string_view piece) { out += piece; });
    return out;
}

}  // namespace drel
