// The call sequence every Protocol method follows: match the arguments, check
// the receiver, borrow the protocol, convert the arguments (in the body, in
// parameter order), run the operation; borrows end on every way out.
#pragma once

#include <Python.h>

#include <array>

#include "args.hpp"
#include "convert.hpp"
#include "entry.hpp"
#include "objects.hpp"

namespace pydrel {

inline Ref none() { return Ref::borrow(Py_None); }

// For methods that may change the protocol: `body(settings, args)` runs under
// the exclusive borrow and returns the result.
template <const auto& PARAMS, class Body>
PyObject* call_exclusive(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                         Body&& body) {
    return entry([&] {
        std::array<PyObject*, PARAMS.names.size()> slots{};
        match(PARAMS, args, nargs, kwnames, slots);
        ProtocolObject& protocol = protocol_receiver(self);
        ExclusiveBorrow borrow(protocol.borrow);
        Args converted(view(PARAMS), slots);
        return body(protocol.settings, converted);
    });
}

}  // namespace pydrel
