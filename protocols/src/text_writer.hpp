// The writer of the text form, and its outputs: the grammar of records,
// variants, arrays and values once, written to a byte counter, to memory of
// the counted size, or to a string.
#pragma once

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "protocols/byte_sink.hpp"
#include "protocols/fields.hpp"
#include "protocols/format.hpp"
#include "protocols/settings.hpp"
#include "protocols/text_form.hpp"
#include "protocols/wire.hpp"
#include "scans.hpp"

namespace protocols::text {

enum class Layout { MultiLine, OneLine };

// Outputs of the writers. Each takes pieces of text, line breaks with their
// indentation, and the levels of a waveform, their hot path: one a line
// (`levels`) or in a row, each followed by a comma (`levels_inline`).

// Counts the bytes, and whether any is outside ASCII.
class Counter {
public:
    void put(std::string_view s) noexcept {
        for (const char c : s) ascii_ &= static_cast<unsigned char>(c) < 0x80;
        size_ += s.size();
    }
    void put(char c) noexcept { put(std::string_view(&c, 1)); }
    void newline(std::size_t depth) noexcept { size_ += 1 + 4 * depth; }
    void levels(std::span<const std::int16_t> levels, std::size_t depth) noexcept;
    void levels_inline(std::span<const std::int16_t> levels) noexcept;

