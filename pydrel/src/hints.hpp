// What to do about the commonest mistakes: the notes that the module adds
// beside its failures' messages (bind/notes.hpp). Each states the facts of
// the failed call and the fix; the messages themselves never change.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pydrel::hints {

// Session parameters outside their limits, or NaN; the notes on values
// are protocols/hints.hpp's, in Python's spelling.
std::string intensity(double x);
std::string duration(double d);

// `given` is no one-dimensional float64 array.
std::string samples_argument(PyObject* given);

// save(): a name that does not end in ".drel"; a path that is no str; a file
// operation ("open", "write", "close") that failed with errno `code`.
std::string suffix(std::string_view path);
std::string filepath_argument(PyObject* given);
std::string file_operation(std::string_view operation, std::string_view path, int code);
// A file operation that failed without an errno: its error's kind and text.
std::string file_operation(std::string_view operation, std::string_view path, std::string_view kind,
                           std::string_view text);

// Arguments of the wrong kind: a Coil or Channel member, `external`, and an
// index outside 0 to 2**64 - 1.
std::string coil_argument();
std::string channel_argument();
std::string external_argument(PyObject* given);
std::string index_argument(std::string_view parameter);

}  // namespace pydrel::hints
