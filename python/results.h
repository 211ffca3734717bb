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

#include <array>
#include <cstring>
#include <memory>
#include <type_traits>

#include <pybind11/pybind11.h>

namespace Nubra::Python {

namespace pyd = pybind11::detail;

// Whether results of class T are made here: set at install, where
// instances of T are in the simple layout with a unique_ptr holder, and a
// second __init__ on them is guarded against.
template <class T>
inline PyTypeObject* registryFree = nullptr;
template <class T>
inline destructor pybind11Dealloc = nullptr;

// Up to 16 freed instances of T's exact class, each with the memory of the
// native object it held, ready for reuse.
template <class T>
struct FreeList {
    struct Item {
        PyObject* self;
        void* native;
    };
    std::array<Item, 16> items;
    size_t count = 0;
};
template <class T>
inline FreeList<T> freeList;

// A new instance of T's class owning value, or null with a Python error.
template <class T>
PyObject* makeResult(T&& value)
{
    static_assert(sizeof(std::unique_ptr<T>) == sizeof(void*) && std::is_nothrow_move_constructible_v<T>);
    PyTypeObject* type = registryFree<T>;
    PyObject* self;
    T* native;
    if (freeList<T>.count > 0) {
        const auto [reused, memory] = freeList<T>.items[--freeList<T>.count];
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
// every other one by pybind11.
template <class T>
void deallocate(PyObject* self)
{
    auto* instance = reinterpret_cast<pyd::instance*>(self);
    if (!instance->simple_layout || instance->simple_instance_registered || instance->has_patients)
        return pybind11Dealloc<T>(self);
    if (instance->weakrefs != nullptr)
        PyObject_ClearWeakRefs(self);
    PyTypeObject* type = Py_TYPE(self);
    T* native = nullptr;
    if (instance->simple_holder_constructed)
        native = reinterpret_cast<std::unique_ptr<T>*>(&instance->simple_value_holder[1])->release();
    if (native != nullptr && type == registryFree<T> && freeList<T>.count < freeList<T>.items.size()) {
        std::destroy_at(native);
        freeList<T>.items[freeList<T>.count++] = {self, native};
    } else {
        delete native;
        type->tp_free(self);
    }
    Py_DECREF(type);
}

} // namespace Nubra::Python
