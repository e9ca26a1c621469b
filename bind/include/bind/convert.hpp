// Converting matched arguments to the library's values.
//
// A conversion that fails with exactly TypeError is re-raised as
// "argument 'NAME': ..." (keeping the original's __cause__); every other
// exception passes through unchanged.
#pragma once

#include <Python.h>

#include <cstdint>
#include <span>
#include <string_view>

#include "bind/args.hpp"
#include "bind/ref.hpp"

namespace bind {

// Raises the TypeError "'GIVEN' object cannot be cast as 'TARGET'".
[[noreturn]] void raise_cast_error(PyObject* given, const char* target);

double to_double(PyObject* o);
std::uint64_t to_u64(PyObject* o);
bool to_bool(PyObject* o);
// UTF-8 bytes of a str; they live as long as `o`.
std::string_view to_utf8(PyObject* o);

// Re-raises the current exception under the parameter's name (see above).
[[noreturn]] void reraise_for_argument(std::string_view name);

// The matched arguments of one call, converted on demand in parameter order.
class Args {
public:
    Args(ParamsView params, std::span<PyObject* const> slots) : params_(params), slots_(slots) {}

    bool given(std::size_t i) const { return slots_[i] != nullptr; }
    std::string_view name(std::size_t i) const { return params_.names[i]; }
    // The argument as given (borrowed), or nullptr.
    PyObject* object(std::size_t i) const { return slots_[i]; }

    double f64(std::size_t i) const { return convert(i, to_double); }
    double f64_or(std::size_t i, double fallback) const { return given(i) ? f64(i) : fallback; }
    std::uint64_t u64(std::size_t i) const { return convert(i, to_u64); }
    bool boolean_or(std::size_t i, bool fallback) const { return given(i) ? convert(i, to_bool) : fallback; }
    std::string_view text(std::size_t i) const { return convert(i, to_utf8); }

    // Runs `f(object)` with the conversion-error rules for parameter i.
    template <class F>
    auto convert(std::size_t i, F&& f) const -> decltype(f(nullptr)) {
        try {
            return f(slots_[i]);
        } catch (const PythonError&) {
            reraise_for_argument(params_.names[i]);
        }
    }

private:
    ParamsView params_;
    std::span<PyObject* const> slots_;
};

}  // namespace bind
