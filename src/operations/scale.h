#pragma once

#include "blas.h"

namespace Nubra {

// x <- a x over all elements of x.
template <class T>
    requires SamplesOf<float, T>
T& scale(float a, T& x)
{
    cblas_sscal(blasInt(x.numel()), a, x.get(), 1);
    return x;
}

template <class T>
    requires SamplesOf<double, T>
T& scale(double a, T& x)
{
    cblas_dscal(blasInt(x.numel()), a, x.get(), 1);
    return x;
}

template <class T>
    requires SamplesOf<std::complex<float>, T>
T& scale(const std::complex<float>& a, T& x)
{
    cblas_cscal(blasInt(x.numel()), &a, x.get(), 1);
    return x;
}

template <class T>
    requires SamplesOf<std::complex<double>, T>
T& scale(const std::complex<double>& a, T& x)
{
    cblas_zscal(blasInt(x.numel()), &a, x.get(), 1);
    return x;
}

} // namespace Nubra
