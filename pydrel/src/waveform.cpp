#include "waveform.hpp"

// Built against NumPy 2 headers; the calls used here exist in NumPy 1.22 on.
#define NPY_NO_DEPRECATED_API NPY_1_22_API_VERSION
#define NPY_TARGET_VERSION NPY_1_22_API_VERSION
#include <numpy/arrayobject.h>

#include <cmath>
#include <cstring>

#include "convert.hpp"
#include "panic.hpp"
#include "protocols/config.hpp"
#include "ref.hpp"

namespace pydrel {
namespace {

// NumPy's import_array macros print the import error and replace it with a
// generic one; calling the importer directly passes the real ImportError on.
void import_numpy() {
    if (PyArray_API == nullptr && _import_array() < 0) throw PythonError{};
}

inline std::int16_t level_of(double sample) {
    check(sample >= 0.0, "assertion failed: *sample >= 0.0");  // NaN fails here
    check(sample <= 1.0, "assertion failed: *sample <= 1.0");
    return static_cast<std::int16_t>(std::round(sample * protocols::config::LEVEL_FULL_SCALE));
}

inline double load(const char* p) noexcept {
    double v;
    std::memcpy(&v, p, sizeof v);  // arrays need not be aligned
    return v;
}

}  // namespace

Waveform Waveform::accept(PyObject* samples) {
    import_numpy();
    if (!PyArray_Check(samples)) raise_cast_error(samples, "ndarray");
    auto* array = reinterpret_cast<PyArrayObject*>(samples);
    Ref float64 = Ref::checked(reinterpret_cast<PyObject*>(PyArray_DescrFromType(NPY_DOUBLE)));
    if (PyArray_NDIM(array) != 1 ||
        !PyArray_EquivTypes(PyArray_DESCR(array), reinterpret_cast<PyArray_Descr*>(float64.get()))) {
        raise_cast_error(samples, "ndarray");
    }
    return Waveform(static_cast<const char*>(PyArray_DATA(array)), PyArray_DIMS(array)[0],
                    PyArray_STRIDES(array)[0]);
}

std::vector<std::int16_t> Waveform::levels() const {
    std::vector<std::int16_t> out;
    out.reserve(static_cast<std::size_t>(size_));
    if (stride_ == static_cast<Py_ssize_t>(sizeof(double))) {
        const char* end = data_ + size_ * stride_;
        for (const char* p = data_; p != end; p += sizeof(double)) out.push_back(level_of(load(p)));
    } else {
        const char* p = data_;
        for (Py_ssize_t i = 0; i < size_; ++i, p += stride_) out.push_back(level_of(load(p)));
    }
    return out;
}

}  // namespace pydrel
