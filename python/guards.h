#pragma once
// Guards for the native object an instance holds:
//   - __class__ can't change between the module's classes: each class gets
//     a deallocator of its own, so CPython's layout check refuses the
//     assignment, on every route to it;
//   - a second __init__ on a constructed instance changes nothing, as
//     pybind11 does for the instances in its registry; results made
//     without the registry need it from here.
//
// Built on CPython's type slots (tp_free, compared by __class__ assignment)
// and, with the fast paths, on pybind11 2.10.3's constructor function
// objects (fast_call.h).

#include <string>

#include <pybind11/pybind11.h>

#include "instance.h"
#include "switch.h"
#if NUBRA_FAST_PATHS
#include "fast_call.h"
#endif

namespace Nubra::Python {

template <class C>
inline freefunc baseFree = nullptr;

template <class C>
void freeInstance(void* self)
{
    baseFree<C>(self);
}

template <class C>
void guardClass(PyTypeObject* type)
{
    baseFree<C> = type->tp_free;
    type->tp_free = freeInstance<C>;
}

#if NUBRA_FAST_PATHS
// Ignores __init__ on an instance that already holds a native object.
inline PyObject* initOnce(PyObject* callable, PyObject* const* args, size_t nargsf, PyObject* kwnames)
{
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    const pyd::function_record* record = recordsOf(callable);
    const pyd::type_info* type = pyd::get_type_info(reinterpret_cast<PyTypeObject*>(record->scope.ptr()));
    if (nargs > 0 && PyObject_TypeCheck(args[0], type->type) && constructed(args[0], type))
        return Py_NewRef(Py_None);
    return fast::dispatch(callable, args, nargs, kwnames);
}

// Gives a class's __init__ the guard, if it is the function object
// pybind11 made for a constructor; otherwise says why not. A class bound
// without a constructor keeps the slot of pybind11's base, which refuses
// every call.
inline std::string guardInit(PyTypeObject* type)
{
    if (type->tp_init == reinterpret_cast<PyTypeObject*>(pyd::get_internals().instance_base)->tp_init)
        return {};
    PyCFunctionObject* init = fast::methodAsMade(type, "__init__");
    const pyd::function_record* record = init ? recordsOf(reinterpret_cast<PyObject*>(init)) : nullptr;
    if (record == nullptr || !record->is_constructor || record->scope.ptr() != reinterpret_cast<PyObject*>(type))
        return "no __init__ of pybind11's";
    init->vectorcall = initOnce;
    return {};
}
#endif

} // namespace Nubra::Python
