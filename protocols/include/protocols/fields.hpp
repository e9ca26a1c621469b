// Field declarations shared by every consumer that walks a record.
//
// Each record declares its name and its fields once, in declaration order:
//
//     static constexpr std::string_view record_name = "LCSetting";
//     static constexpr auto fields() {
//         return std::tuple{field("capacitance", &LCSetting::capacitance), ...};
//     }
//
// The file encoder, the decoder and the text form all walk that one list, so
// the order of the fields on disk and on screen cannot drift apart; what each
// field's type means to them is wire.hpp's.
#pragma once

#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

namespace protocols {

template <class Record, class T>
struct Field {
    std::string_view name;
    T Record::*member;
};

template <class Record, class T>
constexpr Field<Record, T> field(std::string_view name, T Record::*member) {
    return {name, member};
}

template <class T>
concept DeclaredRecord = requires {
    { T::record_name } -> std::convertible_to<std::string_view>;
    T::fields();
};

// Calls f(name, value) for every field of `record`, in declaration order;
// the values are as const as the record.
template <class R, class F>
    requires DeclaredRecord<std::remove_cvref_t<R>>
constexpr void for_each_field(R&& record, F&& f) {
    std::apply([&](const auto&... fs) { (f(fs.name, record.*(fs.member)), ...); },
               std::remove_cvref_t<R>::fields());
}

}  // namespace protocols
