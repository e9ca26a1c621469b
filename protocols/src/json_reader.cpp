// A strict JSON reader that knows the protocol's shape: it walks the field
// declarations as the decoder does, and checks the syntax of JSON as it goes,
// so that every refusal has its line, column and field. Waveforms, the bulk
// of the text, go through a loop of their own over digits and separators.
#include "protocols/json_reader.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <utility>
#include <variant>
#include <vector>

#include "protocols/composable.hpp"
#include "protocols/format.hpp"
#include "protocols/hints.hpp"
#include "protocols/huge_pages.hpp"
#include "protocols/utf8.hpp"
#include "protocols/wire.hpp"

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace protocols {
namespace {

struct Failure {
    JsonError error;
};

// Numbers of at most this many characters are read as written, in place;
// longer ones (JSON allows any number of digits, and of leading zeros in a
// fraction) are read on through the buffer, keeping what a double needs.
constexpr std::size_t MAX_NUMBER = 1024;
static_assert(JSON_BUFFER >= 4 * MAX_NUMBER);
// The significant digits a double needs of a long number: more than the 767
// that tell any two doubles' halfway point apart, and a digit for the rest.
constexpr std::size_t MAX_SIGNIFICANT = 800;
// How much of a long number a message quotes.
constexpr std::size_t SHOWN_NUMBER = 40;
// Arrays of a new protocol hold at most this many elements (the trace
// flags); the places of later elements are not kept.
constexpr std::size_t PLACED_ELEMENTS = std::tuple_size_v<decltype(Settings{}.monitor_trace_visible)>;
// A waveform's first room, and how its room grows: geometrically, so that
// growing costs a constant a level in every build, and what the array
// holds at its end is what it keeps.
constexpr std::size_t FIRST_ROOM = 4096;

bool is_digit(int c) noexcept { return c >= '0' && c <= '9'; }
bool is_letter(int c) noexcept { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The longest name of a field or of a signal's kind in the records that T
// holds: no key is longer, so that a key is read no further than one past it.
template <class T>
constexpr std::size_t longest_name() {
    constexpr WireKind kind = wire_kind<T>;
    if constexpr (kind == WireKind::Array || kind == WireKind::FixedArray) {
        return longest_name<typename T::value_type>();
    } else if constexpr (kind == WireKind::Variant) {
        std::size_t n = 0;
        for (const std::string_view name : T::variant_names) n = std::max(n, name.size());
        return std::max(n, []<std::size_t... I>(std::index_sequence<I...>) {
            return std::max({longest_name<std::variant_alternative_t<I, typename T::Payload>>()...});
        }(std::make_index_sequence<std::variant_size_v<typename T::Payload>>()));
    } else if constexpr (kind == WireKind::Record) {
        return std::apply(
            [](const auto&... fs) {
                return std::max({std::size_t{0}, std::max(fs.name.size(), longest_name<field_type<T, decltype(fs)>>())...});
            },
            T::fields());
    } else {
        static_assert(kind == WireKind::Bool || kind == WireKind::Unsigned || kind == WireKind::Float ||
                          kind == WireKind::Text || kind == WireKind::Levels,
                      "a kind that no rule names");
        return 0;
    }
}
constexpr std::size_t LONGEST_KEY = longest_name<Settings>();
static_assert(LONGEST_KEY == std::string_view("num_external_signal_sources").size());

// The text ahead of the reader: in place, or streamed through a buffer that
// keeps what is not read yet. Where the reader stands, in lines and
// characters, is kept as it goes: lines end only in white space, and the
// bytes that continue a character only in strings, which count them.
class Input {
public:
    explicit Input(ByteSource& source)
        : source_(&source), buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(JSON_BUFFER)),
          start_(buffer_.get()), p_(start_), end_(start_) {}
    explicit Input(std::span<const std::uint8_t> text)
        : start_(text.data()), p_(text.data()), end_(text.data() + text.size()) {}

private:
    ByteSource* source_ = nullptr;
    std::unique_ptr<std::uint8_t[]> buffer_;
    const std::uint8_t* start_;

public:
    // The read position and the end of what is at hand; the reader moves
    // p_ itself in its loops.
    const std::uint8_t* p_;
    const std::uint8_t* end_;

    std::size_t available() const noexcept { return static_cast<std::size_t>(end_ - p_); }

    // Makes at least n bytes available from the read position, or all that
    // remain when the text ends first; returns how many are.
    std::size_t fill(std::size_t n) {
        if (available() >= n || source_ == nullptr) return available();
        const std::size_t kept = available();
        base_ += static_cast<std::uint64_t>(p_ - start_);
        std::memmove(buffer_.get(), p_, kept);
        p_ = buffer_.get();
        std::uint8_t* end = buffer_.get() + kept;
        while (static_cast<std::size_t>(end - p_) < n && end < buffer_.get() + JSON_BUFFER) {
            const std::size_t got = source_->read({end, static_cast<std::size_t>(buffer_.get() + JSON_BUFFER - end)});
            if (got == 0) break;
            end += got;
        }
        end_ = end;
        return available();
    }

    // The next byte, or -1 at the end of the text.
    int peek() { return p_ < end_ || fill(1) > 0 ? *p_ : -1; }

    std::uint64_t offset() const noexcept { return base_ + static_cast<std::uint64_t>(p_ - start_); }
    void line_break() noexcept {
        ++line_;
        line_start_ = offset();
        continuations_ = 0;
    }
    void continuations(std::size_t n) noexcept { continuations_ += n; }
    std::uint64_t line() const noexcept { return line_; }
    std::uint64_t column() const noexcept { return offset() - line_start_ - continuations_ + 1; }

private:
    std::uint64_t base_ = 0;  // the offset of start_
    std::uint64_t line_ = 1, line_start_ = 0, continuations_ = 0;
};

// The edit distance of two keys, for "did you mean".
std::size_t distance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// "did you mean "intensity"?" for the nearest of `known`, when it is near;
// else the list of them all.
std::string nearest(std::string_view key, const std::vector<std::string_view>& known) {
    std::string_view best;
    std::size_t best_distance = SIZE_MAX;
    for (const std::string_view k : known) {
        if (const std::size_t d = distance(key, k); d < best_distance) best = k, best_distance = d;
    }
    if (!best.empty() && best_distance <= std::max<std::size_t>(2, best.size() / 3)) {
        return "did you mean \"" + std::string(best) + "\"?";
    }
    std::string list;
    for (std::size_t i = 0; i < known.size(); ++i) {
        list += i == 0 ? "" : i + 1 == known.size() ? " or " : ", ";
        list += "\"" + std::string(known[i]) + "\"";
    }
    return "it takes " + list;
}

template <class T>
std::vector<std::string_view> field_names() {
    std::vector<std::string_view> names;
    std::apply([&](const auto&... fs) { (names.push_back(fs.name), ...); }, T::fields());
    return names;
}

// A key shown in a message, quoted and escaped as JSON; a key cut at the
// longest one known ends in "…".
std::string shown(std::string_view key, bool cut = false) {
    std::string out = text::json_quoted(key);
    if (cut) out.insert(out.size() - 1, "\xe2\x80\xa6");
    return out;
}

// A number as written, checked against JSON's grammar
//     -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?
// over any length. `text` is what a conversion reads: the number as
// written, in the buffer until the next read, or, of a number longer than
// MAX_NUMBER, a short text of the same value in `long_form`.
struct Number {
    std::string_view text;
    std::uint64_t length = 0;  // as written, in characters
    bool integral = true;      // neither a fraction nor an exponent
    std::string long_form;
    std::string head;  // of a long number, its first characters

    bool is_long() const noexcept { return length > MAX_NUMBER; }
    // For a message: the number as written, or the start of a long one.
    std::string shown() const {
        if (!is_long()) return std::string(text);
        return head + "\xe2\x80\xa6 (a number of " + std::to_string(length) + " characters)";
    }
};

// A long number's value, read on digit by digit: its significant digits
// (the first MAX_SIGNIFICANT, and whether a later one is not 0) and where
// the decimal point stands among them.
class LongNumber {
public:
    void sign() { negative_ = true; }
    void integer_digit(char d) {
        if (d != '0' || !digits_.empty()) {
            significant(d);
            ++point_;
        }
    }
    void fraction_digit(char d) {
        if (d == '0' && digits_.empty()) --point_;  // a leading zero of the fraction
        else significant(d);
    }
    void exponent_digit(char d) { exponent_ = std::min<std::int64_t>(exponent_ * 10 + (d - '0'), 1'000'000'000'000); }
    void exponent_sign() { exponent_negative_ = true; }

    // "-0.DIGITSeN": the same double as the number, in few characters.
    std::string text() const {
        std::string out = negative_ ? "-0." : "0.";
        if (digits_.empty()) return out + "0";
        out += digits_;
        if (more_) out += '1';  // below every digit kept: it rounds as the rest of the digits do
        return out + "e" + std::to_string(point_ + (exponent_negative_ ? -exponent_ : exponent_));
    }

private:
    void significant(char d) {
        if (digits_.size() < MAX_SIGNIFICANT) digits_ += d;
        else more_ |= d != '0';
    }
    bool negative_ = false, more_ = false, exponent_negative_ = false;
    std::string digits_;
    std::int64_t point_ = 0;     // the point's place after the first significant digit's
    std::int64_t exponent_ = 0;  // saturated far beyond any double's
};

// What stands at p, as the grammar of a number sees it.
enum class NumberError { None, LeadingZero, SignWithoutDigits, WordAfterSign, PointWithoutDigits, ExponentWithoutDigits };

const char* number_error_words(NumberError e) {
    switch (e) {
        case NumberError::LeadingZero: return "a number with a leading zero";
        case NumberError::SignWithoutDigits: return "a sign without digits after it";
        case NumberError::WordAfterSign:
            return "a sign before a word that is no JSON value (-Infinity is written as the string \"-inf\", and a "
                   "NaN whose sign bit is set as \"-NaN\")";
        case NumberError::PointWithoutDigits: return "a decimal point without digits after it";
        case NumberError::ExponentWithoutDigits: return "an exponent without digits";
        case NumberError::None: break;
    }
    return "";
}

// The level that the text of one level is ("-12", "32767") when it is an
// integer from -32768 to 32767 as JSON writes one, else NOT_A_LEVEL: the one
// home of a level's grammar, through which both the blocks of levels and
// the careful reader take every level. `eight` holds the text's first eight
// bytes (of n, 1 to 6 of which are the level's; the rest may be anything),
// read at once by the blocks and copied by the careful reader: eight digits
// are checked and converted at once, with no branch on how many there are.
constexpr std::int32_t NOT_A_LEVEL = -1 << 20;
std::int32_t level_of(std::uint64_t eight, std::size_t n) noexcept {
    static_assert(std::endian::native == std::endian::little, "the bytes of the text in the low bytes first");
    const bool negative = (eight & 0xff) == '-';
    if (negative) {
        eight >>= 8;
        --n;
    }
    if (n == 0 || n > 5 || (n > 1 && (eight & 0xff) == '0')) return NOT_A_LEVEL;  // none, too many, a leading zero
    std::uint64_t x = eight << (8 * (8 - n));  // the digits in the high bytes, zeros below
    const std::uint64_t zero = 0x3030303030303030u << (8 * (8 - n));
    const std::uint64_t not_three = (x & 0xf0f0f0f0f0f0f0f0u) ^ zero;
    const std::uint64_t above_nine = ((x & 0x0f0f0f0f0f0f0f0fu) + 0x0606060606060606u) & 0x1010101010101010u;
    if ((not_three | above_nine) != 0) return NOT_A_LEVEL;  // a byte that is no digit
    std::uint64_t v = x - zero;  // each digit's value in its byte, as a number of eight digits
    v = (v * 10 + (v >> 8)) & 0x00ff00ff00ff00ffu;
    v = (v * 100 + (v >> 16)) & 0x0000ffff0000ffffu;
    v = (v * 10000 + (v >> 32)) & 0xffffffffu;
    if (v > 32767u + negative) return NOT_A_LEVEL;
    return negative ? -static_cast<std::int32_t>(v) : static_cast<std::int32_t>(v);
}

}  // namespace

// Keeps the places of the values read, as JsonPlaces describes them.
class JsonPlacesRecorder {
public:
    explicit JsonPlacesRecorder(JsonPlaces* places) : places_(places) {}
    explicit operator bool() const noexcept { return places_ != nullptr; }

    void value(const FieldPath& path, JsonPosition at) {
        const auto steps = path.steps();
        if (!steps.empty() && steps[0].name == "signals" && steps.size() > 1) return;  // the table's entries
        for (const FieldPath::Entry& e : steps) {
            if (e.name.empty() && e.index >= PLACED_ELEMENTS) return;
        }
        places_->places_.try_emplace(path.text(FieldPath::Kinds::Left), at);
    }
    // A waveform of n levels whose array stands at `at`.
    void waveform(const FieldPath& path, JsonPosition at, std::uint64_t n) {
        if (places_->lengths_.insert(n).second) places_->places_.try_emplace(path.text(FieldPath::Kinds::Left), at);
    }
    bool wants_negative() const noexcept { return !places_->negative_; }
    void negative(const FieldPath& path, JsonPosition at) {
        places_->negative_ = true;
        places_->places_.try_emplace(path.text(FieldPath::Kinds::Left), at);
    }

private:
    JsonPlaces* places_;
};

JsonPosition JsonPlaces::at(const FieldPath& path) const {
    const auto steps = path.steps();
    for (std::size_t n = steps.size() + 1; n-- > 0;) {
        FieldPath parent;
        for (std::size_t i = 0; i < n; ++i) {
            const FieldPath::Entry& e = steps[i];
            if (e.kind) parent.kind(e.name);
            else if (e.name.empty()) parent.element(e.index);
            else parent.field(e.name);
        }
        if (const auto found = places_.find(parent.text(FieldPath::Kinds::Left)); found != places_.end()) {
            return found->second;
        }
    }
    return {1, 1};
}

namespace {

class Reader {
public:
    Reader(Input& in, const JsonReading& how) : in_(in), how_(how), places_(how.places) {}

    Settings read() {
        Settings s = new_protocol();
        if (in_.fill(3) >= 3 && std::memcmp(in_.p_, "\xef\xbb\xbf", 3) == 0) {
            syntax("a byte order mark (U+FEFF) at its start, which JSON text does not have");
        }
        blank();
        if (in_.peek() != '{') wrong("an object");
        if (places_) places_.value(path_, here());
        record(s, Needs::Nothing);
        finish();
        return s;
    }

private:
    // Which fields of a record an object must give: none (the rest keep
    // their values), or all but the ones a method has defaults for.
    enum class Needs { Nothing, AllButDefaults };

    // A value of type T; a record given whole where `needs` says so (an
    // element of an array).
    template <class T>
    void value(T& v, Needs needs = Needs::Nothing) {
        if (places_) places_.value(path_, here());
        constexpr WireKind kind = wire_kind<T>;
        if constexpr (kind == WireKind::Bool) {
            v = boolean();
        } else if constexpr (kind == WireKind::Unsigned) {
            v = unsigned_integer();
        } else if constexpr (kind == WireKind::Float) {
            v = floating();
        } else if constexpr (kind == WireKind::Text) {
            if (in_.peek() != '"') wrong("a string");
            v = text_value();
        } else if constexpr (kind == WireKind::Levels) {
            levels(v);
        } else if constexpr (kind == WireKind::Array || kind == WireKind::FixedArray) {
            array(v);
        } else if constexpr (kind == WireKind::Variant) {
            variant(v);
        } else if constexpr (kind == WireKind::Record) {
            if (in_.peek() != '{') wrong("an object");
            record(v, needs);
        } else {
            static_assert(unhandled_kind<T>, "a kind that the JSON reader does not read");
        }
    }

    // ---- records, variants and arrays ----

    // An object whose keys are the record's fields.
    template <class T>
    void record(T& r, Needs needs) {
        constexpr std::size_t N = std::tuple_size_v<decltype(T::fields())>;
        static_assert(N <= 32);
        std::uint32_t given = 0;
        ++in_.p_;  // {
        blank();
        bool first = true;
        while (true) {
            const int c = in_.peek();
            if (c == '}' && first) break;
            if (c != '"') {
                if (c == '}') syntax("a comma before }: JSON has no comma after the last member");
                syntax(first ? "a key in double quotes, or }, where there is " + what_is_here()
                             : "a key in double quotes after the comma, where there is " + what_is_here());
            }
            const JsonPosition at = here();
            const Key key = key_and_colon();
            std::size_t index = 0;
            bool found = false;
            if (!key.cut) {
                for_each_field(r, [&](std::string_view name, auto& field) {
                    if (found || name != key.text) {
                        if (!found) ++index;
                        return;
                    }
                    found = true;
                    if (given >> index & 1) fail_at(at, joined(name) + " is given twice");
                    given |= 1u << index;
                    FieldPath::Step step(path_, name);
                    value(field);
                });
            }
            if (!found) {
                fail_at(at, where() + " has no key " + shown(key.text, key.cut) + ": " +
                                nearest(key.text, field_names<T>()));
            }
            blank();
            const int after = in_.peek();
            if (after == ',') {
                ++in_.p_;
                blank();
                first = false;
                continue;
            }
            if (after == '}') break;
            syntax("a comma or } after " + joined(key.text) + ", where there is " + what_is_here());
        }
        if (needs == Needs::AllButDefaults) {
            std::uint32_t defaults = 0;
            std::size_t index = 0;
            for_each_field(r, [&](std::string_view name, const auto&) {
                defaults |= std::uint32_t{has_method_default<T>(name)} << index++;
            });
            const std::uint32_t missing = ~given & ~defaults & ((std::uint64_t{1} << N) - 1);
            if (missing != 0) {
                const std::vector<std::string_view> names = field_names<T>();
                const std::string_view name = names[static_cast<std::size_t>(std::countr_zero(missing))];
                fail(where() + " needs " + shown(name) + ", which has no default");
            }
        }
        ++in_.p_;  // }
    }

    struct Key {
        std::string text;
        bool cut;  // longer than any key, and read no further
    };

    // A member's key, which the reader stands at, and the colon after it;
    // the reader is left at the value. A key longer than every name is
    // refused where it passes them.
    Key key_and_colon() {
        Key key;
        key.cut = !string(key.text, LONGEST_KEY + 1);
        if (key.cut) return key;
        blank();
        if (in_.peek() != ':') {
            syntax("a colon after the key " + shown(key.text) + ", where there is " + what_is_here());
        }
        ++in_.p_;
        blank();
        return key;
    }

    // An object with one key, the signal's kind, whose value holds its parameters.
    template <class V>
    void variant(V& v) {
        if (in_.peek() != '{') wrong("an object with one key, its kind");
        ++in_.p_;
        blank();
        const std::string one = where() + " must be an object with one key, its kind (" + kinds<V>() + ")";
        if (in_.peek() != '"') {
            if (in_.peek() == '}') fail(one + ", not an empty object");
            syntax("a key in double quotes, where there is " + what_is_here());
        }
        const JsonPosition at = here();
        const Key kind = key_and_colon();
        const auto& names = V::variant_names;
        const auto index = kind.cut ? names.size()
                                    : static_cast<std::size_t>(std::find(names.begin(), names.end(), kind.text) -
                                                               names.begin());
        if (index == names.size()) {
            fail_at(at, where() + " has no kind " + shown(kind.text, kind.cut) + ": " +
                            nearest(kind.text, std::vector<std::string_view>(names.begin(), names.end())));
        }
        {
            FieldPath::Step step(path_, FieldPath::Kind{names[index]});
            payload(v.payload, index, std::make_index_sequence<std::variant_size_v<typename V::Payload>>());
        }
        blank();
        if (in_.peek() == ',') fail(one + ", not more");
        if (in_.peek() != '}') syntax("} after the signal's one key, where there is " + what_is_here());
        ++in_.p_;
    }

    template <class Payload, std::size_t... I>
    void payload(Payload& payload, std::size_t index, std::index_sequence<I...>) {
        (void)((index == I ? (params(payload.template emplace<I>()), true) : false) || ...);
    }

    template <class P>
    void params(P& p) {
        if (in_.peek() != '{') wrong("an object");
        if constexpr (std::is_same_v<P, SineSignalParams>) {
            p.phase = SINE_PHASE_DEFAULT;
            p.depth = SINE_DEPTH_DEFAULT;
        }
        record(p, Needs::AllButDefaults);
    }

    template <class V>
    static std::string kinds() {
        std::string out;
        for (std::size_t i = 0; i < V::variant_names.size(); ++i) {
            out += i == 0 ? "" : i + 1 == V::variant_names.size() ? " or " : ", ";
            out += V::variant_names[i];
        }
        return out;
    }

    template <class A>
    void array(A& a) {
        if (in_.peek() != '[') wrong_array();
        ++in_.p_;
        blank();
        std::size_t n = 0;
        if constexpr (wire_kind<A> == WireKind::Array) a.clear();
        if (in_.peek() != ']') {
            while (true) {
                if constexpr (wire_kind<A> == WireKind::FixedArray) {
                    if (n == a.size()) fail(where() + " must hold " + std::to_string(a.size()) + " items, not more");
                    FieldPath::Step step(path_, n);
                    value(a[n], Needs::AllButDefaults);
                } else {
                    a.emplace_back();
                    FieldPath::Step step(path_, n);
                    value(a.back(), Needs::AllButDefaults);
                }
                if (!separator(++n)) break;
            }
        }
        if constexpr (wire_kind<A> == WireKind::FixedArray) {
            if (n != a.size()) {
                fail(where() + " must hold " + std::to_string(a.size()) + " items, not " + std::to_string(n));
            }
        }
        ++in_.p_;  // ]
    }

    // An array where an object stands: what MATLAB's jsondecode makes of an
    // array of one element is named as such.
    [[noreturn]] void wrong_array() {
        if (in_.peek() == '{') fail(where() + " must be an array, not an object", hints::one_element_array(where()));
        wrong("an array");
    }

    // ---- waveforms ----

    // An array of levels, in room that grows geometrically and is cut to
    // what the array holds when it closes.
    void levels(Levels& out) {
        if (in_.peek() != '[') wrong_array();
        const JsonPosition at = here();
        ++in_.p_;
        out.clear();
        std::size_t n = 0;  // levels read; the room is out.size()
        blank();
        if (in_.peek() != ']') {
            while (true) {
                // The common case, as JSON writes them: blocks of levels and
                // commas, into the room there is for them.
                if (how_.level_blocks && in_.fill(BLOCK + 8) >= BLOCK + 8) {
                    // A level takes two bytes at least ("7,").
                    make_room(out, n, std::min(in_.available() / 2 + 1, std::max(n, BLOCK)));
                    const std::uint8_t* const start = in_.p_;
                    const Run run = levels_run(in_.p_, in_.end_, out.data() + n, out.data() + out.size());
                    const auto read = static_cast<std::size_t>(run.out - (out.data() + n));
                    if (places_ && places_.wants_negative()) place_negative(out, n, read, start);
                    n += read;
                    in_.p_ = run.p;
                }
                // Then one level with every check: the last, one the blocks do
                // not read, or one at the end of the buffer, which it refills.
                blank();
                if (n > 0 && in_.peek() == ']') {
                    syntax("a comma before ]: JSON has no comma after the last element");  // after a block's last
                }
                make_room(out, n, 1);
                {
                    FieldPath::Step step(path_, n);
                    const JsonPosition level_at = here();
                    out[n] = level();
                    if (out[n] < 0 && places_ && places_.wants_negative()) places_.negative(path_, level_at);
                }
                if (!separator(++n)) break;
            }
        }
        ++in_.p_;  // ]
        out.resize(n);
        if (out.capacity() > n + n / 8) out.shrink_to_fit();
        if (places_) places_.waveform(path_, at, n);
    }

    // Room for `more` levels after the first n.
    static void make_room(Levels& out, std::size_t n, std::size_t more) {
        if (out.size() - n >= more) return;
        out.resize(std::max({n + more, out.size() * 2, FIRST_ROOM}));
        prefer_huge_pages(out.data(), out.capacity() * sizeof(std::int16_t));
    }

    // The place of the first negative level of a block's `read` levels from
    // out[n], whose text starts at `start`: a block's levels share a line,
    // so that the level's column is its offset from where the block began.
    void place_negative(const Levels& out, std::size_t n, std::size_t read, const std::uint8_t* start) {
        const auto first = std::find_if(out.begin() + static_cast<std::ptrdiff_t>(n),
                                        out.begin() + static_cast<std::ptrdiff_t>(n + read),
                                        [](std::int16_t l) { return l < 0; });
        if (first == out.begin() + static_cast<std::ptrdiff_t>(n + read)) return;
        const auto k = static_cast<std::size_t>(first - (out.begin() + static_cast<std::ptrdiff_t>(n)));
        const std::uint8_t* p = start;
        for (std::size_t commas = 0; commas < k; ++p) commas += *p == ',';
        p += *p == ' ';
        const JsonPosition block = here();
        FieldPath::Step step(path_, n + k);
        places_.negative(path_, {block.line, block.column + static_cast<std::uint64_t>(p - start)});
    }

    struct Run {
        const std::uint8_t* p;  // at the start of the level it stopped before
        std::int16_t* out;      // past the last level stored
    };

    // Levels as JSON writes them, "12,-3,32767", a block of 64 bytes at a
    // time: the commas of the block (those before a closing bracket) end
    // the levels, each of which is read on its own, so that no level waits
    // for the one before it. Reads at most `end`; stops before a level that
    // is not a plain integer in range followed by a comma (after one blank
    // at most), for the careful reader to refuse or take, and at a block
    // that closes the array.
    static Run levels_run(const std::uint8_t* p, const std::uint8_t* end, std::int16_t* out,
                          std::int16_t* const out_end) noexcept {
        const std::uint8_t* block = p;
        while (block + BLOCK + 8 <= end && out_end - out >= static_cast<std::ptrdiff_t>(BLOCK)) {
            std::uint64_t commas = byte_mask(block, ',');
            const std::uint64_t closes = byte_mask(block, ']');
            if (closes != 0) commas &= (closes & (0 - closes)) - 1;  // the commas before the first ]
            while (commas != 0) {
                const std::uint8_t* const comma = block + std::countr_zero(commas);
                commas &= commas - 1;
                const std::uint8_t* const text = p + (*p == ' ');
                std::uint64_t eight;
                std::memcpy(&eight, text, sizeof eight);  // within the block and the eight bytes past it
                const std::int32_t level = level_of(eight, static_cast<std::size_t>(std::max(comma - text, std::ptrdiff_t{0})));
                if (level == NOT_A_LEVEL) return {p, out};
                *out++ = static_cast<std::int16_t>(level);
                p = comma + 1;
            }
            if (closes != 0) break;
            block += BLOCK;
        }
        return {p, out};
    }

    static constexpr std::size_t BLOCK = 64;

    // Bit i set where block[i] == c, for the 64 bytes of a block.
    static std::uint64_t byte_mask(const std::uint8_t* block, std::uint8_t c) noexcept {
        std::uint64_t mask = 0;
#if defined(__x86_64__)
        // SSE2, which every x86-64 CPU has: the same at every level.
        const __m128i wanted = _mm_set1_epi8(static_cast<char>(c));
        for (std::size_t k = 0; k < BLOCK; k += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + k));
            mask |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted))))
                    << k;
        }
