#include "records.hpp"

#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "levels.hpp"
#include "protocols/field_path.hpp"
#include "protocols/wire.hpp"

namespace drel {

using bind::PythonError;
using bind::Ref;
using protocols::WireKind;

namespace {

template <class T, class... Ts>
consteval std::size_t index_of(std::tuple<Ts...>*) {
    std::size_t i = 0;
    (void)((std::is_same_v<T, Ts> ? false : (++i, true)) && ...);
    return i;
}

template <class T>
inline constexpr std::size_t record_index = index_of<T>(static_cast<Records*>(nullptr));

template <class T>
constexpr std::size_t checked_record_index() {
    static_assert(record_index<T> < RECORD_COUNT, "a record that Records does not list");
    return record_index<T>;
}

template <class T>
constexpr std::string_view python_name() {
    return protocols::package_name<T>();
}

template <class T>
std::vector<std::string_view> field_names() {
    std::vector<std::string_view> names;
    std::apply([&](const auto&... fs) { (names.push_back(fs.name), ...); }, T::fields());
    return names;
}

PyObject*& slot(PyObject* instance, Py_ssize_t offset) {
    return *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(instance) + offset);
}

[[noreturn]] void refuse_class(const std::string& name, const char* problem, std::string_view field = {}) {
    bind::raise(PyExc_TypeError, Ref::steal(PyUnicode_FromFormat("%s %s%s", name.c_str(), problem,
                                                                  std::string(field).c_str())));
}

template <class T>
RecordClass bind_class(PyObject* by_name) {
    const std::string name(python_name<T>());
    PyObject* type = nullptr;
    bind::throw_on_failure(PyDict_GetItemStringRef(by_name, name.c_str(), &type));
    Ref held = Ref::steal(type);
    if (type == nullptr || !PyType_Check(type)) refuse_class("the record " + name, "has no class");
    const auto* cls = reinterpret_cast<PyTypeObject*>(type);
    RecordClass record{std::move(held), {}};
    for (const std::string_view field : field_names<T>()) {
        // Each field must be an object slot of the class itself, inside its
        // instances: the walkers read and write it in place.
        Ref member = Ref::steal(PyObject_GetAttrString(type, std::string(field).c_str()));
        if (!member) PyErr_Clear();
        if (!member || !Py_IS_TYPE(member.get(), &PyMemberDescr_Type)) refuse_class(name, "has no slot for the field ", field);
        const auto* descr = reinterpret_cast<PyMemberDescrObject*>(member.get());
        const Py_ssize_t offset = descr->d_member->offset;
        if (descr->d_common.d_type != cls || descr->d_member->type != Py_T_OBJECT_EX ||
            offset < static_cast<Py_ssize_t>(sizeof(PyObject)) ||
            offset > cls->tp_basicsize - static_cast<Py_ssize_t>(sizeof(PyObject*))) {
            refuse_class(name, "has no slot of its own for the field ", field);
        }
        record.offsets.push_back(offset);
    }
    // And no other fields: the same count, in the same order.
    Ref slots = Ref::checked(PyObject_GetAttrString(type, "__slots__"));
    Ref names = Ref::checked(PySequence_Tuple(slots.get()));
    bool same = PyTuple_GET_SIZE(names.get()) == static_cast<Py_ssize_t>(record.offsets.size());
    const std::vector<std::string_view> fields = field_names<T>();
    for (std::size_t i = 0; same && i < fields.size(); ++i) {
        PyObject* slot_name = PyTuple_GET_ITEM(names.get(), static_cast<Py_ssize_t>(i));
        const char* utf8 = PyUnicode_Check(slot_name) ? PyUnicode_AsUTF8(slot_name) : nullptr;
        if (utf8 == nullptr) PyErr_Clear();
        same = utf8 != nullptr && fields[i] == utf8;
    }
    if (!same) refuse_class(name, "must declare the fields of its record, in their order");
    return record;
}

// Arrays of levels that stand for themselves in a copy, one entry per
// waveform in walking order (empty where the levels were copied).
using SharedLevels = std::vector<Ref>;

class ToPython {
public:
    explicit ToPython(const Classes& classes, SharedLevels* shared = nullptr) : classes_(classes), shared_(shared) {}

