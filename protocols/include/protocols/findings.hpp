// Every finding that the checks report: its severity, its words, with the
// values of the protocol in braces, and what it means. The checks are
// written from this table (check.cpp fills in the values), and the
// documentation's reference of findings is made from it (drel._native
// .findings()), so the two cannot drift apart.
#pragma once

#include <array>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "protocols/check.hpp"
#include "protocols/config.hpp"

namespace protocols {

struct FindingKind {
    std::string_view id;  // "stale-waveform"
    Finding::Severity severity;
    std::string_view words;    // "signal {signal} has {levels} levels, ...": the finding's message
    std::string_view meaning;  // why it matters, and what to do
};

namespace findings {

using enum Finding::Severity;

inline constexpr FindingKind SESSION_DURATION{
    "session-duration", Error, "session duration is {duration} s, but it must be between {min} and {max} s",
    "The stimulator runs sessions of 0.01 to 1800.0 s, the range that set_session_duration() takes; a protocol "
    "file made otherwise has another."};
inline constexpr FindingKind INTENSITY{
    "intensity", Error, "intensity is {intensity}, but it must be between {min} and {max}",
    "The intensity is a fraction of full scale, from 0.0 to 1.0, as set_stimulation_intensity() takes it."};
inline constexpr FindingKind INTENSITY_ABOVE_SET_POINT{
    "intensity-above-set-point", Warning,
    "intensity {intensity} is above the machine description's max_intensity_setpoint {set_point}, a limit of the "
    "factory description that every composed protocol carries",
    "Every protocol that pydrel composes carries the factory description of the stimulator, whose "
    "max_intensity_setpoint is 0.3, so every intensity above 0.3 draws this warning. The description does not fix "
    "the set point's unit, and a stimulator may be set up with another limit: make sure that the one the protocol "
    "runs on allows the intensity. drel check --strict and drel compose --strict count it as an error."};
inline constexpr FindingKind MISSING_SIGNAL_SOURCE{
    "missing-signal-source", Error, "{route} source is signal {signal}, but the table has {signals}",
    "A coil's amplitude or a channel's modulation names an entry of the signal table that does not exist: an index "
    "past its end, or a source never set on a protocol whose table is empty. Only enabled channels are checked."};
inline constexpr FindingKind MISSING_EXTERNAL_INPUT{
    "missing-external-input", Warning, "{route} source is external input {input}, but the machine has {inputs}",
    "An external input that the machine description does not have (it has num_external_signal_sources of them, "
    "numbered from 0). The machine decides; the protocol cannot."};
inline constexpr FindingKind MISSING_COIL{
    "missing-coil", Warning, "channel {channel} uses coil {coil} of the machine description, but it describes {coils}",
    "The channel's coil_idx names a coil that the machine description lacks."};
inline constexpr FindingKind MISSING_COIL_SETTING{
    "missing-coil-setting", Warning,
    "channel {channel} uses setting {setting} of the machine description's coil {coil}, but that coil has {settings}",
    "The channel's coil_setting_idx names an LC setting that its coil lacks."};
inline constexpr FindingKind MIX_OF_A_MISSING_SIGNAL{
    "mix-of-a-missing-signal", Error, "signal {signal} mixes signal {mixed} ({field}), but the table has {signals}",
    "A mix names an entry past the end of the signal table."};
inline constexpr FindingKind MIX_OF_ITSELF{
    "mix-of-itself", Error, "signal {signal} mixes itself ({fields}), but a mix must name other signals",
    "A mix names its own entry, which has no value to mix."};
inline constexpr FindingKind MIX_CYCLE{
    "mix-cycle", Error, "signal {signal} mixes itself through signals {cycle}, but mixes must not form a cycle",
    "Mixes that name each other in a ring have no value; the cycle is reported once, at its lowest signal."};
inline constexpr FindingKind STALE_WAVEFORM{
    "stale-waveform", Error, "signal {signal} has {levels} levels, but the session of {duration} s has {samples} samples",
    "A waveform made for a session of another length, which set_session_duration() changed after "
    "add_arbitrary_signal(): its levels no longer cover the session one to one."};
inline constexpr FindingKind LEVELS_OUTSIDE{
    "levels-outside", Error, "signal {signal} has {outside} outside 0 to {max}, the first {level} at sample {sample}",
    "pydrel makes levels from 0 to 32767 (full scale); a negative level is no fraction of full scale."};
inline constexpr FindingKind NOT_FINITE{
    "not-finite", Warning, "signal {signal} ({kind}) has {parameter} {value}, but signal parameters should be finite",
    "A parameter that is NaN or infinite, of a signal that an enabled channel uses, directly or through mixes."};
inline constexpr FindingKind NO_FRACTION{
    "no-fraction", Warning,
    "signal {signal} ({kind}) has {parameter} {value}, but it is read as a fraction of full scale, from {min} to {max}",
    "A constant's value, a sine's amplitude or depth, or a ramp's peak outside 0.0 to 1.0: the stimulator reads them "
    "as fractions of full scale."};
inline constexpr FindingKind NEGATIVE_FREQUENCY{
    "negative-frequency", Warning, "signal {signal} ({kind}) has frequency {value} Hz, but a frequency must not be negative",
    "A sine's frequency below 0."};
inline constexpr FindingKind FREQUENCY_ABOVE_NYQUIST{
    "frequency-above-nyquist", Warning,
    "signal {signal} ({kind}) has frequency {value} Hz, but {rate} samples/s carry at most {nyquist} Hz",
    "A sine's frequency above half the sampling rate, which samples at 5000 per second cannot carry."};
inline constexpr FindingKind NEGATIVE_DURATION{
    "negative-duration", Warning, "signal {signal} ({kind}) has {parameter} {value} s, but a duration must not be negative",
    "A ramp's up_duration or down_duration below 0."};
inline constexpr FindingKind RAMP_LONGER_THAN_SESSION{
    "ramp-longer-than-session", Warning,
    "signal {signal} ({kind}) has up_duration and down_duration of {total} s together, but the session lasts "
    "{duration} s",
    "A ramp that cannot rise and fall within the session."};

// The limits that the meanings quote, tied to the constants they quote.
namespace quoted = config::quoted;
static_assert(quoted::number_after(SESSION_DURATION.meaning, "sessions of ") == config::MIN_SESSION_DURATION);
static_assert(quoted::number_after(SESSION_DURATION.meaning, " to ") == config::MAX_SESSION_DURATION);
static_assert(quoted::number_after(INTENSITY.meaning, "from ") == config::MIN_FRACTION);
static_assert(quoted::number_after(INTENSITY.meaning, " to ") == config::MAX_FRACTION);
static_assert(quoted::number_after(LEVELS_OUTSIDE.meaning, "levels from 0 to ") == config::MAX_LEVEL);
static_assert(quoted::number_after(NO_FRACTION.meaning, "outside ") == config::MIN_FRACTION);
static_assert(quoted::number_after(NO_FRACTION.meaning, " to ") == config::MAX_FRACTION);
static_assert(quoted::number_after(FREQUENCY_ABOVE_NYQUIST.meaning, "samples at ") == config::SAMPLING_RATE);

// In the order in which the checks report them.
inline constexpr std::array ALL = {
    &SESSION_DURATION,       &INTENSITY,          &INTENSITY_ABOVE_SET_POINT, &MISSING_SIGNAL_SOURCE,
    &MISSING_EXTERNAL_INPUT, &MISSING_COIL,       &MISSING_COIL_SETTING,      &MIX_OF_A_MISSING_SIGNAL,
    &MIX_OF_ITSELF,          &MIX_CYCLE,          &STALE_WAVEFORM,            &LEVELS_OUTSIDE,
    &NOT_FINITE,             &NO_FRACTION,        &NEGATIVE_FREQUENCY,        &FREQUENCY_ABOVE_NYQUIST,
    &NEGATIVE_DURATION,      &RAMP_LONGER_THAN_SESSION,
};

}  // namespace findings

// The finding's words with its values filled in: each "{name}" by the value
// given for it. Throws std::logic_error for a name it is not given, or a
// value for no name of the words.
using FindingValue = std::pair<std::string_view, std::string>;
std::string say(const FindingKind& kind, std::span<const FindingValue> values);
inline std::string say(const FindingKind& kind, std::initializer_list<FindingValue> values) {
    return say(kind, std::span(values.begin(), values.size()));
}

}  // namespace protocols
