#include "protocols/composable.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <variant>

#include "protocols/config.hpp"
#include "protocols/routing.hpp"
#include "protocols/wire.hpp"
#include "shown_of.hpp"

namespace protocols {
namespace {

// Equal to the bit: -0.0 is not 0.0, and NaNs compare by payload.
template <class T>
bool same(const T& a, const T& b) {
    if constexpr (wire_kind<T> == WireKind::Float) return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
    else return a == b;
}

// A session duration that set_session_duration() takes and that has
// `samples` samples: samples / 5000 s, or the double just below or above.
std::optional<double> duration_of(std::uint64_t samples) {
    const double d = static_cast<double>(samples) / config::SAMPLING_RATE;
    for (const double candidate : {d, std::nextafter(d, 0.0), std::nextafter(d, HUGE_VAL)}) {
        if (!config::session_duration_refusal(candidate) && sample_count(candidate) == samples) return candidate;
    }
    return std::nullopt;
}

struct NotComposable {
    Refusal refusal;
};

class Planner {
public:
    explicit Planner(const Settings& s) : s_(s), fresh_(std::make_shared<const Settings>(new_protocol())) {}

    Composition plan() {
        // Field by field in declaration order, so that the first field in the
        // way is the one named.
        std::apply([&](const auto&... fs) { (field(fs, s_.*(fs.member), fresh_.get()->*(fs.member)), ...); },
                   Settings::fields());
        return std::move(c_);
    }

private:
    template <class F, class T>
    void field(const F& f, const T& value, const T& fresh) {
        FieldPath::Step step(path_, f.name);
        if constexpr (std::is_same_v<T, double>) {
            if (f.member == &Settings::intensity) return setter(value, "set_stimulation_intensity", config::intensity_refusal);
            if (f.member == &Settings::session_duration) {
                return setter(value, "set_session_duration", config::session_duration_refusal);
            }
        }
        if constexpr (std::is_same_v<T, std::vector<Signal>>) {
            signals(value);
        } else if constexpr (std::is_same_v<T, ChannelSettings>) {
            channel(value, fresh);
        } else {
            unchanged(value, fresh);
        }
    }

    // A value that its setter checks.
    void setter(const double& value, std::string_view method,
                std::optional<std::string_view> (*refusal)(double) noexcept) {
        if (const auto refused = refusal(value)) {
            Refusal r = refuse(Refusal::Reason::Refused);
            r.value = Shown::of(value);
            r.method = method;
            r.check = *refused;
            r.number = value;
            fail(std::move(r));
        }
    }

    // Where `value` first differs from what a new Protocol has, field by
    // field: records and arrays of one length are looked into.
    template <class T>
    void unchanged(const T& value, const T& fresh) {
        constexpr WireKind kind = wire_kind<T>;
        if constexpr (kind == WireKind::Record) {
            std::apply(
                [&](const auto&... fs) {
                    (
                        [&] {
                            FieldPath::Step step(path_, fs.name);
                            unchanged(value.*(fs.member), fresh.*(fs.member));
                        }(),
                        ...);
                },
                T::fields());
            return;
        } else if constexpr (kind == WireKind::Array || kind == WireKind::FixedArray) {
            if (value.size() == fresh.size()) {
                for (std::size_t i = 0; i < value.size(); ++i) {
                    FieldPath::Step step(path_, i);
                    unchanged(value[i], fresh[i]);
                }
                return;
            }
        } else if constexpr (kind == WireKind::Bool || kind == WireKind::Unsigned || kind == WireKind::Float ||
                             kind == WireKind::Text) {
            if (same(value, fresh)) return;
        } else {
            // A new protocol has no waveforms and no signals outside its table.
            static_assert(kind == WireKind::Levels || kind == WireKind::Variant, "a kind that no rule compares");
            if (value == fresh) return;
        }
        Refusal r = refuse(Refusal::Reason::Unchanged);
        r.value = Shown::of(value);
        r.fresh = Shown::of(fresh);
        r.keeps = fresh_;
        fail(std::move(r));
    }

    void signals(const std::vector<Signal>& signals) {
        if (signals.empty()) {
            Refusal r = refuse(Refusal::Reason::NoSignals);
            r.value = Shown::of(signals);
            fail(std::move(r));
        }
        for (std::size_t i = 0; i < signals.size(); ++i) {
            const auto* a = std::get_if<ArbitrarySignalParams>(&signals[i].payload);
            if (a == nullptr) continue;
            FieldPath::Step element(path_, i), kind(path_, FieldPath::Kind{"Arbitrary"}), samples(path_, "samples");
            const Levels& levels = a->samples;
            if (const auto negative = std::find_if(levels.begin(), levels.end(), [](std::int16_t l) { return l < 0; });
                negative != levels.end()) {
                FieldPath::Step level(path_, static_cast<std::size_t>(negative - levels.begin()));
                Refusal r = refuse(Refusal::Reason::LevelOutside);
                r.method = "add_arbitrary_signal";
                r.level = *negative;
                fail(std::move(r));
            }
            const std::uint64_t n = levels.size();
            const auto known = std::find_if(c_.durations.begin(), c_.durations.end(),
                                            [&](const auto& d) { return d.first == n; });
            if (known != c_.durations.end()) continue;
            const auto duration = duration_of(n);
            if (!duration) {
                Refusal r = refuse(Refusal::Reason::NoSession);
                r.value = Shown::of(levels);
                r.method = "set_session_duration";
                r.count = n;
                r.session_duration = s_.session_duration;
                fail(std::move(r));
            }
            c_.durations.emplace_back(n, *duration);
        }
        std::sort(c_.durations.begin(), c_.durations.end());
    }

