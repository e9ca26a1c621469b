#include "protocols/composable.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <optional>
#include <string_view>
#include <variant>

#include "protocols/config.hpp"
#include "protocols/format.hpp"
#include "protocols/routing.hpp"
#include "protocols/utf8.hpp"
#include "protocols/wire.hpp"

namespace protocols {
namespace {

// Values as Python's repr() shows them in the drel package, whose records
// are dataclasses: the words of the package's messages.
class PythonRepr {
public:
    template <class T>
    void value(const T& v) {
        constexpr WireKind kind = wire_kind<T>;
        if constexpr (kind == WireKind::Bool) {
            out += v ? "True" : "False";
        } else if constexpr (kind == WireKind::Unsigned) {
            out += std::to_string(v);
        } else if constexpr (kind == WireKind::Float) {
            out += std::isnan(v) ? "nan" : text::float_text(v);  // inf and -inf as Python writes them
        } else if constexpr (kind == WireKind::Text) {
            text(v);
        } else if constexpr (kind == WireKind::Levels) {
            out += "<" + std::to_string(v.size()) + " levels>";
        } else if constexpr (kind == WireKind::Array || kind == WireKind::FixedArray) {
            out += '(';
            for (std::size_t i = 0; i < v.size(); ++i) {
                if (i > 0) out += ", ";
                value(v[i]);
            }
            out += v.size() == 1 ? ",)" : ")";
        } else if constexpr (kind == WireKind::Variant) {
            std::visit([&](const auto& p) { value(p); }, v.payload);
        } else {
            out += package_name<T>();
            out += '(';
            bool first = true;
            for_each_field(v, [&](std::string_view name, const auto& f) {
                if (!first) out += ", ";
                first = false;
                out += name;
                out += '=';
                value(f);
            });
            out += ')';
        }
    }

    std::string out;

private:
    // In single quotes, or double ones when the text holds a single quote
    // and no double one; backslashes, the quote and controls escaped.
    void text(std::string_view s) {
        const char quote = s.find('\'') != std::string_view::npos && s.find('"') == std::string_view::npos ? '"' : '\'';
        out += quote;
        for (std::size_t i = 0; i < s.size();) {
            const std::size_t start = i;
            const char32_t c = utf8::next_code_point(s, i);
            static constexpr char hex[] = "0123456789abcdef";
            if (c == '\\' || c == static_cast<char32_t>(quote)) {
                out += '\\';
                out += static_cast<char>(c);
            } else if (c == '\n') {
                out += "\\n";
            } else if (c == '\r') {
                out += "\\r";
            } else if (c == '\t') {
                out += "\\t";
            } else if (c < 0x20 || c == 0x7f) {
                out += "\\x";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out.append(s.substr(start, i - start));
            }
        }
        out += quote;
    }
};

template <class T>
std::string repr(const T& v) {
    PythonRepr r;
    r.value(v);
    return r.out;
}

// Equal to the bit: -0.0 is not 0.0, and NaNs compare by payload.
template <class T>
bool same(const T& a, const T& b) {
    if constexpr (wire_kind<T> == WireKind::Float) return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
    else return a == b;
}

// Where `value` first differs from what a new Protocol has, field by field:
// records and arrays of one length are looked into.
template <class T>
std::optional<std::string> first_difference(const T& value, const T& fresh, const std::string& path) {
    constexpr WireKind kind = wire_kind<T>;
    if constexpr (kind == WireKind::Record) {
        std::optional<std::string> found;
        std::apply(
            [&](const auto&... fs) {
                (void)((found = first_difference(value.*(fs.member), fresh.*(fs.member),
                                                 path + "." + std::string(fs.name)),
                        !found) &&
                       ...);
            },
            T::fields());
        return found;
    } else if constexpr (kind == WireKind::Array || kind == WireKind::FixedArray) {
        if (value.size() == fresh.size()) {
            for (std::size_t i = 0; i < value.size(); ++i) {
                if (auto found = first_difference(value[i], fresh[i], path + "[" + std::to_string(i) + "]")) return found;
            }
            return std::nullopt;
        }
    } else {
        if (same(value, fresh)) return std::nullopt;
    }
    return path + " is " + repr(value) + ", but a new pydrel.Protocol has " + repr(fresh) +
           ", and no method changes it";
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
    std::string message;
};

class Planner {
public:
    explicit Planner(const Settings& s) : s_(s), fresh_(new_protocol()) {}

