// Vector code (the convention is in the top-level CMakeLists.txt): the sample
// loop vectorises at the -O3 of optimised builds, and only without trapping
// math; its AVX-512 and AVX2 versions are chosen at load time by
// `target_clones`.
#include "waveform.hpp"

// Built against NumPy 2 headers; the calls used here exist in NumPy 1.22 on.
#define NPY_NO_DEPRECATED_API NPY_1_22_API_VERSION
#define NPY_TARGET_VERSION NPY_1_22_API_VERSION
#include <numpy/arrayobject.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "bind/convert.hpp"
#include "bind/panic.hpp"
#include "bind/ref.hpp"
#include "protocols/config.hpp"

namespace pydrel {

using namespace bind;

namespace {

// Whether NumPy's C interface was imported and passed its checks. NumPy's
// importer sets PyArray_API before it checks the ABI and features, so a
// failed import leaves it set: it cannot tell success.
bool numpy_imported = false;

// NumPy's import_array macros print the import error and replace it with a
// generic one; calling the importer directly passes the real ImportError on.
// After a failure every call tries again, and fails again.
void import_numpy() {
    if (numpy_imported) return;
    if (_import_array() < 0) {
        PyArray_API = nullptr;
        throw PythonError{};
    }
    numpy_imported = true;
}

// Samples are checked and converted a block at a time, so that a block that
// holds a bad sample can be walked again for the first one.
constexpr std::size_t BLOCK = 2048;

// Added before truncation, this is round-half-away-from-zero for every
// y = x * 32767 with x in [0, 1]: exact halves reach the next integer, and
// the largest double below a half does not. Unlike std::round it vectorises.
constexpr double HALF_BELOW = 0.49999999999999994;
static_assert(HALF_BELOW < 0.5 && 0.5 - HALF_BELOW == 0x1p-54);

// One branch-free pass over n samples `STEP` doubles apart: writes the level
// of every sample and returns whether all lay inside [0, 1] (NaN does not).
// Those outside are converted as 0.0, so that no conversion overflows; the
// caller then discards the block.
template <std::ptrdiff_t STEP>
[[gnu::always_inline]] inline bool write_levels_all_inside(const double* first, std::size_t n,
                                                           std::int16_t* out) noexcept {
    std::int64_t outside = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double v = first[static_cast<std::ptrdiff_t>(i) * STEP];
        const bool inside = (v >= protocols::config::MIN_FRACTION) & (v <= protocols::config::MAX_FRACTION);
        outside |= !inside;
        const double fraction = inside ? v : 0.0;
        out[i] = static_cast<std::int16_t>(
            static_cast<std::int32_t>(fraction * protocols::config::LEVEL_FULL_SCALE + HALF_BELOW));
    }
    return outside == 0;
}

// The common layouts have their step fixed at compile time, where the loads
// vectorise too: flat (1), reversed (-1) and every other element (2). Each
// has its versions for AVX-512, AVX2 and baseline x86-64.
// (Clang multiversions no function templates, hence three functions.)
[[gnu::target_clones("arch=x86-64-v4", "avx2", "default")]]
bool write_levels_flat(const double* first, std::size_t n, std::int16_t* out) noexcept {
    return write_levels_all_inside<1>(first, n, out);
}
[[gnu::target_clones("arch=x86-64-v4", "avx2", "default")]]
bool write_levels_reversed(const double* first, std::size_t n, std::int16_t* out) noexcept {
    return write_levels_all_inside<-1>(first, n, out);
}
[[gnu::target_clones("arch=x86-64-v4", "avx2", "default")]]
bool write_levels_every_other(const double* first, std::size_t n, std::int16_t* out) noexcept {
    return write_levels_all_inside<2>(first, n, out);
}

template <std::ptrdiff_t STEP>
bool write_levels_at_step(const double* first, std::size_t n, std::int16_t* out) noexcept {
    if constexpr (STEP == 1) return write_levels_flat(first, n, out);
    else if constexpr (STEP == -1) return write_levels_reversed(first, n, out);
    else return write_levels_every_other(first, n, out);
}

// Raises the check of the first sample of the block outside [0, 1].
[[noreturn]] void fail_first_outside(const double* first, std::ptrdiff_t step, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const double sample = first[static_cast<std::ptrdiff_t>(i) * step];
        require(sample >= protocols::config::MIN_FRACTION, protocols::config::SAMPLE_AT_LEAST_MIN);  // NaN fails here
        require(sample <= protocols::config::MAX_FRACTION, protocols::config::SAMPLE_AT_MOST_MAX);
    }
    std::abort();  // the block was found to hold such a sample
}

template <std::ptrdiff_t STEP>
void append_levels(const double* first, std::size_t n, std::vector<std::int16_t>& out) {
    const std::size_t at = out.size();
    out.resize(at + n);  // within the reserved capacity
    if (!write_levels_at_step<STEP>(first, n, out.data() + at)) fail_first_outside(first, STEP, n);
}

}  // namespace

void forget_numpy() noexcept {
    numpy_imported = false;
    PyArray_API = nullptr;
}

Waveform Waveform::accept(PyObject* samples) {
    import_numpy();
    if (!PyArray_Check(samples)) raise_cast_error(samples, "ndarray");
    auto* array = reinterpret_cast<PyArrayObject*>(samples);
    Ref float64 = Ref::checked(reinterpret_cast<PyObject*>(PyArray_DescrFromType(NPY_DOUBLE)));
    if (PyArray_NDIM(array) != 1 ||
        !PyArray_EquivTypes(PyArray_DESCR(array), reinterpret_cast<PyArray_Descr*>(float64.get()))) {
        raise_cast_error(samples, "ndarray");
    }
    return Waveform(Ref::borrow(samples), static_cast<const char*>(PyArray_DATA(array)), PyArray_DIMS(array)[0],
                    PyArray_STRIDES(array)[0]);
}

std::vector<std::int16_t> Waveform::levels() const {
    const auto n = static_cast<std::size_t>(size_);
    std::vector<std::int16_t> out;
    out.reserve(n);
    // Arrays need not be aligned; element-aligned data is read as doubles.
    const bool aligned = reinterpret_cast<std::uintptr_t>(data_) % alignof(double) == 0 &&
                         stride_ % static_cast<Py_ssize_t>(sizeof(double)) == 0;
    const std::ptrdiff_t step = stride_ / static_cast<Py_ssize_t>(sizeof(double));
    std::array<double, BLOCK> flat;
    for (std::size_t start = 0; start < n; start += BLOCK) {
        const std::size_t count = std::min(BLOCK, n - start);
        const char* first = data_ + static_cast<Py_ssize_t>(start) * stride_;
        const auto* doubles = reinterpret_cast<const double*>(first);
        if (aligned && step == 1) {
            append_levels<1>(doubles, count, out);
        } else if (aligned && step == -1) {
            append_levels<-1>(doubles, count, out);
        } else if (aligned && step == 2) {
            append_levels<2>(doubles, count, out);
        } else {
            // Any other layout (other strides, broadcast, unaligned) is copied
            // into a flat block first.
            for (std::size_t i = 0; i < count; ++i) {
                std::memcpy(&flat[i], first + static_cast<Py_ssize_t>(i) * stride_, sizeof(double));
            }
            append_levels<1>(flat.data(), count, out);
        }
    }
    return out;
}

}  // namespace pydrel
