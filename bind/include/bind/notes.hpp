// Help beside a failure's message. A traceback prints an exception's notes
// (PEP 678) under its message, while its type, its args and str() stay as
// they are; so the messages that scripts match on never change, and what to
// do about them goes into a note. Notes are built only when a call failed.
#pragma once

#include <Python.h>

#include <string>
#include <utility>

#include "bind/ref.hpp"

namespace bind {

// Adds `note` to `exception`. When that fails, the exception stays as it
// was, without the note, and nothing else is set.
void add_note(PyObject* exception, const std::string& note) noexcept;

// Adds to the exception that is set now the text that note(exception)
// returns, unless it is empty. The note is built with no exception set, so
// the Python calls it makes cannot clobber the failure it describes; when
// building it fails, the failure goes on without a note.
template <class Note>
void note_current(Note&& note) noexcept {
    Ref raised = Ref::steal(PyErr_GetRaisedException());
    if (!raised) return;
    std::string text;
    try {
        text = note(raised.get());
    } catch (...) {
        text.clear();
    }
    if (PyErr_Occurred()) PyErr_Clear();
    if (!text.empty()) add_note(raised.get(), text);
    PyErr_SetRaisedException(raised.release());
}

// Runs f(); when it fails with a Python exception, notes it (above) and
// passes the failure on.
template <class F, class Note>
decltype(auto) noted(F&& f, Note&& note) {
    try {
        return std::forward<F>(f)();
    } catch (const PythonError&) {
        note_current(std::forward<Note>(note));
        throw;
    }
}

// Whether `exception` is exactly of `type` (no subclass).
inline bool is_exactly(PyObject* exception, PyObject* type) noexcept {
    return Py_IS_TYPE(exception, reinterpret_cast<PyTypeObject*>(type));
}

}  // namespace bind
