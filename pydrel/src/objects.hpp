// The layouts of the module's objects and access to its three types.
#pragma once

#include <Python.h>

#include <cstdint>

#include "bind/borrow.hpp"
#include "bind/convert.hpp"
#include "bind/ref.hpp"
#include "protocols/settings.hpp"

namespace pydrel {

struct ProtocolObject {
    PyObject_HEAD
    BorrowFlag borrow;
    protocols::Settings settings;

    // The receiver of a Protocol method or slot, after the type check.
    static ProtocolObject& from(PyObject* self);
};

// A member of Coil or Channel.
struct MemberObject {
    PyObject_HEAD
    BorrowFlag borrow;
    std::uint8_t value;
};

inline ProtocolObject* as_protocol(PyObject* o) noexcept { return reinterpret_cast<ProtocolObject*>(o); }
inline MemberObject* as_member(PyObject* o) noexcept { return reinterpret_cast<MemberObject*>(o); }

// The three classes, made by each import of the module into a new
// interpreter. The module keeps them (see module.cpp).
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

// The member value of argument i, a Coil or a Channel instance.
std::uint8_t coil_argument(const Args& args, std::size_t i);
std::uint8_t channel_argument(const Args& args, std::size_t i);

}  // namespace pydrel
