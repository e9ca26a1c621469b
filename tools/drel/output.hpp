// drel's standard output: one buffered writer for everything it prints, so
// that a report on standard error can wait until what came before it has
// reached standard output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "protocols/byte_sink.hpp"

namespace drel {

class Output final : public protocols::ByteSink {
public:
    Output();
    void write(std::span<const std::uint8_t> bytes) override;
    void write(std::string_view text);
    // Hands everything written so far to standard output. Throws
    // std::system_error when that fails (a full disk, a closed pipe).
    void flush();
    // Whether standard output is a terminal, where a person reads it.
    bool is_terminal() const noexcept;

private:
    static constexpr std::size_t SIZE = 64 * 1024;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
};

// Writes `message` and a line break to standard error once `out` is flushed.
void report(Output& out, const std::string& message);

}  // namespace drel
