#include "records.hpp"

#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "levels.hpp"
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

using Payload = protocols::Signal::Payload;

template <class T, std::size_t... I>
consteval std::size_t alternative_of(std::index_sequence<I...>) {
    std::size_t found = sizeof...(I);
    (void)((std::is_same_v<T, std::variant_alternative_t<I, Payload>> ? (found = I, true) : false) || ...);
    return found;
}

// Python's name of a record: a signal's parameters go by their variant's name.
template <class T>
constexpr std::string_view python_name() {
    constexpr std::size_t alternative = alternative_of<T>(std::make_index_sequence<std::variant_size_v<Payload>>());
    if constexpr (alternative < std::variant_size_v<Payload>) return protocols::Signal::variant_names[alternative];
    else return T::record_name;
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

template <class T>
RecordClass bind_class(PyObject* by_name) {
    const std::string name(python_name<T>());
    PyObject* type = PyDict_GetItemString(by_name, name.c_str());  // borrowed
    if (type == nullptr || !PyType_Check(type)) {
        bind::raise(PyExc_TypeError, Ref::steal(PyUnicode_FromFormat("no class for the record %s", name.c_str())));
    }
    RecordClass record{Ref::borrow(type), {}};
    for (const std::string_view field : field_names<T>()) {
        // Each field must be a slot of its own: a member of the class.
        Ref member = Ref::steal(PyObject_GetAttrString(type, std::string(field).c_str()));
        if (!member || !Py_IS_TYPE(member.get(), &PyMemberDescr_Type) ||
            reinterpret_cast<PyMemberDescrObject*>(member.get())->d_member->type != Py_T_OBJECT_EX) {
            PyErr_Clear();
            bind::raise(PyExc_TypeError, Ref::steal(PyUnicode_FromFormat("%s has no slot for the field %s",
                                                                          name.c_str(), std::string(field).c_str())));
        }
        record.offsets.push_back(reinterpret_cast<PyMemberDescrObject*>(member.get())->d_member->offset);
    }
    // And no other fields: the same count, in the same order.
    Ref slots = Ref::checked(PyObject_GetAttrString(type, "__slots__"));
    Ref names = Ref::checked(PySequence_Tuple(slots.get()));
    bool same = PyTuple_GET_SIZE(names.get()) == static_cast<Py_ssize_t>(record.offsets.size());
    const std::vector<std::string_view> fields = field_names<T>();
    for (std::size_t i = 0; same && i < fields.size(); ++i) {
        const char* slot_name = PyUnicode_AsUTF8(PyTuple_GET_ITEM(names.get(), static_cast<Py_ssize_t>(i)));
        if (slot_name == nullptr) throw PythonError{};
        same = fields[i] == slot_name;
    }
    if (!same) {
        bind::raise(PyExc_TypeError, Ref::steal(PyUnicode_FromFormat(
                                         "%s must declare the fields of its record, in their order", name.c_str())));
    }
    return record;
}

class ToPython {
public:
    explicit ToPython(const Classes& classes) : classes_(classes) {}

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
            return record(v);
        }
    }

private:
    // An instance made without __init__, its slots filled in field order.
    template <class T>
    Ref record(T& r) {
        const RecordClass& c = classes_.records[record_index<T>];
        auto* type = reinterpret_cast<PyTypeObject*>(c.type.get());
        Ref instance = Ref::checked(type->tp_alloc(type, 0));
        std::size_t i = 0;
        protocols::for_each_field(r, [&](std::string_view, auto& field) {
            slot(instance.get(), c.offsets[i++]) = value(field).release();
        });
        return instance;
    }

    const Classes& classes_;
};

class FromPython {
public:
    explicit FromPython(const Classes& classes) : classes_(classes) {}

