// Waveform levels as NumPy arrays, and NumPy's scalars in the fields of
// hand-built records. NumPy is imported on first use.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "bind/ref.hpp"
#include "protocols/signals.hpp"

namespace drel {

// A read-only one-dimensional int16 array that owns `levels`, without a copy.
bind::Ref levels_array(protocols::Levels&& levels);

// Whether `o` is an array that levels_array() made: read-only for good, so
// that it can stand for its levels wherever they are copied.
bool is_levels_array(PyObject* o) noexcept;

// The levels of a one-dimensional NumPy array of integers of any width,
// layout and byte order, every value a 16-bit level. Read from the array's
// memory, so no Python code runs while it is read. TypeError or ValueError
// naming `path` (or the element, "signals[1].samples[7]") otherwise.
protocols::Levels levels_of(PyObject* array, const std::string& path);

// The levels of such an array as they stand: its own memory when it is a
// contiguous int16 array of this machine's byte order (`copy` stays empty),
// else a copy made by levels_of() into `copy`.
std::span<const std::int16_t> levels_in(PyObject* array, const std::string& path, protocols::Levels& copy);

// A new float64 array of the levels' fractions of full scale, level / 32767.
bind::Ref fractions_of(PyObject* levels);

// NumPy's scalars, told apart without importing NumPy where it is not
// imported yet (no NumPy scalar exists then).
enum class NumpyScalar { None, Bool, Integer, Floating };
NumpyScalar numpy_scalar(PyObject* o);
// The value of a NumPy bool.
bool numpy_bool_value(PyObject* o);
// The value of a NumPy integer, or none when it is negative.
std::optional<std::uint64_t> numpy_unsigned_value(PyObject* o);
// The value of a NumPy integer or floating scalar, as a double; none for a
// finite one beyond a double's range (a long double can be).
std::optional<double> numpy_double_value(PyObject* o);

// Forgets NumPy's C interface, for a new interpreter to import it afresh.
void forget_numpy() noexcept;

}  // namespace drel
