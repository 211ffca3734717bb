#pragma once
// How calls reach the native objects of the module's classes. Built on
// pybind11 2.10.3's detail-level internals:
//   - detail::type_caster_base and its `typeinfo` member;
//   - detail::instance::get_value_and_holder and value_and_holder's
//     `inst` and holder_constructed().

#include <pybind11/pybind11.h>

#include "types/Matrix.h"
#include "types/Model.h"
#include "types/Vector.h"

static_assert(PYBIND11_VERSION_HEX == 0x020A0300, "python/dispatch.h is written against pybind11 2.10.3");

namespace Nubra::Python {

namespace py = pybind11;

// Whether src, if it is an instance of type, holds a constructed native
// object. `cls.__new__(cls)` makes an instance with room for one but none
// in it, which pybind11 2.10 would hand over as raw memory.
inline bool constructed(py::handle src, const py::detail::type_info* type)
{
    if (!PyObject_TypeCheck(src.ptr(), type->type))
        return true;
    const auto holder = reinterpret_cast<py::detail::instance*>(src.ptr())->get_value_and_holder(type, false);
    return holder.inst != nullptr && holder.holder_constructed();
}

// Loads only constructed instances; anything else fails to load like an
// argument of the wrong type.
template <class T>
struct ConstructedCaster : py::detail::type_caster_base<T> {
    bool load(py::handle src, bool convert)
    {
        return constructed(src, this->typeinfo) && py::detail::type_caster_base<T>::load(src, convert);
    }
};

} // namespace Nubra::Python

namespace pybind11::detail {
template <class T>
struct type_caster<Nubra::Vector<T>> : Nubra::Python::ConstructedCaster<Nubra::Vector<T>> {};
template <class T>
struct type_caster<Nubra::VectorView<T>> : Nubra::Python::ConstructedCaster<Nubra::VectorView<T>> {};
template <class T>
struct type_caster<Nubra::Matrix<T>> : Nubra::Python::ConstructedCaster<Nubra::Matrix<T>> {};
template <>
struct type_caster<Nubra::Onnx::Model> : Nubra::Python::ConstructedCaster<Nubra::Onnx::Model> {};
} // namespace pybind11::detail
