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

bool keeping = false;
NeverDestroyed<Ref> kept;

Ref make_panic_type() noexcept {
    return Ref::steal(
        PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", PANIC_DOC, PyExc_BaseException, nullptr));
}

// Empty, with the error set, when making the type failed.
Ref panic_exception_type() noexcept {
    if (!keeping) return make_panic_type();
    if (!*kept) *kept = make_panic_type();
    return Ref::borrow(kept->get());
}

const char* thread_name() noexcept { return ::gettid() == ::getpid() ? "main" : "<unnamed>"; }

}  // namespace

void raise_panic(const Panic& panic) noexcept {
    std::fprintf(stderr, "thread '%s' panicked at %s:%u: %s\n", thread_name(), panic.where().file_name(),
                 static_cast<unsigned>(panic.where().line()), panic.message().c_str());
    Ref type = panic_exception_type();
    if (!type) return;  // creating the type failed and set that error
    Ref message = Ref::steal(
        PyUnicode_FromStringAndSize(panic.message().data(), static_cast<Py_ssize_t>(panic.message().size())));
    if (!message) return;
    PyErr_SetObject(type.get(), message.get());
    if (!panic.note().empty()) note_current([&](PyObject*) { return panic.note(); });
}

void keep_panic_type() noexcept { keeping = true; }

void release_panic_type() noexcept {
    keeping = false;
    *kept = Ref();
}

}  // namespace bind
