// Coil and Channel members as arguments of Protocol's methods.
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

}  // namespace pydrel
