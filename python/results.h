#pragma once
// Results made and freed without pybind11's registry. An operation's result
// is a new instance that nothing looks up by address, so it needs no
// registry entry; freeing it needs none of pybind11's general teardown (the
// registry, keep-alive patients, saving the error state: a container's
// destructor can't raise). Freed instances of a class are kept for reuse,
// with the memory of their native objects. It touches instances and their
// class's slots through the adapter's interface (adapter.h) only.

#include <memory>
#include <type_traits>

#include <pybind11/pybind11.h>

#include "adapter.h"
#include "state.h"

#if NUBRA_FAST_PATHS

namespace Nubra::Python {

template <class T>
PyObject* makeResult(T&& value)
{
    static_assert(std::is_nothrow_move_constructible_v<T>);
    ClassRecord<T>& record = classRecord<T>();
    PyObject* self;
    T* native;
    if (record.freedCount > 0) {
        const auto [reused, memory] = record.freed[--record.freedCount];
        self = PyObject_Init(reused, record.type);
        native = new (memory) T(std::move(value));
    } else {
        native = new T(std::move(value));
        if ((self = adapter::allocate(record.type)) == nullptr) {
            delete native;
            return nullptr;
        }
    }
    adapter::own(self, native);
    return self;
}

// The class's deallocator: instances outside the registry are freed here,
// every other one by pybind11. Instances of the class itself are kept for
// reuse while there is room; tp_free is the class guard's (guards.h).
template <class T>
void deallocate(PyObject* self)
{
    ClassRecord<T>& record = classRecord<T>();
    if (!adapter::owned(self))
        return record.pybind11Dealloc(self);
    PyTypeObject* type = Py_TYPE(self);
    T* native = adapter::disown<T>(self);
    if (native != nullptr && type == record.type && record.freedCount < record.freed.size()) {
        std::destroy_at(native);
        record.freed[record.freedCount++] = {self, native};
    } else {
        delete native;
        adapter::freeMemory(self);
    }
    Py_DECREF(type);
}

// Makes the results of C registry-free, where its instances are allocated
// plainly in the simple layout; otherwise says why not.
template <class C>
std::string makeResultsRegistryFree(PyTypeObject* type)
{
    ClassRecord<C>& record = classRecord<C>();
    if (record.simpleType == nullptr)
        return "instances not in the simple layout";
    if (!adapter::plainlyAllocated(type))
        return "not allocated plainly";
    record.pybind11Dealloc = adapter::exchangeDealloc(type, deallocate<C>);
    record.registryFree = true;
    return {};
}

} // namespace Nubra::Python

#endif
