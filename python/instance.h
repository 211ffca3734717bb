#pragma once
// How arguments reach the native objects of the module's classes, and how
// results become instances.
//
// Built on pybind11 2.10.3's internals (any 2.x keeps them):
//   - detail::type_caster_generic: its `typeinfo` and `value` members;
//     type_caster_base's cast overloads;
//   - detail::instance: simple_layout, simple_value_holder (the value
//     pointer, then the holder), simple_holder_constructed;
//     get_value_and_holder, and value_and_holder's inst and
//     holder_constructed(); detail::type_info's type.

#include <memory>

#include <pybind11/pybind11.h>

#include "record.h"
#include "results.h"
#include "scalars.h"

namespace Nubra::Python {

namespace py = pybind11;
namespace pyd = pybind11::detail;

// Whether src, if it is an instance of type, holds a constructed native
// object. `cls.__new__(cls)` makes an instance with room for one but none
// in it, which pybind11 2.10 would hand over as raw memory.
inline bool constructed(py::handle src, const pyd::type_info* type)
{
    if (!PyObject_TypeCheck(src.ptr(), type->type))
        return true;
    const auto holder = reinterpret_cast<pyd::instance*>(src.ptr())->get_value_and_holder(type, false);
    return holder.inst != nullptr && holder.holder_constructed();
}

// The native object of an instance in the simple layout (one class, its
// holder inline), or null if it has none.
template <class T>
T* nativeOf(PyObject* self)
{
    const auto* instance = reinterpret_cast<pyd::instance*>(self);
    return instance->simple_holder_constructed ? static_cast<T*>(instance->simple_value_holder[0]) : nullptr;
}

// The caster of the module's classes. It loads only constructed instances,
// and never None (which pybind11 would pass as a null `self` to methods
// bound as member functions), and it looks its class up once rather than
// at every call. Where results.h makes its results, a result becomes a
// new instance there.
template <class T>
class InstanceCaster : public pyd::type_caster_generic {
public:
    static constexpr auto name = pyd::const_name<T>();
    template <class U>
    using cast_op_type = pyd::cast_op_type<U>;

    InstanceCaster() : pyd::type_caster_generic(registered()) {}

    bool load(py::handle src, bool convert)
    {
        if (Py_TYPE(src.ptr()) == classRecord<T>.simpleType)
            return (value = nativeOf<T>(src.ptr())) != nullptr;
        return typeinfo != nullptr && !src.is_none() && constructed(src, typeinfo)
               && pyd::type_caster_generic::load(src, convert);
    }

    operator T*() { return static_cast<T*>(value); }
    operator T&()
    {
        if (value == nullptr)
            throw py::reference_cast_error();
        return *static_cast<T*>(value);
    }

    static py::handle cast(const T& src, py::return_value_policy policy, py::handle parent)
    {
        return pyd::type_caster_base<T>::cast(src, policy, parent);
    }

    static py::handle cast(const T* src, py::return_value_policy policy, py::handle parent)
    {
        return pyd::type_caster_base<T>::cast(src, policy, parent);
    }

    static py::handle cast(T&& src, py::return_value_policy policy, py::handle parent)
    {
        if (classRecord<T>.registryFree)
            return makeResult(std::move(src));
        return pyd::type_caster_base<T>::cast(std::move(src), policy, parent);
    }

private:
    static const pyd::type_info* registered()
    {
        static const pyd::type_info* info = nullptr;
        if (info == nullptr)
            info = pyd::get_type_info(typeid(T));
        return info;
    }
};

} // namespace Nubra::Python

namespace pybind11::detail {
template <Nubra::Python::ModuleClass T>
struct type_caster<T> : Nubra::Python::InstanceCaster<T> {};
} // namespace pybind11::detail
