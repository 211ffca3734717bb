// The nubracore module's entry: made in phases, in the main interpreter
// only; it runs the registration (nubra_pybind.cpp), then tells what the
// fast paths got where NUBRACORE_FAST_PATHS=report asks. It uses the public
// APIs of pybind11 and CPython only.

#include <string>

#include <pybind11/pybind11.h>

#include "fast_paths.h"
#include "nubra_pybind.h"
#include "state.h"

namespace py = pybind11;

namespace {

std::string version(int major, int minor)
{
    return std::to_string(major) + "." + std::to_string(minor);
}

void tell(const std::string& line)
{
    PySys_WriteStderr("nubracore fast paths: %s\n", line.c_str());
}

void report()
{
    if (Nubra::Python::fastPathSetting != "report")
        return;
    const std::string builtWith = "pybind11 " + version(PYBIND11_VERSION_MAJOR, PYBIND11_VERSION_MINOR) + "."
                                  + std::to_string(PYBIND11_VERSION_PATCH) + ", CPython "
                                  + version(PY_MAJOR_VERSION, PY_MINOR_VERSION);
#if NUBRA_FAST_PATHS
    tell("on (" + builtWith + ")");
    for (const auto& [name, what] : Nubra::Python::state.report)
        tell(name + ": " + what);
#else
    tell("compiled out (they need CPython " + version(NUBRA_FIRST_PYTHON >> 8, NUBRA_FIRST_PYTHON & 0xFF) + " to "
         + version(NUBRA_LAST_PYTHON >> 8, NUBRA_LAST_PYTHON & 0xFF) + "; built with " + builtWith + ")");
#endif
}

// What the module holds once made: an import after the first (a reload,
// or after leaving sys.modules) gets the same.
PyObject* made = nullptr;

// Makes the module in the main interpreter. In any other, pybind11 would
// set up its internals through PyGILState_Ensure, which deadlocks there, or
// share the main one's objects: the import is refused.
int execute(PyObject* module)
{
    if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
        PyErr_SetString(PyExc_ImportError, "nubracore can't be imported in a sub-interpreter, only in the main one");
        return -1;
    }
    if (made != nullptr)
        return PyDict_Update(PyModule_GetDict(module), made);
    try {
        auto m = py::reinterpret_borrow<py::module_>(module);
        Nubra::Python::registerModule(m);
    } catch (py::error_already_set& e) {
        py::raise_from(e, PyExc_ImportError, "initialization failed");
        return -1;
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_ImportError, e.what());
        return -1;
    }
    report();
    made = PyDict_Copy(PyModule_GetDict(module));
    return made != nullptr ? 0 : -1;
}

// Made in phases, so that every import runs execute in its own
// interpreter: made once, CPython would copy a module made in one phase
// into a sub-interpreter, and from 3.13 make it in the main one first.
PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(execute)},
#ifdef Py_mod_multiple_interpreters
    // Said so that CPython leaves the refusal to execute in every kind of
    // sub-interpreter.
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
#endif
    {0, nullptr}};

PyModuleDef definition = {PyModuleDef_HEAD_INIT, "nubracore", nullptr, 0, nullptr, slots, nullptr, nullptr, nullptr};

} // namespace

extern "C" PYBIND11_EXPORT PyObject* PyInit_nubracore()
{
    PYBIND11_CHECK_PYTHON_VERSION
    return PyModuleDef_Init(&definition);
}
