// A strict JSON reader that knows the protocol's shape: it walks the field
// declarations as the decoder does, and checks the syntax of JSON as it goes,
// so that every refusal has its line, column and field. Waveforms, the bulk
// of the text, go through a loop of their own over digits and separators.
#include "protocols/json_reader.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <charconv>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>
#include <variant>
#include <vector>

#include "protocols/composable.hpp"
#include "protocols/field_path.hpp"
#include "protocols/format.hpp"
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

// The longest number read: a double needs at most 17 significant digits,
// but JSON allows any number of them, and of leading zeros in a fraction.
constexpr std::size_t MAX_NUMBER = 1024;
static_assert(JSON_BUFFER >= 4 * MAX_NUMBER);
// The most levels reserved at the start of an array: the longest session's
// waveform and more (64 MiB of address space).
constexpr std::uint64_t MAX_RESERVED_LEVELS = std::uint64_t{32} << 20;

bool is_digit(int c) noexcept { return c >= '0' && c <= '9'; }

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

    // How many bytes remain from the read position, as far as the source
    // knows (a pipe does not).
    std::uint64_t remaining() const {
        return available() + (source_ != nullptr ? source_->remaining().value_or(0) : 0);
    }

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

struct Position {
    std::uint64_t line, column;
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

// A key shown in a message, quoted and escaped as the text form quotes.
std::string shown(std::string_view key) {
    std::string out;
    text::json_quote(key, [&](std::string_view piece) { out += piece; });
    return out;
}

class Reader {
public:
    explicit Reader(Input& in) : in_(in) {}

