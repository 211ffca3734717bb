#pragma once

#include "operations/blas.h"

namespace Nubra {

// y <- x over the elements of x; y must cover at least as many.
template <class T, class S>
    requires SamplesOf<float, T, S>
S& copy(const T& x, S& y)
{
    cblas_scopy(coveredCount(x, y), x.get(), 1, y.get(), 1);
    return y;
}

template <class T, class S>
    requires SamplesOf<double, T, S>
S& copy(const T& x, S& y)
{
    cblas_dcopy(coveredCount(x, y), x.get(), 1, y.get(), 1);
    return y;
}

template <class T, class S>
    requires SamplesOf<std::complex<float>, T, S>
S& copy(const T& x, S& y)
{
    cblas_ccopy(coveredCount(x, y), x.get(), 1, y.get(), 1);
    return y;
}

template <class T, class S>
    requires SamplesOf<std::complex<double>, T, S>
S& copy(const T& x, S& y)
{
    cblas_zcopy(coveredCount(x, y), x.get(), 1, y.get(), 1);
    return y;
}

} // namespace Nubra
