// Reading a protocol file named on drel's command line.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "protocols/json_reader.hpp"
#include "protocols/settings.hpp"

namespace drel {

// The protocol in the file `name` ("-" for standard input), or what is wrong
// with it, to follow "NAME: ": "cannot be read: " and the system's
// description of a failed open or read (or that memory ran out), or the
// decoder's message, which says whether the bytes are no protocol file, a
// truncated one or a damaged one. The file is read through a fixed buffer
// and no further than the decoder needs.
std::variant<protocols::Settings, std::string> read_protocol(const std::string& name);

// The protocol in the JSON file `name` ("-" for standard input), with the
// places of its values noted in `places`, or what is wrong with it, in
// lines to follow "NAME": ":LINE:COLUMN: " and the reader's message, then
// its note (":LINE:COLUMN: note: ..."), where it has one; or ": cannot be
// read: " and why.
std::variant<protocols::Settings, std::vector<std::string>> read_json_protocol(const std::string& name,
                                                                               protocols::JsonPlaces* places);

}  // namespace drel
