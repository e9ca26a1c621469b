#include "levels.hpp"

#include <algorithm>
#include <cmath>
#include <concepts>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>
#include <utility>

#include "bind/numpy.hpp"
#include "protocols/waveform.hpp"

namespace drel {

using bind::PythonError;
using bind::Ref;

namespace {

constexpr const char* LEVELS_CAPSULE = "drel.levels";

void free_levels(PyObject* capsule) {
    delete static_cast<protocols::Levels*>(PyCapsule_GetPointer(capsule, LEVELS_CAPSULE));
}

[[noreturn]] void refuse(PyObject* type, const std::string& path, const char* format, auto... args) {
    Ref detail = Ref::steal(PyUnicode_FromFormat(format, args...));
    if (!detail) throw PythonError{};
    bind::raise(type, Ref::steal(PyUnicode_FromFormat("%s %U", path.c_str(), detail.get())));
}

template <std::integral T>
T load(const char* at, bool swapped) noexcept {
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, at, sizeof bytes);
    if (swapped) std::reverse(bytes, bytes + sizeof bytes);
    T v;
    std::memcpy(&v, bytes, sizeof v);
    return v;
}

// Reads n elements of type T, `stride` bytes apart, as levels; the index of
// the first that is no 16-bit level, or n.
template <std::integral T>
npy_intp read_levels(const char* data, npy_intp n, npy_intp stride, bool swapped, std::int16_t* out) noexcept {
    for (npy_intp i = 0; i < n; ++i) {
        const T v = load<T>(data + i * stride, swapped);
        if (!std::in_range<std::int16_t>(v)) return i;
        out[i] = static_cast<std::int16_t>(v);
    }
    return n;
}

template <std::integral T>
[[noreturn]] void refuse_level(const std::string& path, const char* data, npy_intp i, npy_intp stride, bool swapped) {
    const T v = load<T>(data + i * stride, swapped);
    const std::string value = std::to_string(v);
    bind::raise(PyExc_ValueError,
                Ref::steal(PyUnicode_FromFormat("%s[%zd] is %s, but a level is a 16-bit integer, from %d to %d",
                                                path.c_str(), static_cast<Py_ssize_t>(i), value.c_str(),
                                                std::numeric_limits<std::int16_t>::min(),
                                                std::numeric_limits<std::int16_t>::max())));
}

template <std::integral T>
void read_checked(const std::string& path, const char* data, npy_intp n, npy_intp stride, bool swapped,
                  std::int16_t* out) {
    const npy_intp bad = read_levels<T>(data, n, stride, swapped, out);
    if (bad != n) refuse_level<T>(path, data, bad, stride, swapped);
}

// Whether NumPy's C interface can be used: imported here, or now because
// something imported NumPy (no NumPy object exists before that).
bool numpy_in_use() {
    if (bind::numpy::imported()) return true;
    PyObject* numpy = nullptr;
    bind::throw_on_failure(PyDict_GetItemStringRef(PyImport_GetModuleDict(), "numpy", &numpy));
    if (numpy == nullptr) return false;
    Py_DECREF(numpy);
    bind::numpy::import();
    return true;
}

Ref descr(int type) {
    return Ref::checked(reinterpret_cast<PyObject*>(PyArray_DescrFromType(type)));
}

template <class C>
C cast_scalar(PyObject* o, int type) {
    C v{};
    const Ref to = descr(type);
    bind::throw_on_failure(PyArray_CastScalarToCtype(o, &v, reinterpret_cast<PyArray_Descr*>(to.get())));
    return v;
}

}  // namespace

