// The nubracore module: registers the model class, the container classes
// of every scalar type, then the operations over every container kind.

#include <algorithm>
#include <sstream>
#include <type_traits>

#include <boost/hana.hpp>
#include <pybind11/complex.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "operations/axpy.h"
#include "operations/copy.h"
#include "operations/dot.h"
#include "operations/gemm.h"
#include "operations/gemv.h"
#include "operations/ls.h"
#include "operations/matmul.h"
#include "operations/matvec.h"
#include "operations/scale.h"
#include "operations/show.h"
#include "operations/sum.h"
#include "operations/swap.h"
#include "types/Matrix.h"
#include "types/Model.h"
#include "types/Vector.h"

namespace py = pybind11;
namespace hana = boost::hana;

namespace {

// Scalar types in registration order, with their class-name suffixes.
constexpr auto typeSet = hana::make_tuple(hana::make_pair(hana::type_c<float>, hana::string_c<'s'>),
                                          hana::make_pair(hana::type_c<double>, hana::string_c<'d'>),
                                          hana::make_pair(hana::type_c<std::complex<float>>, hana::string_c<'c'>),
                                          hana::make_pair(hana::type_c<std::complex<double>>, hana::string_c<'z'>));

constexpr auto operationsSet = hana::tuple_t<float, double, std::complex<float>, std::complex<double>>;

template <class T>
constexpr auto containerSet = hana::tuple_t<Nubra::Vector<T>, Nubra::VectorView<T>, Nubra::Matrix<T>>;

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

// --- operations ---------------------------------------------------------------

// Every operation over every combination of container kinds of scalar type T.
// Operations that return their output return it by value: a new Python
// instance sharing the output's elements, never the argument object itself.
template <class T>
void registerOperations(py::module_& m)
{
    constexpr bool complex = !std::is_floating_point_v<T>;
    hana::for_each(containerSet<T>, [&](auto c0) {
        using T1 = typename decltype(c0)::type;
        constexpr bool matrix1 = Nubra::TwoDimensional<T1>;

        m.def("scale", [](T a, T1& x) { return Nubra::scale(a, x); }, "scale an object");
        hana::for_each(containerSet<T>, [&](auto c1) {
            using T2 = typename decltype(c1)::type;

            m.def("sum", [](const T1& x, T2& y) { return Nubra::sum(x, y); }, "add objects");
            m.def("dot", [](const T1& x, T2& y) { return Nubra::dot(x, y); }, "dot product");
            m.def("copy", [](const T1& x, T2& y) { return Nubra::copy(x, y); }, "copy an object into another");
            m.def("swap", [](T1& x, T2& y) { Nubra::swap(x, y); }, "swap objects into another");
            m.def("axpy", [](T a, const T1& x, T2& y) { return Nubra::axpy(a, x, y); }, "axpy objects");
            if constexpr (complex)
                m.def("hdot", [](const T1& x, T2& y) { return Nubra::hdot(x, y); }, "hermetian dot product");
            if constexpr (matrix1)
                m.def("ls", [](const T1& A, T2& b) { Nubra::ls(A, b); }, "ls");
            hana::for_each(containerSet<T>, [&](auto c2) {
                using T3 = typename decltype(c2)::type;
                constexpr bool mat_mat_mat = matrix1 && Nubra::TwoDimensional<T2> && Nubra::TwoDimensional<T3>;

                if constexpr (mat_mat_mat) {
                    m.def("gemm", [](T a, T b, const T1& A, const T2& X, T3& Y) { return Nubra::gemm(a, b, A, X, Y); },
                          "gemm");
                    m.def("matmul", [](const T1& A, const T2& X, T3& Y) { return Nubra::matmul(A, X, Y); }, "matmul");
                }
                if constexpr (matrix1) {
                    m.def("matvec", [](const T1& A, const T2& x, T3& y) { return Nubra::matvec(A, x, y); }, "matvec");
                    m.def("gemv", [](T a, T b, const T1& A, const T2& x, T3& y) { return Nubra::gemv(a, b, A, x, y); },
                          "gemv");
                }
            });
        });
    });
}

} // namespace

PYBIND11_MODULE(nubracore, m)
{
    registerModel(m);
    hana::for_each(typeSet, [&](auto pair) {
        registerContainers<typename decltype(+hana::first(pair))::type>(m, hana::second(pair));
    });
    hana::for_each(operationsSet, [&](auto type) { registerOperations<typename decltype(type)::type>(m); });
}
