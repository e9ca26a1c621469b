#include "protocols/hints.hpp"

#include <cmath>

#include "protocols/config.hpp"
#include "protocols/format.hpp"
#include "protocols/settings.hpp"

namespace protocols::hints {
namespace {

std::string full_scale(Spelling s) {
    return "fractions of full scale, from " + number(config::MIN_FRACTION, s) + " to " + number(config::MAX_FRACTION, s);
}

std::string session_range(Spelling s) {
    return "from " + number(config::MIN_SESSION_DURATION, s) + " to " + number(config::MAX_SESSION_DURATION, s) +
           " s (" + std::to_string(static_cast<int>(config::MAX_SESSION_DURATION / 60)) + " minutes)";
}

std::string rate() { return std::to_string(static_cast<int>(config::SAMPLING_RATE)) + " samples/s"; }

// Where an intensity reads as a percentage: a whole-looking number of
// percent, not a fraction a little above full scale (1.1).
constexpr bool reads_as_percentage(double x) noexcept { return x >= 2.0 && x <= 100.0; }

}  // namespace

std::string number(double x, Spelling spelling) {
    if (spelling == Spelling::Json) return text::float_text(x);
    if (std::isnan(x)) return "nan";
    // repr() has the same digits and the same switch to an exponent as the
    // text form, but writes the exponent signed and in two digits at least.
    std::string out = text::float_text(x);
    const std::size_t e = out.find('e');
    if (e == std::string::npos || std::isinf(x)) return out;
    std::string exponent = out.substr(e + 1);
    const char sign = exponent[0] == '-' ? '-' : '+';
    if (exponent[0] == '-') exponent.erase(0, 1);
    if (exponent.size() < 2) exponent.insert(0, "0");
    return out.substr(0, e + 1) + sign + exponent;
}

std::string intensity(double x, Spelling s) {
    if (std::isnan(x)) {
        return "intensity is " + number(x, s) + ", but it must be a number from " + number(config::MIN_FRACTION, s) +
               " to " + number(config::MAX_FRACTION, s) + ", a fraction of full scale.";
    }
    std::string note = "intensity is " + number(x, s) + ", outside " + number(config::MIN_FRACTION, s) + " to " +
                       number(config::MAX_FRACTION, s) + ": it is a fraction of full scale.";
    if (reads_as_percentage(x)) {
        note += " The intensity is a fraction, not a percentage: " + number(x, s) + " percent is " +
                number(x / 100.0, s) + ".";
    }
    return note;
}

std::string duration(std::string_view name, double d, Spelling s) {
    const std::string lasts = ", but a session lasts " + session_range(s) + ".";
    if (std::isnan(d)) return std::string(name) + " is " + number(d, s) + lasts;
    return std::string(name) + " is " + number(d, s) + " s" + lasts;
}

std::string sample(std::uint64_t index, double value, bool within_minus_one_to_one) {
    constexpr Spelling s = Spelling::Python;
    const std::string at = "sample " + std::to_string(index) + " is ";
    if (std::isnan(value)) return at + "NaN, but every sample must be a number: samples are " + full_scale(s) + ".";
    std::string note = at + number(value, s) + ", but samples are " + full_scale(s) + ".";
    if (value < config::MIN_FRACTION && within_minus_one_to_one) {
        note += " The whole array lies within -1.0 to 1.0, as a sine's does: (x + 1) / 2 maps it to 0.0 to 1.0.";
    }
    return note;
}

std::string sample_count(std::uint64_t given, std::uint64_t expected, double duration) {
    return "the array has " + std::to_string(given) + " samples, but get_num_samples() is " +
           std::to_string(expected) + ": the session of " + number(duration, Spelling::Python) + " s at " + rate() +
           ". Set the session's duration first, with set_session_duration(), or make the array "
           "get_num_samples() samples long.";
}

std::string waveform_length(std::uint64_t levels, double session_duration, Spelling s) {
    const auto fewest = protocols::sample_count(config::MIN_SESSION_DURATION);
    const auto most = protocols::sample_count(config::MAX_SESSION_DURATION);
    std::string note = "a waveform holds one level a sample of its session, at " + rate() + ": sessions " +
                       session_range(s) + " have " + std::to_string(fewest.value_or(0)) + " to " +
                       std::to_string(most.value_or(0)) + " samples, and " + std::to_string(levels) + " is " +
                       (levels < fewest.value_or(0) ? "fewer" : "more") + ".";
    if (const auto needed = config::is_session_duration(session_duration) ? protocols::sample_count(session_duration) : std::nullopt) {
        note += " The session of " + number(session_duration, s) + " s needs " + std::to_string(*needed) + " levels.";
    }
    return note;
}

std::string level_range() {
    return "levels are integers from 0 to " + std::to_string(config::MAX_LEVEL) +
           " (full scale): round(x * " + std::to_string(config::MAX_LEVEL) + ") is the level of a fraction x.";
}

std::string level_fraction(std::string_view written) {
    return "levels are integers from 0 to " + std::to_string(config::MAX_LEVEL) + " (full scale), not fractions " +
           "such as " + std::string(written) + ": round(x * " + std::to_string(config::MAX_LEVEL) +
           ") is the level of a fraction x (0.5 is level " +
           std::to_string(static_cast<int>(std::round(0.5 * config::LEVEL_FULL_SCALE))) + ").";
}

std::string one_element_array(std::string_view path) {
    return "MATLAB's and Octave's jsondecode turn an array of one element into an object, and jsonencode writes it "
           "back as one: wrap " + std::string(path) +
           " in a cell, {x}, before jsonencode, or read and compose with the drel toolbox (drel.read, "
           "drel.compose), which keeps arrays as arrays.";
}

std::string machine_description() {
    return "every protocol carries the factory's description of the stimulator, which no method changes: leave "
           "machine_config out, or give it as drel show --json writes it.";
}

}  // namespace protocols::hints
