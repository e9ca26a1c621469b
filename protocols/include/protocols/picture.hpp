// A protocol as a picture: one panel per channel, three lanes each (its two
// coils' amplitudes and its modulation), on a time axis of seconds, with
// waveforms drawn by their exact envelope and the checks' findings below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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

// The picture's geometry, in pixels of the SVG.
namespace picture {
inline constexpr int WIDTH = 1100;
inline constexpr int PLOT_LEFT = 180;   // where the time axis starts
inline constexpr int COLUMNS = 880;     // pixel columns of the time axis
inline constexpr int LANE_HEIGHT = 64;
}  // namespace picture

// The SVG image of a protocol; `name` (a file's) goes into the title. Every
// text taken from the protocol or the name is escaped. Its size does not
// grow with the session's length: at most a few hundred kilobytes.
std::string svg(const Settings& s, std::string_view name);

// Text escaped for XML and HTML: &, <, >, " and ', and characters that XML
// does not allow (controls) as U+FFFD.
std::string xml_escape(std::string_view s);

}  // namespace protocols
