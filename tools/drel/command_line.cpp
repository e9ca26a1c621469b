#include "command_line.hpp"

#include <cctype>
#include <cstdio>

namespace drel {
namespace {

constexpr int TROUBLE = 2;

const std::vector<Command>* known = nullptr;  // for usage_error()

std::string usage_line(const Command& c) {
    std::string line = "drel " + std::string(c.name);
    for (const Option& o : c.options) {
        const bool required = o.presence == Option::Required;
        line += required ? " " : " [";
        line += o.name;
        if (o.value != nullptr) line += " " + std::string(o.value);
        if (!required) line += "]";
    }
    return line + " " + std::string(c.operands);
}

std::string usage(std::string_view command) {
    std::string text;
    for (const Command& c : *known) {
        if (!command.empty() && c.name != command) continue;
        text += (text.empty() ? "usage: " : "       ") + usage_line(c) + "\n";
    }
    if (command.empty()) text += "       drel --help | --version\n";
    return text;
}

// `text` in lines of at most 79 columns, the first after `lead` and the rest
// indented as far.
std::string wrapped(std::string_view lead, std::string_view text) {
    std::string out(lead), line_indent(lead.size(), ' ');
    std::size_t column = lead.size();
    bool first = true;
    while (!text.empty()) {
        const std::size_t space = text.find(' ');
        const std::string_view word = text.substr(0, space);
        text = space == std::string_view::npos ? std::string_view{} : text.substr(space + 1);
        if (!first && column + 1 + word.size() > 79) {
            out += "\n" + line_indent;
            column = line_indent.size();
        } else if (!first) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
        first = false;
    }
    return out + "\n";
}

std::string options_help(const Command& c, std::size_t indent) {
    std::string text;
    for (const Option& o : c.options) {
        std::string lead(indent, ' ');
        lead += o.name;
        if (o.value != nullptr) lead += " " + std::string(o.value);
        lead.resize(std::max(lead.size() + 2, indent + 12), ' ');
        text += wrapped(lead, o.help);
    }
    return text;
}

std::string command_help(const Command& c) {
    std::string summary(c.summary);
    summary[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(summary[0])));
    return usage(c.name) + "\n" + wrapped("", summary + ".") + "\n" + options_help(c, 2) +
           "  -h, --help  this help\n\nA file may be any path; - reads standard input.\n\n" + wrapped("", c.exit_status);
}

std::string drel_help() {
    std::string text = usage({}) + "\nReads protocol files (.drel) back.\n\n";
    for (const Command& c : *known) {
        std::string lead = "  " + std::string(c.name);
        lead.resize(11, ' ');
        text += wrapped(lead, c.summary) + options_help(c, 11);
    }
    return text +
           "\n'drel COMMAND --help' shows a command's help and its exit status.\nA file may be any path; - reads "
           "standard input.\n";
}

}  // namespace

bool Parsed::flag(std::string_view name) const {
    for (const auto& [option, value] : options) {
        if (option == name) return true;
    }
    return false;
}

std::optional<std::string> Parsed::value(std::string_view name) const {
    std::optional<std::string> found;
    for (const auto& [option, value] : options) {
        if (option == name) found = value;  // the last one given
    }
    return found;
}

int usage_error(const std::string& problem, std::string_view command) {
    std::fprintf(stderr, "drel: %s\n%s", problem.c_str(), usage(command).c_str());
    return TROUBLE;
}

int run(const std::vector<Command>& commands, const std::vector<std::string>& args, Output& out) {
    known = &commands;
    if (args.empty()) return usage_error("a command is missing");
    const std::string& name = args[0];
    if (name == "--help" || name == "-h") {
        out.write(drel_help());
        return 0;
    }
    if (name == "--version") {
        out.write("drel " DREL_VERSION "\n");
        return 0;
    }
    const Command* command = nullptr;
    for (const Command& c : commands) {
        if (c.name == name) command = &c;
    }
    if (command == nullptr) return usage_error("unknown command '" + name + "'");
    Parsed parsed;
    bool options = true;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!options || a.size() < 2 || a[0] != '-') {
            parsed.operands.push_back(a);
            continue;
        }
        if (a == "--") {
            options = false;
            continue;
        }
        if (a == "--help" || a == "-h") {
            out.write(command_help(*command));
            return 0;
        }
        const Option* option = nullptr;
        std::optional<std::string> value;
        for (const Option& o : command->options) {
            if (a == o.name) {
                option = &o;
            } else if (o.value != nullptr && a.starts_with(o.name) &&
                       (o.name.size() == 2 || a[o.name.size()] == '=')) {
                option = &o;  // "-n5", "--output=x.svg"
                value = a.substr(o.name.size() + (o.name.size() == 2 ? 0 : 1));
            }
        }
        if (option == nullptr) return usage_error("unknown option '" + a + "' for " + name, name);
        if (option->value != nullptr && !value) {
            if (i + 1 == args.size()) {
                return usage_error("option '" + a + "' needs its " + option->value, name);
            }
            value = args[++i];
        }
        parsed.options.emplace_back(option->name, value.value_or(""));
    }
    const std::size_t n = parsed.operands.size();
    if (n < command->min_operands || n > command->max_operands) {
        if (n == 0) return usage_error("no file given", name);
        return usage_error(std::string(name) + " takes " + std::string(command->operands) + ", not " +
                               std::to_string(n) + (n == 1 ? " file" : " files"),
                           name);
    }
    return command->run(parsed, out);
}

}  // namespace drel
