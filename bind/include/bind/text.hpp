// Python strs written in place.
#pragma once

#include <Python.h>

#include <cstddef>
#include <span>
#include <string>

#include "bind/ref.hpp"

namespace bind {

// A str of `size` bytes of UTF-8 that fill(std::span<char>) writes: straight
// into the str's own buffer when every byte is ASCII, else decoded from a
// copy (a text of tens of megabytes is then written once, not grown).
template <class Fill>
Ref utf8_str(std::size_t size, bool ascii, Fill&& fill) {
    if (ascii) {
        Ref text = Ref::checked(PyUnicode_New(static_cast<Py_ssize_t>(size), 127));
        fill(std::span<char>(static_cast<char*>(PyUnicode_DATA(text.get())), size));
        return text;
    }
    std::string bytes(size, '\0');
    fill(std::span<char>(bytes));
    return Ref::checked(PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(size), nullptr));
}

}  // namespace bind
