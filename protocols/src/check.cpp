#include "protocols/check.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
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

// Hands each finding on as it is found.
struct Findings {
    const std::function<void(const Finding&)>& found;
    void error(std::string message) { found({Finding::Severity::Error, std::move(message)}); }
    void warning(std::string message) { found({Finding::Severity::Warning, std::move(message)}); }
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
        // The machine description does not fix the set point's unit.
        f.warning("intensity " + number(x) + " is above the machine description's max_intensity_setpoint " +
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

// Mixes that name each other in a cycle. Each group of mixes that reach one
// another (a strongly connected component, found with Tarjan's algorithm on
// a stack of its own, as a file may chain a million mixes) is reported once,
// at its lowest signal, with the shortest cycle through that signal. Time and
// memory are linear in the table: four bytes a signal for each of two
// arrays, reused from the search for the cycles' paths.
class MixCycles {
public:
    explicit MixCycles(const std::vector<Signal>& signals) : signals_(signals), n_(signals.size()) {}

    void report(Findings& f) {
        bool any = false;  // a mix that names another: tables without one need no arrays
        for (std::size_t i = 0; i < n_ && !any; ++i) any = edge(i, 0) != NONE || edge(i, 1) != NONE;
        if (!any) return;
        if (n_ >= NONE) throw std::length_error("check: more signals than the cycle search can number");
        index_.assign(n_, NONE);
        low_.assign(n_, 0);
        on_stack_.assign(n_, false);
        cyclic_.assign(n_, false);
        for (std::size_t root = 0; root < n_; ++root) {
            if (mix(root) != nullptr && index_[root] == NONE) components_from(static_cast<std::uint32_t>(root));
        }
        // From here low_[v] names the lowest signal of v's component, and
        // index_ serves the path search as each signal's parent.
        std::fill(index_.begin(), index_.end(), NONE);
        for (std::size_t v = 0; v < n_; ++v) {
            if (!cyclic_[v] || low_[v] != v) continue;
            f.error("signal " + number(v) + " mixes itself through signals " +
                    shortest_cycle(static_cast<std::uint32_t>(v)) + ", but mixes must not form a cycle");
        }
    }

private:
    static constexpr std::uint32_t NONE = UINT32_MAX;

    const MixedSignalParams* mix(std::size_t i) const { return std::get_if<MixedSignalParams>(&signals_[i].payload); }

    // The mix that mix i names in its field k, or NONE: self-references are
    // reported on their own, and only mixes can be part of a cycle.
    std::uint32_t edge(std::size_t i, unsigned k) const {
        const MixedSignalParams* m = mix(i);
        if (m == nullptr) return NONE;
        const std::uint64_t next = k == 0 ? m->a_idx : m->b_idx;
        return next < n_ && next != i && mix(next) != nullptr ? static_cast<std::uint32_t>(next) : NONE;
    }

    void components_from(std::uint32_t root) {
        struct Frame {
            std::uint32_t signal;
            std::uint32_t edge;
        };
        std::vector<Frame> calls{{root, 0}};
        visit(root);
        while (!calls.empty()) {
            Frame& top = calls.back();
            const std::uint32_t v = top.signal;
            if (top.edge < 2) {
                const std::uint32_t w = edge(v, top.edge++);
                if (w == NONE) continue;
                if (index_[w] == NONE) {
                    visit(w);
                    calls.push_back({w, 0});
                } else if (on_stack_[w]) {
                    low_[v] = std::min(low_[v], index_[w]);
                }
                continue;
            }
            calls.pop_back();
            if (!calls.empty()) low_[calls.back().signal] = std::min(low_[calls.back().signal], low_[v]);
            if (low_[v] == index_[v]) pop_component(v);
        }
    }

    void visit(std::uint32_t v) {
        index_[v] = low_[v] = counter_++;
        open_.push_back(v);
        on_stack_[v] = true;
    }

    // v is the root of a component: pop it, and mark its members with its
    // lowest signal (their low values are not read again).
    void pop_component(std::uint32_t v) {
        const auto top = std::find(open_.rbegin(), open_.rend(), v).base() - 1;
        const std::uint32_t lowest = *std::min_element(top, open_.end());
        const bool cyclic = open_.end() - top > 1;
        for (auto w = top; w != open_.end(); ++w) {
            on_stack_[*w] = false;
            low_[*w] = lowest;
            cyclic_[*w] = cyclic;
        }
        open_.erase(top, open_.end());
    }

    // "1 -> 2 -> 3 -> 1": the shortest cycle from `start` back to it, found
    // breadth first within its component; long ones are shortened in the
    // middle. Components are disjoint, so parents need no resetting.
    std::string shortest_cycle(std::uint32_t start) {
        queue_.assign(1, start);
        std::uint32_t last = NONE;  // the signal whose edge leads back to start
        for (std::size_t head = 0; head < queue_.size() && last == NONE; ++head) {
            const std::uint32_t v = queue_[head];
            for (unsigned k = 0; k < 2; ++k) {
                const std::uint32_t w = edge(v, k);
                if (w == NONE || low_[w] != start) continue;
                if (w == start) {
                    last = v;
                    break;
                }
                if (index_[w] == NONE) {
                    index_[w] = v;
                    queue_.push_back(w);
                }
            }
        }
        std::vector<std::uint32_t>& cycle = queue_;  // done with the queue
        cycle.clear();
        for (std::uint32_t v = last; v != start; v = index_[v]) cycle.push_back(v);
        cycle.push_back(start);
        std::reverse(cycle.begin(), cycle.end());
        constexpr std::size_t SHOWN = 8;
        std::string path;
        for (std::size_t k = 0; k < cycle.size(); ++k) {
            if (k == SHOWN && cycle.size() > SHOWN + 1) {
                path += "... -> ";
                k = cycle.size() - 1;
            }
            path += number(std::uint64_t{cycle[k]}) + " -> ";
        }
        return path + number(std::uint64_t{start});
    }

    const std::vector<Signal>& signals_;
    const std::size_t n_;
    std::vector<std::uint32_t> index_, low_, open_, queue_;
    std::vector<bool> on_stack_, cyclic_;
    std::uint32_t counter_ = 0;
};

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
    MixCycles(s.signals).report(f);
}

// The signals that stimulate: those an enabled channel takes from the table
// directly, and those that the mixes among them name, transitively.
std::vector<bool> used_signals(const Settings& s) {
    const std::size_t n = s.signals.size();
    std::vector<bool> used(n, false);
    std::vector<std::size_t> todo;
    const auto use = [&](std::uint64_t i) {
        if (i < n && !used[i]) {
            used[i] = true;
            todo.push_back(static_cast<std::size_t>(i));
        }
    };
    for (const ChannelSettings* c : {&s.channel_a_settings, &s.channel_b_settings}) {
        if (!c->enabled) continue;
        for (const SignalSourceSelection* source : {&c->amplitude1_source, &c->amplitude2_source, &c->modulation_source}) {
            if (!source->external_selected) use(source->internal);
        }
    }
    while (!todo.empty()) {
        const std::size_t i = todo.back();
        todo.pop_back();
        if (const auto* m = std::get_if<MixedSignalParams>(&s.signals[i].payload)) {
            use(m->a_idx);
            use(m->b_idx);
        }
    }
    return used;
}

// The parameters of one signal, by what the stimulator reads them as. The
// units of a sine's phase are the stimulator's (radians, degrees or turns),
// so only its finiteness is checked.
class SignalValues {
public:
    SignalValues(const Settings& s, std::size_t index, std::string_view kind, Findings& f)
        : session_(s.session_duration), what_("signal " + number(index) + " (" + std::string(kind) + ") has "), f_(f) {}

