#pragma once
// The module's scalar types in registration order, with their class-name
// suffixes, and its classes in registration order: the model, then the
// containers of each scalar type. Every list of types in the binding
// derives from these.

#include <complex>

#include <boost/hana.hpp>
#include <pybind11/pybind11.h>

#include "types/Matrix.h"
#include "types/Model.h"
#include "types/Vector.h"

namespace Nubra::Python {

constexpr auto typeSet = boost::hana::make_tuple(
    boost::hana::make_pair(boost::hana::type_c<float>, boost::hana::string_c<'s'>),
    boost::hana::make_pair(boost::hana::type_c<double>, boost::hana::string_c<'d'>),
    boost::hana::make_pair(boost::hana::type_c<std::complex<float>>, boost::hana::string_c<'c'>),
    boost::hana::make_pair(boost::hana::type_c<std::complex<double>>, boost::hana::string_c<'z'>));

constexpr auto operationsSet = boost::hana::transform(typeSet, boost::hana::first);

template <class T>
constexpr auto containerSet = boost::hana::tuple_t<Vector<T>, VectorView<T>, Matrix<T>>;

constexpr auto containerClasses = boost::hana::flatten(boost::hana::transform(
    operationsSet, [](auto scalar) { return containerSet<typename decltype(scalar)::type>; }));

constexpr auto classSet = boost::hana::prepend(containerClasses, boost::hana::type_c<Onnx::Model>);

// One of the module's classes.
template <class T>
concept ModuleClass = decltype(boost::hana::contains(classSet, boost::hana::type_c<T>))::value;

} // namespace Nubra::Python

// pybind11 takes the module's classes through the call layer's caster,
// defined in adapter.h and declared here with the classes: a source file
// that hands them to pybind11 without that definition in sight fails to
// compile, rather than taking pybind11's own caster for them.
namespace pybind11::detail {
template <Nubra::Python::ModuleClass T>
struct type_caster<T>;
} // namespace pybind11::detail
