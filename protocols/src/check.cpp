#include "protocols/check.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "mix_cycles.hpp"
#include "protocols/config.hpp"
#include "protocols/findings.hpp"
#include "protocols/format.hpp"
#include "protocols/routing.hpp"
#include "scans.hpp"

namespace protocols {
namespace {

std::string number(double x) { return text::float_text(x); }

std::string number(std::uint64_t n) { return std::to_string(n); }

// Hands each finding on as it is found, in the words of its kind.
struct Findings {
    const std::function<void(const Finding&)>& found;
    void operator()(const FindingKind& kind, std::span<const FindingValue> values) {
        found({kind.severity, say(kind, values)});
    }
    void operator()(const FindingKind& kind, std::initializer_list<FindingValue> values) {
        (*this)(kind, std::span(values.begin(), values.size()));
    }
};

namespace F = findings;

void check_limits(const Settings& s, Findings& f) {
    const double d = s.session_duration;
    if (!config::is_session_duration(d)) {
        f(F::SESSION_DURATION, {{"duration", number(d)}, {"min", number(config::MIN_SESSION_DURATION)},
                                {"max", number(config::MAX_SESSION_DURATION)}});
    }
    const double x = s.intensity;
    if (!config::is_fraction(x)) {
        f(F::INTENSITY, {{"intensity", number(x)}, {"min", number(config::MIN_FRACTION)},
                         {"max", number(config::MAX_FRACTION)}});
    } else if (x > s.machine_config.max_intensity_setpoint) {
        // The machine description does not fix the set point's unit.
        f(F::INTENSITY_ABOVE_SET_POINT, {{"intensity", number(x)}, {"set_point", number(s.machine_config.max_intensity_setpoint)}});
    }
}

// A channel's sources, by the API's names ("A1 amplitude source", "A
// modulation source"), and the coil description and LC setting it uses, by
// their numbers in the machine description.
void check_channel(const Settings& s, const ChannelSettings& c, char name, Findings& f) {
    if (!c.enabled) return;
    for (const Route& r : routes(s)) {
        if (r.settings != &c) continue;
        // A signal the table lacks is an error; an input is the machine's to have.
        if (const auto missing = missing_source(s, *r.source)) {
            const std::array<FindingValue, 3> values{{{"route", r.label()}, missing->values[0], missing->values[1]}};
            f(*missing->kind, values);
        }
    }
    const std::string channel(1, name);
    const auto& coils = s.machine_config.coils;
    if (c.coil_idx >= coils.size()) {
        f(F::MISSING_COIL, {{"channel", channel}, {"coil", number(c.coil_idx)},
                            {"coils", how_many(coils.size(), "coil", "coils")}});
    } else if (c.coil_setting_idx >= coils[c.coil_idx].settings.size()) {
        f(F::MISSING_COIL_SETTING, {{"channel", channel}, {"setting", number(c.coil_setting_idx)},
                                    {"coil", number(c.coil_idx)},
                                    {"settings", how_many(coils[c.coil_idx].settings.size(), "setting", "settings")}});
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
                f(F::MIX_OF_A_MISSING_SIGNAL, {{"signal", number(i)}, {"mixed", number(index)}, {"field", field},
                                               {"signals", how_many(n, "signal", "signals")}});
            }
        }
        if (m->a_idx == i || m->b_idx == i) {
            const char* fields = m->a_idx != i ? "b_idx" : m->b_idx != i ? "a_idx" : "a_idx and b_idx";
            f(F::MIX_OF_ITSELF, {{"signal", number(i)}, {"fields", fields}});
        }
    }
    MixCycles(s.signals).each([&](std::uint32_t v, const std::string& cycle) {
        f(F::MIX_CYCLE, {{"signal", number(std::uint64_t{v})}, {"cycle", cycle}});
    });
}

// The parameters of one signal, by what the stimulator reads them as. The
// units of a sine's phase are the stimulator's (radians, degrees or turns),
// so only its finiteness is checked.
class SignalValues {
public:
    SignalValues(const Settings& s, std::size_t index, std::string_view kind, Findings& f)
        : session_(s.session_duration), signal_(number(index)), kind_(kind), f_(f) {}

