// Failed checks. A check that fails stops the operation; the entry guard
// reports it on stderr and raises it as pyo3_runtime.PanicException, which
// derives from BaseException so that `except Exception` lets it through.
#pragma once

#include <Python.h>

#include <source_location>
#include <string>
#include <string_view>

#include "bind/ref.hpp"

namespace bind {

class Panic {
public:
    Panic(std::string message, std::source_location where, std::string note = {})
        : message_(std::move(message)), note_(std::move(note)), where_(where) {}
    const std::string& message() const noexcept { return message_; }
    // Help for the caller, raised as the exception's note (bind/notes.hpp);
    // empty for none. Never part of the message or of the report on stderr.
    const std::string& note() const noexcept { return note_; }
    const std::source_location& where() const noexcept { return where_; }

private:
    std::string message_;
    std::string note_;
    std::source_location where_;
};

[[noreturn]] inline void panic(std::string message,
                               std::source_location where = std::source_location::current()) {
    throw Panic(std::move(message), where);
}

// A failed check with a note beside its message.
[[noreturn]] inline void panic_noted(std::string message, std::string note,
                                     std::source_location where = std::source_location::current()) {
    throw Panic(std::move(message), where, std::move(note));
}

// Panics unless `condition` holds. `message` is the whole text the caller
// sees, e.g. "assertion failed: duration >= 0.01".
inline void require(bool condition, std::string_view message,
                  std::source_location where = std::source_location::current()) {
    if (!condition) panic(std::string(message), where);
}

// The same, with the note that note() builds when the check fails.
template <class Note>
inline void require_noted(bool condition, std::string_view message, Note&& note,
                          std::source_location where = std::source_location::current()) {
    if (!condition) panic_noted(std::string(message), note(), where);
}

// Writes the one-line report to stderr and sets a PanicException carrying the message.
void raise_panic(const Panic& panic) noexcept;

// The PanicException type, made on the first failed check (or the first
// time the drel package is asked for it): one for the interpreter, shared by
// every extension that links this layer, so that `except
// drel.PanicException` catches what pydrel raises. Empty, with the error
// set, when making it failed. release_panic_type() drops it when pydrel is
// forgotten, and a check that fails after that makes it again.
Ref panic_type() noexcept;
void release_panic_type() noexcept;

}  // namespace bind
