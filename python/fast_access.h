#pragma once
// Fast element access: `x[i]`, `x[i] = v` on vectors and views and
// `m[i, j]`, `m[i, j] = v` on matrices go straight to the element, and a
// model's set, get and run straight to its tensors, when the arguments are
// exact ints, floats, complexes, lists and tuples; everything else goes to
// the slots and functions pybind11 made, unchanged.
//
// Built on pybind11 2.10.3's internals: instances in the simple layout
// (instance.h); the class's mp_subscript and mp_ass_subscript slots, which
// it fills; the model's methods as it makes them (functions.h). And on
// CPython's int layout (cpython.h).

#include <array>
#include <cstdint>
#include <string>
#include <utility>

#include <pybind11/pybind11.h>

#include "cpython.h"
#include "functions.h"
#include "instance.h"
#include "record.h"
#include "switch.h"

#if NUBRA_FAST_PATHS

namespace Nubra::Python::fast {

// The native object of an instance of C's exact class, or null.
template <class C>
C* exactNativeOf(PyObject* self)
{
    return Py_TYPE(self) == classRecord<C>.simpleType ? nativeOf<C>(self) : nullptr;
}

// The storage position of the element key names in c, if key is an exact
// int (a vector or view) or an exact pair of them (a matrix) inside it.
template <class C>
bool position(const C& c, PyObject* key, size_t& at)
{
    const auto index = [](PyObject* i, size_t& value) {
        long small;
        if (!smallInt(i, small) || small < 0)
            return false;
        value = small;
        return true;
    };
    if constexpr (TwoDimensional<C>) {
        size_t i, j;
        if (!PyTuple_CheckExact(key) || PyTuple_GET_SIZE(key) != 2 || !index(PyTuple_GET_ITEM(key, 0), i)
            || !index(PyTuple_GET_ITEM(key, 1), j) || i >= c.template dim<0>() || j >= c.template dim<1>())
            return false;
        at = i + j * c.template dim<0>();
        return true;
    } else {
        return index(key, at) && at < c.numel();
    }
}

template <class T>
PyObject* toPython(T value)
{
    if constexpr (std::is_floating_point_v<T>)
        return PyFloat_FromDouble(value);
    else
        return PyComplex_FromDoubles(value.real(), value.imag());
}

// An exact float or int (or complex, for a complex element) as pybind11's
// casters would take it with conversion.
template <class T>
bool fromPython(PyObject* value, T& out)
{
    Py_complex z{0, 0};
    if (PyFloat_CheckExact(value))
        z.real = PyFloat_AS_DOUBLE(value);
    else if (PyLong_CheckExact(value)) {
        z.real = PyLong_AsDouble(value);
        if (z.real == -1.0 && PyErr_Occurred()) {
            PyErr_Clear();
            return false;
        }
    } else if (!std::is_floating_point_v<T> && PyComplex_CheckExact(value))
        z = PyComplex_AsCComplex(value);
    else
        return false;
    if constexpr (std::is_floating_point_v<T>)
        out = static_cast<T>(z.real);
    else
        out = T(static_cast<typename T::value_type>(z.real), static_cast<typename T::value_type>(z.imag));
    return true;
}

template <class C>
PyObject* getItem(PyObject* self, PyObject* key)
{
    size_t at;
    if (const C* c = exactNativeOf<C>(self); c && position(*c, key, at))
        return toPython(c->get()[at]);
    return classRecord<C>.baseGetItem(self, key);
}

template <class C>
int setItem(PyObject* self, PyObject* key, PyObject* value)
{
    size_t at;
    typename C::SampleType element;
    if (value != nullptr)
        if (C* c = exactNativeOf<C>(self); c && position(*c, key, at) && fromPython(value, element)) {
            c->get()[at] = element;
            return 0;
        }
    return classRecord<C>.baseSetItem(self, key, value);
}

// Gives the class of C, in the simple layout, the element access above.
template <class C>
std::string installElementAccess(PyTypeObject* type)
{
    PyMappingMethods* mapping = type->tp_as_mapping;
    if (mapping == nullptr || mapping->mp_subscript == nullptr || mapping->mp_ass_subscript == nullptr)
        return "no subscript slots";
    classRecord<C>.baseGetItem = std::exchange(mapping->mp_subscript, getItem<C>);
    classRecord<C>.baseSetItem = std::exchange(mapping->mp_ass_subscript, setItem<C>);
    return {};
}

// --- model ---------------------------------------------------------------------

using Onnx::Model;

// The float element that an exact int tensor index and a list or tuple of
// exact int coordinates name, or null.
template <class Find>
float* element(PyObject* tensorIdx, PyObject* coordinates, Find find)
{
    long idx;
    if (!smallInt(tensorIdx, idx) || idx < 0 || !(PyList_CheckExact(coordinates) || PyTuple_CheckExact(coordinates)))
        return nullptr;
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(coordinates);
    std::array<int64_t, 8> at;
    if (count > static_cast<Py_ssize_t>(at.size()))
        return nullptr;
    PyObject** items = PySequence_Fast_ITEMS(coordinates);
    for (Py_ssize_t d = 0; d < count; ++d) {
        long coordinate;
        if (!smallInt(items[d], coordinate))
            return nullptr;
        at[d] = coordinate;
    }
    const auto* view = find(idx);
    return view ? view->find(at.data(), count) : nullptr;
}

inline PyObject* modelRun(PyObject* callable, PyObject* const* args, size_t nargsf, PyObject* kwnames)
{
    Model* model;
    if (kwnames == nullptr && PyVectorcall_NARGS(nargsf) == 1 && (model = exactNativeOf<Model>(args[0])))
        return translated([&] {
            model->run();
            return Py_NewRef(Py_None);
        });
    return dispatch(callable, args, PyVectorcall_NARGS(nargsf), kwnames);
}

inline PyObject* modelSet(PyObject* callable, PyObject* const* args, size_t nargsf, PyObject* kwnames)
{
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    float value;
    if (kwnames == nullptr && nargs == 4 && fromPython(args[3], value))
        if (Model* model = exactNativeOf<Model>(args[0]))
            if (float* at = element(args[1], args[2], [&](size_t i) { return model->findInput<float>(i); })) {
                *at = value;
                return Py_NewRef(Py_None);
            }
    return dispatch(callable, args, nargs, kwnames);
}

inline PyObject* modelGet(PyObject* callable, PyObject* const* args, size_t nargsf, PyObject* kwnames)
{
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (kwnames == nullptr && nargs == 3)
        if (Model* model = exactNativeOf<Model>(args[0]))
            if (const float* at = element(args[1], args[2], [&](size_t i) { return model->findOutput<float>(i); }))
                return PyFloat_FromDouble(*at);
    return dispatch(callable, args, nargs, kwnames);
}

// Gives the model's method name the vectorcall handler, if it is the function
// object pybind11 made; otherwise says why not.
inline std::string installModelMethod(PyTypeObject* type, const char* name, vectorcallfunc handler)
{
    PyCFunctionObject* method = methodAsMade(type, name);
    if (method == nullptr)
        return "no method of pybind11's";
    method->vectorcall = handler;
    return {};
}

} // namespace Nubra::Python::fast

#endif
