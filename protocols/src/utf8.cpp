#include "protocols/utf8.hpp"

#include <cstddef>
#include <cstdint>

namespace protocols::utf8 {
namespace {

// Length of the valid sequence starting at `i`, or 0 when it is invalid
// (the maximal-subpart rule decides how many bytes a replacement covers).
std::size_t valid_sequence_length(std::string_view s, std::size_t i, std::size_t* invalid_len) noexcept {
    const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
    const std::uint8_t b0 = byte(i);
    *invalid_len = 1;
    if (b0 < 0x80) return 1;
    std::size_t need;
    std::uint8_t lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        if (b0 == 0xE0) lo = 0xA0;  // overlong
        if (b0 == 0xED) hi = 0x9F;  // surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        if (b0 == 0xF0) lo = 0x90;  // overlong
        if (b0 == 0xF4) hi = 0x8F;  // past U+10FFFF
    } else {
        return 0;
    }
    for (std::size_t k = 1; k <= need; ++k) {
        if (i + k >= s.size()) return 0;
        const std::uint8_t b = byte(i + k);
        const bool ok = k == 1 ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF);
        if (!ok) return 0;
        *invalid_len = k + 1;
    }
    return need + 1;
}

}  // namespace

bool is_valid(std::string_view bytes) noexcept {
    std::size_t i = 0, bad = 0;
    while (i < bytes.size()) {
        const std::size_t n = valid_sequence_length(bytes, i, &bad);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string decode_lossy(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0, bad = 0;
    while (i < bytes.size()) {
        const std::size_t n = valid_sequence_length(bytes, i, &bad);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            i += bad;
        } else {
            out.append(bytes.substr(i, n));
            i += n;
        }
    }
    return out;
}

}  // namespace protocols::utf8
