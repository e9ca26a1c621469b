// The module's three classes: making them, and telling their instances.
#pragma once

#include <Python.h>

#include "bind/ref.hpp"

namespace pydrel {

using namespace bind;

// Made by each import of the module into a new interpreter. The module keeps
// them (see module.cpp).
Ref make_protocol_type();
Ref make_coil_type();
Ref make_channel_type();

// Members are class attributes of their own class: a cycle that the garbage
// collector does not see, as members take no part in it. Deleting them from
// the class lets it go when the module is forgotten.
void drop_members(PyObject* type) noexcept;

// Whether `o` is a Protocol. The class cannot be subclassed, so a slot
// function of its own identifies it; the test holds without the module, for
// objects that outlive it while an interpreter is finalised.
bool is_protocol(PyObject* o) noexcept;

}  // namespace pydrel
