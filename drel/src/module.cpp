// drel._native: the protocol library behind the drel package. The package's
// records are Python classes, which it binds here at import; the functions
// below read files into them and render and check them.
#include <Python.h>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

#include "bind/entry.hpp"
#include "bind/interpreter.hpp"
#include "bind/notes.hpp"
#include "bind/panic.hpp"
#include "bind/ref.hpp"
#include "bind/text.hpp"
#include "levels.hpp"
#include "protocols/byte_source.hpp"
#include "protocols/check.hpp"
#include "protocols/composable.hpp"
#include "protocols/cpu.hpp"
#include "protocols/config.hpp"
#include "protocols/decode.hpp"
#include "protocols/diff.hpp"
#include "protocols/findings.hpp"
#include "protocols/json_reader.hpp"
#include "protocols/layout.hpp"
#include "protocols/picture.hpp"
#include "protocols/routing.hpp"
#include "protocols/text_form.hpp"
#include "records.hpp"

namespace drel {
namespace {

using bind::entry;
using bind::PythonError;
using bind::Ref;

// The classes of the records, bound by the package at its import. The
// interpreter that imports the module first keeps them until it is
// finalised; other interpreters cannot import it.
bind::InterpreterOwner owner;
bind::NeverDestroyed<BoundClasses> classes;

// The bound classes, kept for the length of a call.
BoundClasses bound() {
    BoundClasses c = *classes;
    if (!c) bind::raise(PyExc_RuntimeError, "drel's classes are not bound");
    return c;
}

// A file read without the interpreter lock, so that other threads run while
// it waits for a pipe or a slow disk. A read interrupted by a signal takes
// the lock back for Python's handlers first: one that raises
// (KeyboardInterrupt) ends the load.
class InterruptibleFile final : public protocols::FileSource {
public:
    explicit InterruptibleFile(int fd) : FileSource(fd, Ownership::Owned) {}

    std::size_t read(std::span<std::uint8_t> into) override {
        bind::AllowThreads unlocked;
        unlocked_ = &unlocked;
        struct Forget {
            bind::AllowThreads*& p;
            ~Forget() { p = nullptr; }
        } forget{unlocked_};
        return FileSource::read(into);
    }

private:
    void interrupted() override {
        unlocked_->reacquire();
        bind::throw_on_failure(PyErr_CheckSignals());
        unlocked_->release();
    }

