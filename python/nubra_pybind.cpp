// The nubracore module: registers the model class, the container classes
// of every scalar type, then the operations over every container kind
// (operations.h, compiled in operations.cpp).

#include <algorithm>
#include <sstream>

#include <boost/hana.hpp>
#include <pybind11/complex.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "dispatch.h"
#include "operations.h"
#include "operations/show.h"

namespace py = pybind11;
namespace hana = boost::hana;
using Nubra::Python::registerOperations;

namespace {

// Scalar types in registration order, with their class-name suffixes.
constexpr auto typeSet = hana::make_tuple(hana::make_pair(hana::type_c<float>, hana::string_c<'s'>),
                                          hana::make_pair(hana::type_c<double>, hana::string_c<'d'>),
                                          hana::make_pair(hana::type_c<std::complex<float>>, hana::string_c<'c'>),
                                          hana::make_pair(hana::type_c<std::complex<double>>, hana::string_c<'z'>));

constexpr auto operationsSet = hana::tuple_t<float, double, std::complex<float>, std::complex<double>>;

// --- model ------------------------------------------------------------------

void registerModel(py::module_& m)
{
    using Nubra::Onnx::Model;
    py::class_<Model>(m, "model")
        .def(py::init<const std::string&>())
        .def("run", &Model::run)
        .def("set", &Model::set<float>)
        .def("get", &Model::get<float>);
}

// --- containers ---------------------------------------------------------------

template <class C>
std::string repr(const C& self)
{
    std::stringstream output;
    Nubra::show(self, output);
    return output.str();
}

// The methods vectors and views share, after the vector's constructor.
template <class C>
void addVectorMethods(py::class_<C>& cls)
{
    using T = typename C::SampleType;
    cls.def("numel", &C::numel)
        .def("dim",
             [](const C& self, size_t idx) {
                 if (idx != 0)
                     throw std::runtime_error(Nubra::cat("dimension ", idx, " invalid for vector"));
                 return self.template dim<0>();
             })
        .def("__getitem__", [](const C& self, size_t idx) { return self[idx]; })
        .def("__getitem__",
             [](const C& self, const py::slice& slice) {
                 size_t start, stop, step, sliceLength;
                 if (!slice.compute(self.numel(), &start, &stop, &step, &sliceLength))
                     throw py::error_already_set();
                 if (step > 1)
                     throw std::runtime_error("stepsizes larger than 1 invalid for vector");
                 // A start past the stop selects nothing, as for a Python list.
                 return self[{start, std::max(start, stop)}];
             })
        .def("__setitem__", [](C& self, size_t idx, T value) { self[idx] = value; })
        .def("__repr__", repr<C>);
}

template <class T, class Postfix>
void registerContainers(py::module_& m, Postfix postfix)
{
    using Vector = Nubra::Vector<T>;
    using View = Nubra::VectorView<T>;
    using Matrix = Nubra::Matrix<T>;
    using Index = std::pair<size_t, size_t>;
    constexpr auto vecname = BOOST_HANA_STRING("vec") + Postfix{};
    constexpr auto vecviewname = BOOST_HANA_STRING("view") + Postfix{};
    constexpr auto matname = BOOST_HANA_STRING("mat") + Postfix{};

    py::class_<Vector> vector(m, vecname.c_str());
    vector.def(py::init<size_t>());
    addVectorMethods(vector);

    py::class_<View> view(m, vecviewname.c_str());
    addVectorMethods(view);

    py::class_<Matrix>(m, matname.c_str())
        .def(py::init<size_t, size_t>())
        .def("dim",
             [](const Matrix& self, size_t idx) {
                 if (idx > 1)
                     throw std::runtime_error(Nubra::cat("dimension ", idx, " invalid for matrix"));
                 return idx == 0 ? self.template dim<0>() : self.template dim<1>();
             })
        .def("numel", &Matrix::numel)
        .def("__getitem__", [](const Matrix& self, Index idx) { return self[idx]; })
        .def("__setitem__", [](Matrix& self, Index idx, T value) { self[idx] = value; })
        .def("__repr__", repr<Matrix>);
}

} // namespace

PYBIND11_MODULE(nubracore, m)
{
    registerModel(m);
    hana::for_each(typeSet, [&](auto pair) {
        registerContainers<typename decltype(+hana::first(pair))::type>(m, hana::second(pair));
    });
    hana::for_each(operationsSet, [&](auto type) { registerOperations<typename decltype(type)::type>(m); });
    Nubra::Python::installFastPaths(m, operationsSet);
}
