// Failed checks. A check that fails stops the operation; the entry guard
// reports it on stderr and raises it as pyo3_runtime.PanicException, which
// derives from BaseException so that `except Exception` lets it through.
#pragma once

#include <Python.h>

#include <source_location>
#include <string>
#include <string_view>

#include "ref.hpp"

namespace pydrel {

class Panic {
public:
    Panic(std::string message, std::source_location where) : message_(std::move(message)), where_(where) {}
    const std::string& message() const noexcept { return message_; }
    const std::source_location& where() const noexcept { return where_; }

private:
    std::string message_;
    std::source_location where_;
};

[[noreturn]] inline void panic(std::string message,
                               std::source_location where = std::source_location::current()) {
    throw Panic(std::move(message), where);
}

// `message` is the whole text the caller sees, e.g. "assertion failed: duration >= 0.01".
inline void check(bool condition, std::string_view message,
                  std::source_location where = std::source_location::current()) {
    if (!condition) panic(std::string(message), where);
}

// Writes the one-line report to stderr and sets a PanicException carrying the message.
void raise_panic(const Panic& panic) noexcept;

// A new PanicException type; empty with the error set when that fails.
Ref make_panic_type() noexcept;

// The PanicException type: made on the first failed check and kept with the
// module (module.cpp). Empty with the error set when making it failed.
Ref panic_exception_type() noexcept;

}  // namespace pydrel
