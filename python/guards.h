#pragma once
// Guards for the native object an instance holds, in every build:
//   - __class__ can't change between the module's classes: each class gets
//     a tp_free of its own, so CPython's layout check refuses the
//     assignment, on every route to it;
//   - a second __init__ on a constructed instance changes nothing, as
//     pybind11 does for the instances in its registry; results made
//     without the registry need it from here, and so does an __init__
//     started again from the Python code its own arguments run, before the
//     first one has constructed anything: the first to start constructs.
// They touch slots and instances through the adapter's interface (adapter.h)
// only.

#include <algorithm>

#include <pybind11/pybind11.h>

#include "adapter.h"
#include "call.h"
#include "state.h"

namespace Nubra::Python {

template <class C>
void freeInstance(void* self)
{
    classRecord<C>().baseFree(self);
}

template <class C>
void guardClass(PyTypeObject* type)
{
    classRecord<C>().baseFree = adapter::exchangeFree(type, freeInstance<C>);
}

// The entry of a class's __init__: ignores a call on an instance that
// already holds a native object or is being given one. Plain references
// only: a thread the interpreter ends at exit unwinds through here.
inline PyObject* initOnce(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    Function& function = functionOf(self);
    if (nargs == 0 || !PyObject_TypeCheck(args[0], function.guarded))
        return function.dispatch(args, nargs, kwnames);
    PyObject* instance = args[0];
    std::vector<PyObject*>& initialising = state.initialising;
    if (adapter::constructed(instance, function.guarded)
        || std::find(initialising.begin(), initialising.end(), instance) != initialising.end())
        return Py_NewRef(Py_None);
    initialising.push_back(instance);
    PyObject* result = function.dispatch(args, nargs, kwnames);
    initialising.erase(std::find(initialising.begin(), initialising.end(), instance));
    return result;
}

} // namespace Nubra::Python
