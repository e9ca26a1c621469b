// Owning references to Python objects, and the exception that carries an
// already-set Python error through C++ frames to the entry guard.
#pragma once

#include <Python.h>

#include <memory>
#include <new>
#include <utility>

namespace bind {

// A Python error is set; the entry guard hands it to the interpreter as is.
struct PythonError {};

// Owns one strong reference; releases it when it goes out of scope.
class Ref {
public:
    Ref() noexcept = default;
    Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        Ref(std::move(other)).swap(*this);
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(p_); }

    // Takes over a new reference (nullptr allowed).
    static Ref steal(PyObject* p) noexcept { return Ref(p); }
    // Takes a new reference to a borrowed object.
    static Ref borrow(PyObject* p) noexcept { return Ref(Py_XNewRef(p)); }
    // Takes over a new reference from a C API call: nullptr means an error is set.
    static Ref checked(PyObject* p) {
        if (p == nullptr) throw PythonError{};
        return Ref(p);
    }

    PyObject* get() const noexcept { return p_; }
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    void swap(Ref& other) noexcept { std::swap(p_, other.p_); }

private:
    explicit Ref(PyObject* p) noexcept : p_(p) {}
    PyObject* p_ = nullptr;
};

// A static that the process never destroys, for references kept across
// calls: a destructor run at exit would release them after the interpreter
// is gone. Whoever fills one empties it while the interpreter still runs.
template <class T>
class NeverDestroyed {
public:
    NeverDestroyed() { std::construct_at(get()); }
    NeverDestroyed(const NeverDestroyed&) = delete;
    NeverDestroyed& operator=(const NeverDestroyed&) = delete;
    T* get() noexcept { return std::launder(reinterpret_cast<T*>(storage_)); }
    T& operator*() noexcept { return *get(); }
    T* operator->() noexcept { return get(); }

private:
    alignas(T) unsigned char storage_[sizeof(T)];
};

template <class T>
inline PyObject* as_object(T* p) noexcept {
    return reinterpret_cast<PyObject*>(p);
}

// Throws PythonError when a C API call that returns -1 on failure failed.
inline void throw_on_failure(int status) {
    if (status < 0) throw PythonError{};
}

// Sets `type` with `message` as the current exception and throws.
[[noreturn]] inline void raise(PyObject* type, const char* message) {
    PyErr_SetString(type, message);
    throw PythonError{};
}

// Sets `type` with an already-built message object and throws.
[[noreturn]] inline void raise(PyObject* type, Ref message) {
    if (message) PyErr_SetObject(type, message.get());
    throw PythonError{};
}

}  // namespace bind
