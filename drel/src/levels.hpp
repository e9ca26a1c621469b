// Waveform levels as NumPy arrays. NumPy is imported on first use.
#pragma once

#include <Python.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bind/ref.hpp"

namespace drel {

// A read-only one-dimensional int16 array that owns `levels`, without a copy.
bind::Ref levels_array(std::vector<std::int16_t>&& levels);

// The levels of a one-dimensional array that converts safely to int16 (a
// TypeError names `field` otherwise).
std::vector<std::int16_t> levels_of(PyObject* array, const std::string& field);

// Forgets NumPy's C interface, for a new interpreter to import it afresh.
void forget_numpy() noexcept;

}  // namespace drel
