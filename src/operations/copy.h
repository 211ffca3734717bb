#pragma once

#include "blas.h"

namespace Nubra {

// y <- x over the elements of x; y must cover at least as many. Copying a
// stretch onto itself changes nothing.
template <class T, class S>
    requires SamplesOf<float, T, S>
S& copy(const T& x, S& y)
{
    const int n = coveredCount(x, y);
    if (!sameStretch(x, y))
        cblas_scopy(n, x.get(), 1, y.get(), 1);
    return y;
}

template <class T, class S>
    requires SamplesOf<double, T, S>
S& copy(const T& x, S& y)
{
    const int n = coveredCount(x, y);
    if (!sameStretch(x, y))
        cblas_dcopy(n, x.get(), 1, y.get(), 1);
    return y;
}

template <class T, class S>
    requires SamplesOf<std::complex<float>, T, S>
S& copy(const T& x, S& y)
{
    const int n = coveredCount(x, y);
    if (!sameStretch(x, y))
        cblas_ccopy(n, x.get(), 1, y.get(), 1);
    return y;
}

template <class T, class S>
    requires SamplesOf<std::complex<double>, T, S>
S& copy(const T& x, S& y)
{
    const int n = coveredCount(x, y);
    if (!sameStretch(x, y))
        cblas_zcopy(n, x.get(), 1, y.get(), 1);
    return y;
}

} // namespace Nubra
