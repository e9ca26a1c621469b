#include "bind/convert.hpp"

#include <cstring>
#include <string>


namespace bind {
namespace {

Ref qualified_name(PyTypeObject* type) {
    Ref name = Ref::steal(PyType_GetQualName(type));
    if (!name) {
        PyErr_Clear();
        name = Ref::checked(PyUnicode_FromString("<failed to extract type name>"));
    }
    return name;
}

bool name_is(PyObject* str, const char* expected) {
    if (str == nullptr) return false;
    const char* utf8 = PyUnicode_AsUTF8(str);
    if (utf8 == nullptr) {
        PyErr_Clear();
        return false;
    }
    return std::strcmp(utf8, expected) == 0;
}

// NumPy's boolean scalar, recognised without importing NumPy.
bool is_numpy_bool(PyObject* o) {
    PyTypeObject* type = Py_TYPE(o);
    Ref module = Ref::steal(PyType_GetModuleName(type));
    if (!module) PyErr_Clear();
    if (!name_is(module.get(), "numpy")) return false;
    Ref name = Ref::steal(PyType_GetName(type));
    if (!name) PyErr_Clear();
    return name_is(name.get(), "bool_") || name_is(name.get(), "bool");
}

}  // namespace

void raise_cast_error(PyObject* given, const char* target) {
    Ref name = qualified_name(Py_TYPE(given));
    raise(PyExc_TypeError,
          Ref::steal(PyUnicode_FromFormat("'%U' object cannot be cast as '%s'", name.get(), target)));
}

double to_double(PyObject* o) {
    if (PyFloat_CheckExact(o)) return PyFloat_AS_DOUBLE(o);
    const double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) throw PythonError{};
    return v;
}

std::uint64_t to_u64(PyObject* o) {
    // Most indices are small ints, held in one digit.
    if (PyLong_Check(o) && PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(o))) {
        const Py_ssize_t v = PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(o));
        if (v >= 0) return static_cast<std::uint64_t>(v);
    }
    Ref index;
    if (!PyLong_Check(o)) {
        index = Ref::checked(PyNumber_Index(o));
        o = index.get();
    }
    const unsigned long long v = PyLong_AsUnsignedLongLong(o);
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw PythonError{};
    return v;
}

bool to_bool(PyObject* o) {
    if (o == Py_True) return true;
    if (o == Py_False) return false;
    if (!is_numpy_bool(o)) raise_cast_error(o, "bool");
    PyNumberMethods* number = Py_TYPE(o)->tp_as_number;
    if (number == nullptr || number->nb_bool == nullptr) {
        raise(PyExc_TypeError, Ref::steal(PyUnicode_FromFormat(
                                   "object of type '%S' does not define a '__bool__' conversion", Py_TYPE(o))));
    }
    const int truth = number->nb_bool(o);
    throw_on_failure(truth);
    return truth != 0;
}

std::string_view to_utf8(PyObject* o) {
    if (!PyUnicode_Check(o)) raise_cast_error(o, "str");
    Py_ssize_t length = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(o, &length);
    if (utf8 == nullptr) throw PythonError{};
    return {utf8, static_cast<std::size_t>(length)};
}

void reraise_for_argument(std::string_view name) {
    Ref error = Ref::steal(PyErr_GetRaisedException());
    if (error && Py_IS_TYPE(error.get(), reinterpret_cast<PyTypeObject*>(PyExc_TypeError))) {
        const std::string prefix = "argument '" + std::string(name) + "': ";
        Ref message = Ref::steal(PyUnicode_FromFormat("%s%S", prefix.c_str(), error.get()));
        Ref remapped = message ? Ref::steal(PyObject_CallOneArg(PyExc_TypeError, message.get())) : Ref();
        if (!remapped) throw PythonError{};  // building it failed; that error is set
        PyException_SetCause(remapped.get(), PyException_GetCause(error.get()));
        error = std::move(remapped);
    }
    PyErr_SetRaisedException(error.release());
    throw PythonError{};
}



}  // namespace bind

