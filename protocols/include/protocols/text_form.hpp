// The text form of records: the indented multi-line layout that str() of a
// protocol shows, and a one-line layout for error records in messages. Both
// walk the records' field declarations, so they show what the file holds.
//
// A protocol's text can be tens of megabytes, so it is produced in two passes
// over the same grammar: the first counts the bytes exactly, the second writes
// them straight into memory of that size (for instance a Python str's own
// buffer).
#pragma once

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "protocols/fields.hpp"
#include "protocols/settings.hpp"
#include "protocols/utf8.hpp"

namespace protocols::text {

enum class Layout { MultiLine, OneLine };

// Waveforms in full, one level per line, or summed up in one line:
// "<300000 levels: min 0, max 32767, first 0, last 16384>".
enum class Waveforms { Full, Summary };

// A bare word, such as an error kind.
struct Bare {
    std::string_view word;
};

// The longest float form: "-2.2250738585072014e-308".
inline constexpr std::size_t MAX_FLOAT_TEXT = 32;

// Writes the float form of `x` at `out`: shortest round-trip digits, decimal
// notation for 1e-4 <= |x| < 1e16 and exponent notation otherwise. Returns
// the end.
char* format_float(char* out, double x) noexcept;

// Calls put(piece) with the pieces of `s` in double quotes, escaped; `s` is
// read as UTF-8, with U+FFFD for each invalid sequence.
template <class Put>
void quote(std::string_view s, Put&& put);

// Outputs of the writer. Each takes pieces of text, line breaks with their
// indentation, and the levels of a waveform, its hot path.

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

    std::size_t size() const noexcept { return size_; }
    bool ascii() const noexcept { return ascii_; }

private:
    std::size_t size_ = 0;
    bool ascii_ = true;
};

// Writes into memory sized by a Counter over the same content.
class Filler {
public:
    explicit Filler(std::span<char> out) noexcept : p_(out.data()), end_(out.data() + out.size()) {}
    void put(std::string_view s) noexcept {
        std::memcpy(p_, s.data(), s.size());
        p_ += s.size();
    }
    void put(char c) noexcept { *p_++ = c; }
    void newline(std::size_t depth) noexcept;
    void levels(std::span<const std::int16_t> levels, std::size_t depth) noexcept;

private:
    char* p_;
    char* const end_;
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

private:
    std::string& out_;
};

template <class Out>
class Writer {
public:
    Writer(Out& out, Layout layout, Waveforms waveforms = Waveforms::Full)
        : out_(out), layout_(layout), waveforms_(waveforms) {}

    template <class T>
    void value(const T& v);

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

    void levels(const std::vector<std::int16_t>& levels) {
        if (!levels.empty() && waveforms_ == Waveforms::Summary) return summary(levels);
        if (levels.empty() || !multi()) return sequence(levels);
        out_.put('[');
        out_.levels(levels, depth_ + 1);  // each on a line of its own, with its comma
        out_.newline(depth_);
        out_.put(']');
    }

    template <class Int>
    void integer(Int v) {
        char buf[24];
        const auto r = std::to_chars(buf, buf + sizeof buf, v);
        out_.put(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
    }

    void summary(const std::vector<std::int16_t>& levels) {
        const auto [min, max] = std::minmax_element(levels.begin(), levels.end());
        out_.put('<');
        integer(levels.size());
        out_.put(levels.size() == 1 ? " level: min " : " levels: min ");
        integer(*min);
        out_.put(", max ");
        integer(*max);
        out_.put(", first ");
        integer(levels.front());
        out_.put(", last ");
        integer(levels.back());
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
    if constexpr (std::is_same_v<T, bool>) {
        out_.put(v ? "true" : "false");
    } else if constexpr (std::is_integral_v<T>) {
        integer(v);
    } else if constexpr (std::is_same_v<T, double>) {
        char buf[MAX_FLOAT_TEXT];
        out_.put(std::string_view(buf, static_cast<std::size_t>(format_float(buf, v) - buf)));
    } else if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, std::string_view>) {
        quote(v, [this](std::string_view piece) { out_.put(piece); });
    } else if constexpr (std::is_same_v<T, Bare>) {
        out_.put(v.word);
    } else if constexpr (std::is_same_v<T, Signal>) {
        out_.put(v.variant_name());
        out_.put('(');
        ++depth_;
        open_item("");
        std::visit([this](const auto& params) { value(params); }, v.payload);
        close_item();
        close(')', "");
    } else if constexpr (std::is_same_v<T, std::vector<std::int16_t>>) {
        levels(v);
    } else if constexpr (DeclaredRecord<T>) {
        record(T::record_name, [&](Fields& fields) {
            for_each_field(v, [&](std::string_view name, const auto& f) { fields.field(name, f); });
        });
    } else {
        sequence(v);  // std::vector and std::array
    }
}

// Characters written as \u{...}: controls, invisible format characters,
// and marks that attach to the previous character.
bool needs_unicode_escape(char32_t c) noexcept;

template <class Put>
void quote(std::string_view s, Put&& put) {
    put("\"");
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t start = i;
        const char32_t c = utf8::next_code_point(s, i);
        switch (c) {
            case '\\': put("\\\\"); break;
            case '"': put("\\\""); break;
            case '\n': put("\\n"); break;
            case '\r': put("\\r"); break;
            case '\t': put("\\t"); break;
            case '\0': put("\\0"); break;
            default:
                if (needs_unicode_escape(c)) {
                    char hex[16] = "\\u{";
                    char* end = std::to_chars(hex + 3, hex + sizeof hex, static_cast<std::uint32_t>(c), 16).ptr;
                    *end++ = '}';
                    put(std::string_view(hex, static_cast<std::size_t>(end - hex)));
                } else if (c == 0xFFFD) {
                    put("\xef\xbf\xbd");  // also what an invalid sequence reads as
                } else {
                    put(s.substr(start, i - start));
                }
        }
    }
    put("\"");
}

// The text form of a protocol: the record "Protocol" with its one field
// `settings`.
struct ProtocolText {
    std::size_t size;  // in bytes
    bool ascii;        // every byte below 0x80
};
template <class Out>
void write_protocol(const Settings& settings, Out& out, Waveforms waveforms = Waveforms::Full) {
    Writer<Out> w(out, Layout::MultiLine, waveforms);
    w.record("Protocol", [&](auto& fields) { fields.field("settings", settings); });
}
ProtocolText measure_protocol(const Settings& settings) noexcept;
// Fills exactly measure_protocol(settings).size bytes.
void render_protocol(const Settings& settings, std::span<char> out) noexcept;
std::string render_protocol(const Settings& settings, Waveforms waveforms = Waveforms::Full);

// The one-line layout of a value, or of a record whose fields `body(fields)`
// gives as in Writer::record; for messages.
template <class T>
std::string one_line(const T& v) {
    std::string out;
    Appender a(out);
    Writer<Appender>(a, Layout::OneLine).value(v);
    return out;
}

template <class Body>
std::string one_line_record(std::string_view name, Body&& body) {
    std::string out;
    Appender a(out);
    Writer<Appender>(a, Layout::OneLine).record(name, body);
    return out;
}

}  // namespace protocols::text
