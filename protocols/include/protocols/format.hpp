// How numbers and text look in the text form, for the writer and for
// messages that quote values (the checks, error records).
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "protocols/utf8.hpp"

namespace protocols::text {

// The longest float form: "-2.2250738585072014e-308".
inline constexpr std::size_t MAX_FLOAT_TEXT = 32;

// Writes the float form of `x` at `out`: shortest round-trip digits, decimal
// notation for 1e-4 <= |x| < 1e16 and exponent notation otherwise. Returns
// the end.
char* format_float(char* out, double x) noexcept;

// The same as a string, for messages: "0.5", "-0.0", "NaN", "1e+20".
std::string float_text(double x);

// Characters written as \u{...}: controls, invisible format characters,
// and marks that attach to the previous character.
bool needs_unicode_escape(char32_t c) noexcept;

// Calls put(piece) with the pieces of `s` in double quotes, escaped; `s` is
// read as UTF-8, with U+FFFD for each invalid sequence.
template <class Put>
void quote(std::string_view s, Put&& put) {
    put("\"");
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t start = i;
        const char32_t c = utf8::next_code_point(s, i);
        switch (c) {
            case '\\': put("\\\\"); break;
            case '"': put("\\\""); break;
            case '\n': put("\\n"); break;
            case '\r': put("\\r"); break;
            case '\t': put("\\t"); break;
            case '\0': put("\\0"); break;
            default:
                if (needs_unicode_escape(c)) {
                    char hex[16] = "\\u{";
                    char* end = std::to_chars(hex + 3, hex + sizeof hex, static_cast<std::uint32_t>(c), 16).ptr;
                    *end++ = '}';
                    put(std::string_view(hex, static_cast<std::size_t>(end - hex)));
                } else if (c == 0xFFFD) {
                    put("\xef\xbf\xbd");  // also what an invalid sequence reads as
                } else {
                    put(s.substr(start, i - start));
                }
        }
    }
    put("\"");
}

// Calls put(piece) with the pieces of `s` as a JSON string (RFC 8259): in
// double quotes, with quotes, backslashes and controls escaped, and U+2028
// and U+2029 too, which JavaScript reads as line breaks; `s` is read as
// UTF-8, with U+FFFD for each invalid sequence.
template <class Put>
void json_quote(std::string_view s, Put&& put) {
    put("\"");
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t start = i;
        const char32_t c = utf8::next_code_point(s, i);
        switch (c) {
            case '\\': put("\\\\"); break;
            case '"': put("\\\""); break;
            case '\n': put("\\n"); break;
            case '\r': put("\\r"); break;
            case '\t': put("\\t"); break;
            default:
                if (c < 0x20 || c == 0x2028 || c == 0x2029) {
                    constexpr char digits[] = "0123456789abcdef";
                    const char hex[6] = {'\\', 'u', digits[c >> 12 & 15], digits[c >> 8 & 15], digits[c >> 4 & 15],
                                         digits[c & 15]};
                    put(std::string_view(hex, sizeof hex));
                } else if (c == 0xFFFD) {
                    put("\xef\xbf\xbd");  // also what an invalid sequence reads as
                } else {
                    put(s.substr(start, i - start));
                }
        }
    }
    put("\"");
}

// The same as whole strings, for messages.
inline std::string quoted(std::string_view s) {
    std::string out;
    quote(s, [&](std::string_view piece) { out += piece; });
    return out;
}
inline std::string json_quoted(std::string_view s) {
    std::string out;
    json_quote(s, [&](std::string_view piece) { out += piece; });
    return out;
}

}  // namespace protocols::text
