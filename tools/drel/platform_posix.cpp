// drel on POSIX systems: the platform layer (platform.hpp).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform.hpp"

namespace drel::platform {
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

class FdSink final : public protocols::ByteSink {
public:
    explicit FdSink(int fd) noexcept : fd_(fd) {}
    void write(std::span<const std::uint8_t> bytes) override {
        write_all(fd_, reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }

private:
    int fd_;
};

// The file that writing to `name` writes: the end of its chain of symbolic
// links, as open() follows them, so that a link keeps pointing at the
// file it names and that file takes the new bytes. A dangling link gives
// the file it would create.
std::string link_target(std::string name, int& error) {
    for (int links = 0;; ++links) {
        struct stat st {};
        if (::lstat(name.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return name;
        if (links == 40) {
            error = ELOOP;  // as open() gives up
            return name;
        }
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        const ssize_t n = ::readlink(name.c_str(), target.data(), target.size());
        if (n < 0) {
            error = errno;
            return name;
        }
        target.resize(static_cast<std::size_t>(n));
        if (target.starts_with('/')) {
            name = std::move(target);
        } else {
            const std::size_t slash = name.find_last_of('/');
            name = (slash == std::string::npos ? std::string() : name.substr(0, slash + 1)) + target;
        }
    }
}

}  // namespace

std::vector<std::string> arguments(int argc, char** argv) { return {argv + 1, argv + argc}; }

void set_up_streams() {}

void write_standard_output(const char* data, std::size_t n) { write_all(STDOUT_FILENO, data, n); }

bool standard_output_is_terminal() noexcept { return ::isatty(STDOUT_FILENO) == 1; }

Opened open_for_reading(const std::string& name) {
    using Ownership = protocols::FileSource::Ownership;
    if (name == "-") return {std::make_unique<protocols::FileSource>(STDIN_FILENO, Ownership::Borrowed), {}};
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {nullptr, error_text(errno)};
    return {std::make_unique<protocols::FileSource>(fd, Ownership::Owned), {}};
}

std::optional<std::string> write_file(const std::string& name, std::string_view content) {
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return error_text(errno);
    try {
        write_all(fd, content.data(), content.size());
    } catch (const std::system_error& e) {
        ::close(fd);
        return error_text(e.code().value());
    }
    if (::close(fd) != 0) return error_text(errno);
    return std::nullopt;
}

std::optional<std::string> write_atomically(const std::string& name,
                                            const std::function<void(protocols::ByteSink&)>& fill) {
    int error = 0;
    const std::string target = link_target(name, error);
    if (error != 0) return error_text(error);
    const std::size_t slash = target.find_last_of('/');
    const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    // A short name of its own, whatever the length of the target's.
    std::string temporary = (slash == std::string::npos ? "" : target.substr(0, slash + 1)) + ".drel-XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return error_text(errno);
    struct stat existing {};
    mode_t mode;
    if (::stat(target.c_str(), &existing) == 0) {
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    const auto failed = [&](int code, bool open) -> std::optional<std::string> {
        if (open) ::close(fd);
        ::unlink(temporary.c_str());
        return error_text(code);
    };
    if (::fchmod(fd, mode) != 0) return failed(errno, true);
    try {
        FdSink sink(fd);
        fill(sink);
    } catch (const std::system_error& e) {
        return failed(e.code().value(), true);
    }
    // On the disk before it takes the place of the old file, so that a crash
    // leaves one or the other whole.
    if (::fsync(fd) != 0) return failed(errno, true);
    if (::close(fd) != 0) return failed(errno, false);
    if (::rename(temporary.c_str(), target.c_str()) != 0) return failed(errno, false);
    // And the rename itself, which lives in the directory. The file is in
    // place whatever this gives: a file system that cannot flush a
    // directory has no other way to make it last.
    if (const int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return std::nullopt;
}

std::string error_text(int code) { return std::strerror(code); }

std::string last_component(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

}  // namespace drel::platform