    template <class T>
    Ref value(T& v) {
        constexpr WireKind kind = protocols::wire_kind<T>;
        if constexpr (kind == WireKind::Bool) {
            return Ref::borrow(v ? Py_True : Py_False);
        } else if constexpr (kind == WireKind::Unsigned) {
            return Ref::checked(PyLong_FromUnsignedLongLong(v));
        } else if constexpr (kind == WireKind::Float) {
            return Ref::checked(PyFloat_FromDouble(v));  // every bit kept, NaN payloads too
        } else if constexpr (kind == WireKind::Text) {
            return Ref::checked(PyUnicode_DecodeUTF8(v.data(), static_cast<Py_ssize_t>(v.size()), nullptr));
        } else if constexpr (kind == WireKind::Levels) {
            if (shared_ != nullptr && shared_->at(next_shared_++)) return std::move((*shared_)[next_shared_ - 1]);
            return levels_array(std::move(v));
        } else if constexpr (kind == WireKind::Array || kind == WireKind::FixedArray) {
            Ref items = Ref::checked(PyTuple_New(static_cast<Py_ssize_t>(v.size())));
            for (std::size_t i = 0; i < v.size(); ++i) {
                PyTuple_SET_ITEM(items.get(), static_cast<Py_ssize_t>(i), value(v[i]).release());
            }
            return items;
        } else if constexpr (kind == WireKind::Variant) {
            return std::visit([&](auto& params) { return record(params); }, v.payload);
        } else {
            static_assert(kind == WireKind::Record, "a kind that no Python value is made of");
            return record(v);
        }
    }

private:
    // An instance made without __init__, its slots filled in field order.
    template <class T>
    Ref record(T& r) {
        const RecordClass& c = classes_.records[checked_record_index<T>()];
        auto* type = reinterpret_cast<PyTypeObject*>(c.type.get());
        Ref instance = Ref::checked(type->tp_alloc(type, 0));
        std::size_t i = 0;
        protocols::for_each_field(r, [&](std::string_view, auto& field) {
            slot(instance.get(), c.offsets[i++]) = value(field).release();
        });
        return instance;
    }

    const Classes& classes_;
    SharedLevels* shared_;
    std::size_t next_shared_ = 0;
};


// The rule for the values of hand-built records. Every object it looks at is
// held by a strong reference while it does: a value that is replaced or
// dropped meanwhile stays alive until it is done.
class FromPython {
public:
    explicit FromPython(const Classes& classes, SharedLevels* shared = nullptr) : classes_(classes), shared_(shared) {}

    void top(PyObject* o, protocols::Settings& out) {
        if (!is<protocols::Settings>(o)) wrong_type(o, "a drel.Settings");
        record(o, out);
    }

private:
    template <class T>
    void value(PyObject* o, T& out) {
        const Ref held = Ref::borrow(o);
        constexpr WireKind kind = protocols::wire_kind<T>;
        if constexpr (kind == WireKind::Bool) {
            out = boolean(o);
        } else if constexpr (kind == WireKind::Unsigned) {
            out = unsigned_integer(o);
        } else if constexpr (kind == WireKind::Float) {
            out = floating(o);
        } else if constexpr (kind == WireKind::Text) {
            text(o, out);
        } else if constexpr (kind == WireKind::Levels) {
            if (shared_ != nullptr && is_levels_array(o)) {
                shared_->push_back(Ref::borrow(o));
            } else {
                out = levels_of(o, path_.where());
                if (shared_ != nullptr) shared_->emplace_back();
            }
        } else if constexpr (kind == WireKind::Array || kind == WireKind::FixedArray) {
            sequence(o, out);
        } else if constexpr (kind == WireKind::Variant) {
            variant(o, out.payload, std::make_index_sequence<std::variant_size_v<typename T::Payload>>());
        } else {
            static_assert(kind == WireKind::Record, "a kind that no Python value is read as");
            if (!is<T>(o)) wrong_type(o, std::string("a drel.") + std::string(python_name<T>()));
            record(o, out);
        }
    }