Ref levels_array(protocols::Levels&& levels) {
    bind::numpy::import();
    // The array's memory is the vector's; a capsule that frees it is the array's base.
    auto owned = std::make_unique<protocols::Levels>(std::move(levels));
    static std::int16_t none;  // an empty vector may have no memory at all
    std::int16_t* data = owned->empty() ? &none : owned->data();
    npy_intp length = static_cast<npy_intp>(owned->size());
    Ref capsule = Ref::checked(PyCapsule_New(owned.get(), LEVELS_CAPSULE, free_levels));
    owned.release();
    // Without NPY_ARRAY_WRITEABLE: read-only.
    Ref array = Ref::checked(PyArray_New(&PyArray_Type, 1, &length, NPY_INT16, nullptr, data, 0,
                                         NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_ALIGNED, nullptr));
    bind::throw_on_failure(PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array.get()), capsule.release()));
    return array;
}

bool is_levels_array(PyObject* o) noexcept {
    if (!bind::numpy::imported() || !PyArray_CheckExact(o)) return false;
    auto* a = reinterpret_cast<PyArrayObject*>(o);
    PyObject* base = PyArray_BASE(a);
    if (base == nullptr || !PyCapsule_IsValid(base, LEVELS_CAPSULE)) return false;
    const auto* levels = static_cast<const protocols::Levels*>(PyCapsule_GetPointer(base, LEVELS_CAPSULE));
    // NumPy lets the dtype of an array be changed in place: only its own
    // int16 of this machine's byte order, aligned, stands for the levels.
    return PyArray_NDIM(a) == 1 && PyArray_TYPE(a) == NPY_INT16 && !PyArray_ISBYTESWAPPED(a) &&
           PyArray_ISALIGNED(a) && PyArray_STRIDE(a, 0) == sizeof(std::int16_t) &&
           static_cast<std::size_t>(PyArray_DIM(a, 0)) == levels->size() &&
           (levels->empty() || PyArray_DATA(a) == levels->data()) && !PyArray_ISWRITEABLE(a);
}

protocols::Levels levels_of(PyObject* object, const std::string& path) {
    if (!numpy_in_use() || !PyArray_Check(object)) {
        refuse(PyExc_TypeError, path, "must be a NumPy array of integers, not '%s'", Py_TYPE(object)->tp_name);
    }
    const Ref held = Ref::borrow(object);
    auto* a = reinterpret_cast<PyArrayObject*>(object);
    if (PyArray_NDIM(a) != 1) {
        refuse(PyExc_ValueError, path, "must be a one-dimensional array, not %d-dimensional", PyArray_NDIM(a));
    }
    const int type = PyArray_TYPE(a);
    if (!PyTypeNum_ISINTEGER(type)) {
        Ref dtype = Ref::checked(PyObject_Str(reinterpret_cast<PyObject*>(PyArray_DESCR(a))));
        refuse(PyExc_TypeError, path, "must be a NumPy array of integers, not of %U", dtype.get());
    }
    const npy_intp n = PyArray_DIM(a, 0);
    const npy_intp stride = PyArray_STRIDE(a, 0);
    const bool swapped = PyArray_ISBYTESWAPPED(a);
    const auto* data = static_cast<const char*>(PyArray_DATA(a));
    protocols::Levels levels(static_cast<std::size_t>(n));
    if (n == 0) return levels;
    const bool is_signed = PyTypeNum_ISSIGNED(type);
    switch (PyArray_ITEMSIZE(a)) {
        case 1:
            if (is_signed) read_checked<std::int8_t>(path, data, n, stride, swapped, levels.data());
            else read_checked<std::uint8_t>(path, data, n, stride, swapped, levels.data());
            break;
        case 2:
            if (is_signed && !swapped && stride == sizeof(std::int16_t)) {
                std::memcpy(levels.data(), data, levels.size() * sizeof(std::int16_t));
            } else if (is_signed) {
                read_checked<std::int16_t>(path, data, n, stride, swapped, levels.data());
            } else {
                read_checked<std::uint16_t>(path, data, n, stride, swapped, levels.data());
            }
            break;
        case 4:
            if (is_signed) read_checked<std::int32_t>(path, data, n, stride, swapped, levels.data());
            else read_checked<std::uint32_t>(path, data, n, stride, swapped, levels.data());
            break;
        case 8:
            if (is_signed) read_checked<std::int64_t>(path, data, n, stride, swapped, levels.data());
            else read_checked<std::uint64_t>(path, data, n, stride, swapped, levels.data());
            break;
        default:
            refuse(PyExc_TypeError, path, "must be a NumPy array of integers of 8 to 64 bits, not of %zd bytes",
                   static_cast<Py_ssize_t>(PyArray_ITEMSIZE(a)));
    }
    return levels;
}

