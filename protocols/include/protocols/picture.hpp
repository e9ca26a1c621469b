// A protocol as a picture: one panel per channel, three lanes each (its two
// coils' amplitudes and its modulation), on a time axis of seconds, with
// waveforms drawn by their exact envelope and the checks' findings below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "protocols/fields.hpp"
#include "protocols/settings.hpp"

namespace protocols {

// The lowest and the highest level in each column of a picture: column c of
// `columns` covers the samples from c * span / columns up to (c + 1) * span /
// columns, of which those before levels.size() are drawn. A single level
// stands out however many the column covers; a column narrower than a
// sample shows the next sample.
struct Envelope {
    Levels min, max;  // a column each, up to the last that holds a level
};
Envelope envelope(std::span<const std::int16_t> levels, std::size_t columns, std::uint64_t span);

// The picture's geometry, in pixels of the SVG, and what it shows how: the
// drel package's drawings (the notebook's, matplotlib's) take them from here.
namespace picture {
inline constexpr int WIDTH = 1100;
inline constexpr int PLOT_LEFT = 180;   // where the time axis starts
inline constexpr int COLUMNS = 880;     // pixel columns of the time axis
inline constexpr int LANE_HEIGHT = 64;
// Findings listed under the panels, errors first; drel check lists them all.
inline constexpr std::size_t FINDINGS_SHOWN = 24;
// The colours, declared as a record's fields are, for the package to walk.
struct Palette {
    std::string_view waveform = "#1f5fbf";
    std::string_view stale = "#e07000";  // a waveform whose length is not the session's
    std::string_view constant = "#1f5fbf";
    std::string_view band = "#dfe8f6";  // a sine, ramp or mix, shown by its parameters
    std::string_view external = "#f3efe3";  // an external input's hatching
    std::string_view external_edge = "#d8cfb0";
    std::string_view error = "#b00020";
    std::string_view warning = "#8a5a00";

    static constexpr std::string_view record_name = "Palette";
    static constexpr auto fields() {
        return std::tuple{field("waveform", &Palette::waveform), field("stale", &Palette::stale),
                          field("constant", &Palette::constant), field("band", &Palette::band),
                          field("external", &Palette::external), field("external_edge", &Palette::external_edge),
                          field("error", &Palette::error), field("warning", &Palette::warning)};
    }
};
inline constexpr Palette COLOURS{};
}  // namespace picture

// The time the pictures draw, in samples: the session, where its duration
// can be drawn on a time axis (finite, positive and of at most 2^53
// samples, which a double counts exactly), and every waveform a route
// takes; a session that cannot be drawn is marked so, and the axis then
// covers the waveforms alone, or a second when there are none.
struct TimeAxis {
    std::uint64_t samples;  // the axis's span
    std::optional<std::uint64_t> session;  // the session's end, where it can be drawn
};
TimeAxis time_axis(const Settings& s);

// Whether the picture lists what drel check finds under its panels (a page
// that lists them itself, as the notebook's does, leaves them out).
enum class Findings { Listed, LeftOut };

// The SVG image of a protocol; `name` (a file's) goes into the title. Every
// text taken from the protocol or the name is escaped. Its size does not
// grow with the session's length: at most a few hundred kilobytes.
std::string svg(const Settings& s, std::string_view name, Findings findings = Findings::Listed);

// Text escaped for XML and HTML: &, <, >, " and ', and characters that XML
// does not allow (controls) as U+FFFD.
std::string xml_escape(std::string_view s);

}  // namespace protocols
