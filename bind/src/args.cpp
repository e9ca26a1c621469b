#include "bind/args.hpp"

#include <string>

#include "bind/ref.hpp"

namespace bind {
namespace {

[[noreturn]] void too_many_positional(ParamsView p, std::size_t given) {
    const char* verb = given == 1 ? "was" : "were";
    const std::size_t count = p.names.size();
    Ref message = Ref::steal(
        p.required == count
            ? PyUnicode_FromFormat("%s takes %zu positional arguments but %zu %s given", p.full_name, count,
                                   given, verb)
            : PyUnicode_FromFormat("%s takes from %zu to %zu positional arguments but %zu %s given",
                                   p.full_name, p.required, count, given, verb));
    raise(PyExc_TypeError, std::move(message));
}

void place_keyword(ParamsView p, PyObject* keyword, PyObject* value, std::span<PyObject*> slots) {
    Py_ssize_t length = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(keyword, &length);
    if (utf8 == nullptr) PyErr_Clear();  // not encodable: it names no parameter
    for (std::size_t i = 0; utf8 != nullptr && i < p.names.size(); ++i) {
        if (p.names[i] != std::string_view(utf8, static_cast<std::size_t>(length))) continue;
        if (slots[i] != nullptr) {
            raise(PyExc_TypeError, Ref::steal(PyUnicode_FromFormat("%s got multiple values for argument '%s'",
                                                                   p.full_name, std::string(p.names[i]).c_str())));
        }
        slots[i] = value;
        return;
    }
    raise(PyExc_TypeError,
          Ref::steal(PyUnicode_FromFormat("%s got an unexpected keyword argument '%S'", p.full_name, keyword)));
}

void check_required(ParamsView p, std::size_t positional, std::span<PyObject*> slots) {
    if (positional >= p.required) return;
    std::string names;
    std::size_t missing = 0;
    for (std::size_t i = 0; i < p.required; ++i) missing += slots[i] == nullptr;
    if (missing == 0) return;
    std::size_t listed = 0;
    for (std::size_t i = 0; i < p.required; ++i) {
        if (slots[i] != nullptr) continue;
        if (listed > 0) names += missing == 2 ? " and " : (listed + 1 == missing ? ", and " : ", ");
        names += '\'';
        names += p.names[i];
        names += '\'';
        ++listed;
    }
    raise(PyExc_TypeError,
          Ref::steal(PyUnicode_FromFormat("%s missing %zu required positional %s: %s", p.full_name, missing,
                                          missing == 1 ? "argument" : "arguments", names.c_str())));
}

void place_positional(ParamsView p, PyObject* const* args, std::size_t nargs, std::span<PyObject*> slots) {
    if (nargs > p.names.size()) too_many_positional(p, nargs);
    for (std::size_t i = 0; i < nargs; ++i) slots[i] = args[i];
}

}  // namespace

void match_fastcall(ParamsView params, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames,
                    std::span<PyObject*> slots) {
    const auto nargs = static_cast<std::size_t>(PyVectorcall_NARGS(nargsf));
    place_positional(params, args, nargs, slots);
    if (kwnames != nullptr) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            place_keyword(params, PyTuple_GET_ITEM(kwnames, k), args[nargs + static_cast<std::size_t>(k)], slots);
        }
    }
    check_required(params, nargs, slots);
}

void match_tuple_dict(ParamsView params, PyObject* args, PyObject* kwargs, std::span<PyObject*> slots) {
    const auto nargs = static_cast<std::size_t>(PyTuple_GET_SIZE(args));
    place_positional(params, &PyTuple_GET_ITEM(args, 0), nargs, slots);
    if (kwargs != nullptr) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value)) place_keyword(params, key, value, slots);
    }
    check_required(params, nargs, slots);
}

}  // namespace bind