    std::size_t size() const noexcept { return size_; }
    bool ascii() const noexcept { return ascii_; }

private:
    std::size_t size_ = 0;
    bool ascii_ = true;
};

// Writes into memory sized by a Counter over the same content. It checks its
// end before every store, in every build: were the two ever to disagree, it
// stops at the end and says so (overflowed()) instead of writing past it.
class Filler {
public:
    explicit Filler(std::span<char> out) noexcept : p_(out.data()), end_(out.data() + out.size()) {}
    void put(std::string_view s) noexcept {
        if (!fits(s.size())) return;
        std::memcpy(p_, s.data(), s.size());
        p_ += s.size();
    }
    void put(char c) noexcept {
        if (fits(1)) *p_++ = c;
    }
    void newline(std::size_t depth) noexcept;
    void levels(std::span<const std::int16_t> levels, std::size_t depth) noexcept;
    void levels_inline(std::span<const std::int16_t> levels) noexcept;
    char* position() const noexcept { return p_; }
    // Whether something did not fit; nothing is written from then on.
    bool overflowed() const noexcept { return overflowed_; }
    // Whether the memory was filled exactly.
    bool filled() const noexcept { return !overflowed_ && p_ == end_; }

private:
    bool fits(std::size_t n) noexcept {
        if (n <= static_cast<std::size_t>(end_ - p_)) return true;
        overflowed_ = true;
        end_ = p_;
        return false;
    }
    char* p_;
    char* end_;
    bool overflowed_ = false;
};

// Writes through a fixed buffer to a sink, handing the buffer on whenever
// the next piece does not fit; waveforms go a buffer's worth of levels at a
// time through a Filler.
class Streamer {
public:
    Streamer(std::span<char> buffer, ByteSink& sink) noexcept
        : begin_(buffer.data()), p_(begin_), end_(begin_ + buffer.size()), sink_(sink) {}
    void put(std::string_view s);
    void put(char c) { put(std::string_view(&c, 1)); }
    void newline(std::size_t depth);
    void levels(std::span<const std::int16_t> levels, std::size_t depth);
    void levels_inline(std::span<const std::int16_t> levels);
    void flush();

private:
    std::size_t free() const noexcept { return static_cast<std::size_t>(end_ - p_); }
    template <class Write>
    void in_runs(std::span<const std::int16_t> levels, std::size_t longest, Write&& write);
    char* const begin_;
    char* p_;
    char* const end_;
    ByteSink& sink_;
};

// Appends to a string.
class Appender {
public:
    explicit Appender(std::string& out) noexcept : out_(out) {}
    void put(std::string_view s) { out_ += s; }
    void put(char c) { out_ += c; }
    void newline(std::size_t depth) {
        out_ += '\n';
        out_.append(4 * depth, ' ');
    }
    void levels(std::span<const std::int16_t> levels, std::size_t depth);
    void levels_inline(std::span<const std::int16_t> levels);

private:
    std::string& out_;
};

template <class Out>
void put_integer(Out& out, auto v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.put(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
}

// The numbers of a waveform's summary. Not for an empty one.
struct LevelSummary {
    std::int16_t min, max, first, last;
};
inline LevelSummary summarise(std::span<const std::int16_t> levels) noexcept {
    const LevelRange r = level_range(levels.data(), levels.size());
    return {r.min, r.max, levels.front(), levels.back()};
}

template <class Out>
class Writer {
public:
    Writer(Out& out, Layout layout, Waveforms waveforms = Waveforms::Full)
        : out_(out), layout_(layout), waveforms_(waveforms) {}

    template <class T>
    void value(const T& v);
    template <class T>
    void wire_value(const T& v);

    // `body(fields)` calls fields.field(name, value) for every field, in order.
    template <class Body>
    void record(std::string_view name, Body&& body) {
        out_.put(name);
        out_.put(" {");
        ++depth_;
        Fields fields(*this);
        body(fields);
        close('}', " ");
    }

    class Fields {
    public:
        template <class T>
        void field(std::string_view name, const T& v) {
            w_.open_item(first_ ? " " : ", ");
            first_ = false;
            w_.out_.put(name);
            w_.out_.put(": ");
            w_.value(v);
            w_.close_item();
        }

    private:
        friend class Writer;
        explicit Fields(Writer& w) : w_(w) {}
        Writer& w_;
        bool first_ = true;
    };

private:
    bool multi() const { return layout_ == Layout::MultiLine; }
    // Starts an item (field, element or payload) inside the current container.
    void open_item(std::string_view one_line_separator) {
        if (multi()) out_.newline(depth_);
        else out_.put(one_line_separator);
    }
    void close_item() {
        if (multi()) out_.put(',');
    }
    // Closes a container whose items stood at depth_.
    void close(char bracket, std::string_view one_line_padding) {
        --depth_;
        if (multi()) out_.newline(depth_);
        else out_.put(one_line_padding);
        out_.put(bracket);
    }

    template <class Seq>
    void sequence(const Seq& items) {
        if (std::empty(items)) {
            out_.put("[]");
            return;
        }
        out_.put('[');
        ++depth_;
        bool first = true;
        for (const auto& item : items) {
            open_item(first ? "" : ", ");
            first = false;
            value(item);
            close_item();
        }
        close(']', "");
    }

    void levels(const Levels& levels) {
        if (!levels.empty() && waveforms_ == Waveforms::Summary) return summary(levels);
        if (levels.empty() || !multi()) return sequence(levels);
        out_.put('[');
        const std::span<const std::int16_t> all(levels);
        if (waveforms_ == Waveforms::Edges && levels.size() > EDGE_THRESHOLD) {
            out_.levels(all.first(EDGE_LEVELS), depth_ + 1);
            out_.newline(depth_ + 1);
            out_.put("...");
            out_.levels(all.last(EDGE_LEVELS), depth_ + 1);
        } else {
            out_.levels(all, depth_ + 1);  // each on a line of its own, with its comma
        }
        out_.newline(depth_);
        out_.put(']');
    }

    template <class Int>
    void integer(Int v) {
        put_integer(out_, v);
    }

    void summary(const Levels& levels) {
        const LevelSummary sum = summarise(levels);
        out_.put('<');
        integer(levels.size());
        out_.put(levels.size() == 1 ? " level: min " : " levels: min ");
        integer(sum.min);
        out_.put(", max ");
        integer(sum.max);
        out_.put(", first ");
        integer(sum.first);
        out_.put(", last ");
        integer(sum.last);
        out_.put('>');
    }

    Out& out_;
    Layout layout_;
    Waveforms waveforms_;
    std::size_t depth_ = 0;
};

template <class Out>
template <class T>
void Writer<Out>::value(const T& v) {
    // Values of messages, which no record holds.
    if constexpr (std::is_same_v<T, Bare>) {
        out_.put(v.word);
    } else if constexpr (std::is_same_v<T, std::string_view>) {
        quote(v, [this](std::string_view piece) { out_.put(piece); });
    } else if constexpr (std::is_same_v<T, std::int64_t> || std::is_same_v<T, std::int16_t>) {
        integer(v);  // an error number, or a level of a waveform on one line
    } else {
        wire_value(v);
    }
}

template <class Out>
template <class T>
void Writer<Out>::wire_value(const T& v) {
    constexpr WireKind kind = wire_kind<T>;
    if constexpr (kind == WireKind::Bool) {
        out_.put(v ? "true" : "false");
    } else if constexpr (kind == WireKind::Unsigned) {
        integer(v);
    } else if constexpr (kind == WireKind::Float) {
        char buf[MAX_FLOAT_TEXT];
        out_.put(std::string_view(buf, static_cast<std::size_t>(format_float(buf, v) - buf)));
    } else if constexpr (kind == WireKind::Text) {
        quote(v, [this](std::string_view piece) { out_.put(piece); });
    } else if constexpr (kind == WireKind::Levels) {
        levels(v);
    } else if constexpr (kind == WireKind::Array || kind == WireKind::FixedArray) {
        sequence(v);
    } else if constexpr (kind == WireKind::Variant) {
        out_.put(T::variant_names[v.payload.index()]);
        out_.put('(');
        ++depth_;
        open_item("");
        std::visit([&](const auto& params) { value(params); }, v.payload);
        close_item();
        close(')', "");
    } else {
        static_assert(kind == WireKind::Record);
        record(T::record_name, [&](Fields& fields) {
            for_each_field(v, [&](std::string_view name, const auto& f) { fields.field(name, f); });
        });
    }
}

// The JSON form (RFC 8259) of the same grammar: a record is an object of its
// fields in declaration order, a signal an object with one key, its variant's
// name; arrays are arrays, levels integers (or, summed up, an object of the
// summary's numbers). Floats take the text form's shortest digits, which JSON
// reads back to the same double; NaN and the infinities, which JSON has no
// numbers for, are the strings "NaN", "inf" and "-inf", and a NaN whose sign
// bit is set (what inf - inf gives on x86-64) is "-NaN".
template <class Out>
class JsonWriter {
public:
    JsonWriter(Out& out, Waveforms waveforms = Waveforms::Full) : out_(out), waveforms_(waveforms) {}

    template <class T>
    void value(const T& v) {
        constexpr WireKind kind = wire_kind<T>;
        if constexpr (kind == WireKind::Bool) {
            out_.put(v ? "true" : "false");
        } else if constexpr (kind == WireKind::Unsigned) {
            put_integer(out_, v);
        } else if constexpr (kind == WireKind::Float) {
            number(v);
        } else if constexpr (kind == WireKind::Text) {
            string(v);
        } else if constexpr (kind == WireKind::Levels) {
            levels(v);
        } else if constexpr (kind == WireKind::Array || kind == WireKind::FixedArray) {
            out_.put('[');
            bool first = true;
            for (const auto& item : v) {
                if (!first) out_.put(", ");
                first = false;
                value(item);
            }
            out_.put(']');
        } else if constexpr (kind == WireKind::Variant) {
            out_.put('{');
            string(T::variant_names[v.payload.index()]);
            out_.put(": ");
            std::visit([&](const auto& params) { value(params); }, v.payload);
            out_.put('}');
        } else {
            static_assert(kind == WireKind::Record);
            out_.put('{');
            bool first = true;
            for_each_field(v, [&](std::string_view name, const auto& f) {
                if (!first) out_.put(", ");
                first = false;
                string(name);
                out_.put(": ");
                value(f);
            });
            out_.put('}');
        }
    }

    void string(std::string_view s) {
        json_quote(s, [this](std::string_view piece) { out_.put(piece); });
    }

    void number(double x) {
        if (std::isnan(x)) return out_.put(std::signbit(x) ? "\"-NaN\"" : "\"NaN\"");
        if (std::isinf(x)) return out_.put(x > 0 ? "\"inf\"" : "\"-inf\"");
        char buf[MAX_FLOAT_TEXT];
        out_.put(std::string_view(buf, static_cast<std::size_t>(format_float(buf, x) - buf)));
    }

private:
    void levels(const Levels& levels) {
        if (waveforms_ == Waveforms::Summary) {
            out_.put("{\"length\": ");
            put_integer(out_, levels.size());
            if (levels.empty()) return out_.put(", \"min\": null, \"max\": null, \"first\": null, \"last\": null}");
            const LevelSummary sum = summarise(levels);
            for (const auto& [name, v] : {std::pair{", \"min\": ", sum.min}, std::pair{", \"max\": ", sum.max},
                                          std::pair{", \"first\": ", sum.first}, std::pair{", \"last\": ", sum.last}}) {
                out_.put(name);
                put_integer(out_, v);
            }
            return out_.put('}');
        }
        out_.put('[');
        if (!levels.empty()) {
            out_.levels_inline(std::span(levels).first(levels.size() - 1));
            put_integer(out_, levels.back());
        }
        out_.put(']');
    }

    Out& out_;
    Waveforms waveforms_;
};

// The text form of a protocol: the record "Protocol" with its one field
// `settings`.
template <class Out>
void write_protocol(const Settings& settings, Out& out, Waveforms waveforms = Waveforms::Full) {
    Writer<Out> w(out, Layout::MultiLine, waveforms);
    w.record("Protocol", [&](auto& fields) { fields.field("settings", settings); });
}

// The one-line layout of any value.
template <class T>
std::string one_line(const T& v) {
    std::string out;
    Appender a(out);
    Writer<Appender>(a, Layout::OneLine).value(v);
    return out;
}

}  // namespace protocols::text
