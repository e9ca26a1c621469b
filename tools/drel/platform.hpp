// What drel asks of the system it runs on, in one small layer with a POSIX
// side (platform_posix.cpp) and a Windows side (platform_windows.cpp): its
// command line, its standard streams, and the files it reads and writes.
// Names and texts are UTF-8 on both sides; the Windows side turns them into
// UTF-16 where it calls the system. Everything else in drel is the same
// code on both.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocols/byte_sink.hpp"
#include "protocols/byte_source.hpp"

namespace drel::platform {

// The arguments after the program's name, as UTF-8 (on Windows, from the
// command line's wide strings, whatever main() was given).
std::vector<std::string> arguments(int argc, char** argv);

// Standard input and output carry bytes as they are (no line-break
// translation), and a console shows UTF-8. Called once, first.
void set_up_streams();

// Writes all of `data` to standard output; throws std::system_error when
// that fails (a full disk, a closed pipe).
void write_standard_output(const char* data, std::size_t n);
bool standard_output_is_terminal() noexcept;

// A file to read ("-": standard input), or why it cannot be opened, in the
// system's words.
struct Opened {
    std::unique_ptr<protocols::FileSource> source;
    std::string error;
};
Opened open_for_reading(const std::string& name);

// Writes `content` to the file `name`, made anew; why not, when it fails.
std::optional<std::string> write_file(const std::string& name, std::string_view content);

// Writes the file `name` whole or not at all: `fill(sink)` writes into a
// temporary file of a short name in the directory of the file that `name`
// names (through symbolic links, as opening it would), which is flushed to
// the disk and then takes its place. An existing file keeps its
// permissions (POSIX), a new one has 0666 less the umask. On a failure the
// temporary file is removed and `name` is as it was; returns why.
std::optional<std::string> write_atomically(const std::string& name,
                                            const std::function<void(protocols::ByteSink&)>& fill);

// The system's description of an error number of the C library.
std::string error_text(int code);

// The last component of a path: "b.drel" of "a/b.drel" (and, on Windows, of
// "a\b.drel").
std::string last_component(const std::string& path);

}  // namespace drel::platform
