#pragma once

#include "operations/blas.h"

namespace Nubra {

// Exchanges the elements of x with as many leading elements of y.
template <class T, class S>
    requires SamplesOf<float, T, S>
void swap(T& x, S& y)
{
    cblas_sswap(coveredCount(x, y), x.get(), 1, y.get(), 1);
}

template <class T, class S>
    requires SamplesOf<double, T, S>
void swap(T& x, S& y)
{
    cblas_dswap(coveredCount(x, y), x.get(), 1, y.get(), 1);
}

template <class T, class S>
    requires SamplesOf<std::complex<float>, T, S>
void swap(T& x, S& y)
{
    cblas_cswap(coveredCount(x, y), x.get(), 1, y.get(), 1);
}

template <class T, class S>
    requires SamplesOf<std::complex<double>, T, S>
void swap(T& x, S& y)
{
    cblas_zswap(coveredCount(x, y), x.get(), 1, y.get(), 1);
}

} // namespace Nubra