    // True or False, or a NumPy bool; never a truth value of something else.
    bool boolean(PyObject* o) {
        if (o == Py_True) return true;
        if (o == Py_False) return false;
        if (numpy_scalar(o) == NumpyScalar::Bool) return numpy_bool_value(o);
        wrong_type(o, "a bool");
    }

    // An int (not a bool, nor another subclass) or a NumPy integer, from 0
    // to 2**64 - 1.
    std::uint64_t unsigned_integer(PyObject* o) {
        if (PyLong_CheckExact(o)) {
            const unsigned long long v = PyLong_AsUnsignedLongLong(o);
            if (v != static_cast<unsigned long long>(-1) || !PyErr_Occurred()) return v;
            PyErr_Clear();
        } else if (numpy_scalar(o) == NumpyScalar::Integer) {
            if (const auto v = numpy_unsigned_value(o)) return *v;
        } else {
            wrong_type(o, "an int");
        }
        Ref detail = Ref::steal(PyUnicode_FromFormat("must be from 0 to 2**64 - 1, not %R", o));
        if (!detail) {  // an int too long to print
            PyErr_Clear();
            detail = Ref::steal(PyUnicode_FromString("must be from 0 to 2**64 - 1"));
        }
        refuse(PyExc_ValueError, std::move(detail));
    }

    // A float, an int (not a bool), or a NumPy integer or floating scalar;
    // no other subclass of float or int, whose value Python may see through
    // methods of its own. A number beyond the range of a double is refused,
    // whatever its type.
    double floating(PyObject* o) {
        if (PyFloat_CheckExact(o)) return PyFloat_AS_DOUBLE(o);  // every bit, NaN payloads too
        if (PyLong_CheckExact(o)) {
            const double v = PyLong_AsDouble(o);
            if (v != -1.0 || !PyErr_Occurred()) return v;
            if (!PyErr_ExceptionMatches(PyExc_OverflowError)) throw PythonError{};
            PyErr_Clear();
            refuse(PyExc_OverflowError, Ref::steal(PyUnicode_FromString("is an int too large for a float")));
        }
        const NumpyScalar scalar = numpy_scalar(o);
        if (scalar == NumpyScalar::Integer || scalar == NumpyScalar::Floating) {
            if (const auto v = numpy_double_value(o)) return *v;
            refuse(PyExc_OverflowError, Ref::steal(PyUnicode_FromString("is a number too large for a float")));
        }
        wrong_type(o, "a float");
    }

    // A str (no subclass) that UTF-8 can encode: no lone surrogates.
    void text(PyObject* o, std::string& out) {
        if (!PyUnicode_CheckExact(o)) wrong_type(o, "a str");
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(o, &size);
        if (utf8 == nullptr) {
            Ref error = Ref::steal(PyErr_GetRaisedException());
            refuse(PyExc_ValueError, Ref::steal(PyUnicode_FromFormat("must be text that UTF-8 can encode: %S",
                                                                     error.get())));
        }
        out.assign(utf8, static_cast<std::size_t>(size));
    }

    // A tuple or a list, no subclass of either (read as it is now: a copy of
    // its items).
    template <class V>
    void sequence(PyObject* o, V& out) {
        Ref items;
        if (PyTuple_CheckExact(o)) items = Ref::borrow(o);
        else if (PyList_CheckExact(o)) items = Ref::checked(PyList_AsTuple(o));
        else wrong_type(o, "a tuple or a list");
        const auto n = static_cast<std::size_t>(PyTuple_GET_SIZE(items.get()));
        if constexpr (protocols::wire_kind<V> == WireKind::FixedArray) {
            if (n != out.size()) {
                refuse(PyExc_ValueError, Ref::steal(PyUnicode_FromFormat("must hold %zu items, not %zu", out.size(), n)));
            }
        } else {
            out.resize(n);
        }
        for (std::size_t i = 0; i < n; ++i) {
            protocols::FieldPath::Step step(path_, i);
            value(PyTuple_GET_ITEM(items.get(), static_cast<Py_ssize_t>(i)), out[i]);
        }
    }

