// A value or a DRELError, for the library's recoverable failures.
#pragma once

#include <utility>
#include <variant>

#include "protocols/error.hpp"

namespace protocols {

template <class T>
class Result {
public:
    Result(T value) : v_(std::move(value)) {}
    Result(DRELError error) : v_(error) {}

    bool has_value() const noexcept { return v_.index() == 0; }
    explicit operator bool() const noexcept { return has_value(); }

    T& value() & { return std::get<0>(v_); }
    const T& value() const& { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    DRELError error() const { return std::get<1>(v_); }

private:
    std::variant<T, DRELError> v_;
};

}  // namespace protocols