std::span<const std::int16_t> levels_in(PyObject* object, const std::string& path, protocols::Levels& copy) {
    if (numpy_in_use() && PyArray_Check(object)) {
        auto* a = reinterpret_cast<PyArrayObject*>(object);
        // In place only where the memory can be read as int16: aligned.
        if (PyArray_NDIM(a) == 1 && PyArray_TYPE(a) == NPY_INT16 && !PyArray_ISBYTESWAPPED(a) &&
            PyArray_ISALIGNED(a) && PyArray_STRIDE(a, 0) == sizeof(std::int16_t)) {
            return {static_cast<const std::int16_t*>(PyArray_DATA(a)), static_cast<std::size_t>(PyArray_DIM(a, 0))};
        }
    }
    copy = levels_of(object, path);
    return copy;
}

Ref fractions_of(PyObject* object) {
    bind::numpy::import();
    if (!PyArray_Check(object) || PyArray_NDIM(reinterpret_cast<PyArrayObject*>(object)) != 1 ||
        PyArray_TYPE(reinterpret_cast<PyArrayObject*>(object)) != NPY_INT16 ||
        !PyArray_IS_C_CONTIGUOUS(reinterpret_cast<PyArrayObject*>(object)) ||
        !PyArray_ISALIGNED(reinterpret_cast<PyArrayObject*>(object)) ||
        PyArray_ISBYTESWAPPED(reinterpret_cast<PyArrayObject*>(object))) {
        bind::raise(PyExc_TypeError, "fractions() takes a contiguous, aligned one-dimensional int16 array");
    }
    const Ref held = Ref::borrow(object);
    auto* a = reinterpret_cast<PyArrayObject*>(object);
    npy_intp n = PyArray_DIM(a, 0);
    Ref out = Ref::checked(PyArray_SimpleNew(1, &n, NPY_DOUBLE));
    protocols::fractions_from_levels(static_cast<const std::int16_t*>(PyArray_DATA(a)), static_cast<std::size_t>(n),
                                     static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get()))));
    return out;
}

NumpyScalar numpy_scalar(PyObject* o) {
    if (!numpy_in_use()) return NumpyScalar::None;
    if (PyArray_IsScalar(o, Bool)) return NumpyScalar::Bool;
    if (PyArray_IsScalar(o, Integer)) return NumpyScalar::Integer;
    if (PyArray_IsScalar(o, Floating)) return NumpyScalar::Floating;
    return NumpyScalar::None;
}

bool numpy_bool_value(PyObject* o) { return PyArrayScalar_VAL(o, Bool) != 0; }

std::optional<std::uint64_t> numpy_unsigned_value(PyObject* o) {
    if (PyArray_IsScalar(o, UnsignedInteger)) return cast_scalar<unsigned long long>(o, NPY_ULONGLONG);
    const long long v = cast_scalar<long long>(o, NPY_LONGLONG);
    if (v < 0) return std::nullopt;
    return static_cast<std::uint64_t>(v);
}

std::optional<double> numpy_double_value(PyObject* o) {
    if (PyArray_IsScalar(o, LongDouble)) {
        // Converted here: NumPy's cast would give inf with a warning.
        const long double v = PyArrayScalar_VAL(o, LongDouble);
        const auto d = static_cast<double>(v);
        if (std::isfinite(v) && !std::isfinite(d)) return std::nullopt;
        return d;
    }
    return cast_scalar<double>(o, NPY_DOUBLE);
}

void forget_numpy() noexcept { bind::numpy::forget(); }

}  // namespace drel
