// Limits of a protocol, and the texts of the checks that quote them.
//
// Composing a protocol refuses a value outside its limit with the text of the
// check that failed; each text stands beside its limit, and a static_assert
// ties the number that the text quotes to the constant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace protocols::config {

// Longest session the stimulator runs, in seconds.
inline constexpr double MAX_SESSION_DURATION = 1800.0;
// Shortest session, in seconds.
inline constexpr double MIN_SESSION_DURATION = 0.01;
// Every protocol is sampled at this fixed rate, in samples per second.
inline constexpr double SAMPLING_RATE = 5000.0;
// Intensities and waveform samples are fractions of full scale.
inline constexpr double MIN_FRACTION = 0.0;
inline constexpr double MAX_FRACTION = 1.0;
// Full scale as a waveform level; levels run from 0 to it.
inline constexpr std::int16_t MAX_LEVEL = 32767;
inline constexpr double LEVEL_FULL_SCALE = MAX_LEVEL;

// Inclusive; NaN is no fraction.
constexpr bool is_fraction(double x) noexcept { return x >= MIN_FRACTION && x <= MAX_FRACTION; }
constexpr bool is_session_duration(double d) noexcept {
    return d >= MIN_SESSION_DURATION && d <= MAX_SESSION_DURATION;
}

// The checks' texts, as a failed check reports them.
inline constexpr std::string_view DURATION_AT_MOST_MAX = "assertion failed: duration <= config::MAX_SESSION_DURATION";
inline constexpr std::string_view DURATION_AT_LEAST_MIN = "assertion failed: duration >= 0.01";
inline constexpr std::string_view INTENSITY_IS_FRACTION = "assertion failed: intensity >= 0.0 && intensity <= 1.0";
inline constexpr std::string_view SAMPLE_AT_LEAST_MIN = "assertion failed: *sample >= 0.0";
inline constexpr std::string_view SAMPLE_AT_MOST_MAX = "assertion failed: *sample <= 1.0";
inline constexpr std::string_view SESSION_HAS_SAMPLES = "assertion failed: self.settings.session_duration > 0.0";

namespace quoted {
// The decimal number written right after `marker` in `text`, read as the
// compiler reads the same literal (exact for the few digits these hold).
consteval double number_after(std::string_view text, std::string_view marker) {
    std::size_t i = text.find(marker);
    if (i == std::string_view::npos) throw "the text does not quote its limit";
    std::uint64_t digits = 0, scale = 1;
    bool fraction = false;
    for (i += marker.size(); i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && !fraction) {
            fraction = true;
        } else if (c >= '0' && c <= '9') {
            digits = digits * 10 + static_cast<std::uint64_t>(c - '0');
            if (fraction) scale *= 10;
        } else {
            break;
        }
    }
    return static_cast<double>(digits) / static_cast<double>(scale);
}
}  // namespace quoted

static_assert(DURATION_AT_MOST_MAX.ends_with("config::MAX_SESSION_DURATION"));
static_assert(quoted::number_after(DURATION_AT_LEAST_MIN, ">= ") == MIN_SESSION_DURATION);
static_assert(quoted::number_after(INTENSITY_IS_FRACTION, ">= ") == MIN_FRACTION);
static_assert(quoted::number_after(INTENSITY_IS_FRACTION, "<= ") == MAX_FRACTION);
static_assert(quoted::number_after(SAMPLE_AT_LEAST_MIN, ">= ") == MIN_FRACTION);
static_assert(quoted::number_after(SAMPLE_AT_MOST_MAX, "<= ") == MAX_FRACTION);
static_assert(quoted::number_after(SESSION_HAS_SAMPLES, "> ") == 0.0);

// What the session setters refuse, in the order they check it: the text of
// the first check the value fails, or none.
constexpr std::optional<std::string_view> session_duration_refusal(double d) noexcept {
    if (!(d <= MAX_SESSION_DURATION)) return DURATION_AT_MOST_MAX;  // NaN fails here
    if (!(d >= MIN_SESSION_DURATION)) return DURATION_AT_LEAST_MIN;
    return std::nullopt;
}
constexpr std::optional<std::string_view> intensity_refusal(double x) noexcept {
    if (!is_fraction(x)) return INTENSITY_IS_FRACTION;
    return std::nullopt;
}

}  // namespace protocols::config
