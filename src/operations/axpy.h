#pragma once

#include "operations/blas.h"

namespace Nubra {

// y <- a x + y over the elements of x; y must cover at least as many.
template <class T, class S>
    requires SamplesOf<float, T, S>
S& axpy(float a, const T& x, S& y)
{
    cblas_saxpy(coveredCount(x, y), a, x.get(), 1, y.get(), 1);
    return y;
}

template <class T, class S>
    requires SamplesOf<double, T, S>
S& axpy(double a, const T& x, S& y)
{
    cblas_daxpy(coveredCount(x, y), a, x.get(), 1, y.get(), 1);
    return y;
}

template <class T, class S>
    requires SamplesOf<std::complex<float>, T, S>
S& axpy(std::complex<float> a, const T& x, S& y)
{
    cblas_caxpy(coveredCount(x, y), &a, x.get(), 1, y.get(), 1);
    return y;
}

template <class T, class S>
    requires SamplesOf<std::complex<double>, T, S>
S& axpy(std::complex<double> a, const T& x, S& y)
{
    cblas_zaxpy(coveredCount(x, y), &a, x.get(), 1, y.get(), 1);
    return y;
}

} // namespace Nubra
