#include "output.hpp"

#include <cstdio>
#include <cstring>
#include <utility>

#include "platform.hpp"

namespace drel {

Output::Output() : buffer_(std::make_unique_for_overwrite<char[]>(SIZE)) {}

void Output::write(std::string_view text) {
    if (text.size() > SIZE - used_) {
        flush();
        if (text.size() >= SIZE / 2) {  // large pieces (a protocol's text) go as they are
            platform::write_standard_output(text.data(), text.size());
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
    platform::write_standard_output(buffer_.get(), n);
}

bool Output::is_terminal() const noexcept { return platform::standard_output_is_terminal(); }

void report(Output& out, const std::string& message) {
    out.flush();
    std::fprintf(stderr, "%s\n", message.c_str());
    std::fflush(stderr);
}

}  // namespace drel
