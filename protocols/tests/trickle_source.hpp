// A pipe, for tests of the decoder: the bytes come one to eight a read, as
// a seeded sequence decides, and their number is not known beforehand.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

#include "protocols/byte_source.hpp"

namespace protocols {

class TrickleSource final : public ByteSource {
public:
    TrickleSource(std::span<const std::uint8_t> bytes, std::uint64_t seed) : rest_(bytes), state_(seed) {}
    std::size_t read(std::span<std::uint8_t> into) override {
        state_ = state_ * 6364136223846793005u + 1442695040888963407u;
        const std::size_t n = std::min({into.size(), rest_.size(), std::size_t{1} + (state_ >> 61)});
        std::copy_n(rest_.begin(), n, into.begin());
        rest_ = rest_.subspan(n);
        return n;
    }

private:
    std::span<const std::uint8_t> rest_;
    std::uint64_t state_;
};

}  // namespace protocols
