// UTF-8 checks shared by the library and the module.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace protocols::utf8 {

// Strict validation: no overlong forms, surrogates or code points past U+10FFFF.
bool is_valid(std::string_view bytes) noexcept;

// Decodes `bytes`, replacing each invalid sequence with U+FFFD.
std::string decode_lossy(std::string_view bytes);

// Decodes the code point at bytes[i] and advances i past it; an invalid
// sequence decodes as U+FFFD.
char32_t next_code_point(std::string_view bytes, std::size_t& i) noexcept;

// Appends the UTF-8 form of `c`.
void append(std::string& out, char32_t c);

}  // namespace protocols::utf8
