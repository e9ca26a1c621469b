// UTF-8 checks shared by the library and the module.
#pragma once

#include <string>
#include <string_view>

namespace protocols::utf8 {

// Strict validation: no overlong forms, surrogates or code points past U+10FFFF.
bool is_valid(std::string_view bytes) noexcept;

// Decodes `bytes`, replacing each invalid sequence with U+FFFD.
std::string decode_lossy(std::string_view bytes);

}  // namespace protocols::utf8
