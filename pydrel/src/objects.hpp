// The layouts of the module's objects.
#pragma once

#include <Python.h>

#include <cstdint>

#include "bind/borrow.hpp"
#include "protocols/settings.hpp"

namespace pydrel {

using namespace bind;

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

}  // namespace pydrel
