// Reading a protocol file named on drel's command line.
#pragma once

#include <string>
#include <variant>

#include "protocols/settings.hpp"

namespace drel {

// The protocol in the file `name` ("-" for standard input), or why it cannot
// be read: the system's description of a failed open or read, the
// decoder's message, or that memory ran out. The file is read through a
// fixed buffer and no further than the decoder needs.
std::variant<protocols::Settings, std::string> read_protocol(const std::string& name);

}  // namespace drel