    void check(const ConstantSignalParams& p) { fraction("value", p.value); }
    void check(const SineSignalParams& p) {
        fraction("amplitude", p.amplitude);
        if (finite("frequency", p.frequency)) {
            if (p.frequency < 0.0) {
                f_.warning(what_ + "frequency " + number(p.frequency) + " Hz, but a frequency must not be negative");
            } else if (p.frequency > NYQUIST) {
                f_.warning(what_ + "frequency " + number(p.frequency) + " Hz, but " + number(config::SAMPLING_RATE) +
                           " samples/s carry at most " + number(NYQUIST) + " Hz");
            }
        }
        finite("phase", p.phase);
        fraction("depth", p.depth);
    }
    void check(const RampSignalParams& p) {
        fraction("peak", p.peak);
        const bool up = duration("up_duration", p.up_duration);
        const bool down = duration("down_duration", p.down_duration);
        const double total = p.up_duration + p.down_duration;
        if (up && down && total > session_) {
            f_.warning(what_ + "up_duration and down_duration of " + number(total) + " s together, but the session lasts " +
                       number(session_) + " s");
        }
    }
    void check(const MixedSignalParams&) {}
    void check(const ArbitrarySignalParams&) {}

private:
    static constexpr double NYQUIST = config::SAMPLING_RATE / 2;

