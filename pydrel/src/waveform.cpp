// The conversion of the samples is the protocol library's, at the level the
// module chose when it loaded; here they are read in blocks, in any layout.
#include "waveform.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "bind/convert.hpp"
#include "bind/numpy.hpp"
#include "bind/panic.hpp"
#include "bind/ref.hpp"
#include "hints.hpp"
#include "protocols/hints.hpp"
#include "protocols/config.hpp"
#include "protocols/huge_pages.hpp"
#include "protocols/waveform.hpp"

namespace pydrel {

using namespace bind;

namespace {

// Samples are checked and converted a block at a time, so that a block that
// holds a bad sample can be walked again for the first one.
constexpr std::size_t BLOCK = 2048;

// Converts a block of samples; false when one lies outside [0, 1].
bool append_levels(const double* first, std::ptrdiff_t step, std::size_t n, protocols::Levels& out) {
    const std::size_t at = out.size();
    out.resize(at + n);  // within the reserved capacity
    return protocols::levels_from_fractions(first, step, n, out.data() + at);
}

}  // namespace

void forget_numpy() noexcept { bind::numpy::forget(); }

Waveform Waveform::accept(PyObject* samples) {
    bind::numpy::import();
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

protocols::Levels Waveform::levels() const {
    const auto n = static_cast<std::size_t>(size_);
    protocols::Levels out;
    out.reserve(n);
    protocols::prefer_huge_pages(out.data(), n * sizeof(std::int16_t));  // written once, start to end
    // Arrays need not be aligned; element-aligned data is read as doubles.
    const bool aligned = reinterpret_cast<std::uintptr_t>(data_) % alignof(double) == 0 &&
                         stride_ % static_cast<Py_ssize_t>(sizeof(double)) == 0;
    const std::ptrdiff_t step = stride_ / static_cast<Py_ssize_t>(sizeof(double));
    std::array<double, BLOCK> flat;
    for (std::size_t start = 0; start < n; start += BLOCK) {
        const std::size_t count = std::min(BLOCK, n - start);
        const char* first = data_ + static_cast<Py_ssize_t>(start) * stride_;
        const auto* doubles = reinterpret_cast<const double*>(first);
        bool inside;
        if (aligned && (step == 1 || step == -1 || step == 2)) {
            inside = append_levels(doubles, step, count, out);
        } else {
            // Any other layout (other strides, broadcast, unaligned) is copied
            // into a flat block first.
            for (std::size_t i = 0; i < count; ++i) {
                std::memcpy(&flat[i], first + static_cast<Py_ssize_t>(i) * stride_, sizeof(double));
            }
            inside = append_levels(flat.data(), 1, count, out);
        }
        if (!inside) fail_in(start, count);
    }
    return out;
}

double Waveform::sample(std::size_t i) const noexcept {
    double x;
    std::memcpy(&x, data_ + static_cast<Py_ssize_t>(i) * stride_, sizeof x);
    return x;
}

void Waveform::fail_in(std::size_t start, std::size_t count) const {
    namespace config = protocols::config;
    for (std::size_t i = start; i < start + count; ++i) {
        const double x = sample(i);
        const auto note = [&] {
            bool within = true;  // of -1.0 to 1.0, as a sine's samples are
            for (std::size_t k = 0; k < size() && within; ++k) within = std::abs(sample(k)) <= 1.0;
            return protocols::hints::sample(i, x, within);
        };
        require_noted(x >= config::MIN_FRACTION, config::SAMPLE_AT_LEAST_MIN, note);  // NaN fails here
        require_noted(x <= config::MAX_FRACTION, config::SAMPLE_AT_MOST_MAX, note);
    }
    std::abort();  // the block was found to hold such a sample
}

}  // namespace pydrel
