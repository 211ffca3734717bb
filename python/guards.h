#pragma once
// Guards for the native object an instance holds:
//   - __class__ can't change between the module's classes: each class gets
//     a deallocator of its own, so CPython's layout check refuses the
//     assignment, on every route to it;
//   - a second __init__ on a constructed instance changes nothing, as
//     pybind11 does for the instances in its registry; results made
//     without the registry need it from here, and so does an __init__
//     started again from the Python code its own arguments run, before the
//     first one has constructed anything: the first to start constructs.
//
// Built on CPython's type slots (tp_free, compared by __class__ assignment)
// and, where the fast paths are built in, on pybind11 2.10.3's constructor
// function objects (functions.h) and instances (instance.h).

#include <algorithm>
#include <string>
#include <vector>

#include <pybind11/pybind11.h>

#include "functions.h"
#include "instance.h"
#include "record.h"
#include "switch.h"

namespace Nubra::Python {

template <class C>
void freeInstance(void* self)
{
    classRecord<C>.baseFree(self);
}

template <class C>
void guardClass(PyTypeObject* type)
{
    classRecord<C>.baseFree = std::exchange(type->tp_free, freeInstance<C>);
}

#if NUBRA_FAST_PATHS
// The instances whose __init__ is running.
inline std::vector<PyObject*> initialising;

// Ignores __init__ on an instance that already holds a native object or is
// being given one. Plain references only: a thread the interpreter ends at
// exit unwinds through here.
inline PyObject* initOnce(PyObject* callable, PyObject* const* args, size_t nargsf, PyObject* kwnames)
{
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    const pyd::function_record* record = recordsOf(callable);
    const pyd::type_info* type = pyd::get_type_info(reinterpret_cast<PyTypeObject*>(record->scope.ptr()));
    if (nargs == 0 || !PyObject_TypeCheck(args[0], type->type))
        return dispatch(callable, args, nargs, kwnames);
    PyObject* self = args[0];
    if (constructed(self, type) || std::find(initialising.begin(), initialising.end(), self) != initialising.end())
        return Py_NewRef(Py_None);
    initialising.push_back(self);
    PyObject* result = dispatch(callable, args, nargs, kwnames);
    initialising.erase(std::find(initialising.begin(), initialising.end(), self));
    return result;
}

// Gives a class's __init__ the guard, if it is the function object
// pybind11 made for a constructor; otherwise says why not. A class bound
// without a constructor keeps the slot of pybind11's base, which refuses
// every call.
inline std::string guardInit(PyTypeObject* type)
{
    if (type->tp_init == reinterpret_cast<PyTypeObject*>(pyd::get_internals().instance_base)->tp_init)
        return {};
    PyCFunctionObject* init = methodAsMade(type, "__init__");
    const pyd::function_record* record = init ? recordsOf(reinterpret_cast<PyObject*>(init)) : nullptr;
    if (record == nullptr || !record->is_constructor || record->scope.ptr() != reinterpret_cast<PyObject*>(type))
        return "no __init__ of pybind11's";
    init->vectorcall = initOnce;
    return {};
}
#endif

} // namespace Nubra::Python