    bind::AllowThreads* unlocked_ = nullptr;
};

// FileNotFoundError, IsADirectoryError, ... with the path as given.
[[noreturn]] void raise_os_error(int code, PyObject* path) {
    errno = code;
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
    throw PythonError{};
}

Ref decoded(const Classes& c, protocols::Result<protocols::Settings, protocols::DecodeError> result) {
    if (!result) {
        const protocols::DecodeError& e = result.error();
        Ref error = Ref::checked(PyObject_CallFunction(c.decode_error.get(), "s#KU", e.message.data(),
                                                       static_cast<Py_ssize_t>(e.message.size()),
                                                       static_cast<unsigned long long>(e.offset), e.path.c_str()));
        PyErr_SetObject(c.decode_error.get(), error.get());
        throw PythonError{};
    }
    return to_python(c, std::move(result).value());
}

PyObject* loads(PyObject*, PyObject* data) {
    return entry([&] {
        Py_buffer view;
        bind::throw_on_failure(PyObject_GetBuffer(data, &view, PyBUF_SIMPLE));
        struct Release {
            Py_buffer& view;
            ~Release() { PyBuffer_Release(&view); }
        } release{view};
        const BoundClasses c = bound();
        protocols::MemorySource source({static_cast<const std::uint8_t*>(view.buf), static_cast<std::size_t>(view.len)});
        return decoded(*c, protocols::decode(source));
    });
}

PyObject* load(PyObject*, PyObject* path) {
    return entry([&] {
        const BoundClasses c = bound();
        PyObject* encoded = nullptr;
        if (!PyUnicode_FSConverter(path, &encoded)) throw PythonError{};
        const Ref name = Ref::steal(encoded);
        int fd;
        for (;;) {
            {
                bind::AllowThreads unlocked;  // opening a FIFO waits for its writer
                fd = ::open(PyBytes_AS_STRING(name.get()), O_RDONLY | O_CLOEXEC);
            }
            if (fd >= 0 || errno != EINTR) break;
            bind::throw_on_failure(PyErr_CheckSignals());
        }
        if (fd < 0) raise_os_error(errno, path);
        InterruptibleFile source(fd);
        try {
            return decoded(*c, protocols::decode(source));
        } catch (const std::system_error& e) {
            raise_os_error(e.code().value(), path);
        }
    });
}

PyObject* text(PyObject*, PyObject* settings) {
    return entry([&] {
        const protocols::Settings s = from_python(*bound(), settings);
        const auto [size, ascii] = protocols::text::measure_protocol(s);
        return bind::utf8_str(size, ascii, [&](std::span<char> out) { protocols::text::render_protocol(s, out); });
    });
}

// The JSON form, as drel show --json prints it.
PyObject* json(PyObject*, PyObject* args) {
    return entry([&] {
        PyObject* settings;
        int summary = 0;
        if (!PyArg_ParseTuple(args, "Op:json", &settings, &summary)) throw PythonError{};
        const protocols::Settings s = from_python(*bound(), settings);
        const protocols::text::Form form{summary ? protocols::text::Waveforms::Summary : protocols::text::Waveforms::Full,
                                         true};
        const auto [size, ascii] = protocols::text::measure_protocol(s, form);
        return bind::utf8_str(size, ascii,
                              [&](std::span<char> out) { protocols::text::render_protocol(s, out, form); });
    });
}

// What differs from a to b, as drel diff finds it: [(kind, path, a_count,
// b_count, (differing, first, last, max_abs) or None, side), ...], where
// side is "a" or "b" for an entry only one has.
PyObject* diff(PyObject*, PyObject* args) {
    return entry([&] {
        PyObject *a, *b;
        if (!PyArg_ParseTuple(args, "OO:diff", &a, &b)) throw PythonError{};
        const BoundClasses c = bound();
        const protocols::Settings sa = from_python(*c, a);
        const protocols::Settings sb = from_python(*c, b);
        Ref found = Ref::checked(PyList_New(0));
        protocols::diff(sa, sb, [&](const protocols::Difference& d) {
            using Kind = protocols::Difference::Kind;
            static constexpr const char* kinds[] = {"value", "variant", "count", "only_in", "levels"};
            Ref levels = d.levels ? Ref::checked(Py_BuildValue("(KKKK)", static_cast<unsigned long long>(d.levels->differing),
                                                               static_cast<unsigned long long>(d.levels->first),
                                                               static_cast<unsigned long long>(d.levels->last),
                                                               static_cast<unsigned long long>(d.levels->max_abs)))
                                  : Ref::borrow(Py_None);
            const char* side = d.kind == Kind::OnlyIn ? (d.a ? "a" : "b") : "";
            Ref item = Ref::checked(Py_BuildValue("(ss#KKOs)", kinds[static_cast<int>(d.kind)], d.path.data(),
                                                  static_cast<Py_ssize_t>(d.path.size()),
                                                  static_cast<unsigned long long>(d.a_count),
                                                  static_cast<unsigned long long>(d.b_count),
                                                  levels.get(), side));
            bind::throw_on_failure(PyList_Append(found.get(), item.get()));
            return true;
        });
        return found;
    });
}

// Who receives what, for A1, A2, A modulation, B1, B2, B modulation:
// [(channel, role, name, label, signal index or None, what it receives), ...].
Ref route_list(const protocols::Settings& s) {
    Ref out = Ref::checked(PyList_New(0));
    const std::array<protocols::Route, 6> all = protocols::routes(s);
    const std::array<std::string, 6> what = protocols::receives(s);
    for (std::size_t i = 0; i < all.size(); ++i) {
        const protocols::Route& r = all[i];
        Ref index = protocols::routed_signal(s, r) != nullptr ? Ref::checked(PyLong_FromUnsignedLongLong(r.source->internal))
                                                              : Ref::borrow(Py_None);
        const std::string_view field = r.field();
        const std::string name = r.name(), label = r.label();
        Ref item = Ref::checked(Py_BuildValue("(Cs#ssOs#)", r.channel, field.data(),
                                              static_cast<Py_ssize_t>(field.size() - 7), name.c_str(), label.c_str(),
                                              index.get(), what[i].data(), static_cast<Py_ssize_t>(what[i].size())));
        bind::throw_on_failure(PyList_Append(out.get(), item.get()));
    }
    return out;
}

// [(severity, message), ...]
Ref finding_list(const protocols::Settings& s) {
    Ref findings = Ref::checked(PyList_New(0));
    protocols::check(s, [&](const protocols::Finding& f) {
        Ref item = Ref::checked(Py_BuildValue("(ss#)", protocols::severity_name(f.severity), f.message.data(),
                                              static_cast<Py_ssize_t>(f.message.size())));
        bind::throw_on_failure(PyList_Append(findings.get(), item.get()));
    });
    return findings;
}

Ref svg_str(const protocols::Settings& s, std::string_view name, protocols::Findings findings) {
    const std::string picture = protocols::svg(s, name, findings);
    return Ref::checked(PyUnicode_DecodeUTF8(picture.data(), static_cast<Py_ssize_t>(picture.size()), nullptr));
}

// The time the pictures draw, in samples: (span, the session's end or None
// where the session cannot be drawn on a time axis).
PyObject* time_axis(PyObject*, PyObject* settings) {
    return entry([&] {
        const protocols::TimeAxis axis = protocols::time_axis(from_python(*bound(), settings));
        Ref session = axis.session ? Ref::checked(PyLong_FromUnsignedLongLong(*axis.session)) : Ref::borrow(Py_None);
        return Ref::checked(Py_BuildValue("(KO)", static_cast<unsigned long long>(axis.samples), session.get()));
    });
}

PyObject* routes(PyObject*, PyObject* settings) {
    return entry([&] { return route_list(from_python(*bound(), settings)); });
}

PyObject* svg(PyObject*, PyObject* args) {
    return entry([&] {
        PyObject* settings;
        const char* name;
        Py_ssize_t length;
        int findings = 1;
        if (!PyArg_ParseTuple(args, "Os#|p:svg", &settings, &name, &length, &findings)) throw PythonError{};
        return svg_str(from_python(*bound(), settings), {name, static_cast<std::size_t>(length)},
                       findings ? protocols::Findings::Listed : protocols::Findings::LeftOut);
    });
}

// What the notebook shows, from one reading of the record: (routes,
// findings, the picture without its list of findings, which the page lists).
PyObject* seeing(PyObject*, PyObject* settings) {
    return entry([&] {
        const protocols::Settings s = from_python(*bound(), settings);
        Ref routes_ = route_list(s), findings = finding_list(s);
        Ref picture = svg_str(s, {}, protocols::Findings::LeftOut);
        return Ref::checked(PyTuple_Pack(3, routes_.get(), findings.get(), picture.get()));
    });
}

// The envelope of int16 levels over `columns` columns of `span` samples:
// (lowest, highest) as two int16 arrays.
PyObject* envelope(PyObject*, PyObject* args) {
    return entry([&] {
        PyObject* levels;
        Py_ssize_t columns;
        unsigned long long span;
        if (!PyArg_ParseTuple(args, "OnK:envelope", &levels, &columns, &span)) throw PythonError{};
        if (columns < 0) bind::raise(PyExc_ValueError, "columns must not be negative");
        const Ref held = Ref::borrow(levels);
        protocols::Levels copy;
        protocols::Envelope e = protocols::envelope(levels_in(levels, "levels", copy), static_cast<std::size_t>(columns), span);
        Ref lo = levels_array(std::move(e.min));
        Ref hi = levels_array(std::move(e.max));
        return Ref::checked(PyTuple_Pack(2, lo.get(), hi.get()));
    });
}

// [(severity, message), ...]
PyObject* check(PyObject*, PyObject* settings) {
    return entry([&] { return finding_list(from_python(*bound(), settings)); });
}

PyObject* sample_count(PyObject*, PyObject* duration) {
    return entry([&] {
        const double d = PyFloat_AsDouble(duration);
        if (d == -1.0 && PyErr_Occurred()) throw PythonError{};
        const auto count = protocols::sample_count(d);
        if (!count) {
            bind::raise(PyExc_ValueError,
                        Ref::steal(PyUnicode_FromFormat("a session of %R s has no samples", duration)));
        }
        return Ref::checked(PyLong_FromUnsignedLongLong(*count));
    });
}

// A copy of a drel.Settings made by the rule for hand-built records: every
// value of its exact type, the sequences tuples, the levels arrays of their own.
PyObject* validated(PyObject*, PyObject* settings) {
    return entry([&] {
        return drel::validated(*bound(), settings);
    });
}

// The drel.Settings that a protocol's JSON (a str, or any bytes-like object
// of UTF-8, as loads() takes) holds: the reader of drel compose.
// drel.JSONError with the line, the column, the field and its note. A str
// that holds a lone surrogate, which UTF-8 cannot, goes to the reader as
// its bytes would be, for the reader to refuse where it stands.
PyObject* from_json(PyObject*, PyObject* text) {
    return entry([&] {
        const BoundClasses c = bound();
        Py_buffer view{};
        std::string_view bytes;
        Ref encoded;
        struct Release {
            Py_buffer* view = nullptr;
            ~Release() {
                if (view != nullptr) PyBuffer_Release(view);
            }
        } release;
        if (PyUnicode_Check(text)) {
            Py_ssize_t size = 0;
            if (const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size); utf8 != nullptr) {
                bytes = {utf8, static_cast<std::size_t>(size)};
            } else {
                if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw PythonError{};
                PyErr_Clear();
                encoded = Ref::checked(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
                bytes = {PyBytes_AS_STRING(encoded.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(encoded.get()))};
            }
        } else if (PyObject_CheckBuffer(text)) {
            bind::throw_on_failure(PyObject_GetBuffer(text, &view, PyBUF_SIMPLE));
            release.view = &view;
            bytes = {static_cast<const char*>(view.buf), static_cast<std::size_t>(view.len)};
        } else {
            bind::raise(PyExc_TypeError, Ref::steal(PyUnicode_FromFormat(
                                             "from_json() takes a str or a bytes-like object, not '%s'",
                                             Py_TYPE(text)->tp_name)));
        }
        auto read = protocols::read_json(
            std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
        if (!read) {
            const protocols::JsonError& e = read.error();
            const std::string message = e.located();
            Ref error = Ref::checked(PyObject_CallFunction(c->json_error.get(), "s#KKs#", message.data(),
                                                           static_cast<Py_ssize_t>(message.size()),
                                                           static_cast<unsigned long long>(e.line),
                                                           static_cast<unsigned long long>(e.column), e.path.data(),
                                                           static_cast<Py_ssize_t>(e.path.size())));
            if (!e.note.empty()) bind::add_note(error.get(), e.note);
            PyErr_SetObject(c->json_error.get(), error.get());
            throw PythonError{};
        }
        return to_python(*c, std::move(read).value());
    });
}

// The kinds of findings, in the order the checks report them: [(id,
// severity, words, meaning), ...], for the documentation's reference.
PyObject* findings(PyObject*, PyObject*) {
    return entry([&] {
        Ref list = Ref::checked(PyList_New(0));
        for (const protocols::FindingKind* k : protocols::findings::ALL) {
            Ref item = Ref::checked(Py_BuildValue("(s#ss#s#)", k->id.data(), static_cast<Py_ssize_t>(k->id.size()),
                                                  protocols::severity_name(k->severity), k->words.data(),
                                                  static_cast<Py_ssize_t>(k->words.size()), k->meaning.data(),
                                                  static_cast<Py_ssize_t>(k->meaning.size())));
            bind::throw_on_failure(PyList_Append(list.get(), item.get()));
        }
        return list;
    });
}

// The layout of a protocol file: [(record, [(field, how it is written), ...]), ...].
PyObject* file_layout(PyObject*, PyObject*) {
    return entry([&] {
        Ref list = Ref::checked(PyList_New(0));
        for (const protocols::RecordLayout& r : protocols::file_layout()) {
            Ref fields = Ref::checked(PyList_New(0));
            for (const protocols::FieldLayout& f : r.fields) {
                Ref item = Ref::checked(Py_BuildValue("(ss)", f.name.c_str(), f.written.c_str()));
                bind::throw_on_failure(PyList_Append(fields.get(), item.get()));
            }
            Ref item = Ref::checked(Py_BuildValue("(sO)", r.name.c_str(), fields.get()));
            bind::throw_on_failure(PyList_Append(list.get(), item.get()));
        }
        return list;
    });
}

PyObject* json_schema(PyObject*, PyObject*) {
    return entry([&] {
        const std::string schema = protocols::json_schema();
        return Ref::checked(PyUnicode_FromStringAndSize(schema.data(), static_cast<Py_ssize_t>(schema.size())));
    });
}

// How pydrel's methods compose a validated drel.Settings: ({waveform length:
// the session duration it is added under}, [(setter, target, index,
// external) for A1, A2, A modulation, B1, B2, B modulation], None), or
// ({}, [], (reason, path, method, check, level, count, note)) for the first
// field in the way, which the package words with its records' reprs.
PyObject* composition(PyObject*, PyObject* settings) {
    return entry([&] {
        const BoundClasses c = bound();
        const protocols::Settings s = from_python(*c, settings);
        const auto made = protocols::composition(s);
        Ref durations = Ref::checked(PyDict_New());
        Ref sources = Ref::checked(PyList_New(0));
        if (!made) {
            using Reason = protocols::Refusal::Reason;
            static constexpr const char* reasons[] = {"unchanged", "refused", "never_written",
                                                      "no_signals", "level_outside", "no_session"};
            const protocols::Refusal& r = made.error();
            const std::string path = r.path.text(protocols::FieldPath::Kinds::Left);
            const std::string note = r.note(protocols::hints::Spelling::Python);
            static_assert(std::size(reasons) == static_cast<std::size_t>(Reason::NoSession) + 1);
            Ref refusal = Ref::checked(Py_BuildValue(
                "(ss#s#s#LKs#)", reasons[static_cast<std::size_t>(r.reason)], path.data(),
                static_cast<Py_ssize_t>(path.size()), r.method.data(), static_cast<Py_ssize_t>(r.method.size()),
                r.check.data(), static_cast<Py_ssize_t>(r.check.size()), static_cast<long long>(r.level),
                static_cast<unsigned long long>(r.count), note.data(), static_cast<Py_ssize_t>(note.size())));
            return Ref::checked(PyTuple_Pack(3, durations.get(), sources.get(), refusal.get()));
        }
        for (const auto& [length, duration] : made.value().durations) {
            Ref key = Ref::checked(PyLong_FromUnsignedLongLong(length));
            Ref value = Ref::checked(PyFloat_FromDouble(duration));
            bind::throw_on_failure(PyDict_SetItem(durations.get(), key.get(), value.get()));
        }
        for (const auto& source : made.value().sources) {
            Ref item = Ref::checked(Py_BuildValue("(s#s#KO)", source.method.data(),
                                                  static_cast<Py_ssize_t>(source.method.size()), source.target.data(),
                                                  static_cast<Py_ssize_t>(source.target.size()),
                                                  static_cast<unsigned long long>(source.index),
                                                  source.external ? Py_True : Py_False));
            bind::throw_on_failure(PyList_Append(sources.get(), item.get()));
        }
        return Ref::checked(PyTuple_Pack(3, durations.get(), sources.get(), Py_None));
    });
}

// The fractions of full scale of an int16 array's levels, as a new float64 array.
PyObject* fractions(PyObject*, PyObject* levels) {
    return entry([&] { return fractions_of(levels); });
}

// The level the vectorised loops run at, the highest this CPU has, and the
// names of the levels up to it: ("AVX2", "AVX2", ["baseline", "AVX2"]).
PyObject* cpu_level(PyObject*, PyObject*) {
    return entry([&] {
        namespace cpu = protocols::cpu;
        Ref levels = Ref::checked(PyList_New(0));
        for (const cpu::Level l : cpu::LEVELS) {
            if (cpu::index(l) > cpu::index(cpu::supported())) break;
            Ref name = Ref::checked(PyUnicode_FromString(std::string(cpu::name(l)).c_str()));
            bind::throw_on_failure(PyList_Append(levels.get(), name.get()));
        }
        return Ref::checked(Py_BuildValue("(ssO)", std::string(cpu::name(cpu::level())).c_str(),
                                          std::string(cpu::name(cpu::supported())).c_str(), levels.get()));
    });
}

// pydrel's PanicException: the one class of the interpreter, made here if
// no check has failed yet.
PyObject* panic_exception(PyObject*, PyObject*) {
    return entry([&] { return Ref::checked(bind::panic_type().release()); });
}

PyObject* bind_records(PyObject*, PyObject* args) {
    return entry([&] {
        PyObject *by_name, *decode_error, *json_error, *not_composable;
        if (!PyArg_ParseTuple(args, "OOOO:bind", &by_name, &decode_error, &json_error, &not_composable)) {
            throw PythonError{};
        }
        *classes = bind_classes(by_name, decode_error, json_error, not_composable);
        return Ref::borrow(Py_None);
    });
}

PyMethodDef methods[] = {
    {"bind", bind_records, METH_VARARGS,
     "bind(classes_by_name, decode_error, json_error, not_composable)\n--\n\nTakes the record and error classes."},
    {"loads", loads, METH_O, "loads(data)\n--\n\nThe drel.Settings in a bytes-like object."},
    {"load", load, METH_O, "load(path)\n--\n\nThe drel.Settings in a file."},
    {"text", text, METH_O, "text(settings)\n--\n\nThe text form of a drel.Settings."},
    {"check", check, METH_O, "check(settings)\n--\n\nThe findings of the checks, as (severity, message)."},
    {"json", json, METH_VARARGS, "json(settings, summary)\n--\n\nThe JSON form of a drel.Settings."},
    {"diff", diff, METH_VARARGS, "diff(a, b)\n--\n\nWhat differs from a to b."},
    {"routes", routes, METH_O, "routes(settings)\n--\n\nWho receives what."},
    {"time_axis", time_axis, METH_O, "time_axis(settings)\n--\n\nThe samples the pictures draw, and the session's."},
    {"svg", svg, METH_VARARGS,
     "svg(settings, name, findings=True)\n--\n\nThe picture, as drel plot draws it (findings: listed under it)."},
    {"seeing", seeing, METH_O, "seeing(settings)\n--\n\nThe routes, the findings and the picture without them."},
    {"envelope", envelope, METH_VARARGS,
     "envelope(levels, columns, span)\n--\n\nThe lowest and highest level of each column."},
    {"sample_count", sample_count, METH_O, "sample_count(duration)\n--\n\nThe samples of a session."},
    {"panic_exception", panic_exception, METH_NOARGS,
     "panic_exception()\n--\n\npydrel's PanicException, the class of its failed checks."},
    {"cpu_level", cpu_level, METH_NOARGS, "cpu_level()\n--\n\nThe level the vectorised loops run at."},
    {"validated", validated, METH_O,
     "validated(settings)\n--\n\nA copy made by the rule for hand-built records."},
    {"fractions", fractions, METH_O, "fractions(levels)\n--\n\nThe fractions of full scale of int16 levels."},
    {"from_json", from_json, METH_O, "from_json(text)\n--\n\nThe drel.Settings in a protocol's JSON."},
    {"file_layout", file_layout, METH_NOARGS, "file_layout()\n--\n\nThe layout of a protocol file, record by record."},
    {"findings", findings, METH_NOARGS, "findings()\n--\n\nThe kinds of findings of the checks."},
    {"json_schema", json_schema, METH_NOARGS, "json_schema()\n--\n\nThe JSON Schema of a protocol's JSON."},
    {"composition", composition, METH_O,
     "composition(settings)\n--\n\nHow pydrel's methods compose the protocol, or the first field in the way."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "drel._native", "The protocol library behind the drel package.", 0, methods,
    nullptr,               nullptr,        nullptr,                                          nullptr,
};

// Runs while the owning interpreter is finalised: releases the classes.
void forget(void*) {
    *classes = nullptr;
    forget_numpy();
    owner.release();
}

// What the package's drawings share with the picture and the library.
void add_constants(PyObject* module) {
    namespace picture = protocols::picture;
    bind::throw_on_failure(PyModule_Add(module, "SAMPLING_RATE", PyFloat_FromDouble(protocols::config::SAMPLING_RATE)));
    bind::throw_on_failure(PyModule_AddIntConstant(module, "MAX_LEVEL", protocols::config::MAX_LEVEL));
    bind::throw_on_failure(PyModule_AddIntConstant(module, "COLUMNS", picture::COLUMNS));
    bind::throw_on_failure(PyModule_AddIntConstant(module, "FINDINGS_SHOWN", picture::FINDINGS_SHOWN));
    Ref colours = Ref::checked(PyDict_New());
    protocols::for_each_field(picture::COLOURS, [&](std::string_view key, std::string_view value) {
        Ref text = Ref::checked(PyUnicode_FromStringAndSize(value.data(), static_cast<Py_ssize_t>(value.size())));
        bind::throw_on_failure(PyDict_SetItemString(colours.get(), std::string(key).c_str(), text.get()));
    });
    bind::throw_on_failure(PyModule_Add(module, "COLOURS", colours.release()));
}

Ref initialise() {
    if (const auto& error = protocols::cpu::environment_error()) bind::raise(PyExc_ImportError, error->c_str());
    owner.claim("drel");
    struct Release {
        bool done = false;
        ~Release() {
            if (!done) owner.release();
        }
    } release;
    Ref module = Ref::checked(PyModule_Create(&module_def));
    bind::throw_on_failure(PyModule_AddStringConstant(module.get(), "version", DREL_VERSION));
    add_constants(module.get());
    bind::throw_on_failure(PyUnstable_AtExit(PyInterpreterState_Get(), forget, nullptr));
    release.done = true;
    return module;
}

}  // namespace
}  // namespace drel

PyMODINIT_FUNC PyInit__native() {
    return bind::entry(drel::initialise);
}
