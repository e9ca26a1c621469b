// drel: reads protocol files back, shows them, and checks them before they
// reach a stimulator. Each file is read through a fixed buffer and its text
// or its findings are written as they are made, so memory holds one decoded
// protocol at a time, whatever the size of the input or the output.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <system_error>
#include <variant>
#include <vector>

#include "input.hpp"
#include "output.hpp"
#include "protocols/check.hpp"
#include "protocols/text_form.hpp"

namespace drel {
namespace {

constexpr const char* USAGE =
    "usage: drel show [--summary] FILE...\n"
    "       drel check [--json] [--strict] FILE...\n"
    "       drel --help | --version\n";

constexpr const char* HELP =
    "\n"
    "Reads protocol files (.drel) back.\n"
    "\n"
    "  show     print each file as text, exactly as str() of the protocol shows it\n"
    "           --summary  shorten each waveform to its length, lowest and highest\n"
    "                      level and its first and last level\n"
    "  check    report what would go wrong on a stimulator, one finding a line:\n"
    "           FILE: error|warning: message\n"
    "           --json     the findings as JSON instead\n"
    "           --strict   count warnings as errors\n"
    "\n"
    "FILE may be any path; - reads standard input.\n"
    "\n"
    "Exit status: 2 when a file could not be read or decoded, or the command\n"
    "line was wrong; else 1 when check found an error in some file (or, with\n"
    "--strict, a warning); else 0. Warnings alone are printed and exit 0.\n";

constexpr int ERRORS = 1;
constexpr int TROUBLE = 2;

// The text of a protocol goes out through a buffer of this size.
constexpr std::size_t TEXT_BUFFER = 256 * 1024;

int show(const std::vector<std::string>& files, protocols::text::Waveforms waveforms, Output& out) {
    int status = 0;
    const auto buffer = std::make_unique_for_overwrite<char[]>(TEXT_BUFFER);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const auto protocol = read_protocol(files[i]);
        if (const auto* error = std::get_if<std::string>(&protocol)) {
            report(out, files[i] + ": cannot be read: " + *error);
            status = TROUBLE;
            continue;
        }
        if (files.size() > 1) out.write((i > 0 ? "\n==> " : "==> ") + files[i] + " <==\n");
        protocols::text::render_protocol(std::get<protocols::Settings>(protocol), waveforms,
                                         {buffer.get(), TEXT_BUFFER}, out);
        out.write("\n");
    }
    return status;
}

int check(const std::vector<std::string>& files, bool as_json, bool strict, Output& out) {
    int status = 0;
    if (as_json) out.write("{\"files\": [");
    for (std::size_t i = 0; i < files.size(); ++i) {
        const auto protocol = read_protocol(files[i]);
        const auto* error = std::get_if<std::string>(&protocol);
        if (error != nullptr) status = TROUBLE;  // the worst of all files
        if (as_json) {
            out.write(std::string(i > 0 ? ", " : "") + "{\"file\": " + json(files[i]) +
                      ", \"error\": " + (error != nullptr ? json(*error) : "null") + ", \"findings\": [");
        } else if (error != nullptr) {
            report(out, files[i] + ": cannot be read: " + *error);
        }
        if (error == nullptr) {
            bool first = true;
            protocols::check(std::get<protocols::Settings>(protocol), [&](const protocols::Finding& f) {
                if (f.severity == protocols::Finding::Severity::Error || strict) status = std::max(status, ERRORS);
                const char* severity = protocols::severity_name(f.severity);
                if (as_json) {
                    out.write(std::string(first ? "" : ", ") + "{\"severity\": \"" + severity +
                              "\", \"message\": " + json(f.message) + "}");
                } else {
                    out.write(files[i] + ": " + severity + ": " + f.message + "\n");
                }
                first = false;
            });
        }
        if (as_json) out.write("]}");
    }
    if (as_json) out.write("]}\n");
    return status;
}

int usage_error(const std::string& problem) {
    std::fprintf(stderr, "drel: %s\n%s", problem.c_str(), USAGE);
    return TROUBLE;
}

int run(const std::vector<std::string>& args, Output& out) {
    if (args.empty()) return usage_error("a command is missing");
    const std::string& command = args[0];
    if (command == "--help" || command == "-h") {
        out.write(std::string(USAGE) + HELP);
        return 0;
    }
    if (command == "--version") {
        out.write("drel " DREL_VERSION "\n");
        return 0;
    }
    if (command != "show" && command != "check") return usage_error("unknown command '" + command + "'");
    bool summary = false, as_json = false, strict = false, options = true;
    std::vector<std::string> files;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (options && a == "--") {
            options = false;
        } else if (options && a == "--summary" && command == "show") {
            summary = true;
        } else if (options && a == "--json" && command == "check") {
            as_json = true;
        } else if (options && a == "--strict" && command == "check") {
            strict = true;
        } else if (options && a.size() > 1 && a[0] == '-') {
            return usage_error("unknown option '" + a + "' for " + command);
        } else {
            files.push_back(a);
        }
    }
    if (files.empty()) return usage_error("no file given");
    return command == "show"
               ? show(files, summary ? protocols::text::Waveforms::Summary : protocols::text::Waveforms::Full, out)
               : check(files, as_json, strict, out);
}

}  // namespace
}  // namespace drel

int main(int argc, char** argv) {
    try {
        drel::Output out;
        const int status = drel::run({argv + 1, argv + argc}, out);
        out.flush();
        return status;
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "drel: writing the output failed: %s\n", std::strerror(e.code().value()));
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "drel: out of memory\n");
    }
    return drel::TROUBLE;
}
