#include "protocols/check.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "mix_cycles.hpp"
#include "protocols/config.hpp"
#include "protocols/format.hpp"
#include "protocols/routing.hpp"
#include "scans.hpp"

namespace protocols {
namespace {

std::string number(double x) { return text::float_text(x); }

std::string number(std::uint64_t n) { return std::to_string(n); }

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
                  number(s.machine_config.max_intensity_setpoint) +
                  ", a limit of the factory description that every composed protocol carries");
    }
}

// A channel's sources, by the API's names ("A1 amplitude source", "A
// modulation source"), and the coil description and LC setting it uses, by
// their numbers in the machine description.
void check_channel(const Settings& s, const ChannelSettings& c, char name, Findings& f) {
    if (!c.enabled) return;
    for (const Route& r : routes(s)) {
        if (r.settings != &c) continue;
        if (const auto missing = missing_source(s, *r.source)) {
            const std::string what = r.name() + (r.role == Route::Role::Modulation ? " source" : " amplitude source");
            // A signal the table lacks is an error; an input is the machine's to have.
            if (r.source->external_selected) f.warning(what + " is " + *missing);
            else f.error(what + " is " + *missing);
        }
    }
    const std::string channel = std::string("channel ") + name;
    const auto& coils = s.machine_config.coils;
    if (c.coil_idx >= coils.size()) {
        f.warning(channel + " uses coil " + number(c.coil_idx) + " of the machine description, but it describes " +
                  how_many(coils.size(), "coil", "coils"));
    } else if (c.coil_setting_idx >= coils[c.coil_idx].settings.size()) {
        f.warning(channel + " uses setting " + number(c.coil_setting_idx) + " of the machine description's coil " +
                  number(c.coil_idx) + ", but that coil has " +
                  how_many(coils[c.coil_idx].settings.size(), "setting", "settings"));
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
    MixCycles(s.signals).each([&](std::uint32_t v, const std::string& cycle) {
        f.error("signal " + number(std::uint64_t{v}) + " mixes itself through signals " + cycle +
                ", but mixes must not form a cycle");
    });
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
            const std::size_t outside = count_negative(a->samples.data(), a->samples.size());
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
