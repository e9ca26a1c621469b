// drel: reads protocol files back, shows them, checks them before they reach
// a stimulator, and compares two. Each file is read through a fixed buffer
// and what is printed is written as it is made, so memory holds the decoded
// protocols at hand, whatever the size of the input or the output.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <variant>
#include <vector>

#include "command_line.hpp"
#include "input.hpp"
#include "output.hpp"
#include "platform.hpp"
#include "protocols/check.hpp"
#include "protocols/composable.hpp"
#include "protocols/encode.hpp"
#include "protocols/format.hpp"
#include "protocols/json_reader.hpp"
#include "protocols/cpu.hpp"
#include "protocols/diff.hpp"
#include "protocols/picture.hpp"
#include "protocols/routing.hpp"
#include "protocols/text_form.hpp"

namespace drel {
namespace {

// A JSON string; file names need not be UTF-8, so they are read leniently.
using protocols::text::json_quoted;

constexpr int SAME = 0;
constexpr int ERRORS = 1;  // check found an error; diff found a difference
constexpr int TROUBLE = 2;

// The text of a protocol goes out through a buffer of this size.
constexpr std::size_t TEXT_BUFFER = 256 * 1024;

int show(const Parsed& args, Output& out) {
    using protocols::text::Waveforms;
    if (args.flag("--json-schema")) {
        if (!args.operands.empty() || args.options.size() > 1) {
            return usage_error("--json-schema goes with no file and no other option", "show");
        }
        out.write(protocols::json_schema());
        return 0;
    }
    if (args.operands.empty()) return usage_error("no file given", "show");
    if (args.flag("--full") && (args.flag("--summary") || args.flag("--json"))) {
        return usage_error("--full goes with neither --summary nor --json", "show");
    }
    // On a terminal, long waveforms are shortened, as NumPy prints long
    // arrays; to a pipe or a file, the text form is whole.
    const bool edges = !args.flag("--full") && out.is_terminal();
    const protocols::text::Form form{args.flag("--summary") ? Waveforms::Summary
                                     : edges                ? Waveforms::Edges
                                                            : Waveforms::Full,
                                     args.flag("--json")};
    const bool routing = args.flag("--routing");
    if (routing && (args.flag("--json") || args.flag("--summary"))) {
        return usage_error("--routing goes with neither --json nor --summary", "show");
    }
    const std::vector<std::string>& files = args.operands;
    int status = 0;
    std::size_t shortened = 0;
    const auto buffer = std::make_unique_for_overwrite<char[]>(TEXT_BUFFER);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const auto protocol = read_protocol(files[i]);
        if (const auto* error = std::get_if<std::string>(&protocol)) {
            report(out, files[i] + ": " + *error);
            status = TROUBLE;
            continue;
        }
        // JSON Lines: one object a line, with no heads.
        if (files.size() > 1 && !form.json) out.write((i > 0 ? "\n==> " : "==> ") + files[i] + " <==\n");
        if (routing) {
            out.write(protocols::routing_text(std::get<protocols::Settings>(protocol)));
            continue;
        }
        const protocols::Settings& settings = std::get<protocols::Settings>(protocol);
        protocols::text::render_protocol(settings, form, {buffer.get(), TEXT_BUFFER}, out);
        out.write("\n");
        if (form.waveforms == Waveforms::Edges && !form.json) shortened += protocols::text::shortened_waveforms(settings);
    }
    if (shortened > 0) {
        out.write("(" + std::to_string(shortened) + (shortened == 1 ? " waveform" : " waveforms") + " of more than " +
                  std::to_string(protocols::text::EDGE_THRESHOLD) +
                  " levels shortened for the terminal, as NumPy prints long arrays: drel show --full prints every "
                  "level, as does drel show to a pipe or a file)\n");
    }
    return status;
}

int check(const Parsed& args, Output& out) {
    const bool as_json = args.flag("--json"), strict = args.flag("--strict");
    const std::vector<std::string>& files = args.operands;
    int status = 0;
    if (as_json) out.write("{\"files\": [");
    for (std::size_t i = 0; i < files.size(); ++i) {
        const auto protocol = read_protocol(files[i]);
        const auto* error = std::get_if<std::string>(&protocol);
        if (error != nullptr) status = TROUBLE;  // the worst of all files
        if (as_json) {
            out.write(std::string(i > 0 ? ", " : "") + "{\"file\": " + json_quoted(files[i]) +
                      ", \"error\": " + (error != nullptr ? json_quoted(*error) : "null") + ", \"findings\": [");
        } else if (error != nullptr) {
            report(out, files[i] + ": " + *error);
        }
        if (error == nullptr) {
            bool first = true;
            protocols::check(std::get<protocols::Settings>(protocol), [&](const protocols::Finding& f) {
                if (f.severity == protocols::Finding::Severity::Error || strict) status = std::max(status, ERRORS);
                const char* severity = protocols::severity_name(f.severity);
                if (as_json) {
                    out.write(std::string(first ? "" : ", ") + "{\"severity\": \"" + severity +
                              "\", \"message\": " + json_quoted(f.message) + "}");
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

int diff(const Parsed& args, Output& out) {
    const std::string& a_name = args.operands[0];
    const std::string& b_name = args.operands[1];
    const bool as_json = args.flag("--json"), brief = args.flag("--brief");
    if (as_json && brief) return usage_error("--brief and --json do not go together", "diff");
    const std::optional<std::string> limit = args.value("-n");
    std::uint64_t count = UINT64_MAX;
    if (limit) {
        const auto [end, error] = std::from_chars(limit->data(), limit->data() + limit->size(), count);
        if (error != std::errc{} || end != limit->data() + limit->size() || count == 0) {
            return usage_error("-n takes a count of differences from 1 on, not '" + *limit + "'", "diff");
        }
    }
    if (a_name == "-" && b_name == "-") {
        return usage_error("standard input can be read only once: give - for one of A and B", "diff");
    }
    auto a = read_protocol(a_name);
    auto b = read_protocol(b_name);
    int status = SAME;
    for (const auto& [name, protocol] : {std::pair{&a_name, &a}, std::pair{&b_name, &b}}) {
        if (const auto* error = std::get_if<std::string>(protocol)) {
            report(out, *name + ": " + *error);
            status = TROUBLE;
        }
    }
    if (status == TROUBLE) return status;
    std::uint64_t found = 0;
    if (as_json) out.write("[");
    protocols::diff(std::get<protocols::Settings>(a), std::get<protocols::Settings>(b),
                    [&](const protocols::Difference& d) {
                        ++found;
                        if (brief) return false;
                        if (as_json) out.write((found > 1 ? ", " : "") + protocols::diff_json(d));
                        else out.write(protocols::diff_line(d) + "\n");
                        return found < count;
                    });
    if (as_json) out.write("]\n");
    if (brief && found > 0) out.write(a_name + " and " + b_name + " differ\n");
    return found > 0 ? ERRORS : SAME;
}

// A protocol's JSON made a protocol file: read, checked to be what pydrel's
// methods compose, its findings reported, and written whole or not at all.
int compose(const Parsed& args, Output& out) {
    const std::string& file = args.operands[0];
    const std::optional<std::string> to = args.value("-o");
    if (!to) return usage_error("compose writes to the file that -o names (- for standard output)", "compose");
    if (*to != "-" && !to->ends_with(".drel")) {
        return usage_error("compose writes a protocol file, whose name ends in .drel, not '" + *to + "'", "compose");
    }
    const bool strict = args.flag("--strict"), allow_errors = args.flag("--allow-errors");
    if (strict && allow_errors) return usage_error("--strict and --allow-errors do not go together", "compose");
    protocols::JsonPlaces places;
    auto read = read_json_protocol(file, &places);
    if (const auto* lines = std::get_if<std::vector<std::string>>(&read)) {
        for (const std::string& line : *lines) report(out, file + line);
        return TROUBLE;
    }
    const protocols::Settings& settings = std::get<protocols::Settings>(read);
    if (const auto made = protocols::composition(settings); !made) {
        const protocols::Refusal& r = made.error();
        const protocols::JsonPosition at = places.at(r.path);
        const std::string where = file + ":" + std::to_string(at.line) + ":" + std::to_string(at.column) + ": ";
        report(out, where + "not what pydrel composes: " + r.json_message());
        if (const std::string note = r.note(protocols::hints::Spelling::Json); !note.empty()) {
            report(out, where + "note: " + note);
        }
        return TROUBLE;
    }
    // As a compiler: an error stops the file, a warning is reported and
    // does not; --strict makes warnings errors, --allow-errors writes anyway.
    bool stops = false;
    protocols::check(settings, [&](const protocols::Finding& f) {
        stops |= f.severity == protocols::Finding::Severity::Error || strict;
        report(out, file + ": " + protocols::severity_name(f.severity) + ": " + f.message);
    });
    if (stops && !allow_errors) {
        report(out, file + ": nothing written: " +
                        (strict ? "--strict counts warnings as errors" : "drel check calls the protocol broken") +
                        " (--allow-errors writes it anyway)");
        return ERRORS;
    }
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(TEXT_BUFFER);
    const auto encode = [&](protocols::ByteSink& sink) { protocols::encode(settings, {buffer.get(), TEXT_BUFFER}, sink); };
    if (*to == "-") {
        encode(out);
        return SAME;
    }
    if (const auto error = platform::write_atomically(*to, encode)) {
        report(out, *to + ": cannot be written: " + *error);
        return TROUBLE;
    }
    return SAME;
}

// The name a picture's title gives a file: its last component.
std::string shown_name(const std::string& file) {
    if (file == "-") return "standard input";
    return platform::last_component(file);
}

// Whether `name` ends in ".svg", in any case.
bool svg_name(const std::string& name) {
    if (name.size() < 4) return false;
    std::string suffix = name.substr(name.size() - 4);
    for (char& c : suffix) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return suffix == ".svg";
}

int plot(const Parsed& args, Output& out) {
    const std::string& file = args.operands[0];
    const std::optional<std::string> to = args.value("-o");
    if (to && *to != "-" && !svg_name(*to)) {
        return usage_error("drel plot writes SVG only, to a name that ends in .svg, not '" + *to +
                               "'; for PNG or PDF, draw the protocol with matplotlib: "
                               "drel.load(FILE).plot().savefig(OUT)",
                           "plot");
    }
    const auto protocol = read_protocol(file);
    if (const auto* error = std::get_if<std::string>(&protocol)) {
        report(out, file + ": " + *error);
        return TROUBLE;
    }
    const std::string picture = protocols::svg(std::get<protocols::Settings>(protocol), shown_name(file));
    if (!to || *to == "-") {
        out.write(picture);
        return SAME;
    }
    if (const auto error = platform::write_file(*to, picture)) {
        report(out, *to + ": cannot be written: " + *error);
        return TROUBLE;
    }
    return SAME;
}

// The help of show quotes how it shortens waveforms on a terminal.
static_assert(protocols::text::EDGE_THRESHOLD == 1000 && protocols::text::EDGE_LEVELS == 3);

const std::vector<Command> COMMANDS = {
    {"show",
     "FILE...",
     "print each file as text, exactly as str() of the protocol shows it (on a terminal, a waveform of more than "
     "1000 levels by its first and last three, as NumPy prints long arrays)",
     {{"--summary", nullptr, "shorten each waveform to its length, lowest and highest level and its first and last "
                       "level"},
      {"--full", nullptr, "print every level of every waveform on a terminal too"},
      {"--json", nullptr, "the protocol as one JSON object a line (JSON Lines for several files): the fields of the "
                    "text form in its order, a signal an object with one key, its kind; NaN and the "
                    "infinities as the strings \"NaN\" (\"-NaN\" with the sign bit set), \"inf\" and \"-inf\""},
      {"--routing", nullptr, "who receives what instead: each channel, on or off, with its coil, what its two coils "
                             "and its modulation receive, and the signals no enabled channel uses"},
      {"--json-schema", nullptr, "print the JSON Schema of a protocol's JSON instead, for editors and validators (no "
                                 "FILE)"}},
     0,
     SIZE_MAX,
     show,
     "Exit status: 2 when a file could not be read or is no protocol file, or the command line was wrong; "
     "else 0."},
    {"check",
     "FILE...",
     "report what would go wrong on a stimulator, one finding a line: FILE: error|warning: message",
     {{"--json", nullptr, "the findings as JSON instead"}, {"--strict", nullptr, "count warnings as errors"}},
     1,
     SIZE_MAX,
     check,
     "Exit status, as a compiler's: 2 when a file could not be read or is no protocol file, or the command line "
     "was wrong; else 1 when some file has an error (or, with --strict, a warning); else 0: warnings alone are "
     "printed and exit 0."},
    {"diff",
     "A B",
     "print what differs from A to B, one difference a line, named by its path in the text form; floats "
     "compare bit for bit",
     {{"--json", nullptr, "the differences as one JSON array of objects"},
      {"--brief", nullptr, "print only that A and B differ"},
      {"-n", "COUNT", "stop after COUNT differences"}},
     2,
     2,
     diff,
     "Exit status, as cmp's and diff's: 0 when A and B hold the same protocol, 1 when they differ, 2 when a file "
     "could not be read or is no protocol file, or the command line was wrong."},
    {"compose",
     "FILE",
     "make a protocol file from a protocol's JSON (as drel show --json writes it; keys left out keep the values of a "
     "new pydrel.Protocol) if pydrel's methods compose it and drel check finds no error in it, as a compiler "
     "compiles; what drel check finds is reported on standard error",
     {{"-o", "OUT.drel", "the protocol file to write, whole or not at all (- for standard output); required",
       Option::Required},
      {"--strict", nullptr, "count warnings as errors: write nothing when the checks find either"},
      {"--allow-errors", nullptr, "write the file even when the checks find errors, for a deliberate test file"}},
     1,
     1,
     compose,
     "Exit status, as a compiler's: 0 when the file was written (warnings are reported, and do not stop it); 1 "
     "when the checks found an error (or, with --strict, a warning), and nothing was written (with "
     "--allow-errors, the file is written and the exit is 0); 2 when the JSON is not valid, not a protocol, not "
     "what pydrel composes, or the file cannot be written (an existing one is left as it was), or the command line "
     "was wrong."},
    {"plot",
     "FILE",
     "draw the file as an SVG picture: a panel per channel, a lane for each coil's amplitude and its modulation on "
     "a time axis, waveforms by their exact envelope, and what drel check finds",
     {{"-o", "OUT.svg", "write the picture to OUT.svg instead of standard output; SVG only: for PNG or PDF, use "
                        "Settings.plot() of the drel package, with matplotlib"}},
     1,
     1,
     plot,
     "Exit status: 2 when the file could not be read or is no protocol file, the picture could not be written, "
     "or the command line was wrong; else 0."},
};


}  // namespace
}  // namespace drel

int main(int argc, char** argv) {
    drel::platform::set_up_streams();
    if (const auto& error = protocols::cpu::environment_error()) {
        std::fprintf(stderr, "drel: %s\n", error->c_str());
        return drel::TROUBLE;
    }
    try {
        drel::Output out;
        const int status = drel::run(drel::COMMANDS, drel::platform::arguments(argc, argv), out);
        out.flush();
        return status;
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "drel: writing the output failed: %s\n", drel::platform::error_text(e.code().value()).c_str());
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "drel: out of memory\n");
    }
    return drel::TROUBLE;
}
