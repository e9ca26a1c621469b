#include "protocols/format.hpp"

#include <algorithm>
#include <cmath>

namespace protocols::text {

bool needs_unicode_escape(char32_t c) noexcept {
    if (c < 0x20 || (c >= 0x7f && c <= 0x9f)) return true;
    struct Range {
        char32_t first, last;
    };
    static constexpr Range ranges[] = {
        {0x00AD, 0x00AD},   {0x0300, 0x036F},   {0x0483, 0x0489},   {0x0591, 0x05BD},
        {0x0610, 0x061A},   {0x064B, 0x065F},   {0x1AB0, 0x1AFF},   {0x1DC0, 0x1DFF},
        {0x200B, 0x200F},   {0x2028, 0x202E},   {0x2060, 0x206F},   {0x20D0, 0x20FF},
        {0xD800, 0xDFFF},   {0xE000, 0xF8FF},   {0xFE00, 0xFE0F},   {0xFE20, 0xFE2F},
        {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0xFFFE, 0xFFFF},   {0xE0000, 0xE0FFF},
        {0xF0000, 0x10FFFF},
    };
    for (const auto& r : ranges) {
        if (c >= r.first && c <= r.last) return true;
    }
    return false;
}

std::string float_text(double x) {
    char buf[MAX_FLOAT_TEXT];
    return std::string(buf, format_float(buf, x));
}

char* format_float(char* out, double x) noexcept {
    if (std::isnan(x)) return std::copy_n("NaN", 3, out);
    if (std::isinf(x)) return x > 0 ? std::copy_n("inf", 3, out) : std::copy_n("-inf", 4, out);
    // Scientific to_chars gives the shortest round-trip digits: [-]d[.ddd]e±XX.
    char sci[MAX_FLOAT_TEXT];
    const char* const sci_end = std::to_chars(sci, sci + sizeof sci, x, std::chars_format::scientific).ptr;
    const char* p = sci;
    if (*p == '-') *out++ = *p++;
    char digits[20];
    std::size_t n = 0;
    for (; *p != 'e'; ++p) {
        if (*p != '.') digits[n++] = *p;
    }
    ++p;  // past 'e'
    if (*p == '+') ++p;  // from_chars takes no plus sign
    int exponent = 0;
    std::from_chars(p, sci_end, exponent);

    const double magnitude = std::fabs(x);
    if (magnitude >= 1e16 || (x != 0.0 && magnitude < 1e-4)) {
        *out++ = digits[0];
        if (n > 1) {
            *out++ = '.';
            out = std::copy_n(digits + 1, n - 1, out);
        }
        *out++ = 'e';
        return std::to_chars(out, out + 8, exponent).ptr;
    }
    if (exponent < 0) {
        *out++ = '0';
        *out++ = '.';
        out = std::fill_n(out, -exponent - 1, '0');
        return std::copy_n(digits, n, out);
    }
    const auto int_digits = static_cast<std::size_t>(exponent) + 1;
    if (n <= int_digits) {
        out = std::copy_n(digits, n, out);
        out = std::fill_n(out, int_digits - n, '0');
        return std::copy_n(".0", 2, out);
    }
    out = std::copy_n(digits, int_digits, out);
    *out++ = '.';
    return std::copy_n(digits + int_digits, n - int_digits, out);
}

}  // namespace protocols::text
