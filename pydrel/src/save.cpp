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

#include "bind/notes.hpp"
#include "bind/panic.hpp"
#include "hints.hpp"
#include "methods.hpp"
#include "os_error.hpp"
#include "protocols/encode.hpp"

namespace pydrel {

using namespace bind;

namespace {

constexpr Params<1> SAVE{"Protocol.save()", {"filepath"}, 1};
constexpr std::string_view SUFFIX = ".drel";

// A failed file operation ("open", "write", "close") on `path`.
[[noreturn]] void fail_unwrap(const std::string& rendered_error, std::string note,
                              std::source_location where = std::source_location::current()) {
    panic_noted("called `Result::unwrap()` on an `Err` value: " + rendered_error, std::move(note), where);
}

[[noreturn]] void fail_os(std::string_view operation, std::string_view path, int code,
                          std::source_location where = std::source_location::current()) {
    fail_unwrap(render_os_error(code), hints::file_operation(operation, path, code), where);
}

[[noreturn]] void fail_simple(std::string_view operation, std::string_view path, std::string_view kind,
                              std::string_view message, std::source_location where = std::source_location::current()) {
    fail_unwrap(render_simple_error(kind, message), hints::file_operation(operation, path, kind, message), where);
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
    File(int fd, std::string_view path) noexcept : fd_(fd), path_(path) {}
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File() {
        if (fd_ >= 0) ::close(fd_);
    }
    int fd() const noexcept { return fd_; }
    std::string_view path() const noexcept { return path_; }

    void close() {
        // On Linux the descriptor is released even when close() fails, so it
        // is never repeated, and EINTR is no failure.
        const int status = ::close(std::exchange(fd_, -1));
        if (status < 0 && errno != EINTR) fail_os("close", path_, errno);
    }

private:
    int fd_;
    std::string_view path_;
};

// `path` is followed by the NUL that ends the str's UTF-8 buffer.
File create_or_truncate(std::string_view path) {
    if (std::memchr(path.data(), '\0', path.size()) != nullptr) {
        fail_simple("open", path, "InvalidInput", "file name contained an unexpected NUL byte");
    }
    for (;;) {
        const int fd = ::open(path.data(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd >= 0) return File(fd, path);
        if (errno != EINTR) fail_os("open", path, errno);
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
            fail_simple("write", file.path(), "WriteZero", "failed to write whole buffer");
        } else if (errno != EINTR) {
            fail_os("write", file.path(), errno);
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
        const std::string_view path = noted([&] { return a.text(0); }, [&](PyObject* error) {
            return is_exactly(error, PyExc_TypeError) ? hints::filepath_argument(a.object(0)) : std::string();
        });
        require_noted(path.ends_with(SUFFIX), "assertion failed: filepath.ends_with(\".drel\")",
                      [&] { return hints::suffix(path); });
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
