// A value or an error, for the library's recoverable failures.
#pragma once

#include <utility>
#include <variant>

#include "protocols/error.hpp"

namespace protocols {

template <class T, class E = DRELError>
class Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    Result(E error) : v_(std::in_place_index<1>, std::move(error)) {}

    bool has_value() const noexcept { return v_.index() == 0; }
    explicit operator bool() const noexcept { return has_value(); }

    T& value() & { return std::get<0>(v_); }
    const T& value() const& { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    const E& error() const& { return std::get<1>(v_); }

private:
    std::variant<T, E> v_;
};

}  // namespace protocols
