// NumPy's C interface, imported on first use, so that importing an extension
// does not import NumPy. Include this in the one file of an extension that
// calls NumPy: NumPy keeps its table of functions in a static variable of
// the file that includes its headers, so each such file has its own, and so
// its own importer here.
#pragma once

// Built against NumPy 2 headers; the calls the extensions make exist in
// NumPy 1.22 on.
#define NPY_NO_DEPRECATED_API NPY_1_22_API_VERSION
#define NPY_TARGET_VERSION NPY_1_22_API_VERSION
#include <numpy/arrayobject.h>
#include <numpy/arrayscalars.h>

#include "bind/ref.hpp"

namespace bind::numpy {
namespace {

// Whether the table was imported and passed NumPy's checks. NumPy's importer
// sets PyArray_API before it checks the ABI and the features, so a failed
// import leaves it set: it cannot tell success.
bool imported = false;

// NumPy's import_array macros print the import error and replace it with a
// generic one; calling the importer directly passes the real ImportError
// on. After a failure every call tries again, and fails again.
inline void import() {
    if (imported) return;
    if (_import_array() < 0) {
        PyArray_API = nullptr;
        throw PythonError{};
    }
    imported = true;
}

// Forgets the table, for a new interpreter to import NumPy afresh.
inline void forget() noexcept {
    imported = false;
    PyArray_API = nullptr;
}

}  // namespace
}  // namespace bind::numpy
