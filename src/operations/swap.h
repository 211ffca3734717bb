#pragma once

#include "blas.h"

namespace Nubra {

// Exchanges the elements of x with as many leading elements of y; a stretch
// exchanged with itself stays as it is.
template <class T, class S>
    requires SamplesOf<float, T, S>
void swap(T& x, S& y)
{
    const int n = coveredCount(x, y);
    if (!sameStretch(x, y))
        cblas_sswap(n, x.get(), 1, y.get(), 1);
}

template <class T, class S>
    requires SamplesOf<double, T, S>
void swap(T& x, S& y)
{
    const int n = coveredCount(x, y);
    if (!sameStretch(x, y))
        cblas_dswap(n, x.get(), 1, y.get(), 1);
}

template <class T, class S>
    requires SamplesOf<std::complex<float>, T, S>
void swap(T& x, S& y)
{
    const int n = coveredCount(x, y);
    if (!sameStretch(x, y))
        cblas_cswap(n, x.get(), 1, y.get(), 1);
}

template <class T, class S>
    requires SamplesOf<std::complex<double>, T, S>
void swap(T& x, S& y)
{
    const int n = coveredCount(x, y);
    if (!sameStretch(x, y))
        cblas_zswap(n, x.get(), 1, y.get(), 1);
}

} // namespace Nubra
