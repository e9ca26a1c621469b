#include "protocols/check.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include "protocols/config.hpp"
#include "protocols/format.hpp"

namespace protocols {
namespace {

std::string number(double x) {
    char buf[text::MAX_FLOAT_TEXT];
    return std::string(buf, text::format_float(buf, x));
}

std::string number(std::uint64_t n) { return std::to_string(n); }

// "the table has 3 signals (0 to 2)", or whatever else the count calls for.
std::string how_many(std::uint64_t n, std::string_view one, std::string_view many) {
    if (n == 0) return "no " + std::string(many);
    const std::string counted = number(n) + " " + std::string(n == 1 ? one : many);
    return counted + (n == 1 ? " (0)" : " (0 to " + number(n - 1) + ")");
}

struct Findings {
    std::vector<Finding> list;
    void error(std::string message) { list.push_back({Finding::Severity::Error, std::move(message)}); }
    void warning(std::string message) { list.push_back({Finding::Severity::Warning, std::move(message)}); }
};

void check_limits(const Settings& s, Findings& f) {
    const double d = s.session_duration;
    if (!config::is_session_duration(d)) {
        f.error("session duration is " + number(d) + " s, but it must be between " +
                number(config::MIN_SESSION_DURATION) + " and " + number(config::MAX_SESSION_DURATION) + " s");
    }
    const double x = s.intensity;
    if (!config::is_fraction(x)) {
        f.error("intensity is " + number(x) + ", but it must be between " + number(config::MIN_FRACTION) + " and " +
                number(config::MAX_FRACTION));
    } else if (x > s.machine_config.max_intensity_setpoint) {
        f.warning("intensity " + number(x) + " is above the machine's maximum set point " +
                  number(s.machine_config.max_intensity_setpoint));
    }
}

void check_channel(const Settings& s, const ChannelSettings& c, char name, Findings& f) {
    if (!c.enabled) return;
    const std::string channel = std::string("channel ") + name;
    const std::uint64_t signals = s.signals.size();
    const std::uint64_t inputs = s.machine_config.num_external_signal_sources;
    const std::pair<const SignalSourceSelection*, const char*> sources[] = {
        {&c.amplitude1_source, " coil 1 amplitude source"},
        {&c.amplitude2_source, " coil 2 amplitude source"},
        {&c.modulation_source, " modulation source"},
    };
    for (const auto& [source, what] : sources) {
        if (source->external_selected && source->external >= inputs) {
            f.warning(channel + what + " is external input " + number(source->external) + ", but the machine has " +
                      how_many(inputs, "external input", "external inputs"));
        } else if (!source->external_selected && source->internal >= signals) {
            f.error(channel + what + " is signal " + number(source->internal) + ", but the table has " +
                    how_many(signals, "signal", "signals"));
        }
    }
    const auto& coils = s.machine_config.coils;
    if (c.coil_idx >= coils.size()) {
        f.warning(channel + " uses coil " + number(c.coil_idx) + ", but the machine describes " +
                  how_many(coils.size(), "coil", "coils"));
    } else if (c.coil_setting_idx >= coils[c.coil_idx].settings.size()) {
        f.warning(channel + " uses setting " + number(c.coil_setting_idx) + " of coil " + number(c.coil_idx) +
                  ", but that coil has " + how_many(coils[c.coil_idx].settings.size(), "setting", "settings"));
    }
}

// "1 -> 2 -> 3 -> 1": the shortest cycle from `start` back to it within its
// component, found breadth first; long ones are shortened in the middle.
template <class Edge>
std::string shortest_cycle(std::size_t start, const std::vector<std::size_t>& component, Edge&& edge) {
    constexpr std::size_t NONE = SIZE_MAX;
    std::vector<std::size_t> parent(component.size(), NONE);
    std::vector<std::size_t> queue{start};
    std::size_t last = NONE;  // the signal whose edge leads back to start
    for (std::size_t head = 0; head < queue.size() && last == NONE; ++head) {
        const std::size_t v = queue[head];
        for (unsigned k = 0; k < 2; ++k) {
            const std::size_t w = edge(v, k);
            if (w == NONE || component[w] != component[start]) continue;
            if (w == start) {
                last = v;
                break;
            }
            if (parent[w] == NONE) {
                parent[w] = v;
                queue.push_back(w);
            }
        }
    }
    std::vector<std::size_t> cycle;
    for (std::size_t v = last; v != start; v = parent[v]) cycle.push_back(v);
    cycle.push_back(start);
    std::reverse(cycle.begin(), cycle.end());
    constexpr std::size_t SHOWN = 8;
    std::string path;
    for (std::size_t k = 0; k < cycle.size(); ++k) {
        if (k == SHOWN && cycle.size() > SHOWN + 1) {
            path += "... -> ";
            k = cycle.size() - 1;
        }
        path += number(cycle[k]) + " -> ";
    }
    return path + number(start);
}

// Mixes that name each other in a cycle: each group of mixes that reach one
// another (a strongly connected component, found with Tarjan's algorithm on
// a stack of its own, as a file may chain a million mixes) is reported once,
// with the shortest cycle through its lowest signal.
void report_cycles(const std::vector<Signal>& signals, Findings& f) {
    const std::size_t n = signals.size();
    constexpr std::size_t NONE = SIZE_MAX;
    const auto mix = [&](std::size_t i) { return std::get_if<MixedSignalParams>(&signals[i].payload); };
    // The mixes that signal i names, or NONE: self-references are reported
    // on their own, and only mixes can be part of a cycle.
    const auto edge = [&](std::size_t i, unsigned k) {
        const MixedSignalParams* m = mix(i);
        const std::uint64_t next = k == 0 ? m->a_idx : m->b_idx;
        return next < n && next != i && mix(next) != nullptr ? static_cast<std::size_t>(next) : NONE;
    };
    std::vector<std::size_t> index(n, NONE), low(n, 0), component(n, NONE);
    std::vector<std::size_t> open;  // Tarjan's stack
    std::vector<bool> on_open(n, false);
    struct Frame {
        std::size_t signal;
        unsigned edge;
    };
    std::vector<Frame> calls;
    std::size_t counter = 0;
    std::vector<std::pair<std::size_t, std::string>> found;
    for (std::size_t root = 0; root < n; ++root) {
        if (mix(root) == nullptr || index[root] != NONE) continue;
        calls.push_back({root, 0});
        index[root] = low[root] = counter++;
        open.push_back(root);
        on_open[root] = true;
        while (!calls.empty()) {
            Frame& top = calls.back();
            const std::size_t v = top.signal;
            if (top.edge < 2) {
                const std::size_t w = edge(v, top.edge++);
                if (w == NONE) continue;
                if (index[w] == NONE) {
                    index[w] = low[w] = counter++;
                    open.push_back(w);
                    on_open[w] = true;
                    calls.push_back({w, 0});
                } else if (on_open[w]) {
                    low[v] = std::min(low[v], index[w]);
                }
                continue;
            }
            calls.pop_back();
            if (!calls.empty()) low[calls.back().signal] = std::min(low[calls.back().signal], low[v]);
            if (low[v] != index[v]) continue;
            // v is the root of a component: pop it.
            std::size_t lowest = v, size = 0, w;
            do {
                w = open.back();
                open.pop_back();
                on_open[w] = false;
                component[w] = v;
                lowest = std::min(lowest, w);
                ++size;
            } while (w != v);
            if (size > 1) found.emplace_back(lowest, shortest_cycle(lowest, component, edge));
        }
    }
    std::sort(found.begin(), found.end());
    for (auto& [lowest, path] : found) {
        f.error("signal " + number(lowest) + " mixes itself through signals " + path +
                ", but mixes must not form a cycle");
    }
}

// Mixes that name missing signals, and mixes that name themselves, directly
// or through other mixes: each cycle is reported once, at its lowest signal.
void check_mixes(const Settings& s, Findings& f) {
    const std::size_t n = s.signals.size();
    const auto mix = [&](std::uint64_t i) { return std::get_if<MixedSignalParams>(&s.signals[i].payload); };
    for (std::size_t i = 0; i < n; ++i) {
        const MixedSignalParams* m = mix(i);
        if (m == nullptr) continue;
        for (const auto& [index, field] : {std::pair{m->a_idx, "a_idx"}, std::pair{m->b_idx, "b_idx"}}) {
            if (index >= n) {
                f.error("signal " + number(i) + " mixes signal " + number(index) + " (" + field +
                        "), but the table has " + how_many(n, "signal", "signals"));
            }
        }
        if (m->a_idx == i || m->b_idx == i) {
            const char* fields = m->a_idx != i ? "b_idx" : m->b_idx != i ? "a_idx" : "a_idx and b_idx";
            f.error("signal " + number(i) + " mixes itself (" + fields + "), but a mix must name other signals");
        }
    }
    report_cycles(s.signals, f);
}

template <class Params>
void check_finite(const Params& p, std::size_t index, std::string_view kind, Findings& f) {
    for_each_field(p, [&](std::string_view name, const auto& value) {
        if constexpr (std::is_same_v<std::remove_cvref_t<decltype(value)>, double>) {
            if (!std::isfinite(value)) {
                f.warning("signal " + number(index) + " (" + std::string(kind) + ") has " + std::string(name) + " " +
                          number(value) + ", but signal parameters should be finite");
            }
        }
    });
}

void check_signals(const Settings& s, Findings& f) {
    const std::optional<std::uint64_t> samples = sample_count(s.session_duration);
    for (std::size_t i = 0; i < s.signals.size(); ++i) {
        const Signal& signal = s.signals[i];
        if (const auto* a = std::get_if<ArbitrarySignalParams>(&signal.payload)) {
            if (samples && a->samples.size() != *samples) {
                f.error("signal " + number(i) + " has " + number(a->samples.size()) + " levels, but the session of " +
                        number(s.session_duration) + " s has " + number(*samples) + " samples");
            }
            std::size_t outside = 0, first = 0;
            for (std::size_t k = 0; k < a->samples.size(); ++k) {
                // Levels are 16-bit: only negatives are outside 0 to MAX_LEVEL.
                static_assert(config::MAX_LEVEL == INT16_MAX);
                if (a->samples[k] >= 0) continue;
                if (outside++ == 0) first = k;
            }
            if (outside > 0) {
                f.error("signal " + number(i) + " has " + number(outside) + (outside == 1 ? " level" : " levels") +
                        " outside 0 to " + number(std::uint64_t{config::MAX_LEVEL}) + ", the first " +
                        std::to_string(a->samples[first]) + " at sample " + number(first));
            }
        } else if (!std::holds_alternative<MixedSignalParams>(signal.payload)) {
            std::visit([&](const auto& p) { check_finite(p, i, signal.variant_name(), f); }, signal.payload);
        }
    }
}

}  // namespace

const char* severity_name(Finding::Severity severity) noexcept {
    return severity == Finding::Severity::Error ? "error" : "warning";
}

std::vector<Finding> check(const Settings& settings) {
    Findings f;
    check_limits(settings, f);
    check_channel(settings, settings.channel_a_settings, 'A', f);
    check_channel(settings, settings.channel_b_settings, 'B', f);
    check_mixes(settings, f);
    check_signals(settings, f);
    return std::move(f.list);
}

}  // namespace protocols