#else
        for (std::size_t k = 0; k < BLOCK; ++k) mask |= static_cast<std::uint64_t>(block[k] == c) << k;
#endif
        return mask;
    }

    // After the n-th element: true after a comma (and the blanks after it),
    // false at the closing bracket, which the caller takes.
    bool separator(std::size_t n) {
        blank();
        const int c = in_.peek();
        if (c == ']') return false;
        if (c != ',') {
            syntax("a comma or ] after " + where() + "[" + std::to_string(n - 1) + "], where there is " + what_is_here());
        }
        ++in_.p_;
        blank();
        if (in_.peek() == ']') syntax("a comma before ]: JSON has no comma after the last element");
        return true;
    }

    // ---- scalars ----

    bool boolean() {
        const int c = in_.peek();
        if (c != 't' && c != 'f') wrong("true or false");
        literal(c == 't' ? "true" : "false");
        return c == 't';
    }

    void literal(std::string_view word) {
        if (in_.fill(word.size()) < word.size() || std::memcmp(in_.p_, word.data(), word.size()) != 0) {
            syntax("an unknown word, where there is " + what_is_here());
        }
        in_.p_ += word.size();
        if (const int c = in_.peek(); c != -1 && (is_letter(c) || is_digit(c) || c == '_')) syntax("an unknown word");
    }

    std::uint64_t unsigned_integer() {
        const int c = in_.peek();
        if (c != '-' && !is_digit(c)) wrong("an integer");
        const JsonPosition at = here();
        const Number n = number();
        if (!n.integral) {
            fail_at(at, where() + " must be an integer, without a fraction or an exponent, not " + n.shown());
        }
        if (n.text == "-0") return 0;  // as JSON readers read it
        std::uint64_t v = 0;
        const auto [end, error] = n.is_long() ? std::from_chars_result{nullptr, std::errc::result_out_of_range}
                                              : std::from_chars(n.text.data(), n.text.data() + n.text.size(), v);
        if (n.text[0] == '-' || error != std::errc{} || end != n.text.data() + n.text.size()) {
            fail_at(at, where() + " must be an integer from 0 to " + std::to_string(UINT64_MAX) + ", not " + n.shown());
        }
        return v;
    }

    // A level: an integer from -32768 to 32767, by the grammar the blocks
    // read too.
    std::int16_t level() {
        constexpr const char* expected = "an integer level";
        const int c = in_.peek();
        if (c != '-' && !is_digit(c)) wrong(expected);
        const JsonPosition at = here();
        const Number n = number();
        if (!n.is_long() && n.text.size() <= 8) {
            std::uint64_t eight = 0;
            std::memcpy(&eight, n.text.data(), n.text.size());
            if (const std::int32_t v = level_of(eight, n.text.size()); v != NOT_A_LEVEL) return static_cast<std::int16_t>(v);
        }
        const std::string range = " from -32768 to " + std::to_string(std::numeric_limits<std::int16_t>::max());
        if (!n.integral) {
            fail_at(at, where() + " must be " + expected + range + ", without a fraction or an exponent, not " +
                            n.shown(),
                    hints::level_fraction(n.shown()));
        }
        fail_at(at, where() + " must be " + expected + range + ", not " + n.shown());
    }

    // A number, or one of the strings that stand for the doubles JSON has
    // no numbers for.
    double floating() {
        const int c = in_.peek();
        const std::string expected = "a number (or \"NaN\", \"inf\" or \"-inf\")";
        if (c == '"') {
            const JsonPosition at = here();
            std::string s;
            if (!string(s, 8)) fail_at(at, where() + " must be " + expected + ", not a string");
            if (s == "NaN") return std::numeric_limits<double>::quiet_NaN();
            if (s == "-NaN") return -std::numeric_limits<double>::quiet_NaN();
            if (s == "inf") return std::numeric_limits<double>::infinity();
            if (s == "-inf") return -std::numeric_limits<double>::infinity();
            fail_at(at, where() + " must be " + expected + ", not the string " + shown(s));
        }
        if (c != '-' && !is_digit(c)) wrong(expected);
        const JsonPosition at = here();
        const Number n = number();
        double v = 0.0;
        const auto [end, error] = std::from_chars(n.text.data(), n.text.data() + n.text.size(), v);
        if (error == std::errc::result_out_of_range) {
            // Beyond a double's range; a number too small for one is its zero.
            if (!too_small(n.text)) fail_at(at, where() + " must be a number within the range of a double, not " + n.shown());
            return n.text[0] == '-' ? -0.0 : 0.0;
        }
        if (error != std::errc{} || end != n.text.data() + n.text.size()) {
            throw std::logic_error("a number that the grammar took and no conversion reads");
        }
        return v;
    }

    // Whether a number that no double holds is too small for one rather
    // than too large: whether its first significant digit stands below the
    // ones' place.
    static bool too_small(std::string_view text) {
        const std::size_t e = text.find_first_of("eE");
        const std::string_view mantissa = text.substr(text[0] == '-', e - (text[0] == '-'));
        std::int64_t exponent = 0;
        if (e != std::string_view::npos) {
            const bool negative = text[e + 1] == '-';
            for (std::size_t i = e + 1 + (text[e + 1] == '-' || text[e + 1] == '+'); i < text.size(); ++i) {
                exponent = std::min<std::int64_t>(exponent * 10 + (text[i] - '0'), 1'000'000'000'000);
            }
            if (negative) exponent = -exponent;
        }
        const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
        const std::size_t first = mantissa.find_first_of("123456789");
        if (first == std::string_view::npos) return true;  // a zero: never out of range
        const auto place = static_cast<std::int64_t>(point) - static_cast<std::int64_t>(first) - (first < point ? 1 : 0);
        return place + exponent < 0;
    }

    // A number, which the reader stands at. One of at most MAX_NUMBER
    // characters is read where it stands; a longer one through the buffer,
    // with the same verdict however the text arrives.
    Number number() {
        const JsonPosition at = here();
        in_.fill(MAX_NUMBER + 1);
        const std::uint8_t* const begin = in_.p_;
        const std::uint8_t* const window = std::min(in_.end_, begin + MAX_NUMBER + 1);
        const std::uint8_t* p = begin;
        const auto digits = [&] {
            const std::uint8_t* start = p;
            while (p < window && is_digit(*p)) ++p;
            return p > start;
        };
        NumberError error = NumberError::None;
        bool integral = true;
        if (p < window && *p == '-') ++p;
        if (p < window && *p == '0') {
            ++p;
            if (p < window && is_digit(*p)) error = NumberError::LeadingZero;
        } else if (!digits()) {
            error = p < window && is_letter(*p) && begin < p ? NumberError::WordAfterSign : NumberError::SignWithoutDigits;
        }
        if (error == NumberError::None && p < window && *p == '.') {
            ++p;
            integral = false;
            if (!digits()) error = NumberError::PointWithoutDigits;
        }
        if (error == NumberError::None && p < window && (*p == 'e' || *p == 'E')) {
            ++p;
            integral = false;
            if (p < window && (*p == '+' || *p == '-')) ++p;
            if (!digits()) error = NumberError::ExponentWithoutDigits;
        }
        // What stands at the window's end may go on past it.
        if (p == begin + MAX_NUMBER + 1) return long_number(at);
        if (error != NumberError::None) fail_at(at, std::string("invalid JSON: ") + number_error_words(error));
        Number n;
        n.text = {reinterpret_cast<const char*>(begin), static_cast<std::size_t>(p - begin)};
        n.length = n.text.size();
        n.integral = integral;
        in_.p_ = p;
        return n;
    }

    // A number of more than MAX_NUMBER characters, read a byte at a time.
    Number long_number(JsonPosition at) {
        Number n;
        LongNumber value;
        const auto next = [&] { return in_.peek(); };
        const auto take = [&] {
            if (n.head.size() < SHOWN_NUMBER) n.head += static_cast<char>(*in_.p_);
            ++in_.p_;
            ++n.length;
        };
        const auto fail_number = [&](NumberError e) { fail_at(at, std::string("invalid JSON: ") + number_error_words(e)); };
        int c = next();
        if (c == '-') {
            value.sign();
            take();
            c = next();
        }
        if (c == '0') {
            take();
            if (is_digit(next())) fail_number(NumberError::LeadingZero);
        } else {
            if (!is_digit(c)) fail_number(NumberError::SignWithoutDigits);  // a long run of digits comes first
            while (is_digit(c = next())) {
                value.integer_digit(static_cast<char>(c));
                take();
            }
        }
        if (next() == '.') {
            n.integral = false;
            take();
            if (!is_digit(next())) fail_number(NumberError::PointWithoutDigits);
            while (is_digit(c = next())) {
                value.fraction_digit(static_cast<char>(c));
                take();
            }
        }
        if (c = next(); c == 'e' || c == 'E') {
            n.integral = false;
            take();
            if (c = next(); c == '+' || c == '-') {
                if (c == '-') value.exponent_sign();
                take();
            }
            if (!is_digit(next())) fail_number(NumberError::ExponentWithoutDigits);
            while (is_digit(c = next())) {
                value.exponent_digit(static_cast<char>(c));
                take();
            }
        }
        n.long_form = value.text();
        n.text = n.long_form;
        return n;
    }

    // A text value: a coil's name.
    std::string text_value() {
        const JsonPosition at = here();
        std::string s;
        if (!string(s, MAX_JSON_TEXT)) {
            fail_at(at, where() + " is a string of more than " + std::to_string(MAX_JSON_TEXT) +
                            " bytes, longer than any name a protocol holds");
        }
        return s;
    }

    // A string, unescaped and checked to be UTF-8 without lone surrogates,
    // into `out`; false, with the reader inside the string, once it passes
    // `limit` bytes.
    bool string(std::string& out, std::size_t limit) {
        ++in_.p_;  // "
        while (true) {
            if (out.size() > limit) {
                out.resize(limit);
                return false;
            }
            if (in_.available() == 0 && in_.fill(1) == 0) syntax("the end of the text inside a string");
            // A run of plain ASCII at once, as far as the limit.
            const std::uint8_t* p = in_.p_;
            const std::uint8_t* const end = in_.p_ + std::min(in_.available(), limit + 1 - out.size());
            while (p < end && *p >= 0x20 && *p < 0x80 && *p != '"' && *p != '\\') ++p;
            out.append(reinterpret_cast<const char*>(in_.p_), static_cast<std::size_t>(p - in_.p_));
            in_.p_ = p;
            if (p == end) continue;
            const std::uint8_t c = *p;
            if (c == '"') {
                ++in_.p_;
                return true;
            }
            if (c == '\\') {
                escape(out);
            } else if (c < 0x20) {
                static constexpr char hex[] = "0123456789ABCDEF";
                syntax(std::string("a control character (U+00") + hex[c >> 4] + hex[c & 15] +
                       ") in a string, which JSON writes escaped" + (c == '\n' ? ": a string ends on its line" : ""));
            } else {
                character(out);
            }
        }
    }

    // A character of two to four bytes, strictly UTF-8: no overlong form,
    // no surrogate, nothing past U+10FFFF. A surrogate encoded as if it
    // were a character (what a Python str that holds one gives with
    // "surrogatepass") is named as such.
    void character(std::string& out) {
        in_.fill(4);
        const std::uint8_t* p = in_.p_;
        const std::size_t have = in_.available();
        const std::uint8_t b0 = p[0];
        std::size_t n = 0;
        std::uint8_t low = 0x80, high = 0xbf;
        if (b0 >= 0xc2 && b0 <= 0xdf) n = 2;
        else if (b0 == 0xe0) n = 3, low = 0xa0;
        else if (b0 == 0xed) n = 3, high = 0x9f;
        else if (b0 >= 0xe1 && b0 <= 0xef) n = 3;
        else if (b0 == 0xf0) n = 4, low = 0x90;
        else if (b0 == 0xf4) n = 4, high = 0x8f;
        else if (b0 >= 0xf1 && b0 <= 0xf3) n = 4;
        bool valid = n > 0 && have >= n && p[1] >= low && p[1] <= high;
        for (std::size_t k = 2; valid && k < n; ++k) valid = p[k] >= 0x80 && p[k] <= 0xbf;
        if (!valid) {
            if (b0 == 0xed && have >= 3 && p[1] >= 0xa0 && p[1] <= 0xbf && p[2] >= 0x80 && p[2] <= 0xbf) {
                const auto code = static_cast<char32_t>(0xd000 | (p[1] & 0x3f) << 6 | (p[2] & 0x3f));
                syntax("a lone surrogate " + escaped(code) + " in a string, which UTF-8 cannot hold");
            }
            syntax("bytes that are not UTF-8 in a string: JSON text is UTF-8");
        }
        out.append(reinterpret_cast<const char*>(p), n);
        in_.p_ += n;
        in_.continuations(n - 1);
    }

    void escape(std::string& out) {
        const JsonPosition at = here();
        in_.fill(6);
        if (in_.available() < 2) syntax("the end of the text inside a string");
        const char c = static_cast<char>(in_.p_[1]);
        const char* plain = std::strchr("\"\\/bfnrt", c);
        if (c != 0 && plain != nullptr) {
            static constexpr char meaning[] = "\"\\/\b\f\n\r\t";
            out += meaning[plain - "\"\\/bfnrt"];
            in_.p_ += 2;
            return;
        }
        if (c != 'u') syntax(std::string("the escape \\") + (c >= 0x20 && c < 0x7f ? std::string(1, c) : "?") +
                             " in a string, which JSON does not have");
        char32_t code = hex4();
        if (code >= 0xdc00 && code <= 0xdfff) fail_at(at, "invalid JSON: a lone surrogate " + escaped(code) + " in a string");
        if (code >= 0xd800 && code <= 0xdbff) {
            in_.fill(6);
            const bool low_follows = in_.available() >= 2 && in_.p_[0] == '\\' && in_.p_[1] == 'u';
            const std::optional<char32_t> second = low_follows ? std::optional(hex4()) : std::nullopt;
            if (!second || *second < 0xdc00 || *second > 0xdfff) {
                fail_at(at, "invalid JSON: a lone surrogate " + escaped(code) + " in a string");
            }
            code = 0x10000 + ((code - 0xd800) << 10) + (*second - 0xdc00);
        }
        utf8::append(out, code);
    }

    // The four hex digits of a \u escape, which the reader stands at.
    char32_t hex4() {
        in_.fill(6);
        if (in_.available() < 6) syntax("the end of the text inside a \\u escape");
        char32_t v = 0;
        for (std::size_t k = 2; k < 6; ++k) {
            const char c = static_cast<char>(in_.p_[k]);
            const int d = is_digit(c) ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (d < 0) syntax("a \\u escape without four hex digits");
            v = v * 16 + static_cast<char32_t>(d);
        }
        in_.p_ += 6;
        return v;
    }

    static std::string escaped(char32_t code) {
        static constexpr char hex[] = "0123456789abcdef";
        std::string out = "\\u";
        for (int shift = 12; shift >= 0; shift -= 4) out += hex[(code >> shift) & 15];
        return out;
    }

    // ---- white space, the end, and the words of a refusal ----

    void blank() {
        while (true) {
            const std::uint8_t* p = in_.p_;
            while (p < in_.end_ && (*p == ' ' || *p == '\t' || *p == '\r')) ++p;
            in_.p_ = p;
            if (p == in_.end_) {
                if (in_.fill(1) == 0) return;
                continue;
            }
            if (*p == '\n') {
                ++in_.p_;
                in_.line_break();
                continue;
            }
            if (*p == '/' && in_.fill(2) >= 2 && (in_.p_[1] == '/' || in_.p_[1] == '*')) syntax("a comment, which JSON does not have");
            return;
        }
    }

    // After the object: white space only. JSON Lines (a protocol a line, as
    // drel show --json of several files writes them) is named as such.
    void finish() {
        blank();
        if (in_.peek() == -1) return;
        if (in_.peek() == '{') {
            fail("a second protocol after the first, as in JSON Lines: give one protocol, one object, a file");
        }
        syntax("more after the protocol's object: " + what_is_here());
    }

    // The word of letters at the read position, up to 16 of them.
    std::string word_here() {
        in_.fill(16);
        std::size_t n = 0;
        while (n < std::min<std::size_t>(in_.available(), 16) && is_letter(in_.p_[n])) ++n;
        return {reinterpret_cast<const char*>(in_.p_), n};
    }

    // What stands at the read position, as a JSON value's type or in words.
    std::string what_is_here() {
        const int c = in_.peek();
        switch (c) {
            case -1: return "the end of the text";
            case '{': return "an object";
            case '[': return "an array";
            case '"': return "a string";
            case 'n':
                if (word_here() == "null") return "null";
                break;
            case ',': return "a comma";
            case ':': return "a colon";
            case '}':
            case ']': return std::string("a ") + static_cast<char>(c);
            default: break;
        }
        if (c == '-' || is_digit(c)) return "a number";
        if (c == '\'') return "a string in single quotes, which JSON writes in double quotes";
        if (is_letter(c)) {
            const std::string word = word_here();
            if (word == "true" || word == "false") return "a boolean";
            std::string lower = word;
            for (char& l : lower) l = static_cast<char>(l | 0x20);
            if (lower == "true" || lower == "false" || lower == "null") {
                return "the word " + word + ", which JSON writes " + lower + ", in lower case: did you mean " + lower + "?";
            }
            if (lower == "none") return "the word " + word + ", which JSON writes null: did you mean null?";
            if (lower == "nan" || lower == "infinity" || lower == "inf") {
                return "a word that is no JSON value (NaN and Infinity are written as the strings \"NaN\" and \"inf\")";
            }
        }
        if (c == '/') return "a comment, which JSON does not have";
        if (c >= 0x20 && c < 0x7f) return std::string("the character '") + static_cast<char>(c) + "'";
        return "a byte " + std::to_string(c) + " that starts no JSON value";
    }

    // The field is of another type: "must be a number, not a string".
    [[noreturn]] void wrong(const std::string& expected) {
        const int c = in_.peek();
        const bool value = c == '{' || c == '[' || c == '"' || c == '-' || is_digit(c) ||
                           ((c == 't' || c == 'f' || c == 'n') && what_is_here().starts_with(c == 'n' ? "null" : "a boolean"));
        if (!value) syntax(expected + " for " + where() + ", where there is " + what_is_here());
        fail(where() + " must be " + expected + ", not " + what_is_here());
    }

    std::string where() const { return path_.where(); }
    std::string joined(std::string_view name) const {
        return path_.empty() ? std::string(name) : path_.text() + "." + std::string(name);
    }
    JsonPosition here() const { return {in_.line(), in_.column()}; }

    [[noreturn]] void syntax(const std::string& problem) { fail("invalid JSON: " + problem); }
    [[noreturn]] void fail(const std::string& message, std::string note = {}) {
        fail_at(here(), message, std::move(note));
    }
    [[noreturn]] void fail_at(JsonPosition at, const std::string& message, std::string note = {}) {
        throw Failure{JsonError{at.line, at.column, path_.text(), message, std::move(note)}};
    }

    Input& in_;
    const JsonReading& how_;
    JsonPlacesRecorder places_;
    FieldPath path_;
};

Result<Settings, JsonError> read(Input& in, const JsonReading& how) {
    try {
        return Reader(in, how).read();
    } catch (Failure& f) {
        return std::move(f.error);
    }
}

}  // namespace

Result<Settings, JsonError> read_json(ByteSource& source, const JsonReading& how) {
    Input in(source);
    return read(in, how);
}

Result<Settings, JsonError> read_json(std::span<const std::uint8_t> text, const JsonReading& how) {
    Input in(text);
    return read(in, how);
}

}  // namespace protocols
