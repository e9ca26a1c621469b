// Matching a call's positional and keyword arguments to a method's parameters.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

namespace bind {

// The one constant description of a method's parameters: every parameter may
// be given by position or by keyword, and the first `required` must be given.
template <std::size_t N>
struct Params {
    const char* full_name;  // "Protocol.add_sine_signal()", as messages name it
    std::array<std::string_view, N> names;
    std::size_t required;
};

struct ParamsView {
    const char* full_name;
    std::span<const std::string_view> names;
    std::size_t required;
};

template <std::size_t N>
constexpr ParamsView view(const Params<N>& p) {
    return {p.full_name, p.names, p.required};
}

// Fills `slots` (borrowed references; nullptr where not given) from the fast
// call form: `args` holds the positional arguments, then the values of the
// keywords named in `kwnames`.
void match_fastcall(ParamsView params, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames,
                    std::span<PyObject*> slots);

// match_fastcall for a call of N parameters; the common call, all by
// position and none missing, is matched inline.
template <std::size_t N>
inline void match(const Params<N>& params, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames,
                  std::array<PyObject*, N>& slots) {
    const auto nargs = static_cast<std::size_t>(PyVectorcall_NARGS(nargsf));
    if (kwnames == nullptr && nargs >= params.required && nargs <= N) {
        // Unrolled over the (few) parameters; a plain copy of nargs pointers
        // becomes a byte loop.
        for (std::size_t i = 0; i < N; ++i) slots[i] = i < nargs ? args[i] : nullptr;
        return;
    }
    match_fastcall(view(params), args, nargsf, kwnames, slots);
}

// The same from the classic form (a tuple and an optional dict).
void match_tuple_dict(ParamsView params, PyObject* args, PyObject* kwargs, std::span<PyObject*> slots);

}  // namespace bind
