// Coil and Channel: enumeration classes whose members are made once, as class
// attributes, when the class is made.
#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "bind/convert.hpp"
#include "bind/entry.hpp"
#include "bind/notes.hpp"
#include "hints.hpp"
#include "member_args.hpp"
#include "objects.hpp"
#include "types.hpp"

namespace pydrel {

using namespace bind;

namespace {

struct MemberClass {
    const char* qualified_name;  // "builtins.Coil"
    const char* name;            // "Coil"
    std::array<const char*, 4> members;
    std::size_t member_count;
};

constexpr MemberClass COIL{"builtins.Coil", "Coil", {"A1", "A2", "B1", "B2"}, 4};
constexpr MemberClass CHANNEL{"builtins.Channel", "Channel", {"A", "B"}, 2};

template <const MemberClass& C>
PyObject* member_repr(PyObject* self);

template <const MemberClass& C>
bool is_member(PyObject* o) noexcept {
    // Each class has its own instantiation of member_repr.
    return Py_TYPE(o)->tp_repr == member_repr<C>;
}

template <const MemberClass& C>
MemberObject& member_receiver(PyObject* self) {
    if (!is_member<C>(self)) raise_cast_error(self, C.name);
    return *as_member(self);
}

template <const MemberClass& C>
PyObject* member_repr(PyObject* self) {
    return entry([&] {
        MemberObject& m = member_receiver<C>(self);
        SharedBorrow borrow(m.borrow);
        const std::string text = std::string(C.name) + "." + C.members.at(m.value);
        return Ref::checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    });
}

template <const MemberClass& C>
PyObject* member_int(PyObject* self) {
    return entry([&] {
        MemberObject& m = member_receiver<C>(self);
        SharedBorrow borrow(m.borrow);
        return Ref::checked(PyLong_FromLong(m.value));
    });
}

void member_dealloc(PyObject* self) {
    entry_void([&] {
        Ref type = Ref::steal(as_object(Py_TYPE(self)));  // instances of heap types own their type
        std::destroy_at(&as_member(self)->borrow);
        Py_TYPE(self)->tp_free(self);
    });
}

template <const MemberClass& C>
Ref make_member_type() {
    PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(member_dealloc)},
        {Py_tp_repr, reinterpret_cast<void*>(member_repr<C>)},
        {Py_nb_int, reinterpret_cast<void*>(member_int<C>)},
        {0, nullptr},
    };
    PyType_Spec type_spec = {C.qualified_name, static_cast<int>(sizeof(MemberObject)), 0,
                             Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots};
    Ref type = Ref::checked(PyType_FromSpec(&type_spec));
    auto* tp = reinterpret_cast<PyTypeObject*>(type.get());
    for (std::size_t i = 0; i < C.member_count; ++i) {
        Ref member = Ref::checked(tp->tp_alloc(tp, 0));
        MemberObject* m = as_member(member.get());
        std::construct_at(&m->borrow, 0);
        m->value = static_cast<std::uint8_t>(i);
        throw_on_failure(PyObject_SetAttrString(type.get(), C.members[i], member.get()));
    }
    return type;
}

}  // namespace

void drop_members(PyObject* type) noexcept {
    // Whatever fails here leaves the class alive, which is all it costs.
    Ref dict = Ref::steal(PyType_GetDict(reinterpret_cast<PyTypeObject*>(type)));
    Ref names = Ref::steal(dict ? PyList_New(0) : nullptr);
    PyObject *name, *value;
    Py_ssize_t pos = 0;
    while (names && PyDict_Next(dict.get(), &pos, &name, &value)) {
        if (as_object(Py_TYPE(value)) == type && PyList_Append(names.get(), name) < 0) names = Ref();
    }
    for (Py_ssize_t i = 0; names && i < PyList_GET_SIZE(names.get()); ++i) {
        if (PyObject_DelAttr(type, PyList_GET_ITEM(names.get(), i)) < 0) break;
    }
    if (PyErr_Occurred()) PyErr_Clear();
}

Ref make_coil_type() { return make_member_type<COIL>(); }
Ref make_channel_type() { return make_member_type<CHANNEL>(); }

namespace {

// Members never change and nothing borrows one exclusively, so reading a
// member's value needs no borrow of it.
template <const MemberClass& C, auto HINT>
std::uint8_t member_argument(const Args& args, std::size_t i) {
    return noted([&] {
        return args.convert(i, [](PyObject* o) {
            if (!is_member<C>(o)) raise_cast_error(o, C.name);
            return as_member(o)->value;
        });
    }, [](PyObject*) { return HINT(); });
}

}  // namespace

std::uint8_t coil_argument(const Args& args, std::size_t i) {
    return member_argument<COIL, hints::coil_argument>(args, i);
}

std::uint8_t channel_argument(const Args& args, std::size_t i) {
    return member_argument<CHANNEL, hints::channel_argument>(args, i);
}

std::uint64_t index_argument(const Args& args, std::size_t i) {
    return noted([&] { return args.u64(i); }, [&](PyObject* error) {
        return PyErr_GivenExceptionMatches(error, PyExc_OverflowError) ? hints::index_argument(args.name(i))
                                                                       : std::string();
    });
}

bool external_argument(const Args& args, std::size_t i, bool fallback) {
    return noted([&] { return args.boolean_or(i, fallback); }, [&](PyObject* error) {
        return is_exactly(error, PyExc_TypeError) ? hints::external_argument(args.object(i)) : std::string();
    });
}

}  // namespace pydrel
