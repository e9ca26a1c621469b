// NumPy's C interface, imported on first use, so that importing an extension
// does not import NumPy. NumPy keeps its table of functions in a variable
// of the extension's own: bind/src/numpy.cpp defines it and imports it,
// and every other file that includes this header refers to that one table.
#pragma once

// Built against NumPy 2 headers; the calls the extensions make exist in
// NumPy 1.22 on. The names are NumPy's switches for its headers.
#define NPY_NO_DEPRECATED_API NPY_1_22_API_VERSION
#define NPY_TARGET_VERSION NPY_1_22_API_VERSION
#define PY_ARRAY_UNIQUE_SYMBOL bind_numpy_api
#ifndef BIND_NUMPY_TABLE
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>
#include <numpy/arrayscalars.h>

namespace bind::numpy {

// Whether the table was imported and passed NumPy's checks.
bool imported() noexcept;

// Imports the table, the first time; NumPy's ImportError passes on, and
// after a failure every call tries again.
void import();

// Forgets the table, for a new interpreter to import NumPy afresh.
void forget() noexcept;

}  // namespace bind::numpy
