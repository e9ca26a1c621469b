// Module initialisation: one module object per interpreter lifetime. The
// first interpreter to import the module owns it; when that interpreter is
// finalised the module forgets it, so that an embedding program that starts
// a new interpreter in the same process imports afresh.
#include "bind/entry.hpp"
#include "bind/interpreter.hpp"
#include "protocols/cpu.hpp"
#include "bind/panic.hpp"
#include "types.hpp"
#include "waveform.hpp"

namespace pydrel {

using namespace bind;

namespace {

constexpr int API_VERSION = 1013;

// The module and its classes: strong references of the owning interpreter.
struct Kept {
    Ref module;
    Ref protocol_type;
    Ref channel_type;
    Ref coil_type;
};

InterpreterOwner owner;
NeverDestroyed<Kept> kept;

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "pydrel",
    "",
    // Per-module state size 0 (not -1): a re-import after removal from
    // sys.modules calls PyInit_pydrel again, which hands back the same module.
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// Runs while the owning interpreter is finalised, before its objects are
// gone: releases what the module kept and frees the module for the next
// interpreter.
void forget(void*) {
    kept->module = Ref();
    if (kept->channel_type) drop_members(kept->channel_type.get());
    if (kept->coil_type) drop_members(kept->coil_type.get());
    *kept = Kept{};
    release_panic_type();
    forget_numpy();
    owner.release();
}

// Adds `type` under `name` and lists the name in __all__.
void add_class(PyObject* module, const char* name, PyObject* type) {
    Ref all;
    {
        PyObject* found = nullptr;
        throw_on_failure(PyObject_GetOptionalAttrString(module, "__all__", &found));
        all = Ref::steal(found);
    }
    if (!all) {
        all = Ref::checked(PyList_New(0));
        throw_on_failure(PyObject_SetAttrString(module, "__all__", all.get()));
    }
    Ref text = Ref::checked(PyUnicode_FromString(name));
    throw_on_failure(PyList_Append(all.get(), text.get()));
    throw_on_failure(PyObject_SetAttrString(module, name, type));
}

Ref initialise() {
    if (const auto& error = protocols::cpu::environment_error()) raise(PyExc_ImportError, error->c_str());
    owner.claim("pydrel");
    if (kept->module) return Ref::borrow(kept->module.get());

    // A failure below leaves nothing kept and the interpreter free to retry.
    struct Release {
        bool done = false;
        ~Release() {
            if (!done) owner.release();
        }
    } release;
    Ref module = Ref::checked(PyModule_Create2(&module_def, API_VERSION));
    Ref protocol = make_protocol_type();
    Ref channel = make_channel_type();
    Ref coil = make_coil_type();
    add_class(module.get(), "Protocol", protocol.get());
    add_class(module.get(), "Channel", channel.get());
    add_class(module.get(), "Coil", coil.get());
    throw_on_failure(PyUnstable_AtExit(PyInterpreterState_Get(), forget, nullptr));

    release.done = true;
    *kept = {Ref::borrow(module.get()), std::move(protocol), std::move(channel), std::move(coil)};
    return module;
}

}  // namespace
}  // namespace pydrel

PyMODINIT_FUNC PyInit_pydrel() {
    return pydrel::entry(pydrel::initialise);
}
