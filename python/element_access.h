#pragma once
// Element access: `x[i]`, `x[i] = v` on vectors and views and `m[i, j]`,
// `m[i, j] = v` on matrices go straight to the element, and a model's set,
// get and run straight to its tensors, when keys, coordinates and values are
// builtins the loading rules (loading.h) take by type; everything else goes
// to the slots and functions pybind11 made, unchanged. It touches slots,
// instances and ints through the adapter's interface (adapter.h) only.

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include <pybind11/pybind11.h>

#include "adapter.h"
#include "call.h"
#include "loading.h"
#include "results.h"
#include "state.h"

#if NUBRA_FAST_PATHS

namespace Nubra::Python::fast {

// The native object of an instance of C's exact class, or null.
template <class C>
C* exactNativeOf(PyObject* self)
{
    return Py_TYPE(self) == classRecord<C>().simpleType ? adapter::nativeOf<C>(self) : nullptr;
}

// A key the index parameter of pybind11's __getitem__ takes in its first
// pass, of a value no index of an element exceeds.
[[gnu::always_inline]] inline bool index(PyObject* key, size_t& value)
{
    long small;
    if (!admits<Kind::index, Pass::first>(Py_TYPE(key)) || !adapter::compactValue(key, small) || small < 0)
        return false;
    value = static_cast<size_t>(small);
    return true;
}

// A value for an element of type T, as the lone overload of __setitem__
// takes it, tried with conversion.
template <class T>
[[gnu::always_inline]] inline bool element(PyObject* value, T& out)
{
    return admits<KindOf<T>::kind, Pass::second>(Py_TYPE(value)) && read(value, out);
}

// The storage position of the element key names in c, if key is an index
// (a vector or view) or an exact pair of them (a matrix) inside it.
template <class C>
[[gnu::always_inline]] inline bool position(const C& c, PyObject* key, size_t& at)
{
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
        return complexResult({value.real(), value.imag()});
}

template <class C>
PyObject* getItem(PyObject* self, PyObject* key)
{
    size_t at;
    if (const C* c = exactNativeOf<C>(self); c && position(*c, key, at))
        return toPython(c->get()[at]);
    return classRecord<C>().baseGetItem(self, key);
}

template <class C>
int setItem(PyObject* self, PyObject* key, PyObject* value)
{
    size_t at;
    typename C::SampleType sample;
    if (value != nullptr)
        if (C* c = exactNativeOf<C>(self); c && position(*c, key, at) && element(value, sample)) {
            c->get()[at] = sample;
            return 0;
        }
    return classRecord<C>().baseSetItem(self, key, value);
}

// Gives the class of C the element access above in the slot that its
// method name fills, once pybind11 has made it; says why it has none.
template <class C>
std::string installElementAccess(PyTypeObject* type, const char* name)
{
    ClassRecord<C>& record = classRecord<C>();
    const bool installed = std::strcmp(name, "__getitem__") == 0 ? adapter::replaceGetItem(type, getItem<C>, record.baseGetItem)
                                                                   : adapter::replaceSetItem(type, setItem<C>, record.baseSetItem);
    return installed && record.baseGetItem && record.baseSetItem ? "" : "no subscript slots";
}

// --- model ---------------------------------------------------------------------

using Onnx::Model;

// The float element that an index and a list or tuple of compact int
// coordinates name, or null.
template <class Find>
float* tensorElement(PyObject* tensorIdx, PyObject* coordinates, Find find)
{
    size_t idx;
    if (!index(tensorIdx, idx) || !(PyList_CheckExact(coordinates) || PyTuple_CheckExact(coordinates)))
        return nullptr;
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(coordinates);
    std::array<int64_t, 8> at;
    if (count > static_cast<Py_ssize_t>(at.size()))
        return nullptr;
    PyObject** items = PySequence_Fast_ITEMS(coordinates);
    for (Py_ssize_t d = 0; d < count; ++d) {
        long coordinate;
        if (!admits<Kind::index, Pass::first>(Py_TYPE(items[d])) || !adapter::compactValue(items[d], coordinate))
            return nullptr;
        at[d] = coordinate;
    }
    const auto* view = find(idx);
    return view ? view->find(at.data(), count) : nullptr;
}

inline PyObject* modelRun(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    Model* model;
    if (kwnames == nullptr && nargs == 1 && (model = exactNativeOf<Model>(args[0])))
        return adapter::translated([&] {
            model->run();
            return Py_NewRef(Py_None);
        });
    return functionOf(self).dispatch(args, nargs, kwnames);
}

inline PyObject* modelSet(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    float value;
    if (kwnames == nullptr && nargs == 4 && element(args[3], value))
        if (Model* model = exactNativeOf<Model>(args[0]))
            if (float* at = tensorElement(args[1], args[2], [&](size_t i) { return model->findInput<float>(i); })) {
                *at = value;
                return Py_NewRef(Py_None);
            }
    return functionOf(self).dispatch(args, nargs, kwnames);
}

inline PyObject* modelGet(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    if (kwnames == nullptr && nargs == 3)
        if (Model* model = exactNativeOf<Model>(args[0]))
            if (const float* at = tensorElement(args[1], args[2], [&](size_t i) { return model->findOutput<float>(i); }))
                return PyFloat_FromDouble(*at);
    return functionOf(self).dispatch(args, nargs, kwnames);
}

// The entry of the model's method f, the C++ method it stands for; null for
// any other function.
template <class F>
Entry modelAccess(const F& f)
{
    if constexpr (std::is_same_v<F, decltype(&Model::run)>)
        return f == &Model::run ? modelRun : nullptr;
    else if constexpr (std::is_same_v<F, decltype(&Model::set<float>)>)
        return f == &Model::set<float> ? modelSet : nullptr;
    else if constexpr (std::is_same_v<F, decltype(&Model::get<float>)>)
        return f == &Model::get<float> ? modelGet : nullptr;
    else
        return nullptr;
}

} // namespace Nubra::Python::fast

#endif
