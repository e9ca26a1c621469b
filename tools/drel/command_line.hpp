// drel's command line: its commands, their options and operands, parsed the
// one way for all, with a usage and a help of its own for each command.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "output.hpp"

namespace drel {

struct Option {
    enum Presence { Optional, Required };
    std::string_view name;        // "--json", "-n"
    const char* value = nullptr;  // the name of its value ("COUNT"), or none for a flag
    std::string_view help;
    Presence presence = Optional;  // a required one stands in the usage without brackets
};

// The options given to a command, and its operands (files).
struct Parsed {
    std::vector<std::pair<std::string_view, std::string>> options;  // name, value ("" for a flag)
    std::vector<std::string> operands;

    bool flag(std::string_view name) const;
    std::optional<std::string> value(std::string_view name) const;
};

struct Command {
    std::string_view name;
    std::string_view operands;  // "FILE...", "A B"
    std::string_view summary;
    std::vector<Option> options;
    std::size_t min_operands, max_operands;
    int (*run)(const Parsed&, Output&);
    std::string_view exit_status;  // its paragraph in the command's help
};

// Runs the command that `args` name with its options and operands. "--help"
// or "-h" prints the help of drel, or of the command after which it stands,
// to `out`; a mistake in the command line is reported on standard error with
// the usage, as exit status 2.
int run(const std::vector<Command>& commands, const std::vector<std::string>& args, Output& out);

// "drel: PROBLEM" and the usage of `command` (of every command when empty)
// on standard error; returns 2.
int usage_error(const std::string& problem, std::string_view command = {});

}  // namespace drel
