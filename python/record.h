#pragma once
// What the call layer knows of one of the module's classes, in one record
// per class. install.cpp fills it, in order, when the module is made; every
// other part reads it.

#include <array>
#include <cstddef>

#include <pybind11/pybind11.h>

namespace Nubra::Python {

template <class C>
struct ClassRecord {
    // Up to 16 freed results, each with the memory of the native object it
    // held, ready for reuse.
    struct Freed {
        PyObject* self;
        void* native;
    };

    PyTypeObject* type = nullptr;       // the class, once registered
    PyTypeObject* simpleType = nullptr; // the class, if its instances are in the simple layout
    bool initGuarded = false;           // a second __init__ changes nothing (guards.h)
    bool registryFree = false;          // results made and freed by results.h

    // The slots the class came with, where the layer replaced them:
    freefunc baseFree = nullptr;          // tp_free, called by guards.h's freeInstance
    destructor pybind11Dealloc = nullptr; // tp_dealloc, for instances results.h didn't make
    binaryfunc baseGetItem = nullptr;     // mp_subscript and mp_ass_subscript, where
    objobjargproc baseSetItem = nullptr;  // fast_access.h doesn't find the element

    std::array<Freed, 16> freed;
    size_t freedCount = 0;
};

template <class C>
inline ClassRecord<C> classRecord;

} // namespace Nubra::Python
