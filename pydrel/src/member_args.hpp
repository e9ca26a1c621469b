// Arguments of Protocol's methods that have a hint for their commonest
// mistakes: Coil and Channel members, indices and the external flag.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bind/convert.hpp"

namespace pydrel {

using namespace bind;

// The member value of argument i, a Coil or a Channel instance; the cast
// error for anything else.
std::uint8_t coil_argument(const Args& args, std::size_t i);
std::uint8_t channel_argument(const Args& args, std::size_t i);

// Argument i as an index, 0 to 2**64 - 1 (the unsigned-integer rule).
std::uint64_t index_argument(const Args& args, std::size_t i);
// Argument i as the external flag (the boolean rule), `fallback` when omitted.
bool external_argument(const Args& args, std::size_t i, bool fallback);

}  // namespace pydrel
