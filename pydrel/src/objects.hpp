// The layouts of the module's objects and access to its three types.
#pragma once

#include <Python.h>

#include <cstdint>
#include <cstring>

#include "borrow.hpp"
#include "protocols/settings.hpp"
#include "ref.hpp"

namespace pydrel {

struct ProtocolObject {
    PyObject_HEAD
    BorrowFlag borrow;
    protocols::Settings settings;
};

// A member of Coil or Channel.
struct MemberObject {
    PyObject_HEAD
    BorrowFlag borrow;
    std::uint8_t value;
};

inline ProtocolObject* as_protocol(PyObject* o) noexcept { return reinterpret_cast<ProtocolObject*>(o); }
inline MemberObject* as_member(PyObject* o) noexcept { return reinterpret_cast<MemberObject*>(o); }

// The types, made on first use and kept for the life of the process.
PyTypeObject* protocol_type();
PyTypeObject* coil_type();
PyTypeObject* channel_type();

// "Coil" for builtins.Coil: the name cast errors use for a target type.
inline const char* type_short_name(PyTypeObject* type) noexcept {
    const char* dot = std::strrchr(type->tp_name, '.');
    return dot != nullptr ? dot + 1 : type->tp_name;
}

// The receiver of a Protocol method or slot, after the type check.
ProtocolObject& protocol_receiver(PyObject* self);

}  // namespace pydrel
