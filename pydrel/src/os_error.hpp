// Errors of the file operations of save(), rendered for the failure message.
#pragma once

#include <string>
#include <string_view>

namespace pydrel {

// The name of the error kind of an operating-system error number.
std::string_view error_kind_name(int code) noexcept;

// "Os { code: 2, kind: NotFound, message: \"No such file or directory\" }"
std::string render_os_error(int code);

// "Error { kind: InvalidInput, message: \"...\" }", for errors found before
// or after the system was asked.
std::string render_simple_error(std::string_view kind, std::string_view message);

}  // namespace pydrel
