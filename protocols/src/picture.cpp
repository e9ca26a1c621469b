#include "protocols/picture.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <variant>

#include "protocols/check.hpp"
#include "protocols/config.hpp"
#include "protocols/format.hpp"
#include "protocols/routing.hpp"
#include "protocols/utf8.hpp"
#include "scans.hpp"

namespace protocols {

Envelope envelope(std::span<const std::int16_t> levels, std::size_t columns, std::uint64_t span) {
    Envelope e;
    if (columns == 0 || span == 0) return e;
    span = std::min<std::uint64_t>(span, std::uint64_t{1} << 52);  // keeps c * span below 2^64
    for (std::size_t c = 0; c < columns; ++c) {
        const std::uint64_t from = c * span / columns;
        const std::uint64_t to = std::min<std::uint64_t>((c + 1) * span / columns, levels.size());
        if (from >= to) {
            if (from >= levels.size()) break;
            continue;  // a column narrower than a sample: the next one has it
        }
        const LevelRange r = level_range(levels.data() + from, to - from);
        e.min.resize(c, r.min);  // a column narrower than a sample takes the next one's levels
        e.max.resize(c, r.max);
        e.min.push_back(r.min);
        e.max.push_back(r.max);
    }
    return e;
}

std::string xml_escape(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t start = i;
        const char32_t c = utf8::next_code_point(s, i);
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default:
                if ((c < 0x20 && c != '\t' && c != '\n') || c == 0xFFFE || c == 0xFFFF || c == 0xFFFD) {
                    out += "\xef\xbf\xbd";  // U+FFFD, also for what is not UTF-8
                } else {
                    out.append(s.substr(start, i - start));
                }
        }
    }
    return out;
}

namespace {

using namespace picture;

constexpr int LANE_GAP = 12;
constexpr int PANEL_HEAD = 34;
constexpr int AXIS_HEIGHT = 34;
constexpr int PLOT_RIGHT = PLOT_LEFT + COLUMNS;

std::string number(double x) { return text::float_text(x); }

std::string fixed(double x) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", x);
    return buf;
}

// Ticks 1, 2 or 5 times a power of ten seconds apart, at most eight, for an
// axis of any length. The power is found by multiplying and dividing by
// ten, each rounded as IEEE fixes it, so that the ticks are the same on
// every machine (the C library's logarithms need not be).
double tick_step(double seconds) {
    if (!(seconds > 0.0) || !std::isfinite(seconds)) return 1.0;
    double unit = 1.0;
    while (seconds / unit > 80.0) unit *= 10.0;
    while (seconds / unit < 8.0 && unit > 1e-300) unit /= 10.0;
    for (const double k : {1.0, 2.0, 5.0, 10.0}) {
        if (seconds / (unit * k) <= 8) return unit * k;
    }
    return unit * 10;
}

// The y of a fraction of full scale in a lane whose scale runs from `low`
// (0, or -1 for a waveform with negative levels) to 1, inside it.
double lane_y(int top, double fraction, double low = 0.0) {
    return top + LANE_HEIGHT - (std::clamp(fraction, low, 1.0) - low) / (1.0 - low) * LANE_HEIGHT;
}

std::string colour(std::string_view c) { return std::string(c); }

class Svg {
public:
    Svg(const Settings& s, std::string_view name, Findings findings)
        : s_(s), name_(name), findings_(findings), receives_(receives(s)) {}