    bool finite(std::string_view name, double x) {
        if (std::isfinite(x)) return true;
        f_.warning(what_ + std::string(name) + " " + number(x) + ", but signal parameters should be finite");
        return false;
    }
    void fraction(std::string_view name, double x) {
        if (finite(name, x) && !config::is_fraction(x)) {
            f_.warning(what_ + std::string(name) + " " + number(x) + ", but it is read as a fraction of full scale, from " +
                       number(config::MIN_FRACTION) + " to " + number(config::MAX_FRACTION));
        }
    }
    // Whether the duration is one: finite and not negative.
    bool duration(std::string_view name, double x) {
        if (!finite(name, x)) return false;
        if (x >= 0.0) return true;
        f_.warning(what_ + std::string(name) + " " + number(x) + " s, but a duration must not be negative");
        return false;
    }

    double session_;
    std::string what_;
    Findings& f_;
};

void check_signals(const Settings& s, Findings& f) {
    const std::optional<std::uint64_t> samples = sample_count(s.session_duration);
    const std::vector<bool> used = used_signals(s);
    for (std::size_t i = 0; i < s.signals.size(); ++i) {
        const Signal& signal = s.signals[i];
        if (const auto* a = std::get_if<ArbitrarySignalParams>(&signal.payload)) {
            if (samples && a->samples.size() != *samples) {
                f.error("signal " + number(i) + " has " + number(a->samples.size()) + " levels, but the session of " +
                        number(s.session_duration) + " s has " + number(*samples) + " samples");
            }
            // Levels are 16-bit: only negatives are outside 0 to MAX_LEVEL.
            static_assert(config::MAX_LEVEL == INT16_MAX);
            std::size_t outside = 0;
            for (const std::int16_t level : a->samples) outside += level < 0;  // vectorises
            if (outside > 0) {
                const auto first = static_cast<std::size_t>(
                    std::find_if(a->samples.begin(), a->samples.end(), [](std::int16_t l) { return l < 0; }) -
                    a->samples.begin());
                f.error("signal " + number(i) + " has " + number(outside) + (outside == 1 ? " level" : " levels") +
                        " outside 0 to " + number(std::uint64_t{config::MAX_LEVEL}) + ", the first " +
                        std::to_string(a->samples[first]) + " at sample " + number(first));
            }
        } else if (used[i]) {
            SignalValues values(s, i, signal.variant_name(), f);
            std::visit([&](const auto& p) { values.check(p); }, signal.payload);
        }
    }
}

}  // namespace

const char* severity_name(Finding::Severity severity) noexcept {
    return severity == Finding::Severity::Error ? "error" : "warning";
}

void check(const Settings& settings, const std::function<void(const Finding&)>& found) {
    Findings f{found};
    check_limits(settings, f);
    check_channel(settings, settings.channel_a_settings, 'A', f);
    check_channel(settings, settings.channel_b_settings, 'B', f);
    check_mixes(settings, f);
    check_signals(settings, f);
}

std::vector<Finding> check(const Settings& settings) {
    std::vector<Finding> list;
    check(settings, [&](const Finding& finding) { list.push_back(finding); });
    return list;
}

}  // namespace protocols
