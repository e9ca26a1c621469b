#include "protocols/diff.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "protocols/config.hpp"
#include "protocols/format.hpp"
#include "protocols/wire.hpp"
#include "scans.hpp"
#include "shown_of.hpp"
#include "text_writer.hpp"

namespace protocols {

namespace {

// The number of levels that differ, the first and the last of them and the
// largest difference: one pass over both, then the two ends.
Difference::Levels compare_levels(const std::int16_t* a, const std::int16_t* b, std::size_t n) noexcept {
    const LevelComparison c = protocols::compare_levels(a, b, n);
    if (c.differing == 0) return {0, 0, 0, 0};
    const std::size_t first = static_cast<std::size_t>(std::mismatch(a, a + n, b).first - a);
    std::size_t last = n - 1;
    while (a[last] == b[last]) --last;
    return {c.differing, first, last, c.max_abs};
}

class Differ {
public:
    explicit Differ(const std::function<bool(const Difference&)>& found) : found_(found) {}

    // False once found_ has asked to stop.
    template <class T>
    bool compare(const T& a, const T& b) {
        constexpr WireKind kind = wire_kind<T>;
        if constexpr (kind == WireKind::Float) {
            const auto a_bits = std::bit_cast<std::uint64_t>(a), b_bits = std::bit_cast<std::uint64_t>(b);
            if (a_bits == b_bits) return true;
            Difference d = value(a, b);
            d.a_bits = a_bits;
            d.b_bits = b_bits;
            d.bits_only = d.a.text() == d.b.text();
            return report(std::move(d));
        } else if constexpr (kind == WireKind::Bool || kind == WireKind::Unsigned || kind == WireKind::Text) {
            return a == b || report(value(a, b));
        } else if constexpr (kind == WireKind::Levels) {
            if (a.size() != b.size()) return report(lengths(Difference::Kind::Levels, a.size(), b.size()));
            const Difference::Levels l = compare_levels(a.data(), b.data(), a.size());
            if (l.differing == 0) return true;
            Difference d = lengths(Difference::Kind::Levels, a.size(), b.size());
            d.levels = l;
            return report(std::move(d));
        } else if constexpr (kind == WireKind::Array || kind == WireKind::FixedArray) {
            if constexpr (kind == WireKind::Array) {
                if (a.size() != b.size() && !report(lengths(Difference::Kind::Count, a.size(), b.size()))) return false;
            }
            const std::size_t common = std::min(a.size(), b.size());
            for (std::size_t i = 0; i < common; ++i) {
                if (!at(i, [&] { return compare(a[i], b[i]); })) return false;
            }
            for (std::size_t i = common; i < std::max(a.size(), b.size()); ++i) {
                if (!at(i, [&] {
                        Difference d{Difference::Kind::OnlyIn, path_};
                        (i < a.size() ? d.a : d.b) = Shown::of(i < a.size() ? a[i] : b[i]);
                        return report(std::move(d));
                    })) {
                    return false;
                }
            }
            return true;
        } else if constexpr (kind == WireKind::Variant) {
            if (a.payload.index() != b.payload.index()) {
                Difference d{Difference::Kind::Variant, path_};
                d.a = Shown::of(a);
                d.b = Shown::of(b);
                return report(std::move(d));
            }
            // A parameter goes by the signal's path: "signals[2].frequency".
            return std::visit(
                [&](const auto& pa) { return compare(pa, std::get<std::remove_cvref_t<decltype(pa)>>(b.payload)); },
                a.payload);
        } else {
            static_assert(kind == WireKind::Record);
            bool go_on = true;
            std::apply(
                [&](const auto&... fs) {
                    ((go_on = go_on && named(fs.name, [&] { return compare(a.*(fs.member), b.*(fs.member)); })), ...);
                },
                T::fields());
            return go_on;
        }
    }

private:
    template <class T>
    Difference value(const T& a, const T& b) const {
        Difference d{Difference::Kind::Value, path_};
        d.a = Shown::of(a);
        d.b = Shown::of(b);
        return d;
    }

    Difference lengths(Difference::Kind kind, std::uint64_t a, std::uint64_t b) const {
        Difference d{kind, path_};
        d.a_count = a;
        d.b_count = b;
        return d;
    }

    bool report(Difference d) { return found_(d); }

    template <class Step>
    bool named(std::string_view name, Step&& step) {
        const std::size_t length = path_.size();
        if (!path_.empty()) path_ += '.';
        path_ += name;
        const bool go_on = step();
        path_.resize(length);
        return go_on;
    }

