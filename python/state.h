#pragma once
// The call layer's changeable state, in one structure: what it knows of
// each of the module's classes, the instances whose __init__ is running,
// the results kept for reuse, and what the report tells. Registration fills
// it (registration.h); the call paths read it. It touches nothing of
// pybind11 or CPython.

#include <array>
#include <cstddef>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include <boost/hana.hpp>
#include <pybind11/pybind11.h>

#include "scalars.h"

namespace Nubra::Python {

// What the layer knows of class C, filled when C's first method or
// constructor is registered.
template <class C>
struct ClassRecord {
    /// The class, once registered.
    PyTypeObject* type = nullptr;
    /// The class again where the fast paths take its instances (in
    /// pybind11's simple layout, fast paths on); null otherwise.
    PyTypeObject* simpleType = nullptr;
    /// The __repr__ it was registered with (a strong reference): instances
    /// whose class still has it are rendered by the bounded message.
    PyObject* repr = nullptr;
    /// Its operations' results are made and freed by results.h.
    bool registryFree = false;

    /// The slots the class came with, where the layer replaced them:
    /// tp_free, called by guards.h's freeInstance;
    freefunc baseFree = nullptr;
    /// tp_dealloc, for the instances results.h didn't make;
    destructor pybind11Dealloc = nullptr;
    /// mp_subscript and mp_ass_subscript, for the keys and values
    /// element_access.h leaves to pybind11.
    binaryfunc baseGetItem = nullptr;
    objobjargproc baseSetItem = nullptr;
};

/// A freed result kept for reuse: its instance and its native object's
/// memory, alike for every class (results.h).
struct FreedResult {
    PyObject* self;
    void* native;
};

// One record per class of classSet, in its order.
using ClassRecords = decltype(boost::hana::unpack(classSet, [](auto... c) {
    return std::tuple<ClassRecord<typename decltype(c)::type>...>{};
}));

struct State {
    /// What the layer knows of each class.
    ClassRecords classes;
    /// The type of the function objects the layer makes (call.h).
    PyTypeObject* functionType = nullptr;
    /// The instances whose __init__ is running (guards.h).
    std::vector<PyObject*> initialising;
    /// Up to 16 freed results of any class, newest last (results.h).
    std::array<FreedResult, 16> freedResults;
    size_t freedCount = 0;
    /// The complex result made last, kept for reuse (results.h).
    PyObject* complexResult = nullptr;
    /// What each function, method and class got, by name (the report).
    std::map<std::string, std::string> report;
};

inline State state;

template <ModuleClass C>
ClassRecord<C>& classRecord()
{
    return std::get<ClassRecord<C>>(state.classes);
}

} // namespace Nubra::Python