    // Of the record's class itself: a subclass may keep fields of its own,
    // which Python shows and the slots read here would not.
    template <class T>
    bool is(PyObject* o) const {
        return Py_IS_TYPE(o, reinterpret_cast<PyTypeObject*>(classes_.records[checked_record_index<T>()].type.get()));
    }

    template <class T>
    void record(PyObject* o, T& out) {
        const RecordClass& c = classes_.records[checked_record_index<T>()];
        std::size_t i = 0;
        protocols::for_each_field(out, [&](std::string_view name, auto& member) {
            protocols::FieldPath::Step step(path_, name);
            PyObject* item = slot(o, c.offsets[i++]);
            if (item == nullptr) refuse(PyExc_TypeError, Ref::steal(PyUnicode_FromString("is not set")));
            value(item, member);
        });
    }

    template <class V, std::size_t... I>
    void variant(PyObject* o, V& payload, std::index_sequence<I...>) {
        const bool found =
            ((is<std::variant_alternative_t<I, V>>(o) ? (record(o, payload.template emplace<I>()), true) : false) ||
             ...);
        if (!found) wrong_type(o, "a drel.Signal");
    }

    // "{path} {detail}", as `type`.
    [[noreturn]] void refuse(PyObject* type, Ref detail) const {
        if (!detail) throw PythonError{};
        bind::raise(type, Ref::steal(PyUnicode_FromFormat("%s %U", path_.where().c_str(), detail.get())));
    }

    [[noreturn]] void wrong_type(PyObject* o, const std::string& expected) const {
        refuse(PyExc_TypeError,
               Ref::steal(PyUnicode_FromFormat("must be %s, not '%s'", expected.c_str(), Py_TYPE(o)->tp_name)));
    }

    const Classes& classes_;
    SharedLevels* shared_;
    protocols::FieldPath path_;
};

template <std::size_t... I>
void bind_all(Classes& classes, PyObject* by_name, std::index_sequence<I...>) {
    ((classes.records[I] = bind_class<std::tuple_element_t<I, Records>>(by_name)), ...);
}

}  // namespace

BoundClasses bind_classes(PyObject* by_name, PyObject* decode_error, PyObject* json_error, PyObject* not_composable) {
    if (!PyDict_Check(by_name)) bind::raise(PyExc_TypeError, "the classes come in a dict");
    for (PyObject* error : {decode_error, json_error, not_composable}) {
        if (!PyType_Check(error)) bind::raise(PyExc_TypeError, "the errors must be classes");
    }
    auto bound = std::make_shared<Classes>();
    bind_all(*bound, by_name, std::make_index_sequence<RECORD_COUNT>());
    bound->decode_error = Ref::borrow(decode_error);
    bound->json_error = Ref::borrow(json_error);
    bound->not_composable = Ref::borrow(not_composable);
    return bound;
}

Ref to_python(const Classes& classes, protocols::Settings&& settings) {
    return ToPython(classes).value(settings);
}

Ref to_python(const Classes& classes, protocols::Signal&& signal) { return ToPython(classes).value(signal); }

protocols::Settings from_python(const Classes& classes, PyObject* settings) {
    protocols::Settings s{};
    FromPython(classes).top(settings, s);
    return s;
}

Ref validated(const Classes& classes, PyObject* settings) {
    SharedLevels shared;
    protocols::Settings s{};
    FromPython(classes, &shared).top(settings, s);
    return ToPython(classes, &shared).value(s);
}

}  // namespace drel
