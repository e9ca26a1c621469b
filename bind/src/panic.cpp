#include "bind/panic.hpp"

#include <unistd.h>

#include <cstdio>

#include "bind/notes.hpp"
#include "bind/ref.hpp"

namespace bind {
namespace {

constexpr const char* PANIC_DOC =
    "\n"
    "The exception raised when native code called from Python fails one of its checks.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that it will\n"
    "typically propagate all the way through the stack and cause the Python interpreter to exit.\n";

// One type for every extension in the interpreter, pydrel's and drel's:
// each links its own copy of this layer, so the type lives in the
// interpreter's dictionary for extensions, under this key.
constexpr const char* PANIC_KEY = "pyo3_runtime.PanicException";

Ref make_panic_type() noexcept {
    return Ref::steal(
        PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", PANIC_DOC, PyExc_BaseException, nullptr));
}

}  // namespace

Ref panic_type() noexcept {
    PyObject* shared = PyInterpreterState_GetDict(PyInterpreterState_Get());
    if (shared != nullptr) {
        PyObject* found = nullptr;
        if (PyDict_GetItemStringRef(shared, PANIC_KEY, &found) < 0) return Ref();
        if (found != nullptr) return Ref::steal(found);
    }
    Ref type = make_panic_type();
    if (type && shared != nullptr && PyDict_SetItemString(shared, PANIC_KEY, type.get()) < 0) return Ref();
    return type;
}

namespace {

const char* thread_name() noexcept { return ::gettid() == ::getpid() ? "main" : "<unnamed>"; }

}  // namespace

void raise_panic(const Panic& panic) noexcept {
    std::fprintf(stderr, "thread '%s' panicked at %s:%u: %s\n", thread_name(), panic.where().file_name(),
                 static_cast<unsigned>(panic.where().line()), panic.message().c_str());
    Ref type = panic_type();
    if (!type) return;  // creating the type failed and set that error
    Ref message = Ref::steal(
        PyUnicode_FromStringAndSize(panic.message().data(), static_cast<Py_ssize_t>(panic.message().size())));
    if (!message) return;
    PyErr_SetObject(type.get(), message.get());
    if (!panic.note().empty()) note_current([&](PyObject*) { return panic.note(); });
}

void release_panic_type() noexcept {
    PyObject* shared = PyInterpreterState_GetDict(PyInterpreterState_Get());
    if (shared == nullptr) return;
    PyObject* error = PyErr_GetRaisedException();
    if (PyDict_DelItemString(shared, PANIC_KEY) < 0) PyErr_Clear();  // absent, or cannot be dropped
    PyErr_SetRaisedException(error);
}

}  // namespace bind
