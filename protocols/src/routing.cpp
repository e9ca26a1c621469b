#include "protocols/routing.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <variant>

#include "mix_cycles.hpp"
#include "protocols/config.hpp"
#include "protocols/format.hpp"
#include "protocols/wire.hpp"
#include "scans.hpp"

namespace protocols {
namespace {

std::string number(double x) { return text::float_text(x); }

using text::quoted;

// A few digits for people: "22.6" (kHz), "0.5" (of full scale), "-0.001".
// A number that the digits would round to zero keeps its sign and enough
// digits to show it ("-0.000488" for a level of -16), and a zero its sign,
// as the text form prints them.
std::string rounded(double x, const char* format) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, x);
    std::string s(buf);
    if (std::strtod(buf, nullptr) == 0.0 && x != 0.0) {
        std::snprintf(buf, sizeof buf, "%.3g", x);
        return buf;
    }
    if (x == 0.0) return std::signbit(x) ? "-0.0" : "0.0";
    if (const std::size_t dot = s.find('.'); dot != std::string::npos && s.find('e') == std::string::npos) {
        while (s.back() == '0' && s.size() > dot + 2) s.pop_back();
    }
    return s;
}

// "2, 5 to 9, 12", or "none".
std::string ranges(const std::vector<std::size_t>& indices) {
    if (indices.empty()) return "none";
    std::string out;
    for (std::size_t i = 0; i < indices.size();) {
        std::size_t j = i;
        while (j + 1 < indices.size() && indices[j + 1] == indices[j] + 1) ++j;
        if (!out.empty()) out += ", ";
        out += std::to_string(indices[i]);
        if (j > i) out += (j == i + 1 ? ", " : " to ") + std::to_string(indices[j]);
        i = j + 1;
    }
    return out;
}

// The parameters of a signal other than a mix or a waveform: "amplitude 1.0, frequency 10.0".
template <class Params>
std::string parameters(const Params& p) {
    std::string out;
    for_each_field(p, [&](std::string_view name, const auto& v) {
        if (!out.empty()) out += ", ";
        out += std::string(name) + " " + number(v);
    });
    return out;
}

class Describer {
public:
    explicit Describer(const Settings& s) : s_(s), cycles_(s.signals) {}

    std::string signal(std::size_t index, bool deep = true) const {
        const Signal& sig = s_.signals[index];
        const std::string kind(sig.variant_name());
        if (const auto* a = std::get_if<ArbitrarySignalParams>(&sig.payload)) return kind + " " + waveform(a->samples);
        if (const auto* m = std::get_if<MixedSignalParams>(&sig.payload)) {
            if (!deep) {
                return kind + " of signals " + std::to_string(m->a_idx) + " and " + std::to_string(m->b_idx) +
                       (cycles_.cyclic(index) ? ", in a cycle" : "");
            }
            return kind + " of " + named(index, m->a_idx) + " and " + named(index, m->b_idx);
        }
        return std::visit(
            [&](const auto& p) -> std::string {
                if constexpr (requires { p.a_idx; } || requires { p.samples; }) return kind;
                else return kind + " " + parameters(p);
            },
            sig.payload);
    }

private:
    // A signal that a mix names, one level deep.
    std::string named(std::size_t mix, std::uint64_t index) const {
        if (index >= s_.signals.size()) {
            return "signal " + std::to_string(index) + " (not in the table of " +
                   how_many(s_.signals.size(), "signal", "signals") + ")";
        }
        if (index == mix) return "signal " + std::to_string(index) + " (itself)";
        return "signal " + std::to_string(index) + " (" + signal(index, false) + ")";
    }

    std::string waveform(const Levels& levels) const {
        const auto n = static_cast<std::uint64_t>(levels.size());
        std::string out = std::to_string(n) + (n == 1 ? " level" : " levels") + " (" +
                          number(static_cast<double>(n) / config::SAMPLING_RATE) + " s)";
        if (!levels.empty()) {
            const LevelRange r = level_range(levels.data(), levels.size());
            out += ", " + rounded(r.min / config::LEVEL_FULL_SCALE, "%.3f") + " to " +
                   rounded(r.max / config::LEVEL_FULL_SCALE, "%.3f");
        }
        if (const auto samples = sample_count(s_.session_duration); samples && *samples != n) {
            out += ", but the session of " + number(s_.session_duration) + " s has " + std::to_string(*samples) +
                   " samples";
        }
        return out;
    }

    const Settings& s_;
    MixCycles cycles_;
};

}  // namespace

std::string Route::name() const {
    switch (role) {
        case Role::Amplitude1: return std::string(1, channel) + "1";
        case Role::Amplitude2: return std::string(1, channel) + "2";
        case Role::Modulation: break;
    }
    return std::string(1, channel) + " modulation";
}

std::string Route::label() const { return name() + (role == Role::Modulation ? "" : " amplitude"); }

