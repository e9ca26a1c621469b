// What pydrel's methods can compose, in one home for drel compose and the
// drel package's Settings.to_protocol(): a protocol is composable when a
// script that calls the methods of a new pydrel.Protocol makes it, field for
// field; the composition says which calls, and a refusal names the first
// field (in declaration order) that no call makes, with its value.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "protocols/result.hpp"
#include "protocols/settings.hpp"

namespace protocols {

// The defaults that pydrel's add_sine_signal() gives the parameters it may
// be called without.
inline constexpr double SINE_PHASE_DEFAULT = 0.0;
inline constexpr double SINE_DEPTH_DEFAULT = 1.0;

// Whether pydrel's methods give the field of record T a default (the
// parameters add_sine_signal() may be called without), which a protocol's
// JSON may then leave out of a signal.
template <class T>
constexpr bool has_method_default(std::string_view field) {
    return std::is_same_v<T, SineSignalParams> && (field == "phase" || field == "depth");
}

struct Composition {
    // For each waveform length, the session duration that add_arbitrary_signal()
    // is called under (set_session_duration() takes it, and it has that many
    // samples), by length.
    std::vector<std::pair<std::uint64_t, double>> durations;
    // What the source setters are called with, for the routes in the order
    // of routes(): A1, A2, A modulation, B1, B2, B modulation.
    struct Source {
        std::uint64_t index;
        bool external;
    };
    std::array<Source, 6> sources;
};

// The composition of `s`, or why there is none, as the drel package's
// NotComposable says it: "session_duration is 5000.0, which
// set_session_duration() refuses: assertion failed: duration <=
// config::MAX_SESSION_DURATION". What the methods cannot make: a machine
// description other than the factory's, a running_on_target_machine flag
// other than a new Protocol's in the current environment, channel A off, a
// duration or an intensity that the setters refuse, a coil, coil setting or
// monitor field other than a new Protocol's, a source in a form the setters
// never write (the number not selected other than 0), an empty signal
// table, a level outside 0 to 32767, a waveform whose length no session
// duration gives.
Result<Composition, std::string> composition(const Settings& s);

}  // namespace protocols
