// The sample count of a protocol's session, as the methods that need it see it.
#pragma once

#include <cstdint>

#include "protocols/settings.hpp"

namespace pydrel {

// Fails the check that the session has a positive duration when it has none.
std::uint64_t required_sample_count(const protocols::Settings& settings);

}  // namespace pydrel