std::string_view Route::field() const {
    switch (role) {
        case Role::Amplitude1: return "amplitude1_source";
        case Role::Amplitude2: return "amplitude2_source";
        case Role::Modulation: break;
    }
    return "modulation_source";
}

std::array<Route, 6> routes(const Settings& s) {
    using Role = Route::Role;
    const ChannelSettings& a = s.channel_a_settings;
    const ChannelSettings& b = s.channel_b_settings;
    return {Route{'A', Role::Amplitude1, &a, &a.amplitude1_source}, Route{'A', Role::Amplitude2, &a, &a.amplitude2_source},
            Route{'A', Role::Modulation, &a, &a.modulation_source}, Route{'B', Role::Amplitude1, &b, &b.amplitude1_source},
            Route{'B', Role::Amplitude2, &b, &b.amplitude2_source}, Route{'B', Role::Modulation, &b, &b.modulation_source}};
}

const Signal* routed_signal(const Settings& s, const Route& r) noexcept {
    if (r.source->external_selected || r.source->internal >= s.signals.size()) return nullptr;
    return &s.signals[r.source->internal];
}

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
    for (const Route& r : routes(s)) {
        if (r.settings->enabled && !r.source->external_selected) use(r.source->internal);
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

std::string how_many(std::uint64_t n, std::string_view one, std::string_view many) {
    if (n == 0) return "no " + std::string(many);
    const std::string counted = std::to_string(n) + " " + std::string(n == 1 ? one : many);
    return counted + (n == 1 ? " (0)" : " (0 to " + std::to_string(n - 1) + ")");
}

std::optional<MissingSource> missing_source(const Settings& s, const SignalSourceSelection& source) {
    const std::uint64_t inputs = s.machine_config.num_external_signal_sources;
    if (source.external_selected && source.external >= inputs) {
        return MissingSource{&findings::MISSING_EXTERNAL_INPUT,
                             {{{"input", std::to_string(source.external)},
                               {"inputs", how_many(inputs, "external input", "external inputs")}}}};
    }
    if (!source.external_selected && source.internal >= s.signals.size()) {
        return MissingSource{&findings::MISSING_SIGNAL_SOURCE,
                             {{{"signal", std::to_string(source.internal)},
                               {"signals", how_many(s.signals.size(), "signal", "signals")}}}};
    }
    return std::nullopt;
}

std::string MissingSource::text() const {
    constexpr std::string_view lead = "{route} source is ";
    static_assert(findings::MISSING_SIGNAL_SOURCE.words.starts_with(lead) &&
                  findings::MISSING_EXTERNAL_INPUT.words.starts_with(lead));
    FindingKind rest = *kind;
    rest.words.remove_prefix(lead.size());
    return say(rest, values);
}

std::string channel_coil(const Settings& s, const ChannelSettings& c) {
    const auto& coils = s.machine_config.coils;
    if (c.coil_idx >= coils.size()) {
        return "coil " + std::to_string(c.coil_idx) + ", but the machine describes " + how_many(coils.size(), "coil", "coils");
    }
    const Coil& coil = coils[c.coil_idx];
    std::string out = "coil " + std::to_string(c.coil_idx) + " " + quoted(coil.name) + ", setting " +
                      std::to_string(c.coil_setting_idx);
    if (c.coil_setting_idx >= coil.settings.size()) {
        return out + ", but that coil has " + how_many(coil.settings.size(), "setting", "settings");
    }
    return out + ", carrier " + rounded(coil.settings[c.coil_setting_idx].carrier_frequency, "%.3g") + " kHz";
}

namespace {

std::string receives(const Settings& s, const Route& r, const Describer& d) {
    if (const auto missing = missing_source(s, *r.source)) return missing->text();
    if (r.source->external_selected) return "external input " + std::to_string(r.source->external);
    return "signal " + std::to_string(r.source->internal) + ": " + d.signal(r.source->internal);
}

}  // namespace

std::array<std::string, 6> receives(const Settings& s) {
    const Describer d(s);
    const std::array<Route, 6> all = routes(s);
    std::array<std::string, 6> out;
    for (std::size_t i = 0; i < all.size(); ++i) out[i] = receives(s, all[i], d);
    return out;
}

std::string routing_text(const Settings& s) {
    const Describer d(s);
    std::string out;
    char channel = 0;
    for (const Route& r : routes(s)) {
        if (r.channel != channel) {
            channel = r.channel;
            out += std::string("channel ") + channel + ": " + (r.settings->enabled ? "on" : "off") + ", " +
                   channel_coil(s, *r.settings) + "\n";
        }
        std::string label = r.label();
        label.resize(15, ' ');
        out += "  " + label + "<- " + receives(s, r, d) + "\n";
    }
    const std::vector<bool> used = used_signals(s);
    std::vector<std::size_t> unused;
    for (std::size_t i = 0; i < used.size(); ++i) {
        if (!used[i]) unused.push_back(i);
    }
    return out + "signals no enabled channel uses: " + ranges(unused) + "\n";
}

}  // namespace protocols
