// Checks of a protocol for the mistakes that composing one does not catch:
// sources and mixes that name missing signals, waveforms made for another
// session length, values outside their limits or the machine's.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "protocols/settings.hpp"

namespace protocols {

struct Finding {
    enum class Severity { Error, Warning };
    Severity severity;
    std::string message;  // what was found and what was expected, with the numbers

    friend bool operator==(const Finding&, const Finding&) = default;
};

// "error" or "warning".
const char* severity_name(Finding::Severity severity) noexcept;

// Errors: a source of an enabled channel that names a signal past the end of
// the table; a mix that names a signal past the end, or itself directly or
// through other mixes; a waveform whose level count is not the session's
// sample count; a level outside 0 to 32767; a session duration or an
// intensity outside its limits. Warnings: an intensity above the machine
// description's max_intensity_setpoint; an external input, coil or coil
// setting that the machine does not have; and, for the signals that an
// enabled channel uses (directly or through mixes), a parameter that is not
// finite, a constant's value, a sine's amplitude or depth or a ramp's peak
// outside 0.0 to 1.0, a sine's frequency below 0 or above half the sampling
// rate, a ramp duration below 0, and a ramp longer than the session.
// Calls found(finding) for each, in the order above, as it is found; the
// memory the checks take does not grow with the number of findings.
void check(const Settings& settings, const std::function<void(const Finding&)>& found);
std::vector<Finding> check(const Settings& settings);

}  // namespace protocols
