#pragma once
// Results made and freed cheaply. An operation's result is a new instance
// that nothing looks up by address, so it needs no entry in pybind11's
// registry; freeing it needs none of pybind11's general teardown (the
// registry, keep-alive patients, saving the error state: a container's
// destructor can't raise). Freed results are kept for reuse by any class:
// every class's instances have one size, and native objects live in
// blocks of the largest container's size. One list for all keeps what a
// call writes at the same addresses whatever the result's class. A complex
// result is the one made last, written again, where nothing but the layer
// holds that one any more. It touches instances and their class's slots
// through the adapter's interface (adapter.h) only.

#include <algorithm>
#include <complex>
#include <memory>
#include <new>
#include <type_traits>

#include <pybind11/pybind11.h>

#include "adapter.h"
#include "state.h"

#if NUBRA_FAST_PATHS

namespace Nubra::Python {

// The size of the blocks native objects of results live in.
constexpr size_t nativeBlock = boost::hana::fold(containerClasses, size_t{0}, [](size_t size, auto c) {
    return std::max(size, sizeof(typename decltype(c)::type));
});

template <class T>
PyObject* makeResult(T&& value)
{
    static_assert(std::is_nothrow_move_constructible_v<T> && sizeof(T) <= nativeBlock
                  && alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
    PyTypeObject* type = classRecord<T>().type;
    PyObject* self;
    void* memory;
    if (state.freedCount > 0) {
        const FreedResult& freed = state.freedResults[--state.freedCount];
        self = PyObject_Init(freed.self, type);
        memory = freed.native;
    } else {
        memory = ::operator new(nativeBlock);
        if ((self = adapter::allocate(type)) == nullptr) {
            ::operator delete(memory);
            return nullptr;
        }
    }
    adapter::own(self, new (memory) T(std::move(value)));
    return self;
}

// The class's deallocator: instances outside the registry are freed here,
// every other one by pybind11. Instances of the class itself are kept for
// reuse by any class while there is room; tp_free is the class guard's
// (guards.h).
template <class T>
void deallocate(PyObject* self)
{
    ClassRecord<T>& record = classRecord<T>();
    if (!adapter::owned(self))
        return record.pybind11Dealloc(self);
    PyTypeObject* type = Py_TYPE(self);
    T* native = adapter::disown<T>(self);
    if (native != nullptr)
        std::destroy_at(native);
    if (native != nullptr && type == record.type && state.freedCount < state.freedResults.size())
        state.freedResults[state.freedCount++] = {self, native};
    else {
        ::operator delete(native);
        adapter::freeMemory(self);
    }
    Py_DECREF(type);
}

// A complex result: the one made last where nothing but the layer holds it
// (so nothing can see its value change), else a new one, then kept.
inline PyObject* complexResult(Py_complex value)
{
    PyObject*& kept = state.complexResult;
    if (kept != nullptr && Py_REFCNT(kept) == 1) {
        adapter::setComplexValue(kept, value);
        return Py_NewRef(kept);
    }
    PyObject* made = PyComplex_FromCComplex(value);
    if (made != nullptr)
        Py_XSETREF(kept, Py_NewRef(made));
    return made;
}

// An operation's result by value as a new reference; null if it can't be
// cast.
template <class R>
PyObject* resultOf(R&& value)
{
    if constexpr (std::is_same_v<std::remove_cvref_t<R>, std::complex<float>>
                  || std::is_same_v<std::remove_cvref_t<R>, std::complex<double>>)
        return complexResult({value.real(), value.imag()});
    else
        return adapter::castResult(std::forward<R>(value));
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