    template <class T>
    void value(PyObject* o, T& out, const std::string& field) {
        constexpr WireKind kind = protocols::wire_kind<T>;
        if constexpr (kind == WireKind::Bool) {
            if (!PyBool_Check(o)) wrong_type(o, field, "a bool");
            out = o == Py_True;
        } else if constexpr (kind == WireKind::Unsigned) {
            if (!PyLong_Check(o) || PyBool_Check(o)) wrong_type(o, field, "an int");
            out = PyLong_AsUnsignedLongLong(o);
            if (out == static_cast<std::uint64_t>(-1) && PyErr_Occurred()) {
                PyErr_Clear();
                bind::raise(PyExc_ValueError, Ref::steal(PyUnicode_FromFormat("%s must be from 0 to 2**64 - 1, not %R",
                                                                               field.c_str(), o)));
            }
        } else if constexpr (kind == WireKind::Float) {
            if (PyFloat_Check(o)) {
                out = PyFloat_AS_DOUBLE(o);
            } else {
                if (!PyLong_Check(o) || PyBool_Check(o)) wrong_type(o, field, "a float");
                out = PyLong_AsDouble(o);  // an int by hand, as the annotations allow
                if (out == -1.0 && PyErr_Occurred()) throw PythonError{};
            }
        } else if constexpr (kind == WireKind::Text) {
            if (!PyUnicode_Check(o)) wrong_type(o, field, "a str");
            Py_ssize_t size = 0;
            const char* utf8 = PyUnicode_AsUTF8AndSize(o, &size);
            if (utf8 == nullptr) throw PythonError{};
            out.assign(utf8, static_cast<std::size_t>(size));
        } else if constexpr (kind == WireKind::Levels) {
            out = levels_of(o, field);
        } else if constexpr (kind == WireKind::Array || kind == WireKind::FixedArray) {
            if (!PyTuple_Check(o)) wrong_type(o, field, "a tuple");
            const auto n = static_cast<std::size_t>(PyTuple_GET_SIZE(o));
            if constexpr (kind == WireKind::FixedArray) {
                if (n != out.size()) {
                    bind::raise(PyExc_ValueError, Ref::steal(PyUnicode_FromFormat(
                                                      "%s must hold %zu items, not %zu", field.c_str(), out.size(), n)));
                }
            } else {
                out.resize(n);
            }
            for (std::size_t i = 0; i < n; ++i) {
                value(PyTuple_GET_ITEM(o, static_cast<Py_ssize_t>(i)), out[i], field + "[" + std::to_string(i) + "]");
            }
        } else if constexpr (kind == WireKind::Variant) {
            variant(o, out.payload, field, std::make_index_sequence<std::variant_size_v<typename T::Payload>>());
        } else {
            if (!is<T>(o)) wrong_type(o, field, std::string("a drel.") + std::string(python_name<T>()).c_str());
            record(o, out, field);
        }
    }

    // Fields are named from here: "intensity", "signals[2].samples".
    void top(PyObject* o, protocols::Settings& out) {
        if (!is<protocols::Settings>(o)) wrong_type(o, "the protocol", "a drel.Settings");
        record(o, out, "");
    }

private:
    template <class T>
    bool is(PyObject* o) const {
        return PyObject_TypeCheck(o, reinterpret_cast<PyTypeObject*>(classes_.records[record_index<T>].type.get()));
    }

    template <class T>
    void record(PyObject* o, T& out, const std::string& field) {
        const RecordClass& c = classes_.records[record_index<T>];
        std::size_t i = 0;
        protocols::for_each_field(out, [&](std::string_view name, auto& member) {
            const std::string path = field.empty() ? std::string(name) : field + "." + std::string(name);
            PyObject* item = slot(o, c.offsets[i++]);
            if (item == nullptr) {
                bind::raise(PyExc_AttributeError, Ref::steal(PyUnicode_FromFormat("%s is not set", path.c_str())));
            }
            value(item, member, path);
        });
    }

    template <class V, std::size_t... I>
    void variant(PyObject* o, V& payload, const std::string& field, std::index_sequence<I...>) {
        const bool found = ((is<std::variant_alternative_t<I, V>>(o)
                                 ? (record(o, payload.template emplace<I>(), field), true)
                                 : false) ||
                            ...);
        if (!found) wrong_type(o, field, "a drel.Signal");
    }

    [[noreturn]] static void wrong_type(PyObject* o, const std::string& field, const std::string& expected) {
        bind::raise(PyExc_TypeError, Ref::steal(PyUnicode_FromFormat("%s must be %s, not '%s'", field.c_str(),
                                                                      expected.c_str(), Py_TYPE(o)->tp_name)));
    }

    const Classes& classes_;
};

template <std::size_t... I>
void bind_all(Classes& classes, PyObject* by_name, std::index_sequence<I...>) {
    ((classes.records[I] = bind_class<std::tuple_element_t<I, Records>>(by_name)), ...);
}

}  // namespace

void bind_classes(Classes& classes, PyObject* by_name, PyObject* decode_error) {
    if (!PyDict_Check(by_name)) bind::raise(PyExc_TypeError, "the classes come in a dict");
    Classes bound;
    bind_all(bound, by_name, std::make_index_sequence<RECORD_COUNT>());
    bound.decode_error = Ref::borrow(decode_error);
    classes = std::move(bound);
}

Ref to_python(const Classes& classes, protocols::Settings&& settings) {
    if (!classes.decode_error) bind::raise(PyExc_RuntimeError, "drel's classes are not bound");
    return ToPython(classes).value(settings);
}

protocols::Settings from_python(const Classes& classes, PyObject* settings) {
    if (!classes.decode_error) bind::raise(PyExc_RuntimeError, "drel's classes are not bound");
    protocols::Settings s{};
    FromPython(classes).top(settings, s);
    return s;
}

}  // namespace drel
