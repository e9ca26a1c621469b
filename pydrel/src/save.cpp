// Saving: create or truncate the file and stream the encoding into it through
// a fixed buffer. Every failure after the name check is raised as a failed
// unwrap of the error, rendered on one line.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <span>
#include <utility>

#include "bind/panic.hpp"
#include "methods.hpp"
#include "os_error.hpp"
#include "protocols/encode.hpp"

namespace pydrel {

using namespace bind;

namespace {

constexpr Params<1> SAVE{"Protocol.save()", {"filepath"}, 1};
constexpr std::string_view SUFFIX = ".drel";

[[noreturn]] void fail_unwrap(const std::string& rendered_error,
                              std::source_location where = std::source_location::current()) {
    panic("called `Result::unwrap()` on an `Err` value: " + rendered_error, where);
}

// A system call interrupted by a signal is repeated, as the interpreter's own
// os.write does it: first the Python handlers of pending signals run, and one
// that raises (KeyboardInterrupt from Ctrl-C) ends the save with its exception.
void after_interruption() {
    throw_on_failure(PyErr_CheckSignals());
}

// An open file descriptor. close() reports the failures of a network or
// quota-limited file system that the writes did not, so the normal way out
// checks it; on the other ways out the first failure is already reported.
class File {
public:
    explicit File(int fd) noexcept : fd_(fd) {}
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File() {
        if (fd_ >= 0) ::close(fd_);
    }
    int fd() const noexcept { return fd_; }

    void close() {
        // On Linux the descriptor is released even when close() fails, so it
        // is never repeated, and EINTR is no failure.
        const int status = ::close(std::exchange(fd_, -1));
        if (status < 0 && errno != EINTR) fail_unwrap(render_os_error(errno));
    }

private:
    int fd_;
};

// `path` is followed by the NUL that ends the str's UTF-8 buffer.
File create_or_truncate(std::string_view path) {
    if (std::memchr(path.data(), '\0', path.size()) != nullptr) {
        fail_unwrap(render_simple_error("InvalidInput", "file name contained an unexpected NUL byte"));
    }
    for (;;) {
        const int fd = ::open(path.data(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd >= 0) return File(fd);
        if (errno != EINTR) fail_unwrap(render_os_error(errno));
        after_interruption();
    }
}

void write_all(const File& file, std::span<const std::uint8_t> bytes) {
    const std::uint8_t* rest = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(file.fd(), rest, left);
        if (n > 0) {
            rest += n;
            left -= static_cast<std::size_t>(n);
        } else if (n == 0) {
            fail_unwrap(render_simple_error("WriteZero", "failed to write whole buffer"));
        } else if (errno != EINTR) {
            fail_unwrap(render_os_error(errno));
        } else {
            after_interruption();
        }
    }
}

// The encoder's output goes straight to the file, one buffer at a time.
class FileSink final : public protocols::ByteSink {
public:
    explicit FileSink(const File& file) noexcept : file_(file) {}
    void write(std::span<const std::uint8_t> bytes) override { write_all(file_, bytes); }

private:
    const File& file_;
};

// Large enough that a big waveform takes few write calls, small enough to
// stay in cache between the encoder and the kernel's copy.
constexpr std::size_t STREAM_BUFFER = 256 * 1024;
static_assert(STREAM_BUFFER >= protocols::MIN_ENCODE_BUFFER);

}  // namespace

PyObject* save(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return protocol_method<SAVE>(self, args, nargs, kwnames, [](auto& s, Args& a) {
        const std::string_view path = a.text(0);
        require(path.ends_with(SUFFIX), "assertion failed: filepath.ends_with(\".drel\")");
        protocols::fill_empty_signal_table(s);
        // Allocated before the file is touched: running out of memory here
        // leaves no trace on disk, and the encoding itself allocates nothing.
        const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(STREAM_BUFFER);
        File file = create_or_truncate(path);
        FileSink sink(file);
        protocols::encode(s, {buffer.get(), STREAM_BUFFER}, sink);
        file.close();
        return none();
    });
}

}  // namespace pydrel
