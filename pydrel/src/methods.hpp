// Protocol's methods, as the method table registers them.
#pragma once

#include <Python.h>

#include "bind/call.hpp"
#include "objects.hpp"

namespace pydrel {

using namespace bind;

// A Protocol method that may change the protocol: `body(settings, args)`
// runs under the protocol's exclusive borrow (see bind/call.hpp).
template <const auto& PARAMS, class Body>
PyObject* protocol_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Body&& body) {
    return call_exclusive<ProtocolObject, PARAMS>(self, args, nargs, kwnames,
                                                  [&](ProtocolObject& p, Args& a) { return body(p.settings, a); });
}

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

}  // namespace pydrel
