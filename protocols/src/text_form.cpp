#include "protocols/text_form.hpp"

#include <algorithm>
#include <array>
#include <cmath>

namespace protocols::text {
namespace {

// Every level from 0 to 32767 as text followed by its comma, in the low bytes
// of a 64-bit word whose top byte is the length: one load and one eight-byte
// store per level.
class LevelTexts {
public:
    LevelTexts() noexcept {
        for (std::size_t level = 0; level < texts_.size(); ++level) {
            char bytes[8] = {};
            char* end = std::to_chars(bytes, bytes + 6, level).ptr;
            *end++ = ',';
            bytes[7] = static_cast<char>(end - bytes);
            std::memcpy(&texts_[level], bytes, sizeof bytes);
        }
    }
    std::uint64_t operator[](std::int16_t level) const noexcept { return texts_[static_cast<std::size_t>(level)]; }

private:
    std::array<std::uint64_t, 32768> texts_;
};

const LevelTexts& level_texts() {
    static const LevelTexts texts;  // 256 KiB, made on the first waveform shown
    return texts;
}

// A line break and the indentation of a level, copied as one fixed block
// (levels usually stand at depth 6: 25 bytes).
constexpr std::size_t LINE_BLOCK = 32;
// Bytes a level line may store past its end on the fast path: the rest of
// the line block and of the eight-byte level text.
constexpr std::size_t LEVEL_OVERRUN = LINE_BLOCK + 8;

inline std::size_t level_digits(std::int16_t level) noexcept {
    const int a = level < 0 ? -level : level;
    return static_cast<std::size_t>(1 + (a > 9) + (a > 99) + (a > 999) + (a > 9999) + (level < 0));
}

// One level line at `p`, exactly (for the end of the buffer and negatives).
char* put_level_line(char* p, std::int16_t level, std::size_t indent) noexcept {
    *p++ = '\n';
    std::memset(p, ' ', indent);
    p = std::to_chars(p + indent, p + indent + 6, level).ptr;
    *p++ = ',';
    return p;
}

}  // namespace

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

void Counter::levels(std::span<const std::int16_t> levels, std::size_t depth) noexcept {
    std::size_t digits = 0;
    for (const std::int16_t level : levels) digits += level_digits(level);
    size_ += levels.size() * (1 + 4 * depth + 1) + digits;  // line break, indentation, comma
}

void Filler::newline(std::size_t depth) noexcept {
    *p_++ = '\n';
    std::memset(p_, ' ', 4 * depth);
    p_ += 4 * depth;
}

void Filler::levels(std::span<const std::int16_t> levels, std::size_t depth) noexcept {
    const std::size_t indent = 4 * depth;
    std::size_t i = 0;
    if (indent + 1 <= LINE_BLOCK) {
        std::array<char, LINE_BLOCK> line;
        line.fill(' ');
        line[0] = '\n';
        const LevelTexts& texts = level_texts();
        char* p = p_;
        // Fixed-size stores run past the line's end; stop while they stay
        // inside the buffer.
        for (; i < levels.size() && static_cast<std::size_t>(end_ - p) >= LEVEL_OVERRUN; ++i) {
            const std::int16_t level = levels[i];
            if (level < 0) {
                p = put_level_line(p, level, indent);
                continue;
            }
            std::memcpy(p, line.data(), LINE_BLOCK);
            p += indent + 1;
            const std::uint64_t text = texts[level];
            std::memcpy(p, &text, sizeof text);
            p += text >> 56;
        }
        p_ = p;
    }
    for (; i < levels.size(); ++i) p_ = put_level_line(p_, levels[i], indent);
}

void Appender::levels(std::span<const std::int16_t> levels, std::size_t depth) {
    for (const std::int16_t level : levels) {  // the plain way; Filler is the fast one
        newline(depth);
        char buf[8];
        out_.append(buf, std::to_chars(buf, buf + sizeof buf, level).ptr);
        out_ += ',';
    }
}

ProtocolText measure_protocol(const Settings& settings) noexcept {
    Counter counter;
    write_protocol(settings, counter);
    return {counter.size(), counter.ascii()};
}

void render_protocol(const Settings& settings, std::span<char> out) noexcept {
    Filler filler(out);
    write_protocol(settings, filler);
}

std::string render_protocol(const Settings& settings, Waveforms waveforms) {
    if (waveforms == Waveforms::Summary) {
        std::string out;
        Appender appender(out);
        write_protocol(settings, appender, waveforms);
        return out;
    }
    std::string out(measure_protocol(settings).size, '\0');
    render_protocol(settings, out);
    return out;
}

}  // namespace protocols::text