    template <class Step>
    bool at(std::size_t index, Step&& step) {
        const std::size_t length = path_.size();
        path_ += '[' + std::to_string(index) + ']';
        const bool go_on = step();
        path_.resize(length);
        return go_on;
    }

    const std::function<bool(const Difference&)>& found_;
    std::string path_;
};

std::string plural(std::uint64_t n, std::string_view one, std::string_view many) {
    return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

// When a sample plays, at the sampling rate: "44.9992".
std::string seconds(std::uint64_t sample) {
    return text::float_text(static_cast<double>(sample) / config::SAMPLING_RATE);
}

std::string hex_bits(std::uint64_t bits) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out = "0x";
    for (int shift = 60; shift >= 0; shift -= 4) out += digits[bits >> shift & 15];
    return out;
}

// The variant's name of a signal shown as text: "Sine(...)" gives "Sine".
std::string variant_name(const Shown& s) {
    const std::string text = s.text();
    return text.substr(0, text.find('('));
}

}  // namespace

void diff(const Settings& a, const Settings& b, const std::function<bool(const Difference&)>& found) {
    Differ(found).compare(a, b);
}

std::string diff_line(const Difference& d) {
    std::string line = d.path + ": ";
    switch (d.kind) {
        case Difference::Kind::Value:
            line += d.a.text() + " -> " + d.b.text();
            if (d.bits_only) line += " (only their bits differ: " + hex_bits(d.a_bits) + " -> " + hex_bits(d.b_bits) + ")";
            break;
        case Difference::Kind::Variant:
            line += variant_name(d.a) + " -> " + variant_name(d.b);
            break;
        case Difference::Kind::Count:
            line += plural(d.a_count, "entry", "entries") + " -> " + plural(d.b_count, "entry", "entries");
            break;
        case Difference::Kind::OnlyIn:
            line += d.a ? "only in A: " + d.a.text() : "only in B: " + d.b.text();
            break;
        case Difference::Kind::Levels:
            if (!d.levels) {
                line += plural(d.a_count, "level", "levels") + " -> " + plural(d.b_count, "level", "levels");
            } else if (d.levels->differing == 1) {
                line += "1 of " + plural(d.a_count, "level", "levels") + " differs, sample " +
                        std::to_string(d.levels->first) + " (" + seconds(d.levels->first) + " s), by " +
                        plural(d.levels->max_abs, "level", "levels");
            } else {
                line += std::to_string(d.levels->differing) + " of " + std::to_string(d.a_count) +
                        " levels differ, samples " + std::to_string(d.levels->first) + " to " +
                        std::to_string(d.levels->last) + " (" + seconds(d.levels->first) + " to " +
                        seconds(d.levels->last) + " s), by at most " + plural(d.levels->max_abs, "level", "levels");
            }
            break;
    }
    return line;
}

std::string diff_json(const Difference& d) {
    std::string out = "{\"path\": ";
    text::Appender appender(out);
    text::JsonWriter<text::Appender>(appender).string(d.path);
    const auto number = [&](std::string_view key, std::optional<std::uint64_t> n) {
        out += ", \"";
        out += key;
        out += "\": ";
        out += n ? std::to_string(*n) : "null";
    };
    switch (d.kind) {
        case Difference::Kind::Value:
        case Difference::Kind::Variant:
        case Difference::Kind::OnlyIn:
            out += ", \"a\": " + (d.a ? d.a.json() : "null") + ", \"b\": " + (d.b ? d.b.json() : "null");
            if (d.bits_only) out += ", \"a_bits\": \"" + hex_bits(d.a_bits) + "\", \"b_bits\": \"" + hex_bits(d.b_bits) + "\"";
            break;
        case Difference::Kind::Count:
        case Difference::Kind::Levels:
            number("a_length", d.a_count);
            number("b_length", d.b_count);
            if (d.kind == Difference::Kind::Levels) {
                const auto of = [&](auto member) -> std::optional<std::uint64_t> {
                    return d.levels ? std::optional<std::uint64_t>((*d.levels).*member) : std::nullopt;
                };
                number("differing", of(&Difference::Levels::differing));
                number("first", of(&Difference::Levels::first));
                number("last", of(&Difference::Levels::last));
                for (const auto& [key, member] : {std::pair{"first_s", &Difference::Levels::first},
                                                  std::pair{"last_s", &Difference::Levels::last}}) {
                    out += ", \"";
                    out += key;
                    out += "\": ";
                    out += d.levels ? seconds((*d.levels).*member) : "null";
                }
                number("max_abs", of(&Difference::Levels::max_abs));
            }
            break;
    }
    return out + "}";
}

}  // namespace protocols
