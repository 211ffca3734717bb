#pragma once
// Registration of the operations over every combination of container kinds
// of each scalar type, compiled in operations.cpp.

#include <complex>
#include <type_traits>

#include <boost/hana.hpp>
#include <pybind11/complex.h>
#include <pybind11/pybind11.h>

#include "registration.h"
#include "scalars.h"
#include "operations/axpy.h"
#include "operations/copy.h"
#include "operations/dot.h"
#include "operations/gemm.h"
#include "operations/gemv.h"
#include "operations/ls.h"
#include "operations/matmul.h"
#include "operations/matvec.h"
#include "operations/scale.h"
#include "operations/sum.h"
#include "operations/swap.h"

namespace Nubra::Python {

namespace hana = boost::hana;

// Every operation over every combination of container kinds of scalar type T.
// Operations that return their output return it by value: a new Python
// instance sharing the output's elements, never the argument object itself.
template <class T>
void registerOperationsOf(py::module_& m)
{
    constexpr bool complex = !std::is_floating_point_v<T>;
    using Scalar = std::conditional_t<complex, const T&, T>; // as the operations take it, complex by reference
    hana::for_each(containerSet<T>, [&](auto c0) {
        using T1 = typename decltype(c0)::type;
        constexpr bool matrix1 = TwoDimensional<T1>;

        def(m, "scale", [](Scalar a, T1& x) { return scale(a, x); }, "scale an object");
        hana::for_each(containerSet<T>, [&](auto c1) {
            using T2 = typename decltype(c1)::type;

            def(m, "sum", [](const T1& x, T2& y) { return sum(x, y); }, "add objects");
            def(m, "dot", [](const T1& x, T2& y) { return dot(x, y); }, "dot product");
            def(m, "copy", [](const T1& x, T2& y) { return copy(x, y); }, "copy an object into another");
            def(m, "swap", [](T1& x, T2& y) { swap(x, y); }, "swap objects into another");
            def(m, "axpy", [](Scalar a, const T1& x, T2& y) { return axpy(a, x, y); }, "axpy objects");
            if constexpr (complex)
                def(m, "hdot", [](const T1& x, T2& y) { return hdot(x, y); }, "hermetian dot product");
            if constexpr (matrix1)
                def(m, "ls", [](const T1& A, T2& b) { ls(A, b); }, "ls");
            hana::for_each(containerSet<T>, [&](auto c2) {
                using T3 = typename decltype(c2)::type;
                constexpr bool mat_mat_mat = matrix1 && TwoDimensional<T2> && TwoDimensional<T3>;

                if constexpr (mat_mat_mat) {
                    def(m, "gemm",
                        [](Scalar a, Scalar b, const T1& A, const T2& X, T3& Y) { return gemm(a, b, A, X, Y); },
                        "gemm");
                    def(m, "matmul", [](const T1& A, const T2& X, T3& Y) { return matmul(A, X, Y); }, "matmul");
                }
                if constexpr (matrix1) {
                    def(m, "matvec", [](const T1& A, const T2& x, T3& y) { return matvec(A, x, y); }, "matvec");
                    def(m, "gemv",
                        [](Scalar a, Scalar b, const T1& A, const T2& x, T3& y) { return gemv(a, b, A, x, y); },
                        "gemv");
                }
            });
        });
    });
}

// The operations of every scalar type, in the order of operationsSet.
void registerOperations(py::module_& m);

} // namespace Nubra::Python
