// Module initialisation: one module object per process, bound to the first
// interpreter that imports it.
#include <atomic>
#include <cstdint>

#include "entry.hpp"
#include "objects.hpp"

namespace pydrel {
namespace {

constexpr int API_VERSION = 1013;
constexpr std::int64_t NO_INTERPRETER = -1;

std::atomic<std::int64_t> bound_interpreter{NO_INTERPRETER};
std::atomic<PyObject*> module_object{nullptr};

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

// Adds `type` under `name` and lists the name in __all__.
void add_class(PyObject* module, const char* name, PyTypeObject* type) {
    Ref all;
    {
        PyObject* found = nullptr;
        check_status(PyObject_GetOptionalAttrString(module, "__all__", &found));
        all = Ref::steal(found);
    }
    if (!all) {
        all = Ref::checked(PyList_New(0));
        check_status(PyObject_SetAttrString(module, "__all__", all.get()));
    }
    Ref text = Ref::checked(PyUnicode_FromString(name));
    check_status(PyList_Append(all.get(), text.get()));
    check_status(PyObject_SetAttrString(module, name, as_object(type)));
}

Ref initialise() {
    const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) throw PythonError{};
    std::int64_t bound = NO_INTERPRETER;
    if (!bound_interpreter.compare_exchange_strong(bound, id) && bound != id) {
        raise(PyExc_ImportError,
              "pydrel does not support subinterpreters: it can be imported in one interpreter per process only");
    }
    if (PyObject* cached = module_object.load()) return Ref::borrow(cached);

    Ref module = Ref::checked(PyModule_Create2(&module_def, API_VERSION));
    add_class(module.get(), "Protocol", protocol_type());
    add_class(module.get(), "Channel", channel_type());
    add_class(module.get(), "Coil", coil_type());

    PyObject* expected = nullptr;
    if (module_object.compare_exchange_strong(expected, module.get())) {
        Py_INCREF(module.get());  // the cache's own reference, kept for the life of the process
        return module;
    }
    return Ref::borrow(expected);
}

}  // namespace
}  // namespace pydrel

PyMODINIT_FUNC PyInit_pydrel() {
    return pydrel::entry(pydrel::initialise);
}