    std::string draw() {
        const TimeAxis axis = time_axis(s_);
        axis_samples_ = axis.samples;
        session_samples_ = axis.session;

        int y = 64;
        std::string body;
        body += text(12, 28, "title", name_.empty() ? "protocol" : name_, 18, "bold");
        body += text(12, 48, "subtitle",
                     "session " + number(s_.session_duration) + " s, intensity " + number(s_.intensity) +
                         "; lanes show fractions of full scale (level / 32767) from 0 to 1",
                     13, "normal");
        char channel = 0;
        int panel_top = y;
        bool enabled = false;
        const std::array<Route, 6> all = routes(s_);
        for (std::size_t i = 0; i < all.size(); ++i) {
            const Route& r = all[i];
            if (r.channel != channel) {
                if (channel != 0) y = close_panel(body, panel_top, y, enabled);
                channel = r.channel;
                enabled = r.settings->enabled;
                panel_top = y;
                body += text(12, y + 20, "channel",
                             std::string("channel ") + channel + ": " + (enabled ? "on" : "off") + ", " +
                                 channel_coil(s_, *r.settings),
                             14, "bold");
                y += PANEL_HEAD;
            }
            body += lane(r, i, y);
            y += LANE_HEIGHT + LANE_GAP;
        }
        y = close_panel(body, panel_top, y, enabled);
        body += text(12, y + 4, "note",
                     "Sines, ramps and mixes are shown by their parameters, not as curves: the file does not fix how "
                     "the stimulator plays them.",
                     12, "normal");
        y += 26;
        if (findings_ == Findings::Listed) y = findings(body, y);
        const int height = y + 12;
        return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(WIDTH) + "\" height=\"" +
               std::to_string(height) + "\" viewBox=\"0 0 " + std::to_string(WIDTH) + " " + std::to_string(height) +
               "\" style=\"max-width: 100%; height: auto\" font-family=\"DejaVu Sans, Arial, sans-serif\">\n" +
               std::string("<defs><pattern id=\"external\" width=\"8\" height=\"8\" patternUnits=\"userSpaceOnUse\" "
               "patternTransform=\"rotate(45)\"><rect width=\"8\" height=\"8\" fill=\"") +
               colour(COLOURS.external) + "\"/><line x1=\"0\" y1=\"0\" x2=\"0\" y2=\"8\" stroke=\"" + colour(COLOURS.external_edge) +
               "\" stroke-width=\"3\"/></pattern></defs>\n"
               "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n" +
               body + "</svg>\n";
    }

private:
    static std::string text(int x, int y, const char* role, std::string_view content, int size, const char* weight,
                            const char* anchor = "start", const char* fill = "#222222") {
        return "<text class=\"" + std::string(role) + "\" x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) +
               "\" font-size=\"" + std::to_string(size) + "\" font-weight=\"" + weight + "\" text-anchor=\"" + anchor +
               "\" fill=\"" + fill + "\">" + xml_escape(content) + "</text>\n";
    }

    int x_of(std::uint64_t sample) const {
        if (axis_samples_ == 0) return PLOT_LEFT;
        return PLOT_LEFT + static_cast<int>(static_cast<double>(sample) * COLUMNS / static_cast<double>(axis_samples_));
    }

    // The time axis under a panel, and a veil over a channel that is off.
    int close_panel(std::string& body, int top, int y, bool enabled) {
        const double seconds = static_cast<double>(axis_samples_) / config::SAMPLING_RATE;
        const double step = tick_step(seconds);
        body += "<line class=\"axis\" x1=\"" + std::to_string(PLOT_LEFT) + "\" y1=\"" + std::to_string(y) +
                "\" x2=\"" + std::to_string(PLOT_RIGHT) + "\" y2=\"" + std::to_string(y) +
                "\" stroke=\"#444444\"/>\n";
        for (int k = 0; k * step <= seconds + 1e-9 && k < 100; ++k) {
            const int x = x_of(static_cast<std::uint64_t>(std::llround(k * step * config::SAMPLING_RATE)));
            body += "<line x1=\"" + std::to_string(x) + "\" y1=\"" + std::to_string(y) + "\" x2=\"" +
                    std::to_string(x) + "\" y2=\"" + std::to_string(y + 5) + "\" stroke=\"#444444\"/>\n";
            body += text(x, y + 18, "tick", number(k * step), 11, "normal", "middle");
        }
        body += text(PLOT_RIGHT, y + 32, "axis-label", "seconds", 11, "normal", "end");
        if (!session_samples_) {
            body += text(PLOT_LEFT + 4, top + 30, "session-end",
                         "a session of " + number(s_.session_duration) + " s, which no time axis can draw", 11, "normal",
                         "start", COLOURS.error.data());
        } else if (axis_samples_ > *session_samples_) {
            const int x = x_of(*session_samples_);
            body += "<line class=\"session-end\" x1=\"" + std::to_string(x) + "\" y1=\"" + std::to_string(top) +
                    "\" x2=\"" + std::to_string(x) + "\" y2=\"" + std::to_string(y) + "\" stroke=\"" +
                    colour(COLOURS.error) + "\" stroke-dasharray=\"4 3\"/>\n";
            body += text(x + 4, top + 30, "session-end", "session ends", 11, "normal", "start", COLOURS.error.data());
        }
        if (!enabled) {
            body += "<rect class=\"off\" x=\"0\" y=\"" + std::to_string(top) + "\" width=\"" + std::to_string(WIDTH) +
                    "\" height=\"" + std::to_string(y - top) + "\" fill=\"#888888\" fill-opacity=\"0.18\"/>\n";
            body += text(PLOT_RIGHT, top + 20, "off", "channel off: it does not stimulate", 13, "bold", "end",
                         "#555555");
        }
        return y + AXIS_HEIGHT;
    }

