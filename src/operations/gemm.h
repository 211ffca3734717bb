#pragma once

#include "blas.h"

namespace Nubra {

// Shapes of Y = aAX + bY: the output's rows, its columns, then the inner
// dimension. Then Y, which the product writes, must share no element with A
// or X.
template <class T, class S, class R>
    requires TwoDimensional<T> && TwoDimensional<S> && TwoDimensional<R>
void validate_gemm(const T& A, const S& X, R& Y)
{
    if (A.template dim<0>() != Y.template dim<0>())
        fail("In gemm expression Y = aAX + bY, matrix A dimension 0: ", A.template dim<0>(),
             ", doesn't match matrix Y dimension 0: ", Y.template dim<0>());
    if (X.template dim<1>() != Y.template dim<1>())
        fail("In gemm expression Y = aAX + bY, matrix X dimension 1: ", X.template dim<1>(),
             ", doesn't match matrix Y dimension 1: ", Y.template dim<1>());
    if (A.template dim<1>() != X.template dim<0>())
        fail("In gemm expression Y = aAX + bY, matrix A dimension 1: ", A.template dim<1>(),
             ", doesn't match matrix X dimension 0: ", X.template dim<0>());
    if (overlaps(Y.get(), Y.numel(), A.get(), A.numel()))
        fail("In gemm expression Y = aAX + bY, matrix Y overlaps matrix A");
    if (overlaps(Y.get(), Y.numel(), X.get(), X.numel()))
        fail("In gemm expression Y = aAX + bY, matrix Y overlaps matrix X");
}

// Y <- a A X + b Y.
template <class T, class S, class R>
    requires SamplesOf<float, T, S, R> && TwoDimensional<T> && TwoDimensional<S> && TwoDimensional<R>
R& gemm(float a, float b, const T& A, const S& X, R& Y)
{
    validate_gemm(A, X, Y);
    cblas_sgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, blasInt(A.template dim<0>()), blasInt(X.template dim<1>()),
                blasInt(A.template dim<1>()), a, A.get(), leadingDim(A.template dim<0>()), X.get(),
                leadingDim(X.template dim<0>()), b, Y.get(), leadingDim(Y.template dim<0>()));
    return Y;
}

template <class T, class S, class R>
    requires SamplesOf<double, T, S, R> && TwoDimensional<T> && TwoDimensional<S> && TwoDimensional<R>
R& gemm(double a, double b, const T& A, const S& X, R& Y)
{
    validate_gemm(A, X, Y);
    cblas_dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, blasInt(A.template dim<0>()), blasInt(X.template dim<1>()),
                blasInt(A.template dim<1>()), a, A.get(), leadingDim(A.template dim<0>()), X.get(),
                leadingDim(X.template dim<0>()), b, Y.get(), leadingDim(Y.template dim<0>()));
    return Y;
}

template <class T, class S, class R>
    requires SamplesOf<std::complex<float>, T, S, R> && TwoDimensional<T> && TwoDimensional<S> && TwoDimensional<R>
R& gemm(const std::complex<float>& a, const std::complex<float>& b, const T& A, const S& X, R& Y)
{
    validate_gemm(A, X, Y);
    cblas_cgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, blasInt(A.template dim<0>()), blasInt(X.template dim<1>()),
                blasInt(A.template dim<1>()), &a, A.get(), leadingDim(A.template dim<0>()), X.get(),
                leadingDim(X.template dim<0>()), &b, Y.get(), leadingDim(Y.template dim<0>()));
    return Y;
}

template <class T, class S, class R>
    requires SamplesOf<std::complex<double>, T, S, R> && TwoDimensional<T> && TwoDimensional<S> && TwoDimensional<R>
R& gemm(const std::complex<double>& a, const std::complex<double>& b, const T& A, const S& X, R& Y)
{
    validate_gemm(A, X, Y);
    cblas_zgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, blasInt(A.template dim<0>()), blasInt(X.template dim<1>()),
                blasInt(A.template dim<1>()), &a, A.get(), leadingDim(A.template dim<0>()), X.get(),
                leadingDim(X.template dim<0>()), &b, Y.get(), leadingDim(Y.template dim<0>()));
    return Y;
}

} // namespace Nubra
