#pragma once

#include "blas.h"

namespace Nubra {

// y <- x + y over the elements of x; y must cover at least as many. A y
// whose stretch is x's own is doubled.
template <class T, class S>
    requires SamplesOf<float, T, S>
S& sum(const T& x, S& y)
{
    const int n = coveredCount(x, y);
    if (sameStretch(x, y))
        cblas_sscal(n, 2.0f, y.get(), 1);
    else
        cblas_saxpy(n, 1.0f, x.get(), 1, y.get(), 1);
    return y;
}

template <class T, class S>
    requires SamplesOf<double, T, S>
S& sum(const T& x, S& y)
{
    const int n = coveredCount(x, y);
    if (sameStretch(x, y))
        cblas_dscal(n, 2.0, y.get(), 1);
    else
        cblas_daxpy(n, 1.0, x.get(), 1, y.get(), 1);
    return y;
}

template <class T, class S>
    requires SamplesOf<std::complex<float>, T, S>
S& sum(const T& x, S& y)
{
    const int n = coveredCount(x, y);
    const std::complex<float> one = 1, two = 2;
    if (sameStretch(x, y))
        cblas_cscal(n, &two, y.get(), 1);
    else
        cblas_caxpy(n, &one, x.get(), 1, y.get(), 1);
    return y;
}

template <class T, class S>
    requires SamplesOf<std::complex<double>, T, S>
S& sum(const T& x, S& y)
{
    const int n = coveredCount(x, y);
    const std::complex<double> one = 1, two = 2;
    if (sameStretch(x, y))
        cblas_zscal(n, &two, y.get(), 1);
    else
        cblas_zaxpy(n, &one, x.get(), 1, y.get(), 1);
    return y;
}

} // namespace Nubra
