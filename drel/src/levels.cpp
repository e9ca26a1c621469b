#include "levels.hpp"

// Built against NumPy 2 headers; the calls used here exist in NumPy 1.22 on.
#define NPY_NO_DEPRECATED_API NPY_1_22_API_VERSION
#define NPY_TARGET_VERSION NPY_1_22_API_VERSION
#include <numpy/arrayobject.h>

#include <memory>
#include <utility>


namespace drel {

using bind::Ref;

namespace {

// Whether NumPy's C interface was imported and passed its checks (its
// importer sets PyArray_API before checking, so that cannot tell).
bool numpy_imported = false;

void import_numpy() {
    if (numpy_imported) return;
    if (_import_array() < 0) {
        PyArray_API = nullptr;
        throw bind::PythonError{};
    }
    numpy_imported = true;
}

constexpr const char* LEVELS_CAPSULE = "drel.levels";

void free_levels(PyObject* capsule) {
    delete static_cast<std::vector<std::int16_t>*>(PyCapsule_GetPointer(capsule, LEVELS_CAPSULE));
}

}  // namespace

Ref levels_array(std::vector<std::int16_t>&& levels) {
    import_numpy();
    // The array's memory is the vector's; a capsule that frees it is the array's base.
    auto owned = std::make_unique<std::vector<std::int16_t>>(std::move(levels));
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

std::vector<std::int16_t> levels_of(PyObject* object, const std::string& field) {
    import_numpy();
    if (!PyArray_Check(object)) {
        bind::raise(PyExc_TypeError, Ref::steal(PyUnicode_FromFormat("%s must be a NumPy array of int16, not '%s'",
                                                                      field.c_str(), Py_TYPE(object)->tp_name)));
    }
    // A safe cast only: int8 and uint8 become int16, wider integers do not.
    Ref array = Ref::checked(PyArray_FromAny(object, PyArray_DescrFromType(NPY_INT16), 1, 1,
                                             NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_ALIGNED, nullptr));
    auto* a = reinterpret_cast<PyArrayObject*>(array.get());
    const auto* data = static_cast<const std::int16_t*>(PyArray_DATA(a));
    return {data, data + PyArray_DIM(a, 0)};
}

void forget_numpy() noexcept {
    numpy_imported = false;
    PyArray_API = nullptr;
}

}  // namespace drel
