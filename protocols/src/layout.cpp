#include "protocols/layout.hpp"

#include <algorithm>
#include <string_view>
#include <variant>

#include "protocols/settings.hpp"
#include "protocols/wire.hpp"

namespace protocols {
namespace {

class Layout {
public:
    std::vector<RecordLayout> records;

    template <class T>
    std::string written() {
        constexpr WireKind kind = wire_kind<T>;
        if constexpr (kind == WireKind::Bool) {
            return "boolean: one byte, 00 or 01";
        } else if constexpr (kind == WireKind::Unsigned) {
            return "unsigned 64-bit integer: a varint of 1 to 10 bytes";
        } else if constexpr (kind == WireKind::Float) {
            return "64-bit float: its 8 bytes, least significant first";
        } else if constexpr (kind == WireKind::Text) {
            return "text: a varint of its length in bytes, then its UTF-8 bytes";
        } else if constexpr (kind == WireKind::Levels) {
            return "waveform levels: a varint count, then each signed 16-bit level as a zigzag varint of 1 to 3 bytes";
        } else if constexpr (kind == WireKind::Array) {
            return "array: a varint count, then each " + element<typename T::value_type>();
        } else if constexpr (kind == WireKind::FixedArray) {
            return std::to_string(std::tuple_size_v<T>) + " of " + element<typename T::value_type>() +
                   ", with no count";
        } else if constexpr (kind == WireKind::Variant || kind == WireKind::Record) {
            return named<T>();
        } else {
            static_assert(unhandled_kind<T>, "a kind that the layout does not describe");
        }
    }

private:
    // An element of an array, in a few words.
    template <class T>
    std::string element() {
        constexpr WireKind kind = wire_kind<T>;
        if constexpr (kind == WireKind::Bool) return "boolean (one byte)";
        else if constexpr (kind == WireKind::Float) return "64-bit float (8 bytes)";
        else if constexpr (kind == WireKind::Record || kind == WireKind::Variant) return named<T>();
        else return written<T>();
    }

    // A record's or union's name, its layout added the first time.
    template <class T>
    std::string named() {
        constexpr WireKind kind = wire_kind<T>;
        if constexpr (kind == WireKind::Record) {
            const std::string name(T::record_name);
            if (add(name)) {
                std::vector<FieldLayout> fields;
                const std::size_t at = records.size() - 1;
                std::apply([&](const auto&... fs) { (fields.push_back({std::string(fs.name), written<field_type<T, decltype(fs)>>()}), ...); },
                           T::fields());
                records[at].fields = std::move(fields);
            }
            return "record " + name;
        } else if constexpr (kind == WireKind::Variant) {
            if (add("Signal")) {
                const std::size_t at = records.size() - 1;
                std::vector<FieldLayout> variants;
                [&]<std::size_t... I>(std::index_sequence<I...>) {
                    (variants.push_back({std::to_string(I) + " " + std::string(T::variant_names[I]),
                                         written<std::variant_alternative_t<I, typename T::Payload>>()}),
                     ...);
                }(std::make_index_sequence<std::variant_size_v<typename T::Payload>>());
                records[at].fields = std::move(variants);
            }
            return "Signal (a varint of its variant's index, then that variant's record)";
        } else {
            return written<T>();
        }
    }

    bool add(const std::string& name) {
        if (std::any_of(records.begin(), records.end(), [&](const RecordLayout& r) { return r.name == name; })) {
            return false;
        }
        records.push_back({name, {}});
        return true;
    }
};

}  // namespace

std::vector<RecordLayout> file_layout() {
    Layout layout;
    layout.written<Settings>();
    return std::move(layout.records);
}

}  // namespace protocols
