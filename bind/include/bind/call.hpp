// The call sequence of every method that takes arguments: match the
// arguments, check the receiver, borrow it, convert the arguments (in the
// body, in parameter order), run the operation; borrows end on every way out.
#pragma once

#include <Python.h>

#include <array>

#include "bind/args.hpp"
#include "bind/borrow.hpp"
#include "bind/convert.hpp"
#include "bind/entry.hpp"
#include "bind/ref.hpp"

namespace bind {

inline Ref none() { return Ref::borrow(Py_None); }

// For methods that may change their receiver: `Receiver::from(self)` checks
// the receiver's type and returns it, and its `borrow` flag is held
// exclusively while `body(receiver, args)` runs and returns the result.
template <class Receiver, const auto& PARAMS, class Body>
PyObject* call_exclusive(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                         Body&& body) {
    return entry([&] {
        std::array<PyObject*, PARAMS.names.size()> slots{};
        match(PARAMS, args, nargs, kwnames, slots);
        Receiver& receiver = Receiver::from(self);
        ExclusiveBorrow borrow(receiver.borrow);
        Args converted(view(PARAMS), slots);
        return body(receiver, converted);
    });
}

}  // namespace bind