    std::string lane(const Route& r, std::size_t index, int top) {
        const std::string label = r.label();
        std::string out = "<g class=\"lane\" data-lane=\"" + xml_escape(r.name()) + "\" data-top=\"" +
                          std::to_string(top) + "\" data-height=\"" + std::to_string(LANE_HEIGHT) + "\">\n";
        out += "<rect x=\"" + std::to_string(PLOT_LEFT) + "\" y=\"" + std::to_string(top) + "\" width=\"" +
               std::to_string(COLUMNS) + "\" height=\"" + std::to_string(LANE_HEIGHT) +
               "\" fill=\"#fafafa\" stroke=\"#cccccc\"/>\n";
        out += text(PLOT_LEFT - 10, top + LANE_HEIGHT / 2 + 5, "lane-label", label, 13, "bold", "end");
        const std::string& what = receives_[index];
        const Signal* signal = routed_signal(s_, r);
        // A waveform with negative levels (which a file may hold, and drel
        // check reports) is drawn as it is, on a scale from -1 to 1.
        const auto* arbitrary = signal != nullptr && !r.source->external_selected
                                    ? std::get_if<ArbitrarySignalParams>(&signal->payload)
                                    : nullptr;
        const double low = arbitrary != nullptr && !arbitrary->samples.empty() &&
                                   level_range(arbitrary->samples.data(), arbitrary->samples.size()).min < 0
                               ? -1.0
                               : 0.0;
        out += text(PLOT_LEFT - 10, top + 12, "fraction", "1", 10, "normal", "end", "#777777");
        if (low < 0) {
            const std::string zero = fixed(lane_y(top, 0.0, low));
            out += text(PLOT_LEFT - 10, top + LANE_HEIGHT / 2 + 4, "fraction", "0", 10, "normal", "end", "#777777");
            out += "<line class=\"zero\" x1=\"" + std::to_string(PLOT_LEFT) + "\" y1=\"" + zero + "\" x2=\"" +
                   std::to_string(PLOT_RIGHT) + "\" y2=\"" + zero + "\" stroke=\"#999999\" stroke-dasharray=\"2 3\"/>\n";
        }
        out += text(PLOT_LEFT - 10, top + LANE_HEIGHT, "fraction", low < 0 ? "-1" : "0", 10, "normal", "end", "#777777");
        const int text_y = top + 16;
        if (missing_source(s_, *r.source)) {
            out += text(PLOT_LEFT + 8, text_y, "missing", what, 12, "bold", "start", COLOURS.error.data());
        } else if (r.source->external_selected) {
            out += "<rect x=\"" + std::to_string(PLOT_LEFT) + "\" y=\"" + std::to_string(top) + "\" width=\"" +
                   std::to_string(COLUMNS) + "\" height=\"" + std::to_string(LANE_HEIGHT) +
                   "\" fill=\"url(#external)\"/>\n";
            out += text(PLOT_LEFT + 8, text_y, "external", what, 12, "normal");
        } else if (const auto* a = arbitrary) {
            const bool stale = a->samples.size() != session_samples_.value_or(UINT64_MAX);
            out += waveform(a->samples, top, low, stale ? COLOURS.stale : COLOURS.waveform);
            out += text(PLOT_LEFT + 8, text_y, stale ? "stale" : "waveform", (stale ? "stale: " : "") + what, 12,
                        stale ? "bold" : "normal", "start", stale ? "#a04c00" : "#222222");
        } else if (const auto* c = std::get_if<ConstantSignalParams>(&signal->payload); c && !std::isfinite(c->value)) {
            // No height stands for NaN or an infinity: a marked gap, and the value in words.
            out += "<rect class=\"gap\" x=\"" + std::to_string(PLOT_LEFT) + "\" y=\"" + std::to_string(top + 22) +
                   "\" width=\"" + std::to_string(COLUMNS) + "\" height=\"" + std::to_string(LANE_HEIGHT - 30) +
                   "\" fill=\"none\" stroke=\"" + colour(COLOURS.error) + "\" stroke-dasharray=\"6 4\"/>\n";
            out += text(PLOT_LEFT + 8, text_y, "constant", what, 12, "normal");
            out += text(PLOT_LEFT + COLUMNS / 2, top + LANE_HEIGHT / 2 + 12, "gap",
                        "a constant of " + number(c->value) + ", which has no height to draw", 12, "normal", "middle",
                        COLOURS.error.data());
        } else if (c != nullptr) {
            const std::string y = fixed(lane_y(top, c->value));
            out += "<line class=\"constant\" x1=\"" + std::to_string(PLOT_LEFT) + "\" y1=\"" + y + "\" x2=\"" +
                   std::to_string(PLOT_RIGHT) + "\" y2=\"" + y + "\" stroke=\"" + colour(COLOURS.constant) +
                   "\" stroke-width=\"2\"/>\n";
            out += text(PLOT_LEFT + 8, text_y, "constant", what, 12, "normal");
        } else {
            out += "<rect class=\"band\" x=\"" + std::to_string(PLOT_LEFT) + "\" y=\"" + std::to_string(top + 22) +
                   "\" width=\"" + std::to_string(COLUMNS) + "\" height=\"" + std::to_string(LANE_HEIGHT - 30) +
                   "\" fill=\"" + colour(COLOURS.band) + "\"/>\n";
            out += text(PLOT_LEFT + 8, text_y, "band", what, 12, "normal");
        }
        return out + "</g>\n";
    }

