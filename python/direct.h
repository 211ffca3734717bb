#pragma once
// The direct call of an overload registered as a lambda without captures
// whose parameters are all scalars, indices or instances: its arguments,
// of exact types the fast call found it accepts (fast_call.h), loaded as
// pybind11's casters load those types, the lambda called, its result cast
// by pybind11's caster. A value the casters would refuse (an int out of
// range, an instance never constructed) goes to pybind11's dispatcher,
// which decides.
//
// Built on pybind11 2.10.3's casters: float and complex from a float, int
// or bool through PyFloat_AsDouble and PyComplex_AsCComplex, size_t from an
// int or bool through PyLong_AsUnsignedLong, any error clearing to a
// refusal; a result by value cast with return_value_policy::move.

#include <complex>
#include <concepts>
#include <tuple>
#include <type_traits>
#include <utility>

#include <pybind11/complex.h>
#include <pybind11/pybind11.h>

#include "functions.h"
#include "instance.h"
#include "record.h"
#include "scalars.h"
#include "switch.h"

#if NUBRA_FAST_PATHS

namespace Nubra::Python {

// A direct call: the call's arguments, the dispatcher that takes it when
// the overload refuses them, the overload's record for the message of a
// result that can't be cast.
using DirectCall = PyObject* (*)(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                                 const Dispatcher& dispatcher, const pyd::function_record& record);

// What a parameter of type A holds once loaded: the value, or the native
// object of an instance.
template <class A>
using Held = std::conditional_t<ModuleClass<std::remove_cvref_t<A>>, std::remove_cvref_t<A>*, std::remove_cvref_t<A>>;

template <class T>
bool loadDirect(PyObject* object, T& value)
{
    if constexpr (std::floating_point<T>) {
        const double real = PyFloat_CheckExact(object) ? PyFloat_AS_DOUBLE(object) : PyFloat_AsDouble(object);
        if (real == -1.0 && PyErr_Occurred()) {
            PyErr_Clear();
            return false;
        }
        value = static_cast<T>(real);
    } else if constexpr (std::is_same_v<T, size_t>) {
        const unsigned long index = PyLong_AsUnsignedLong(object);
        if (index == static_cast<unsigned long>(-1) && PyErr_Occurred()) {
            PyErr_Clear();
            return false;
        }
        value = index;
    } else {
        const Py_complex z = PyComplex_CheckExact(object) ? reinterpret_cast<PyComplexObject*>(object)->cval
                                                          : PyComplex_AsCComplex(object);
        if (z.real == -1.0 && PyErr_Occurred()) {
            PyErr_Clear();
            return false;
        }
        value = T(static_cast<typename T::value_type>(z.real), static_cast<typename T::value_type>(z.imag));
    }
    return true;
}

template <ModuleClass T>
bool loadDirect(PyObject* object, T*& native)
{
    return Py_TYPE(object) == classRecord<T>.simpleType && (native = nativeOf<T>(object)) != nullptr;
}

template <class A, class H>
A argument(H& held)
{
    if constexpr (std::is_pointer_v<H>)
        return *held;
    else
        return held;
}

template <class F, class R, class... A, size_t... I>
PyObject* callDirect(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, const Dispatcher& dispatcher,
                     const pyd::function_record& record, std::index_sequence<I...>)
{
    std::tuple<Held<A>...> held;
    if (!(loadDirect(args[I], std::get<I>(held)) && ...))
        return callDispatcher(dispatcher.meth, dispatcher.self, args, nargs, kwnames);
    return translated([&]() -> PyObject* {
        if constexpr (std::is_void_v<R>) {
            F{}(argument<A>(std::get<I>(held))...);
            return Py_NewRef(Py_None);
        } else {
            const py::handle result = pyd::make_caster<R>::cast(F{}(argument<A>(std::get<I>(held))...),
                                                                 py::return_value_policy::move, py::handle());
            return result ? result.ptr() : unconvertible(record);
        }
    });
}

template <class F, class R, class... A>
PyObject* callDirect(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, const Dispatcher& dispatcher,
                     const pyd::function_record& record)
{
    return callDirect<F, R, A...>(args, nargs, kwnames, dispatcher, record, std::index_sequence_for<A...>());
}

} // namespace Nubra::Python

#endif
