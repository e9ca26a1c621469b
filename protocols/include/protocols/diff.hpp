// What differs between two protocols, field by field in declaration order,
// named by the fields' paths in the text form ("intensity",
// "channel_a_settings.amplitude1_source.internal", "signals[2].frequency").
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "protocols/settings.hpp"
#include "protocols/shown.hpp"

namespace protocols {

struct Difference {
    enum class Kind {
        Value,    // a value of its own: a and b
        Variant,  // a signal of another kind: the two entries, a and b
        Count,    // an array of another length: a_count and b_count
        OnlyIn,   // an entry of one side's longer array: a or b, the other empty
        Levels,   // a waveform's levels: its lengths, and what differs where they are equal
    };
    // What differs in two waveforms of one length.
    struct Levels {
        std::uint64_t differing;  // levels
        std::uint64_t first;      // sample
        std::uint64_t last;       // sample
        std::uint64_t max_abs;    // the largest difference, in levels
    };

    Difference(Kind k, std::string p) : kind(k), path(std::move(p)) {}

    Kind kind;
    std::string path;
    Shown a, b;
    bool bits_only = false;           // two floats that the text form shows alike
    std::uint64_t a_bits = 0, b_bits = 0;  // their bits then
    std::uint64_t a_count = 0, b_count = 0;  // of a Count, and the lengths of Levels
    std::optional<Levels> levels;     // of Levels of one length
};

// Calls found(difference) for each difference of `b` from `a`, in the order
// of the fields' declarations, for as long as it returns true. An array of
// another length gives its Count, then the differences of the entries both
// have, then an OnlyIn for each entry only one has. Floats compare bit for
// bit: a NaN's payload and the sign of zero count.
void diff(const Settings& a, const Settings& b, const std::function<bool(const Difference&)>& found);

// drel diff's line for a difference, without the line break:
// "intensity: 0.3 -> 0.35", "signals[2]: Sine -> Ramp",
// "signals: 3 entries -> 4 entries", "signals[3]: only in B: ...",
// "signals[1].samples: 412 of 600000 levels differ, samples 1200 to 1611, by at most 3 levels".
std::string diff_line(const Difference& d);

// Its JSON object: {"path": "intensity", "a": 0.3, "b": 0.35}, or with
// "a_length" and "b_length" for an array's length and a waveform's (the
// waveform with "differing", "first", "last" and "max_abs", null where the
// lengths differ).
std::string diff_json(const Difference& d);

}  // namespace protocols
