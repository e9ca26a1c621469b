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
    std::size_t i = 0;
    while (i < bytes.size()) append(out, next_code_point(bytes, i));
    return out;
}

char32_t next_code_point(std::string_view bytes, std::size_t& i) noexcept {
    std::size_t bad = 0;
    const std::size_t n = valid_sequence_length(bytes, i, &bad);
    if (n == 0) {
        i += bad;
        return 0xFFFD;
    }
    const auto b = [&](std::size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(bytes[i + k])); };
    char32_t c = n == 1 ? b(0) : n == 2 ? (b(0) & 0x1F) : n == 3 ? (b(0) & 0x0F) : (b(0) & 0x07);
    for (std::size_t k = 1; k < n; ++k) c = (c << 6) | (b(k) & 0x3F);
    i += n;
    return c;
}

void append(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace protocols::utf8
