// What to do about the commonest mistakes in a protocol's values: the notes
// that stand beside a refusal, whoever makes it. pydrel's methods add them
// to their exceptions, drel compose prints them after a refused JSON value,
// and the drel package adds them to NotComposable. Each note states the
// facts and the fix, in the words of one home; the refusals' own messages
// never change.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace protocols::hints {

// How a note writes a number: as Python's repr() does ("1e-05", "nan"), or
// as a protocol's JSON does ("1e-5", "NaN").
enum class Spelling { Python, Json };
std::string number(double x, Spelling spelling);

// An intensity outside 0.0 to 1.0 (or NaN); a percentage is named only
// where the value reads as one.
std::string intensity(double x, Spelling spelling);
// A session duration outside its limits (or NaN), named as the caller
// names it: "duration" (the setter's parameter), "session_duration".
std::string duration(std::string_view name, double d, Spelling spelling);

// add_arbitrary_signal(): the first sample outside 0.0 to 1.0 (or NaN), and
// whether every sample of the array lies within -1.0 to 1.0.
std::string sample(std::uint64_t index, double value, bool within_minus_one_to_one);
// An array of another length than the session's sample count.
std::string sample_count(std::uint64_t given, std::uint64_t expected, double duration);

// A waveform of a length that no session has, in a protocol whose session
// lasts `session_duration`.
std::string waveform_length(std::uint64_t levels, double session_duration, Spelling spelling);
// A negative level, or a level written as a fraction: levels are integers.
std::string level_range();
std::string level_fraction(std::string_view written);
// An object where an array belongs: what MATLAB's and Octave's jsondecode
// make of a one-element array, which jsonencode then writes back.
std::string one_element_array(std::string_view path);
// A field of the machine description, which every protocol carries as the
// factory made it.
std::string machine_description();

}  // namespace protocols::hints
