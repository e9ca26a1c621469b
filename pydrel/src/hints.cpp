#include "hints.hpp"

#include <cstring>

#include "bind/ref.hpp"
#include "protocols/format.hpp"
#include "protocols/hints.hpp"

namespace pydrel::hints {
namespace {

using bind::Ref;
using protocols::text::quoted;
using Spelling = protocols::hints::Spelling;

// str(o), or "" when that fails.
std::string str_of(PyObject* o) {
    Ref text = Ref::steal(PyObject_Str(o));
    const char* utf8 = text ? PyUnicode_AsUTF8(text.get()) : nullptr;
    if (utf8 == nullptr) {
        PyErr_Clear();
        return {};
    }
    return utf8;
}

std::string attribute(PyObject* o, const char* name) {
    Ref value = Ref::steal(PyObject_GetAttrString(o, name));
    if (!value) {
        PyErr_Clear();
        return {};
    }
    return str_of(value.get());
}

std::string type_name(PyObject* o) { return attribute(reinterpret_cast<PyObject*>(Py_TYPE(o)), "__qualname__"); }

// Whether `o` is a NumPy array, of a subclass defined anywhere included:
// numpy.ndarray stands in its type's method resolution order. NumPy need
// not be imported for this; it is, where one was made.
bool is_ndarray(PyObject* o) {
    PyObject* mro = Py_TYPE(o)->tp_mro;
    if (mro == nullptr || !PyTuple_Check(mro)) return false;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro); ++i) {
        PyObject* type = PyTuple_GET_ITEM(mro, i);
        if (attribute(type, "__module__") == "numpy" && attribute(type, "__qualname__") == "ndarray") return true;
    }
    return false;
}

const std::string CATCH_PANIC =
    " PanicException is not an OSError, so `except OSError` does not catch it: catch drel.PanicException (a "
    "BaseException, not an Exception), as the guide's page on errors shows.";

}  // namespace

std::string intensity(double x) { return protocols::hints::intensity(x, Spelling::Python); }

std::string duration(double d) { return protocols::hints::duration("duration", d, Spelling::Python); }

std::string samples_argument(PyObject* given) {
    const std::string wanted =
        "add_arbitrary_signal() takes a one-dimensional NumPy array of float64 in the machine's byte order";
    const std::string fix = "np.asarray(x, dtype=np.float64)";
    if (!is_ndarray(given)) {
        return "samples is a '" + type_name(given) + "', but " + wanted + ": pass " + fix + ".";
    }
    Ref dtype = Ref::steal(PyObject_GetAttrString(given, "dtype"));
    const std::string order = dtype ? attribute(dtype.get(), "byteorder") : "";
    if (!dtype) PyErr_Clear();
    const std::string byte_order = order == ">" ? "big-endian, swapped" : order == "|" ? "none" : "little-endian";
    std::string note = "samples is an ndarray of dtype " + attribute(given, "dtype") + ", shape " +
                       attribute(given, "shape") + ", byte order " + byte_order + ", but " + wanted + ": pass " +
                       fix;
    Ref shape = Ref::steal(PyObject_GetAttrString(given, "shape"));
    if (!shape) PyErr_Clear();
    if (shape && PyTuple_Check(shape.get()) && PyTuple_GET_SIZE(shape.get()) >= 2) {
        bool one_row_or_column = false;
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(shape.get()); ++i) {
            one_row_or_column |= PyLong_Check(PyTuple_GET_ITEM(shape.get(), i)) &&
                                 PyLong_AsSsize_t(PyTuple_GET_ITEM(shape.get(), i)) == 1;
        }
        note += one_row_or_column ? ", and .ravel() for one row or column"
                                  : "; an array of several rows holds several waveforms: add one row at a time";
    }
    return note + ".";
}

std::string suffix(std::string_view path) {
    return "filepath " + quoted(path) +
           " does not end in \".drel\": the suffix is case-sensitive, and must be \".drel\" in lower case.";
}

std::string filepath_argument(PyObject* given) {
    if (PyBytes_Check(given) || PyByteArray_Check(given)) {
        return "filepath takes a str, not bytes: p.save(os.fsdecode(path)).";
    }
    if (PyObject_HasAttrString(given, "__fspath__")) {
        return "filepath takes a str, not a path object: p.save(os.fspath(path)).";
    }
    return "filepath takes a str, the name of a file that ends in \".drel\".";
}

std::string file_operation(std::string_view operation, std::string_view path, int code) {
    const char* name = ::strerrorname_np(code);
    char buf[256];
    const char* text = ::strerror_r(code, buf, sizeof buf);
    return file_operation(operation, path, name != nullptr ? name : "errno " + std::to_string(code), text);
}

std::string file_operation(std::string_view operation, std::string_view path, std::string_view kind,
                           std::string_view text) {
    const std::string what = operation == "open" ? "open " + quoted(path) + " for writing"
                                                 : std::string(operation) + " " + quoted(path);
    return "save() could not " + what + ": " + std::string(kind) + ", " + std::string(text) + "." + CATCH_PANIC;
}

std::string coil_argument() {
    return "coil takes a member of pydrel.Coil: Coil.A1 or Coil.A2 (channel A), Coil.B1 or Coil.B2 (channel B).";
}

std::string channel_argument() {
    return "channel takes a member of pydrel.Channel: Channel.A or Channel.B.";
}

std::string external_argument(PyObject* given) {
    std::string note = "external takes True or False (or a NumPy bool)";
    if (PyLong_Check(given)) note += ", not an int: write external=True for an external input";
    return note + ".";
}

std::string index_argument(std::string_view parameter) {
    const std::string what = parameter == "index" ? "a signal index (or, with external=True, an input number)"
                                                  : "a signal index";
    return std::string(parameter) + " takes " + what + " from 0 to 2**64 - 1: indices do not count from the end.";
}

}  // namespace pydrel::hints