    Settings read() {
        Settings s = new_protocol();
        if (in_.fill(3) >= 3 && std::memcmp(in_.p_, "\xef\xbb\xbf", 3) == 0) {
            syntax("a byte order mark (U+FEFF) at its start, which JSON text does not have");
        }
        blank();
        if (in_.peek() != '{') wrong("an object");
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
        constexpr WireKind kind = wire_kind<T>;
        if constexpr (kind == WireKind::Bool) {
            v = boolean();
        } else if constexpr (kind == WireKind::Unsigned) {
            v = unsigned_integer();
        } else if constexpr (kind == WireKind::Float) {
            v = floating();
        } else if constexpr (kind == WireKind::Text) {
            if (in_.peek() != '"') wrong("a string");
            v = string();
        } else if constexpr (kind == WireKind::Levels) {
            levels(v);
        } else if constexpr (kind == WireKind::Array || kind == WireKind::FixedArray) {
            array(v);
        } else if constexpr (kind == WireKind::Variant) {
            variant(v);
        } else {
            if (in_.peek() != '{') wrong("an object");
            record(v, needs);
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
            const Position at = here();
            const std::string key = key_and_colon();
            std::size_t index = 0;
            bool found = false;
            for_each_field(r, [&](std::string_view name, auto& field) {
                if (found || name != key) {
                    if (!found) ++index;
                    return;
                }
                found = true;
                if (given >> index & 1) fail_at(at, joined(name) + " is given twice");
                given |= 1u << index;
                FieldPath::Step step(path_, name);
                value(field);
            });
            if (!found) {
                fail_at(at, where() + " has no key " + shown(key) + ": " + nearest(key, field_names<T>()));
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
            syntax("a comma or } after " + joined(key) + ", where there is " + what_is_here());
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

    // A member's key, which the reader stands at, and the colon after it;
    // the reader is left at the value.
    std::string key_and_colon() {
        std::string key = string();
        blank();
        if (in_.peek() != ':') syntax("a colon after the key " + shown(key) + ", where there is " + what_is_here());
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
        const Position at = here();
        const std::string kind = key_and_colon();
        const auto& names = V::variant_names;
        const auto index = static_cast<std::size_t>(std::find(names.begin(), names.end(), kind) - names.begin());
        if (index == names.size()) {
            fail_at(at, where() + " has no kind " + shown(kind) + ": " +
                            nearest(kind, std::vector<std::string_view>(names.begin(), names.end())));
        }
        {
            FieldPath::Step step(path_, names[index]);
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
        if (in_.peek() != '[') wrong("an array");
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

    // ---- waveforms ----

    // An array of levels. A level takes two bytes of text at least ("7,"),
    // so half of what remains of the text bounds how many follow: that much
    // is reserved at once (its pages are touched only as levels reach them,
    // so what no level reaches costs no memory), up to a bound past which
    // the array grows by half as it fills.
    void levels(Levels& out) {
        if (in_.peek() != '[') wrong("an array");
        ++in_.p_;
        out.clear();
        out.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(in_.remaining() / 2 + 1, MAX_RESERVED_LEVELS)));
        prefer_huge_pages(out.data(), out.capacity() * sizeof(std::int16_t));
        blank();
        if (in_.peek() == ']') {
            ++in_.p_;
            return;
        }
        while (true) {
            // The common case, as JSON writes them: blocks of levels and
            // commas, into room made for as many as the buffer holds.
            if (in_.fill(BLOCK + 8) >= BLOCK + 8) {
                const std::size_t n = out.size(), room = in_.available() / 2 + 1;
                if (out.capacity() - n < room) {
                    out.reserve(std::max(n + room, n + n / 2));
                    prefer_huge_pages(out.data(), out.capacity() * sizeof(std::int16_t));
                }
                out.resize(n + room);
                const Run run = levels_run(in_.p_, in_.end_, out.data() + n, out.data() + n + room);
                out.resize(static_cast<std::size_t>(run.out - out.data()));
                in_.p_ = run.p;
            }
            // Then one level with every check: the last, one the blocks do
            // not read, or one at the end of the buffer, which it refills.
            blank();
            std::int64_t v;
            {
                FieldPath::Step step(path_, out.size());
                v = integer(-32768, 32767, "an integer level");
            }
            out.push_back(static_cast<std::int16_t>(v));
            if (!separator(out.size())) {
                ++in_.p_;  // ]
                return;
            }
        }
    }

    struct Run {
        const std::uint8_t* p;  // at the start of the level it stopped before
        std::int16_t* out;      // past the last level stored
    };

    // Levels as JSON writes them, "12,-3,32767", a block of 64 bytes at a
    // time: the commas of the block (those before a closing bracket) end
    // the levels, each of which is read on its own, so that no level waits
    // for the one before it. Reads at most `end`; stops before a level that
    // is not a plain integer in range followed by a comma, for the careful
    // reader to refuse or take, and at a block that closes the array.
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
                const std::int32_t level = plain_level(p, comma);
                if (level == NOT_PLAIN) return {p, out};
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

    // The level that the text from `p` up to `comma` is, when it is a plain
    // integer in range (after one blank at most), else NOT_PLAIN: eight
    // bytes at once, with no branch on how many digits there are.
    static constexpr std::int32_t NOT_PLAIN = -1 << 20;
    static std::int32_t plain_level(const std::uint8_t* p, const std::uint8_t* comma) noexcept {
        p += *p == ' ';
        const bool negative = *p == '-';
        p += negative;
        const auto n = static_cast<std::size_t>(comma - p);
        if (n == 0 || n > 5 || (n > 1 && *p == '0')) return NOT_PLAIN;  // none, too many, a leading zero
        std::uint64_t x;
        std::memcpy(&x, p, sizeof x);
        x <<= 8 * (8 - n);  // the digits in the high bytes, zeros below
        const std::uint64_t zero = 0x3030303030303030u << (8 * (8 - n));
        const std::uint64_t not_three = (x & 0xf0f0f0f0f0f0f0f0u) ^ zero;
        const std::uint64_t above_nine = ((x & 0x0f0f0f0f0f0f0f0fu) + 0x0606060606060606u) & 0x1010101010101010u;
        if ((not_three | above_nine) != 0) return NOT_PLAIN;  // a byte that is no digit
        std::uint64_t v = x - zero;  // each digit's value in its byte, as a number of eight digits
        v = (v * 10 + (v >> 8)) & 0x00ff00ff00ff00ffu;
        v = (v * 100 + (v >> 16)) & 0x0000ffff0000ffffu;
        v = (v * 10000 + (v >> 32)) & 0xffffffffu;
        if (v > 32767u + negative) return NOT_PLAIN;
        return negative ? -static_cast<std::int32_t>(v) : static_cast<std::int32_t>(v);
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
        if (const int c = in_.peek(); c != -1 && (std::isalnum(c) || c == '_')) syntax("an unknown word");
    }

    std::uint64_t unsigned_integer() {
        const int c = in_.peek();
        if (c != '-' && !is_digit(c)) wrong("an integer");
        const Position at = here();
        const std::string text = number();
        if (text.find_first_of(".eE") != std::string::npos) {
            fail_at(at, where() + " must be an integer, without a fraction or an exponent, not " + text);
        }
        std::uint64_t v = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
        if (text[0] == '-' || error != std::errc{} || end != text.data() + text.size()) {
            fail_at(at, where() + " must be an integer from 0 to " + std::to_string(UINT64_MAX) + ", not " + text);
        }
        return v;
    }

    // An integer from `low` to `high`.
    std::int64_t integer(std::int64_t low, std::int64_t high, const char* expected) {
        const int c = in_.peek();
        if (c != '-' && !is_digit(c)) wrong(expected);
        const Position at = here();
        const std::string text = number();
        const std::string range = " from " + std::to_string(low) + " to " + std::to_string(high);
        if (text.find_first_of(".eE") != std::string::npos) {
            fail_at(at, where() + " must be " + expected + range + ", without a fraction or an exponent, not " + text);
        }
        std::int64_t v = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
        if (error != std::errc{} || end != text.data() + text.size() || v < low || v > high) {
            fail_at(at, where() + " must be " + expected + range + ", not " + text);
        }
        return v;
    }

    // A number, or one of the strings that stand for the doubles JSON has
    // no numbers for.
    double floating() {
        const int c = in_.peek();
        const std::string expected = "a number (or \"NaN\", \"inf\" or \"-inf\")";
        if (c == '"') {
            const Position at = here();
            const std::string s = string();
            if (s == "NaN") return std::numeric_limits<double>::quiet_NaN();
            if (s == "inf") return std::numeric_limits<double>::infinity();
            if (s == "-inf") return -std::numeric_limits<double>::infinity();
            fail_at(at, where() + " must be " + expected + ", not the string " + shown(s));
        }
        if (c != '-' && !is_digit(c)) wrong(expected);
        const Position at = here();
        const std::string text = number();
        double v = 0.0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
        if (error == std::errc::result_out_of_range) {
            // Beyond a double's range; a number too small for one is its zero.
            if (!too_small(text)) fail_at(at, where() + " must be a number within the range of a double, not " + text);
            return text[0] == '-' ? -0.0 : 0.0;
        }
        if (error != std::errc{} || end != text.data() + text.size()) syntax("a number that cannot be read: " + text);
        return v;
    }

    // Whether a number that no double holds is too small for one rather
    // than too large: whether its first significant digit stands below the
    // ones' place.
    static bool too_small(const std::string& text) {
        const std::size_t e = text.find_first_of("eE");
        const std::string_view mantissa = std::string_view(text).substr(text[0] == '-', e - (text[0] == '-'));
        std::int64_t exponent = 0;
        if (e != std::string::npos) {
            const bool negative = text[e + 1] == '-';
            for (std::size_t i = e + 1 + (text[e + 1] == '-' || text[e + 1] == '+'); i < text.size(); ++i) {
                exponent = std::min<std::int64_t>(exponent * 10 + (text[i] - '0'), 1'000'000'000);
            }
            if (negative) exponent = -exponent;
        }
        const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
        const std::size_t first = mantissa.find_first_of("123456789");
        if (first == std::string_view::npos) return true;  // a zero: never out of range
        const auto place = static_cast<std::int64_t>(point) - static_cast<std::int64_t>(first) - (first < point ? 1 : 0);
        return place + exponent < 0;
    }

    // A JSON number's text, checked against the grammar:
    // -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?
    std::string number() {
        in_.fill(MAX_NUMBER + 1);
        const std::uint8_t* p = in_.p_;
        const std::uint8_t* const end = in_.end_;
        const auto digits = [&] {
            const std::uint8_t* start = p;
            while (p < end && is_digit(*p)) ++p;
            return p > start;
        };
        if (p < end && *p == '-') ++p;
        if (p < end && *p == '0') {
            ++p;
            if (p < end && is_digit(*p)) syntax("a number with a leading zero");
        } else if (!digits()) {
            syntax("a sign without digits after it");
        }
        if (p < end && *p == '.') {
            ++p;
            if (!digits()) syntax("a decimal point without digits after it");
        }
        if (p < end && (*p == 'e' || *p == 'E')) {
            ++p;
            if (p < end && (*p == '+' || *p == '-')) ++p;
            if (!digits()) syntax("an exponent without digits");
        }
        if (p - in_.p_ > static_cast<std::ptrdiff_t>(MAX_NUMBER)) {
            syntax("a number of more than " + std::to_string(MAX_NUMBER) + " characters");
        }
        std::string text(reinterpret_cast<const char*>(in_.p_), static_cast<std::size_t>(p - in_.p_));
        in_.p_ = p;
        return text;
    }

    // A string, unescaped and checked to be UTF-8 without lone surrogates.
    std::string string() {
        std::string out;
        ++in_.p_;  // "
        while (true) {
            if (in_.available() == 0 && in_.fill(1) == 0) syntax("the end of the text inside a string");
            // A run of plain ASCII at once.
            const std::uint8_t* p = in_.p_;
            while (p < in_.end_ && *p >= 0x20 && *p < 0x80 && *p != '"' && *p != '\\') ++p;
            out.append(reinterpret_cast<const char*>(in_.p_), static_cast<std::size_t>(p - in_.p_));
            in_.p_ = p;
            if (p == in_.end_) continue;
            const std::uint8_t c = *p;
            if (c == '"') {
                ++in_.p_;
                return out;
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
    // no surrogate, nothing past U+10FFFF.
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
        if (!valid) syntax("bytes that are not UTF-8 in a string: JSON text is UTF-8");
        out.append(reinterpret_cast<const char*>(p), n);
        in_.p_ += n;
        in_.continuations(n - 1);
    }

    void escape(std::string& out) {
        const Position at = here();
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
        const std::optional<char32_t> first = hex4();
        char32_t code = *first;
        if (code >= 0xdc00 && code <= 0xdfff) fail_at(at, "invalid JSON: a lone surrogate " + escaped(code) + " in a string");
        if (code >= 0xd800 && code <= 0xdbff) {
            in_.fill(6);
            const bool low_follows = in_.available() >= 2 && in_.p_[0] == '\\' && in_.p_[1] == 'u';
            const std::optional<char32_t> second = low_follows ? hex4() : std::nullopt;
            if (!second || *second < 0xdc00 || *second > 0xdfff) {
                fail_at(at, "invalid JSON: a lone surrogate " + escaped(code) + " in a string");
            }
            code = 0x10000 + ((code - 0xd800) << 10) + (*second - 0xdc00);
        }
        utf8::append(out, code);
    }

    // The four hex digits of a \u escape, which the reader stands at.
    std::optional<char32_t> hex4() {
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

    // What stands at the read position, as a JSON value's type or in words.
    std::string what_is_here() {
        const int c = in_.peek();
        switch (c) {
            case -1: return "the end of the text";
            case '{': return "an object";
            case '[': return "an array";
            case '"': return "a string";
            case 't':
            case 'f': return "a boolean";
            case 'n': return "null";
            case ',': return "a comma";
            case ':': return "a colon";
            case '}':
            case ']': return std::string("a ") + static_cast<char>(c);
            default: break;
        }
        if (c == '-' || is_digit(c)) return "a number";
        if (c == '\'') return "a string in single quotes, which JSON writes in double quotes";
        if (c == 'N' || c == 'I') return "a word that is no JSON value (NaN and Infinity are written as the strings \"NaN\" and \"inf\")";
        if (c == '/') return "a comment, which JSON does not have";
        if (c >= 0x20 && c < 0x7f) return std::string("the character '") + static_cast<char>(c) + "'";
        return "a byte " + std::to_string(c) + " that starts no JSON value";
    }

    // The field is of another type: "must be a number, not a string".
    [[noreturn]] void wrong(const std::string& expected) {
        const int c = in_.peek();
        const bool value = c == '{' || c == '[' || c == '"' || c == 't' || c == 'f' || c == 'n' || c == '-' || is_digit(c);
        if (!value) syntax(expected + " for " + where() + ", where there is " + what_is_here());
        fail(where() + " must be " + expected + ", not " + what_is_here());
    }

    std::string where() const { return path_.where(); }
    std::string joined(std::string_view name) const {
        return path_.empty() ? std::string(name) : path_.text() + "." + std::string(name);
    }
    Position here() const { return {in_.line(), in_.column()}; }

    [[noreturn]] void syntax(const std::string& problem) { fail("invalid JSON: " + problem); }
    [[noreturn]] void fail(const std::string& message) { fail_at(here(), message); }
    [[noreturn]] void fail_at(Position at, const std::string& message) {
        throw Failure{JsonError{at.line, at.column, path_.text(), message}};
    }

    Input& in_;
    FieldPath path_;
};

Result<Settings, JsonError> read(Input& in) {
    try {
        return Reader(in).read();
    } catch (Failure& f) {
        return std::move(f.error);
    }
}

}  // namespace

Result<Settings, JsonError> read_json(ByteSource& source) {
    Input in(source);
    return read(in);
}

Result<Settings, JsonError> read_json(std::span<const std::uint8_t> text) {
    Input in(text);
    return read(in);
}

}  // namespace protocols
