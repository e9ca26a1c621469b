// Reading an arbitrary waveform from a NumPy array.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "bind/ref.hpp"
#include "protocols/signals.hpp"

namespace pydrel {

using namespace bind;

// A one-dimensional float64 array, accepted but not yet read; the view keeps
// the array, and so its data, alive. Importing NumPy happens here, on first
// use, so that importing pydrel does not import it.
class Waveform {
public:
    // Raises ImportError when NumPy is unavailable and the cast error for
    // 'ndarray' for anything but a 1-D array of native float64.
    static Waveform accept(PyObject* samples);

    std::uint64_t size() const noexcept { return static_cast<std::uint64_t>(size_); }

    // One level per sample in logical order: round(sample * 32767), halves
    // away from zero. Fails the check of the first sample outside [0, 1].
    protocols::Levels levels() const;

private:
    double sample(std::size_t i) const noexcept;
    // Fails the check of the first sample of samples start to start + count
    // that lies outside [0, 1], with its hint.
    [[noreturn]] void fail_in(std::size_t start, std::size_t count) const;

    Waveform(Ref array, const char* data, Py_ssize_t size, Py_ssize_t stride)
        : array_(std::move(array)), data_(data), size_(size), stride_(stride) {}
    Ref array_;
    const char* data_;
    Py_ssize_t size_;
    Py_ssize_t stride_;
};

// Forgets NumPy's C interface, for a new interpreter to import it afresh.
void forget_numpy() noexcept;

}  // namespace pydrel
