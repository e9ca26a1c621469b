// The interpreter that owns an extension's process-wide state, and the
// interpreter lock released around a wait.
#pragma once

#include <Python.h>

#include <atomic>
#include <cstdint>
#include <utility>

#include "bind/ref.hpp"

namespace bind {

// An extension whose classes and references are process-wide serves one
// interpreter at a time: the first to import it, until that interpreter is
// finalised. Another interpreter's import (a subinterpreter's, say) is
// refused, and so cannot rebind what the owner uses.
class InterpreterOwner {
public:
    // Claims the extension for the current interpreter, or raises ImportError
    // "NAME does not support subinterpreters: ...". Claiming it again from
    // the owner is a no-op.
    void claim(const char* name) {
        const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
        if (id == -1) throw PythonError{};
        std::int64_t current = NONE;
        if (!owner_.compare_exchange_strong(current, id) && current != id) {
            Ref message = Ref::steal(PyUnicode_FromFormat(
                "%s does not support subinterpreters: it can be imported in one interpreter per process only",
                name));
            raise(PyExc_ImportError, std::move(message));
        }
    }
    // Frees the extension for the next interpreter.
    void release() noexcept { owner_.store(NONE); }

private:
    static constexpr std::int64_t NONE = -1;
    std::atomic<std::int64_t> owner_{NONE};
};

// Releases the interpreter lock for its lifetime, as around a read that may
// wait; reacquire() takes it back early, for Python code (a signal handler)
// that must run in between, and release() gives it up again.
class AllowThreads {
public:
    AllowThreads() noexcept : saved_(PyEval_SaveThread()) {}
    AllowThreads(const AllowThreads&) = delete;
    AllowThreads& operator=(const AllowThreads&) = delete;
    ~AllowThreads() { reacquire(); }
    void reacquire() noexcept {
        if (saved_ != nullptr) PyEval_RestoreThread(std::exchange(saved_, nullptr));
    }
    void release() noexcept {
        if (saved_ == nullptr) saved_ = PyEval_SaveThread();
    }

private:
    PyThreadState* saved_;
};

}  // namespace bind
