#include "bind/notes.hpp"

namespace bind {

void add_note(PyObject* exception, const std::string& note) noexcept {
    Ref text = Ref::steal(PyUnicode_DecodeUTF8(note.data(), static_cast<Py_ssize_t>(note.size()), "replace"));
    Ref added = text ? Ref::steal(PyObject_CallMethod(exception, "add_note", "O", text.get())) : Ref();
    if (!added) PyErr_Clear();
}

}  // namespace bind
