// Field declarations shared by every consumer that walks a record.
//
// Each record declares its name and its fields once, in declaration order:
//
//     static constexpr std::string_view record_name = "LCSetting";
//     static constexpr auto fields() {
//         return std::tuple{field("capacitance", &LCSetting::capacitance), ...};
//     }
//
// The file encoder and the text form both walk that one list, so the order of
// the fields on disk and on screen cannot drift apart.
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

// Calls f(name, value) for every field of `record`, in declaration order.
template <DeclaredRecord R, class F>
constexpr void for_each_field(const R& record, F&& f) {
    std::apply([&](const auto&... fs) { (f(fs.name, record.*(fs.member)), ...); }, R::fields());
}

}  // namespace protocols
