// Protocol's methods, as the method table registers them.
#pragma once

#include <Python.h>

#include <cstdint>

#include "protocols/settings.hpp"

namespace pydrel {

// Session parameters.
PyObject* set_stimulation_intensity(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* set_session_duration(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* enable_channel(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* get_num_samples(PyObject*, PyObject*);
PyObject* get_sampling_rate(PyObject*, PyObject*);

// Signals.
PyObject* add_constant_signal(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* add_sine_signal(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* add_ramp_signal(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* add_mixed_signal(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* add_arbitrary_signal(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

// Sources.
PyObject* set_amplitude_source(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* set_modulation_source(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

// Saving.
PyObject* save(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

// The number of samples of the session; shared with the waveform check.
std::uint64_t num_samples(const protocols::Settings& settings);

}  // namespace pydrel
