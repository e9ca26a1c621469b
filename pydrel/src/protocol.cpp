// The Protocol class: construction, release, str() and the method table.
#include <memory>

#include "bind/entry.hpp"
#include "bind/text.hpp"
#include "methods.hpp"
#include "objects.hpp"
#include "protocols/text_form.hpp"
#include "types.hpp"

namespace pydrel {

using namespace bind;

namespace {

constexpr Params<0> NEW{"Protocol.__new__()", {}, 0};

PyObject* protocol_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return entry([&] {
        match_tuple_dict(view(NEW), args, kwargs, {});
        protocols::Settings settings = protocols::new_protocol();
        Ref self = Ref::checked(type->tp_alloc(type, 0));
        ProtocolObject* p = as_protocol(self.get());
        std::construct_at(&p->borrow, 0);
        std::construct_at(&p->settings, std::move(settings));
        return self;
    });
}

void protocol_dealloc(PyObject* self) {
    entry_void([&] {
        Ref type = Ref::steal(as_object(Py_TYPE(self)));  // instances of heap types own their type
        ProtocolObject* p = as_protocol(self);
        std::destroy_at(&p->settings);
        std::destroy_at(&p->borrow);
        Py_TYPE(self)->tp_free(self);
    });
}

PyObject* protocol_str(PyObject* self) {
    return entry([&] {
        ProtocolObject& p = ProtocolObject::from(self);
        SharedBorrow borrow(p.borrow);
        // Sized exactly first, then written straight into the str's own buffer.
        const auto [size, ascii] = protocols::text::measure_protocol(p.settings);
        return utf8_str(size, ascii, [&](std::span<char> out) { protocols::text::render_protocol(p.settings, out); });
    });
}

template <class F>
PyCFunction as_cfunction(F* f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

constexpr int FAST = METH_FASTCALL | METH_KEYWORDS;

}  // namespace

Ref make_protocol_type() {
    static PyMethodDef methods[] = {
        {"set_stimulation_intensity", as_cfunction(set_stimulation_intensity), FAST,
         "set_stimulation_intensity($self, intensity)\n--\n\n"},
        {"set_session_duration", as_cfunction(set_session_duration), FAST,
         "set_session_duration($self, duration)\n--\n\n"},
        {"enable_channel", as_cfunction(enable_channel), FAST, "enable_channel($self, channel)\n--\n\n"},
        {"set_amplitude_source", as_cfunction(set_amplitude_source), FAST,
         "set_amplitude_source($self, coil, index, external=False)\n--\n\n"},
        {"set_modulation_source", as_cfunction(set_modulation_source), FAST,
         "set_modulation_source($self, channel, index, external=False)\n--\n\n"},
        {"add_constant_signal", as_cfunction(add_constant_signal), FAST, "add_constant_signal($self, value)\n--\n\n"},
        {"add_sine_signal", as_cfunction(add_sine_signal), FAST,
         "add_sine_signal($self, amplitude, frequency, phase=0.0, depth=1.0)\n--\n\n"},
        {"add_ramp_signal", as_cfunction(add_ramp_signal), FAST,
         "add_ramp_signal($self, peak, up_duration, down_duration)\n--\n\n"},
        {"add_mixed_signal", as_cfunction(add_mixed_signal), FAST, "add_mixed_signal($self, a_idx, b_idx)\n--\n\n"},
        {"add_arbitrary_signal", as_cfunction(add_arbitrary_signal), FAST,
         "add_arbitrary_signal($self, samples)\n--\n\n"},
        {"get_num_samples", as_cfunction(get_num_samples), METH_NOARGS, "get_num_samples($self)\n--\n\n"},
        {"get_sampling_rate", as_cfunction(get_sampling_rate), METH_NOARGS, "get_sampling_rate($self)\n--\n\n"},
        {"save", as_cfunction(save), FAST, "save($self, filepath)\n--\n\n"},
        {nullptr, nullptr, 0, nullptr},
    };
    PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(protocol_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(protocol_dealloc)},
        {Py_tp_str, reinterpret_cast<void*>(protocol_str)},
        {Py_tp_methods, methods},
        {Py_tp_doc, const_cast<char*>("Protocol()\n--\n\n")},
        {0, nullptr},
    };
    PyType_Spec type_spec = {"builtins.Protocol", static_cast<int>(sizeof(ProtocolObject)), 0, Py_TPFLAGS_DEFAULT,
                        slots};
    return Ref::checked(PyType_FromSpec(&type_spec));
}

bool is_protocol(PyObject* o) noexcept { return Py_TYPE(o)->tp_dealloc == protocol_dealloc; }

ProtocolObject& ProtocolObject::from(PyObject* self) {
    if (!is_protocol(self)) raise_cast_error(self, "Protocol");
    return *as_protocol(self);
}

}  // namespace pydrel