    void check(const ConstantSignalParams& p) { fraction("value", p.value); }
    void check(const SineSignalParams& p) {
        fraction("amplitude", p.amplitude);
        if (finite("frequency", p.frequency)) {
            if (p.frequency < 0.0) {
                f_(F::NEGATIVE_FREQUENCY, {{"signal", signal_}, {"kind", kind_}, {"value", number(p.frequency)}});
            } else if (p.frequency > NYQUIST) {
                f_(F::FREQUENCY_ABOVE_NYQUIST, {{"signal", signal_}, {"kind", kind_}, {"value", number(p.frequency)},
                                                {"rate", number(config::SAMPLING_RATE)}, {"nyquist", number(NYQUIST)}});
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
            f_(F::RAMP_LONGER_THAN_SESSION, {{"signal", signal_}, {"kind", kind_}, {"total", number(total)},
                                             {"duration", number(session_)}});
        }
    }
    void check(const MixedSignalParams&) {}
    void check(const ArbitrarySignalParams&) {}

private:
    static constexpr double NYQUIST = config::SAMPLING_RATE / 2;

    bool finite(std::string_view name, double x) {
        if (std::isfinite(x)) return true;
        f_(F::NOT_FINITE, {{"signal", signal_}, {"kind", kind_}, {"parameter", std::string(name)}, {"value", number(x)}});
        return false;
    }
    void fraction(std::string_view name, double x) {
        if (finite(name, x) && !config::is_fraction(x)) {
            f_(F::NO_FRACTION, {{"signal", signal_}, {"kind", kind_}, {"parameter", std::string(name)},
                                {"value", number(x)}, {"min", number(config::MIN_FRACTION)},
                                {"max", number(config::MAX_FRACTION)}});
        }
    }
    // Whether the duration is one: finite and not negative.
    bool duration(std::string_view name, double x) {
        if (!finite(name, x)) return false;
        if (x >= 0.0) return true;
        f_(F::NEGATIVE_DURATION, {{"signal", signal_}, {"kind", kind_}, {"parameter", std::string(name)},
                                  {"value", number(x)}});
        return false;
    }

    double session_;
    std::string signal_, kind_;
    Findings& f_;
};

void check_signals(const Settings& s, Findings& f) {
    const std::optional<std::uint64_t> samples = sample_count(s.session_duration);
    const std::vector<bool> used = used_signals(s);
    for (std::size_t i = 0; i < s.signals.size(); ++i) {
        const Signal& signal = s.signals[i];
        if (const auto* a = std::get_if<ArbitrarySignalParams>(&signal.payload)) {
            if (samples && a->samples.size() != *samples) {
                f(F::STALE_WAVEFORM, {{"signal", number(i)}, {"levels", number(a->samples.size())},
                                      {"duration", number(s.session_duration)}, {"samples", number(*samples)}});
            }
            // Levels are 16-bit: only negatives are outside 0 to MAX_LEVEL.
            static_assert(config::MAX_LEVEL == INT16_MAX);
            const std::size_t outside = count_negative(a->samples.data(), a->samples.size());
            if (outside > 0) {
                const auto first = static_cast<std::size_t>(
                    std::find_if(a->samples.begin(), a->samples.end(), [](std::int16_t l) { return l < 0; }) -
                    a->samples.begin());
                f(F::LEVELS_OUTSIDE, {{"signal", number(i)},
                                      {"outside", number(outside) + (outside == 1 ? " level" : " levels")},
                                      {"max", number(std::uint64_t{config::MAX_LEVEL})},
                                      {"level", std::to_string(a->samples[first])}, {"sample", number(first)}});
            }
        } else if (used[i]) {
            SignalValues values(s, i, signal.variant_name(), f);
            std::visit([&](const auto& p) { values.check(p); }, signal.payload);
        }
    }
}

}  // namespace

std::string say(const FindingKind& kind, std::span<const FindingValue> values) {
    std::string out;
    std::size_t used = 0;
    for (std::size_t i = 0; i < kind.words.size();) {
        if (kind.words[i] != '{') {
            out += kind.words[i++];
            continue;
        }
        const std::size_t close = kind.words.find('}', i);
        const std::string_view name = kind.words.substr(i + 1, close - i - 1);
        const auto value = std::find_if(values.begin(), values.end(), [&](const auto& v) { return v.first == name; });
        if (value == values.end()) throw std::logic_error("no value for {" + std::string(name) + "} of " + std::string(kind.id));
        out += value->second;
        ++used;
        i = close + 1;
    }
    if (used < values.size()) throw std::logic_error("a value that " + std::string(kind.id) + " has no place for");
    return out;
}

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
