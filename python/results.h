#pragma once
// Results made and freed without pybind11's registry. An operation's result
// is a new instance that nothing looks up by address, so it needs no
// registry entry; freeing it needs none of pybind11's general teardown (the
// registry, keep-alive patients, saving the error state: a container's
// destructor can't raise). Freed instances of a class are kept for reuse,
// with the memory of their native objects.
//
// Built on pybind11 2.10.3's detail::instance: the simple layout (value
// pointer, then the holder), and its flags owned, simple_layout,
// simple_holder_constructed, simple_instance_registered, has_patients and
// its weakrefs list; and on CPython's PyObject_Init and tp_free.

#include <cstring>
#include <memory>
#include <type_traits>

#include <pybind11/pybind11.h>

#include "record.h"

namespace Nubra::Python {

namespace pyd = pybind11::detail;

// A new instance of T's class owning value, or null with a Python error;
// for a class whose record says its results are registry-free.
template <class T>
PyObject* makeResult(T&& value)
{
    static_assert(sizeof(std::unique_ptr<T>) == sizeof(void*) && std::is_nothrow_move_constructible_v<T>);
    ClassRecord<T>& record = classRecord<T>;
    PyTypeObject* type = record.type;
    PyObject* self;
    T* native;
    if (record.freedCount > 0) {
        const auto [reused, memory] = record.freed[--record.freedCount];
        self = reused;
        std::memset(self, 0, type->tp_basicsize);
        PyObject_Init(self, type);
        native = new (memory) T(std::move(value));
    } else {
        if ((self = type->tp_alloc(type, 0)) == nullptr)
            return nullptr;
        try {
            native = new T(std::move(value));
        } catch (...) {
            Py_DECREF(self);
            throw;
        }
    }
    auto* instance = reinterpret_cast<pyd::instance*>(self);
    instance->simple_layout = true;
    instance->owned = true;
    instance->simple_value_holder[0] = native;
    new (&instance->simple_value_holder[1]) std::unique_ptr<T>(native);
    instance->simple_holder_constructed = true;
    return self;
}

// The class's deallocator: instances outside the registry are freed here,
// every other one by pybind11. Instances of the class itself are kept for
// reuse while there is room; tp_free is the class guard's (guards.h).
template <class T>
void deallocate(PyObject* self)
{
    ClassRecord<T>& record = classRecord<T>;
    auto* instance = reinterpret_cast<pyd::instance*>(self);
    if (!instance->simple_layout || instance->simple_instance_registered || instance->has_patients)
        return record.pybind11Dealloc(self);
    if (instance->weakrefs != nullptr)
        PyObject_ClearWeakRefs(self);
    PyTypeObject* type = Py_TYPE(self);
    T* native = nullptr;
    if (instance->simple_holder_constructed)
        native = reinterpret_cast<std::unique_ptr<T>*>(&instance->simple_value_holder[1])->release();
    if (native != nullptr && type == record.type && record.freedCount < record.freed.size()) {
        std::destroy_at(native);
        record.freed[record.freedCount++] = {self, native};
    } else {
        delete native;
        type->tp_free(self);
    }
    Py_DECREF(type);
}

} // namespace Nubra::Python
