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

// Whether `o` is an instance of that class. The classes cannot be
// subclassed, so slot functions of their own identify them; these tests hold
// without the module, for objects that outlive it while an interpreter is
// finalised.
bool is_protocol(PyObject* o) noexcept;
bool is_coil(PyObject* o) noexcept;
bool is_channel(PyObject* o) noexcept;

}  // namespace pydrel