    Composition plan() {
        // Field by field in declaration order, so that the first field in the
        // way is the one named.
        std::apply([&](const auto&... fs) { (field(fs.name, s_.*(fs.member), fresh_.*(fs.member)), ...); },
                   Settings::fields());
        return std::move(c_);
    }

private:
    template <class T>
    void field(std::string_view name, const T& value, const T& fresh) {
        const std::string path(name);
        if constexpr (std::is_same_v<T, double>) {
            const bool intensity = name == "intensity";
            const auto refused =
                intensity ? config::intensity_refusal(value) : config::session_duration_refusal(value);
            if (refused) {
                fail(path + " is " + repr(value) + ", which " +
                     (intensity ? "set_stimulation_intensity" : "set_session_duration") + "() refuses: " +
                     std::string(*refused));
            }
        } else if constexpr (std::is_same_v<T, std::vector<Signal>>) {
            signals(value);
        } else if constexpr (std::is_same_v<T, ChannelSettings>) {
            channel(path, value, fresh);
        } else if (auto found = first_difference(value, fresh, path)) {
            fail(*found);
        }
    }

    void signals(const std::vector<Signal>& signals) {
        if (signals.empty()) fail("signals is empty, but a saved pydrel.Protocol holds at least one signal");
        for (std::size_t i = 0; i < signals.size(); ++i) {
            const auto* a = std::get_if<ArbitrarySignalParams>(&signals[i].payload);
            if (a == nullptr) continue;
            const Levels& levels = a->samples;
            if (const auto negative = std::find_if(levels.begin(), levels.end(), [](std::int16_t l) { return l < 0; });
                negative != levels.end()) {
                fail("signals[" + std::to_string(i) + "].samples[" + std::to_string(negative - levels.begin()) +
                     "] is " + std::to_string(*negative) + ", but add_arbitrary_signal() makes levels from 0 to " +
                     std::to_string(config::MAX_LEVEL));
            }
            const std::uint64_t n = levels.size();
            const auto known = std::find_if(c_.durations.begin(), c_.durations.end(),
                                            [&](const auto& d) { return d.first == n; });
            if (known != c_.durations.end()) continue;
            const auto duration = duration_of(n);
            if (!duration) {
                fail("signals[" + std::to_string(i) + "].samples has " + std::to_string(n) +
                     " levels, but no session that set_session_duration() takes has that many samples");
            }
            c_.durations.emplace_back(n, *duration);
        }
        std::sort(c_.durations.begin(), c_.durations.end());
    }

    void channel(const std::string& name, const ChannelSettings& channel, const ChannelSettings& fresh) {
        const bool b = &channel == &s_.channel_b_settings;
        const std::array<Route, 6> all = routes(s_);
        std::apply(
            [&](const auto&... fs) {
                (
                    [&] {
                        const auto& value = channel.*(fs.member);
                        const std::string path = name + "." + std::string(fs.name);
                        using F = std::remove_cvref_t<decltype(value)>;
                        if constexpr (std::is_same_v<F, SignalSourceSelection>) {
                            const auto route = std::find_if(all.begin(), all.end(), [&](const Route& r) {
                                return r.source == &value;
                            });
                            source(path, value, route->role == Route::Role::Modulation,
                                   static_cast<std::size_t>(route - all.begin()));
                        } else if (!(b && fs.name == "enabled")) {  // enable_channel() switches B on
                            if (auto found = first_difference(value, fresh.*(fs.member), path)) fail(*found);
                        }
                    }(),
                    ...);
            },
            ChannelSettings::fields());
    }

    // The setters write the number not selected as 0.
    void source(const std::string& path, const SignalSourceSelection& s, bool modulation, std::size_t route) {
        const bool plain = s.external_selected ? s.internal == 0 : s.external == 0;
        if (!plain) {
            fail(path + " is " + repr(s) + ", which " + (modulation ? "set_modulation_source" : "set_amplitude_source") +
                 "() never writes: it sets the number not selected to 0");
        }
        c_.sources[route] = {s.external_selected ? s.external : s.internal, s.external_selected};
    }

    [[noreturn]] static void fail(std::string message) { throw NotComposable{std::move(message)}; }

    const Settings& s_;
    const Settings fresh_;
    Composition c_{};
};

}  // namespace

Result<Composition, std::string> composition(const Settings& s) {
    try {
        return Planner(s).plan();
    } catch (NotComposable& e) {
        return std::move(e.message);
    }
}

}  // namespace protocols
