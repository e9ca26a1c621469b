#include "protocols/text_form.hpp"

#include <cmath>

#include "protocols/utf8.hpp"

namespace protocols::text {
namespace {

// Characters that are written as \u{...}: controls, format characters that
// would be invisible, and marks that attach to the previous character.
bool needs_unicode_escape(char32_t c) {
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

// Digits of the longest line a level of a waveform takes, with its ",\n".
constexpr std::size_t MAX_LEVEL_TEXT = 6 + 2;
// Depth at which the levels of a waveform stand in the text of a protocol:
// Protocol > settings > signals > variant > params record > samples > level.
constexpr std::size_t LEVEL_DEPTH = 6;
// Everything but the waveforms and the coil names fits in this per entry.
constexpr std::size_t FIXED_TEXT = 8192;
constexpr std::size_t TEXT_PER_SIGNAL = 512;

std::size_t text_size_bound(const Settings& s) {
    std::size_t bound = FIXED_TEXT;
    for (const auto& coil : s.machine_config.coils) bound += 1024 + 10 * coil.name.size() + 512 * coil.settings.size();
    bound += 32 * (s.machine_config.capacitors.size() + s.machine_config.possible_capacitances.size());
    for (const auto& signal : s.signals) {
        bound += TEXT_PER_SIGNAL;
        if (const auto* arbitrary = std::get_if<ArbitrarySignalParams>(&signal.payload)) {
            bound += arbitrary->samples.size() * (4 * LEVEL_DEPTH + MAX_LEVEL_TEXT);
        }
    }
    return bound;
}

}  // namespace

void append_float(std::string& out, double x) {
    if (std::isnan(x)) {
        out += "NaN";
        return;
    }
    if (std::isinf(x)) {
        out += x > 0 ? "inf" : "-inf";
        return;
    }
    // Scientific to_chars gives the shortest round-trip digits, d.ddde±XX.
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
    const std::string_view sci(buf, static_cast<std::size_t>(r.ptr - buf));
    const std::size_t e_pos = sci.find('e');
    std::string_view mantissa = sci.substr(0, e_pos);
    int exponent = 0;
    const char* exp_first = sci.data() + e_pos + 1;
    if (*exp_first == '+') ++exp_first;  // from_chars takes no plus sign
    std::from_chars(exp_first, sci.data() + sci.size(), exponent);
    if (!mantissa.empty() && mantissa.front() == '-') {
        out += '-';
        mantissa.remove_prefix(1);
    }
    std::string digits;
    for (char c : mantissa) {
        if (c != '.') digits += c;
    }
    const double magnitude = std::fabs(x);
    if (magnitude >= 1e16 || (x != 0.0 && magnitude < 1e-4)) {
        out += digits[0];
        if (digits.size() > 1) {
            out += '.';
            out.append(digits, 1);
        }
        out += 'e';
        out += std::to_string(exponent);
        return;
    }
    if (exponent < 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out += digits;
        return;
    }
    const auto int_digits = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= int_digits) {
        out += digits;
        out.append(int_digits - digits.size(), '0');
        out += ".0";
    } else {
        out.append(digits, 0, int_digits);
        out += '.';
        out.append(digits, int_digits);
    }
}

void append_quoted(std::string& out, std::string_view s) {
    out += '"';
    for (std::size_t i = 0; i < s.size();) {
        const char32_t c = utf8::next_code_point(s, i);
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\0': out += "\\0"; break;
            default:
                if (needs_unicode_escape(c)) {
                    char hex[8];
                    const auto r = std::to_chars(hex, hex + sizeof hex, static_cast<std::uint32_t>(c), 16);
                    out += "\\u{";
                    out.append(hex, r.ptr);
                    out += '}';
                } else {
                    utf8::append(out, c);
                }
        }
    }
    out += '"';
}

std::string render_protocol(const Settings& settings) {
    std::string out;
    out.reserve(text_size_bound(settings));
    Writer w(out, Layout::MultiLine);
    w.record("Protocol", [&](Writer::Fields& fields) { fields.field("settings", settings); });
    return out;
}

}  // namespace protocols::text
