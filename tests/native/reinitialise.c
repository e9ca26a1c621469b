/* An embedding program that starts and finalises the interpreter twice in one
 * process, importing and using pydrel each round. Exits 0 when both rounds
 * work. The directory that holds the built module is the first argument. */
#include <Python.h>

#include <stdio.h>

static const char* const ROUND =
    "import importlib, sys\n"
    "sys.path.insert(0, %s)\n"
    "import pydrel\n"
    "p = pydrel.Protocol()\n"
    "p.enable_channel(pydrel.Channel.B)\n"
    "assert p.add_sine_signal(1.0, 10.0) == 0\n"
    "p.set_amplitude_source(pydrel.Coil.B2, 0)\n"
    "assert len(str(p).splitlines()) > 100\n"
    "try:\n"
    "    p.set_session_duration(0.0)\n"
    "except BaseException as e:\n"
    "    assert type(e).__name__ == 'PanicException', type(e)\n"
    "del sys.modules['pydrel']\n"
    "assert importlib.import_module('pydrel') is pydrel\n"
    "keep = (p, pydrel.Coil.A1)  # alive until the interpreter is finalised\n"
    "print('round', %d, 'ok', flush=True)\n";

static int run_round(const char* module_dir, int round) {
    PyConfig config;
    PyConfig_InitPythonConfig(&config);
    PyStatus status = PyConfig_SetBytesString(&config, &config.program_name, "reinitialise");
    if (!PyStatus_Exception(status)) status = Py_InitializeFromConfig(&config);
    PyConfig_Clear(&config);
    if (PyStatus_Exception(status)) {
        fprintf(stderr, "round %d: %s\n", round, status.err_msg ? status.err_msg : "initialisation failed");
        return 1;
    }
    int failed = 1;
    PyObject* dir = PyUnicode_DecodeFSDefault(module_dir);
    PyObject* quoted = dir ? PyObject_Repr(dir) : NULL;
    const char* literal = quoted ? PyUnicode_AsUTF8(quoted) : NULL;
    if (literal != NULL) {
        char program[4096];
        snprintf(program, sizeof program, ROUND, literal, round);
        failed = PyRun_SimpleString(program) != 0;
    } else {
        PyErr_Print();
    }
    Py_XDECREF(quoted);
    Py_XDECREF(dir);
    if (Py_FinalizeEx() < 0) failed = 1;
    return failed;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s MODULE_DIR\n", argv[0]);
        return 2;
    }
    for (int round = 1; round <= 2; ++round) {
        if (run_round(argv[1], round) != 0) return 1;
    }
    return 0;
}
