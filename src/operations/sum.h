#pragma once

#include "operations/blas.h"

namespace Nubra {

// y <- x + y over the elements of x; y must cover at least as many.
template <class T, class S>
    requires SamplesOf<float, T, S>
S& sum(const T& x, S& y)
{
    cblas_saxpy(coveredCount(x, y), 1.0f, x.get(), 1, y.get(), 1);
    return y;
}

template <class T, class S>
    requires SamplesOf<double, T, S>
S& sum(const T& x, S& y)
{
    cblas_daxpy(coveredCount(x, y), 1.0, x.get(), 1, y.get(), 1);
    return y;
}

template <class T, class S>
    requires SamplesOf<std::complex<float>, T, S>
S& sum(const T& x, S& y)
{
    const std::complex<float> one = 1;
    cblas_caxpy(coveredCount(x, y), &one, x.get(), 1, y.get(), 1);
    return y;
}

template <class T, class S>
    requires SamplesOf<std::complex<double>, T, S>
S& sum(const T& x, S& y)
{
    const std::complex<double> one = 1;
    cblas_zaxpy(coveredCount(x, y), &one, x.get(), 1, y.get(), 1);
    return y;
}

} // namespace Nubra
