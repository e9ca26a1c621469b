// Who receives what: the four coils' amplitudes and the two channels'
// modulations of a protocol, each with the signal or input it names,
// resolved against the signal table, in the words of the checks.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocols/findings.hpp"
#include "protocols/settings.hpp"

namespace protocols {

struct Route {
    enum class Role { Amplitude1, Amplitude2, Modulation };
    char channel;  // 'A' or 'B'
    Role role;
    const ChannelSettings* settings;  // of its channel
    const SignalSourceSelection* source;

    // As the API names it: "A1", "B2", "A modulation".
    std::string name() const;
    // As the routing and the pictures label it: "A1 amplitude", "A modulation".
    std::string label() const;
    // As the text form names its field: "amplitude1_source".
    std::string_view field() const;
};

// A1, A2, A modulation, B1, B2, B modulation.
std::array<Route, 6> routes(const Settings& s);

// The signal a route receives, when it names one that the table has.
const Signal* routed_signal(const Settings& s, const Route& r) noexcept;

// The signals that stimulate: those an enabled channel takes from the table
// directly, and those that the mixes among them name, transitively.
std::vector<bool> used_signals(const Settings& s);

// How many: "3 signals (0 to 2)", "1 signal (0)", "no signals".
std::string how_many(std::uint64_t n, std::string_view one, std::string_view many);

// A source that names no signal of the table or no input of the machine, as
// the checks report it: the finding, and its values but the route's.
struct MissingSource {
    const FindingKind* kind;  // findings::MISSING_SIGNAL_SOURCE or MISSING_EXTERNAL_INPUT
    std::array<FindingValue, 2> values;  // what it names, and what there is
    // The finding's words after "{route} source is ": "signal 7, but the table
    // has 3 signals (0 to 2)", "external input 6, but the machine has 6
    // external inputs (0 to 5)".
    std::string text() const;
};
std::optional<MissingSource> missing_source(const Settings& s, const SignalSourceSelection& source);

// What a channel uses: "coil 0 \"Default\", setting 0, carrier 22.6 kHz",
// or what it names that the machine lacks, in the checks' words.
std::string channel_coil(const Settings& s, const ChannelSettings& c);

// What each route receives, in the order of routes(): "signal 0: Sine
// amplitude 1.0, frequency 10.0, phase 0.0, depth 1.0", "signal 1:
// Arbitrary 10000 levels (2.0 s), 0.0 to 1.0", "external input 2", or what
// is missing. A mix shows the two signals it names, one level deep; the
// table's mix cycles are found once for all six.
std::array<std::string, 6> receives(const Settings& s);

// drel show --routing: each channel, on or off, with its coil, and its three
// routes; then the signals that no enabled channel uses.
std::string routing_text(const Settings& s);

}  // namespace protocols
