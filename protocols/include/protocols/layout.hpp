// The layout of a protocol file in words, walked from the field
// declarations as the encoder walks them: every record, and each of its
// fields with how it is written. The documentation's reference of the file
// format is made from it.
#pragma once

#include <string>
#include <vector>

namespace protocols {

struct FieldLayout {
    std::string name;
    std::string written;  // "varint (unsigned 64-bit integer)", "array of Signal: a varint count, then each"
};

struct RecordLayout {
    std::string name;  // "Settings", "SineSignalParams", or "Signal" for the tagged union
    std::vector<FieldLayout> fields;  // of a tagged union: its variants, by index
};

// Settings first, then each record as the walk first meets it.
std::vector<RecordLayout> file_layout();

}  // namespace protocols
