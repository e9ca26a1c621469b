// The text form of records: the indented multi-line layout that str() of a
// protocol shows, and a one-line layout for error records in messages. Both
// walk the records' field declarations, so they show what the file holds.
#pragma once

#include <array>
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "protocols/fields.hpp"
#include "protocols/settings.hpp"

namespace protocols::text {

enum class Layout { MultiLine, OneLine };

// A bare word, such as an error kind.
struct Bare {
    std::string_view word;
};

// Appends the float form of `x`: shortest round-trip digits, decimal notation
// for 1e-4 <= |x| < 1e16 and exponent notation otherwise.
void append_float(std::string& out, double x);

// Appends `s` in double quotes with escapes.
void append_quoted(std::string& out, std::string_view s);

class Writer {
public:
    Writer(std::string& out, Layout layout) : out_(out), layout_(layout) {}

    template <class T>
    void value(const T& v);

    // `body(fields)` calls fields.field(name, value) for every field, in order.
    template <class Body>
    void record(std::string_view name, Body&& body);

    class Fields {
    public:
        template <class T>
        void field(std::string_view name, const T& v) {
            w_.open_item(first_ ? " " : ", ");
            first_ = false;
            w_.out_ += name;
            w_.out_ += ": ";
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
    void newline(int depth) {
        out_ += '\n';
        out_.append(static_cast<std::size_t>(4 * depth), ' ');
    }
    // Starts an item (field, element or payload) inside the current container.
    void open_item(std::string_view one_line_separator) {
        if (multi()) newline(depth_);
        else out_ += one_line_separator;
    }
    void close_item() {
        if (multi()) out_ += ',';
    }
    // Closes a container whose items stood at depth_.
    void close(char bracket, std::string_view one_line_padding) {
        --depth_;
        if (multi()) newline(depth_);
        else out_ += one_line_padding;
        out_ += bracket;
    }

    template <class Seq>
    void sequence(const Seq& items);
    template <class Int>
    void integer(Int v) {
        char buf[24];
        const auto r = std::to_chars(buf, buf + sizeof buf, v);
        out_.append(buf, r.ptr);
    }

    std::string& out_;
    Layout layout_;
    int depth_ = 0;
};

template <class Body>
void Writer::record(std::string_view name, Body&& body) {
    out_ += name;
    out_ += " {";
    ++depth_;
    Fields fields(*this);
    body(fields);
    close('}', " ");
}

template <class Seq>
void Writer::sequence(const Seq& items) {
    if (std::empty(items)) {
        out_ += "[]";
        return;
    }
    out_ += '[';
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

template <class T>
void Writer::value(const T& v) {
    if constexpr (std::is_same_v<T, bool>) {
        out_ += v ? "true" : "false";
    } else if constexpr (std::is_integral_v<T>) {
        integer(v);
    } else if constexpr (std::is_same_v<T, double>) {
        append_float(out_, v);
    } else if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, std::string_view>) {
        append_quoted(out_, v);
    } else if constexpr (std::is_same_v<T, Bare>) {
        out_ += v.word;
    } else if constexpr (std::is_same_v<T, Signal>) {
        out_ += v.variant_name();
        out_ += '(';
        ++depth_;
        open_item("");
        std::visit([this](const auto& params) { value(params); }, v.payload);
        close_item();
        close(')', "");
    } else if constexpr (DeclaredRecord<T>) {
        record(T::record_name, [&](Fields& fields) {
            for_each_field(v, [&](std::string_view name, const auto& f) { fields.field(name, f); });
        });
    } else {
        sequence(v);  // std::vector and std::array
    }
}

// The whole text form of a protocol, in one buffer sized up front.
std::string render_protocol(const Settings& settings);

}  // namespace protocols::text
