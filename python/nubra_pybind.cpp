// The nubracore module's registration frame: the model class, the
// container classes of every scalar type, then the operations over every
// container kind (operations.h, compiled in operations.cpp).

#include <algorithm>
#include <sstream>

#include <boost/hana.hpp>
#include <pybind11/complex.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "nubra_pybind.h"
#include "operations.h"
#include "operations/show.h"
#include "registration.h"
#include "scalars.h"

namespace py = pybind11;
namespace hana = boost::hana;
using Nubra::Python::def;
using Nubra::Python::registerOperations;
using Nubra::Python::typeSet;

namespace {

// --- model ------------------------------------------------------------------

void registerModel(py::module_& m)
{
    using Nubra::Onnx::Model;
    py::class_<Model> model(m, "model");
    def(model, py::init<const std::string&>());
    def(model, "run", &Model::run);
    def(model, "set", &Model::set<float>);
    def(model, "get", &Model::get<float>);
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
    def(cls, "numel", &C::numel);
    def(cls, "dim", [](const C& self, size_t idx) {
        if (idx != 0)
            throw std::runtime_error(Nubra::cat("dimension ", idx, " invalid for vector"));
        return self.template dim<0>();
    });
    def(cls, "__getitem__", [](const C& self, size_t idx) { return self[idx]; });
    def(cls, "__getitem__", [](const C& self, const py::slice& slice) {
        size_t start, stop, step, sliceLength;
        if (!slice.compute(self.numel(), &start, &stop, &step, &sliceLength))
            throw py::error_already_set();
        if (step > 1)
            throw std::runtime_error("stepsizes larger than 1 invalid for vector");
        // A start past the stop selects nothing, as for a Python list.
        return self[{start, std::max(start, stop)}];
    });
    def(cls, "__setitem__", [](C& self, size_t idx, T value) { self[idx] = value; });
    def(cls, "__repr__", repr<C>);
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
    def(vector, py::init<size_t>());
    addVectorMethods(vector);

    py::class_<View> view(m, vecviewname.c_str());
    addVectorMethods(view);

    py::class_<Matrix> matrix(m, matname.c_str());
    def(matrix, py::init<size_t, size_t>());
    def(matrix, "dim", [](const Matrix& self, size_t idx) {
        if (idx > 1)
            throw std::runtime_error(Nubra::cat("dimension ", idx, " invalid for matrix"));
        return idx == 0 ? self.template dim<0>() : self.template dim<1>();
    });
    def(matrix, "numel", &Matrix::numel);
    def(matrix, "__getitem__", [](const Matrix& self, Index idx) { return self[idx]; });
    def(matrix, "__setitem__", [](Matrix& self, Index idx, T value) { self[idx] = value; });
    def(matrix, "__repr__", repr<Matrix>);
}

} // namespace

void Nubra::Python::registerModule(py::module_& m)
{
    registerModel(m);
    hana::for_each(typeSet, [&](auto pair) {
        registerContainers<typename decltype(+hana::first(pair))::type>(m, hana::second(pair));
    });
    registerOperations(m);
}
