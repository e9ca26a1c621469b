// The one table of NumPy's functions of an extension, and its importer.
#define BIND_NUMPY_TABLE
#include "bind/numpy.hpp"

#include "bind/ref.hpp"

namespace bind::numpy {
namespace {

// NumPy's importer sets the table before it checks the ABI and the
// features, so a failed import leaves it set: it cannot tell success.
bool imported_ = false;

}  // namespace

bool imported() noexcept { return imported_; }

// NumPy's import_array macros print the import error and replace it with a
// generic one; calling the importer directly passes the real ImportError on.
void import() {
    if (imported_) return;
    if (_import_array() < 0) {
        PyArray_API = nullptr;
        throw PythonError{};
    }
    imported_ = true;
}

void forget() noexcept {
    imported_ = false;
    PyArray_API = nullptr;
}

}  // namespace bind::numpy
