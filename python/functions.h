#pragma once
// pybind11's function objects: finding their records, telling one as
// pybind11 made it, reaching its dispatcher, and raising a C++ exception as
// its dispatcher would.
//
// Built on pybind11 2.10.3's internals: the function objects it makes are
// builtin functions with METH_VARARGS | METH_KEYWORDS and no vectorcall,
// whose m_self is a capsule (named by get_function_record_capsule_name)
// holding the chain of detail::function_record; a class's methods are
// instancemethod objects wrapping them; PYBIND11_TRY_NEXT_OVERLOAD,
// apply_exception_translators with the local and global translator lists,
// raise_from, and the dispatcher's message for a result it can't cast. And on CPython's PyCFunctionObject
// (m_ml, m_self, vectorcall).

#include <string>

#include <pybind11/pybind11.h>

#include "switch.h"

namespace Nubra::Python {

namespace py = pybind11;
namespace pyd = pybind11::detail;

// What an overload's impl returns when it refuses the arguments.
inline PyObject* const tryNext = PYBIND11_TRY_NEXT_OVERLOAD;

// The function record chain of a pybind11 function object, or null.
inline pyd::function_record* recordsOf(PyObject* function)
{
    if (!PyCFunction_Check(function))
        return nullptr;
    PyObject* self = PyCFunction_GET_SELF(function);
    if (self == nullptr || !PyCapsule_CheckExact(self) || PyCapsule_GetName(self) != pyd::get_function_record_capsule_name())
        return nullptr;
    return static_cast<pyd::function_record*>(PyCapsule_GetPointer(self, pyd::get_function_record_capsule_name()));
}

// Sets the TypeError message as pybind11's dispatcher sets its own: with
// its note on missing headers where a C++ type shows, and chained to the
// error already set, if any.
inline void setTypeError(std::string message)
{
    if (message.find("std::") != std::string::npos)
        message += "\n\nDid you forget to `#include <pybind11/stl.h>`? Or <pybind11/complex.h>,\n"
                   "<pybind11/functional.h>, <pybind11/chrono.h>, etc. Some automatic\n"
                   "conversions are optional and require extra headers to be included\n"
                   "when compiling your pybind11 module.";
    if (PyErr_Occurred())
        py::raise_from(PyExc_TypeError, message.c_str());
    else
        PyErr_SetString(PyExc_TypeError, message.c_str());
}

#if NUBRA_FAST_PATHS

// A function object as pybind11 made it, called through a tuple and a dict,
// with no vectorcall yet; null for anything else.
inline PyCFunctionObject* asMade(PyObject* object)
{
    auto* function = reinterpret_cast<PyCFunctionObject*>(object);
    if (recordsOf(object) == nullptr || function->m_ml->ml_flags != (METH_VARARGS | METH_KEYWORDS)
        || function->vectorcall != nullptr)
        return nullptr;
    return function;
}

// The method name of a class, as pybind11 made it, or null.
inline PyCFunctionObject* methodAsMade(PyTypeObject* type, const char* name)
{
    PyObject* method = PyDict_GetItemString(type->tp_dict, name);
    return method != nullptr && PyInstanceMethod_Check(method) ? asMade(PyInstanceMethod_GET_FUNCTION(method)) : nullptr;
}

// pybind11's dispatcher, meth, reached as CPython would reach it: with a
// tuple of the positional arguments and a dict of the keywords. Kept out of
// line, off the fast paths. The references are plain pointers, released
// only on return: a thread the interpreter ends at exit unwinds through here
// without the GIL, and must not touch them then.
[[gnu::noinline]] inline PyObject* callDispatcher(PyCFunctionWithKeywords meth, PyObject* self, PyObject* const* args,
                                                  Py_ssize_t nargs, PyObject* kwnames)
{
    PyObject* positional = PyTuple_New(nargs);
    if (positional == nullptr)
        return nullptr;
    for (Py_ssize_t i = 0; i < nargs; ++i)
        PyTuple_SET_ITEM(positional, i, Py_NewRef(args[i]));
    PyObject* keywords = nullptr;
    if (kwnames != nullptr && PyTuple_GET_SIZE(kwnames) > 0) {
        keywords = PyDict_New();
        for (Py_ssize_t i = 0; keywords != nullptr && i < PyTuple_GET_SIZE(kwnames); ++i)
            if (PyDict_SetItem(keywords, PyTuple_GET_ITEM(kwnames, i), args[nargs + i]) < 0)
                Py_CLEAR(keywords);
        if (keywords == nullptr) {
            Py_DECREF(positional);
            return nullptr;
        }
    }
    PyObject* result = nullptr;
    if (!Py_EnterRecursiveCall(" while calling a Python object")) {
        result = meth(self, positional, keywords);
        Py_LeaveRecursiveCall();
    }
    Py_DECREF(positional);
    Py_XDECREF(keywords);
    return result;
}

// pybind11's dispatcher of a function object, with the capsule it takes.
struct Dispatcher {
    PyCFunctionWithKeywords meth;
    PyObject* self;
};

// Calls a function object that pybind11 made through its dispatcher, as
// it made it.
inline PyObject* dispatch(PyObject* callable, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    return callDispatcher(reinterpret_cast<PyCFunctionWithKeywords>(reinterpret_cast<void (*)()>(PyCFunction_GET_FUNCTION(callable))),
                          PyCFunction_GET_SELF(callable), args, nargs, kwnames);
}

// Runs body(), turning a C++ exception into the Python error pybind11's
// dispatcher would raise for it; null then.
template <class Body>
PyObject* translated(Body body)
{
    try {
        return body();
    } catch (py::error_already_set& e) {
        e.restore();
#ifdef __GLIBCXX__
    } catch (abi::__forced_unwind&) {
        throw;
#endif
    } catch (...) {
        if (!pyd::apply_exception_translators(pyd::get_local_internals().registered_exception_translators)
            && !pyd::apply_exception_translators(pyd::get_internals().registered_exception_translators))
            PyErr_SetString(PyExc_SystemError, "Exception escaped from default exception translator!");
    }
    return nullptr;
}

// Raises what pybind11's dispatcher raises when an overload's result
// can't be cast; null.
inline PyObject* unconvertible(const pyd::function_record& record)
{
    setTypeError(std::string("Unable to convert function return value to a Python type! The signature was\n\t")
                 + record.signature);
    return nullptr;
}

#endif

} // namespace Nubra::Python
