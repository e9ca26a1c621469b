// drel: reads protocol files back, shows them, and checks them before they
// reach a stimulator.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "protocols/check.hpp"
#include "protocols/decode.hpp"
#include "protocols/text_form.hpp"
#include "protocols/utf8.hpp"

namespace {

constexpr const char* USAGE =
    "usage: drel show [--summary] FILE...\n"
    "       drel check [--json] FILE...\n"
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
    "\n"
    "FILE may be any path; - reads standard input.\n"
    "\n"
    "Exit status: 0 when every file was read (and, for check, has no finding);\n"
    "1 when check found errors or warnings; 2 when a file could not be read or\n"
    "decoded, or the command line was wrong.\n";

constexpr int FINDINGS = 1;
constexpr int TROUBLE = 2;

struct Input {
    std::string name;  // as given, "-" for standard input
    std::vector<std::uint8_t> bytes;
    std::string error;  // why it could not be read or decoded
};

Input read_file(const std::string& name) {
    Input in{name, {}, {}};
    std::FILE* f = name == "-" ? stdin : std::fopen(name.c_str(), "rb");
    if (f == nullptr) {
        in.error = std::strerror(errno);
        return in;
    }
    char buf[1 << 16];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) in.bytes.insert(in.bytes.end(), buf, buf + n);
    if (std::ferror(f)) in.error = std::strerror(errno);
    if (f != stdin) std::fclose(f);
    return in;
}

void write_out(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

// A JSON string; file names need not be UTF-8, so they are read leniently.
std::string json(std::string_view s) {
    const std::string text = protocols::utf8::decode_lossy(s);
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\u%04x", static_cast<unsigned>(c));
                    out += hex;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

int show(const std::vector<std::string>& files, protocols::text::Waveforms waveforms) {
    int status = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const Input in = read_file(files[i]);
        std::string error = in.error;
        auto decoded = protocols::decode(in.bytes);
        if (error.empty() && !decoded) error = decoded.error().message;
        if (!error.empty()) {
            std::fprintf(stderr, "%s: cannot be read: %s\n", in.name.c_str(), error.c_str());
            status = TROUBLE;
            continue;
        }
        if (files.size() > 1) write_out((i > 0 ? "\n==> " : "==> ") + in.name + " <==\n");
        write_out(protocols::text::render_protocol(decoded.value(), waveforms));
        write_out("\n");
    }
    return status;
}

int check(const std::vector<std::string>& files, bool as_json) {
    int status = 0;
    std::string report = "{\"files\": [";
    for (std::size_t i = 0; i < files.size(); ++i) {
        const Input in = read_file(files[i]);
        std::string error = in.error;
        std::vector<protocols::Finding> findings;
        if (error.empty()) {
            const auto decoded = protocols::decode(in.bytes);
            if (decoded) findings = protocols::check(decoded.value());
            else error = decoded.error().message;
        }
        if (!error.empty()) {
            status = TROUBLE;
            if (!as_json) std::fprintf(stderr, "%s: cannot be read: %s\n", in.name.c_str(), error.c_str());
        } else if (!findings.empty() && status == 0) {
            status = FINDINGS;
        }
        if (!as_json) {
            for (const auto& f : findings) {
                write_out(in.name + ": " + protocols::severity_name(f.severity) + ": " + f.message + "\n");
            }
            continue;
        }
        report += i > 0 ? ", " : "";
        report += "{\"file\": " + json(in.name) + ", \"error\": " + (error.empty() ? "null" : json(error)) +
                  ", \"findings\": [";
        for (std::size_t k = 0; k < findings.size(); ++k) {
            report += k > 0 ? ", " : "";
            report += std::string("{\"severity\": \"") + protocols::severity_name(findings[k].severity) +
                      "\", \"message\": " + json(findings[k].message) + "}";
        }
        report += "]}";
    }
    if (as_json) write_out(report + "]}\n");
    return status;
}

int usage_error(const std::string& problem) {
    std::fprintf(stderr, "drel: %s\n%s", problem.c_str(), USAGE);
    return TROUBLE;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return usage_error("a command is missing");
    const std::string& command = args[0];
    if (command == "--help" || command == "-h") {
        write_out(std::string(USAGE) + HELP);
        return 0;
    }
    if (command == "--version") {
        write_out("drel " DREL_VERSION "\n");
        return 0;
    }
    if (command != "show" && command != "check") return usage_error("unknown command '" + command + "'");
    bool summary = false, as_json = false, options = true;
    std::vector<std::string> files;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (options && a == "--") {
            options = false;
        } else if (options && a == "--summary" && command == "show") {
            summary = true;
        } else if (options && a == "--json" && command == "check") {
            as_json = true;
        } else if (options && a.size() > 1 && a[0] == '-') {
            return usage_error("unknown option '" + a + "' for " + command);
        } else {
            files.push_back(a);
        }
    }
    if (files.empty()) return usage_error("no file given");
    const int status = command == "show"
                           ? show(files, summary ? protocols::text::Waveforms::Summary : protocols::text::Waveforms::Full)
                           : check(files, as_json);
    if (std::fflush(stdout) != 0) {
        std::fprintf(stderr, "drel: writing the output failed: %s\n", std::strerror(errno));
        return TROUBLE;
    }
    return status;
}