    void channel(const ChannelSettings& channel, const ChannelSettings& fresh) {
        const bool b = &channel == &s_.channel_b_settings;
        const std::array<Route, 6> all = routes(s_);
        std::apply(
            [&](const auto&... fs) {
                (
                    [&] {
                        const auto& value = channel.*(fs.member);
                        FieldPath::Step step(path_, fs.name);
                        using F = std::remove_cvref_t<decltype(value)>;
                        if constexpr (std::is_same_v<F, SignalSourceSelection>) {
                            const auto route = std::find_if(all.begin(), all.end(), [&](const Route& r) {
                                return r.source == &value;
                            });
                            if (route == all.end()) throw std::logic_error("a source that no route takes");
                            source(value, *route, static_cast<std::size_t>(route - all.begin()));
                        } else if (!(b && fs.name == "enabled")) {  // enable_channel() switches B on
                            unchanged(value, fresh.*(fs.member));
                        }
                    }(),
                    ...);
            },
            ChannelSettings::fields());
    }

    // The setters write the number not selected as 0.
    void source(const SignalSourceSelection& s, const Route& route, std::size_t index) {
        const bool modulation = route.role == Route::Role::Modulation;
        const std::string_view method = modulation ? "set_modulation_source" : "set_amplitude_source";
        const bool plain = s.external_selected ? s.internal == 0 : s.external == 0;
        if (!plain) {
            Refusal r = refuse(Refusal::Reason::NeverWritten);
            r.value = Shown::of(s);
            r.method = method;
            fail(std::move(r));
        }
        c_.sources[index] = {method, modulation ? TARGET_CHANNELS[route.channel - 'A'] : route_targets(route),
                             s.external_selected ? s.external : s.internal, s.external_selected};
    }

    // The members of pydrel.Coil and pydrel.Channel that name a route.
    static constexpr std::array<std::string_view, 2> TARGET_CHANNELS = {"A", "B"};
    static std::string_view route_targets(const Route& r) {
        static constexpr std::array<std::string_view, 4> coils = {"A1", "A2", "B1", "B2"};
        return coils[static_cast<std::size_t>(r.channel - 'A') * 2 + (r.role == Route::Role::Amplitude2 ? 1 : 0)];
    }

    Refusal refuse(Refusal::Reason reason) const {
        Refusal r{};
        r.reason = reason;
        r.path = path_;
        return r;
    }

    [[noreturn]] static void fail(Refusal r) { throw NotComposable{std::move(r)}; }

    const Settings& s_;
    const std::shared_ptr<const Settings> fresh_;
    FieldPath path_;
    Composition c_{};
};

}  // namespace

std::string Refusal::json_message() const {
    const std::string at = path.text();
    const auto was = [&] { return at + " is " + value.json(); };
    switch (reason) {
        case Reason::Unchanged:
            return was() + ", but a new pydrel.Protocol has " + fresh.json() + ", and no method changes it";
        case Reason::Refused:
            return was() + ", which " + std::string(method) + "() refuses: " + std::string(check);
        case Reason::NeverWritten:
            return was() + ", which " + std::string(method) + "() never writes: it sets the number not selected to 0";
        case Reason::NoSignals:
            return "signals is empty, but a saved pydrel.Protocol holds at least one signal";
        case Reason::LevelOutside:
            return at + " is " + std::to_string(level) + ", but add_arbitrary_signal() makes levels from 0 to " +
                   std::to_string(config::MAX_LEVEL);
        case Reason::NoSession:
            return at + " has " + std::to_string(count) +
                   " levels, but no session that set_session_duration() takes has that many samples";
    }
    throw std::logic_error("a refusal of no reason");
}

std::string Refusal::note(hints::Spelling spelling) const {
    switch (reason) {
        case Reason::Refused:
            return method == "set_stimulation_intensity" ? hints::intensity(number, spelling)
                                                         : hints::duration("session_duration", number, spelling);
        case Reason::LevelOutside:
            return hints::level_range();
        case Reason::NoSession:
            return hints::waveform_length(count, session_duration, spelling);
        case Reason::Unchanged:
            return !path.empty() && path.steps()[0].name == "machine_config" ? hints::machine_description() : "";
        case Reason::NeverWritten:
        case Reason::NoSignals:
            return "";
    }
    throw std::logic_error("a refusal of no reason");
}

Result<Composition, Refusal> composition(const Settings& s) {
    try {
        return Planner(s).plan();
    } catch (NotComposable& e) {
        return std::move(e.refusal);
    }
}

}  // namespace protocols
