#pragma once

#include "blas.h"

namespace Nubra {

// y <- a x + y over the elements of x; y must cover at least as many. A y
// whose stretch is x's own is scaled by 1 + a.
template <class T, class S>
    requires SamplesOf<float, T, S>
S& axpy(float a, const T& x, S& y)
{
    const int n = coveredCount(x, y);
    if (sameStretch(x, y))
        cblas_sscal(n, 1 + a, y.get(), 1);
    else
        cblas_saxpy(n, a, x.get(), 1, y.get(), 1);
    return y;
}

template <class T, class S>
    requires SamplesOf<double, T, S>
S& axpy(double a, const T& x, S& y)
{
    const int n = coveredCount(x, y);
    if (sameStretch(x, y))
        cblas_dscal(n, 1 + a, y.get(), 1);
    else
        cblas_daxpy(n, a, x.get(), 1, y.get(), 1);
    return y;
}

template <class T, class S>
    requires SamplesOf<std::complex<float>, T, S>
S& axpy(const std::complex<float>& a, const T& x, S& y)
{
    const int n = coveredCount(x, y);
    if (sameStretch(x, y)) {
        const std::complex<float> factor = 1.0f + a;
        cblas_cscal(n, &factor, y.get(), 1);
    } else
        cblas_caxpy(n, &a, x.get(), 1, y.get(), 1);
    return y;
}

template <class T, class S>
    requires SamplesOf<std::complex<double>, T, S>
S& axpy(const std::complex<double>& a, const T& x, S& y)
{
    const int n = coveredCount(x, y);
    if (sameStretch(x, y)) {
        const std::complex<double> factor = 1.0 + a;
        cblas_zscal(n, &factor, y.get(), 1);
    } else
        cblas_zaxpy(n, &a, x.get(), 1, y.get(), 1);
    return y;
}

} // namespace Nubra
