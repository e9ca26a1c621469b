// What each type that a record's fields hold is, for every walker of records.
//
// The encoder, the decoder, the text writer and the decoder's size bound all
// dispatch on wire_kind<T> and on nothing else, so a field of a new type is
// one new line in classify() below when it behaves like a kind that exists,
// and one new case per walker when it is a new kind.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "protocols/fields.hpp"
#include "protocols/signals.hpp"

namespace protocols {

enum class WireKind {
    Bool,        // one byte, 00 or 01; "true" / "false"
    Unsigned,    // LEB128 varint in its shortest form; decimal
    Float,       // eight little-endian bytes, every bit kept; the float form
    Text,        // count, then UTF-8 bytes; quoted and escaped
    Levels,      // count, then a zigzag varint per 16-bit level; one level a line
    Array,       // count, then the elements; one element a line
    FixedArray,  // the elements, no count (the length is the type's)
    Variant,     // varint of the alternative's index, then its payload; Name(payload)
    Record,      // the fields in declaration order; Name { field: value, ... }
};

template <class T>
inline constexpr bool is_vector = false;
template <class T, class A>
inline constexpr bool is_vector<std::vector<T, A>> = true;

template <class T>
inline constexpr bool is_std_array = false;
template <class T, std::size_t N>
inline constexpr bool is_std_array<std::array<T, N>> = true;

// A tagged union: a `payload` std::variant whose alternatives are records,
// and the names of the alternatives in their fixed order.
template <class T>
concept DeclaredVariant = requires(const T& v) {
    typename T::Payload;
    { v.payload.index() } -> std::convertible_to<std::size_t>;
    T::variant_names;
};

template <class T>
consteval WireKind classify() {
    if constexpr (std::is_same_v<T, bool>) {
        return WireKind::Bool;
    } else if constexpr (std::is_same_v<T, std::uint64_t>) {
        return WireKind::Unsigned;
    } else if constexpr (std::is_same_v<T, double>) {
        return WireKind::Float;
    } else if constexpr (std::is_same_v<T, std::string>) {
        return WireKind::Text;
    } else if constexpr (std::is_same_v<T, Levels>) {
        return WireKind::Levels;
    } else if constexpr (is_vector<T>) {
        return WireKind::Array;
    } else if constexpr (is_std_array<T>) {
        return WireKind::FixedArray;
    } else if constexpr (DeclaredVariant<T>) {
        return WireKind::Variant;
    } else {
        static_assert(DeclaredRecord<T>, "no wire rule for this type: add it to classify()");
        return WireKind::Record;
    }
}

template <class T>
inline constexpr WireKind wire_kind = classify<T>();

// False, for the static_assert that ends a walker's branches on wire_kind<T>:
// a kind added to WireKind names every walker that does not handle it.
template <class T>
inline constexpr bool unhandled_kind = false;

// The type of a declared field.
template <class Record, class F>
using field_type = std::remove_cvref_t<decltype(std::declval<Record>().*(std::declval<F>().member))>;

// The name a record goes by in the drel package, in JSON and in messages:
// its own, but a signal's parameters go by their variant's ("Sine" for
// SineSignalParams).
template <class T>
constexpr std::string_view package_name() {
    using Payload = Signal::Payload;
    constexpr std::size_t alternative = []<std::size_t... I>(std::index_sequence<I...>) {
        std::size_t found = sizeof...(I);
        (void)((std::is_same_v<T, std::variant_alternative_t<I, Payload>> ? (found = I, true) : false) || ...);
        return found;
    }(std::make_index_sequence<std::variant_size_v<Payload>>());
    if constexpr (alternative < std::variant_size_v<Payload>) return Signal::variant_names[alternative];
    else return T::record_name;
}

// The fewest bytes a value of type T takes on the wire, which bounds how many
// elements the rest of a file can hold.
template <class T>
constexpr std::size_t min_wire_size() {
    constexpr WireKind kind = wire_kind<T>;
    if constexpr (kind == WireKind::Float) {
        return 8;
    } else if constexpr (kind == WireKind::FixedArray) {
        return std::tuple_size_v<T> * min_wire_size<typename T::value_type>();
    } else if constexpr (kind == WireKind::Variant) {
        return 1 + []<std::size_t... I>(std::index_sequence<I...>) {
            return std::min({min_wire_size<std::variant_alternative_t<I, typename T::Payload>>()...});
        }(std::make_index_sequence<std::variant_size_v<typename T::Payload>>());
    } else if constexpr (kind == WireKind::Record) {
        return std::apply(
            [](const auto&... fs) {
                return (std::size_t{0} + ... + min_wire_size<field_type<T, decltype(fs)>>());
            },
            T::fields());
    } else {
        static_assert(kind == WireKind::Bool || kind == WireKind::Unsigned || kind == WireKind::Text ||
                          kind == WireKind::Levels || kind == WireKind::Array,
                      "a kind whose fewest bytes are not known");
        return 1;  // a boolean, a varint, or the count of a text or an array
    }
}

}  // namespace protocols
