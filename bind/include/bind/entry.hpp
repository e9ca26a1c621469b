// The one boundary between the interpreter and C++: every entry point runs its
// operation inside `entry`, which turns the operation's outcome into what the
// C API expects.
#pragma once

#include <Python.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

#include "bind/panic.hpp"
#include "bind/ref.hpp"

namespace bind {

[[noreturn]] inline void abort_at_boundary() noexcept {
    std::fputs("uncaught panic at ffi boundary\n", stderr);
    std::abort();
}

// Runs `op`, which returns a Ref (the result) or throws:
//   PythonError     - a Python exception is already set; passed on;
//   Panic           - a failed check; raised as PanicException;
//   std::bad_alloc  - raised as MemoryError; the operation left its object as it was;
//   std::exception  - any other, raised as RuntimeError with its what().
// Returns the new reference or nullptr with an exception set.
template <class Op>
PyObject* entry(Op&& op) noexcept {
    try {
        return op().release();
    } catch (const PythonError&) {
        return nullptr;
    } catch (const Panic& p) {
        raise_panic(p);
        return nullptr;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return nullptr;
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
        return nullptr;
    } catch (...) {
        abort_at_boundary();
    }
}

// For the release routine, which has no result to report.
template <class Op>
void entry_void(Op&& op) noexcept {
    try {
        op();
    } catch (...) {
        abort_at_boundary();
    }
}

}  // namespace bind