    // The envelope as one filled path: the highest level of each column
    // from left to right, then the lowest back; runs of equal columns merged.
    std::string waveform(const Levels& levels, int top, double low, std::string_view fill) const {
        const std::uint64_t span = axis_samples_;
        const Envelope e = envelope(levels, COLUMNS, span);
        if (e.max.empty()) return {};
        const auto y = [&](std::int16_t level) { return fixed(lane_y(top, level / config::LEVEL_FULL_SCALE, low)); };
        std::string path;
        const std::size_t n = e.max.size();
        // Horizontal and vertical steps: "V{y}H{x}" a run of columns.
        const auto edge = [&](const Levels& v, bool forward) {
            for (std::size_t k = 0; k < n;) {
                const std::size_t c = forward ? k : n - 1 - k;
                std::size_t run = 1;
                while (k + run < n && v[forward ? c + run : c - run] == v[c]) ++run;
                const std::size_t end = forward ? c + run : c + 1 - run;  // the column edge the run reaches
                if (path.empty()) path = "M" + std::to_string(PLOT_LEFT) + " " + y(v[c]);
                path += "V" + y(v[c]) + "H" + std::to_string(PLOT_LEFT + static_cast<int>(end));
                k += run;
            }
        };
        edge(e.max, true);
        edge(e.min, false);
        return "<path class=\"envelope\" d=\"" + path + "Z\" fill=\"" + colour(fill) +
               "\" fill-opacity=\"0.85\" stroke=\"" + colour(fill) + "\" stroke-width=\"0.6\"/>\n";
    }

    // Errors first, then warnings, the first FINDINGS_SHOWN of them: so
    // that warnings never hide an error.
    int findings(std::string& body, int y) const {
        std::vector<Finding> errors, warnings;
        std::size_t total = 0;
        check(s_, [&](const Finding& f) {
            auto& list = f.severity == Finding::Severity::Error ? errors : warnings;
            if (list.size() < FINDINGS_SHOWN) list.push_back(f);
            ++total;
        });
        if (errors.size() + warnings.size() > FINDINGS_SHOWN) {
            warnings.resize(FINDINGS_SHOWN - std::min(errors.size(), FINDINGS_SHOWN));
        }
        if (total == 0) {
            body += text(12, y + 4, "finding", "drel check finds nothing to report.", 12, "normal");
            return y + 22;
        }
        body += text(12, y + 4, "findings", "What drel check finds:", 13, "bold");
        y += 22;
        for (const auto* list : {&errors, &warnings}) {
            for (const Finding& f : *list) {
                const bool error = f.severity == Finding::Severity::Error;
                body += text(12, y + 4, error ? "finding error" : "finding warning",
                             std::string(severity_name(f.severity)) + ": " + f.message, 12, error ? "bold" : "normal",
                             "start", error ? COLOURS.error.data() : COLOURS.warning.data());
                y += 18;
            }
        }
        if (total > errors.size() + warnings.size()) {
            body += text(12, y + 4, "finding", "and " + std::to_string(total - errors.size() - warnings.size()) +
                                                   " more, which drel check lists.",
                         12, "normal");
            y += 18;
        }
        return y + 6;
    }

    const Settings& s_;
    std::string name_;
    Findings findings_;
    std::array<std::string, 6> receives_;
    std::uint64_t axis_samples_ = 0;
    std::optional<std::uint64_t> session_samples_;
};

}  // namespace

TimeAxis time_axis(const Settings& s) {
    TimeAxis axis{0, std::nullopt};
    if (const auto count = sample_count(s.session_duration);
        count && std::isfinite(s.session_duration) && *count > 0 && *count <= std::uint64_t{1} << 53) {
        axis.session = count;
        axis.samples = *count;
    }
    for (const Route& r : routes(s)) {
        if (const Signal* sig = routed_signal(s, r)) {
            if (const auto* a = std::get_if<ArbitrarySignalParams>(&sig->payload)) {
                axis.samples = std::max<std::uint64_t>(axis.samples, a->samples.size());
            }
        }
    }
    if (axis.samples == 0) axis.samples = static_cast<std::uint64_t>(config::SAMPLING_RATE);  // a second
    return axis;
}

std::string svg(const Settings& s, std::string_view name, Findings findings) {
    return Svg(s, name, findings).draw();
}

}  // namespace protocols
