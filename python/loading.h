#pragma once
// The loading rules: which builtin types pybind11's casters load into each
// kind of parameter by their type alone, and in which pass, and how each
// value is read then. The fast call (call.h) chooses overloads by them, its
// direct calls load by them, and element access (element_access.h) takes
// keys and values by them. It reads values through the adapter's interface
// (adapter.h) and the C API.

#include <complex>
#include <concepts>
#include <cstdint>
#include <type_traits>

#include <pybind11/pybind11.h>

#include "adapter.h"
#include "fast_paths.h"
#include "scalars.h"

namespace Nubra::Python {

namespace py = pybind11;

enum class Kind : uint8_t {
    real,     // float, double
    complex,  // std::complex
    index,    // size_t
    slice,    // py::slice
    instance, // a class of the module
    other,    // loaded by what the value holds, never by its type alone
};

// The kind of each parameter type.
template <class T>
struct KindOf {
    static constexpr Kind kind = Kind::other;
};
template <std::floating_point T>
struct KindOf<T> {
    static constexpr Kind kind = Kind::real;
};
template <class T>
struct KindOf<std::complex<T>> {
    static constexpr Kind kind = Kind::complex;
};
template <>
struct KindOf<size_t> {
    static constexpr Kind kind = Kind::index;
};
template <>
struct KindOf<py::slice> {
    static constexpr Kind kind = Kind::slice;
};
template <ModuleClass T>
struct KindOf<T> {
    static constexpr Kind kind = Kind::instance;
};

// The kind of a parameter declared as A: a class taken by reference or
// pointer is an instance.
template <class A>
constexpr Kind kindOf = KindOf<std::remove_cvref_t<std::remove_pointer_t<std::remove_cvref_t<A>>>>::kind;

#if NUBRA_FAST_PATHS

// The builtins whose loading is decided by their type: float, complex, int
// and bool alike, slice, and those no parameter of the kinds above loads.
enum class Builtin : uint8_t { real, complex, integer, slice, inert, none };

inline Builtin builtinOf(PyTypeObject* type)
{
    if (type == &PyFloat_Type)
        return Builtin::real;
    if (type == &PyComplex_Type)
        return Builtin::complex;
    if (type == &PyLong_Type || type == &PyBool_Type)
        return Builtin::integer;
    if (type == &PySlice_Type)
        return Builtin::slice;
    if (type == Py_TYPE(Py_None) || type == &PyUnicode_Type || type == &PyBytes_Type || type == &PyTuple_Type
        || type == &PyList_Type)
        return Builtin::inert;
    return Builtin::none;
}

// The first pass of pybind11's dispatcher in which a parameter of a kind
// loads a builtin: the first is without conversion, the second with it.
enum class Pass : uint8_t { first, second, never };

// The rules, by kind (real, complex, index, slice) and builtin (real,
// complex, integer, slice, inert).
inline constexpr Pass rules[4][5] = {
    {Pass::first, Pass::never, Pass::second, Pass::never, Pass::never},  // float, double
    {Pass::second, Pass::first, Pass::second, Pass::never, Pass::never}, // std::complex
    {Pass::never, Pass::never, Pass::first, Pass::never, Pass::never},   // size_t
    {Pass::never, Pass::never, Pass::never, Pass::first, Pass::never},   // py::slice
};

constexpr bool loads(Kind kind, Builtin builtin, Pass pass)
{
    return builtin != Builtin::none && rules[static_cast<int>(kind)][static_cast<int>(builtin)] <= pass;
}

// Whether a conversion of the C API failed, its error cleared then.
inline bool failed()
{
    if (!PyErr_Occurred())
        return false;
    PyErr_Clear();
    return true;
}

template <class T>
T scalar(double real, double imag = 0)
{
    if constexpr (std::floating_point<T>)
        return static_cast<T>(real);
    else
        return T(static_cast<typename T::value_type>(real), static_cast<typename T::value_type>(imag));
}

// Whether a parameter of kind loads an object of this type in the pass
// given, by the rules.
template <Kind kind, Pass pass>
[[gnu::always_inline]] inline bool admits(PyTypeObject* type)
{
    return (loads(kind, Builtin::real, pass) && type == &PyFloat_Type)
           || (loads(kind, Builtin::complex, pass) && type == &PyComplex_Type)
           || (loads(kind, Builtin::integer, pass) && (type == &PyLong_Type || type == &PyBool_Type));
}

// Reads an int of more than one digit into a parameter of type T.
template <class T>
[[gnu::noinline]] bool readLarge(PyObject* integer, T& value)
{
    if constexpr (std::is_same_v<T, size_t>) {
        value = PyLong_AsUnsignedLong(integer);
        return !(value == static_cast<size_t>(-1) && failed());
    } else {
        const double real = PyLong_AsDouble(integer);
        value = scalar<T>(real);
        return !(real == -1.0 && failed());
    }
}

// Reads an object whose type a parameter of type T (a float, double,
// complex or size_t) admits in some pass, as its caster reads it: false
// where the value decides against it (an int out of range), which the
// caster then decides.
template <class T>
[[gnu::always_inline]] inline bool read(PyObject* object, T& value)
{
    PyTypeObject* type = Py_TYPE(object);
    if constexpr (!std::is_same_v<T, size_t>) {
        if constexpr (!std::floating_point<T>)
            if (type == &PyComplex_Type) {
                const Py_complex z = adapter::complexValue(object);
                value = scalar<T>(z.real, z.imag);
                return true;
            }
        if (type == &PyFloat_Type) {
            value = scalar<T>(PyFloat_AS_DOUBLE(object));
            return true;
        }
    }
    long small;
    if (!adapter::compactValue(object, small))
        return readLarge(object, value);
    if constexpr (std::is_same_v<T, size_t>) {
        value = static_cast<size_t>(small);
        return small >= 0;
    } else {
        value = scalar<T>(static_cast<double>(small));
        return true;
    }
}

#endif

} // namespace Nubra::Python
