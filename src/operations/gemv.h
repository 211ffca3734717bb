#pragma once

#include "blas.h"

namespace Nubra {

// Shapes of y = aAx + by: x has A's column count, y its row count, and each
// covers that length (a matrix as x or y takes part with its first column).
// Then y, which the product writes, must share no element with x or A.
template <class T, class S, class R>
    requires TwoDimensional<T>
void validate_gemv(const T& A, const S& x, R& y)
{
    if (x.template dim<0>() != A.template dim<1>())
        fail("In gemv expression y = aAx + by, matrix A dimension 1: ", A.template dim<1>(),
             ", doesn't match vector x dimension 0: ", x.template dim<0>());
    if (A.template dim<0>() != y.template dim<0>())
        fail("In gemv expression y = aAx + by, matrix A dimension 0: ", A.template dim<0>(),
             ", doesn't match vector y dimension 0: ", y.template dim<0>());
    if (x.numel() < x.template dim<0>())
        fail("In gemv expression y = aAx + by, vector x has ", x.numel(), " elements, fewer than its dimension 0: ",
             x.template dim<0>());
    if (y.numel() < y.template dim<0>())
        fail("In gemv expression y = aAx + by, vector y has ", y.numel(), " elements, fewer than its dimension 0: ",
             y.template dim<0>());
    if (overlaps(y.get(), y.template dim<0>(), x.get(), x.template dim<0>()))
        fail("In gemv expression y = aAx + by, vector y overlaps vector x");
    if (overlaps(y.get(), y.template dim<0>(), A.get(), A.numel()))
        fail("In gemv expression y = aAx + by, vector y overlaps matrix A");
}

// y <- a A x + b y. With no columns in A, the product is empty and y <- b y.
template <class T, class S, class R>
    requires SamplesOf<float, T, S, R> && TwoDimensional<T>
R& gemv(float a, float b, const T& A, const S& x, R& y)
{
    validate_gemv(A, x, y);
    if (A.template dim<1>() == 0)
        cblas_sscal(blasInt(A.template dim<0>()), b, y.get(), 1);
    else
        cblas_sgemv(CblasColMajor, CblasNoTrans, blasInt(A.template dim<0>()), blasInt(A.template dim<1>()), a,
                    A.get(), leadingDim(A.template dim<0>()), x.get(), 1, b, y.get(), 1);
    return y;
}

template <class T, class S, class R>
    requires SamplesOf<double, T, S, R> && TwoDimensional<T>
R& gemv(double a, double b, const T& A, const S& x, R& y)
{
    validate_gemv(A, x, y);
    if (A.template dim<1>() == 0)
        cblas_dscal(blasInt(A.template dim<0>()), b, y.get(), 1);
    else
        cblas_dgemv(CblasColMajor, CblasNoTrans, blasInt(A.template dim<0>()), blasInt(A.template dim<1>()), a,
                    A.get(), leadingDim(A.template dim<0>()), x.get(), 1, b, y.get(), 1);
    return y;
}

template <class T, class S, class R>
    requires SamplesOf<std::complex<float>, T, S, R> && TwoDimensional<T>
R& gemv(const std::complex<float>& a, const std::complex<float>& b, const T& A, const S& x, R& y)
{
    validate_gemv(A, x, y);
    if (A.template dim<1>() == 0)
        cblas_cscal(blasInt(A.template dim<0>()), &b, y.get(), 1);
    else
        cblas_cgemv(CblasColMajor, CblasNoTrans, blasInt(A.template dim<0>()), blasInt(A.template dim<1>()), &a,
                    A.get(), leadingDim(A.template dim<0>()), x.get(), 1, &b, y.get(), 1);
    return y;
}

template <class T, class S, class R>
    requires SamplesOf<std::complex<double>, T, S, R> && TwoDimensional<T>
R& gemv(const std::complex<double>& a, const std::complex<double>& b, const T& A, const S& x, R& y)
{
    validate_gemv(A, x, y);
    if (A.template dim<1>() == 0)
        cblas_zscal(blasInt(A.template dim<0>()), &b, y.get(), 1);
    else
        cblas_zgemv(CblasColMajor, CblasNoTrans, blasInt(A.template dim<0>()), blasInt(A.template dim<1>()), &a,
                    A.get(), leadingDim(A.template dim<0>()), x.get(), 1, &b, y.get(), 1);
    return y;
}

} // namespace Nubra
