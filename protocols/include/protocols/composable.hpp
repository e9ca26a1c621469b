// What pydrel's methods can compose, in one home for drel compose and the
// drel package's Settings.to_protocol(): a protocol is composable when a
// script that calls the methods of a new pydrel.Protocol makes it, field for
// field; the composition says which calls, and a refusal names the first
// field (in declaration order) that no call makes, with its value. A
// refusal is facts, not words: each front end words it in its own
// spelling (Python's reprs in the drel package, JSON in drel compose).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "protocols/field_path.hpp"
#include "protocols/hints.hpp"
#include "protocols/result.hpp"
#include "protocols/settings.hpp"
#include "protocols/shown.hpp"

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
        std::string_view method;  // "set_amplitude_source", "set_modulation_source"
        std::string_view target;  // the member of pydrel.Coil or pydrel.Channel: "A1", "B"
        std::uint64_t index;
        bool external;
    };
    std::array<Source, 6> sources;
};

// Why no script of pydrel's methods makes a protocol: the first field in
// the way, what it holds, and which method would have to make it.
struct Refusal {
    enum class Reason {
        Unchanged,     // no method changes the field: `value`, and `fresh`, a new protocol's
        Refused,       // `method` refuses `value` with the failed check `check`
        NeverWritten,  // a source in a form `method` never writes (the number not selected other than 0)
        NoSignals,     // the signal table is empty
        LevelOutside,  // `level` is no level add_arbitrary_signal() makes
        NoSession,     // a waveform of `count` levels, which no session has
    };
    Reason reason;
    FieldPath path;   // with the signal's kind as a step ("signals[2].Arbitrary.samples")
    Shown value;      // in the protocol that was asked about, which must outlive the refusal
    Shown fresh;      // of Unchanged, in a new protocol that the refusal keeps
    std::string_view method;
    std::string_view check;
    double number = 0.0;      // of Refused: the value refused
    std::int64_t level = 0;   // of LevelOutside
    std::uint64_t count = 0;  // of NoSession
    double session_duration = 0.0;  // of the protocol, for NoSession's note
    std::shared_ptr<const Settings> keeps;  // what `fresh` points into

    // "intensity is 60.0, which set_stimulation_intensity() refuses:
    // assertion failed: ...", with values and the path in a protocol's JSON
    // spelling (the drel package words it with Python's reprs).
    std::string json_message() const;
    // The note of what to do about it, in either spelling; empty where
    // there is none.
    std::string note(hints::Spelling spelling) const;
};

// The composition of `s`, or the first field in its way. What the methods
// cannot make: a machine description other than the factory's, a
// running_on_target_machine flag other than a new Protocol's in the current
// environment, channel A off, a duration or an intensity that the setters
// refuse, a coil, coil setting or monitor field other than a new
// Protocol's, a source in a form the setters never write (the number not
// selected other than 0), an empty signal table, a level outside 0 to
// 32767, a waveform whose length no session duration gives.
Result<Composition, Refusal> composition(const Settings& s);

}  // namespace protocols
